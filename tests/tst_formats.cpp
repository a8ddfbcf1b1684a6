// The stored formats: the memo mail, the configuration file and the member list.

#include "Cp932.h"
#include "IniFile.h"
#include "MemberList.h"
#include "MemoMail.h"
#include "Messages.h"

#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

using Rows = QList<MemberRow>;

namespace {

const QDateTime When(QDate(2026, 12, 6), QTime(9, 30));
const MemoSender Sender{u"総務部"_s, u"user1"_s, u"host1"_s};

const auto Build = [](QChar kind, bool sealed, const QString &department, const QString &caller,
                      const QString &text, const QStringList &to = {"a@b"}) {
    return BuildMemoMail(kind, sealed, department, caller, text, to, Sender, When);
};

/// The POP3 server's RETR answer for a mail this program sent, as on the wire.
QByteArray RetrAnswer(const MemoValues &memo)
{
    QByteArray data = memo.MemoBody.toLatin1();
    data.insert(data.indexOf("\r\n\r\n") + 2,
                "Message-Id: <1@host1>\r\nDate: Sun, 6 Dec 2026 09:30:00 +0900\r\n");
    data = "Return-Path: <user1@host1>\r\n" + data + "\r\n\r\n";
    return "+OK 500 octets\r\n" + data.replace("\r\n.", "\r\n..") + ".\r\n";
}

QString Shown(const MemoValues &memo)
{
    const MemoView v = ViewOfMemo(memo);
    return QStringList{v.kind, v.sealed ? "sealed" : "open", v.time, v.department, v.caller, v.text}
        .join('|');
}

} // namespace

class TestFormats : public QObject
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
    void builtAndReadBack()
    {
        const MemoValues memo =
            Build('0', false, u"営業部"_s, u"担当者"_s, u"折り返しお願いします。\r\n内線123まで"_s,
                  {u"user2@host1"_s, u"user3@host1"_s});
        QCOMPARE(
            memo.MemoBody.toLatin1(),
            "Subject:0    12/06 09:30 =?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?=" + QByteArray(16, ' ') +
                "\r\n   =?ISO-2022-JP?B?GyRCQzRFdjxUGyhC?=" + QByteArray(18, ' ') +
                "\r\nFrom:\" =?ISO-2022-JP?B?GyRCQW1MM0l0GyhC?= \" <user1@host1>\r\n"
                "To:user2@host1,user3@host1\r\n"
                "Content-Type: text/plain; charset=iso-2022-jp\r\n\r\n"
                "\x1b$B@^$jJV$7$*4j$$$7$^$9!#\x1b(B\r\n\x1b$BFb@~\x1b(B123\x1b$B$^$G\x1b(B");

        const ReadMail read = ParseRetrAnswer(RetrAnswer(memo));
        QCOMPARE(read.memo.MemoFromName + '|' + read.memo.MemoFromAddress + '|' +
                     read.memo.MemoMessageId + '|' + read.memo.MemoDate,
                 u"総務部|user1@host1| <1@host1>| Sun, 6 Dec 2026 09:30:00 +0900"_s);
        QCOMPARE(Shown(read.memo),
                 u"0|open|12/06 09:30|営業部|担当者|折り返しお願いします。\r\n内線123まで\r\n"_s);
        QCOMPARE(read.row.From, u"\" 総務部 \" <user1@host1>"_s);
        const MemoValues ascii = Build('*', true, "ACME", "Bob", "call me");
        QVERIFY(ascii.MemoHeader.endsWith("Content-Type: text/plain; charset=us-ascii\r\n\r\n"));
        QVERIFY(ascii.MemoBody.endsWith("\r\n\r\ncall me"));
        QVERIFY(ascii.MemoSubject.startsWith("*1   12/06 09:30ACME"));
        // Fields are cut to 20 characters; 19 kana need two encoded-words.
        const MemoValues cut = Build('3', false, QString(19, QChar(0x3042)), QString(25, 'x'), "");
        QCOMPARE(cut.MemoSubject.size(), 56);
        const QString subject = ParseRetrAnswer(RetrAnswer(cut)).memo.MemoSubject;
        const QRegularExpression split(QString(18, QChar(0x3042)) + " +" + QChar(0x3042) + " ");
        QVERIFY2(subject.contains(split), qPrintable(subject));
        // Dot lines come back as typed; kana widened one for one, not combined.
        const MemoValues dots = Build('2', true, u"ｶﾞｽ"_s, "", ".xyz\r\n.\r\n..ｶﾞｽ");
        QCOMPARE(Shown(ParseRetrAnswer(RetrAnswer(dots)).memo),
                 u"2|sealed|12/06 09:30|カ゛ス||.xyz\r\n.\r\n..ガス\r\n"_s);
    }

    void fieldsTrimOnlySpaces_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("ideographic spaces") << u"\u3000営業部\u3000"_s << u"\u3000営業部\u3000"_s;
        QTest::newRow("tab and no-break space") << u"\t営業部\u00A0"_s << u"\t営業部\u00A0"_s;
        QTest::newRow("spaces") << u"  営業部 "_s << u"営業部"_s;
    }
    void fieldsTrimOnlySpaces()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        const MemoValues memo =
            BuildMemoMail('0', false, typed, typed, "", {"a@b"}, {typed, "user1", "host1"}, When);
        QCOMPARE(memo.MemoSubject,
                 "0    12/06 09:30" + kept.leftJustified(20) + kept.leftJustified(20));
        QCOMPARE(memo.MemoFromName, kept);
    }

    void injectionIsImpossible()
    {
        const MemoValues memo = BuildMemoMail(
            '0', false, "A\r\nBcc: x@y", "C\rD\x1b$B", "line1\nline2\rline3\x0e",
            {"a@b\r\nRCPT TO:<z@z>", "c@d"}, {"N\"ame\r\nX-Evil: 1", "user1", "host1"}, When);
        const QByteArray wire = memo.MemoBody.toLatin1();
        const QByteArray header = wire.left(wire.indexOf("\r\n\r\n") + 2);
        for (const char *forged : {"\r\nBcc", "\r\nX-Evil", "\r\nRCPT", "\x1b"})
            QVERIFY2(!header.contains(forged), header.constData());
        QVERIFY(header.contains("From:\"N\\\"ame X-Evil: 1\" <user1@host1>"));
        QCOMPARE(memo.MemoTo, u"a@bRCPT TO:<z@z>,c@d"_s);
        QCOMPARE(wire.mid(wire.indexOf("\r\n\r\n") + 4), QByteArray("line1\r\nline2\r\nline3?"));
        QCOMPARE(wire.count('\r') + wire.count('\n'), 2 * wire.count("\r\n"));
    }

    void senderWithoutBreaks_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QString>("read"); // name|address|list row's From
        const auto row = [](const char *name, const QByteArray &from, const QString &read) {
            QTest::newRow(name) << from << read;
        };
        row("another mailer", " \"A\" <a@b>", "\"A\"|a@b|\"A\" <a@b>");
        row("bare LF in the address", "A <a@b\nRCPT TO:<x@y>>",
            "A|a@bRCPT TO:<x@y|A <a@bRCPT TO:<x@y>>");
        row("NUL and LF in a quoted name", QByteArray("\"B\0\nC\" <a@b>", 12),
            "BC|a@b|\"BC\" <a@b>");
        row("CR LF in an encoded name",
            "=?ISO-2022-JP?B?" + QByteArray("D\r\nE").toBase64() + "?= <a@b>", "DE|a@b|DE <a@b>");
    }
    void senderWithoutBreaks()
    {
        QFETCH(QByteArray, from);
        const ReadMail r = ParseRetrAnswer("+OK\r\nFrom:" + from + "\r\n\r\nx\r\n.\r\n");
        QTEST(QString(r.memo.MemoFromName + '|' + r.memo.MemoFromAddress + '|' + r.row.From),
              "read");
    }

    void keys_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<bool>("same");
        const auto row = [](const char *name, const QByteArray &a, const QByteArray &b, bool same) {
            QTest::newRow(name) << "+OK\r\n" + a + "\r\n.\r\n"
                                << "+OK 9 octets\r\n" + b + "\r\n.\r\n"
                                << same;
        };
        const QByteArray id = "Message-ID: <m@x>\r\n\r\n";
        const QByteArray folded = "Message-ID:\r\n <f@x>\r\nTo: y\r\n\r\n";
        row("one Message-ID, other texts", id + "one", id + "two", false);
        row("folded Message-ID, other texts", folded + "1", folded + "2", false);
        row("no Message-ID, other texts", "Subject:x\r\n\r\n1", "Subject:x\r\n\r\n2", false);
        row("dot lines, other texts", id + "..a", id + "..b", false);
        row("one message", id + "..a", id + "..a", true);
    }
    void keys()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        const ReadMail a = ParseRetrAnswer(first), b = ParseRetrAnswer(second);
        QTEST(a.row.Key == b.row.Key, "same");
        for (const auto &[answer, read] : {std::pair{first, a}, std::pair{second, b}})
            QVERIFY(read.row.Key.startsWith(read.row.MessageId + '#') &&
                    read.memo.MemoKey == read.row.Key && MemoKeyOf(answer) == read.row.Key);
    }

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
        const mode_t mask = ::umask(022); // the usual mask, which leaves new files readable
        const bool written = set("Top", " 1200") && set("Left", " 2880");
        ::umask(mask);
        QVERIFY(written);
        QCOMPARE(read(), QByteArray("[Tavrino]\r\nTop= 1200\r\nLeft= 2880\r\n"));
        const auto mode = [this] {
            return QString::number(QFile::permissions(m_path) & 0x777, 16);
        };
        QCOMPARE(mode(), u"600"_s); // a new file is the owner's alone
        write("; note\r\n[Tavrino]\r\nUserID=u\r\ntop=5\r\nList=a.lst\r\n\r\n[Other]\r\nTop=9\r\n");
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0640) == 0);
        QVERIFY(set("Top", " 1200") && set("Left", " 15"));
        QCOMPARE(read(), QByteArray("; note\r\n[Tavrino]\r\nUserID=u\r\nTop= 1200\r\n"
                                    "List=a.lst\r\nLeft= 15\r\n\r\n[Other]\r\nTop=9\r\n"));
        QCOMPARE(mode(), u"640"_s); // an existing one keeps its mode
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
            QCOMPARE(get(u"UserName"_s), u"総務部 佐藤"_s);
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

QTEST_APPLESS_MAIN(TestFormats)
#include "tst_formats.moc"
