#pragma once
// Logging in with an OAuth 2.0 access token instead of a password: the SASL
// mechanisms XOAUTH2 (Microsoft, Google) and OAUTHBEARER (RFC 7628), as the
// POP3 and the SMTP job both speak them.

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

class OAuthTokens;

/// A login with a bearer token; the jobs use it instead of the password
/// when enabled.
struct OAuthLogin
{
    bool enabled = false;
    QString user;        ///< the mailbox's address
    QString accessToken; ///< when empty, the job asks tokens for one first
    OAuthTokens *tokens = nullptr;
};

enum class SaslMechanism { XOAuth2, OAuthBearer };

/// OAUTHBEARER where the server lists it (the standard one), XOAUTH2 otherwise:
/// the hosted servers that matter speak it whether they list it or not.
SaslMechanism ChooseSaslMechanism(const QByteArrayList &offered);

QString SaslMechanismName(SaslMechanism mechanism);

/// The client's first response, base64-encoded: it carries the token.
QByteArray SaslOAuthResponse(SaslMechanism mechanism, const OAuthLogin &login, const QString &host,
                             const QString &port);

/// What answers the challenge that carries a refusal (a JSON error): an empty
/// line for XOAUTH2, a lone %x01 for OAUTHBEARER. The final reply follows.
QByteArray SaslErrorAnswer(SaslMechanism mechanism);
