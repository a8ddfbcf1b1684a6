#include "FakeServer.h"
#include "MailCheck.h"

#include <QtTest>

using Result = MailCheck::DeleteResult;

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
            {"0", {1000}},
            {"abc", {1000}}};
        for (const auto &[interval, ticks] : rows) {
            FakeServer server;
            MailCheck check(Pop3At(server.port()), interval);
            check.ScheduleNextCheck();
            QSignalSpy status(&check, &MailCheck::statusText);
            for (int tick : ticks) {
                QVERIFY(!check.isChecking());
                QCOMPARE(QStringList({interval, QString::number(check.timer().interval())}),
                         QStringList({interval, QString::number(tick)}));
                check.tmrCheckMail_Timer();
            }
            QVERIFY(check.isChecking());
            QCOMPARE(status.first().first().toString(), u"Socket Closed."_s);
        }
    }

    void memosAnnouncedOnce_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("error");
        const QStringList all{"one", "two", "three", "four"};
        QTest::newRow("two mails without Message-ID") << 0 << all << QString();
        // The failed check is retried on schedule; no memo pops up twice.
        QTest::newRow("wrong password between checks")
            << 1 << all << u"recv:-ERR [AUTH] Authentication failed."_s;
        QTest::newRow("dropped in the middle of RETR 3")
            << 2 << all << u"recv:リモートホストから切断された。"_s;
        QTest::newRow("one too large, the rest announced")
            << 3 << QStringList{"two", "three", "four"} << QString();
    }
    void memosAnnouncedOnce()
    {
        QFETCH(int, kind);
        QList<QByteArray> all;
        for (const QByteArray text : {"one", "two", "three", "four"})
            all << RetrMemo(kind == 0 && all.size() >= 2 ? QByteArray() : "<" + text + ">", text);
        if (kind == 3)
            all[0] = RetrMemo("<big>", QByteArray(3000, 'b'));
        FakeServer server;
        server.pop3Listing(all.mid(0, 3)).expect("QUIT").send("+OK").close();
        if (kind == 1)
            server.pop3Login({}).close();
        if (kind == 2)
            server.pop3Listing(all.mid(0, 2), 4)
                .expect("RETR 3")
                .send(all[2].left(20), false)
                .close();
        server.pop3Listing(all);
        Pop3Settings s = Pop3At(server.port());
        s.limits.maxAnswer = 1000;
        MailCheck check(s, "0");
        QStringList shown, errors, status;
        connect(&check, &MailCheck::showMemo, this, [&](const MemoValues &m) {
            shown << ViewOfMemo(m).text.trimmed();
            check.viewerClosed();
        });
        connect(&check, &MailCheck::errorMessage, this, [&](const QString &t) { errors << t; });
        connect(&check, &MailCheck::statusText, this, [&](const QString &t) { status << t; });
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        check.start();
        QTRY_VERIFY2_WITH_TIMEOUT(server.done(), qPrintable(server.failure()), 10000);
        QCOMPARE(ended.first().first().toBool(), true); // too large is no failure
        QCOMPARE(check.currentBox().size(), 4);
        QTRY_COMPARE(shown.size(), 4 - int(kind == 3));
        QTEST(shown, "shown");
        QTEST(errors.join('\n'), "error");
        QCOMPARE(status.contains(u"メッセージ 1 は大きすぎるため読み飛ばしました。"_s), kind == 3);
        VERIFY_SCRIPT(server);
    }

    void failuresToldOncePerEpisode()
    {
        FakeServer server; // fails, fails alike, fails otherwise, succeeds, fails
        server.pop3Login({}).close().pop3Login({}).close();
        server.send("+OK").expect("USER user1").send("-ERR other").close();
        server.pop3Login("+OK 0 0").expect("QUIT").send("+OK").close().pop3Login({});
        MailCheck check(Pop3At(server.port()), "300");
        QStringList told;
        connect(&check, &MailCheck::errorMessage, this, [&](const QString &t) { told << t; });
        connect(&check, &MailCheck::failureRepeated, this, [&] { told << u"again"_s; });
        connect(&check, &MailCheck::failureEnded, this, [&] { told << u"ended"_s; });
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        for (int i = 0; i < 5; ++i) {
            check.checkNow();
            QVERIFY(ended.wait(5000));
        }
        QCOMPARE(told,
                 (QStringList{"recv:-ERR [AUTH] Authentication failed.", "again", "recv:-ERR other",
                              "ended", "recv:-ERR [AUTH] Authentication failed."}));
        QVERIFY(check.lastGoodCheck().isValid() && !check.failureText().isEmpty());
    }

    void deleteAndShutdown_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<Result>("result");
        QTest::newRow("same Message-ID twice: the one shown") << 0 << Result::Deleted;
        QTest::newRow("waits for the running check") << 1 << Result::Deleted;
        QTest::newRow("after the server closed the session") << 2 << Result::Deleted;
        QTest::newRow("no longer listed") << 3 << Result::NotFound;
        QTest::newRow("the session stays busy") << 4 << Result::TimedOut;
    }
    void deleteAndShutdown()
    {
        QFETCH(int, kind);
        const QList<QByteArray> memos{RetrMemo(kind ? "<a>" : "<same>", "first"),
                                      RetrMemo(kind ? "<b>" : "<same>", "second")};
        FakeServer server{kind == 1}; // kind 1: byte by byte
        if (kind == 2)
            server.pop3Listing(memos).close();
        if (kind < 4)
            server.pop3Listing(memos); // kind 4: never greets
        if (kind < 3)
            server.expect("DELE 2").send("+OK");
        if (kind < 4)
            server.expect("QUIT").send("+OK");
        MailCheck check(Pop3At(server.port()), "300");
        check.setDeleteTimeoutMs(kind == 4 ? 200 : 10000);
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        QSignalSpy shown(&check, &MailCheck::showMemo);
        check.start();
        if (kind != 1 && kind != 4) {
            QVERIFY(ended.wait(5000));
            QTRY_COMPARE_WITH_TIMEOUT(check.Pop3State(), 0, 5000);
            QTest::qWait(100); // the server's close arrives
        }
        QList<Result> results;
        check.requestDelete(kind == 3 ? u"<gone>"_s : MemoKeyOf(memos[1]), nullptr,
                            [&results](Result r, const QString &) { results << r; });
        if (kind != 3) // no check may end the session under a deletion
            check.checkNow();
        if (kind != 3) // held while the deletion waits or runs
            QVERIFY(!check.timer().isActive());
        QFETCH(Result, result);
        QTRY_COMPARE_WITH_TIMEOUT(results, QList{result}, 10000);
        QTRY_COMPARE(check.Pop3State(), 0); // not left waiting for a DELE reply
        QCOMPARE(check.timer().isActive(), kind != 4);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(shown.count(), kind == 4 ? 0 : 2); // a deleting session announces nothing

        // Every session ends with QUIT, without waiting here.
        QSignalSpy down(&check, &MailCheck::shutDown);
        check.shutdown();
        QVERIFY(down.isEmpty() || kind == 4); // kind 4: no session logged in
        QVERIFY(!down.isEmpty() || down.wait(5000));
        VERIFY_SCRIPT(server);
    }
};

QTEST_GUILESS_MAIN(TestMailCheck)
#include "tst_mailcheck.moc"
