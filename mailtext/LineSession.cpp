#include "LineSession.h"

#include "Messages.h"
#include "WSock.h"

#include <QPointer>
#include <QSslSocket>

namespace {
constexpr int TimedOutNumber = 10060;
constexpr int TooLargeNumber = 10040;
constexpr int ClosedNumber = 10054;
constexpr qsizetype ReadChunk = 64 * 1024;
constexpr int ChunksPerTurn = 16;
} // namespace

LineSession::TraceHook LineSession::s_traceHook = nullptr;

void LineSession::setTraceHook(TraceHook hook)
{
    s_traceHook = hook;
}

bool IsSafeArgument(const QString &text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0))
            return false;
    }
    return true;
}

LineSession::LineSession(const LineLimits &limits, QObject *parent)
    : QObject(parent), m_limits(limits), m_framer(limits)
{
    // The watchdog ticks at a tenth of the shortest bound and compares the
    // time since the command with the bound, so that a command costs no
    // timer registration of its own.
    const int shortest =
        qMin(qMin(m_limits.replyTimeoutMs, m_limits.quitTimeoutMs), m_limits.rateWindowMs);
    m_watchdog.setInterval(qBound(5, shortest / 10, 1000));
    connect(&m_watchdog, &QTimer::timeout, this, &LineSession::onWatchdog);
    m_readDelay.setSingleShot(true);
    connect(&m_readDelay, &QTimer::timeout, this, &LineSession::processBuffer);
}

LineSession::~LineSession()
{
    // No signal may reach an owner that is itself being destroyed.
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void LineSession::open(const QString &server, const QString &port, ReplyForm greeting,
                       const TlsSettings &tls)
{
    m_framer.expect(greeting);
    m_state = State::Connecting;
    arm(Watch::Connect, m_limits.replyTimeoutMs);
    // Failures before connecting are deferred, so that the caller sees them
    // as a signal like any other.
    auto failLater = [this](const QString &text) {
        QTimer::singleShot(0, this, [this, text] { fail(text); });
    };
    if (!tls.configError.isEmpty()) {
        failLater(tls.configError);
        return;
    }
    m_tlsMode = tls.mode;
    if (tlsSocket()) {
        QString error;
        QSslSocket *ssl = newTlsSocket(tls, &error);
        if (!ssl) {
            failLater(error);
            return;
        }
        m_socket = ssl;
    } else {
        m_socket = new QTcpSocket(this);
    }
    connect(m_socket, &QTcpSocket::connected, this, &LineSession::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &LineSession::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &LineSession::onSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &LineSession::onDisconnected);
    if (!StartConnect(m_socket, server, port, tls.mode == TlsMode::Implicit))
        failLater(QStringLiteral("connect:") + WSAErrorText(BadPortNumber));
}

void LineSession::onConnected()
{
    m_state = m_tlsMode == TlsMode::Implicit ? State::Handshaking : State::Awaiting;
    Q_EMIT statusText(Msg::Connecting);
    // A TLS connection's greeting comes after its handshake; the same bound
    // covers both.
    arm(Watch::Reply, m_limits.replyTimeoutMs);
}

void LineSession::send(const QByteArray &command, ReplyForm form, const QString &shown)
{
    if (m_state == State::Closed || isEnding())
        return;
    m_framer.expect(form);
    commandSent();
    Q_EMIT statusText(shown.isEmpty() ? QString::fromLatin1(command) : shown);
    arm(Watch::Reply, m_limits.replyTimeoutMs);
    write(command + "\r\n");
}

void LineSession::sendBlock(const QByteArray &block, ReplyForm form)
{
    if (m_state == State::Closed || isEnding())
        return;
    m_framer.expect(form);
    commandSent();
    arm(Watch::Reply, m_limits.replyTimeoutMs);
    write(block);
}

void LineSession::quit(const QByteArray &command, ReplyForm form)
{
    if (m_state == State::Closed || isEnding())
        return;
    if (m_state == State::Connecting || !m_socket ||
        m_socket->state() != QAbstractSocket::ConnectedState) {
        finishClose(); // nothing to say goodbye on
        return;
    }
    m_quitCommand = command;
    m_quitForm = form;
    if (awaitsReply()) {
        // The reply on its way is read whole first, so that it is never
        // taken for the answer to the closing command.
        m_state = State::Dropping;
        arm(Watch::Quit, m_limits.quitTimeoutMs * 2);
        return;
    }
    m_state = State::Quitting;
    m_framer.expect(form);
    arm(Watch::Quit, m_limits.quitTimeoutMs);
    write(command + "\r\n");
}

void LineSession::abort()
{
    finishClose();
}

bool LineSession::isIdle() const
{
    return m_state == State::Idle && m_socket &&
           m_socket->state() == QAbstractSocket::ConnectedState;
}

void LineSession::commandSent()
{
    // Where a reply is due already (the greeting, a handshake, the reply
    // before) the state stays: what comes next is framed the same way.
    if (m_state == State::Unopened || m_state == State::Idle)
        m_state = State::Awaiting;
}

void LineSession::onReadyRead()
{
    if (m_state == State::Closed)
        return;
    if (m_limits.readDelayMs > 0) {
        // The configured pause before each read, without freezing the window.
        if (!m_readDelay.isActive())
            m_readDelay.start(m_limits.readDelayMs);
        return;
    }
    processBuffer();
}

void LineSession::processBuffer()
{
    if (m_state == State::Closed || !m_socket)
        return;
    const bool open = readSocket();
    if (s_traceHook)
        s_traceHook(false);
    QPointer<LineSession> self(this);
    handleReplies();
    // What came with the close was handled; now the close itself.
    if (self && m_state != State::Closed && !open)
        connectionEnded(m_socket->error());
}

bool LineSession::readSocket()
{
    if (tlsSocket()) {
        const QByteArray bytes = m_socket->readAll();
        m_windowBytes += bytes.size();
        m_framer.append(bytes);
        return true;
    }
    // A plain socket is unbuffered (see StartConnect): read as it comes,
    // with no query of the size first. A full chunk may
    // have more behind it, but only so much is taken per turn: the window
    // keeps answering and the framer's bounds hold during a long answer. The
    // rest is announced again at once.
    if (m_chunk.isEmpty())
        m_chunk.resize(ReadChunk);
    qint64 n = 0;
    for (int i = 0; i < ChunksPerTurn; ++i) {
        n = m_socket->read(m_chunk.data(), m_chunk.size());
        if (n > 0) {
            m_windowBytes += n;
            m_framer.append(QByteArrayView(m_chunk.constData(), n));
        }
        if (n != m_chunk.size())
            break;
    }
    // The connection ended (the server closed it, or it failed): Qt reports
    // that on a direct read by its return only.
    return n >= 0;
}

void LineSession::handleReplies()
{
    QPointer<LineSession> self(this);
    while (self && m_state != State::Closed && !m_framer.isEmpty()) {
        if (!awaitsReply()) {
            // Nothing was asked: a server ending an idle session, or noise.
            // Either way the connection is over, and nothing failed.
            finishClose();
            return;
        }
        LineReply reply;
        const ReplyFramer::Status status = m_framer.next(reply);
        if (status == ReplyFramer::Status::Bad) {
            fail(QStringLiteral("recv:") + WSAErrorText(TooLargeNumber));
            return;
        }
        if (status == ReplyFramer::Status::Incomplete) {
            if (m_watch == Watch::Reply && m_framer.dataStarted()) {
                // The rest of the answer may take longer, while it keeps coming.
                m_windowBytes = 0;
                arm(Watch::Rate, m_limits.rateWindowMs);
            }
            return;
        }
        deliver(reply);
    }
}

void LineSession::deliver(const LineReply &reply)
{
    arm(Watch::None, 0);
    if (m_state == State::Dropping) {
        m_state = State::Quitting;
        m_framer.expect(m_quitForm);
        arm(Watch::Quit, m_limits.quitTimeoutMs);
        write(m_quitCommand + "\r\n");
        return;
    }
    if (isEnding()) {
        finishClose(); // the reply to the closing command is not shown
        return;
    }
    m_state = State::Idle;
    Q_EMIT replied(reply);
}

void LineSession::write(const QByteArray &bytes)
{
    if (s_traceHook)
        s_traceHook(true);
    // A plain connection writes straight to the socket; what it does not
    // take waits in Qt's buffer, behind which anything later queues.
    if (!m_socket || m_socket->write(bytes) != bytes.size()) {
        fail(SocketErrorMessage(QStringLiteral("send"), m_socket
                                                            ? m_socket->error()
                                                            : QAbstractSocket::UnknownSocketError));
        return;
    }
    // Out now, not at the next turn of the event loop: a command is the
    // whole of what the server waits for.
    m_socket->flush();
}

void LineSession::arm(Watch watch, int ms)
{
    m_watch = watch;
    m_watchMs = ms;
    m_since.start();
    if (watch != Watch::None && !m_watchdog.isActive())
        m_watchdog.start();
}

void LineSession::onWatchdog()
{
    if (m_state == State::Closed)
        return;
    if (m_watch == Watch::None) {
        m_watchdog.stop(); // nothing awaited: no ticks while idle
        return;
    }
    if (m_since.elapsed() < m_watchMs)
        return;
    switch (m_watch) {
    case Watch::Rate:
        if (m_windowBytes >= m_limits.minBytesPerWindow) {
            m_windowBytes = 0;
            arm(Watch::Rate, m_limits.rateWindowMs);
            return;
        }
        fail(QStringLiteral("recv:") + WSAErrorText(TimedOutNumber));
        return;
    case Watch::Connect:
        fail(QStringLiteral("connect:") + WSAErrorText(TimedOutNumber));
        return;
    case Watch::Reply:
        fail(QStringLiteral("recv:") + WSAErrorText(TimedOutNumber));
        return;
    case Watch::Quit:
        finishClose();
        return;
    case Watch::None:
        return;
    }
}

void LineSession::onSocketError()
{
    if (m_state == State::Closed)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (m_state == State::Handshaking || m_state == State::Upgrading)
        fail(tlsFailureText());
    else if (m_state == State::Connecting)
        fail(SocketErrorMessage(QStringLiteral("connect"), error));
    else if (error == QAbstractSocket::RemoteHostClosedError)
        onDisconnected();
    else
        connectionEnded(error);
}

void LineSession::onDisconnected()
{
    if (m_state == State::Closed)
        return;
    // Replies that came with the close are still handled.
    if (m_socket->bytesAvailable() > 0 || !m_framer.isEmpty()) {
        m_readDelay.stop();
        QPointer<LineSession> self(this);
        processBuffer();
        if (!self || m_state == State::Closed)
            return;
    }
    connectionEnded(QAbstractSocket::RemoteHostClosedError);
}

void LineSession::connectionEnded(QAbstractSocket::SocketError error)
{
    if (handshakeDue())
        fail(tlsFailureText());
    else if (!awaitsReply())
        finishClose();
    else if (error == QAbstractSocket::RemoteHostClosedError)
        fail(QStringLiteral("recv:") + WSAErrorText(ClosedNumber));
    else
        fail(SocketErrorMessage(QStringLiteral("recv"), error));
}

void LineSession::fail(const QString &errorText)
{
    if (m_state == State::Closed)
        return;
    if (!isEnding()) {
        m_state = State::Failing;
        QPointer<LineSession> self(this);
        Q_EMIT failed(errorText);
        if (!self)
            return;
    }
    finishClose();
}

void LineSession::finishClose()
{
    if (m_state == State::Closed)
        return;
    m_state = State::Closed;
    arm(Watch::None, 0);
    m_watchdog.stop();
    m_readDelay.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    Q_EMIT closed();
}
