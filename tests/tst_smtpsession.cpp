#include "FakeServer.h"
#include "SmtpSession.h"

#include <QSignalSpy>
#include <QTest>

namespace {

SmtpSession::Settings Settings(quint16 port)
{
    SmtpSession::Settings s;
    s.server = QStringLiteral("127.0.0.1");
    s.port = QString::number(port);
    s.heloName = QStringLiteral("host1");
    s.replyTimeoutMs = 5000;
    s.quitTimeoutMs = 2000;
    return s;
}

const QByteArray Mail = "Subject:x\r\nTo:user2@host1,user3@host1\r\n\r\nline one\r\nline two";

struct Run
{
    QList<QString> status;
    int sent = 0;
    QStringList errors;
};

Run Deliver(FakeServer &server, const QStringList &recipients, const QByteArray &mail = Mail)
{
    SmtpSession session(Settings(server.port()));
    Run run;
    QObject::connect(&session, &SmtpSession::statusText,
                     [&run](const QString &s) { run.status << s; });
    QObject::connect(&session, &SmtpSession::sent, [&run] { ++run.sent; });
    QObject::connect(&session, &SmtpSession::failed, [&run](const QString &e) { run.errors << e; });
    QSignalSpy closed(&session, &SmtpSession::closed);
    session.sendMail(QStringLiteral("user1@host1"), recipients, mail);
    closed.wait(10000);
    return run;
}

} // namespace

class TestSmtpSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void transcript_data()
    {
        QTest::addColumn<int>("chunking");
        QTest::newRow("whole") << int(FakeServer::Chunking::Whole);
        QTest::newRow("bytes") << int(FakeServer::Chunking::Bytes);
    }
    void transcript()
    {
        QFETCH(int, chunking);
        FakeServer server{FakeServer::Chunking(chunking)};
        server.send("220 host1 ESMTP")
            .expect("HELO host1")
            .send("250 host1")
            .expect("MAIL FROM:<user1@host1>")
            .send("250 2.1.0 Ok")
            .expect("RCPT TO:<user2@host1>")
            .send("250 2.1.5 Ok")
            .expect("RCPT TO:<user3@host1>")
            .send("250 2.1.5 Ok")
            .expect("DATA")
            .send("354 End data with <CR><LF>.<CR><LF>")
            .expect("Subject:x")
            .expect("To:user2@host1,user3@host1")
            .expect("")
            .expect("line one")
            .expect("line two")
            .expect("")
            .expect(".")
            .send("250 2.0.0 Ok: queued as 1234")
            .expect("QUIT")
            .send("221 Bye");
        const Run run = Deliver(server, {"user2@host1", " user3@host1 ", "", "  "});
        QCOMPARE(run.errors, QStringList());
        QCOMPARE(run.sent, 1);
        QVERIFY2(server.done(), qPrintable(server.failure()));
        QCOMPARE(server.failure(), QString());
        QVERIFY(run.status.contains("RCPT TO:<user3@host1>"));
        QVERIFY(run.status.contains("line two"));
    }

    void multiLineGreeting_data()
    {
        QTest::addColumn<bool>("twoReads");
        QTest::newRow("one read") << false;
        QTest::newRow("two reads") << true;
    }
    void multiLineGreeting()
    {
        QFETCH(bool, twoReads);
        FakeServer server{twoReads ? FakeServer::Chunking::Whole : FakeServer::Chunking::Glued};
        server.send("220-host1 welcome").send("220 ready");
        server.expect("HELO host1")
            .send("250-host1\r\n250-PIPELINING\r\n250 8BITMIME", true)
            .expect("MAIL FROM:<user1@host1>")
            .send("250 ok")
            .expect("RCPT TO:<a@b>")
            .send("250 ok")
            .expect("DATA")
            .send("354 go")
            .expect("x")
            .expect("")
            .expect(".")
            .send("250 ok")
            .expect("QUIT")
            .send("221 bye");
        const Run run = Deliver(server, {"a@b"}, "x");
        QCOMPARE(run.errors, QStringList());
        QCOMPARE(run.sent, 1);
        QVERIFY2(server.done(), qPrintable(server.failure()));
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("failAt"); // the client line answered badly
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("251 to RCPT")
            << QByteArray("RCPT TO:<a@b>") << QByteArray("251 User not local; will forward");
        QTest::newRow("554 after the data")
            << QByteArray(".") << QByteArray("554 5.7.1 rejected: spam");
        QTest::newRow("bad greeting") << QByteArray() << QByteArray("554 go away");
        QTest::newRow("DATA refused") << QByteArray("DATA") << QByteArray("451 try later");
    }
    void failures()
    {
        QFETCH(QByteArray, failAt);
        QFETCH(QByteArray, reply);
        FakeServer server;
        const QList<std::pair<QByteArray, QByteArray>> dialogue{
            {QByteArray(), "220 hi"},
            {"HELO host1", "250 ok"},
            {"MAIL FROM:<user1@host1>", "250 ok"},
            {"RCPT TO:<a@b>", "250 ok"},
            {"DATA", "354 go"},
            {"x", QByteArray()},
            {"", QByteArray()},
            {".", "250 ok"}};
        for (const auto &[line, answer] : dialogue) {
            if (!line.isNull() || !answer.startsWith("220"))
                server.expect(line);
            if (line == failAt) {
                server.send(reply);
                break;
            }
            if (!answer.isEmpty())
                server.send(answer);
        }
        const Run run = Deliver(server, {"a@b"}, "x");
        QCOMPARE(run.sent, 0);
        QCOMPARE(run.errors, QStringList{"recv:" + QString::fromLatin1(reply)});
        QVERIFY2(server.done(), qPrintable(server.failure()));
        QVERIFY(!run.status.contains("Message Sent!"));
    }

    void dotStuffing()
    {
        QCOMPARE(SmtpDataBlock(".\r\n.abc\r\nx.\r\n..\r\nend"),
                 QByteArray("..\r\n..abc\r\nx.\r\n...\r\nend\r\n\r\n.\r\n"));
        QCOMPARE(SmtpDataBlock("a\r\n"), QByteArray("a\r\n\r\n.\r\n"));
        QCOMPARE(SmtpDataBlock(""), QByteArray("\r\n.\r\n"));
    }

    void framing()
    {
        QCOMPARE(FrameSmtpReply("250-a\r\n250-b\r\n").complete, false);
        const SmtpFrame f = FrameSmtpReply("250-a\r\n250 b\r\n354 x\r\n");
        QVERIFY(f.complete);
        QCOMPARE(f.length, qsizetype(14));
        QCOMPARE(FrameSmtpReply("250").complete, false);
        QVERIFY(FrameSmtpReply("25\r\n").complete);
    }

    void refusedAndSilent()
    {
        quint16 freePort = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            freePort = probe.serverPort();
        }
        SmtpSession session(Settings(freePort));
        QSignalSpy failed(&session, &SmtpSession::failed);
        QSignalSpy closed(&session, &SmtpSession::closed);
        session.sendMail("a@b", {"c@d"}, "x");
        QVERIFY(closed.wait(5000));
        QCOMPARE(failed.first().first().toString(), QStringLiteral("connect:接続が拒否された。"));

        FakeServer silent;
        SmtpSession::Settings s = Settings(silent.port());
        s.replyTimeoutMs = 200;
        SmtpSession quiet(s);
        QSignalSpy quietFailed(&quiet, &SmtpSession::failed);
        quiet.sendMail("a@b", {"c@d"}, "x");
        QVERIFY(quietFailed.wait(5000));
        QCOMPARE(quietFailed.first().first().toString(),
                 QStringLiteral("recv:接続処理タイムアウト。"));
    }
};

QTEST_GUILESS_MAIN(TestSmtpSession)
#include "tst_smtpsession.moc"
