#pragma once
// The connection under every mail dialogue: it connects, frames whole
// replies, keeps one watchdog per reply, maps failures to the system's texts
// and closes politely. A job says what to send and what each reply means.

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "ReplyFramer.h"

class QTcpSocket;
class QSslError;
class QSslSocket;

/// How a connection is secured.
enum class TlsMode {
    None,     ///< plain text throughout
    Upgrade,  ///< plain greeting, then STLS or STARTTLS before anything secret
    Implicit, ///< TLS from the first byte
};

/// What a connection needs to be secured.
struct TlsSettings
{
    TlsMode mode = TlsMode::None;
    /// PEM certificate authorities trusted besides the system's; empty for none.
    QString caFile;
    /// Set when the configured values are unusable: the dialogue then fails
    /// with this text before it connects.
    QString configError;
};

/// True when text can travel as a command argument: no CR, LF or NUL.
bool IsSafeArgument(const QString &text);

class LineSession : public QObject
{
    Q_OBJECT

public:
    explicit LineSession(const LineLimits &limits, QObject *parent = nullptr);
    ~LineSession() override;

    /// Connects to server:port (given as configured text) and awaits the
    /// greeting in the given form.
    /// With a TlsSettings mode other than None the connection is a TLS one:
    /// at once (Implicit) or after startTls() (Upgrade). The certificate is
    /// verified against the trusted authorities and the server name as given.
    void open(const QString &server, const QString &port, ReplyForm greeting,
              const TlsSettings &tls = {});

    /// Starts the TLS handshake on the open connection, once the server has
    /// agreed to it; secured() follows, or failed(). Nothing may be sent
    /// before secured().
    void startTls();
    /// A TLS socket whose handshake is over.
    bool isEncrypted() const;

    /// Sends command (CR LF is appended) and awaits its reply. shown is what
    /// the status bar says; empty for the command itself.
    void send(const QByteArray &command, ReplyForm form, const QString &shown = QString());

    /// Sends a block as it is (the mail data) and awaits the reply.
    void sendBlock(const QByteArray &block, ReplyForm form);

    /// Ends the connection with command ("QUIT"): after the reply being
    /// awaited, if any, which is dropped; its own reply is awaited at most
    /// quitTimeoutMs and never reported. closed() follows.
    void quit(const QByteArray &command, ReplyForm form = ReplyForm::Pop3Line);

    /// Closes at once; closed() follows unless closed already.
    void abort();

    /// Connected, nothing awaited, not ending.
    bool isIdle() const;
    bool isClosed() const { return m_state == State::Closed; }
    /// Closing, not closed yet: after quit(), or while a failure is told.
    bool isEnding() const
    {
        return m_state == State::Dropping || m_state == State::Quitting ||
               m_state == State::Failing;
    }

    /// For measurements: called right after each read from a socket (false)
    /// and right before each write to one (true), in every session. Null by
    /// default; not thread-safe to change while sessions run.
    using TraceHook = void (*)(bool isWrite);
    static void setTraceHook(TraceHook hook);

Q_SIGNALS:
    void statusText(const QString &text);
    /// One whole reply to what was sent (or the greeting).
    void replied(const LineReply &reply);
    /// The handshake begun by startTls() succeeded.
    void secured();
    /// The connection failed while a reply was awaited; the text is the one
    /// to show. closed() follows.
    void failed(const QString &errorText);
    /// The socket is closed; once per session. Anything the server says or
    /// does while nothing is awaited ends the connection without a failure.
    void closed();

private:
    // Where the session is, and what each state allows ("tls": startTls()).
    // "awaits" is what the framer waits for; data that comes while nothing is
    // awaited ends the session quietly, as does any close once it is ending.
    //
    // state        send  tls  awaits             watchdog     data, once whole  close, error
    // Unopened     yes   -    -                  -            -                 -
    // Connecting   yes   -    the greeting       Connect      -                 failed: connect
    // Handshaking  yes   -    the greeting       Reply        -                 failed: TLS
    // Awaiting     yes   yes  a reply            Reply, Rate  replied(), Idle   failed: recv
    // Idle         yes   yes  -                  -            closed()          closed()
    // Upgrading    yes   -    the handshake      Reply        -                 failed: TLS
    // Dropping     -     -    a reply, to drop   Quit, 2x     QUIT, Quitting    closed()
    // Quitting     -     -    QUIT's, not shown  Quit         closed()          closed()
    // Failing      -     -    -                  as it was    closed()          closed()
    // Closed       -     -    -                  stopped      ignored           ignored
    //
    // The jobs send in Idle only; elsewhere send() keeps the state, as a
    // reply is due already. Handshaking follows Connecting with implicit TLS;
    // Upgrading is begun by startTls() and ends in Idle with secured().
    // Failing lasts while failed() is emitted; its watchdog kind is left as
    // it was, so that a late tick only closes.
    enum class State {
        Unopened,
        Connecting,
        Handshaking,
        Awaiting,
        Idle,
        Upgrading,
        Dropping,
        Quitting,
        Failing,
        Closed,
    };
    enum class Watch { None, Connect, Reply, Rate, Quit };

    /// A reply (or the greeting, or a handshake) is due: what arrives is framed.
    bool awaitsReply() const
    {
        return m_state != State::Unopened && m_state != State::Idle && m_state != State::Failing &&
               m_state != State::Closed;
    }
    /// A TLS handshake is under way, or follows the connect.
    bool handshakeDue() const
    {
        return m_state == State::Handshaking || m_state == State::Upgrading ||
               (m_state == State::Connecting && m_tlsMode == TlsMode::Implicit);
    }
    bool tlsSocket() const { return m_tlsMode != TlsMode::None; }

    void onConnected();
    void onReadyRead();
    void onSocketError();
    QSslSocket *newTlsSocket(const TlsSettings &tls, QString *error);
    void onEncrypted();
    void onSslErrors(const QList<QSslError> &errors);
    QString tlsFailureText() const;
    void onDisconnected();
    /// The connection is gone: a failure if a reply was awaited, else the end.
    void connectionEnded(QAbstractSocket::SocketError error);
    void onWatchdog();
    void processBuffer();
    bool readSocket();
    void handleReplies();
    void deliver(const LineReply &reply);
    /// A command went out: its reply is awaited.
    void commandSent();
    void write(const QByteArray &bytes);
    void arm(Watch watch, int ms);
    void fail(const QString &errorText);
    void finishClose();

    LineLimits m_limits;
    QTcpSocket *m_socket = nullptr;
    QTimer m_watchdog;
    QTimer m_readDelay;
    Watch m_watch = Watch::None;
    int m_watchMs = 0;
    QElapsedTimer m_since; ///< since the command, or the start of the rate window
    ReplyFramer m_framer;
    State m_state = State::Unopened;
    /// How the connection is secured, as opened; None before open() and
    /// when the settings were unusable.
    TlsMode m_tlsMode = TlsMode::None;
    QByteArray m_chunk; ///< what one direct read fills
    QStringList m_certificateErrors;
    QByteArray m_quitCommand; ///< sent once the awaited reply is whole
    ReplyForm m_quitForm = ReplyForm::Pop3Line;
    qsizetype m_windowBytes = 0;

    static TraceHook s_traceHook;
};
