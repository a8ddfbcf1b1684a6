#include "basTavrino.h"

#include "AppUi.h"
#include "Autostart.h"
#include "Components.h"
#include "MailCheck.h"
#include "Messages.h"
#include "Settings.h"
#include "SingleInstance.h"
#include "frmTavrino.h"

#include <QApplication>
#include <QDir>

#include <exception>
#include <memory>

void RefuseSecondCopy(SingleInstance &instance)
{
    ShowBox(nullptr, QMessageBox::Critical, Msg::Title + Msg::AlreadyRunning);
    instance.askFirstToRestore();
}

int Main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(Msg::Title);
    QApplication::setApplicationVersion(QStringLiteral(TAVRINO_VERSION));
    QApplication::setFont(AppFont());
    // In the notification area the main window is hidden; closing a memo
    // viewer or a box then must not end the program. It ends when the main
    // window has unloaded.
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<PluginComponents> components;
    std::unique_ptr<MailCheck> mailCheck;
    std::unique_ptr<frmTavrino> window;
    try {
        const QString folder = QCoreApplication::applicationDirPath();
        instance = std::make_unique<SingleInstance>(folder);
        if (!instance->claim()) {
            RefuseSecondCopy(*instance);
            return 0;
        }
        // The program folder is current wherever the desk was started from;
        // relative paths of the configuration are found beside Tavrino.ini.
        QDir::setCurrent(folder);
        const Settings settings = Settings::Read(folder);
        components = std::make_unique<PluginComponents>(folder);
        mailCheck = std::make_unique<MailCheck>(settings.pop3(), settings.Interval);
        window = std::make_unique<frmTavrino>(settings, mailCheck.get(), components.get());
        QObject::connect(instance.get(), &SingleInstance::restoreRequested, window.get(),
                         &frmTavrino::RestoreWindow);
        QObject::connect(window.get(), &frmTavrino::unloaded, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        if (!window->Load())
            return 0;
        if (QCoreApplication::arguments().contains(AutostartArgument))
            window->StartInTray();
        else
            window->show();
    } catch (const std::exception &e) {
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
        ShowBox(nullptr, QMessageBox::Warning, AppErrorText(QString::fromLocal8Bit(e.what())));
        return 1;
    }
    const int code = QApplication::exec();
    // The window goes before the mail check it borrows.
    window.reset();
    mailCheck.reset();
    return code;
}
