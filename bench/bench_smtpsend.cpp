// Time from pressing send (the memo built) to "Message Sent!" (the server
// accepted the data) for 1, 10 and 50 recipients on the real local mail
// office, against Python's smtplib sending the same mail in the same run.

#include "BenchOffice.h"
#include "MemoMail.h"
#include "SmtpSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Runs = 7;

const char *SmtpLibTime = R"(
import smtplib, sys, time
port, sender, path, runs = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
rcpts = sys.argv[5].split(',')
mail = open(path, 'rb').read()
times = []
for r in range(runs):
    t0 = time.perf_counter()
    s = smtplib.SMTP('127.0.0.1', port)
    s.sendmail(sender, rcpts, mail)
    times.append(time.perf_counter() - t0)
    s.quit()
times.sort()
print('%.6f' % times[len(times) // 2])
)";

double Median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    BenchOffice office;
    if (!office.ready())
        return 1;
    const MemoSender sender = office.sender();
    SmtpSession::Settings settings;
    settings.server = QStringLiteral("127.0.0.1");
    settings.port = QString::number(office.smtpPort());
    settings.heloName = office.domain();

    std::printf("%-11s %12s %12s %8s\n", "recipients", "Tavrino ms", "smtplib ms", "ratio");
    for (int count : {1, 10, 50}) {
        QStringList recipients;
        for (int i = 0; i < count; ++i)
            recipients << QStringLiteral("user%1@").arg(i % 4 + 1) + office.domain();
        QList<double> ours;
        QByteArray wire;
        for (int run = 0; run < Runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            const MemoValues memo = BuildMemoMail(
                '0', false, QStringLiteral("営業部"), QStringLiteral("担当者"),
                QStringLiteral("折り返しお願いします。\r\n内線123まで"), recipients, sender);
            SmtpSession session(settings);
            QEventLoop loop;
            bool ok = false;
            QObject::connect(&session, &SmtpSession::sent, &loop, [&] {
                ok = true;
                ours << timer.nsecsElapsed() / 1e6;
                loop.quit();
            });
            QObject::connect(&session, &SmtpSession::failed, &loop, [&](const QString &e) {
                std::fprintf(stderr, "send failed: %s\n", qPrintable(e));
                loop.quit();
            });
            session.sendMail(memo.MemoFromAddress, memo.MemoTo.split(QLatin1Char(',')),
                             memo.MemoBody.toLatin1());
            loop.exec();
            if (!ok)
                return 1;
            QEventLoop quitLoop; // let the polite QUIT finish before the next run
            QObject::connect(&session, &SmtpSession::closed, &quitLoop, &QEventLoop::quit);
            quitLoop.exec();
            wire = memo.MemoBody.toLatin1() + "\r\n\r\n";
        }
        QTemporaryFile mail;
        mail.open();
        mail.write(wire);
        mail.flush();
        const double reference =
            BenchOffice::python(QString::fromLatin1(SmtpLibTime),
                                {QString::number(office.smtpPort()),
                                 sender.UserID + QLatin1Char('@') + office.domain(),
                                 mail.fileName(), QString::number(Runs), recipients.join(',')})
                .trimmed()
                .toDouble() *
            1000.0;
        const double mine = Median(ours);
        std::printf("%-11d %12.2f %12.2f %8.2f\n", count, mine, reference,
                    reference > 0 ? mine / reference : 0.0);
    }
    return 0;
}
