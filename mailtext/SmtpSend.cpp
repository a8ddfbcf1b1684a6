#include "SmtpSend.h"

#include "Cp932.h"
#include "Messages.h"
#include "OAuthTokens.h"
#include "WSock.h"

#include <QTimer>

namespace {
constexpr int TimedOutNumber = 10060;

QString ReplyText(const QByteArray &reply)
{
    QByteArray text = reply;
    if (text.endsWith("\r\n"))
        text.chop(2);
    return Cp932::Decode(text);
}

/// The extension keywords of an EHLO reply, upper-cased, each with its
/// parameters: "STARTTLS", "AUTH PLAIN LOGIN".
QList<QByteArrayList> Extensions(const QByteArray &reply)
{
    QList<QByteArrayList> out;
    const QByteArrayList lines = reply.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed().toUpper();
        if (line.size() > 4)
            out.append(line.mid(4).replace('=', ' ').simplified().split(' '));
    }
    return out;
}

/// An argument as it can be shown: control characters become "?".
QString Shown(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20)
            c = QLatin1Char('?');
    }
    return text;
}
} // namespace

QByteArray SmtpDataBlock(const QByteArray &mailText)
{
    QByteArray out;
    out.reserve(mailText.size() + mailText.size() / 32 + 8);
    qsizetype pos = 0;
    while (pos < mailText.size()) {
        qsizetype end = mailText.indexOf("\r\n", pos);
        if (end < 0)
            end = mailText.size();
        // A line that begins with "." gets one more in front, the first line included.
        if (mailText.at(pos) == '.')
            out += '.';
        out.append(mailText.constData() + pos, end - pos);
        out += "\r\n";
        pos = end + 2;
    }
    out += "\r\n.\r\n";
    return out;
}

SmtpSend::SmtpSend(const Settings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_tokens(settings.oauth.tokens)
{
    newLine();
}

SmtpSend::~SmtpSend() = default;

void SmtpSend::newLine()
{
    m_line = std::make_unique<LineSession>(m_settings.limits);
    LineSession *line = m_line.get();
    connect(line, &LineSession::statusText, this, &SmtpSend::statusText);
    connect(line, &LineSession::replied, this, &SmtpSend::onReply);
    connect(line, &LineSession::failed, this, &SmtpSend::onFailed);
    connect(line, &LineSession::closed, this, &SmtpSend::closed);
    connect(line, &LineSession::secured, this, &SmtpSend::greet);
}

void SmtpSend::greet()
{
    // EHLO only where an extension is wanted: the plain dialogue stays HELO.
    const bool extended = m_settings.tls.mode != TlsMode::None || m_settings.auth;
    command(State::Helo,
            (extended ? QStringLiteral("EHLO ") : QStringLiteral("HELO ")) + m_settings.heloName);
}

void SmtpSend::afterEhlo(const QByteArray &reply)
{
    const QList<QByteArrayList> offered = Extensions(reply);
    auto offers = [&](const QByteArray &keyword) {
        for (const QByteArrayList &words : offered) {
            if (words.value(0) == keyword)
                return words;
        }
        return QByteArrayList();
    };
    if (m_settings.tls.mode == TlsMode::Upgrade && !m_line->isEncrypted()) {
        if (offers("STARTTLS").isEmpty()) {
            fail(QStringLiteral("STARTTLS:") + Msg::TlsNotOffered.arg(QStringLiteral("STARTTLS")));
            return;
        }
        command(State::StartTls, QStringLiteral("STARTTLS"));
        return;
    }
    if (m_settings.auth && !m_authenticated) {
        const QByteArrayList mechanisms = offers("AUTH");
        const QString hidden = QStringLiteral("AUTH ****");
        if (m_settings.oauth.enabled) {
            m_mechanism = ChooseSaslMechanism(mechanisms);
            command(State::AuthOAuth, QStringLiteral("AUTH ") + SaslMechanismName(m_mechanism));
        } else if (mechanisms.contains("PLAIN")) {
            const QByteArray secret = '\0' + Cp932::Encode(m_settings.authUser) + '\0' +
                                      Cp932::Encode(m_settings.authPassword);
            command(State::Auth,
                    QStringLiteral("AUTH PLAIN ") + QString::fromLatin1(secret.toBase64()), hidden);
        } else if (mechanisms.contains("LOGIN")) {
            command(State::AuthLogin, QStringLiteral("AUTH LOGIN"));
        } else {
            fail(QStringLiteral("AUTH:") + Msg::AuthNotOffered);
        }
        return;
    }
    mailFrom(ReplyText(reply));
}

void SmtpSend::mailFrom(const QString &lastReply)
{
    if (m_recipients.isEmpty()) {
        fail(QStringLiteral("recv:") + lastReply); // nobody to send to: nothing goes out
        return;
    }
    command(State::Rcpt, QStringLiteral("MAIL FROM:<") + m_from + QLatin1Char('>'));
}

void SmtpSend::sendMail(const QString &fromAddress, const QStringList &recipients,
                        const QByteArray &mailText)
{
    m_from = fromAddress;
    m_recipients.clear();
    for (const QString &r : recipients) {
        if (!r.trimmed().isEmpty())
            m_recipients.append(r.trimmed());
    }
    m_mail = mailText;
    begin();
}

void SmtpSend::begin()
{
    m_state = State::Greeting;
    // A fresh token first, shared with every other job of the desk.
    const auto then = [this](const QString &error) {
        if (m_done) // cancelled meanwhile
            return;
        if (error.isEmpty()) {
            begin();
        } else {
            fail(QStringLiteral("AUTH:") + error);
            m_line->abort();
        }
    };
    if (m_settings.tls.configError.isEmpty() &&
        OAuthTokens::fetchFor(&m_settings.oauth, this, then))
        return;
    // Checked before connecting: such an argument would end its command early
    // and smuggle in one of its own.
    QString unsafe;
    const OAuthLogin &oauth = m_settings.oauth;
    if (oauth.enabled && oauth.accessToken.isEmpty() && m_settings.tls.configError.isEmpty())
        unsafe = QStringLiteral("AUTH:") + Msg::NotSignedIn;
    else if (oauth.enabled && !(IsSafeArgument(oauth.user) && IsSafeArgument(oauth.accessToken)))
        unsafe = QStringLiteral("AUTH:") + Msg::UnsafeArgument + QStringLiteral("AUTH");
    else if (!IsSafeArgument(m_settings.heloName))
        unsafe = QStringLiteral("HELO:") + Msg::UnsafeArgument + Shown(m_settings.heloName);
    else if (!IsSafeArgument(m_from))
        unsafe = QStringLiteral("MAIL FROM:") + Msg::UnsafeArgument + Shown(m_from);
    for (const QString &r : std::as_const(m_recipients)) {
        if (unsafe.isEmpty() && !IsSafeArgument(r))
            unsafe = QStringLiteral("RCPT TO:") + Msg::UnsafeArgument + Shown(r);
    }
    if (!unsafe.isEmpty()) {
        QTimer::singleShot(0, this, [this, unsafe] {
            fail(unsafe);
            m_line->abort();
        });
        return;
    }
    m_authenticated = false;
    m_tokenRefused = false;
    m_line->open(m_settings.server, m_settings.port, ReplyForm::Smtp, m_settings.tls);
}

void SmtpSend::cancel()
{
    m_done = true;
    m_line->abort();
}

void SmtpSend::command(State next, const QString &text, const QString &shown)
{
    m_state = next;
    m_line->send(Cp932::Encode(text), ReplyForm::Smtp, shown.isEmpty() ? text : shown);
}

void SmtpSend::fail(const QString &errorText)
{
    if (m_done)
        return;
    if (m_tokenRefused && m_tokens && !std::exchange(m_retried, true)) {
        // A token the server refused may only be stale: once more with a
        // fresh one, over a connection of its own. Nothing was sent yet.
        LineSession *old = m_line.release();
        old->disconnect(this);
        old->abort();
        old->deleteLater();
        newLine();
        m_tokens->dropAccessToken();
        m_settings.oauth.accessToken.clear();
        m_settings.oauth.tokens = m_tokens;
        begin();
        return;
    }
    m_done = true;
    Q_EMIT failed(errorText);
    m_line->abort();
}

void SmtpSend::onFailed(const QString &errorText)
{
    if (m_done)
        return; // the mail was accepted; how the connection ends does not matter
    QString text = errorText;
    if (m_state == State::EndOfData &&
        errorText == QStringLiteral("recv:") + WSAErrorText(TimedOutNumber)) {
        // The server has the whole mail and did not answer: it may have stored it.
        text += QStringLiteral("\r\n") + Msg::MayBeDelivered;
    }
    m_done = true;
    Q_EMIT failed(text);
}

void SmtpSend::onReply(const LineReply &reply)
{
    const QString text = ReplyText(reply.bytes);
    Q_EMIT statusText(text);
    const QByteArray code = reply.bytes.left(3);
    auto expect = [&](const char *wanted) {
        if (code == wanted)
            return true;
        QString error = QStringLiteral("recv:") + text;
        if (m_state == State::Rcpt || m_state == State::LastRcpt) {
            if (!m_lastRecipient.isEmpty())
                error += QStringLiteral("\r\n") + Msg::RefusedRecipient + Shown(m_lastRecipient);
        }
        fail(error);
        return false;
    };
    switch (m_state) {
    case State::Greeting:
        if (expect("220"))
            greet();
        return;
    case State::Helo:
        if (!expect("250"))
            return;
        if (m_settings.tls.mode != TlsMode::None || m_settings.auth)
            afterEhlo(reply.bytes);
        else
            mailFrom(text);
        return;
    case State::StartTls:
        if (expect("220"))
            m_line->startTls(); // EHLO again once secured
        return;
    case State::AuthLogin:
        if (expect("334"))
            command(State::AuthUser,
                    QString::fromLatin1(Cp932::Encode(m_settings.authUser).toBase64()),
                    QStringLiteral("AUTH ****"));
        return;
    case State::AuthUser:
        if (expect("334"))
            command(State::Auth,
                    QString::fromLatin1(Cp932::Encode(m_settings.authPassword).toBase64()),
                    QStringLiteral("AUTH ****"));
        return;
    case State::AuthOAuth:
        // The token in a line of its own: too long for the command.
        if (expect("334"))
            command(State::AuthToken,
                    QString::fromLatin1(SaslOAuthResponse(m_mechanism, m_settings.oauth,
                                                          m_settings.server, m_settings.port)),
                    QStringLiteral("AUTH ****"));
        return;
    case State::AuthToken:
        if (code == "334") {
            // A refusal, told as a challenge; the final reply follows the answer.
            m_tokenRefused = true;
            command(State::AuthError, QString::fromLatin1(SaslErrorAnswer(m_mechanism)),
                    QStringLiteral("AUTH ****"));
            return;
        }
        m_tokenRefused = code.startsWith('5');
        [[fallthrough]];
    case State::Auth:
        if (!expect("235"))
            return;
        m_authenticated = true;
        mailFrom(text);
        return;
    case State::AuthError:
        fail(QStringLiteral("recv:") + text);
        return;
    case State::Rcpt:
        if (!expect("250"))
            return;
        m_lastRecipient = m_recipients.takeFirst();
        command(m_recipients.isEmpty() ? State::LastRcpt : State::Rcpt,
                QStringLiteral("RCPT TO:<") + m_lastRecipient + QLatin1Char('>'));
        return;
    case State::LastRcpt:
        if (expect("250"))
            command(State::Data, QStringLiteral("DATA"));
        return;
    case State::Data: {
        if (!expect("354"))
            return;
        m_state = State::EndOfData;
        const QByteArray block = SmtpDataBlock(m_mail);
        // The last line of the mail shows while the server takes the data.
        const qsizetype lastLineEnd = block.size() - 7;
        const qsizetype lastLineStart = block.lastIndexOf("\r\n", lastLineEnd - 1);
        const qsizetype from = lastLineStart < 0 ? 0 : lastLineStart + 2;
        Q_EMIT statusText(QString::fromLatin1(block.mid(from, lastLineEnd - from)));
        m_line->sendBlock(block, ReplyForm::Smtp);
        return;
    }
    case State::EndOfData:
        if (!code.startsWith('2')) {
            fail(QStringLiteral("recv:") + text);
            return;
        }
        m_done = true;
        m_state = State::Quit;
        Q_EMIT sent();
        // A polite end: the server would log an abrupt close otherwise.
        m_line->quit("QUIT", ReplyForm::Smtp);
        return;
    case State::Quit:
        return;
    }
}
