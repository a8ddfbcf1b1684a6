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

Pop3Settings Settings(quint16 port)
{
    Pop3Settings s{QStringLiteral("127.0.0.1"),
                   QString::number(port),
                   QStringLiteral("user1"),
                   QStringLiteral("pass"),
                   {}};
    s.limits.replyTimeoutMs = 5000;
    s.limits.quitTimeoutMs = 2000;
    return s;
}

/// One check's dialogue listing the given messages (after a wrong password:
/// none); with failAt, the connection drops in the middle of that RETR.
FakeServer &Check(FakeServer &server, const QList<QByteArray> &messages, bool wrongPass = false,
                  int failAt = 0)
{
    server.accept().send("+OK").expect("USER user1").send("+OK").expect("PASS pass");
    if (wrongPass)
        return server.send("-ERR [AUTH] Authentication failed.");
    server.send("+OK").expect("STAT").send("+OK " + QByteArray::number(messages.size()) + " 9");
    for (int i = 0; i < messages.size(); ++i) {
        server.expect("RETR " + QByteArray::number(i + 1));
        if (i + 1 == failAt)
            return server.send(messages[i].left(20), false).close();
        server.send(messages[i], false);
    }
    return server;
}

/// The texts of the memos a check shows, as they are shown.
QStringList *Announced(MailCheck &check)
{
    auto *texts = new QStringList;
    QObject::connect(&check, &MailCheck::showMemo, &check, [texts, &check](const MemoValues &m) {
        texts->append(ViewOfMemo(m).text.trimmed());
        check.viewerClosed();
    });
    QObject::connect(&check, &QObject::destroyed, [texts] { delete texts; });
    return texts;
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
        QStringList &announced = *Announced(check);
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        check.start();
        QVERIFY(ended.wait(5000));
        QVERIFY(check.timer().isActive());
        QTRY_COMPARE(ended.count(), 2); // the next check on schedule
        // A mail without a Message-ID does not hide another such mail.
        QTRY_COMPARE(announced, (QStringList{"A", "B", "no id one", "no id two", "C"}));
        QCOMPARE(check.currentBox().size(), 5);
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        check.shutdown();
    }

    void noMemoAnnouncedTwiceAfterAFailedCheck_data()
    {
        QTest::addColumn<bool>("wrongPass");
        QTest::addColumn<int>("failAt");
        QTest::newRow("wrong password once") << true << 0;
        QTest::newRow("dropped in the middle of RETR 3") << false << 3;
    }
    void noMemoAnnouncedTwiceAfterAFailedCheck()
    {
        QFETCH(bool, wrongPass);
        QFETCH(int, failAt);
        FakeServer server;
        const QList<QByteArray> all{Memo("<1>", "one"), Memo("<2>", "two"), Memo("<3>", "three"),
                                    Memo("<4>", "four")};
        Check(server, all.mid(0, 3)).expect("QUIT").send("+OK");
        Check(server, all, wrongPass, failAt);
        Check(server, all);
        MailCheck check(Settings(server.port()), "0");
        QStringList &announced = *Announced(check);
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        check.start();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 3, 10000);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(ended.at(1).at(0).toBool(), false);
        QTRY_COMPARE(announced, (QStringList{"one", "two", "three", "four"}));
        QVERIFY2(server.ok(), qPrintable(server.failure()));
        check.shutdown();
    }

    void sameMessageIdTwiceDeletesTheOneShown()
    {
        FakeServer server;
        Check(server, {Memo("<same>", "first"), Memo("<same>", "second")});
        server.expect("DELE 2").send("+OK").expect("QUIT").send("+OK");
        MailCheck check(Settings(server.port()), "300");
        QList<MemoValues> shown;
        connect(&check, &MailCheck::showMemo, this, [&](const MemoValues &m) { shown << m; });
        check.start();
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 5000);
        QVERIFY(shown[0].MemoKey != shown[1].MemoKey);
        Results results;
        check.requestDelete(shown[1].MemoKey, nullptr, Collect(results));
        QTRY_COMPARE_WITH_TIMEOUT(results, Results{MailCheck::DeleteResult::Deleted}, 5000);
        check.shutdown();
        QTRY_VERIFY2_WITH_TIMEOUT(server.ok(), qPrintable(server.failure()), 5000);
    }

    void aFloodWaitsForViewersInOrder()
    {
        FakeServer server;
        QList<QByteArray> memos;
        for (int i = 1; i <= 5; ++i)
            memos << Memo("<" + QByteArray::number(i) + ">", QByteArray::number(i));
        Check(server, memos);
        MailCheck check(Settings(server.port()), "300");
        check.setMaxViewers(2);
        QStringList shown;
        connect(&check, &MailCheck::showMemo, this,
                [&](const MemoValues &m) { shown << ViewOfMemo(m).text.trimmed(); });
        QSignalSpy waiting(&check, &MailCheck::waitingChanged);
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        check.start();
        QVERIFY(ended.wait(5000));
        QTRY_COMPARE(shown, (QStringList{"1", "2"}));
        QCOMPARE(check.waitingCount(), 3);
        QCOMPARE(waiting.last().first().toInt(), 3);
        check.viewerClosed();
        QTRY_COMPARE(shown.size(), 3);
        check.viewerClosed();
        check.viewerClosed();
        QTRY_COMPARE(shown, (QStringList{"1", "2", "3", "4", "5"}));
        QCOMPARE(waiting.last().first().toInt(), 0);
        check.shutdown();
    }

    void aMessageTooLargeIsSkippedAndTheRestAnnounced()
    {
        FakeServer server;
        Check(server, {Memo("<big>", QByteArray(3000, 'b')), Memo("<small>", "small")});
        Pop3Settings s = Settings(server.port());
        s.limits.maxAnswer = 1000;
        MailCheck check(s, "300");
        QStringList &announced = *Announced(check);
        QStringList status;
        connect(&check, &MailCheck::statusText, this, [&](const QString &t) { status << t; });
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        check.start();
        QVERIFY(ended.wait(5000));
        QCOMPARE(ended.first().first().toBool(), true);
        QCOMPARE(errors.count(), 0);
        QVERIFY(status.contains(QStringLiteral("メッセージ 1 は大きすぎるため読み飛ばしました。")));
        QTRY_COMPARE(announced, QStringList{"small"});
        check.shutdown();
    }

    void failedCheckIsRetried()
    {
        FakeServer server;
        Check(Check(server, {}, true), {}, true);
        MailCheck check(Settings(server.port()), "0");
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        check.start();
        QVERIFY(ended.wait(5000));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().first().toString(),
                 QStringLiteral("recv:-ERR [AUTH] Authentication failed."));
        QCOMPARE(ended.first().first().toBool(), false);
        QVERIFY(check.timer().isActive());
        QVERIFY(ended.wait(5000)); // and again, cleanly, without anyone's help
        QCOMPARE(errors.count(), 2);
        QCOMPARE(errors.last().first().toString(), errors.first().first().toString());
        QVERIFY2(server.ok(), qPrintable(server.failure()));
    }

    void shutdownEndsWithQuitWithoutWaitingHere()
    {
        FakeServer server;
        Check(server, {Memo("<a>", "A")}).expect("QUIT").send("+OK");
        MailCheck check(Settings(server.port()), "300");
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        QSignalSpy down(&check, &MailCheck::shutDown);
        check.start();
        QVERIFY(ended.wait(5000));
        check.shutdown();
        QCOMPARE(down.count(), 0); // returns at once
        QVERIFY(down.wait(5000));
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
        QTRY_VERIFY2_WITH_TIMEOUT(server.ok(), qPrintable(server.failure()), 5000);
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
        QSignalSpy memos(&check, &MailCheck::showMemo);
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
