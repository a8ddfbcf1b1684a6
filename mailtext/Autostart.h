#pragma once
// Start at login: the user's XDG autostart entry, written or removed by the
// settings dialog. The desk it starts waits in the notification area.

#include <QByteArray>
#include <QString>

/// The argument the entry starts the program with.
inline const QString AutostartArgument = QStringLiteral("--autostart");

/// $XDG_CONFIG_HOME/autostart/tavrino.desktop.
QString AutostartEntryPath();

/// The entry: a desktop entry starting program with AutostartArgument.
QByteArray AutostartEntry(const QString &program);

/// Writes the entry for program, or removes it. False when the file could not
/// be written or removed.
bool SetAutostart(bool enabled, const QString &program);
