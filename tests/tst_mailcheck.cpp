#include "FakeServer.h"
#include "MailCheck.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray Memo(const QByteArray &id, const QByteArray &text)
{
    return "+OK 100 octets\r\nSubject:0    12/06 09:30ACME\r\n" +
           (id.isEmpty() ? QByteArray() : "Message-Id: " + id + "\r\n") + "\r\n" + text +
           "\r\n\r\n.\r\n";
}

Pop3Session::Settings Settings(quint16 port)
{
    Pop3Session::Settings s;
    s.server = QStringLiteral("127.0.0.1");
    s.port = QString::number(port);
    s.userId = QStringLiteral("user1");
    s.password = QStringLiteral("pass");
    s.sleep = QStringLiteral("0");
    s.replyTimeoutMs = 5000;
    s.quitTimeoutMs = 2000;
    return s;
}

/// One check's dialogue listing the given messages.
FakeServer &Check(FakeServer &server, const QList<QByteArray> &messages)
{
    server.accept()
        .send("+OK")
        .expect("USER user1")
        .send("+OK")
        .expect("PASS pass")
        .send("+OK")
        .expect("STAT")
        .send("+OK " + QByteArray::number(messages.size()) + " 999");
    for (int i = 0; i < messages.size(); ++i)
        server.expect("RETR " + QByteArray::number(i + 1)).send(messages[i], false);
    return server;
}

} // namespace

class TestMailCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void schedule_data()
    {
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QList<int>>("ticks"); // timer intervals up to the check
        QTest::newRow("300") << "300" << QList<int>{60000, 60000, 60000, 60000, 60000, 1000};
        QTest::newRow("100") << "100" << QList<int>{60000, 40000};
        QTest::newRow("59") << "59" << QList<int>{59000};
        QTest::newRow("45") << "45" << QList<int>{45000};
        QTest::newRow("0") << "0" << QList<int>{1000};
        QTest::newRow("60") << "60" << QList<int>{60000, 1000};
        QTest::newRow("letters") << "abc" << QList<int>{1000};
    }
    void schedule()
    {
        QFETCH(QString, interval);
        QFETCH(QList<int>, ticks);
        FakeServer server;
        MailCheck check(Settings(server.port()), interval);
        check.ScheduleNextCheck();
        QSignalSpy status(&check, &MailCheck::statusText);
        for (qsizetype i = 0; i < ticks.size(); ++i) {
            QCOMPARE(check.timer().interval(), ticks[i]);
            if (i + 1 < ticks.size()) {
                check.tmrCheckMail_Timer();
                QVERIFY(!check.isChecking());
            }
        }
        QCOMPARE(check.minutesLeft(), qint16(0));
        check.tmrCheckMail_Timer(); // the check starts
        QVERIFY(check.isChecking());
        QCOMPARE(status.first().first().toString(), QStringLiteral("Socket Closed."));
    }

    void newMemosAnnouncedOnce()
    {
        FakeServer server;
        const QByteArray a = Memo("<a@x>", "A"), b = Memo("<b@x>", "B"), c = Memo("<c@x>", "C");
        const QByteArray n1 = Memo("", "no id one"), n2 = Memo("", "no id two");
        Check(server, {a, b, n1});
        server.expect("QUIT").send("+OK");
        Check(server, {a, b, n1, n2, c});
        MailCheck check(Settings(server.port()), "1");
        QStringList announced;
        connect(&check, &MailCheck::newMemo, this,
                [&announced](const MemoValues &m) { announced << m.MemoBody; });
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        QSignalSpy sendEnabled(&check, &MailCheck::sendButtonEnabled);
        check.start();
        QVERIFY(ended.wait(5000));
        QCOMPARE(announced, (QStringList{"A\r\n\r\n.", "B\r\n\r\n.", "no id one\r\n\r\n."}));
        QCOMPARE(check.currentBox().size(), 3);
        QVERIFY(check.timer().isActive());
        QCOMPARE(sendEnabled.last().first().toBool(), true);

        announced.clear();
        QVERIFY(ended.wait(5000)); // the next check on schedule
        // A mail without a Message-ID does not hide another such mail.
        QCOMPARE(announced, (QStringList{"no id two\r\n\r\n.", "C\r\n\r\n."}));
        QCOMPARE(check.currentBox().size(), 5);
        QCOMPARE(check.previousBox().size(), 3);
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        check.shutdown();
    }

    void failedFirstCheckIsRetried()
    {
        quint16 freePort = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            freePort = probe.serverPort();
        }
        MailCheck check(Settings(freePort), "0");
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        QSignalSpy sendEnabled(&check, &MailCheck::sendButtonEnabled);
        check.start();
        QVERIFY(ended.wait(5000));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(sendEnabled.last().first().toBool(), true); // sending still possible
        QCOMPARE(errors.first().first().toString(), QStringLiteral("connect:接続が拒否された。"));
        QVERIFY(check.timer().isActive());
        QVERIFY(ended.wait(5000)); // and again, without anyone's help
        QCOMPARE(errors.count(), 2);
    }

    void deleteWaitsForTheCheckAndFindsTheRow()
    {
        FakeServer server{FakeServer::Chunking::Bytes};
        Check(server, {Memo("<a>", "A"), Memo("<b>", "B")});
        server.expect("DELE 2").send("+OK").expect("QUIT").send("+OK");
        MailCheck check(Settings(server.port()), "300");
        QList<MailCheck::DeleteResult> results;
        check.start();
        // Asked while the check is still running: it waits for the check.
        check.requestDelete("<b>", nullptr, [&results](MailCheck::DeleteResult r, const QString &) {
            results << r;
        });
        QVERIFY(!check.timer().isActive());
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 10000);
        QCOMPARE(results.first(), MailCheck::DeleteResult::Deleted);
        QVERIFY(check.timer().isActive());
        QCOMPARE(check.Pop3State(), 0);

        check.requestDelete(
            "<gone>", nullptr,
            [&results](MailCheck::DeleteResult r, const QString &) { results << r; });
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, 5000);
        QCOMPARE(results.last(), MailCheck::DeleteResult::NotFound);
        QCOMPARE(check.Pop3State(), 0); // not left waiting for a DELE reply
        check.shutdown();
        QVERIFY2(server.done(), qPrintable(server.failure()));
    }

    void deleteTimesOutWhenTheSessionStaysBusy()
    {
        FakeServer server; // greets never
        MailCheck check(Settings(server.port()), "300");
        check.setDeleteTimeoutMs(200);
        check.start();
        QList<MailCheck::DeleteResult> results;
        QString text;
        check.requestDelete("<a>", nullptr, [&](MailCheck::DeleteResult r, const QString &t) {
            results << r;
            text = t;
        });
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 5000);
        QCOMPARE(results.first(), MailCheck::DeleteResult::TimedOut);
        QVERIFY(!text.isEmpty());
    }

    void deleteAfterTheServerClosedTheSession()
    {
        FakeServer server;
        Check(server, {Memo("<a>", "A"), Memo("<b>", "B")});
        server.close();
        Check(server, {Memo("<a>", "A"), Memo("<b>", "B")});
        server.expect("DELE 2").send("+OK").expect("QUIT").send("+OK");
        MailCheck check(Settings(server.port()), "300");
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        QSignalSpy memos(&check, &MailCheck::newMemo);
        check.start();
        QVERIFY(ended.wait(5000));
        QTRY_COMPARE_WITH_TIMEOUT(check.Pop3State(), 0, 5000);
        QTest::qWait(100); // let the server's close arrive
        QList<MailCheck::DeleteResult> results;
        check.requestDelete("<b>", nullptr, [&results](MailCheck::DeleteResult r, const QString &) {
            results << r;
        });
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 10000);
        QCOMPARE(results.first(), MailCheck::DeleteResult::Deleted);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(memos.count(), 2); // the deleting session announced nothing
        QTRY_VERIFY_WITH_TIMEOUT(server.done(), 5000);
        QCOMPARE(server.failure(), QString());
    }
};

QTEST_GUILESS_MAIN(TestMailCheck)
#include "tst_mailcheck.moc"
