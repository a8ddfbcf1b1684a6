#pragma once
// The configuration as read once at start-up. Every value is held as the text
// found in the file; each user converts it where it is used.

#include "IniFile.h"
#include "Pop3Jobs.h"
#include "SmtpSend.h"

#include <QString>
#include <QStringList>

struct Settings
{
    QString programFolder; ///< the folder that holds the program
    QString appIniFile;    ///< Tavrino.ini, beside the program or per user (TavrinoIni)
    QString iniDefaults;   ///< what the administrator sets for keys appIniFile lacks
    QString helpFile;      ///< programFolder + "/Tavrino.html"

    QString UserName;
    QString UserID;
    QString Password;
    QString Domain;
    QString Pop3Server;
    QString Pop3Port;
    QString SmtpServer;
    QString SmtpPort;
    QString List;
    QString Interval;
    QString Sleep;
    QString Pop3Security;
    QString SmtpSecurity;
    QString SmtpAuth;
    QString SmtpUserID;
    QString SmtpPassword;
    QString CAFile;
    QStringList signIn; ///< AuthMethod and the OAuth keys after it, in their order

    /// Reads the keys of section "Tavrino" once. A missing file reads
    /// as all empty.
    static Settings Read(const QString &programFolder);

    /// Settings without a file, for a given folder.
    static Settings ForFolder(const QString &programFolder);

    /// UserName and Domain are both needed before anything can be sent or
    /// received.
    bool isConfigured() const { return !UserName.isEmpty() && !Domain.isEmpty(); }

    /// The configuration file, over its defaults.
    IniFile ini() const { return IniFile(appIniFile, iniDefaults); }
    /// The folder of the configuration file: relative paths are found there.
    QString settingsFolder() const { return ini().folder(); }

    /// The member list file; a relative List is found in the settings folder.
    QString memberListPath() const;

    /// The values in the order of TavrinoKeys.
    QStringList values() const;

    /// What the POP3 dialogue needs of the configuration.
    Pop3Settings pop3() const;
    /// What the SMTP job needs of the configuration.
    SmtpSend::Settings smtp() const;
};
