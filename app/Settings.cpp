#include "Settings.h"

#include "IniFile.h"

#include <QDir>

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
    const QStringList v = ReadTavrinoValues(IniFile(s.appIniFile));
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
