#include "clsTavOptions.h"

#include "basTavOptions.h"
#include "frmAbout.h"
#include "frmSetting.h"

// Each call makes its dialog afresh, so the settings dialog reads the
// configuration file every time it opens.
int clsTavOptions::ShowAbout()
{
    frmAbout about;
    about.exec();
    return 0;
}

int clsTavOptions::ShowSetting()
{
    frmSetting setting(OptionsFolder());
    setting.exec();
    return 0;
}
