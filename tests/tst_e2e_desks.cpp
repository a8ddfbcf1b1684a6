// Two desks in one process on the real local mail office: desk A (user1)
// sends a memo through its form; desk B (user2) checks when told, pops memos
// up, meets a failed login, one Message-ID twice and a flood, deletes in its
// viewer and ends its session with QUIT when it closes.

#include "Messages.h"
#include "SmtpSend.h"
#include "frmMessage.h"
#include "tst_windowhelpers.h"

#include <QtTest>

/// The real reply component, from a folder of its own holding desk B's
/// configuration; the options component stays a fake.
struct ReplyOfB : ComponentHost
{
    QTemporaryDir folder;
    FakeComponents *fake = nullptr;
    PluginComponents real{folder.path()};

    bool prepare(const QString &domain, const QString &smtpPort)
    {
        return CopyComponents(folder.path()) &&
               WriteFile(folder.filePath(u"Tavrino.ini"_s),
                         Cp932::Encode(
                             u"[Tavrino]\r\nUserName=鈴木\r\nUserID=user2\r\nDomain=%1\r\n"
                             u"SmtpServer=127.0.0.1\r\nSmtpPort=%2\r\n"_s.arg(domain, smtpPort)));
    }
    ITavOptions *options(QString *error) override { return fake->options(error); }
    ITavReply *reply(QString *error) override { return real.reply(error); }
};

class TestE2eDesks : public QObject
{
    Q_OBJECT

    // The local mail office: its folder, and the ports it listens on.
    const QString m_office = qEnvironmentVariable("TAV_MAILOFFICE_DIR");
    const QSettings m_ports{m_office + u"/ports.env"_s, QSettings::IniFormat};
    const QString m_domain = m_ports.value("MAIL_DOMAIN").toString();
    FakeComponents m_components;
    ReplyOfB m_replyOfB;
    BoxCatcher m_boxes;
    std::unique_ptr<Desk> m_a, m_b;

    /// The files of user2's mails: delivered, and not yet expunged by a QUIT.
    QFileInfoList mailsOfB() const { return mailsOf(2); }
    QFileInfoList mailsOf(int user) const
    {
        const QString box = m_office + u"/mail/%1/user%2/"_s.arg(m_domain).arg(user);
        return QDir(box + u"new"_s).entryInfoList(QDir::Files) +
               QDir(box + u"cur"_s).entryInfoList(QDir::Files);
    }

    std::unique_ptr<Desk> openDesk(int user)
    {
        auto desk = std::make_unique<Desk>(m_ports.value("POP3_PORT").toUInt(),
                                           m_ports.value("SMTP_PORT").toUInt());
        desk->settings.UserID = u"user%1"_s.arg(user);
        desk->settings.Password = u"pass%1"_s.arg(user);
        desk->settings.Domain = m_domain;
        // As a Linux editor writes it: UTF-8.
        WriteFile(desk->folder.filePath(u"members.lst"_s),
                  u"営業部 鈴木;user2@%1\r\n"_s.arg(m_domain).toUtf8());
        if (!desk->open(user == 2 ? static_cast<ComponentHost *>(&m_replyOfB) : &m_components))
            qFatal("desk not configured");
        desk->window->show();
        return desk;
    }

    /// Delivers a mail to user2 through the office's SMTP server, as any mailer would.
    void deliver(const QByteArray &text, const QByteArray &messageId = {})
    {
        SmtpSend job({u"127.0.0.1"_s, m_ports.value("SMTP_PORT").toString(), u"localhost"_s, {}});
        QSignalSpy sent(&job, &SmtpSend::sent);
        const QByteArray id =
            messageId.isEmpty() ? QByteArray() : "Message-ID: " + messageId + "\r\n";
        job.sendMail("user1@" + m_domain, {"user2@" + m_domain},
                     id + "Subject: memo\r\n\r\n" + text);
        QVERIFY(sent.wait(10000));
    }

    /// A desk checks now, the minutes counted down at once; the check's outcome.
    static bool check(Desk &desk)
    {
        QSignalSpy ended(desk.check.get(), &MailCheck::checkEnded);
        for (int i = 0; i < 10 && !desk.check->isChecking(); ++i)
            desk.check->tmrCheckMail_Timer();
        return ended.wait(15000) && ended.first().first().toBool();
    }
    bool checkB() { return check(*m_b); }

    /// Sets the password Dovecot accepts for user2; it notices within a second or so.
    void setPassword(const QByteArray &password)
    {
        QFile file(m_office + u"/dovecot/users"_s);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray users = file.readAll();
        const qsizetype from = users.indexOf("{PLAIN}", users.indexOf("\nuser2@") + 1) + 7;
        users.replace(from, users.indexOf(':', from) - from, password);
        QVERIFY(file.resize(0) && file.write(users) == users.size() && file.flush());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!m_domain.isEmpty(), "the local mail office is not running");
        m_replyOfB.fake = &m_components;
        QVERIFY(m_replyOfB.prepare(m_domain, m_ports.value("SMTP_PORT").toString()));
        for (int user : {1, 2, 3, 4}) {
            for (const QFileInfo &mail : mailsOf(user))
                QVERIFY(QFile::remove(mail.filePath()));
        }
        m_a = openDesk(1);
        m_b = openDesk(2);
    }

    void cleanupTestCase()
    {
        m_b.reset();
        m_a.reset();
    }

    void theFirstRunAsksForTheSettingsThenEnds()
    {
        QTemporaryDir folder;
        QVERIFY(CopyComponents(folder.path()));
        PluginComponents components(folder.path());
        // The real settings dialog, filled in and saved as a user would.
        const QStringList typed = u"UserName=B UserID=user2 Password=pass2 Domain=%1 "
                                  u"Pop3Server=127.0.0.1 Pop3Port=%2 SmtpServer=127.0.0.1 "
                                  u"SmtpPort=%3 List=m.lst Interval=300 Sleep=0"_s
                                      .arg(m_domain, m_ports.value("POP3_PORT").toString(),
                                           m_ports.value("SMTP_PORT").toString())
                                      .split(u' ');
        QTimer user;
        connect(&user, &QTimer::timeout, [&typed] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (w->windowTitle() == u"設定 - Tavrino"_s && w->isVisible()) {
                    for (const QString &box : typed)
                        Child<QLineEdit>(w, u"txt"_s + box.section(u'=', 0, 0))
                            ->setText(box.section(u'=', 1));
                    Child<QPushButton>(w, "cmdButton0")->click();
                }
            }
        });
        user.start(50);
        Desk first(0), second(0);
        first.settings = Settings::Read(folder.path());
        m_boxes.boxes.clear();
        QVERIFY(!first.open(&components));
        QCOMPARE(m_boxes.boxes,
                 (QStringList{Warning(u"変更を有効にするためにプログラムを再起動してください。"_s),
                              Warning(u"Tavrinoを終了します。"_s)}));
        QCOMPARE(int(QFile(folder.filePath(u"Tavrino.ini"_s)).permissions() & 0x0777), 0x0600);
        // The next start runs with what was saved.
        WriteFile(folder.filePath(u"m.lst"_s), "A;user1@" + m_domain.toLatin1() + "\r\n");
        second.settings = Settings::Read(folder.path());
        QVERIFY(second.open(&components) && second.settings.UserName == u"B"_s);
        QVERIFY(check(second));
        m_boxes.boxes.clear();
    }

    void theMemoArrives()
    {
        QWidget *a = m_a->window.get();
        auto *send = Child<QToolButton>(a, "cmdButton0");
        QTRY_VERIFY_WITH_TIMEOUT(send->isEnabled(), 15000);
        QCOMPARE(Child<QListWidget>(a, "lstMemberName")->item(0)->text(), u"営業部 鈴木"_s);
        FillMemo(a, {0}, 0, false, u"山﨑商事"_s, u"髙橋"_s,
                 u"折り返しお願いします。\n内線123まで"_s);
        QTest::mouseClick(send, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(Text(a, "sbrMsgPanel2"), Msg::MessageSent, 15000);
        QTRY_VERIFY_WITH_TIMEOUT((checkB(), m_b->window->viewers().size() == 1), 30000);
        QCOMPARE(Shown(m_b->window->viewers()[0]).section(u'|', 1, 3),
                 u" 山﨑商事| 髙橋|折り返しお願いします。\n内線123まで\n"_s);
    }

    /// The reply windows open on the desktop.
    static QList<QWidget *> replyWindows()
    {
        QList<QWidget *> found = QApplication::topLevelWidgets();
        found.removeIf(
            [](QWidget *w) { return !w->isVisible() || w->windowTitle() != u"返信 - Tavrino"_s; });
        return found;
    }

    void aSealedReplyFromTheViewerReachesTheSender()
    {
        frmMessage *viewer = m_b->window->viewers().value(0);
        QVERIFY(viewer);
        QTest::mouseClick(Child<QToolButton>(viewer, "cmdButton1"), Qt::LeftButton);
        QTRY_COMPARE(replyWindows().size(), 1);
        QPointer<QWidget> reply = replyWindows().first();
        QCOMPARE(Text(reply, "lblTo"), "user1@" + m_domain);
        auto *text = Child<QPlainTextEdit>(reply, "txtMessage");
        text->setPlainText(u"承知しました。"_s + text->toPlainText());
        Child<QCheckBox>(reply, "chkCover")->setChecked(true);
        QTest::mouseClick(Child<QToolButton>(reply, "cmdButton0"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!reply, 10000); // closed once the mail was accepted

        // A's desk shows it covered, then the answer over the quote, from B.
        QTRY_VERIFY_WITH_TIMEOUT((check(*m_a), m_a->window->viewers().size() == 1), 30000);
        frmMessage *shown = m_a->window->viewers()[0];
        auto *cover = Child<QPushButton>(shown, "cmdCover");
        QVERIFY(cover->isVisible());
        QTest::mouseClick(cover, Qt::LeftButton);
        QCOMPARE(Shown(shown).section('|', 0, 5),
                 u"| | |承知しました。\n\n---Original Message---\n折り返しお願いします。\n"
                 "内線123まで\n|鈴木|user2@"_s +
                     m_domain);
        QVERIFY(QDateTime::fromString(Text(shown, "frameTitle"), u"MM/dd HH:mm"_s).isValid());
    }

    void twoRepliesAtOnceKeepTheirOwnRecipientAndText()
    {
        QString error;
        ITavReply *component = m_replyOfB.reply(&error);
        QVERIFY2(component, qPrintable(error));
        for (const char *user : {"user3@", "user4@"})
            QCOMPARE(component->ShowReply(user + m_domain, u"名前"_s, user), 0);
        QCOMPARE(replyWindows().size(), 2);
        for (QWidget *w : replyWindows())
            QTest::mouseClick(Child<QToolButton>(w, "cmdButton0"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(replyWindows().size(), 0, 10000);
        for (int user : {3, 4}) {
            QTRY_COMPARE_WITH_TIMEOUT(mailsOf(user).size(), 1, 10000);
            QFile file(mailsOf(user)[0].filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray mail = file.readAll();
            const QByteArray to = "user" + QByteArray::number(user) + "@";
            QVERIFY(mail.contains(QByteArray("\nTo:" + to)) && mail.trimmed().endsWith(to));
        }
    }

    void aFailedLoginInBetweenAnnouncesNothingTwice()
    {
        QSignalSpy shown(m_b->check.get(), &MailCheck::showMemo);
        deliver("1");
        deliver("2");
        QTRY_VERIFY_WITH_TIMEOUT((checkB(), shown.count() == 2), 30000);
        setPassword("changed");
        QTRY_VERIFY_WITH_TIMEOUT(!checkB(), 10000);
        deliver("3");
        QTRY_VERIFY2(m_boxes.boxes.value(0).startsWith(Warning("recv:-ERR")),
                     qPrintable(m_boxes.boxes.join('\n')));
        setPassword("pass2");
        QTRY_VERIFY_WITH_TIMEOUT((checkB(), shown.count() >= 3), 30000);
        QVERIFY(checkB());
        QCOMPARE(shown.count(), 3); // only the new one
        QCOMPARE(ViewOfMemo(shown.last().first().value<MemoValues>()).text.trimmed(), "3");
    }

    void oneMessageIdTwiceDeletesTheOneShown()
    {
        QSignalSpy shown(m_b->check.get(), &MailCheck::showMemo);
        deliver("first", "<same@forwarded.example>");
        deliver("second", "<same@forwarded.example>");
        QTRY_VERIFY_WITH_TIMEOUT((checkB(), shown.count() == 2), 30000);
        const QString first = shown[0][0].value<MemoValues>().MemoKey;
        const QString second = shown[1][0].value<MemoValues>().MemoKey;
        QList<MailCheck::DeleteResult> results;
        m_b->check->requestDelete(
            second, nullptr, [&](MailCheck::DeleteResult r, const QString &) { results << r; });
        QTRY_COMPARE_WITH_TIMEOUT(results, QList{MailCheck::DeleteResult::Deleted}, 10000);
        QVERIFY(checkB()); // its QUIT makes the deletion take effect
        QCOMPARE(m_b->check->currentBox().last().Key, first);
    }

    void aFloodOpensFiftyViewersAndTheRestWait()
    {
        for (frmMessage *viewer : m_b->window->viewers())
            viewer->close();
        QTRY_VERIFY(m_b->window->viewers().isEmpty());
        for (int i = 1; i <= 200; ++i)
            deliver(QByteArray::number(i));
        QVERIFY(!QTest::currentTestFailed());
        QTRY_VERIFY_WITH_TIMEOUT((checkB(), m_b->check->waitingCount() == 150), 60000);
        QCOMPARE(m_b->window->viewers().size(), 50);
        QCOMPARE(Text(m_b->window.get(), "sbrMsgPanel2"), u"表示待ちのメッセージ: 150 件"_s);
        // Closing viewers brings the next memos, in order.
        const QList<frmMessage *> open = m_b->window->viewers();
        open[0]->close();
        open[1]->close();
        QTRY_COMPARE(m_b->check->waitingCount(), 148);
        QTRY_COMPARE(m_b->window->viewers().size(), 50);
        QCOMPARE(Text(m_b->window->viewers().last(), "txtMessage").trimmed(), "52");
    }

    void deleteInTheViewerTakesEffectWhenDeskBClosesWithQuit()
    {
        const qsizetype stored = mailsOfB().size();
        QPointer<frmMessage> viewer = m_b->window->viewers().value(0);
        QVERIFY(viewer);
        auto *del = Child<QToolButton>(viewer.data(), "cmdButton0");
        // The button follows the session: usable once B's check is idle.
        QTRY_VERIFY_WITH_TIMEOUT((viewer->RefreshDeleteButton(), del->isEnabled()), 15000);
        QTest::mouseClick(del, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!viewer, 15000);
        QCOMPARE(mailsOfB().size(), stored); // marked in B's session alone
        m_b->window->close();
        QTRY_COMPARE_WITH_TIMEOUT(mailsOfB().size(), stored - 1, 10000);
        QCOMPARE(m_boxes.boxes.filter(u"recv:-ERR"_s), m_boxes.boxes); // the failed logins' alone
    }
};

QTEST_MAIN(TestE2eDesks)
#include "tst_e2e_desks.moc"
