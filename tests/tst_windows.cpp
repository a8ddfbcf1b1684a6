// The main window, the memo viewer, the status bar and start-up; what the memo form
// and its send button do around the SMTP dialogue (tst_dialogues).

#include "AppMessages.h"
#include "FakeServer.h"
#include "Messages.h"
#include "SingleInstance.h"
#include "basTavrino.h"
#include "frmMessage.h"
#include "tst_windowhelpers.h"

#include <QtTest>

class TestWindows : public QObject
{
    Q_OBJECT

    FakeComponents m_components;
    /// A sealed memo from 佐藤 <sato@example.jp> as read from the server.
    const MemoValues m_sealed =
        ReadMemoMail("+OK\r\nMessage-ID:  <m1@example.jp>  \r\n" +
                     BuildMemoMail('1', true, u"東京商事"_s, u"山田太郎"_s,
                                   u"折り返しお願いします。\r\n明日まで"_s, {u"user2@example.jp"_s},
                                   {u"佐藤"_s, u"sato"_s, u"example.jp"_s},
                                   QDateTime(QDate(2024, 3, 5), QTime(9, 7)))
                         .MemoBody.toLatin1() +
                     "\r\n.\r\n");

    std::unique_ptr<FakeServer> m_pop3;
    std::unique_ptr<Desk> m_desk;
    frmTavrino *m_window = nullptr;

    template <class T> T *child(const char *name) const { return Child<T>(m_window, name); }

    /// A shown desk whose first mail check (of an empty mailbox) has ended.
    void openDesk(const FakeServer &smtp)
    {
        m_pop3 = std::make_unique<FakeServer>();
        m_pop3->pop3Login("+OK 0 0").pop3Quit();
        m_desk = std::make_unique<Desk>(m_pop3->port(), smtp.port());
        QVERIFY(m_desk->open(&m_components));
        m_window = m_desk->window.get();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        QTRY_VERIFY_WITH_TIMEOUT(child<QToolButton>("cmdButton0")->isEnabled(), 10000);
    }

    /// While a memo is on its way, both buttons are off and no check can start.
    void verifyBusy(bool busy)
    {
        QCOMPARE(child<QToolButton>("cmdButton0")->isEnabled(), !busy);
        QCOMPARE(child<QToolButton>("cmdButton1")->isEnabled(), !busy);
        QCOMPARE(m_desk->check->timer().isActive(), !busy && !m_desk->check->isChecking());
    }

    void send(const QList<int> &rows, int kind, bool sealed, const QString &org,
              const QString &caller, const QString &text)
    {
        FillMemo(m_window, rows, kind, sealed, org, caller, text);
        QTest::mouseClick(child<QToolButton>("cmdButton0"), Qt::LeftButton);
        verifyBusy(true);
    }

private Q_SLOTS:
    void init() { m_components = FakeComponents(); }
    void cleanup() { m_desk.reset(); }

    void layoutAndLoadWithABadFifthLine()
    {
        FakeServer server;
        Desk desk(server.port());
        QVERIFY(WriteFile(desk.folder.filePath("members.lst"),
                          "a;1\r\nb;2\r\nc;3\r\nd;4\r\nbad line\r\ne;5\r\n"));
        BoxCatcher boxes;
        QVERIFY(desk.open(&m_components));
        // No option clipped; every control the user can reach has a name.
        desk.window->show();
        QCOMPARE(Clipped(desk.window.get()), QStringList());
        for (QWidget *w : desk.window->findChildren<QWidget *>())
            QVERIFY2(w->focusPolicy() == Qt::NoFocus || w->objectName().isEmpty() ||
                         !w->accessibleName().isEmpty(),
                     qPrintable(w->objectName()));
        QCOMPARE(Child<QListWidget>(desk.window.get(), "lstMemberName")->count(), 4);
        QCOMPARE(boxes.boxes, QStringList(Warning(Msg::AppError + "\r\n" + Msg::ErrBadArgument)));
        QVERIFY(!desk.check->isChecking() && !desk.check->timer().isActive());
    }

    void unconfiguredOffersSettingsAndEnds()
    {
        Desk desk(FakeServer::closedPort());
        desk.settings.Domain.clear();
        BoxCatcher boxes;
        QVERIFY(!desk.open(&m_components));
        QCOMPARE(m_components.settingCalls, 1);
        m_components.available = false;
        QVERIFY(!desk.open(&m_components));
        const QString end = Warning(u"Tavrinoを終了します。"_s);
        QCOMPARE(boxes.boxes,
                 (QStringList{end, Warning(Msg::AppError + "\r\nplugin missing"), end}));
    }

    void aFailureIsToldOnceUntilMended()
    {
        FakeServer server;
        server.pop3Login({}).close().pop3Login({}).close().pop3Login("+OK 0 0").pop3Quit();
        Desk desk(server.port());
        BoxCatcher boxes(false);
        QVERIFY(desk.open(&m_components));
        const QString failed = u"recv:-ERR [AUTH] Authentication failed."_s;
        QTRY_COMPARE(
            boxes.boxes,
            QStringList(Warning(failed + u"\r\n受信 (POP3 127.0.0.1:%1)"_s.arg(server.port()))));
        const QString since = desk.check->failureSince().toString(u"HH:mm");
        QVERIFY(desk.window->trayTip().contains(u"受信エラー %1〜: %2"_s.arg(since, failed)));
        // While the box is open, or later, the same failure goes to the status bar.
        for (const QString &status : {failed, u"受信を再開しました。"_s}) {
            QVERIFY(desk.checkNow() >= 0);
            QCOMPARE(Text(desk.window.get(), "sbrMsgPanel2"), status);
        }
        QCOMPARE(boxes.boxes.size(), 1);
        QVERIFY(!desk.window->trayTip().contains(u"受信エラー"_s) &&
                desk.window->trayTip().contains(u"最終確認: "_s));
        // A screen reader hears each panel as shown, and its tip.
        const QStringList tips{AppMsg::PanelUser, AppMsg::PanelCommand, AppMsg::PanelDate,
                               AppMsg::PanelTime};
        for (int panel = 1; panel <= 4; ++panel) {
            auto *label = Child<QLabel>(desk.window.get(), u"sbrMsgPanel%1"_s.arg(panel));
            QAccessibleInterface *heard = QAccessible::queryAccessibleInterface(label);
            QVERIFY(heard && !label->text().isEmpty());
            QCOMPARE(heard->text(QAccessible::Name), label->text());
            QCOMPARE(heard->text(QAccessible::Description), tips[panel - 1]);
        }
    }

    void memoListFollowsTheMailbox()
    {
        FakeServer server;
        server.pop3Check({"u1", "u2"}, {{1, RetrMemo("<1>", "one")}, {2, RetrMemo("<2>", "two")}});
        Desk desk(server.port());
        QVERIFY(desk.open(&m_components));
        QTRY_COMPARE(desk.window->viewers().size(), 2);
        desk.window->findChild<QAction *>("mnuMemoList")->trigger();
        auto *list = Child<QTreeWidget>(desk.window.get(), "lstMemo");
        const auto key = [list] { return list->topLevelItem(0)->data(0, Qt::UserRole).toString(); };
        QCOMPARE(key(), u"uid:u2"_s); // newest first; Enter on the second opens u1
        QCOMPARE(list->topLevelItem(0)->text(2) + list->topLevelItem(0)->text(1),
                 u"ACMEお電話ください。"_s);
        // Enter brings the memo's open viewer forward; once it is closed, opens a new one.
        frmMessage *one = desk.window->viewers().value(0);
        list->setCurrentItem(list->topLevelItem(1));
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(desk.window->viewers().size(), 2);
        delete one;
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(desk.window->viewers().last()->memoKey(), u"uid:u1"_s);
        QSignalSpy started(desk.check.get(), &MailCheck::checkStarted);
        desk.window->findChild<QAction *>("mnuCheckNow")->trigger();
        QCOMPARE(started.size(), 1);
        QCOMPARE(Clipped(list->window()), QStringList());
    }

    void trayTwipsAndExit()
    {
        FakeServer server;
        server.pop3Login("+OK 0 0").expect("QUIT").send("+OK").close();
        Desk desk(server.port());
        QVERIFY(desk.open(&m_components));
        frmTavrino *window = desk.window.get();
        window->move(100, 50);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // The settings dialog holds the mail-check timer while it is open.
        bool held = false;
        m_components.duringSetting = [&] { held = !desk.check->timer().isActive(); };
        QTRY_VERIFY(desk.check->timer().isActive() && !desk.check->isChecking());
        Child<QToolButton>(window, "cmdButton1")->click();
        QVERIFY(held && m_components.settingCalls == 1 && desk.check->timer().isActive());

        // Exit closes help and the memo list, stores the position in twips, ends after QUIT.
        window->findChild<QAction *>("mnuHelp")->trigger();
        window->ShowMemoList();
        QVERIFY(HelpWindow());
        QSignalSpy unloaded(window, &frmTavrino::unloaded);
        window->findChild<QAction *>("mnuFileItem0")->trigger();
        QVERIFY(!window->isVisible() && !HelpWindow());
        QTRY_VERIFY(!window->findChild<QTreeWidget *>("lstMemo")); // the memo list too
        QTRY_COMPARE(unloaded.size(), 1);
        const QByteArray stored = ReadFile(desk.settings.appIniFile);
        QVERIFY2(stored.contains("Top= 750\r\n") && stored.contains("Left= 1500\r\n"),
                 stored.constData());

        // The next start restores it; closed while minimised, it stays.
        QVERIFY(desk.open(&m_components));
        window = desk.window.get();
        QCOMPARE(window->pos(), QPoint(100, 50));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->move(200, 200);
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        window->close();
        QCOMPARE(ReadFile(desk.settings.appIniFile), stored);
    }

    // Run offscreen (no notification area) and on a desktop that has one (TAV_TEST_TRAY).
    void minimisedIntoTheNotificationArea()
    {
        FakeServer server;
        server.pop3Login("+OK 0 0").pop3Quit();
        Desk desk(server.port());
        QVERIFY(desk.open(&m_components));
        frmTavrino *window = desk.window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const bool tray = qEnvironmentVariableIsSet("TAV_TEST_TRAY");
        QTRY_COMPARE(QSystemTrayIcon::isSystemTrayAvailable(), tray);
        // Into the notification area, or without one left minimised where it can be found.
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        QTRY_COMPARE(window->isVisible(), !tray);
        QCOMPARE(window->trayIcon() && window->trayIcon()->isVisible(), tray);
        window->onTrayActivated(QSystemTrayIcon::Trigger); // a single click
        QTRY_VERIFY(!window->isMinimized() && window->isVisible());
        QCOMPARE(window->trayIcon() != nullptr, tray);
        QVERIFY(!tray || !window->trayIcon()->isVisible());
    }

    void viewerFieldsSealFocusGuardReplyAndDelete()
    {
        FakeServer server; // an empty mailbox, then a deletion the server does not commit
        server.pop3Check({}).pop3Login("+OK 1 900").pop3Uidl({"u1"});
        server.script(">DELE 1|<+OK|>QUIT|<-ERR cannot update|C");
        MailCheck check(Pop3At(server.port()), u"300"_s);
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        check.start();
        MemoValues sealed = m_sealed;
        sealed.MemoKey = u"uid:u1"_s;
        frmMessage viewer(sealed, u"鈴木"_s, &check, &m_components);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowActive(&viewer));
        QCOMPARE(Shown(&viewer), QStringLiteral(" またお電話いたします。| 東京商事| 山田太郎|"
                                                "折り返しお願いします。\n明日まで|佐藤|"
                                                "sato@example.jp|鈴木|<m1@example.jp>"));
        QCOMPARE(Text(&viewer, "frameTitle"), u"03/05 09:07"_s);
        QCOMPARE(Clipped(&viewer).join(u","_s), QString());
        auto *text = Child<QPlainTextEdit>(&viewer, "txtMessage");
        QVERIFY(text->isReadOnly());

        // Sealed: covered until Alt+G uncovers it.
        auto *cover = Child<QPushButton>(&viewer, "cmdCover");
        QVERIFY(cover->isVisible() && cover->geometry().contains(viewer.rect()));
        QTest::keyClick(&viewer, Qt::Key_G, Qt::AltModifier);
        QTRY_VERIFY(!cover->isVisible());

        // The one-line fields hand the focus back to the window; the text box keeps it.
        for (const char *name : {"txtCaller", "txtDepartment", "txtSummary"}) {
            auto *box = Child<QLineEdit>(&viewer, name);
            QVERIFY(box->isReadOnly());
            box->setFocus(Qt::MouseFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), &viewer);
        }
        text->setFocus(Qt::MouseFocusReason);
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::focusWidget(), text);
        // Another viewer, of a sender without a usable address: markup shown as written, no
        // reply; Escape closes it.
        MemoValues odd = m_sealed;
        odd.MemoFromName = u"<b>佐藤</b>"_s, odd.MemoFromAddress = u"<sato>"_s;
        QPointer<frmMessage> closing = new frmMessage(odd, {}, nullptr, nullptr);
        closing->show();
        QVERIFY(QTest::qWaitForWindowActive(closing));
        for (const char *name : {"lblSender", "lblSenderID", "sbrMsgPanel2"})
            QCOMPARE(Child<QLabel>(closing, name)->textFormat(), Qt::PlainText);
        QVERIFY(!Child<QToolButton>(closing, "cmdButton1")->isEnabled());
        QTest::keyClick(closing, Qt::Key_Escape); // as its close box does
        QTRY_VERIFY(!closing);

        auto *reply = Child<QToolButton>(&viewer, "cmdButton1");
        QTest::mouseClick(reply, Qt::LeftButton);
        QCOMPARE(m_components.replies,
                 QStringList{"sato@example.jp|佐藤|折り返しお願いします。\n明日まで"});
        BoxCatcher boxes;
        for (bool loaded : {false, true}) { // missing, or loaded but its window refused
            m_components.available = m_components.failReply = loaded;
            QTest::mouseClick(reply, Qt::LeftButton);
            QTRY_COMPARE(boxes.boxes.size(), 1 + loaded);
        }
        QCOMPARE(boxes.boxes, (QStringList{Warning(Msg::AppError + "\r\nplugin missing"),
                                           Warning(Msg::AppError + "\r\nwindow refused")}));
        QVERIFY(viewer.isVisible());

        // A deletion the server does not commit leaves the viewer as it was, and says so once.
        QVERIFY(!ended.isEmpty() || ended.wait(5000));
        auto *del = Child<QToolButton>(&viewer, "cmdButton0");
        QTest::mouseClick(del, Qt::LeftButton);
        QVERIFY(!del->isEnabled() && QApplication::overrideCursor());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 3, 10000);
        QCOMPARE(boxes.boxes.last(),
                 Warning(u"メッセージを削除できませんでした。メッセージはサーバーに"
                         u"残っています。\r\nrecv:-ERR cannot update"_s));
        QVERIFY(!QApplication::overrideCursor() && viewer.isVisible() && del->isEnabled());
        VERIFY_SCRIPT(server);
    }

    void aViewerClosedByItsDeletionUnderItsOwnBox()
    {
        FakeServer server; // the deletion commits once the reply's box is open
        server.pop3Check({}).pop3Login("+OK 1 900").pop3Uidl({"u1"}).hold();
        server.script(">DELE 1|<+OK|>QUIT|<+OK|C");
        MailCheck check(Pop3At(server.port()), u"300"_s);
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        check.start();
        QVERIFY(ended.wait(5000));
        MemoValues memo = m_sealed;
        memo.MemoKey = u"uid:u1"_s;
        QPointer<frmMessage> viewer = new frmMessage(memo, {}, &check, &m_components);
        viewer->show();
        QVERIFY(QTest::qWaitForWindowActive(viewer));
        BoxCatcher boxes; // pressed once the viewer is gone
        boxes.until = [&viewer] { return !viewer; };
        QTest::mouseClick(Child<QToolButton>(viewer, "cmdButton0"), Qt::LeftButton);
        m_components.failReply = true;
        QTimer::singleShot(0, &server, [&server] { server.release(); });
        QTest::mouseClick(Child<QToolButton>(viewer, "cmdButton1"), Qt::LeftButton);
        QTRY_VERIFY(!viewer && BoxCatcher::openBoxes().isEmpty());
        QCOMPARE(boxes.boxes, QStringList(Warning(Msg::AppError + "\r\nwindow refused")));
        VERIFY_SCRIPT(server);
    }

    void oneCopyPerProgramFolderAndSession()
    {
        // The second copy is told and asks the first back (the program itself: tst_package.sh).
        QTemporaryDir folder, other;
        SingleInstance first(folder.path()), second(folder.path() + QLatin1Char('/'));
        QVERIFY(first.claim() && !second.claim());
        QSignalSpy restore(&first, &SingleInstance::restoreRequested);
        BoxCatcher boxes;
        RefuseSecondCopy(second);
        QCOMPARE(boxes.boxes, QStringList(u"critical Tavrino: Tavrinoは既に起動されています"_s));
        QVERIFY(restore.wait(5000));
        QVERIFY(SingleInstance(other.path()).claim());     // another folder is another program
        qputenv("XDG_RUNTIME_DIR", other.path().toUtf8()); // another session, another copy
        QVERIFY(SingleInstance(folder.path()).claim());
        qunsetenv("XDG_RUNTIME_DIR");
    }

    void memoFormNoRecipientAndWindowGone()
    {
        FakeServer server; // greets, then never answers HELO
        server.send("220 fake").expect("HELO example.jp");
        openDesk(server);
        BoxCatcher boxes;
        // The separator takes itself back; select all leaves it out.
        auto *list = child<QListWidget>("lstMemberName");
        auto *none = child<QPushButton>("cmdAll1");
        for (int row : {2, 1})
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(row)).center());
        QVERIFY(list->item(2)->isSelected() && !list->item(1)->isSelected() && !none->isVisible());
        QTest::mouseClick(child<QPushButton>("cmdAll0"), Qt::LeftButton);
        QCOMPARE(list->selectedItems().size(), 3);
        QVERIFY(!list->item(1)->isSelected() && none->isVisible());
        QCOMPARE(QApplication::focusWidget(), child<QWidget>("txtMessage"));
        QTest::mouseClick(none, Qt::LeftButton);
        QVERIFY(list->selectedItems().isEmpty() && !none->isVisible());

        QTest::mouseClick(child<QToolButton>("cmdButton0"), Qt::LeftButton);
        QTRY_COMPARE(boxes.boxes, QStringList(Warning(Msg::NoRecipient)));
        QTRY_COMPARE(m_window->focusWidget(), list);
        verifyBusy(false);

        // Gone while a memo is on its way, the window takes the send along, silently.
        send({0}, 0, false, "a", "b", "c");
        QTRY_VERIFY_WITH_TIMEOUT(server.done(), 10000);
        m_desk->window.reset();
        QTRY_VERIFY(!server.isConnected()); // not at the job's 60 s reply limit
        QCOMPARE(boxes.boxes.size(), 1);    // the missing recipient's alone
    }

    void theFormReachesTheWireAndResets()
    {
        FakeServer server;
        server.send("220 fake").expect("*").send("250 ok").expect("*");
        // Chosen as fourth, first, third: sent in list order.
        for (const char *rcpt : {"sato", "suzuki", "tanaka"})
            server.send("250 ok").expect("RCPT TO:<"_ba + rcpt + "@example.jp>");
        server.send("250 ok").expect("DATA").send("354 go");
        for (int line = 0; line < 11; ++line) // the mail (its subject folded), then "."
            server.expect("*");
        server.send("250 ok").expect("QUIT").send("250 ok");
        openDesk(server);
        // A check under way, whose server says nothing, holds nothing of the send.
        m_desk->check->checkNow();
        QVERIFY(m_desk->check->isChecking());
        BoxCatcher boxes;
        const QString before = QDateTime::currentDateTime().toString(u"MM/dd HH:mm");
        // An emoji cannot travel: the user is told, and it arrives as "?"; 髙 travels.
        send({3, 0, 2}, 2, true, "ACME", u"髙橋"_s, u".\n.abc😀\nend."_s);
        QTRY_COMPARE_WITH_TIMEOUT(Text(m_window, "sbrMsgPanel2"), Msg::MessageSent, 10000);
        QTRY_VERIFY2(server.ok(), qPrintable(server.failure()));
        const QList<QByteArray> wire = server.received();
        QList<QByteArray> mail = wire.mid(wire.indexOf("DATA") + 1, 11);
        const QByteArray sentAt = mail[0].mid(13, 11);
        QVERIFY(sentAt == before.toLatin1() ||
                sentAt == QDateTime::currentDateTime().toString(u"MM/dd HH:mm").toLatin1());
        mail[0].replace(13, 11, "MM/dd HH:mm");
        mail.removeAt(2); // the sender: the memo format's own rows
        QCOMPARE(mail,
                 (QList<QByteArray>{"Subject:21   MM/dd HH:mmACME                ",
                                    " =?ISO-2022-JP?B?GyRCfGI2NhsoQg==?=                   ",
                                    "To:sato@example.jp, suzuki@example.jp ,tanaka@example.jp",
                                    "Content-Type: text/plain; charset=us-ascii", "", "..",
                                    "..abc?", "end.", "", "."}));

        // The form is ready for the next memo.
        QCOMPARE(boxes.boxes,
                 QStringList(Warning(u"次の文字は送信できないため「?」になります: 😀"_s)));
        const MemoDraft draft = m_window->CurrentDraft();
        QVERIFY(draft.recipients.isEmpty() && draft.department.isEmpty() &&
                draft.caller.isEmpty() && draft.text.isEmpty() && !draft.sealed &&
                draft.kind == u'*');
        QCOMPARE(m_window->focusWidget(), child<QListWidget>("lstMemberName"));
        verifyBusy(false);
        QVERIFY(m_desk->check->isChecking()); // sent while the check ran
    }

    void aFailedSendKeepsTheFormAndOffersItOnce()
    {
        // The box once opened inside the job's signal; the closing server deleted the job under it.
        FakeServer server;
        server.send("220 fake").expect("HELO example.jp").hold().send("250 fake");
        server.expect("MAIL FROM:<user1@example.jp>").send("421 closing").close();
        openDesk(server);
        BoxCatcher boxes; // pressed only once the server has gone
        boxes.until = [&server] { return server.done() && !server.isConnected(); };
        send({0, 3}, 1, false, "営業部", "担当者", "本文");
        // A check that fails meanwhile must not offer the same memo again.
        m_pop3.reset();
        QCOMPARE(m_desk->checkNow(), 0);
        QVERIFY(!child<QToolButton>("cmdButton0")->isEnabled());
        server.release();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 2, 10000); // the check's and the send's
        QVERIFY(boxes.boxes.contains(
            Warning(u"recv:421 closing\r\n送信 (SMTP 127.0.0.1:%1)"_s.arg(server.port()))));
        QTRY_VERIFY(BoxCatcher::openBoxes().isEmpty());
        // The form is kept for another try.
        QVERIFY(Text(m_window, "sbrMsgPanel2") != Msg::MessageSent);
        const MemoDraft draft = m_window->CurrentDraft();
        QVERIFY(draft.recipients.size() == 2 && draft.text == u"本文"_s && draft.kind == u'1');
        verifyBusy(false);
        VERIFY_SCRIPT(server);
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
