#pragma once
// The receiving desk's background work: the mail-check schedule, one POP3
// session per check, the mailbox lists of the last two checks, new-memo
// detection and deletions requested from memo viewers.

#include "MemoMail.h"
#include "Pop3Session.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <functional>

class MailCheck : public QObject
{
    Q_OBJECT

public:
    enum class DeleteResult {
        Deleted,  ///< the server confirmed the deletion
        NotFound, ///< no message has that key any more
        Failed,   ///< the dialogue failed; the text says why
        TimedOut, ///< the session did not become free in time
    };
    using DeleteCallback = std::function<void(DeleteResult, const QString &errorText)>;

    explicit MailCheck(const Pop3Session::Settings &settings, const QString &interval,
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

    const QList<MailBoxRow> &currentBox() const { return m_box[m_currentBox]; }
    const QList<MailBoxRow> &previousBox() const { return m_box[1 - m_currentBox]; }

    /// Deletes the message with key on the server, once the session is free.
    /// done is called once, unless context is destroyed first.
    void requestDelete(const QString &key, QObject *context, DeleteCallback done);

    /// Ends every session with QUIT, waiting at most a few seconds.
    void shutdown();

    /// Bound on the wait for a free session before a deletion.
    void setDeleteTimeoutMs(int ms) { m_deleteTimeoutMs = ms; }

Q_SIGNALS:
    void statusText(const QString &text);
    void sendButtonEnabled(bool enabled);
    void settingsButtonEnabled(bool enabled);
    /// A memo not listed by the previous check.
    void newMemo(const MemoValues &memo);
    /// A failure to tell the user about.
    void errorMessage(const QString &text);
    /// A check ended, normally or not.
    void checkEnded();

private:
    struct PendingDelete
    {
        QString key;
        QPointer<QObject> context;
        bool hasContext = false;
        DeleteCallback done;
        QTimer *bound = nullptr;
    };

    void startCheck();
    void connectNewSession();
    void endCheck();
    void runPendingDelete();
    void finishDelete(DeleteResult result, const QString &errorText);
    void restartTimerIfFree();

    Pop3Session::Settings m_settings;
    QString m_interval;
    QTimer m_timer;
    qint16 m_minutesLeft = 0;
    qint16 m_lastSeconds = 1;
    int m_holds = 0;
    bool m_checking = false;
    bool m_shuttingDown = false;
    Pop3Session *m_session = nullptr;
    Pop3Session *m_deleteSession = nullptr;
    QList<MailBoxRow> m_box[2];
    QSet<QString> m_previousKeys; ///< keys of the previous list, for the new-memo test
    int m_currentBox = 0;
    QList<PendingDelete> m_deletes;
    bool m_deleteRunning = false;
    int m_deleteTimeoutMs = 30000;
};
