#include "basTavReply.h"

#include "IniFile.h"

ReplySettings ReplySettings::Read(const QString &folder)
{
    const IniFile ini(folder + QStringLiteral("/Tavrino.ini"));
    const QString section = QStringLiteral("Tavrino");
    ReplySettings s;
    s.UserName = ini.GetIniParm(section, QStringLiteral("UserName"));
    s.UserID = ini.GetIniParm(section, QStringLiteral("UserID"));
    s.Domain = ini.GetIniParm(section, QStringLiteral("Domain"));
    s.SmtpServer = ini.GetIniParm(section, QStringLiteral("SmtpServer"));
    s.SmtpPort = ini.GetIniParm(section, QStringLiteral("SmtpPort"));
    return s;
}

SmtpSend::Settings ReplySettings::smtp() const
{
    return {SmtpServer, SmtpPort, Domain, {}};
}

QString ComponentFolder()
{
    // The library this function lives in, wherever it was loaded from.
    return ModuleFolderOf(reinterpret_cast<const void *>(&ComponentFolder));
}
