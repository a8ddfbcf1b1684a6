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
    bool isEncrypted() const { return m_encrypted; }

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
    bool isClosed() const { return m_closed; }
    bool isEnding() const { return m_ending; }

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
    enum class Watch { None, Connect, Reply, Rate, Quit };

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
    bool m_awaiting = false;
    bool m_connecting = false;
    bool m_ending = false;
    bool m_closed = false;
    bool m_dropNext = false;    ///< the reply awaited when quit() came
    bool m_tls = false;         ///< a TLS socket, for either mode
    QByteArray m_chunk;         ///< what one direct read fills
    bool m_handshaking = false; ///< between startTls() (or connect) and encrypted
    bool m_upgrading = false;   ///< the handshake was begun by startTls()
    bool m_encrypted = false;
    QStringList m_certificateErrors;
    QByteArray m_quitCommand; ///< sent once the awaited reply is whole
    ReplyForm m_quitForm = ReplyForm::Pop3Line;
    qsizetype m_windowBytes = 0;

    static TraceHook s_traceHook;
};
