#pragma once
// A private local mail office for a benchmark run: started from the
// project's scripts in a temporary folder and stopped at the end.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QString>
#include <QThread>

#include "MemoMail.h"
#include "SmtpSend.h"

#include <algorithm>
#include <cstdio>
#include <vector>

class BenchOffice
{
public:
    /// With tls, the office in its TLS mode: STLS, STARTTLS and AUTH required.
    /// With oauth too, an authorization server beside it, and the POP3 server
    /// takes its tokens by the mechanisms named ("xoauth2"; "all": every one
    /// the office has).
    explicit BenchOffice(bool tls = false, const QString &oauth = QString())
    {
        m_dir = QStringLiteral("/tmp/tavbench%1-%2")
                    .arg(!oauth.isEmpty() ? QStringLiteral("o")
                         : tls            ? QStringLiteral("t")
                                          : QString())
                    .arg(QCoreApplication::applicationPid());
        QStringList args{m_dir};
        if (oauth == QLatin1String("all"))
            args.prepend(QStringLiteral("--oauth"));
        else if (!oauth.isEmpty())
            args.prepend(QStringLiteral("--oauth=") + oauth);
        else if (tls)
            args.prepend(QStringLiteral("--tls"));
        QProcess start;
        start.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start.start(script("mailoffice-start.sh"), args);
        m_up = start.waitForFinished(120000) && start.exitCode() == 0;
        QFile env(m_dir + QStringLiteral("/ports.env"));
        if (m_up && env.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : env.readAll().split('\n')) {
                const qsizetype equals = line.indexOf('=');
                if (equals <= 0)
                    continue;
                QByteArray text = line.mid(equals + 1).trimmed();
                if (text.size() >= 2 && (text.startsWith('"') || text.startsWith('\'')) &&
                    text.endsWith(text.front()))
                    text = text.mid(1, text.size() - 2);
                m_env.insert(QString::fromLatin1(line.left(equals).trimmed()),
                             QString::fromLocal8Bit(text));
            }
            m_smtpPort = value("SMTP_PORT").toUShort();
            m_pop3Port = value("POP3_PORT").toUShort();
            m_domain = value("MAIL_DOMAIN");
            m_caFile = value("CA_FILE");
        }
    }
    ~BenchOffice()
    {
        QProcess::execute(script("mailoffice-stop.sh"), {m_dir});
        QDir(m_dir).removeRecursively();
    }
    bool isUp() const { return m_up && m_smtpPort && m_pop3Port; }

    /// The office is up; otherwise says so. Output goes out unbuffered.
    bool ready() const
    {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        if (!isUp())
            std::fprintf(stderr, "the local mail office did not start\n");
        return isUp();
    }

    /// The memo sender used by the benchmarks: user1 of the office's domain.
    MemoSender sender() const
    {
        return {QStringLiteral("総務部"), QStringLiteral("user1"), m_domain};
    }
    QString dir() const { return m_dir; }
    quint16 smtpPort() const { return m_smtpPort; }
    quint16 pop3Port() const { return m_pop3Port; }
    QString domain() const { return m_domain; }
    /// The office's certificate authority; empty in the plain mode.
    QString caFile() const { return m_caFile; }
    /// A value of the office's ports.env (OAUTH_TOKEN_URL, ...); empty when
    /// it has none.
    QString value(const char *key) const { return m_env.value(QLatin1String(key)); }

    /// Runs a python3 script with arguments; returns its standard output.
    static QByteArray python(const QString &code, const QStringList &args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), code} + args);
        p.waitForFinished(600000);
        return p.readAllStandardOutput();
    }

    /// Waits until Postfix's queue holds no message (every mail delivered).
    bool waitQueueEmpty(int timeoutMs) const
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (true) {
            bool empty = true;
            for (const char *queue : {"maildrop", "incoming", "active", "deferred"}) {
                QDirIterator it(m_dir + QStringLiteral("/spool/") + QLatin1String(queue),
                                QDir::Files, QDirIterator::Subdirectories);
                if (it.hasNext())
                    empty = false;
            }
            if (empty)
                return true;
            if (deadline.hasExpired())
                return false;
            QThread::msleep(5);
        }
    }

private:
    static QString script(const char *name)
    {
        return QStringLiteral(TAV_SOURCE_DIR "/scripts/") + QLatin1String(name);
    }

    QString m_dir;
    bool m_up = false;
    quint16 m_smtpPort = 0;
    quint16 m_pop3Port = 0;
    QString m_domain;
    QString m_caFile;
    QHash<QString, QString> m_env;
};

/// A helper process spoken to in lines: one request line in, one reply line out.
class LineChild
{
public:
    LineChild(const QString &program, const QStringList &args)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, args);
        m_process.waitForStarted(10000);
    }
    ~LineChild()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(30000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    /// The next line the child writes, without its line break; empty when
    /// none came within timeoutMs or the child ended.
    QByteArray readLine(int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine()) {
            const int left = int(qMax<qint64>(1, deadline.remainingTime()));
            if (deadline.hasExpired() || !m_process.waitForReadyRead(left)) {
                if (m_process.canReadLine())
                    break;
                return {}; // timed out, or the child ended
            }
        }
        return m_process.readLine().trimmed();
    }
    QByteArray ask(const QByteArray &line, int timeoutMs)
    {
        m_process.write(line + '\n');
        m_process.waitForBytesWritten(timeoutMs);
        return readLine(timeoutMs);
    }

private:
    QProcess m_process;
};

/// The arguments that make python3 run code with args.
inline QStringList PythonArgs(const char *code, const QStringList &args)
{
    return QStringList{QStringLiteral("-c"), QString::fromLatin1(code)} + args;
}

/// The mail text to hand to smtplib so that it puts on the wire exactly the
/// bytes SmtpSend sends: SmtpDataBlock without its end of data and with the
/// dot-stuffing undone (smtplib stuffs again and ends the data itself).
inline QByteArray SmtpWireText(const QByteArray &mailText)
{
    const QByteArray block = SmtpDataBlock(mailText);
    const QByteArray stuffed = block.left(block.size() - 3); // without ".\r\n"
    QByteArray out;
    out.reserve(stuffed.size());
    for (qsizetype line = 0; line < stuffed.size();) {
        qsizetype next = stuffed.indexOf("\r\n", line);
        next = next < 0 ? stuffed.size() : next + 2;
        const qsizetype from = stuffed.at(line) == '.' ? line + 1 : line;
        out.append(stuffed.constData() + from, next - from);
        line = next;
    }
    return out;
}

/// The median of the figures (the mean of the middle two for an even count).
inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}
