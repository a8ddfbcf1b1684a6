#include "Components.h"

#include "Messages.h"

#include <QFileInfo>
#include <QPluginLoader>

namespace {

// One instance of each component for the whole run.
ITavOptions *g_options = nullptr;
ITavReply *g_reply = nullptr;

template <class Interface> Interface *LoadComponent(const QString &path, QString *error)
{
    if (!QFileInfo::exists(path)) {
        *error = Msg::ErrPluginMissing;
        return nullptr;
    }
    // The loader is never deleted and unload() is never called: the
    // component's windows may outlive any caller.
    auto *loader = new QPluginLoader(path);
    QObject *instance = loader->instance();
    if (!instance) {
        *error = loader->errorString();
        if (error->isEmpty())
            *error = Msg::ErrPluginMissing;
        delete loader;
        return nullptr;
    }
    auto *component = qobject_cast<Interface *>(instance);
    if (!component)
        *error = Msg::ErrPluginMissing;
    return component;
}

} // namespace

PluginComponents::PluginComponents(const QString &programFolder) : m_folder(programFolder) {}

ITavOptions *PluginComponents::options(QString *error)
{
    if (!g_options)
        g_options =
            LoadComponent<ITavOptions>(m_folder + QStringLiteral("/libTavOptions.so"), error);
    return g_options;
}

ITavReply *PluginComponents::reply(QString *error)
{
    if (!g_reply)
        g_reply = LoadComponent<ITavReply>(m_folder + QStringLiteral("/libTavReply.so"), error);
    return g_reply;
}
