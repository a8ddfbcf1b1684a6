// Start-up: one copy per program folder, the settings read once, and the
// components loaded from the program folder.

#include "Components.h"
#include "IniFile.h"
#include "Messages.h"
#include "SingleInstance.h"
#include "basTavrino.h"
#include "tst_windowhelpers.h"

#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestStartup : public QObject
{
    Q_OBJECT

    static QString programDir() { return qEnvironmentVariable("TAV_PROGRAM_DIR"); }

private Q_SLOTS:
    void secondCopyIsRefusedAndRestoresTheFirst()
    {
        QTemporaryDir folder;
        SingleInstance first(folder.path());
        QVERIFY(first.claim());
        QSignalSpy restore(&first, &SingleInstance::restoreRequested);
        SingleInstance second(folder.path() + QLatin1Char('/'));
        QVERIFY(!second.claim());
        BoxCatcher boxes;
        RefuseSecondCopy(second);
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("Tavrinoは既に起動されています"));
        QCOMPARE(boxes.boxes[0].title, QStringLiteral("Tavrino"));
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Critical);
        QVERIFY(restore.wait(5000));
        // Another folder is another program.
        QTemporaryDir other;
        QVERIFY(SingleInstance(other.path()).claim());
    }

    void runningProgramAnswersASecondCopy()
    {
        // A portable copy of the program in a folder of its own, whose check
        // fails at once.
        QTemporaryDir folder;
        QVERIFY(!Settings::Read(folder.path()).isConfigured()); // no file: all empty
        for (const char *file : {"Tavrino", "libmailtext.so"})
            QVERIFY(QFile::copy(programDir() + '/' + file, folder.filePath(file)));
        QVERIFY(
            WriteFile(folder.filePath("Tavrino.ini"),
                      "[Tavrino]\r\nUserName=test\r\nDomain=example.jp\r\nPop3Server=127.0.0.1\r\n"
                      "List=members.lst\r\nPop3Port=" +
                          QByteArray::number(RefusedPort()) + "\r\n"));
        QVERIFY(WriteFile(folder.filePath("members.lst"), MemberListFile()));
        const Settings settings = Settings::Read(folder.path());
        QVERIFY(settings.isConfigured());
        QCOMPARE(settings.memberListPath(), folder.filePath("members.lst"));

        QProcess program;                              // offscreen, as the test
        program.setWorkingDirectory(QDir::tempPath()); // it finds its files anyway
        program.start(folder.filePath("Tavrino"));
        QVERIFY(program.waitForStarted());
        const QString name = SingleInstance::ServerName(folder.path());
        QTRY_VERIFY_WITH_TIMEOUT(
            [&name] {
                QLocalSocket probe;
                probe.connectToServer(name);
                return probe.waitForConnected(200);
            }(),
            10000);
        SingleInstance second(folder.path());
        QVERIFY(!second.claim());
        QVERIFY(second.askFirstToRestore());
        QCOMPARE(program.state(), QProcess::Running);

        // Killed, it leaves its name behind; the next copy takes it over.
        program.kill();
        QVERIFY(program.waitForFinished());
        QVERIFY(SingleInstance(folder.path()).claim());
    }

    void componentsLoadFromTheProgramFolder()
    {
        // None there, or a file that is no plugin: an error to show.
        QString error;
        QTemporaryDir empty;
        PluginComponents missing(empty.path());
        QVERIFY(!missing.options(&error));
        QCOMPARE(error, Msg::ErrPluginMissing);
        QVERIFY(WriteFile(empty.filePath("libTavReply.so"), "not a library"));
        QVERIFY(!missing.reply(&error) && error != Msg::ErrPluginMissing);

        PluginComponents components(programDir());
        ITavOptions *options = components.options(&error);
        QVERIFY2(options, qPrintable(error));
        QCOMPARE(components.options(&error), options); // one instance for the run
        QVERIFY2(components.reply(&error), qPrintable(error));
        QVERIFY(QFile::exists(programDir() + QStringLiteral("/Tavrino.html")));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
