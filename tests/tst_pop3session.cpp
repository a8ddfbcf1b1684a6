#include "FakeServer.h"
#include "Pop3Session.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray Memo(const QByteArray &id, const QByteArray &text)
{
    return "+OK 120 octets\r\nSubject:0    12/06 09:30ACME\r\nFrom:\"A\" <a@host1>\r\n"
           "Message-Id: " +
           id + "\r\n\r\n" + text + "\r\n\r\n.\r\n";
}

Pop3Session::Settings Settings(quint16 port, const QString &sleep = QStringLiteral("0"))
{
    Pop3Session::Settings s;
    s.server = QStringLiteral("127.0.0.1");
    s.port = QString::number(port);
    s.userId = QStringLiteral("user1");
    s.password = QStringLiteral("pass");
    s.sleep = sleep;
    s.replyTimeoutMs = 5000;
    s.quitTimeoutMs = 2000;
    return s;
}

FakeServer &Login(FakeServer &server, const QByteArray &greeting = "+OK ready")
{
    return server.send(greeting)
        .expect("USER user1")
        .send("+OK")
        .expect("PASS pass")
        .send("+OK logged in")
        .expect("STAT");
}

} // namespace

class TestPop3Session : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void twoMessages_data()
    {
        QTest::addColumn<int>("chunking");
        QTest::addColumn<QString>("sleep");
        QTest::newRow("whole replies") << int(FakeServer::Chunking::Whole) << "0";
        QTest::newRow("one byte at a time") << int(FakeServer::Chunking::Bytes) << "0";
        QTest::newRow("replies glued") << int(FakeServer::Chunking::Glued) << "0";
        QTest::newRow("bytes with a pause before reads")
            << int(FakeServer::Chunking::Bytes) << "20";
    }
    void twoMessages()
    {
        QFETCH(int, chunking);
        QFETCH(QString, sleep);
        FakeServer server{FakeServer::Chunking(chunking)};
        const QByteArray first = Memo("<1@x>", "one\r\n..dot");
        const QByteArray second = Memo("<2@x>", "two");
        // The second answer arrives glued to the first in one read: it is kept
        // for the RETR 2 that follows, not lost.
        Login(server).send("+OK 2 320").expect("RETR 1").send(first, false).send(second, false);
        server.expect("RETR 2").expect("QUIT").send("+OK bye");

        Pop3Session session(Settings(server.port(), sleep));
        QStringList status;
        connect(&session, &Pop3Session::statusText, this,
                [&status](const QString &s) { status << s; });
        QSignalSpy retrieved(&session, &Pop3Session::messageRetrieved);
        QSignalSpy finished(&session, &Pop3Session::checkFinished);
        QSignalSpy greeted(&session, &Pop3Session::greeted);
        QSignalSpy failed(&session, &Pop3Session::failed);
        session.startCheck();
        QVERIFY(finished.wait(10000));
        QCOMPARE(failed.count(), 0);
        QCOMPARE(greeted.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QCOMPARE(retrieved.count(), 2);
        QCOMPARE(retrieved.at(0).at(1).toByteArray(), first);
        QCOMPARE(retrieved.at(1).at(1).toByteArray(), second);
        QVERIFY(session.isIdle());
        QCOMPARE(int(session.state()), 0);

        const QStringList commands{"Connecting...", "USER user1", "PASS ****",
                                   "STAT",          "RETR 1",     "RETR 2"};
        qsizetype at = 0;
        for (const QString &s : status) {
            if (at < commands.size() && s == commands[at])
                ++at;
        }
        QCOMPARE(at, commands.size());
        QCOMPARE(status.last(), QString());
        QVERIFY(!status.join('|').contains("pass"));

        QSignalSpy closed(&session, &Pop3Session::closed);
        session.quit();
        QVERIFY(closed.wait(5000));
        QVERIFY2(server.done(), qPrintable(server.failure()));
        QCOMPARE(server.failure(), QString());
    }

    void emptyMailboxAndLowerCaseGreeting()
    {
        FakeServer server;
        Login(server, "+ok hello").send("+OK 0 0").expect("QUIT").send("+OK");
        Pop3Session session(Settings(server.port()));
        QStringList status;
        connect(&session, &Pop3Session::statusText, this,
                [&status](const QString &s) { status << s; });
        QSignalSpy finished(&session, &Pop3Session::checkFinished);
        session.startCheck();
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(int(session.state()), 7);
        QCOMPARE(status.last(), QStringLiteral("No Message."));
        // No QUIT until the session is ended.
        QTest::qWait(50);
        QCOMPARE(server.received().last(), QByteArray("STAT"));
        QSignalSpy closed(&session, &Pop3Session::closed);
        session.quit();
        QVERIFY(closed.wait(5000));
        QVERIFY2(server.done(), qPrintable(server.failure()));
    }

    void threeMessagesByStat()
    {
        FakeServer server;
        Login(server).send("+OK 3 1200");
        for (int i = 1; i <= 3; ++i)
            server.expect("RETR " + QByteArray::number(i))
                .send(Memo("<" + QByteArray::number(i) + ">", "x"), false);
        Pop3Session session(Settings(server.port()));
        QSignalSpy retrieved(&session, &Pop3Session::messageRetrieved);
        QSignalSpy finished(&session, &Pop3Session::checkFinished);
        session.startCheck();
        QVERIFY(finished.wait(5000));
        QCOMPARE(retrieved.count(), 3);
        QCOMPARE(retrieved.at(2).at(0).toInt(), 3);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("afterStat");
        QTest::addColumn<bool>("wrongPassword");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("expectQuit");
        QTest::newRow("wrong password")
            << QByteArray() << true << "recv:-ERR [AUTH] Authentication failed." << false;
        QTest::newRow("closed in the middle of RETR")
            << QByteArray("+OK 100 octets\r\nSubject: x\r\n") << false
            << QStringLiteral("recv:リモートホストから切断された。") << false;
        QTest::newRow("negative RETR ends with QUIT")
            << QByteArray("-ERR no such message\r\n") << false << "recv:-ERR no such message"
            << true;
    }
    void failures()
    {
        QFETCH(QByteArray, afterStat);
        QFETCH(bool, wrongPassword);
        QFETCH(bool, expectQuit);
        FakeServer server;
        if (wrongPassword) {
            server.send("+OK")
                .expect("USER user1")
                .send("+OK")
                .expect("PASS pass")
                .send("-ERR [AUTH] Authentication failed.");
        } else {
            Login(server).send("+OK 1 100").expect("RETR 1").send(afterStat, false);
            if (expectQuit)
                server.expect("QUIT").send("+OK");
            else
                server.close();
        }
        Pop3Session session(Settings(server.port()));
        QSignalSpy failed(&session, &Pop3Session::failed);
        QSignalSpy closed(&session, &Pop3Session::closed);
        session.startCheck();
        QVERIFY(closed.wait(5000));
        QCOMPARE(failed.count(), 1);
        QTEST(failed.at(0).at(0).toString(), "error");
        QVERIFY2(server.done(), qPrintable(server.failure()));
        QVERIFY(session.isClosed());
    }

    void connectFailures_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("error");
        QTest::newRow("refused") << "127.0.0.1" << QStringLiteral("connect:接続が拒否された。");
        QTest::newRow("unknown host")
            << "no-such-host.invalid" << QStringLiteral("connect:ホストが見つからない。");
    }
    void connectFailures()
    {
        QFETCH(QString, host);
        quint16 freePort = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            freePort = probe.serverPort();
        }
        Pop3Session::Settings s = Settings(freePort);
        s.server = host;
        Pop3Session session(s);
        QSignalSpy failed(&session, &Pop3Session::failed);
        QSignalSpy closed(&session, &Pop3Session::closed);
        session.startCheck();
        QVERIFY(closed.wait(20000));
        QCOMPARE(failed.count(), 1);
        QTEST(failed.at(0).at(0).toString(), "error");
    }

    void silentServerTimesOut()
    {
        FakeServer server; // accepts, then says nothing
        Pop3Session::Settings s = Settings(server.port());
        s.replyTimeoutMs = 300;
        Pop3Session session(s);
        QSignalSpy failed(&session, &Pop3Session::failed);
        session.startCheck();
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("recv:接続処理タイムアウト。"));
        QVERIFY(session.isClosed());
    }

    void deleteOnIdleSessionEndsWithQuit()
    {
        FakeServer server;
        Login(server).send("+OK 2 200").expect("RETR 1").send(Memo("<1>", "a"), false);
        server.expect("RETR 2").send(Memo("<2>", "b"), false);
        server.expect("DELE 2").send("+OK deleted").expect("QUIT").send("+OK");
        Pop3Session session(Settings(server.port()));
        QSignalSpy finished(&session, &Pop3Session::checkFinished);
        QSignalSpy deleted(&session, &Pop3Session::messageDeleted);
        session.startCheck();
        QVERIFY(finished.wait(5000));
        QVERIFY(session.deleteMessage(2));
        QCOMPARE(int(session.state()), 8);
        QVERIFY(!session.deleteMessage(1)); // busy until the reply
        QVERIFY(deleted.wait(5000));
        QCOMPARE(deleted.at(0).at(0).toInt(), 2);
        QCOMPARE(int(session.state()), 0);
        QSignalSpy closed(&session, &Pop3Session::closed);
        session.quit();
        QVERIFY(closed.wait(5000));
        QVERIFY2(server.done(), qPrintable(server.failure()));
    }

    void quitDuringRetrWaitsForTheAnswer()
    {
        FakeServer server{FakeServer::Chunking::Bytes};
        Login(server).send("+OK 1 100").expect("RETR 1").send(Memo("<1>", "+OK lookalike"), false);
        server.expect("QUIT").send("+OK");
        Pop3Session session(Settings(server.port()));
        QSignalSpy closed(&session, &Pop3Session::closed);
        QSignalSpy retrieved(&session, &Pop3Session::messageRetrieved);
        connect(&session, &Pop3Session::statusText, &session, [&session](const QString &s) {
            if (s == QLatin1String("RETR 1"))
                session.quit();
        });
        session.startCheck();
        QVERIFY(closed.wait(10000));
        QVERIFY2(server.done(), qPrintable(server.failure()));
    }

    void serverClosesIdleSessionQuietly()
    {
        FakeServer server;
        Login(server).send("+OK 0 0").close();
        Pop3Session session(Settings(server.port()));
        QSignalSpy failed(&session, &Pop3Session::failed);
        QSignalSpy closed(&session, &Pop3Session::closed);
        session.startCheck();
        QVERIFY(closed.wait(5000));
        QCOMPARE(failed.count(), 0);
    }

    void deleteByKeyInNewSession()
    {
        FakeServer server;
        Login(server).send("+OK 2 200").expect("RETR 1").send(Memo("<1>", "a"), false);
        server.expect("RETR 2").send(Memo("<2>", "b"), false);
        server.expect("DELE 2").send("+OK").expect("QUIT").send("+OK");
        Pop3Session session(Settings(server.port()));
        QSignalSpy deleted(&session, &Pop3Session::messageDeleted);
        QSignalSpy retrieved(&session, &Pop3Session::messageRetrieved);
        QSignalSpy closed(&session, &Pop3Session::closed);
        session.startDeleteByKey(QStringLiteral("<2>"));
        QVERIFY(closed.wait(5000));
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(retrieved.count(), 0); // a deletion announces nothing
        QVERIFY2(server.done(), qPrintable(server.failure()));
    }
};

QTEST_GUILESS_MAIN(TestPop3Session)
#include "tst_pop3session.moc"
