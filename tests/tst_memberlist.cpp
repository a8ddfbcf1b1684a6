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
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<bool>("failed");
        QTest::newRow("rows and a separator")
            << QByteArray(Cp932::Encode(QStringLiteral("佐藤")) + ";u1@h\r\n---;\r\n B ; u2@h \r\n")
            << Rows{{QStringLiteral("佐藤"), "u1@h"}, {"---", ""}, {" B ", " u2@h "}} << false;
        QTest::newRow("a;b;c") << QByteArray("a;b;c\r\n") << Rows{{"a", "b;c"}} << false;
        QTest::newRow("no terminator")
            << QByteArray("a;1\r\nb;2") << Rows{{"a", "1"}, {"b", "2"}} << false;
        QTest::newRow("lone CR ends a line")
            << QByteArray("a;1\rb;2\r") << Rows{{"a", "1"}, {"b", "2"}} << false;
        QTest::newRow("LF stays in the line")
            << QByteArray("a;1\nb;2\r\n") << Rows{{"a", "1\nb;2"}} << false;
        QTest::newRow("blank line stops")
            << QByteArray("a;1\r\n\r\nb;2\r\n") << Rows{{"a", "1"}} << true;
        QTest::newRow("fifth line without semicolon")
            << QByteArray("a;1\r\nb;2\r\nc;3\r\nd;4\r\nbad\r\ne;5\r\n")
            << Rows{{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}} << true;
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, failed);
        QFile f(path("members.lst"));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        const MemberListRead result = ReadMemberList(f.fileName());
        QTEST(result.rows, "rows");
        QCOMPARE(result.error, failed ? Msg::ErrBadArgument : QString());
    }

    void separatorAndOpenFailures()
    {
        QVERIFY((MemberRow{"---", ""}).isSeparator());
        QVERIFY(!(MemberRow{"---", "x"}).isSeparator());
        QVERIFY(!(MemberRow{"--- ", ""}).isSeparator());
        QCOMPARE(ReadMemberList(path("none.lst")).error, Msg::ErrFileNotFound);
        QCOMPARE(ReadMemberList(path("no/dir.lst")).error, Msg::ErrPathNotFound);
    }

    void writeAndReadBack()
    {
        const Rows rows{
            {QStringLiteral("佐藤"), "u1@h"}, {"---", ""}, {"a", "b;c"}, {" s ", " x "}};
        QCOMPARE(WriteMemberList(path("out.lst"), rows), QString());
        QFile f(path("out.lst"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(),
                 Cp932::Encode(QStringLiteral("佐藤")) + ";u1@h\r\n---;\r\na;b;c\r\n s ; x \r\n");
        QCOMPARE(ReadMemberList(path("out.lst")).rows, rows);
        QVERIFY(!WriteMemberList(path("no/dir.lst"), rows).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestMemberList)
#include "tst_memberlist.moc"
