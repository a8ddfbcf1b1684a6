#include "Cp932.h"
#include "IniFile.h"
#include "MemberList.h"
#include "Messages.h"

#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

using Rows = QList<MemberRow>;

class TestIniFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_path = m_dir.filePath(u"Tavrino.ini"_s);
    const QString m_list = m_dir.filePath(u"members.lst"_s);
    QByteArray read(const QString &path = {}) const
    {
        QFile f(path.isEmpty() ? m_path : path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void write(const QByteArray &content, const QString &path = {}) const
    {
        QFile f(path.isEmpty() ? m_path : path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) >= 0);
    }
    bool set(const QString &key, const QByteArray &value) const
    {
        return IniFile(m_path).SetIniParm(u"Tavrino"_s, key, value);
    }
    QString get(const QString &key) const { return IniFile(m_path).GetIniParm(u"Tavrino"_s, key); }

private Q_SLOTS:
    void readRulesAndTwips()
    {
        QCOMPARE(get(u"A"_s), QString()); // no file
        const QList<std::tuple<QByteArray, QString, QString>> rows{
            {"[tavrino]\r\nuserid=user1\r\n", "UserID", "user1"},
            {"[Tavrino]\r\n  UserID =  user1 \t\r\n", "UserID", "user1"},
            {"[Tavrino]\r\nUserID=user1\r\n", "Domain", ""},
            {"[Other]\r\nUserID=x\r\n[Tavrino]\r\n", "UserID", ""},
            {"[Tavrino]\nA=1\nA=2\n", "A", "1"},
            {"[Tavrino]\r\nList=" + QByteArray(300, 'x') + "\r\n", "List", QString(254, 'x')},
            {"[Tavrino]\r\nN=" + Cp932::Encode(u"総務部"_s), "N", "総務部"},
            {"\xEF\xBB\xBF[Tavrino]\r\nUserName=総務部 佐藤\r\n", "UserName", "総務部 佐藤"},
            {"[Tavrino]\r\nUserName=総務部 佐藤\r\n", "UserName", "総務部 佐藤"},
            {"[Tavrino]\r\nN=" + u"総"_s.repeated(100).toUtf8(), "N", u"総"_s.repeated(84)},
            {"[Tavrino]\r\nN=" + Cp932::Encode(u"ﾃｽﾄ"_s), "N", "ﾃｽﾄ"}, // starts as valid UTF-8
        };
        for (const auto &[content, key, expected] : rows) {
            write(content);
            QCOMPARE(get(key), expected);
        }
        const QList<std::pair<QString, int>> forms{
            {" 1200", 1200}, {"1200", 1200}, {"", 0},         {"-300", -300}, {"2.5", 2},
            {"3.5", 4},      {"12ab", 12},   {"1.5E3", 1500}, {"abc", 0},     {"99999", 32767}};
        for (const auto &[text, value] : forms)
            QCOMPARE(int(ParseTwips(text)), value);
        QCOMPARE(FormatTwips(2880) + FormatTwips(0) + FormatTwips(-150), u" 2880 0-150"_s);
    }

    void writeInPlaceOrFail()
    {
        QFile::remove(m_path);
        QVERIFY(set("Top", " 1200") && set("Left", " 2880"));
        QCOMPARE(read(), QByteArray("[Tavrino]\r\nTop= 1200\r\nLeft= 2880\r\n"));
        write("; note\r\n[Tavrino]\r\nUserID=u\r\ntop=5\r\nList=a.lst\r\n\r\n[Other]\r\nTop=9\r\n");
        QVERIFY(set("Top", " 1200") && set("Left", " 15"));
        QCOMPARE(read(), QByteArray("; note\r\n[Tavrino]\r\nUserID=u\r\nTop= 1200\r\n"
                                    "List=a.lst\r\nLeft= 15\r\n\r\n[Other]\r\nTop=9\r\n"));
        QVERIFY(set("A", "x\r\nB=y"));
        QCOMPARE(get(u"B"_s), QString()); // a value adds no line
        write("[Tavrino]\r\nTop=1\r\n");
        QFile::setPermissions(m_path, QFile::ReadOwner);
        QVERIFY(!set("Top", " 2"));
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(read(), QByteArray("[Tavrino]\r\nTop=1\r\n"));
        QCOMPARE(IniWriteErrorText(m_path),
                 m_path + " ファイルの書き込み時にエラーが発生しました。");
        QVERIFY(
            !IniFile(m_dir.filePath(u"no/such/Tavrino.ini"_s)).SetIniParm("Tavrino", "Top", " 2"));
    }

    void writeModes_data()
    {
        QTest::addColumn<int>("existingMode"); // -1: no file yet
        QTest::addColumn<QString>("mode");
        QTest::newRow("new file, for the owner alone") << -1 << "600";
        QTest::newRow("existing file keeps its mode") << 0640 << "640";
    }
    void writeModes()
    {
        QFETCH(int, existingMode);
        QFile::remove(m_path);
        if (existingMode >= 0) {
            write({});
            QVERIFY(::chmod(QFile::encodeName(m_path).constData(), mode_t(existingMode)) == 0);
        }
        const mode_t mask = ::umask(022); // the usual mask, which leaves new files readable
        const bool written = set("Password", "secret");
        ::umask(mask);
        QVERIFY(written);
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &st), 0);
        QTEST(QString::number(st.st_mode & 07777, 8), "mode");
    }

    void memberList_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const QByteArray &content, const Rows &rows,
                            const QString &error = {}) {
            QTest::newRow(name) << content << rows << error;
        };
        row("a;b;c", "a;b;c\r\n", {{"a", "b;c"}});
        row("no terminator", "a;1\r\nb;2", {{"a", "1"}, {"b", "2"}});
        row("lone CR ends a line", "a;1\rb;2\r", {{"a", "1"}, {"b", "2"}});
        row("LF stays in the line", "a;1\nb;2\r\n", {{"a", "1\nb;2"}});
        row("blank line stops", "a;1\r\n\r\nb;2\r\n", {{"a", "1"}}, Msg::ErrBadArgument);
    }
    void memberList()
    {
        QFETCH(QByteArray, content);
        write(content, m_list);
        const MemberListRead result = ReadMemberList(m_list);
        QTEST(result.rows, "rows");
        QTEST(result.error, "error");
    }

    void memberListWriteAndFailures()
    {
        const Rows rows{{u"佐藤"_s, "u1@h"}, {"---", ""}, {"a", "b;c"}, {" s ", " x "}};
        QCOMPARE(WriteMemberList(m_list, rows), QString());
        QCOMPARE(read(m_list), Cp932::Encode(u"佐藤"_s) + ";u1@h\r\n---;\r\na;b;c\r\n s ; x \r\n");
        QCOMPARE(ReadMemberList(m_list).rows, rows);
        QVERIFY(!WriteMemberList(m_dir.filePath(u"no/dir.lst"_s), rows).isEmpty());
        QVERIFY((MemberRow{"---", ""}.isSeparator() && !MemberRow{"---", "x"}.isSeparator() &&
                 !MemberRow{"--- ", ""}.isSeparator()));
        QCOMPARE(ReadMemberList(m_dir.filePath(u"none.lst"_s)).error, Msg::ErrFileNotFound);
        QCOMPARE(ReadMemberList(m_dir.filePath(u"no/dir.lst"_s)).error, Msg::ErrPathNotFound);
    }

    void utf8StaysUtf8()
    {
        for (const QByteArray &start : {QByteArray("\xEF\xBB\xBF"), QByteArray()}) {
            write(start + "[Tavrino]\r\nUserName=総務部 佐藤\r\n");
            QVERIFY(set("Domain", "営業部"));
            QCOMPARE(read(), start + "[Tavrino]\r\nUserName=総務部 佐藤\r\nDomain=営業部\r\n");
            write(start + "総務部 佐藤;u1@h\r\nstop\r\n", m_list);
            const MemberListRead list = ReadMemberList(m_list);
            QCOMPARE(list.rows, (Rows{{u"総務部 佐藤"_s, "u1@h"}}));
            QCOMPARE(WriteMemberList(m_list, list.rows + Rows{{u"鈴木"_s, "u2@h"}}, list.unread),
                     QString());
            QCOMPARE(read(m_list), start + "総務部 佐藤;u1@h\r\n鈴木;u2@h\r\nstop\r\n");
        }
        QFile::remove(m_path); // a new file is code page 932
        QVERIFY(set("UserName", "佐藤"));
        QCOMPARE(read(), "[Tavrino]\r\nUserName=" + Cp932::Encode(u"佐藤"_s) + "\r\n");
    }
};

QTEST_APPLESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
