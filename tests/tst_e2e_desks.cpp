// Two desks in one process on the real local mail office: desk A (user1)
// sends a memo through its form; desk B (user2) checks when told, pops memos
// up, answers through the real reply component, meets a flood, deletes in its
// viewer, committed before it closes. Each memo announced once: tst_dialogues.

#include "SmtpSend.h"
#include "frmMessage.h"
#include "tst_windowhelpers.h"

#include <QtTest>

class TestE2eDesks : public QObject
{
    Q_OBJECT

    const MailOffice m_office{qEnvironmentVariable("TAV_MAILOFFICE_DIR")};
    const QString m_domain = m_office.domain;
    FakeComponents m_components;
    // Desk B has the real components, from a folder of its own holding its
    // configuration, which the reply component reads.
    QTemporaryDir m_folderOfB;
    PluginComponents m_componentsOfB{m_folderOfB.path()};
    BoxCatcher m_boxes;
    std::unique_ptr<Desk> m_a, m_b;

    std::unique_ptr<Desk> openDesk(int user)
    {
        auto desk = std::make_unique<Desk>(m_office.port("POP3_PORT").toUShort(),
                                           m_office.port("SMTP_PORT").toUShort());
        desk->settings.UserID = u"user%1"_s.arg(user);
        desk->settings.Password = u"pass%1"_s.arg(user);
        desk->settings.Domain = m_domain;
        desk->settings.UserName = user == 1 ? u"営業 太郎"_s : desk->settings.UserName;
        // As a Linux editor writes it: UTF-8.
        WriteFile(desk->folder.filePath(u"members.lst"_s),
                  u"営業部 鈴木;user2@%1\r\n"_s.arg(m_domain).toUtf8());
        if (!desk->open(user == 2 ? static_cast<ComponentHost *>(&m_componentsOfB) : &m_components))
            qFatal("desk not configured");
        desk->window->show();
        return desk;
    }

    /// Delivers a mail to user2 through the office's SMTP server, as any mailer would.
    void deliver(const QByteArray &text)
    {
        SmtpSend job({.server = u"127.0.0.1"_s,
                      .port = m_office.port("SMTP_PORT"),
                      .heloName = u"localhost"_s});
        QSignalSpy sent(&job, &SmtpSend::sent);
        job.sendMail("user1@" + m_domain, {"user2@" + m_domain}, "Subject: memo\r\n\r\n" + text);
        QVERIFY(sent.wait(10000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!m_domain.isEmpty(), "the local mail office is not running");
        QVERIFY(CopyComponents(m_folderOfB.path()));
        QVERIFY(
            WriteFile(m_folderOfB.filePath(u"Tavrino.ini"_s),
                      Cp932::Encode(u"[Tavrino]\r\nUserName=鈴木\r\nUserID=user2\r\nDomain=%1\r\n"
                                    u"SmtpServer=127.0.0.1\r\nSmtpPort=%2\r\n"_s.arg(
                                        m_domain, m_office.port("SMTP_PORT")))));
        for (int user : {1, 2, 3})
            for (const QFileInfo &mail : m_office.mailsOf(user))
                QVERIFY(QFile::remove(mail.filePath()));
        m_a = openDesk(1);
        m_b = openDesk(2);
    }

    void cleanupTestCase()
    {
        m_b.reset();
        m_a.reset();
    }

    void aMemoArrivesAndRepliesOpenAtOnceReachTheirOwnAddresses()
    {
        SendMemo(*m_a, *m_b, u"山﨑商事"_s, u"髙橋"_s, u"折り返しお願いします。\n内線123まで"_s);
        QVERIFY(!QTest::currentTestFailed());
        // A's name, with its space, as typed: in the viewer, the memo list and the reply window.
        QCOMPARE(Shown(m_b->window->viewers()[0]).section(u'|', 1, 4),
                 u" 山﨑商事| 髙橋|折り返しお願いします。\n内線123まで\n|営業 太郎"_s);
        m_b->window->ShowMemoList();
        QCOMPARE(Child<QTreeWidget>(m_b->window.get(), "lstMemo")->topLevelItem(0)->text(4),
                 u"営業 太郎"_s);

        // B answers from the viewer, sealed, with the quote.
        QTest::mouseClick(Child<QToolButton>(m_b->window->viewers()[0], "cmdButton1"),
                          Qt::LeftButton);
        QTRY_COMPARE(ReplyWindows().size(), 1);
        QCOMPARE(Text(ReplyWindows().first(), "lblToName"), u"営業 太郎"_s);
        auto *text = Child<QPlainTextEdit>(ReplyWindows().first(), "txtMessage");
        text->setPlainText(u"承知しました。"_s + text->toPlainText());
        Child<QCheckBox>(ReplyWindows().first(), "chkCover")->setChecked(true);
        // A second window of the component, sent at the same time, keeps its
        // own recipient and text.
        QString error;
        ITavReply *component = m_componentsOfB.reply(&error);
        QVERIFY2(component, qPrintable(error));
        QCOMPARE(component->ShowReply("user3@" + m_domain, u"名前"_s, u"user3@"_s), 0);
        QCOMPARE(ReplyWindows().size(), 2);
        for (QWidget *w : ReplyWindows())
            QTest::mouseClick(Child<QToolButton>(w, "cmdButton0"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(ReplyWindows().size(), 0, 10000); // closed once accepted
        QTRY_COMPARE_WITH_TIMEOUT(m_office.mailsOf(3).size(), 1, 10000);
        const QByteArray mail = ReadFile(m_office.mailsOf(3)[0].filePath());
        QVERIFY(mail.contains("\nTo:user3@") && mail.trimmed().endsWith("user3@"));

        // A's desk shows its own covered, then the answer over the quote, from B.
        QTRY_VERIFY_WITH_TIMEOUT((m_a->checkNow(), m_a->window->viewers().size() == 1), 30000);
        frmMessage *shown = m_a->window->viewers()[0];
        auto *cover = Child<QPushButton>(shown, "cmdCover");
        QVERIFY(cover->isVisible());
        QTest::mouseClick(cover, Qt::LeftButton);
        QCOMPARE(Shown(shown).section('|', 0, 5),
                 u"| | |承知しました。\n\n---Original Message---\n折り返しお願いします。\n"
                 "内線123まで\n|鈴木|user2@"_s +
                     m_domain);
    }

    void aFloodWaitsAndADeletionCommitsBeforeItsViewerCloses()
    {
        for (frmMessage *viewer : m_b->window->viewers())
            viewer->close();
        QTRY_VERIFY(m_b->window->viewers().isEmpty());
        for (int i = 1; i <= 52; ++i)
            deliver(QByteArray::number(i));
        QVERIFY(!QTest::currentTestFailed());
        QTRY_VERIFY_WITH_TIMEOUT((m_b->checkNow(), m_b->check->waitingCount() == 2), 60000);
        QCOMPARE(m_b->window->viewers().size(), 50);
        QCOMPARE(Text(m_b->window.get(), "sbrMsgPanel2"), u"表示待ちのメッセージ: 2 件"_s);

        // A deletion is over when the server has committed it.
        const qsizetype stored = m_office.mailsOf(2).size();
        QPointer<frmMessage> viewer = m_b->window->viewers()[0];
        auto *del = Child<QToolButton>(viewer.data(), "cmdButton0");
        QTRY_VERIFY_WITH_TIMEOUT((viewer->RefreshDeleteButton(), del->isEnabled()), 15000);
        QTest::mouseClick(del, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!viewer, 15000);
        QCOMPARE(m_office.mailsOf(2).size(), stored - 1);
        QVERIFY2(m_boxes.boxes.isEmpty(), qPrintable(m_boxes.boxes.join('\n')));
    }
};

QTEST_MAIN(TestE2eDesks)
#include "tst_e2e_desks.moc"
