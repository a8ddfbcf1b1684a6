#pragma once
// The local mail office the end-to-end tests run against: its ports from
// ports.env, and a small blocking POP3 client to look into a mailbox the way
// an independent client would.

#include <QFile>
#include <QHash>
#include <QTcpSocket>

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
        QHash<QByteArray, QByteArray> values;
        if (env.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : env.readAll().split('\n')) {
                if (const qsizetype eq = line.indexOf('='); eq > 0)
                    values.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
            }
        }
        office.smtpPort = quint16(values.value("SMTP_PORT").toUInt());
        office.pop3Port = quint16(values.value("POP3_PORT").toUInt());
        office.domain = QString::fromLatin1(values.value("MAIL_DOMAIN"));
        return office;
    }
    bool isUp() const { return smtpPort != 0 && pop3Port != 0; }
    QString address(int user) const { return QStringLiteral("user%1@").arg(user) + domain; }
};

/// A minimal blocking POP3 client for checking mailboxes from the outside;
/// its deletions take effect at its QUIT, when it goes.
class PopProbe
{
public:
    PopProbe(const MailOffice &office, int user, const QByteArray &password = {})
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), office.pop3Port);
        m_ok =
            m_socket.waitForConnected(5000) && command({}).startsWith("+OK") &&
            command("USER user" + QByteArray::number(user)).startsWith("+OK") &&
            command("PASS " + (password.isEmpty() ? "pass" + QByteArray::number(user) : password))
                .startsWith("+OK");
    }
    bool ok() const { return m_ok; }
    ~PopProbe()
    {
        if (m_ok)
            command("QUIT");
    }

    int count()
    {
        const QList<QByteArray> parts = command("STAT").split(' ');
        return parts.size() >= 2 ? parts[1].toInt() : -1;
    }
    /// Sends a command (none when empty) and returns the reply line.
    QByteArray command(const QByteArray &text)
    {
        if (!text.isEmpty()) {
            m_socket.write(text + "\r\n");
            m_socket.waitForBytesWritten(5000);
        }
        while (!m_socket.canReadLine() && m_socket.waitForReadyRead(5000)) {
        }
        return m_socket.readLine().trimmed();
    }

private:
    QTcpSocket m_socket;
    bool m_ok = false;
};

inline void EmptyMailbox(const MailOffice &office, int user)
{
    PopProbe probe(office, user);
    for (int i = probe.count(); i >= 1; --i)
        probe.command("DELE " + QByteArray::number(i));
}
