#pragma once
// A scripted TCP server for dialogue tests: it plays "S:" steps (bytes to
// send), checks "C:" steps (lines the client must send) and can close the
// connection. Replies can be cut into single bytes or glued together.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class FakeServer : public QObject
{
    Q_OBJECT

public:
    enum class Chunking {
        Whole, ///< each S step in one write
        Bytes, ///< every byte in a write of its own, one per event-loop turn
        Glued, ///< consecutive S steps in one write
    };

    explicit FakeServer(Chunking chunking = Chunking::Whole, QObject *parent = nullptr)
        : QObject(parent), m_chunking(chunking)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, &FakeServer::onConnection);
        m_byteTimer.setInterval(0);
        connect(&m_byteTimer, &QTimer::timeout, this, &FakeServer::sendOneByte);
    }

    quint16 port() const { return m_server.serverPort(); }

    /// Server sends text (CR LF appended when line is true).
    FakeServer &send(const QByteArray &text, bool line = true)
    {
        m_steps.append(Step{Step::Send, line ? text + "\r\n" : text});
        return *this;
    }
    /// Client must send this line (without CR LF).
    FakeServer &expect(const QByteArray &line)
    {
        m_steps.append(Step{Step::Expect, line});
        return *this;
    }
    /// The steps after this one belong to the client's next connection.
    FakeServer &accept()
    {
        m_steps.append(Step{Step::Accept, {}});
        return *this;
    }
    /// Server closes the connection.
    FakeServer &close()
    {
        m_steps.append(Step{Step::Close, {}});
        return *this;
    }

    /// True when every step was played and checked.
    bool done() const { return m_index >= m_steps.size() && m_pendingOut.isEmpty(); }
    QString failure() const { return m_failure; }
    QList<QByteArray> received() const { return m_received; }
    int connections() const { return m_connections; }

private:
    struct Step
    {
        enum Kind { Send, Expect, Close, Accept } kind;
        QByteArray data;
    };

    void onConnection()
    {
        QTcpSocket *socket = m_server.nextPendingConnection();
        ++m_connections;
        m_waiting.append(socket);
        takeNext();
    }

    /// One dialogue at a time: a connection waits until the one before it ends.
    void takeNext()
    {
        if (m_socket || m_waiting.isEmpty())
            return;
        QTcpSocket *socket = m_waiting.takeFirst();
        m_socket = socket;
        ++m_serial;
        m_in.clear();
        connect(m_socket, &QTcpSocket::readyRead, this, &FakeServer::onReadyRead);
        connect(m_socket, &QTcpSocket::disconnected, this, [this, socket] {
            // The script goes on with the client's next connection.
            if (m_socket == socket)
                m_socket = nullptr;
            socket->deleteLater();
            takeNext();
        });
        run();
    }

    void onReadyRead()
    {
        m_in += m_socket->readAll();
        run();
    }

    void run()
    {
        while (m_socket && m_index < m_steps.size() && m_pendingOut.isEmpty()) {
            const Step &step = m_steps[m_index];
            if (step.kind == Step::Send) {
                QByteArray out;
                while (m_index < m_steps.size() && m_steps[m_index].kind == Step::Send) {
                    out += m_steps[m_index].data;
                    ++m_index;
                    if (m_chunking != Chunking::Glued)
                        break;
                }
                write(out);
            } else if (step.kind == Step::Expect) {
                const qsizetype end = m_in.indexOf("\r\n");
                if (end < 0)
                    return;
                const QByteArray line = m_in.left(end);
                m_in.remove(0, end + 2);
                m_received.append(line);
                if (line != step.data && m_failure.isEmpty())
                    m_failure = QStringLiteral("step %1: expected \"%2\", got \"%3\"")
                                    .arg(m_index)
                                    .arg(QString::fromLatin1(step.data), QString::fromLatin1(line));
                ++m_index;
            } else if (step.kind == Step::Accept) {
                if (m_serial == m_acceptedSerial)
                    return; // still the connection before
                m_acceptedSerial = m_serial;
                ++m_index;
            } else {
                ++m_index;
                QTcpSocket *socket = m_socket;
                m_socket = nullptr;
                socket->disconnectFromHost();
                takeNext();
            }
        }
    }

    void write(const QByteArray &out)
    {
        if (m_chunking == Chunking::Bytes) {
            m_pendingOut = out;
            m_byteTimer.start();
            return;
        }
        m_socket->write(out);
    }

    void sendOneByte()
    {
        if (!m_socket || m_pendingOut.isEmpty()) {
            m_byteTimer.stop();
            m_pendingOut.clear();
            return;
        }
        m_socket->write(m_pendingOut.left(1));
        m_socket->flush();
        m_pendingOut.remove(0, 1);
        if (m_pendingOut.isEmpty()) {
            m_byteTimer.stop();
            run();
        }
    }

    Chunking m_chunking;
    QTcpServer m_server;
    QTcpSocket *m_socket = nullptr;
    QList<QTcpSocket *> m_waiting;
    int m_serial = 0;
    int m_acceptedSerial = 0;
    QList<Step> m_steps;
    qsizetype m_index = 0;
    QByteArray m_in;
    QByteArray m_pendingOut;
    QTimer m_byteTimer;
    QString m_failure;
    QList<QByteArray> m_received;
    int m_connections = 0;
};
