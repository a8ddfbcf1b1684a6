#include "Autostart.h"

#include "IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

/// program as one argument of an Exec line: quoted, with the characters the
/// desktop entry format reserves inside quotes escaped, then escaped again as
/// a string value.
QString ExecArgument(const QString &program)
{
    QString quoted;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

} // namespace

QString AutostartEntryPath()
{
    return XdgConfigHome() + QStringLiteral("/autostart/tavrino.desktop");
}

QByteArray AutostartEntry(const QString &program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Tavrino\n"
                          "Comment=Telephone memos by e-mail\n"
                          "Comment[ja]=電話の伝言をメールで届けます\n"
                          "Exec=%1 %2\n"
                          "Icon=tavrino\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(ExecArgument(program), AutostartArgument)
        .toUtf8();
}

bool SetAutostart(bool enabled, const QString &program)
{
    const QString path = AutostartEntryPath();
    if (!enabled)
        return !QFile::exists(path) || QFile::remove(path);
    QSaveFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
           file.write(AutostartEntry(program)) >= 0 && file.commit();
}
