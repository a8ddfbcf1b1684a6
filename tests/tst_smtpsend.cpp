// The SMTP job against a scripted server. The form around it is tested
// through the window in tst_frmsend.

#include "Cp932.h"
#include "FakeServer.h"
#include "SmtpSend.h"

#include <QtTest>

class TestSmtpSend : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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

QTEST_GUILESS_MAIN(TestSmtpSend)
#include "tst_smtpsend.moc"
