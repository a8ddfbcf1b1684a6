// Two desks in one process on the real local mail office: desk A (user1)
// sends memos through its form; desk B (user2) pops them up, deletes one in
// its viewer and ends its session with QUIT when it closes.

#include "Cp932.h"
#include "MailCheck.h"
#include "MailOffice.h"
#include "Messages.h"
#include "frmMessage.h"
#include "frmTavrino.h"
#include "tst_sendhelpers.h"
#include "tst_windowhelpers.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

template <class T> T *Child(const QWidget *w, const char *name)
{
    T *found = w->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

QString Text(const QWidget *w, const char *name)
{
    if (auto *edit = w->findChild<QLineEdit *>(QString::fromLatin1(name)))
        return edit->text();
    if (auto *plain = w->findChild<QPlainTextEdit *>(QString::fromLatin1(name)))
        return plain->toPlainText();
    return Child<QLabel>(w, name)->text();
}

struct Desk
{
    QTemporaryDir folder;
    std::unique_ptr<MailCheck> check;
    std::unique_ptr<frmTavrino> window;
    int announced = 0;
};

/// Dovecot's log: for each POP3 session of a user since offset, how it ended
/// ("" while still open).
QHash<QString, QString> Pop3Sessions(const MailOffice &office, qint64 offset, const QString &user)
{
    QFile log(office.dir + QStringLiteral("/log/dovecot.log"));
    QHash<QString, QString> sessions;
    if (!log.open(QIODevice::ReadOnly) || !log.seek(offset))
        return sessions;
    const QRegularExpression login(QStringLiteral("Login: user=<%1@.*session=<([^>]+)>").arg(user));
    const QRegularExpression end(
        QStringLiteral("pop3\\(%1@[^)]*\\)<\\d+><([^>]+)>: .*Disconnected: ([^ ]+ [^ ]+)")
            .arg(user));
    for (const QByteArray &line : log.readAll().split('\n')) {
        const QString l = QString::fromUtf8(line);
        if (const auto m = login.match(l); m.hasMatch())
            sessions.insert(m.captured(1), QString());
        else if (const auto e = end.match(l); e.hasMatch())
            sessions.insert(e.captured(1), e.captured(2));
    }
    return sessions;
}

} // namespace

/// Runs a helper that may fail, and stops the test function when it did.
#define CHECKED(call)                                                                              \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class TestE2eDesks : public QObject
{
    Q_OBJECT

    MailOffice m_office;
    QTemporaryDir m_shared;
    FakeComponents m_components;
    std::unique_ptr<Desk> m_a;
    std::unique_ptr<Desk> m_b;
    BoxCatcher m_boxes;
    qint64 m_logOffset = 0;

    std::unique_ptr<Desk> openDesk(int user, const QString &name, const QString &interval)
    {
        auto desk = std::make_unique<Desk>();
        Settings s = Settings::ForFolder(desk->folder.path());
        s.UserName = name;
        s.UserID = QStringLiteral("user%1").arg(user);
        s.Password = QStringLiteral("pass%1").arg(user);
        s.Domain = m_office.domain;
        s.Pop3Server = s.SmtpServer = QStringLiteral("127.0.0.1");
        s.Pop3Port = QString::number(m_office.pop3Port);
        s.SmtpPort = QString::number(m_office.smtpPort);
        s.List = m_shared.filePath(QStringLiteral("members.lst"));
        s.Interval = interval;
        s.Sleep = QStringLiteral("0");
        desk->check = std::make_unique<MailCheck>(s.pop3(), s.Interval);
        desk->window = std::make_unique<frmTavrino>(s, desk->check.get(), &m_components);
        Desk *d = desk.get();
        connect(d->check.get(), &MailCheck::newMemo, this, [d] { ++d->announced; });
        if (!desk->window->Load())
            qFatal("desk not configured");
        desk->window->show();
        return desk;
    }

    /// Desk A sends a memo to the members in rows, as a user would.
    void send(const QList<int> &rows, int kind, bool sealed, const QString &org,
              const QString &caller, const QString &text)
    {
        const QWidget *w = m_a->window.get();
        auto *button = Child<QToolButton>(w, "cmdButton0");
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 15000);
        for (int row : rows)
            Child<QListWidget>(w, "lstMemberName")->item(row)->setSelected(true);
        Child<QLineEdit>(w, "txtDepartment")->setText(org);
        Child<QLineEdit>(w, "txtCaller")->setText(caller);
        Child<QPlainTextEdit>(w, "txtMessage")->setPlainText(text);
        if (kind >= 0)
            w->findChild<QRadioButton *>(QStringLiteral("optMessage%1").arg(kind))
                ->setChecked(true);
        Child<QCheckBox>(w, "chkCover")->setChecked(sealed);
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "txtMessage").isEmpty(), 15000); // the form reset
        QCOMPARE(Text(w, "sbrMsgPanel2"), Msg::MessageSent);
    }

    /// The one message file in a user's Maildir.
    QByteArray storedMail(int user) const
    {
        const QString box =
            m_office.dir + QStringLiteral("/mail/%1/user%2/").arg(m_office.domain).arg(user);
        QStringList files;
        for (const char *sub : {"new", "cur"}) {
            for (const QFileInfo &f : QDir(box + QLatin1String(sub)).entryInfoList(QDir::Files))
                files.append(f.filePath());
        }
        if (files.size() != 1)
            return QByteArray("files: ") + files.join(QLatin1Char(' ')).toUtf8();
        QFile file(files.first());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    /// Waits for desk B's next complete check.
    void nextCheckOfB()
    {
        QSignalSpy ended(m_b->check.get(), &MailCheck::checkEnded);
        QVERIFY(ended.wait(15000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_office = MailOffice::fromEnvironment();
        QVERIFY2(m_office.isUp(), "the local mail office is not running");
        m_logOffset = QFileInfo(m_office.dir + QStringLiteral("/log/dovecot.log")).size();
        for (int user = 1; user <= 3; ++user)
            EmptyMailbox(m_office, user);
        QFile list(m_shared.filePath(QStringLiteral("members.lst")));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write(
            Cp932::Encode(QStringLiteral("総務部;%1\r\n---;\r\n鈴木;%2\r\n田中;%3\r\n")
                              .arg(m_office.address(1), m_office.address(2), m_office.address(3))));
        list.close();
        m_a = openDesk(1, QStringLiteral("総務部"), QStringLiteral("300")); // A only sends
        m_b = openDesk(2, QStringLiteral("鈴木"), QStringLiteral("1"));
    }

    void cleanupTestCase()
    {
        m_b.reset();
        m_a.reset();
    }

    void workedExampleArrives()
    {
        CHECKED(send({2, 3}, 0, false, QStringLiteral("営業部"), QStringLiteral("担当者"),
                     QStringLiteral("折り返しお願いします。\n内線123まで")));
        QTRY_COMPARE_WITH_TIMEOUT(m_b->window->viewers().size(), 1, 20000);
        QCOMPARE(m_b->announced, 1);
        QTRY_COMPARE_WITH_TIMEOUT(PopProbe(m_office, 3).count(), 1, 10000);

        // The stored mail holds the program's header lines and body byte for
        // byte, Maildir's LF line ends aside; the servers add their own headers
        // (Message-Id and Date right after the program's).
        const QByteArray stored = storedMail(2);
        const QDateTime sentAt = SubjectTime(stored);
        QVERIFY2(sentAt.isValid(), stored.constData());
        const MemoValues built = BuildMemoMail(
            '0', false, QStringLiteral("営業部"), QStringLiteral("担当者"),
            QStringLiteral("折り返しお願いします。\r\n内線123まで"),
            {m_office.address(2), m_office.address(3)},
            {QStringLiteral("総務部"), QStringLiteral("user1"), m_office.domain}, sentAt);
        const QByteArray mine =
            QByteArray(built.MemoBody.toLatin1() + "\r\n\r\n").replace("\r\n", "\n");
        const qsizetype split = mine.indexOf("\n\n") + 1; // header lines | empty line, body
        QVERIFY2(stored.contains(QByteArray("\n" + mine.left(split))), stored.constData());
        QCOMPARE(stored.mid(stored.indexOf("\n\n") + 1), mine.mid(split));
        const QString head = QString::fromLatin1(stored.left(stored.indexOf("\n\n") + 1));
        const auto caseless = QRegularExpression::CaseInsensitiveOption;
        QVERIFY(head.contains(QRegularExpression(QStringLiteral("\nDate: "), caseless)));
        const QRegularExpressionMatch id =
            QRegularExpression(QStringLiteral("\nMessage-ID: *(\\S+)"), caseless).match(head);
        QVERIFY(id.hasMatch());

        // Desk B shows it.
        const frmMessage *v = m_b->window->viewers().first();
        QVERIFY(v->isVisible());
        QCOMPARE(Text(v, "txtSummary"), QStringLiteral(" お電話ください。"));
        QCOMPARE(Child<QGroupBox>(v, "frameTitle")->title(),
                 sentAt.toString(QStringLiteral("MM/dd HH:mm")));
        QCOMPARE(Text(v, "txtDepartment"), QStringLiteral(" 営業部"));
        QCOMPARE(Text(v, "txtCaller"), QStringLiteral(" 担当者"));
        QCOMPARE(Text(v, "txtMessage"), QStringLiteral("折り返しお願いします。\n内線123まで\n"));
        QVERIFY(!Child<QPushButton>(v, "cmdCover")->isVisible());
        QCOMPARE(Text(v, "lblSender"), QStringLiteral("総務部"));
        QCOMPARE(Text(v, "lblSenderID"), m_office.address(1));
        QCOMPARE(Text(v, "sbrMsgPanel1"), QStringLiteral("鈴木"));
        QCOMPARE(Text(v, "sbrMsgPanel2"), id.captured(1));

        // The next checks announce none again.
        CHECKED(nextCheckOfB());
        CHECKED(nextCheckOfB());
        QCOMPARE(m_b->announced, 1);
        QCOMPARE(m_b->window->viewers().size(), 1);
    }

    void deleteInTheViewer()
    {
        QPointer<frmMessage> v = m_b->window->viewers().value(0);
        QVERIFY(v);
        auto *del = Child<QToolButton>(v.data(), "cmdButton0");
        // The button follows the session: usable once B's check is idle.
        QTRY_VERIFY_WITH_TIMEOUT((v->RefreshDeleteButton(), del->isEnabled()), 15000);
        QTest::mouseClick(del, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!v, 15000);
        CHECKED(nextCheckOfB()); // its QUIT makes the deletion take effect
        QCOMPARE(PopProbe(m_office, 2).count(), 0);
        QCOMPARE(m_b->check->currentBox().size(), 0);
        QCOMPARE(PopProbe(m_office, 3).count(), 1); // C's copy is untouched
    }

    void katakanaDotLineAndSeal()
    {
        CHECKED(send({2}, 3, false, QStringLiteral("ｶﾞｽ"), QStringLiteral("ﾀﾅｶ"),
                     QStringLiteral("ｶﾞｽ点検\n.終わり\n.")));
        CHECKED(send({2}, -1, true, QStringLiteral("ACME"), QStringLiteral("Bob"),
                     QStringLiteral("秘密")));
        QTRY_COMPARE_WITH_TIMEOUT(m_b->window->viewers().size(), 2, 20000);
        QCOMPARE(m_b->announced, 3);
        const QList<frmMessage *> viewers = m_b->window->viewers();
        const bool firstSealed = Child<QPushButton>(viewers[0], "cmdCover")->isVisible();
        const frmMessage *open = viewers[firstSealed ? 1 : 0];
        frmMessage *sealed = viewers[firstSealed ? 0 : 1];

        QCOMPARE(Text(open, "txtSummary"), QStringLiteral(" 来訪されました。"));
        QCOMPARE(Text(open, "txtDepartment"), QStringLiteral(" カ゛ス"));
        QCOMPARE(Text(open, "txtCaller"), QStringLiteral(" タナカ"));
        QCOMPARE(Text(open, "txtMessage"), QStringLiteral("ガス点検\n.終わり\n.\n"));
        QVERIFY(!Child<QPushButton>(open, "cmdCover")->isVisible());

        // The sealed memo opens covered; a click uncovers it for good.
        auto *cover = Child<QPushButton>(sealed, "cmdCover");
        QVERIFY(cover->isVisible());
        QVERIFY(cover->geometry().contains(sealed->rect()));
        QCOMPARE(Text(sealed, "txtSummary"), QString()); // no kind chosen
        QCOMPARE(Text(sealed, "txtCaller"), QStringLiteral(" Bob"));
        QCOMPARE(Text(sealed, "txtMessage"), QStringLiteral("秘密\n"));
        QTest::mouseClick(cover, Qt::LeftButton);
        QVERIFY(!cover->isVisible());
    }

    void closingDeskBSendsQuit()
    {
        // Right after a check, B's session is logged in and idle.
        CHECKED(nextCheckOfB());
        const qint64 atClose = QFileInfo(m_office.dir + QStringLiteral("/log/dovecot.log")).size();
        m_b->window->close();
        // The session open at the close ended; every session of user2 since
        // the start (B's and the probes') ended with QUIT: a clean logout.
        QTRY_VERIFY_WITH_TIMEOUT(
            !Pop3Sessions(m_office, atClose, QStringLiteral("user2")).isEmpty(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!Pop3Sessions(m_office, m_logOffset, QStringLiteral("user2"))
                                      .values()
                                      .contains(QString()),
                                 10000);
        for (const QString &end : Pop3Sessions(m_office, m_logOffset, QStringLiteral("user2")))
            QCOMPARE(end, QStringLiteral("Logged out"));
        QCOMPARE(m_boxes.boxes.size(), 0);
    }
};

QTEST_MAIN(TestE2eDesks)
#include "tst_e2e_desks.moc"
