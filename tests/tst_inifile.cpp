#include "Cp932.h"
#include "IniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestIniFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString write(const QByteArray &content)
    {
        QFile f(m_dir.filePath(QStringLiteral("Tavrino.ini")));
        f.remove();
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return f.fileName();
    }
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    static QString get(const QString &path, const QString &key)
    {
        return IniFile(path).GetIniParm(QStringLiteral("Tavrino"), key);
    }

private Q_SLOTS:
    void readRules()
    {
        const QList<std::tuple<QByteArray, QString, QString>> rows{
            {"[tavrino]\r\nuserid=user1\r\n", "UserID", "user1"},
            {"[Tavrino]\r\n  UserID =  user1 \t\r\n", "UserID", "user1"},
            {"[Tavrino]\r\nUserID=user1\r\n", "Domain", ""},
            {"[Other]\r\nUserID=x\r\n[Tavrino]\r\n", "UserID", ""},
            {"[Tavrino]\nA=1\nA=2\n", "A", "1"},
            {"[Tavrino]\r\nList=" + QByteArray(300, 'x') + "\r\n", "List", QString(254, 'x')},
            {"[Tavrino]\r\nN=" + Cp932::Encode(QStringLiteral("総務部")), "N", "総務部"},
        };
        for (const auto &[content, key, expected] : rows)
            QCOMPARE(get(write(content), key), expected);
        QCOMPARE(get(m_dir.filePath(QStringLiteral("none.ini")), QStringLiteral("A")), QString());
    }

    void writeCreatesFileAndSection()
    {
        IniFile ini(m_dir.filePath(QStringLiteral("new.ini")));
        QVERIFY(ini.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("Top"), " 1200"));
        QVERIFY(ini.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("Left"), " 2880"));
        QCOMPARE(read(m_dir.filePath(QStringLiteral("new.ini"))),
                 QByteArray("[Tavrino]\r\nTop= 1200\r\nLeft= 2880\r\n"));
    }

    void writeReplacesInPlaceAndKeepsOtherLines()
    {
        const QString path = write("; note\r\n[Tavrino]\r\nUserID=u\r\ntop=5\r\nList=a.lst\r\n\r\n"
                                   "[Other]\r\nTop=9\r\n");
        IniFile ini(path);
        QVERIFY(ini.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("Top"), " 1200"));
        QVERIFY(ini.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("Left"), " 15"));
        QCOMPARE(read(path), QByteArray("; note\r\n[Tavrino]\r\nUserID=u\r\nTop= 1200\r\n"
                                        "List=a.lst\r\nLeft= 15\r\n\r\n[Other]\r\nTop=9\r\n"));
        QCOMPARE(get(path, QStringLiteral("TOP")), QStringLiteral("1200"));
        QVERIFY(ini.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("A"), "x\r\nB=y"));
        QCOMPARE(get(path, QStringLiteral("B")), QString()); // a value adds no line
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
        QFETCH(QString, mode);
        const QString path = m_dir.filePath(QStringLiteral("mode.ini"));
        QFile::remove(path);
        if (existingMode >= 0) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(::fchmod(file.handle(), mode_t(existingMode)) == 0);
        }
        const mode_t mask = ::umask(022); // the usual mask, which leaves new files readable
        const bool written = IniFile(path).SetIniParm(QStringLiteral("Tavrino"),
                                                      QStringLiteral("Password"), "secret");
        ::umask(mask);
        QVERIFY(written);
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(QString::number(st.st_mode & 07777, 8), mode);
    }

    void writeFailures()
    {
        const QString path = write("[Tavrino]\r\nTop=1\r\n");
        QFile::setPermissions(path, QFile::ReadOwner);
        QVERIFY(!IniFile(path).SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("Top"), " 2"));
        QCOMPARE(read(path), QByteArray("[Tavrino]\r\nTop=1\r\n"));
        QCOMPARE(IniWriteErrorText(path), path + " ファイルの書き込み時にエラーが発生しました。");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        IniFile missing(m_dir.filePath(QStringLiteral("no/such/Tavrino.ini")));
        QVERIFY(!missing.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("Top"), " 2"));
    }

    void twips()
    {
        const QList<std::pair<QString, int>> forms{
            {" 1200", 1200}, {"1200", 1200}, {"", 0},         {"-300", -300}, {"2.5", 2},
            {"3.5", 4},      {"12ab", 12},   {"1.5E3", 1500}, {"abc", 0},     {"99999", 32767}};
        for (const auto &[text, value] : forms)
            QCOMPARE(int(ParseTwips(text)), value);
        QCOMPARE(FormatTwips(2880), QStringLiteral(" 2880"));
        QCOMPARE(FormatTwips(0), QStringLiteral(" 0"));
        QCOMPARE(FormatTwips(-150), QStringLiteral("-150"));
    }
};

QTEST_APPLESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
