#pragma once
// The reply component's start-up: what it reads of the configuration file in
// its own folder, once, when it is loaded.

#include "SmtpSend.h"

#include <QString>

struct ReplySettings
{
    QString UserName;
    QString UserID;
    QString Domain;
    QString SmtpServer;
    QString SmtpPort;
    SmtpSend::Settings server; ///< the SMTP connection, security included

    /// Reads section "Tavrino" of the program's Tavrino.ini (TavrinoIni of
    /// folder); a missing file reads as all empty (the failure shows later, as
    /// a failed send).
    static ReplySettings Read(const QString &folder);

    /// What the SMTP job needs.
    SmtpSend::Settings smtp() const { return server; }
};

/// The folder of the loaded component itself.
QString ComponentFolder();
