#pragma once
// The member list file: lines of a name, ";" and an address, in code page 932
// or UTF-8 (see TextFile.h), written back in the encoding the file has.

#include <QList>
#include <QString>

struct MemberRow
{
    QString name;
    QString address;

    /// A separator divides the list into groups; it is never a recipient.
    bool isSeparator() const { return name == QLatin1String("---") && address.isEmpty(); }
    bool operator==(const MemberRow &) const = default;
};

struct MemberListRead
{
    QList<MemberRow> rows; ///< the rows read before any failure
    QString error;         ///< the error's description; empty when the whole file was read
    QByteArray unread;     ///< the file from the line that stopped the reading on
};

/// Reads the file. A line ends at CR LF or at a lone CR; a lone LF stays in
/// the line. Reading stops at the first line without ";" (a blank line
/// included), keeping the rows above it.
MemberListRead ReadMemberList(const QString &path);

/// Writes the rows as name;address lines ending in CR LF, then tail as it is
/// (the part of the file a reading stopped at, so that none of it is lost),
/// replacing the file atomically. Returns the error's description, or empty
/// text on success.
QString WriteMemberList(const QString &path, const QList<MemberRow> &rows,
                        const QByteArray &tail = {});
