#include "MailCheck.h"

#include "IniFile.h"
#include "Messages.h"

#include <QEventLoop>

namespace {
constexpr int ShutdownBoundMs = 6000;
} // namespace

MailCheck::MailCheck(const Pop3Session::Settings &settings, const QString &interval,
                     QObject *parent)
    : QObject(parent), m_settings(settings), m_interval(interval)
{
    m_timer.setInterval(10000);
    connect(&m_timer, &QTimer::timeout, this, &MailCheck::tmrCheckMail_Timer);
}

MailCheck::~MailCheck()
{
    for (PendingDelete &p : m_deletes)
        delete p.bound;
}

void MailCheck::start()
{
    m_checking = true;
    m_timer.stop();
    Q_EMIT sendButtonEnabled(false);
    connectNewSession();
}

void MailCheck::ScheduleNextCheck()
{
    // Interval as a 16-bit number; what does not read as one counts as 0.
    const qint16 n = qMax<qint16>(0, ParseTwips(m_interval));
    m_minutesLeft = qint16(n / 60);
    m_lastSeconds = qint16(n % 60);
    if (m_lastSeconds == 0)
        m_lastSeconds = 1;
    m_timer.setInterval(m_minutesLeft != 0 ? 60000 : int(m_lastSeconds) * 1000);
}

void MailCheck::tmrCheckMail_Timer()
{
    if (m_minutesLeft < 1) {
        startCheck();
        return;
    }
    --m_minutesLeft;
    if (m_minutesLeft == 0)
        m_timer.setInterval(int(m_lastSeconds) * 1000);
}

void MailCheck::startCheck()
{
    if (m_checking || m_shuttingDown)
        return;
    m_checking = true;
    // The next check is scheduled from the end of this one, so a slow check
    // is never cut short by the following tick.
    m_timer.stop();
    Q_EMIT sendButtonEnabled(false);
    auto proceed = [this] {
        Q_EMIT statusText(Msg::SocketClosed);
        m_currentBox = 1 - m_currentBox;
        m_previousKeys.clear();
        for (const MailBoxRow &row : previousBox())
            m_previousKeys.insert(row.Key);
        connectNewSession();
    };
    if (m_session && !m_session->isClosed()) {
        // The previous session ends with QUIT first, so that its deletions
        // take effect before the mailbox is listed again.
        connect(m_session, &Pop3Session::closed, this, proceed, Qt::QueuedConnection);
        m_session->quit();
        return;
    }
    proceed();
}

void MailCheck::connectNewSession()
{
    if (m_session)
        m_session->deleteLater();
    auto *session = new Pop3Session(m_settings, this);
    m_session = session;
    connect(session, &Pop3Session::statusText, this, &MailCheck::statusText);
    connect(session, &Pop3Session::greeted, this, [this] { Q_EMIT settingsButtonEnabled(false); });
    connect(session, &Pop3Session::listStarted, this, [this] { m_box[m_currentBox].clear(); });
    connect(session, &Pop3Session::messageRetrieved, this, [this](int, const QByteArray &answer) {
        const ReadMail read = ParseRetrAnswer(answer);
        bool known = false;
        for (const MailBoxRow &row : previousBox()) {
            if (row.Key == read.row.Key) {
                known = true;
                break;
            }
        }
        m_box[m_currentBox].append(read.row);
        if (!known)
            Q_EMIT newMemo(read.memo);
    });
    connect(session, &Pop3Session::checkFinished, this, [this] {
        Q_EMIT sendButtonEnabled(true);
        Q_EMIT settingsButtonEnabled(true);
        endCheck();
    });
    connect(session, &Pop3Session::messageDeleted, this, [this] {
        if (m_deleteRunning)
            finishDelete(DeleteResult::Deleted, QString());
    });
    connect(session, &Pop3Session::failed, this, [this](const QString &text) {
        // Sending does not depend on receiving: a mail server that refuses the
        // check must not keep the user from sending memos.
        Q_EMIT sendButtonEnabled(true);
        Q_EMIT settingsButtonEnabled(true);
        Q_EMIT errorMessage(text);
        if (m_checking) {
            endCheck();
        } else if (m_deleteRunning && !m_deleteSession) {
            finishDelete(DeleteResult::Failed, text);
        }
    });
    connect(session, &Pop3Session::closed, this, [this] {
        if (!m_checking)
            QTimer::singleShot(0, this, &MailCheck::runPendingDelete);
    });
    session->startCheck();
}

void MailCheck::endCheck()
{
    m_checking = false;
    if (m_shuttingDown)
        return;
    ScheduleNextCheck();
    restartTimerIfFree();
    Q_EMIT checkEnded();
    runPendingDelete();
}

void MailCheck::restartTimerIfFree()
{
    if (m_holds == 0 && !m_checking && !m_shuttingDown)
        m_timer.start();
}

void MailCheck::holdTimer()
{
    ++m_holds;
    m_timer.stop();
}

void MailCheck::releaseTimer()
{
    if (m_holds > 0)
        --m_holds;
    restartTimerIfFree();
}

int MailCheck::Pop3State() const
{
    if (m_deleteSession && !m_deleteSession->isClosed())
        return int(m_deleteSession->state());
    if (m_session && !m_session->isClosed())
        return int(m_session->state());
    return 0;
}

void MailCheck::requestDelete(const QString &key, QObject *context, DeleteCallback done)
{
    holdTimer();
    PendingDelete pending;
    pending.key = key;
    pending.context = context;
    pending.hasContext = context != nullptr;
    pending.done = std::move(done);
    pending.bound = new QTimer(this);
    pending.bound->setSingleShot(true);
    QTimer *bound = pending.bound;
    connect(bound, &QTimer::timeout, this, [this, bound] {
        for (qsizetype i = 0; i < m_deletes.size(); ++i) {
            if (m_deletes[i].bound != bound)
                continue;
            if (i == 0 && m_deleteRunning)
                return; // its dialogue has a watchdog of its own
            PendingDelete p = m_deletes.takeAt(i);
            bound->deleteLater();
            ScheduleNextCheck();
            releaseTimer();
            if (!p.hasContext || p.context)
                p.done(DeleteResult::TimedOut, Msg::DeleteTimedOut);
            return;
        }
    });
    bound->start(m_deleteTimeoutMs);
    m_deletes.append(std::move(pending));
    runPendingDelete();
}

void MailCheck::runPendingDelete()
{
    while (!m_deleteRunning && !m_deletes.isEmpty() && !m_checking && !m_shuttingDown) {
        PendingDelete &p = m_deletes.first();
        if (p.hasContext && !p.context) {
            // The viewer is gone: nobody waits for this deletion any more.
            p.bound->deleteLater();
            m_deletes.removeFirst();
            releaseTimer();
            continue;
        }
        if (m_session && m_session->isIdle()) {
            qsizetype number = -1;
            const QList<MailBoxRow> &box = currentBox();
            for (qsizetype i = 0; i < box.size(); ++i) {
                if (box[i].Key == p.key) {
                    number = i + 1;
                    break;
                }
            }
            if (number < 0) {
                finishDelete(DeleteResult::NotFound, QString());
                continue;
            }
            m_deleteRunning = true;
            m_session->deleteMessage(int(number));
            return;
        }
        if (m_session && !m_session->isClosed())
            return; // busy: tried again when the session is free or closed
        if (m_deleteSession)
            return;
        // The server closed the kept session: a session of its own finds the
        // memo by its key, deletes it and ends with QUIT.
        m_deleteRunning = true;
        auto *session = new Pop3Session(m_settings, this);
        m_deleteSession = session;
        connect(session, &Pop3Session::statusText, this, &MailCheck::statusText);
        connect(session, &Pop3Session::messageDeleted, this,
                [this] { finishDelete(DeleteResult::Deleted, QString()); });
        connect(session, &Pop3Session::keyNotFound, this,
                [this] { finishDelete(DeleteResult::NotFound, QString()); });
        connect(session, &Pop3Session::failed, this, [this](const QString &text) {
            Q_EMIT errorMessage(text);
            if (m_deleteRunning)
                finishDelete(DeleteResult::Failed, text);
        });
        connect(session, &Pop3Session::closed, this, [this, session] {
            if (m_deleteSession == session)
                m_deleteSession = nullptr;
            session->deleteLater();
            QTimer::singleShot(0, this, &MailCheck::runPendingDelete);
        });
        session->startDeleteByKey(p.key);
        return;
    }
}

void MailCheck::finishDelete(DeleteResult result, const QString &errorText)
{
    if (m_deletes.isEmpty())
        return;
    PendingDelete p = m_deletes.takeFirst();
    m_deleteRunning = false;
    p.bound->deleteLater();
    ScheduleNextCheck();
    releaseTimer();
    if (!p.hasContext || p.context)
        p.done(result, errorText);
    QTimer::singleShot(0, this, &MailCheck::runPendingDelete);
}

void MailCheck::shutdown()
{
    m_shuttingDown = true;
    m_timer.stop();
    QList<Pop3Session *> open;
    for (Pop3Session *s : {m_session, m_deleteSession}) {
        if (s && !s->isClosed())
            open.append(s);
    }
    if (open.isEmpty())
        return;
    auto allClosed = [&open] {
        for (Pop3Session *s : open) {
            if (!s->isClosed())
                return false;
        }
        return true;
    };
    QEventLoop loop;
    QTimer bound;
    bound.setSingleShot(true);
    connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (Pop3Session *s : open) {
        connect(
            s, &Pop3Session::closed, &loop,
            [&] {
                if (allClosed())
                    loop.quit();
            },
            Qt::QueuedConnection);
        s->quit();
    }
    if (allClosed())
        return;
    bound.start(ShutdownBoundMs);
    loop.exec();
}
