#include "Pop3Session.h"

#include "MemoMail.h"
#include "Messages.h"
#include "Pop3Reply.h"
#include "WSock.h"

#include <QTcpSocket>

namespace {
constexpr int TimedOutNumber = 10060;
constexpr int TooLargeNumber = 10040;

QString FirstLine(const QByteArray &reply)
{
    const qsizetype end = reply.indexOf("\r\n");
    return QString::fromLatin1(end < 0 ? reply : reply.left(end));
}
} // namespace

Pop3Session::Pop3Session(const Settings &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &Pop3Session::onWatchdog);
    m_sleep.setSingleShot(true);
    connect(&m_sleep, &QTimer::timeout, this, &Pop3Session::processBuffer);
}

Pop3Session::~Pop3Session()
{
    // No signal may reach an owner that is itself being destroyed.
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void Pop3Session::startCheck()
{
    connectSocket();
}

void Pop3Session::startDeleteByKey(const QString &key)
{
    m_deleteKey = key;
    connectSocket();
}

void Pop3Session::connectSocket()
{
    m_state = State::Idle;
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &Pop3Session::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &Pop3Session::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &Pop3Session::onSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &Pop3Session::onDisconnected);
    m_connecting = true;
    m_watchdog.start(m_settings.replyTimeoutMs);
    if (!StartConnect(m_socket, m_settings.server, m_settings.port)) {
        // Deferred, so that the caller sees the failure as a signal like any other.
        QTimer::singleShot(
            0, this, [this] { fail(QStringLiteral("connect:") + WSAErrorText(BadPortNumber)); });
    }
}

void Pop3Session::onConnected()
{
    m_connecting = false;
    Q_EMIT statusText(Msg::Connecting);
    m_watchdog.start(m_settings.replyTimeoutMs);
}

void Pop3Session::onReadyRead()
{
    if (m_closed)
        return;
    m_watchdog.start(m_ending ? m_settings.quitTimeoutMs : m_settings.replyTimeoutMs);
    const int sleepMs = m_settings.sleep.trimmed().toInt();
    if (sleepMs > 0) {
        // The configured pause before each read, without freezing the window.
        if (!m_sleep.isActive())
            m_sleep.start(sleepMs);
        return;
    }
    processBuffer();
}

void Pop3Session::processBuffer()
{
    if (m_closed || !m_socket)
        return;
    m_buffer += m_socket->readAll();
    while (!m_closed && !m_buffer.isEmpty()) {
        const bool multiLine = m_state == State::Retr;
        const Pop3Frame frame = FramePop3Reply(m_buffer, multiLine);
        if (frame.status == FrameStatus::Incomplete)
            return;
        if (frame.status == FrameStatus::Bad) {
            m_buffer.clear();
            fail(QStringLiteral("recv:") + WSAErrorText(TooLargeNumber));
            return;
        }
        const QByteArray reply = m_buffer.left(frame.length);
        m_buffer.remove(0, frame.length);
        handleReply(reply);
    }
}

void Pop3Session::handleReply(const QByteArray &reply)
{
    if (IsPositiveReply(reply)) {
        Q_EMIT statusText(FirstLine(reply));
        handlePositive(reply);
    } else if (IsNegativeReply(reply)) {
        const QString line = FirstLine(reply);
        Q_EMIT statusText(line);
        if (m_state == State::Quit) {
            finishClose();
            return;
        }
        fail(QStringLiteral("recv:") + line);
    }
    // Anything else belongs to no command of ours and is ignored.
}

void Pop3Session::handlePositive(const QByteArray &reply)
{
    switch (m_state) {
    case State::Idle:
        if (m_greeted)
            return; // nothing was asked
        m_greeted = true;
        Q_EMIT greeted();
        sendNext(State::User, QStringLiteral("USER ") + m_settings.userId);
        return;
    case State::User:
        sendNext(State::Pass, QStringLiteral("PASS ") + m_settings.password,
                 QStringLiteral("PASS ") + QString(m_settings.password.size(), QLatin1Char('*')));
        return;
    case State::Pass:
        m_loggedIn = true;
        sendNext(State::Stat, QStringLiteral("STAT"));
        return;
    case State::Stat: {
        m_messageCount = qMax(0, StatMessageCount(reply));
        Q_EMIT listStarted(m_messageCount);
        if (m_messageCount > 0) {
            m_messageIndex = 0;
            retrieveNext();
            return;
        }
        finishCheck(true);
        return;
    }
    case State::Retr:
        if (!m_deleteKey.isEmpty()) {
            if (MemoKeyOf(reply) == m_deleteKey) {
                m_deleteNumber = m_messageIndex;
                sendNext(State::Dele, QStringLiteral("DELE ") + QString::number(m_messageIndex));
                return;
            }
        } else {
            Q_EMIT messageRetrieved(m_messageIndex, reply);
            if (m_closed)
                return;
        }
        if (m_messageIndex < m_messageCount) {
            retrieveNext();
            return;
        }
        finishCheck(false);
        return;
    case State::Quit:
        m_state = State::Idle;
        Q_EMIT statusText(QString());
        finishClose();
        return;
    case State::Dele:
        m_state = State::Idle;
        m_watchdog.stop();
        Q_EMIT messageDeleted(m_deleteNumber);
        if (!m_deleteKey.isEmpty() || m_quitPending)
            quit();
        return;
    case State::Empty:
        m_state = State::Idle;
        return;
    }
}

void Pop3Session::finishCheck(bool empty)
{
    m_state = empty ? State::Empty : State::Idle;
    m_checkDone = true;
    m_watchdog.stop();
    Q_EMIT statusText(empty ? Msg::NoMessage : QString());
    if (!m_deleteKey.isEmpty()) {
        Q_EMIT keyNotFound();
        quit();
    } else if (m_quitPending) {
        sendQuit();
    } else {
        Q_EMIT checkFinished(empty);
    }
}

void Pop3Session::retrieveNext()
{
    ++m_messageIndex;
    sendNext(State::Retr, QStringLiteral("RETR ") + QString::number(m_messageIndex));
}

void Pop3Session::sendNext(State state, const QString &command, const QString &shown)
{
    if (m_quitPending && m_greeted) {
        sendQuit();
        return;
    }
    m_state = state;
    send(command, shown);
}

void Pop3Session::send(const QString &command, const QString &shown)
{
    if (m_closed || !m_socket)
        return;
    Q_EMIT statusText(shown.isEmpty() ? command : shown);
    m_watchdog.start(m_state == State::Quit ? m_settings.quitTimeoutMs : m_settings.replyTimeoutMs);
    QByteArray bytes = command.toLatin1();
    bytes += "\r\n";
    if (m_socket->write(bytes) != bytes.size())
        fail(SocketErrorMessage(QStringLiteral("send"), m_socket->error()));
}

bool Pop3Session::isIdle() const
{
    return m_checkDone && !m_closed && !m_ending && !m_failed && !m_quitPending &&
           (m_state == State::Idle || m_state == State::Empty) && m_socket &&
           m_socket->state() == QAbstractSocket::ConnectedState;
}

bool Pop3Session::deleteMessage(int number)
{
    if (!isIdle())
        return false;
    m_deleteNumber = number;
    m_state = State::Dele;
    send(QStringLiteral("DELE ") + QString::number(number));
    return true;
}

void Pop3Session::quit()
{
    if (m_closed || m_ending)
        return;
    const bool connected = m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
    if (!connected || !m_greeted) {
        finishClose();
        return;
    }
    const bool waiting = m_state == State::User || m_state == State::Pass ||
                         m_state == State::Stat || m_state == State::Retr || m_state == State::Dele;
    if (waiting) {
        // A reply is on its way: QUIT goes out once it is complete, so the
        // reply is never mistaken for the answer to QUIT.
        m_quitPending = true;
        m_watchdog.start(qMin(m_settings.replyTimeoutMs, m_settings.quitTimeoutMs * 2));
        return;
    }
    sendQuit();
}

void Pop3Session::sendQuit()
{
    m_quitPending = false;
    m_ending = true;
    m_state = State::Quit;
    send(QStringLiteral("QUIT"));
}

void Pop3Session::fail(const QString &errorText)
{
    if (m_closed || m_failed)
        return;
    m_failed = true;
    m_watchdog.stop();
    m_sleep.stop();
    Q_EMIT failed(errorText);
    // A logged-in session still ends with QUIT, so that deletions take effect.
    if (m_loggedIn && m_socket && m_socket->state() == QAbstractSocket::ConnectedState &&
        !m_ending) {
        m_buffer.clear();
        m_quitPending = false;
        sendQuit();
        return;
    }
    finishClose();
}

void Pop3Session::onSocketError()
{
    if (m_closed)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (m_ending) {
        finishClose();
    } else if (m_connecting) {
        fail(SocketErrorMessage(QStringLiteral("connect"), error));
    } else if (error == QAbstractSocket::RemoteHostClosedError) {
        onDisconnected();
    } else {
        fail(SocketErrorMessage(QStringLiteral("recv"), error));
    }
}

void Pop3Session::onDisconnected()
{
    if (m_closed)
        return;
    // Replies that came with the close are still handled.
    if (m_socket->bytesAvailable() > 0 || !m_buffer.isEmpty()) {
        m_sleep.stop();
        processBuffer();
        if (m_closed)
            return;
    }
    if (m_ending || (m_checkDone && (m_state == State::Idle || m_state == State::Empty))) {
        // The server ended an idle session (an idle time-out): nothing was lost.
        finishClose();
        return;
    }
    fail(QStringLiteral("recv:") +
         WSAErrorText(SocketErrorNumber(QAbstractSocket::RemoteHostClosedError)));
}

void Pop3Session::onWatchdog()
{
    if (m_closed)
        return;
    if (m_ending || m_failed) {
        finishClose();
    } else if (m_quitPending) {
        finishClose();
    } else if (m_connecting) {
        fail(QStringLiteral("connect:") + WSAErrorText(TimedOutNumber));
    } else {
        fail(QStringLiteral("recv:") + WSAErrorText(TimedOutNumber));
    }
}

void Pop3Session::finishClose()
{
    if (m_closed)
        return;
    m_closed = true;
    m_watchdog.stop();
    m_sleep.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    Q_EMIT closed();
}
