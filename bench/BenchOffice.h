#pragma once
// A private local mail office for a benchmark run: started from the
// project's scripts in a temporary folder and stopped at the end.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

#include "MemoMail.h"

#include <cstdio>

class BenchOffice
{
public:
    BenchOffice()
    {
        m_dir = QStringLiteral("/tmp/tavbench-%1").arg(QCoreApplication::applicationPid());
        QProcess start;
        start.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start.start(script("mailoffice-start.sh"), {m_dir});
        m_up = start.waitForFinished(120000) && start.exitCode() == 0;
        QFile env(m_dir + QStringLiteral("/ports.env"));
        if (m_up && env.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : env.readAll().split('\n')) {
                if (line.startsWith("SMTP_PORT="))
                    m_smtpPort = line.mid(10).trimmed().toUShort();
                else if (line.startsWith("POP3_PORT="))
                    m_pop3Port = line.mid(10).trimmed().toUShort();
                else if (line.startsWith("MAIL_DOMAIN="))
                    m_domain = QString::fromLatin1(line.mid(12).trimmed());
            }
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
    quint16 smtpPort() const { return m_smtpPort; }
    quint16 pop3Port() const { return m_pop3Port; }
    QString domain() const { return m_domain; }

    /// Runs a python3 script with arguments; returns its standard output.
    static QByteArray python(const QString &code, const QStringList &args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), code} + args);
        p.waitForFinished(600000);
        return p.readAllStandardOutput();
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
};
