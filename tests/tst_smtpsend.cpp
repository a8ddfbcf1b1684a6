// The SMTP job against a scripted server. The form around it is tested
// through the window in tst_frmsend.

#include "Cp932.h"
#include "FakeServer.h"
#include "SmtpSend.h"

#include <QSignalSpy>
#include <QTest>

namespace {

SmtpSend::Settings Settings(quint16 port, int replyTimeoutMs = 5000)
{
    SmtpSend::Settings s{
        QStringLiteral("127.0.0.1"), QString::number(port), QStringLiteral("host1"), {}};
    s.limits.replyTimeoutMs = replyTimeoutMs;
    s.limits.quitTimeoutMs = 2000;
    return s;
}

/// Sends the mail "x" to the recipients; the errors reported, or "sent".
QStringList Deliver(const SmtpSend::Settings &settings, const QStringList &recipients,
                    const QString &from = QStringLiteral("user1@host1"))
{
    SmtpSend job(settings);
    QStringList outcome;
    QObject::connect(&job, &SmtpSend::sent, [&] { outcome << QStringLiteral("sent"); });
    QObject::connect(&job, &SmtpSend::failed, [&](const QString &e) { outcome << e; });
    QSignalSpy closed(&job, &SmtpSend::closed);
    job.sendMail(from, recipients, "x");
    closed.wait(10000);
    return outcome;
}

} // namespace

class TestSmtpSend : public QObject
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
        QTest::newRow("550 to RCPT TO")
            << int(FakeServer::Chunking::Whole) << QByteArray("RCPT TO:<a@b>")
            << QByteArray("550 5.1.1 <a@b>: no such user");
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
        QString expected = failAt.isNull() ? QStringLiteral("sent") : "recv:" + QString(reply);
        if (failAt.startsWith("RCPT")) // the box names the refused recipient
            expected += QStringLiteral("\r\n宛先: a@b");
        QCOMPARE(outcome, QStringList(expected));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void dotStuffing()
    {
        QCOMPARE(SmtpDataBlock(".\r\n.abc\r\nx.\r\n..\r\nend"),
                 QByteArray("..\r\n..abc\r\nx.\r\n...\r\nend\r\n\r\n.\r\n"));
        QCOMPARE(SmtpDataBlock("a\r\n"), QByteArray("a\r\n\r\n.\r\n"));
    }

    void failures_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("error");
        const QString unsafe = QStringLiteral("改行などの制御文字を含むため送信できません: ");
        QTest::newRow("refused port") << 0 << QStringLiteral("connect:接続が拒否された。");
        QTest::newRow("silent server") << 1 << QStringLiteral("recv:接続処理タイムアウト。");
        QTest::newRow("silence after the end of data")
            << 2
            << QStringLiteral("recv:接続処理タイムアウト。\r\nメッセージは既に配送されている可能性"
                              "があります。再送信すると重複することがあります。");
        QTest::newRow("line break in a recipient")
            << 3 << "RCPT TO:" + unsafe + "a@b?RCPT TO:<x@y>";
        QTest::newRow("NUL in the sender") << 4 << "MAIL FROM:" + unsafe + "me?@host1";
        QTest::newRow("greeting 554, then close") << 5 << QStringLiteral("recv:554 go away");
    }
    void failures()
    {
        QFETCH(int, kind);
        QFETCH(QString, error);
        FakeServer server;
        SmtpSend::Settings s = Settings(kind == 0 ? FakeServer::closedPort() : server.port(),
                                        kind == 1 || kind == 2 ? 300 : 5000);
        QStringList to{QStringLiteral("c@d")};
        QString from = QStringLiteral("user1@host1");
        if (kind == 2) {
            server.send("220 hi").expect("HELO host1").send("250 ok");
            server.expect("MAIL FROM:<user1@host1>").send("250 ok").expect("RCPT TO:<c@d>");
            server.send("250 ok").expect("DATA").send("354 go").expect("x").expect("").expect(".");
        }
        if (kind == 3)
            to = QStringList{QStringLiteral("a@b\nRCPT TO:<x@y>")};
        if (kind == 4)
            from = QStringLiteral("me") + QChar(0) + QStringLiteral("@host1");
        if (kind == 5)
            server.send("554 go away").close();
        QCOMPARE(Deliver(s, to, from), QStringList(error));
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        if (kind == 3 || kind == 4) // nothing went out, not even a connection
            QCOMPARE(server.connections(), 0);
    }

    void commandsGoOutInCodePage932()
    {
        FakeServer server;
        const QString from = QStringLiteral("営業@host1");
        server.send("220 hi").expect("HELO host1").send("250 ok");
        server.expect("MAIL FROM:<" + Cp932::Encode(from) + ">").send("250 ok");
        server.expect("RCPT TO:<c@d>").send("250 ok").expect("DATA").send("354 go");
        server.expect("x").expect("").expect(".").send("250 ok").expect("QUIT").send("221 bye");
        QCOMPARE(Deliver(Settings(server.port()), {QStringLiteral("c@d")}, from),
                 QStringList(QStringLiteral("sent")));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }
};

QTEST_GUILESS_MAIN(TestSmtpSend)
#include "tst_smtpsend.moc"
