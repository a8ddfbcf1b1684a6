#include "HelpWindow.h"

#include "AppMessages.h"
#include "AppUi.h"

#include <QApplication>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>

void ShowHelpWindow(const QString &helpFile)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == HelpWindowName) {
            if (auto *browser = qobject_cast<QTextBrowser *>(w))
                browser->setSource(QUrl::fromLocalFile(helpFile));
            w->showNormal();
            w->raise();
            w->activateWindow();
            return;
        }
    }
    auto *browser = new QTextBrowser;
    browser->setObjectName(HelpWindowName);
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->setWindowTitle(AppMsg::HelpCaption);
    browser->setAccessibleName(AppMsg::HelpCaption);
    browser->setFont(AppFont(10));
    browser->setOpenExternalLinks(true);
    browser->setSource(QUrl::fromLocalFile(helpFile));
    browser->resize(560, 480);
    browser->show();
}

void CloseHelpWindows()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == HelpWindowName)
            w->close();
    }
}

void InstallHelpKey(QWidget *window, const QString &helpFile)
{
    auto *key = new QShortcut(QKeySequence(Qt::Key_F1), window);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, window, [helpFile] { ShowHelpWindow(helpFile); });
}
