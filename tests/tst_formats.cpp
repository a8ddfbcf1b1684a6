// The codecs (code page 932, ISO-2022-JP, Base64 and encoded-words, header lines) and the
// stored formats: the memo mail, the configuration file and the member list.

#include "Autostart.h"
#include "Base64Mime.h"
#include "Cp932.h"
#include "FindText.h"
#include "HeaderLines.h"
#include "IniFile.h"
#include "JisConvert.h"
#include "MemberList.h"
#include "MemoMail.h"
#include "Messages.h"

#include <QtTest>

#include <array>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

using Rows = QList<MemberRow>;

namespace {

const auto Kanji = [](const QByteArray &hex) -> QByteArray {
    return "\x1b$B" + QByteArray::fromHex(hex) + "\x1b(B";
};
const QByteArray Kan = Kanji("3441"), Ji = Kanji("3b7a");

const auto Jis = [](const QString &text) { // SjisToJis, checked to be 7-bit
    const QByteArray jis = SjisToJis(text);
    return std::any_of(jis.begin(), jis.end(), [](char c) { return c & 0x80; }) ? "8-bit" : jis;
};

const QString Yamada = u"=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?="_s;
const QString Kana18 = u"アイウエオカキクケコサシスセソタチツ"_s;
const QString Kana18Word = // as another mailer encodes it
    u"=?ISO-2022-JP?B?GyRCJSIlJCUmJSglKiUrJS0lLyUxJTMlNSU3JTklOyU9JT8lQSVEGyhC?="_s;
const QString TeWord = u"=?ISO-2022-JP?B?GyRCJUYbKEI=?="_s;

const QDateTime When(QDate(2026, 12, 6), QTime(9, 30));
const MemoSender Sender{u"総務部"_s, u"user1"_s, u"host1"_s};

const auto Build = [](QChar kind, bool sealed, const QString &department, const QString &caller,
                      const QString &text, const QStringList &to = {"a@b"}) {
    return BuildMemoMail(kind, sealed, department, caller, text, to, Sender, When);
};

/// The POP3 server's RETR answer for a mail this program sent, as on the wire.
QByteArray RetrAnswer(const MemoValues &memo)
{
    QByteArray data = memo.MemoBody.toLatin1();
    data.insert(data.indexOf("\r\n\r\n") + 2,
                "Message-Id: <1@host1>\r\nDate: Sun, 6 Dec 2026 09:30:00 +0900\r\n");
    data = "Return-Path: <user1@host1>\r\n" + data + "\r\n\r\n";
    return "+OK 500 octets\r\n" + data.replace("\r\n.", "\r\n..") + ".\r\n";
}

QString Shown(const MemoValues &memo)
{
    const MemoView v = ViewOfMemo(memo);
    return QStringList{v.kind, v.sealed ? "sealed" : "open", v.time, v.department, v.caller, v.text}
        .join('|');
}

} // namespace

class TestFormats : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_path = m_dir.filePath(u"Tavrino.ini"_s);
    const QString m_list = m_dir.filePath(u"members.lst"_s);
    QByteArray read(const QString &path = {}) const
    {
        QFile f(path.isEmpty() ? m_path : path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void write(const QByteArray &content, const QString &path = {}) const
    {
        QFile f(path.isEmpty() ? m_path : path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) >= 0);
    }
    bool set(const QString &key, const QByteArray &value) const
    {
        return IniFile(m_path).SetIniParm(u"Tavrino"_s, key, value);
    }
    QString get(const QString &key) const { return IniFile(m_path).GetIniParm(u"Tavrino"_s, key); }

private Q_SLOTS:
    void cp932AndJisPairs()
    {
        // Input-method characters as on Windows, IBM row, beyond glibc, unrepresentable.
        const QList<std::array<uint, 3>> rows{
            {0x301C, 0x8160, 0xFF5E}, {0x2212, 0x817C, 0xFF0D}, {0x2016, 0x8161, 0x2225},
            {0xA2, 0x8191, 0xFFE0},   {0xAC, 0x81CA, 0xFFE2},   {0xA5, 0x5C, 0x5C},
            {0x203E, 0x7E, 0x7E},     {0x2170, 0xFA40, 0x2170}, {0xF8F0, 0xA0, 0xF8F0},
            {0xE9, 0x3F, 0x3F}}; // ordinary ones and surrogates: Encode below
        for (const auto &[unicode, code, back] : rows) {
            QCOMPARE(uint(Cp932::FromUnicode(char32_t(unicode))), code);
            QCOMPARE(uint(Cp932::ToUnicode(quint16(code))), back);
        }
        // Round trips as Windows' converter; each JIS X 0208 code has its own JIS
        // pair; each IBM extension character goes out as its duplicate and comes back.
        int defined = 0, ibm = 0;
        QSet<uint> pairs;
        for (uint code = 0x8100; code <= 0xFCFF; ++code) {
            const char16_t u = Cp932::ToUnicode(quint16(code));
            const quint16 back = Cp932::FromUnicode(u);
            if (u != 0x30FB || code == 0x8145) { // otherwise undefined
                ++defined;
                QVERIFY2(back > 0xFF && Cp932::ToUnicode(back) == u, QByteArray::number(code, 16));
            }
            if (code >= 0xFA40 && code <= 0xFC4B && u != 0x30FB) {
                const QByteArray jis = Jis(QChar(u));
                QVERIFY2(jis.size() == 8 && JisBytesToText(jis) == QChar(u), // one 7-bit pair
                         QByteArray::number(code, 16));
                ++ibm;
            }
            quint8 j1 = quint8(code >> 8), j2 = quint8(code);
            SjisPairToJis(j1, j2);
            const uint lead = code >> 8, trail = code & 0xFF;
            if ((lead > 0x9F && lead < 0xE0) || lead > 0xEF || trail < 0x40 || trail > 0xFC ||
                trail == 0x7F) {
                QCOMPARE(j1 | j2, 0); // single byte, user-defined, no trail
                continue;
            }
            QVERIFY2(j1 - 0x21u < 94 && j2 - 0x21u < 94 &&
                         JisBytesToText(Kanji(QByteArray::number(j1 << 8 | j2, 16))) == QChar(u),
                     QByteArray::number(code, 16));
            pairs.insert(j1 << 8 | j2);
        }
        QVERIFY(defined > 6879 + 1880); // JIS X 0208 and the user-defined area
        QCOMPARE(pairs.size(), 94 * 94);
        QCOMPARE(ibm, 388);
        QCOMPARE(Cp932::Decode(Cp932::Encode(u"Aあｱ"_s)), u"Aあｱ"_s);
        QCOMPARE(Cp932::Encode(u"Aあｱa😀😀b\xD800x\xD83D"_s), "A\x82\xa0\xb1"
                                                            "a??b?x?");
        QCOMPARE(Cp932::Decode(QByteArray::fromHex("85404182")), u"\u30FBA\u30FB"_s);
    }

    void widenKana()
    {
        QCOMPARE(WidenKana(u"ｶﾞｷﾞﾊﾟｱﾞｳﾞﾎﾟ"_s), u"ガギパア゛ヴポ"_s);
        QCOMPARE(WidenKana(u"ﾞｶﾟﾞﾞ"_s), u"\u309Bカ\u309C\u309B\u309B"_s);
        QCOMPARE(WidenKana(u"A漢\r\n😀ｶﾞﾞ"_s), u"A漢\r\n😀ガ\u309B"_s);
        // Narrow decomposition is the JIS X 0201 -> 0208 map, marks made spacing.
        for (char16_t c = 0xFF61; c <= 0xFF9F; ++c) {
            const QString expected = c == 0xFF9E   ? u"\u309B"_s
                                     : c == 0xFF9F ? u"\u309C"_s
                                                   : QChar(c).decomposition();
            QString inPlace(QChar{c});
            QCOMPARE(WidenKana(inPlace), expected);
            QVERIFY(CheckNonAscii(inPlace));
            QCOMPARE(inPlace, expected);
        }
    }

    void checkNonAscii_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("nonAscii");
        QTest::addColumn<QString>("output");
        QTest::newRow("ASCII") << "abc" << false << "abc";
        QTest::newRow("kana") << "ｶﾞ" << true << "カ゛";
        QTest::newRow("single bytes masked") << "\u0080漢\uF8F0\uF8F3" << true << ".漢..";
        QTest::newRow("not in the code page") << "é😀¥" << false << "é😀¥";
    }
    void checkNonAscii()
    {
        QFETCH(QString, input);
        const QString shared(input.constData(), input.size()); // heap data, shared below
        QString text = shared;
        QTEST(CheckNonAscii(text), "nonAscii");
        QTEST(text, "output");
        QCOMPARE(shared, input); // not written through
    }

    void jis()
    {
        QCOMPARE(QByteArrayList({Jis(u"abc\r\n"_s), Jis(u"A漢\r\n字B"_s), Jis(u"〜−‖¢£¬¥‾"_s),
                                 Jis(u"漢😀字"_s), Jis(u"\x1b$B4A\x0e\x0f"_s + QChar(0)),
                                 Jis(u"漢ｱ字"_s), Jis(u"\uE000ⅰ纊"_s)}), // user-defined, IBM
                 QByteArrayList({"abc\r\n", "A" + Kan + "\r\n" + Ji + "B",
                                 Kanji("2141215d214221712172224c") + "\\~", Kan + "?" + Ji,
                                 "?$B4A???", Kan + "." + Ji, "?" + Kanji("7c717921")}));
        const auto d = [](const QByteArray &b) { return JisBytesToText(b); };
        const auto k = [](const QByteArray &b) { return JisBytesToText(b, FinalByte::Keep); };
        QCOMPARE(QStringList({d("ABC"), d("ABC\r\n"), d(Kanji("24220d0a2424")), d("A"), d("\xB1"),
                              d("\x1b$B4A\x1b(JAB\r\n"), d("A\x1b$B"), d("\x8a\xbf\r\n"),
                              d(Kanji("ffff8080")), k("ABC"), k("AB\x8a"), k(Kan)}),
                 QStringList({u"AB"_s, u"ABC\r"_s, u"あ\r\nい"_s, QString(), u"ｱ"_s, u"漢AB\r"_s,
                              u"A"_s, u"漢\r"_s, u"\u30FB\u30FB"_s, u"ABC"_s, u"AB"_s, u"漢"_s}));
        const QString text = u"件名 12/06 09:30\r\n営業部①㈱→■かなカナ"_s;
        QCOMPARE(JisBytesToText(SjisToJis(text)), text);
        QCOMPARE(JisBytesToText(SjisToJis(u"〜−‖¢£¬"_s)), u"～－∥￠￡￢"_s); // as Windows decodes
        QCOMPARE(JisToText(QByteArray("ABC\r\n")), u"ABC\r"_s);              // the body's rule
        QCOMPARE(UnsendableCharacters(u"a😀b髙é😀"_s), u"😀é"_s);
        QCOMPARE(UnsendableCharacters(u"?\x1b\uE000ｱ\xD800x\xD800"_s), u"\uE000\xD800"_s);
    }

    void base64()
    {
        QByteArray bytes; // every byte value, every padding, no line breaks
        for (int i = 0; i < 300; ++i, bytes += char(i * 7))
            QCOMPARE(Base64Encode(bytes), QString::fromLatin1(bytes.toBase64()));
        QCOMPARE(EncodeHeaderText(Kana18 + u"テ"_s),
                 QString(u' ' + Kana18Word + u' ' + TeWord + u' '));
        QCOMPARE(EncodeHeaderText(u"山田 A山田"_s),
                 QString(u' ' + Yamada + u"  A "_s + Yamada + u' '));
        QCOMPARE(EncodeHeaderText(u"a😀¥\x1b$B"_s), u"a?\\?$B"_s); // plain ASCII
        // Runs longer than 18 characters are split into words of at most 74.
        const QString kana = Kana18 + Kana18 + Kana18;
        for (int length : {17, 18, 19, 36, 37}) {
            const QString encoded = EncodeHeaderText(kana.left(length));
            const QStringList words = encoded.split(u' ', Qt::SkipEmptyParts);
            QCOMPARE(words.size(), (length + 17) / 18);
            QCOMPARE(encoded, QString(u' ' + words.join(u' ') + u' '));
            for (const QString &w : words)
                QVERIFY2(w.size() <= 74, qPrintable(w));
        }
        const auto b = Base64JisDecode; // a foreign word ending in ASCII keeps its last character
        QCOMPARE(QStringList({b(Kana18Word.mid(16, 56)), b(u"QUJD"_s), b(u"QUI="_s), b(u"ir8="_s),
                              b(u"sQ=="_s), b(u"GyRC\r\nOzNF RBso\tQg"_s), b(u"QUJD=QUJD"_s),
                              b(u"!*?~ é漢Q"_s)}),
                 QStringList(
                     {Kana18, u"ABC"_s, u"AB"_s, u"漢"_s, u"ｱ"_s, u"山田"_s, u"ABC"_s, QString()}));
        const auto h = DecodeHeaderText;
        QCOMPARE(QStringList({h(u"=?iso-2022-jp?b?GyRCOzNFRBsoQg==?= 様"_s),
                              h("Re: " + Yamada + " " + Yamada + "(2)"),
                              h(Yamada + " =?iso-2022-jp?B?QUJD"), h(u"a=?ISO-2022-JP?B?\?=b"_s)}),
                 QStringList({u"山田 様"_s, u"Re: 山田 山田(2)"_s, u"山田 =?iso-2022-jp?B?QUJD"_s,
                              u"ab"_s}));
        for (const char *kept : {"=?UTF-8?B?5bGx55Sw?=", "=?ISO-2022-JP?Q?=1B$B;3ED=1B(B?=",
                                 "=?ISO-2022-JP?B", "Tanaka <tanaka@example.jp>"})
            QCOMPARE(h(QString::fromLatin1(kept)), QString::fromLatin1(kept));
    }

    void foldValueAndAddress()
    {
        const QString l75(75, 'a'), w40(40, 'a'), w35(35, 'b'), x90(90, 'x');
        const QString word = "=?ISO-2022-JP?B?" + QString(56, 'Q') + "?="; // 74 characters
        QCOMPARE(FoldHeaderLines(l75 + "\r\n"), l75 + "\r\n");
        QCOMPARE(FoldHeaderLines(w40 + " " + w35 + "\r\n"), w40 + "\r\n " + w35 + "\r\n");
        QCOMPARE(FoldHeaderLines(word + " " + word + "\r\n"), word + "\r\n " + word + "\r\n");
        QCOMPARE(FoldHeaderLines("A: " + x90 + "\r\n"), "A:\r\n " + x90 + "\r\n"); // never split
        QCOMPARE(FoldHeaderLines("a  b\r\nc\r\n"), u"a  b\r\nc\r\n"_s);
        const auto lines = ScanHeaderLines("Subject: A\r\n B\r\nsubject:x\r");
        QCOMPARE(HeaderFieldValue(lines.value(0)) + '|' + HeaderFieldValue(lines.value(1)),
                 u" A   B|x"_s);
    }

    void scan_data()
    {
        QTest::addColumn<QString>("block");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("lines");
        // clang-format off
        QTest::newRow("folded") << "Subject: A\r\n B\r\nFrom: x\r" << QStringList{"SUBJECT", "FROM"} << QStringList{"Subject: A   B\r", "From: x\r"};
        QTest::newRow("colon in continuation") << "Subject: A\r\n at 12:30\r\nTo: y\r" << QStringList{"SUBJECT", " AT 12", "TO"} << QStringList{"Subject: A\r", " at 12:30\r", "To: y\r"};
        // The last line of a block is never joined; a status line matches nothing.
        QTest::newRow("status and last line") << "+OK 12 octets\r\nDate: d\r\n end" << QStringList{"+OK 12 OCTETS\r", "DATE", ""} << QStringList{"+OK 12 octets\r", "Date: d\r", " end"};
        QTest::newRow("empty") << QString() << QStringList() << QStringList();
        // clang-format on
        // Joining must not start over for every continuation line.
        const QString block = u"Subject: a"_s + u"\r\n w"_s.repeated(1'000'000);
        const QString joined = u"Subject: a"_s + u"   w"_s.repeated(1'000'000);
        QTest::newRow("long fold") << block + "\r\nTo: y\r" << QStringList{"SUBJECT", "TO"}
                                   << QStringList{joined + "\r", "To: y\r"};
    }
    void scan()
    {
        QFETCH(QString, block);
        QStringList names, lines;
        for (const HeaderLine &line : ScanHeaderLines(block))
            names << line.name, lines << line.line;
        QTEST(names, "names");
        QTEST(lines, "lines");
    }
    void builtAndReadBack()
    {
        const MemoValues memo =
            Build('0', false, u"営業部"_s, u"担当者"_s, u"折り返しお願いします。\r\n内線123まで"_s,
                  {u"user2@host1"_s, u"user3@host1"_s});
        QCOMPARE(
            memo.MemoBody.toLatin1(),
            "Subject:0    12/06 09:30 =?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?=" + QByteArray(16, ' ') +
                "\r\n   =?ISO-2022-JP?B?GyRCQzRFdjxUGyhC?=" + QByteArray(18, ' ') +
                "\r\nFrom:=?ISO-2022-JP?B?GyRCQW1MM0l0GyhC?= <user1@host1>\r\n"
                "To:user2@host1,user3@host1\r\n"
                "Content-Type: text/plain; charset=iso-2022-jp\r\n\r\n"
                "\x1b$B@^$jJV$7$*4j$$$7$^$9!#\x1b(B\r\n\x1b$BFb@~\x1b(B123\x1b$B$^$G\x1b(B");

        const ReadMail read = ParseRetrAnswer(RetrAnswer(memo));
        QCOMPARE(read.memo.MemoFromName + '|' + read.memo.MemoFromAddress + '|' +
                     read.memo.MemoMessageId + '|' + read.memo.MemoDate,
                 u"総務部|user1@host1| <1@host1>| Sun, 6 Dec 2026 09:30:00 +0900"_s);
        QCOMPARE(Shown(read.memo),
                 u"0|open|12/06 09:30|営業部|担当者|折り返しお願いします。\r\n内線123まで\r\n"_s);
        QCOMPARE(read.row.From, u"総務部 <user1@host1>"_s);
        const MemoValues ascii = Build('*', true, "ACME", "Bob", "call me");
        QVERIFY(ascii.MemoHeader.endsWith("Content-Type: text/plain; charset=us-ascii\r\n\r\n"));
        QVERIFY(ascii.MemoBody.endsWith("\r\n\r\ncall me"));
        QVERIFY(ascii.MemoSubject.startsWith("*1   12/06 09:30ACME"));
        // Fields are cut to 20 characters; 19 kana need two encoded-words.
        const MemoValues cut = Build('3', false, QString(19, QChar(0x3042)), QString(25, 'x'), "");
        QCOMPARE(cut.MemoSubject.size(), 56);
        const QString subject = ParseRetrAnswer(RetrAnswer(cut)).memo.MemoSubject;
        const QRegularExpression split(QString(18, QChar(0x3042)) + " +" + QChar(0x3042) + " ");
        QVERIFY2(subject.contains(split), qPrintable(subject));
        // Dot lines come back as typed; kana widened one for one, not combined.
        const MemoValues dots = Build('2', true, u"ｶﾞｽ"_s, "", ".xyz\r\n.\r\n..ｶﾞｽ");
        QCOMPARE(Shown(ParseRetrAnswer(RetrAnswer(dots)).memo),
                 u"2|sealed|12/06 09:30|カ゛ス||.xyz\r\n.\r\n..ガス\r\n"_s);
    }

    // Whatever a mail's shape, what is kept of it is bounded: a header block past
    // 256 KiB is no memo, a body is shown up to 64 KiB or 2,000 lines and a note.
    void anyShape_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("shown"); // the viewer's text, the note's size as "N"
        const QByteArray memo = "+OK\r\nSubject:0    12/06 09:30ACME\r\n", end = "\r\n.\r\n";
        const QString record = u"0    12/06 09:30ACME"_s;
        const QString note = u"\r\n（ここから先は表示していません。メールの大きさ: N バイト）"_s;
        QByteArray lines; // 64 bytes a line: 1,024 of them fill the bound
        for (int i = 0; i < 40'000; ++i)
            lines += QByteArray::number(100000 + i) + QByteArray(56, 'x') + "\r\n";
        const QByteArray shortLines = QByteArray("l\r\n").repeated(2000);
        // clang-format off
        QTest::newRow("2.5 MB of lines") << memo + "\r\n" + lines + end << record << QString::fromLatin1(lines.left(1024 * 64 - 2)) + note;
        QTest::newRow("2.5 MB of header lines, no blank line") << memo + lines.replace("x\r\n", "x:\r\n") + end << QString() << QString();
        QTest::newRow("one header folded 300,000 times") << memo.chopped(2) + QByteArray("\r\n w").repeated(300'000) + "\r\n\r\ntext\r\n" + end << QString() << QString();
        QTest::newRow("a single line of 3 MB") << memo + "\r\n" + QByteArray(3 << 20, 'a') + end << record << QString(64 * 1024, u'a') + note;
        QTest::newRow("2,000 lines: whole") << memo + "\r\n" + shortLines + end << record << QString::fromLatin1(shortLines);
        QTest::newRow("2,001 lines") << memo + "\r\n" + shortLines + "m" + end << record << QString::fromLatin1(shortLines.chopped(2)) + note;
        // clang-format on
    }
    void anyShape()
    {
        QFETCH(QByteArray, answer);
        const ReadMail read = ParseRetrAnswer(answer);
        QTEST(read.memo.MemoSubject, "subject");
        QFETCH(QString, shown);
        shown.replace(u" N "_s, u' ' + QLocale(QLocale::English).toString(answer.size()) + u' ');
        QCOMPARE(ViewOfMemo(read.memo).text, shown);
        QVERIFY(read.memo.MemoBody.size() <= 64 * 1024);
    }

    void fieldsTrimOnlySpaces_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("ideographic spaces") << u"\u3000営業部\u3000"_s << u"\u3000営業部\u3000"_s;
        QTest::newRow("tab and no-break space") << u"\t営業部\u00A0"_s << u"\t営業部\u00A0"_s;
        QTest::newRow("spaces") << u"  営業部 "_s << u"営業部"_s;
    }
    void fieldsTrimOnlySpaces()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        const MemoValues memo =
            BuildMemoMail('0', false, typed, typed, "", {"a@b"}, {typed, "user1", "host1"}, When);
        QCOMPARE(memo.MemoSubject,
                 "0    12/06 09:30" + kept.leftJustified(20) + kept.leftJustified(20));
        QCOMPARE(memo.MemoFromName, kept);
    }

    void injectionIsImpossible()
    {
        const MemoValues memo = BuildMemoMail(
            '0', false, "A\r\nBcc: x@y", "C\rD\x1b$B", "line1\nline2\rline3\x0e",
            {"a@b\r\nRCPT TO:<z@z>", "c@d"}, {"N\"ame\r\nX-Evil: 1", "user1", "host1"}, When);
        const QByteArray wire = memo.MemoBody.toLatin1();
        const QByteArray header = wire.left(wire.indexOf("\r\n\r\n") + 2);
        for (const char *forged : {"\r\nBcc", "\r\nX-Evil", "\r\nRCPT", "\x1b"})
            QVERIFY2(!header.contains(forged), header.constData());
        QVERIFY(header.contains("From:\"N\\\"ame X-Evil: 1\" <user1@host1>"));
        QCOMPARE(memo.MemoTo, u"a@bRCPT TO:<z@z>,c@d"_s);
        QCOMPARE(wire.mid(wire.indexOf("\r\n\r\n") + 4), QByteArray("line1\r\nline2\r\nline3?"));
        QCOMPARE(wire.count('\r') + wire.count('\n'), 2 * wire.count("\r\n"));
    }

    void sender_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QString>("read"); // name|address|whether a reply can go there
        const auto row = [](const char *name, const QByteArray &from, const QString &read) {
            QTest::newRow(name) << from << read;
        };
        const QByteArray kana18 = Kana18Word.toLatin1(), te = TeWord.toLatin1();
        // clang-format off
        // A desk of the original design pads each word with a space on either side.
        row("old desk, a space, folded", "\" =?ISO-2022-JP?B?GyRCMUQ2SBsoQg==?=  \r\n =?ISO-2022-JP?B?GyRCQkBPOhsoQg==?= \" <user1@host1>", "営業 太郎|user1@host1|1");
        row("old desk, spaces and digits", "\" =?ISO-2022-JP?B?GyRCQW1MM0l0ISE6NEYjGyhC?=  \r\n =?ISO-2022-JP?B?GyRCMlY7UiFKRmJAfhsoQg==?=  4521\r\n =?ISO-2022-JP?B?GyRCIUsbKEI=?= \" <a@b>", "総務部　佐藤 花子（内線 4521）|a@b|1");
        row("old desk, no space, two words", "\" " + kana18 + " " + te + " \" <a@b>", Kana18 + "テ|a@b|1");
        row("old desk and this one, ASCII", "\"Sales \\\"East\\\" Team\" <a@b>", "Sales \"East\" Team|a@b|1");
        // Python's email, default policy.
        row("standard, a space", " =?utf-8?b?5Za25qWtIOWkqumDjg==?= <user1@host1>", "営業 太郎|user1@host1|1");
        row("standard, no space", " =?utf-8?b?5Za25qWt5aSq6YOO?= <user1@host1>", "営業太郎|user1@host1|1");
        row("standard, two words", " =?utf-8?b?57eP5YuZ6YOo44CA5L2Q6JekIOiKseWtkO+8iOWGhee3miA0NTIx77yJ44Go?=\r\n =?utf-8?b?44Gm44KC6ZW344GE5ZCN5YmN44Gu5Lq644Gn44GZ?= <user1@host1>", "総務部　佐藤 花子（内線 4521）とても長い名前の人です|user1@host1|1");
        row("standard, ASCII", " Sato Taro <user1@host1>", "Sato Taro|user1@host1|1");
        row("Q, unknown charset", "=?ISO-2022-JP?Q?=1B$B;3ED=1B(B?= =?X-NONE?B?QQ==?= <a@b>", "山田 =?X-NONE?B?QQ==?=|a@b|1");
        // The address is the last <...> outside quotes.
        row("markup and commas quoted", " \"<h1 style='color:red'>x</h1>, \\\"y\\\"\" <evil@example.com>", "<h1 style='color:red'>x</h1>, \"y\"|evil@example.com|1");
        row("two addresses", "A <a@b>, <c@d>", "A <a@b>,|c@d|1");
        row("bare address", "user1@host1", "user1@host1|user1@host1|1");
        row("no address", "\"A\" <not an address>", "A|not an address|0");
        row("unended address", "A <user1@host1", "A <user1@host1||0");
        row("bare LF in the address", "A <a@b\nRCPT TO:<x@y>>", "A <a@bRCPT TO:|x@y|1");
        row("NUL and LF in a quoted name", QByteArray("\"B\0\nC\" <a@b>", 12), "BC|a@b|1");
        row("CR LF in an encoded name", "=?ISO-2022-JP?B?" + QByteArray("D\r\nE").toBase64() + "?= <a@b>", "DE|a@b|1");
        // clang-format on
    }
    void sender()
    {
        QFETCH(QByteArray, from);
        const ReadMail r = ParseRetrAnswer("+OK\r\nFrom:" + from + "\r\nTo:a@b\r\n\r\nx\r\n.\r\n");
        const QString address = r.memo.MemoFromAddress;
        QTEST(QString(r.memo.MemoFromName + '|' + address + '|' +
                      QString::number(IsUsableAddress(address))),
              "read");
    }

    void namesTravel_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("wire"); // each as Python's email reads it: the name as typed
        // clang-format off
        QTest::newRow("a space") << u"営業 太郎"_s << QByteArray("From:=?ISO-2022-JP?B?GyRCMUQ2SBsoQiAbJEJCQE86GyhC?= <user1@host1>");
        QTest::newRow("no space") << u"営業太郎"_s << QByteArray("From:=?ISO-2022-JP?B?GyRCMUQ2SEJATzobKEI=?= <user1@host1>");
        QTest::newRow("two words, ASCII last in the first") << u"総務部　佐藤 花子（内線 4521）"_s
            << QByteArray("From:=?ISO-2022-JP?B?GyRCQW1MM0l0ISE6NEYjGyhCIBskQjJWO1IhSkZiQH4bKEIgNDUyGyhC?==?ISO-2022-JP?B?MRskQiFLGyhC?=\r\n <user1@host1>");
        // clang-format on
    }
    void namesTravel()
    {
        QFETCH(QString, typed);
        const MemoValues memo =
            BuildMemoMail('0', false, "", "", "", {"a@b"}, {typed, "user1", "host1"}, When);
        const QByteArray header = memo.MemoHeader.toLatin1();
        const qsizetype from = header.indexOf("From:");
        QByteArray line = header.mid(from, header.indexOf("\r\nTo:") - from);
        QTEST(line, "wire");
        QCOMPARE(ReadMemoMail(RetrAnswer(memo)).MemoFromName, typed);
        // A desk of the original design joins the fold with two spaces, keeps the text
        // between words, and decodes each with one byte more than its padding holds,
        // then drops a single last byte.
        QString name = TrimSpaces(
                    QString::fromLatin1(line.replace("\r\n", "  ").mid(5)).section(u'<', 0, 0)),
                shown;
        for (qsizetype at; (at = name.indexOf(u"=?ISO-2022-JP?B?")) >= 0;) {
            const qsizetype end = name.indexOf(u"?=", at + 16);
            QByteArray bytes = QByteArray::fromBase64(name.mid(at + 16, end - at - 16).toLatin1());
            if (name.at(end - 1) == u'=')
                bytes += '\0';
            shown += name.left(at) + JisBytesToText(bytes, FinalByte::Drop);
            name = name.mid(end + 2);
        }
        QCOMPARE(shown + name, typed);
    }

    void keys_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<bool>("same");
        const auto row = [](const char *name, const QByteArray &a, const QByteArray &b, bool same) {
            QTest::newRow(name) << "+OK\r\n" + a + "\r\n.\r\n"
                                << "+OK 9 octets\r\n" + b + "\r\n.\r\n"
                                << same;
        };
        const QByteArray id = "Message-ID: <m@x>\r\n\r\n";
        const QByteArray folded = "Message-ID:\r\n <f@x>\r\nTo: y\r\n\r\n";
        row("one Message-ID, other texts", id + "one", id + "two", false);
        row("folded Message-ID, other texts", folded + "1", folded + "2", false);
        row("no Message-ID, other texts", "Subject:x\r\n\r\n1", "Subject:x\r\n\r\n2", false);
        row("dot lines, other texts", id + "..a", id + "..b", false);
        row("texts differing in their last byte", id + QByteArray(40, 'a') + "1",
            id + QByteArray(40, 'a') + "2", false);
        row("one message", id + "..a", id + "..a", true);
    }
    void keys()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        const ReadMail a = ParseRetrAnswer(first), b = ParseRetrAnswer(second);
        QTEST(a.row.Key == b.row.Key, "same"); // the key's agreement everywhere: fuzz_retr
    }

    void findText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("needle");
        QTest::addColumn<int>("from");
        // clang-format off
        QTest::newRow("terminator at the end") << QByteArray("+OK\r\nA\r\n.\r\n") << QByteArray("\r\n.\r\n") << 0;
        QTest::newRow("false starts before it") << QByteArray("a\r\r\n.\rx\r\n.\r\n") << QByteArray("\r\n.\r\n") << 0;
        QTest::newRow("cut by the end") << QByteArray("a\r\n.\r") << QByteArray("\r\n.\r\n") << 0;
        QTest::newRow("from past a match") << QByteArray("\r\n..a\r\n..") << QByteArray("\r\n..") << 1;
        QTest::newRow("from at the end") << QByteArray("ab\r\n") << QByteArray("\r\n") << 4;
        QTest::newRow("from beyond the end") << QByteArray("ab") << QByteArray("\r\n") << 9;
        // clang-format on
    }
    void findText()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, needle);
        QFETCH(int, from);
        QCOMPARE(FindText(text, needle, from), text.indexOf(needle, from));
    }

    void readRulesAndTwips()
    {
        QCOMPARE(get(u"A"_s), QString()); // no file
        const QList<std::tuple<QByteArray, QString, QString>> rows{
            {"[tavrino]\r\nuserid=user1\r\n", "UserID", "user1"},
            {"[Tavrino]\r\n  UserID =  user1 \t\r\n", "UserID", "user1"},
            {"[Tavrino]\r\nUserID=user1\r\n", "Domain", ""},
            {"[Other]\r\nUserID=x\r\n[Tavrino]\r\n", "UserID", ""},
            {"[Tavrino]\nA=1\nA=2\n", "A", "1"},
            {"[Tavrino]\r\nList=" + QByteArray(300, 'x') + "\r\n", "List", QString(254, 'x')},
            {"[Tavrino]\r\nN=" + Cp932::Encode(u"総務部"_s), "N", "総務部"},
            {"[Tavrino]\r\nN=" + u"総"_s.repeated(100).toUtf8(), "N", u"総"_s.repeated(84)},
            {"[Tavrino]\r\nN=" + Cp932::Encode(u"ﾃｽﾄ"_s), "N", "ﾃｽﾄ"}, // starts as valid UTF-8
        };
        for (const auto &[content, key, expected] : rows) {
            write(content);
            QCOMPARE(get(key), expected);
        }
        const QList<std::pair<QString, int>> forms{
            {" 1200", 1200}, {"1200", 1200}, {"", 0},         {"-300", -300}, {"2.5", 2},
            {"3.5", 4},      {"12ab", 12},   {"1.5E3", 1500}, {"abc", 0},     {"99999", 32767}};
        for (const auto &[text, value] : forms)
            QCOMPARE(int(ParseTwips(text)), value);
        QCOMPARE(FormatTwips(2880) + FormatTwips(0) + FormatTwips(-150), u" 2880 0-150"_s);
    }

    void writeInPlaceOrFail()
    {
        QFile::remove(m_path);
        const mode_t mask = ::umask(022); // the usual mask, which leaves new files readable
        const bool written = set("Top", " 1200") && set("Left", " 2880");
        ::umask(mask);
        QVERIFY(written);
        QCOMPARE(read(), QByteArray("[Tavrino]\r\nTop= 1200\r\nLeft= 2880\r\n"));
        const auto mode = [this] {
            return QString::number(QFile::permissions(m_path) & 0x777, 16);
        };
        QCOMPARE(mode(), u"600"_s); // a new file is the owner's alone
        write("; note\r\n[Tavrino]\r\nUserID=u\r\ntop=5\r\nList=a.lst\r\n\r\n[Other]\r\nTop=9\r\n");
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0640) == 0);
        QVERIFY(set("Top", " 1200") && set("Left", " 15"));
        QCOMPARE(read(), QByteArray("; note\r\n[Tavrino]\r\nUserID=u\r\nTop= 1200\r\n"
                                    "List=a.lst\r\nLeft= 15\r\n\r\n[Other]\r\nTop=9\r\n"));
        QCOMPARE(mode(), u"640"_s); // an existing one keeps its mode
        QVERIFY(set("A", "x\r\nB=y"));
        QCOMPARE(get(u"B"_s), QString()); // a value adds no line
        QCOMPARE(IniWriteErrorText(m_path),
                 m_path + " ファイルの書き込み時にエラーが発生しました。");
        QVERIFY(
            !IniFile(m_dir.filePath(u"no/such/Tavrino.ini"_s)).SetIniParm("Tavrino", "Top", " 2"));
    }

    void perUserFileOverDefaultsAndAutostart()
    {
        const QString etc = m_dir.filePath(u"etc"_s), own = m_dir.filePath(u"u/T/Tavrino.ini"_s);
        write("[Tavrino]\r\nList=/srv/a.lst\r\nInterval=60\r\n", etc);
        const IniFile ini(own, etc);
        QVERIFY(ini.SetIniParms(u"Tavrino"_s, {{"List", "/srv/a.lst"}, {"Interval", "30"}}));
        QCOMPARE(read(own), QByteArray("[Tavrino]\r\nInterval=30\r\n")); // defaults not copied
        QCOMPARE(ini.GetIniParm("Tavrino", "List") + ini.GetIniParm("Tavrino", "Interval"),
                 u"/srv/a.lst30"_s);
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(u"c"_s).toUtf8());
        QVERIFY(SetAutostart(true, u"/opt/a b/T\"%"_s));
        QVERIFY(read(AutostartEntryPath()).contains("\nExec=\"/opt/a b/T\\\\\"%%\" --autostart\n"));
        QVERIFY(SetAutostart(false, {}) && !QFile::exists(AutostartEntryPath()));
        qunsetenv("XDG_CONFIG_HOME");
    }

    void memberList_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const QByteArray &content, const Rows &rows,
                            const QString &error = {}) {
            QTest::newRow(name) << content << rows << error;
        };
        row("a;b;c", "a;b;c\r\n", {{"a", "b;c"}});
        row("no terminator", "a;1\r\nb;2", {{"a", "1"}, {"b", "2"}});
        row("lone CR ends a line", "a;1\rb;2\r", {{"a", "1"}, {"b", "2"}});
        row("LF stays in the line", "a;1\nb;2\r\n", {{"a", "1\nb;2"}});
        row("blank line stops", "a;1\r\n\r\nb;2\r\n", {{"a", "1"}}, Msg::ErrBadArgument);
    }
    void memberList()
    {
        QFETCH(QByteArray, content);
        write(content, m_list);
        const MemberListRead result = ReadMemberList(m_list);
        QTEST(result.rows, "rows");
        QTEST(result.error, "error");
    }

    void memberListWriteAndFailures()
    {
        const Rows rows{{u"佐藤"_s, "u1@h"}, {"---", ""}, {"a", "b;c"}, {" s ", " x "}};
        QCOMPARE(WriteMemberList(m_list, rows), QString());
        QCOMPARE(read(m_list), Cp932::Encode(u"佐藤"_s) + ";u1@h\r\n---;\r\na;b;c\r\n s ; x \r\n");
        QCOMPARE(ReadMemberList(m_list).rows, rows);
        QVERIFY(!WriteMemberList(m_dir.filePath(u"no/dir.lst"_s), rows).isEmpty());
        QVERIFY((MemberRow{"---", ""}.isSeparator() && !MemberRow{"---", "x"}.isSeparator() &&
                 !MemberRow{"--- ", ""}.isSeparator()));
        QCOMPARE(ReadMemberList(m_dir.filePath(u"none.lst"_s)).error, Msg::ErrFileNotFound);
        QCOMPARE(ReadMemberList(m_dir.filePath(u"no/dir.lst"_s)).error, Msg::ErrPathNotFound);
    }

    void utf8StaysUtf8()
    {
        for (const QByteArray &start : {QByteArray("\xEF\xBB\xBF"), QByteArray()}) {
            write(start + "[Tavrino]\r\nUserName=総務部 佐藤\r\n");
            QCOMPARE(get(u"UserName"_s), u"総務部 佐藤"_s);
            QVERIFY(set("Domain", "営業部"));
            QCOMPARE(read(), start + "[Tavrino]\r\nUserName=総務部 佐藤\r\nDomain=営業部\r\n");
            write(start + "総務部 佐藤;u1@h\r\nstop\r\n", m_list);
            const MemberListRead list = ReadMemberList(m_list);
            QCOMPARE(list.rows, (Rows{{u"総務部 佐藤"_s, "u1@h"}}));
            QCOMPARE(WriteMemberList(m_list, list.rows + Rows{{u"鈴木"_s, "u2@h"}}, list.unread),
                     QString());
            QCOMPARE(read(m_list), start + "総務部 佐藤;u1@h\r\n鈴木;u2@h\r\nstop\r\n");
        }
        QFile::remove(m_path); // a new file is code page 932
        QVERIFY(set("UserName", "佐藤"));
        QCOMPARE(read(), "[Tavrino]\r\nUserName=" + Cp932::Encode(u"佐藤"_s) + "\r\n");
    }
};

QTEST_APPLESS_MAIN(TestFormats)
#include "tst_formats.moc"
