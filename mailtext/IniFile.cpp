#include "IniFile.h"

#include "Cp932.h"
#include "Messages.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <dlfcn.h>

#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr int MaxValueBytes = 254;

QList<QByteArray> SplitLines(QByteArrayView data)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data.at(i);
        if (c == '\r' || c == '\n') {
            lines.append(data.sliced(start, i - start).toByteArray());
            if (c == '\r' && i + 1 < data.size() && data.at(i + 1) == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < data.size())
        lines.append(data.sliced(start).toByteArray());
    return lines;
}

QString TrimBlanks(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && (s.at(b) == QLatin1Char(' ') || s.at(b) == QLatin1Char('\t')))
        ++b;
    while (e > b && (s.at(e - 1) == QLatin1Char(' ') || s.at(e - 1) == QLatin1Char('\t')))
        --e;
    return s.mid(b, e - b);
}

/// The section name of a line "[name]", or a null string for any other line.
QString SectionOf(const QString &line)
{
    const QString t = TrimBlanks(line);
    if (!t.startsWith(QLatin1Char('[')))
        return {};
    qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        close = t.size();
    QString name = TrimBlanks(t.mid(1, close - 1));
    if (name.isNull())
        name = QLatin1String("");
    return name;
}

bool KeyOf(const QString &line, QString &key, QString &value)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    key = TrimBlanks(line.left(eq));
    value = TrimBlanks(line.mid(eq + 1));
    return true;
}

/// At most 254 bytes in the file's encoding, never part of a character.
QString CutValue(const QString &value, const FileEncoding &encoding)
{
    if (encoding.isUtf8()) {
        const QByteArray bytes = value.toUtf8();
        if (bytes.size() <= MaxValueBytes)
            return value;
        // Back to the first byte of the character the limit falls in.
        qsizetype i = MaxValueBytes;
        while (i > 0 && (quint8(bytes.at(i)) & 0xC0) == 0x80)
            --i;
        return QString::fromUtf8(bytes.left(i));
    }
    const QByteArray bytes = Cp932::Encode(value);
    if (bytes.size() <= MaxValueBytes)
        return value;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const qsizetype step = Cp932::IsLeadByte(quint8(bytes.at(i))) ? 2 : 1;
        if (i + step > MaxValueBytes)
            break;
        i += step;
    }
    return Cp932::Decode(bytes.left(i));
}

QString NoBreaks(QString s)
{
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

/// The value of key in section of the file at path; nothing when the file,
/// the section or the key is missing.
std::optional<QString> Lookup(const QString &path, const QString &section, const QString &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    const FileEncoding encoding = FileEncoding::Of(data);
    bool inSection = false;
    for (const QByteArray &raw : SplitLines(encoding.body(data))) {
        const QString line = encoding.decode(raw);
        const QString name = SectionOf(line);
        if (!name.isNull()) {
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString k, v;
        if (inSection && KeyOf(line, k, v) && k.compare(key, Qt::CaseInsensitive) == 0)
            return CutValue(v, encoding);
    }
    return {};
}

/// The folder of a new file, made for the owner alone when missing: the file
/// holds the password.
bool MakeFolderFor(const QFileInfo &file)
{
    const QString folder = file.absolutePath();
    if (QFileInfo::exists(folder))
        return true;
    return QDir().mkpath(QFileInfo(folder).absolutePath()) &&
           QDir().mkdir(folder,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace

QString IniFile::folder() const
{
    return QFileInfo(m_path).absolutePath();
}

QString IniFile::GetIniParm(const QString &section, const QString &key) const
{
    std::optional<QString> value = Lookup(m_path, section, key);
    if (!value && !m_defaults.isEmpty())
        value = Lookup(m_defaults, section, key);
    return value.value_or(QString());
}

bool IniFile::SetIniParm(const QString &section, const QString &key, const QString &value) const
{
    return SetIniParms(section, {{key, value}});
}

namespace {

/// Puts key=value into the lines: in place of an existing key, else after the
/// last line of the section, else in a new section at the end.
void PutEntry(QList<QByteArray> &lines, const FileEncoding &encoding, const QString &section,
              const QString &key, const QString &value)
{
    const QByteArray entry = encoding.encode(NoBreaks(key) + QLatin1Char('=') + NoBreaks(value));
    qsizetype sectionLine = -1;
    qsizetype lastInSection = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = encoding.decode(lines.at(i));
        const QString name = SectionOf(line);
        if (!name.isNull()) {
            if (sectionLine >= 0)
                break;
            if (name.compare(section, Qt::CaseInsensitive) == 0)
                sectionLine = lastInSection = i;
            continue;
        }
        if (sectionLine < 0)
            continue;
        QString k, v;
        if (!TrimBlanks(line).isEmpty())
            lastInSection = i;
        if (KeyOf(line, k, v) && k.compare(key, Qt::CaseInsensitive) == 0) {
            lines[i] = entry;
            return;
        }
    }
    if (sectionLine >= 0) {
        lines.insert(lastInSection + 1, entry);
    } else {
        lines.append('[' + encoding.encode(section) + ']');
        lines.append(entry);
    }
}

} // namespace

bool IniFile::SetIniParms(const QString &section,
                          const QList<std::pair<QString, QString>> &entries) const
{
    const QFileInfo info(m_path);
    QList<QByteArray> lines;
    FileEncoding encoding; // a new file gets code page 932, as other desks write it
    if (info.exists()) {
        // A read-only file stays untouched and the caller tells the user; the
        // mode is checked too, since replacing the file would succeed for root.
        if (!info.isWritable() || !(info.permissions() & QFileDevice::WriteOwner))
            return false;
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray data = file.readAll();
        encoding = FileEncoding::Of(data);
        lines = SplitLines(encoding.body(data));
    }
    for (const auto &[key, value] : entries) {
        if (!m_defaults.isEmpty() && !Lookup(m_path, section, key) &&
            Lookup(m_defaults, section, key) == value)
            continue;
        PutEntry(lines, encoding, section, key, value);
    }

    // The file holds the password. A new one is first created empty for the
    // owner alone: QSaveFile gives its temporary file the mode of an existing
    // file, and would otherwise create it readable for all under the usual mask.
    bool created = false;
    if (!info.exists()) {
        if (!m_defaults.isEmpty() && !MakeFolderFor(info))
            return false;
        QFile placeholder(m_path);
        if (!placeholder.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return false;
        created = true;
    }
    QSaveFile out(m_path);
    if (out.open(QIODevice::WriteOnly)) {
        out.write(encoding.prefix());
        for (const QByteArray &line : lines) {
            out.write(line);
            out.write("\r\n", 2);
        }
        if (out.commit())
            return true;
    }
    if (created)
        QFile::remove(m_path);
    return false;
}

const QStringList TavrinoKeys = {
    QStringLiteral("UserName"), QStringLiteral("UserID"), QStringLiteral("Password"),
    QStringLiteral("Domain"), QStringLiteral("Pop3Server"), QStringLiteral("Pop3Port"),
    QStringLiteral("SmtpServer"), QStringLiteral("SmtpPort"), QStringLiteral("List"),
    QStringLiteral("Interval"), QStringLiteral("Sleep"),
    // Optional: absent or empty, the servers are spoken to in plain text.
    QStringLiteral("Pop3Security"), QStringLiteral("SmtpSecurity"), QStringLiteral("SmtpAuth"),
    QStringLiteral("SmtpUserID"), QStringLiteral("SmtpPassword"), QStringLiteral("CAFile"),
    // Optional: absent or empty, the login is the password's.
    QStringLiteral("AuthMethod"), QStringLiteral("OAuthProvider"), QStringLiteral("OAuthClientID"),
    QStringLiteral("OAuthClientSecret"), QStringLiteral("OAuthTenant"),
    QStringLiteral("OAuthAuthorizeURL"), QStringLiteral("OAuthTokenURL"),
    QStringLiteral("OAuthScopes")};

QStringList ReadTavrinoValues(const IniFile &ini)
{
    QStringList values;
    for (const QString &key : TavrinoKeys)
        values.append(ini.GetIniParm(TavrinoSection, key));
    return values;
}

QString IniWriteErrorText(const QString &appIniFile)
{
    return appIniFile + Msg::IniWriteError;
}

QString FormatTwips(double value)
{
    const float single = float(value);
    QString text = QString::number(double(single), 'g', 7);
    if (single >= 0)
        text.prepend(QLatin1Char(' '));
    return text;
}

qint16 ParseTwips(const QString &value)
{
    // The leading numeric part: blanks, a sign, digits, a fraction, an exponent.
    const QString t = value.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t.at(i) == QLatin1Char('+') || t.at(i) == QLatin1Char('-')))
        ++i;
    const qsizetype digitsStart = i;
    while (i < t.size() && t.at(i).isDigit() && t.at(i).unicode() < 128)
        ++i;
    if (i < t.size() && t.at(i) == QLatin1Char('.')) {
        ++i;
        while (i < t.size() && t.at(i).isDigit() && t.at(i).unicode() < 128)
            ++i;
    }
    if (i == digitsStart || (i == digitsStart + 1 && t.at(digitsStart) == QLatin1Char('.')))
        return 0;
    qsizetype end = i;
    if (i < t.size() && (t.at(i) == QLatin1Char('E') || t.at(i) == QLatin1Char('e'))) {
        qsizetype j = i + 1;
        if (j < t.size() && (t.at(j) == QLatin1Char('+') || t.at(j) == QLatin1Char('-')))
            ++j;
        const qsizetype expDigits = j;
        while (j < t.size() && t.at(j).isDigit() && t.at(j).unicode() < 128)
            ++j;
        if (j > expDigits)
            end = j;
    }
    bool ok = false;
    const double number = t.left(end).toDouble(&ok);
    if (!ok || std::isnan(number))
        return 0;
    const double rounded = std::nearbyint(number); // half to even
    if (rounded > std::numeric_limits<qint16>::max())
        return std::numeric_limits<qint16>::max();
    if (rounded < std::numeric_limits<qint16>::min())
        return std::numeric_limits<qint16>::min();
    return qint16(rounded);
}

qint16 ParseInterval(const QString &value)
{
    const QString t = value.trimmed();
    qsizetype i = t.startsWith(QLatin1Char('+')) ? 1 : 0;
    qint32 n = 0;
    const qsizetype digits = i;
    while (i < t.size() && t.at(i) >= QLatin1Char('0') && t.at(i) <= QLatin1Char('9')) {
        n = qMin<qint32>(n * 10 + (t.at(i).unicode() - '0'), std::numeric_limits<qint16>::max());
        ++i;
    }
    return i == digits ? 0 : qint16(n);
}

QString ModuleFolderOf(const void *address)
{
    Dl_info info{};
    if (dladdr(address, &info) && info.dli_fname)
        return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
    return QString();
}

QString XdgConfigHome()
{
    const QString set = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(set))
        return set;
    return QDir::homePath() + QStringLiteral("/.config");
}

IniFile TavrinoIni(const QString &programFolder)
{
    const QString name = QStringLiteral("/Tavrino.ini");
    // Installed under /opt or /usr, the folder is shared and read-only; each
    // user then has settings of their own.
    if (QFileInfo(programFolder).isWritable())
        return IniFile(programFolder + name);
    return IniFile(XdgConfigHome() + QStringLiteral("/Tavrino") + name,
                   QStringLiteral("/etc/tavrino") + name);
}
