#include "FakeServer.h"
#include "Pop3Session.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray Memo(const QByteArray &id, const QByteArray &text)
{
    return "+OK 120 octets\r\nSubject:0    12/06 09:30ACME\r\nMessage-Id: " + id + "\r\n\r\n" +
           text + "\r\n\r\n.\r\n";
}

Pop3Session::Settings Settings(quint16 port, const QString &sleep = QStringLiteral("0"))
{
    return {QStringLiteral("127.0.0.1"),
            QString::number(port),
            QStringLiteral("user1"),
            QStringLiteral("pass"),
            sleep,
            5000,
            2000};
}

/// Greeting, login and STAT, answered with stat.
FakeServer &Login(FakeServer &server, const QByteArray &stat, const QByteArray &greeting = "+OK")
{
    server.send(greeting).expect("USER user1").send("+OK").expect("PASS pass");
    return server.send("+OK logged in").expect("STAT").send(stat);
}

/// Two messages, the second sent right after the first, before its RETR.
FakeServer &TwoMessages(FakeServer &server)
{
    Login(server, "+OK 2 320").expect("RETR 1").send(Memo("<1@x>", "one\r\n..dot"), false);
    return server.send(Memo("<2@x>", "two"), false).expect("RETR 2");
}

} // namespace

class TestPop3Session : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void twoMessagesThenDelete_data()
    {
        QTest::addColumn<int>("chunking");
        QTest::addColumn<QString>("sleep");
        QTest::newRow("whole replies") << int(FakeServer::Chunking::Whole) << "0";
        QTest::newRow("one byte at a time") << int(FakeServer::Chunking::Bytes) << "0";
        QTest::newRow("replies glued") << int(FakeServer::Chunking::Glued) << "0";
        QTest::newRow("bytes, pause before reads") << int(FakeServer::Chunking::Bytes) << "20";
    }
    void twoMessagesThenDelete()
    {
        QFETCH(int, chunking);
        QFETCH(QString, sleep);
        FakeServer server{FakeServer::Chunking(chunking)};
        TwoMessages(server).expect("DELE 2").send("+OK deleted").expect("QUIT").send("+OK bye");
        Pop3Session session(Settings(server.port(), sleep));
        QStringList status;
        connect(&session, &Pop3Session::statusText, this, [&](const QString &s) { status << s; });
        QSignalSpy retrieved(&session, &Pop3Session::messageRetrieved);
        QSignalSpy finished(&session, &Pop3Session::checkFinished);
        session.startCheck();
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.at(0).at(0).toBool(), false); // not empty
        QCOMPARE(retrieved.count(), 2);
        QCOMPARE(retrieved.at(0).at(1).toByteArray(), Memo("<1@x>", "one\r\n..dot"));
        QCOMPARE(retrieved.at(1).at(1).toByteArray(), Memo("<2@x>", "two"));
        QCOMPARE(status.last(), QString());
        status.removeIf([](const QString &s) { return s.isEmpty() || s.startsWith('+'); });
        QCOMPARE(status, (QStringList{"Connecting...", "USER user1", "PASS ****", "STAT", "RETR 1",
                                      "RETR 2"}));

        // The idle session deletes; it is busy until the reply.
        QSignalSpy deleted(&session, &Pop3Session::messageDeleted);
        QVERIFY(session.isIdle() && session.deleteMessage(2));
        QCOMPARE(int(session.state()), 8);
        QVERIFY(!session.deleteMessage(1));
        QVERIFY(deleted.wait(5000));
        QCOMPARE(deleted.at(0).at(0).toInt(), 2);
        QCOMPARE(int(session.state()), 0);
        QSignalSpy closed(&session, &Pop3Session::closed);
        session.quit();
        QVERIFY(closed.wait(5000));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void emptyMailboxAndLowerCaseGreeting()
    {
        FakeServer server;
        Login(server, "+OK 0 0", "+ok hello").expect("QUIT").send("+OK");
        Pop3Session session(Settings(server.port()));
        QSignalSpy status(&session, &Pop3Session::statusText);
        QSignalSpy finished(&session, &Pop3Session::checkFinished);
        session.startCheck();
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(int(session.state()), 7);
        QCOMPARE(status.last().first().toString(), QStringLiteral("No Message."));
        QTest::qWait(50);
        QCOMPARE(server.received().last(), QByteArray("STAT")); // no QUIT until ended
        QSignalSpy closed(&session, &Pop3Session::closed);
        session.quit();
        QVERIFY(closed.wait(5000));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void failures_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("wrong password") << 0 << "recv:-ERR [AUTH] Authentication failed.";
        QTest::newRow("closed in the middle of RETR")
            << 1 << QStringLiteral("recv:リモートホストから切断された。");
        QTest::newRow("negative RETR ends with QUIT") << 2 << "recv:-ERR no such message";
        QTest::newRow("refused port") << 3 << QStringLiteral("connect:接続が拒否された。");
        QTest::newRow("unknown host") << 4 << QStringLiteral("connect:ホストが見つからない。");
        QTest::newRow("silent server") << 5 << QStringLiteral("recv:接続処理タイムアウト。");
    }
    void failures()
    {
        QFETCH(int, kind);
        QFETCH(QString, error);
        FakeServer server;
        if (kind == 0)
            server.send("+OK").expect("USER user1").send("+OK").expect("PASS pass");
        if (kind == 0)
            server.send("-ERR [AUTH] Authentication failed.");
        else if (kind <= 2)
            Login(server, "+OK 1 100").expect("RETR 1");
        if (kind == 1)
            server.send("+OK 100\r\nSubject: x\r\n", false).close();
        if (kind == 2)
            server.send("-ERR no such message").expect("QUIT").send("+OK");
        Pop3Session::Settings s =
            Settings(kind == 3 || kind == 4 ? FakeServer::closedPort() : server.port());
        if (kind == 4)
            s.server = QStringLiteral("no-such-host.invalid");
        if (kind == 5)
            s.replyTimeoutMs = 300;
        Pop3Session session(s);
        QSignalSpy failed(&session, &Pop3Session::failed);
        QSignalSpy closed(&session, &Pop3Session::closed);
        session.startCheck();
        QVERIFY(closed.wait(20000));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), error);
        QVERIFY2(server.ok(), qPrintable(server.failure()));
        QVERIFY(session.isClosed());
    }

    void quitDuringRetrWaitsForTheAnswer()
    {
        FakeServer server{FakeServer::Chunking::Bytes};
        Login(server, "+OK 1 100").expect("RETR 1").send(Memo("<1>", "+OK lookalike"), false);
        server.expect("QUIT").send("+OK");
        Pop3Session session(Settings(server.port()));
        QSignalSpy closed(&session, &Pop3Session::closed);
        connect(&session, &Pop3Session::statusText, &session, [&session](const QString &s) {
            if (s == QLatin1String("RETR 1"))
                session.quit();
        });
        session.startCheck();
        QVERIFY(closed.wait(10000));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }
};

QTEST_GUILESS_MAIN(TestPop3Session)
#include "tst_pop3session.moc"
