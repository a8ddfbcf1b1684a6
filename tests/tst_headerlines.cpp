#include "HeaderLines.h"

#include <QtTest>

#include <array>

using namespace Qt::StringLiterals;

class TestHeaderLines : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void foldValueAndAddress()
    {
        const QString l75(75, 'a'), w40(40, 'a'), w35(35, 'b'), x90(90, 'x');
        const QString word = "=?ISO-2022-JP?B?" + QString(56, 'Q') + "?="; // 74 characters
        QCOMPARE(FoldHeaderLines(l75 + "\r\n"), l75 + "\r\n");
        QCOMPARE(FoldHeaderLines(w40 + " " + w35 + "\r\n"), w40 + "\r\n " + w35 + "\r\n");
        QCOMPARE(FoldHeaderLines(word + " " + word + "\r\n"), word + "\r\n " + word + "\r\n");
        QCOMPARE(FoldHeaderLines("A: " + x90 + "\r\n"), "A:\r\n " + x90 + "\r\n"); // never split
        QCOMPARE(FoldHeaderLines("a  b\r\nc\r\n"), u"a  b\r\nc\r\n"_s);
        const auto lines = ScanHeaderLines("Subject: A\r\n B\r\nsubject:x\r");
        QCOMPARE(HeaderFieldValue(lines.value(0)) + '|' + HeaderFieldValue(lines.value(1)),
                 u" A   B|x"_s);
        const QList<std::array<QString, 3>> rows{
            {"\"Sales \\\"East\\\" Team\" <user1@host1>", "Sales \"East\" Team", "user1@host1"},
            {"Sales Team <user1@host1>", "Sales Team ", "user1@host1"},
            {"<user1@host1>", "", "user1@host1"},
            {"user1@host1", "user1@host1", ""},
            {" \"Sales\" <user1@host1>", " \"Sales\" ", "user1@host1"},
            {"A <user1@host1", "A ", "user1@host1"},
            {"\"A\" user1@host1", "A", ""},
            {"\"abc\\", "abc\\", ""},
        };
        for (const auto &[value, name, address] : rows) {
            QString gotName = "stale", gotAddress = "stale";
            SplitAddress(value, gotName, gotAddress);
            QCOMPARE(gotName + u'|' + gotAddress, name + u'|' + address);
        }
    }

    void scan_data()
    {
        QTest::addColumn<QString>("block");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("folded") << "Subject: A\r\n B\r\nFrom: x\r" << QStringList{"SUBJECT", "FROM"}
                                << QStringList{"Subject: A   B\r", "From: x\r"};
        QTest::newRow("colon in continuation")
            << "Subject: A\r\n at 12:30\r\nTo: y\r" << QStringList{"SUBJECT", " AT 12", "TO"}
            << QStringList{"Subject: A\r", " at 12:30\r", "To: y\r"};
        // The last line of a block is never joined; a status line matches nothing.
        QTest::newRow("status and last line")
            << "+OK 12 octets\r\nDate: d\r\n end" << QStringList{"+OK 12 OCTETS\r", "DATE", ""}
            << QStringList{"+OK 12 octets\r", "Date: d\r", " end"};
        QTest::newRow("empty") << QString() << QStringList() << QStringList();
        // Joining must not start over for every continuation line.
        QString block = "Subject: a", joined = block;
        for (int i = 0; i < 1'000'000; ++i)
            block += "\r\n w", joined += "   w";
        QTest::newRow("long fold") << block + "\r\nTo: y\r" << QStringList{"SUBJECT", "TO"}
                                   << QStringList{joined + "\r", "To: y\r"};
    }
    void scan()
    {
        QFETCH(QString, block);
        QStringList names, lines;
        for (const HeaderLine &line : ScanHeaderLines(block))
            names << line.name, lines << line.line;
        QTEST(names, "names");
        QTEST(lines, "lines");
    }
};

QTEST_APPLESS_MAIN(TestHeaderLines)
#include "tst_headerlines.moc"
