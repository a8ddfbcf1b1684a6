#include "Base64Mime.h"

#include <QTest>

namespace {

const QString kYamada = QStringLiteral("=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=");
const QString kEigyoubu = QStringLiteral("=?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?=");
// アイウエオカキクケコサシスセソタチツ and テ, as encoded by another mailer.
const QString k18Kana = QStringLiteral("アイウエオカキクケコサシスセソタチツ");
const QString k18KanaWord =
    QStringLiteral("=?ISO-2022-JP?B?GyRCJSIlJCUmJSglKiUrJS0lLyUxJTMlNSU3JTklOyU9JT8lQSVEGyhC?=");
const QString kTeWord = QStringLiteral("=?ISO-2022-JP?B?GyRCJUYbKEI=?=");

} // namespace

class TestBase64Mime : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void base64Char_data();
    void base64Char();
    void base64Encode_data();
    void base64Encode();
    void encodeWord_data();
    void encodeWord();
    void encodeHeaderText_data();
    void encodeHeaderText();
    void encodedWordLengthLimit();
    void base64JisDecode_data();
    void base64JisDecode();
    void decodeHeaderText_data();
    void decodeHeaderText();
    void headerRoundTrip();
};

void TestBase64Mime::base64Char_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0") << 0 << QStringLiteral("A");
    QTest::newRow("25") << 25 << QStringLiteral("Z");
    QTest::newRow("26") << 26 << QStringLiteral("a");
    QTest::newRow("51") << 51 << QStringLiteral("z");
    QTest::newRow("52") << 52 << QStringLiteral("0");
    QTest::newRow("61") << 61 << QStringLiteral("9");
    QTest::newRow("62") << 62 << QStringLiteral("+");
    QTest::newRow("63") << 63 << QStringLiteral("/");
    QTest::newRow("-1") << -1 << QString();
    QTest::newRow("64") << 64 << QString();
    QTest::newRow("large") << 1000000 << QString();
}

void TestBase64Mime::base64Char()
{
    QFETCH(int, value);
    QFETCH(QString, expected);
    QCOMPARE(Base64Char(value), expected);
}

void TestBase64Mime::base64Encode_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0 bytes") << QByteArray() << QString();
    QTest::newRow("1 byte") << QByteArray("a") << QStringLiteral("YQ==");
    QTest::newRow("2 bytes") << QByteArray("ab") << QStringLiteral("YWI=");
    QTest::newRow("3 bytes") << QByteArray("abc") << QStringLiteral("YWJj");
    QTest::newRow("4 bytes") << QByteArray("abcd") << QStringLiteral("YWJjZA==");
    QTest::newRow("foobar") << QByteArray("foobar") << QStringLiteral("Zm9vYmFy");
    QTest::newRow("zero byte") << QByteArray(1, '\0') << QStringLiteral("AA==");
    QTest::newRow("high bytes") << QByteArray("\xFF\xFE\xFD") << QStringLiteral("//79");
    QTest::newRow("62 and 63") << QByteArray("\xFB\xFF") << QStringLiteral("+/8=");
    QTest::newRow("no line breaks")
        << QByteArray(100, 'x') << QString::fromLatin1(QByteArray(100, 'x').toBase64());
}

void TestBase64Mime::base64Encode()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    QCOMPARE(Base64Encode(input), expected);
}

void TestBase64Mime::encodeWord_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("eigyoubu") << QStringLiteral("営業部") << kEigyoubu;
    QTest::newRow("yamada") << QStringLiteral("山田") << kYamada;
    QTest::newRow("18 kana") << k18Kana << k18KanaWord;
    QTest::newRow("empty") << QString()
                           << QStringLiteral("=?ISO-2022-JP?B?"
                                             "?=");
}

void TestBase64Mime::encodeWord()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(EncodeWord(text), expected);
}

void TestBase64Mime::encodeHeaderText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("subject record")
        << QStringLiteral("Subject:0    12/06 09:30営業部\r\n")
        << QStringLiteral("Subject:0    12/06 09:30 =?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?= \r\n");
    QTest::newRow("18 kana") << k18Kana << QString(u' ' + k18KanaWord + u' ');
    QTest::newRow("19 kana") << QString(k18Kana + QStringLiteral("テ"))
                             << QString(u' ' + k18KanaWord + u' ' + kTeWord + u' ');
    QTest::newRow("all ASCII") << QStringLiteral("From: yamada@example.jp\r\n")
                               << QStringLiteral("From: yamada@example.jp\r\n");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("two runs") << QStringLiteral("山田 A営業部")
                              << QString(u' ' + kYamada + QStringLiteral("  A ") + kEigyoubu +
                                         u' ');
    QTest::newRow("starts with a run")
        << QStringLiteral("山田:x") << QString(u' ' + kYamada + QStringLiteral(" :x"));
    // The header must leave as plain ASCII.
    QTest::newRow("emoji is one ?") << QStringLiteral("a😀b") << QStringLiteral("a?b");
    QTest::newRow("yen is a backslash") << QStringLiteral("¥100") << QStringLiteral("\\100");
    QTest::newRow("ESC") << QStringLiteral("a\x1b$B") << QStringLiteral("a?$B");
}

void TestBase64Mime::encodeHeaderText()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(EncodeHeaderText(text), expected);
}

void TestBase64Mime::encodedWordLengthLimit()
{
    QCOMPARE(k18KanaWord.size(), 74);
    // Runs of 17, 18, 19 and 37 characters.
    const QString kana = k18Kana + k18Kana + k18Kana;
    for (int length : {17, 18, 19, 36, 37}) {
        const QString encoded = EncodeHeaderText(kana.left(length));
        const QStringList words = encoded.split(u' ', Qt::SkipEmptyParts);
        QCOMPARE(words.size(), (length + 17) / 18);
        QCOMPARE(encoded, QString(u' ' + words.join(u' ') + u' '));
        for (const QString &w : words)
            QVERIFY2(w.size() <= 74, qPrintable(w));
    }
}

void TestBase64Mime::base64JisDecode_data()
{
    QTest::addColumn<QString>("b64");
    QTest::addColumn<QString>("expected");

    QTest::newRow("yamada") << QStringLiteral("GyRCOzNFRBsoQg==") << QStringLiteral("山田");
    QTest::newRow("eigyoubu") << QStringLiteral("GyRCMUQ2SEl0GyhC") << QStringLiteral("営業部");
    QTest::newRow("18 kana") << k18KanaWord.mid(16, 56) << k18Kana;
    QTest::newRow("foreign ASCII word keeps last")
        << QStringLiteral("QUJD") << QStringLiteral("ABC");
    QTest::newRow("foreign ASCII word, one pad") << QStringLiteral("QUI=") << QStringLiteral("AB");
    QTest::newRow("foreign ASCII word, two pads") << QStringLiteral("QQ==") << QStringLiteral("A");
    QTest::newRow("raw Shift_JIS payload") << QStringLiteral("ir8=") << QStringLiteral("漢");
    QTest::newRow("half-width kana payload") << QStringLiteral("sQ==") << QStringLiteral("ｱ");
    QTest::newRow("line breaks and spaces inside")
        << QStringLiteral("GyRC\r\nOzNF RBso\tQg==") << QStringLiteral("山田");
    QTest::newRow("stops at =") << QStringLiteral("QUJD=QUJD") << QStringLiteral("ABC");
    QTest::newRow("missing padding") << QStringLiteral("GyRCOzNFRBsoQg") << QStringLiteral("山田");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("only =") << QStringLiteral("=") << QString();
    QTest::newRow("only junk") << QStringLiteral("!*?~ é漢") << QString();
    QTest::newRow("one character") << QStringLiteral("Q") << QString();
}

void TestBase64Mime::base64JisDecode()
{
    QFETCH(QString, b64);
    QFETCH(QString, expected);
    QCOMPARE(Base64JisDecode(b64), expected);
}

void TestBase64Mime::decodeHeaderText_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("lower-case label")
        << QStringLiteral("=?iso-2022-jp?B?GyRCOzNFRBsoQg==?= 様") << QStringLiteral("山田 様");
    QTest::newRow("mixed-case label")
        << QStringLiteral("=?Iso-2022-Jp?b?GyRCOzNFRBsoQg==?=") << QStringLiteral("山田");
    QTest::newRow("two adjacent words")
        << QStringLiteral(
               "A =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= B")
        << QStringLiteral("A 山田 山田 B");
    QTest::newRow("no words") << QStringLiteral("Tanaka <tanaka@example.jp>")
                              << QStringLiteral("Tanaka <tanaka@example.jp>");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("foreign ASCII word")
        << QStringLiteral("=?ISO-2022-JP?B?QUJD?=") << QStringLiteral("ABC");
    QTest::newRow("marker without end") << QStringLiteral("x =?ISO-2022-JP?B?GyRCOzNFRBsoQg==")
                                        << QStringLiteral("x =?ISO-2022-JP?B?GyRCOzNFRBsoQg==");
    QTest::newRow("second marker without end")
        << QStringLiteral("=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= =?iso-2022-jp?B?QUJD")
        << QStringLiteral("山田 =?iso-2022-jp?B?QUJD");
    QTest::newRow("marker at the end")
        << QStringLiteral("a =?ISO-2022-JP?B?") << QStringLiteral("a =?ISO-2022-JP?B?");
    QTest::newRow("empty payload") << QStringLiteral("a=?ISO-2022-JP?B?"
                                                     "?=b")
                                   << QStringLiteral("ab");
    QTest::newRow("other charset")
        << QStringLiteral("=?UTF-8?B?5bGx55Sw?=") << QStringLiteral("=?UTF-8?B?5bGx55Sw?=");
    QTest::newRow("Q encoding") << QStringLiteral("=?ISO-2022-JP?Q?=1B$B;3ED=1B(B?=")
                                << QStringLiteral("=?ISO-2022-JP?Q?=1B$B;3ED=1B(B?=");
    QTest::newRow("truncated marker")
        << QStringLiteral("=?ISO-2022-JP?B") << QStringLiteral("=?ISO-2022-JP?B");
    QTest::newRow("look-alike letters") << QStringLiteral("=?\u0131SO-2022-JP?B?QUJD?=")
                                        << QStringLiteral("=?\u0131SO-2022-JP?B?QUJD?=");
    QTest::newRow("text around") << QStringLiteral("Re: =?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?=(2)")
                                 << QStringLiteral("Re: 営業部(2)");
}

void TestBase64Mime::decodeHeaderText()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(DecodeHeaderText(value), expected);
}

void TestBase64Mime::headerRoundTrip()
{
    // The spaces the encoder inserts survive decoding; the text between them
    // comes back whole, including a run split over two words.
    const QString nineteen = k18Kana + QStringLiteral("テ");
    QCOMPARE(DecodeHeaderText(EncodeHeaderText(QStringLiteral("件名:山田様"))),
             QStringLiteral(" 件名 : 山田様 "));
    QCOMPARE(DecodeHeaderText(EncodeHeaderText(nineteen)),
             QString(u' ' + k18Kana + QStringLiteral(" テ ")));
}

QTEST_APPLESS_MAIN(TestBase64Mime)

#include "tst_base64mime.moc"
