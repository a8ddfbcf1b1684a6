// A memo deleted on the server at a viewer's request: a session of its own
// for each, one at a time and never beside a check, each within its bound.
// Only the server's "+OK" to QUIT makes a deletion done.

#include "MailCheck.h"

#include "Messages.h"
#include "WSock.h"

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
            QTimer::singleShot(0, this, &MailCheck::runPendingDelete); // a check may wait
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
        startDelete(p.key);
        return;
    }
    if (!m_deleteRunning && m_deletes.isEmpty() && m_checkWaiting) {
        m_checkWaiting = false;
        startCheck();
    }
}

void MailCheck::startDelete(const QString &key)
{
    m_deleteRunning = true;
    const bool byUid = key.startsWith(QLatin1String("uid:"));
    auto keys = std::make_shared<ListingKeys>();
    auto *job = new Pop3Delete(
        m_settings, byUid ? key.mid(4).toUtf8() : QByteArray(), key,
        [keys](const QByteArray &answer, bool tooLarge) { return keys->next(answer, tooLarge); },
        this);
    m_deleteJob = job;
    connect(job, &Pop3Job::statusText, this, &MailCheck::statusText);
    connect(job, &Pop3Delete::deleted, this,
            [this] { finishDelete(DeleteResult::Deleted, QString()); });
    connect(job, &Pop3Delete::notFound, this,
            [this] { finishDelete(DeleteResult::NotFound, QString()); });
    // A failure is told once the session is over, so that the viewer finds
    // the mailbox free again.
    auto failure = std::make_shared<QString>();
    connect(job, &Pop3Job::failed, this, [failure](const QString &text) { *failure = text; });
    connect(job, &Pop3Job::closed, this, [this, job, failure] {
        if (m_deleteJob == job)
            m_deleteJob = nullptr;
        job->deleteLater();
        if (m_deleteRunning) // nothing says it was committed
            finishDelete(DeleteResult::Failed, failure->isEmpty()
                                                   ? QStringLiteral("recv:") + WSAErrorText(10054)
                                                   : *failure);
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
    if (result == DeleteResult::Deleted || result == DeleteResult::NotFound) {
        // Gone from the server: out of the memo list at once.
        forget(p.key.startsWith(QLatin1String("uid:")) ? p.key.mid(4).toUtf8() : p.key.toUtf8());
        Q_EMIT boxChanged();
    }
    p.bound->deleteLater();
    ScheduleNextCheck();
    releaseTimer();
    if (!p.hasContext || p.context)
        p.done(result, errorText);
    QTimer::singleShot(0, this, &MailCheck::runPendingDelete);
}

void MailCheck::forget(const QByteArray &key)
{
    m_knownListing.clear(); // the next listing is read line by line
    m_known.remove(key);
    m_boxKeys.removeOne(key);
}
