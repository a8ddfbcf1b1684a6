#include "Settings.h"

#include "IniFile.h"

#include <QDir>

namespace {
const QString Section = QStringLiteral("Tavrino");
} // namespace

Settings Settings::ForFolder(const QString &programFolder)
{
    Settings s;
    s.programFolder = programFolder;
    s.appIniFile = programFolder + QStringLiteral("/Tavrino.ini");
    s.helpFile = programFolder + QStringLiteral("/Tavrino.html");
    return s;
}

Settings Settings::Read(const QString &programFolder)
{
    Settings s = ForFolder(programFolder);
    const IniFile ini(s.appIniFile);
    s.UserName = ini.GetIniParm(Section, QStringLiteral("UserName"));
    s.UserID = ini.GetIniParm(Section, QStringLiteral("UserID"));
    s.Password = ini.GetIniParm(Section, QStringLiteral("Password"));
    s.Domain = ini.GetIniParm(Section, QStringLiteral("Domain"));
    s.Pop3Server = ini.GetIniParm(Section, QStringLiteral("Pop3Server"));
    s.Pop3Port = ini.GetIniParm(Section, QStringLiteral("Pop3Port"));
    s.SmtpServer = ini.GetIniParm(Section, QStringLiteral("SmtpServer"));
    s.SmtpPort = ini.GetIniParm(Section, QStringLiteral("SmtpPort"));
    s.List = ini.GetIniParm(Section, QStringLiteral("List"));
    s.Interval = ini.GetIniParm(Section, QStringLiteral("Interval"));
    s.Sleep = ini.GetIniParm(Section, QStringLiteral("Sleep"));
    return s;
}

QString Settings::memberListPath() const
{
    if (List.isEmpty())
        return {};
    return QDir(programFolder).absoluteFilePath(List);
}

Pop3Settings Settings::pop3() const
{
    Pop3Settings p;
    p.server = Pop3Server;
    p.port = Pop3Port;
    p.userId = UserID;
    p.password = Password;
    p.limits.readDelayMs = qMax(0, Sleep.trimmed().toInt());
    return p;
}

SmtpSend::Settings Settings::smtp() const
{
    SmtpSend::Settings s;
    s.server = SmtpServer;
    s.port = SmtpPort;
    s.heloName = Domain;
    return s;
}
