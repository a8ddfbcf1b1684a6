// What the memo form and its send button do around the SMTP dialogue, which
// tst_smtpsend tests on its own.

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
    frmTavrino *m_window = nullptr;

    template <class T> T *child(const char *name) const { return Child<T>(m_window, name); }

    /// A shown desk whose first mail check has ended.
    void openDesk(quint16 smtpPort)
    {
        m_pop3 = std::make_unique<FakeServer>(); // an empty mailbox
        m_pop3->pop3Login("+OK 0 0");
        m_desk = std::make_unique<Desk>(m_pop3->port(), smtpPort);
        QVERIFY(m_desk->open(&m_components));
        m_window = m_desk->window.get();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        QTRY_VERIFY_WITH_TIMEOUT(child<QToolButton>("cmdButton0")->isEnabled(), 10000);
    }

    /// While the dialogue runs, both buttons are off and no check can start;
    /// after any ending, all are back.
    void verifyBusy(bool busy)
    {
        QCOMPARE(child<QToolButton>("cmdButton0")->isEnabled(), !busy);
        QCOMPARE(child<QToolButton>("cmdButton1")->isEnabled(), !busy);
        QCOMPARE(m_desk->check->timer().isActive(), !busy);
    }

    void clickSend()
    {
        QTest::mouseClick(child<QToolButton>("cmdButton0"), Qt::LeftButton);
        verifyBusy(true);
    }

private Q_SLOTS:
    void cleanup() { m_desk.reset(); }

    void memoFormAndNoRecipient()
    {
        FakeServer server;
        openDesk(server.port());
        // The separator takes itself back; select all leaves it out.
        auto *list = child<QListWidget>("lstMemberName");
        auto *none = child<QPushButton>("cmdAll1");
        for (int row : {2, 1})
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(row)).center());
        QVERIFY(list->item(2)->isSelected() && !list->item(1)->isSelected());
        QVERIFY(!none->isVisible());
        QTest::mouseClick(child<QPushButton>("cmdAll0"), Qt::LeftButton);
        QCOMPARE(list->selectedItems().size(), 3);
        QVERIFY(!list->item(1)->isSelected());
        QVERIFY(none->isVisible()); // on top of select all
        QCOMPARE(QApplication::focusWidget(), child<QWidget>("txtMessage"));
        QTest::mouseClick(none, Qt::LeftButton);
        QVERIFY(list->selectedItems().isEmpty() && !none->isVisible());

        // No recipient: the message, the focus on the list, no connection.
        BoxCatcher boxes;
        QTest::mouseClick(child<QToolButton>("cmdButton0"), Qt::LeftButton);
        QTRY_COMPARE(boxes.boxes, QStringList(Warning(Msg::NoRecipient)));
        QTRY_COMPARE(m_window->focusWidget(), list);
        verifyBusy(false);
        QCoreApplication::processEvents();
        QCOMPARE(server.connections(), 0);
    }

    void theFormReachesTheWireAndResets()
    {
        FakeServer server;
        openDesk(server.port());
        // Chosen as fourth, first, third: sent in list order, as the list has them.
        FillMemo(m_window, {3, 0, 2}, 2, true, "ACME", "Bob", u".\n.abc\nend."_s);
        const QList<QByteArray> wire =
            QByteArray("HELO example.jp\nMAIL FROM:<user1@example.jp>\nRCPT TO:<sato@example.jp>\n"
                       "RCPT TO:<suzuki@example.jp>\nRCPT TO:<tanaka@example.jp>\nDATA\n"
                       "*\n" // the Subject, below
                       "From:\" =?ISO-2022-JP?B?GyRCQW1MM0l0GyhC?= \" <user1@example.jp>\n"
                       "To:sato@example.jp, suzuki@example.jp ,tanaka@example.jp\n"
                       "Content-Type: text/plain; charset=us-ascii\n\n..\n..abc\nend.\n\n.\nQUIT")
                .split('\n');
        server.send("220 fake");
        for (qsizetype i = 0; i < wire.size(); ++i) {
            server.expect(wire[i]);
            if (i < 6 || i >= wire.size() - 2)
                server.send(i == 5 ? "354 go" : "250 ok");
        }
        BoxCatcher boxes;
        const QString before = QDateTime::currentDateTime().toString(u"MM/dd HH:mm");
        clickSend();
        QTRY_COMPARE_WITH_TIMEOUT(Text(m_window, "sbrMsgPanel2"), Msg::MessageSent, 10000);
        QTRY_VERIFY2(server.ok(), qPrintable(server.failure()));
        // Kind 2, sealed, sent at the time of sending.
        const QString subject = QString::fromLatin1(server.received()[6]);
        QCOMPARE(subject.left(13) + subject.mid(24),
                 "Subject:21   ACME" + QString(16, ' ') + "Bob" + QString(17, ' '));
        QVERIFY(subject.mid(13, 11) == before ||
                subject.mid(13, 11) == QDateTime::currentDateTime().toString(u"MM/dd HH:mm"));

        // The form is ready for the next memo.
        QCOMPARE(boxes.boxes.size(), 0);
        const MemoDraft draft = m_window->CurrentDraft();
        QVERIFY(draft.recipients.isEmpty() && draft.department.isEmpty() &&
                draft.caller.isEmpty() && draft.text.isEmpty() && !draft.sealed);
        QCOMPARE(draft.kind, QLatin1Char('*'));
        QCOMPARE(m_window->focusWidget(), child<QListWidget>("lstMemberName"));
        verifyBusy(false);
    }

    void greeting554ThenClose()
    {
        // The box used to open inside the job's signal, and the job was
        // deleted under it when the server closed (seen under AddressSanitizer).
        FakeServer server;
        server.send("554 5.3.2 busy").close();
        openDesk(server.port());
        FillMemo(m_window, {0, 3}, 1, false, "営業部", "担当者", "本文");
        BoxCatcher boxes;
        boxes.holdMs = 300; // pressed only once the server has gone
        clickSend();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
        QCOMPARE(boxes.boxes, QStringList(Warning(u"recv:554 5.3.2 busy"_s)));
        QTRY_VERIFY(BoxCatcher::openBoxes().isEmpty());
        // The form is kept for another try; the buttons are back, the timer runs.
        QVERIFY(Text(m_window, "sbrMsgPanel2") != Msg::MessageSent);
        const MemoDraft draft = m_window->CurrentDraft();
        QCOMPARE(draft.recipients.size(), 2);
        QCOMPARE(draft.text, u"本文"_s);
        QCOMPARE(draft.kind, QLatin1Char('1'));
        verifyBusy(false);
    }

    void sendStaysOffWhileAMemoIsOnItsWay()
    {
        FakeServer server; // answers HELO late
        server.send("220 fake").expect("HELO example.jp").pause(1500).send("250 fake");
        server.expect("MAIL FROM:<user1@example.jp>").send("421 closing");
        openDesk(server.port());
        FillMemo(m_window, {0}, 0, false, "a", "b", "c");
        BoxCatcher boxes;
        clickSend();
        // A check that fails meanwhile must not offer the same memo again.
        m_pop3.reset();
        QSignalSpy ended(m_desk->check.get(), &MailCheck::checkEnded);
        for (int i = 0; i < 10 && !m_desk->check->isChecking(); ++i)
            m_desk->check->tmrCheckMail_Timer();
        QVERIFY(ended.wait(5000));
        QCOMPARE(ended.first().first().toBool(), false);
        QVERIFY(!child<QToolButton>("cmdButton0")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(server.done(), 10000);
        QTRY_VERIFY(child<QToolButton>("cmdButton0")->isEnabled());
        QTRY_COMPARE(boxes.boxes.size(), 2); // the check's failure and the send's
        QCOMPARE(boxes.boxes[1], Warning(u"recv:421 closing"_s));
        QTRY_VERIFY(BoxCatcher::openBoxes().isEmpty());
    }

    void windowGoneDuringSend()
    {
        FakeServer server; // never answers HELO
        server.send("220 fake").expect("HELO example.jp");
        openDesk(server.port());
        FillMemo(m_window, {0}, 0, false, "a", "b", "c");
        BoxCatcher boxes;
        clickSend();
        QTRY_VERIFY_WITH_TIMEOUT(server.done(), 10000);
        m_desk->window.reset(); // the program ends while the memo is on its way
        QCoreApplication::processEvents();
        QCOMPARE(boxes.boxes.size(), 0);
    }
};

QTEST_MAIN(TestFrmSend)
#include "tst_frmsend.moc"
