#pragma once
// A scripted TCP server for dialogue tests: it plays "send" steps, checks
// "expect" steps (lines the client must send) and can close the connection.
// Replies can be cut into single bytes or glued together.

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class FakeServer : public QObject
{
    Q_OBJECT

public:
    enum class Chunking {
        Whole, ///< each send step in one write
        Bytes, ///< every byte in a write of its own, one per event-loop turn
        Glued, ///< consecutive send steps in one write
    };

    explicit FakeServer(Chunking chunking = Chunking::Whole) : m_chunking(chunking)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            ++m_connections;
            m_waiting.append(m_server.nextPendingConnection());
            takeNext();
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    /// A loopback port nothing listens on.
    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }
    /// Server sends text (CR LF appended when line is true).
    FakeServer &send(const QByteArray &text, bool line = true)
    {
        return step(Send, line ? text + "\r\n" : text);
    }
    /// Client must send this line (without CR LF).
    FakeServer &expect(const QByteArray &line) { return step(Expect, line); }
    /// The steps after this one belong to the client's next connection.
    FakeServer &accept() { return step(Accept); }
    /// Server closes the connection.
    FakeServer &close() { return step(Close); }
    /// Server waits this long before the next step.
    FakeServer &pause(int ms) { return step(Pause, QByteArray::number(ms)); }
    /// Server sends text in pieces of size bytes, pausing ms between them.
    FakeServer &trickle(const QByteArray &text, int size, int ms)
    {
        for (qsizetype i = 0; i < text.size(); i += size)
            send(text.mid(i, size), false).pause(ms);
        return *this;
    }

    /// True when every step was played and checked.
    bool done() const { return m_index >= m_steps.size(); }
    /// Done, and every line the client sent was the one expected.
    bool ok() const { return done() && m_failure.isEmpty(); }
    QString failure() const { return m_failure; }
    QList<QByteArray> received() const { return m_received; }
    int connections() const { return m_connections; }

private:
    enum Kind { Send, Expect, Close, Accept, Pause };
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
        QTcpSocket *socket = m_socket = m_waiting.takeFirst();
        ++m_serial;
        m_in.clear();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (m_socket == socket) {
                m_in += socket->readAll();
                run();
            }
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_socket == socket) // the script goes on with the next connection
                m_socket = nullptr;
            socket->deleteLater();
            takeNext();
        });
        run();
    }

    void run()
    {
        while (m_socket && m_index < m_steps.size() && !m_byteDue) {
            const auto &[kind, data] = m_steps[m_index];
            if (kind == Send && m_chunking == Chunking::Bytes) {
                m_socket->write(data.mid(m_offset, 1));
                m_socket->flush();
                if (++m_offset >= data.size()) {
                    m_offset = 0;
                    ++m_index;
                }
                m_byteDue = true; // the next byte in the next event-loop turn
                QTimer::singleShot(0, this, [this] {
                    m_byteDue = false;
                    run();
                });
            } else if (kind == Send) {
                QByteArray out;
                do
                    out += m_steps[m_index++].second;
                while (m_chunking == Chunking::Glued && m_index < m_steps.size() &&
                       m_steps[m_index].first == Send);
                m_socket->write(out);
            } else if (kind == Expect) {
                const qsizetype end = m_in.indexOf("\r\n");
                if (end < 0)
                    return;
                const QByteArray line = m_in.left(end);
                m_in.remove(0, end + 2);
                m_received.append(line);
                if (line != data && m_failure.isEmpty())
                    m_failure = QStringLiteral("step %1: expected \"%2\", got \"%3\"")
                                    .arg(m_index)
                                    .arg(QString::fromLatin1(data), QString::fromLatin1(line));
                ++m_index;
            } else if (kind == Pause) {
                ++m_index;
                m_byteDue = true;
                QTimer::singleShot(data.toInt(), this, [this] {
                    m_byteDue = false;
                    run();
                });
            } else if (kind == Accept) {
                if (m_serial == m_acceptedSerial)
                    return; // still the connection before
                m_acceptedSerial = m_serial;
                ++m_index;
            } else {
                ++m_index;
                std::exchange(m_socket, nullptr)->disconnectFromHost();
                takeNext();
            }
        }
    }

    Chunking m_chunking;
    QTcpServer m_server;
    QTcpSocket *m_socket = nullptr;
    QList<QTcpSocket *> m_waiting;
    int m_serial = 0, m_acceptedSerial = 0, m_connections = 0;
    QList<std::pair<Kind, QByteArray>> m_steps;
    qsizetype m_index = 0, m_offset = 0;
    bool m_byteDue = false;
    QByteArray m_in;
    QString m_failure;
    QList<QByteArray> m_received;
};
