#include "Pop3Jobs.h"

#include "Cp932.h"
#include "Messages.h"

#include <QPointer>
#include <QTimer>

namespace {
QString FirstLine(const QByteArray &reply)
{
    const qsizetype end = reply.indexOf("\r\n");
    return Cp932::Decode(end < 0 ? reply : reply.left(end));
}

} // namespace

int StatMessageCount(const QByteArray &reply)
{
    const qsizetype lineEnd = reply.indexOf("\r\n");
    const QByteArray line = lineEnd < 0 ? reply : reply.left(lineEnd);
    const qsizetype blank = line.indexOf(' ');
    if (blank < 0)
        return -1;
    const QByteArray rest = line.mid(blank + 1).trimmed();
    const qsizetype next = rest.indexOf(' ');
    bool ok = false;
    const int count = (next < 0 ? rest : rest.left(next)).toInt(&ok);
    return ok && count >= 0 ? count : -1;
}

Pop3Job::Pop3Job(const Pop3Settings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_line(settings.limits)
{
    connect(&m_line, &LineSession::statusText, this, &Pop3Job::statusText);
    connect(&m_line, &LineSession::replied, this, &Pop3Job::onReply);
    connect(&m_line, &LineSession::failed, this, &Pop3Job::failed);
    connect(&m_line, &LineSession::closed, this, &Pop3Job::closed);
    connect(&m_line, &LineSession::secured, this, &Pop3Job::sendUser);
}

void Pop3Job::sendUser()
{
    command(Pop3State::User, QStringLiteral("USER ") + m_settings.userId);
}

void Pop3Job::begin()
{
    m_state = Pop3State::Idle;
    for (const QString &argument : {m_settings.userId, m_settings.password}) {
        if (!IsSafeArgument(argument)) {
            // Never sent: it would end the command early and start another.
            const QString shown =
                argument == m_settings.password ? QStringLiteral("PASS") : QStringLiteral("USER");
            QTimer::singleShot(0, this, [this, shown] {
                Q_EMIT failed(shown + QLatin1Char(':') + Msg::UnsafeArgument + shown);
                m_line.abort();
            });
            return;
        }
    }
    m_line.open(m_settings.server, m_settings.port, ReplyForm::Pop3Line, m_settings.tls);
}

void Pop3Job::command(Pop3State next, const QString &text, ReplyForm form, const QString &shown)
{
    m_state = next;
    m_line.send(Cp932::Encode(text), form, shown.isEmpty() ? text : shown);
}

void Pop3Job::quit()
{
    if (m_line.isClosed())
        return;
    if (!m_loggedIn && m_state != Pop3State::Pass) {
        m_line.abort();
        return;
    }
    m_state = Pop3State::Quit;
    if (m_line.isIdle())
        Q_EMIT statusText(QStringLiteral("QUIT"));
    m_line.quit("QUIT");
}

void Pop3Job::fail(const QString &errorText)
{
    Q_EMIT failed(errorText);
    if (m_loggedIn)
        quit();
    else
        m_line.abort();
}

void Pop3Job::negative(const QString &line)
{
    fail(QStringLiteral("recv:") + line);
}

void Pop3Job::onReply(const LineReply &reply)
{
    const QString line = FirstLine(reply.bytes);
    if (!IsPositive(reply.bytes)) {
        Q_EMIT statusText(line);
        if (m_state == Pop3State::Stls)
            fail(QStringLiteral("STLS:") + Msg::TlsNotOffered.arg(QStringLiteral("STLS")) +
                 QStringLiteral("\r\n") + line);
        else if (m_loggedIn)
            negative(line);
        else
            fail(QStringLiteral("recv:") + line);
        return;
    }
    if (!reply.tooLarge)
        Q_EMIT statusText(line);
    switch (m_state) {
    case Pop3State::Idle:
        if (m_settings.tls.mode == TlsMode::Upgrade)
            command(Pop3State::Stls, QStringLiteral("STLS"));
        else
            sendUser();
        return;
    case Pop3State::Stls:
        m_line.startTls();
        return;
    case Pop3State::User:
        command(Pop3State::Pass, QStringLiteral("PASS ") + m_settings.password, ReplyForm::Pop3Line,
                QStringLiteral("PASS ") + QString(m_settings.password.size(), QLatin1Char('*')));
        return;
    case Pop3State::Pass:
        m_loggedIn = true;
        loggedIn();
        return;
    default:
        positive(reply);
        return;
    }
}

bool Pop3Check::isIdle() const
{
    return m_finished && m_line.isIdle() &&
           (m_state == Pop3State::Idle || m_state == Pop3State::Empty);
}

void Pop3Check::loggedIn()
{
    command(Pop3State::Stat, QStringLiteral("STAT"));
}

void Pop3Check::positive(const LineReply &reply)
{
    switch (m_state) {
    case Pop3State::Stat:
        m_count = qMax(0, StatMessageCount(reply.bytes));
        Q_EMIT listStarted(m_count);
        if (m_count == 0) {
            m_finished = true;
            m_state = Pop3State::Empty;
            Q_EMIT statusText(Msg::NoMessage);
            Q_EMIT checkFinished(true);
            return;
        }
        m_index = 0;
        retrieveNext();
        return;
    case Pop3State::Retr: {
        // The next command goes out before this answer is looked at: the
        // server works on it meanwhile. Still one command at a time.
        const int number = m_index;
        const bool last = m_index >= m_count;
        if (!last)
            retrieveNext();
        const QPointer<Pop3Check> self(this);
        Q_EMIT messageRetrieved(number, reply.bytes, reply.tooLarge);
        if (!self || !last || m_line.isClosed() || m_line.isEnding())
            return;
        m_finished = true;
        m_state = Pop3State::Idle;
        Q_EMIT statusText(QString());
        Q_EMIT checkFinished(false);
        return;
    }
    case Pop3State::Dele:
        m_state = Pop3State::Idle;
        Q_EMIT messageDeleted(m_deleting);
        return;
    default:
        return;
    }
}

void Pop3Check::negative(const QString &line)
{
    if (m_state == Pop3State::Dele) {
        // The message stays; the connection is still good for more.
        m_state = Pop3State::Idle;
        Q_EMIT failed(QStringLiteral("recv:") + line);
        return;
    }
    Pop3Job::negative(line);
}

void Pop3Check::retrieveNext()
{
    ++m_index;
    command(Pop3State::Retr, QStringLiteral("RETR ") + QString::number(m_index),
            ReplyForm::Pop3MultiLine);
}

bool Pop3Check::deleteMessage(int number)
{
    if (!isIdle())
        return false;
    m_deleting = number;
    command(Pop3State::Dele, QStringLiteral("DELE ") + QString::number(number));
    return true;
}

Pop3Delete::Pop3Delete(const Pop3Settings &settings, const QString &key, KeyOf keyOf,
                       QObject *parent)
    : Pop3Job(settings, parent), m_key(key), m_keyOf(std::move(keyOf))
{
}

void Pop3Delete::loggedIn()
{
    command(Pop3State::Stat, QStringLiteral("STAT"));
}

void Pop3Delete::positive(const LineReply &reply)
{
    auto next = [this] {
        if (m_index < m_count) {
            ++m_index;
            command(Pop3State::Retr, QStringLiteral("RETR ") + QString::number(m_index),
                    ReplyForm::Pop3MultiLine);
            return;
        }
        Q_EMIT notFound();
        quit();
    };
    switch (m_state) {
    case Pop3State::Stat:
        m_count = qMax(0, StatMessageCount(reply.bytes));
        next();
        return;
    case Pop3State::Retr:
        if (m_keyOf(reply.bytes, reply.tooLarge) == m_key) {
            command(Pop3State::Dele, QStringLiteral("DELE ") + QString::number(m_index));
            return;
        }
        next();
        return;
    case Pop3State::Dele:
        Q_EMIT deleted();
        quit();
        return;
    default:
        return;
    }
}
