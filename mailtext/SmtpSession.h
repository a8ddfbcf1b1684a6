#pragma once
// One SMTP dialogue delivering one mail: HELO, MAIL FROM, one RCPT TO per
// recipient, DATA, the mail text, and QUIT once the server has accepted it.
// Shared by the program and the reply component.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QTcpSocket;

/// Framing of SMTP replies: a reply is complete at the CR LF of its last line
/// (the line whose fourth character is not "-").
struct SmtpFrame
{
    bool complete = false;
    bool bad = false;
    qsizetype length = 0;
};
SmtpFrame FrameSmtpReply(const QByteArray &buffer);

/// Lines of a mail text with dot-stuffing applied and CR LF after each line,
/// followed by the end of data (CR LF "." CR LF).
QByteArray SmtpDataBlock(const QByteArray &mailText);

class SmtpSession : public QObject
{
    Q_OBJECT

public:
    /// The reply the dialogue waits for.
    enum class State : qint16 {
        Greeting = 0,  ///< the server's greeting
        Helo = 1,      ///< reply to HELO
        Rcpt = 2,      ///< reply to MAIL FROM or to a RCPT TO but the last
        LastRcpt = 3,  ///< reply to the last RCPT TO
        Data = 4,      ///< reply to DATA
        EndOfData = 6, ///< reply to the end of data
        Quit = 7,      ///< reply to QUIT, after the mail was accepted
    };

    struct Settings
    {
        QString server;
        QString port;
        QString heloName;
        int replyTimeoutMs = 60000;
        int quitTimeoutMs = 5000;
    };

    explicit SmtpSession(const Settings &settings, QObject *parent = nullptr);
    ~SmtpSession() override;

    /// Connects and delivers mailText (7-bit, lines ending in CR LF but the
    /// last) from fromAddress to the recipients, in order. Blank recipients
    /// are skipped; the others are trimmed.
    void sendMail(const QString &fromAddress, const QStringList &recipients,
                  const QByteArray &mailText);

    State state() const { return m_state; }

Q_SIGNALS:
    void statusText(const QString &text);
    /// The server accepted the mail.
    void sent();
    /// The dialogue failed; the text is the one to show.
    void failed(const QString &errorText);
    /// The socket is closed; emitted once, after sent() or failed().
    void closed();

private:
    void onConnected();
    void onReadyRead();
    void onSocketError();
    void onDisconnected();
    void onWatchdog();
    void handleReply(const QByteArray &reply);
    void sendCommand(State next, const QString &command);
    void fail(const QString &errorText);
    void finishClose();

    Settings m_settings;
    QTcpSocket *m_socket = nullptr;
    QTimer m_watchdog;
    QByteArray m_buffer;
    State m_state = State::Greeting;
    QString m_from;
    QStringList m_recipients;
    QByteArray m_mail;
    bool m_connecting = false;
    bool m_done = false;
    bool m_closed = false;
};
