#pragma once
// The two plugin components, the options component (settings dialog, about
// box) and the reply component, as the windows reach them.

#include "TavInterfaces.h"

#include <QString>

/// Where the windows get their components from; tests put in their own.
class ComponentHost
{
public:
    virtual ~ComponentHost() = default;

    /// The component, created on first use; nullptr when it cannot be had,
    /// with *error set to the description for the application-error box.
    virtual ITavOptions *options(QString *error) = 0;
    virtual ITavReply *reply(QString *error) = 0;
};

/// The components as the program uses them: libTavOptions.so and
/// libTavReply.so from the program folder, loaded on first use, held in one
/// process-wide pointer each and never unloaded.
class PluginComponents : public ComponentHost
{
public:
    explicit PluginComponents(const QString &programFolder);

    ITavOptions *options(QString *error) override;
    ITavReply *reply(QString *error) override;

private:
    QString m_folder;
};
