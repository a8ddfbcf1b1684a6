#pragma once
#include "TavInterfaces.h"

#include <QObject>

class clsTavReply : public QObject, public ITavReply
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID ITavReply_iid)
    Q_INTERFACES(ITavReply)

public:
    int ShowReply(const QString &address, const QString &name, const QString &text) override;
};
