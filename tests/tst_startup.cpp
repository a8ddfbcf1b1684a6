#include "Components.h"
#include "IniFile.h"
#include "Messages.h"
#include "Settings.h"
#include "SingleInstance.h"
#include "basTavrino.h"
#include "tst_windowhelpers.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class TestStartup : public QObject
{
    Q_OBJECT

    static QString programDir() { return qEnvironmentVariable("TAV_PROGRAM_DIR"); }

    static bool nameAnswers(const QString &name)
    {
        QLocalSocket probe;
        probe.connectToServer(name);
        const bool answered = probe.waitForConnected(200);
        probe.abort();
        return answered;
    }

private Q_SLOTS:
    void serverNameDependsOnTheFolder()
    {
        const QString a = SingleInstance::ServerName(QStringLiteral("/opt/a"));
        QVERIFY(a.startsWith(QStringLiteral("Tavrino-") + QString::number(::getuid()) + '-'));
        QCOMPARE(SingleInstance::ServerName(QStringLiteral("/opt/a/")), a);
        QVERIFY(SingleInstance::ServerName(QStringLiteral("/opt/b")) != a);
    }

    void secondCopyIsRefusedAndRestoresTheFirst()
    {
        QTemporaryDir folder;
        SingleInstance first(folder.path());
        QVERIFY(first.claim());
        QSignalSpy restore(&first, &SingleInstance::restoreRequested);

        SingleInstance second(folder.path());
        QVERIFY(!second.claim());
        BoxCatcher boxes;
        RefuseSecondCopy(second);
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("Tavrinoは既に起動されています"));
        QCOMPARE(boxes.boxes[0].title, QStringLiteral("Tavrino"));
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Critical);
        QVERIFY(restore.wait(5000));
        QCOMPARE(restore.size(), 1);

        // Another folder is another program.
        QTemporaryDir other;
        SingleInstance elsewhere(other.path());
        QVERIFY(elsewhere.claim());
    }

    void staleNameIsTakenOver()
    {
        QTemporaryDir folder;
        const QString name = SingleInstance::ServerName(folder.path());
        // What a copy that crashed leaves behind: the socket file, nobody listening.
        const QByteArray path = QFile::encodeName(QDir::tempPath() + '/' + name);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        QVERIFY(size_t(path.size()) < sizeof(addr.sun_path));
        memcpy(addr.sun_path, path.constData(), size_t(path.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
        ::close(fd);
        QVERIFY(QFile::exists(QFile::decodeName(path)));

        SingleInstance instance(folder.path());
        QVERIFY(instance.claim());
        QVERIFY(nameAnswers(name));
    }

    void settingsAreReadOnce()
    {
        QTemporaryDir folder;
        const Settings empty = Settings::Read(folder.path());
        QVERIFY(!empty.isConfigured());
        QCOMPARE(empty.appIniFile, folder.path() + QStringLiteral("/Tavrino.ini"));
        QCOMPARE(empty.helpFile, folder.path() + QStringLiteral("/Tavrino.html"));

        const IniFile ini(empty.appIniFile);
        QVERIFY(ini.SetIniParm("Tavrino", "UserName", QStringLiteral("佐藤")));
        QVERIFY(ini.SetIniParm("Tavrino", "Domain", "example.jp"));
        QVERIFY(ini.SetIniParm("Tavrino", "List", "members.lst"));
        QVERIFY(ini.SetIniParm("Tavrino", "Pop3Port", "110"));
        const Settings s = Settings::Read(folder.path());
        QVERIFY(s.isConfigured());
        QCOMPARE(s.UserName, QStringLiteral("佐藤"));
        QCOMPARE(s.pop3().port, QStringLiteral("110"));
        QCOMPARE(s.memberListPath(), folder.filePath(QStringLiteral("members.lst")));
        Settings absolute = s;
        absolute.List = QStringLiteral("/srv/list.lst");
        QCOMPARE(absolute.memberListPath(), QStringLiteral("/srv/list.lst"));
    }

    // Before any component has loaded: once loaded, one is held for the run.
    void missingComponentIsAnError()
    {
        QTemporaryDir empty;
        PluginComponents components(empty.path());
        QString error;
        QVERIFY(components.options(&error) == nullptr);
        QCOMPARE(error, Msg::ErrPluginMissing);
        error.clear();
        QVERIFY(components.reply(&error) == nullptr);
        QCOMPARE(error, Msg::ErrPluginMissing);

        // A file that is no plugin.
        QFile broken(empty.filePath(QStringLiteral("libTavReply.so")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not a library");
        broken.close();
        error.clear();
        QVERIFY(components.reply(&error) == nullptr);
        QVERIFY(!error.isEmpty());
    }

    void componentsLoadFromTheProgramFolder()
    {
        QVERIFY(!programDir().isEmpty());
        PluginComponents components(programDir());
        QString error;
        ITavOptions *options = components.options(&error);
        QVERIFY2(options, qPrintable(error));
        QCOMPARE(components.options(&error), options); // one instance for the run
        QVERIFY2(components.reply(&error), qPrintable(error));
        QVERIFY(QFile::exists(programDir() + QStringLiteral("/Tavrino.html")));
    }

    void runningProgramAnswersASecondCopy()
    {
        // A portable copy of the program in a folder of its own.
        QTemporaryDir folder;
        for (const char *file : {"Tavrino", "libmailtext.so"}) {
            QVERIFY(QFile::copy(programDir() + '/' + file, folder.filePath(file)));
        }
        QFile::setPermissions(folder.filePath("Tavrino"),
                              QFile::permissions(folder.filePath("Tavrino")) | QFile::ExeOwner);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString port = QString::number(closed.serverPort());
        closed.close();
        const IniFile ini(folder.filePath("Tavrino.ini"));
        QVERIFY(ini.SetIniParm("Tavrino", "UserName", "test"));
        QVERIFY(ini.SetIniParm("Tavrino", "Domain", "example.jp"));
        QVERIFY(ini.SetIniParm("Tavrino", "Pop3Server", "127.0.0.1"));
        QVERIFY(ini.SetIniParm("Tavrino", "Pop3Port", port));
        QVERIFY(ini.SetIniParm("Tavrino", "List", "members.lst"));
        QFile list(folder.filePath("members.lst"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("a;a@example.jp\r\n");
        list.close();

        QProcess program;
        program.setProgram(folder.filePath("Tavrino"));
        program.setWorkingDirectory(QDir::tempPath()); // the program finds its files anyway
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start();
        QVERIFY(program.waitForStarted());
        const QString name = SingleInstance::ServerName(folder.path());
        QTRY_VERIFY_WITH_TIMEOUT(nameAnswers(name), 10000);

        SingleInstance second(folder.path());
        QVERIFY(!second.claim());
        QVERIFY(second.askFirstToRestore());
        QCOMPARE(program.state(), QProcess::Running);

        // Killed, it leaves its name behind; the next copy takes it over.
        program.kill();
        QVERIFY(program.waitForFinished());
        SingleInstance next(folder.path());
        QVERIFY(next.claim());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
