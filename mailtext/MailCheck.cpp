#include "MailCheck.h"

#include "OAuthTokens.h"

#include "IniFile.h"
#include "Messages.h"

#include <QSet>

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
    startCheck();
}

void MailCheck::startCheck()
{
    if (m_checking || m_shuttingDown)
        return;
    if (m_deleteRunning || !m_deletes.isEmpty()) {
        // The mailbox is the deletion's first; the check follows it.
        m_checkWaiting = true;
        return;
    }
    m_checking = true;
    // The next check is scheduled from the end of this one, so a slow check
    // is never cut short by the following tick.
    m_timer.stop();
    Q_EMIT checkStarted();
    Q_EMIT statusText(Msg::SocketClosed);
    connectNewCheck();
}

void MailCheck::connectNewCheck()
{
    auto *check = new Pop3Check(
        m_settings, [this](const QList<QByteArray> &uids) { return wanted(uids); }, this);
    m_check = check;
    check->setKnownListing(m_knownListing);
    ++m_listing;
    m_byUid = false;
    m_nextKeys.clear();
    m_readNow.clear();
    m_tooLarge.clear();
    m_listingKeys = ListingKeys();
    connect(check, &Pop3Job::statusText, this, &MailCheck::statusText);
    connect(check, &Pop3Job::greeted, this, &MailCheck::greeted);
    connect(check, &Pop3Check::messageRetrieved, this, &MailCheck::onRetrieved);
    connect(check, &Pop3Check::checkFinished, this, &MailCheck::onCheckFinished);
    connect(check, &Pop3Job::failed, this, &MailCheck::onCheckFailed);
    connect(check, &Pop3Job::closed, this, [this, check] {
        if (m_check == check)
            m_check = nullptr;
        check->deleteLater();
        if (m_checking) // closed without a word: the check is over all the same
            endCheck(false);
        checkShutDown();
    });
    check->start();
}

QList<int> MailCheck::wanted(const QList<QByteArray> &uids)
{
    m_byUid = true;
    QList<int> fetch;
    QSet<QByteArray> newUids; // only to tell apart unknown ones a server repeats
    for (qsizetype i = 0; i < uids.size(); ++i) {
        QByteArray key = uids[i];
        auto known = m_known.find(key);
        // A unique-id met twice in one listing is a server's fault; each
        // message still gets a key of its own.
        for (int n = 2; (known != m_known.end() && known->listedIn == m_listing) ||
                        (known == m_known.end() && newUids.contains(key));
             ++n) {
            key = uids[i] + '#' + QByteArray::number(n);
            known = m_known.find(key);
        }
        m_nextKeys.append(key);
        if (known == m_known.end()) {
            newUids.insert(key);
            fetch.append(int(i + 1));
            continue;
        }
        known->listedIn = m_listing;
        if (known->tooLarge)
            m_tooLarge.append(QString::number(i + 1));
    }
    return fetch;
}

void MailCheck::onRetrieved(int number, const QByteArray &answer, bool tooLarge)
{
    QByteArray key;
    if (m_byUid) {
        key = m_nextKeys.value(number - 1);
    } else {
        key = m_listingKeys.next(answer, tooLarge).toUtf8();
        m_nextKeys.append(key);
    }
    if (tooLarge) {
        // Not kept and not shown; its place in the numbering stays taken, and
        // with a unique-id it is not read through again.
        m_tooLarge.append(QString::number(number));
        if (m_byUid) {
            Known entry;
            entry.tooLarge = true;
            entry.listedIn = m_listing;
            m_known.insert(key, entry);
        }
        Q_EMIT statusText(Msg::TooLargeSkipped.arg(number));
        return;
    }
    auto known = m_known.find(key);
    if (known != m_known.end()) {
        // Without unique-ids every message is read; the known ones are skipped here.
        known->listedIn = m_listing;
        return;
    }
    const QString memoKey = (m_byUid ? QStringLiteral("uid:") : QString()) + QString::fromUtf8(key);
    ReadMail read = ParseRetrAnswer(answer, memoKey);
    m_known.insert(key, Known{read.memo, false, m_listing});
    m_readNow.append(key);
    announce(read.memo);
}

void MailCheck::onCheckFinished()
{
    if (m_check && m_check->listingUnchanged()) {
        m_tooLarge = m_lastTooLarge; // what is known stays as it is
    } else {
        m_knownListing = m_check ? m_check->uidlAnswer() : QByteArray();
        m_lastTooLarge = m_tooLarge;
        takeListing();
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

void MailCheck::takeListing()
{
    // A whole listing: what is no longer on the server is forgotten.
    if (m_known.size() != m_nextKeys.size())
        m_known.removeIf([this](const auto &entry) { return entry.value().listedIn != m_listing; });
    m_boxKeys.swap(m_nextKeys);
}

void MailCheck::onCheckFailed(const QString &text)
{
    if (!m_checking)
        return;
    noteCheckFailure(text);
    // The memos read so far are listed and stay known; so do those known
    // before, until a whole listing says otherwise.
    for (const QByteArray &key : std::as_const(m_readNow)) {
        if (!m_boxKeys.contains(key))
            m_boxKeys.append(key);
    }
    endCheck(false);
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
    memos.reserve(m_boxKeys.size());
    for (const QByteArray &key : m_boxKeys) {
        const auto known = m_known.constFind(key);
        if (known != m_known.constEnd() && !known->tooLarge)
            memos.append(known->memo);
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
    if (!m_pumpQueued && !m_waiting.isEmpty()) {
        m_pumpQueued = true;
        QTimer::singleShot(0, this, &MailCheck::pumpViewers);
    }
    runPendingDelete();
}

void MailCheck::announce(const MemoValues &memo)
{
    m_waiting.enqueue(memo);
    // Viewers open once the check's session has ended: a window costs far
    // more than an answer, and the server would wait for each.
    if (!m_pumpQueued && !m_checking) {
        m_pumpQueued = true;
        QTimer::singleShot(0, this, &MailCheck::pumpViewers);
    }
    Q_EMIT waitingChanged(int(m_waiting.size()));
}

void MailCheck::pumpViewers()
{
    m_pumpQueued = false;
    if (m_shuttingDown || m_checking || m_waiting.isEmpty() || m_openViewers >= m_maxViewers)
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
    if (m_check && !m_check->isClosed())
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
