// The main window: layout, load, failed checks, the notification area, the
// stored position and the end of the program.

#include "AppMessages.h"
#include "Messages.h"
#include "tst_windowhelpers.h"

#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>

class TestFrmTavrino : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakePop3> m_pop3;
    FakeComponents m_components;

private Q_SLOTS:
    void init()
    {
        m_pop3 = std::make_unique<FakePop3>();
        m_components = FakeComponents();
    }

    void layoutAndLoadWithABadFifthLine()
    {
        Desk desk(m_pop3->port());
        QVERIFY(WriteFile(desk.folder.filePath("members.lst"),
                          "a;1\r\nb;2\r\nc;3\r\nd;4\r\nbad line\r\ne;5\r\n"));
        BoxCatcher boxes;
        QVERIFY(desk.open(&m_components));
        const frmTavrino &window = *desk.window;
        QCOMPARE(window.size(), QSize(309, 393));
        QCOMPARE(window.windowTitle(), Msg::Title);
        QCOMPARE(Child<QListWidget>(&window, "lstMemberName")->geometry(), QRect(20, 52, 93, 298));
        QCOMPARE(Child<QToolButton>(&window, "cmdButton0")->geometry(), QRect(132, 312, 61, 49));
        QCOMPARE(Child<QLineEdit>(&window, "txtDepartment")->maxLength(), 20);
        // Captions may widen an option to the right, never clip it.
        for (QRadioButton *option : window.findChildren<QRadioButton *>())
            QVERIFY(option->width() >= option->sizeHint().width());
        // Every control the user can reach can be found by its visible text.
        for (QWidget *w : window.findChildren<QWidget *>()) {
            if (w->focusPolicy() != Qt::NoFocus && !w->objectName().isEmpty())
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        }

        // The bad fifth line: four members, the error box, and no check (no
        // timer, nothing connects).
        QCOMPARE(Child<QListWidget>(&window, "lstMemberName")->count(), 4);
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, Msg::AppError + QStringLiteral("\r\n") + Msg::ErrBadArgument);
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);
        QVERIFY(!desk.check->isChecking() && !desk.check->timer().isActive());
        QCoreApplication::processEvents();
        QCOMPARE(m_pop3->connections, 0);
    }

    void unconfiguredOffersSettingsAndEnds()
    {
        Desk desk(m_pop3->port());
        desk.settings.Domain.clear();
        BoxCatcher boxes;
        QVERIFY(!desk.open(&m_components));
        QCOMPARE(m_components.settingCalls, 1);
        // Without the options component: the application error, then the end.
        m_components.available = false;
        QVERIFY(!desk.open(&m_components));
        QCOMPARE(boxes.boxes.size(), 3);
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("Tavrinoを終了します。"));
        QCOMPARE(boxes.boxes[1].text, Msg::AppError + QStringLiteral("\r\nplugin missing"));
        QCOMPARE(boxes.boxes[2].text, boxes.boxes[0].text);
    }

    void failedChecksDoNotStackBoxes()
    {
        Desk desk(RefusedPort());
        BoxCatcher boxes(false);
        QVERIFY(desk.open(&m_components));
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("connect:接続が拒否された。"));
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);
        // While it is open, a later failure shows in the status bar only.
        Q_EMIT desk.check->errorMessage(QStringLiteral("recv:-ERR again"));
        QCoreApplication::processEvents();
        QCOMPARE(BoxCatcher::openBoxes().size(), 1);
        QCOMPARE(Text(desk.window.get(), "sbrMsgPanel2"), QStringLiteral("recv:-ERR again"));
        // Once read, the next failure gets its box again.
        boxes.dismiss = true;
        QTRY_VERIFY(BoxCatcher::openBoxes().isEmpty());
        Q_EMIT desk.check->errorMessage(QStringLiteral("third"));
        QTRY_COMPARE(boxes.boxes.size(), 2);
    }

    void trayTwipsAndExit()
    {
        Desk desk(m_pop3->port());
        QVERIFY(desk.open(&m_components));
        frmTavrino *window = desk.window.get();
        window->move(100, 50);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // Minimised into the notification area, or where there is none
        // (offscreen) left minimised, never lost; then back.
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        QCoreApplication::processEvents();
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            QTRY_VERIFY(!window->isVisible());
            QCOMPARE(window->trayIcon()->toolTip(), Msg::Title);
        } else {
            QVERIFY(window->isVisible() && !window->trayIcon());
        }
        window->RestoreWindow();
        QTRY_VERIFY(!window->isMinimized());
        QVERIFY(window->isVisible());
        QVERIFY(!window->trayIcon() || !window->trayIcon()->isVisible());

        // The icon's menu has one command, exit; it stores the position in twips.
        auto *menu = Child<QMenu>(window, "mnuFile");
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions()[0]->text(), AppMsg::MenuExit);
        QSignalSpy unloaded(window, &frmTavrino::unloaded);
        menu->actions()[0]->trigger();
        QVERIFY(!window->isVisible()); // gone at once; the end follows the QUIT
        QTRY_COMPARE(unloaded.size(), 1);
        QVERIFY(!window->isVisible());
        const auto ini = [&desk] {
            QFile f(desk.settings.appIniFile);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QByteArray stored = ini();
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
        QCOMPARE(ini(), stored);
    }
};

QTEST_MAIN(TestFrmTavrino)
#include "tst_frmtavrino.moc"
