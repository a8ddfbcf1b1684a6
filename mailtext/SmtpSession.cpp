#include "SmtpSession.h"

#include "Messages.h"
#include "WSock.h"

#include <QTcpSocket>

namespace {
constexpr int TimedOutNumber = 10060;
constexpr int TooLargeNumber = 10040;
constexpr qsizetype MaxSmtpReply = 1024 * 1024;

QString ReplyText(const QByteArray &reply)
{
    QByteArray text = reply;
    if (text.endsWith("\r\n"))
        text.chop(2);
    return QString::fromLatin1(text);
}
} // namespace

SmtpFrame FrameSmtpReply(const QByteArray &buffer)
{
    qsizetype pos = 0;
    while (true) {
        const qsizetype end = buffer.indexOf("\r\n", pos);
        if (end < 0)
            return {false, buffer.size() > MaxSmtpReply, 0};
        const qsizetype lineLength = end - pos;
        const bool continued = lineLength >= 4 && buffer.at(pos + 3) == '-';
        pos = end + 2;
        if (!continued)
            return {true, false, pos};
    }
}

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

SmtpSession::SmtpSession(const Settings &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &SmtpSession::onWatchdog);
}

SmtpSession::~SmtpSession()
{
    // No signal may leave a session being destroyed (its owner may be half gone).
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void SmtpSession::sendMail(const QString &fromAddress, const QStringList &recipients,
                           const QByteArray &mailText)
{
    m_from = fromAddress;
    m_recipients.clear();
    for (const QString &r : recipients) {
        if (!r.trimmed().isEmpty())
            m_recipients.append(r.trimmed());
    }
    m_mail = mailText;
    m_state = State::Greeting;
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &SmtpSession::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &SmtpSession::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &SmtpSession::onSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &SmtpSession::onDisconnected);
    m_connecting = true;
    m_watchdog.start(m_settings.replyTimeoutMs);
    if (!StartConnect(m_socket, m_settings.server, m_settings.port)) {
        // Deferred, so that the caller sees the failure as a signal like any other.
        QTimer::singleShot(
            0, this, [this] { fail(QStringLiteral("connect:") + WSAErrorText(BadPortNumber)); });
    }
}

void SmtpSession::onConnected()
{
    m_connecting = false;
    Q_EMIT statusText(Msg::Connecting);
    m_watchdog.start(m_settings.replyTimeoutMs);
}

void SmtpSession::onReadyRead()
{
    if (m_closed)
        return;
    m_buffer += m_socket->readAll();
    m_watchdog.start(m_state == State::Quit ? m_settings.quitTimeoutMs : m_settings.replyTimeoutMs);
    while (!m_closed && !m_buffer.isEmpty()) {
        const SmtpFrame frame = FrameSmtpReply(m_buffer);
        if (frame.bad) {
            fail(QStringLiteral("recv:") + WSAErrorText(TooLargeNumber));
            return;
        }
        if (!frame.complete)
            return;
        const QByteArray reply = m_buffer.left(frame.length);
        m_buffer.remove(0, frame.length);
        handleReply(reply);
    }
}

void SmtpSession::handleReply(const QByteArray &reply)
{
    const QString text = ReplyText(reply);
    if (m_state == State::Quit) {
        finishClose(); // the user has seen "Message Sent!"; the reply to QUIT is not shown
        return;
    }
    Q_EMIT statusText(text);
    const QByteArray code = reply.left(3).toUpper();
    auto expect = [&](const char *wanted) {
        if (code == wanted)
            return true;
        fail(QStringLiteral("recv:") + text);
        return false;
    };
    switch (m_state) {
    case State::Greeting:
        if (expect("220"))
            sendCommand(State::Helo, QStringLiteral("HELO ") + m_settings.heloName);
        return;
    case State::Helo:
        if (expect("250"))
            sendCommand(State::Rcpt, QStringLiteral("MAIL FROM:<") + m_from + QLatin1Char('>'));
        return;
    case State::Rcpt:
        if (!expect("250"))
            return;
        if (m_recipients.isEmpty()) {
            fail(QStringLiteral("recv:") + text);
            return;
        }
        {
            const QString recipient = m_recipients.takeFirst();
            sendCommand(m_recipients.isEmpty() ? State::LastRcpt : State::Rcpt,
                        QStringLiteral("RCPT TO:<") + recipient + QLatin1Char('>'));
        }
        return;
    case State::LastRcpt:
        if (expect("250"))
            sendCommand(State::Data, QStringLiteral("DATA"));
        return;
    case State::Data: {
        if (!expect("354"))
            return;
        m_state = State::EndOfData;
        const QByteArray block = SmtpDataBlock(m_mail);
        // The last line of the mail shows while the server takes the data.
        const qsizetype lastLineEnd = block.size() - 7;
        const qsizetype lastLineStart = block.lastIndexOf("\r\n", lastLineEnd - 1);
        Q_EMIT statusText(QString::fromLatin1(
            block.mid(lastLineStart < 0 ? 0 : lastLineStart + 2,
                      lastLineEnd - (lastLineStart < 0 ? 0 : lastLineStart + 2))));
        m_watchdog.start(m_settings.replyTimeoutMs);
        if (m_socket->write(block) != block.size())
            fail(SocketErrorMessage(QStringLiteral("send"), m_socket->error()));
        return;
    }
    case State::EndOfData:
        if (!code.startsWith('2')) {
            fail(QStringLiteral("recv:") + text);
            return;
        }
        m_done = true;
        Q_EMIT sent();
        // A polite end: the server would log an abrupt close otherwise.
        m_state = State::Quit;
        m_watchdog.start(m_settings.quitTimeoutMs);
        m_socket->write("QUIT\r\n");
        return;
    case State::Quit:
        return;
    }
}

void SmtpSession::sendCommand(State next, const QString &command)
{
    m_state = next;
    Q_EMIT statusText(command);
    m_watchdog.start(m_settings.replyTimeoutMs);
    QByteArray bytes = command.toLatin1();
    bytes += "\r\n";
    if (m_socket->write(bytes) != bytes.size())
        fail(SocketErrorMessage(QStringLiteral("send"), m_socket->error()));
}

void SmtpSession::fail(const QString &errorText)
{
    if (m_closed)
        return;
    if (m_done) {
        finishClose(); // the mail was accepted; the end of the session does not matter
        return;
    }
    m_done = true;
    Q_EMIT failed(errorText);
    finishClose();
}

void SmtpSession::onSocketError()
{
    if (m_closed)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (m_connecting)
        fail(SocketErrorMessage(QStringLiteral("connect"), error));
    else if (error == QAbstractSocket::RemoteHostClosedError)
        onDisconnected();
    else
        fail(SocketErrorMessage(QStringLiteral("recv"), error));
}

void SmtpSession::onDisconnected()
{
    if (m_closed)
        return;
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
    if (m_closed)
        return;
    fail(QStringLiteral("recv:") +
         WSAErrorText(SocketErrorNumber(QAbstractSocket::RemoteHostClosedError)));
}

void SmtpSession::onWatchdog()
{
    if (m_closed)
        return;
    fail((m_connecting ? QStringLiteral("connect:") : QStringLiteral("recv:")) +
         WSAErrorText(TimedOutNumber));
}

void SmtpSession::finishClose()
{
    if (m_closed)
        return;
    m_closed = true;
    m_watchdog.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    Q_EMIT closed();
}
