#include "MemberList.h"

#include "Messages.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString OpenErrorText(const QFileDevice &file, const QString &path)
{
    if (path.isEmpty())
        return Msg::ErrFileNotFound;
    const QFileInfo info(path);
    if (!info.exists())
        return info.absoluteDir().exists() ? Msg::ErrFileNotFound : Msg::ErrPathNotFound;
    if (file.error() == QFileDevice::PermissionsError || !info.isReadable())
        return Msg::ErrPermission;
    return Msg::ErrFileIo;
}

} // namespace

MemberListRead ReadMemberList(const QString &path)
{
    MemberListRead result;
    QFile file(path);
    if (path.isEmpty() || QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        result.error = OpenErrorText(file, path);
        return result;
    }
    const QByteArray whole = file.readAll();
    const FileEncoding encoding = FileEncoding::Of(whole);
    const QByteArrayView data = encoding.body(whole);
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\r', start);
        const qsizetype next = end < 0                                               ? data.size()
                               : (end + 1 < data.size() && data.at(end + 1) == '\n') ? end + 2
                                                                                     : end + 1;
        if (end < 0)
            end = data.size();
        const QString line = encoding.decode(data.sliced(start, end - start));
        const qsizetype semicolon = line.indexOf(QLatin1Char(';'));
        if (semicolon < 0) {
            result.error = Msg::ErrBadArgument;
            result.unread = data.sliced(start).toByteArray();
            return result;
        }
        result.rows.append({line.left(semicolon), line.mid(semicolon + 1)});
        start = next;
    }
    return result;
}

QString WriteMemberList(const QString &path, const QList<MemberRow> &rows, const QByteArray &tail)
{
    // A file its owner made read-only stays as it is, whoever runs the program.
    const QFileInfo info(path);
    if (info.exists() && !(info.permissions() & QFileDevice::WriteOwner))
        return Msg::ErrPermission;
    // The file stays in the encoding it has; a new one gets code page 932.
    const FileEncoding encoding = FileEncoding::OfFile(path);
    QSaveFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly))
        return Msg::ErrPermission;
    file.write(encoding.prefix());
    for (const MemberRow &row : rows) {
        file.write(encoding.encode(row.name + QLatin1Char(';') + row.address));
        file.write("\r\n", 2);
    }
    file.write(tail);
    if (!file.commit())
        return Msg::ErrFileIo;
    return {};
}
