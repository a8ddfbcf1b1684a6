#include "HeaderLines.h"

#include <QTest>

#include <array>

class TestHeaderLines : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fold()
    {
        const QString l75(75, 'a'), w40(40, 'a'), w35(35, 'b'), x90(90, 'x');
        const QString word = "=?ISO-2022-JP?B?" + QString(56, 'Q') + "?="; // 74 characters
        QCOMPARE(FoldHeaderLines(l75 + "\r\n"), l75 + "\r\n");
        QCOMPARE(FoldHeaderLines(w40 + " " + w35 + "\r\n"), w40 + "\r\n " + w35 + "\r\n");
        QCOMPARE(FoldHeaderLines(word + " " + word + "\r\n"), word + "\r\n " + word + "\r\n");
        QCOMPARE(FoldHeaderLines("A: " + x90 + "\r\n"), "A:\r\n " + x90 + "\r\n"); // never split
        QCOMPARE(FoldHeaderLines("a  b\r\nc\r\n"), QStringLiteral("a  b\r\nc\r\n"));
    }

    void scan()
    {
        const auto lines = ScanHeaderLines("Subject: A\r\n B\r\nFrom: x\r");
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0].name, QStringLiteral("SUBJECT"));
        QCOMPARE(lines[0].line, QStringLiteral("Subject: A   B\r"));
        QCOMPARE(HeaderFieldValue(lines[0]), QStringLiteral(" A   B"));
        QCOMPARE(lines[1].name, QStringLiteral("FROM"));
        QCOMPARE(HeaderFieldValue(lines[1]), QStringLiteral(" x"));

        // A continuation holding a colon (a time) is a line of its own.
        const auto timed = ScanHeaderLines("Subject: A\r\n at 12:30\r\nTo: y\r");
        QCOMPARE(timed.size(), 3);
        QCOMPARE(timed[0].line, QStringLiteral("Subject: A\r"));
        QCOMPARE(timed[1].name, QStringLiteral(" AT 12"));
        QCOMPARE(timed[2].name, QStringLiteral("TO"));

        // The last line of a block is never joined; a status line matches nothing.
        const auto status = ScanHeaderLines("+OK 12 octets\r\nDate: d\r\n end");
        QCOMPARE(status.size(), 3);
        QCOMPARE(status[0].name, QStringLiteral("+OK 12 OCTETS\r"));
        QCOMPARE(status[1].line, QStringLiteral("Date: d\r"));
        QCOMPARE(status[2].line, QStringLiteral(" end"));
        QCOMPARE(HeaderFieldValue(ScanHeaderLines("subject:x\r").value(0)), QStringLiteral("x"));
        QVERIFY(ScanHeaderLines(QString()).isEmpty());
    }

    void split()
    {
        const QList<std::array<QString, 3>> rows{
            // value, name, address
            {"\"Sales \\\"East\\\" Team\" <user1@host1>", "Sales \"East\" Team", "user1@host1"},
            {"Sales Team <user1@host1>", "Sales Team ", "user1@host1"},
            {"<user1@host1>", "", "user1@host1"},
            {"user1@host1", "user1@host1", ""},
            {" \"Sales\" <user1@host1>", " \"Sales\" ", "user1@host1"},
            {"A <user1@host1", "A ", "user1@host1"},
            {"\"A\" user1@host1", "A", ""},
            {"\"abc\\", "abc\\", ""},
        };
        for (const auto &[value, expectedName, expectedAddress] : rows) {
            QString name = "stale", address = "stale";
            SplitAddress(value, name, address);
            QCOMPARE(name, expectedName);
            QCOMPARE(address, expectedAddress);
        }
    }
};

QTEST_APPLESS_MAIN(TestHeaderLines)
#include "tst_headerlines.moc"
