// The memo viewer: its fields, the seal, the focus guard, the reply command
// and the delete command against a fake POP3 server.

#include "MailCheck.h"
#include "Messages.h"
#include "frmMessage.h"
#include "tst_windowhelpers.h"

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
    return ReadMemo(MemoMailText('1', true, "東京商事", "山田太郎",
                                 "折り返しお願いします。\r\n明日まで", "  <m1@example.jp>  "));
}

} // namespace

class TestFrmMessage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fieldsSealFocusGuardAndReply()
    {
        FakeComponents components;
        frmMessage viewer(SealedMemo(), QStringLiteral("鈴木"), nullptr, &components);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowActive(&viewer));
        QCOMPARE(viewer.windowTitle(), QStringLiteral("メッセージ - Tavrino"));
        QCOMPARE(viewer.size(), QSize(260, 272));
        QCOMPARE(Shown(&viewer), QStringLiteral(" またお電話いたします。| 東京商事| 山田太郎|"
                                                "折り返しお願いします。\n明日まで|佐藤|"
                                                "sato@example.jp|鈴木|<m1@example.jp>"));
        QCOMPARE(Text(&viewer, "frameTitle"), QStringLiteral("03/05 09:07"));
        QVERIFY(viewer.memoKey().startsWith("<m1@example.jp>#"));
        QVERIFY(Child<QPlainTextEdit>(&viewer, "txtMessage")->isReadOnly());

        // Sealed: covered until Alt+G (or a click) uncovers it for good.
        auto *cover = Child<QPushButton>(&viewer, "cmdCover");
        QVERIFY(cover->isVisible() && cover->geometry().contains(viewer.rect()));
        QTest::keyClick(&viewer, Qt::Key_G, Qt::AltModifier);
        QTRY_VERIFY(!cover->isVisible());

        // The one-line fields are read-only and hand the focus back to the
        // window; the text box keeps it.
        for (const char *name : {"txtCaller", "txtDepartment", "txtSummary"}) {
            auto *box = Child<QLineEdit>(&viewer, name);
            QVERIFY(box->isReadOnly());
            box->setFocus(Qt::MouseFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), &viewer);
        }
        auto *text = Child<QPlainTextEdit>(&viewer, "txtMessage");
        text->setFocus(Qt::MouseFocusReason);
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::focusWidget(), text);

        // Reply goes to the component; without it, the application error.
        auto *reply = Child<QToolButton>(&viewer, "cmdButton1");
        QTest::mouseClick(reply, Qt::LeftButton);
        QCOMPARE(components.replies,
                 QStringList{"sato@example.jp|佐藤|折り返しお願いします。\n明日まで"});
        components.available = false;
        BoxCatcher boxes;
        QTest::mouseClick(reply, Qt::LeftButton);
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, Msg::AppError + QStringLiteral("\r\nplugin missing"));
        QVERIFY(viewer.isVisible());
    }

    void senderKeepsOtherBlanks()
    {
        MemoValues memo = SealedMemo();
        memo.MemoFromName = QStringLiteral(" \u3000佐藤\u3000 ");
        frmMessage viewer(memo, QString(), nullptr, nullptr);
        QCOMPARE(Text(&viewer, "lblSender"), QStringLiteral("\u3000佐藤\u3000"));
    }

    void deleteCommand()
    {
        FakePop3 pop3;
        pop3.mailbox = {MemoMailText('0', false, "A", "B", "x", "<first@example.jp>"),
                        MemoMailText('0', false, "A", "B", "y", "<second@example.jp>")};
        MailCheck check(Desk(pop3.port()).settings.pop3(), QStringLiteral("300"));
        QList<MemoValues> memos;
        connect(&check, &MailCheck::showMemo, this, [&memos](const MemoValues &m) { memos << m; });
        QSignalSpy ended(&check, &MailCheck::checkEnded);
        check.start();
        QVERIFY(ended.wait(10000));
        QTRY_COMPARE(memos.size(), 2);

        // A memo no longer listed closes its viewer, deletes nothing and
        // leaves the session free; a listed one is deleted by its number.
        MemoValues gone = memos[0];
        gone.MemoKey = QStringLiteral("<gone@example.jp>");
        for (const MemoValues &memo : {gone, memos[1]}) {
            QPointer<frmMessage> viewer = new frmMessage(memo, QString(), &check, nullptr);
            viewer->show();
            auto *del = Child<QToolButton>(viewer, "cmdButton0");
            QVERIFY(del->isEnabled());
            QTest::mouseClick(del, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!viewer, 10000);
            QCOMPARE(check.Pop3State(), 0);
            QVERIFY(QApplication::overrideCursor() == nullptr);
        }
        QCOMPARE(pop3.commands.filter(QStringLiteral("DELE")), QStringList{"DELE 2"});
        check.shutdown();
        QTRY_VERIFY(pop3.commands.contains(QStringLiteral("QUIT")));
    }

    void deleteTimesOutAndStays()
    {
        FakePop3 pop3;
        pop3.silent = true; // the check in progress never ends
        MailCheck check(Desk(pop3.port()).settings.pop3(), QStringLiteral("300"));
        check.setDeleteTimeoutMs(300);
        check.start();
        frmMessage viewer(SealedMemo(), QString(), &check, nullptr);
        viewer.show();
        auto *del = Child<QToolButton>(&viewer, "cmdButton0");
        BoxCatcher boxes;
        QTest::mouseClick(del, Qt::LeftButton);
        QVERIFY(!del->isEnabled() && QApplication::overrideCursor());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
        QCOMPARE(boxes.boxes[0].text, Msg::DeleteTimedOut);
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(viewer.isVisible() && del->isEnabled());
    }
};

QTEST_MAIN(TestFrmMessage)
#include "tst_frmmessage.moc"
