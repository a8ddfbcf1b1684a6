#include "AppMessages.h"
#include "MailCheck.h"
#include "Messages.h"
#include "StatusPanels.h"
#include "frmMessage.h"
#include "tst_windowhelpers.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {

MemoValues ReadMemo(const QByteArray &mail)
{
    return ReadMemoMail("+OK message follows\r\n" + mail + ".\r\n");
}

MemoValues SealedMemo()
{
    return ReadMemo(MemoMailText(QLatin1Char('1'), true, QStringLiteral("東京商事"),
                                 QStringLiteral("山田太郎"),
                                 QStringLiteral("折り返しお願いします。\r\n明日まで"),
                                 QStringLiteral("  <m1@example.jp>  ")));
}

Pop3Session::Settings PopSettings(const QString &port)
{
    Pop3Session::Settings s;
    s.server = QStringLiteral("127.0.0.1");
    s.port = port;
    s.userId = QStringLiteral("user1");
    s.password = QStringLiteral("pw");
    return s;
}

} // namespace

class TestFrmMessage : public QObject
{
    Q_OBJECT

    template <class T> static T *child(const QWidget &w, const QString &name)
    {
        T *found = w.findChild<T *>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }

    /// A mail check that has listed the fake mailbox and is idle.
    static void runCheck(MailCheck &check)
    {
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        check.start();
        QVERIFY(ended.wait(10000));
        QCOMPARE(check.Pop3State(), 0);
    }

private Q_SLOTS:
    void showsTheSealedMemo()
    {
        FakeComponents components;
        frmMessage viewer(SealedMemo(), QStringLiteral("鈴木"), nullptr, &components);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        QCOMPARE(viewer.windowTitle(), QStringLiteral("メッセージ - Tavrino"));
        QCOMPARE(viewer.size(), QSize(260, 272));
        auto *cover = child<QPushButton>(viewer, "cmdCover");
        QVERIFY(cover->isVisible());
        QCOMPARE(cover->text(), AppMsg::Unseal);
        QCOMPARE(cover->geometry(), QRect(0, 0, 261, 273));
        QCOMPARE(child<QLineEdit>(viewer, "txtSummary")->text(),
                 QStringLiteral(" またお電話いたします。"));
        QCOMPARE(child<QGroupBox>(viewer, "frameTitle")->title(), QStringLiteral("03/05 09:07"));
        QCOMPARE(child<QLineEdit>(viewer, "txtDepartment")->text(), QStringLiteral(" 東京商事"));
        QCOMPARE(child<QLineEdit>(viewer, "txtCaller")->text(), QStringLiteral(" 山田太郎"));
        QCOMPARE(child<QPlainTextEdit>(viewer, "txtMessage")->toPlainText(),
                 QStringLiteral("折り返しお願いします。\n明日まで"));
        QCOMPARE(child<QLabel>(viewer, "lblSender")->text(), QStringLiteral("佐藤"));
        QCOMPARE(child<QLabel>(viewer, "lblSenderID")->text(), QStringLiteral("sato@example.jp"));
        QCOMPARE(child<QLabel>(viewer, "lblTitle2")->text(), AppMsg::Sender);
        QCOMPARE(child<QLabel>(viewer, "sbrMsgPanel1")->text(), QStringLiteral("鈴木"));
        QCOMPARE(child<QLabel>(viewer, "sbrMsgPanel2")->text(), QStringLiteral("<m1@example.jp>"));
        QCOMPARE(child<QLabel>(viewer, "sbrMsgPanel2")->toolTip(), AppMsg::PanelMessageId);
        QCOMPARE(viewer.memoKey(), QStringLiteral("<m1@example.jp>"));
        for (const char *name : {"txtDepartment", "txtCaller", "txtSummary"}) {
            auto *box = child<QLineEdit>(viewer, QString::fromLatin1(name));
            QVERIFY(box->isReadOnly());
            QCOMPARE(box->palette().color(QPalette::Base), QColor(255, 255, 192));
        }
        QVERIFY(child<QPlainTextEdit>(viewer, "txtMessage")->isReadOnly());
        auto *reply = child<QToolButton>(viewer, "cmdButton1");
        QCOMPARE(reply->text(), AppMsg::Reply);
        QCOMPARE(reply->toolTip(), AppMsg::ReplyTip);
        auto *del = child<QToolButton>(viewer, "cmdButton0");
        QCOMPARE(del->text(), AppMsg::Delete);
        QCOMPARE(del->toolTip(), AppMsg::DeleteTip);
        QCOMPARE(del->geometry(), QRect(184, 188, 61, 53));

        // Opened for good.
        QTest::mouseClick(cover, Qt::LeftButton);
        QVERIFY(!cover->isVisible());
    }

    void unsealsWithAltG()
    {
        frmMessage viewer(SealedMemo(), QString(), nullptr, nullptr);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowActive(&viewer));
        auto *cover = child<QPushButton>(viewer, "cmdCover");
        QVERIFY(cover->isVisible());
        QTest::keyClick(&viewer, Qt::Key_G, Qt::AltModifier);
        QTRY_VERIFY(!cover->isVisible());
    }

    void kindSentence_data()
    {
        QTest::addColumn<QChar>("kind");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("0") << QChar(u'0') << QStringLiteral(" お電話ください。");
        QTest::newRow("1") << QChar(u'1') << QStringLiteral(" またお電話いたします。");
        QTest::newRow("2") << QChar(u'2') << QStringLiteral(" 電話がありました。");
        QTest::newRow("3") << QChar(u'3') << QStringLiteral(" 来訪されました。");
        QTest::newRow("reply *") << QChar(u'*') << QString();
    }
    void kindSentence()
    {
        QFETCH(QChar, kind);
        QFETCH(QString, sentence);
        const MemoValues memo =
            ReadMemo(MemoMailText(kind, false, QString(), QString(), QStringLiteral("x"),
                                  QStringLiteral("<k@example.jp>")));
        frmMessage viewer(memo, QString(), nullptr, nullptr);
        QCOMPARE(child<QLineEdit>(viewer, "txtSummary")->text(), sentence);
        QVERIFY(child<QPushButton>(viewer, "cmdCover")->isHidden());
        if (kind == QLatin1Char('*')) {
            // A reply: only the leading blanks of the caller fields are left.
            QCOMPARE(child<QLineEdit>(viewer, "txtDepartment")->text(), QStringLiteral(" "));
            QCOMPARE(child<QLineEdit>(viewer, "txtCaller")->text(), QStringLiteral(" "));
            QCOMPARE(child<QGroupBox>(viewer, "frameTitle")->title(),
                     QStringLiteral("03/05 09:07"));
        }
    }

    void focusGuard()
    {
        frmMessage viewer(SealedMemo(), QString(), nullptr, nullptr);
        child<QPushButton>(viewer, "cmdCover")->hide();
        viewer.show();
        QVERIFY(QTest::qWaitForWindowActive(&viewer));
        for (const char *name : {"txtCaller", "txtDepartment", "txtSummary"}) {
            auto *box = child<QLineEdit>(viewer, QString::fromLatin1(name));
            box->setFocus(Qt::MouseFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), &viewer);
            QVERIFY(!box->hasFocus());
        }
        auto *text = child<QPlainTextEdit>(viewer, "txtMessage");
        text->setFocus(Qt::MouseFocusReason);
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::focusWidget(), text);
    }

    void deleteSendsDeleAndCloses()
    {
        FakePop3 pop3;
        pop3.mailbox = {
            MemoMailText(QLatin1Char('0'), false, QStringLiteral("A"), QStringLiteral("B"),
                         QStringLiteral("x"), QStringLiteral("<first@example.jp>")),
            MemoMailText(QLatin1Char('0'), false, QStringLiteral("A"), QStringLiteral("B"),
                         QStringLiteral("y"), QStringLiteral("<second@example.jp>"))};
        pop3.start();
        MailCheck check(PopSettings(pop3.port()), QStringLiteral("300"));
        QList<MemoValues> memos;
        connect(&check, &MailCheck::newMemo, this, [&memos](const MemoValues &m) { memos << m; });
        runCheck(check);
        QCOMPARE(memos.size(), 2);

        QPointer<frmMessage> viewer = new frmMessage(memos[1], QString(), &check, nullptr);
        viewer->show();
        QVERIFY(QTest::qWaitForWindowActive(viewer));
        auto *del = child<QToolButton>(*viewer, "cmdButton0");
        QVERIFY(del->isEnabled());
        QTest::mouseClick(del, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!viewer, 10000);
        QVERIFY(pop3.commands.contains(QStringLiteral("DELE 2")));
        QVERIFY(QApplication::overrideCursor() == nullptr);
        check.shutdown();
        QVERIFY(pop3.commands.contains(QStringLiteral("QUIT")));
    }

    void deleteOfAMissingMemoCloses()
    {
        FakePop3 pop3;
        pop3.mailbox = {MemoMailText(QLatin1Char('0'), false, QStringLiteral("A"),
                                     QStringLiteral("B"), QStringLiteral("x"),
                                     QStringLiteral("<other@example.jp>"))};
        pop3.start();
        MailCheck check(PopSettings(pop3.port()), QStringLiteral("300"));
        runCheck(check);
        MemoValues gone = SealedMemo();
        gone.MemoKey = QStringLiteral("<gone@example.jp>");
        QPointer<frmMessage> viewer = new frmMessage(gone, QString(), &check, nullptr);
        viewer->show();
        QTest::mouseClick(child<QToolButton>(*viewer, "cmdButton0"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!viewer, 10000);
        for (const QString &command : std::as_const(pop3.commands))
            QVERIFY(!command.startsWith(QLatin1String("DELE")));
        // Nothing was left waiting: the session is free again.
        QCOMPARE(check.Pop3State(), 0);
        check.shutdown();
    }

    void deleteTimesOutAndStays()
    {
        FakePop3 pop3;
        pop3.silent = true; // the check in progress never ends
        pop3.start();
        MailCheck check(PopSettings(pop3.port()), QStringLiteral("300"));
        check.setDeleteTimeoutMs(300);
        check.start();
        frmMessage viewer(SealedMemo(), QString(), &check, nullptr);
        viewer.show();
        auto *del = child<QToolButton>(viewer, "cmdButton0");
        QVERIFY(del->isEnabled()); // the session waits for its greeting: state 0
        BoxCatcher boxes;
        QSignalSpy destroyed(&viewer, &QObject::destroyed);
        QTest::mouseClick(del, Qt::LeftButton);
        QVERIFY(!del->isEnabled());
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
        QCOMPARE(boxes.boxes[0].text, Msg::DeleteTimedOut);
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(boxes.boxes[0].title, Msg::Title);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(viewer.isVisible());
        QVERIFY(del->isEnabled());
        QCOMPARE(destroyed.size(), 0);
    }

    void failedDeleteCloses()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString port = QString::number(closed.serverPort());
        closed.close();
        MailCheck check(PopSettings(port), QStringLiteral("300"));
        QSignalSpy errors(&check, &MailCheck::errorMessage);
        QPointer<frmMessage> viewer = new frmMessage(SealedMemo(), QString(), &check, nullptr);
        viewer->show();
        QTest::mouseClick(child<QToolButton>(*viewer, "cmdButton0"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!viewer, 10000);
        // The main window tells the user; the viewer itself shows nothing.
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0][0].toString(), QStringLiteral("connect:接続が拒否された。"));
    }

    void deleteButtonFollowsTheSession()
    {
        FakePop3 pop3;
        pop3.mailbox = {MemoMailText(QLatin1Char('0'), false, QStringLiteral("A"),
                                     QStringLiteral("B"), QStringLiteral("x"),
                                     QStringLiteral("<one@example.jp>"))};
        pop3.holdVerb = "PASS";
        pop3.start();
        MailCheck check(PopSettings(pop3.port()), QStringLiteral("300"));
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        check.start();
        QTRY_COMPARE_WITH_TIMEOUT(check.Pop3State(), 3, 10000);
        frmMessage viewer(SealedMemo(), QString(), &check, nullptr);
        child<QPushButton>(viewer, "cmdCover")->hide();
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        auto *del = child<QToolButton>(viewer, "cmdButton0");
        QVERIFY(!del->isEnabled());
        pop3.release();
        QVERIFY(ended.wait(10000));
        QCOMPARE(check.Pop3State(), 0);
        QVERIFY(!del->isEnabled()); // it follows only when the user comes near
        QTest::mouseMove(child<QWidget>(viewer, "lblSenderID"));
        QTRY_VERIFY(del->isEnabled());
        check.shutdown();
    }

    void replyUsesTheComponent()
    {
        FakeComponents components;
        frmMessage viewer(SealedMemo(), QString(), nullptr, &components);
        viewer.show();
        QTest::mouseClick(child<QToolButton>(viewer, "cmdButton1"), Qt::LeftButton);
        QCOMPARE(components.replies, QStringList{QStringLiteral(
                                         "sato@example.jp|佐藤|折り返しお願いします。\n明日まで")});
        QVERIFY(viewer.isVisible());

        components.available = false;
        BoxCatcher boxes;
        QTest::mouseClick(child<QToolButton>(viewer, "cmdButton1"), Qt::LeftButton);
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, Msg::AppError + QStringLiteral("\r\nplugin missing"));
        QVERIFY(viewer.isVisible());
    }
};

QTEST_MAIN(TestFrmMessage)
#include "tst_frmmessage.moc"
