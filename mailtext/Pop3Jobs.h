#pragma once
// The two POP3 jobs, each one short session over a line session of its own
// that ends with QUIT: the mail check, which lists the mailbox by unique-id
// and retrieves only what the desk does not know yet, and the deletion of
// one memo. Nothing is held between them.

#include "LineSession.h"
#include "SaslOAuth.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class OAuthTokens;

/// How long one POP3 session may take as a whole, whatever each reply's own
/// watchdog allows: a fixed allowance, plus the bytes it must move at a
/// minimum rate. The listings are counted at listingLineBytes per message
/// (from STAT's count), the messages by their sizes in LIST.
struct SessionBounds
{
    int allowanceMs = 60000;
    qint64 minBytesPerSecond = 32 * 1024;
    qint64 listingLineBytes = 100;
};

/// What a POP3 connection needs of the configuration.
struct Pop3Settings
{
    QString server;
    QString port;
    QString userId;
    QString password;
    LineLimits limits;
    TlsSettings tls; ///< Upgrade: STLS after the greeting
    SessionBounds bounds;
    OAuthLogin oauth; ///< enabled: CAPA and AUTH instead of USER and PASS
};

/// The reply a POP3 job waits for; the numbers are the ones the windows follow.
enum class Pop3State : qint16 {
    Idle = 0,       ///< the greeting of a new connection; after a session: nothing
    User = 1,       ///< reply to USER
    Pass = 3,       ///< reply to PASS
    Stat = 4,       ///< reply to STAT
    Retr = 5,       ///< reply to RETR
    Quit = 6,       ///< reply to QUIT
    Empty = 7,      ///< nothing: the check found no message
    Dele = 8,       ///< reply to DELE
    Stls = 9,       ///< reply to STLS
    Uidl = 10,      ///< reply to UIDL
    List = 11,      ///< reply to LIST
    Capa = 12,      ///< reply to CAPA, before AUTH
    Auth = 13,      ///< reply to AUTH and its mechanism: the continuation
    AuthToken = 14, ///< reply to the token
    AuthError = 15, ///< the final reply, after answering an error challenge
};

/// Login shared by both jobs: greeting, STLS and the handshake when so
/// configured, USER and PASS (or CAPA and AUTH with a token), STAT; then
/// listed(). The whole session runs
/// against one deadline (see SessionBounds); past it the connection is
/// dropped at once.
class Pop3Job : public QObject
{
    Q_OBJECT

public:
    explicit Pop3Job(const Pop3Settings &settings, QObject *parent = nullptr);

    void start();
    Pop3State state() const { return m_state; }
    bool isClosed() const { return m_line->isClosed(); }

    /// Ends the connection: QUIT once logged in, its reply awaited within
    /// the quit bound and not reported. closed() follows once. shown: the
    /// status bar says "QUIT" (not at the end of a check, whose last word
    /// stays there until the next one).
    void quit(bool shown = true);

Q_SIGNALS:
    void statusText(const QString &text);
    /// The greeting was answered.
    void greeted();
    /// The job failed; the text is the one to show. closed() follows.
    void failed(const QString &errorText);
    void closed();

protected:
    void command(Pop3State next, const QString &text, ReplyForm form = ReplyForm::Pop3Line,
                 const QString &shown = QString());
    /// Reports a failure; a logged-in connection still ends with QUIT.
    void fail(const QString &errorText);
    /// An answer that cannot be read: the session fails with the step and
    /// the line that was wrong.
    void failUnreadable(const QString &step, const QByteArray &line);
    /// The fields of a UIDL or LIST answer (see ReadListing); false when it
    /// cannot be read, and the session fails with step and the wrong line.
    bool readListing(const LineReply &reply, const QString &step, QList<QByteArray> *fields);
    /// Moves the deadline on by the time bytes take at the minimum rate.
    void extendDeadline(qint64 bytes);
    /// STAT answered with a count.
    virtual void listed(int count) = 0;
    /// A positive reply after STAT.
    virtual void positive(const LineReply &reply) = 0;
    /// A negative reply after the login; the default fails the job.
    virtual void negative(const QString &line);

    Pop3Settings m_settings;
    std::unique_ptr<LineSession> m_line;
    Pop3State m_state = Pop3State::Idle;
    bool m_loggedIn = false;
    int m_count = 0; ///< from STAT

private:
    void onReply(const LineReply &reply);
    void login();
    void failBeforeConnecting(const QString &errorText);
    void authenticate(const QByteArray &capabilities);
    void onContinuation(const LineReply &reply);
    void onDeadline();
    void newLine();

    QTimer m_deadline;
    QDeadlineTimer m_due;
    SaslMechanism m_mechanism = SaslMechanism::XOAuth2;
    bool m_tokenRefused = false;
    OAuthTokens *m_tokens = nullptr; ///< where a fresh token comes from
    bool m_retried = false;          ///< the one try with a fresh token is spent
};

/// One mail check: STAT, UIDL, and only when the desk wants some of the
/// messages, LIST and their RETR one at a time; then QUIT. A server without
/// UIDL gets every message retrieved. checkFinished() comes once the session
/// has ended.
class Pop3Check : public Pop3Job
{
    Q_OBJECT

public:
    /// Given the unique-ids of the listing (message n at n - 1), the numbers
    /// of the messages to retrieve, in ascending order.
    using Wanted = std::function<QList<int>(const QList<QByteArray> &uids)>;

    /// Without wanted, every message is retrieved.
    explicit Pop3Check(const Pop3Settings &settings, Wanted wanted = {}, QObject *parent = nullptr);

    /// A UIDL answer whose listing, when the server gives it again line for
    /// line, means that nothing is new: the check ends without reading it.
    void setKnownListing(const QByteArray &uidlAnswer) { m_knownListing = uidlAnswer; }
    /// The listing matched the known one.
    bool listingUnchanged() const { return m_unchanged; }
    /// The UIDL answer as it came; empty when UIDL was refused.
    const QByteArray &uidlAnswer() const { return m_uidlAnswer; }

Q_SIGNALS:
    /// One whole RETR answer; tooLarge when it was listed or read through
    /// as larger than an answer may be, not kept (answer then holds at most
    /// the status line).
    void messageRetrieved(int number, const QByteArray &answer, bool tooLarge);
    /// The session has ended after a complete listing; empty when the
    /// mailbox held nothing.
    void checkFinished(bool empty);

protected:
    void listed(int count) override;
    void positive(const LineReply &reply) override;
    void negative(const QString &line) override;

private:
    /// Sends the next RETR, then tells the answer just come (number and
    /// reply), if any, and the messages skipped for their size; finishes
    /// after the last.
    void retrieveNext(const std::optional<std::pair<int, LineReply>> &answer);
    void finish();

    Wanted m_wanted;
    QList<int> m_fetch;
    QList<bool> m_skip;      ///< per m_fetch: listed larger than an answer may be
    qsizetype m_next = 0;    ///< index into m_fetch after the last RETR
    bool m_fetchAll = false; ///< every message, once LIST has listed them
    bool m_unchanged = false;
    QByteArray m_knownListing;
    QByteArray m_uidlAnswer;
    bool m_complete = false;
};

/// Deletes one memo over a session of its own: UIDL finds the memo's
/// unique-id (without a unique-id, the messages are retrieved in order until
/// one has the memo's key), DELE, and QUIT, whose "+OK" is what commits the
/// deletion on the server: only then deleted().
class Pop3Delete : public Pop3Job
{
    Q_OBJECT

public:
    /// keyOf computes the key of each answer in mailbox order (the same way
    /// as the mail check lists them); an empty key never matches.
    using KeyOf = std::function<QString(const QByteArray &answer, bool tooLarge)>;

    /// uid: the memo's unique-id; when empty, key and keyOf find it instead.
    Pop3Delete(const Pop3Settings &settings, const QByteArray &uid, const QString &key, KeyOf keyOf,
               QObject *parent = nullptr);

Q_SIGNALS:
    /// The server committed the deletion.
    void deleted();
    /// No message is the memo any more.
    void notFound();

protected:
    void listed(int count) override;
    void positive(const LineReply &reply) override;
    void negative(const QString &line) override;

private:
    void retrieveNext();
    void deleteMessage(int number);

    QByteArray m_uid;
    QString m_key;
    KeyOf m_keyOf;
    int m_index = 0;
};

/// The message count of a STAT reply ("+OK count size"), or -1 when it has none.
int StatMessageCount(const QByteArray &reply);

/// The second fields of a UIDL or LIST answer ("+OK" line, "n field" lines,
/// "." line), message n at n - 1, when they number 1 to count in order; false
/// with the offending line otherwise.
bool ReadListing(const QByteArray &answer, int count, QList<QByteArray> *fields,
                 QByteArray *badLine);
