// Desks on the mail office in its TLS mode: POP3 over STLS and POP3S, SMTP
// over STARTTLS and SMTPS with AUTH, the reply component over STARTTLS, and a
// wrong password told once, without a storm of retries.

#include "Components.h"
#include "Messages.h"
#include "frmMessage.h"
#include "tst_windowhelpers.h"

#include <QtTest>

class TestE2eTls : public QObject
{
    Q_OBJECT

    const MailOffice m_office{qEnvironmentVariable("TAV_MAILOFFICE_TLS_DIR")};
    const QString m_domain = m_office.domain;
    FakeComponents m_components;
    BoxCatcher m_boxes;

    /// The configuration keys of a secured desk, as lines of Tavrino.ini.
    QString secured(const QString &pop3, const QString &smtp) const
    {
        return u"Pop3Security=%1\r\nSmtpSecurity=%2\r\nSmtpAuth=1\r\nCAFile=%3\r\n"_s.arg(
            pop3, smtp, m_office.port("CA_FILE"));
    }
    /// A desk of user with the given security; its ports follow the choice.
    std::unique_ptr<Desk> openDesk(int user, const QString &pop3, const QString &smtp,
                                   const QString &password = {}, int interval = 300)
    {
        auto desk = std::make_unique<Desk>(0);
        WriteFile(desk->folder.filePath(u"Tavrino.ini"_s),
                  u"[Tavrino]\r\nUserName=U\r\nUserID=user%1\r\nPassword=%2\r\nDomain=%3\r\n"
                  u"Pop3Server=localhost\r\nPop3Port=%4\r\nSmtpServer=localhost\r\nSmtpPort=%5\r\n"
                  u"List=m.lst\r\nInterval=%6\r\nSleep=0\r\n"_s.arg(user)
                          .arg(password.isEmpty() ? u"pass%1"_s.arg(user) : password, m_domain,
                               m_office.port(pop3 == u"tls"_s ? "POP3S_PORT" : "POP3_PORT"),
                               m_office.port(smtp == u"tls"_s ? "SMTPS_PORT" : "SMTP_PORT"))
                          .arg(interval)
                          .toLatin1() +
                      secured(pop3, smtp).toLatin1());
        WriteFile(desk->folder.filePath(u"m.lst"_s), u"B;user2@%1\r\n"_s.arg(m_domain).toLatin1());
        desk->settings = Settings::Read(desk->folder.path());
        if (!desk->open(&m_components))
            qFatal("desk not configured");
        desk->window->show();
        return desk;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_office.port("TLS") == u"1"_s, "the mail office in TLS mode is not running");
    }
    void init()
    {
        for (int user : {1, 2})
            for (const QFileInfo &mail : m_office.mailsOf(user))
                QVERIFY(QFile::remove(mail.filePath()));
    }

    void aMemoTravelsEncrypted_data()
    {
        QTest::addColumn<QString>("smtp");
        QTest::addColumn<QString>("pop3");
        QTest::newRow("STARTTLS and AUTH, then STLS") << u"starttls"_s << u"stls"_s;
        QTest::newRow("SMTPS and AUTH, then POP3S") << u"tls"_s << u"tls"_s;
    }
    void aMemoTravelsEncrypted()
    {
        QFETCH(QString, smtp);
        QFETCH(QString, pop3);
        auto a = openDesk(1, pop3, smtp), b = openDesk(2, pop3, smtp);
        auto *send = Child<QToolButton>(a->window.get(), "cmdButton0");
        QTRY_VERIFY_WITH_TIMEOUT(send->isEnabled(), 15000);
        FillMemo(a->window.get(), {0}, 0, false, u"商事"_s, u"髙橋"_s, smtp);
        QTest::mouseClick(send, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(Text(a->window.get(), "sbrMsgPanel2"), Msg::MessageSent, 15000);
        QTRY_VERIFY_WITH_TIMEOUT((b->checkNow(), b->window->viewers().size() == 1), 30000);
        QCOMPARE(Text(b->window->viewers()[0], "txtMessage").trimmed(), smtp);
        QVERIFY2(m_boxes.boxes.isEmpty(), qPrintable(m_boxes.boxes.join('\n')));
    }

    void aReplyTravelsOverStarttls()
    {
        QTemporaryDir folder;
        QVERIFY(CopyComponents(folder.path()));
        QVERIFY(
            WriteFile(folder.filePath(u"Tavrino.ini"_s),
                      Cp932::Encode(u"[Tavrino]\r\nUserName=鈴木\r\nUserID=user2\r\n"
                                    u"Password=pass2\r\nDomain=%1\r\nSmtpServer=localhost\r\n"
                                    u"SmtpPort=%2\r\n"_s.arg(m_domain, m_office.port("SMTP_PORT")) +
                                    secured(u"none"_s, u"starttls"_s))));
        PluginComponents components(folder.path());
        QString error;
        ITavReply *reply = components.reply(&error);
        QVERIFY2(reply, qPrintable(error));
        const qsizetype before = m_office.mailsOf(1).size();
        QCOMPARE(reply->ShowReply(u"user1@"_s + m_domain, u"佐藤"_s, u"返信"_s), 0);
        QPointer<QWidget> window = ReplyWindows().value(0);
        QVERIFY(window);
        QTest::mouseClick(Child<QToolButton>(window, "cmdButton0"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window, 15000); // closed once the mail was accepted
        QTRY_COMPARE_WITH_TIMEOUT(m_office.mailsOf(1).size(), before + 1, 10000);
        QVERIFY2(m_boxes.boxes.isEmpty(), qPrintable(m_boxes.boxes.join('\n')));
    }

    // A refused password is told in one box; the checks go on at the interval,
    // not in a loop.
    void aWrongPasswordIsToldOnce()
    {
        QFile log(m_office.folder + u"/log/dovecot.log"_s);
        QVERIFY(log.open(QIODevice::ReadOnly));
        log.seek(log.size());
        auto b = openDesk(2, u"stls"_s, u"none"_s, u"wrong"_s, 1);
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_boxes.boxes.size() == 1, 15000);
        QTest::qWait(6000);
        b.reset();
        QCOMPARE(m_boxes.boxes.size(), 1);
        QVERIFY2(m_boxes.boxes[0].startsWith(Warning(u"recv:-ERR"_s)),
                 qPrintable(m_boxes.boxes[0]));
        const qsizetype attempts = log.readAll().count("auth failed");
        QVERIFY(attempts >= 2);
        QVERIFY2(attempts <= clock.elapsed() / 1000 + 1, qPrintable(QString::number(attempts)));
        m_boxes.boxes.clear();
    }
};

QTEST_MAIN(TestE2eTls)
#include "tst_e2e_tls.moc"
