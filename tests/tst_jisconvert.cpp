#include "Cp932.h"
#include "JisConvert.h"

#include <QSet>
#include <QTest>

#include <array>
#include <initializer_list>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// One two-byte run: ESC $ B, the JIS bytes, ESC ( B.
QByteArray kanji(std::initializer_list<int> jis)
{
    return "\x1b$B" + bytes(jis) + "\x1b(B";
}

const QByteArray Kan = kanji({0x34, 0x41}), Ji = kanji({0x3B, 0x7A});

/// SjisToJis, or a mark when the result is not 7-bit.
QByteArray Jis(const QString &text)
{
    const QByteArray jis = SjisToJis(text);
    for (char c : jis) {
        if (uchar(c) > 0x7F)
            return "8-bit output";
    }
    return jis;
}

/// The JIS pair of a Shift_JIS pair, as lead << 8 | trail.
uint Pair(uint s1, uint s2)
{
    quint8 a = quint8(s1), b = quint8(s2);
    SjisPairToJis(a, b);
    return uint(a) << 8 | b;
}

} // namespace

class TestJisConvert : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cp932Mapping()
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
            if (unicode <= 0xFFFF)
                QCOMPARE(uint(Cp932::FromUnicodeTable()[unicode]), code);
            QCOMPARE(uint(Cp932::ToUnicode(quint16(code))), back);
            QCOMPARE(uint(Cp932::ToUnicodeTable()[code]), back);
        }
    }

    void cp932DefinedCodesRoundTrip()
    {
        // Every character the code page decodes to encodes to a code giving
        // the same character back, as with Windows' converter.
        int defined = 0;
        for (uint code = 0x8100; code <= 0xFCFF; ++code) {
            const char16_t u = Cp932::ToUnicode(quint16(code));
            if (u == 0x30FB && code != 0x8145) // undefined; 0x8145 is the real U+30FB
                continue;
            ++defined;
            const quint16 back = Cp932::FromUnicode(u);
            QVERIFY2(back > 0xFF, qPrintable(QString::number(code, 16)));
            QCOMPARE(Cp932::ToUnicode(back), u);
        }
        QVERIFY(defined > 6879 + 1880); // JIS X 0208 and the user-defined area
    }

    void cp932Strings()
    {
        QCOMPARE(Cp932::Encode(QStringLiteral("Aあｱ")), bytes({0x41, 0x82, 0xA0, 0xB1}));
        QCOMPARE(Cp932::Decode(bytes({0x41, 0x82, 0xA0, 0xB1})), QStringLiteral("Aあｱ"));
        // One "?" per code point, a lone surrogate included.
        QCOMPARE(Cp932::Encode(QStringLiteral("a😀😀b\xD800x\xD83D")), QByteArray("a??b?x?"));
        QCOMPARE(Cp932::Decode(bytes({0x85, 0x40, 0x41, 0x82})), QStringLiteral("\u30FBA\u30FB"));
    }

    void widenKana()
    {
        QCOMPARE(WidenKana(QStringLiteral("ｶﾞｷﾞﾊﾟｱﾞ")), QStringLiteral("ガギパア゛"));
        QCOMPARE(WidenKana(QStringLiteral("abcｶ")), QStringLiteral("abcカ"));
        QCOMPARE(WidenKana(QStringLiteral("ｳﾞﾎﾟ")), QStringLiteral("ヴポ"));
        QCOMPARE(WidenKana(QStringLiteral("ﾞｶﾟﾞﾞ")), QStringLiteral("\u309Bカ\u309C\u309B\u309B"));
        QCOMPARE(WidenKana(QStringLiteral("A漢\r\n😀ｶﾞﾞ")), QStringLiteral("A漢\r\n😀ガ\u309B"));
        // One by one, the narrow compatibility decomposition is the JIS X 0201
        // -> 0208 correspondence, except that the marks become the spacing ones.
        for (char16_t c = 0xFF61; c <= 0xFF9F; ++c) {
            const QString expected = c == 0xFF9E   ? QStringLiteral("\u309B")
                                     : c == 0xFF9F ? QStringLiteral("\u309C")
                                                   : QChar(c).decomposition();
            QCOMPARE(WidenKana(QString(QChar(c))), expected);
            QString inPlace(QChar{c});
            QVERIFY(CheckNonAscii(inPlace));
            QCOMPARE(inPlace, expected);
        }
    }

    void checkNonAscii()
    {
        const auto check = [](const QString &input, bool nonAscii, const QString &expected) {
            const QString shared(input.constData(), input.size()); // heap data, shared below
            QString text = shared;
            QCOMPARE(CheckNonAscii(text), nonAscii);
            QCOMPARE(text, expected);
            QCOMPARE(shared, input); // the shared copy is not written through
        };
        check(QStringLiteral("abc"), false, QStringLiteral("abc"));
        check(QStringLiteral("ｶﾞ"), true, QStringLiteral("カ゛"));
        check(QStringLiteral("\u0080漢\uF8F0\uF8F3"), true, QStringLiteral(".漢.."));
        check(QStringLiteral("é😀¥"), false, QStringLiteral("é😀¥"));
    }

    void sjisPairToJis()
    {
        QCOMPARE(Pair(0x82, 0xA0), 0x2422u);
        QCOMPARE(Pair(0x8A, 0xBF), 0x3441u);
        QCOMPARE(Pair(0xF0, 0x40), 0u); // user-defined
        QCOMPARE(Pair(0xA0, 0x40), 0u);
        QCOMPARE(Pair(0x81, 0x7F), 0u);

        // Every double-byte code goes to its own JIS pair, which reads back
        // as the same character.
        QSet<uint> seen;
        for (uint lead = 0x81; lead <= 0xEF; ++lead) {
            for (uint trail = 0x40; trail <= 0xFC && (lead <= 0x9F || lead >= 0xE0); ++trail) {
                if (trail == 0x7F)
                    continue;
                const uint jis = Pair(lead, trail);
                const QString where = QString::number(lead << 8 | trail, 16);
                QVERIFY2(jis >> 8 >= 0x21 && jis >> 8 <= 0x7E && (jis & 0xFF) >= 0x21 &&
                             (jis & 0xFF) <= 0x7E,
                         qPrintable(where));
                QVERIFY2(JisBytesToText(kanji({int(jis >> 8), int(jis & 0xFF)})) ==
                             QChar(Cp932::ToUnicode(quint16(lead << 8 | trail))),
                         qPrintable(where));
                seen.insert(jis);
            }
        }
        QCOMPARE(seen.size(), 94 * 94);
    }

    void sjisToJis()
    {
        QCOMPARE(Jis(QStringLiteral("abc\r\n")), QByteArray("abc\r\n"));
        QCOMPARE(Jis(QStringLiteral("A漢B")), "A" + Kan + "B");
        QCOMPARE(Jis(QStringLiteral("漢\r\n字")), Kan + "\r\n" + Ji);
        QCOMPARE(Jis(QStringLiteral("〜−‖¢£¬¥‾")),
                 kanji({0x21, 0x41, 0x21, 0x5D, 0x21, 0x42, 0x21, 0x71, 0x21, 0x72, 0x22, 0x4C}) +
                     "\\~");
        QCOMPARE(Jis(QStringLiteral("漢😀字")), Kan + "?" + Ji); // one character, one "?"
        QCOMPARE(Jis(QStringLiteral("\x1b$B4A\x0e\x0f") + QChar(0)), QByteArray("?$B4A???"));
        QCOMPARE(Jis(QStringLiteral("漢ｱ字")), Kan + "." + Ji);
        QCOMPARE(Jis(QStringLiteral("\uE000ⅰ纊")), QByteArray("???")); // user-defined, IBM
    }

    void jisBytesToText()
    {
        const auto drop = [](const QByteArray &b) { return JisBytesToText(b); };
        const auto keep = [](const QByteArray &b) { return JisBytesToText(b, FinalByte::Keep); };
        QCOMPARE(drop(Kan), QStringLiteral("漢"));
        QCOMPARE(drop("ABC"), QStringLiteral("AB"));
        QCOMPARE(drop("ABC\r\n"), QStringLiteral("ABC\r"));
        QCOMPARE(drop(kanji({0x24, 0x22, 0x0D, 0x0A, 0x24, 0x24})), QStringLiteral("あ\r\nい"));
        QCOMPARE(drop("A"), QString());
        QCOMPARE(drop(bytes({0xB1})), QStringLiteral("ｱ"));
        QCOMPARE(drop("\x1b$B4A\x1b(JAB\r\n"), QStringLiteral("漢AB\r"));
        QCOMPARE(drop("A\x1b$B"), QStringLiteral("A"));
        QCOMPARE(drop(bytes({0x8A, 0xBF, 0x0D, 0x0A})), QStringLiteral("漢\r")); // raw Shift_JIS
        QCOMPARE(drop(kanji({0xFF, 0xFF, 0x80, 0x80})), QStringLiteral("\u30FB\u30FB"));
        QCOMPARE(keep("ABC"), QStringLiteral("ABC"));
        QCOMPARE(keep("AB\x8a"), QStringLiteral("AB"));
        QCOMPARE(keep(Kan), QStringLiteral("漢"));
    }

    void textRoundTrip()
    {
        const QString text = QStringLiteral("件名 12/06 09:30\r\n営業部①㈱→■かなカナ");
        QCOMPARE(JisBytesToText(SjisToJis(text)), text);
        // Input-method characters come back in the form Windows decodes to.
        QCOMPARE(JisBytesToText(SjisToJis(QStringLiteral("〜−‖¢£¬"))),
                 QStringLiteral("～－∥￠￡￢"));
        QCOMPARE(JisToText(QByteArray("ABC\r\n")), QStringLiteral("ABC\r")); // the body's rule
    }
};

QTEST_APPLESS_MAIN(TestJisConvert)
#include "tst_jisconvert.moc"
