// The desk itself: the program Tavrino as built, with its windows, checking a
// real Dovecot mailbox, timed on the wire against minimal references:
//
//  1. a check of 1,000 and of 10,000 memos the desk already knows, from the
//     accept of its connection to the close after the reply to QUIT, against
//     a minimal blocking client that logs in, sends STAT and UIDL and quits
//     (RunFloorUidl). Goal: at most 1.2 times. A known check retrieves
//     nothing: any RETR in it is a difference (reported only while the desk
//     does not list with UIDL, as builds before the short sessions do not);
//  2. the first check of a fresh desk on 1,000 new memos, against the floor
//     retrieving all of them (RunFloorCheck). Goal: at most 1.5 times. The
//     answers the desk retrieved must be the floor's, and its viewers open;
//  3. connections the desk holds between checks: one left idle before its
//     QUIT for longer than HoldMs, or still open when the desk's next
//     connection is accepted. Goal: none;
//  4. a deletion from a viewer in the mailbox of 10,000 memos: the session
//     that carries the DELE (goal: one DELE, no RETR), and the server's
//     message count once the viewer has closed (one less);
//  5. the desk's own time per answer: from the end of a reply to the next
//     command sent with nothing outstanding, per reply, in new and known
//     checks (goal: at most 40 us);
//  6. during the first check of 10,000 new memos, the main window's answers
//     to the window manager's ping, sent from outside every 10 ms (goal: the
//     longest at most 100 ms);
//  7. the peak memory (VmHWM) of a fresh desk reading one new mail of each
//     shape, at 10 and 60 MB, stored straight into the mailbox (goal: the
//     empty mailbox's peak + 3 x the mail + 30 MB; over the cap, + 30 MB);
//  8. on a server without UIDL (the proxy refuses it), a check of the 1,000
//     and of the 10,000 known memos, which reads them all again, against the
//     floor's RETR of all of them (goal: at most 1.2 times).
//
// How: a private mail office (BenchOffice). The desk runs from a copy of the
// program folder with its own Tavrino.ini (Interval=1: a check about one
// second after the end of the last), on a virtual X screen (Xvfb) of its own;
// its viewers are found and driven with xdotool. Desk and references talk to
// Dovecot through a TCP proxy in this program, one listening port per side,
// so that what the proxy costs is in both figures alike. Per connection the
// proxy records the accept, each command line and the end of each reply it
// passes on, and the close (the first end seen from either side). The
// reference runs while the desk is idle between its own checks; for the
// first checks, desk and floor take turns going first. Medians; the proxy's
// cost is shown as the reference's time through it less its time direct. It
// is alike only for dialogues alike: each command's round trip passes the
// proxy twice, so a desk sending many more commands than its reference pays
// more of it, and a cost both pay brings their ratio nearer to 1.
// Ratios above their goal are reported, not failures; the exit code is
// non-zero when an output differs or a run fails.
//
// Usage (as root; starts a private mail office and an X server, needs Xvfb
// and xdotool): bench_desk [--memory] [PROGRAM_FOLDER]   (default: the build's
// folder; with --memory, figure 7 alone)

#include "BenchDesk.h"
#include "BenchFill.h"
#include "Pop3Floor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <poll.h>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

namespace {

constexpr int DeskUser = 7;
constexpr int ShapeUser = 9;
constexpr int FallbackRuns = 5;
constexpr int FallbackInterval = 5; // seconds between the desk's checks without UIDL
constexpr int KnownRuns = 7;
constexpr int FirstRuns = 5;
constexpr int FirstMemos = 1000;
constexpr int ManyMemos = 10000;
constexpr double KnownGoal = 1.2;
constexpr double FirstGoal = 1.5;
constexpr double ClientGoalUs = 40;
constexpr double PingGoalMs = 100;
/// An idle connection longer than this before its QUIT is held between
/// checks: with Interval=1 the next check comes about a second later.
constexpr double HoldMs = 300;

/// Times, from outside, how long a window's event loop takes to answer: it
/// sends the window manager's ping (_NET_WM_PING) every PingEveryMs, which
/// the program answers from its event loop, and records each round trip.
class WindowPing
{
public:
    explicit WindowPing(quint32 window) : m_window(window)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~WindowPing() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    /// The round trips in ms; one still unanswered at the stop counts as long as it waited.
    std::vector<double> rounds() const
    {
        std::lock_guard lock(m_mutex);
        return m_rounds;
    }
    bool failed() const { return m_failed; }

private:
    static constexpr int PingEveryMs = 10;

    void run()
    {
        xcb_connection_t *c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            m_failed = true;
            xcb_disconnect(c);
            return;
        }
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        // The answer goes to the root window, to whoever watches its structure.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        const auto atom = [c](const char *name) {
            xcb_intern_atom_reply_t *r = xcb_intern_atom_reply(
                c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
            const xcb_atom_t a = r ? r->atom : 0;
            std::free(r);
            return a;
        };
        const xcb_atom_t protocols = atom("WM_PROTOCOLS"), ping = atom("_NET_WM_PING");
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        for (uint32_t serial = 1; !m_stop; ++serial) {
            xcb_client_message_event_t event{};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = m_window;
            event.type = protocols;
            event.data.data32[0] = ping;
            event.data.data32[1] = serial;
            event.data.data32[2] = m_window;
            xcb_send_event(c, 0, m_window, XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char *>(&event));
            xcb_flush(c);
            const Clock::time_point sent = Clock::now();
            bool answered = false;
            while (!answered && !m_stop) {
                ::poll(&fd, 1, 5);
                while (xcb_generic_event_t *e = xcb_poll_for_event(c)) {
                    const auto *m = reinterpret_cast<xcb_client_message_event_t *>(e);
                    answered |= (e->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                                m->data.data32[0] == ping && m->data.data32[1] == serial;
                    std::free(e);
                }
            }
            {
                std::lock_guard lock(m_mutex);
                m_rounds.push_back(Ms(Clock::now() - sent));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(PingEveryMs));
        }
        xcb_disconnect(c);
    }

    quint32 m_window;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_failed{false};
    mutable std::mutex m_mutex;
    std::vector<double> m_rounds;
    std::thread m_thread;
};

/// Pings the main window of the desk just started, once it shows.
std::unique_ptr<WindowPing> PingMainWindow()
{
    QByteArray window;
    WaitUntil(
        [&] {
            Run(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--name"), QStringLiteral("^Tavrino$")},
                &window);
            return !window.trimmed().isEmpty();
        },
        20000, 50);
    if (window.trimmed().isEmpty())
        return nullptr;
    return std::make_unique<WindowPing>(window.trimmed().split('\n').first().toUInt());
}

// ------------------------------------------------------------ the figures

struct Bench
{
    BenchOffice &office;
    WireProxy &proxy;
    QString programDir;
    QString workDir;
    QByteArray user = "user" + QByteArray::number(DeskUser);
    QByteArray pass = "pass" + QByteArray::number(DeskUser);
    bool good = true;
    int folders = 0;

    QString newDeskFolder() { return workDir + QStringLiteral("/desk%1").arg(++folders); }
    FloorUidlResult referenceUidl(bool direct = false) const
    {
        return RunFloorUidl(direct ? office.pop3Port() : proxy.port(Side::Reference),
                            user.constData(), pass.constData());
    }
    int serverCount() const { return referenceUidl(true).messages; }
    void differs(const QString &text)
    {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        good = false;
    }
};

struct KnownFigures
{
    int memos = 0;
    double desk = 0, reference = 0, direct = 0, deskIdle = 0, deskBusy = 0;
    std::vector<double> deskRuns, referenceRuns;
    int retr = 0; ///< the most RETR commands in one known check
    bool usesUidl = false;
    /// The main window's answers to pings during the first check (ms), and
    /// the desk's time per answer in it and in the known checks (µs).
    std::vector<double> pings;
    double firstClientUs = 0, knownClientUs = 0, referenceClientUs = 0;
    QByteArray verbs;                      ///< one known check's commands
    std::vector<WireSession> deskSessions; ///< the first check and the known ones
};

/// The desk started on a full mailbox: its first check, then KnownRuns known
/// checks, the reference run in the quiet after each. The desk is left
/// running. False when a run failed.
bool MeasureKnown(Bench &b, Desk &desk, int base, int memos, KnownFigures &k)
{
    WireProxy &proxy = b.proxy;
    k.memos = memos;
    // The main window answers its pings throughout the first check, a flood
    // of new memos, until its viewers are open.
    std::unique_ptr<WindowPing> pinger = PingMainWindow();
    // Done when it has ended its connection or, while it holds the
    // connection, read every memo and gone quiet.
    const auto firstDone = [&] {
        if (proxy.count(Side::Desk) <= base || !proxy.idle(Side::Desk, QuietMs))
            return false;
        const WireSession s = proxy.session(Side::Desk, base);
        return !s.open || s.retr >= memos;
    };
    if (!WaitUntil(firstDone, 300000) || !desk.isRunning()) {
        std::fprintf(stderr, "the desk's first check of %d memos did not end\n", memos);
        return false;
    }
    const WireSession first = proxy.session(Side::Desk, base);
    if (first.retr != memos)
        b.differs(QStringLiteral("the desk's first check retrieved %1 of %2 memos")
                      .arg(first.retr)
                      .arg(memos));
    const int viewers = qMin(MaxViewers, memos);
    if (!WaitUntil([viewers] { return ViewerWindows().size() == viewers; }, 60000, 100))
        b.differs(QStringLiteral("the desk did not open %1 viewers").arg(viewers));
    if (!pinger || pinger->failed()) {
        b.differs(QStringLiteral("the desk's main window could not be pinged"));
    } else {
        pinger->stop();
        k.pings = pinger->rounds();
    }
    k.firstClientUs = first.answers ? first.clientMs * 1e3 / first.answers : 0;

    const int refBase = proxy.count(Side::Reference);
    std::vector<double> directMs;
    QByteArray listing;
    for (int run = 0; run < KnownRuns; ++run) {
        if (!WaitUntil(
                [&] {
                    return proxy.count(Side::Desk) >= base + 2 + run &&
                           proxy.idle(Side::Desk, QuietMs);
                },
                120000)) {
            std::fprintf(stderr, "the desk's known check %d of %d memos did not come\n", run + 1,
                         memos);
            return false;
        }
        const FloorUidlResult f = b.referenceUidl();
        const FloorUidlResult d = b.referenceUidl(true);
        if (!f.ok || !d.ok || f.messages != memos || d.listing != f.listing) {
            std::fprintf(stderr, "reference check failed: %s %s (%d messages)\n",
                         qPrintable(f.error), qPrintable(d.error), f.messages);
            return false;
        }
        listing = f.listing;
        directMs.push_back(d.seconds * 1e3);
    }
    // Before the short sessions a check's connection stays open until the next.
    if (!WaitUntil(
            [&] {
                const auto s = proxy.sessions(Side::Desk, base);
                return s.size() > size_t(KnownRuns) && !s[KnownRuns].open;
            },
            120000)) {
        std::fprintf(stderr, "the desk's last known check did not end\n");
        return false;
    }
    k.deskSessions = proxy.sessions(Side::Desk, base);
    k.deskSessions.resize(size_t(KnownRuns) + 1);
    const std::vector<WireSession> refs = proxy.sessions(Side::Reference, refBase);
    const QByteArray listingDigest =
        QCryptographicHash::hash(listing, QCryptographicHash::Sha1).toHex();
    std::vector<double> &deskMs = k.deskRuns, &refMs = k.referenceRuns;
    std::vector<double> idleMs, busyMs, clientUs, refClientUs;
    for (int run = 1; run <= KnownRuns; ++run) {
        const WireSession &s = k.deskSessions[size_t(run)];
        deskMs.push_back(s.ms());
        idleMs.push_back(qMax(0.0, s.idleBeforeQuitMs));
        busyMs.push_back(s.busyMs());
        k.retr = qMax(k.retr, s.retr);
        k.usesUidl |= s.uidl > 0;
        clientUs.push_back(s.answers ? s.clientMs * 1e3 / s.answers : 0);
        k.verbs = s.verbText();
        if (s.dele > 0)
            b.differs(QStringLiteral("a known check sent %1 DELE").arg(s.dele));
        if (s.uidl > 0 && s.uidlDigest != listingDigest)
            b.differs(QStringLiteral("the desk's UIDL listing differs from the reference's"));
    }
    for (const WireSession &r : refs) {
        refMs.push_back(r.ms());
        refClientUs.push_back(r.answers ? r.clientMs * 1e3 / r.answers : 0);
        if (r.uidlDigest != listingDigest)
            b.differs(QStringLiteral("the proxy saw another listing than the reference read"));
    }
    // With the short sessions a known check reads nothing; before them each
    // check read the whole mailbox, which is reported, not failed.
    if (k.usesUidl && k.retr > 0)
        b.differs(QStringLiteral("a known check retrieved %1 memos").arg(k.retr));
    k.knownClientUs = Median(clientUs);
    k.referenceClientUs = Median(refClientUs);
    k.desk = Median(deskMs);
    k.reference = Median(refMs);
    k.direct = Median(directMs);
    k.deskIdle = Median(idleMs);
    k.deskBusy = Median(busyMs);
    return true;
}

struct FirstFigures
{
    double desk = 0, reference = 0, deskBusy = 0;
    /// The floor's own time (connect to the last RETR answer), through the
    /// proxy and direct: what the proxy adds to a dialogue of many commands.
    double floorProxied = 0, floorDirect = 0;
    std::vector<double> deskRuns, referenceRuns;
    int retr = 0;
    QByteArray verbs;
    std::vector<WireSession> deskSessions;
    double deskClientUs = 0, floorClientUs = 0; ///< time per answer, medians
};

/// FirstRuns first checks of a fresh desk on the mailbox of
/// FirstMemos new memos, in turn with the floor retrieving them all.
bool MeasureFirst(Bench &b, FirstFigures &figures)
{
    WireProxy &proxy = b.proxy;
    std::vector<double> &deskMs = figures.deskRuns, &refMs = figures.referenceRuns;
    std::vector<double> busyMs, proxiedMs, directMs, deskClientUs, floorClientUs;
    quint64 floorSum = 0;
    const auto deskRun = [&]() -> bool {
        const QString folder = b.newDeskFolder();
        if (!PrepareDesk(b.programDir, folder, b.office, proxy.port(Side::Desk), DeskUser)) {
            std::fprintf(stderr, "could not prepare %s\n", qPrintable(folder));
            return false;
        }
        const int base = proxy.count(Side::Desk);
        proxy.setHashRetr(true);
        Desk desk(folder);
        const bool ended = WaitUntil(
            [&] { return proxy.count(Side::Desk) > base && !proxy.session(Side::Desk, base).open; },
            120000);
        proxy.setHashRetr(false);
        if (!ended || !desk.isRunning()) {
            std::fprintf(stderr, "a fresh desk's first check did not end (log: %s/desk.log)\n",
                         qPrintable(folder));
            return false;
        }
        const WireSession s = proxy.session(Side::Desk, base);
        if (!WaitUntil([] { return ViewerWindows().size() == MaxViewers; }, 60000, 100))
            b.differs(QStringLiteral("a fresh desk did not open %1 viewers").arg(MaxViewers));
        desk.stop();
        if (!WaitUntil([&] { return proxy.openCount(Side::Desk) == 0; }, 10000) ||
            !WaitUntil([] { return ViewerWindows().isEmpty(); }, 10000, 50)) {
            std::fprintf(stderr, "the desk did not end\n");
            return false;
        }
        deskMs.push_back(s.ms());
        busyMs.push_back(s.busyMs());
        deskClientUs.push_back(s.answers ? s.clientMs * 1e3 / s.answers : 0);
        figures.deskSessions.push_back(s);
        figures.retr = qMax(figures.retr, s.retr);
        figures.verbs = s.verbText();
        if (s.retr != FirstMemos || s.retrHashed != FirstMemos)
            b.differs(QStringLiteral("a first check retrieved %1 of %2 new memos")
                          .arg(s.retrHashed)
                          .arg(FirstMemos));
        return true;
    };
    const auto floorRun = [&]() -> bool {
        proxy.setHashRetr(true);
        const FloorResult f =
            RunFloorCheck(proxy.port(Side::Reference), b.user.constData(), b.pass.constData());
        proxy.setHashRetr(false);
        const int last = proxy.count(Side::Reference) - 1;
        if (!f.ok || f.messages != FirstMemos || last < 0 ||
            !WaitUntil([&] { return !proxy.session(Side::Reference, last).open; }, 10000)) {
            std::fprintf(stderr, "floor check failed: %s (%d messages)\n", qPrintable(f.error),
                         f.messages);
            return false;
        }
        const FloorResult d =
            RunFloorCheck(b.office.pop3Port(), b.user.constData(), b.pass.constData());
        if (!d.ok || d.messages != FirstMemos) {
            std::fprintf(stderr, "direct floor check failed: %s\n", qPrintable(d.error));
            return false;
        }
        proxiedMs.push_back(f.seconds * 1e3);
        directMs.push_back(d.seconds * 1e3);
        const WireSession s = proxy.session(Side::Reference, last);
        refMs.push_back(s.ms());
        floorClientUs.push_back(s.answers ? s.clientMs * 1e3 / s.answers : 0);
        if (floorSum && s.retrSum != floorSum)
            b.differs(QStringLiteral("the floor retrieved other answers than before"));
        floorSum = s.retrSum;
        return true;
    };
    for (int run = 0; run < FirstRuns; ++run) {
        // Floor first in odd runs: neither always follows the other.
        if (run % 2 ? !(floorRun() && deskRun()) : !(deskRun() && floorRun()))
            return false;
    }
    for (const WireSession &s : figures.deskSessions) {
        if (s.retrSum != floorSum && s.retrHashed == FirstMemos)
            b.differs(QStringLiteral("a first check retrieved other answers than the floor"));
    }
    figures.desk = Median(deskMs);
    figures.reference = Median(refMs);
    figures.deskBusy = Median(busyMs);
    figures.floorProxied = Median(proxiedMs);
    figures.floorDirect = Median(directMs);
    figures.deskClientUs = Median(deskClientUs);
    figures.floorClientUs = Median(floorClientUs);
    return true;
}

struct DeleteFigures
{
    int dele = 0, retr = 0, retrSinceKey = 0;
    bool ownSession = false;
    QByteArray verbs;
    double keyToClosedMs = 0, closedToDropMs = -1;
    int countBefore = 0, countAtClose = 0, countAfter = 0;
    int attempts = 0;
};

/// The delete key of one viewer, with the desk running on the mailbox of
/// ManyMemos; the session that carries the DELE, and the server's count.
bool MeasureDelete(Bench &b, DeleteFigures &d)
{
    WireProxy &proxy = b.proxy;
    if (!WaitUntil([&] { return proxy.idle(Side::Desk, QuietMs); }, 60000)) {
        std::fprintf(stderr, "the desk did not become idle\n");
        return false;
    }
    d.countBefore = b.serverCount();
    const QList<QByteArray> viewers = ViewerWindows();
    QByteArray focus;
    Run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}, &focus);
    focus = focus.trimmed();
    QByteArray target, other;
    for (const QByteArray &id : viewers) {
        (target.isEmpty() && id != focus ? target : other) = id;
        if (!target.isEmpty() && !other.isEmpty())
            break;
    }
    if (target.isEmpty() || other.isEmpty()) {
        std::fprintf(stderr, "no viewer to delete from (%lld open)\n", qlonglong(viewers.size()));
        return false;
    }
    const QString targetId = QString::fromLatin1(target);
    const QString otherId = QString::fromLatin1(other);
    const Clock::time_point mark = proxy.mark();
    const auto deleSent = [&] {
        int dele = 0;
        for (const WireSession &s : proxy.sessions(Side::Desk))
            dele += s.deleSinceMark;
        return dele;
    };
    const auto targetGone = [&] { return !ViewerWindows().contains(target); };
    bool closed = false;
    Clock::time_point closedAt;
    // The delete button is enabled only while no check runs, as its window
    // becomes active: the key goes in a quiet moment, to a window focused
    // afresh; when it found a check under way after all, it goes again.
    for (d.attempts = 1; d.attempts <= 6 && !closed; ++d.attempts) {
        if (!WaitUntil([&] { return proxy.idle(Side::Desk, QuietMs); }, 60000))
            break;
        Run(QStringLiteral("xdotool"),
            {QStringLiteral("windowfocus"), QStringLiteral("--sync"), otherId,
             QStringLiteral("windowfocus"), QStringLiteral("--sync"), targetId,
             QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("alt+d")});
        closed =
            WaitUntil(targetGone, 3000, 20) || (deleSent() > 0 && WaitUntil(targetGone, 40000, 20));
        closedAt = Clock::now();
    }
    if (!closed) {
        std::fprintf(stderr, "the viewer did not close after its delete key\n");
        return false;
    }
    --d.attempts;
    d.countAtClose = b.serverCount();
    const bool dropped = WaitUntil(
        [&] {
            d.countAfter = b.serverCount();
            return d.countAfter < d.countBefore;
        },
        15000, 20);
    if (dropped)
        d.closedToDropMs = Ms(Clock::now() - closedAt);
    if (d.countAfter != d.countBefore - 1)
        b.differs(QStringLiteral("the server holds %1 of %2 messages after one deletion")
                      .arg(d.countAfter)
                      .arg(d.countBefore));

    const std::vector<WireSession> desk = proxy.sessions(Side::Desk);
    const WireSession *carrier = nullptr;
    int deles = 0;
    for (const WireSession &s : desk) {
        deles += s.deleSinceMark;
        if (s.deleSinceMark > 0 && !carrier)
            carrier = &s;
    }
    if (!carrier) {
        std::fprintf(stderr, "the viewer closed, but no DELE went to the server\n");
        return false;
    }
    if (deles != 1)
        b.differs(QStringLiteral("one delete key sent %1 DELE commands").arg(deles));
    d.dele = carrier->dele;
    d.retr = carrier->retr;
    d.retrSinceKey = carrier->retrSinceMark;
    d.ownSession = carrier->accepted >= mark;
    d.verbs = carrier->verbText();
    d.keyToClosedMs = Ms(closedAt - mark);
    return true;
}

/// Connections held between checks among the desk's sessions: left idle
/// before QUIT for over HoldMs, or open at the accept of the next. A first
/// check may still be taking apart what it read before its QUIT: it counts
/// only when open at the next accept.
struct FallbackFigures
{
    int memos = 0;
    double desk = 0, reference = 0;
    std::vector<double> deskRuns, referenceRuns;
};

/// A fresh desk on a server without UIDL: after its first check, FallbackRuns
/// known checks, each reading every message again, against the floor's RETR
/// of all of them in the quiet after each. The desk's checks come
/// FallbackInterval seconds apart, so that the floor never runs beside one.
bool MeasureFallback(Bench &b, int memos, FallbackFigures &f)
{
    WireProxy &proxy = b.proxy;
    f.memos = memos;
    proxy.setRefuseUidl(true);
    const auto restore = qScopeGuard([&proxy] { proxy.setRefuseUidl(false); });
    const QString folder = b.newDeskFolder();
    if (!PrepareDesk(b.programDir, folder, b.office, proxy.port(Side::Desk), DeskUser,
                     FallbackInterval))
        return false;
    const int base = proxy.count(Side::Desk);
    Desk desk(folder);
    for (int run = 0; run <= FallbackRuns; ++run) {
        if (!WaitUntil(
                [&] {
                    return proxy.count(Side::Desk) > base + run &&
                           !proxy.session(Side::Desk, base + run).open;
                },
                300000, 20)) {
            std::fprintf(stderr, "the desk's check %d without UIDL did not end (log: %s)\n",
                         run + 1, qPrintable(folder));
            return false;
        }
        const WireSession s = proxy.session(Side::Desk, base + run);
        if (s.retr != memos || s.uidl != 1)
            b.differs(QStringLiteral("a check without UIDL sent UIDL %1 times and retrieved "
                                     "%2 of %3 memos")
                          .arg(s.uidl)
                          .arg(s.retr)
                          .arg(memos));
        if (run == 0)
            continue; // the first check: its memos are new
        f.deskRuns.push_back(s.ms());
        const FloorResult r =
            RunFloorCheck(proxy.port(Side::Reference), b.user.constData(), b.pass.constData());
        const int last = proxy.count(Side::Reference) - 1;
        if (!r.ok || r.messages != memos ||
            !WaitUntil([&] { return !proxy.session(Side::Reference, last).open; }, 10000)) {
            std::fprintf(stderr, "floor check failed: %s\n", qPrintable(r.error));
            return false;
        }
        f.referenceRuns.push_back(proxy.session(Side::Reference, last).ms());
        if (proxy.count(Side::Desk) > base + run + 1)
            b.differs(QStringLiteral("the desk's next check began while the floor ran"));
    }
    f.desk = Median(f.deskRuns);
    f.reference = Median(f.referenceRuns);
    return true;
}

struct ShapeFigure
{
    const char *shape;
    qint64 bytes = 0; ///< the mail as stored; 0 for the empty mailbox
    double peakMb = -1;
    double longestPingMs = -1; ///< the main window's longest answer meanwhile
    bool asExpected = false;   ///< read and shown (or, empty or over the cap, not shown)
};

/// One mail of a shape, CR LF lines, of about bytes: an ordinary body; header
/// lines without a blank line; one header folded over its lines; a body of one
/// line; an ordinary body over the largest answer the desk keeps (64 MiB).
QByteArray ShapedMail(int shape, qint64 bytes)
{
    const QByteArray head = "Subject:0    12/06 09:30ACME\r\nFrom: a@example.jp\r\n";
    QByteArray mail = head;
    mail.reserve(bytes + 256);
    if (shape == 1) {
        while (mail.size() < bytes)
            mail += "X-Filler: " + QByteArray(60, 'x') + "\r\n";
        return mail;
    }
    if (shape == 2) {
        mail += "X-Folded: w";
        while (mail.size() < bytes)
            mail += "\r\n w";
        return mail + "\r\n\r\nbody\r\n";
    }
    mail += "\r\n";
    if (shape == 3)
        return mail + QByteArray(bytes, 'a') + "\r\n";
    while (mail.size() < bytes)
        mail += QByteArray(76, 'x') + "\r\n";
    return mail;
}

/// The desk's peak memory while it handles one new mail of each shape and
/// size, each in a fresh process, against the same on an empty mailbox.
bool MeasureShapes(Bench &b, std::vector<ShapeFigure> &figures)
{
    const QString maildir = b.office.dir() + QStringLiteral("/mail/") + b.office.domain() +
                            QStringLiteral("/user%1").arg(ShapeUser);
    const auto deliver = [&](const QByteArray &mail) -> bool {
        for (const char *sub : {"new", "cur"}) {
            QDir dir(maildir + QLatin1Char('/') + QLatin1String(sub));
            for (const QString &f : dir.entryList(QDir::Files))
                dir.remove(f);
        }
        if (mail.isEmpty())
            return true;
        const QString tmp = maildir + QStringLiteral("/tmp/shape");
        QFile file(tmp);
        if (!file.open(QIODevice::WriteOnly) || file.write(mail) != mail.size())
            return false;
        file.close();
        // Owned as the mail server's own files, so that it may move it.
        QByteArray owner;
        Run(QStringLiteral("stat"), {QStringLiteral("-c"), QStringLiteral("%u:%g"), maildir},
            &owner);
        Run(QStringLiteral("chown"), {QString::fromLatin1(owner.trimmed()), tmp});
        return QFile::rename(
            tmp,
            maildir + QStringLiteral("/new/%1.M1P1.bench").arg(QDateTime::currentSecsSinceEpoch()));
    };
    // A first delivery by mail makes the server create the mailbox.
    if (!Fill(b.office, ShapeUser, KnownMemos(b.office, ShapeUser, 0, 1), 1))
        return false;
    const std::vector<std::pair<int, qint64>> runs{
        {-1, 0},       {0, 10 << 20}, {1, 10 << 20}, {2, 10 << 20}, {3, 10 << 20},
        {0, 60 << 20}, {1, 60 << 20}, {2, 60 << 20}, {3, 60 << 20}, {4, 70 << 20}};
    static const char *names[] = {"an ordinary body", "header lines, no blank line",
                                  "one header folded over its lines", "a body of one line",
                                  "an ordinary body over the 64 MiB cap"};
    for (const auto &[shape, bytes] : runs) {
        const QByteArray mail = shape < 0 ? QByteArray() : ShapedMail(shape, bytes);
        if (!deliver(mail)) {
            std::fprintf(stderr, "could not store a mail in %s\n", qPrintable(maildir));
            return false;
        }
        const QString folder = b.newDeskFolder();
        if (!PrepareDesk(b.programDir, folder, b.office, b.proxy.port(Side::Desk), ShapeUser))
            return false;
        const int base = b.proxy.count(Side::Desk);
        Desk desk(folder);
        std::unique_ptr<WindowPing> pinger = PingMainWindow();
        const bool ended = WaitUntil(
            [&] {
                return b.proxy.count(Side::Desk) > base && !b.proxy.session(Side::Desk, base).open;
            },
            120000, 20);
        ShapeFigure f{shape < 0 ? "the empty mailbox" : names[shape], mail.size()};
        // A memo's viewer counts, once it is on the screen.
        f.asExpected =
            ended && (shape == 4 || shape < 0
                          ? !WaitUntil([] { return !ViewerWindows().isEmpty(); }, 2000, 50)
                          : WaitUntil([] { return ViewerWindows().size() == 1; }, 20000, 50));
        QThread::msleep(500);
        if (pinger) {
            pinger->stop();
            const std::vector<double> rounds = pinger->rounds();
            f.longestPingMs = rounds.empty() ? -1 : *std::max_element(rounds.begin(), rounds.end());
        }
        f.peakMb = desk.isRunning() ? desk.peakMb() : -1;
        desk.stop();
        if (!f.asExpected || f.peakMb < 0) {
            b.differs(QStringLiteral("the desk did not read %1 of %2 bytes as it should (log: %3)")
                          .arg(QLatin1String(f.shape))
                          .arg(f.bytes)
                          .arg(folder));
        }
        figures.push_back(f);
    }
    return true;
}

int HeldConnections(const KnownFigures (&known)[2], int &sessions, double &maxIdleMs)
{
    int held = 0;
    for (const KnownFigures &k : known) {
        for (size_t i = 0; i < k.deskSessions.size(); ++i) {
            const WireSession &s = k.deskSessions[i];
            const bool idle = i > 0 && s.idleBeforeQuitMs > HoldMs;
            held += idle || s.openAtNextAccept;
            if (i > 0)
                maxIdleMs = qMax(maxIdleMs, s.idleBeforeQuitMs);
            ++sessions;
        }
    }
    return held;
}

/// The table of figure 7; returns how many shapes met their goal.
int PrintShapes(const std::vector<ShapeFigure> &shapes)
{
    const double baseline = shapes.front().peakMb;
    std::printf("7. peak memory (VmHWM) of a fresh desk reading one new mail; goal: the empty "
                "mailbox's %.1f MB + 3 x the mail + 30 MB (over the cap: + 30 MB)\n",
                baseline);
    int met = 0;
    for (const ShapeFigure &f : shapes) {
        const double mb = double(f.bytes) / (1 << 20);
        const double goal = baseline + (f.bytes > (64 << 20) ? 0 : 3 * mb) + 30;
        met += f.bytes > 0 && f.peakMb <= goal;
        std::printf("   %-38s %7.1f MB  peak %7.1f MB  goal %7.1f MB  %-3s  window's longest "
                    "answer %.1f ms\n",
                    f.shape, mb, f.peakMb, f.bytes ? goal : baseline,
                    f.bytes ? Met(f.peakMb <= goal) : "", f.longestPingMs);
    }
    return met;
}

int RunBench(const QString &programDir, bool memoryOnly)
{
    if (!QFile::exists(programDir + QStringLiteral("/Tavrino"))) {
        std::fprintf(stderr, "no program in %s\n", qPrintable(programDir));
        return 1;
    }
    BenchOffice office;
    if (!office.ready())
        return 1;
    QTemporaryDir work(QStringLiteral("/tmp/tavdesk-XXXXXX"));
    VirtualScreen screen(work.path() + QStringLiteral("/xvfb.log"));
    if (!screen.isUp()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    WireProxy proxy(office.pop3Port());
    if (!proxy.isUp()) {
        std::fprintf(stderr, "the proxy could not listen\n");
        return 1;
    }
    Bench b{office, proxy, programDir, work.path()};
    std::printf("Measures the desk itself: the built program %s with its windows on the "
                "virtual screen %s, timed on the wire by a proxy (desk port %u; the references "
                "through the same proxy, port %u) against Dovecot %u\n",
                qPrintable(programDir), qPrintable(screen.display()),
                unsigned(proxy.port(Side::Desk)), unsigned(proxy.port(Side::Reference)),
                unsigned(office.pop3Port()));

    if (memoryOnly) {
        std::vector<ShapeFigure> shapes;
        if (!MeasureShapes(b, shapes))
            return 1;
        PrintShapes(shapes);
        return b.good ? 0 : 1;
    }
    std::printf("filling user%d with %d memos\n", DeskUser, FirstMemos);
    if (!Fill(office, DeskUser, KnownMemos(office, DeskUser, 0, FirstMemos), FirstMemos)) {
        std::fprintf(stderr, "could not fill the mailbox\n");
        return 1;
    }

    std::printf("2. first checks of a fresh desk on %d new memos, %d runs, in turn with the "
                "floor\n",
                FirstMemos, FirstRuns);
    FirstFigures first;
    if (!MeasureFirst(b, first))
        return 1;

    KnownFigures known[2];
    FallbackFigures fallback[2];
    DeleteFigures del;
    for (int i = 0; i < 2; ++i) {
        const int memos = i == 0 ? FirstMemos : ManyMemos;
        if (i == 1) {
            std::printf("filling user%d up to %d memos\n", DeskUser, ManyMemos);
            if (!Fill(office, DeskUser, KnownMemos(office, DeskUser, FirstMemos, ManyMemos),
                      ManyMemos)) {
                std::fprintf(stderr, "could not fill the mailbox\n");
                return 1;
            }
        }
        std::printf("1. known checks of %d memos, %d runs, the reference between them\n", memos,
                    KnownRuns);
        const QString folder = b.newDeskFolder();
        if (!PrepareDesk(programDir, folder, office, proxy.port(Side::Desk), DeskUser)) {
            std::fprintf(stderr, "could not prepare %s\n", qPrintable(folder));
            return 1;
        }
        const int base = proxy.count(Side::Desk);
        Desk desk(folder);
        if (!MeasureKnown(b, desk, base, memos, known[i])) {
            std::fprintf(stderr, "(desk log: %s/desk.log)\n", qPrintable(folder));
            return KeepIfBad(false, work, "a known check could not be measured");
        }
        if (i == 1) {
            std::printf("4. a deletion from a viewer in the mailbox of %d memos\n", memos);
            if (!MeasureDelete(b, del))
                return KeepIfBad(false, work, "the deletion could not be measured");
        }
        desk.stop();
        const int count = b.serverCount();
        std::printf("8. checks of %d known memos on a server without UIDL, %d runs, the floor "
                    "between them\n",
                    count, FallbackRuns);
        if (!MeasureFallback(b, count, fallback[i]))
            return KeepIfBad(false, work, "a check without UIDL could not be measured");
    }
    std::printf("7. the peak memory of a fresh desk reading one new mail of each shape\n");
    std::vector<ShapeFigure> shapes;
    if (!MeasureShapes(b, shapes))
        return KeepIfBad(false, work, "the memory of a shape could not be measured");
    double maxIdleMs = 0;
    int sessions = 0;
    const int held = HeldConnections(known, sessions, maxIdleMs);

    std::printf("\n%-44s %10s %10s %7s %6s %4s\n", "figure (medians; time on the wire)", "desk",
                "reference", "ratio", "goal", "met");
    for (const KnownFigures &k : known) {
        const double ratio = k.desk / k.reference;
        std::printf("%-44s %7.1f ms %7.1f ms %7.2f %6.1f %4s\n",
                    qPrintable(QStringLiteral("1. known check, %1 memos").arg(k.memos)), k.desk,
                    k.reference, ratio, KnownGoal, Met(ratio <= KnownGoal));
    }
    const double firstRatio = first.desk / first.reference;
    std::printf("%-44s %7.1f ms %7.1f ms %7.2f %6.1f %4s\n",
                qPrintable(QStringLiteral("2. first check, %1 new memos").arg(FirstMemos)),
                first.desk, first.reference, firstRatio, FirstGoal, Met(firstRatio <= FirstGoal));
    std::printf("%-44s %10d %10s %7s %6d %4s\n", "3. connections held between checks", held, "", "",
                0, Met(held == 0));
    std::printf("%-44s %10s %10s %7s %6s %4s\n",
                qPrintable(QStringLiteral("4. deletion in %1: DELE %2, RETR %3")
                               .arg(ManyMemos)
                               .arg(del.dele)
                               .arg(del.retr)),
                "", "", "", "1/0", Met(del.dele == 1 && del.retr == 0));

    std::printf("%-44s %7.1f us %7.1f us %7s %6.0f %4s\n",
                qPrintable(QStringLiteral("5. time per answer, %1 new").arg(FirstMemos)),
                first.deskClientUs, first.floorClientUs, "", ClientGoalUs,
                Met(first.deskClientUs <= ClientGoalUs));
    std::printf("%-44s %7.1f us %10s %7s %6.0f %4s\n",
                qPrintable(QStringLiteral("5. time per answer, %1 new").arg(ManyMemos)),
                known[1].firstClientUs, "", "", ClientGoalUs,
                Met(known[1].firstClientUs <= ClientGoalUs));
    for (const KnownFigures &k : known)
        std::printf("%-44s %7.1f us %7.1f us %7s %6.0f %4s\n",
                    qPrintable(QStringLiteral("5. time per answer, %1 known").arg(k.memos)),
                    k.knownClientUs, k.referenceClientUs, "", ClientGoalUs,
                    Met(k.knownClientUs <= ClientGoalUs));
    for (const FallbackFigures &f : fallback) {
        const double ratio = f.desk / f.reference;
        std::printf("%-44s %7.1f ms %7.1f ms %7.2f %6.1f %4s\n",
                    qPrintable(QStringLiteral("8. known check without UIDL, %1").arg(f.memos)),
                    f.desk, f.reference, ratio, KnownGoal, Met(ratio <= KnownGoal));
    }
    const KnownFigures &flood = known[1];
    std::vector<double> pings = flood.pings;
    std::sort(pings.begin(), pings.end());
    const double longest = pings.empty() ? -1 : pings.back();
    std::printf("%-44s %7.1f ms %10s %7s %6.0f %4s\n",
                qPrintable(QStringLiteral("6. window's longest answer, %1 new").arg(flood.memos)),
                longest, "", "", PingGoalMs, Met(longest >= 0 && longest <= PingGoalMs));

    std::printf("\n");
    for (const KnownFigures &k : known) {
        std::printf("1. %d known: desk %s UIDL; RETR per known check %d; a known check: %s\n"
                    "   desk idle before QUIT %.1f ms, without it %.1f ms (ratio %.2f); "
                    "reference direct %.1f ms, through the proxy %.1f ms (proxy +%.1f ms)\n"
                    "   runs, desk: %s; reference: %s\n",
                    k.memos, k.usesUidl ? "lists with" : "sends no", k.retr, k.verbs.constData(),
                    k.deskIdle, k.deskBusy, k.deskBusy / k.reference, k.direct, k.reference,
                    k.reference - k.direct, RunList(k.deskRuns).constData(),
                    RunList(k.referenceRuns).constData());
    }
    std::printf("2. a first check: %s\n"
                "   without the idle before QUIT %.1f ms (ratio %.2f)\n"
                "   runs, desk: %s; floor: %s\n"
                "   floor's own time direct %.1f ms, through the proxy %.1f ms: the proxy adds "
                "about %.0f us per command\n",
                first.verbs.constData(), first.deskBusy, first.deskBusy / first.reference,
                RunList(first.deskRuns).constData(), RunList(first.referenceRuns).constData(),
                first.floorDirect, first.floorProxied,
                (first.floorProxied - first.floorDirect) * 1e3 / (FirstMemos + 3));
    std::printf("3. of %d desk sessions of figure 1, %d held: idle before QUIT up to %.1f ms in "
                "a known check (over %.0f ms counts as held), or open when the next was "
                "accepted\n",
                sessions, held, maxIdleMs, HoldMs);
    std::printf("4. the DELE went %s: %s; RETR after the key %d; delete key sent %d time(s)\n"
                "   key to viewer closed %.1f ms; server count %d before, %d at the close "
                "(goal %d: %s), %d after",
                del.ownSession ? "in a session of its own"
                               : "on a connection accepted before the key",
                del.verbs.constData(), del.retrSinceKey, del.attempts, del.keyToClosedMs,
                del.countBefore, del.countAtClose, del.countBefore - 1,
                Met(del.countAtClose == del.countBefore - 1), del.countAfter);
    if (del.closedToDropMs >= 0)
        std::printf(" (dropped %.1f ms after the close)\n", del.closedToDropMs);
    else
        std::printf(" (never dropped)\n");
    for (const FallbackFigures &f : fallback)
        std::printf("8. %d known without UIDL: runs, desk: %s; floor (RETR of all): %s\n", f.memos,
                    RunList(f.deskRuns).constData(), RunList(f.referenceRuns).constData());
    if (!pings.empty())
        std::printf("5. time per answer: the desk's, or the reference's, from the end of a reply "
                    "to its next command sent with nothing outstanding, per reply\n"
                    "6. %lld pings of the main window, every %d ms from the desk's start until "
                    "its %d viewers were open: median %.2f ms, 99th percentile %.2f ms, "
                    "longest %.2f ms; %lld over %.0f ms\n",
                    qlonglong(pings.size()), 10, MaxViewers, pings[pings.size() / 2],
                    pings[pings.size() * 99 / 100], longest,
                    qlonglong(std::count_if(pings.begin(), pings.end(),
                                            [](double ms) { return ms > PingGoalMs; })),
                    PingGoalMs);
    const int shapesMet = PrintShapes(shapes);
    std::printf("ratios: known 1000 %.2f (goal %.1f), known 10000 %.2f (goal %.1f), first 1000 "
                "%.2f (goal %.1f); held connections %d (goal 0); deletion DELE %d RETR %d "
                "(goal 1/0)\n",
                known[0].desk / known[0].reference, KnownGoal, known[1].desk / known[1].reference,
                KnownGoal, firstRatio, FirstGoal, held, del.dele, del.retr);
    std::printf("memory: %d of %lld mails within their goal\n", shapesMet,
                qlonglong(shapes.size()) - 1);
    return KeepIfBad(b.good, work, "outputs differed from the references'");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool memoryOnly = args.removeAll(QStringLiteral("--memory")) > 0;
    const QString programDir = args.value(0, QStringLiteral(TAV_PROGRAM_DIR));
    return RunBench(QDir(programDir).absolutePath(), memoryOnly);
}
