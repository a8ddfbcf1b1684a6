// The dialogues against a scripted server: the POP3 jobs and the line session under them,
// the mail check over them, the SMTP job (its form: tst_windows), the socket error texts.

#include "Cp932.h"
#include "FakeServer.h"
#include "IniFile.h"
#include "MailCheck.h"
#include "ServerSettings.h"
#include "SmtpSend.h"

#include <QtTest>

using Result = MailCheck::DeleteResult;

class TestDialogues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void check_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("log"); // what the check reported, in order
        const auto row = [](const char *name, int kind, const QString &log) {
            QTest::newRow(name) << kind << (log.isEmpty() ? u"closed"_s : log + u"|closed"_s);
        };
        const QString timeout = u"recv:接続処理タイムアウト。"_s;
        const QString unsafe = u":改行などの制御文字を含むため送信できません: "_s;
        const QString unreadable = u":メールサーバーの応答を読み取れません。\r\n"_s;
        row("empty; noise, lower case, code page 932", 0, u"empty"_s);
        row("listed too large: never retrieved", 19, u"1|2 too large|3|finished"_s);
        row("UIDL line without an id", 4, "UIDL" + unreadable + "2");
        row("UIDL listing fewer than STAT", 17, "UIDL" + unreadable + "+OK");
        row("quit during RETR waits for the answer; bytes, pause before reads", 5, {});
        row("negative RETR ends with QUIT", 8, u"recv:-ERR no such message"_s);
        row("refused port", 9, u"connect:接続が拒否された。"_s);
        row("unknown host", 10, u"connect:ホストが見つからない。"_s);
        row("silent server", 11, timeout);
        row("RETR answer trickling too slowly", 13, timeout);
        row("RETR answer trickling past the check's deadline", 18, timeout);
        row("status line without end", 14,
            u"recv:データがバッファより大きいので切りつめられた。"_s);
        row("line break in the user id", 15, "USER" + unsafe + "USER");
        row("NUL in the password", 16, "PASS" + unsafe + "PASS");
    }
    void check()
    {
        QFETCH(int, kind);
        FakeServer server{kind == 5};
        Pop3Settings s = Pop3At(server.port(), kind == 11 ? 400 : 5000);
        s.limits.rateWindowMs = 300;
        s.limits.minBytesPerWindow = 100;
        s.limits.maxAnswer = 1000;
        s.limits.readDelayMs = kind == 5 ? 20 : 0;
        if (kind == 18) { // the rate rule alone would let it go on for minutes
            s.limits.minBytesPerWindow = 1;
            s.bounds.allowanceMs = 1500;
        }
        if (kind == 0) {
            s.userId = u"鈴木"_s;
            server.send("garbage before the greeting").send("+ok hello");
            server.expect("USER " + Cp932::Encode(s.userId)).send("+OK").expect("PASS pass");
            server.send("+OK").expect("STAT").send("+OK 0 0");
        } else if (kind == 19) {
            server.pop3Login("+OK 3 900").pop3Uidl({"u1", "u2", "u3"}).expect("LIST");
            server.send("+OK\r\n1 100\r\n2 5000\r\n3 100\r\n.\r\n", false);
            server.expect("RETR 1").send(RetrMemo("<1>", "x"), false);
            server.expect("RETR 3").send(RetrMemo("<3>", "after"), false);
        } else if (kind == 4) {
            server.pop3Login("+OK 2 200").expect("UIDL").send("+OK\r\n1 u1\r\n2\r\n.\r\n", false);
        } else if (kind == 17) {
            server.pop3Login("+OK 2 200").pop3Uidl({"u1"});
        } else if (kind == 5) {
            server.pop3Check({"u1"}, {{1, RetrMemo("<1>", "+OK lookalike")}}, false);
        } else if (kind == 8 || kind == 13 || kind == 18) {
            server.pop3Check({"u1"}, {}, false).pop3List(1).expect("RETR 1");
        }
        if (kind == 8)
            server.send("-ERR no such message");
        if (kind == 9 || kind == 10)
            s.port = QString::number(FakeServer::closedPort());
        s.server = kind == 10 ? u"no-such-host.invalid"_s : s.server;
        if (kind == 13) // a byte every 50 ms: 6 bytes in a window of 300 ms
            server.trickle("+OK 100\r\nSubject: slow\r\n\r\ntext\r\n.\r\n", 1, 50);
        if (kind == 18) // a byte every 100 ms, for ever
            server.trickle("+OK 100\r\nX: " + QByteArray(1000, 'x'), 1, 100);
        if (kind == 14)
            server.send(QByteArray(10000, 'x'), false);
        s.userId = kind == 15 ? u"user1\r\nDELE 1"_s : s.userId;
        s.password = kind == 16 ? u"pa"_s + QChar(0) + u"ss"_s : s.password;
        if (kind == 0 || kind == 4 || kind == 5 || kind == 8 || kind == 17 || kind == 19)
            server.expect("QUIT").send("+OK");

        Pop3Check check(s); // every message is new
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
        QStringList status;
        connect(&check, &Pop3Job::statusText, this, [&](const QString &text) {
            if (kind == 5 && text == "RETR 1"_L1)
                check.quit();
            status << text;
        });
        QElapsedTimer elapsed;
        elapsed.start();
        check.start();
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(u"closed"_s), 20000);
        QTEST(log.join(u'|'), "log");
        if (kind == 0 || kind == 19) // the check's last word stays, not "QUIT"
            QCOMPARE(status.last(), kind ? QString() : u"No Message."_s);
        status.removeIf([](const QString &s) { return s.isEmpty() || s.startsWith('+'); });
        if (kind == 19)
            QCOMPARE(status, (QStringList{"Connecting...", "USER user1", "PASS ****", "STAT",
                                          "UIDL", "LIST", "RETR 1", "RETR 3"}));
        if (kind == 18) { // closed at its deadline, not at the server's pace
            QVERIFY2(elapsed.elapsed() < 4000, qPrintable(QString::number(elapsed.elapsed())));
            QTRY_VERIFY(server.connections() == 1 && !server.isConnected());
        }
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        QVERIFY(server.done() || kind == 11 || kind == 13 || kind == 18); // those still sending
        if (kind >= 15 && kind <= 16)                                     // nothing of it went out
            QCOMPARE(server.received(), QList<QByteArray>());
    }

    void deleteByKeyWithoutUniqueIds()
    {
        FakeServer server;
        server.pop3Login("+OK 2 200");
        server.expect("RETR 1").send(RetrMemo("<1>", "one"), false);
        server.expect("RETR 2").send(RetrMemo("<2>", "two"), false);
        server.expect("DELE 2").send("+OK").expect("QUIT").send("+OK");
        QStringList asked;
        Pop3Delete job(
            Pop3At(server.port()), {}, u"two"_s, [&asked](const QByteArray &answer, bool) {
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
            u"127.0.0.1"_s, QString::number(server.port()), u"host1"_s, {}, {}, false, {}, {}, {}};
        if (script == "refused")
            s.port = QString::number(FakeServer::closedPort());
        s.limits.replyTimeoutMs = outcome.startsWith(u"recv:接続処理"_s) ? 300 : 5000;
        // After a mail, the answer to QUIT ends the connection, not the bound.
        s.limits.quitTimeoutMs = outcome == u"sent"_s ? 60000 : 2000;
        SmtpSend job(s);
        QStringList outcomes;
        connect(&job, &SmtpSend::sent, this, [&] { outcomes << u"sent"_s; });
        connect(&job, &SmtpSend::failed, this, [&](const QString &e) { outcomes << e; });
        QSignalSpy closed(&job, &SmtpSend::closed);
        // Blanks are trimmed, empty recipients skipped.
        job.sendMail(from, {to, {}, u"  "_s}, "x");
        QVERIFY(!closed.isEmpty() || closed.wait(10000));
        QCOMPARE(outcomes, QStringList(outcome));
        QVERIFY2(script.isEmpty() ? server.failure().isEmpty() : server.ok(),
                 qPrintable(server.failure()));
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

    // Without the keys of encryption and authentication, the plain dialogues; a value
    // not understood, or authorities that cannot be read, refuse before connecting.
    void settingsFromTheFile_data()
    {
        QTest::addColumn<QString>("keys");    // key=value|…
        QTest::addColumn<QString>("failure"); // %1: the folder; empty: plain and valid
        // clang-format off
        const QString bad = u"Tavrino.ini:Tavrino.ini の "_s, ca = u"TLS:CAFile の証明書を読み込めません: %1/"_s;
        QTest::newRow("none of the keys") << QString() << QString();
        QTest::newRow("POP3 security unknown") << u"Pop3Security=ssl"_s << bad + u"Pop3Security の値が正しくありません: ssl"_s;
        QTest::newRow("SMTP security unknown") << u"SmtpSecurity= SSL "_s << bad + u"SmtpSecurity の値が正しくありません: SSL"_s;
        QTest::newRow("SMTP authentication unknown") << u"SmtpAuth=yes"_s << bad + u"SmtpAuth の値が正しくありません: yes"_s;
        QTest::newRow("POP3 CAFile missing") << u"Pop3Security=tls|CAFile=no.pem"_s << ca + "no.pem";
        const QString plain = u"Tavrino.ini:OAuth によるサインインには暗号化通信が必要です。Tavrino.ini の %1 を %2 または tls にしてください。"_s;
        QTest::newRow("POP3 OAuth in plain text") << u"Pop3Security=none|AuthMethod=oauth"_s << plain.arg(u"Pop3Security"_s, u"stls"_s);
        QTest::newRow("SMTP OAuth in plain text") << u"SmtpSecurity=|AuthMethod=OAuth"_s << plain.arg(u"SmtpSecurity"_s, u"starttls"_s);
        QTest::newRow("POP3 OAuth before signing in") << u"Pop3Security=stls|AuthMethod=oauth"_s << u"AUTH:サインインしていません。設定画面の「サインイン」でサインインしてください。"_s;
        QTest::newRow("login method unknown") << u"AuthMethod=sso"_s << bad + u"AuthMethod の値が正しくありません: sso"_s;
        QTest::newRow("SMTP CAFile empty") << u"SmtpSecurity=starttls|CAFile=empty.pem"_s << ca + "empty.pem";
        // clang-format on
    }
    void settingsFromTheFile()
    {
        QFETCH(QString, keys);
        QFETCH(QString, failure);
        FakeServer server;
        QTemporaryDir folder;
        const IniFile ini(folder.filePath(u"Tavrino.ini"_s));
        QList<std::pair<QString, QString>> values{{u"UserID"_s, u"user1"_s}};
        for (const QString &key : {u"Pop3"_s, u"Smtp"_s})
            values << std::pair{key + u"Server"_s, u"127.0.0.1"_s}
                   << std::pair{key + u"Port"_s, QString::number(server.port())};
        for (const QString &pair : keys.split(u'|', Qt::SkipEmptyParts))
            values << std::pair{pair.section(u'=', 0, 0), pair.section(u'=', 1)};
        QVERIFY(ini.SetIniParms(TavrinoSection, values));
        QFile(folder.filePath(u"empty.pem"_s)).open(QIODevice::WriteOnly);
        const QStringList read = ReadTavrinoValues(ini);
        const Pop3Settings pop3 = Pop3SettingsFrom(read, folder.path());
        const SmtpSend::Settings smtp = SmtpSettingsFrom(read, folder.path());
        if (failure.isEmpty()) {
            QVERIFY(pop3.tls.mode == TlsMode::None && pop3.tls.configError.isEmpty());
            QVERIFY(smtp.tls.mode == TlsMode::None && smtp.tls.configError.isEmpty() && !smtp.auth);
            QVERIFY(!pop3.oauth.enabled && !smtp.oauth.enabled);
            return;
        }
        QStringList failures;
        std::unique_ptr<QObject> job;
        if (keys.startsWith(u"Pop3"_s)) {
            auto *check = new Pop3Check(pop3);
            job.reset(check);
            connect(check, &Pop3Job::failed, this, [&](const QString &e) { failures << e; });
            check->start();
        } else {
            auto *send = new SmtpSend(smtp);
            job.reset(send);
            connect(send, &SmtpSend::failed, this, [&](const QString &e) { failures << e; });
            send->sendMail(u"a@b"_s, {u"c@d"_s}, "x");
        }
        QTRY_COMPARE(failures, QStringList(failure.replace(u"%1"_s, folder.path())));
        QCOMPARE(server.connections(), 0);
    }

    void secured_data()
    {
        QTest::addColumn<QString>("mode");      // "stls", "tls" (POP3) or "starttls", "smtps"
        QTest::addColumn<QString>("cert");      // what the server shows
        QTest::addColumn<QByteArray>("script"); // see FakeServer::script
        QTest::addColumn<QString>("outcome");   // the first line of the failure, or "done"
        QTest::addColumn<QByteArray>("wire");   // what the server got, up to the mail
        QTest::addColumn<bool>("oauth");        // the token "tok" instead of the password
        const auto row = [](const char *name, const QString &mode, const QString &cert,
                            const QByteArray &script, const QString &outcome,
                            const QByteArray &wire, bool oauth = false) {
            QTest::newRow(name) << mode << cert << script << outcome << wire << oauth;
        };
        const QString untrusted = u"TLS:サーバーの証明書を信頼できません。"
                                  u"パスワードもメッセージも送らずに接続を終了しました。"_s;
        const QString notOffered = u"サーバーが %1 に対応していないため、暗号化できません。"
                                   u"パスワードもメッセージも送らずに接続を終了しました。"_s;
        const QByteArray ehlo = "EHLO host1\r\n", starttls = ehlo + "STARTTLS\r\n";
        const QByteArray upgrade = "<220 hi|>EHLO host1|<250-host1\r\n250 STARTTLS|>STARTTLS|";
        const QByteArray upgraded = upgrade + "<220 go|T|>EHLO host1|<250";
        const QByteArray smtps = "<220 hi|>EHLO host1|<250-host1\r\n250 AUTH ";
        const QByteArray mail = "|>MAIL FROM:<user1@host1>|<250 ok|>*|<250 ok|>DATA|<354 "
                                "go|>x|>|>.|<250 ok|>QUIT|<221 bye";
        const QByteArray plain = "AUTH PLAIN AHVzZXIxAHBhc3M=";
        // {x}: the XOAUTH2 response, {b}: the OAUTHBEARER one (it names the port).
        const QByteArray stls = "<+OK|>STLS|<+OK go|T|>CAPA|<+OK\r\nUSER\r\nSASL PLAIN XOAUTH2";
        const QByteArray refusal = "eyJzdGF0dXMiOiI0MDAiLCJzY2hlbWVzIjoiQmVhcmVyIn0=";
        // clang-format off
        row("POP3 over STLS", "stls", "server", "<+OK|>STLS|<+OK go|T|>USER user1|<+OK|>PASS pass|<+OK|>STAT|<+OK 0 0", "done", "STLS\r\nUSER user1\r\nPASS pass\r\nSTAT\r\n");
        row("POP3 server without STLS", "stls", "server", "<+OK|>STLS|<-ERR no", "STLS:" + notOffered.arg("STLS"), "STLS\r\n");
        row("POP3S certificate of another authority", "tls", "rogue", {}, untrusted, {});
        row("SMTP STARTTLS and AUTH PLAIN", "starttls", "server", upgraded + "-host1\r\n250 AUTH PLAIN LOGIN|>" + plain + "|<235 ok" + mail, "done", starttls + ehlo + plain + "\r\n");
        row("SMTPS and AUTH LOGIN, the only one offered", "smtps", "server", smtps + "LOGIN|>AUTH LOGIN|<334 VXNlcm5hbWU6|>dXNlcjE=|<334 UGFzc3dvcmQ6|>cGFzcw==|<235 ok" + mail, "done", ehlo + "AUTH LOGIN\r\ndXNlcjE=\r\ncGFzcw==\r\n");
        row("SMTP AUTH refused", "starttls", "server", upgraded + "-host1\r\n250 AUTH PLAIN|>" + plain + "|<535 5.7.8 Authentication failed", "recv:535 5.7.8 Authentication failed", starttls + ehlo + plain + "\r\n");
        row("SMTP server without STARTTLS", "starttls", "server", "<220 hi|>EHLO host1|<250-host1\r\n250 AUTH PLAIN", "STARTTLS:" + notOffered.arg("STARTTLS"), ehlo);
        row("SMTP certificate for another host", "starttls", "otherhost", upgrade + "<220 go|T", untrusted, starttls);
        row("SMTP AUTH not offered", "starttls", "server", upgraded + " host1", u"AUTH:サーバーが SMTP 認証 (AUTH PLAIN または LOGIN) に対応していないため、パスワードもメッセージも送らずに接続を終了しました。"_s, starttls + ehlo);
        row("SMTP plain text after the answer to STARTTLS", "starttls", "server", upgrade + "<220 go\r\n250 injected", u"TLS:サーバーとの暗号化通信を確立できませんでした。パスワードもメッセージも送らずに接続を終了しました。"_s, starttls);
        row("POP3 OAuth: XOAUTH2", "stls", "server", stls + "\r\n.|>AUTH XOAUTH2|<+ |>{x}|<+OK|>STAT|<+OK 0 0", "done", "STLS\r\nCAPA\r\nAUTH XOAUTH2\r\n{x}\r\nSTAT\r\n", true);
        row("POP3 OAuth: OAUTHBEARER where listed", "tls", "server", "<+OK|>CAPA|<+OK\r\nSASL XOAUTH2 OAUTHBEARER\r\n.|>AUTH OAUTHBEARER|<+|>{b}|<+OK|>STAT|<+OK 0 0", "done", "CAPA\r\nAUTH OAUTHBEARER\r\n{b}\r\nSTAT\r\n", true);
        row("POP3 OAuth: XOAUTH2 refused by a challenge", "stls", "server", stls + "\r\n.|>AUTH XOAUTH2|<+ |>{x}|<+ " + refusal + "|>|<-ERR [AUTH] failed", "recv:-ERR [AUTH] failed", "STLS\r\nCAPA\r\nAUTH XOAUTH2\r\n{x}\r\n\r\n", true);
        row("POP3 OAuth: OAUTHBEARER refused by a challenge", "stls", "server", stls + " OAUTHBEARER\r\n.|>AUTH OAUTHBEARER|<+ |>{b}|<+ " + refusal + "|>AQ==|<-ERR [AUTH] failed", "recv:-ERR [AUTH] failed", "STLS\r\nCAPA\r\nAUTH OAUTHBEARER\r\n{b}\r\nAQ==\r\n", true);
        row("SMTP OAuth: XOAUTH2", "starttls", "server", upgraded + "-host1\r\n250 AUTH LOGIN XOAUTH2|>AUTH XOAUTH2|<334 |>{x}|<235 ok" + mail, "done", starttls + ehlo + "AUTH XOAUTH2\r\n{x}\r\n", true);
        row("SMTP OAuth: OAUTHBEARER where offered", "smtps", "server", smtps + "XOAUTH2 OAUTHBEARER|>AUTH OAUTHBEARER|<334 |>{b}|<235 ok" + mail, "done", ehlo + "AUTH OAUTHBEARER\r\n{b}\r\n", true);
        row("SMTP OAuth: XOAUTH2 refused by a challenge", "smtps", "server", smtps + "XOAUTH2|>AUTH XOAUTH2|<334 |>{x}|<334 " + refusal + "|>|<535 5.7.8 failed", "recv:535 5.7.8 failed", ehlo + "AUTH XOAUTH2\r\n{x}\r\n\r\n", true);
        // clang-format on
    }

    // Nothing secret leaves the desk unless the connection is secured and
    // the certificate is the server's; the server's transcript shows it.
    void secured()
    {
        QFETCH(QString, mode);
        QFETCH(QString, cert);
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, wire);
        QFETCH(bool, oauth);
        const bool implicit = mode == u"tls"_s || mode == u"smtps"_s;
        FakeServer server;
        const OAuthLogin login{oauth, u"user1@host1"_s, u"tok"_s};
        const QByteArray bearer =
            "n,a=user1@host1,\x01host=localhost\x01port=" + QByteArray::number(server.port()) +
            "\x01"
            "auth=Bearer tok\x01\x01";
        for (QByteArray *text : {&script, &wire})
            text->replace("{x}", "dXNlcj11c2VyMUBob3N0MQFhdXRoPUJlYXJlciB0b2sBAQ==")
                .replace("{b}", bearer.toBase64());
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
            s.oauth = login;
            auto *check = new Pop3Check(s);
            job.reset(check);
            record(check, &Pop3Check::checkFinished, &Pop3Job::failed, &Pop3Job::statusText);
            check->start();
        } else {
            const QString port = QString::number(server.port());
            auto *send = new SmtpSend(
                {u"localhost"_s, port, u"host1"_s, {}, tls, true, u"user1"_s, u"pass"_s, login});
            job.reset(send);
            record(send, &SmtpSend::sent, &SmtpSend::failed, &SmtpSend::statusText);
            send->sendMail(u"user1@host1"_s, {u"a@b"_s}, "x");
        }
        QTRY_VERIFY_WITH_TIMEOUT(!outcomes.isEmpty(), 10000);
        QFETCH(QString, outcome);
        QCOMPARE(outcomes.first().section(u"\r\n"_s, 0, 0), outcome);
        if (outcome.startsWith(u"TLS:サーバーの証明書"_s)) // and why it was refused
            QVERIFY(!outcomes.first().section(u"\r\n"_s, 1).isEmpty());
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        const QByteArray got = server.wire();
        QCOMPARE(outcome == u"done"_s ? got.left(wire.size()) : got, wire);
        for (const QString &secret : {u"pass"_s, u"AHVz"_s, u"dXNlcj1"_s, u"bixh"_s})
            QVERIFY(!status.join('|').contains(secret));
        QCOMPARE(status.contains(u"AUTH ****"_s), wire.contains("AUTH"));
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
        // clang-format off
        // A failed check is retried on schedule; no memo pops up twice.
        QTest::newRow("dropped in the middle of RETR 3") << 2 << all << u"recv:リモートホストから切断された。"_s;
        QTest::newRow("STAT without a count between checks") << 3 << all << u"STAT:メールサーバーの応答を読み取れません。\r\n+OK"_s;
        QTest::newRow("one too large, read through once") << 4 << all.mid(1) << QString();
        // A memo gone from the server is forgotten, and announced again when it is back.
        QTest::newRow("one gone, then back") << 5 << QStringList{"one", "two", "three", "two", "four"} << QString();
        QTest::newRow("no UIDL: two mails without Message-ID") << 6 << all << QString();
        // clang-format on
    }
    void memosAnnouncedOnce()
    {
        QFETCH(int, kind);
        QList<QByteArray> all;
        for (const QByteArray text : {"one", "two", "three", "four"})
            all << RetrMemo(kind == 6 && all.size() >= 2 ? QByteArray() : "<" + text + ">", text);
        if (kind == 4)
            all[0] = RetrMemo("<big>", QByteArray(3000, 'b'));
        const QList<QByteArray> uids{"u1", "u2", "u3", "u4"};
        FakeServer server;
        if (kind == 6) { // every check reads every message
            for (int count : {3, 4}) {
                server.pop3Login("+OK " + QByteArray::number(count) + " 900");
                server.expect("UIDL").send("-ERR unsupported").pop3List(count);
                for (int n = 1; n <= count; ++n)
                    server.expect("RETR " + QByteArray::number(n)).send(all[n - 1], false);
                server.pop3Quit();
            }
        } else {
            server.pop3Check(uids.mid(0, 3), {{1, all[0]}, {2, all[1]}, {3, all[2]}});
        }
        if (kind == 2) // known memos are never retrieved again, whatever fails
            server.pop3Check(uids, {{4, all[3].left(20)}}, false).close();
        if (kind == 3)
            server.pop3Login("+OK").pop3Quit();
        if (kind == 5)
            server.pop3Check({uids[0], uids[2]}).pop3Check(uids, {{2, all[1]}, {4, all[3]}});
        else if (kind != 6)
            server.pop3Check(uids, {{4, all[3]}});
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
        check.holdTimer(); // one check per session of the script
        check.start();
        QVERIFY(ended.wait(10000));
        while (!server.done() && server.failure().isEmpty()) {
            check.checkNow();
            QVERIFY(ended.wait(10000));
        }
        QCOMPARE(ended.first().first().toBool(), true); // too large is no failure
        QCOMPARE(check.listedCount(), 4);
        QCOMPARE(check.listedMemos().size(), kind == 4 ? 3 : 4);
        QFETCH(QStringList, announced);
        QTRY_COMPARE(shown, announced);
        QTEST(errors.join('\n'), "error");
        QCOMPARE(status.count(u"メッセージ 1 は大きすぎるため読み飛ばしました。"_s),
                 kind == 4 ? 3 : 0); // when read, and at the end of each check
        VERIFY_SCRIPT(server);
    }

    void aFloodWaitsForItsViewersInOrder()
    {
        FakeServer server;
        server.pop3Check({"u1", "u2", "u3", "u4"}, {{1, RetrMemo("<1>", "one")},
                                                    {2, RetrMemo("<2>", "two")},
                                                    {3, RetrMemo("<3>", "three")},
                                                    {4, RetrMemo("<4>", "four")}});
        MailCheck check(Pop3At(server.port()), "0");
        check.setMaxViewers(2);
        QStringList shown;
        connect(&check, &MailCheck::showMemo, this,
                [&](const MemoValues &m) { shown << ViewOfMemo(m).text.trimmed(); });
        check.holdTimer();
        check.start();
        QTRY_COMPARE(shown, (QStringList{"one", "two"}));
        QTRY_VERIFY(server.done() && !check.isChecking());
        QCOMPARE(check.waitingCount(), 2);
        check.viewerClosed();
        QTRY_COMPARE(shown, (QStringList{"one", "two", "three"}));
        QCOMPARE(check.waitingCount(), 1);
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

    void deletions_data()
    {
        // The keys asked for; asked while the first check runs; the deletion's session after
        // its login and "+OK 2 900" to STAT (none: the mailbox never greets); the results; the
        // memos still listed, and so the listing of the check asked for meanwhile.
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<bool>("during");
        QTest::addColumn<QByteArray>("session");
        QTest::addColumn<QList<Result>>("expected");
        QTest::addColumn<int>("listed");
        const QByteArray uidl = ">UIDL|<+OK\r\n1 u1\r\n2 u2\r\n.|";
        const QByteArray deleted = uidl + ">DELE 2|<+OK|>QUIT|<+OK|C";
        const QStringList two{u"uid:u2"_s};
        // clang-format off
        QTest::newRow("after the running check") << two << true << deleted << QList{Result::Deleted} << 1;
        QTest::newRow("no longer listed") << QStringList{u"uid:u9"_s} << false << uidl + ">QUIT|<+OK|C" << QList{Result::NotFound} << 2;
        QTest::newRow("the mailbox stays busy") << two << false << QByteArray() << QList{Result::TimedOut} << 0;
        QTest::newRow("QUIT refused after DELE") << two << false << uidl + ">DELE 2|<+OK|>QUIT|<-ERR cannot update|C" << QList{Result::Failed} << 2;
        QTest::newRow("dropped before QUIT's answer") << two << false << uidl + ">DELE 2|<+OK|>QUIT|C" << QList{Result::Failed} << 2;
        QTest::newRow("dropped under DELE") << two << false << uidl + ">DELE 2|C" << QList{Result::Failed} << 2;
        QTest::newRow("DELE refused") << two << false << uidl + ">DELE 2|<-ERR locked|>QUIT|<+OK|C" << QList{Result::Failed} << 2;
        QTest::newRow("a viewer closed while its deletion waits") << QStringList{u"uid:u2"_s, u"-uid:u1"_s} << false << deleted << QList{Result::Deleted} << 1;
        QTest::newRow("a second deletion waits its turn") << QStringList{u"uid:u2"_s, u"uid:u1"_s} << false
            << deleted + "|<+OK|>USER user1|<+OK|>PASS pass|<+OK|>STAT|<+OK 1 900|>UIDL|<+OK\r\n1 u1\r\n.|>DELE 1|<+OK|>QUIT|<+OK|C"
            << QList{Result::Deleted, Result::Deleted} << 0;
        // clang-format on
    }
    void deletions()
    {
        QFETCH(bool, during);
        QFETCH(QByteArray, session);
        QFETCH(int, listed);
        const QList<QByteArray> uids{"u1", "u2"};
        FakeServer server;
        if (during) // so that the check is still running
            server.hold();
        if (!session.isEmpty()) {
            server.pop3Check(uids, {{1, RetrMemo("<a>", "first")}, {2, RetrMemo("<b>", "second")}});
            server.pop3Login("+OK 2 900").script(session);
            if (!during) // the check asked for meanwhile, after the deletions
                server.pop3Check(uids.mid(0, listed));
        }
        MailCheck check(Pop3At(server.port()), "300");
        check.setDeleteTimeoutMs(session.isEmpty() ? 200 : 10000);
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        QSignalSpy shown(&check, &MailCheck::showMemo);
        check.start();
        if (!during && !session.isEmpty())
            QVERIFY(ended.wait(5000));
        QList<Result> results;
        QFETCH(QStringList, keys);
        for (const QString &key : keys) { // "-": its viewer closes at once
            QObject viewer;
            check.requestDelete(key.mid(key.startsWith('-')),
                                key.startsWith('-') ? &viewer : nullptr,
                                [&results](Result r, const QString &) { results << r; });
        }
        check.checkNow();                   // never beside a deletion; during a check, nothing
        QVERIFY(!check.timer().isActive()); // held while a deletion waits or runs
        server.release();
        QFETCH(QList<Result>, expected);
        QTRY_COMPARE_WITH_TIMEOUT(results, expected, 10000);
        const int checks = session.isEmpty() ? 0 : during ? 1 : 2;
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), checks, 10000);
        QCOMPARE(check.Pop3State(), 0);
        QCOMPARE(check.timer().isActive(), checks > 0);
        QCOMPARE(errors.count(), 0); // a deletion's failure is the viewer's to tell
        QCOMPARE(shown.count(), checks ? 2 : 0);
        QCOMPARE(check.listedMemos().size(), listed); // a memo not deleted stays known and listed
        VERIFY_SCRIPT(server);
    }

private:
    // The TLS office's certificates: "server" is trusted through ca.pem, "rogue" is
    // signed by another authority, "otherhost" names another host.
    const QDir m_certs{qEnvironmentVariable("TAV_MAILOFFICE_TLS_DIR") + u"/tls"_s};
};

QTEST_GUILESS_MAIN(TestDialogues)
#include "tst_dialogues.moc"
