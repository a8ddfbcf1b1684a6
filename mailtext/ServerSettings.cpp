#include "ServerSettings.h"

#include "IniFile.h"
#include "Messages.h"

#include <QDir>

namespace {

/// The mode named by value among none, upgrade and implicit (compared without
/// regard to case); an empty value is none. Anything else is refused rather
/// than taken for plain text.
TlsSettings TlsFrom(const QStringList &values, int key, const QString &upgradeName,
                    const QString &folder)
{
    TlsSettings tls;
    const QString value = values.value(key).trimmed().toLower();
    if (value == QLatin1String("tls"))
        tls.mode = TlsMode::Implicit;
    else if (value == upgradeName)
        tls.mode = TlsMode::Upgrade;
    else if (!value.isEmpty() && value != QLatin1String("none"))
        tls.configError = QStringLiteral("Tavrino.ini:") +
                          Msg::BadSetting.arg(TavrinoKeys.at(key), values.value(key).trimmed());
    const QString caFile = values.value(TavrinoKey::CAFile).trimmed();
    if (!caFile.isEmpty())
        tls.caFile = QDir(folder).absoluteFilePath(caFile);
    return tls;
}

} // namespace

Pop3Settings Pop3SettingsFrom(const QStringList &values, const QString &folder)
{
    namespace K = TavrinoKey;
    Pop3Settings p;
    p.server = values.value(K::Pop3Server);
    p.port = values.value(K::Pop3Port);
    p.userId = values.value(K::UserID);
    p.password = values.value(K::Password);
    p.limits.readDelayMs = qMax(0, values.value(K::Sleep).trimmed().toInt());
    p.tls = TlsFrom(values, K::Pop3Security, QStringLiteral("stls"), folder);
    return p;
}

SmtpSend::Settings SmtpSettingsFrom(const QStringList &values, const QString &folder)
{
    namespace K = TavrinoKey;
    SmtpSend::Settings s;
    s.server = values.value(K::SmtpServer);
    s.port = values.value(K::SmtpPort);
    s.heloName = values.value(K::Domain);
    s.tls = TlsFrom(values, K::SmtpSecurity, QStringLiteral("starttls"), folder);
    const QString auth = values.value(K::SmtpAuth).trimmed();
    s.auth = auth == QLatin1String("1");
    if (!auth.isEmpty() && auth != QLatin1String("0") && !s.auth && s.tls.configError.isEmpty())
        s.tls.configError =
            QStringLiteral("Tavrino.ini:") + Msg::BadSetting.arg(TavrinoKeys.at(K::SmtpAuth), auth);
    const QString user = values.value(K::SmtpUserID);
    const QString password = values.value(K::SmtpPassword);
    s.authUser = user.isEmpty() ? values.value(K::UserID) : user;
    s.authPassword = password.isEmpty() ? values.value(K::Password) : password;
    return s;
}
