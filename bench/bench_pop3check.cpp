// One complete mail check of a real Dovecot mailbox whose memos are all
// already known, against a minimal POP3 client (Python's poplib) retrieving
// the same messages in the same run.

#include "BenchOffice.h"
#include "MailCheck.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryFile>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

const char *Fill = R"(
import smtplib, sys
port, sender, to, count, path = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
mail = open(path, 'rb').read()
s = smtplib.SMTP('127.0.0.1', port)
for i in range(count):
    s.sendmail(sender, [to], mail.replace(b'ACME', b'ACME%05d' % i))
s.quit()
)";

const char *PopTime = R"(
import poplib, sys, time
port, user, password, expected = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
best = None
for attempt in range(3):
    t0 = time.perf_counter()
    p = poplib.POP3('127.0.0.1', port)
    p.user(user); p.pass_(password)
    n = p.stat()[0]
    for i in range(1, n + 1):
        p.retr(i)
    t1 = time.perf_counter()
    p.quit()
    assert n == expected, (n, expected)
    best = t1 - t0 if best is None else min(best, t1 - t0)
print('%.6f' % best)
)";

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

/// Seconds for one check of a mailbox whose memos the previous check listed.
double TimeKnownCheck(MailCheck &check, int expected, int &announced)
{
    QEventLoop loop;
    QObject::connect(&check, &MailCheck::checkEnded, &loop, &QEventLoop::quit);
    QObject::connect(&check, &MailCheck::errorMessage, [](const QString &text) {
        std::fprintf(stderr, "mail check: %s\n", qPrintable(text));
    });
    check.holdTimer(); // checks start only when this loop says so
    check.start();     // the first check lists everything
    loop.exec();
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        announced = 0;
        auto counter = QObject::connect(&check, &MailCheck::newMemo, [&announced] { ++announced; });
        QElapsedTimer timer;
        timer.start();
        check.tmrCheckMail_Timer();
        loop.exec();
        best = qMin(best, timer.nsecsElapsed() / 1e9);
        QObject::disconnect(counter);
        if (check.currentBox().size() != expected)
            std::fprintf(stderr, "listed %lld of %d\n", qlonglong(check.currentBox().size()),
                         expected);
    }
    check.shutdown();
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    BenchOffice office;
    if (!office.ready())
        return 1;
    const MemoSender sender = office.sender();
    const QString to = QStringLiteral("user4@") + office.domain();
    const MemoValues memo = BuildMemoMail(
        '0', false, QStringLiteral("ACME"), QStringLiteral("担当者"),
        QStringLiteral("折り返しお願いします。\r\n内線123まで\r\n") + QString(20, QChar(0x3042)),
        {to}, sender);
    QTemporaryFile mailFile;
    mailFile.open();
    // As the program sends it: the last line ended, then the empty line of the end of data.
    mailFile.write(memo.MemoBody.toLatin1() + "\r\n\r\n");
    mailFile.flush();

    std::printf("%-8s %12s %12s %8s %14s\n", "memos", "Tavrino s", "poplib s", "ratio",
                "peak RSS MB");
    int inBox = 0;
    double perMemo[2] = {0, 0};
    int row = 0;
    for (int n : {100, 1000}) {
        BenchOffice::python(QString::fromLatin1(Fill),
                            {QString::number(office.smtpPort()),
                             sender.UserID + '@' + office.domain(), to, QString::number(n - inBox),
                             mailFile.fileName()});
        inBox = n;
        Pop3Session::Settings settings;
        settings.server = QStringLiteral("127.0.0.1");
        settings.port = QString::number(office.pop3Port());
        settings.userId = QStringLiteral("user4");
        settings.password = QStringLiteral("pass4");
        settings.sleep = QStringLiteral("0");
        MailCheck check(settings, QStringLiteral("0")); // a tick starts a check at once
        int announced = 0;
        const double ours = TimeKnownCheck(check, n, announced);
        const double reference = BenchOffice::python(QString::fromLatin1(PopTime),
                                                     {QString::number(office.pop3Port()), "user4",
                                                      "pass4", QString::number(n)})
                                     .trimmed()
                                     .toDouble();
        std::printf("%-8d %12.4f %12.4f %8.2f %14.1f%s\n", n, ours, reference,
                    reference > 0 ? ours / reference : 0.0, PeakRssKb() / 1024.0,
                    announced ? "  (memos announced again!)" : "");
        perMemo[row++] = ours / n;
    }
    std::printf("time per memo at 1000 / at 100: %.2f (1.00 is linear)\n", perMemo[1] / perMemo[0]);
    return 0;
}
