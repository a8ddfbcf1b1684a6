// Signing in and keeping tokens, against a token endpoint played on the
// loopback address; the test is the browser.

#include "FakeServer.h"
#include "MailCheck.h"
#include "Messages.h"
#include "OAuthTokens.h"
#include "SmtpSend.h"

#include <QtNetwork>
#include <QtTest>

using namespace Qt::StringLiterals;

/// A token endpoint answering each POST with the next scripted answer.
class FakeTokenEndpoint : public QTcpServer
{
public:
    FakeTokenEndpoint() { listen(QHostAddress::LocalHost, 0); }
    QList<QByteArray> answers; ///< "status json"; taken in order
    QList<QUrlQuery> forms;    ///< what came, in order

    OAuthConfig config() const
    {
        return {u"custom"_s,
                u"desk"_s,
                {},
                QUrl(u"https://auth.invalid/authorize?tenant=x"_s),
                QUrl(u"http://127.0.0.1:%1/token"_s.arg(serverPort())),
                u"mail offline_access"_s};
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            const QByteArray in = socket->peek(1 << 16);
            const qsizetype end = in.indexOf("\r\n\r\n");
            const QRegularExpressionMatch length =
                QRegularExpression(u"Content-Length: *(\\d+)"_s,
                                   QRegularExpression::CaseInsensitiveOption)
                    .match(QString::fromLatin1(in));
            if (end < 0 || in.size() < end + 4 + length.captured(1).toInt())
                return;
            forms << QUrlQuery(QString::fromUtf8(in.mid(end + 4)));
            const QByteArray answer = answers.isEmpty() ? "500 {}" : answers.takeFirst();
            const QByteArray body = answer.mid(4);
            socket->write("HTTP/1.1 " + answer.left(3) +
                          " X\r\nContent-Type: application/json\r\nConnection: close\r\n"
                          "Content-Length: " +
                          QByteArray::number(body.size()) + "\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
    }
};

/// What a browser gets from GET target on port, sent with host as Host.
static QByteArray Browse(quint16 port, const QByteArray &target, const QByteArray &host)
{
    QTcpSocket socket;
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    QByteArray page;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { page += socket.readAll(); });
    // The listener answers on this thread's event loop, then closes.
    if (socket.state() != QAbstractSocket::UnconnectedState)
        closed.wait(5000);
    return page + socket.readAll();
}

/// A desk signed in with the access token a1; its endpoint answers a refresh with answer.
struct SignedIn
{
    QTemporaryDir folder;
    FakeTokenEndpoint endpoint;
    OAuthTokens tokens{folder.filePath(u"Tavrino.ini"_s)};
    explicit SignedIn(const QByteArray &answer = R"(200 {"access_token":"a2","expires_in":3600})")
    {
        endpoint.answers << answer;
        tokens.setConfig(endpoint.config());
        tokens.takeGrant({u"a1"_s, u"r1"_s, QDateTime::currentDateTimeUtc().addSecs(3600)});
    }
};

class TestOAuth : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signIn_data()
    {
        QTest::addColumn<QByteArray>("first"); // what comes before the provider's redirect
        QTest::addColumn<QString>("outcome");  // "signed in" or the failure
        // clang-format off
        QTest::newRow("the redirect") << QByteArray() << u"signed in"_s;
        QTest::newRow("a page naming another port first") << QByteArray("other port") << u"signed in"_s;
        QTest::newRow("another path first") << QByteArray("favicon") << u"signed in"_s;
        QTest::newRow("a wrong state") << QByteArray("wrong state") << u"サインインできませんでした: state"_s;
        QTest::newRow("refused at the provider") << QByteArray("access_denied") << u"サインインできませんでした: access_denied"_s;
        // clang-format on
    }
    void signIn()
    {
        QFETCH(QByteArray, first);
        QFETCH(QString, outcome);
        FakeTokenEndpoint endpoint;
        endpoint.answers << R"(200 {"access_token":"a1","refresh_token":"r1","expires_in":3600})";
        QNetworkAccessManager network;
        OAuthSignIn signIn(endpoint.config(), &network);
        QUrl opened;
        QStringList outcomes;
        connect(&signIn, &OAuthSignIn::openBrowser, this, [&](const QUrl &url) { opened = url; });
        connect(&signIn, &OAuthSignIn::signedIn, this, [&](const OAuthGrant &g) {
            outcomes << u"signed in"_s << g.accessToken << g.refreshToken;
        });
        connect(&signIn, &OAuthSignIn::failed, this, [&](const QString &e) { outcomes << e; });
        signIn.start();
        const QUrlQuery asked(opened);
        QCOMPARE(asked.queryItemValue(u"tenant"_s), u"x"_s);
        const QByteArray port = QByteArray::number(signIn.port());
        QCOMPARE(asked.queryItemValue(u"redirect_uri"_s), u"http://127.0.0.1:"_s + port + u'/');
        const QByteArray host = "127.0.0.1:" + port;
        const QByteArray state = asked.queryItemValue(u"state"_s).toLatin1();
        const QByteArray done = u"サインインが完了しました"_s.toUtf8();
        if (first == "other port" || first == "favicon") {
            const QByteArray page =
                first == "favicon"
                    ? Browse(signIn.port(), "/favicon.ico", host)
                    : Browse(signIn.port(), "/?code=c0&state=" + state, "127.0.0.1:1");
            QVERIFY(page.startsWith("HTTP/1.1 404"));
        } else if (!first.isEmpty()) {
            const QByteArray query = first == "wrong state"
                                         ? QByteArray("code=c1&state=x" + state)
                                         : QByteArray("error=" + first + "&state=" + state);
            QVERIFY(!Browse(signIn.port(), "/?" + query, host).contains(done));
            QCOMPARE(outcomes, QStringList{outcome});
            QCOMPARE(endpoint.forms.size(), 0);
            return;
        }
        QVERIFY(Browse(signIn.port(), "/?code=c1&state=" + state, host).contains(done));
        QTRY_COMPARE(outcomes, QStringList({outcome, u"a1"_s, u"r1"_s}));
        // The code and its verifier: the office's authorization server checks them (tst_e2e_oauth).
        QCOMPARE(endpoint.forms.value(0).queryItemValue(u"code"_s), u"c1"_s);
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, signIn.port());
        QVERIFY(!late.waitForConnected(2000));
    }

    void listenerTimesOut()
    {
        QNetworkAccessManager network;
        OAuthSignIn signIn(FakeTokenEndpoint().config(), &network);
        signIn.setListenMs(50);
        QSignalSpy failed(&signIn, &OAuthSignIn::failed);
        signIn.start();
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.first().first().toString(), Msg::SignInTimedOut);
    }

    // An expired access token is refreshed once, however many ask; a
    // refused refresh token wants a sign-in (never asked again: tst_e2e_oauth).
    void tokens_data()
    {
        QTest::addColumn<QByteArray>("answer"); // of the token endpoint to the refresh
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("signInNeeded");
        // clang-format off
        QTest::newRow("refreshed") << QByteArray(R"(200 {"access_token":"a2","expires_in":3600})") << u"a2"_s << QString() << false;
        QTest::newRow("revoked") << QByteArray(R"(400 {"error":"invalid_grant"})") << QString() << Msg::SignInAgain << true;
        QTest::newRow("endpoint down") << QByteArray(R"(503 {"error":"temporarily_unavailable"})") << QString() << u"temporarily_unavailable"_s << false;
        // clang-format on
    }
    void tokens()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, token);
        QFETCH(QString, error);
        QFETCH(bool, signInNeeded);
        SignedIn desk(answer);
        FakeTokenEndpoint &endpoint = desk.endpoint;
        OAuthTokens &tokens = desk.tokens;
        // Nobody but the owner: no group or other bits.
        QCOMPARE(QFile(tokens.secretFile()).permissions() & 0x0FFF,
                 QFileDevice::ReadUser | QFileDevice::WriteUser);
        QStringList got;
        auto ask = [&] {
            tokens.accessToken(this,
                               [&](const QString &t, const QString &e) { got << t + u'|' + e; });
        };
        ask();
        QCOMPARE(got, QStringList(u"a1|"_s)); // fresh: nothing asked
        tokens.dropAccessToken();             // as after a refused login
        got.clear();
        ask();
        ask();
        QTRY_COMPARE(got.size(), 2);
        QCOMPARE(endpoint.forms.size(), 1);
        QCOMPARE(endpoint.forms[0].queryItemValue(u"refresh_token"_s), u"r1"_s);
        QCOMPARE(got[0].section(u'|', 0, 0), token);
        QVERIFY2(got[0].section(u'|', 1).contains(error), qPrintable(got[0]));
        QCOMPARE(got[0], got[1]);
        QCOMPARE(tokens.needsSignIn(), signInNeeded); // what the failure box offers
    }

    // A login refused with the token at hand is tried once more with a fresh
    // one over a new connection; refused again, the check fails once, as any
    // check does.
    void retriesOnce_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<bool>("againRefused");
        QTest::newRow("check: the fresh token refused too") << u"check"_s << true;
        QTest::newRow("send: the fresh token taken") << u"send"_s << false;
        QTest::newRow("deletion: the fresh token taken") << u"delete"_s << false;
    }
    void retriesOnce()
    {
        QFETCH(QString, job);
        QFETCH(bool, againRefused);
        const bool smtp = job == u"send"_s;
        SignedIn desk;
        FakeServer server;
        const QByteArray login =
            smtp ? "<220 hi|>EHLO host1|<250-host1\r\n250 AUTH XOAUTH2|>AUTH XOAUTH2|<334 |>*"
                 : "<+OK|>CAPA|<+OK\r\nSASL XOAUTH2\r\n.|>AUTH XOAUTH2|<+|>*";
        const QByteArray refused = smtp ? "|<535 5.7.8 no|C" : "|<-ERR [AUTH] failed|C";
        const QByteArray taken =
            smtp ? "|<235 ok|>MAIL FROM:<a@b>|<250 ok|>RCPT TO:<c@d>|<250 ok|"
                   ">DATA|<354 go|>x|>|>.|<250 ok|>QUIT|<221 bye|C"
            : job == u"delete"_s
                ? "|<+OK|>STAT|<+OK 1 9|>UIDL|<+OK\r\n1 u1\r\n.|>DELE 1|<+OK|>QUIT|<+OK|C"
                : "|<+OK|>STAT|<+OK 0 0|>QUIT|<+OK|C";
        server.script(login + refused + "|" + login + (againRefused ? refused : taken));
        const OAuthLogin oauth{true, u"user1@host1"_s, QString(), &desk.tokens};
        QStringList errors;
        int done = -1;
        std::unique_ptr<QObject> owner;
        if (smtp) {
            auto *send = new SmtpSend({.server = u"127.0.0.1"_s,
                                       .port = QString::number(server.port()),
                                       .heloName = u"host1"_s,
                                       .auth = true,
                                       .oauth = oauth});
            owner.reset(send);
            connect(send, &SmtpSend::sent, this, [&] { done = 1; });
            connect(send, &SmtpSend::failed, this, [&](const QString &e) { errors << e; });
            send->sendMail(u"a@b"_s, {u"c@d"_s}, "x");
        } else {
            Pop3Settings settings = Pop3At(server.port());
            settings.oauth = oauth;
            auto *check = new MailCheck(settings, u"60"_s);
            owner.reset(check);
            connect(check, &MailCheck::errorMessage, this, [&](const QString &e) { errors << e; });
            connect(check, &MailCheck::checkEnded, this, [&](bool ok) { done = ok; });
            if (job == u"delete"_s)
                check->requestDelete(u"uid:u1"_s, nullptr,
                                     [&](MailCheck::DeleteResult r, const QString &e) {
                                         done = r == MailCheck::DeleteResult::Deleted;
                                         if (!e.isEmpty())
                                             errors << e;
                                     });
            else
                check->start();
        }
        QTRY_VERIFY_WITH_TIMEOUT(done >= 0 || !errors.isEmpty(), 10000);
        QTRY_VERIFY(server.done() || !server.failure().isEmpty());
        QCOMPARE(done, int(!againRefused));
        QCOMPARE(errors.size(), againRefused ? 1 : 0);
        VERIFY_SCRIPT(server);
        QCOMPARE(server.connections(), 2);
        QCOMPARE(desk.endpoint.forms.size(), 1);
        const QList<QByteArray> sent = server.received();
        QVERIFY(QByteArray::fromBase64(sent.value(2)).contains("auth=Bearer a1\x01"));
        QVERIFY(QByteArray::fromBase64(sent.value(5)).contains("auth=Bearer a2\x01"));
    }
};

QTEST_GUILESS_MAIN(TestOAuth)
#include "tst_oauth.moc"
