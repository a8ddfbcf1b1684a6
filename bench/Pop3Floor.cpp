#include "Pop3Floor.h"

#include <QCryptographicHash>
#include <QList>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

class Client
{
public:
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool connectTo(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        const timeval timeout{10, 0};
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    }

    bool send(const QByteArray &command)
    {
        for (qsizetype done = 0; done < command.size();) {
            const ssize_t n = ::send(m_fd, command.constData() + done,
                                     size_t(command.size() - done), MSG_NOSIGNAL);
            if (n < 0 && errno != EINTR)
                return false;
            done += n > 0 ? n : 0;
        }
        return true;
    }

    /// One reply read whole: the status line into `status`; for a multi-line
    /// reply the content, still dot-stuffed, into `content`, and with `raw`
    /// the whole answer as it came. False on a closed connection, a read
    /// error or a reply other than +OK.
    bool reply(QByteArray &status, QByteArray *content, QByteArray *raw = nullptr)
    {
        status.clear();
        qsizetype lineEnd;
        while ((lineEnd = m_buf.indexOf("\r\n")) < 0) {
            if (!fill())
                return false;
        }
        status = m_buf.left(lineEnd);
        qsizetype consumed = lineEnd + 2;
        const bool positive = status.startsWith("+OK");
        if (content && positive) {
            // The status line's CRLF is the one before the "." of an empty
            // message; a terminator split across reads is found on the next pass.
            qsizetype from = lineEnd;
            qsizetype end;
            while ((end = m_buf.indexOf("\r\n.\r\n", from)) < 0) {
                from = qMax(lineEnd, m_buf.size() - 4);
                if (!fill())
                    return false;
            }
            *content = m_buf.mid(lineEnd + 2, end + 2 - (lineEnd + 2));
            consumed = end + 5;
            if (raw)
                *raw = m_buf.left(consumed);
        }
        m_buf.remove(0, consumed);
        return positive;
    }

    /// Connects and logs in, up to STAT's answer in status; the step that
    /// failed, or null.
    const char *login(quint16 port, const char *user, const char *pass, QByteArray &status)
    {
        if (!connectTo(port))
            return "connect";
        if (!reply(status, nullptr))
            return "greeting";
        if (!send(QByteArray("USER ") + user + "\r\n") || !reply(status, nullptr))
            return "USER";
        if (!send(QByteArray("PASS ") + pass + "\r\n") || !reply(status, nullptr))
            return "PASS";
        if (!send("STAT\r\n") || !reply(status, nullptr))
            return "STAT";
        return nullptr;
    }

    /// When the last read returned: the end of reading the reply it completed.
    Clock::time_point lastRead() const { return m_lastRead; }

private:
    bool fill()
    {
        const qsizetype old = m_buf.size();
        m_buf.resize(old + 65536);
        ssize_t n;
        do {
            n = ::read(m_fd, m_buf.data() + old, 65536);
        } while (n < 0 && errno == EINTR);
        m_lastRead = Clock::now();
        m_buf.resize(old + qMax<ssize_t>(n, 0));
        return n > 0;
    }

    int m_fd = -1;
    QByteArray m_buf;
    Clock::time_point m_lastRead;
};

/// What went wrong at step: the server's last line, or the system's error
/// for a connection that was not made.
QString FailureText(const char *step, const QByteArray &status)
{
    if (std::strcmp(step, "connect") == 0)
        return QStringLiteral("connect: ") + QString::fromLocal8Bit(std::strerror(errno));
    return QStringLiteral("%1: %2").arg(QLatin1String(step), status.isEmpty()
                                                                 ? QStringLiteral("no reply")
                                                                 : QString::fromLatin1(status));
}

/// Drops the leading dot of every content line that starts with one.
QByteArray unstuffed(const QByteArray &content)
{
    QByteArray out;
    out.reserve(content.size());
    for (qsizetype line = 0; line < content.size();) {
        const qsizetype next = content.indexOf("\r\n", line) + 2;
        const qsizetype from = content.at(line) == '.' ? line + 1 : line;
        out.append(content.constData() + from, next - from);
        line = next;
    }
    return out;
}

} // namespace

FloorResult RunFloorCheck(quint16 port, const char *user, const char *pass,
                          QList<QByteArray> *answers)
{
    FloorResult r;
    Client c;
    QByteArray status;
    QByteArray content;
    QByteArray raw;
    const auto fail = [&](const char *step) {
        r.error = FailureText(step, status);
        return r;
    };
    const Clock::time_point start = Clock::now();
    if (const char *step = c.login(port, user, pass, status))
        return fail(step);
    r.messages = status.split(' ').value(1).toInt();
    Clock::time_point answered = c.lastRead();
    Clock::duration clientTime{};
    // Contents are kept and digested after the check, outside its timing.
    QList<QByteArray> contents;
    contents.reserve(r.messages);
    for (int i = 1; i <= r.messages; ++i) {
        const QByteArray command = "RETR " + QByteArray::number(i) + "\r\n";
        clientTime += Clock::now() - answered;
        if (!c.send(command) || !c.reply(status, &content, answers ? &raw : nullptr))
            return fail("RETR");
        answered = c.lastRead();
        contents.append(unstuffed(content));
        if (answers)
            answers->append(std::exchange(raw, QByteArray()));
    }
    r.seconds = std::chrono::duration<double>(answered - start).count();
    if (r.messages > 0)
        r.clientUsPerRetr =
            std::chrono::duration<double, std::micro>(clientTime).count() / r.messages;
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    for (const QByteArray &message : contents)
        sha1.addData(message);
    r.digest = sha1.result();
    if (!c.send("QUIT\r\n") || !c.reply(status, nullptr))
        return fail("QUIT");
    r.ok = true;
    return r;
}

FloorUidlResult RunFloorUidl(quint16 port, const char *user, const char *pass)
{
    FloorUidlResult r;
    Client c;
    QByteArray status;
    const auto fail = [&](const char *step) {
        r.error = FailureText(step, status);
        return r;
    };
    const Clock::time_point start = Clock::now();
    if (const char *step = c.login(port, user, pass, status))
        return fail(step);
    r.messages = status.split(' ').value(1).toInt();
    if (!c.send("UIDL\r\n") || !c.reply(status, &r.listing))
        return fail("UIDL");
    if (!c.send("QUIT\r\n") || !c.reply(status, nullptr))
        return fail("QUIT");
    r.seconds = std::chrono::duration<double>(c.lastRead() - start).count();
    r.ok = true;
    return r;
}
