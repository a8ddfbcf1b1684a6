#pragma once
// What the options component's windows decide, apart from any screen: the
// settings as the dialog edits them, where a dragged member lands, and the
// facts the about box shows.

#include <QString>
#include <QStringList>

class IniFile;

/// The index in TavrinoKeys of the first required value that is empty after
/// trimming, in the order the dialog checks them, with the message that asks
/// for it; -1 when nothing is missing.
std::pair<int, QString> FirstMissingSetting(const QStringList &values);

/// Stores the values (in the order of TavrinoKeys) trimmed, all in one
/// replacement of the file: the eleven of the text boxes and the three
/// connection choices, as far as values go. SmtpUserID, SmtpPassword and
/// CAFile are edited in the file alone and never written; more follow them.
/// False when the file could not be written (then nothing was).
bool WriteSettings(const IniFile &ini, const QStringList &values,
                   const QList<std::pair<QString, QString>> &more = {});

/// The choices for Pop3Security and SmtpSecurity (key), in the order the
/// dialog lists them: plain text, an upgrade with STLS or STARTTLS, TLS from
/// the start.
constexpr int SecurityChoices = 3;

/// The choice a stored value of key names, compared without regard to case;
/// empty is plain text; -1 for a value the program would refuse.
int SecurityChoice(int key, const QString &value);

/// The value stored for choice of key.
QString SecurityValue(int key, int choice);

/// The port to show once choice of key is picked: its usual port when port is
/// empty or the usual port of another choice, else port as typed.
QString ProposedPort(int key, int choice, const QString &port);

/// The rows of a member list are 16-bit positions.
constexpr int MaxMemberRows = 32767;

/// Where a row dragged from row dragged and dropped on row target ends up:
/// immediately above the row it was dropped on.
int DropPosition(int dragged, int target);

/// The machine's physical memory in KB.
quint64 TotalPhysicalMemoryKB();

/// The first system-information program found in the folders of searchPath
/// (a PATH value); empty when there is none.
QString FindSysInfoTool(const QString &searchPath);

/// The component's own folder: its configuration and help files are there.
QString OptionsFolder();
