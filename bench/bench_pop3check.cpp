// The mail check on a real Dovecot mailbox, against references doing the same
// work in the same run:
//
//  - one check of 1,000 and of 10,000 memos the desk already knows (nothing
//    is announced), against the floor (a minimal blocking POSIX client) and
//    Python's poplib, run in turn (each run starts one further in the order);
//    with the client's own time per RETR and the program's peak memory;
//  - one retrieval of a 10 MB and of a 60 MB memo, against the floor.
//
// The program's side runs in a child process (this program again), so that
// its peak memory is its own: one per mailbox size for the known memos, one
// per run for the large ones.
//
//  - one check of 1,000 known memos over STLS on the office in its TLS mode,
//    against poplib with stls() (the floor speaks no TLS).
//
// Usage (as root; starts private mail offices): bench_pop3check
// Child modes: --known PORT USER PASS COUNT KEYFILE [CAFILE]  (commands on
//              stdin; with CAFILE over STLS)
//              --large PORT USER PASS

#include "BenchFill.h"
#include "BenchOffice.h"
#include "LineSession.h"
#include "MailCheck.h"
#include "Messages.h"
#include "Pop3Floor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTemporaryFile>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int KnownRuns = 11;
constexpr int LargeRuns = 5;
constexpr int KnownUser = 4;
constexpr int ChildTimeoutMs = 300000;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

/// The process's peak resident memory since its start (VmHWM). Not
/// getrusage(): its maximum carries over exec() from the forked image of the
/// parent, whose pages all count as resident in the child until then.
long PeakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

Pop3Settings SettingsFor(const char *port, const char *user, const char *pass,
                         const char *caFile = nullptr)
{
    Pop3Settings settings;
    if (caFile)
        settings.tls = {TlsMode::Upgrade, QString::fromLocal8Bit(caFile), {}};
    settings.server = QStringLiteral("127.0.0.1");
    settings.port = QString::fromLatin1(port);
    settings.userId = QString::fromLatin1(user);
    settings.password = QString::fromLatin1(pass);
    return settings;
}

/// Runs the event loop until the check under way ends; its ok.
bool AwaitCheck(MailCheck &check)
{
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&check, &MailCheck::checkEnded, &loop, [&](bool result) {
        ok = result;
        loop.quit();
    });
    loop.exec();
    return ok;
}

void AwaitShutDown(MailCheck &check)
{
    QEventLoop loop;
    QObject::connect(&check, &MailCheck::shutDown, &loop, &QEventLoop::quit);
    check.shutdown();
    loop.exec();
}

// ---------------------------------------------------------------- children

/// When the last socket read returned, and for each write since the gaps
/// were cleared, the time from that read: the client's work on the answer
/// that read completed, up to its next command.
Clock::time_point g_lastRead;
std::vector<double> g_gapsUs;

void TraceIo(bool isWrite)
{
    const Clock::time_point now = Clock::now();
    if (!isWrite) {
        g_lastRead = now;
        return;
    }
    g_gapsUs.push_back(std::chrono::duration<double, std::micro>(now - g_lastRead).count());
}

/// Lists the mailbox once (every memo announced), then runs one check per
/// "check" line on stdin. Replies:
///   ready SHOWN
///   result OK FULL_MS CHECK_MS SHOWN RETR_MEDIAN_US RETR_MEAN_US LISTED
///   keys            (after writing the listing's keys to KEYFILE)
///   rss PEAK_KB     (after "quit")
/// FULL_MS runs from the timer's tick to the end of the check and includes
/// ending the connection kept from the previous check; CHECK_MS runs from
/// the new connection's start, as the references are timed.
int RunKnownChild(char **argv)
{
    const int count = std::atoi(argv[5]);
    const QString keyFile = QString::fromLocal8Bit(argv[6]);
    MailCheck check(SettingsFor(argv[2], argv[3], argv[4], argv[7]), QStringLiteral("0"));
    check.setMaxViewers(std::numeric_limits<int>::max()); // every memo shows at once
    int shown = 0;
    QObject::connect(&check, &MailCheck::showMemo, [&shown] { ++shown; });
    QObject::connect(&check, &MailCheck::errorMessage, [](const QString &text) {
        std::fprintf(stderr, "mail check: %s\n", qPrintable(text));
    });
    Clock::time_point reconnect{};
    QObject::connect(&check, &MailCheck::statusText, [&reconnect](const QString &text) {
        if (reconnect == Clock::time_point{} && text == Msg::SocketClosed)
            reconnect = Clock::now();
    });
    check.holdTimer(); // a check starts only when asked for
    check.start();
    const bool listed = AwaitCheck(check);
    while (check.waitingCount() > 0)
        QCoreApplication::processEvents();
    std::printf("ready %d\n", listed && check.currentBox().size() == count ? shown : -1);
    std::fflush(stdout);

    LineSession::setTraceHook(TraceIo);
    g_gapsUs.reserve(size_t(count) + 64);
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "check", 5) == 0) {
            shown = 0;
            g_gapsUs.clear();
            reconnect = {};
            const Clock::time_point start = Clock::now();
            check.tmrCheckMail_Timer();
            const bool ok = AwaitCheck(check);
            const Clock::time_point end = Clock::now();
            // Whatever the check queued (nothing, for known memos) gets its turn.
            for (int i = 0; i < 10; ++i)
                QCoreApplication::processEvents();
            // The last `count` writes are the RETR commands, each following the
            // answer before it (STAT's for the first).
            std::vector<double> retr;
            if (g_gapsUs.size() >= size_t(count))
                retr.assign(g_gapsUs.end() - count, g_gapsUs.end());
            double mean = 0;
            for (double g : retr)
                mean += g;
            mean = retr.empty() ? 0 : mean / double(retr.size());
            std::printf("result %d %.3f %.3f %d %.3f %.3f %lld\n", ok ? 1 : 0, Ms(end - start),
                        Ms(end - (reconnect == Clock::time_point{} ? start : reconnect)), shown,
                        Median(retr), mean, qlonglong(check.currentBox().size()));
        } else if (std::strncmp(line, "keys", 4) == 0) {
            QFile out(keyFile);
            if (out.open(QIODevice::WriteOnly)) {
                for (const MailBoxRow &row : check.currentBox())
                    out.write(row.Key.toUtf8() + '\n');
            }
            std::printf("keys\n");
        } else if (std::strncmp(line, "quit", 4) == 0) {
            break;
        }
        std::fflush(stdout);
    }
    LineSession::setTraceHook(nullptr);
    AwaitShutDown(check);
    std::printf("rss %ld\n", PeakRssKb());
    std::fflush(stdout);
    return 0;
}

/// One check of a mailbox holding one new, large memo. Replies
///   large OK MS PEAK_KB SHOWN BODY_CHARS KEY
/// MS runs from the start of the check to its end (the memo read and queued
/// for its viewer).
int RunLargeChild(char **argv)
{
    MailCheck check(SettingsFor(argv[2], argv[3], argv[4]), QStringLiteral("0"));
    int shown = 0;
    qsizetype bodyChars = 0;
    QObject::connect(&check, &MailCheck::showMemo, [&](const MemoValues &memo) {
        ++shown;
        bodyChars = memo.MemoBody.size();
    });
    QObject::connect(&check, &MailCheck::errorMessage, [](const QString &text) {
        std::fprintf(stderr, "mail check: %s\n", qPrintable(text));
    });
    check.holdTimer();
    const Clock::time_point start = Clock::now();
    check.start();
    const bool ok = AwaitCheck(check);
    const Clock::time_point end = Clock::now();
    while (check.waitingCount() > 0)
        QCoreApplication::processEvents();
    const QString key = check.currentBox().size() == 1 ? check.currentBox().first().Key : QString();
    AwaitShutDown(check);
    std::printf("large %d %.3f %ld %d %lld %s\n", ok ? 1 : 0, Ms(end - start), PeakRssKb(), shown,
                qlonglong(bodyChars), key.isEmpty() ? "-" : qPrintable(key));
    return 0;
}

// ------------------------------------------------------------------ parent

/// One check per line on stdin: connect to the last RETR answer timed;
/// replies "SECONDS COUNT SHA1" with the SHA-1 over the contents as the
/// floor computes it (after the timing). With a CA file, over STLS, and the
/// answers of each check written to DUMPFILE as the floor returns them
/// ("+OK" line to terminator, each after "LENGTH\n").
const char *PoplibScript = R"(
import hashlib, poplib, ssl, sys, time
port, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3]
ca = sys.argv[4] if len(sys.argv) > 4 else None
context = ssl.create_default_context(cafile=ca) if ca else None
for line in sys.stdin:
    t0 = time.perf_counter()
    p = poplib.POP3('127.0.0.1', port)
    if ca:
        p.stls(context=context)
    p.user(user); p.pass_(password)
    n = p.stat()[0]
    got = [p.retr(i)[1] for i in range(1, n + 1)]
    t1 = time.perf_counter()
    p.quit()
    h = hashlib.sha1()
    for lines in got:
        for l in lines:
            h.update(l + b'\r\n')
    if ca:
        with open(sys.argv[5], 'wb') as out:
            for lines in got:
                a = b'+OK\r\n' + b''.join((b'.' + l if l.startswith(b'.') else l) + b'\r\n'
                                          for l in lines) + b'.\r\n'
                out.write(b'%d\n' % len(a) + a)
    print('%.6f %d %s' % (t1 - t0, n, h.hexdigest()), flush=True)
)";

/// One memo of about `bytes` bytes: a short header and ASCII lines of 76
/// characters, like an attachment's Base64.
QByteArray LargeMemo(const BenchOffice &office, int user, qsizetype bytes)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QRandomGenerator random(qsizetype(user) * 7919 + bytes);
    const qsizetype lines = bytes / 78;
    QString text;
    text.reserve(lines * 78);
    for (qsizetype i = 0; i < lines; ++i) {
        for (int c = 0; c < 76; ++c)
            text += QLatin1Char(alphabet[random.bounded(64)]);
        text += QStringLiteral("\r\n");
    }
    const MemoValues memo = BuildMemoMail(
        QChar(u'2'), false, QStringLiteral("ACME 商事"), QStringLiteral("担当者"), text,
        {QStringLiteral("user%1@").arg(user) + office.domain()}, office.sender());
    return SmtpWireText(memo.MemoBody.toLatin1());
}

QStringList KeysOf(const QList<QByteArray> &answers)
{
    QStringList keys;
    for (const QByteArray &answer : answers)
        keys.append(MemoKeyOf(answer));
    return keys;
}

struct KnownFigures
{
    int memos = 0;
    double tavrino = 0, tavrinoFull = 0, floor = 0, poplib = 0; // ms
    double retrUs = 0, retrMeanUs = 0, floorRetrUs = 0;
    double peakMb = 0;
};

/// Runs the known-memo comparison on the mailbox as it is; false on any
/// failure or difference.
bool MeasureKnown(const BenchOffice &office, int memos, KnownFigures &figures)
{
    const QByteArray port = QByteArray::number(office.pop3Port());
    const QByteArray user = "user" + QByteArray::number(KnownUser);
    const QByteArray pass = "pass" + QByteArray::number(KnownUser);
    QTemporaryFile keyFile;
    keyFile.open();
    LineChild tavrino(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--known"), QString::fromLatin1(port),
                       QString::fromLatin1(user), QString::fromLatin1(pass), QString::number(memos),
                       keyFile.fileName()});
    LineChild poplib(QStringLiteral("python3"),
                     PythonArgs(PoplibScript, {QString::fromLatin1(port), QString::fromLatin1(user),
                                               QString::fromLatin1(pass)}));
    const QByteArray ready = tavrino.readLine(ChildTimeoutMs);
    if (ready != "ready " + QByteArray::number(memos)) {
        std::fprintf(stderr, "first listing of %d memos: \"%s\"\n", memos, ready.constData());
        return false;
    }
    bool good = true;
    QByteArray floorDigest;
    QList<QByteArray> poplibDigests;
    std::vector<double> ours, oursFull, floors, poplibs, retr, retrMean, floorRetr;
    const auto checkTavrino = [&] {
        const QList<QByteArray> r = tavrino.ask("check", ChildTimeoutMs).split(' ');
        if (r.size() != 8 || r[0] != "result" || r[1] != "1" || r[7].toInt() != memos) {
            std::fprintf(stderr, "Tavrino check failed: \"%s\"\n", r.join(' ').constData());
            return false;
        }
        if (r[4] != "0") {
            std::fprintf(stderr, "Tavrino announced %s known memos again\n", r[4].constData());
            good = false;
        }
        oursFull.push_back(r[2].toDouble());
        ours.push_back(r[3].toDouble());
        retr.push_back(r[5].toDouble());
        retrMean.push_back(r[6].toDouble());
        return true;
    };
    const auto checkFloor = [&] {
        const FloorResult f = RunFloorCheck(office.pop3Port(), user.constData(), pass.constData());
        if (!f.ok || f.messages != memos) {
            std::fprintf(stderr, "floor check failed: %s (%d messages)\n", qPrintable(f.error),
                         f.messages);
            return false;
        }
        floors.push_back(f.seconds * 1e3);
        floorRetr.push_back(f.clientUsPerRetr);
        floorDigest = f.digest.toHex();
        return true;
    };
    const auto checkPoplib = [&] {
        const QList<QByteArray> p = poplib.ask("check", ChildTimeoutMs).split(' ');
        if (p.size() != 3 || p[1].toInt() != memos) {
            std::fprintf(stderr, "poplib check failed: \"%s\"\n", p.join(' ').constData());
            return false;
        }
        poplibDigests.append(p[2]);
        poplibs.push_back(p[0].toDouble() * 1e3);
        return true;
    };
    // The order turns from run to run, so that no one always comes right
    // after the same other (a server still ending the session before).
    const std::function<bool()> contestants[] = {checkTavrino, checkFloor, checkPoplib};
    for (int run = 0; run < KnownRuns; ++run) {
        for (int turn = 0; turn < 3; ++turn) {
            if (!contestants[(run + turn) % 3]())
                return false;
        }
    }
    if (poplibDigests.count(floorDigest) != poplibDigests.size()) {
        std::fprintf(stderr, "poplib retrieved other contents than the floor\n");
        good = false;
    }

    // The program's listing against the answers the floor retrieved (untimed).
    QList<QByteArray> answers;
    const FloorResult f =
        RunFloorCheck(office.pop3Port(), user.constData(), pass.constData(), &answers);
    const QStringList expected = KeysOf(answers);
    if (tavrino.ask("keys", ChildTimeoutMs) != "keys") {
        std::fprintf(stderr, "Tavrino wrote no keys\n");
        return false;
    }
    QFile keys(keyFile.fileName());
    keys.open(QIODevice::ReadOnly);
    const QStringList listed = QString::fromUtf8(keys.readAll()).split(u'\n', Qt::SkipEmptyParts);
    if (!f.ok || listed != expected || expected.size() != memos) {
        std::fprintf(stderr, "keys differ from the floor's answers (%lld listed, %lld expected)\n",
                     qlonglong(listed.size()), qlonglong(expected.size()));
        good = false;
    }
    const QList<QByteArray> rss = tavrino.ask("quit", ChildTimeoutMs).split(' ');
    figures.memos = memos;
    figures.tavrino = Median(ours);
    figures.tavrinoFull = Median(oursFull);
    figures.floor = Median(floors);
    figures.poplib = Median(poplibs);
    figures.retrUs = Median(retr);
    figures.retrMeanUs = Median(retrMean);
    figures.floorRetrUs = Median(floorRetr);
    figures.peakMb = rss.value(1).toDouble() / 1024.0;
    return good;
}

/// One check of the known memos over STLS, Tavrino against poplib with
/// stls(), run in turn; the medians in ms, or false on any failure or
/// difference of contents.
bool MeasureKnownTls(const BenchOffice &office, int memos, double &tavrinoMs, double &poplibMs)
{
    const QString port = QString::number(office.pop3Port());
    const QString user = QStringLiteral("user%1").arg(KnownUser);
    const QString pass = QStringLiteral("pass%1").arg(KnownUser);
    QTemporaryFile keyFile, dumpFile;
    keyFile.open();
    dumpFile.open();
    LineChild tavrino(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--known"), port, user, pass, QString::number(memos),
                       keyFile.fileName(), office.caFile()});
    LineChild poplib(
        QStringLiteral("python3"),
        PythonArgs(PoplibScript, {port, user, pass, office.caFile(), dumpFile.fileName()}));
    if (tavrino.readLine(ChildTimeoutMs) != "ready " + QByteArray::number(memos)) {
        std::fprintf(stderr, "first listing over STLS failed\n");
        return false;
    }
    std::vector<double> ours, theirs;
    for (int run = 0; run < KnownRuns; ++run) {
        const QList<QByteArray> r = tavrino.ask("check", ChildTimeoutMs).split(' ');
        const QList<QByteArray> p = poplib.ask("check", ChildTimeoutMs).split(' ');
        if (r.size() != 8 || r[1] != "1" || r[4] != "0" || r[7].toInt() != memos || p.size() != 3 ||
            p[1].toInt() != memos) {
            std::fprintf(stderr, "check over STLS failed: \"%s\" / \"%s\"\n",
                         r.join(' ').constData(), p.join(' ').constData());
            return false;
        }
        ours.push_back(r[3].toDouble());
        theirs.push_back(p[0].toDouble() * 1e3);
    }
    // The program's listing against the answers poplib retrieved.
    QList<QByteArray> answers;
    const QByteArray dump = dumpFile.readAll();
    for (qsizetype pos = 0; pos < dump.size();) {
        const qsizetype nl = dump.indexOf('\n', pos);
        const qsizetype size = dump.mid(pos, nl - pos).toLongLong();
        answers.append(dump.mid(nl + 1, size));
        pos = nl + 1 + size;
    }
    tavrino.ask("keys", ChildTimeoutMs);
    QFile keys(keyFile.fileName());
    keys.open(QIODevice::ReadOnly);
    const QStringList listed = QString::fromUtf8(keys.readAll()).split(u'\n', Qt::SkipEmptyParts);
    tavrino.ask("quit", ChildTimeoutMs);
    tavrinoMs = Median(ours);
    poplibMs = Median(theirs);
    if (listed != KeysOf(answers) || listed.size() != memos) {
        std::fprintf(stderr, "keys over STLS differ from poplib's answers\n");
        return false;
    }
    return true;
}

struct LargeFigures
{
    double mb = 0;
    double tavrino = 0, floor = 0; // ms
    double peakMb = 0;
};

bool MeasureLarge(const BenchOffice &office, int user, double mb, LargeFigures &figures)
{
    const QByteArray port = QByteArray::number(office.pop3Port());
    const QByteArray login = "user" + QByteArray::number(user);
    const QByteArray pass = "pass" + QByteArray::number(user);
    bool good = true;
    std::vector<double> ours, floors;
    long peakKb = 0;
    QString key;
    for (int run = 0; run < LargeRuns; ++run) {
        LineChild tavrino(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("--large"), QString::fromLatin1(port),
                           QString::fromLatin1(login), QString::fromLatin1(pass)});
        const QList<QByteArray> r = tavrino.readLine(ChildTimeoutMs).split(' ');
        if (r.size() != 7 || r[0] != "large" || r[1] != "1" || r[4] != "1") {
            std::fprintf(stderr, "Tavrino check of %.0f MB failed: \"%s\"\n", mb,
                         r.join(' ').constData());
            return false;
        }
        ours.push_back(r[2].toDouble());
        peakKb = qMax(peakKb, r[3].toLong());
        key = QString::fromUtf8(r[6]);

        const FloorResult f = RunFloorCheck(office.pop3Port(), login.constData(), pass.constData());
        if (!f.ok || f.messages != 1) {
            std::fprintf(stderr, "floor check failed: %s\n", qPrintable(f.error));
            return false;
        }
        floors.push_back(f.seconds * 1e3);
    }
    QList<QByteArray> answers;
    const FloorResult f =
        RunFloorCheck(office.pop3Port(), login.constData(), pass.constData(), &answers);
    if (!f.ok || KeysOf(answers) != QStringList{key}) {
        std::fprintf(stderr, "the %.0f MB memo's key differs from the floor's\n", mb);
        good = false;
    }
    figures.mb = mb;
    figures.tavrino = Median(ours);
    figures.floor = Median(floors);
    figures.peakMb = double(peakKb) / 1024.0;
    return good;
}

int RunParent()
{
    BenchOffice office;
    if (!office.ready())
        return 1;
    bool good = true;

    std::printf("Mail check of known memos, median of %d runs each, run in turn "
                "(Tavrino, floor, poplib; each run starts one further in that order)\n",
                KnownRuns);
    std::printf("%-6s %9s %9s %9s %7s %8s %7s %22s %8s\n", "memos", "Tavrino", "floor", "poplib",
                "T/floor", "T/poplib", "us/memo", "client us/RETR T(mean)", "peak RSS");
    std::vector<KnownFigures> known;
    int inBox = 0;
    for (int memos : {1000, 10000}) {
        if (!Fill(office, KnownUser, KnownMemos(office, KnownUser, inBox, memos), memos)) {
            std::fprintf(stderr, "could not fill the mailbox to %d memos\n", memos);
            return 1;
        }
        inBox = memos;
        KnownFigures k;
        if (!MeasureKnown(office, memos, k))
            good = false;
        if (k.memos == 0)
            return 1;
        known.push_back(k);
        std::printf("%-6d %6.1f ms %6.1f ms %6.1f ms %7.2f %8.2f %7.1f %10.1f (%.1f) floor %.1f "
                    "%5.1f MB\n",
                    memos, k.tavrino, k.floor, k.poplib, k.tavrino / k.floor, k.tavrino / k.poplib,
                    k.tavrino * 1e3 / memos, k.retrUs, k.retrMeanUs, k.floorRetrUs, k.peakMb);
    }
    std::printf("Tavrino from the tick, ending the kept connection first: %.1f ms at %d, "
                "%.1f ms at %d\n",
                known[0].tavrinoFull, known[0].memos, known[1].tavrinoFull, known[1].memos);
    const double perMemoRatio =
        (known[1].tavrino / known[1].memos) / (known[0].tavrino / known[0].memos);
    std::printf("time per memo at %d / at %d: %.2f (1.00 is linear)\n", known[1].memos,
                known[0].memos, perMemoRatio);

    std::printf("One large memo, median of %d runs each, run in turn (Tavrino in a fresh "
                "process, floor)\n",
                LargeRuns);
    std::printf("%-6s %10s %10s %9s %9s %7s %9s %9s\n", "size", "Tavrino", "floor", "T MB/s",
                "floor MB/s", "T/floor", "peak RSS", "RSS/size");
    std::vector<LargeFigures> large;
    const struct
    {
        int user;
        double mb;
    } sizes[] = {{5, 10}, {6, 60}};
    for (const auto &size : sizes) {
        const QByteArray mail = LargeMemo(office, size.user, qsizetype(size.mb * 1024 * 1024));
        if (!Fill(office, size.user, {mail}, 1)) {
            std::fprintf(stderr, "could not deliver the %.0f MB memo\n", size.mb);
            return 1;
        }
        LargeFigures l;
        if (!MeasureLarge(office, size.user, size.mb, l))
            good = false;
        if (l.mb == 0)
            return 1;
        large.push_back(l);
        std::printf("%3.0f MB %7.1f ms %7.1f ms %9.1f %9.1f %7.2f %6.1f MB %8.1fx\n", l.mb,
                    l.tavrino, l.floor, l.mb * 1e3 / l.tavrino, l.mb * 1e3 / l.floor,
                    l.tavrino / l.floor, l.peakMb, l.peakMb / l.mb);
    }
    const double perMbRatio = (large[1].tavrino / large[1].mb) / (large[0].tavrino / large[0].mb);
    std::printf("time per MB at 60 MB / at 10 MB: %.2f (1.00 is linear)\n", perMbRatio);

    // Over STLS, on the office in its TLS mode (its SMTP wants STARTTLS and AUTH).
    BenchOffice tlsOffice(true);
    if (!tlsOffice.ready())
        return 1;
    constexpr int TlsMemos = 1000;
    const QList<QByteArray> tlsMemos = KnownMemos(tlsOffice, KnownUser, 0, TlsMemos);
    QTemporaryFile tlsFill;
    tlsFill.open();
    for (const QByteArray &mail : tlsMemos)
        tlsFill.write(QByteArray::number(mail.size()) + '\n' + mail);
    tlsFill.flush();
    const QString login = QStringLiteral("user%1").arg(KnownUser);
    const QByteArray seen = BenchOffice::python(
        QString::fromLatin1(FillScript),
        {QString::number(tlsOffice.smtpPort()), QString::number(tlsOffice.pop3Port()),
         QStringLiteral("user1@") + tlsOffice.domain(),
         login + QLatin1Char('@') + tlsOffice.domain(), login,
         QStringLiteral("pass%1").arg(KnownUser), tlsFill.fileName(), QString::number(TlsMemos),
         tlsOffice.caFile()});
    double tlsOurs = 0, tlsPoplib = 0;
    if (seen.trimmed().toInt() != TlsMemos || !tlsOffice.waitQueueEmpty(60000) ||
        !MeasureKnownTls(tlsOffice, TlsMemos, tlsOurs, tlsPoplib)) {
        std::fprintf(stderr, "the check over STLS could not be measured\n");
        return 1;
    }
    std::printf("Mail check of %d known memos over STLS, median of %d runs each, run in turn: "
                "Tavrino %.1f ms, poplib with stls() %.1f ms\n",
                TlsMemos, KnownRuns, tlsOurs, tlsPoplib);
    std::printf("ratios: Tavrino/floor %.2f (1000) %.2f (10000); Tavrino/poplib %.2f (1000) "
                "%.2f (10000); per memo 10000/1000 %.2f; large Tavrino/floor %.2f (10 MB) "
                "%.2f (60 MB); per MB 60/10 %.2f; STLS Tavrino/poplib %.2f (1000)\n",
                known[0].tavrino / known[0].floor, known[1].tavrino / known[1].floor,
                known[0].tavrino / known[0].poplib, known[1].tavrino / known[1].poplib,
                perMemoRatio, large[0].tavrino / large[0].floor, large[1].tavrino / large[1].floor,
                perMbRatio, tlsOurs / tlsPoplib);
    if (!good)
        std::fprintf(stderr, "outputs differed from the references'\n");
    return good ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if ((argc == 7 || argc == 8) && std::strcmp(argv[1], "--known") == 0)
        return RunKnownChild(argv);
    if (argc == 5 && std::strcmp(argv[1], "--large") == 0)
        return RunLargeChild(argv);
    return RunParent();
}
