#include "ServerSettings.h"

#include "IniFile.h"
#include "Messages.h"
#include "OAuthTokens.h"

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

/// An OAuth login as configured: the mailbox is the user's address. A
/// connection that would carry the token in plain text is refused before it
/// is made.
OAuthLogin OAuthFrom(const QStringList &values, int securityKey, const QString &upgradeName,
                     const QString &folder, TlsSettings *tls)
{
    namespace K = TavrinoKey;
    OAuthLogin login;
    const QString method = values.value(K::AuthMethod).trimmed();
    login.enabled = method.compare(QLatin1String("oauth"), Qt::CaseInsensitive) == 0;
    if (!login.enabled) {
        if (!method.isEmpty() && method.compare(QLatin1String("password"), Qt::CaseInsensitive) &&
            tls->configError.isEmpty())
            tls->configError = QStringLiteral("Tavrino.ini:") +
                               Msg::BadSetting.arg(TavrinoKeys.at(K::AuthMethod), method);
        return login;
    }
    // The provider knows the mailbox by its address.
    login.user = values.value(K::UserID).trimmed();
    if (!login.user.contains(QLatin1Char('@')))
        login.user += QLatin1Char('@') + values.value(K::Domain).trimmed();
    // One keeper for the program and the reply component alike.
    login.tokens = OAuthTokens::of(QDir(folder).filePath(QStringLiteral("Tavrino.ini")));
    login.tokens->setConfig(OAuthConfigFrom(values));
    if (tls->mode == TlsMode::None && tls->configError.isEmpty())
        tls->configError = QStringLiteral("Tavrino.ini:") +
                           Msg::OAuthNeedsTls.arg(TavrinoKeys.at(securityKey), upgradeName);
    return login;
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
    p.oauth = OAuthFrom(values, K::Pop3Security, QStringLiteral("stls"), folder, &p.tls);
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
    s.oauth = OAuthFrom(values, K::SmtpSecurity, QStringLiteral("starttls"), folder, &s.tls);
    s.auth = s.auth || s.oauth.enabled;
    return s;
}
