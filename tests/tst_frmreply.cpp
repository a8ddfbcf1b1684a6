// The reply window: its layout, what it sends over its own SMTP job against a
// scripted server, and how it ends.

#include "FakeServer.h"
#include "JisConvert.h"
#include "frmReply.h"
#include "tst_windowhelpers.h"

#include <QtTest>

namespace {

const QString Quoted = u"折り返しお願いします。\n明日まで"_s;

/// A reply window of 鈴木 <user2@example.jp> to the address, shown.
frmReply *Reply(const FakeServer &server, const QString &address, const QString &name = u"佐藤"_s)
{
    auto *reply = new frmReply(
        {u"鈴木"_s, u"user2"_s, u"example.jp"_s, u"127.0.0.1"_s, QString::number(server.port())},
        address, name, Quoted);
    reply->show();
    return reply;
}

/// The server's side up to MAIL FROM.
FakeServer &Greeting(FakeServer &server)
{
    server.send("220 fake").expect("HELO example.jp").send("250 ok");
    return server.expect("MAIL FROM:<user2@example.jp>");
}

} // namespace

class TestFrmReply : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layoutShowsEverythingWhole()
    {
        const QString address = u"sato.taro@branch-office.example.jp"_s;
        const QString name = u"総務部　佐藤太郎"_s;
        FakeServer server;
        std::unique_ptr<frmReply> reply(Reply(server, address, name));
        QCOMPARE(reply->windowTitle(), u"返信 - Tavrino"_s);
        auto *frame = Child<QGroupBox>(reply.get(), "frameTitle");
        QCOMPARE(Clipped(reply.get()), QStringList());
        for (const char *label : {"lblTitle2", "lblToName", "lblTo"})
            QVERIFY2(frame->contentsRect().contains(Child<QLabel>(reply.get(), label)->geometry()),
                     label);
        QCOMPARE(Text(reply.get(), "lblTo") + '|' + Text(reply.get(), "lblToName") + '|' +
                     Text(reply.get(), "txtMessage") + '|' + Text(reply.get(), "sbrMsgPanel1"),
                 address + '|' + name + u"|\n\n---Original Message---\n"_s + Quoted + u"|鈴木"_s);
        QCOMPARE(Child<QToolButton>(reply.get(), "cmdButton1")->accessibleName(), u"ｷｬﾝｾﾙ(C)"_s);
    }

    void sends_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("text"); // what the user leaves in the box; null: unchanged
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<QString>("body");
        QTest::newRow("unchanged")
            << "sato@example.jp" << QString() << false
            << u"\r\n\r\n---Original Message---\r\n折り返しお願いします。\r\n明日まで"_s;
        QTest::newRow("emptied") << "sato@example.jp"
                                 << "   " << false << QString();
        QTest::newRow("sealed, two addresses") << "sato@example.jp,tanaka@example.jp"
                                               << "了解です" << true << "了解です";
    }
    void sends()
    {
        QFETCH(QString, address);
        QFETCH(QString, text);
        QFETCH(bool, sealed);
        QFETCH(QString, body);
        FakeServer server;
        Greeting(server);
        for (const QString &rcpt : address.split(u','))
            server.send("250 ok").expect("RCPT TO:<" + rcpt.toLatin1() + ">");
        server.send("250 ok").expect("DATA").send("354 go");
        // Four header lines, the empty line, the body's lines, the empty line, ".".
        for (qsizetype i = 0; i < 4 + 1 + (body.isEmpty() ? 0 : body.count('\n') + 1) + 2; ++i)
            server.expect("*");
        server.send("250 ok").expect("QUIT").send("221 bye");
        QPointer<frmReply> reply = Reply(server, address);
        if (!text.isNull())
            Child<QPlainTextEdit>(reply, "txtMessage")->setPlainText(text);
        Child<QCheckBox>(reply, "chkCover")->setChecked(sealed);
        QTest::mouseClick(Child<QToolButton>(reply, "cmdButton0"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!reply, 10000); // closes itself once the mail is accepted
        QTRY_VERIFY(server.done());

        const QList<QByteArray> wire = server.received();
        const qsizetype data = wire.indexOf("DATA") + 1;
        const QByteArray subject = wire[data];
        QVERIFY2(subject.startsWith(sealed ? "Subject:*1   " : "Subject:*    ") &&
                     subject.endsWith(QByteArray(40, ' ')) && subject.size() == 8 + 56,
                 subject.constData()); // the two caller fields empty
        QCOMPARE(wire[data + 2], "To:" + address.toLatin1());
        const QList<QByteArray> lines = wire.mid(data + 5, wire.size() - data - 8);
        QCOMPARE(JisToText(lines.join("\r\n")), body);
    }

    void refusedAddressKeepsTheWindow()
    {
        FakeServer server;
        Greeting(server).send("250 ok").expect("RCPT TO:<nobody@example.jp>");
        server.send("550 5.1.1 no such user");
        std::unique_ptr<frmReply> reply(Reply(server, u"nobody@example.jp"_s));
        Child<QPlainTextEdit>(reply.get(), "txtMessage")->setPlainText(u"答え"_s);
        BoxCatcher boxes;
        auto *send = Child<QToolButton>(reply.get(), "cmdButton0");
        QTest::mouseClick(send, Qt::LeftButton);
        QVERIFY(!send->isEnabled() && Child<QToolButton>(reply.get(), "cmdButton1")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
        QCOMPARE(boxes.boxes[0], u"warning 返信 - Tavrino: recv:550 5.1.1 no such user\r\n"
                                 u"宛先: nobody@example.jp"_s);
        QVERIFY(reply->isVisible() && send->isEnabled());
        QCOMPARE(Text(reply.get(), "txtMessage"), u"答え"_s);
    }

    void cancelDuringTransmissionClosesAtOnce()
    {
        FakeServer server; // greets, then never answers
        server.send("220 fake").expect("HELO example.jp");
        QPointer<frmReply> reply = Reply(server, u"sato@example.jp"_s);
        BoxCatcher boxes;
        QTest::mouseClick(Child<QToolButton>(reply, "cmdButton0"), Qt::LeftButton);
        QTRY_VERIFY(server.done());
        QTest::mouseClick(Child<QToolButton>(reply, "cmdButton1"), Qt::LeftButton);
        QVERIFY(!reply || !reply->isVisible());
        QTRY_VERIFY(!reply);
        QTest::qWait(100);
        QCOMPARE(boxes.boxes.size(), 0);
        QCOMPARE(server.received().last(), QByteArray("HELO example.jp")); // no QUIT
    }
};

QTEST_MAIN(TestFrmReply)
#include "tst_frmreply.moc"
