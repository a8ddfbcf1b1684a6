#pragma once
// The connections to both servers as Tavrino.ini describes them: one reading
// for the program and the reply component alike.

#include "Pop3Jobs.h"
#include "SmtpSend.h"

#include <QString>
#include <QStringList>

/// The POP3 connection given by values (in the order of TavrinoKeys); a
/// relative CAFile is found in folder.
Pop3Settings Pop3SettingsFrom(const QStringList &values, const QString &folder);

/// The SMTP connection given by values, with the domain as HELO name. The
/// authentication uses SmtpUserID and SmtpPassword where they are given,
/// UserID and Password otherwise.
SmtpSend::Settings SmtpSettingsFrom(const QStringList &values, const QString &folder);
