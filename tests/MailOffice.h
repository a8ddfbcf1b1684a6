#pragma once
// The local mail office the end-to-end tests run against: its ports from
// ports.env, and small blocking helpers to submit mail and look into a
// mailbox the way an independent client would.

#include <QFile>
#include <QHash>
#include <QTcpSocket>
#include <QTest>

struct MailOffice
{
    QString dir;
    quint16 smtpPort = 0;
    quint16 pop3Port = 0;
    QString domain;

    static MailOffice fromEnvironment()
    {
        MailOffice office;
        office.dir = qEnvironmentVariable("TAV_MAILOFFICE_DIR");
        QFile env(office.dir + QStringLiteral("/ports.env"));
        if (!env.open(QIODevice::ReadOnly))
            return office;
        QHash<QByteArray, QByteArray> values;
        for (const QByteArray &line : env.readAll().split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                values.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
        }
        office.smtpPort = quint16(values.value("SMTP_PORT").toUInt());
        office.pop3Port = quint16(values.value("POP3_PORT").toUInt());
        office.domain = QString::fromLatin1(values.value("MAIL_DOMAIN"));
        return office;
    }
    bool isUp() const { return smtpPort != 0 && pop3Port != 0; }
    QString address(int user) const { return QStringLiteral("user%1@").arg(user) + domain; }
};

/// A minimal blocking POP3 client for checking mailboxes from the outside.
class PopProbe
{
public:
    PopProbe(const MailOffice &office, int user)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), office.pop3Port);
        m_ok = m_socket.waitForConnected(5000) && line().startsWith("+OK") &&
               command("USER user" + QByteArray::number(user)).startsWith("+OK") &&
               command("PASS pass" + QByteArray::number(user)).startsWith("+OK");
    }
    ~PopProbe()
    {
        if (m_ok)
            command("QUIT");
    }
    bool ok() const { return m_ok; }

    int count()
    {
        const QList<QByteArray> parts = command("STAT").split(' ');
        return parts.size() >= 2 ? parts[1].toInt() : -1;
    }
    QByteArray retrieve(int n)
    {
        QByteArray answer = command("RETR " + QByteArray::number(n)) + "\r\n";
        answer += m_socket.readAll();
        while (!answer.endsWith("\r\n.\r\n") && m_socket.waitForReadyRead(5000))
            answer += m_socket.readAll();
        return answer;
    }
    void deleteAll()
    {
        const int n = count();
        for (int i = 1; i <= n; ++i)
            command("DELE " + QByteArray::number(i));
    }

private:
    QByteArray line()
    {
        while (!m_socket.canReadLine() && m_socket.waitForReadyRead(5000)) {
        }
        QByteArray l = m_socket.readLine();
        if (l.endsWith("\r\n"))
            l.chop(2);
        return l;
    }
    QByteArray command(const QByteArray &text)
    {
        m_socket.write(text + "\r\n");
        m_socket.waitForBytesWritten(5000);
        return line();
    }

    QTcpSocket m_socket;
    bool m_ok = false;
};

/// Empties a mailbox; the deletions take effect at the probe's QUIT.
inline void EmptyMailbox(const MailOffice &office, int user)
{
    PopProbe probe(office, user);
    probe.deleteAll();
}
