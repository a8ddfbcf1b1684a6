#include "Cp932.h"
#include "IniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestIniFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString write(const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("Tavrino.ini"));
        QFile::remove(path);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return path;
    }
    QByteArray read(const QString &path)
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QByteArray("[Tavrino]\r\nUserID=user1\r\n") << "UserID"
                               << "user1";
        QTest::newRow("other case") << QByteArray("[tavrino]\r\nuserid=user1\r\n") << "UserID"
                                    << "user1";
        QTest::newRow("blanks around")
            << QByteArray("[Tavrino]\r\n  UserID =  user1 \t\r\n") << "UserID"
            << "user1";
        QTest::newRow("absent key") << QByteArray("[Tavrino]\r\nUserID=user1\r\n") << "Domain"
                                    << "";
        QTest::newRow("other section")
            << QByteArray("[Other]\r\nUserID=x\r\n[Tavrino]\r\n") << "UserID"
            << "";
        QTest::newRow("empty value") << QByteArray("[Tavrino]\r\nPassword=\r\n") << "Password"
                                     << "";
        QTest::newRow("LF endings") << QByteArray("[Tavrino]\nDomain=host1\n") << "Domain"
                                    << "host1";
        QTest::newRow("code page 932") << (QByteArray("[Tavrino]\r\nUserName=") +
                                           Cp932::Encode(QStringLiteral("総務部")) + "\r\n")
                                       << "UserName" << QStringLiteral("総務部");
        QTest::newRow("254 cut") << "[Tavrino]\r\nList=" + QByteArray(300, 'x') + "\r\n"
                                 << "List" << QString(254, QLatin1Char('x'));
        QTest::newRow("first of two") << QByteArray("[Tavrino]\r\nA=1\r\nA=2\r\n") << "A"
                                      << "1";
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QTEST(IniFile(write(content)).GetIniParm(QStringLiteral("Tavrino"), key), "expected");
    }

    void missingFileReadsEmpty()
    {
        IniFile ini(m_dir.filePath(QStringLiteral("none.ini")));
        QCOMPARE(ini.GetIniParm(QStringLiteral("Tavrino"), QStringLiteral("UserID")), QString());
    }

    void writeCreatesFileAndSection()
    {
        const QString path = m_dir.filePath(QStringLiteral("new.ini"));
        IniFile ini(path);
        QVERIFY(ini.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("Top"), " 1200"));
        QCOMPARE(read(path), QByteArray("[Tavrino]\r\nTop= 1200\r\n"));
        QVERIFY(ini.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("Left"), " 2880"));
        QCOMPARE(read(path), QByteArray("[Tavrino]\r\nTop= 1200\r\nLeft= 2880\r\n"));
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
        QCOMPARE(ini.GetIniParm(QStringLiteral("Tavrino"), QStringLiteral("TOP")),
                 QStringLiteral("1200"));
    }

    void valueCannotAddLines()
    {
        const QString path = write("[Tavrino]\r\n");
        IniFile ini(path);
        QVERIFY(ini.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("A"), "x\r\nB=y"));
        QCOMPARE(ini.GetIniParm(QStringLiteral("Tavrino"), QStringLiteral("B")), QString());
    }

    void readOnlyModeFails()
    {
        const QString path = write("[Tavrino]\r\nTop=1\r\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser);
        IniFile ini(path);
        QVERIFY(!ini.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("Top"), " 2"));
        QCOMPARE(read(path), QByteArray("[Tavrino]\r\nTop=1\r\n"));
        QCOMPARE(IniWriteErrorText(path), path + " ファイルの書き込み時にエラーが発生しました。");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    void missingFolderFails()
    {
        IniFile ini(m_dir.filePath(QStringLiteral("no/such/Tavrino.ini")));
        QVERIFY(!ini.SetIniParm(QStringLiteral("Tavrino"), QStringLiteral("Top"), " 2"));
    }

    void twips_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("with blank") << " 1200" << 1200;
        QTest::newRow("without blank") << "1200" << 1200;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("negative") << "-300" << -300;
        QTest::newRow("fraction rounds to even") << "2.5" << 2;
        QTest::newRow("fraction rounds up") << "3.5" << 4;
        QTest::newRow("trailing junk") << "12ab" << 12;
        QTest::newRow("exponent") << "1.5E3" << 1500;
        QTest::newRow("letters") << "abc" << 0;
        QTest::newRow("too large held") << "99999" << 32767;
    }
    void twips()
    {
        QFETCH(QString, text);
        QTEST(int(ParseTwips(text)), "expected");
    }

    void twipsFormat()
    {
        QCOMPARE(FormatTwips(2880), QStringLiteral(" 2880"));
        QCOMPARE(FormatTwips(0), QStringLiteral(" 0"));
        QCOMPARE(FormatTwips(-150), QStringLiteral("-150"));
        QCOMPARE(ParseTwips(FormatTwips(16785)), qint16(16785));
    }
};

QTEST_APPLESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
