#include "Cp932.h"
#include "JisConvert.h"

#include <QSet>
#include <QTest>

#include <initializer_list>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

const QByteArray kToKanji = bytes({0x1B, 0x24, 0x42});
const QByteArray kToAscii = bytes({0x1B, 0x28, 0x42});

QByteArray cat(std::initializer_list<QByteArray> parts)
{
    QByteArray out;
    for (const QByteArray &p : parts)
        out.append(p);
    return out;
}

// One two-byte run: ESC $ B, the JIS bytes, ESC ( B.
QByteArray kanji(std::initializer_list<int> jis)
{
    return cat({kToKanji, bytes(jis), kToAscii});
}

bool isSevenBit(const QByteArray &b)
{
    for (char c : b) {
        if (uchar(c) > 0x7F)
            return false;
    }
    return true;
}

} // namespace

class TestJisConvert : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cp932FromUnicode_data();
    void cp932FromUnicode();
    void cp932ToUnicode_data();
    void cp932ToUnicode();
    void cp932DefinedCodesRoundTrip();
    void cp932Encode_data();
    void cp932Encode();
    void cp932Decode_data();
    void cp932Decode();

    void widenKana_data();
    void widenKana();
    void widenKanaWholeBlock();
    void checkNonAscii_data();
    void checkNonAscii();
    void checkNonAsciiOnJisOutput();

    void sjisPairToJis_data();
    void sjisPairToJis();
    void sjisPairRoundTrip_data();
    void sjisPairRoundTrip();
    void sjisPairToJisIsOneToOne();

    void sjisToJis_data();
    void sjisToJis();
    void jisBytesToText_data();
    void jisBytesToText();
    void jisToTextUsesBodyRule();
    void textRoundTrip_data();
    void textRoundTrip();
};

void TestJisConvert::cp932FromUnicode_data()
{
    QTest::addColumn<uint>("unicode");
    QTest::addColumn<uint>("code");

    QTest::newRow("A") << 0x41u << 0x41u;
    QTest::newRow("backslash") << 0x5Cu << 0x5Cu;
    QTest::newRow("tilde") << 0x7Eu << 0x7Eu;
    QTest::newRow("NUL") << 0x00u << 0x00u;
    QTest::newRow("half-width a") << 0xFF71u << 0xB1u;
    QTest::newRow("half-width voiced mark") << 0xFF9Eu << 0xDEu;
    QTest::newRow("hiragana a") << 0x3042u << 0x82A0u;
    QTest::newRow("kan") << 0x6F22u << 0x8ABFu;
    QTest::newRow("ideographic space") << 0x3000u << 0x8140u;
    // What Linux input methods produce, mapped as Windows maps them.
    QTest::newRow("wave dash") << 0x301Cu << 0x8160u;
    QTest::newRow("minus sign") << 0x2212u << 0x817Cu;
    QTest::newRow("double vertical line") << 0x2016u << 0x8161u;
    QTest::newRow("cent sign") << 0xA2u << 0x8191u;
    QTest::newRow("pound sign") << 0xA3u << 0x8192u;
    QTest::newRow("not sign") << 0xACu << 0x81CAu;
    QTest::newRow("yen sign") << 0xA5u << 0x5Cu;
    QTest::newRow("overline") << 0x203Eu << 0x7Eu;
    // ... and the forms code page 932 decodes to.
    QTest::newRow("full-width tilde") << 0xFF5Eu << 0x8160u;
    QTest::newRow("full-width hyphen-minus") << 0xFF0Du << 0x817Cu;
    QTest::newRow("parallel to") << 0x2225u << 0x8161u;
    QTest::newRow("full-width cent") << 0xFFE0u << 0x8191u;
    QTest::newRow("full-width not") << 0xFFE2u << 0x81CAu;
    // Duplicated codes: Windows prefers row 2 and the IBM extension rows.
    QTest::newRow("because") << 0x2235u << 0x81E6u;
    QTest::newRow("approximately equal") << 0x2252u << 0x81E0u;
    QTest::newRow("small roman one") << 0x2170u << 0xFA40u;
    QTest::newRow("circled one") << 0x2460u << 0x8740u;
    QTest::newRow("user-defined first") << 0xE000u << 0xF040u;
    // Single bytes Windows defines beyond the C library's table.
    QTest::newRow("U+0080") << 0x80u << 0x80u;
    QTest::newRow("U+F8F0") << 0xF8F0u << 0xA0u;
    QTest::newRow("U+F8F1") << 0xF8F1u << 0xFDu;
    QTest::newRow("U+F8F2") << 0xF8F2u << 0xFEu;
    QTest::newRow("U+F8F3") << 0xF8F3u << 0xFFu;
    // Unrepresentable.
    QTest::newRow("no-break space") << 0xA0u << 0x3Fu;
    QTest::newRow("e acute") << 0xE9u << 0x3Fu;
    QTest::newRow("hangul") << 0xAC00u << 0x3Fu;
    QTest::newRow("lone surrogate") << 0xD800u << 0x3Fu;
    QTest::newRow("emoji") << 0x1F600u << 0x3Fu;
    QTest::newRow("beyond Unicode") << 0x110000u << 0x3Fu;
}

void TestJisConvert::cp932FromUnicode()
{
    QFETCH(uint, unicode);
    QFETCH(uint, code);
    QCOMPARE(uint(Cp932::FromUnicode(char32_t(unicode))), code);
    if (unicode <= 0xFFFF)
        QCOMPARE(uint(Cp932::FromUnicodeTable()[unicode]), code);
}

void TestJisConvert::cp932ToUnicode_data()
{
    QTest::addColumn<uint>("code");
    QTest::addColumn<uint>("unicode");

    QTest::newRow("A") << 0x41u << 0x41u;
    QTest::newRow("0x5C") << 0x5Cu << 0x5Cu;
    QTest::newRow("0x7E") << 0x7Eu << 0x7Eu;
    QTest::newRow("0xA1") << 0xA1u << 0xFF61u;
    QTest::newRow("0xB1") << 0xB1u << 0xFF71u;
    QTest::newRow("0xDF") << 0xDFu << 0xFF9Fu;
    QTest::newRow("0x80") << 0x80u << 0x80u;
    QTest::newRow("0xA0") << 0xA0u << 0xF8F0u;
    QTest::newRow("0xFD") << 0xFDu << 0xF8F1u;
    QTest::newRow("0xFF") << 0xFFu << 0xF8F3u;
    QTest::newRow("lone lead byte") << 0x81u << 0x30FBu;
    QTest::newRow("0x82A0") << 0x82A0u << 0x3042u;
    QTest::newRow("0x8ABF") << 0x8ABFu << 0x6F22u;
    QTest::newRow("0x8160") << 0x8160u << 0xFF5Eu;
    QTest::newRow("0x817C") << 0x817Cu << 0xFF0Du;
    QTest::newRow("0x8161") << 0x8161u << 0x2225u;
    QTest::newRow("0x8191") << 0x8191u << 0xFFE0u;
    QTest::newRow("0x81CA") << 0x81CAu << 0xFFE2u;
    QTest::newRow("0x8740") << 0x8740u << 0x2460u;
    QTest::newRow("0xED40") << 0xED40u << 0x7E8Au;
    QTest::newRow("0xFA40") << 0xFA40u << 0x2170u;
    QTest::newRow("0xF040") << 0xF040u << 0xE000u;
    QTest::newRow("0xF9FC") << 0xF9FCu << 0xE757u;
    QTest::newRow("undefined row 0x85") << 0x8540u << 0x30FBu;
    QTest::newRow("bad trail 0x20") << 0x8120u << 0x30FBu;
    QTest::newRow("bad trail 0x7F") << 0x817Fu << 0x30FBu;
    QTest::newRow("no lead 0x4141") << 0x4141u << 0x30FBu;
    QTest::newRow("no lead 0xA1A1") << 0xA1A1u << 0x30FBu;
}

void TestJisConvert::cp932ToUnicode()
{
    QFETCH(uint, code);
    QFETCH(uint, unicode);
    QCOMPARE(uint(Cp932::ToUnicode(quint16(code))), unicode);
    QCOMPARE(uint(Cp932::ToUnicodeTable()[code]), unicode);
}

void TestJisConvert::cp932DefinedCodesRoundTrip()
{
    // Every character the code page decodes to encodes to a code giving the
    // same character back, as with Windows' converter.
    int defined = 0;
    for (uint code = 0x8100; code <= 0xFCFF; ++code) {
        const char16_t u = Cp932::ToUnicode(quint16(code));
        if (u == 0x30FB && code != 0x8145) // 0x8145 is the real U+30FB
            continue;
        ++defined;
        const quint16 back = Cp932::FromUnicode(u);
        QVERIFY2(back > 0xFF, qPrintable(QString::number(code, 16)));
        QCOMPARE(Cp932::ToUnicode(back), u);
    }
    // JIS X 0208 alone has 6879 characters, the user-defined area 1880.
    QVERIFY2(defined > 6879 + 1880, qPrintable(QString::number(defined)));
}

void TestJisConvert::cp932Encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("mixed") << QStringLiteral("Aあｱ") << bytes({0x41, 0x82, 0xA0, 0xB1});
    QTest::newRow("emoji is one ?") << QStringLiteral("a😀b") << QByteArray("a?b");
    QTest::newRow("two emoji") << QStringLiteral("😀😀") << QByteArray("??");
    QTest::newRow("lone high surrogate") << QStringLiteral("\xD800x") << QByteArray("?x");
    QTest::newRow("lone low surrogate") << QString(QChar(0xDC00)) << QByteArray("?");
    QTest::newRow("high surrogate at end") << QStringLiteral("x\xD83D") << QByteArray("x?");
}

void TestJisConvert::cp932Encode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(Cp932::Encode(text), expected);
}

void TestJisConvert::cp932Decode_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("mixed") << bytes({0x41, 0x82, 0xA0, 0xB1}) << QStringLiteral("Aあｱ");
    QTest::newRow("lead byte at the end") << bytes({0x41, 0x82}) << QStringLiteral("A\u30FB");
    QTest::newRow("lead byte before CR LF")
        << bytes({0x82, 0x0D, 0x0A}) << QStringLiteral("\u30FB\r\n");
    QTest::newRow("undefined pair") << bytes({0x85, 0x40, 0x41}) << QStringLiteral("\u30FBA");
    QTest::newRow("0x80 0xA0 0xFD")
        << bytes({0x80, 0xA0, 0xFD}) << QStringLiteral("\u0080\uF8F0\uF8F1");
}

void TestJisConvert::cp932Decode()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    QCOMPARE(Cp932::Decode(input), expected);
}

void TestJisConvert::widenKana_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("combined marks") << QStringLiteral("ｶﾞｷﾞﾊﾟｱﾞ") << QStringLiteral("ガギパア゛");
    QTest::newRow("ends in ka") << QStringLiteral("abcｶ") << QStringLiteral("abcカ");
    QTest::newRow("lone voiced mark") << QStringLiteral("ﾞ") << QStringLiteral("\u309B");
    QTest::newRow("lone semi-voiced mark") << QStringLiteral("ﾟ") << QStringLiteral("\u309C");
    QTest::newRow("vu") << QStringLiteral("ｳﾞ") << QStringLiteral("ヴ");
    QTest::newRow("tsu voiced") << QStringLiteral("ﾂﾞ") << QStringLiteral("ヅ");
    QTest::newRow("to voiced") << QStringLiteral("ﾄﾞ") << QStringLiteral("ド");
    QTest::newRow("ha row voiced") << QStringLiteral("ﾊﾞﾋﾞﾌﾞﾍﾞﾎﾞ") << QStringLiteral("バビブベボ");
    QTest::newRow("ha row semi-voiced")
        << QStringLiteral("ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ") << QStringLiteral("パピプペポ");
    QTest::newRow("ka semi-voiced") << QStringLiteral("ｶﾟ") << QStringLiteral("カ\u309C");
    QTest::newRow("na voiced") << QStringLiteral("ﾅﾞ") << QStringLiteral("ナ\u309B");
    QTest::newRow("two marks") << QStringLiteral("ﾞﾞ") << QStringLiteral("\u309B\u309B");
    QTest::newRow("kana then mark then mark")
        << QStringLiteral("ｶﾞﾞ") << QStringLiteral("ガ\u309B");
    QTest::newRow("full-width ka and mark") << QStringLiteral("カﾞ") << QStringLiteral("カ\u309B");
    QTest::newRow("mark then kana") << QStringLiteral("ﾞｶ") << QStringLiteral("\u309Bカ");
    QTest::newRow("small kana") << QStringLiteral("ｧｨｩｪｫｬｭｮｯｰ")
                                << QStringLiteral("ァィゥェォャュョッー");
    QTest::newRow("punctuation") << QStringLiteral("｡｢｣､･ｦ") << QStringLiteral("。「」、・ヲ");
    QTest::newRow("others unchanged")
        << QStringLiteral("A漢\r\n😀ｶ") << QStringLiteral("A漢\r\n😀カ");
}

void TestJisConvert::widenKana()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(WidenKana(text), expected);
}

void TestJisConvert::widenKanaWholeBlock()
{
    // The narrow compatibility decomposition is the JIS X 0201 -> 0208
    // correspondence, except that the marks become the spacing ones.
    for (char16_t c = 0xFF61; c <= 0xFF9F; ++c) {
        QString expected;
        if (c == 0xFF9E)
            expected = QStringLiteral("\u309B");
        else if (c == 0xFF9F)
            expected = QStringLiteral("\u309C");
        else
            expected = QChar(c).decomposition();
        QCOMPARE(QChar(c).decompositionTag(), QChar::Narrow);
        QCOMPARE(WidenKana(QString(QChar(c))), expected);
        QString inPlace = QString(QChar(c));
        QVERIFY(CheckNonAscii(inPlace));
        QCOMPARE(inPlace, expected);
    }
}

void TestJisConvert::checkNonAscii_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("nonAscii");

    QTest::newRow("empty") << QString() << QString() << false;
    QTest::newRow("abc") << QStringLiteral("abc") << QStringLiteral("abc") << false;
    QTest::newRow("ka voiced not combined")
        << QStringLiteral("ｶﾞ") << QStringLiteral("カ゛") << true;
    QTest::newRow("kan") << QStringLiteral("漢") << QStringLiteral("漢") << true;
    QTest::newRow("U+0080 is a dot")
        << QStringLiteral("a\u0080b") << QStringLiteral("a.b") << false;
    QTest::newRow("U+F8F0-U+F8F3 are dots")
        << QStringLiteral("\uF8F0\uF8F1\uF8F2\uF8F3") << QStringLiteral("....") << false;
    QTest::newRow("dot and kanji") << QStringLiteral("\u0080漢") << QStringLiteral(".漢") << true;
    QTest::newRow("unrepresentable kept") << QStringLiteral("é😀") << QStringLiteral("é😀") << false;
    QTest::newRow("yen kept") << QStringLiteral("¥") << QStringLiteral("¥") << false;
    QTest::newRow("wave dash") << QStringLiteral("〜") << QStringLiteral("〜") << true;
}

void TestJisConvert::checkNonAscii()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(bool, nonAscii);
    const QString shared = text;
    const QString original(text.constData(), text.size());
    QCOMPARE(CheckNonAscii(text), nonAscii);
    QCOMPARE(text, expected);
    QCOMPARE(shared, original);
}

void TestJisConvert::checkNonAsciiOnJisOutput()
{
    QString jis = QString::fromLatin1(SjisToJis(QStringLiteral("件名:漢字ｶﾅ\u0080¥\r\n😀")));
    const QString before = jis;
    QVERIFY(!CheckNonAscii(jis));
    QCOMPARE(jis, before);
}

void TestJisConvert::sjisPairToJis_data()
{
    QTest::addColumn<uint>("s1");
    QTest::addColumn<uint>("s2");
    QTest::addColumn<uint>("j1");
    QTest::addColumn<uint>("j2");

    QTest::newRow("a") << 0x82u << 0xA0u << 0x24u << 0x22u;
    QTest::newRow("kan") << 0x8Au << 0xBFu << 0x34u << 0x41u;
    QTest::newRow("ideographic space") << 0x81u << 0x40u << 0x21u << 0x21u;
    QTest::newRow("ei") << 0x89u << 0x63u << 0x31u << 0x44u;
    QTest::newRow("trail 0x7E") << 0x81u << 0x7Eu << 0x21u << 0x5Fu;
    QTest::newRow("trail 0x80") << 0x81u << 0x80u << 0x21u << 0x60u;
    QTest::newRow("trail 0x9E") << 0x81u << 0x9Eu << 0x21u << 0x7Eu;
    QTest::newRow("trail 0x9F") << 0x81u << 0x9Fu << 0x22u << 0x21u;
    QTest::newRow("lead 0xE0") << 0xE0u << 0x40u << 0x5Fu << 0x21u;
    QTest::newRow("NEC-selected row") << 0xEDu << 0x40u << 0x79u << 0x21u;
    QTest::newRow("last") << 0xEFu << 0xFCu << 0x7Eu << 0x7Eu;
    QTest::newRow("user-defined") << 0xF0u << 0x40u << 0u << 0u;
    QTest::newRow("IBM extension") << 0xFAu << 0x40u << 0u << 0u;
    QTest::newRow("lead 0x80") << 0x80u << 0x40u << 0u << 0u;
    QTest::newRow("lead 0xA0") << 0xA0u << 0x40u << 0u << 0u;
    QTest::newRow("trail 0x3F") << 0x81u << 0x3Fu << 0u << 0u;
    QTest::newRow("trail 0x7F") << 0x81u << 0x7Fu << 0u << 0u;
    QTest::newRow("trail 0xFD") << 0x81u << 0xFDu << 0u << 0u;
}

void TestJisConvert::sjisPairToJis()
{
    QFETCH(uint, s1);
    QFETCH(uint, s2);
    QFETCH(uint, j1);
    QFETCH(uint, j2);
    quint8 a = quint8(s1);
    quint8 b = quint8(s2);
    SjisPairToJis(a, b);
    QCOMPARE(uint(a), j1);
    QCOMPARE(uint(b), j2);
}

void TestJisConvert::sjisPairRoundTrip_data()
{
    QTest::addColumn<uint>("lead");
    for (uint lead = 0x81; lead <= 0xEF; ++lead) {
        if (lead <= 0x9F || lead >= 0xE0)
            QTest::newRow(qPrintable(QStringLiteral("lead %1").arg(lead, 2, 16))) << lead;
    }
}

void TestJisConvert::sjisPairRoundTrip()
{
    QFETCH(uint, lead);
    for (uint trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F)
            continue;
        quint8 j1 = quint8(lead);
        quint8 j2 = quint8(trail);
        SjisPairToJis(j1, j2);
        const QString where = QString::number(lead << 8 | trail, 16);
        QVERIFY2(j1 >= 0x21 && j1 <= 0x7E && j2 >= 0x21 && j2 <= 0x7E, qPrintable(where));
        const QByteArray jis = kanji({j1, j2});
        const QString expected(QChar(Cp932::ToUnicode(quint16(lead << 8 | trail))));
        QVERIFY2(JisBytesToText(jis) == expected, qPrintable(where));
    }
}

void TestJisConvert::sjisPairToJisIsOneToOne()
{
    QSet<uint> seen;
    int pairs = 0;
    for (uint lead = 0x81; lead <= 0xEF; ++lead) {
        if (lead > 0x9F && lead < 0xE0)
            continue;
        for (uint trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            quint8 j1 = quint8(lead);
            quint8 j2 = quint8(trail);
            SjisPairToJis(j1, j2);
            seen.insert(uint(j1) << 8 | j2);
            ++pairs;
        }
    }
    QCOMPARE(seen.size(), pairs);
    QCOMPARE(pairs, 94 * 94);
}

void TestJisConvert::sjisToJis_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("ascii") << QStringLiteral("abc\r\n") << QByteArray("abc\r\n");
    QTest::newRow("kanji") << QStringLiteral("漢字") << kanji({0x34, 0x41, 0x3B, 0x7A});
    QTest::newRow("A kan B") << QStringLiteral("A漢B") << cat({"A", kanji({0x34, 0x41}), "B"});
    QTest::newRow("CR LF between kanji")
        << QStringLiteral("漢\r\n字") << cat({kanji({0x34, 0x41}), "\r\n", kanji({0x3B, 0x7A})});
    QTest::newRow("wave dash") << QStringLiteral("〜") << kanji({0x21, 0x41});
    QTest::newRow("minus sign") << QStringLiteral("−") << kanji({0x21, 0x5D});
    QTest::newRow("double vertical line") << QStringLiteral("‖") << kanji({0x21, 0x42});
    QTest::newRow("cent pound not")
        << QStringLiteral("¢£¬") << kanji({0x21, 0x71, 0x21, 0x72, 0x22, 0x4C});
    QTest::newRow("yen and overline") << QStringLiteral("¥‾") << QByteArray("\\~");
    QTest::newRow("emoji is one ?") << QStringLiteral("a😀b") << QByteArray("a?b");
    QTest::newRow("emoji between kanji")
        << QStringLiteral("漢😀字") << cat({kanji({0x34, 0x41}), "?", kanji({0x3B, 0x7A})});
    QTest::newRow("lone surrogate") << QString(QChar(0xDC00)) << QByteArray("?");
    QTest::newRow("ESC cannot forge a switch")
        << QStringLiteral("\x1b$B4A\x1b(B") << QByteArray("?$B4A?(B");
    QTest::newRow("SO SI") << QStringLiteral("a\x0e"
                                             "b\x0f")
                           << QByteArray("a?b?");
    QTest::newRow("NUL") << QString(QChar(0)) << QByteArray("?");
    QTest::newRow("half-width kana is a dot") << QStringLiteral("ｱ") << QByteArray(".");
    QTest::newRow("half-width kana between kanji")
        << QStringLiteral("漢ｱ字") << cat({kanji({0x34, 0x41}), ".", kanji({0x3B, 0x7A})});
    QTest::newRow("U+0080 and U+F8F3") << QStringLiteral("\u0080\uF8F3") << QByteArray("..");
    QTest::newRow("user-defined is ?") << QStringLiteral("\uE000") << QByteArray("?");
    QTest::newRow("IBM extension is ?") << QStringLiteral("ⅰ") << QByteArray("?");
    // Windows encodes the duplicated IBM kanji to rows 0xFA-0xFC, which have no JIS row.
    QTest::newRow("IBM extension kanji is ?") << QStringLiteral("纊") << QByteArray("?");
    QTest::newRow("user-defined between kanji")
        << QStringLiteral("漢\uE000字") << cat({kanji({0x34, 0x41}), "?", kanji({0x3B, 0x7A})});
}

void TestJisConvert::sjisToJis()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    const QByteArray jis = SjisToJis(text);
    QCOMPARE(jis, expected);
    QVERIFY(isSevenBit(jis));
}

void TestJisConvert::jisBytesToText_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("keepFinal");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QByteArray() << false << QString();
    QTest::newRow("kan") << kanji({0x34, 0x41}) << false << QStringLiteral("漢");
    QTest::newRow("ABC drops C") << QByteArray("ABC") << false << QStringLiteral("AB");
    QTest::newRow("ABC CR LF drops LF")
        << QByteArray("ABC\r\n") << false << QStringLiteral("ABC\r");
    QTest::newRow("CR LF inside kanji mode")
        << kanji({0x24, 0x22, 0x0D, 0x0A, 0x24, 0x24}) << false << QStringLiteral("あ\r\nい");
    QTest::newRow("single A") << QByteArray("A") << false << QString();
    QTest::newRow("single 0xB1") << bytes({0xB1}) << false << QStringLiteral("ｱ");
    QTest::newRow("single 0xA0") << bytes({0xA0}) << false << QStringLiteral("\uF8F0");
    QTest::newRow("single 0xE0") << bytes({0xE0}) << false << QString();
    QTest::newRow("ESC $ @ not recognised")
        << cat({bytes({0x1B, 0x24, 0x40, 0x24, 0x22}), kToAscii}) << false
        << QStringLiteral("\x1b$@$\"");
    QTest::newRow("ESC ( I not recognised")
        << bytes({0x1B, 0x28, 0x49, 0x31, 0x32}) << false << QStringLiteral("\x1b(I1");
    QTest::newRow("ESC ( J ends kanji mode")
        << cat({kToKanji, bytes({0x34, 0x41, 0x1B, 0x28, 0x4A}), "AB\r\n"}) << false
        << QStringLiteral("漢AB\r");
    QTest::newRow("two escapes in a row")
        << cat({kToKanji, kToAscii, "AB"}) << false << QStringLiteral("A");
    QTest::newRow("escape ends the data") << cat({"A", kToKanji}) << false << QStringLiteral("A");
    QTest::newRow("escape then one byte")
        << cat({kToKanji, bytes({0xB1})}) << false << QStringLiteral("ｱ");
    QTest::newRow("ESC with one byte after")
        << bytes({0x41, 0x1B, 0x24}) << false << QStringLiteral("A\x1b");
    QTest::newRow("raw Shift_JIS")
        << bytes({0x8A, 0xBF, 0x0D, 0x0A}) << false << QStringLiteral("漢\r");
    QTest::newRow("raw half-width kana") << bytes({0xB1, 0xB2}) << false << QStringLiteral("ｱｲ");
    QTest::newRow("raw undefined pair")
        << bytes({0x85, 0x40, 0x41, 0x41}) << false << QStringLiteral("\u30FBA");
    QTest::newRow("raw 0xFF pair") << bytes({0xFF, 0xFF}) << false << QStringLiteral("\u30FB");
    QTest::newRow("lead byte then final") << bytes({0x41, 0x82}) << false << QStringLiteral("A");
    QTest::newRow("kanji mode bytes out of range")
        << kanji({0xFF, 0xFF, 0x80, 0x80}) << false << QStringLiteral("\u30FB\u30FB");
    QTest::newRow("NEC-selected row") << kanji({0x79, 0x21}) << false << QStringLiteral("\u7E8A");
    QTest::newRow("keep final A") << QByteArray("ABC") << true << QStringLiteral("ABC");
    QTest::newRow("keep single A") << QByteArray("A") << true << QStringLiteral("A");
    QTest::newRow("keep final kana") << bytes({0x41, 0xB1}) << true << QStringLiteral("Aｱ");
    QTest::newRow("keep drops 0x80") << bytes({0x41, 0x42, 0x80}) << true << QStringLiteral("AB");
    QTest::newRow("keep drops lead byte")
        << bytes({0x41, 0x42, 0x8A}) << true << QStringLiteral("AB");
    QTest::newRow("keep after escape") << kanji({0x34, 0x41}) << true << QStringLiteral("漢");
}

void TestJisConvert::jisBytesToText()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, keepFinal);
    QFETCH(QString, expected);
    QCOMPARE(JisBytesToText(input, keepFinal ? FinalByte::Keep : FinalByte::Drop), expected);
}

void TestJisConvert::jisToTextUsesBodyRule()
{
    QCOMPARE(JisToText(QByteArray("ABC\r\n")), QStringLiteral("ABC\r"));
    QCOMPARE(JisToText(cat({kanji({0x24, 0x22}), bytes({0xB1})})), QStringLiteral("あｱ"));
}

void TestJisConvert::textRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("kanji and kana")
        << QStringLiteral("漢字かなカナ") << QStringLiteral("漢字かなカナ");
    QTest::newRow("mixed lines") << QStringLiteral("件名 12/06 09:30\r\n営業部\r\n山田様より電話")
                                 << QStringLiteral("件名 12/06 09:30\r\n営業部\r\n山田様より電話");
    QTest::newRow("symbols") << QStringLiteral("①㈱→■") << QStringLiteral("①㈱→■");
    // Input-method characters come back in the form Windows decodes to.
    QTest::newRow("input-method forms")
        << QStringLiteral("〜−‖¢£¬") << QStringLiteral("～－∥￠￡￢");
}

void TestJisConvert::textRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(JisBytesToText(SjisToJis(text)), expected);
}

QTEST_APPLESS_MAIN(TestJisConvert)

#include "tst_jisconvert.moc"
