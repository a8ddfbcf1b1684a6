// One mail check of a mailbox holding one new, large memo (10 MB and 60 MB),
// against a minimal blocking client retrieving the same message in the same
// run: time, throughput and the program's peak memory. The program's side
// runs in a child process (this program again, a fresh one per run), so that
// its peak memory is its own. Checks of known memos are measured on the desk
// itself, by bench_desk.
//
// Usage (as root; starts a private mail office): bench_pop3check
// Child mode: --large PORT USER PASS

#include "BenchFill.h"
#include "BenchOffice.h"
#include "MailCheck.h"
#include "Messages.h"
#include "Pop3Floor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTemporaryFile>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int LargeRuns = 5;
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
    const QList<MemoValues> listed = check.listedMemos();
    const QString key = listed.size() == 1 ? listed.first().MemoKey : QString();
    AwaitShutDown(check);
    std::printf("large %d %.3f %ld %d %lld %s\n", ok ? 1 : 0, Ms(end - start), PeakRssKb(), shown,
                qlonglong(bodyChars), key.isEmpty() ? "-" : qPrintable(key));
    return 0;
}

// ------------------------------------------------------------------ parent

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
    // The memo is known by the unique-id the server gives it.
    const FloorUidlResult u = RunFloorUidl(office.pop3Port(), login.constData(), pass.constData());
    if (!u.ok || key != QStringLiteral("uid:") + QString::fromLatin1(u.listing.mid(2).trimmed())) {
        std::fprintf(stderr, "the %.0f MB memo's key differs from the server's unique-id\n", mb);
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

    std::printf("Measures the mail-check library (MailCheck in a child process of this harness, "
                "no windows), not the desk; the desk itself is measured by bench_desk.\n");
    std::printf("One large memo, median of %d runs each, run in turn (the library in a fresh "
                "process, floor)\n",
                LargeRuns);
    std::printf("%-6s %10s %10s %9s %9s %7s %9s %9s\n", "size", "library", "floor", "lib MB/s",
                "floor MB/s", "lib/floor", "peak RSS", "RSS/size");
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

    std::printf("ratios: large library/floor %.2f (10 MB) %.2f (60 MB); per MB 60/10 %.2f\n",
                large[0].tavrino / large[0].floor, large[1].tavrino / large[1].floor, perMbRatio);
    if (!good)
        std::fprintf(stderr, "outputs differed from the references'\n");
    return good ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && std::strcmp(argv[1], "--large") == 0)
        return RunLargeChild(argv);
    return RunParent();
}
