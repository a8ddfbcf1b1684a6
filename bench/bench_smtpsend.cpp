// One memo sent by SmtpSend, from the start of the send to the server's
// acceptance (sent()), to 1, 10 and 50 distinct recipients on the real local
// mail office, against Python's smtplib putting the same bytes on the wire
// to the same recipients; run in turn. Afterwards every copy delivered to
// the last recipient, from either side, must equal the mail as sent (the
// headers Postfix adds left aside).
//
// Usage (as root; starts a private mail office): bench_smtpsend

#include "BenchOffice.h"
#include "MemoMail.h"
#include "SmtpSend.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryFile>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Runs = 15;
constexpr int TimeoutMs = 120000;

/// One send per line on stdin, timed from the connection to the end of
/// sendmail(); replies "SECONDS REFUSED" or "error TEXT".
const char *SmtplibScript = R"(
import smtplib, sys, time
port, helo, sender, path = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
rcpts = sys.argv[5].split(',')
mail = open(path, 'rb').read()
for line in sys.stdin:
    try:
        t0 = time.perf_counter()
        s = smtplib.SMTP('127.0.0.1', port, local_hostname=helo)
        refused = s.sendmail(sender, rcpts, mail)
        t1 = time.perf_counter()
        s.quit()
        print('%.6f %d' % (t1 - t0, len(refused)), flush=True)
    except Exception as e:
        print('error %r' % (e,), flush=True)
)";

/// Waits until each "user:count" mailbox holds count messages, then prints
/// every message of the last one: "SMTP" or "ESMTP" (how it came, from its
/// Received line) and the Base64 of its content without the headers Postfix
/// adds. Prints "missing USER HELD" when a mailbox stays short.
const char *DeliveredScript = R"(
import base64, poplib, sys, time
port = int(sys.argv[1])
wanted = [(u, int(n)) for u, n in (a.split(':') for a in sys.argv[2].split(','))]
added = (b'return-path', b'delivered-to', b'x-original-to', b'received', b'message-id', b'date')
def login(user):
    p = poplib.POP3('127.0.0.1', port)
    p.user(user); p.pass_(user.replace('user', 'pass'))
    return p
deadline = time.time() + 60
for user, n in wanted:
    while True:
        p = login(user); held = p.stat()[0]; p.quit()
        if held >= n or time.time() > deadline:
            break
        time.sleep(0.2)
    if held != n:
        print('missing %s %d' % (user, held)); sys.exit(0)
p = login(wanted[-1][0])
for i in range(1, wanted[-1][1] + 1):
    lines = p.retr(i)[1]
    kept, how, header, drop = [], '?', True, False
    for l in lines:
        if header and l == b'':
            header = False
        if header:
            if l[:1] not in (b' ', b'\t'):
                name = l.split(b':', 1)[0].strip().lower()
                drop = name in added
            if drop:
                if b' with ESMTP ' in l: how = 'ESMTP'
                elif b' with SMTP ' in l: how = 'SMTP'
                continue
        kept.append(l + b'\r\n')
    print(how, base64.b64encode(b''.join(kept)).decode())
p.quit()
)";

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

/// One send by the program; its time in ms, or a negative value on failure.
double SendOnce(const SmtpSend::Settings &settings, const MemoValues &memo)
{
    SmtpSend job(settings);
    QEventLoop loop;
    double ms = -1;
    Clock::time_point start;
    QObject::connect(&job, &SmtpSend::sent, &loop, [&] {
        ms = Ms(Clock::now() - start);
        loop.quit();
    });
    QObject::connect(&job, &SmtpSend::failed, &loop, [&](const QString &text) {
        std::fprintf(stderr, "Tavrino send failed: %s\n", qPrintable(text));
        loop.quit();
    });
    start = Clock::now();
    job.sendMail(memo.MemoFromAddress, memo.MemoTo.split(QLatin1Char(',')),
                 memo.MemoBody.toLatin1());
    loop.exec();
    if (!job.isClosed()) {
        // The polite QUIT ends before the next run (untimed).
        QEventLoop quitLoop;
        QObject::connect(&job, &SmtpSend::closed, &quitLoop, &QEventLoop::quit);
        quitLoop.exec();
    }
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    BenchOffice office;
    if (!office.ready())
        return 1;
    SmtpSend::Settings settings;
    settings.server = QStringLiteral("127.0.0.1");
    settings.port = QString::number(office.smtpPort());
    settings.heloName = office.domain();

    std::printf("Measures the SMTP job of the shared library (SmtpSend in this harness, no "
                "windows), not the desk's send button.\n");
    std::printf("Send of one memo, from the start of the send to the server's acceptance; "
                "median of %d runs each, run in turn (library, smtplib)\n",
                Runs);
    std::printf("%-10s %11s %11s %7s\n", "recipients", "library ms", "smtplib ms", "ratio");
    bool good = true;
    std::vector<int> held(51, 0); // messages each mailbox should hold
    std::vector<double> ratios;
    int checked = 0;
    for (int count : {1, 10, 50}) {
        QStringList recipients;
        for (int i = 1; i <= count; ++i)
            recipients << QStringLiteral("user%1@").arg(i) + office.domain();
        // The last line begins with a dot, so that both sides stuff it.
        const MemoValues memo =
            BuildMemoMail('0', false, QStringLiteral("営業部"), QStringLiteral("担当者"),
                          QStringLiteral("折り返しお願いします。\r\n内線123まで\r\n.以上"),
                          recipients, office.sender());
        const QByteArray wire = SmtpWireText(memo.MemoBody.toLatin1());
        QTemporaryFile mail;
        mail.open();
        mail.write(wire);
        mail.flush();
        LineChild smtplib(QStringLiteral("python3"),
                          PythonArgs(SmtplibScript, {QString::number(office.smtpPort()),
                                                     settings.heloName, memo.MemoFromAddress,
                                                     mail.fileName(), recipients.join(',')}));
        std::vector<double> ours, theirs;
        // One untimed send each first: the server's processes start on demand.
        for (int run = -1; run < Runs; ++run) {
            if (!office.waitQueueEmpty(TimeoutMs)) {
                std::fprintf(stderr, "the mail queue did not empty\n");
                return 1;
            }
            const double mine = SendOnce(settings, memo);
            if (mine < 0)
                return 1;
            if (!office.waitQueueEmpty(TimeoutMs)) {
                std::fprintf(stderr, "the mail queue did not empty\n");
                return 1;
            }
            const QList<QByteArray> reply = smtplib.ask("send", TimeoutMs).split(' ');
            if (reply.size() != 2 || reply[0] == "error" || reply[1] != "0") {
                std::fprintf(stderr, "smtplib send failed: %s\n", reply.join(' ').constData());
                return 1;
            }
            if (run >= 0) {
                ours.push_back(mine);
                theirs.push_back(reply[0].toDouble() * 1e3);
            }
        }
        for (int i = 1; i <= count; ++i)
            held[i] += 2 * (Runs + 1);

        // What arrived: every copy in the last recipient's mailbox.
        QStringList wanted;
        for (int i = 1; i <= count; ++i)
            wanted << QStringLiteral("user%1:%2").arg(i).arg(held[i]);
        const QByteArray delivered =
            BenchOffice::python(QString::fromLatin1(DeliveredScript),
                                {QString::number(office.pop3Port()), wanted.join(',')});
        int fromTavrino = 0, fromSmtplib = 0, same = 0;
        const QList<QByteArray> lines = delivered.trimmed().split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 2)
                continue;
            fromTavrino += parts[0] == "SMTP";
            fromSmtplib += parts[0] == "ESMTP";
            same += QByteArray::fromBase64(parts[1]) == wire;
        }
        const int expected = held[count];
        if (fromTavrino != Runs + 1 || fromSmtplib != Runs + 1 || same != expected) {
            std::fprintf(stderr,
                         "mail to %d recipients as delivered: %d of %d copies as sent (%d from "
                         "Tavrino, %d from smtplib); %s\n",
                         count, same, expected, fromTavrino, fromSmtplib,
                         lines.value(0).left(60).constData());
            good = false;
        }
        checked += same;
        const double a = Median(ours), b = Median(theirs);
        ratios.push_back(a / b);
        std::printf("%-10d %11.2f %11.2f %7.2f\n", count, a, b, a / b);
    }
    std::printf("delivered copies equal to the mail as sent: %d (both sides, headers Postfix adds "
                "left aside)\n",
                checked);
    std::printf("ratios library/smtplib: %.2f (1 recipient) %.2f (10) %.2f (50)\n", ratios[0],
                ratios[1], ratios[2]);
    if (!good)
        std::fprintf(stderr, "the mail as delivered differed\n");
    return good ? 0 : 1;
}
