#pragma once
// The reply component's class: each ShowReply opens a reply window of its own.

#include "TavInterfaces.h"
#include "basTavReply.h"

#include <QObject>

class clsTavReply : public QObject, public ITavReply
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID ITavReply_iid)
    Q_INTERFACES(ITavReply)

public:
    /// Reads the configuration file in the component's folder, once.
    clsTavReply();

    int ShowReply(const QString &address, const QString &name, const QString &text) override;
    QString LastError() const override { return m_lastError; }

private:
    ReplySettings m_settings;
    QString m_lastError;
};
