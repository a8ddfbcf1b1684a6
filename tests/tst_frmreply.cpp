// The reply window: its layout, what it sends over its own SMTP job against a
// scripted server, and how it ends.

#include "AppMessages.h"
#include "FakeServer.h"
#include "JisConvert.h"
#include "frmReply.h"
#include "tst_windowhelpers.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {

const QString Quoted = QStringLiteral("折り返しお願いします。\n明日まで");

ReplySettings Replying(quint16 port)
{
    return {QStringLiteral("鈴木"), QStringLiteral("user2"), QStringLiteral("example.jp"),
            QStringLiteral("127.0.0.1"), QString::number(port)};
}

/// The server's side up to the reply to DATA for the recipients.
FakeServer &UpToData(FakeServer &server, const QList<QByteArray> &rcpts)
{
    server.send("220 fake").expect("HELO example.jp").send("250 ok");
    server.expect("MAIL FROM:<user2@example.jp>");
    for (const QByteArray &rcpt : rcpts)
        server.send("250 ok").expect("RCPT TO:<" + rcpt + ">");
    return server.send("250 ok").expect("DATA").send("354 go");
}

/// The mail as it came: its header lines and its body as text.
std::pair<QList<QByteArray>, QString> Mail(const QList<QByteArray> &received)
{
    const qsizetype data = received.indexOf("DATA") + 1;
    const qsizetype blank = received.indexOf(QByteArray(), data);
    const qsizetype end = received.lastIndexOf(".") - 1; // the empty line before "."
    QByteArray body;
    for (qsizetype i = blank + 1; i < end; ++i)
        body += received[i] + "\r\n";
    body.chop(2);
    return {received.mid(data, blank - data), JisToText(body)};
}

} // namespace

class TestFrmReply : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layoutShowsEverythingWhole()
    {
        const QString address = QStringLiteral("sato.taro@branch-office.example.jp");
        const QString name = QStringLiteral("総務部　佐藤太郎");
        auto *reply = new frmReply(Replying(1), address, name, Quoted);
        reply->show();
        QCOMPARE(reply->windowTitle(), QStringLiteral("返信 - Tavrino"));
        auto *frame = Child<QGroupBox>(reply, "frameTitle");
        for (const char *label : {"lblTitle2", "lblToName", "lblTo"}) {
            auto *l = Child<QLabel>(reply, label);
            QVERIFY2(l->width() >= l->fontMetrics().horizontalAdvance(l->text()), label);
            QVERIFY2(frame->contentsRect().contains(l->geometry()), label);
        }
        QCOMPARE(Text(reply, "lblTo"), address);
        QCOMPARE(Text(reply, "lblToName"), name);
        QCOMPARE(Text(reply, "txtMessage"),
                 QStringLiteral("\n\n---Original Message---\n") + Quoted);
        QCOMPARE(Text(reply, "sbrMsgPanel1"), QStringLiteral("鈴木"));
        QCOMPARE(Child<QToolButton>(reply, "cmdButton1")->accessibleName(),
                 QStringLiteral("ｷｬﾝｾﾙ(C)"));
        reply->close();
    }

    void sends_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("text"); // what the user leaves in the box; null: unchanged
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<QString>("body");
        QTest::newRow("unchanged") << "sato@example.jp" << QString() << false
                                   << QStringLiteral("\r\n\r\n---Original Message---\r\n"
                                                     "折り返しお願いします。\r\n明日まで");
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
        QList<QByteArray> rcpts;
        for (const QString &a : address.split(','))
            rcpts << a.toLatin1();
        UpToData(server, rcpts);
        // Header lines, the empty line, the body's lines, the empty line, ".".
        const qsizetype lines = 4 + 1 + (body.isEmpty() ? 0 : body.count('\n') + 1) + 2;
        for (qsizetype i = 0; i < lines; ++i)
            server.expect("(data)");
        server.send("250 ok").expect("QUIT").send("221 bye");
        QPointer<frmReply> reply = new frmReply(Replying(server.port()), address, "佐藤", Quoted);
        reply->show();
        if (!text.isNull())
            Child<QPlainTextEdit>(reply, "txtMessage")->setPlainText(text);
        Child<QCheckBox>(reply, "chkCover")->setChecked(sealed);
        QTest::mouseClick(Child<QToolButton>(reply, "cmdButton0"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!reply, 10000); // closes itself once the mail is accepted
        QTRY_VERIFY(server.done());
        const auto [header, received] = Mail(server.received());
        QVERIFY2(header[0].startsWith(sealed ? "Subject:*1   " : "Subject:*    "),
                 header[0].constData());
        QVERIFY2(header[0].endsWith(QByteArray(40, ' ')) && header[0].size() == 8 + 56,
                 header[0].constData()); // the two caller fields empty
        QCOMPARE(header[2], "To:" + address.toLatin1());
        QCOMPARE(received, body);
    }

    void refusedAddressKeepsTheWindow()
    {
        FakeServer server;
        server.send("220 fake").expect("HELO example.jp").send("250 ok");
        server.expect("MAIL FROM:<user2@example.jp>").send("250 ok");
        server.expect("RCPT TO:<nobody@example.jp>").send("550 5.1.1 no such user");
        auto *reply = new frmReply(Replying(server.port()), "nobody@example.jp", "誰か", Quoted);
        reply->show();
        Child<QPlainTextEdit>(reply, "txtMessage")->setPlainText(QStringLiteral("答え"));
        BoxCatcher boxes;
        auto *send = Child<QToolButton>(reply, "cmdButton0");
        QTest::mouseClick(send, Qt::LeftButton);
        QVERIFY(!send->isEnabled() && Child<QToolButton>(reply, "cmdButton1")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
        QCOMPARE(boxes.boxes[0], QStringLiteral("warning 返信 - Tavrino: recv:550 5.1.1 no such "
                                                "user\r\n宛先: nobody@example.jp"));
        QVERIFY(reply->isVisible() && send->isEnabled());
        QCOMPARE(Text(reply, "txtMessage"), QStringLiteral("答え"));
        reply->close();
    }

    void cancelDuringTransmissionClosesAtOnce()
    {
        FakeServer server; // greets, then never answers
        server.send("220 fake").expect("HELO example.jp");
        QPointer<frmReply> reply =
            new frmReply(Replying(server.port()), "sato@example.jp", "佐藤", Quoted);
        reply->show();
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
