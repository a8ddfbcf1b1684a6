#pragma once
// Filling a benchmark mailbox with memos as the program sends them, through
// the office's SMTP port with Python's smtplib.

#include "BenchOffice.h"

#include <QDateTime>
#include <QTemporaryFile>

/// Sends the mails of a file of "LENGTH\n" + bytes records over one smtplib
/// connection, then waits until the mailbox holds TOTAL messages; prints
/// the count it saw.
inline const char *FillScript = R"(
import poplib, smtplib, ssl, sys, time
smtp_port, pop_port, sender, to, user, password, path, total = sys.argv[1:9]
ca = sys.argv[9] if len(sys.argv) > 9 else None
context = ssl.create_default_context(cafile=ca) if ca else None
data = open(path, 'rb').read()
mails, pos = [], 0
while pos < len(data):
    nl = data.index(b'\n', pos)
    size = int(data[pos:nl])
    mails.append(data[nl + 1:nl + 1 + size])
    pos = nl + 1 + size
s = smtplib.SMTP('127.0.0.1', int(smtp_port), local_hostname='localhost')
if ca:
    s.starttls(context=context)
    s.login('user1', 'pass1')
for m in mails:
    s.sendmail(sender, [to], m)
s.quit()
deadline = time.time() + 240
while True:
    p = poplib.POP3('127.0.0.1', int(pop_port))
    if ca:
        p.stls(context=context)
    p.user(user); p.pass_(password)
    n = p.stat()[0]
    p.quit()
    if n >= int(total) or time.time() > deadline:
        break
    time.sleep(0.5)
print(n)
)";

/// Delivers the mails to mailbox user<user> over one SMTP connection, waits until
/// it holds `total` messages and the queue is empty.
inline bool Fill(const BenchOffice &office, int user, const QList<QByteArray> &mails, int total)
{
    QTemporaryFile file;
    if (!file.open())
        return false;
    for (const QByteArray &mail : mails)
        file.write(QByteArray::number(mail.size()) + '\n' + mail);
    file.flush();
    const QString login = QStringLiteral("user%1").arg(user);
    QStringList args{QString::number(office.smtpPort()),
                     QString::number(office.pop3Port()),
                     office.sender().UserID + QLatin1Char('@') + office.domain(),
                     login + QLatin1Char('@') + office.domain(),
                     login,
                     QStringLiteral("pass%1").arg(user),
                     file.fileName(),
                     QString::number(total)};
    // An office in its TLS mode takes mail and logins only inside TLS.
    if (!office.caFile().isEmpty())
        args.append(office.caFile());
    const QByteArray seen = BenchOffice::python(QString::fromLatin1(FillScript), args);
    if (seen.trimmed().toInt() != total) {
        std::fprintf(stderr, "mailbox %s holds %s messages, not %d\n", qPrintable(login),
                     seen.trimmed().constData(), total);
        return false;
    }
    return office.waitQueueEmpty(60000);
}

/// Distinct memos to user<user>, numbered from .. to - 1, as the program sends them.
inline QList<QByteArray> KnownMemos(const BenchOffice &office, int user, int from, int to)
{
    const QString address = QStringLiteral("user%1@").arg(user) + office.domain();
    const QDateTime base(QDate(2024, 4, 1), QTime(9, 0));
    QList<QByteArray> mails;
    for (int i = from; i < to; ++i) {
        const QString n = QString::number(i).rightJustified(5, QLatin1Char('0'));
        const MemoValues memo =
            BuildMemoMail(QChar(u'0' + i % 4), i % 3 == 0, QStringLiteral("ACME 商事 ") + n,
                          QStringLiteral("担当者 ") + n,
                          QStringLiteral("折り返しお願いします。\r\n内線") + n +
                              QStringLiteral("まで\r\n") + QString(20, QChar(0x3042)),
                          {address}, office.sender(), base.addSecs(60 * i));
        mails.append(SmtpWireText(memo.MemoBody.toLatin1()));
    }
    return mails;
}
