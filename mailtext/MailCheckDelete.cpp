// A memo deleted on the server at a viewer's request: in the check's own
// session when it is idle, otherwise over a connection of its own, one
// request at a time, each within its bound.

#include "MailCheck.h"

#include "Messages.h"

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
        if (m_check && m_check->isIdle()) {
            // Row n is message n of the kept connection.
            qsizetype row = 0;
            while (row < m_box.size() && m_box[row].Key != p.key)
                ++row;
            if (row == m_box.size()) {
                finishDelete(DeleteResult::NotFound, QString());
                continue;
            }
            m_deleteRunning = true;
            m_deleteNumber = int(row + 1);
            m_check->deleteMessage(m_deleteNumber);
            return;
        }
        if (m_check && !m_check->isClosed())
            return; // busy: tried again when the connection is free or closed
        startOwnDelete(p.key);
        return;
    }
}

void MailCheck::startOwnDelete(const QString &key)
{
    // The server closed the kept connection: a connection of its own finds
    // the memo by its key, deletes it and ends with QUIT.
    m_deleteRunning = true;
    auto keys = std::make_shared<ListingKeys>();
    auto *job = new Pop3Delete(
        m_settings, key,
        [keys](const QByteArray &answer, bool tooLarge) { return keys->next(answer, tooLarge); },
        this);
    m_deleteJob = job;
    connect(job, &Pop3Job::statusText, this, &MailCheck::statusText);
    connect(job, &Pop3Delete::deleted, this,
            [this] { finishDelete(DeleteResult::Deleted, QString()); });
    connect(job, &Pop3Delete::notFound, this,
            [this] { finishDelete(DeleteResult::NotFound, QString()); });
    connect(job, &Pop3Job::failed, this, [this](const QString &text) {
        Q_EMIT errorMessage(text);
        if (m_deleteRunning)
            finishDelete(DeleteResult::Failed, text);
    });
    connect(job, &Pop3Job::closed, this, [this, job] {
        if (m_deleteJob == job)
            m_deleteJob = nullptr;
        job->deleteLater();
        if (m_deleteRunning)
            finishDelete(DeleteResult::Failed, QString());
        QTimer::singleShot(0, this, &MailCheck::runPendingDelete);
        checkShutDown();
    });
    job->start();
}

void MailCheck::finishDelete(DeleteResult result, const QString &errorText)
{
    if (m_deletes.isEmpty())
        return;
    PendingDelete p = m_deletes.takeFirst();
    m_deleteRunning = false;
    if (result == DeleteResult::Deleted) {
        // Gone from the server: out of the memo list at once.
        m_memos.remove(p.key);
        Q_EMIT boxChanged();
    }
    p.bound->deleteLater();
    ScheduleNextCheck();
    releaseTimer();
    if (!p.hasContext || p.context)
        p.done(result, errorText);
    QTimer::singleShot(0, this, &MailCheck::runPendingDelete);
}
