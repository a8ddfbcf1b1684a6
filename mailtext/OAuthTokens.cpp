#include "OAuthTokens.h"

#include "Messages.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <qt6keychain/keychain.h>

namespace {
// The jobs have no parent: the secret service may answer after a keeper is
// gone, and a job deletes itself once it has finished.
const QString KeychainService = QStringLiteral("Tavrino");

bool SecretServiceRuns()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets"));
}
} // namespace

OAuthTokens *OAuthTokens::of(const QString &iniPath)
{
    // Held for the run, as the plugins are, and ended with the application.
    static QHash<QString, QPointer<OAuthTokens>> keepers;
    QPointer<OAuthTokens> &keeper = keepers[QFileInfo(iniPath).absoluteFilePath()];
    if (!keeper)
        keeper = new OAuthTokens(iniPath, QCoreApplication::instance());
    return keeper;
}

OAuthTokens::OAuthTokens(const QString &iniPath, QObject *parent)
    : QObject(parent), m_iniPath(iniPath)
{
    load([] {});
}

QString OAuthTokens::secretFile() const
{
    return QFileInfo(m_iniPath).dir().filePath(QStringLiteral("Tavrino.token"));
}

void OAuthTokens::load(std::function<void()> then)
{
    if (m_loaded) {
        then();
        return;
    }
    m_afterLoad.append(std::move(then));
    if (m_afterLoad.size() > 1)
        return;
    if (!SecretServiceRuns()) {
        m_loaded = true;
        for (auto &f : std::exchange(m_afterLoad, {}))
            f();
        return;
    }
    auto *job = new QKeychain::ReadPasswordJob(KeychainService);
    job->setKey(QFileInfo(m_iniPath).absoluteFilePath());
    connect(job, &QKeychain::Job::finished, this, [this, job] {
        m_loaded = true;
        m_keychain = job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound;
        m_refreshToken = job->error() == QKeychain::NoError ? job->textData() : QString();
        // A token kept in the file before the secret service ran moves there.
        if (m_keychain && m_refreshToken.isEmpty() && !fileToken().isEmpty())
            storeRefreshToken(fileToken());
        for (auto &f : std::exchange(m_afterLoad, {}))
            f();
        Q_EMIT changed();
    });
    job->start();
}

QString OAuthTokens::storedRefreshToken()
{
    return m_keychain ? m_refreshToken : fileToken();
}

QString OAuthTokens::fileToken() const
{
    QFile file(secretFile());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.read(16 * 1024)).trimmed();
}

bool OAuthTokens::storeRefreshToken(const QString &token)
{
    if (!m_keychain)
        return storeInFile(token);
    m_refreshToken = token;
    QKeychain::Job *job = nullptr;
    if (token.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(KeychainService);
    } else {
        auto *write = new QKeychain::WritePasswordJob(KeychainService);
        write->setTextData(token);
        job = write;
    }
    job->setKey(QFileInfo(m_iniPath).absoluteFilePath());
    connect(job, &QKeychain::Job::finished, this, [this, job, token] {
        if (job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound) {
            storeInFile(QString()); // one place only
        } else {
            m_keychain = false; // the service failed us: the file holds it
            storeInFile(token);
        }
    });
    job->start();
    return true;
}

bool OAuthTokens::storeInFile(const QString &token)
{
    const QString path = secretFile();
    if (token.isEmpty())
        return !QFile::exists(path) || QFile::remove(path);
    // Owner-only before the secret is written; then put in place whole, as
    // the settings file is.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    file.write(token.toUtf8());
    return file.commit();
}

bool OAuthTokens::isSignedIn()
{
    return !storedRefreshToken().isEmpty();
}

void OAuthTokens::takeGrant(const OAuthGrant &grant)
{
    m_grant = grant;
    m_refused = false;
    if (!grant.refreshToken.isEmpty())
        storeRefreshToken(grant.refreshToken);
    Q_EMIT changed();
}

void OAuthTokens::signOut()
{
    m_grant = OAuthGrant();
    storeRefreshToken(QString());
    Q_EMIT changed();
}

void OAuthTokens::accessToken(QObject *context, Done done)
{
    if (!m_loaded) {
        QPointer<QObject> guard(context);
        load([this, guard, context, done] {
            if (guard)
                accessToken(context, done);
        });
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!m_grant.accessToken.isEmpty() && now.secsTo(m_grant.expires) > RefreshMarginSecs) {
        done(m_grant.accessToken, QString());
        return;
    }
    m_waiting.append({context, std::move(done)});
    if (!m_refreshing)
        refresh();
}

void OAuthTokens::refresh()
{
    const QString refreshToken = storedRefreshToken();
    if (refreshToken.isEmpty() || m_refused) {
        // Nothing to ask the endpoint: every check meets the same text.
        settle(m_refused ? Msg::SignInAgain : Msg::NotSignedIn);
        return;
    }
    if (!m_config.error.isEmpty()) {
        settle(m_config.error);
        return;
    }
    m_refreshing = true;
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    form.addQueryItem(QStringLiteral("refresh_token"), refreshToken);
    if (m_config.provider != QLatin1String("google"))
        form.addQueryItem(QStringLiteral("scope"), m_config.scopes);
    PostTokenRequest(&m_network, m_config, form, this, [this](const TokenAnswer &answer) {
        m_refreshing = false;
        if (answer.refused) {
            m_grant = OAuthGrant();
            m_refused = true;
            settle(answer.error);
            return;
        }
        if (answer.error.isEmpty()) {
            m_grant.accessToken = answer.grant.accessToken;
            m_grant.expires = answer.grant.expires;
            // A provider that rotates the refresh token hands out the next one.
            if (!answer.grant.refreshToken.isEmpty())
                storeRefreshToken(answer.grant.refreshToken);
        }
        settle(answer.error);
    });
}

bool OAuthTokens::fetchFor(OAuthLogin *login, QObject *context,
                           std::function<void(const QString &errorText)> then)
{
    if (!login->enabled || !login->accessToken.isEmpty() || !login->tokens)
        return false;
    // Asked once per job: the token it gets is the one it logs in with.
    std::exchange(login->tokens, nullptr)
        ->accessToken(context, [login, then](const QString &token, const QString &error) {
            login->accessToken = token;
            then(error);
        });
    return true;
}

void OAuthTokens::settle(const QString &errorText)
{
    const QString token = errorText.isEmpty() ? m_grant.accessToken : QString();
    for (auto &[context, done] : std::exchange(m_waiting, {})) {
        if (context)
            done(token, errorText);
    }
}
