#include "LineSession.h"

#include "Messages.h"
#include "WSock.h"

#include <QPointer>
#include <QTcpSocket>

namespace {
constexpr int TimedOutNumber = 10060;
constexpr int TooLargeNumber = 10040;
constexpr int ClosedNumber = 10054;

bool IsPositive(const QByteArray &buffer)
{
    return buffer.left(4).toUpper().contains("+OK");
}

/// The size a "+OK 1234 octets" line announces, or 0.
qsizetype AnnouncedSize(const QByteArray &statusLine)
{
    const qsizetype blank = statusLine.indexOf(' ');
    if (blank < 0)
        return 0;
    qsizetype end = blank + 1;
    while (end < statusLine.size() && statusLine.at(end) >= '0' && statusLine.at(end) <= '9')
        ++end;
    bool ok = false;
    const qlonglong n = statusLine.mid(blank + 1, end - blank - 1).toLongLong(&ok);
    return ok && n > 0 ? qsizetype(n) : 0;
}
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
    : QObject(parent), m_limits(limits)
{
    m_watchdog.setSingleShot(true);
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

void LineSession::open(const QString &server, const QString &port, ReplyForm greeting)
{
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &LineSession::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &LineSession::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &LineSession::onSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &LineSession::onDisconnected);
    m_form = greeting;
    m_awaiting = true;
    m_connecting = true;
    arm(Watch::Connect, m_limits.replyTimeoutMs);
    if (!StartConnect(m_socket, server, port)) {
        // Deferred, so that the caller sees the failure as a signal like any other.
        QTimer::singleShot(
            0, this, [this] { fail(QStringLiteral("connect:") + WSAErrorText(BadPortNumber)); });
    }
}

void LineSession::onConnected()
{
    m_connecting = false;
    Q_EMIT statusText(Msg::Connecting);
    arm(Watch::Reply, m_limits.replyTimeoutMs);
}

void LineSession::send(const QByteArray &command, ReplyForm form, const QString &shown)
{
    if (m_closed || m_ending)
        return;
    m_form = form;
    m_awaiting = true;
    Q_EMIT statusText(shown.isEmpty() ? QString::fromLatin1(command) : shown);
    arm(Watch::Reply, m_limits.replyTimeoutMs);
    write(command + "\r\n");
}

void LineSession::sendBlock(const QByteArray &block, ReplyForm form)
{
    if (m_closed || m_ending)
        return;
    m_form = form;
    m_awaiting = true;
    arm(Watch::Reply, m_limits.replyTimeoutMs);
    write(block);
}

void LineSession::quit(const QByteArray &command)
{
    if (m_closed || m_ending)
        return;
    m_ending = true;
    if (m_connecting || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        finishClose();
        return;
    }
    m_quitCommand = command;
    if (m_awaiting) {
        // The reply on its way is read whole first, so that it is never
        // taken for the answer to the closing command.
        m_dropNext = true;
        arm(Watch::Quit, m_limits.quitTimeoutMs * 2);
        return;
    }
    m_awaiting = true;
    m_form = ReplyForm::Pop3Line;
    arm(Watch::Quit, m_limits.quitTimeoutMs);
    write(command + "\r\n");
}

void LineSession::abort()
{
    finishClose();
}

bool LineSession::isIdle() const
{
    return !m_closed && !m_ending && !m_awaiting && !m_connecting && m_socket &&
           m_socket->state() == QAbstractSocket::ConnectedState;
}

void LineSession::onReadyRead()
{
    if (m_closed)
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
    if (m_closed || !m_socket)
        return;
    const qsizetype before = m_buffer.size();
    m_buffer += m_socket->readAll();
    if (s_traceHook)
        s_traceHook(false);
    m_windowBytes += m_buffer.size() - before;
    QPointer<LineSession> self(this);
    while (self && !m_closed && !m_buffer.isEmpty()) {
        if (!m_awaiting) {
            // Nothing was asked: a server ending an idle session, or noise.
            // Either way the connection is over, and nothing failed.
            finishClose();
            return;
        }
        const qsizetype length = frameReply();
        if (length < 0) {
            fail(QStringLiteral("recv:") + WSAErrorText(TooLargeNumber));
            return;
        }
        if (length == 0)
            return;
        if (m_form != ReplyForm::Smtp && !m_discarding && !IsPositive(m_buffer) &&
            !m_buffer.left(4).toUpper().contains("-ERR")) {
            // A line that answers no command of ours is dropped.
            m_buffer.remove(0, length);
            m_scan = 0;
            m_statusEnd = -1;
            continue;
        }
        deliver(length);
    }
}

qsizetype LineSession::frameReply()
{
    const qsizetype size = m_buffer.size();
    auto statusLine = [&]() -> qsizetype {
        const qsizetype end = m_buffer.indexOf("\r\n", m_scan);
        if (end >= 0)
            return end + 2;
        if (size > m_limits.maxLine)
            return -1;
        m_scan = qMax<qsizetype>(0, size - 1);
        return 0;
    };
    switch (m_form) {
    case ReplyForm::Pop3Line:
        return statusLine();
    case ReplyForm::Smtp:
        while (true) {
            const qsizetype lineStart = m_scan;
            const qsizetype end = m_buffer.indexOf("\r\n", lineStart);
            if (end < 0) {
                if (size - lineStart > m_limits.maxLine || size > m_limits.maxReply)
                    return -1;
                return 0;
            }
            m_scan = end + 2;
            const bool continued = end - lineStart >= 4 && m_buffer.at(lineStart + 3) == '-';
            if (!continued)
                return m_scan;
        }
    case ReplyForm::Pop3MultiLine:
        break;
    }
    if (m_statusEnd < 0 && !m_discarding) {
        const qsizetype end = statusLine();
        if (end <= 0)
            return end;
        if (!IsPositive(m_buffer))
            return end; // a negative reply is its status line alone
        m_statusEnd = end;
        // The rest of the answer may take longer, while it keeps coming.
        m_windowBytes = size - end;
        arm(Watch::Rate, m_limits.rateWindowMs);
        const qsizetype announced = AnnouncedSize(m_buffer.left(end));
        if (announced > 0 && announced < m_limits.maxAnswer)
            m_buffer.reserve(end + announced + announced / 32 + 16);
        // An empty message: the terminating line follows the status line.
        m_scan = end - 2;
    }
    const qsizetype terminator = m_buffer.indexOf("\r\n.\r\n", m_scan);
    if (terminator >= 0 && (m_discarding || terminator + 5 <= m_limits.maxAnswer))
        return terminator + 5;
    if (terminator >= 0) {
        // Whole, but over the bound all the same: treated as read through.
        m_discarding = true;
        m_discardStatus = m_buffer.left(m_statusEnd);
        return terminator + 5;
    }
    if (m_discarding || size > m_limits.maxAnswer) {
        // Too large to keep: read through to the end of the answer, holding
        // only the last bytes, which may begin the terminator.
        if (!m_discarding) {
            m_discarding = true;
            m_discardStatus = m_buffer.left(m_statusEnd);
        }
        m_buffer = m_buffer.right(4);
        m_buffer.squeeze();
        m_scan = 0;
        return 0;
    }
    m_scan = qMax(m_statusEnd - 2, size - 4);
    return 0;
}

void LineSession::deliver(qsizetype length)
{
    LineReply reply;
    if (m_discarding) {
        reply.bytes = std::exchange(m_discardStatus, QByteArray());
        reply.tooLarge = true;
        m_discarding = false;
        m_buffer.remove(0, length);
    } else if (length == m_buffer.size()) {
        reply.bytes = std::exchange(m_buffer, QByteArray());
    } else {
        reply.bytes = m_buffer.left(length);
        m_buffer.remove(0, length);
    }
    m_scan = 0;
    m_statusEnd = -1;
    m_awaiting = false;
    arm(Watch::None, 0);
    if (m_dropNext) {
        m_dropNext = false;
        m_awaiting = true;
        m_form = ReplyForm::Pop3Line;
        arm(Watch::Quit, m_limits.quitTimeoutMs);
        write(m_quitCommand + "\r\n");
        return;
    }
    if (m_ending) {
        finishClose(); // the reply to the closing command is not shown
        return;
    }
    Q_EMIT replied(reply);
}

void LineSession::write(const QByteArray &bytes)
{
    if (s_traceHook)
        s_traceHook(true);
    if (!m_socket || m_socket->write(bytes) != bytes.size())
        fail(SocketErrorMessage(QStringLiteral("send"), m_socket
                                                            ? m_socket->error()
                                                            : QAbstractSocket::UnknownSocketError));
}

void LineSession::arm(Watch watch, int ms)
{
    m_watch = watch;
    if (watch == Watch::None)
        m_watchdog.stop();
    else
        m_watchdog.start(ms);
}

void LineSession::onWatchdog()
{
    if (m_closed)
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
    case Watch::None:
        finishClose();
        return;
    }
}

void LineSession::onSocketError()
{
    if (m_closed)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (m_connecting)
        fail(SocketErrorMessage(QStringLiteral("connect"), error));
    else if (error == QAbstractSocket::RemoteHostClosedError)
        onDisconnected();
    else if (m_awaiting)
        fail(SocketErrorMessage(QStringLiteral("recv"), error));
    else
        finishClose();
}

void LineSession::onDisconnected()
{
    if (m_closed)
        return;
    // Replies that came with the close are still handled.
    if (m_socket->bytesAvailable() > 0 || !m_buffer.isEmpty()) {
        m_readDelay.stop();
        QPointer<LineSession> self(this);
        processBuffer();
        if (!self || m_closed)
            return;
    }
    if (m_awaiting)
        fail(QStringLiteral("recv:") + WSAErrorText(ClosedNumber));
    else
        finishClose();
}

void LineSession::fail(const QString &errorText)
{
    if (m_closed)
        return;
    if (!m_ending) {
        m_ending = true;
        QPointer<LineSession> self(this);
        Q_EMIT failed(errorText);
        if (!self)
            return;
    }
    finishClose();
}

void LineSession::finishClose()
{
    if (m_closed)
        return;
    m_closed = true;
    m_awaiting = false;
    arm(Watch::None, 0);
    m_readDelay.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    Q_EMIT closed();
}
