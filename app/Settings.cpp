#include "Settings.h"

#include "IniFile.h"
#include "ServerSettings.h"

#include <QDir>

Settings Settings::ForFolder(const QString &programFolder)
{
    Settings s;
    s.programFolder = programFolder;
    const IniFile ini = TavrinoIni(programFolder);
    s.appIniFile = ini.path();
    s.iniDefaults = ini.defaults();
    s.helpFile = programFolder + QStringLiteral("/Tavrino.html");
    return s;
}

Settings Settings::Read(const QString &programFolder)
{
    Settings s = ForFolder(programFolder);
    const QStringList v = ReadTavrinoValues(s.ini());
    namespace K = TavrinoKey;
    s.UserName = v[K::UserName];
    s.UserID = v[K::UserID];
    s.Password = v[K::Password];
    s.Domain = v[K::Domain];
    s.Pop3Server = v[K::Pop3Server];
    s.Pop3Port = v[K::Pop3Port];
    s.SmtpServer = v[K::SmtpServer];
    s.SmtpPort = v[K::SmtpPort];
    s.List = v[K::List];
    s.Interval = v[K::Interval];
    s.Sleep = v[K::Sleep];
    s.Pop3Security = v[K::Pop3Security];
    s.SmtpSecurity = v[K::SmtpSecurity];
    s.SmtpAuth = v[K::SmtpAuth];
    s.SmtpUserID = v[K::SmtpUserID];
    s.SmtpPassword = v[K::SmtpPassword];
    s.CAFile = v[K::CAFile];
    s.signIn = v.mid(K::AuthMethod);
    return s;
}

QString Settings::memberListPath() const
{
    if (List.isEmpty())
        return {};
    return QDir(settingsFolder()).absoluteFilePath(List);
}

QStringList Settings::values() const
{
    return QStringList{UserName,     UserID,   Password,   Domain,       Pop3Server, Pop3Port,
                       SmtpServer,   SmtpPort, List,       Interval,     Sleep,      Pop3Security,
                       SmtpSecurity, SmtpAuth, SmtpUserID, SmtpPassword, CAFile} +
           signIn;
}

Pop3Settings Settings::pop3() const
{
    return Pop3SettingsFrom(values(), settingsFolder());
}

SmtpSend::Settings Settings::smtp() const
{
    return SmtpSettingsFrom(values(), settingsFolder());
}
