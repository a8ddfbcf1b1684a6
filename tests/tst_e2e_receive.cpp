// The receiving desk's logic against the real local mail office: memos
// submitted over SMTP are announced once, deleted on the server, and every
// session ends with QUIT.

#include "MailCheck.h"
#include "MailOffice.h"
#include "SmtpSession.h"

#include <QSignalSpy>
#include <QTest>

class TestE2eReceive : public QObject
{
    Q_OBJECT

    MailOffice m_office;

    void submit(const MemoValues &memo, const QStringList &to)
    {
        SmtpSession::Settings s;
        s.server = QStringLiteral("127.0.0.1");
        s.port = QString::number(m_office.smtpPort);
        s.heloName = m_office.domain;
        SmtpSession session(s);
        QSignalSpy sent(&session, &SmtpSession::sent);
        QSignalSpy failed(&session, &SmtpSession::failed);
        QSignalSpy closed(&session, &SmtpSession::closed);
        session.sendMail(memo.MemoFromAddress, to, memo.MemoBody.toLatin1());
        QVERIFY(closed.wait(10000));
        QCOMPARE(failed.count(), 0);
        QCOMPARE(sent.count(), 1);
    }

    Pop3Session::Settings desk(int user) const
    {
        Pop3Session::Settings s;
        s.server = QStringLiteral("127.0.0.1");
        s.port = QString::number(m_office.pop3Port);
        s.userId = QStringLiteral("user%1").arg(user);
        s.password = QStringLiteral("pass%1").arg(user);
        s.sleep = QStringLiteral("0");
        return s;
    }

    MemoValues memo(QChar kind, const QString &org, const QString &caller, const QString &text)
    {
        return BuildMemoMail(kind, false, org, caller, text, {m_office.address(2)},
                             {QStringLiteral("総務部"), QStringLiteral("user1"), m_office.domain});
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_office = MailOffice::fromEnvironment();
        QVERIFY2(m_office.isUp(), "the local mail office is not running");
    }

    void announceOnceDeleteAndQuit()
    {
        EmptyMailbox(m_office, 2);
        submit(memo('0', QStringLiteral("営業部"), QStringLiteral("担当者"),
                    QStringLiteral("折り返しお願いします。\r\n内線123まで")),
               {m_office.address(2)});
        submit(memo('3', QStringLiteral("ACME"), QStringLiteral("Bob"), QStringLiteral("hello")),
               {m_office.address(2)});
        QTRY_COMPARE_WITH_TIMEOUT(PopProbe(m_office, 2).count(), 2, 10000);

        MailCheck check(desk(2), QStringLiteral("1"));
        QList<MemoValues> announced;
        connect(&check, &MailCheck::newMemo, this,
                [&announced](const MemoValues &m) { announced << m; });
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        check.start();
        QVERIFY(ended.wait(10000));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(announced.size(), 2);
        const MemoView first = ViewOfMemo(announced[0]);
        QCOMPARE(first.kind, QChar('0'));
        QCOMPARE(first.department, QStringLiteral("営業部"));
        QCOMPARE(first.caller, QStringLiteral("担当者"));
        QCOMPARE(first.text, QStringLiteral("折り返しお願いします。\r\n内線123まで\r\n"));
        QCOMPARE(announced[0].MemoFromName, QStringLiteral("総務部"));
        QCOMPARE(announced[0].MemoFromAddress, m_office.address(1));
        QVERIFY(announced[0].MemoMessageId.contains('@'));
        QCOMPARE(ViewOfMemo(announced[1]).caller, QStringLiteral("Bob"));

        // The next check announces none again.
        QVERIFY(ended.wait(10000));
        QCOMPARE(announced.size(), 2);

        // Delete the first memo from its key; it is gone after the next check.
        QList<MailCheck::DeleteResult> results;
        check.requestDelete(
            announced[0].MemoKey, nullptr,
            [&results](MailCheck::DeleteResult r, const QString &) { results << r; });
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 15000);
        QCOMPARE(results.first(), MailCheck::DeleteResult::Deleted);
        QVERIFY(ended.wait(10000));
        QCOMPARE(check.currentBox().size(), 1);
        {
            PopProbe probe(m_office, 2);
            QCOMPARE(probe.count(), 1);
            QVERIFY(probe.retrieve(1).contains("ACME"));
        }
        check.shutdown();
        QCOMPARE(errors.count(), 0);
        // The desk's last session ended with QUIT: the server logged a clean logout.
        QFile log(m_office.dir + QStringLiteral("/log/dovecot.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray tail = log.readAll().right(4000);
        QVERIFY2(tail.contains("user2") && tail.contains("Disconnected: Logged out"),
                 tail.constData());
    }

    void wrongPasswordIsReported()
    {
        Pop3Session::Settings s = desk(3);
        s.password = QStringLiteral("wrong");
        MailCheck check(s, QStringLiteral("300"));
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        QSignalSpy settingsEnabled(&check, &MailCheck::settingsButtonEnabled);
        check.start();
        QVERIFY(errors.wait(15000));
        QVERIFY2(errors.first().first().toString().startsWith("recv:-ERR"),
                 qPrintable(errors.first().first().toString()));
        QCOMPARE(settingsEnabled.last().first().toBool(), true);
    }
};

QTEST_GUILESS_MAIN(TestE2eReceive)
#include "tst_e2e_receive.moc"
