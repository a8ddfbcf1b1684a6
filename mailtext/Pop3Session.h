#pragma once
// One POP3 dialogue: connect, log in, count and retrieve every message; then
// idle on the open connection for deletions until it is ended with QUIT.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

class Pop3Session : public QObject
{
    Q_OBJECT

public:
    /// The reply the dialogue waits for.
    enum class State : qint16 {
        Idle = 0,  ///< greeting of a new connection; after a check: nothing
        User = 1,  ///< reply to USER
        Pass = 3,  ///< reply to PASS
        Stat = 4,  ///< reply to STAT
        Retr = 5,  ///< reply to RETR
        Quit = 6,  ///< reply to QUIT
        Empty = 7, ///< nothing: the check found no message
        Dele = 8,  ///< reply to DELE
    };

    struct Settings
    {
        QString server;
        QString port;
        QString userId;
        QString password;
        QString sleep; ///< milliseconds to wait before each read
        int replyTimeoutMs = 60000;
        int quitTimeoutMs = 5000;
    };

    explicit Pop3Session(const Settings &settings, QObject *parent = nullptr);
    ~Pop3Session() override;

    /// Connects and runs a mail check.
    void startCheck();

    /// Connects, finds the message whose key (as computed for the mailbox
    /// list) is key, deletes it and ends the session.
    void startDeleteByKey(const QString &key);

    /// Sends "DELE n" on a session idle after its check. False when the
    /// session cannot take it now.
    bool deleteMessage(int number);

    /// Ends the session: "QUIT" when logged in (its reply awaited, with a
    /// bound), then the socket is closed. closed() follows, once.
    void quit();

    State state() const { return m_state; }
    /// Logged in, check done, connection open, nothing pending.
    bool isIdle() const;
    bool isClosed() const { return m_closed; }
    bool isLoggedIn() const { return m_loggedIn; }

Q_SIGNALS:
    void statusText(const QString &text);
    /// The greeting was answered: the settings button is disabled.
    void greeted();
    /// The STAT reply came: the check's list starts empty.
    void listStarted(int count);
    /// One whole RETR answer (status line to terminating line).
    void messageRetrieved(int number, const QByteArray &answer);
    /// The check finished normally; empty when there was no message.
    void checkFinished(bool empty);
    /// The server confirmed a deletion.
    void messageDeleted(int number);
    /// A deletion by key found no message with that key.
    void keyNotFound();
    /// The dialogue failed; the text is the one to show. The session is over.
    void failed(const QString &errorText);
    /// The socket is closed; emitted exactly once per session.
    void closed();

private:
    void connectSocket();
    void onConnected();
    void onReadyRead();
    void onSocketError();
    void onDisconnected();
    void onWatchdog();
    void processBuffer();
    void handleReply(const QByteArray &reply);
    void handlePositive(const QByteArray &reply);
    void send(const QString &command, const QString &shown = QString());
    void fail(const QString &errorText);
    void finishClose();
    void retrieveNext();
    /// The whole list was read: the session idles, or ends when asked to.
    void finishCheck(bool empty);
    /// Sends the next command, or QUIT when the session was asked to end.
    void sendNext(State state, const QString &command, const QString &shown = QString());
    void sendQuit();

    Settings m_settings;
    QTcpSocket *m_socket = nullptr;
    QTimer m_watchdog;
    QTimer m_sleep;
    QByteArray m_buffer;
    State m_state = State::Idle;
    bool m_connecting = false;
    bool m_loggedIn = false;
    bool m_closed = false;
    bool m_ending = false;
    bool m_checkDone = false;
    bool m_greeted = false;
    bool m_failed = false;
    bool m_quitPending = false;
    int m_messageCount = 0;
    int m_messageIndex = 0;
    int m_deleteNumber = 0;
    QString m_deleteKey; ///< set for a session that deletes by key
};
