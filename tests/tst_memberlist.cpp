#include "Cp932.h"
#include "MemberList.h"
#include "Messages.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Rows = QList<MemberRow>;
Q_DECLARE_METATYPE(Rows)

class TestMemberList : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString write(const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("members.lst"));
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(content);
        return path;
    }

private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<bool>("failed");
        const QByteArray sato = Cp932::Encode(QStringLiteral("佐藤"));
        QTest::newRow("empty file") << QByteArray() << Rows{} << false;
        QTest::newRow("two rows and a separator")
            << QByteArray(sato + ";user1@host1\r\n---;\r\nB;user2@host1\r\n")
            << Rows{{QStringLiteral("佐藤"), "user1@host1"}, {"---", ""}, {"B", "user2@host1"}}
            << false;
        QTest::newRow("two semicolons") << QByteArray("a;b;c\r\n") << Rows{{"a", "b;c"}} << false;
        QTest::newRow("leading semicolon") << QByteArray(";x\r\n") << Rows{{"", "x"}} << false;
        QTest::newRow("no terminator")
            << QByteArray("a;1\r\nb;2") << Rows{{"a", "1"}, {"b", "2"}} << false;
        QTest::newRow("lone CR ends a line")
            << QByteArray("a;1\rb;2\r") << Rows{{"a", "1"}, {"b", "2"}} << false;
        QTest::newRow("LF stays in the line")
            << QByteArray("a;1\nb;2\r\n") << Rows{{"a", "1\nb;2"}} << false;
        QTest::newRow("spaces kept") << QByteArray(" a ; x \r\n") << Rows{{" a ", " x "}} << false;
        QTest::newRow("blank line stops")
            << QByteArray("a;1\r\n\r\nb;2\r\n") << Rows{{"a", "1"}} << true;
        QTest::newRow("fifth line without semicolon")
            << QByteArray("a;1\r\nb;2\r\nc;3\r\nd;4\r\nbad\r\ne;5\r\n")
            << Rows{{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}} << true;
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(Rows, rows);
        QFETCH(bool, failed);
        const MemberListRead result = ReadMemberList(write(content));
        QCOMPARE(result.rows, rows);
        QCOMPARE(!result.error.isEmpty(), failed);
        if (failed)
            QCOMPARE(result.error, Msg::ErrBadArgument);
    }

    void separatorRow()
    {
        QVERIFY((MemberRow{"---", ""}).isSeparator());
        QVERIFY(!(MemberRow{"---", "x"}).isSeparator());
        QVERIFY(!(MemberRow{"--- ", ""}).isSeparator());
    }

    void openFailures()
    {
        QCOMPARE(ReadMemberList(m_dir.filePath(QStringLiteral("none.lst"))).error,
                 Msg::ErrFileNotFound);
        QCOMPARE(ReadMemberList(m_dir.filePath(QStringLiteral("no/dir.lst"))).error,
                 Msg::ErrPathNotFound);
        QVERIFY(!ReadMemberList(QString()).error.isEmpty());
        QVERIFY(ReadMemberList(QString()).rows.isEmpty());
    }

    void writeAndReadBack()
    {
        const Rows rows{
            {QStringLiteral("佐藤"), "user1@host1"}, {"---", ""}, {"a", "b;c"}, {" sp ", " x "}};
        const QString path = m_dir.filePath(QStringLiteral("out.lst"));
        QCOMPARE(WriteMemberList(path, rows), QString());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), Cp932::Encode(QStringLiteral("佐藤")) +
                                  ";user1@host1\r\n---;\r\na;b;c\r\n sp ; x \r\n");
        QCOMPARE(ReadMemberList(path).rows, rows);
        QVERIFY(!WriteMemberList(m_dir.filePath(QStringLiteral("no/dir.lst")), rows).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestMemberList)
#include "tst_memberlist.moc"
