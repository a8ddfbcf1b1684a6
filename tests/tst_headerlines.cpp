#include "HeaderLines.h"

#include <QTest>

class TestHeaderLines : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fold_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString l75 = QString(75, QLatin1Char('a'));
        QTest::newRow("75 characters stay") << l75 + "\r\n" << l75 + "\r\n";
        const QString w1 = QString(40, QLatin1Char('a')), w2 = QString(35, QLatin1Char('b'));
        QTest::newRow("76 in two words") << w1 + " " + w2 + "\r\n" << w1 + "\r\n " + w2 + "\r\n";
        const QString word = "=?ISO-2022-JP?B?" + QString(56, QLatin1Char('Q')) + "?=";
        QVERIFY(word.size() == 74);
        QTest::newRow("two 74-character words") << word + " " + word + "\r\n"
                                                << word + "\r\n " + word + "\r\n";
        const QString longWord = QString(90, QLatin1Char('x'));
        QTest::newRow("long word never split") << "A: " + longWord + "\r\n"
                                               << "A:\r\n " + longWord + "\r\n";
        QTest::newRow("several lines") << "a b\r\nc\r\n"
                                       << "a b\r\nc\r\n";
        QTest::newRow("double spaces kept") << "a  b\r\n"
                                            << "a  b\r\n";
    }
    void fold()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(FoldHeaderLines(input), expected);
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

        const auto lower = ScanHeaderLines("subject:x\r");
        QCOMPARE(lower.size(), 1);
        QCOMPARE(lower[0].name, QStringLiteral("SUBJECT"));
        QCOMPARE(HeaderFieldValue(lower[0]), QStringLiteral("x"));

        // The last line of a block is never joined; a status line matches nothing.
        const auto status = ScanHeaderLines("+OK 12 octets\r\nDate: d\r\n end\r");
        QCOMPARE(status.size(), 3);
        QCOMPARE(status[0].name, QStringLiteral("+OK 12 OCTETS\r"));
        QCOMPARE(status[1].line, QStringLiteral("Date: d\r"));
        QCOMPARE(status[2].line, QStringLiteral(" end\r"));

        QVERIFY(ScanHeaderLines(QString()).isEmpty());
        const auto noColon = ScanHeaderLines("abc\r\ndef");
        QCOMPARE(noColon.size(), 2); // the last line is never joined
        QCOMPARE(noColon[0].name, QString());
        QCOMPARE(noColon[0].line, QStringLiteral("abc\r"));
        QCOMPARE(noColon[1].line, QStringLiteral("def"));
    }

    void split_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::newRow("quoted with escapes") << "\"Sales \\\"East\\\" Team\" <user1@host1>"
                                             << "Sales \"East\" Team"
                                             << "user1@host1";
        QTest::newRow("unquoted") << "Sales Team <user1@host1>"
                                  << "Sales Team "
                                  << "user1@host1";
        QTest::newRow("address only") << "<user1@host1>"
                                      << ""
                                      << "user1@host1";
        QTest::newRow("bare address") << "user1@host1"
                                      << "user1@host1"
                                      << "";
        QTest::newRow("leading space") << " \"Sales\" <user1@host1>"
                                       << " \"Sales\" "
                                       << "user1@host1";
        QTest::newRow("empty quotes") << "\"\" <user1@host1>"
                                      << ""
                                      << "user1@host1";
        QTest::newRow("no closing bracket") << "A <user1@host1"
                                            << "A "
                                            << "user1@host1";
        QTest::newRow("quote without address") << "\"A\" user1@host1"
                                               << "A"
                                               << "";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
        QTest::newRow("unterminated quote") << "\"abc\\"
                                            << "abc\\"
                                            << "";
    }
    void split()
    {
        QFETCH(QString, value);
        QString name = "stale", address = "stale";
        SplitAddress(value, name, address);
        QTEST(name, "name");
        QTEST(address, "address");
    }
};

QTEST_APPLESS_MAIN(TestHeaderLines)
#include "tst_headerlines.moc"
