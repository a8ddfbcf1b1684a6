#pragma once
// The machinery of the benchmarks that run the desk itself: a TCP proxy in
// front of the POP3 server that records each connection on the wire, an X
// server of the run's own, and the program started from a prepared copy of
// its folder.

#include "BenchOffice.h"
#include "Cp932.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using Clock = std::chrono::steady_clock;

/// The desk's bound on viewers open at once.
/// A run's exit status: 0 when good; otherwise its folder is kept for a look.
inline int KeepIfBad(bool good, QTemporaryDir &work, const char *why)
{
    if (!good) {
        std::fprintf(stderr, "%s (kept: %s)\n", why, qPrintable(work.path()));
        work.setAutoRemove(false);
    }
    return good ? 0 : 1;
}

inline constexpr int MaxViewers = 50;
/// Quiet on the desk's side before the reference runs beside it.
inline constexpr int QuietMs = 150;

inline double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// ------------------------------------------------------------------ proxy

/// The proxy's listening ports: one per client it tells apart.
enum class Side { Desk = 0, Reference = 1, SecondDesk = 2 };
inline constexpr int SideCount = 3;

/// One client connection as the proxy passed it on.
struct WireSession
{
    Side side = Side::Desk;
    bool open = true;
    /// The dialogue went on inside TLS after STLS: what follows is opaque,
    /// only the session's times and bytes are known.
    bool tls = false;
    qint64 clientBytes = 0, serverBytes = 0;
    Clock::time_point accepted, closed, quitReplied, lastTraffic, lastReply;
    /// Commands and the greeting not yet answered whole.
    int pending = 0;
    /// Replies passed on, and the client's time between a reply and its next
    /// command sent with nothing outstanding.
    int answers = 0;
    double clientMs = 0;
    int retr = 0, dele = 0, uidl = 0, list = 0;
    /// Those sent since WireProxy::mark().
    int retrSinceMark = 0, deleSinceMark = 0;
    /// From the end of the last reply to the QUIT command; 0 when QUIT went
    /// out with an answer still due, negative without QUIT.
    double idleBeforeQuitMs = -1;
    /// Still open when the next connection of its side was accepted.
    bool openAtNextAccept = false;
    /// The verbs in order, each with how often it came in a row.
    std::vector<std::pair<QByteArray, int>> verbs;
    /// SHA-1 (hex) of the last UIDL listing: its lines with their CRLFs,
    /// without the status line and the terminating "." line.
    QByteArray uidlDigest;
    /// With hashing on: an order-free sum over the RETR answers (each hashed
    /// with its message number), and how many there were.
    quint64 retrSum = 0;
    int retrHashed = 0;

    double ms() const { return Ms(closed - accepted); }
    /// The session less the time it lay idle before QUIT.
    double busyMs() const { return ms() - qMax(0.0, idleBeforeQuitMs); }
    QByteArray verbText() const
    {
        QByteArray text;
        for (const auto &[verb, count] : verbs) {
            text += (text.isEmpty() ? "" : " ") + verb;
            if (count > 1)
                text += "x" + QByteArray::number(count);
        }
        return text;
    }
};

struct Command
{
    QByteArray verb;
    QByteArray argument;
    bool multiLine = false;
};

/// The POP3 dialogue of one connection followed from both directions: which
/// reply belongs to which command, and where each ends.
class Conversation
{
public:
    Conversation() { m_pending.push_back({"greeting", {}, false}); }

    void fromClient(WireSession &s, const char *data, size_t size, Clock::time_point now,
                    Clock::time_point mark)
    {
        s.clientBytes += qint64(size);
        if (s.tls)
            return;
        m_line.append(data, qsizetype(size));
        qsizetype start = 0;
        qsizetype end;
        while ((end = m_line.indexOf('\n', start)) >= 0) {
            const QByteArray line = m_line.mid(start, end - start).trimmed();
            start = end + 1;
            const qsizetype blank = line.indexOf(' ');
            Command c;
            c.verb = (blank < 0 ? line : line.left(blank)).toUpper();
            c.argument = blank < 0 ? QByteArray() : line.mid(blank + 1).trimmed();
            c.multiLine = c.verb == "RETR" || c.verb == "TOP" || c.verb == "CAPA" ||
                          ((c.verb == "UIDL" || c.verb == "LIST") && c.argument.isEmpty());
            const bool afterMark = now >= mark;
            // The client's own time: from the end of the last reply to this
            // command, when it waited for nothing else (none outstanding).
            if (m_pending.empty() && s.answers > 0)
                s.clientMs += Ms(now - s.lastReply);
            if (c.verb == "RETR") {
                ++s.retr;
                s.retrSinceMark += afterMark;
            } else if (c.verb == "DELE") {
                ++s.dele;
                s.deleSinceMark += afterMark;
            } else if (c.verb == "UIDL") {
                ++s.uidl;
            } else if (c.verb == "LIST") {
                ++s.list;
            } else if (c.verb == "QUIT") {
                s.idleBeforeQuitMs = m_pending.empty() ? Ms(now - s.lastReply) : 0;
            }
            if (!s.verbs.empty() && s.verbs.back().first == c.verb)
                ++s.verbs.back().second;
            else
                s.verbs.emplace_back(c.verb, 1);
            m_pending.push_back(std::move(c));
            ++s.pending;
        }
        m_line.remove(0, start);
    }

    void fromServer(WireSession &s, const char *data, size_t size, Clock::time_point now,
                    bool hashRetr)
    {
        s.serverBytes += qint64(size);
        if (s.tls)
            return;
        size_t at = 0;
        while (at < size && !m_pending.empty()) {
            const Command &c = m_pending.front();
            if (m_replyStart) {
                m_replyStart = false;
                m_inBody = false;
                m_capture.clear();
                m_hash.reset();
                if (hashRetr && c.verb == "RETR") {
                    m_hash.emplace(QCryptographicHash::Sha1);
                    m_hash->addData(QByteArray(c.argument + '\n'));
                }
            }
            const auto *newline =
                static_cast<const char *>(std::memchr(data + at, '\n', size - at));
            const size_t end = newline ? size_t(newline - data) + 1 : size;
            const size_t length = end - at;
            if (m_lineLength < 3)
                std::memcpy(m_head + m_lineLength, data + at,
                            std::min(length, size_t(3 - m_lineLength)));
            m_lineLength += length;
            if (m_hash)
                m_hash->addData(QByteArrayView(data + at, qsizetype(length)));
            if (m_inBody && c.verb == "UIDL")
                m_capture.append(data + at, qsizetype(length));
            at = end;
            if (!newline)
                break;
            const bool terminator =
                m_inBody && m_lineLength == 3 && std::memcmp(m_head, ".\r\n", 3) == 0;
            const bool positive = m_lineLength > 0 && m_head[0] == '+';
            const bool statusLine = !m_inBody;
            m_lineLength = 0;
            if (statusLine && positive && c.multiLine)
                m_inBody = true;
            else if (statusLine || terminator)
                replyEnded(s, now, statusLine && positive);
        }
    }

private:
    void replyEnded(WireSession &s, Clock::time_point now, bool positiveStatus)
    {
        const Command c = m_pending.front();
        m_pending.pop_front();
        --s.pending;
        ++s.answers;
        s.lastReply = now;
        m_replyStart = true;
        if (c.verb == "QUIT")
            s.quitReplied = now;
        if (c.verb == "STLS" && positiveStatus)
            s.tls = true;
        if (c.verb == "UIDL" && m_inBody) {
            m_capture.chop(3); // the "." line
            s.uidlDigest = QCryptographicHash::hash(m_capture, QCryptographicHash::Sha1).toHex();
        }
        if (m_hash) {
            const QByteArray digest = m_hash->result();
            quint64 value;
            std::memcpy(&value, digest.constData(), sizeof value);
            s.retrSum += value;
            ++s.retrHashed;
            m_hash.reset();
        }
        m_inBody = false;
    }

    QByteArray m_line;
    std::deque<Command> m_pending;
    bool m_replyStart = true;
    bool m_inBody = false;
    char m_head[3] = {};
    size_t m_lineLength = 0;
    QByteArray m_capture;
    std::optional<QCryptographicHash> m_hash;
};

inline bool WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

inline sockaddr_in Loopback(quint16 port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

inline void NoDelay(int fd)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

/// A TCP proxy in front of the POP3 server: one listening port per side, a
/// thread per connection, and a record of every connection.
class WireProxy
{
public:
    explicit WireProxy(quint16 upstream) : m_upstream(upstream)
    {
        for (int side = 0; side < SideCount; ++side) {
            m_listen[side] = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr = Loopback(0);
            socklen_t length = sizeof addr;
            if (m_listen[side] < 0 ||
                ::bind(m_listen[side], reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
                ::listen(m_listen[side], 64) != 0 ||
                ::getsockname(m_listen[side], reinterpret_cast<sockaddr *>(&addr), &length) != 0)
                return;
            m_port[side] = ntohs(addr.sin_port);
        }
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~WireProxy()
    {
        m_stop = true;
        if (m_acceptor.joinable())
            m_acceptor.join();
        for (std::thread &relay : m_relays)
            relay.join();
        for (int fd : m_listen) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    bool isUp() const
    {
        return std::all_of(m_port, m_port + SideCount, [](quint16 p) { return p; });
    }
    quint16 port(Side side) const { return m_port[int(side)]; }

    int count(Side side) const
    {
        const std::lock_guard lock(m_mutex);
        return int(m_bySide[int(side)].size());
    }
    /// The index-th connection of the side, in the order of acceptance.
    WireSession session(Side side, int index) const
    {
        const std::lock_guard lock(m_mutex);
        return m_sessions[m_bySide[int(side)].at(size_t(index))];
    }
    std::vector<WireSession> sessions(Side side, int from = 0) const
    {
        const std::lock_guard lock(m_mutex);
        std::vector<WireSession> out;
        for (size_t i = size_t(from); i < m_bySide[int(side)].size(); ++i)
            out.push_back(m_sessions[m_bySide[int(side)][i]]);
        return out;
    }
    /// No connection of the side waits for an answer, and none has carried
    /// a byte for quietMs.
    bool idle(Side side, int quietMs) const
    {
        const std::lock_guard lock(m_mutex);
        const Clock::time_point now = Clock::now();
        for (size_t i : m_bySide[int(side)]) {
            const WireSession &s = m_sessions[i];
            if ((s.open && s.pending > 0) || Ms(now - s.lastTraffic) < quietMs)
                return false;
        }
        return true;
    }
    int openCount(Side side) const
    {
        const std::lock_guard lock(m_mutex);
        int open = 0;
        for (size_t i : m_bySide[int(side)])
            open += m_sessions[i].open;
        return open;
    }
    /// Commands from now on count in the ...SinceMark figures too.
    Clock::time_point mark()
    {
        const std::lock_guard lock(m_mutex);
        m_mark = Clock::now();
        return m_mark;
    }
    /// Whether RETR answers are hashed as they pass (for comparing contents).
    void setHashRetr(bool on) { m_hashRetr = on; }
    /// Answers "UIDL" itself with -ERR, as a server without unique-ids does
    /// (the command comes alone, after STAT's answer).
    void setRefuseUidl(bool on) { m_refuseUidl = on; }

private:
    void acceptLoop()
    {
        pollfd fds[SideCount];
        for (int side = 0; side < SideCount; ++side)
            fds[side] = {m_listen[side], POLLIN, 0};
        while (!m_stop) {
            if (::poll(fds, SideCount, 100) <= 0)
                continue;
            for (int side = 0; side < SideCount; ++side) {
                if (!(fds[side].revents & POLLIN))
                    continue;
                const int client = ::accept(m_listen[side], nullptr, nullptr);
                if (client < 0)
                    continue;
                const Clock::time_point accepted = Clock::now();
                NoDelay(client);
                const int server = ::socket(AF_INET, SOCK_STREAM, 0);
                const sockaddr_in addr = Loopback(m_upstream);
                const bool connected =
                    server >= 0 &&
                    ::connect(server, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
                if (connected)
                    NoDelay(server);
                size_t index;
                {
                    const std::lock_guard lock(m_mutex);
                    for (size_t i : m_bySide[side])
                        m_sessions[i].openAtNextAccept |= m_sessions[i].open;
                    WireSession s;
                    s.side = Side(side);
                    s.accepted = s.lastTraffic = s.lastReply = accepted;
                    s.pending = 1; // the greeting
                    if (!connected) {
                        s.open = false;
                        s.closed = Clock::now();
                    }
                    index = m_sessions.size();
                    m_sessions.push_back(std::move(s));
                    m_bySide[side].push_back(index);
                }
                if (!connected) {
                    ::close(client);
                    if (server >= 0)
                        ::close(server);
                    continue;
                }
                m_relays.emplace_back(
                    [this, index, client, server] { relay(index, client, server); });
            }
        }
    }

    void relay(size_t index, int client, int server)
    {
        Conversation conversation;
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        std::vector<char> buffer(1 << 16);
        bool open = true;
        while (open && !m_stop) {
            if (::poll(fds, 2, 100) <= 0)
                continue;
            for (int from = 0; from < 2 && open; ++from) {
                if (!(fds[from].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                ssize_t n;
                do {
                    n = ::read(fds[from].fd, buffer.data(), buffer.size());
                } while (n < 0 && errno == EINTR);
                static const QByteArray refusal = "-ERR no unique-ids here\r\n";
                const bool refused =
                    from == 0 && m_refuseUidl && n == 6 &&
                    QByteArrayView(buffer.data(), 6).compare("UIDL\r\n", Qt::CaseInsensitive) == 0;
                if (refused) {
                    const Clock::time_point now = Clock::now();
                    const std::lock_guard lock(m_mutex);
                    WireSession &s = m_sessions[index];
                    conversation.fromClient(s, buffer.data(), size_t(n), now, m_mark);
                    conversation.fromServer(s, refusal.constData(), size_t(refusal.size()), now,
                                            false);
                    open = WriteAll(client, refusal.constData(), size_t(refusal.size()));
                    continue;
                }
                if (n <= 0 || !WriteAll(fds[1 - from].fd, buffer.data(), size_t(n))) {
                    open = false;
                    break;
                }
                const Clock::time_point now = Clock::now();
                const std::lock_guard lock(m_mutex);
                WireSession &s = m_sessions[index];
                s.lastTraffic = now;
                if (from == 0)
                    conversation.fromClient(s, buffer.data(), size_t(n), now, m_mark);
                else
                    conversation.fromServer(s, buffer.data(), size_t(n), now, m_hashRetr);
            }
        }
        {
            const std::lock_guard lock(m_mutex);
            WireSession &s = m_sessions[index];
            s.open = false;
            s.closed = s.lastTraffic = Clock::now();
        }
        ::shutdown(client, SHUT_RDWR);
        ::shutdown(server, SHUT_RDWR);
        ::close(client);
        ::close(server);
    }

    quint16 m_upstream;
    int m_listen[SideCount] = {-1, -1, -1};
    quint16 m_port[SideCount] = {};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_hashRetr{false};
    std::atomic<bool> m_refuseUidl{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_relays; // touched by the acceptor only, until it ends
    mutable std::mutex m_mutex;
    std::vector<WireSession> m_sessions;
    std::vector<size_t> m_bySide[SideCount];
    Clock::time_point m_mark = Clock::time_point::max();
};

// ------------------------------------------------------ screen and desk

/// Runs a program to its end: its exit code, or -1 when it did not start or
/// end within timeoutMs.
inline int Run(const QString &program, const QStringList &args, QByteArray *out = nullptr,
               int timeoutMs = 10000)
{
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return -1;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

/// An X server of this run's own (Xvfb) on the first free display from :90;
/// DISPLAY points at it for this process and its children.
class VirtualScreen
{
public:
    explicit VirtualScreen(const QString &logFile)
    {
        for (int n = 90; n < 190; ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
                QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            const QString display = QStringLiteral(":%1").arg(n);
            m_xvfb.setProcessChannelMode(QProcess::MergedChannels);
            m_xvfb.setStandardOutputFile(logFile);
            m_xvfb.start(QStringLiteral("Xvfb"),
                         {display, QStringLiteral("-screen"), QStringLiteral("0"),
                          QStringLiteral("1600x1200x24"), QStringLiteral("-nolisten"),
                          QStringLiteral("tcp")});
            if (!m_xvfb.waitForStarted(5000))
                return;
            const QDeadlineTimer deadline(10000);
            while (!deadline.hasExpired() && m_xvfb.state() == QProcess::Running) {
                if (Run(QStringLiteral("xdpyinfo"), {QStringLiteral("-display"), display}) == 0) {
                    m_display = display;
                    qputenv("DISPLAY", display.toLatin1());
                    return;
                }
                QThread::msleep(50);
            }
            stop(); // another server took the display meanwhile: try the next
        }
    }
    ~VirtualScreen() { stop(); }
    bool isUp() const { return !m_display.isEmpty(); }
    QString display() const { return m_display; }

private:
    void stop()
    {
        if (m_xvfb.state() == QProcess::NotRunning)
            return;
        m_xvfb.terminate();
        if (!m_xvfb.waitForFinished(5000)) {
            m_xvfb.kill();
            m_xvfb.waitForFinished(5000);
        }
    }

    QProcess m_xvfb;
    QString m_display;
};

/// Polls until condition holds; false when timeoutMs passed first.
inline bool WaitUntil(const std::function<bool()> &condition, int timeoutMs, int stepMs = 5)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(stepMs);
    }
    return true;
}

/// The visible memo viewers on the screen, by window id.
inline QList<QByteArray> ViewerWindows()
{
    QByteArray out;
    Run(QStringLiteral("xdotool"),
        {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
         QStringLiteral("^メッセージ - Tavrino$")},
        &out);
    QList<QByteArray> ids;
    for (const QByteArray &line : out.split('\n')) {
        if (!line.trimmed().isEmpty())
            ids.append(line.trimmed());
    }
    return ids;
}

/// A copy of the program folder, set up for one user through the proxy.
/// loginLines (CR LF lines) take the place of the password, and may set the
/// connection's security too.
inline bool PrepareDesk(const QString &programDir, const QString &folder, const BenchOffice &office,
                        quint16 pop3Port, int user, int interval = 1,
                        const QString &loginLines = QString())
{
    QDir(folder).removeRecursively();
    if (Run(QStringLiteral("cp"), {QStringLiteral("-a"), programDir, folder}) != 0)
        return false;
    const QString login =
        loginLines.isEmpty() ? QStringLiteral("Password=pass%1\r\n").arg(user) : loginLines;
    const QString ini = QStringLiteral("[Tavrino]\r\nUserName=営業部 鈴木\r\nUserID=user%1\r\n%6"
                                       "Domain=%2\r\nPop3Server=127.0.0.1\r\nPop3Port=%3\r\n"
                                       "SmtpServer=127.0.0.1\r\nSmtpPort=%4\r\nList=members.lst\r\n"
                                       "Interval=%5\r\nSleep=0\r\n")
                            .arg(user)
                            .arg(office.domain())
                            .arg(pop3Port)
                            .arg(office.smtpPort())
                            .arg(interval)
                            .arg(login);
    const QString members =
        QStringLiteral("総務部 佐藤;user1@") + office.domain() + QStringLiteral("\r\n");
    QFile iniFile(folder + QStringLiteral("/Tavrino.ini"));
    QFile memberFile(folder + QStringLiteral("/members.lst"));
    return iniFile.open(QIODevice::WriteOnly) && iniFile.write(Cp932::Encode(ini)) > 0 &&
           memberFile.open(QIODevice::WriteOnly) && memberFile.write(Cp932::Encode(members)) > 0;
}

/// The program running from a prepared folder on the virtual screen; ended
/// with SIGTERM (it keeps nothing that a check would need afterwards).
class Desk
{
public:
    explicit Desk(const QString &folder)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // No session bus, so no secret service: a signed-in desk reads its
        // refresh token from the file beside Tavrino.ini.
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(folder);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(folder + QStringLiteral("/desk.log"));
        m_process.start(folder + QStringLiteral("/Tavrino"), {});
        m_process.waitForStarted(10000);
    }
    ~Desk() { stop(); }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    /// The process's peak resident memory (VmHWM) in MB; negative when unknown.
    double peakMb() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        }
        return -1;
    }
    /// Holds the process still (SIGSTOP), or lets it go on (SIGCONT): a desk
    /// held between its checks leaves the machine to another one's check.
    void pause() { signal(SIGSTOP); }
    void resume() { signal(SIGCONT); }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        resume();
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    void signal(int number)
    {
        if (m_process.state() == QProcess::Running)
            ::kill(pid_t(m_process.processId()), number);
    }

    QProcess m_process;
};

inline QByteArray RunList(const std::vector<double> &runs)
{
    QByteArray text;
    for (double ms : runs)
        text += (text.isEmpty() ? "" : " ") + QByteArray::number(ms, 'f', 1);
    return text;
}

inline const char *Met(bool met)
{
    return met ? "yes" : "NO";
}
