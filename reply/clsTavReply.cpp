#include "clsTavReply.h"

#include "HelpWindow.h"
#include "frmReply.h"

#include <QDir>

#include <exception>

clsTavReply::clsTavReply()
{
    const QString folder = ComponentFolder();
    QDir::setCurrent(folder);
    m_settings = ReplySettings::Read(folder);
}

int clsTavReply::ShowReply(const QString &address, const QString &name, const QString &text)
{
    m_lastError.clear();
    try {
        auto *window = new frmReply(m_settings, address, name, text);
        InstallHelpKey(window, ComponentFolder() + QStringLiteral("/Tavrino.html"));
        window->show();
        if (!window->isVisible()) {
            delete window;
            m_lastError = QStringLiteral("返信ウィンドウを表示できません。");
            return 1;
        }
    } catch (const std::exception &e) {
        m_lastError = QString::fromLocal8Bit(e.what());
        return 1;
    }
    return 0;
}
