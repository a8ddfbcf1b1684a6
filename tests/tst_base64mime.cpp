#include "Base64Mime.h"

#include <QTest>

namespace {

const QString Yamada = QStringLiteral("=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=");
const QString Eigyoubu = QStringLiteral("=?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?=");
// アイウエオカキクケコサシスセソタチツ and テ, as encoded by another mailer.
const QString Kana18 = QStringLiteral("アイウエオカキクケコサシスセソタチツ");
const QString Kana18Word =
    QStringLiteral("=?ISO-2022-JP?B?GyRCJSIlJCUmJSglKiUrJS0lLyUxJTMlNSU3JTklOyU9JT8lQSVEGyhC?=");
const QString TeWord = QStringLiteral("=?ISO-2022-JP?B?GyRCJUYbKEI=?=");

} // namespace

class TestBase64Mime : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void base64()
    {
        QCOMPARE(Base64Char(0) + Base64Char(62) + Base64Char(63), QStringLiteral("A+/"));
        QCOMPARE(Base64Char(-1) + Base64Char(64), QString());
        QCOMPARE(Base64Encode("a"), QStringLiteral("YQ=="));
        QCOMPARE(Base64Encode("ab"), QStringLiteral("YWI="));
        QCOMPARE(Base64Encode("abc"), QStringLiteral("YWJj"));
        QCOMPARE(Base64Encode("\xFB\xFF"), QStringLiteral("+/8="));
        const QByteArray hundred(100, 'x'); // no line breaks
        QCOMPARE(Base64Encode(hundred), QString::fromLatin1(hundred.toBase64()));
    }

    void encode()
    {
        QCOMPARE(EncodeWord(QStringLiteral("営業部")), Eigyoubu);
        QCOMPARE(EncodeWord(QStringLiteral("山田")), Yamada);
        QCOMPARE(EncodeWord(Kana18), Kana18Word);
        QCOMPARE(EncodeHeaderText(QStringLiteral("Subject:0    12/06 09:30営業部\r\n")),
                 "Subject:0    12/06 09:30 " + Eigyoubu + " \r\n");
        QCOMPARE(EncodeHeaderText(Kana18 + QStringLiteral("テ")),
                 QString(u' ' + Kana18Word + u' ' + TeWord + u' '));
        QCOMPARE(EncodeHeaderText(QStringLiteral("山田 A営業部")),
                 QString(u' ' + Yamada + QStringLiteral("  A ") + Eigyoubu + u' '));
        QCOMPARE(EncodeHeaderText(QStringLiteral("From: a@b\r\n")),
                 QStringLiteral("From: a@b\r\n"));
        // The header leaves as plain ASCII: emoji, yen sign, ESC.
        QCOMPARE(EncodeHeaderText(QStringLiteral("a😀¥\x1b$B")), QStringLiteral("a?\\?$B"));
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

    void base64JisDecode()
    {
        QCOMPARE(Base64JisDecode(QStringLiteral("GyRCOzNFRBsoQg==")), QStringLiteral("山田"));
        QCOMPARE(Base64JisDecode(Kana18Word.mid(16, 56)), Kana18);
        // A foreign word ending in ASCII keeps its last character.
        QCOMPARE(Base64JisDecode(QStringLiteral("QUJD")), QStringLiteral("ABC"));
        QCOMPARE(Base64JisDecode(QStringLiteral("QUI=")), QStringLiteral("AB"));
        QCOMPARE(Base64JisDecode(QStringLiteral("ir8=")), QStringLiteral("漢")); // Shift_JIS
        QCOMPARE(Base64JisDecode(QStringLiteral("sQ==")), QStringLiteral("ｱ"));
        QCOMPARE(Base64JisDecode(QStringLiteral("GyRC\r\nOzNF RBso\tQg")), QStringLiteral("山田"));
        QCOMPARE(Base64JisDecode(QStringLiteral("QUJD=QUJD")), QStringLiteral("ABC"));
        QCOMPARE(Base64JisDecode(QStringLiteral("!*?~ é漢Q")), QString());
    }

    void decodeHeaderText()
    {
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?iso-2022-jp?b?GyRCOzNFRBsoQg==?= 様")),
                 QStringLiteral("山田 様"));
        QCOMPARE(DecodeHeaderText("Re: " + Yamada + " " + Eigyoubu + "(2)"),
                 QStringLiteral("Re: 山田 営業部(2)"));
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?ISO-2022-JP?B?QUJD?=")), QStringLiteral("ABC"));
        QCOMPARE(DecodeHeaderText(Yamada + " =?iso-2022-jp?B?QUJD"),
                 QStringLiteral("山田 =?iso-2022-jp?B?QUJD"));
        QCOMPARE(DecodeHeaderText(QStringLiteral("a=?ISO-2022-JP?B?"
                                                 "?=b")),
                 QStringLiteral("ab"));
        for (const char *kept : {"=?UTF-8?B?5bGx55Sw?=", "=?ISO-2022-JP?Q?=1B$B;3ED=1B(B?=",
                                 "=?ISO-2022-JP?B", "Tanaka <tanaka@example.jp>"})
            QCOMPARE(DecodeHeaderText(QString::fromLatin1(kept)), QString::fromLatin1(kept));
        // The spaces the encoder inserts survive decoding; the text between
        // them comes back whole, including a run split over two words.
        QCOMPARE(DecodeHeaderText(EncodeHeaderText(QStringLiteral("件名:山田様"))),
                 QStringLiteral(" 件名 : 山田様 "));
        QCOMPARE(DecodeHeaderText(EncodeHeaderText(Kana18 + QStringLiteral("テ"))),
                 QString(u' ' + Kana18 + QStringLiteral(" テ ")));
    }
};

QTEST_APPLESS_MAIN(TestBase64Mime)
#include "tst_base64mime.moc"
