// The codecs: code page 932, ISO-2022-JP, Base64 and encoded-words, header lines.

#include "Base64Mime.h"
#include "Cp932.h"
#include "HeaderLines.h"
#include "JisConvert.h"

#include <QtTest>

#include <array>

using namespace Qt::StringLiterals;

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

} // namespace

class TestCodecs : public QObject
{
    Q_OBJECT

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
        // Round trips as Windows' converter; each JIS X 0208 code has its own JIS pair.
        int defined = 0;
        QSet<uint> pairs;
        for (uint code = 0x8100; code <= 0xFCFF; ++code) {
            const char16_t u = Cp932::ToUnicode(quint16(code));
            const quint16 back = Cp932::FromUnicode(u);
            if (u != 0x30FB || code == 0x8145) { // otherwise undefined
                ++defined;
                QVERIFY2(back > 0xFF && Cp932::ToUnicode(back) == u, QByteArray::number(code, 16));
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
    }

    void ibmRows()
    {
        // Each IBM extension character goes out as its duplicate and comes back.
        int defined = 0;
        for (uint code = 0xFA40; code <= 0xFC4B; ++code) {
            const QString u = QChar(Cp932::ToUnicode(quint16(code)));
            if (u == u"\u30FB"_s)
                continue;
            ++defined;
            const QByteArray jis = Jis(u);
            QVERIFY2(jis.size() == 8 && JisBytesToText(jis) == u, // one 7-bit pair
                     QByteArray::number(code, 16));
        }
        QCOMPARE(defined, 388);
        for (const QString &name : {u"髙橋"_s, u"山﨑"_s, u"ⅰ"_s})
            QCOMPARE(JisBytesToText(SjisToJis(name)), name);
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
        const QList<std::array<QString, 3>> rows{
            {"\"Sales \\\"East\\\" Team\" <user1@host1>", "Sales \"East\" Team", "user1@host1"},
            {"Sales Team <user1@host1>", "Sales Team ", "user1@host1"},
            {"<user1@host1>", "", "user1@host1"},
            {"user1@host1", "user1@host1", ""},
            {" \"Sales\" <user1@host1>", " \"Sales\" ", "user1@host1"},
            {"A <user1@host1", "A ", "user1@host1"},
            {"\"A\" user1@host1", "A", ""},
            {"\"abc\\", "abc\\", ""},
        };
        for (const auto &[value, name, address] : rows) {
            QString gotName = "stale", gotAddress = "stale";
            SplitAddress(value, gotName, gotAddress);
            QCOMPARE(gotName + u'|' + gotAddress, name + u'|' + address);
        }
    }

    void scan_data()
    {
        QTest::addColumn<QString>("block");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("folded") << "Subject: A\r\n B\r\nFrom: x\r" << QStringList{"SUBJECT", "FROM"}
                                << QStringList{"Subject: A   B\r", "From: x\r"};
        QTest::newRow("colon in continuation")
            << "Subject: A\r\n at 12:30\r\nTo: y\r" << QStringList{"SUBJECT", " AT 12", "TO"}
            << QStringList{"Subject: A\r", " at 12:30\r", "To: y\r"};
        // The last line of a block is never joined; a status line matches nothing.
        QTest::newRow("status and last line")
            << "+OK 12 octets\r\nDate: d\r\n end" << QStringList{"+OK 12 OCTETS\r", "DATE", ""}
            << QStringList{"+OK 12 octets\r", "Date: d\r", " end"};
        QTest::newRow("empty") << QString() << QStringList() << QStringList();
        // Joining must not start over for every continuation line.
        QString block = "Subject: a", joined = block;
        for (int i = 0; i < 1'000'000; ++i)
            block += "\r\n w", joined += "   w";
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
};

QTEST_APPLESS_MAIN(TestCodecs)
#include "tst_codecs.moc"
