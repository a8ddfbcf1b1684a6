// The POP3 jobs and the line session under them, against a scripted server.

#include "Cp932.h"
#include "FakeServer.h"
#include "Pop3Jobs.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray Memo(const QByteArray &id, const QByteArray &text)
{
    return "+OK 120 octets\r\nSubject:0    12/06 09:30ACME\r\nMessage-Id: " + id + "\r\n\r\n" +
           text + "\r\n\r\n.\r\n";
}

Pop3Settings Settings(quint16 port, int readDelayMs = 0)
{
    Pop3Settings s{QStringLiteral("127.0.0.1"),
                   QString::number(port),
                   QStringLiteral("user1"),
                   QStringLiteral("pass"),
                   {}};
    s.limits.replyTimeoutMs = 5000;
    s.limits.quitTimeoutMs = 2000;
    s.limits.readDelayMs = readDelayMs;
    return s;
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

/// Runs a check to its end; the failures it reported.
QStringList RunCheck(Pop3Check &check)
{
    QStringList failures;
    QObject::connect(&check, &Pop3Job::failed, [&](const QString &e) { failures << e; });
    QSignalSpy closed(&check, &Pop3Job::closed);
    check.start();
    closed.wait(20000);
    return failures;
}

} // namespace

class TestPop3Jobs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void twoMessagesThenDelete_data()
    {
        QTest::addColumn<int>("chunking");
        QTest::addColumn<int>("readDelay");
        QTest::newRow("whole replies") << int(FakeServer::Chunking::Whole) << 0;
        QTest::newRow("one byte at a time") << int(FakeServer::Chunking::Bytes) << 0;
        QTest::newRow("replies glued") << int(FakeServer::Chunking::Glued) << 0;
        QTest::newRow("bytes, pause before reads") << int(FakeServer::Chunking::Bytes) << 20;
    }
    void twoMessagesThenDelete()
    {
        QFETCH(int, chunking);
        QFETCH(int, readDelay);
        FakeServer server{FakeServer::Chunking(chunking)};
        TwoMessages(server).expect("DELE 2").send("+OK deleted").expect("QUIT").send("+OK bye");
        Pop3Check check(Settings(server.port(), readDelay));
        QStringList status;
        connect(&check, &Pop3Job::statusText, this, [&](const QString &s) { status << s; });
        QSignalSpy retrieved(&check, &Pop3Check::messageRetrieved);
        QSignalSpy finished(&check, &Pop3Check::checkFinished);
        check.start();
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.at(0).at(0).toBool(), false); // not empty
        QCOMPARE(retrieved.count(), 2);
        QCOMPARE(retrieved.at(0).at(1).toByteArray(), Memo("<1@x>", "one\r\n..dot"));
        QCOMPARE(retrieved.at(1).at(1).toByteArray(), Memo("<2@x>", "two"));
        QCOMPARE(status.last(), QString());
        status.removeIf([](const QString &s) { return s.isEmpty() || s.startsWith('+'); });
        QCOMPARE(status, (QStringList{"Connecting...", "USER user1", "PASS ****", "STAT", "RETR 1",
                                      "RETR 2"}));

        // The idle connection deletes; it is busy until the reply.
        QSignalSpy deleted(&check, &Pop3Check::messageDeleted);
        QVERIFY(check.isIdle() && check.deleteMessage(2));
        QCOMPARE(int(check.state()), 8);
        QVERIFY(!check.deleteMessage(1));
        QVERIFY(deleted.wait(5000));
        QCOMPARE(deleted.at(0).at(0).toInt(), 2);
        QCOMPARE(int(check.state()), 0);
        QSignalSpy closed(&check, &Pop3Job::closed);
        check.quit();
        QVERIFY(closed.wait(5000));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void emptyMailboxAndLowerCaseGreeting()
    {
        FakeServer server;
        Login(server, "+OK 0 0", "+ok hello").expect("QUIT").send("+OK");
        Pop3Check check(Settings(server.port()));
        QSignalSpy status(&check, &Pop3Job::statusText);
        QSignalSpy finished(&check, &Pop3Check::checkFinished);
        check.start();
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(int(check.state()), 7);
        QCOMPARE(status.last().first().toString(), QStringLiteral("No Message."));
        QTest::qWait(50);
        QCOMPARE(server.received().last(), QByteArray("STAT")); // no QUIT until ended
        QSignalSpy closed(&check, &Pop3Job::closed);
        check.quit();
        QVERIFY(closed.wait(5000));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void failures_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("error");
        const QString timeout = QStringLiteral("recv:接続処理タイムアウト。");
        QTest::newRow("wrong password") << 0 << "recv:-ERR [AUTH] Authentication failed.";
        QTest::newRow("closed in the middle of RETR")
            << 1 << QStringLiteral("recv:リモートホストから切断された。");
        QTest::newRow("negative RETR ends with QUIT") << 2 << "recv:-ERR no such message";
        QTest::newRow("refused port") << 3 << QStringLiteral("connect:接続が拒否された。");
        QTest::newRow("unknown host") << 4 << QStringLiteral("connect:ホストが見つからない。");
        QTest::newRow("silent server") << 5 << timeout;
        QTest::newRow("status line trickling in") << 6 << timeout;
        QTest::newRow("RETR answer trickling too slowly") << 7 << timeout;
        QTest::newRow("status line without end")
            << 8 << QStringLiteral("recv:データがバッファより大きいので切りつめられた。");
        QTest::newRow("line break in the user id")
            << 9 << QStringLiteral("USER:改行などの制御文字を含むため送信できません: USER");
        QTest::newRow("NUL in the password")
            << 10 << QStringLiteral("PASS:改行などの制御文字を含むため送信できません: PASS");
    }
    void failures()
    {
        QFETCH(int, kind);
        QFETCH(QString, error);
        FakeServer server;
        Pop3Settings s = Settings(server.port());
        s.limits.rateWindowMs = 300;
        s.limits.minBytesPerWindow = 100;
        if (kind == 0)
            server.send("+OK").expect("USER user1").send("+OK").expect("PASS pass");
        if (kind == 0)
            server.send("-ERR [AUTH] Authentication failed.");
        else if (kind <= 2 || kind == 7)
            Login(server, "+OK 1 100").expect("RETR 1");
        if (kind == 1)
            server.send("+OK 100\r\nSubject: x\r\n", false).close();
        if (kind == 2)
            server.send("-ERR no such message").expect("QUIT").send("+OK");
        if (kind == 3 || kind == 4)
            s.port = QString::number(FakeServer::closedPort());
        if (kind == 4)
            s.server = QStringLiteral("no-such-host.invalid");
        if (kind == 5 || kind == 6)
            s.limits.replyTimeoutMs = 400;
        if (kind == 6) // every read used to restart the watchdog
            server.trickle("+OK a greeting that never ends", 1, 100);
        if (kind == 7) // a byte every 50 ms: 6 bytes in a window of 300 ms
            server.trickle("+OK 100\r\nSubject: slow\r\n\r\ntext\r\n.\r\n", 1, 50);
        if (kind == 8)
            server.send(QByteArray(10000, 'x'), false);
        if (kind == 9)
            s.userId = QStringLiteral("user1\r\nDELE 1");
        if (kind == 10)
            s.password = QStringLiteral("pa") + QChar(0) + QStringLiteral("ss");
        Pop3Check check(s);
        QSignalSpy retrieved(&check, &Pop3Check::messageRetrieved);
        QCOMPARE(RunCheck(check), QStringList(error));
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        QVERIFY(server.ok() || kind >= 5);
        QVERIFY(check.isClosed());
        QCOMPARE(retrieved.count(), 0);
        if (kind >= 9) // nothing of it went out
            QCOMPARE(server.received(), QList<QByteArray>());
    }

    void theServerEndingAnIdleSessionIsNoFailure_data()
    {
        QTest::addColumn<QByteArray>("lastWords");
        QTest::newRow("silent close") << QByteArray();
        QTest::newRow("-ERR before the close") << QByteArray("-ERR Disconnected for inactivity.");
        QTest::newRow("noise before the close") << QByteArray("* BYE");
    }
    void theServerEndingAnIdleSessionIsNoFailure()
    {
        QFETCH(QByteArray, lastWords);
        FakeServer server;
        Login(server, "+OK 1 100").expect("RETR 1").send(Memo("<1>", "x"), false).pause(100);
        if (!lastWords.isEmpty())
            server.send(lastWords);
        server.close();
        Pop3Check check(Settings(server.port()));
        QSignalSpy finished(&check, &Pop3Check::checkFinished);
        QCOMPARE(RunCheck(check), QStringList());
        QCOMPARE(finished.count(), 1);
        QVERIFY(check.isClosed());
    }

    void tooLargeIsReadThroughAndTheCheckGoesOn()
    {
        FakeServer server;
        Login(server, "+OK 3 900").expect("RETR 1").send(Memo("<1>", "small"), false);
        QByteArray big = "+OK 5000 octets\r\nSubject: big\r\n\r\n";
        for (int i = 0; i < 200; ++i)
            big += QByteArray(30, 'a' + i % 26) + "\r\n";
        server.expect("RETR 2").send(big + ".\r\n", false);
        server.expect("RETR 3").send(Memo("<3>", "after"), false);
        Pop3Settings s = Settings(server.port());
        s.limits.maxAnswer = 1000;
        Pop3Check check(s);
        QList<std::pair<int, bool>> seen;
        QByteArray third;
        connect(&check, &Pop3Check::messageRetrieved, this,
                [&](int n, const QByteArray &answer, bool tooLarge) {
                    seen.append({n, tooLarge});
                    if (n == 3)
                        third = answer;
                });
        QSignalSpy finished(&check, &Pop3Check::checkFinished);
        check.start();
        QVERIFY(finished.wait(5000));
        QCOMPARE(seen, (QList<std::pair<int, bool>>{{1, false}, {2, true}, {3, false}}));
        QCOMPARE(third, Memo("<3>", "after"));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void quitDuringRetrWaitsForTheAnswer()
    {
        FakeServer server{FakeServer::Chunking::Bytes};
        Login(server, "+OK 1 100").expect("RETR 1").send(Memo("<1>", "+OK lookalike"), false);
        server.expect("QUIT").send("+OK");
        Pop3Check check(Settings(server.port()));
        QSignalSpy closed(&check, &Pop3Job::closed);
        connect(&check, &Pop3Job::statusText, &check, [&check](const QString &s) {
            if (s == QLatin1String("RETR 1"))
                check.quit();
        });
        check.start();
        QVERIFY(closed.wait(10000));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void commandsGoOutInCodePage932AndNoiseIsSkipped()
    {
        FakeServer server;
        const QString user = QStringLiteral("鈴木");
        server.send("garbage before the greeting").send("+OK");
        server.expect("USER " + Cp932::Encode(user)).send("+OK").expect("PASS pass");
        server.send("+OK").expect("STAT").send("+OK 0 0");
        Pop3Settings s = Settings(server.port());
        s.userId = user;
        Pop3Check check(s);
        QSignalSpy finished(&check, &Pop3Check::checkFinished);
        check.start();
        QVERIFY(finished.wait(5000));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void deleteByKeyOverItsOwnConnection()
    {
        FakeServer server;
        Login(server, "+OK 2 200").expect("RETR 1").send(Memo("<1>", "one"), false);
        server.expect("RETR 2").send(Memo("<2>", "two"), false);
        server.expect("DELE 2").send("+OK").expect("QUIT").send("+OK");
        QStringList asked;
        Pop3Delete job(Settings(server.port()), QStringLiteral("two"),
                       [&asked](const QByteArray &answer, bool) {
                           asked << QString::fromLatin1(
                               answer.mid(answer.indexOf("\r\n\r\n") + 4, 3));
                           return asked.last();
                       });
        QSignalSpy deleted(&job, &Pop3Delete::deleted);
        QSignalSpy closed(&job, &Pop3Job::closed);
        job.start();
        QVERIFY(closed.wait(5000));
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(asked, (QStringList{"one", "two"}));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }
};

QTEST_GUILESS_MAIN(TestPop3Jobs)
#include "tst_pop3jobs.moc"
