// The dialogues against a scripted server: the POP3 jobs and the line session under them,
// the mail check over them, the SMTP job (its form: tst_windows), the socket error texts.

#include "Cp932.h"
#include "FakeServer.h"
#include "IniFile.h"
#include "MailCheck.h"
#include "ServerSettings.h"
#include "SmtpSend.h"
#include "WSock.h"

#include <QtTest>

using Result = MailCheck::DeleteResult;

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
        // After a message too large, the next answer starts clean.
        const auto retrieved = [&](int n, const QByteArray &a, bool big) {
            const bool torn = !a.startsWith("+OK 100 octets\r\n") || !a.endsWith("\r\n.\r\n");
            log << QString::number(n) + (big ? u" too large"_s : torn ? u" torn"_s : QString());
        };
        connect(&check, &Pop3Check::messageRetrieved, this, retrieved);
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
        QCOMPARE(WSAErrorText(10004) + WSAErrorText(11004) + WSAErrorText(10062) + WSAErrorText(0),
                 u"呼び出しが取り消された。データレコードの型が要求されていない。(10062)(0)"_s);
    }

    void send_data()
    {
        QTest::addColumn<QByteArray>("script"); // see FakeServer::script
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("outcome"); // "sent", or the failure reported
        const QString unsafe = u"改行などの制御文字を含むため送信できません: "_s;
        const QString timeout = u"recv:接続処理タイムアウト。"_s;
        // The whole dialogue up to the client's line, then the server's answer.
        auto upTo = [](const QByteArray &line, const QByteArray &answer,
                       const QByteArray &from = "user1@host1") -> QByteArray {
            const QByteArray all = "<220-host1 welcome\r\n220 ready|>HELO host1|<250-host1\r\n"
                                   "250-PIPELINING\r\n250 8BITMIME|>MAIL FROM:<" +
                                   from + ">|<250 ok|>RCPT TO:<a@b>|<250 ok|>DATA|<354 go|>x|>|>.|";
            return all.left(all.indexOf(QByteArray(">" + line + "|")) + line.size() + 2) + answer;
        };
        const auto row = [](const char *name, const QByteArray &script, const QString &outcome,
                            const QString &from = u"user1@host1"_s,
                            const QString &to = u" a@b "_s) {
            QTest::newRow(name) << script << from << to << outcome;
        };
        const QByteArray sent = "<250 ok|>QUIT|<221 bye";
        // clang-format off
        row("multi-line greeting in one read", upTo(".", sent), u"sent"_s);
        row("multi-line greeting in two reads", upTo(".", sent).replace("\r\n220 ready", "|<220 ready"), u"sent"_s);
        row("commands in code page 932", upTo(".", sent, Cp932::Encode(u"営業@host1"_s)), u"sent"_s, u"営業@host1"_s);
        // A refused recipient is named.
        row("251 to RCPT TO", upTo("RCPT TO:<a@b>", "<251 User not local"), u"recv:251 User not local\r\n宛先: a@b"_s);
        row("550 to RCPT TO", upTo("RCPT TO:<a@b>", "<550 5.1.1 no such user"), u"recv:550 5.1.1 no such user\r\n宛先: a@b"_s);
        row("554 after the data", upTo(".", "<554 5.7.1 rejected: spam"), u"recv:554 5.7.1 rejected: spam"_s);
        row("silence after the end of data", upTo(".", {}), timeout + u"\r\nメッセージは既に配送されている可能性があります。再送信すると重複することがあります。"_s);
        row("refused port", "refused", u"connect:接続が拒否された。"_s);
        row("silent server", {}, timeout);
        row("greeting 554, then close", "<554 go away|C", u"recv:554 go away"_s);
        row("line break in a recipient", {}, "RCPT TO:" + unsafe + "a@b?RCPT TO:<x@y>", u"user1@host1"_s, u"a@b\nRCPT TO:<x@y>"_s);
        row("NUL in the sender", {}, "MAIL FROM:" + unsafe + "me?@host1", u"me"_s + QChar(0) + u"@host1"_s);
        // clang-format on
    }
    void send()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, outcome);
        FakeServer server;
        server.script(script);
        SmtpSend::Settings s{
            u"127.0.0.1"_s, QString::number(server.port()), u"host1"_s, {}, {}, false, {}, {}};
        if (script == "refused")
            s.port = QString::number(FakeServer::closedPort());
        // Short bounds where the server stays silent.
        s.limits.replyTimeoutMs = outcome.startsWith(u"recv:接続処理"_s) ? 300 : 5000;
        s.limits.quitTimeoutMs = 2000;
        SmtpSend job(s);
        QStringList outcomes;
        connect(&job, &SmtpSend::sent, this, [&] { outcomes << u"sent"_s; });
        connect(&job, &SmtpSend::failed, this, [&](const QString &e) { outcomes << e; });
        QSignalSpy closed(&job, &SmtpSend::closed);
        // Blanks are trimmed, empty recipients skipped.
        job.sendMail(from, {to, {}, u"  "_s}, "x");
        QVERIFY(!closed.isEmpty() || closed.wait(10000));
        QCOMPARE(outcomes, QStringList(outcome));
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        QVERIFY(server.done() || script.isEmpty());
        if (outcome.contains(u"制御文字"_s)) // nothing went out, not even a connection
            QCOMPARE(server.connections(), 0);
    }

    void aMailLargerThanOneWriteGoesWholeAndInOrder()
    {
        // 16 MB: more than the connection takes at once; the rest follows queued.
        QList<QByteArray> lines;
        for (char c = 'a'; c < 'q'; ++c)
            lines << QByteArray(1 << 20, c);
        const QByteArray mail = lines.join("\r\n");
        FakeServer server;
        server.script("<220 ok|>HELO host1|<250 ok|>MAIL FROM:<a@b>|<250 ok|>RCPT TO:<c@d>|<250 ok"
                      "|>DATA|<354 go");
        for (int line = 0; line <= 17; ++line)
            server.expect("*");
        server.script("<250 ok|>QUIT|<221 bye");
        SmtpSend job({.server = u"127.0.0.1"_s,
                      .port = QString::number(server.port()),
                      .heloName = u"host1"_s});
        QSignalSpy sent(&job, &SmtpSend::sent);
        job.sendMail(u"a@b"_s, {u"c@d"_s}, mail);
        QVERIFY(sent.wait(30000));
        QCOMPARE(server.received().mid(4, 18), lines << ""
                                                     << ".");
    }

    // Without the keys of encryption and authentication, exactly the plain dialogues.
    void withoutTheNewKeysTheDialoguesStayPlain()
    {
        QTemporaryDir folder;
        const IniFile ini(folder.filePath(u"Tavrino.ini"_s));
        FakeServer pop3, smtp;
        QVERIFY(ini.SetIniParms(TavrinoSection, {{u"UserID"_s, u"user1"_s},
                                                 {u"Password"_s, u"pass"_s},
                                                 {u"Domain"_s, u"host1"_s},
                                                 {u"Pop3Server"_s, u"127.0.0.1"_s},
                                                 {u"Pop3Port"_s, QString::number(pop3.port())},
                                                 {u"SmtpServer"_s, u"127.0.0.1"_s},
                                                 {u"SmtpPort"_s, QString::number(smtp.port())}}));
        const QStringList values = ReadTavrinoValues(ini);
        pop3.pop3Login("+OK 0 0").expect("QUIT").send("+OK");
        Pop3Check check(Pop3SettingsFrom(values, folder.path()));
        QSignalSpy finished(&check, &Pop3Check::checkFinished), closed(&check, &Pop3Job::closed);
        check.start();
        QVERIFY(finished.wait(5000));
        check.quit();
        QVERIFY(closed.wait(5000));
        QCOMPARE(pop3.wire(), QByteArray("USER user1\r\nPASS pass\r\nSTAT\r\nQUIT\r\n"));

        smtp.script("<220 hi|>*|<250 ok|>*|<250 ok|>*|<250 ok|>DATA|<354 go|>x|>|>.|<250 ok|>QUIT|"
                    "<221 bye");
        SmtpSend job(SmtpSettingsFrom(values, folder.path()));
        QSignalSpy done(&job, &SmtpSend::closed);
        job.sendMail(u"me@host1"_s, {u"a@b"_s}, "x");
        // The answer to QUIT ends the connection; no waiting out its bound.
        QVERIFY(done.wait(2000));
        QCOMPARE(smtp.wire(), QByteArray("HELO host1\r\nMAIL FROM:<me@host1>\r\nRCPT TO:<a@b>\r\n"
                                         "DATA\r\nx\r\n\r\n.\r\nQUIT\r\n"));
    }

    void secured_data()
    {
        QTest::addColumn<QString>("mode");      // "stls", "tls" (POP3) or "starttls", "smtps"
        QTest::addColumn<QString>("cert");      // what the server shows
        QTest::addColumn<QByteArray>("script"); // see FakeServer::script
        QTest::addColumn<QString>("outcome");   // the first line of the failure, or "done"
        QTest::addColumn<QByteArray>("wire");   // what the server got, up to the mail
        const QString untrusted = u"TLS:サーバーの証明書を信頼できません。"
                                  u"パスワードもメッセージも送らずに接続を終了しました。"_s;
        const QString notOffered = u"サーバーが %1 に対応していないため、暗号化できません。"
                                   u"パスワードもメッセージも送らずに接続を終了しました。"_s;
        const QByteArray ehlo = "EHLO host1\r\n", starttls = ehlo + "STARTTLS\r\n";
        const QByteArray upgrade = "<220 hi|>EHLO host1|<250-host1\r\n250 STARTTLS|>STARTTLS|";
        const QByteArray mail = "|>MAIL FROM:<user1@host1>|<250 ok|>*|<250 ok|>DATA|<354 "
                                "go|>x|>|>.|<250 ok|>QUIT|<221 bye";
        QTest::newRow("POP3 over STLS")
            << u"stls"_s << u"server"_s
            << QByteArray(
                   "<+OK|>STLS|<+OK go|T|<+OK|>USER user1|<+OK|>PASS pass|<+OK|>STAT|<+OK 0 0")
            << u"done"_s << QByteArray("STLS\r\nUSER user1\r\nPASS pass\r\nSTAT\r\n");
        QTest::newRow("POP3 server without STLS")
            << u"stls"_s << u"server"_s << QByteArray("<+OK|>STLS|<-ERR no")
            << u"STLS:"_s + notOffered.arg(u"STLS"_s) << QByteArray("STLS\r\n");
        QTest::newRow("POP3S certificate of another authority")
            << u"tls"_s << u"rogue"_s << QByteArray() << untrusted << QByteArray();
        QTest::newRow("SMTP STARTTLS and AUTH PLAIN")
            << u"starttls"_s << u"server"_s
            << upgrade +
                   "<220 go|T|>EHLO host1|<250-host1\r\n250 AUTH PLAIN LOGIN|"
                   ">AUTH PLAIN AHVzZXIxAHBhc3M=|<235 ok" +
                   mail
            << u"done"_s << starttls + ehlo + "AUTH PLAIN AHVzZXIxAHBhc3M=\r\n";
        QTest::newRow("SMTPS and AUTH LOGIN, the only one offered")
            << u"smtps"_s << u"server"_s
            << "<220 hi|>EHLO host1|<250-host1\r\n250 AUTH LOGIN|>AUTH LOGIN|<334 VXNlcm5hbWU6|"
               ">dXNlcjE=|<334 UGFzc3dvcmQ6|>cGFzcw==|<235 ok" +
                   mail
            << u"done"_s << ehlo + "AUTH LOGIN\r\ndXNlcjE=\r\ncGFzcw==\r\n";
        QTest::newRow("SMTP server without STARTTLS")
            << u"starttls"_s << u"server"_s
            << QByteArray("<220 hi|>EHLO host1|<250-host1\r\n250 AUTH PLAIN")
            << u"STARTTLS:"_s + notOffered.arg(u"STARTTLS"_s) << ehlo;
        QTest::newRow("SMTP certificate for another host")
            << u"starttls"_s << u"otherhost"_s << upgrade + "<220 go|T" << untrusted << starttls;
        QTest::newRow("SMTP AUTH not offered")
            << u"starttls"_s << u"server"_s << upgrade + "<220 go|T|>EHLO host1|<250 host1"
            << u"AUTH:サーバーが SMTP 認証 (AUTH PLAIN または LOGIN) に対応していないため、"
               u"パスワードもメッセージも送らずに接続を終了しました。"_s
            << starttls + ehlo;
        QTest::newRow("SMTP plain text after the answer to STARTTLS")
            << u"starttls"_s << u"server"_s << upgrade + "<220 go\r\n250 injected"
            << u"TLS:サーバーとの暗号化通信を確立できませんでした。"
               u"パスワードもメッセージも送らずに接続を終了しました。"_s
            << starttls;
    }
    // Nothing secret leaves the desk unless the connection is secured and
    // the certificate is the server's; the server's transcript shows it.
    void secured()
    {
        QFETCH(QString, mode);
        QFETCH(QString, cert);
        QFETCH(QByteArray, script);
        const bool implicit = mode == u"tls"_s || mode == u"smtps"_s;
        FakeServer server;
        server.useCertificate(m_certs.filePath(cert), implicit);
        server.script(script);
        const TlsSettings tls{
            implicit ? TlsMode::Implicit : TlsMode::Upgrade, m_certs.filePath(u"ca.pem"_s), {}};
        QStringList outcomes, status;
        auto record = [&](auto *job, auto done, auto failed, auto shown) {
            connect(job, done, this, [&] { outcomes << u"done"_s; });
            connect(job, failed, this, [&](const QString &e) { outcomes << e; });
            connect(job, shown, this, [&](const QString &t) { status << t; });
        };
        std::unique_ptr<QObject> job;
        if (mode.size() <= 4) {
            Pop3Settings s = Pop3At(server.port());
            s.server = u"localhost"_s;
            s.tls = tls;
            auto *check = new Pop3Check(s);
            job.reset(check);
            record(check, &Pop3Check::checkFinished, &Pop3Job::failed, &Pop3Job::statusText);
            check->start();
        } else {
            const QString port = QString::number(server.port());
            auto *send = new SmtpSend(
                {u"localhost"_s, port, u"host1"_s, {}, tls, true, u"user1"_s, u"pass"_s});
            job.reset(send);
            record(send, &SmtpSend::sent, &SmtpSend::failed, &SmtpSend::statusText);
            send->sendMail(u"user1@host1"_s, {u"a@b"_s}, "x");
        }
        QTRY_VERIFY_WITH_TIMEOUT(!outcomes.isEmpty(), 10000);
        QFETCH(QString, outcome);
        QCOMPARE(outcomes.first().section(u"\r\n"_s, 0, 0), outcome);
        if (outcome.startsWith(
                u"TLS:サーバーの証明書"_s)) // followed by the reason the certificate was refused
            QVERIFY(!outcomes.first().section(u"\r\n"_s, 1).isEmpty());
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        QFETCH(QByteArray, wire);
        const QByteArray got = server.wire();
        QCOMPARE(outcome == u"done"_s ? got.left(wire.size()) : got, wire);
        // Credentials never show.
        QVERIFY(!status.join('|').contains(u"pass"_s) && !status.join('|').contains(u"AHVz"_s));
        QCOMPARE(status.contains(u"AUTH ****"_s), wire.contains("AUTH"));
    }

    void dotStuffing()
    {
        QCOMPARE(SmtpDataBlock(".\r\n.abc\r\nx.\r\n..\r\nend"),
                 QByteArray("..\r\n..abc\r\nx.\r\n...\r\nend\r\n\r\n.\r\n"));
        QCOMPARE(SmtpDataBlock("a\r\n"), QByteArray("a\r\n\r\n.\r\n"));
    }

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
        QTest::addColumn<QStringList>("announced");
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
        // A memo gone from the server is forgotten, and announced again when
        // it is back; also when a message too large takes its place.
        const QStringList again{"one", "two", "three", "two", "four"};
        QTest::newRow("one gone, a too large one in its place, back") << 4 << again << QString();
        QTest::newRow("one gone, then back") << 5 << again << QString();
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
        if (kind >= 4) {
            const QList<QByteArray> without2{all[0], all[2],
                                             RetrMemo("<big>", QByteArray(3000, 'b'))};
            server.pop3Listing(without2.mid(0, kind == 4 ? 3 : 2))
                .expect("QUIT")
                .send("+OK")
                .close();
        }
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
        QFETCH(QStringList, announced);
        QTRY_COMPARE(shown.size(), announced.size());
        QCOMPARE(shown, announced);
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

private:
    // The TLS office's certificates: "server" is trusted through ca.pem, "rogue" is
    // signed by another authority, "otherhost" names another host.
    const QDir m_certs{qEnvironmentVariable("TAV_MAILOFFICE_TLS_DIR") + u"/tls"_s};
};

QTEST_GUILESS_MAIN(TestDialogues)
#include "tst_dialogues.moc"
