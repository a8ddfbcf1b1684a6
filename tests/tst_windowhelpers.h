#pragma once
// Helpers for the window tests: controls by name, desks, a catcher for message
// boxes, a small POP3 server, memo mails and components that record calls.

#include "Components.h"
#include "Cp932.h"
#include "MailCheck.h"
#include "MemoMail.h"
#include "Settings.h"
#include "frmTavrino.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

template <class T> T *Child(const QWidget *w, const QString &name)
{
    T *found = w->findChild<T *>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

/// The text a control shows: a field, a text box, a frame's title or a label.
inline QString Text(const QWidget *w, const QString &name)
{
    if (auto *edit = w->findChild<QLineEdit *>(name))
        return edit->text();
    if (auto *plain = w->findChild<QPlainTextEdit *>(name))
        return plain->toPlainText();
    if (auto *frame = w->findChild<QGroupBox *>(name))
        return frame->title();
    return Child<QLabel>(w, name)->text();
}

/// What a viewer shows: kind sentence, organisation, caller, text, sender,
/// sender's address, user and Message-ID, joined by "|".
inline QString Shown(const QWidget *viewer)
{
    QStringList parts;
    for (const char *name : {"txtSummary", "txtDepartment", "txtCaller", "txtMessage", "lblSender",
                             "lblSenderID", "sbrMsgPanel1", "sbrMsgPanel2"})
        parts.append(Text(viewer, QString::fromLatin1(name)));
    return parts.join(QLatin1Char('|'));
}

/// Fills the main window's memo form; kind -1 chooses no option.
inline void FillMemo(QWidget *w, const QList<int> &rows, int kind, bool sealed, const QString &org,
                     const QString &caller, const QString &text)
{
    for (int row : rows)
        Child<QListWidget>(w, "lstMemberName")->item(row)->setSelected(true);
    Child<QLineEdit>(w, "txtDepartment")->setText(org);
    Child<QLineEdit>(w, "txtCaller")->setText(caller);
    Child<QPlainTextEdit>(w, "txtMessage")->setPlainText(text);
    if (kind >= 0)
        Child<QRadioButton>(w, QStringLiteral("optMessage%1").arg(kind))->setChecked(true);
    Child<QCheckBox>(w, "chkCover")->setChecked(sealed);
}

inline bool WriteFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

/// Four rows: two members, a separator, a member whose address has blanks.
inline QByteArray MemberListFile()
{
    return Cp932::Encode(QStringLiteral("佐藤;sato@example.jp\r\n---;\r\n"
                                        "鈴木; suzuki@example.jp \r\n田中;tanaka@example.jp\r\n"));
}

/// A loopback port nobody listens on.
inline quint16 RefusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

/// A desk of user1 at example.jp: a program folder holding the member list,
/// the settings, and once opened its mail check and main window.
struct Desk
{
    QTemporaryDir folder;
    Settings settings = Settings::ForFolder(folder.path());
    std::unique_ptr<MailCheck> check;
    std::unique_ptr<frmTavrino> window;

    explicit Desk(quint16 pop3Port, quint16 smtpPort = 0)
    {
        WriteFile(folder.filePath(QStringLiteral("members.lst")), MemberListFile());
        settings.UserName = QStringLiteral("総務部");
        settings.UserID = QStringLiteral("user1");
        settings.Password = QStringLiteral("pass1");
        settings.Domain = QStringLiteral("example.jp");
        settings.Pop3Server = settings.SmtpServer = QStringLiteral("127.0.0.1");
        settings.Pop3Port = QString::number(pop3Port);
        settings.SmtpPort = QString::number(smtpPort);
        settings.List = QStringLiteral("members.lst");
        settings.Interval = QStringLiteral("300");
        settings.Sleep = QStringLiteral("0");
    }

    /// A new mail check and main window for the settings; Load's answer.
    bool open(ComponentHost *components)
    {
        window.reset();
        check = std::make_unique<MailCheck>(settings.pop3(), settings.Interval);
        window = std::make_unique<frmTavrino>(settings, check.get(), components);
        return window->Load();
    }
};

struct SeenBox
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
};

/// Records every message box, modal or not, once and (while dismiss is set)
/// presses its OK button.
class BoxCatcher : public QObject
{
public:
    explicit BoxCatcher(bool dismiss = true) : dismiss(dismiss)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QMessageBox *box : openBoxes()) {
                if (!m_seen.contains(box)) {
                    m_seen.append(box);
                    m_since.append(QDateTime::currentMSecsSinceEpoch());
                    boxes.append({box->icon(), box->windowTitle(), box->text()});
                }
                const qint64 shown = m_since.at(m_seen.indexOf(box));
                if (QDateTime::currentMSecsSinceEpoch() - shown < holdMs)
                    continue;
                if (this->dismiss && box->button(QMessageBox::Ok))
                    box->button(QMessageBox::Ok)->click();
            }
        });
        m_timer.start(10);
    }

    QList<SeenBox> boxes;
    bool dismiss;
    int holdMs = 0; ///< how long a box stays before it is pressed

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
    QTimer m_timer;
    QList<QPointer<QMessageBox>> m_seen;
    QList<qint64> m_since;
};

/// A POP3 server on a free loopback port serving a mailbox; when silent, it
/// accepts connections and never greets.
class FakePop3 : public QObject
{
public:
    QList<QByteArray> mailbox; ///< whole messages, lines ending in CR LF
    QStringList commands;      ///< every command received, in order
    bool silent = false;

    FakePop3()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                if (!silent)
                    socket->write("+OK fake POP3 ready\r\n");
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int connections = 0;

private:
    void serve(QTcpSocket *socket)
    {
        while (socket->canReadLine()) {
            const QByteArray line = socket->readLine().trimmed();
            commands.append(QString::fromLatin1(line));
            const QByteArray verb = line.split(' ').value(0).toUpper();
            const int number = line.split(' ').value(1).toInt();
            if (verb == "STAT") {
                socket->write("+OK " + QByteArray::number(mailbox.size()) + " 100\r\n");
            } else if (verb == "RETR" && number >= 1 && number <= mailbox.size()) {
                socket->write("+OK message follows\r\n" + mailbox.at(number - 1) + ".\r\n");
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
};

/// A memo mail as the program sends it, with the Message-ID the mail office
/// adds on the way.
inline QByteArray MemoMailText(QChar kind, bool sealed, const QString &department,
                               const QString &caller, const QString &text, const QString &messageId)
{
    const MemoValues memo = BuildMemoMail(
        kind, sealed, department, caller, text, {QStringLiteral("user2@example.jp")},
        {QStringLiteral("佐藤"), QStringLiteral("sato"), QStringLiteral("example.jp")},
        QDateTime(QDate(2024, 3, 5), QTime(9, 7)));
    const QByteArray mail = memo.MemoBody.toLatin1();
    return "Message-ID: " + messageId.toLatin1() + "\r\n" + mail +
           (mail.endsWith("\r\n") ? "" : "\r\n");
}

/// Components that count calls instead of opening windows; unavailable, they
/// fail as a missing plugin does.
class FakeComponents : public ComponentHost, public ITavOptions, public ITavReply
{
public:
    bool available = true;
    int settingCalls = 0;
    QStringList replies; ///< "address|name|text" per call

    ITavOptions *options(QString *error) override { return get(error) ? this : nullptr; }
    ITavReply *reply(QString *error) override { return get(error) ? this : nullptr; }
    int ShowAbout() override { return 0; }
    int ShowSetting() override { return ++settingCalls; }
    int ShowReply(const QString &address, const QString &name, const QString &text) override
    {
        replies << address + u'|' + name + u'|' + text;
        return failReply ? 1 : 0;
    }
    QString LastError() const override { return QStringLiteral("window refused"); }
    bool failReply = false;

private:
    bool get(QString *error)
    {
        *error = available ? QString() : QStringLiteral("plugin missing");
        return available;
    }
};
