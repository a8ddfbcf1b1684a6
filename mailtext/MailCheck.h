#pragma once
// The receiving desk's background work: the mail-check schedule, one short
// POP3 session per check, the memos already read (by unique-id), the memos
// waiting for a viewer, and deletions asked for by memo viewers, each a
// session of its own. It reports what happened;
// the windows decide what their buttons do.

#include "MemoMail.h"
#include "Pop3Jobs.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QStringList>
#include <QTimer>

#include <functional>

class MailCheck : public QObject
{
    Q_OBJECT

public:
    enum class DeleteResult {
        Deleted,  ///< the server committed the deletion (QUIT answered "+OK")
        NotFound, ///< no message has that key any more
        Failed,   ///< the memo is still on the server; the text says why
        TimedOut, ///< the mailbox did not become free in time
    };
    using DeleteCallback = std::function<void(DeleteResult, const QString &errorText)>;

    static constexpr int DefaultMaxViewers = 50;

    explicit MailCheck(const Pop3Settings &settings, const QString &interval,
                       QObject *parent = nullptr);
    ~MailCheck() override;

    /// The first check, at once.
    void start();

    /// Recomputes the wait to the next check from Interval.
    void ScheduleNextCheck();

    /// The timer's tick: counts down whole minutes, then starts a check.
    void tmrCheckMail_Timer();

    /// The mail-check timer; held stopped while a memo is sent, the settings
    /// dialog is open or a deletion runs.
    void holdTimer();
    void releaseTimer();
    QTimer &timer() { return m_timer; }
    qint16 minutesLeft() const { return m_minutesLeft; }
    qint16 lastSeconds() const { return m_lastSeconds; }

    /// The POP3 state number the viewers follow (0 when nothing is awaited).
    int Pop3State() const;
    bool isChecking() const { return m_checking; }

    /// How many messages the last complete listing named (too large ones
    /// too), with the memos read since added and those deleted left out.
    qsizetype listedCount() const { return m_boxKeys.size(); }
    /// The memos of the last listing, in the server's order (oldest first),
    /// each with its key; those deleted since are left out.
    QList<MemoValues> listedMemos() const;

    /// Starts a check at once, unless one is running; after the deletions
    /// under way or waiting, if any (they never share a session).
    void checkNow();

    /// The failure the checks meet since failureSince(); empty while they
    /// succeed. The first failure of a kind is told through errorMessage(),
    /// the same one at later checks through failureRepeated() alone.
    const QString &failureText() const { return m_failureText; }
    const QDateTime &failureSince() const { return m_failureSince; }
    /// When the last check that listed the whole mailbox ended; null before.
    const QDateTime &lastGoodCheck() const { return m_lastGood; }

    /// Deletes the message with key on the server, in a session of its own
    /// once no check runs. done is called once, unless context is destroyed
    /// first.
    void requestDelete(const QString &key, QObject *context, DeleteCallback done);
    /// Bound on the wait for a free session before a deletion.
    void setDeleteTimeoutMs(int ms) { m_deleteTimeoutMs = ms; }

    /// At most this many viewers opened by the desk at once; later memos wait.
    void setMaxViewers(int n) { m_maxViewers = n; }
    /// A viewer opened for showMemo() has closed: the next memo may show.
    void viewerClosed();
    int waitingCount() const { return int(m_waiting.size()); }

    /// Ends every session with QUIT, without waiting here; shutDown() follows
    /// within the QUIT bound.
    void shutdown();

Q_SIGNALS:
    void statusText(const QString &text);
    /// A check has started; checkEnded() follows.
    void checkStarted();
    /// The server greeted the check's connection.
    void greeted();
    /// The check ended: ok when every message was listed.
    void checkEnded(bool ok);
    /// Open a viewer for this memo now.
    void showMemo(const MemoValues &memo);
    /// How many new memos wait for a viewer.
    void waitingChanged(int count);
    /// A failure to tell the user about: the first of its kind in a row of
    /// failed checks, or a deletion's.
    void errorMessage(const QString &text);
    /// A check failed the same way as the one before.
    void failureRepeated(const QString &text);
    /// The first good check after failed ones.
    void failureEnded();
    /// The listing, or a memo in it, changed: listedMemos() is new.
    void boxChanged();
    /// Every session has ended after shutdown().
    void shutDown();

private:
    struct PendingDelete
    {
        QString key;
        QPointer<QObject> context;
        bool hasContext = false;
        DeleteCallback done;
        QTimer *bound = nullptr;
    };
    /// A message the desk has read: its memo from the first time, or only
    /// the fact that it is too large to keep.
    struct Known
    {
        MemoValues memo;
        bool tooLarge = false;
        quint32 listedIn = 0; ///< the listing that last named it
    };

    void startCheck();
    void connectNewCheck();
    QList<int> wanted(const QList<QByteArray> &uids);
    void onRetrieved(int number, const QByteArray &answer, bool tooLarge);
    void onCheckFinished();
    void takeListing();
    void onCheckFailed(const QString &text);
    void noteCheckFailure(const QString &text);
    void endCheck(bool ok);
    void announce(const MemoValues &memo);
    void pumpViewers();
    void runPendingDelete();
    void startDelete(const QString &key);
    void finishDelete(DeleteResult result, const QString &errorText);
    void forget(const QByteArray &key);
    void restartTimerIfFree();
    void checkShutDown();

    Pop3Settings m_settings;
    QString m_interval;
    QTimer m_timer;
    qint16 m_minutesLeft = 0;
    qint16 m_lastSeconds = 1;
    int m_holds = 0;
    bool m_checking = false;
    bool m_checkWaiting = false; ///< a check asked for while a deletion ran
    bool m_shuttingDown = false;
    bool m_shutDownSent = false;
    QTimer m_shutdownBound;
    Pop3Check *m_check = nullptr;
    Pop3Delete *m_deleteJob = nullptr;

    /// What the desk has read and the server still lists as far as is known,
    /// by unique-id (or, from a server without UIDL, by memo key): a message
    /// in here is never retrieved or announced again, whatever fails.
    QHash<QByteArray, Known> m_known;
    quint32 m_listing = 0; ///< number of the running listing
    /// Keys of the last complete listing, message n at n - 1, with the memos
    /// read since added and those deleted left out (empty for unkept ones).
    QList<QByteArray> m_boxKeys;
    QList<QByteArray> m_nextKeys; ///< keys of the running listing, message n at n - 1
    QList<QByteArray> m_readNow;  ///< keys read by the running check
    bool m_byUid = true;          ///< the running listing came from UIDL
    ListingKeys m_listingKeys;    ///< keys of a listing without UIDL
    QStringList m_tooLarge;       ///< numbers of the messages read through, not kept
    QStringList m_lastTooLarge;   ///< the same, of the last complete listing
    /// The UIDL answer of the last complete listing, every message of it read.
    QByteArray m_knownListing;

    QQueue<MemoValues> m_waiting;
    int m_openViewers = 0;
    int m_maxViewers = DefaultMaxViewers;
    bool m_pumpQueued = false;

    QString m_failureText;
    QDateTime m_failureSince;
    QDateTime m_lastGood;

    QList<PendingDelete> m_deletes;
    bool m_deleteRunning = false;
    int m_deleteTimeoutMs = 30000;
};
