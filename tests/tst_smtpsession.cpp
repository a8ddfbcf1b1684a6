// The SMTP dialogue against a scripted server. The transcript of a whole send
// and the form around it are tested through the window in tst_frmsend.

#include "FakeServer.h"
#include "SmtpSession.h"

#include <QSignalSpy>
#include <QTest>

namespace {

SmtpSession::Settings Settings(quint16 port, int replyTimeoutMs = 5000)
{
    return {QStringLiteral("127.0.0.1"), QString::number(port), QStringLiteral("host1"),
            replyTimeoutMs, 2000};
}

/// Sends the mail "x" to the recipients; the errors reported, or "sent".
QStringList Deliver(const SmtpSession::Settings &settings, const QStringList &recipients)
{
    SmtpSession session(settings);
    QStringList outcome;
    QObject::connect(&session, &SmtpSession::sent, [&] { outcome << QStringLiteral("sent"); });
    QObject::connect(&session, &SmtpSession::failed, [&](const QString &e) { outcome << e; });
    QSignalSpy closed(&session, &SmtpSession::closed);
    session.sendMail(QStringLiteral("user1@host1"), recipients, "x");
    closed.wait(10000);
    return outcome;
}

} // namespace

class TestSmtpSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dialogue_data()
    {
        QTest::addColumn<int>("chunking");
        QTest::addColumn<QByteArray>("failAt"); // the client line answered badly
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("multi-line greeting in one read")
            << int(FakeServer::Chunking::Glued) << QByteArray() << QByteArray();
        QTest::newRow("multi-line greeting in two reads")
            << int(FakeServer::Chunking::Whole) << QByteArray() << QByteArray();
        QTest::newRow("251 to RCPT TO")
            << int(FakeServer::Chunking::Whole) << QByteArray("RCPT TO:<a@b>")
            << QByteArray("251 User not local; will forward");
        QTest::newRow("554 after the data") << int(FakeServer::Chunking::Whole) << QByteArray(".")
                                            << QByteArray("554 5.7.1 rejected: spam");
    }
    void dialogue()
    {
        QFETCH(int, chunking);
        QFETCH(QByteArray, failAt);
        QFETCH(QByteArray, reply);
        FakeServer server{FakeServer::Chunking(chunking)};
        server.send("220-host1 welcome").send("220 ready");
        const QList<std::pair<QByteArray, QByteArray>> dialogue{
            {"HELO host1", "250-host1\r\n250-PIPELINING\r\n250 8BITMIME"},
            {"MAIL FROM:<user1@host1>", "250 ok"},
            {"RCPT TO:<a@b>", "250 ok"}, // blanks trimmed, empty recipients skipped
            {"DATA", "354 go"},
            {"x", {}},
            {"", {}},
            {".", "250 ok"},
            {"QUIT", "221 bye"}};
        for (const auto &[line, answer] : dialogue) {
            server.expect(line);
            if (!failAt.isNull() && line == failAt) {
                server.send(reply);
                break;
            }
            if (!answer.isEmpty())
                server.send(answer);
        }
        const QStringList outcome = Deliver(Settings(server.port()), {" a@b ", "", "  "});
        QCOMPARE(outcome,
                 QStringList(failAt.isNull() ? QStringLiteral("sent") : "recv:" + QString(reply)));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void dotStuffingAndFraming()
    {
        QCOMPARE(SmtpDataBlock(".\r\n.abc\r\nx.\r\n..\r\nend"),
                 QByteArray("..\r\n..abc\r\nx.\r\n...\r\nend\r\n\r\n.\r\n"));
        QCOMPARE(SmtpDataBlock("a\r\n"), QByteArray("a\r\n\r\n.\r\n"));
        QVERIFY(!FrameSmtpReply("250-a\r\n250-b\r\n").complete);
        QVERIFY(!FrameSmtpReply("250").complete);
        const SmtpFrame f = FrameSmtpReply("250-a\r\n250 b\r\n354 x\r\n");
        QVERIFY(f.complete);
        QCOMPARE(f.length, qsizetype(14));
    }

    void refusedAndSilent()
    {
        QCOMPARE(Deliver(Settings(FakeServer::closedPort()), {"c@d"}),
                 QStringList(QStringLiteral("connect:接続が拒否された。")));
        FakeServer silent;
        QCOMPARE(Deliver(Settings(silent.port(), 200), {"c@d"}),
                 QStringList(QStringLiteral("recv:接続処理タイムアウト。")));
    }
};

QTEST_GUILESS_MAIN(TestSmtpSession)
#include "tst_smtpsession.moc"
