#pragma once
// One SMTP job delivering one mail over its own line session: HELO, MAIL
// FROM, one RCPT TO per recipient, DATA, the mail text, and QUIT once the
// server has accepted it. With TLS or authentication configured it greets
// with EHLO, secures the connection (STARTTLS) and authenticates (AUTH PLAIN
// or LOGIN; XOAUTH2 or OAUTHBEARER with a token) before the mail. The program and the reply
// component both use it.

#include "LineSession.h"
#include "SaslOAuth.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

/// Lines of a mail text with dot-stuffing applied and CR LF after each line,
/// followed by the end of data (CR LF "." CR LF).
QByteArray SmtpDataBlock(const QByteArray &mailText);

class SmtpSend : public QObject
{
    Q_OBJECT

public:
    /// The reply the job waits for.
    enum class State : qint16 {
        Greeting = 0,   ///< the server's greeting
        Helo = 1,       ///< reply to HELO
        Rcpt = 2,       ///< reply to MAIL FROM or to a RCPT TO but the last
        LastRcpt = 3,   ///< reply to the last RCPT TO
        Data = 4,       ///< reply to DATA
        EndOfData = 6,  ///< reply to the end of data
        Quit = 7,       ///< reply to QUIT, after the mail was accepted
        StartTls = 8,   ///< reply to STARTTLS
        Auth = 9,       ///< reply to AUTH PLAIN, or to the password of AUTH LOGIN
        AuthLogin = 10, ///< reply to AUTH LOGIN
        AuthUser = 11,  ///< reply to the user name of AUTH LOGIN
        AuthOAuth = 12, ///< reply to AUTH XOAUTH2 or OAUTHBEARER
        AuthToken = 13, ///< reply to the token
        AuthError = 14, ///< the final reply, after answering an error challenge
    };

    struct Settings
    {
        QString server;
        QString port;
        QString heloName;
        LineLimits limits;
        TlsSettings tls; ///< Upgrade: STARTTLS after EHLO
        bool auth = false;
        QString authUser;
        QString authPassword;
        OAuthLogin oauth; ///< enabled: the token instead of the password
    };

    explicit SmtpSend(const Settings &settings, QObject *parent = nullptr);
    ~SmtpSend() override;

    /// Connects and delivers mailText (7-bit, lines ending in CR LF but the
    /// last) from fromAddress to the recipients, in order. Blank recipients
    /// are skipped; the others are trimmed. An address or HELO name holding
    /// CR, LF or NUL is refused before anything is sent.
    void sendMail(const QString &fromAddress, const QStringList &recipients,
                  const QByteArray &mailText);

    /// Drops the connection at once; nothing more is reported but closed().
    void cancel();

    State state() const { return m_state; }
    bool isClosed() const { return m_line->isClosed(); }

Q_SIGNALS:
    void statusText(const QString &text);
    /// The server accepted the mail.
    void sent();
    /// The job failed; the text is the one to show.
    void failed(const QString &errorText);
    /// The connection is closed; once, after sent() or failed().
    void closed();

private:
    void onReply(const LineReply &reply);
    void onFailed(const QString &errorText);
    void command(State next, const QString &text, const QString &shown = QString());
    void greet();
    /// After EHLO: STARTTLS, AUTH or the mail, as configured and offered.
    void afterEhlo(const QByteArray &reply);
    void mailFrom(const QString &lastReply);
    void fail(const QString &errorText);
    void newLine();
    /// Connects with what sendMail() was given: a fresh token first if one is wanted.
    void begin();

    Settings m_settings;
    std::unique_ptr<LineSession> m_line;
    State m_state = State::Greeting;
    QString m_from;
    QStringList m_recipients;
    QString m_lastRecipient;
    QByteArray m_mail;
    bool m_done = false;
    bool m_authenticated = false;
    bool m_tokenRefused = false;
    OAuthTokens *m_tokens = nullptr; ///< where a fresh token comes from
    bool m_retried = false;          ///< the one try with a fresh token is spent
    SaslMechanism m_mechanism = SaslMechanism::XOAuth2;
};
