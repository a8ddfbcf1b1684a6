// Desks on the mail office in its TLS mode: POP3 over STLS and POP3S, SMTP
// over STARTTLS and SMTPS with AUTH. The reply component sends through the
// same job, configured by the same reader.

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

    /// A desk of user with the given security; its ports follow the choice.
    std::unique_ptr<Desk> openDesk(int user, const QString &pop3, const QString &smtp)
    {
        auto desk = std::make_unique<Desk>(0);
        WriteFile(desk->folder.filePath(u"Tavrino.ini"_s),
                  u"[Tavrino]\r\nUserName=U\r\nUserID=user%1\r\nPassword=%2\r\nDomain=%3\r\n"
                  u"Pop3Server=localhost\r\nPop3Port=%4\r\nSmtpServer=localhost\r\nSmtpPort=%5\r\n"
                  u"List=m.lst\r\nInterval=300\r\nSleep=0\r\n"_s.arg(user)
                          .arg(u"pass%1"_s.arg(user), m_domain,
                               m_office.port(pop3 == u"tls"_s ? "POP3S_PORT" : "POP3_PORT"),
                               m_office.port(smtp == u"tls"_s ? "SMTPS_PORT" : "SMTP_PORT"))
                          .toLatin1() +
                      u"Pop3Security=%1\r\nSmtpSecurity=%2\r\nSmtpAuth=1\r\nCAFile=%3\r\n"_s
                          .arg(pop3, smtp, m_office.port("CA_FILE"))
                          .toLatin1());
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
};

QTEST_MAIN(TestE2eTls)
#include "tst_e2e_tls.moc"
