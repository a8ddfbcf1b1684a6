#include "HeaderLines.h"
#include "MemoMail.h"

#include <QRegularExpression>
#include <QTest>

namespace {
const QDateTime When(QDate(2026, 12, 6), QTime(9, 30));
const MemoSender Sender{QStringLiteral("総務部"), QStringLiteral("user1"), QStringLiteral("host1")};

QString Spaces(int n)
{
    return QString(n, QLatin1Char(' '));
}

/// What the POP3 server answers to RETR for a mail this program sent: the
/// servers' headers, the mail as sent, the empty line of the end of data and
/// the terminating line (dot-stuffed as on the wire).
QByteArray RetrAnswer(const QString &mail, const QByteArray &extraHeaders =
                                               "Message-Id: <1@host1>\r\nDate: Sun, 6 Dec 2026 "
                                               "09:30:00 +0900\r\n")
{
    QByteArray data = mail.toLatin1();
    const qsizetype blank = data.indexOf("\r\n\r\n");
    data.insert(blank + 2, extraHeaders);
    data = "Return-Path: <user1@host1>\r\n" + data + "\r\n\r\n";
    data.replace("\r\n.", "\r\n..");
    return "+OK 500 octets\r\n" + data + ".\r\n";
}
} // namespace

class TestMemoMail : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void workedExample()
    {
        const MemoValues memo = BuildMemoMail(
            '0', false, QStringLiteral("営業部"), QStringLiteral("担当者"),
            QStringLiteral("折り返しお願いします。\r\n内線123まで"),
            {QStringLiteral("user2@host1"), QStringLiteral("user3@host1")}, Sender, When);
        QCOMPARE(memo.MemoSubject, "0    12/06 09:30" + QStringLiteral("営業部") + Spaces(17) +
                                       QStringLiteral("担当者") + Spaces(17));
        const QString line1 =
            "Subject:0    12/06 09:30 =?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?=" + Spaces(16);
        QCOMPARE(line1.size(), 75);
        const QByteArray expected =
            (line1 + "\r\n   =?ISO-2022-JP?B?GyRCQzRFdjxUGyhC?=" + Spaces(18) + "\r\n").toLatin1() +
            "From:\" =?ISO-2022-JP?B?GyRCQW1MM0l0GyhC?= \" <user1@host1>\r\n"
            "To:user2@host1,user3@host1\r\n"
            "Content-Type: text/plain; charset=iso-2022-jp\r\n"
            "\r\n"
            "\x1b$B@^$jJV$7$*4j$$$7$^$9!#\x1b(B\r\n"
            "\x1b$BFb@~\x1b(B123\x1b$B$^$G\x1b(B";
        QCOMPARE(memo.MemoBody.toLatin1(), expected);
        QVERIFY(memo.MemoBody.startsWith(memo.MemoHeader));
        QCOMPARE(memo.MemoFromAddress, QStringLiteral("user1@host1"));
        QCOMPARE(memo.MemoFromName, QStringLiteral("総務部"));
        QCOMPARE(memo.MemoTo, QStringLiteral("user2@host1,user3@host1"));

        // Read back as the POP3 server hands it over.
        const ReadMail read = ParseRetrAnswer(RetrAnswer(memo.MemoBody));
        QCOMPARE(TrimSpaces(read.memo.MemoSubject), "0    12/06 09:30 " + QStringLiteral("営業部") +
                                                        Spaces(21) + QStringLiteral("担当者"));
        QCOMPARE(read.memo.MemoFromName, QStringLiteral("総務部"));
        QCOMPARE(read.memo.MemoFromAddress, QStringLiteral("user1@host1"));
        QCOMPARE(read.memo.MemoTo, QStringLiteral("user2@host1,user3@host1"));
        QCOMPARE(read.memo.MemoMessageId, QStringLiteral(" <1@host1>"));
        QCOMPARE(read.memo.MemoDate, QStringLiteral(" Sun, 6 Dec 2026 09:30:00 +0900"));
        QCOMPARE(read.memo.MemoBody,
                 QStringLiteral("折り返しお願いします。\r\n内線123まで\r\n\r\n."));
        const MemoView view = ViewOfMemo(read.memo);
        QCOMPARE(view.kind, QChar('0'));
        QVERIFY(!view.sealed);
        QCOMPARE(view.time, QStringLiteral("12/06 09:30"));
        QCOMPARE(view.department, QStringLiteral("営業部"));
        QCOMPARE(view.caller, QStringLiteral("担当者"));
        QCOMPARE(view.text, QStringLiteral("折り返しお願いします。\r\n内線123まで\r\n"));

        QCOMPARE(read.row.MessageId, QStringLiteral("<1@host1>"));
        QCOMPARE(read.row.Key, QStringLiteral("<1@host1>"));
        QCOMPARE(read.row.Date, QStringLiteral("Sun, 6 Dec 2026 09:30:00 +0900"));
        QCOMPARE(read.row.From, QStringLiteral("\" 総務部 \" <user1@host1>"));
        QCOMPARE(read.row.Subject, TrimSpaces(read.memo.MemoSubject));
    }

    void asciiAndEmptyBodies()
    {
        const MemoValues ascii =
            BuildMemoMail('*', true, "ACME", "Bob", "call me", {"a@b"}, Sender, When);
        QVERIFY(ascii.MemoHeader.contains("Content-Type: text/plain; charset=us-ascii\r\n\r\n"));
        QVERIFY(ascii.MemoBody.endsWith("\r\n\r\ncall me"));
        QVERIFY(ascii.MemoSubject.startsWith("*1   12/06 09:30ACME"));

        const MemoValues empty = BuildMemoMail('1', false, "", "", "   ", {"a@b"}, Sender, When);
        QVERIFY(empty.MemoBody.endsWith("us-ascii\r\n\r\n"));
        QCOMPARE(empty.MemoBody, empty.MemoHeader);
        QCOMPARE(empty.MemoSubject, "1    12/06 09:30" + Spaces(40));
    }

    void halfWidthKana()
    {
        const MemoValues memo =
            BuildMemoMail('2', false, QStringLiteral("ｶﾞｽ"), QStringLiteral("ﾀﾞﾝ"),
                          QStringLiteral("ｶﾞｽ"), {"a@b"}, Sender, When);
        const ReadMail read = ParseRetrAnswer(RetrAnswer(memo.MemoBody));
        const MemoView view = ViewOfMemo(read.memo);
        QCOMPARE(view.department, QStringLiteral("カ゛ス"));
        QCOMPARE(view.caller, QStringLiteral("タ゛ン"));
        QCOMPARE(view.text, QStringLiteral("ガス\r\n"));
    }

    void longFieldsAreCutAndSplit()
    {
        const QString org = QString(19, QChar(0x3042)); // 19 x あ: two encoded-words
        const MemoValues memo =
            BuildMemoMail('3', false, org, QString(25, 'x'), "", {"a@b"}, Sender, When);
        QCOMPARE(memo.MemoSubject.size(), 56);
        const ReadMail read = ParseRetrAnswer(RetrAnswer(memo.MemoBody));
        // Two words; the space (and a fold) between them stays in the value.
        const QRegularExpression split(QString(18, QChar(0x3042)) + " +" + QChar(0x3042) + " ");
        QVERIFY2(read.memo.MemoSubject.contains(split), qPrintable(read.memo.MemoSubject));
    }

    void injectionIsImpossible()
    {
        const MemoValues memo = BuildMemoMail(
            '0', false, "A\r\nBcc: x@y", "C\rD\x1b$B", "line1\nline2\rline3\x0e",
            {"a@b\r\nRCPT TO:<z@z>", "c@d"}, {"N\"ame\r\nX-Evil: 1", "user1", "host1"}, When);
        const QByteArray wire = memo.MemoBody.toLatin1();
        const QByteArray header = wire.left(wire.indexOf("\r\n\r\n") + 2);
        QVERIFY(!header.contains("\r\nBcc"));
        QVERIFY(!header.contains("\r\nX-Evil"));
        QVERIFY(!header.contains("\r\nRCPT"));
        QVERIFY(!header.contains('\x1b'));
        QVERIFY(header.contains("From:\"N\\\"ame X-Evil: 1\" <user1@host1>"));
        QCOMPARE(memo.MemoTo, QStringLiteral("a@bRCPT TO:<z@z>,c@d"));
        // Every line break of the body is CR LF; no bare CR or LF, no shift codes.
        const QByteArray body = wire.mid(wire.indexOf("\r\n\r\n") + 4);
        QCOMPARE(body, QByteArray("line1\r\nline2\r\nline3?"));
        QVERIFY(!wire.contains('\0'));
        for (qsizetype i = 0; i < wire.size(); ++i) {
            if (wire[i] == '\r')
                QCOMPARE(wire[i + 1], '\n');
            if (wire[i] == '\n')
                QCOMPARE(wire[i - 1], '\r');
        }
    }

    void dotLinesReadBack()
    {
        const MemoValues memo =
            BuildMemoMail('0', true, "", "", ".xyz\r\n.\r\n..two", {"a@b"}, Sender, When);
        const QByteArray answer = RetrAnswer(memo.MemoBody);
        QVERIFY(answer.contains("\r\n..xyz\r\n..\r\n...two"));
        const MemoView view = ViewOfMemo(ParseRetrAnswer(answer).memo);
        QCOMPARE(view.text, QStringLiteral(".xyz\r\n.\r\n..two\r\n"));
        QVERIFY(view.sealed);
    }

    void foreignMail()
    {
        const QByteArray answer =
            "+OK\r\nFrom: \"A\" <a@b>\r\nSubject: =?iso-2022-jp?B?GyRCOzNFRBsoQg==?= hi\r\n"
            "To: x@y\r\nMessage-ID:   <m@x>  \r\n\r\nhello\r\n.\r\n";
        const ReadMail read = ParseRetrAnswer(answer);
        QCOMPARE(read.memo.MemoFromName, QStringLiteral("\"A\""));
        QCOMPARE(read.memo.MemoSubject, QStringLiteral(" 山田 hi"));
        QCOMPARE(read.row.Key, QStringLiteral("<m@x>"));
        QCOMPARE(read.memo.MemoKey, QStringLiteral("<m@x>"));
        QCOMPARE(read.memo.MemoBody, QStringLiteral("hello\r\n."));
    }

    void mailsWithoutMessageIdHaveKeysOfTheirOwn()
    {
        const QByteArray a = "+OK 10 octets\r\nSubject:x\r\n\r\none\r\n.\r\n";
        const QByteArray b = "+OK 10 octets\r\nSubject:x\r\n\r\ntwo\r\n.\r\n";
        const QString keyA = ParseRetrAnswer(a).row.Key;
        QVERIFY(!keyA.isEmpty());
        QVERIFY(keyA != ParseRetrAnswer(b).row.Key);
        QVERIFY(ParseRetrAnswer(a).row.MessageId.isEmpty());
        // The same message gives the same key at the next check, whatever the status line.
        QCOMPARE(ParseRetrAnswer("+OK 99 octets\r\nSubject:x\r\n\r\none\r\n.\r\n").row.Key, keyA);
    }

    void malformed_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("status only") << QByteArray("+OK\r\n");
        QTest::newRow("no blank line") << QByteArray("+OK\r\nSubject: a\r\n.\r\n");
        QTest::newRow("blank at end") << QByteArray("+OK\r\nSubject: a\r\n\r\n");
        QTest::newRow("high bytes") << QByteArray("+OK\r\nSubject: \x82\r\n\r\n\x82\xff\x1b$B");
    }
    void malformed()
    {
        QFETCH(QByteArray, answer);
        const ReadMail read = ParseRetrAnswer(answer);
        const MemoView view = ViewOfMemo(read.memo);
        QVERIFY(!read.row.Key.isEmpty());
        QVERIFY(view.text.size() <= read.memo.MemoBody.size());
    }

    void undoDotStuffing()
    {
        QCOMPARE(UndoDotStuffing("+OK\r\n..a\r\n...\r\n.\r\n"),
                 QByteArray("+OK\r\n.a\r\n..\r\n.\r\n"));
        QCOMPARE(UndoDotStuffing("+OK\r\nno dots\r\n.\r\n"), QByteArray("+OK\r\nno dots\r\n.\r\n"));
    }
};

QTEST_APPLESS_MAIN(TestMemoMail)
#include "tst_memomail.moc"
