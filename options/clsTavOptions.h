#pragma once
#include "TavInterfaces.h"

#include <QObject>

class clsTavOptions : public QObject, public ITavOptions
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID ITavOptions_iid)
    Q_INTERFACES(ITavOptions)

public:
    int ShowAbout() override;
    int ShowSetting() override;
};
