#include "OAuthClient.h"

#include "IniFile.h"
#include "Messages.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>

namespace {

constexpr qsizetype MaxRequest = 16 * 1024;
constexpr int TokenRequestMs = 30000;

QByteArray RandomText(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QString Page(const QString &text)
{
    return QStringLiteral("<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\">"
                          "<title>Tavrino</title></head><body><p>") +
           text + QStringLiteral("</p></body></html>");
}

void Answer(QTcpSocket *socket, const QByteArray &status, const QString &text)
{
    const QByteArray body = Page(text).toUtf8();
    socket->write("HTTP/1.1 " + status +
                  "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                  "Connection: close\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
}

} // namespace

OAuthConfig OAuthConfigFrom(const QStringList &values)
{
    namespace K = TavrinoKey;
    OAuthConfig c;
    auto value = [&](int key) { return values.value(key).trimmed(); };
    c.provider = value(K::OAuthProvider).toLower();
    c.clientId = value(K::OAuthClientID);
    c.clientSecret = value(K::OAuthClientSecret);
    if (c.provider == QLatin1String("microsoft")) {
        const QString tenant = value(K::OAuthTenant).isEmpty() ? QStringLiteral("organizations")
                                                               : value(K::OAuthTenant);
        const QString base = QStringLiteral("https://login.microsoftonline.com/") + tenant +
                             QStringLiteral("/oauth2/v2.0/");
        c.authorizeUrl = QUrl(base + QStringLiteral("authorize"));
        c.tokenUrl = QUrl(base + QStringLiteral("token"));
        c.scopes = QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All "
                                  "https://outlook.office.com/SMTP.Send offline_access");
    } else if (c.provider == QLatin1String("google")) {
        c.authorizeUrl = QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
        c.tokenUrl = QUrl(QStringLiteral("https://oauth2.googleapis.com/token"));
        c.scopes = QStringLiteral("https://mail.google.com/");
        // Without these Google grants no refresh token, or only the first time.
        c.extra.addQueryItem(QStringLiteral("access_type"), QStringLiteral("offline"));
        c.extra.addQueryItem(QStringLiteral("prompt"), QStringLiteral("consent"));
    } else if (c.provider == QLatin1String("custom")) {
        c.authorizeUrl = QUrl(value(K::OAuthAuthorizeURL));
        c.tokenUrl = QUrl(value(K::OAuthTokenURL));
        c.scopes = value(K::OAuthScopes);
    } else {
        c.error = QStringLiteral("Tavrino.ini:") +
                  Msg::BadSetting.arg(TavrinoKeys.at(K::OAuthProvider), value(K::OAuthProvider));
        return c;
    }
    for (const auto &[key, url] : {std::pair{int(K::OAuthAuthorizeURL), c.authorizeUrl},
                                   std::pair{int(K::OAuthTokenURL), c.tokenUrl}}) {
        if (c.error.isEmpty() && (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()))
            c.error = QStringLiteral("Tavrino.ini:") +
                      Msg::BadSetting.arg(TavrinoKeys.at(key), url.toString());
    }
    if (c.error.isEmpty() && c.clientId.isEmpty())
        c.error = QStringLiteral("Tavrino.ini:") +
                  Msg::BadSetting.arg(TavrinoKeys.at(K::OAuthClientID), QString());
    return c;
}

void PostTokenRequest(QNetworkAccessManager *network, const OAuthConfig &config, QUrlQuery form,
                      QObject *context, std::function<void(const TokenAnswer &)> done)
{
    form.addQueryItem(QStringLiteral("client_id"), config.clientId);
    if (!config.clientSecret.isEmpty())
        form.addQueryItem(QStringLiteral("client_secret"), config.clientSecret);
    QNetworkRequest request(config.tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(TokenRequestMs);
    // "+" must not stay literal: the endpoint would read it as a blank.
    QNetworkReply *reply = network->post(
        request, form.toString(QUrl::FullyEncoded).replace(QLatin1Char('+'), "%2B").toUtf8());
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, done] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QJsonObject json = QJsonDocument::fromJson(reply->readAll()).object();
        TokenAnswer answer;
        const QString error = json.value(QLatin1String("error")).toString();
        if (status == 200 && !json.value(QLatin1String("access_token")).toString().isEmpty()) {
            answer.grant.accessToken = json.value(QLatin1String("access_token")).toString();
            answer.grant.refreshToken = json.value(QLatin1String("refresh_token")).toString();
            const int seconds = json.value(QLatin1String("expires_in")).toInt(3600);
            answer.grant.expires = QDateTime::currentDateTimeUtc().addSecs(seconds);
        } else if (error == QLatin1String("invalid_grant")) {
            answer.refused = true;
            answer.error = Msg::SignInAgain;
        } else {
            // The endpoint's own words are safe to show; the request is not.
            const QString why = !error.isEmpty() ? error
                                : status != 0    ? QString::number(status)
                                                 : reply->errorString();
            answer.error = Msg::TokenFailed.arg(why);
        }
        done(answer);
    });
}

OAuthSignIn::OAuthSignIn(const OAuthConfig &config, QNetworkAccessManager *network, QObject *parent)
    : QObject(parent), m_config(config), m_network(network)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(ListenMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] { finish(Msg::SignInTimedOut); });
    connect(&m_server, &QTcpServer::newConnection, this, &OAuthSignIn::onConnection);
}

QString OAuthSignIn::redirectUri() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(port());
}

void OAuthSignIn::start()
{
    if (!m_config.error.isEmpty() || !m_server.listen(QHostAddress::LocalHost, 0)) {
        const QString error = m_config.error.isEmpty() ? m_server.errorString() : m_config.error;
        QTimer::singleShot(0, this, [this, error] { finish(error); });
        return;
    }
    m_port = m_server.serverPort();
    m_verifier = RandomText(48);
    m_state = RandomText(24);
    const QByteArray challenge =
        QCryptographicHash::hash(m_verifier, QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    QUrlQuery query = m_config.extra;
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("client_id"), m_config.clientId);
    query.addQueryItem(QStringLiteral("redirect_uri"), redirectUri());
    query.addQueryItem(QStringLiteral("scope"), m_config.scopes);
    query.addQueryItem(QStringLiteral("state"), QString::fromLatin1(m_state));
    query.addQueryItem(QStringLiteral("code_challenge"), QString::fromLatin1(challenge));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    QUrl url = m_config.authorizeUrl;
    QUrlQuery given(url);
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded))
        given.addQueryItem(key, value);
    url.setQuery(given);
    m_timeout.start();
    Q_EMIT openBrowser(url);
}

void OAuthSignIn::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRequest(socket); });
        // A browser that opens a connection and says nothing is dropped.
        QTimer::singleShot(RequestMs, socket, [socket] { socket->abort(); });
    }
}

void OAuthSignIn::onRequest(QTcpSocket *socket)
{
    if (m_done || socket->bytesAvailable() > MaxRequest) {
        socket->abort();
        return;
    }
    const QByteArray head = socket->peek(MaxRequest);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0)
        return; // not whole yet
    socket->read(end + 4);
    const QList<QByteArray> lines = head.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    QByteArray host;
    for (const QByteArray &line : lines) {
        if (line.toLower().startsWith("host:"))
            host = line.mid(5).trimmed();
    }
    const QUrl target(QString::fromLatin1(requestLine.value(1)));
    // Only the redirect to this very listener counts: a page that sends the
    // browser here under another name or port is not the provider's.
    if (requestLine.value(0) != "GET" || target.path() != QLatin1String("/") ||
        host != "127.0.0.1:" + QByteArray::number(port())) {
        Answer(socket, "404 Not Found", Msg::SignInPageFailed);
        return;
    }
    const QUrlQuery query(target);
    const QString code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    if (query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded).toLatin1() != m_state) {
        Answer(socket, "400 Bad Request", Msg::SignInPageFailed);
        finish(Msg::SignInRefused.arg(QStringLiteral("state")));
        return;
    }
    if (code.isEmpty()) {
        const QString error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
        Answer(socket, "200 OK", Msg::SignInPageFailed);
        finish(Msg::SignInRefused.arg(error.left(80)));
        return;
    }
    Answer(socket, "200 OK", Msg::SignInPageDone);
    m_server.close();
    m_timeout.stop();
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("authorization_code"));
    form.addQueryItem(QStringLiteral("code"), code);
    form.addQueryItem(QStringLiteral("redirect_uri"), redirectUri());
    form.addQueryItem(QStringLiteral("code_verifier"), QString::fromLatin1(m_verifier));
    PostTokenRequest(m_network, m_config, form, this, [this](const TokenAnswer &answer) {
        if (!answer.error.isEmpty())
            finish(answer.error);
        else if (!std::exchange(m_done, true))
            Q_EMIT signedIn(answer.grant);
    });
}

void OAuthSignIn::finish(const QString &errorText)
{
    m_server.close();
    m_timeout.stop();
    if (!std::exchange(m_done, true))
        Q_EMIT failed(errorText);
}
