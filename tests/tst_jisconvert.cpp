#include "Base64Mime.h"
#include "Cp932.h"
#include "JisConvert.h"

#include <QtTest>

#include <array>

using namespace Qt::StringLiterals;

namespace {

/// One two-byte run: ESC $ B, the JIS bytes, ESC ( B.
QByteArray Kanji(const char *hex)
{
    return "\x1b$B" + QByteArray::fromHex(hex) + "\x1b(B";
}
const QByteArray Kan = Kanji("3441"), Ji = Kanji("3b7a");

/// SjisToJis, or a mark when the result is not 7-bit.
QByteArray Jis(const QString &text)
{
    const QByteArray jis = SjisToJis(text);
    return std::any_of(jis.begin(), jis.end(), [](char c) { return uchar(c) > 0x7F; })
               ? "8-bit output"
               : jis;
}

const QString Yamada = u"=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?="_s;
// アイウエオカキクケコサシスセソタチツ and テ, as encoded by another mailer.
const QString Kana18 = u"アイウエオカキクケコサシスセソタチツ"_s;
const QString Kana18Word =
    u"=?ISO-2022-JP?B?GyRCJSIlJCUmJSglKiUrJS0lLyUxJTMlNSU3JTklOyU9JT8lQSVEGyhC?="_s;
const QString TeWord = u"=?ISO-2022-JP?B?GyRCJUYbKEI=?="_s;

} // namespace

class TestJisConvert : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cp932AndJisPairs()
    {
        // A code point, its code, and the character the code decodes to: ordinary
        // ones; what Linux input methods type (〜 − ‖ ¢ ¬ ¥ ‾), mapped as on Windows;
        // the IBM extension row Windows prefers and a single byte beyond glibc's
        // table; unrepresentable ones (é, a lone surrogate, an emoji).
        const QList<std::array<uint, 3>> rows{
            {0x41, 0x41, 0x41},       {0xFF71, 0xB1, 0xFF71},   {0x3042, 0x82A0, 0x3042},
            {0x6F22, 0x8ABF, 0x6F22}, {0x301C, 0x8160, 0xFF5E}, {0x2212, 0x817C, 0xFF0D},
            {0x2016, 0x8161, 0x2225}, {0xA2, 0x8191, 0xFFE0},   {0xAC, 0x81CA, 0xFFE2},
            {0xA5, 0x5C, 0x5C},       {0x203E, 0x7E, 0x7E},     {0x2170, 0xFA40, 0x2170},
            {0xF8F0, 0xA0, 0xF8F0},   {0xE9, 0x3F, 0x3F},       {0xD800, 0x3F, 0x3F},
            {0x1F600, 0x3F, 0x3F}};
        for (const auto &[unicode, code, back] : rows) {
            QCOMPARE(uint(Cp932::FromUnicode(char32_t(unicode))), code);
            QCOMPARE(uint(Cp932::ToUnicode(quint16(code))), back);
        }
        // Every character the code page decodes to encodes to a code giving the
        // same character back, as with Windows' converter; in the JIS X 0208
        // rows every code goes to its own JIS pair, which reads back the same.
        int defined = 0;
        QSet<uint> pairs;
        for (uint code = 0x8100; code <= 0xFCFF; ++code) {
            const char16_t u = Cp932::ToUnicode(quint16(code));
            const quint16 back = Cp932::FromUnicode(u);
            const QByteArray where = QByteArray::number(code, 16);
            if (u != 0x30FB || code == 0x8145) { // otherwise undefined
                ++defined;
                QVERIFY2(back > 0xFF && Cp932::ToUnicode(back) == u, where);
            }
            const uint lead = code >> 8, trail = code & 0xFF;
            if ((lead > 0x9F && lead < 0xE0) || lead > 0xEF || trail < 0x40 || trail > 0xFC ||
                trail == 0x7F)
                continue;
            quint8 j1 = quint8(lead), j2 = quint8(trail);
            SjisPairToJis(j1, j2);
            QVERIFY2(j1 - 0x21u < 94 && j2 - 0x21u < 94 &&
                         JisBytesToText(QByteArray("\x1b$B" + QByteArray(1, char(j1)) + char(j2) +
                                                   "\x1b(B")) == QChar(u),
                     where);
            pairs.insert(j1 << 8 | j2);
        }
        QVERIFY(defined > 6879 + 1880); // JIS X 0208 and the user-defined area
        QCOMPARE(pairs.size(), 94 * 94);
        for (quint16 outside : {0xF040, 0xA040, 0x817F}) { // user-defined, single byte, no trail
            quint8 j1 = quint8(outside >> 8), j2 = quint8(outside);
            SjisPairToJis(j1, j2);
            QCOMPARE(j1 | j2, 0);
        }
        QCOMPARE(Cp932::Encode(u"Aあｱ"_s), QByteArray::fromHex("4182a0b1"));
        QCOMPARE(Cp932::Decode(QByteArray::fromHex("4182a0b1")), u"Aあｱ"_s);
        // One "?" per code point, a lone surrogate included.
        QCOMPARE(Cp932::Encode(u"a😀😀b\xD800x\xD83D"_s), QByteArray("a??b?x?"));
        QCOMPARE(Cp932::Decode(QByteArray::fromHex("85404182")), u"\u30FBA\u30FB"_s);
    }

    void widenKana()
    {
        QCOMPARE(WidenKana(u"ｶﾞｷﾞﾊﾟｱﾞｳﾞﾎﾟ"_s), u"ガギパア゛ヴポ"_s);
        QCOMPARE(WidenKana(u"ﾞｶﾟﾞﾞ"_s), u"\u309Bカ\u309C\u309B\u309B"_s);
        QCOMPARE(WidenKana(u"A漢\r\n😀ｶﾞﾞ"_s), u"A漢\r\n😀ガ\u309B"_s);
        // One by one, the narrow compatibility decomposition is the JIS X 0201
        // -> 0208 correspondence, except that the marks become the spacing ones.
        for (char16_t c = 0xFF61; c <= 0xFF9F; ++c) {
            const QString expected = c == 0xFF9E   ? u"\u309B"_s
                                     : c == 0xFF9F ? u"\u309C"_s
                                                   : QChar(c).decomposition();
            QCOMPARE(WidenKana(QString(QChar(c))), expected);
            QString inPlace(QChar{c});
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
        QTest::newRow("kana widened, not combined") << "ｶﾞ" << true << "カ゛";
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
        QCOMPARE(shared, input); // the shared copy is not written through
    }

    void sjisToJis()
    {
        QCOMPARE(Jis(u"abc\r\n"_s), QByteArray("abc\r\n"));
        QCOMPARE(Jis(u"A漢\r\n字B"_s), "A" + Kan + "\r\n" + Ji + "B");
        QCOMPARE(Jis(u"〜−‖¢£¬¥‾"_s), Kanji("2141215d214221712172224c") + "\\~");
        QCOMPARE(Jis(u"漢😀字"_s), Kan + "?" + Ji); // one character, one "?"
        QCOMPARE(Jis(u"\x1b$B4A\x0e\x0f"_s + QChar(0)), QByteArray("?$B4A???"));
        QCOMPARE(Jis(u"漢ｱ字"_s), Kan + "." + Ji);
        QCOMPARE(Jis(u"\uE000ⅰ纊"_s), QByteArray("???")); // user-defined, IBM
    }

    void jisBytesToText()
    {
        const auto drop = [](const QByteArray &b) { return JisBytesToText(b); };
        const auto keep = [](const QByteArray &b) { return JisBytesToText(b, FinalByte::Keep); };
        QCOMPARE(drop("ABC"), u"AB"_s);
        QCOMPARE(drop("ABC\r\n"), u"ABC\r"_s);
        QCOMPARE(drop(Kanji("24220d0a2424")), u"あ\r\nい"_s);
        QCOMPARE(drop("A"), QString());
        QCOMPARE(drop("\xB1"), u"ｱ"_s);
        QCOMPARE(drop("\x1b$B4A\x1b(JAB\r\n"), u"漢AB\r"_s);
        QCOMPARE(drop("A\x1b$B"), u"A"_s);
        QCOMPARE(drop("\x8a\xbf\r\n"), u"漢\r"_s); // raw Shift_JIS
        QCOMPARE(drop(Kanji("ffff8080")), u"\u30FB\u30FB"_s);
        QCOMPARE(keep("ABC"), u"ABC"_s);
        QCOMPARE(keep("AB\x8a"), u"AB"_s);
        QCOMPARE(keep(Kan), u"漢"_s);
        const QString text = u"件名 12/06 09:30\r\n営業部①㈱→■かなカナ"_s;
        QCOMPARE(JisBytesToText(SjisToJis(text)), text);
        // Input-method characters come back in the form Windows decodes to.
        QCOMPARE(JisBytesToText(SjisToJis(u"〜−‖¢£¬"_s)), u"～－∥￠￡￢"_s);
        QCOMPARE(JisToText(QByteArray("ABC\r\n")), u"ABC\r"_s); // the body's rule
    }

    void base64Encode()
    {
        QByteArray bytes; // every byte value, every padding, no line breaks
        for (int i = 0; i < 300; ++i, bytes += char(i * 7))
            QCOMPARE(Base64Encode(bytes), QString::fromLatin1(bytes.toBase64()));
        QCOMPARE(EncodeWord(Kana18), Kana18Word);
        QCOMPARE(EncodeHeaderText(Kana18 + u"テ"_s),
                 QString(u' ' + Kana18Word + u' ' + TeWord + u' '));
        QCOMPARE(EncodeHeaderText(u"山田 A山田"_s),
                 QString(u' ' + Yamada + u"  A "_s + Yamada + u' '));
        // The header leaves as plain ASCII: emoji, yen sign, ESC.
        QCOMPARE(EncodeHeaderText(u"a😀¥\x1b$B"_s), u"a?\\?$B"_s);
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
    }

    void base64Decode()
    {
        QCOMPARE(Base64JisDecode(Kana18Word.mid(16, 56)), Kana18);
        // A foreign word ending in ASCII keeps its last character.
        QCOMPARE(Base64JisDecode(u"QUJD"_s), u"ABC"_s);
        QCOMPARE(Base64JisDecode(u"QUI="_s), u"AB"_s);
        QCOMPARE(Base64JisDecode(u"ir8="_s), u"漢"_s); // Shift_JIS
        QCOMPARE(Base64JisDecode(u"sQ=="_s), u"ｱ"_s);
        QCOMPARE(Base64JisDecode(u"GyRC\r\nOzNF RBso\tQg"_s), u"山田"_s);
        QCOMPARE(Base64JisDecode(u"QUJD=QUJD"_s), u"ABC"_s);
        QCOMPARE(Base64JisDecode(u"!*?~ é漢Q"_s), QString());
        QCOMPARE(DecodeHeaderText(u"=?iso-2022-jp?b?GyRCOzNFRBsoQg==?= 様"_s), u"山田 様"_s);
        QCOMPARE(DecodeHeaderText("Re: " + Yamada + " " + Yamada + "(2)"), u"Re: 山田 山田(2)"_s);
        QCOMPARE(DecodeHeaderText(Yamada + " =?iso-2022-jp?B?QUJD"),
                 u"山田 =?iso-2022-jp?B?QUJD"_s);
        QCOMPARE(DecodeHeaderText(QStringLiteral("a=?ISO-2022-JP?B?"
                                                 "?=b")),
                 u"ab"_s);
        for (const char *kept : {"=?UTF-8?B?5bGx55Sw?=", "=?ISO-2022-JP?Q?=1B$B;3ED=1B(B?=",
                                 "=?ISO-2022-JP?B", "Tanaka <tanaka@example.jp>"})
            QCOMPARE(DecodeHeaderText(QString::fromLatin1(kept)), QString::fromLatin1(kept));
    }
};

QTEST_APPLESS_MAIN(TestJisConvert)
#include "tst_jisconvert.moc"
