#pragma once
// The two POP3 jobs over one line session each: the mail check, which lists
// every message and then keeps its connection open for deletions, and the
// deletion by key over a connection of its own.

#include "LineSession.h"

#include <QObject>
#include <QString>

#include <functional>

/// What a POP3 connection needs of the configuration.
struct Pop3Settings
{
    QString server;
    QString port;
    QString userId;
    QString password;
    LineLimits limits;
    TlsSettings tls; ///< Upgrade: STLS after the greeting
};

/// The reply a POP3 job waits for; the numbers are the ones the windows follow.
enum class Pop3State : qint16 {
    Idle = 0,  ///< the greeting of a new connection; after a check: nothing
    User = 1,  ///< reply to USER
    Pass = 3,  ///< reply to PASS
    Stat = 4,  ///< reply to STAT
    Retr = 5,  ///< reply to RETR
    Quit = 6,  ///< reply to QUIT
    Empty = 7, ///< nothing: the check found no message
    Dele = 8,  ///< reply to DELE
    Stls = 9,  ///< reply to STLS
};

/// Login shared by both jobs: greeting, STLS and the handshake when so
/// configured, USER, PASS; then loggedIn().
class Pop3Job : public QObject
{
    Q_OBJECT

public:
    explicit Pop3Job(const Pop3Settings &settings, QObject *parent = nullptr);

    Pop3State state() const { return m_state; }
    bool isClosed() const { return m_line.isClosed(); }

    /// Ends the connection: QUIT once logged in (so that deletions take
    /// effect), its reply awaited with a bound. closed() follows once.
    void quit();

Q_SIGNALS:
    void statusText(const QString &text);
    /// The job failed; the text is the one to show.
    void failed(const QString &errorText);
    void closed();

protected:
    void begin();
    void command(Pop3State next, const QString &text, ReplyForm form = ReplyForm::Pop3Line,
                 const QString &shown = QString());
    /// Reports a failure; a logged-in connection still ends with QUIT.
    void fail(const QString &errorText);
    virtual void loggedIn() = 0;
    /// A positive reply after the login.
    virtual void positive(const LineReply &reply) = 0;
    /// A negative reply after the login; the default fails the job.
    virtual void negative(const QString &line);

    Pop3Settings m_settings;
    LineSession m_line;
    Pop3State m_state = Pop3State::Idle;
    bool m_loggedIn = false;

private:
    void onReply(const LineReply &reply);
    void sendUser();
};

/// One mail check: STAT, then RETR 1 … RETR n, one at a time; afterwards the
/// connection idles for deletions until quit().
class Pop3Check : public Pop3Job
{
    Q_OBJECT

public:
    using Pop3Job::Pop3Job;

    void start() { begin(); }

    /// The check has finished and the connection is free.
    bool isIdle() const;

    /// Sends "DELE number" on the idle connection. False when it is not idle.
    bool deleteMessage(int number);

Q_SIGNALS:
    /// The greeting was answered.
    void greeted();
    /// The STAT reply came.
    void listStarted(int count);
    /// One whole RETR answer; tooLarge when it was read through, not kept
    /// (answer then holds the status line only).
    void messageRetrieved(int number, const QByteArray &answer, bool tooLarge);
    /// Every message was retrieved; empty when there was none.
    void checkFinished(bool empty);
    void messageDeleted(int number);

protected:
    void loggedIn() override;
    void positive(const LineReply &reply) override;
    void negative(const QString &line) override;

private:
    void retrieveNext();

    int m_count = 0;
    int m_index = 0;
    int m_deleting = 0;
    bool m_finished = false;
};

/// Deletes the message with a given key over a connection of its own: it
/// retrieves the messages in order until one has the key, deletes it and
/// ends with QUIT.
class Pop3Delete : public Pop3Job
{
    Q_OBJECT

public:
    /// keyOf computes the key of each answer in mailbox order (the same way
    /// as the mail check lists them); an empty key never matches.
    using KeyOf = std::function<QString(const QByteArray &answer, bool tooLarge)>;

    Pop3Delete(const Pop3Settings &settings, const QString &key, KeyOf keyOf,
               QObject *parent = nullptr);

    void start() { begin(); }

Q_SIGNALS:
    void deleted();
    void notFound();

protected:
    void loggedIn() override;
    void positive(const LineReply &reply) override;

private:
    QString m_key;
    KeyOf m_keyOf;
    int m_count = 0;
    int m_index = 0;
};

/// The message count of a STAT reply ("+OK count size"), or -1 when it has none.
int StatMessageCount(const QByteArray &reply);
