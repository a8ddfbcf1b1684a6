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
    return {QStringLiteral("127.0.0.1"),
            QString::number(port),
            QStringLiteral("user1"),
            QStringLiteral("pass"),
            QStringLiteral("0"),
            5000,
            2000};
}

/// One check's dialogue listing the given messages (after a wrong password: none).
FakeServer &Check(FakeServer &server, const QList<QByteArray> &messages, bool wrongPass = false)
{
    server.accept().send("+OK").expect("USER user1").send("+OK").expect("PASS pass");
    if (wrongPass)
        return server.send("-ERR [AUTH] Authentication failed.");
    server.send("+OK").expect("STAT").send("+OK " + QByteArray::number(messages.size()) + " 9");
    for (int i = 0; i < messages.size(); ++i)
        server.expect("RETR " + QByteArray::number(i + 1)).send(messages[i], false);
    return server;
}

using Results = QList<MailCheck::DeleteResult>;
MailCheck::DeleteCallback Collect(Results &results)
{
    return [&results](MailCheck::DeleteResult r, const QString &) { results << r; };
}

} // namespace

class TestMailCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void schedule()
    {
        // The timer's intervals, in milliseconds, from the start up to the check.
        const QList<std::pair<QString, QList<int>>> rows{
            {"300", {60000, 60000, 60000, 60000, 60000, 1000}},
            {"100", {60000, 40000}},
            {"60", {60000, 1000}},
            {"59", {59000}},
            {"45", {45000}},
            {"0", {1000}},
            {"abc", {1000}}};
        for (const auto &[interval, ticks] : rows) {
            FakeServer server;
            MailCheck check(Settings(server.port()), interval);
            check.ScheduleNextCheck();
            QSignalSpy status(&check, &MailCheck::statusText);
            for (int tick : ticks) {
                QVERIFY(!check.isChecking());
                QCOMPARE(QStringList({interval, QString::number(check.timer().interval())}),
                         QStringList({interval, QString::number(tick)}));
                check.tmrCheckMail_Timer();
            }
            QVERIFY(check.isChecking());
            QCOMPARE(status.first().first().toString(), QStringLiteral("Socket Closed."));
        }
    }

    void newMemosAnnouncedOnce()
    {
        FakeServer server;
        const QByteArray a = Memo("<a@x>", "A"), b = Memo("<b@x>", "B"), c = Memo("<c@x>", "C");
        const QByteArray n1 = Memo("", "no id one"), n2 = Memo("", "no id two");
        Check(server, {a, b, n1}).expect("QUIT").send("+OK");
        Check(server, {a, b, n1, n2, c});
        MailCheck check(Settings(server.port()), "1");
        QStringList announced;
        connect(&check, &MailCheck::newMemo, this,
                [&announced](const MemoValues &m) { announced << m.MemoBody; });
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        check.start();
        QVERIFY(ended.wait(5000));
        QCOMPARE(announced, (QStringList{"A\r\n\r\n.", "B\r\n\r\n.", "no id one\r\n\r\n."}));
        QVERIFY(check.timer().isActive());
        announced.clear();
        QVERIFY(ended.wait(5000)); // the next check on schedule
        // A mail without a Message-ID does not hide another such mail.
        QCOMPARE(announced, (QStringList{"no id two\r\n\r\n.", "C\r\n\r\n."}));
        QCOMPARE(check.currentBox().size(), 5);
        QCOMPARE(check.previousBox().size(), 3);
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        check.shutdown();
    }

    void failedCheckIsRetried()
    {
        FakeServer server;
        Check(Check(server, {}, true), {}, true);
        MailCheck check(Settings(server.port()), "0");
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        QSignalSpy sendEnabled(&check, &MailCheck::sendButtonEnabled);
        QSignalSpy settingsEnabled(&check, &MailCheck::settingsButtonEnabled);
        check.start();
        QVERIFY(ended.wait(5000));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().first().toString(),
                 QStringLiteral("recv:-ERR [AUTH] Authentication failed."));
        QCOMPARE(sendEnabled.last().first().toBool(), true);
        QCOMPARE(settingsEnabled.last().first().toBool(), true);
        QVERIFY(check.timer().isActive());
        QVERIFY(ended.wait(5000)); // and again, cleanly, without anyone's help
        QCOMPARE(errors.count(), 2);
        QCOMPARE(errors.last().first().toString(), errors.first().first().toString());
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void deleteWaitsForTheCheckAndFindsTheRow()
    {
        FakeServer server{FakeServer::Chunking::Bytes};
        Check(server, {Memo("<a>", "A"), Memo("<b>", "B")});
        server.expect("DELE 2").send("+OK").expect("QUIT").send("+OK");
        MailCheck check(Settings(server.port()), "300");
        Results results;
        check.start();
        check.requestDelete(MemoKeyOf(Memo("<b>", "B")), nullptr,
                            Collect(results)); // waits for the running check
        QVERIFY(!check.timer().isActive());
        QTRY_COMPARE_WITH_TIMEOUT(results, Results{MailCheck::DeleteResult::Deleted}, 10000);
        QVERIFY(check.timer().isActive());
        QCOMPARE(check.Pop3State(), 0);
        check.requestDelete("<gone>", nullptr, Collect(results));
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, 5000);
        QCOMPARE(results.last(), MailCheck::DeleteResult::NotFound);
        QCOMPARE(check.Pop3State(), 0); // not left waiting for a DELE reply
        check.shutdown();
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void deleteTimesOutWhenTheSessionStaysBusy()
    {
        FakeServer server; // greets never
        MailCheck check(Settings(server.port()), "300");
        check.setDeleteTimeoutMs(200);
        check.start();
        Results results;
        QString text;
        check.requestDelete("<a>", nullptr, [&](MailCheck::DeleteResult r, const QString &t) {
            results << r;
            text = t;
        });
        QTRY_COMPARE_WITH_TIMEOUT(results, Results{MailCheck::DeleteResult::TimedOut}, 5000);
        QVERIFY(!text.isEmpty());
    }

    void deleteAfterTheServerClosedTheSession()
    {
        FakeServer server;
        Check(server, {Memo("<a>", "A"), Memo("<b>", "B")}).close();
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
        Results results;
        check.requestDelete(MemoKeyOf(Memo("<b>", "B")), nullptr, Collect(results));
        QTRY_COMPARE_WITH_TIMEOUT(results, Results{MailCheck::DeleteResult::Deleted}, 10000);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(memos.count(), 2); // the deleting session announced nothing
        QTRY_VERIFY_WITH_TIMEOUT(server.ok(), 5000);
    }
};

QTEST_GUILESS_MAIN(TestMailCheck)
#include "tst_mailcheck.moc"
