#pragma once
// A scripted TCP server for dialogue tests: it sends, checks the lines the client must
// send and can close; the script then goes on with the client's next connection.

#include "Pop3Jobs.h"

#include <QtNetwork>

using namespace Qt::StringLiterals;

class FakeServer : public QTcpServer
{
public:
    /// bytewise: every byte sent in a write of its own, one per event-loop turn.
    explicit FakeServer(bool bytewise = false) : m_bytewise(bytewise)
    {
        listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return serverPort(); }
    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }
    /// Server sends text, a line unless told otherwise.
    FakeServer &send(const QByteArray &text, bool line = true)
    {
        const QByteArray data = line ? text + "\r\n" : text;
        for (qsizetype i = 0; m_bytewise && i < data.size(); ++i)
            step(Send, data.mid(i, 1)).pause(0);
        return m_bytewise ? *this : step(Send, data);
    }
    /// Client must send this line (without CR LF); "*" stands for any line.
    FakeServer &expect(const QByteArray &line) { return step(Expect, line); }
    FakeServer &close() { return step(Close); }
    /// Server starts its side of a TLS handshake with <stem>.pem and <stem>.key:
    /// at once for each connection (implicit), or as a step.
    void useCertificate(const QString &stem, bool implicit)
    {
        QFile key(stem + u".key"_s);
        key.open(QIODevice::ReadOnly);
        m_tls.setLocalCertificate(QSslCertificate::fromPath(stem + u".pem"_s).value(0));
        m_tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
        m_tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_implicitTls = implicit;
    }
    /// Steps written as text, separated by "|": "<line" sends a line, ">line"
    /// expects one, "T" starts TLS, "C" closes.
    FakeServer &script(const QByteArray &steps)
    {
        for (const QByteArray &s : steps.split('|')) {
            if (s.startsWith('<'))
                send(s.mid(1));
            else if (s.startsWith('>'))
                expect(s.mid(1));
            else if (s == "T")
                step(StartTls);
            else if (s == "C")
                close();
        }
        return *this;
    }
    FakeServer &pause(int ms) { return step(Pause, QByteArray::number(ms)); }
    /// Server waits here until the test calls release().
    FakeServer &hold() { return step(Hold); }
    void release()
    {
        m_released = true;
        run();
    }
    /// Server sends text in pieces of size bytes, pausing ms between them.
    FakeServer &trickle(const QByteArray &text, int size, int ms)
    {
        for (qsizetype i = 0; i < text.size(); i += size)
            send(text.mid(i, size), false).pause(ms);
        return *this;
    }
    /// POP3: greeting, login as user1 / pass, and STAT answered with stat;
    /// without stat, the password is refused.
    FakeServer &pop3Login(const QByteArray &stat)
    {
        return script("<+OK|>USER user1|<+OK|>PASS pass|" +
                      (stat.isEmpty() ? QByteArray("<-ERR [AUTH] Authentication failed.")
                                      : QByteArray("<+OK|>STAT|<" + stat)));
    }
    /// POP3: UIDL answered with uids (message n at n - 1), or LIST of count messages of 100 octets.
    FakeServer &pop3Uidl(const QList<QByteArray> &uids) { return listing("UIDL", uids); }
    FakeServer &pop3List(int count) { return listing("LIST", QList<QByteArray>(count, "100")); }
    FakeServer &listing(const QByteArray &command, const QList<QByteArray> &fields)
    {
        QByteArray answer = "+OK\r\n";
        for (qsizetype i = 0; i < fields.size(); ++i)
            answer += QByteArray::number(i + 1) + ' ' + fields[i] + "\r\n";
        return expect(command).send(answer + ".\r\n", false);
    }
    /// POP3: one check: login, STAT and UIDL of uids; LIST and the RETR of the
    /// answers by message number when there are any; with end, QUIT and the close.
    FakeServer &pop3Check(const QList<QByteArray> &uids, const QMap<int, QByteArray> &answers = {},
                          bool end = true)
    {
        pop3Login("+OK " + QByteArray::number(uids.size()) + " 900");
        if (!uids.isEmpty())
            pop3Uidl(uids);
        if (!answers.isEmpty())
            pop3List(int(uids.size()));
        for (auto [n, answer] : answers.asKeyValueRange())
            expect("RETR " + QByteArray::number(n)).send(answer, false);
        return end ? pop3Quit() : *this;
    }
    /// POP3: the end of a session.
    FakeServer &pop3Quit() { return expect("QUIT").send("+OK").close(); }

    /// True when every step was played and checked.
    bool done() const { return m_index >= m_steps.size(); }
    /// Done, and every line the client sent was the one expected.
    bool ok() const { return done() && m_failure.isEmpty(); }
    QString failure() const { return m_failure; }
    QList<QByteArray> received() const { return m_received; }
    /// Everything the clients sent in the clear or inside TLS, as it came.
    QByteArray wire() const { return m_wire; }
    int connections() const { return m_connections; }
    /// A client's connection is open.
    bool isConnected() const { return m_socket != nullptr; }

protected:
    /// TLS-capable sockets that start in plain text.
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setSslConfiguration(m_tls);
        ++m_connections;
        m_waiting.append(socket);
        takeNext();
    }

private:
    enum Kind { Send, Expect, Close, Pause, StartTls, Hold };
    FakeServer &step(Kind kind, const QByteArray &data = {})
    {
        m_steps.append({kind, data});
        return *this;
    }

    /// One dialogue at a time: a connection waits until the one before it ends.
    void takeNext()
    {
        if (m_socket || m_waiting.isEmpty())
            return;
        QSslSocket *socket = m_socket = m_waiting.takeFirst();
        m_in.clear();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (m_socket == socket) {
                const QByteArray bytes = socket->readAll();
                m_in += bytes;
                m_wire += bytes;
                run();
            }
        });
        if (m_implicitTls)
            socket->startServerEncryption();
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_socket == socket)
                m_socket = nullptr;
            socket->deleteLater();
            takeNext();
        });
        run();
    }

    /// Plays steps until one has to wait for the client or the clock.
    void run()
    {
        while (m_socket && m_index < m_steps.size() && !m_waitingForTimer) {
            const auto &[kind, data] = m_steps[m_index];
            const qsizetype end = m_in.indexOf("\r\n");
            if ((kind == Expect && end < 0) || (kind == Hold && !m_released))
                return;
            ++m_index;
            if (kind == Send) {
                m_socket->write(data);
            } else if (kind == Expect) {
                const QByteArray line = m_in.left(end);
                m_in.remove(0, end + 2);
                m_received.append(line);
                if (line != data && data != "*" && m_failure.isEmpty())
                    m_failure = u"step %1: expected \"%2\", got \"%3\""_s.arg(m_index - 1)
                                    .arg(QString::fromLatin1(data), QString::fromLatin1(line));
            } else if (kind == Pause) {
                m_waitingForTimer = true;
                QTimer::singleShot(data.toInt(), this, [this] {
                    m_waitingForTimer = false;
                    run();
                });
            } else if (kind == Hold) {
                m_released = false;
            } else if (kind == StartTls) {
                m_socket->startServerEncryption();
            } else {
                std::exchange(m_socket, nullptr)->disconnectFromHost();
                takeNext();
            }
        }
    }

    bool m_bytewise;
    QSslConfiguration m_tls = QSslConfiguration::defaultConfiguration();
    bool m_implicitTls = false;
    QByteArray m_wire;
    QSslSocket *m_socket = nullptr;
    QList<QSslSocket *> m_waiting;
    int m_connections = 0;
    QList<std::pair<Kind, QByteArray>> m_steps;
    qsizetype m_index = 0;
    bool m_waitingForTimer = false;
    bool m_released = false;
    QByteArray m_in;
    QString m_failure;
    QList<QByteArray> m_received;
};

#define VERIFY_SCRIPT(server) QVERIFY2((server).ok(), qPrintable((server).failure()))

/// POP3 settings for user1 / pass on a loopback port, with short bounds.
inline Pop3Settings Pop3At(quint16 port, int replyTimeoutMs = 5000)
{
    Pop3Settings s{u"127.0.0.1"_s, QString::number(port), u"user1"_s, u"pass"_s, {}, {}, {}, {}};
    s.limits.replyTimeoutMs = replyTimeoutMs;
    s.limits.quitTimeoutMs = 2000;
    return s;
}

/// A POP3 server's answer to RETR for a memo; without id, without a Message-ID.
inline QByteArray RetrMemo(const QByteArray &id, const QByteArray &text)
{
    return "+OK 100 octets\r\nSubject:0    12/06 09:30ACME\r\n" +
           (id.isEmpty() ? QByteArray() : "Message-Id: " + id + "\r\n") + "\r\n" + text +
           "\r\n\r\n.\r\n";
}
