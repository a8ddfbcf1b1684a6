#pragma once
// Signing in to a hosted mailbox with OAuth 2.0 as a native application
// (RFC 8252 with PKCE, RFC 7636): the system's browser shows the provider's
// page, a one-time listener on the loopback address takes the redirect, and
// the code is exchanged at the token endpoint. Opening the browser is left to
// the window that asked (a signal), so this layer needs no widgets.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <functional>

class QNetworkAccessManager;
class QTcpSocket;

/// The provider as Tavrino.ini names it.
struct OAuthConfig
{
    QString provider; ///< "microsoft", "google" or "custom"
    QString clientId;
    QString clientSecret;
    QUrl authorizeUrl;
    QUrl tokenUrl;
    QString scopes;  ///< separated by blanks
    QUrlQuery extra; ///< further parameters of the authorization request
    QString error;   ///< set when the values cannot be used; the text to show
};

/// The provider's endpoints and scopes from the values (in the order of
/// TavrinoKeys): microsoft and google come with their own, custom takes
/// every one from the file.
OAuthConfig OAuthConfigFrom(const QStringList &values);

/// What the token endpoint grants.
struct OAuthGrant
{
    QString accessToken;
    QString refreshToken; ///< empty when the endpoint keeps the old one
    QDateTime expires;
};

/// The endpoint's verdict on one request.
struct TokenAnswer
{
    OAuthGrant grant;
    QString error;        ///< empty on success; the text to show
    bool refused = false; ///< the grant itself is refused: sign in again
};

/// Posts form to the configured token endpoint; done is called once, unless
/// context is destroyed first. Nothing of the form is ever shown or logged.
void PostTokenRequest(QNetworkAccessManager *network, const OAuthConfig &config, QUrlQuery form,
                      QObject *context, std::function<void(const TokenAnswer &)> done);

/// One sign-in: start() listens on 127.0.0.1 at a port the system chooses
/// and asks for the browser to open; the first redirect that reaches the
/// listener with the right state, or five minutes, ends it. The page the
/// browser shows then says in Japanese how it went.
class OAuthSignIn : public QObject
{
    Q_OBJECT

public:
    static constexpr int ListenMs = 5 * 60 * 1000;
    static constexpr int RequestMs = 10000; ///< one browser request, whole

    OAuthSignIn(const OAuthConfig &config, QNetworkAccessManager *network,
                QObject *parent = nullptr);

    void start();
    quint16 port() const { return m_port; }
    /// For tests: the listening bound.
    void setListenMs(int ms) { m_timeout.setInterval(ms); }

Q_SIGNALS:
    void openBrowser(const QUrl &url);
    void signedIn(const OAuthGrant &grant);
    /// The text to show. The listener is closed by then.
    void failed(const QString &errorText);

private:
    void onConnection();
    void onRequest(QTcpSocket *socket);
    void finish(const QString &errorText);
    QString redirectUri() const;

    OAuthConfig m_config;
    QNetworkAccessManager *m_network;
    QTcpServer m_server;
    QTimer m_timeout;
    QByteArray m_verifier;
    QByteArray m_state;
    quint16 m_port = 0;
    bool m_done = false;
};
