#pragma once
// Helpers for the window tests: a catcher for message boxes, a small POP3
// server that answers like a real one, and components that record calls.

#include "Components.h"
#include "MemoMail.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

struct SeenBox
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
};

/// Watches for message boxes, modal or not, records each once and (unless
/// told otherwise) presses its OK button.
class BoxCatcher : public QObject
{
public:
    explicit BoxCatcher(bool dismiss = true) : m_dismiss(dismiss)
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxCatcher::poll);
        m_timer.start(10);
    }

    QList<SeenBox> boxes;
    void setDismiss(bool dismiss) { m_dismiss = dismiss; }

    /// Boxes visible right now.
    static QList<QMessageBox *> openBoxes()
    {
        QList<QMessageBox *> open;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                open.append(box);
        }
        return open;
    }

private:
    void poll()
    {
        for (QMessageBox *box : openBoxes()) {
            if (!m_seen.contains(box)) {
                m_seen.append(box);
                boxes.append({box->icon(), box->windowTitle(), box->text()});
            }
            if (m_dismiss) {
                if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                    ok->click();
            }
        }
        m_seen.removeAll(QPointer<QMessageBox>());
    }

    QTimer m_timer;
    bool m_dismiss = true;
    QList<QPointer<QMessageBox>> m_seen;
};

/// A POP3 server on a free loopback port holding a mailbox of messages.
/// Silent, it accepts connections and never greets.
class FakePop3 : public QObject
{
public:
    QList<QByteArray> mailbox; ///< whole messages, lines ending in CR LF
    QStringList commands;      ///< every command received, in order
    bool silent = false;
    QByteArray holdVerb; ///< a command left unanswered until release()

    FakePop3() { m_server.listen(QHostAddress::LocalHost); }
    QString port() const { return QString::number(m_server.serverPort()); }
    int connections() const { return m_connections; }

    void start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++m_connections;
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                if (!silent)
                    socket->write("+OK fake POP3 ready\r\n");
            }
        });
    }

    /// Answers the held command and goes on serving.
    void release()
    {
        holdVerb.clear();
        if (m_held) {
            m_held->write("+OK\r\n");
            serve(m_held);
        }
    }

private:
    void serve(QTcpSocket *socket)
    {
        while (socket->canReadLine() && holdVerb != "*") {
            const QByteArray line = socket->readLine().trimmed();
            commands.append(QString::fromLatin1(line));
            const QByteArray verb = line.split(' ').value(0).toUpper();
            if (!holdVerb.isEmpty() && verb == holdVerb) {
                m_held = socket;
                holdVerb = "*"; // nothing more until released
                return;
            }
            const int number = line.split(' ').value(1).toInt();
            if (verb == "STAT") {
                socket->write("+OK " + QByteArray::number(mailbox.size()) + " 100\r\n");
            } else if (verb == "RETR" && number >= 1 && number <= mailbox.size()) {
                socket->write("+OK message follows\r\n" + mailbox.at(number - 1) + ".\r\n");
            } else if (verb == "DELE") {
                socket->write("+OK marked\r\n");
            } else if (verb == "QUIT") {
                socket->write("+OK bye\r\n");
                socket->disconnectFromHost();
                return;
            } else {
                socket->write("+OK\r\n");
            }
        }
    }

    QTcpServer m_server;
    QPointer<QTcpSocket> m_held;
    int m_connections = 0;
};

/// A memo mail as the program sends it, with the Message-ID the mail office
/// adds on the way.
inline QByteArray MemoMailText(QChar kind, bool sealed, const QString &department,
                               const QString &caller, const QString &text, const QString &messageId)
{
    const MemoSender sender{QStringLiteral("佐藤"), QStringLiteral("sato"),
                            QStringLiteral("example.jp")};
    const MemoValues memo =
        BuildMemoMail(kind, sealed, department, caller, text, {QStringLiteral("user1@example.jp")},
                      sender, QDateTime(QDate(2024, 3, 5), QTime(9, 7)));
    QByteArray mail = memo.MemoBody.toLatin1();
    if (!mail.endsWith("\r\n"))
        mail += "\r\n";
    return "Message-ID: " + messageId.toLatin1() + "\r\n" + mail;
}

/// Components that count calls instead of opening windows.
class FakeComponents : public ComponentHost, public ITavOptions, public ITavReply
{
public:
    bool available = true;
    int settingCalls = 0;
    QStringList replies; ///< "address|name|text" per call

    ITavOptions *options(QString *error) override
    {
        if (!available)
            *error = QStringLiteral("plugin missing");
        return available ? this : nullptr;
    }
    ITavReply *reply(QString *error) override
    {
        if (!available)
            *error = QStringLiteral("plugin missing");
        return available ? this : nullptr;
    }
    int ShowAbout() override { return 0; }
    int ShowSetting() override
    {
        ++settingCalls;
        return 0;
    }
    int ShowReply(const QString &address, const QString &name, const QString &text) override
    {
        replies.append(address + QLatin1Char('|') + name + QLatin1Char('|') + text);
        return 0;
    }
};
