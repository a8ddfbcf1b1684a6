// What the memo form and its send button do around the SMTP dialogue, which
// tst_dialogues tests on its own.

#include "FakeServer.h"
#include "Messages.h"
#include "tst_windowhelpers.h"

#include <QtTest>

class TestFrmSend : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeServer> m_pop3;
    FakeComponents m_components;
    std::unique_ptr<Desk> m_desk;
    std::unique_ptr<BoxCatcher> m_boxes;
    frmTavrino *m_window = nullptr;

    template <class T> T *child(const char *name) const { return Child<T>(m_window, name); }

    /// A shown desk whose first mail check (of an empty mailbox) has ended.
    void openDesk(const FakeServer &smtp)
    {
        m_pop3 = std::make_unique<FakeServer>();
        m_pop3->pop3Login("+OK 0 0");
        m_desk = std::make_unique<Desk>(m_pop3->port(), smtp.port());
        QVERIFY(m_desk->open(&m_components));
        m_window = m_desk->window.get();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        QTRY_VERIFY_WITH_TIMEOUT(child<QToolButton>("cmdButton0")->isEnabled(), 10000);
        m_boxes = std::make_unique<BoxCatcher>();
    }

    /// While a memo is on its way, both buttons are off and no check can start.
    void verifyBusy(bool busy)
    {
        QCOMPARE(child<QToolButton>("cmdButton0")->isEnabled(), !busy);
        QCOMPARE(child<QToolButton>("cmdButton1")->isEnabled(), !busy);
        QCOMPARE(m_desk->check->timer().isActive(), !busy);
    }

    void send(const QList<int> &rows, int kind, bool sealed, const QString &org,
              const QString &caller, const QString &text)
    {
        FillMemo(m_window, rows, kind, sealed, org, caller, text);
        QTest::mouseClick(child<QToolButton>("cmdButton0"), Qt::LeftButton);
        verifyBusy(true);
    }

private Q_SLOTS:
    void cleanup() { m_desk.reset(); }

    void memoFormNoRecipientAndWindowGone()
    {
        FakeServer server; // greets, then never answers HELO
        server.send("220 fake").expect("HELO example.jp");
        openDesk(server);
        // The separator takes itself back; select all leaves it out.
        auto *list = child<QListWidget>("lstMemberName");
        auto *none = child<QPushButton>("cmdAll1");
        for (int row : {2, 1})
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(row)).center());
        QVERIFY(list->item(2)->isSelected() && !list->item(1)->isSelected() && !none->isVisible());
        QTest::mouseClick(child<QPushButton>("cmdAll0"), Qt::LeftButton);
        QCOMPARE(list->selectedItems().size(), 3);
        QVERIFY(!list->item(1)->isSelected() && none->isVisible());
        QCOMPARE(QApplication::focusWidget(), child<QWidget>("txtMessage"));
        QTest::mouseClick(none, Qt::LeftButton);
        QVERIFY(list->selectedItems().isEmpty() && !none->isVisible());

        QTest::mouseClick(child<QToolButton>("cmdButton0"), Qt::LeftButton);
        QTRY_COMPARE(m_boxes->boxes, QStringList(Warning(Msg::NoRecipient)));
        QTRY_COMPARE(m_window->focusWidget(), list);
        verifyBusy(false);

        // Gone while a memo is on its way, the window takes the send along, silently.
        send({0}, 0, false, "a", "b", "c");
        QTRY_VERIFY_WITH_TIMEOUT(server.done(), 10000);
        m_desk->window.reset();
        QCoreApplication::processEvents();
        QCOMPARE(m_boxes->boxes.size(), 1); // the missing recipient's alone
    }

    void theFormReachesTheWireAndResets()
    {
        FakeServer server;
        server.send("220 fake").expect("*").send("250 ok").expect("*");
        // Chosen as fourth, first, third: sent in list order.
        for (const char *rcpt : {"sato", "suzuki", "tanaka"})
            server.send("250 ok").expect("RCPT TO:<"_ba + rcpt + "@example.jp>");
        server.send("250 ok").expect("DATA").send("354 go");
        for (int line = 0; line < 11; ++line) // the mail (its subject folded), then "."
            server.expect("*");
        server.send("250 ok").expect("QUIT").send("250 ok");
        openDesk(server);
        const QString before = QDateTime::currentDateTime().toString(u"MM/dd HH:mm");
        // An emoji cannot travel: the user is told, chooses to send, and it
        // arrives as "?"; 髙 travels.
        send({3, 0, 2}, 2, true, "ACME", u"髙橋"_s, u".\n.abc😀\nend."_s);
        QTRY_COMPARE_WITH_TIMEOUT(Text(m_window, "sbrMsgPanel2"), Msg::MessageSent, 10000);
        QTRY_VERIFY2(server.ok(), qPrintable(server.failure()));
        const QList<QByteArray> wire = server.received();
        const MemoView memo = ViewOfMemo(
            ReadMemoMail("+OK\r\n" + wire.mid(wire.indexOf("DATA") + 1, 11).join("\r\n") + "\r\n"));
        QCOMPARE(memo.kind + QString::number(memo.sealed) + memo.department + '|' + memo.caller +
                     '|' + memo.text,
                 u"21ACME|髙橋|.\r\n.abc?\r\nend.\r\n"_s);
        QVERIFY(memo.time == before ||
                memo.time == QDateTime::currentDateTime().toString(u"MM/dd HH:mm"));

        // The form is ready for the next memo.
        QCOMPARE(m_boxes->boxes,
                 QStringList(Warning(u"次の文字は送信できないため「?」になります: 😀"_s)));
        const MemoDraft draft = m_window->CurrentDraft();
        QVERIFY(draft.recipients.isEmpty() && draft.department.isEmpty() &&
                draft.caller.isEmpty() && draft.text.isEmpty() && !draft.sealed &&
                draft.kind == u'*');
        QCOMPARE(m_window->focusWidget(), child<QListWidget>("lstMemberName"));
        verifyBusy(false);
    }

    void aFailedSendKeepsTheFormAndOffersItOnce()
    {
        // The box used to open inside the job's signal, and the job was
        // deleted under it when the server closed (seen under AddressSanitizer).
        FakeServer server;
        server.send("220 fake").expect("HELO example.jp").pause(1500).send("250 fake");
        server.expect("MAIL FROM:<user1@example.jp>").send("421 closing").close();
        openDesk(server);
        m_boxes->holdMs = 300; // pressed only once the server has gone
        send({0, 3}, 1, false, "営業部", "担当者", "本文");
        // A check that fails meanwhile must not offer the same memo again.
        m_pop3.reset();
        QCOMPARE(m_desk->checkNow(), 0);
        QVERIFY(!child<QToolButton>("cmdButton0")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes->boxes.size(), 2, 10000); // the check's and the send's
        QCOMPARE(m_boxes->boxes[1],
                 Warning(u"recv:421 closing\r\n送信 (SMTP 127.0.0.1:%1)"_s.arg(server.port())));
        QTRY_VERIFY(BoxCatcher::openBoxes().isEmpty());
        // The form is kept for another try.
        QVERIFY(Text(m_window, "sbrMsgPanel2") != Msg::MessageSent);
        const MemoDraft draft = m_window->CurrentDraft();
        QVERIFY(draft.recipients.size() == 2 && draft.text == u"本文"_s && draft.kind == u'1');
        verifyBusy(false);
        VERIFY_SCRIPT(server);
    }
};

QTEST_MAIN(TestFrmSend)
#include "tst_frmsend.moc"
