#include "AppMessages.h"
#include "Cp932.h"
#include "HelpWindow.h"
#include "IniFile.h"
#include "MailCheck.h"
#include "Messages.h"
#include "StatusPanels.h"
#include "frmMessage.h"
#include "frmTavrino.h"
#include "tst_windowhelpers.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include <memory>

namespace {
const QByteArray GoodList = Cp932::Encode(QStringLiteral("佐藤;sato@example.jp\r\n"
                                                         "---;\r\n"
                                                         "鈴木;suzuki@example.jp\r\n"
                                                         "田中;tanaka@example.jp\r\n"));
} // namespace

class TestFrmTavrino : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    FakePop3 *m_pop3 = nullptr;
    FakeComponents m_components;

    QString programFolder() const { return m_dir->path(); }

    void writeFile(const QString &name, const QByteArray &content)
    {
        QFile f(m_dir->filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

    QByteArray readFile(const QString &name) const
    {
        QFile f(m_dir->filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    Settings settings(const QString &port) const
    {
        Settings s = Settings::ForFolder(programFolder());
        s.UserName = QStringLiteral("佐藤");
        s.UserID = QStringLiteral("sato");
        s.Password = QStringLiteral("secret");
        s.Domain = QStringLiteral("example.jp");
        s.Pop3Server = QStringLiteral("127.0.0.1");
        s.Pop3Port = port;
        s.List = QStringLiteral("members.lst"); // found in the program folder
        s.Interval = QStringLiteral("300");
        return s;
    }

    template <class T> static T *child(const QWidget &w, const QString &name)
    {
        T *found = w.findChild<T *>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        writeFile(QStringLiteral("members.lst"), GoodList);
        m_pop3 = new FakePop3;
        m_pop3->start();
        m_components = FakeComponents();
    }

    void cleanup()
    {
        delete m_pop3;
        m_pop3 = nullptr;
        m_dir.reset();
    }

    void layoutFollowsTheDesign()
    {
        const Settings s = settings(m_pop3->port());
        frmTavrino window(s, nullptr, &m_components);
        QCOMPARE(window.size(), QSize(309, 393));
        QCOMPARE(window.windowTitle(), Msg::Title);
        QCOMPARE(child<QListWidget>(window, "lstMemberName")->geometry(), QRect(20, 52, 93, 298));
        QCOMPARE(child<QPushButton>(window, "cmdAll0")->geometry(), QRect(8, 16, 93, 17));
        QCOMPARE(child<QPushButton>(window, "cmdAll1")->geometry(), QRect(8, 16, 93, 17));
        QCOMPARE(child<QLineEdit>(window, "txtDepartment")->maxLength(), 20);
        QCOMPARE(child<QLineEdit>(window, "txtCaller")->geometry(), QRect(8, 40, 109, 19));
        // Captions wider in this font than in the design's may widen a control
        // to the right; its place stays.
        const QRect option = child<QRadioButton>(window, "optMessage3")->geometry();
        QCOMPARE(option.topLeft(), QPoint(140, 140));
        QCOMPARE(option.height(), 21);
        QVERIFY(option.width() >= 113 && option.right() < 132 + 165);
        for (QRadioButton *button : window.findChildren<QRadioButton *>())
            QVERIFY(button->width() >= button->sizeHint().width());
        QCOMPARE(child<QToolButton>(window, "cmdButton0")->geometry(), QRect(132, 312, 61, 49));
        QCOMPARE(child<QToolButton>(window, "cmdButton2")->geometry(), QRect(264, 320, 33, 37));
        QCOMPARE(child<StatusPanels>(window, "sbrMsg")->geometry(), QRect(0, 371, 309, 22));
        QCOMPARE(child<QToolButton>(window, "cmdButton0")->text(), AppMsg::Send);
        QVERIFY(!child<QToolButton>(window, "cmdButton0")->isEnabled());
        QCOMPARE(child<QLabel>(window, "sbrMsgPanel4")->toolTip(), AppMsg::PanelTime);
        QVERIFY(child<QLabel>(window, "sbrMsgPanel3")->text().contains(QLatin1Char('/')));
        QVERIFY(window.font().family().startsWith(QLatin1String("Noto Sans CJK JP")));
        // Every control can be found by its visible text.
        for (QWidget *w : window.findChildren<QWidget *>()) {
            if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) ||
                qobject_cast<QListWidget *>(w) || qobject_cast<QPlainTextEdit *>(w) ||
                qobject_cast<QGroupBox *>(w) || qobject_cast<QLabel *>(w)) {
                if (w->objectName().isEmpty())
                    continue; // parts of composite controls
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
            }
        }
        QCOMPARE(child<QToolButton>(window, "cmdButton1")->accessibleName(), AppMsg::SettingsTip);
        QCOMPARE(child<QToolButton>(window, "cmdButton0")->accessibleName(),
                 QStringLiteral("送信(S)"));
    }

    void badFifthLineStopsTheLoad()
    {
        writeFile(QStringLiteral("members.lst"),
                  QByteArray("a;1\r\nb;2\r\nc;3\r\nd;4\r\nbad line\r\ne;5\r\n"));
        MailCheck check(settings(m_pop3->port()).pop3(), QStringLiteral("300"));
        frmTavrino window(settings(m_pop3->port()), &check, &m_components);
        BoxCatcher boxes;
        QVERIFY(window.Load());
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, Msg::AppError + QStringLiteral("\r\n") + Msg::ErrBadArgument);
        QCOMPARE(boxes.boxes[0].title, Msg::Title);
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(child<QListWidget>(window, "lstMemberName")->count(), 4);
        QCOMPARE(window.members().size(), 4);
        // No check: nothing connects, the status bar was never filled.
        QVERIFY(!check.isChecking());
        QVERIFY(!check.timer().isActive());
        QCOMPARE(child<QLabel>(window, "sbrMsgPanel2")->text(), QString());
        QCOMPARE(child<QLabel>(window, "sbrMsgPanel1")->text(), QString());
        QCoreApplication::processEvents();
        QCOMPARE(m_pop3->connections(), 0);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void unconfiguredOffersSettingsAndEnds()
    {
        Settings s = settings(m_pop3->port());
        s.Domain.clear();
        BoxCatcher boxes;
        {
            frmTavrino window(s, nullptr, &m_components);
            QVERIFY(!window.Load());
        }
        QCOMPARE(m_components.settingCalls, 1);
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("Tavrinoを終了します。"));

        // Without the options component: the application error, then the end.
        m_components.available = false;
        s = settings(m_pop3->port());
        s.UserName.clear();
        frmTavrino window(s, nullptr, &m_components);
        QVERIFY(!window.Load());
        QCOMPARE(boxes.boxes.size(), 3);
        QCOMPARE(boxes.boxes[1].text, Msg::AppError + QStringLiteral("\r\nplugin missing"));
        QCOMPARE(boxes.boxes[2].text, Msg::Title + Msg::Ending);
    }

    void checkAtLoadOpensViewers()
    {
        m_pop3->mailbox = {
            MemoMailText(QLatin1Char('0'), false, QStringLiteral("ABC商事"), QStringLiteral("山田"),
                         QStringLiteral("至急"), QStringLiteral("<m1@example.jp>")),
            MemoMailText(QLatin1Char('2'), true, QStringLiteral("XYZ"), QStringLiteral("鈴木"),
                         QString(), QStringLiteral("<m2@example.jp>"))};
        MailCheck check(settings(m_pop3->port()).pop3(), QStringLiteral("300"));
        frmTavrino window(settings(m_pop3->port()), &check, &m_components);
        QVERIFY(window.Load());
        QCOMPARE(child<QLabel>(window, "sbrMsgPanel1")->text(), QStringLiteral("佐藤"));
        QCOMPARE(child<QListWidget>(window, "lstMemberName")->count(), 4);
        window.show();
        auto *send = child<QToolButton>(window, "cmdButton0");
        QTRY_VERIFY_WITH_TIMEOUT(send->isEnabled(), 10000);
        QCOMPARE(window.viewers().size(), 2);
        QCOMPARE(window.viewers()[0]->memoKey(), QStringLiteral("<m1@example.jp>"));
        QVERIFY(window.viewers()[1]->isVisible());
        QVERIFY(m_pop3->commands.contains(QStringLiteral("RETR 2")));

        // Closing ends the session with QUIT and closes viewers and help.
        writeFile(QStringLiteral("Tavrino.html"), "<html><body>help</body></html>");
        ShowHelpWindow(m_dir->filePath(QStringLiteral("Tavrino.html")));
        QPointer<QWidget> help;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->objectName() == HelpWindowName)
                help = w;
        }
        QVERIFY(help && help->isVisible());
        QPointer<frmMessage> viewer = window.viewers()[0];
        QSignalSpy unloaded(&window, &frmTavrino::unloaded);
        window.close();
        QCOMPARE(unloaded.size(), 1);
        QVERIFY(m_pop3->commands.contains(QStringLiteral("QUIT")));
        QTRY_VERIFY(!viewer);
        QTRY_VERIFY(!help);
    }

    void failedCheckBoxesAreNotStacked()
    {
        MailCheck check(settings(m_pop3->port()).pop3(), QStringLiteral("300"));
        frmTavrino window(settings(m_pop3->port()), &check, &m_components);
        BoxCatcher boxes(false);
        Q_EMIT check.errorMessage(QStringLiteral("connect:接続が拒否された。"));
        QTRY_COMPARE(BoxCatcher::openBoxes().size(), 1);
        Q_EMIT check.errorMessage(QStringLiteral("recv:-ERR again"));
        QCoreApplication::processEvents();
        QCOMPARE(BoxCatcher::openBoxes().size(), 1);
        QCOMPARE(child<QLabel>(window, "sbrMsgPanel2")->text(), QStringLiteral("recv:-ERR again"));
        QTRY_COMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("connect:接続が拒否された。"));
        // Once read, the next failure gets its box again.
        boxes.setDismiss(true);
        QTRY_COMPARE(BoxCatcher::openBoxes().size(), 0);
        Q_EMIT check.errorMessage(QStringLiteral("third"));
        QTRY_COMPARE(boxes.boxes.size(), 2);
        QCOMPARE(boxes.boxes[1].text, QStringLiteral("third"));
    }

    void refusedPortIsReported()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString port = QString::number(closed.serverPort());
        closed.close();
        MailCheck check(settings(port).pop3(), QStringLiteral("300"));
        frmTavrino window(settings(port), &check, &m_components);
        BoxCatcher boxes;
        QVERIFY(window.Load());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("connect:接続が拒否された。"));
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);
    }

    void minimiseAndRestore()
    {
        frmTavrino window(settings(m_pop3->port()), nullptr, &m_components);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showMinimized();
        QTRY_VERIFY(window.isMinimized());
        QCoreApplication::processEvents();
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            // Into the notification area: one icon, the window hidden.
            QTRY_VERIFY(!window.isVisible());
            QVERIFY(window.trayIcon() && window.trayIcon()->isVisible());
            QCOMPARE(window.trayIcon()->toolTip(), Msg::Title);
        } else {
            // No notification area (offscreen): the window stays, minimised,
            // never lost.
            QVERIFY(window.isVisible());
            QVERIFY(window.trayIcon() == nullptr);
        }
        window.RestoreWindow();
        QTRY_VERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());
        QVERIFY(!window.trayIcon() || !window.trayIcon()->isVisible());
    }

    void positionIsStoredInTwips()
    {
        {
            frmTavrino window(settings(m_pop3->port()), nullptr, &m_components);
            QVERIFY(window.Load());
            window.move(100, 50);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.close();
        }
        const QByteArray ini = readFile(QStringLiteral("Tavrino.ini"));
        QVERIFY2(ini.contains("Top= 750\r\n"), ini.constData());
        QVERIFY2(ini.contains("Left= 1500\r\n"), ini.constData());
        QVERIFY(ini.indexOf("Top=") < ini.indexOf("Left="));

        frmTavrino again(settings(m_pop3->port()), nullptr, &m_components);
        QVERIFY(again.Load());
        QCOMPARE(again.pos(), QPoint(100, 50));

        // Closed while minimised: the stored position stays as it was.
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        again.move(200, 200);
        again.showMinimized();
        QTRY_VERIFY(again.isMinimized());
        again.close();
        QCOMPARE(readFile(QStringLiteral("Tavrino.ini")), ini);
    }

    void positionWriteFailureIsReported()
    {
        Settings s = settings(m_pop3->port());
        s.appIniFile = m_dir->filePath(QStringLiteral("missing/folder/Tavrino.ini"));
        frmTavrino window(s, nullptr, &m_components);
        BoxCatcher boxes;
        window.show();
        window.close();
        QCOMPARE(boxes.boxes.size(), 2); // one for Top, one for Left
        QCOMPARE(boxes.boxes[0].text, IniWriteErrorText(s.appIniFile));
    }

    void trayMenuEndsTheProgram()
    {
        frmTavrino window(settings(m_pop3->port()), nullptr, &m_components);
        auto *menu = child<QMenu>(window, "mnuFile");
        QCOMPARE(menu->title(), AppMsg::MenuFile);
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions()[0]->text(), AppMsg::MenuExit);
        window.show();
        QSignalSpy unloaded(&window, &frmTavrino::unloaded);
        menu->actions()[0]->trigger();
        QCOMPARE(unloaded.size(), 1);
        QVERIFY(!window.isVisible());
    }

    void selectAllAndDeselectAll()
    {
        frmTavrino window(settings(m_pop3->port()), nullptr, &m_components);
        QVERIFY(window.Load());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *list = child<QListWidget>(window, "lstMemberName");
        auto *all = child<QPushButton>(window, "cmdAll0");
        auto *none = child<QPushButton>(window, "cmdAll1");
        QVERIFY(!none->isVisible());
        QTest::mouseClick(all, Qt::LeftButton);
        QCOMPARE(list->selectedItems().size(), 3); // every member but the separator
        for (QListWidgetItem *item : list->selectedItems())
            QVERIFY(item->text() != QLatin1String("---"));
        QVERIFY(none->isVisible());
        QCOMPARE(QApplication::focusWidget(), child<QWidget>(window, "txtMessage"));
        // The separator adds no recipient.
        QCOMPARE(window.CurrentDraft().recipients,
                 QStringList({"sato@example.jp", "suzuki@example.jp", "tanaka@example.jp"}));
        list->setCurrentRow(3, QItemSelectionModel::NoUpdate);
        QTest::mouseClick(none, Qt::LeftButton);
        QCOMPARE(list->selectedItems().size(), 0);
        QVERIFY(!none->isVisible());
        QVERIFY(all->isVisible());
        QCOMPARE(list->currentRow(), 0);
    }

    void separatorIsNeverSelected()
    {
        frmTavrino window(settings(m_pop3->port()), nullptr, &m_components);
        QVERIFY(window.Load());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *list = child<QListWidget>(window, "lstMemberName");
        auto click = [list](int row) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(row)).center());
        };
        click(1);
        QVERIFY(!list->item(1)->isSelected());
        click(2);
        QVERIFY(list->item(2)->isSelected());
        click(1);
        QVERIFY(!list->item(1)->isSelected());
        QVERIFY(list->item(2)->isSelected());
    }

    void sendNeedsARecipient()
    {
        frmTavrino window(settings(m_pop3->port()), nullptr, &m_components);
        QVERIFY(window.Load());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy requested(&window, &frmTavrino::sendRequested);
        BoxCatcher boxes;
        window.onSend();
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, Msg::NoRecipient);
        QCOMPARE(boxes.boxes[0].title, Msg::Title);
        QCOMPARE(requested.size(), 0);
        QCOMPARE(window.focusWidget(), child<QWidget>(window, "lstMemberName"));

        // Chosen as third, then first: sent in list order.
        auto *list = child<QListWidget>(window, "lstMemberName");
        list->item(3)->setSelected(true);
        list->item(0)->setSelected(true);
        child<QLineEdit>(window, "txtDepartment")->setText(QStringLiteral("ABC商事"));
        child<QLineEdit>(window, "txtCaller")->setText(QStringLiteral("山田"));
        child<QPlainTextEdit>(window, "txtMessage")->setPlainText(QStringLiteral("本文"));
        child<QRadioButton>(window, "optMessage2")->setChecked(true);
        child<QCheckBox>(window, "chkCover")->setChecked(true);
        window.onSend();
        QCOMPARE(requested.size(), 1);
        const auto draft = requested[0][0].value<MemoDraft>();
        QCOMPARE(draft.recipients, QStringList({"sato@example.jp", "tanaka@example.jp"}));
        QCOMPARE(draft.kind, QLatin1Char('2'));
        QVERIFY(draft.sealed);
        QCOMPARE(draft.department, QStringLiteral("ABC商事"));
        QCOMPARE(draft.caller, QStringLiteral("山田"));
        QCOMPARE(draft.text, QStringLiteral("本文"));

        window.ClearMemoForm();
        const MemoDraft cleared = window.CurrentDraft();
        QCOMPARE(cleared.kind, QLatin1Char('*'));
        QVERIFY(!cleared.sealed);
        QVERIFY(cleared.recipients.isEmpty() && cleared.caller.isEmpty() && cleared.text.isEmpty());
    }

    void focusSelectsTheWholeText()
    {
        frmTavrino window(settings(m_pop3->port()), nullptr, &m_components);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const char *name : {"txtDepartment", "txtCaller"}) {
            auto *edit = child<QLineEdit>(window, QString::fromLatin1(name));
            edit->setText(QStringLiteral("株式会社テスト"));
            QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(5, edit->height() / 2));
            QTRY_COMPARE(edit->selectedText(), QStringLiteral("株式会社テスト"));
        }
        auto *text = child<QPlainTextEdit>(window, "txtMessage");
        text->setPlainText(QStringLiteral("一行目\n二行目"));
        QTest::mouseClick(text->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_COMPARE(text->textCursor().selectedText(), QStringLiteral("一行目") +
                                                            QChar(QChar::ParagraphSeparator) +
                                                            QStringLiteral("二行目"));
    }
};

QTEST_MAIN(TestFrmTavrino)
#include "tst_frmtavrino.moc"
