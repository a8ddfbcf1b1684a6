#include "basTavReply.h"

#include "IniFile.h"
#include "ServerSettings.h"

ReplySettings ReplySettings::Read(const QString &folder)
{
    const IniFile ini = TavrinoIni(folder);
    const QStringList v = ReadTavrinoValues(ini);
    namespace K = TavrinoKey;
    return {v[K::UserName],   v[K::UserID],   v[K::Domain],
            v[K::SmtpServer], v[K::SmtpPort], SmtpSettingsFrom(v, ini.folder())};
}

QString ComponentFolder()
{
    // The library this function lives in, wherever it was loaded from.
    return ModuleFolderOf(reinterpret_cast<const void *>(&ComponentFolder));
}
