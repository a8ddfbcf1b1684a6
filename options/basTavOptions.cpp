#include "basTavOptions.h"

#include "IniFile.h"

#include <QDir>
#include <QFileInfo>

#include <sys/sysinfo.h>

const QStringList SettingKeys = {
    QStringLiteral("UserName"),   QStringLiteral("UserID"),     QStringLiteral("Password"),
    QStringLiteral("Domain"),     QStringLiteral("Pop3Server"), QStringLiteral("Pop3Port"),
    QStringLiteral("SmtpServer"), QStringLiteral("SmtpPort"),   QStringLiteral("List"),
    QStringLiteral("Interval"),   QStringLiteral("Sleep")};

namespace {
const QString Section = QStringLiteral("Tavrino");
} // namespace

std::pair<int, QString> FirstMissingSetting(const QStringList &values)
{
    // Password and Domain may stay empty.
    static const std::pair<int, QString> required[] = {
        {4, QStringLiteral("POP3 Serverを指定してください。")},
        {5, QStringLiteral("POP3 Portを指定してください。")},
        {0, QStringLiteral("UserNameを指定してください。")},
        {1, QStringLiteral("UserIDを指定してください。")},
        {6, QStringLiteral("SMTP Serverを指定してください。")},
        {7, QStringLiteral("SMTP Portを指定してください。")},
        {9, QStringLiteral("Intervalを指定してください。")},
        {10, QStringLiteral("Sleepを指定してください。")},
        {8, QStringLiteral("Listを指定してください。")},
    };
    for (const auto &[index, message] : required) {
        if (values.value(index).trimmed().isEmpty())
            return {index, message};
    }
    return {-1, QString()};
}

QStringList ReadSettings(const IniFile &ini)
{
    QStringList values;
    for (const QString &key : SettingKeys)
        values.append(ini.GetIniParm(Section, key));
    return values;
}

bool WriteSettings(const IniFile &ini, const QStringList &values)
{
    QList<std::pair<QString, QString>> entries;
    for (int i = 0; i < SettingKeys.size(); ++i)
        entries.append({SettingKeys.at(i), values.value(i).trimmed()});
    return ini.SetIniParms(Section, entries);
}

int DropPosition(int dragged, int target)
{
    return dragged < target ? target - 1 : target;
}

QString GroupThousands(quint64 number)
{
    QString digits = QString::number(number);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return digits;
}

quint64 TotalPhysicalMemoryKB()
{
    struct sysinfo info
    {
    };
    if (sysinfo(&info) != 0)
        return 0;
    return quint64(info.totalram) * info.mem_unit / 1024;
}

QString FindSysInfoTool(const QString &searchPath)
{
    // What desktops on Debian install to show the machine's hardware.
    static const QStringList tools = {QStringLiteral("hardinfo"), QStringLiteral("kinfocenter"),
                                      QStringLiteral("gnome-system-monitor"),
                                      QStringLiteral("mate-system-monitor"),
                                      QStringLiteral("xfce4-taskmanager")};
    const QStringList folders = searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &tool : tools) {
        for (const QString &folder : folders) {
            const QFileInfo file(QDir(folder).filePath(tool));
            if (file.isFile() && file.isExecutable())
                return file.absoluteFilePath();
        }
    }
    return QString();
}

QString OptionsFolder()
{
    return ModuleFolderOf(reinterpret_cast<const void *>(&OptionsFolder));
}
