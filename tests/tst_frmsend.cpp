// The memo form's send button driving the whole SMTP dialogue against a
// scripted server: the transcript, the failures, the mail text on the wire,
// and the form, the buttons and the mail-check timer after every ending.

#include "Cp932.h"
#include "FakeServer.h"
#include "MailCheck.h"
#include "Messages.h"
#include "frmTavrino.h"
#include "tst_sendhelpers.h"
#include "tst_windowhelpers.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

const MemoSender Sender{QStringLiteral("総務部"), QStringLiteral("user1"),
                        QStringLiteral("example.jp")};

/// The server's side of the dialogue up to the reply to DATA.
FakeServer &ScriptUpToData(FakeServer &server, const QList<QByteArray> &rcpts)
{
    server.send("220 fake ESMTP").expect("HELO example.jp").send("250 fake");
    server.expect("MAIL FROM:<user1@example.jp>");
    for (const QByteArray &rcpt : rcpts)
        server.send("250 2.1.0 Ok").expect("RCPT TO:<" + rcpt + ">");
    return server.send("250 2.1.5 Ok").expect("DATA").send("354 End data with <CR><LF>.<CR><LF>");
}

/// Data lines of any content (compared afterwards), then the end of data.
void ExpectData(FakeServer &server, qsizetype mailLines)
{
    for (qsizetype i = 0; i < mailLines + 2; ++i)
        server.expect("(data)");
}

} // namespace

class TestFrmSend : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakePop3> m_pop3;
    FakeComponents m_components;
    std::unique_ptr<MailCheck> m_check;
    std::unique_ptr<frmTavrino> m_window;

    template <class T> T *child(const char *name) const
    {
        T *found = m_window->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QString panel2() const { return child<QLabel>("sbrMsgPanel2")->text(); }

    /// A desk whose first mail check (of an empty mailbox) has ended.
    void openDesk(quint16 smtpPort)
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile list(m_dir->filePath(QStringLiteral("members.lst")));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write(Cp932::Encode(
            QStringLiteral("佐藤;sato@example.jp\r\n---;\r\n"
                           "鈴木; suzuki@example.jp \r\n田中;tanaka@example.jp\r\n")));
        list.close();
        m_pop3 = std::make_unique<FakePop3>();
        m_pop3->start();
        Settings s = Settings::ForFolder(m_dir->path());
        s.UserName = Sender.UserName;
        s.UserID = Sender.UserID;
        s.Domain = Sender.Domain;
        s.Pop3Server = s.SmtpServer = QStringLiteral("127.0.0.1");
        s.Pop3Port = m_pop3->port();
        s.SmtpPort = QString::number(smtpPort);
        s.List = QStringLiteral("members.lst");
        s.Interval = QStringLiteral("300");
        m_check = std::make_unique<MailCheck>(s.pop3(), s.Interval);
        m_window = std::make_unique<frmTavrino>(s, m_check.get(), &m_components);
        QVERIFY(m_window->Load());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QTRY_VERIFY_WITH_TIMEOUT(child<QToolButton>("cmdButton0")->isEnabled(), 10000);
        QVERIFY(m_check->timer().isActive());
    }

    void clickRow(int row)
    {
        auto *list = child<QListWidget>("lstMemberName");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }

    /// Fills the memo form; kind -1 leaves every option clear.
    void fill(const QString &text, int kind, bool sealed)
    {
        child<QLineEdit>("txtDepartment")->setText(QStringLiteral("営業部"));
        child<QLineEdit>("txtCaller")->setText(QStringLiteral("担当者"));
        child<QPlainTextEdit>("txtMessage")->setPlainText(text);
        if (kind >= 0)
            m_window->findChild<QRadioButton *>(QStringLiteral("optMessage%1").arg(kind))
                ->setChecked(true);
        child<QCheckBox>("chkCover")->setChecked(sealed);
    }

    /// Presses send; while the dialogue runs, no check can start.
    void clickSend()
    {
        QTest::mouseClick(child<QToolButton>("cmdButton0"), Qt::LeftButton);
        QVERIFY(!m_check->timer().isActive());
        QVERIFY(!child<QToolButton>("cmdButton0")->isEnabled());
        QVERIFY(!child<QToolButton>("cmdButton1")->isEnabled());
    }

private Q_SLOTS:
    void cleanup()
    {
        m_window.reset();
        m_check.reset();
        m_pop3.reset();
        m_dir.reset();
    }

    void transcriptAndFormReset()
    {
        FakeServer server;
        openDesk(server.port());
        clickRow(3);
        clickRow(0); // chosen second, then first: sent in list order
        fill(QStringLiteral("折り返しお願いします。\n内線123まで"), 0, false);
        const auto build = [](const QDateTime &when) {
            return BuildMemoMail(
                '0', false, QStringLiteral("営業部"), QStringLiteral("担当者"),
                QStringLiteral("折り返しお願いします。\r\n内線123まで"),
                {QStringLiteral("sato@example.jp"), QStringLiteral("tanaka@example.jp")}, Sender,
                when);
        };
        ScriptUpToData(server, {"sato@example.jp", "tanaka@example.jp"});
        ExpectData(server, MailLines(build(QDateTime::currentDateTime())).size());
        server.send("250 2.0.0 Ok: queued").expect("QUIT").send("221 Bye").close();
        BoxCatcher boxes;
        clickSend();
        QTRY_VERIFY_WITH_TIMEOUT(server.done(), 10000);
        QTRY_COMPARE(panel2(), Msg::MessageSent);

        // The mail lines are those of the memo built for the time it carries.
        const QList<QByteArray> got = server.received();
        const QDateTime sentAt = SubjectTime(got.value(5));
        QVERIFY2(sentAt.isValid(), got.value(5).constData());
        QList<QByteArray> expected = {"HELO example.jp", "MAIL FROM:<user1@example.jp>",
                                      "RCPT TO:<sato@example.jp>", "RCPT TO:<tanaka@example.jp>",
                                      "DATA"};
        expected += MailLines(build(sentAt)) + QList<QByteArray>{"", ".", "QUIT"};
        QCOMPARE(got, expected);

        // The form is ready for the next memo.
        QCOMPARE(boxes.boxes.size(), 0);
        QVERIFY(child<QLineEdit>("txtDepartment")->text().isEmpty());
        QVERIFY(child<QLineEdit>("txtCaller")->text().isEmpty());
        QVERIFY(child<QPlainTextEdit>("txtMessage")->toPlainText().isEmpty());
        for (QRadioButton *option : m_window->findChildren<QRadioButton *>())
            QVERIFY(!option->isChecked());
        QVERIFY(!child<QCheckBox>("chkCover")->isChecked());
        auto *list = child<QListWidget>("lstMemberName");
        QVERIFY(list->selectedItems().isEmpty());
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(m_window->focusWidget(), list);
        QVERIFY(child<QPushButton>("cmdAll0")->isVisible());
        QVERIFY(!child<QPushButton>("cmdAll1")->isVisible());
        QVERIFY(child<QToolButton>("cmdButton0")->isEnabled());
        QVERIFY(child<QToolButton>("cmdButton1")->isEnabled());
        QVERIFY(m_check->timer().isActive());
    }

    void failures_data()
    {
        QTest::addColumn<int>("stage"); // 0 refused port, 1 at RCPT TO, 2 after the data
        QTest::addColumn<QString>("box");
        QTest::newRow("refused port") << 0 << QStringLiteral("connect:接続が拒否された。");
        QTest::newRow("251 to RCPT TO") << 1 << QStringLiteral("recv:251 User not local");
        QTest::newRow("554 after the data") << 2 << QStringLiteral("recv:554 5.7.1 Rejected");
    }
    void failures()
    {
        QFETCH(int, stage);
        QFETCH(QString, box);
        FakeServer server;
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 closedPort = closed.serverPort();
        closed.close();
        openDesk(stage == 0 ? closedPort : server.port());
        clickRow(0);
        clickRow(3);
        fill(QStringLiteral("本文"), 1, false);
        const QByteArray reply = box.mid(5).toLatin1();
        if (stage == 1) {
            server.send("220 fake").expect("HELO example.jp").send("250 fake");
            server.expect("MAIL FROM:<user1@example.jp>").send("250 Ok");
            server.expect("RCPT TO:<sato@example.jp>").send(reply);
        } else if (stage == 2) {
            ScriptUpToData(server, {"sato@example.jp", "tanaka@example.jp"});
            ExpectData(server, MailLines(BuildMemoMail('1', false, QStringLiteral("営業部"),
                                                       QStringLiteral("担当者"),
                                                       QStringLiteral("本文"), {}, Sender))
                                   .size());
            server.send(reply);
        }
        BoxCatcher boxes;
        clickSend();
        // One box; the form kept for another try, buttons back, timer running.
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
        QCOMPARE(boxes.boxes[0].text, box);
        QCOMPARE(boxes.boxes[0].title, Msg::Title);
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);
        QTRY_VERIFY(BoxCatcher::openBoxes().isEmpty());
        QVERIFY(panel2() != Msg::MessageSent);
        QCOMPARE(child<QLineEdit>("txtCaller")->text(), QStringLiteral("担当者"));
        QCOMPARE(child<QPlainTextEdit>("txtMessage")->toPlainText(), QStringLiteral("本文"));
        QVERIFY(child<QRadioButton>("optMessage1")->isChecked());
        QCOMPARE(child<QListWidget>("lstMemberName")->selectedItems().size(), 2);
        QVERIFY(child<QToolButton>("cmdButton0")->isEnabled());
        QVERIFY(child<QToolButton>("cmdButton1")->isEnabled());
        QVERIFY(m_check->timer().isActive());
        QVERIFY(server.done());
        if (stage > 0) // nothing was sent after the failing reply
            QCOMPARE(server.received().last(),
                     QByteArray(stage == 1 ? "RCPT TO:<sato@example.jp>" : "."));
    }

    void mailTextOnTheWire()
    {
        FakeServer server;
        openDesk(server.port());
        clickRow(2); // " suzuki@example.jp ", blanks around it
        fill(QStringLiteral(".\n.abc\nend."), -1, true);
        child<QLineEdit>("txtDepartment")->setText(QStringLiteral("ACME")); // Subject not folded
        child<QLineEdit>("txtCaller")->setText(QStringLiteral("Bob"));
        ScriptUpToData(server, {"suzuki@example.jp"});
        ExpectData(server, 4 + 1 + 3); // four header lines, the empty line, three lines
        server.send("250 Ok").expect("QUIT").send("221 Bye");
        clickSend();
        QTRY_VERIFY_WITH_TIMEOUT(server.done(), 10000);
        QTRY_COMPARE(panel2(), Msg::MessageSent);
        const QList<QByteArray> got = server.received();
        QCOMPARE(got[2], QByteArray("RCPT TO:<suzuki@example.jp>"));
        QVERIFY2(got[4].startsWith("Subject:*1   "), got[4].constData()); // no kind, sealed
        QCOMPARE(got[6], QByteArray("To: suzuki@example.jp "));
        QCOMPARE(got.mid(7), QList<QByteArray>({"Content-Type: text/plain; charset=us-ascii", "",
                                                "..", "..abc", "end.", "", ".", "QUIT"}));
        QVERIFY(m_check->timer().isActive());
    }

    void noRecipient()
    {
        FakeServer server;
        openDesk(server.port());
        clickRow(1); // the separator takes itself back
        fill(QStringLiteral("本文"), 1, false);
        BoxCatcher boxes;
        QTest::mouseClick(child<QToolButton>("cmdButton0"), Qt::LeftButton);
        QTRY_COMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, Msg::NoRecipient);
        QTRY_COMPARE(m_window->focusWidget(), child<QListWidget>("lstMemberName"));
        QVERIFY(m_check->timer().isActive());
        QVERIFY(child<QToolButton>("cmdButton0")->isEnabled());
        QCoreApplication::processEvents();
        QCOMPARE(server.connections(), 0);
    }

    void windowGoneDuringSend()
    {
        FakeServer server; // greets, then never answers HELO
        server.send("220 fake").expect("HELO example.jp");
        openDesk(server.port());
        clickRow(0);
        BoxCatcher boxes;
        clickSend();
        QTRY_VERIFY_WITH_TIMEOUT(server.done(), 10000);
        m_window.reset(); // the program ends while the memo is on its way
        QCoreApplication::processEvents();
        QCOMPARE(boxes.boxes.size(), 0);
    }
};

QTEST_MAIN(TestFrmSend)
#include "tst_frmsend.moc"
