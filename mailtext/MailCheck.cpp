#include "MailCheck.h"

#include "IniFile.h"
#include "Messages.h"

namespace {
constexpr int ShutdownBoundMs = 6000;
} // namespace

MailCheck::MailCheck(const Pop3Settings &settings, const QString &interval, QObject *parent)
    : QObject(parent), m_settings(settings), m_interval(interval)
{
    m_timer.setInterval(10000);
    connect(&m_timer, &QTimer::timeout, this, &MailCheck::tmrCheckMail_Timer);
    m_shutdownBound.setSingleShot(true);
    connect(&m_shutdownBound, &QTimer::timeout, this, [this] {
        // The servers had their chance: whatever is still open is dropped.
        for (Pop3Job *job : {static_cast<Pop3Job *>(m_check), static_cast<Pop3Job *>(m_deleteJob)})
            delete job;
        m_check = nullptr;
        m_deleteJob = nullptr;
        checkShutDown();
    });
}

MailCheck::~MailCheck()
{
    for (PendingDelete &p : m_deletes)
        delete p.bound;
}

void MailCheck::start()
{
    m_timer.stop();
    m_checking = true;
    Q_EMIT checkStarted();
    connectNewCheck();
}

void MailCheck::ScheduleNextCheck()
{
    const qint16 n = ParseInterval(m_interval);
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

void MailCheck::checkNow()
{
    if (!m_deleteRunning && m_deletes.isEmpty())
        startCheck();
}

void MailCheck::startCheck()
{
    if (m_checking || m_shuttingDown)
        return;
    m_checking = true;
    // The next check is scheduled from the end of this one, so a slow check
    // is never cut short by the following tick.
    m_timer.stop();
    Q_EMIT checkStarted();
    if (m_check && !m_check->isClosed()) {
        // The previous connection ends with QUIT first, so that its deletions
        // take effect before the mailbox is listed again. Nothing it says
        // now concerns the new check.
        disconnect(m_check, nullptr, this, nullptr);
        connect(
            m_check, &Pop3Job::closed, this,
            [this] {
                if (!m_shuttingDown) {
                    Q_EMIT statusText(Msg::SocketClosed);
                    connectNewCheck();
                }
            },
            Qt::QueuedConnection);
        m_check->quit();
        return;
    }
    Q_EMIT statusText(Msg::SocketClosed);
    connectNewCheck();
}

void MailCheck::connectNewCheck()
{
    if (m_check)
        m_check->deleteLater();
    auto *check = new Pop3Check(m_settings, this);
    m_check = check;
    connect(check, &Pop3Job::statusText, this, &MailCheck::statusText);
    connect(check, &Pop3Check::greeted, this, &MailCheck::greeted);
    connect(check, &Pop3Check::listStarted, this, &MailCheck::onListStarted);
    connect(check, &Pop3Check::messageRetrieved, this, &MailCheck::onRetrieved);
    connect(check, &Pop3Check::checkFinished, this, &MailCheck::onCheckFinished);
    connect(check, &Pop3Check::messageDeleted, this, [this](int number) {
        if (!m_deleteRunning || number != m_deleteNumber)
            return;
        // Marked deleted on this connection: never asked for again.
        m_box[number - 1].Key.clear();
        finishDelete(DeleteResult::Deleted, QString());
    });
    connect(check, &Pop3Job::failed, this, &MailCheck::onCheckFailed);
    connect(check, &Pop3Job::closed, this, [this, check] {
        if (m_check != check)
            return;
        if (m_checking) // closed without a word: the check is over all the same
            endCheck(false);
        if (m_deleteRunning && !m_deleteJob)
            finishDelete(DeleteResult::Failed, QString());
        QTimer::singleShot(0, this, &MailCheck::runPendingDelete);
        checkShutDown();
    });
    check->start();
}

void MailCheck::onListStarted(int count)
{
    m_box.clear();
    m_box.reserve(count);
    m_knownListed = 0;
    m_tooLarge.clear();
    m_listingKeys = ListingKeys();
}

void MailCheck::onRetrieved(int number, const QByteArray &answer, bool tooLarge)
{
    if (tooLarge) {
        // Not kept and not shown; its place in the numbering stays taken.
        m_box.append(MailBoxRow());
        m_tooLarge.append(QString::number(number));
        Q_EMIT statusText(Msg::TooLargeSkipped.arg(number));
        return;
    }
    const QString key = m_listingKeys.next(answer, false);
    const auto known = m_known.constFind(key);
    if (known != m_known.constEnd()) {
        m_box.append(*known);
        ++m_knownListed;
    } else {
        ReadMail read = ParseRetrAnswer(answer);
        read.row.Key = key;
        read.memo.MemoKey = key;
        m_known.insert(key, read.row);
        m_memos.insert(key, read.memo);
        m_box.append(read.row);
        announce(read.memo);
    }
}

void MailCheck::onCheckFinished()
{
    // A whole listing: what is no longer on the server is forgotten. Keys are
    // distinct within a listing, so when every row was known and there are
    // as many rows as known memos, nothing is gone.
    if (m_knownListed != m_box.size() || m_knownListed != m_known.size()) {
        QHash<QString, MailBoxRow> known;
        known.reserve(m_box.size());
        for (const MailBoxRow &row : std::as_const(m_box)) {
            if (!row.Key.isEmpty())
                known.insert(row.Key, row);
        }
        m_known.swap(known);
        m_memos.removeIf([this](const auto &memo) { return !m_known.contains(memo.key()); });
    }
    m_lastGood = QDateTime::currentDateTime();
    if (!m_failureText.isEmpty()) {
        m_failureText.clear();
        Q_EMIT failureEnded();
    }
    if (!m_tooLarge.isEmpty()) // said again, so that it stays until the next check
        Q_EMIT statusText(Msg::TooLargeSkipped.arg(m_tooLarge.join(QStringLiteral(", "))));
    endCheck(true);
}

void MailCheck::onCheckFailed(const QString &text)
{
    if (m_checking)
        noteCheckFailure(text);
    else
        Q_EMIT errorMessage(text);
    if (m_checking) {
        // The memos announced so far stay known; so do those known before.
        endCheck(false);
    } else if (m_deleteRunning && !m_deleteJob) {
        finishDelete(DeleteResult::Failed, text);
    }
}

void MailCheck::noteCheckFailure(const QString &text)
{
    // A server that stays down fails every check the same way: said once,
    // then only repeated until a check succeeds or fails differently.
    if (text == m_failureText) {
        Q_EMIT failureRepeated(text);
        return;
    }
    m_failureText = text;
    m_failureSince = QDateTime::currentDateTime();
    Q_EMIT errorMessage(text);
}

QList<MemoValues> MailCheck::listedMemos() const
{
    QList<MemoValues> memos;
    memos.reserve(m_box.size());
    for (const MailBoxRow &row : m_box) {
        const auto memo = m_memos.constFind(row.Key);
        if (!row.Key.isEmpty() && memo != m_memos.constEnd())
            memos.append(*memo);
    }
    return memos;
}

void MailCheck::endCheck(bool ok)
{
    m_checking = false;
    if (m_shuttingDown)
        return;
    Q_EMIT boxChanged();
    ScheduleNextCheck();
    restartTimerIfFree();
    Q_EMIT checkEnded(ok);
    runPendingDelete();
}

void MailCheck::announce(const MemoValues &memo)
{
    m_waiting.enqueue(memo);
    if (!m_pumpQueued) {
        m_pumpQueued = true;
        QTimer::singleShot(0, this, &MailCheck::pumpViewers);
    }
    Q_EMIT waitingChanged(int(m_waiting.size()));
}

void MailCheck::pumpViewers()
{
    m_pumpQueued = false;
    if (m_shuttingDown || m_waiting.isEmpty() || m_openViewers >= m_maxViewers)
        return;
    // One viewer per turn of the event loop, so the window keeps answering.
    ++m_openViewers;
    const MemoValues memo = m_waiting.dequeue();
    Q_EMIT waitingChanged(int(m_waiting.size()));
    Q_EMIT showMemo(memo);
    if (!m_waiting.isEmpty() && m_openViewers < m_maxViewers) {
        m_pumpQueued = true;
        QTimer::singleShot(0, this, &MailCheck::pumpViewers);
    }
}

void MailCheck::viewerClosed()
{
    if (m_openViewers > 0)
        --m_openViewers;
    if (!m_pumpQueued && !m_waiting.isEmpty()) {
        m_pumpQueued = true;
        QTimer::singleShot(0, this, &MailCheck::pumpViewers);
    }
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
    if (m_deleteJob && !m_deleteJob->isClosed())
        return int(m_deleteJob->state());
    if (m_check && !m_check->isClosed() && !m_check->isIdle())
        return int(m_check->state());
    return 0;
}

void MailCheck::shutdown()
{
    if (m_shuttingDown)
        return;
    m_shuttingDown = true;
    m_timer.stop();
    m_waiting.clear();
    if (m_check)
        m_check->quit();
    if (m_deleteJob)
        m_deleteJob->quit();
    m_shutdownBound.start(ShutdownBoundMs);
    QTimer::singleShot(0, this, &MailCheck::checkShutDown);
}

void MailCheck::checkShutDown()
{
    if (!m_shuttingDown || m_shutDownSent)
        return;
    if ((m_check && !m_check->isClosed()) || (m_deleteJob && !m_deleteJob->isClosed()))
        return;
    m_shutDownSent = true;
    m_shutdownBound.stop();
    Q_EMIT shutDown();
}
