#pragma once
// The local mail office the end-to-end tests run against: its ports from
// ports.env, and a small blocking POP3 client to look into a mailbox the way
// an independent client would.

#include <QtNetwork>

struct MailOffice
{
    QString dir;
    quint16 smtpPort = 0;
    quint16 pop3Port = 0;
    QString domain;

    static MailOffice fromEnvironment()
    {
        const QString dir = qEnvironmentVariable("TAV_MAILOFFICE_DIR");
        const QSettings env(dir + QStringLiteral("/ports.env"), QSettings::IniFormat);
        return {dir, quint16(env.value("SMTP_PORT").toUInt()),
                quint16(env.value("POP3_PORT").toUInt()), env.value("MAIL_DOMAIN").toString()};
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
        const QByteArray pass = password.isEmpty() ? "pass" + QByteArray::number(user) : password;
        m_ok = m_socket.waitForConnected(5000) && command({}).startsWith("+OK") &&
               command("USER user" + QByteArray::number(user)).startsWith("+OK") &&
               command("PASS " + pass).startsWith("+OK");
    }
    ~PopProbe()
    {
        if (m_ok)
            command("QUIT");
    }
    bool ok() const { return m_ok; }
    int count() { return command("STAT").split(' ').value(1, "-1").toInt(); }
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
