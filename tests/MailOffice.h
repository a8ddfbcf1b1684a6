#pragma once
// The local mail office the end-to-end tests run against: its ports from
// ports.env, and its mailboxes as Maildir folders.

#include <QtCore>

using namespace Qt::StringLiterals;

struct MailOffice
{
    QString dir;
    quint16 smtpPort = 0;
    quint16 pop3Port = 0;
    QString domain;

    static MailOffice fromEnvironment()
    {
        const QString dir = qEnvironmentVariable("TAV_MAILOFFICE_DIR");
        const QSettings env(dir + u"/ports.env"_s, QSettings::IniFormat);
        return {dir, quint16(env.value("SMTP_PORT").toUInt()),
                quint16(env.value("POP3_PORT").toUInt()), env.value("MAIL_DOMAIN").toString()};
    }
    bool isUp() const { return smtpPort != 0 && pop3Port != 0; }
    QString address(int user) const { return u"user%1@"_s.arg(user) + domain; }
    /// The files of user's mails: delivered, and not yet expunged by a QUIT.
    QFileInfoList mails(int user) const
    {
        const QString box = dir + u"/mail/%1/user%2/"_s.arg(domain).arg(user);
        return QDir(box + u"new"_s).entryInfoList(QDir::Files) +
               QDir(box + u"cur"_s).entryInfoList(QDir::Files);
    }
};
