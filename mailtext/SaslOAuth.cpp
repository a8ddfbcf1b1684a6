#include "SaslOAuth.h"

SaslMechanism ChooseSaslMechanism(const QByteArrayList &offered)
{
    for (const QByteArray &name : offered) {
        if (name.compare("OAUTHBEARER", Qt::CaseInsensitive) == 0)
            return SaslMechanism::OAuthBearer;
    }
    return SaslMechanism::XOAuth2;
}

QString SaslMechanismName(SaslMechanism mechanism)
{
    return mechanism == SaslMechanism::OAuthBearer ? QStringLiteral("OAUTHBEARER")
                                                   : QStringLiteral("XOAUTH2");
}

QByteArray SaslOAuthResponse(SaslMechanism mechanism, const OAuthLogin &login, const QString &host,
                             const QString &port)
{
    const QByteArray user = login.user.toUtf8();
    const QByteArray bearer = "auth=Bearer " + login.accessToken.toUtf8() + "\x01\x01";
    if (mechanism == SaslMechanism::XOAuth2)
        return QByteArray("user=" + user + '\x01' + bearer).toBase64();
    // The GS2 header names the user; "," and "=" in it are escaped.
    QByteArray name = user;
    name.replace("=", "=3D").replace(",", "=2C");
    return QByteArray("n,a=" + name + ",\x01host=" + host.toUtf8() +
                      "\x01port=" + port.trimmed().toUtf8() + '\x01' + bearer)
        .toBase64();
}

QByteArray SaslErrorAnswer(SaslMechanism mechanism)
{
    return mechanism == SaslMechanism::OAuthBearer ? QByteArray("\x01").toBase64() : QByteArray();
}
