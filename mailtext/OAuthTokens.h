#pragma once
// The tokens of one desk: the refresh token kept safe between runs, the
// access token kept in memory and refreshed before it expires. The program
// and the reply component run in one process and share one keeper per
// configuration file, so a reply never asks for a second sign-in.

#include "OAuthClient.h"
#include "SaslOAuth.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class OAuthTokens : public QObject
{
    Q_OBJECT

public:
    /// An access token this close to its expiry is refreshed first.
    static constexpr int RefreshMarginSecs = 60;

    /// The keeper of the configuration file at iniPath, made on first use.
    static OAuthTokens *of(const QString &iniPath);

    explicit OAuthTokens(const QString &iniPath, QObject *parent = nullptr);

    void setConfig(const OAuthConfig &config) { m_config = config; }
    const OAuthConfig &config() const { return m_config; }
    QNetworkAccessManager *network() { return &m_network; }

    /// Where the refresh token is kept where no secret service runs: beside
    /// the configuration file, readable by its owner only.
    QString secretFile() const;
    /// The refresh token is in the desktop's secret service.
    bool inSecretService() const { return m_keychain; }

    using Done = std::function<void(const QString &accessToken, const QString &errorText)>;
    /// A usable access token, refreshed first when it is close to expiry;
    /// done is called once, unless context is destroyed first. Callers that
    /// come while a refresh runs wait for that one.
    void accessToken(QObject *context, Done done);
    /// Where login wants a token and has none, asks its keeper for one and
    /// calls then with the error text (empty once the token is filled in);
    /// false when there is nothing to ask.
    static bool fetchFor(OAuthLogin *login, QObject *context,
                         std::function<void(const QString &errorText)> then);
    /// The server refused the access token: the next call refreshes it.
    void dropAccessToken() { m_grant.accessToken.clear(); }

    /// A sign-in succeeded: its refresh token is kept.
    void takeGrant(const OAuthGrant &grant);
    void signOut();
    bool isSignedIn();
    /// Checks cannot log in until someone signs in (again).
    bool needsSignIn() { return m_refused || !isSignedIn(); }

Q_SIGNALS:
    /// Signed in or out.
    void changed();

private:
    void refresh();
    void settle(const QString &errorText);
    QString storedRefreshToken();
    bool storeRefreshToken(const QString &token);
    QString fileToken() const;
    bool storeInFile(const QString &token);
    /// Reads the secret service once, where one runs; then calls then.
    void load(std::function<void()> then);

    QString m_iniPath;
    OAuthConfig m_config;
    QNetworkAccessManager m_network;
    OAuthGrant m_grant; ///< the access token; the refresh token is in the file
    bool m_refused = false;
    bool m_refreshing = false;
    bool m_keychain = false; ///< a secret service runs and holds the token
    bool m_loaded = false;
    QString m_refreshToken; ///< as the secret service has it
    QList<std::function<void()>> m_afterLoad;
    QList<std::pair<QPointer<QObject>, Done>> m_waiting;
};
