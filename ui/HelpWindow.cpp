#include "HelpWindow.h"

#include "AppMessages.h"
#include "AppUi.h"

#include <QApplication>
#include <QKeyEvent>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>

namespace {

/// The help file's browser; Escape closes it, as its close box does.
class HelpBrowser : public QTextBrowser
{
public:
    using QTextBrowser::QTextBrowser;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
            close();
        else
            QTextBrowser::keyPressEvent(event);
    }
};

} // namespace

void ShowHelpWindow(const QString &helpFile)
{
    // While a modal dialog runs, every other window is shut off from input,
    // except the dialog's own windows: the help window becomes one of them,
    // kept above the dialog, and it closes with it.
    QWidget *owner = QApplication::activeModalWidget();
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == HelpWindowName) {
            if (auto *browser = qobject_cast<QTextBrowser *>(w))
                browser->setSource(QUrl::fromLocalFile(helpFile));
            if (w->parentWidget() != owner) {
                const QRect geometry = w->geometry();
                w->setParent(owner, Qt::Window);
                w->setGeometry(geometry);
            }
            w->showNormal();
            w->raise();
            w->activateWindow();
            return;
        }
    }
    auto *browser = new HelpBrowser(owner);
    browser->setWindowFlags(Qt::Window);
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
