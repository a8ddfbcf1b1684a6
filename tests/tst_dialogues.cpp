// The dialogues against a scripted server: the POP3 jobs and the line session
// under them, the SMTP job (the form around it is tested through the window in
// tst_frmsend), and the socket error texts.

#include "Cp932.h"
#include "FakeServer.h"
#include "SmtpSend.h"
#include "WSock.h"

#include <QtTest>

class TestDialogues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void twoMessagesThenDelete_data()
    {
        QTest::addColumn<bool>("bytewise");
        QTest::addColumn<int>("readDelay");
        QTest::newRow("whole replies") << false << 0;
        QTest::newRow("one byte at a time") << true << 0;
        QTest::newRow("bytes, pause before reads") << true << 20;
    }
    void twoMessagesThenDelete()
    {
        QFETCH(bool, bytewise);
        FakeServer server{bytewise};
        // The second answer comes before its RETR.
        const QByteArray one = RetrMemo("<1@x>", "one\r\n..dot"), two = RetrMemo("<2@x>", "two");
        server.pop3Login("+OK 2 320").expect("RETR 1").send(one + two, false).expect("RETR 2");
        server.expect("DELE 2").send("+OK deleted").expect("QUIT").send("+OK bye");
        Pop3Settings s = Pop3At(server.port());
        QFETCH(int, readDelay);
        s.limits.readDelayMs = readDelay;
        Pop3Check check(s);
        QStringList status;
        connect(&check, &Pop3Job::statusText, this, [&](const QString &s) { status << s; });
        QSignalSpy retrieved(&check, &Pop3Check::messageRetrieved);
        QSignalSpy finished(&check, &Pop3Check::checkFinished);
        check.start();
        QVERIFY(finished.wait(10000));
        QCOMPARE(retrieved.count(), 2);
        QCOMPARE(retrieved.at(0).at(1).toByteArray(), one);
        QCOMPARE(retrieved.at(1).at(1).toByteArray(), two);
        QCOMPARE(status.last(), QString());
        status.removeIf([](const QString &s) { return s.isEmpty() || s.startsWith('+'); });
        QCOMPARE(status, (QStringList{"Connecting...", "USER user1", "PASS ****", "STAT", "RETR 1",
                                      "RETR 2"}));

        // The idle connection deletes; it takes no second command before the reply.
        QSignalSpy deleted(&check, &Pop3Check::messageDeleted);
        QVERIFY(check.isIdle() && check.deleteMessage(2));
        QVERIFY(!check.deleteMessage(1));
        QVERIFY(deleted.wait(5000));
        QCOMPARE(deleted.at(0).at(0).toInt(), 2);
        QSignalSpy closed(&check, &Pop3Job::closed);
        check.quit();
        QVERIFY(closed.wait(5000));
        VERIFY_SCRIPT(server);
    }

    void check_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("log"); // what the check reported, in order
        const auto row = [](const char *name, int kind, const QString &log) {
            QTest::newRow(name) << kind << (log.isEmpty() ? u"closed"_s : log + u"|closed"_s);
        };
        const QString timeout = u"recv:接続処理タイムアウト。"_s;
        const QString unsafe = u":改行などの制御文字を含むため送信できません: "_s;
        row("empty; noise, lower case, code page 932", 0, u"empty"_s);
        row("too large read through, the check goes on", 1, u"1|2 too large|3|finished"_s);
        row("idle session closed silently", 2, u"1|finished"_s);
        row("idle session closed after -ERR", 3, u"1|finished"_s);
        row("idle session closed after noise", 4, u"1|finished"_s);
        row("quit during RETR waits for the answer", 5, {});
        row("wrong password", 6, u"recv:-ERR [AUTH] Authentication failed."_s);
        row("closed in the middle of RETR", 7, u"recv:リモートホストから切断された。"_s);
        row("negative RETR ends with QUIT", 8, u"recv:-ERR no such message"_s);
        row("refused port", 9, u"connect:接続が拒否された。"_s);
        row("unknown host", 10, u"connect:ホストが見つからない。"_s);
        row("silent server", 11, timeout);
        row("status line trickling in", 12, timeout);
        row("RETR answer trickling too slowly", 13, timeout);
        row("status line without end", 14,
            u"recv:データがバッファより大きいので切りつめられた。"_s);
        row("line break in the user id", 15, "USER" + unsafe + "USER");
        row("NUL in the password", 16, "PASS" + unsafe + "PASS");
    }
    void check()
    {
        QFETCH(int, kind);
        FakeServer server{kind == 5};
        Pop3Settings s = Pop3At(server.port(), kind == 11 || kind == 12 ? 400 : 5000);
        s.limits.rateWindowMs = 300;
        s.limits.minBytesPerWindow = 100;
        s.limits.maxAnswer = 1000;
        QByteArray big = "+OK 5000 octets\r\nSubject: big\r\n\r\n";
        for (int i = 0; i < 200; ++i)
            big += QByteArray(30, 'a' + i % 26) + "\r\n";
        if (kind == 0) {
            s.userId = u"鈴木"_s;
            server.send("garbage before the greeting").send("+ok hello");
            server.expect("USER " + Cp932::Encode(s.userId)).send("+OK").expect("PASS pass");
            server.send("+OK").expect("STAT").send("+OK 0 0");
        } else if (kind == 1) {
            server.pop3Listing({RetrMemo("<1>", "x"), big + ".\r\n", RetrMemo("<3>", "after")});
        } else if (kind <= 4) {
            server.pop3Listing({RetrMemo("<1>", "x")}).pause(100);
            if (kind > 2)
                server.send(kind == 3 ? "-ERR Disconnected for inactivity." : "* BYE");
            server.close();
        } else if (kind == 5) {
            server.pop3Listing({RetrMemo("<1>", "+OK lookalike")});
        } else if (kind == 6) {
            server.pop3Login({});
        } else if (kind == 7 || kind == 8 || kind == 13) {
            server.pop3Login("+OK 1 100").expect("RETR 1");
        }
        if (kind == 7)
            server.send("+OK 100\r\nSubject: x\r\n", false).close();
        if (kind == 8)
            server.send("-ERR no such message");
        if (kind == 9 || kind == 10)
            s.port = QString::number(FakeServer::closedPort());
        if (kind == 10)
            s.server = u"no-such-host.invalid"_s;
        if (kind == 12) // every read used to restart the watchdog
            server.trickle("+OK a greeting that never ends", 1, 100);
        if (kind == 13) // a byte every 50 ms: 6 bytes in a window of 300 ms
            server.trickle("+OK 100\r\nSubject: slow\r\n\r\ntext\r\n.\r\n", 1, 50);
        if (kind == 14)
            server.send(QByteArray(10000, 'x'), false);
        if (kind == 15)
            s.userId = u"user1\r\nDELE 1"_s;
        if (kind == 16)
            s.password = u"pa"_s + QChar(0) + u"ss"_s;
        if (kind <= 1 || kind == 5 || kind == 8)
            server.expect("QUIT").send("+OK");

        Pop3Check check(s);
        QStringList log;
        connect(
            &check, &Pop3Check::messageRetrieved, this, [&](int n, const QByteArray &a, bool big) {
                // After a message too large, the next answer starts clean.
                const bool whole = a.startsWith("+OK 100 octets\r\n") && a.endsWith("\r\n.\r\n");
                log << QString::number(n) + (big     ? u" too large"_s
                                             : whole ? QString()
                                                     : u" torn"_s);
            });
        connect(&check, &Pop3Check::checkFinished, this,
                [&](bool empty) { log << (empty ? u"empty"_s : u"finished"_s); });
        connect(&check, &Pop3Job::failed, this, [&](const QString &e) { log << e; });
        connect(&check, &Pop3Job::closed, this, [&] { log << u"closed"_s; });
        QString status;
        connect(&check, &Pop3Job::statusText, this, [&](const QString &text) {
            if (kind == 5 && text == "RETR 1"_L1)
                check.quit();
            status = text;
        });
        check.start();
        if (kind <= 1) { // the session stays until it is ended
            QTRY_VERIFY_WITH_TIMEOUT(log.contains(kind ? u"finished"_s : u"empty"_s), 10000);
            QTest::qWait(50);
            QVERIFY(!server.received().contains("QUIT"));
            QCOMPARE(status, kind ? QString() : u"No Message."_s);
            check.quit();
        }
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(u"closed"_s), 20000);
        QTEST(log.join(u'|'), "log");
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        QVERIFY(server.done() || (kind >= 11 && kind <= 13)); // those still sending
        if (kind >= 15)                                       // nothing of it went out
            QCOMPARE(server.received(), QList<QByteArray>());
    }

    void deleteByKeyOverItsOwnConnection()
    {
        FakeServer server;
        server.pop3Listing({RetrMemo("<1>", "one"), RetrMemo("<2>", "two")});
        server.expect("DELE 2").send("+OK").expect("QUIT").send("+OK");
        QStringList asked;
        Pop3Delete job(Pop3At(server.port()), u"two"_s, [&asked](const QByteArray &answer, bool) {
            asked << QString::fromLatin1(answer.mid(answer.indexOf("\r\n\r\n") + 4, 3));
            return asked.last();
        });
        QSignalSpy deleted(&job, &Pop3Delete::deleted);
        QSignalSpy closed(&job, &Pop3Job::closed);
        job.start();
        QVERIFY(closed.wait(5000));
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(asked, (QStringList{"one", "two"}));
        VERIFY_SCRIPT(server);
    }

    void errorText()
    {
        // The first and the last row of the table, and numbers without a row.
        QCOMPARE(WSAErrorText(10004), u"呼び出しが取り消された。"_s);
        QCOMPARE(WSAErrorText(11004), u"データレコードの型が要求されていない。"_s);
        QCOMPARE(WSAErrorText(10062), u"(10062)"_s);
        QCOMPARE(WSAErrorText(0), u"(0)"_s);
    }

    void send_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("outcome"); // "sent", or the failure reported
        const QString unsafe = u"改行などの制御文字を含むため送信できません: "_s;
        const QString timeout = u"recv:接続処理タイムアウト。"_s;
        QTest::newRow("multi-line greeting in one read") << 0 << u"sent"_s;
        QTest::newRow("multi-line greeting in two reads") << 1 << u"sent"_s;
        QTest::newRow("commands in code page 932") << 2 << u"sent"_s;
        // A refused recipient is named.
        QTest::newRow("251 to RCPT TO") << 3 << u"recv:251 User not local\r\n宛先: a@b"_s;
        QTest::newRow("550 to RCPT TO") << 4 << u"recv:550 5.1.1 no such user\r\n宛先: a@b"_s;
        QTest::newRow("554 after the data") << 5 << u"recv:554 5.7.1 rejected: spam"_s;
        QTest::newRow("silence after the end of data")
            << 6
            << timeout + u"\r\nメッセージは既に配送されている可能性があります。"
                         u"再送信すると重複することがあります。"_s;
        QTest::newRow("refused port") << 7 << u"connect:接続が拒否された。"_s;
        QTest::newRow("silent server") << 8 << timeout;
        QTest::newRow("greeting 554, then close") << 9 << u"recv:554 go away"_s;
        QTest::newRow("line break in a recipient")
            << 10 << "RCPT TO:" + unsafe + "a@b?RCPT TO:<x@y>";
        QTest::newRow("NUL in the sender") << 11 << "MAIL FROM:" + unsafe + "me?@host1";
    }
    void send()
    {
        QFETCH(int, kind);
        QFETCH(QString, outcome);
        FakeServer server;
        SmtpSend::Settings s{u"127.0.0.1"_s, QString::number(server.port()), u"host1"_s, {}};
        s.limits.replyTimeoutMs = kind == 6 || kind == 8 ? 300 : 5000;
        s.limits.quitTimeoutMs = 2000;
        QString from = kind == 2 ? u"営業@host1"_s : u"user1@host1"_s;
        QStringList to{u" a@b "_s, {}, u"  "_s}; // blanks trimmed, empty recipients skipped
        if (kind <= 6) {
            // The whole dialogue; the client line a failure answers ends it.
            const QByteArray failAt = kind == 3 || kind == 4 ? "RCPT TO:<a@b>" : ".";
            if (kind == 0)
                server.send("220-host1 welcome\r\n220 ready");
            else
                server.send("220-host1 welcome").send("220 ready");
            const QList<std::pair<QByteArray, QByteArray>> dialogue{
                {"HELO host1", "250-host1\r\n250-PIPELINING\r\n250 8BITMIME"},
                {"MAIL FROM:<" + Cp932::Encode(from) + ">", "250 ok"},
                {"RCPT TO:<a@b>", "250 ok"},
                {"DATA", "354 go"},
                {"x", {}},
                {"", {}},
                {".", "250 ok"},
                {"QUIT", "221 bye"}};
            for (const auto &[line, answer] : dialogue) {
                server.expect(line);
                if (kind >= 3 && line == failAt) {
                    if (kind != 6)
                        server.send(outcome.section(u"\r\n"_s, 0, 0).mid(5).toLatin1());
                    break;
                }
                if (!answer.isEmpty())
                    server.send(answer);
            }
        }
        if (kind == 7)
            s.port = QString::number(FakeServer::closedPort());
        if (kind == 9)
            server.send("554 go away").close();
        if (kind == 10)
            to = QStringList{u"a@b\nRCPT TO:<x@y>"_s};
        if (kind == 11)
            from = u"me"_s + QChar(0) + u"@host1"_s;

        SmtpSend job(s);
        QStringList outcomes;
        connect(&job, &SmtpSend::sent, this, [&] { outcomes << u"sent"_s; });
        connect(&job, &SmtpSend::failed, this, [&](const QString &e) { outcomes << e; });
        QSignalSpy closed(&job, &SmtpSend::closed);
        job.sendMail(from, to, "x");
        QVERIFY(!closed.isEmpty() || closed.wait(10000));
        QCOMPARE(outcomes, QStringList(outcome));
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        QVERIFY(server.done() || kind == 8);
        if (kind >= 10) // nothing went out, not even a connection
            QCOMPARE(server.connections(), 0);
    }

    void dotStuffing()
    {
        QCOMPARE(SmtpDataBlock(".\r\n.abc\r\nx.\r\n..\r\nend"),
                 QByteArray("..\r\n..abc\r\nx.\r\n...\r\nend\r\n\r\n.\r\n"));
        QCOMPARE(SmtpDataBlock("a\r\n"), QByteArray("a\r\n\r\n.\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestDialogues)
#include "tst_dialogues.moc"
