// The desk signed in by OAuth 2.0 against the same desk with a password: a
// check of 1,000 memos both already know, over STLS, the one logging in with
// AUTH XOAUTH2, the other with USER/PASS, timed on the wire. Goal: the OAuth
// desk at most 1.1 times the password desk. The access token lives in the
// desk's memory for its lifetime: the token endpoint must not be asked again
// at every check (the run fails when the refresh_token grants grow by more
// than one over the timed checks).
//
// A program of its own rather than a figure of bench_desk: it needs the mail
// office in its OAuth mode (STLS, the authorization server, Dovecot asking it
// about every token), which none of bench_desk's figures use, and it runs in
// about a minute where bench_desk takes many.
//
// How: the machinery of bench_desk (BenchDesk.h). A private office started
// with --oauth=xoauth2, so that the POP3 server offers XOAUTH2 and not
// OAUTHBEARER; user7's mailbox filled with 1,000 memos as the program sends
// them. Two copies of the program folder as built, one signed in by OAuth
// (the benchmark runs the code flow with PKCE over HTTP as a browser would,
// and writes the refresh token into the copy's Tavrino.token, mode 0600; the
// desks see no session bus, so no secret service), one with the password;
// both Pop3Security=stls with the office's CAFile, Interval=1, on one
// virtual X screen, each through its own port of the proxy. Each does its
// first check (all memos new, its viewers open) and one known check left
// out; then the timed checks take turns: one desk is held (SIGSTOP) between
// its checks while the other runs one, so no check ever runs beside another,
// and which desk goes first changes every round. Inside TLS the proxy sees
// no commands, so a check is its whole session, from the accept to the
// close. What each session did is read from Dovecot's log: the login
// mechanism, and the logout's RETR and DELE counts and message count (a
// known check of the whole mailbox retrieves and deletes nothing).
// While both desks are held, minimal Python clients run the same dialogue
// (STLS, login, STAT, UIDL, QUIT): with XOAUTH2 and with USER/PASS through
// the proxy, showing what the office itself spends on a token, and with
// USER/PASS direct, showing what the proxy costs. Medians.
// A ratio above its goal is reported, not a failure; the exit code is
// non-zero when a check fails, logs in with another mechanism, reads or
// deletes a memo, the tokens are fetched again, or a reference differs.
//
// Usage (as root; starts a private mail office and an X server, needs Xvfb
// and xdotool): bench_oauth [PROGRAM_FOLDER]   (default: the build's folder)

#include "BenchDesk.h"
#include "BenchFill.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>

#include <cstdio>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int DeskUser = 7;
constexpr int Memos = 1000;
constexpr int Rounds = 25; ///< timed checks of each desk
constexpr double Goal = 1.1;
/// More refresh grants than this over the timed checks: the desk fetches
/// its token again at every check (one may fall due within the run).
constexpr int RefreshAllowance = 1;

// --------------------------------------------------------------- sign-in

struct HttpAnswer
{
    int status = 0;
    QByteArray body;
    QUrl location;
    QString error;
};

/// One HTTP request, waited for; redirects are not followed.
HttpAnswer Http(QNetworkAccessManager &network, const QUrl &url,
                const QList<std::pair<QString, QString>> *form = nullptr)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply;
    if (form) {
        QByteArray body;
        for (const auto &[key, value] : *form)
            body += (body.isEmpty() ? "" : "&") + QUrl::toPercentEncoding(key) + '=' +
                    QUrl::toPercentEncoding(value);
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
        reply = network.post(request, body);
    } else {
        reply = network.get(request);
    }
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    HttpAnswer answer;
    if (!reply->isFinished()) {
        answer.error = QStringLiteral("no answer from ") + url.toString();
        reply->abort();
    }
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    answer.location = url.resolved(QUrl(QString::fromUtf8(reply->rawHeader("Location"))));
    if (answer.error.isEmpty() && answer.status == 0)
        answer.error = reply->errorString();
    reply->deleteLater();
    return answer;
}

QString HtmlText(QString text)
{
    static const QRegularExpression number(QStringLiteral("&#(x?)([0-9a-fA-F]+);"));
    QRegularExpressionMatch m;
    while ((m = number.match(text)).hasMatch())
        text.replace(m.capturedStart(), m.capturedLength(),
                     QChar(m.captured(2).toUInt(nullptr, m.captured(1).isEmpty() ? 10 : 16)));
    return text.replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
}

/// The fields a browser submits from the page's first form, with the fields
/// named in typed filled in and the button named button pressed; the form's
/// action in action.
QList<std::pair<QString, QString>> FilledForm(const QString &page, const QUrl &pageUrl,
                                              const std::map<QString, QString> &typed,
                                              const QString &button, QUrl &action)
{
    static const QRegularExpression formTag(QStringLiteral("<form\\b([^>]*)>(.*?)</form>"),
                                            QRegularExpression::DotMatchesEverythingOption |
                                                QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression fieldTag(QStringLiteral("<(input|button)\\b([^>]*)>"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attribute(
        QStringLiteral("([\\w-]+)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"));
    const auto attributes = [](const QString &text) {
        std::map<QString, QString> out;
        for (const QRegularExpressionMatch &a : attribute.globalMatch(text))
            out[a.captured(1).toLower()] = HtmlText(a.captured(2) + a.captured(3) + a.captured(4));
        return out;
    };
    const QRegularExpressionMatch form = formTag.match(page);
    action = pageUrl.resolved(QUrl(attributes(form.captured(1))[QStringLiteral("action")]));
    QList<std::pair<QString, QString>> fields;
    for (const QRegularExpressionMatch &f : fieldTag.globalMatch(form.captured(2))) {
        std::map<QString, QString> a = attributes(f.captured(2));
        const QString name = a[QStringLiteral("name")];
        const QString type = a[QStringLiteral("type")].toLower();
        if (name.isEmpty())
            continue;
        if (type == QLatin1String("submit") || f.captured(1).toLower() == QLatin1String("button")) {
            if (name + QLatin1Char('=') + a[QStringLiteral("value")] == button)
                fields.append({name, a[QStringLiteral("value")]});
            continue;
        }
        const auto it = typed.find(name);
        fields.append({name, it != typed.end() ? it->second : a[QStringLiteral("value")]});
    }
    return fields;
}

QString RandomText(int length)
{
    static const char chars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    QString text;
    for (int i = 0; i < length; ++i)
        text += QLatin1Char(chars[QRandomGenerator::system()->bounded(int(sizeof chars) - 1)]);
    return text;
}

struct SignIn
{
    QString accessToken, refreshToken, error;
    int expiresIn = 0;
};

/// Signs user in as the desk's browser would: the authorization request with
/// PKCE, the consent page filled in and allowed, the redirect to a listener
/// on the loopback address, the code exchanged at the token endpoint.
SignIn RunCodeFlow(const BenchOffice &office, int user)
{
    SignIn result;
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QTcpServer listener;
    QByteArray redirectRequest;
    listener.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        QTcpSocket *socket = listener.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            redirectRequest += socket->readAll();
            if (!redirectRequest.contains("\r\n\r\n"))
                return;
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
                          "Connection: close\r\n\r\nsigned in");
            socket->disconnectFromHost();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    });
    const QString redirectUri = QStringLiteral("http://127.0.0.1:%1/").arg(listener.serverPort());
    const QString verifier = RandomText(64);
    const QString challenge = QString::fromLatin1(
        QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    const QString state = RandomText(24);
    const QString clientId = office.value("OAUTH_CLIENT_ID");

    QUrl authorize(office.value("OAUTH_AUTHORIZE_URL"));
    QUrlQuery query;
    for (const auto &[key, value] : QList<std::pair<QString, QString>>{
             {QStringLiteral("response_type"), QStringLiteral("code")},
             {QStringLiteral("client_id"), clientId},
             {QStringLiteral("redirect_uri"), redirectUri},
             {QStringLiteral("state"), state},
             {QStringLiteral("code_challenge"), challenge},
             {QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
             {QStringLiteral("scope"), office.value("OAUTH_SCOPES")}})
        query.addQueryItem(key, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    authorize.setQuery(query);
    const HttpAnswer page = Http(network, authorize);
    if (page.status != 200) {
        result.error = QStringLiteral("the consent page: %1 %2").arg(page.status).arg(page.error);
        return result;
    }
    QUrl action;
    const auto form = FilledForm(QString::fromUtf8(page.body), authorize,
                                 {{QStringLiteral("user"), QStringLiteral("user%1").arg(user)},
                                  {QStringLiteral("password"), QStringLiteral("pass%1").arg(user)}},
                                 QStringLiteral("action=allow"), action);
    const HttpAnswer consent = Http(network, action, &form);
    const QUrlQuery back(consent.location);
    if (consent.status != 302 || !consent.location.toString().startsWith(redirectUri) ||
        back.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) != state ||
        !back.hasQueryItem(QStringLiteral("code"))) {
        result.error = QStringLiteral("the consent: %1, to %2")
                           .arg(consent.status)
                           .arg(consent.location.toString(QUrl::RemoveQuery));
        return result;
    }
    // The browser follows the redirect to the desk's listener.
    const HttpAnswer landed = Http(network, consent.location);
    if (landed.status != 200 || !redirectRequest.startsWith("GET /?")) {
        result.error = QStringLiteral("the redirect did not reach the listener");
        return result;
    }
    const QList<std::pair<QString, QString>> exchange{
        {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
        {QStringLiteral("code"), back.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded)},
        {QStringLiteral("redirect_uri"), redirectUri},
        {QStringLiteral("client_id"), clientId},
        {QStringLiteral("code_verifier"), verifier}};
    const HttpAnswer token = Http(network, QUrl(office.value("OAUTH_TOKEN_URL")), &exchange);
    const QJsonObject grant = QJsonDocument::fromJson(token.body).object();
    result.accessToken = grant.value(QStringLiteral("access_token")).toString();
    result.refreshToken = grant.value(QStringLiteral("refresh_token")).toString();
    result.expiresIn = grant.value(QStringLiteral("expires_in")).toInt();
    if (token.status != 200 || result.accessToken.isEmpty() || result.refreshToken.isEmpty())
        result.error = QStringLiteral("the token endpoint: %1 %2")
                           .arg(token.status)
                           .arg(QString::fromUtf8(token.body.left(200)));
    return result;
}

/// The refresh token where the desk keeps it without a secret service: the
/// token alone in Tavrino.token beside Tavrino.ini, owner-only before the
/// token is written.
bool WriteTokenFile(const QString &folder, const QString &token)
{
    QFile file(folder + QStringLiteral("/Tavrino.token"));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
           file.write(token.toUtf8()) == token.toUtf8().size() && file.flush();
}

/// The authorization server's request counts by kind.
std::map<QString, int> OAuthStats(const BenchOffice &office)
{
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    const HttpAnswer answer =
        Http(network, QUrl(office.value("OAUTH_URL") + QStringLiteral("/admin/stats")));
    std::map<QString, int> counts;
    const QJsonObject stats = QJsonDocument::fromJson(answer.body).object();
    for (auto it = stats.begin(); it != stats.end(); ++it)
        counts[it.key()] = it.value().toInt(-1);
    return counts;
}

// ------------------------------------------------------------ Dovecot's log

/// One POP3 connection as Dovecot logged it.
struct LogSession
{
    QByteArray method; ///< the login's mechanism; empty without a login
    int retr = -1, dele = -1, messages = -1;
    QByteArray end; ///< the text of its last line
    bool good() const { return !method.isEmpty() && retr >= 0; }
};

/// Follows Dovecot's log from where it ends now, connection by connection.
class DovecotLog
{
public:
    explicit DovecotLog(const QString &path) : m_file(path)
    {
        m_file.open(QIODevice::ReadOnly);
        m_file.seek(m_file.size());
    }

    /// The connections that ended since the last call; waits up to timeoutMs
    /// until there are at least count.
    std::vector<LogSession> take(int count, int timeoutMs)
    {
        WaitUntil(
            [&] {
                read();
                return int(m_ended.size()) >= count;
            },
            timeoutMs, 10);
        return std::exchange(m_ended, {});
    }

private:
    void read()
    {
        static const QRegularExpression login(
            QStringLiteral("pop3-login: \\w+: Login: user=<[^>]*>, method=([\\w-]+),.*"
                           "session=<([^>]+)>"));
        static const QRegularExpression refused(
            QStringLiteral("pop3-login: \\w+: (Disconnected.*)session=<([^>]+)>"));
        static const QRegularExpression logout(
            QStringLiteral("pop3\\([^)]*\\)<\\d+><([^>]+)>: \\w+: (Disconnected: .*top=\\d+/\\d+, "
                           "retr=(\\d+)/\\d+, del=(\\d+)/(\\d+).*)"));
        m_tail += m_file.readAll();
        qsizetype newline;
        while ((newline = m_tail.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_tail.left(newline));
            m_tail.remove(0, newline + 1);
            QRegularExpressionMatch m;
            if ((m = login.match(line)).hasMatch()) {
                m_open[m.captured(2)].method = m.captured(1).toLatin1();
            } else if ((m = logout.match(line)).hasMatch()) {
                LogSession s = m_open.take(m.captured(1));
                s.end = m.captured(2).toUtf8();
                s.retr = m.captured(3).toInt();
                s.dele = m.captured(4).toInt();
                s.messages = m.captured(5).toInt();
                m_ended.push_back(s);
            } else if ((m = refused.match(line)).hasMatch()) {
                LogSession s = m_open.take(m.captured(2));
                s.end = m.captured(1).toUtf8();
                m_ended.push_back(s);
            }
        }
    }

    QFile m_file;
    QByteArray m_tail;
    QHash<QString, LogSession> m_open;
    std::vector<LogSession> m_ended;
};

// ------------------------------------------------------------- references

/// A minimal client of the same dialogue as a known check: STLS, the login,
/// STAT, UIDL, QUIT. Each request line "pass PORT" or "xoauth2 PORT TOKEN"
/// answers "SECONDS MESSAGES DIGEST-OF-THE-LISTING" or "error TEXT".
const char *ReferenceScript = R"(
import base64, hashlib, poplib, ssl, sys, time
ca, user, password, address = sys.argv[1:5]
context = ssl.create_default_context(cafile=ca)
for line in sys.stdin:
    mode, port, token = (line.split() + [''])[:3]
    try:
        start = time.perf_counter()
        p = poplib.POP3('127.0.0.1', int(port))
        p.stls(context=context)
        if mode == 'xoauth2':
            blob = 'user=%s\x01auth=Bearer %s\x01\x01' % (address, token)
            answer = p._shortcmd('AUTH XOAUTH2 ' + base64.b64encode(blob.encode()).decode())
            if not answer.startswith(b'+OK'):
                raise Exception(answer.decode())
        else:
            p.user(user)
            p.pass_(password)
        n = p.stat()[0]
        listing = p.uidl()[1]
        p.quit()
        seconds = time.perf_counter() - start
        digest = hashlib.sha1(b''.join(l + b'\r\n' for l in listing)).hexdigest()
        print('%.6f %d %s' % (seconds, n, digest), flush=True)
    except Exception as e:
        print('error ' + str(e).replace('\n', ' '), flush=True)
)";

struct ReferenceRun
{
    bool ok = false;
    double ms = 0; ///< as the client timed itself
    int messages = 0;
    QByteArray digest, error;
};

ReferenceRun AskReference(LineChild &child, const char *mode, quint16 port,
                          const QString &token = QString())
{
    const QByteArray answer = child.ask(
        QByteArray(mode) + ' ' + QByteArray::number(port) + ' ' + token.toLatin1(), 30000);
    const QList<QByteArray> parts = answer.split(' ');
    ReferenceRun r;
    if (parts.size() != 3 || parts[0] == "error") {
        r.error = answer.isEmpty() ? QByteArray("no answer") : answer;
        return r;
    }
    r.ok = true;
    r.ms = parts[0].toDouble() * 1e3;
    r.messages = parts[1].toInt();
    r.digest = parts[2];
    return r;
}

// ------------------------------------------------------------------ desks

struct DeskUnderTest
{
    const char *name;
    Side side;            ///< its port of the proxy
    QByteArray mechanism; ///< as Dovecot logs its logins
    QString folder;
    std::unique_ptr<Desk> desk;
    std::vector<WireSession> sessions; ///< the timed checks
    std::vector<LogSession> logged;
};

struct Bench
{
    BenchOffice &office;
    WireProxy &proxy;
    DovecotLog &log;
    bool good = true;

    void differs(const QString &text)
    {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        good = false;
    }

    /// What Dovecot logged of one connection of the desk: one login by its
    /// mechanism, and a known check's logout (nothing retrieved or deleted
    /// of the whole mailbox) unless first.
    void verify(const DeskUnderTest &d, const LogSession &s, bool first)
    {
        if (s.method != d.mechanism)
            differs(QStringLiteral("the %1 desk logged in with %2, not %3 (%4)")
                        .arg(QLatin1String(d.name),
                             QString::fromLatin1(s.method.isEmpty() ? "no login" : s.method),
                             QString::fromLatin1(d.mechanism), QString::fromUtf8(s.end)));
        else if (!s.good() || s.dele != 0 || s.messages != Memos || s.retr != (first ? Memos : 0))
            differs(QStringLiteral("a check of the %1 desk: %2 (expected retr=%3/…, del=0/%4)")
                        .arg(QLatin1String(d.name), QString::fromUtf8(s.end))
                        .arg(first ? Memos : 0)
                        .arg(Memos));
    }

    /// Lets the desk run one check while the other is held: from its
    /// resumption until its connection has closed and its side has been
    /// quiet for QuietMs; then holds it again.
    bool turn(DeskUnderTest &d, bool timed)
    {
        const int base = proxy.count(d.side);
        d.desk->resume();
        const bool ended = WaitUntil(
            [&] {
                return proxy.count(d.side) > base && !proxy.session(d.side, base).open &&
                       proxy.openCount(d.side) == 0 && proxy.idle(d.side, QuietMs);
            },
            60000);
        d.desk->pause();
        if (!ended || !d.desk->isRunning()) {
            std::fprintf(stderr, "a check of the %s desk did not end (log: %s/desk.log)\n", d.name,
                         qPrintable(d.folder));
            return false;
        }
        const int sessions = proxy.count(d.side) - base;
        const std::vector<LogSession> logged = log.take(sessions, 5000);
        if (sessions != 1 || logged.size() != 1)
            differs(QStringLiteral("one check of the %1 desk made %2 connections (%3 logged)")
                        .arg(QLatin1String(d.name))
                        .arg(sessions)
                        .arg(logged.size()));
        for (const LogSession &s : logged)
            verify(d, s, false);
        if (timed) {
            d.sessions.push_back(proxy.session(d.side, base));
            if (!logged.empty())
                d.logged.push_back(logged.front());
        }
        return true;
    }

    /// Starts the desk and waits for its first check, all memos new to it,
    /// until its viewers are open (viewersBefore of another desk already
    /// are); then it is held.
    bool start(DeskUnderTest &d, int viewersBefore)
    {
        const int base = proxy.count(d.side);
        d.desk = std::make_unique<Desk>(d.folder);
        const bool ended = WaitUntil(
            [&] {
                return proxy.count(d.side) > base && !proxy.session(d.side, base).open &&
                       proxy.idle(d.side, QuietMs);
            },
            300000, 20);
        if (!ended || !d.desk->isRunning()) {
            std::fprintf(stderr, "the %s desk's first check did not end (log: %s/desk.log)\n",
                         d.name, qPrintable(d.folder));
            return false;
        }
        const int viewers = viewersBefore + MaxViewers;
        if (!WaitUntil([viewers] { return ViewerWindows().size() == viewers; }, 60000, 100))
            differs(QStringLiteral("the %1 desk did not open %2 viewers")
                        .arg(QLatin1String(d.name))
                        .arg(MaxViewers));
        // Quiet again, held before its next check.
        WaitUntil([&] { return proxy.openCount(d.side) == 0 && proxy.idle(d.side, QuietMs); },
                  30000);
        d.desk->pause();
        const std::vector<LogSession> logged = log.take(proxy.count(d.side) - base, 5000);
        if (logged.empty())
            differs(QStringLiteral("Dovecot logged no connection of the %1 desk")
                        .arg(QLatin1String(d.name)));
        for (size_t i = 0; i < logged.size(); ++i)
            verify(d, logged[i], i == 0);
        return true;
    }
};

std::vector<double> SessionMs(const std::vector<WireSession> &sessions)
{
    std::vector<double> ms;
    for (const WireSession &s : sessions)
        ms.push_back(s.ms());
    return ms;
}

double MedianBytes(const std::vector<WireSession> &sessions)
{
    std::vector<double> bytes;
    for (const WireSession &s : sessions)
        bytes.push_back(double(s.serverBytes));
    return Median(bytes);
}

QByteArray LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "unknown";
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.mid(0, 3).join(' ');
}

int RunBench(const QString &programDir)
{
    if (!QFile::exists(programDir + QStringLiteral("/Tavrino"))) {
        std::fprintf(stderr, "no program in %s\n", qPrintable(programDir));
        return 1;
    }
    BenchOffice office(true, QStringLiteral("xoauth2"));
    if (!office.ready())
        return 1;
    if (office.value("OAUTH") != QLatin1String("1") || office.value("OAUTH_TOKEN_URL").isEmpty()) {
        std::fprintf(stderr, "the office has no authorization server\n");
        return 1;
    }
    QTemporaryDir work(QStringLiteral("/tmp/tavoauth-XXXXXX"));
    VirtualScreen screen(work.path() + QStringLiteral("/xvfb.log"));
    if (!screen.isUp()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    WireProxy proxy(office.pop3Port());
    if (!proxy.isUp()) {
        std::fprintf(stderr, "the proxy could not listen\n");
        return 1;
    }
    std::printf("Measures the desk signed in by OAuth 2.0 against the desk with a password: the "
                "built program %s with its windows on the virtual screen %s, both over STLS to "
                "Dovecot %u (mechanisms offered: %s), timed on the wire by a proxy (OAuth desk "
                "port %u, password desk port %u, references port %u)\n",
                qPrintable(programDir), qPrintable(screen.display()), unsigned(office.pop3Port()),
                qPrintable(office.value("OAUTH_MECHANISMS")), unsigned(proxy.port(Side::Desk)),
                unsigned(proxy.port(Side::SecondDesk)), unsigned(proxy.port(Side::Reference)));
    std::printf("machine load (1, 5, 15 min) at the start: %s\n", LoadAverage().constData());
    std::printf("filling user%d with %d memos\n", DeskUser, Memos);
    if (!Fill(office, DeskUser, KnownMemos(office, DeskUser, 0, Memos), Memos)) {
        std::fprintf(stderr, "could not fill the mailbox\n");
        return 1;
    }

    const SignIn signIn = RunCodeFlow(office, DeskUser);
    if (!signIn.error.isEmpty()) {
        std::fprintf(stderr, "the sign-in failed: %s\n", qPrintable(signIn.error));
        return 1;
    }
    const QString security =
        QStringLiteral("Pop3Security=stls\r\nSmtpSecurity=starttls\r\nCAFile=%1\r\n")
            .arg(office.caFile());
    const QString oauthLines =
        QStringLiteral("AuthMethod=oauth\r\nOAuthProvider=custom\r\nOAuthClientID=%1\r\n"
                       "OAuthAuthorizeURL=%2\r\nOAuthTokenURL=%3\r\nOAuthScopes=%4\r\n")
            .arg(office.value("OAUTH_CLIENT_ID"), office.value("OAUTH_AUTHORIZE_URL"),
                 office.value("OAUTH_TOKEN_URL"), office.value("OAUTH_SCOPES")) +
        security;
    const QString passwordLines = QStringLiteral("Password=pass%1\r\n").arg(DeskUser) + security;
    DeskUnderTest oauth{"OAuth", Side::Desk, "XOAUTH2", work.path() + QStringLiteral("/oauth"),
                        nullptr, {},         {}};
    DeskUnderTest password{"password", Side::SecondDesk,
                           "PLAIN",    work.path() + QStringLiteral("/password"),
                           nullptr,    {},
                           {}};
    if (!PrepareDesk(programDir, oauth.folder, office, proxy.port(oauth.side), DeskUser, 1,
                     oauthLines) ||
        !PrepareDesk(programDir, password.folder, office, proxy.port(password.side), DeskUser, 1,
                     passwordLines) ||
        !WriteTokenFile(oauth.folder, signIn.refreshToken)) {
        std::fprintf(stderr, "could not prepare the desks in %s\n", qPrintable(work.path()));
        return 1;
    }
    const QString tokenFile = oauth.folder + QStringLiteral("/Tavrino.token");
    struct stat tokenStat
    {
    };
    ::stat(QFile::encodeName(tokenFile).constData(), &tokenStat);
    std::printf("signed in user%d by the code flow with PKCE: access tokens live %d s; the "
                "refresh token is in %s (mode %o)\n",
                DeskUser, signIn.expiresIn, qPrintable(tokenFile),
                unsigned(tokenStat.st_mode & 0777));

    const auto fail = [&work] { return KeepIfBad(false, work, "the run stopped"); };
    DovecotLog log(office.dir() + QStringLiteral("/log/dovecot.log"));
    Bench run{office, proxy, log};
    std::printf("first checks of %d new memos: the OAuth desk, then the password desk\n", Memos);
    const std::map<QString, int> atStart = OAuthStats(office);
    if (!run.start(oauth, 0) || !run.start(password, MaxViewers))
        return fail();
    // One known check of each, left out: the first after the viewers opened.
    if (!run.turn(oauth, false) || !run.turn(password, false))
        return fail();

    LineChild reference(
        QStringLiteral("python3"),
        PythonArgs(ReferenceScript, {office.caFile(), QStringLiteral("user%1").arg(DeskUser),
                                     QStringLiteral("pass%1").arg(DeskUser),
                                     QStringLiteral("user%1@").arg(DeskUser) + office.domain()}));
    // The reference's own grant, renewed by signing in again rather than by
    // refreshing, so that the refresh grants counted are the desk's alone.
    SignIn referenceGrant = signIn;
    QDeadlineTimer referenceValid(std::chrono::seconds(signIn.expiresIn - 10));
    std::vector<double> refOAuthMs, refPasswordMs, refClientMs, refDirectMs;
    QByteArray listing;
    const std::map<QString, int> before = OAuthStats(office);
    std::printf("%d timed known checks of each desk, taking turns, the references between "
                "rounds\n",
                Rounds);
    for (int round = 0; round < Rounds; ++round) {
        DeskUnderTest &first = round % 2 ? password : oauth;
        DeskUnderTest &second = round % 2 ? oauth : password;
        if (!run.turn(first, true) || !run.turn(second, true))
            return fail();
        // Both desks held: the references, the proxied XOAUTH2 and USER/PASS
        // sessions timed on the wire, the direct one by its client.
        const int refBase = proxy.count(Side::Reference);
        if (referenceValid.remainingTime() < 15000) {
            referenceGrant = RunCodeFlow(office, DeskUser);
            if (!referenceGrant.error.isEmpty()) {
                std::fprintf(stderr, "the reference's sign-in failed: %s\n",
                             qPrintable(referenceGrant.error));
                return fail();
            }
            referenceValid.setRemainingTime(std::chrono::seconds(referenceGrant.expiresIn - 10));
        }
        const ReferenceRun viaOAuth = AskReference(
            reference, "xoauth2", proxy.port(Side::Reference), referenceGrant.accessToken);
        const ReferenceRun viaPassword =
            AskReference(reference, "pass", proxy.port(Side::Reference));
        const ReferenceRun direct = AskReference(reference, "pass", office.pop3Port());
        const bool closed = WaitUntil(
            [&] {
                return proxy.count(Side::Reference) == refBase + 2 &&
                       proxy.openCount(Side::Reference) == 0;
            },
            10000);
        const std::vector<LogSession> logged = log.take(3, 5000);
        for (const ReferenceRun *r : {&viaOAuth, &viaPassword, &direct}) {
            if (!r->ok || r->messages != Memos || (!listing.isEmpty() && r->digest != listing))
                run.differs(QStringLiteral("a reference check: %1 (%2 messages)")
                                .arg(QString::fromUtf8(r->error))
                                .arg(r->messages));
            if (r->ok)
                listing = r->digest;
        }
        if (!closed || logged.size() != 3 || logged[0].method != "XOAUTH2" ||
            logged[1].method != "PLAIN" || logged[2].method != "PLAIN") {
            std::fprintf(stderr, "the references' sessions were not as sent\n");
            return fail();
        }
        refOAuthMs.push_back(proxy.session(Side::Reference, refBase).ms());
        refPasswordMs.push_back(proxy.session(Side::Reference, refBase + 1).ms());
        refClientMs.push_back(viaPassword.ms);
        refDirectMs.push_back(direct.ms);
    }
    const std::map<QString, int> after = OAuthStats(office);
    oauth.desk->stop();
    password.desk->stop();

    const auto count = [](const std::map<QString, int> &stats, const char *kind) {
        const auto it = stats.find(QLatin1String(kind));
        return it == stats.end() ? -1 : it->second;
    };
    const int refreshGrowth = count(after, "refresh_token") - count(before, "refresh_token");
    const bool tokensKept = count(before, "refresh_token") >= 0 && refreshGrowth >= 0 &&
                            refreshGrowth <= RefreshAllowance;
    if (!tokensKept)
        run.differs(QStringLiteral("the token endpoint granted %1 refreshes over the %2 timed "
                                   "checks: the desk fetches its token again")
                        .arg(refreshGrowth)
                        .arg(Rounds));
    // The desks' connections, the references' and the time they took.
    const std::vector<double> oauthMs = SessionMs(oauth.sessions);
    const std::vector<double> passwordMs = SessionMs(password.sessions);
    const double deskOAuth = Median(oauthMs), deskPassword = Median(passwordMs);
    const double ratio = deskOAuth / deskPassword;
    const double refOAuth = Median(refOAuthMs), refPassword = Median(refPasswordMs);
    const double refClient = Median(refClientMs), refDirect = Median(refDirectMs);
    int tlsSessions = 0;
    for (const DeskUnderTest *d : {&oauth, &password}) {
        for (const WireSession &s : d->sessions)
            tlsSessions += s.tls;
    }
    if (tlsSessions != 2 * Rounds)
        run.differs(QStringLiteral("%1 of %2 timed checks went into TLS by STLS")
                        .arg(tlsSessions)
                        .arg(2 * Rounds));

    std::printf("\n%-44s %10s %10s %7s %6s %4s\n", "figure (medians; time on the wire)",
                "desk-OAuth", "desk-pass", "ratio", "goal", "met");
    std::printf("%-44s %7.1f ms %7.1f ms %7.2f %6.1f %4s\n",
                qPrintable(QStringLiteral("known check, %1 memos, STLS").arg(Memos)), deskOAuth,
                deskPassword, ratio, Goal, Met(ratio <= Goal));
    std::printf("%-44s %10d %10s %7s %6s %4s\n", "token refreshes over the timed checks",
                refreshGrowth, "", "", qPrintable(QStringLiteral("<=%1").arg(RefreshAllowance)),
                Met(tokensKept));

    std::printf("\n");
    for (const DeskUnderTest *d : {&oauth, &password}) {
        int retr = 0, dele = 0;
        QByteArray methods;
        for (const LogSession &s : d->logged) {
            retr += s.retr;
            dele += s.dele;
            if (!methods.contains(s.method))
                methods += (methods.isEmpty() ? "" : " ") + s.method;
        }
        std::printf("%s desk: %lld sessions, median %.1f ms, each accept to close through TLS; "
                    "logins %s; RETR %d, DELE %d in all; median %.0f bytes from the server\n"
                    "   runs: %s\n",
                    d->name, qlonglong(d->sessions.size()), Median(SessionMs(d->sessions)),
                    methods.constData(), retr, dele, MedianBytes(d->sessions),
                    RunList(SessionMs(d->sessions)).constData());
    }
    std::printf("references (STLS, login, STAT, UIDL, QUIT; Python), on the wire: XOAUTH2 %.1f ms, "
                "USER/PASS %.1f ms (ratio %.2f: what the office spends on a token, asking the "
                "authorization server at every login)\n"
                "   USER/PASS as its client timed it: direct %.1f ms, through the proxy %.1f ms "
                "(proxy +%.1f ms)\n",
                refOAuth, refPassword, refOAuth / refPassword, refDirect, refClient,
                refClient - refDirect);
    std::printf(
        "the OAuth desk's check takes %.1f ms longer than the password desk's, the "
        "XOAUTH2 reference's %.1f ms longer than USER/PASS: the desk's own share %+.1f ms\n",
        deskOAuth - deskPassword, refOAuth - refPassword,
        (deskOAuth - deskPassword) - (refOAuth - refPassword));
    std::printf("authorization server, before the first checks / the timed checks / after: "
                "refresh_token %d / %d / %d, authorization_code %d / %d / %d, introspect %d / "
                "%d / %d\n",
                count(atStart, "refresh_token"), count(before, "refresh_token"),
                count(after, "refresh_token"), count(atStart, "authorization_code"),
                count(before, "authorization_code"), count(after, "authorization_code"),
                count(atStart, "introspect"), count(before, "introspect"),
                count(after, "introspect"));
    std::printf("ratio: known %d over STLS, XOAUTH2 / USER/PASS %.2f (goal %.1f); token "
                "refreshes over %d checks %d (goal <=%d)\n",
                Memos, ratio, Goal, Rounds, refreshGrowth, RefreshAllowance);
    std::printf("machine load (1, 5, 15 min) at the end: %s\n", LoadAverage().constData());
    return KeepIfBad(run.good, work, "a check differed from what it should be");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString programDir = app.arguments().value(1, QStringLiteral(TAV_PROGRAM_DIR));
    return RunBench(QDir(programDir).absolutePath());
}
