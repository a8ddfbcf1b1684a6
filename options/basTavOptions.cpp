#include "basTavOptions.h"

#include "IniFile.h"

#include <QDir>
#include <QFileInfo>

#include <sys/sysinfo.h>

std::pair<int, QString> FirstMissingSetting(const QStringList &values)
{
    // Password and Domain may stay empty.
    static const std::pair<int, QString> required[] = {
        {TavrinoKey::Pop3Server, QStringLiteral("POP3 Serverを指定してください。")},
        {TavrinoKey::Pop3Port, QStringLiteral("POP3 Portを指定してください。")},
        {TavrinoKey::UserName, QStringLiteral("UserNameを指定してください。")},
        {TavrinoKey::UserID, QStringLiteral("UserIDを指定してください。")},
        {TavrinoKey::SmtpServer, QStringLiteral("SMTP Serverを指定してください。")},
        {TavrinoKey::SmtpPort, QStringLiteral("SMTP Portを指定してください。")},
        {TavrinoKey::Interval, QStringLiteral("Intervalを指定してください。")},
        {TavrinoKey::Sleep, QStringLiteral("Sleepを指定してください。")},
        {TavrinoKey::List, QStringLiteral("Listを指定してください。")},
    };
    for (const auto &[index, message] : required) {
        if (values.value(index).trimmed().isEmpty())
            return {index, message};
    }
    return {-1, QString()};
}

bool WriteSettings(const IniFile &ini, const QStringList &values,
                   const QList<std::pair<QString, QString>> &more)
{
    QList<std::pair<QString, QString>> entries;
    for (int i = 0; i < qMin(values.size(), int(TavrinoKey::SmtpAuth) + 1); ++i)
        entries.append({TavrinoKeys.at(i), values.at(i).trimmed()});
    return ini.SetIniParms(TavrinoSection, entries + more);
}

namespace {

struct SecurityTable
{
    const char *values[SecurityChoices];
    const char *ports[SecurityChoices];
};

// The names ServerSettings reads, and the ports servers usually listen on.
const SecurityTable Pop3Table = {{"none", "stls", "tls"}, {"110", "110", "995"}};
const SecurityTable SmtpTable = {{"none", "starttls", "tls"}, {"25", "587", "465"}};

const SecurityTable &TableOf(int key)
{
    return key == TavrinoKey::Pop3Security ? Pop3Table : SmtpTable;
}

} // namespace

int SecurityChoice(int key, const QString &value)
{
    // Lowered as ServerSettings does: case folding would also accept letters
    // such as the long s, which the program refuses.
    const QString v = value.trimmed().toLower();
    if (v.isEmpty())
        return 0;
    for (int i = 0; i < SecurityChoices; ++i) {
        if (v == QLatin1String(TableOf(key).values[i]))
            return i;
    }
    return -1;
}

QString SecurityValue(int key, int choice)
{
    return QLatin1String(TableOf(key).values[choice]);
}

QString ProposedPort(int key, int choice, const QString &port)
{
    const SecurityTable &table = TableOf(key);
    const QString typed = port.trimmed();
    bool usual = typed.isEmpty();
    for (const char *p : table.ports)
        usual = usual || typed == QLatin1String(p);
    return usual ? QLatin1String(table.ports[choice]) : port;
}

int DropPosition(int dragged, int target)
{
    return dragged < target ? target - 1 : target;
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
