// Two desks in one process on the real local mail office: desk A (user1)
// sends memos through its form; desk B (user2) pops them up, deletes one in
// its viewer and ends its session with QUIT when it closes.

#include "IniFile.h"
#include "MailOffice.h"
#include "Messages.h"
#include "SmtpSend.h"
#include "frmMessage.h"
#include "tst_windowhelpers.h"

#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

/// The real reply component, loaded from a folder of its own that holds desk
/// B's configuration file; the options component stays a fake.
class ReplyOfB : public ComponentHost
{
public:
    QTemporaryDir folder;
    FakeComponents *fake = nullptr;
    std::unique_ptr<PluginComponents> real;

    bool prepare(const MailOffice &office)
    {
        const QString from = qEnvironmentVariable("TAV_PROGRAM_DIR");
        for (const char *file : {"libTavReply.so", "libtavui.so", "libmailtext.so"}) {
            if (!QFile::copy(from + '/' + file, folder.filePath(QLatin1String(file))))
                return false;
        }
        const IniFile ini(folder.filePath(QStringLiteral("Tavrino.ini")));
        const QList<std::pair<QString, QString>> values{
            {"UserName", QStringLiteral("鈴木")},
            {"UserID", "user2"},
            {"Domain", office.domain},
            {"SmtpServer", "127.0.0.1"},
            {"SmtpPort", QString::number(office.smtpPort)}};
        for (const auto &[key, value] : values) {
            if (!ini.SetIniParm(QStringLiteral("Tavrino"), key, value))
                return false;
        }
        real = std::make_unique<PluginComponents>(folder.path());
        return true;
    }
    ITavOptions *options(QString *error) override { return fake->options(error); }
    ITavReply *reply(QString *error) override { return real->reply(error); }
};

class TestE2eDesks : public QObject
{
    Q_OBJECT

    MailOffice m_office;
    QTemporaryDir m_shared;
    FakeComponents m_components;
    ReplyOfB m_replyOfB;
    std::unique_ptr<Desk> m_a;
    std::unique_ptr<Desk> m_b;
    int m_announcedToB = 0;
    qint64 m_logOffset = 0;
    BoxCatcher m_boxes;

    std::unique_ptr<Desk> openDesk(int user, const QString &name, const QString &interval,
                                   ComponentHost *components = nullptr)
    {
        auto desk = std::make_unique<Desk>(m_office.pop3Port, m_office.smtpPort);
        desk->settings.UserName = name;
        desk->settings.UserID = QStringLiteral("user%1").arg(user);
        desk->settings.Password = QStringLiteral("pass%1").arg(user);
        desk->settings.Domain = m_office.domain;
        desk->settings.List = m_shared.filePath(QStringLiteral("members.lst"));
        desk->settings.Interval = interval;
        if (!desk->open(components ? components : &m_components))
            qFatal("desk not configured");
        desk->window->show();
        return desk;
    }

    /// Desk A sends a memo to the members in rows, as a user would.
    void send(const QList<int> &rows, int kind, bool sealed, const QString &org,
              const QString &caller, const QString &text)
    {
        QWidget *w = m_a->window.get();
        auto *button = Child<QToolButton>(w, "cmdButton0");
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 15000);
        FillMemo(w, rows, kind, sealed, org, caller, text);
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "txtMessage").isEmpty(), 15000); // the form reset
        QCOMPARE(Text(w, "sbrMsgPanel2"), Msg::MessageSent);
    }

    /// The one message file in user2's Maildir.
    QByteArray storedMailOfB() const
    {
        const QString box = m_office.dir + QStringLiteral("/mail/%1/user2/").arg(m_office.domain);
        const QFileInfoList files = QDir(box + QStringLiteral("new")).entryInfoList(QDir::Files) +
                                    QDir(box + QStringLiteral("cur")).entryInfoList(QDir::Files);
        QFile file(files.value(0).filePath());
        return files.size() == 1 && file.open(QIODevice::ReadOnly) ? file.readAll() : "no mail";
    }

    /// Waits for desk B's next complete check.
    void nextCheckOfB()
    {
        QSignalSpy ended(m_b->check.get(), &MailCheck::checkEnded);
        QVERIFY(ended.wait(15000));
    }

    /// user2's POP3 sessions since the test began, by Dovecot's log: how many
    /// are still open; ends gets how the others ended.
    /// Delivers a mail through the office's SMTP server, as any mailer would.
    void deliver(int user, const QByteArray &mail)
    {
        SmtpSend job({QStringLiteral("127.0.0.1"),
                      QString::number(m_office.smtpPort),
                      QStringLiteral("localhost"),
                      {}});
        QSignalSpy sent(&job, &SmtpSend::sent);
        QSignalSpy closed(&job, &SmtpSend::closed);
        job.sendMail(m_office.address(1), {m_office.address(user)}, mail);
        QVERIFY(closed.wait(10000));
        QCOMPARE(sent.count(), 1);
    }

    QByteArray memoTo(int user, const QString &text, const QByteArray &messageId = {})
    {
        const MemoValues memo = BuildMemoMail('0', false, QStringLiteral("ACME"),
                                              QStringLiteral("Bob"), text, {m_office.address(user)},
                                              {QStringLiteral("総務部"), "user1", m_office.domain});
        const QByteArray mail = memo.MemoBody.toLatin1();
        return messageId.isEmpty() ? mail : "Message-ID: " + messageId + "\r\n" + mail;
    }

    /// A mail check of its own for user, on a long interval: checks run when asked.
    std::unique_ptr<MailCheck> checkOf(int user)
    {
        Pop3Settings s{QStringLiteral("127.0.0.1"),
                       QString::number(m_office.pop3Port),
                       QStringLiteral("user%1").arg(user),
                       QStringLiteral("pass%1").arg(user),
                       {}};
        return std::make_unique<MailCheck>(s, QStringLiteral("300"));
    }

    /// Runs one check now (the first when first is set); its outcome.
    static bool runCheck(MailCheck &check, bool first = false)
    {
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        if (first)
            check.start();
        for (int i = 0; i < 10 && !check.isChecking(); ++i)
            check.tmrCheckMail_Timer(); // the minutes counted down at once
        return ended.wait(15000) && ended.first().first().toBool();
    }

    /// Sets the password Dovecot accepts for user.
    void setPassword(int user, const QByteArray &password)
    {
        QFile file(m_office.dir + QStringLiteral("/dovecot/users"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray users = file.readAll();
        file.close();
        const QByteArray name = "user" + QByteArray::number(user) + "@";
        const qsizetype at = users.indexOf(QByteArray("\n" + name)) + 1;
        const qsizetype from = users.indexOf("{PLAIN}", at) + 7;
        users.replace(from, users.indexOf(':', from) - from, password);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(users);
        QVERIFY(file.flush());
        file.close();
        // Dovecot looks at the file again at most once a second.
        QTRY_VERIFY_WITH_TIMEOUT(PopProbe(m_office, user, password).ok(), 10000);
    }

    int openSessionsOfB(QList<QByteArray> *ends) const
    {
        QFile log(m_office.dir + QStringLiteral("/log/dovecot.log"));
        int open = 0;
        ends->clear();
        if (!log.open(QIODevice::ReadOnly) || !log.seek(m_logOffset))
            return -1;
        for (const QByteArray &line : log.readAll().split('\n')) {
            if (line.contains("Login: user=<user2@"))
                ++open;
            if (line.contains("pop3(user2@") && line.contains("Disconnected: ")) {
                --open;
                ends->append(line.mid(line.indexOf("Disconnected: ")));
            }
        }
        return open;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_office = MailOffice::fromEnvironment();
        QVERIFY2(m_office.isUp(), "the local mail office is not running");
        m_logOffset = QFileInfo(m_office.dir + QStringLiteral("/log/dovecot.log")).size();
        for (int user = 1; user <= 3; ++user)
            EmptyMailbox(m_office, user);
        QVERIFY(
            WriteFile(m_shared.filePath(QStringLiteral("members.lst")),
                      Cp932::Encode(QStringLiteral("総務部;%1\r\n---;\r\n鈴木;%2\r\n田中;%3\r\n")
                                        .arg(m_office.address(1), m_office.address(2),
                                             m_office.address(3)))));
        m_a = openDesk(1, QStringLiteral("総務部"), QStringLiteral("300")); // A only sends
        m_replyOfB.fake = &m_components;
        QVERIFY(m_replyOfB.prepare(m_office));
        m_b = openDesk(2, QStringLiteral("鈴木"), QStringLiteral("1"), &m_replyOfB);
        connect(m_b->check.get(), &MailCheck::showMemo, this, [this] { ++m_announcedToB; });
    }

    void cleanupTestCase()
    {
        m_b.reset();
        m_a.reset();
    }

    void workedExampleArrives()
    {
        send({2, 3}, 0, false, QStringLiteral("営業部"), QStringLiteral("担当者"),
             QStringLiteral("折り返しお願いします。\n内線123まで"));
        QVERIFY(!QTest::currentTestFailed());
        QTRY_COMPARE_WITH_TIMEOUT(m_b->window->viewers().size(), 1, 20000);
        QCOMPARE(m_announcedToB, 1);
        QTRY_COMPARE_WITH_TIMEOUT(PopProbe(m_office, 3).count(), 1, 10000);

        // The stored mail holds the program's header lines and body byte for
        // byte, Maildir's LF line ends aside; the servers add their own headers
        // (Message-Id and Date right after the program's).
        const QByteArray stored = storedMailOfB();
        // Its time is the one of the subject record the viewer shows.
        const frmMessage *v = m_b->window->viewers().first();
        const QDateTime sentAt = QDateTime::fromString(
            QStringLiteral("2024/") + Text(v, "frameTitle"), QStringLiteral("yyyy/MM/dd HH:mm"));
        QVERIFY(sentAt.isValid());
        const MemoValues built = BuildMemoMail(
            '0', false, QStringLiteral("営業部"), QStringLiteral("担当者"),
            QStringLiteral("折り返しお願いします。\r\n内線123まで"),
            {m_office.address(2), m_office.address(3)},
            {QStringLiteral("総務部"), QStringLiteral("user1"), m_office.domain}, sentAt);
        const QByteArray mine =
            QByteArray(built.MemoBody.toLatin1() + "\r\n\r\n").replace("\r\n", "\n");
        const qsizetype split = mine.indexOf("\n\n") + 1; // header lines | empty line, body
        QVERIFY2(stored.contains(QByteArray("\n" + mine.left(split))), stored.constData());
        QCOMPARE(stored.mid(stored.indexOf("\n\n") + 1), mine.mid(split));
        const QByteArray head = stored.left(stored.indexOf("\n\n") + 1).toUpper();
        QVERIFY(head.contains("\nDATE: "));
        const qsizetype id = head.indexOf("\nMESSAGE-ID: ") + 13;
        QVERIFY(id > 13);

        // Desk B shows it.
        QVERIFY(v->isVisible());
        QCOMPARE(Shown(v),
                 QStringLiteral(" お電話ください。| 営業部| 担当者|折り返しお願いします。\n"
                                "内線123まで\n|総務部|%1|鈴木|%2")
                     .arg(m_office.address(1),
                          QString::fromLatin1(stored.mid(id, stored.indexOf('\n', id) - id))));
        QVERIFY(!Child<QPushButton>(v, "cmdCover")->isVisible());

        // The next checks announce none again.
        nextCheckOfB();
        nextCheckOfB();
        QCOMPARE(m_announcedToB, 1);
        QCOMPARE(m_b->window->viewers().size(), 1);
    }

    void deleteInTheViewer()
    {
        QPointer<frmMessage> v = m_b->window->viewers().value(0);
        QVERIFY(v);
        auto *del = Child<QToolButton>(v.data(), "cmdButton0");
        // The button follows the session: usable once B's check is idle.
        QTRY_VERIFY_WITH_TIMEOUT((v->RefreshDeleteButton(), del->isEnabled()), 15000);
        QTest::mouseClick(del, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!v, 15000);
        nextCheckOfB(); // its QUIT makes the deletion take effect
        QCOMPARE(PopProbe(m_office, 2).count(), 0);
        QCOMPARE(PopProbe(m_office, 3).count(), 1); // C's copy is untouched
    }

    void katakanaDotLineAndSeal()
    {
        send({2}, 3, false, QStringLiteral("ｶﾞｽ"), QStringLiteral("ﾀﾅｶ"),
             QStringLiteral("ｶﾞｽ点検\n.終わり\n."));
        send({2}, -1, true, QStringLiteral("ACME"), QStringLiteral("Bob"), QStringLiteral("秘密"));
        QVERIFY(!QTest::currentTestFailed());
        QTRY_COMPARE_WITH_TIMEOUT(m_b->window->viewers().size(), 2, 20000);
        QCOMPARE(m_announcedToB, 3);
        QList<frmMessage *> viewers = m_b->window->viewers();
        if (Child<QPushButton>(viewers[0], "cmdCover")->isVisible())
            viewers.swapItemsAt(0, 1);
        QCOMPARE(Shown(viewers[0]).section(QLatin1Char('|'), 0, 3),
                 QStringLiteral(" 来訪されました。| カ゛ス| タナカ|ガス点検\n.終わり\n.\n"));
        QVERIFY(!Child<QPushButton>(viewers[0], "cmdCover")->isVisible());

        // The sealed memo opens covered; a click uncovers it for good.
        auto *cover = Child<QPushButton>(viewers[1], "cmdCover");
        QVERIFY(cover->isVisible() && cover->geometry().contains(viewers[1]->rect()));
        QCOMPARE(Shown(viewers[1]).section(QLatin1Char('|'), 0, 3), // no kind chosen
                 QStringLiteral("| ACME| Bob|秘密\n"));
        QTest::mouseClick(cover, Qt::LeftButton);
        QVERIFY(!cover->isVisible());
    }

    /// The reply window open on the desktop, the newest first.
    static QList<QWidget *> replyWindows()
    {
        QList<QWidget *> found;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->windowTitle() == QStringLiteral("返信 - Tavrino"))
                found.prepend(w);
        }
        return found;
    }

    void aReplyFromTheViewerReachesTheSender()
    {
        const int before = int(m_b->window->viewers().size());
        send({2}, 0, false, QStringLiteral("営業部"), QStringLiteral("担当者"),
             QStringLiteral("お電話ください"));
        QTRY_COMPARE_WITH_TIMEOUT(m_b->window->viewers().size(), before + 1, 20000);
        frmMessage *viewer = m_b->window->viewers().last();
        QTest::mouseClick(Child<QToolButton>(viewer, "cmdButton1"), Qt::LeftButton);
        QTRY_COMPARE(replyWindows().size(), 1);
        QWidget *reply = replyWindows().first();
        QCOMPARE(Text(reply, "lblTo"), m_office.address(1));
        QCOMPARE(Text(reply, "lblToName"), QStringLiteral("総務部"));
        auto *text = Child<QPlainTextEdit>(reply, "txtMessage");
        text->setPlainText(QStringLiteral("承知しました。") + text->toPlainText());
        Child<QCheckBox>(reply, "chkCover")->setChecked(true);
        QPointer<QWidget> sending = reply;
        QTest::mouseClick(Child<QToolButton>(reply, "cmdButton0"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!sending, 10000);

        // A's desk shows it: covered, then the answer and the quote, from B.
        QSignalSpy ended(m_a->check.get(), &MailCheck::checkEnded);
        for (int i = 0; i < 10 && !m_a->check->isChecking(); ++i)
            m_a->check->tmrCheckMail_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(m_a->window->viewers().size(), 1, 15000);
        frmMessage *shown = m_a->window->viewers().first();
        auto *cover = Child<QPushButton>(shown, "cmdCover");
        QVERIFY(cover->isVisible());
        QTest::mouseClick(cover, Qt::LeftButton);
        QCOMPARE(Shown(shown).section(QLatin1Char('|'), 0, 5),
                 QStringLiteral("| | |承知しました。\n\n---Original Message---\nお電話ください"
                                "\n|鈴木|%1")
                     .arg(m_office.address(2)));
        QVERIFY(QDateTime::fromString(QStringLiteral("2024/") + Text(shown, "frameTitle"),
                                      QStringLiteral("yyyy/MM/dd HH:mm"))
                    .isValid());
    }

    void twoRepliesAtOnceKeepTheirOwnRecipientAndText()
    {
        EmptyMailbox(m_office, 3);
        EmptyMailbox(m_office, 4);
        QString error;
        ITavReply *component = m_replyOfB.reply(&error);
        QVERIFY2(component, qPrintable(error));
        QCOMPARE(component->ShowReply(m_office.address(3), "田中", "三へ"), 0);
        QCOMPARE(component->ShowReply(m_office.address(4), "高橋", "四へ"), 0);
        const QList<QWidget *> windows = replyWindows();
        QCOMPARE(windows.size(), 2);
        for (QWidget *w : windows)
            QTest::mouseClick(Child<QToolButton>(w, "cmdButton0"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(replyWindows().size(), 0, 10000);
        for (int user : {3, 4}) {
            auto check = checkOf(user);
            QSignalSpy shown(check.get(), &MailCheck::showMemo);
            QVERIFY(runCheck(*check, true));
            QTRY_COMPARE(shown.count(), 1);
            const QString text = ViewOfMemo(shown.first().first().value<MemoValues>()).text;
            QVERIFY2(text.trimmed().endsWith(user == 3 ? QStringLiteral("三へ")
                                                       : QStringLiteral("四へ")),
                     qPrintable(text));
            check->shutdown();
            QSignalSpy(check.get(), &MailCheck::shutDown).wait(7000);
        }
    }

    void aFailedLoginInBetweenAnnouncesNothingTwice()
    {
        EmptyMailbox(m_office, 4);
        deliver(4, memoTo(4, QStringLiteral("一")));
        deliver(4, memoTo(4, QStringLiteral("二")));
        auto check = checkOf(4);
        QSignalSpy shown(check.get(), &MailCheck::showMemo);
        QSignalSpy errors(check.get(), &MailCheck::errorMessage);
        QVERIFY(runCheck(*check, true));
        QTRY_COMPARE(shown.count(), 2);
        setPassword(4, "changed");
        deliver(4, memoTo(4, QStringLiteral("三")));
        QVERIFY(!runCheck(*check));
        QCOMPARE(errors.count(), 1);
        QVERIFY2(errors.first().first().toString().startsWith("recv:-ERR"),
                 qPrintable(errors.first().first().toString()));
        setPassword(4, "pass4");
        QVERIFY(runCheck(*check));
        QTest::qWait(100);
        QCOMPARE(shown.count(), 3); // only the new one
        QCOMPARE(ViewOfMemo(shown.last().first().value<MemoValues>()).text.trimmed(),
                 QStringLiteral("三"));
        check->shutdown();
        QSignalSpy(check.get(), &MailCheck::shutDown).wait(7000);
    }

    void twoMailsWithOneMessageIdDeleteTheOneShown()
    {
        EmptyMailbox(m_office, 5);
        deliver(5, memoTo(5, QStringLiteral("first"), "<same@forwarded.example>"));
        deliver(5, memoTo(5, QStringLiteral("second"), "<same@forwarded.example>"));
        auto check = checkOf(5);
        QList<MemoValues> shown;
        connect(check.get(), &MailCheck::showMemo, this, [&](const MemoValues &m) { shown << m; });
        QVERIFY(runCheck(*check, true));
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(ViewOfMemo(shown[1]).text.trimmed(), QStringLiteral("second"));
        QList<MailCheck::DeleteResult> results;
        check->requestDelete(shown[1].MemoKey, nullptr,
                             [&](MailCheck::DeleteResult r, const QString &) { results << r; });
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 10000);
        QCOMPARE(results[0], MailCheck::DeleteResult::Deleted);
        QVERIFY(runCheck(*check)); // its QUIT makes the deletion take effect
        QCOMPARE(check->currentBox().size(), 1);
        QCOMPARE(check->currentBox()[0].Key, shown[0].MemoKey);
        check->shutdown();
        QSignalSpy(check.get(), &MailCheck::shutDown).wait(7000);
    }

    void aFloodOpensFiftyViewersAndTheRestWait()
    {
        EmptyMailbox(m_office, 6);
        for (int i = 1; i <= 200; ++i)
            deliver(6, memoTo(6, QString::number(i)));
        QVERIFY(!QTest::currentTestFailed());
        auto desk = std::make_unique<Desk>(m_office.pop3Port, m_office.smtpPort);
        desk->settings.UserID = QStringLiteral("user6");
        desk->settings.Password = QStringLiteral("pass6");
        desk->settings.Domain = m_office.domain;
        QVERIFY(desk->open(&m_components));
        desk->window->show();
        QTRY_COMPARE_WITH_TIMEOUT(desk->window->viewers().size(), 50, 30000);
        QTRY_COMPARE(desk->check->waitingCount(), 150);
        QTest::qWait(200);
        QCOMPARE(desk->window->viewers().size(), 50);
        QCOMPARE(Text(desk->window.get(), "sbrMsgPanel2"),
                 QStringLiteral("表示待ちのメッセージ: 150 件"));
        // Closing viewers brings the next memos, in order.
        QList<frmMessage *> open = desk->window->viewers();
        open[0]->close();
        open[1]->close();
        QTRY_COMPARE(desk->check->waitingCount(), 148);
        QTRY_COMPARE(desk->window->viewers().size(), 50);
        QCOMPARE(Text(desk->window->viewers().last(), "txtMessage").trimmed(),
                 QStringLiteral("52"));
        desk.reset();
    }

    void closingDeskBSendsQuit()
    {
        nextCheckOfB(); // right after a check, B's session is logged in and idle
        QList<QByteArray> ends;
        QTRY_VERIFY_WITH_TIMEOUT(openSessionsOfB(&ends) > 0, 10000);
        QPointer<frmMessage> viewer = m_b->window->viewers().value(0);
        QVERIFY(viewer);
        m_b->window->close();
        // Every session of user2 since the start (B's and the probes') ended
        // with QUIT, a clean logout; the viewers closed with the desk.
        QTRY_COMPARE_WITH_TIMEOUT(openSessionsOfB(&ends), 0, 10000);
        for (const QByteArray &end : std::as_const(ends))
            QVERIFY2(end.startsWith("Disconnected: Logged out"), end.constData());
        QTRY_VERIFY(!viewer);
        QCOMPARE(m_boxes.boxes.size(), 0);
    }
};

QTEST_MAIN(TestE2eDesks)
#include "tst_e2e_desks.moc"
