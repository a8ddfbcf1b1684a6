// The two components, loaded from the program folder, and their windows offscreen: the settings
// dialog, the member list editor, the about box, the reply window against a scripted server.

#include "AppUi.h"
#include "FakeServer.h"
#include "JisConvert.h"
#include "MemberDragList.h"
#include "Messages.h"
#include "OptionTexts.h"
#include "basTavOptions.h"
#include "frmAbout.h"
#include "frmEdit.h"
#include "frmReply.h"
#include "frmSetting.h"
#include "tst_windowhelpers.h"

#include <QtTest>

namespace {

const char *const BoxNames[] = {"txtUserName",   "txtUserID",   "txtPassword",   "txtDomain",
                                "txtPop3Server", "txtPop3Port", "txtSmtpServer", "txtSmtpPort",
                                "txtList",       "txtInterval", "txtSleep"};

/// Every text box filled, as read and written alike.
const QByteArray Filled = "[Tavrino]\r\nUserName=u\r\nUserID=i\r\nPassword=p\r\nDomain=d\r\n"
                          "Pop3Server=ps\r\nPop3Port=110\r\nSmtpServer=ss\r\nSmtpPort=25\r\n"
                          "List=m.lst\r\nInterval=60\r\nSleep=0\r\n";

QStringList Rows(const QWidget *editor)
{
    QStringList rows;
    auto *list = Child<QListWidget>(editor, "lstMemberName");
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text().replace(u'\t', u'|');
    return rows;
}

/// Presses the left button at from, moves to to in steps, and releases it.
void Drag(QWidget *view, QPoint from, QPoint to)
{
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step) {
        const QPoint at = from + (to - from) * step / 4;
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                         {});
        QApplication::sendEvent(view, &move);
    }
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
}

const QString Quoted = u"折り返しお願いします。\n明日まで"_s;

/// A reply window of 鈴木 <user2@example.jp> to the address, shown.
frmReply *Reply(const FakeServer &server, const QString &address, const QString &name = u"佐藤"_s)
{
    const QString port = QString::number(server.port());
    // The window sends over the connection settings, plain text here.
    const SmtpSend::Settings smtp{
        .server = u"127.0.0.1"_s, .port = port, .heloName = u"example.jp"_s};
    auto *reply = new frmReply({u"鈴木"_s, u"user2"_s, u"example.jp"_s, u"127.0.0.1"_s, port, smtp},
                               address, name, Quoted);
    reply->show();
    return reply;
}

/// The server's side up to MAIL FROM.
const QByteArray Greeting = "<220 fake|>HELO example.jp|<250 ok|>MAIL FROM:<user2@example.jp>";

} // namespace

class TestComponents : public QObject
{
    Q_OBJECT

    BoxCatcher m_boxes;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_boxes.boxes.clear();
    }

    void settingsLoadAndShowTheAddress()
    {
        frmSetting empty(m_dir->path());
        QCOMPARE(empty.windowTitle(), u"設定 - Tavrino"_s);
        for (const char *box : BoxNames)
            QVERIFY2(Text(&empty, box).isEmpty(), box);
        QCOMPARE(Text(&empty, "lblEmail"), u"@"_s);
        QTest::keyClicks(Child<QLineEdit>(&empty, "txtUserID"), "ab ");
        QCOMPARE(Text(&empty, "lblEmail"), u"ab@"_s);

        // A second dialog reads the file afresh.
        WriteFile(
            path(u"Tavrino.ini"_s),
            Cp932::Encode(u"[tavrino]\r\nusername=総務部\r\nUserID=u1\r\nDomain= example.jp\r\n"
                          u"Sleep=5\r\nList=m.lst\r\n"_s));
        frmSetting full(m_dir->path());
        QCOMPARE(Text(&full, "txtUserName") + Text(&full, "lblEmail") + Text(&full, "txtList") +
                     Text(&full, "txtSleep"),
                 u"総務部u1@example.jpm.lst5"_s);
        QCOMPARE(Child<QLineEdit>(&full, "txtPassword")->echoMode(), QLineEdit::Password);
        // Help opened from the dialog while it is modal takes input: it scrolls and closes.
        QFile::copy(qEnvironmentVariable("TAV_PROGRAM_DIR") + u"/Tavrino.html"_s,
                    path(u"Tavrino.html"_s));
        full.setWindowModality(Qt::ApplicationModal);
        full.show();
        Child<QToolButton>(&full, "cmdHelp")->click();
        auto *help = qobject_cast<QTextBrowser *>(HelpWindow());
        QVERIFY(help && help->source() == QUrl::fromLocalFile(path(u"Tavrino.html"_s)));
        QVERIFY(QTest::qWaitForWindowExposed(help));
        QTest::keyClick(help->windowHandle(), Qt::Key_End);
        QVERIFY(help->verticalScrollBar()->value() > 0);
        QTest::keyClick(help->windowHandle(), Qt::Key_Escape);
        QTRY_VERIFY(!HelpWindow() && full.isVisible());
    }

    void settingsFitTabInTheFramesOrderAndAskForWhatIsMissing()
    {
        frmSetting dialog(m_dir->path());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(Clipped(&dialog), QStringList());
        QString tabs = u"txtUserName"_s;
        for (int i = 0; i < 21; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            tabs += u' ' + QApplication::focusWidget()->objectName();
        }
        QCOMPARE(tabs, u"txtUserName txtUserID txtPassword txtDomain txtPop3Server txtPop3Port "
                       u"cboPop3Security txtSmtpServer txtSmtpPort cboSmtpSecurity chkSmtpAuth "
                       u"cmdBrowse cmdEdit txtInterval txtSleep chkStartup cboAuthMethod cmdHelp "
                       u"cmdButton0 cmdButton1 cmdButton2 txtUserName"_s);
        // Each box filled in turn, in the order the dialog asks for them.
        const QStringList order = u"Pop3Server:POP3 Server,Pop3Port:POP3 Port,UserName:UserName,"
                                  u"UserID:UserID,SmtpServer:SMTP Server,SmtpPort:SMTP Port,"
                                  u"Interval:Interval,Sleep:Sleep,List:List"_s.split(u',');
        for (const QString &step : order) {
            const QString box = u"txt"_s + step.section(u':', 0, 0);
            Child<QLineEdit>(&dialog, box)->setText(u"  "_s); // blanks are missing too
            m_boxes.boxes.clear();
            Child<QPushButton>(&dialog, "cmdButton0")->click();
            QCOMPARE(m_boxes.boxes, {Warning(step.section(u':', 1) + u"を指定してください。"_s)});
            QCOMPARE(dialog.focusWidget(),
                     Child<QWidget>(&dialog, box == u"txtList"_s ? u"cmdBrowse"_s : box));
            Child<QLineEdit>(&dialog, box)->setText(u" 1 "_s);
        }
        // Complete, but cancelled: nothing more is told, nothing written.
        Child<QPushButton>(&dialog, "cmdButton1")->click();
        QVERIFY(!dialog.isVisible() && m_boxes.boxes.size() == 1);
        QVERIFY(!QFile::exists(dialog.appIniFile()));
    }

    void settingsSave()
    {
        // Refused by a read-only file: nothing half-written, the typing kept; then saved trimmed.
        const QByteArray before = "[Tavrino]\r\nLeft= 10\r\n";
        WriteFile(path(u"Tavrino.ini"_s), before);
        QFile::setPermissions(path(u"Tavrino.ini"_s), QFileDevice::ReadOwner);
        frmSetting dialog(m_dir->path());
        dialog.show();
        for (const char *box : BoxNames)
            Child<QLineEdit>(&dialog, box)->setText(u" "_s + QLatin1String(box + 3) + u" "_s);
        Child<QLineEdit>(&dialog, "txtUserName")->setText(u" 総務部 "_s);
        auto *save = Child<QPushButton>(&dialog, "cmdButton0");
        save->click();
        QVERIFY(dialog.isVisible());
        QCOMPARE(Text(&dialog, "txtUserName"), u" 総務部 "_s);
        QCOMPARE(ReadFile(path(u"Tavrino.ini"_s)), before);
        QFile::setPermissions(path(u"Tavrino.ini"_s),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        save->click();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(m_boxes.boxes, (QStringList{Warning(dialog.appIniFile() + Msg::IniWriteError),
                                             Warning(OptMsg::Restart)}));
        QCOMPARE(ReadFile(path(u"Tavrino.ini"_s)),
                 before + Cp932::Encode(u"UserName=総務部\r\nUserID=UserID\r\nPassword=Password\r\n"
                                        u"Domain=Domain\r\nPop3Server=Pop3Server\r\n"
                                        u"Pop3Port=Pop3Port\r\nSmtpServer=SmtpServer\r\n"
                                        u"SmtpPort=SmtpPort\r\nList=List\r\nInterval=Interval\r\n"
                                        u"Sleep=Sleep\r\nPop3Security=none\r\nSmtpSecurity=none\r\n"
                                        u"SmtpAuth=0\r\n"_s));
    }

    // A login method chosen is written after the rest; sign-in waits for a
    // method that is not the password.
    void settingsLoginMethod()
    {
        WriteFile(path(u"Tavrino.ini"_s), "[Tavrino]\r\n");
        frmSetting dialog(m_dir->path());
        dialog.show();
        for (const char *box : BoxNames)
            Child<QLineEdit>(&dialog, box)->setText(QLatin1String(box + 3));
        auto *method = Child<QComboBox>(&dialog, "cboAuthMethod");
        QVERIFY(!Child<QPushButton>(&dialog, "cmdSignIn")->isEnabled());
        method->setCurrentIndex(2);
        QCOMPARE(method->currentText(), u"Google"_s);
        QVERIFY(Child<QPushButton>(&dialog, "cmdSignIn")->isEnabled());
        QCOMPARE(Text(&dialog, "lblAccount"), u"サインインしていません"_s);
        Child<QPushButton>(&dialog, "cmdButton0")->click();
        QVERIFY(ReadFile(path(u"Tavrino.ini"_s))
                    .endsWith("SmtpAuth=0\r\nAuthMethod=oauth\r\nOAuthProvider=google\r\n"));
    }

    void settingsSecurity_data()
    {
        // The three keys as stored; "Pop3|port|key": a port typed, a key pressed on the choice;
        // shown: both choices, the box's check state, both ports; what saving leaves of the keys.
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("saved");
        const auto row = [](const char *name, const QByteArray &stored, const QString &step,
                            const QString &shown, const QByteArray &saved) {
            QTest::newRow(name) << stored << step << shown << saved;
        };
        const QByteArray plain = "Pop3Security=none\r\nSmtpSecurity=none\r\nSmtpAuth=0\r\n";
        const QByteArray pop3Tls = "Pop3Security=tls\r\nSmtpSecurity=none\r\nSmtpAuth=0\r\n";
        const QByteArray odd = "Pop3Security=ssl\r\nSmtpSecurity=stls\r\nSmtpAuth=yes\r\n";
        // clang-format off
        row("absent, today's behaviour", {}, {}, u"なし|なし|0|110|25"_s, plain);
        row("empty", "Pop3Security=\r\nSmtpSecurity=\r\nSmtpAuth=\r\n", {}, u"なし|なし|0|110|25"_s, plain);
        row("any case", "pop3security=STLS\r\nSMTPSECURITY = StartTLS\r\nSmtpAuth=1\r\n", {}, u"STARTTLS|STARTTLS|2|110|25"_s, "Pop3Security=stls\r\nSmtpSecurity=starttls\r\nSmtpAuth=1\r\n");
        row("tls", "Pop3Security=Tls\r\nSmtpSecurity=TLS\r\nSmtpAuth=0\r\n", {}, u"SSL/TLS|SSL/TLS|0|110|25"_s, "Pop3Security=tls\r\nSmtpSecurity=tls\r\nSmtpAuth=0\r\n");
        row("unknown values kept", odd, {}, u"||1|110|25"_s, odd);
        // A choice proposes its usual port in place of another usual one.
        row("POP3 to SSL/TLS", {}, u"Pop3|110|End"_s, u"SSL/TLS|なし|0|995|25"_s, pop3Tls);
        row("POP3 back to none", "Pop3Security=tls\r\n", u"Pop3|995|Home"_s, u"なし|なし|0|110|25"_s, plain);
        row("POP3 empty port", {}, u"Pop3| |End"_s, u"SSL/TLS|なし|0|995|25"_s, pop3Tls);
        row("unknown picked over", "Pop3Security=ssl\r\n", u"Pop3|110|End"_s, u"SSL/TLS|なし|0|995|25"_s, pop3Tls);
        row("SMTP to STARTTLS", {}, u"Smtp|25|Down"_s, u"なし|STARTTLS|0|110|587"_s, "Pop3Security=none\r\nSmtpSecurity=starttls\r\nSmtpAuth=0\r\n");
        row("SMTP to SSL/TLS", "SmtpSecurity=starttls\r\n", u"Smtp|587|End"_s, u"なし|SSL/TLS|0|110|465"_s, "SmtpSecurity=tls\r\nPop3Security=none\r\nSmtpAuth=0\r\n");
        row("typed port kept", {}, u"Smtp|2525|End"_s, u"なし|SSL/TLS|0|110|2525"_s, "Pop3Security=none\r\nSmtpSecurity=tls\r\nSmtpAuth=0\r\n");
        // clang-format on
    }
    void settingsSecurity()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, step);
        QFETCH(QByteArray, saved);
        // Edited in the file alone: the dialog leaves them as they are.
        const QByteArray own = "smtpuserid = me \r\nSmtpPassword=a=b\r\nCAFile=ca.pem\r\n";
        WriteFile(path(u"Tavrino.ini"_s), Filled + own + stored);
        frmSetting dialog(m_dir->path());
        dialog.show();
        if (const QStringList s = step.split(u'|'); s.size() == 3) {
            Child<QLineEdit>(&dialog, u"txt"_s + s[0] + u"Port"_s)->setText(s[1]);
            QTest::keyClick(Child<QComboBox>(&dialog, u"cbo"_s + s[0] + u"Security"_s),
                            QKeySequence(s[2])[0].key());
        }
        QTEST(QString(Child<QComboBox>(&dialog, "cboPop3Security")->currentText() + u'|' +
                      Child<QComboBox>(&dialog, "cboSmtpSecurity")->currentText() + u'|' +
                      QString::number(Child<QCheckBox>(&dialog, "chkSmtpAuth")->checkState()) +
                      u'|' + Text(&dialog, "txtPop3Port") + u'|' + Text(&dialog, "txtSmtpPort")),
              "shown");
        Child<QPushButton>(&dialog, "cmdButton0")->click();
        const QByteArray file = ReadFile(path(u"Tavrino.ini"_s)); // the boxes: settingsSave
        QCOMPARE(file.mid(file.indexOf("Sleep=")), "Sleep=0\r\n" + own + saved);
    }

    void editorButtons_data()
    {
        // Steps: "s N" selects row N, "i name|address" inserts, "d" deletes, "u" and "v" move
        // up and down, "m D T" drags row D onto row T (-1: the empty space below the rows).
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("after"); // rows, selected row, up and down enabled
        QTest::addColumn<QString>("box");
        const QStringList abcd = {u"A;a"_s, u"B;b"_s, u"C;c"_s, u"D;d"_s};
        const QString same = u"A|a B|b C|c D|d"_s;
        // clang-format off
        QTest::newRow("insert above") << abcd << u"s 2,i E|e"_s << u"A|a B|b E|e C|c D|d 2 11"_s << QString();
        QTest::newRow("separator") << abcd << u"s 0,i  --- | "_s << u"---| A|a B|b C|c D|d 0 01"_s << QString();
        QTest::newRow("-- needs an address") << abcd << u"s 0,i --|"_s << same + u" 0 01"_s << u"アドレスを入力してください。"_s;
        QTest::newRow("no name") << abcd << u"s 0,i  |a"_s << same + u" 0 01"_s << u"ユーザ名を入力してください。"_s;
        QTest::newRow("insert, nothing selected") << abcd << u"i E|e"_s << same + u" -1 11"_s << u"追加したい場所を選択してください。"_s;
        QTest::newRow("empty list") << QStringList() << u"i E|e"_s << u" -1 11"_s << u"追加したい場所を選択してください。"_s;
        QTest::newRow("delete, nothing selected") << abcd << u"d"_s << same + u" -1 11"_s << u"削除したいメンバーを選択してください。"_s;
        QTest::newRow("move, nothing selected") << abcd << u"v"_s << same + u" -1 11"_s << u"移動したいユーザを選択してください。"_s;
        QTest::newRow("delete selects the next") << abcd << u"s 1,d"_s << u"A|a C|c D|d 1 11"_s << QString();
        QTest::newRow("delete the last") << abcd << u"s 3,d"_s << u"A|a B|b C|c 2 10"_s << QString();
        QTest::newRow("delete the only row") << QStringList{u"A;a"_s} << u"s 0,d"_s << u" -1 10"_s << QString();
        QTest::newRow("up to the top") << abcd << u"s 1,u"_s << u"B|b A|a C|c D|d 0 01"_s << QString();
        QTest::newRow("down to the end") << abcd << u"s 2,v"_s << u"A|a B|b D|d C|c 3 10"_s << QString();
        QTest::newRow("one row") << QStringList{u"A;a"_s} << u"s 0"_s << u"A|a 0 00"_s << QString();
        QTest::newRow("drag A onto C") << abcd << u"m 0 2"_s << u"B|b A|a C|c D|d 1 11"_s << QString();
        QTest::newRow("drag D onto B") << abcd << u"m 3 1"_s << u"A|a D|d B|b C|c 1 11"_s << QString();
        QTest::newRow("drop on itself") << abcd << u"m 1 1"_s << same + u" 1 11"_s << QString();
        QTest::newRow("drop below the rows") << abcd << u"m 1 -1"_s << same + u" 1 11"_s << QString();
        QTest::newRow("press below the rows") << abcd << u"m -1 0"_s << same + u" 0 01"_s << QString();
        // Nothing can be saved over the file with a part of its rows.
        QTest::newRow("too long") << QStringList(MaxMemberRows + 1, u"a;b"_s) << QString() << u" -1 11"_s << OptMsg::ListTooLong;
        // clang-format on
    }
    void editorButtons()
    {
        QFETCH(QStringList, rows);
        QFETCH(QString, steps);
        QFETCH(QString, box);
        WriteFile(path(u"members.lst"_s), Cp932::Encode(rows.join(u"\r\n"_s)));
        frmEdit window(u"members.lst"_s, m_dir->path(), QString());
        window.show();
        auto *list = Child<MemberDragList>(&window, "lstMemberName");
        const auto rowAt = [list](int row) {
            return row < 0 ? QPoint(20, list->viewport()->height() - 3)
                           : list->visualItemRect(list->item(row)).center();
        };
        const QHash<QChar, const char *> buttons = {
            {u'i', "cmdEdit0"}, {u'd', "cmdEdit2"}, {u'u', "cmdArrow0"}, {u'v', "cmdArrow1"}};
        for (const QString &step : steps.split(u',', Qt::SkipEmptyParts)) {
            const QStringList args = step.mid(2).split(u' ');
            Child<QLineEdit>(&window, "txtUserName")->setText(step.mid(2).section(u'|', 0, 0));
            Child<QLineEdit>(&window, "txtAddress")->setText(step.section(u'|', 1));
            if (step.startsWith(u's'))
                list->setCurrentRow(args.at(0).toInt());
            else if (step.startsWith(u'm'))
                Drag(list->viewport(), rowAt(args.at(0).toInt()), rowAt(args.at(1).toInt()));
            else
                Child<QAbstractButton>(&window, buttons.value(step.at(0)))->click();
        }
        QTEST(QString(Rows(&window).join(u' ') +
                      u" %1 %2%3"_s.arg(list->selectedRow())
                          .arg(int(Child<QToolButton>(&window, "cmdArrow0")->isEnabled()))
                          .arg(int(Child<QToolButton>(&window, "cmdArrow1")->isEnabled()))),
              "after");
        QCOMPARE(m_boxes.boxes, box.isEmpty() ? QStringList() : QStringList{Warning(box)});
        QCOMPARE(Clipped(&window), QStringList());
        QCOMPARE(Child<QPushButton>(&window, "cmdButton0")->isEnabled(),
                 box != OptMsg::ListTooLong);
    }

    void editorSave()
    {
        // Reading stops at the blank line; what follows it is kept as it was.
        const QByteArray tail = "\r\nC;c\r\n";
        WriteFile(path(u"members.lst"_s), "A;a\r\n; b;c \r\n" + tail);
        QFile::setPermissions(path(u"members.lst"_s), QFileDevice::ReadOwner);
        frmEdit window(u"members.lst"_s, m_dir->path(), QString());
        QCOMPARE(Rows(&window), (QStringList{u"A|a"_s, u"| b;c "_s}));
        Child<MemberDragList>(&window, "lstMemberName")->dropRow(1, 0);
        auto *save = Child<QPushButton>(&window, "cmdButton0");
        save->click(); // a read-only file is kept, and the rows as they are
        QCOMPARE(ReadFile(path(u"members.lst"_s)), "A;a\r\n; b;c \r\n" + tail);
        QCOMPARE(Rows(&window), (QStringList{u"| b;c "_s, u"A|a"_s}));
        QFile::setPermissions(path(u"members.lst"_s),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        save->click();
        QCOMPARE(ReadFile(path(u"members.lst"_s)), "; b;c \r\nA;a\r\n" + tail);
        QCOMPARE(m_boxes.boxes,
                 (QStringList{Warning(u"アプリケーションエラー！\r\n"
                                      u"プロシージャの呼び出し、または引数が不正です。"_s),
                              Warning(u"アプリケーションエラー！\r\n書き込みできません。"_s),
                              Warning(OptMsg::ListSaved + u"\r\n"_s + OptMsg::ListRestart)}));
    }

    void aboutBox()
    {
        frmAbout about;
        about.show();
        QCOMPARE(Clipped(&about), QStringList());
        QVERIFY(QRegularExpression(u"^Version \\d+\\.\\d+\\.\\d+$"_s)
                    .match(Text(&about, "lblVersion"))
                    .hasMatch());
        QVERIFY(QRegularExpression(u"^Windowsが使用できる物理ﾒﾓﾘ: \\d{1,3}(,\\d{3})* KB$"_s)
                    .match(Text(&about, "lblDisclaimer"))
                    .hasMatch());
        const auto path = qScopeGuard([old = qgetenv("PATH")] { qputenv("PATH", old); });
        qputenv("PATH", m_dir->path().toLocal8Bit()); // no tool there
        Child<QPushButton>(&about, "cmdSysInfo")->click();
        QCOMPARE(m_boxes.boxes, {u"noicon Tavrino: 現時点ではｼｽﾃﾑ情報を使用できません"_s});
    }

    void componentsLoadFromTheProgramFolder()
    {
        QString error;
        PluginComponents missing(m_dir->path());
        QVERIFY(!missing.options(&error));
        QCOMPARE(error, Msg::ErrPluginMissing);
        QVERIFY(WriteFile(path(u"libTavReply.so"_s), "not a library"));
        QVERIFY(!missing.reply(&error) && error != Msg::ErrPluginMissing);

        // Loaded once for the run (used as a user does it, packaged: tst_package.sh).
        QTemporaryDir folder;
        QVERIFY(CopyComponents(folder.path()));
        PluginComponents components(folder.path());
        ITavOptions *options = components.options(&error);
        QVERIFY(options && components.options(&error) == options);
    }

    void replyWholeRefusedThenCancelled()
    {
        const QString address = u"sato.taro@branch-office.example.jp"_s;
        const QString name = u"総務部　佐藤太郎"_s;
        FakeServer server; // refuses the address, then greets and never answers
        server.script(Greeting + "|<250 ok|>RCPT TO:<" + address.toLatin1() + ">");
        server.send("550 5.1.1 no such user").close().send("220 fake").expect("HELO example.jp");
        QPointer<frmReply> reply = Reply(server, address, name);
        auto *frame = Child<QGroupBox>(reply, "frameTitle");
        QCOMPARE(Clipped(reply), QStringList());
        for (const char *label : {"lblTitle2", "lblToName", "lblTo"})
            QVERIFY2(frame->contentsRect().contains(Child<QLabel>(reply, label)->geometry()),
                     label);
        QCOMPARE(Text(reply, "lblTo") + '|' + Text(reply, "lblToName") + '|' +
                     Text(reply, "txtMessage") + '|' + Text(reply, "sbrMsgPanel1"),
                 address + '|' + name + u"|\n\n---Original Message---\n"_s + Quoted + u"|鈴木"_s);
        QCOMPARE(Child<QToolButton>(reply, "cmdButton1")->accessibleName(), u"ｷｬﾝｾﾙ(C)"_s);

        // A refused address keeps the window and what was typed.
        Child<QPlainTextEdit>(reply, "txtMessage")->setPlainText(u"答え"_s);
        auto *send = Child<QToolButton>(reply, "cmdButton0");
        QTest::mouseClick(send, Qt::LeftButton);
        QVERIFY(!send->isEnabled() && Child<QToolButton>(reply, "cmdButton1")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.boxes.size(), 1, 10000);
        QCOMPARE(m_boxes.boxes[0],
                 u"warning 返信 - Tavrino: recv:550 5.1.1 no such user\r\n宛先: "_s + address);
        QVERIFY(reply->isVisible() && send->isEnabled());
        QCOMPARE(Text(reply, "txtMessage"), u"答え"_s);

        // Cancel during a transmission closes the window at once.
        QTest::mouseClick(send, Qt::LeftButton);
        QTRY_VERIFY(server.done());
        QTest::mouseClick(Child<QToolButton>(reply, "cmdButton1"), Qt::LeftButton);
        QVERIFY(!reply || !reply->isVisible());
        QTRY_VERIFY(!reply);
        QTRY_VERIFY(!server.isConnected()); // the job went with its window
        QCOMPARE(m_boxes.boxes.size(), 1);
        QCOMPARE(server.received().last(), QByteArray("HELO example.jp")); // no QUIT
    }

    void sends_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("text"); // what the user leaves in the box; null: unchanged
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<QString>("body");
        // clang-format off
        QTest::newRow("unchanged") << "sato@example.jp" << QString() << false << u"\r\n\r\n---Original Message---\r\n折り返しお願いします。\r\n明日まで"_s;
        QTest::newRow("emptied") << "sato@example.jp" << "   " << false << QString();
        QTest::newRow("sealed, two addresses") << "sato@example.jp,tanaka@example.jp" << "了解です" << true << "了解です";
        // clang-format on
    }
    void sends()
    {
        QFETCH(QString, address);
        QFETCH(QString, text);
        QFETCH(bool, sealed);
        QFETCH(QString, body);
        FakeServer server;
        server.script(Greeting);
        for (const QString &rcpt : address.split(u','))
            server.send("250 ok").expect("RCPT TO:<" + rcpt.toLatin1() + ">");
        server.send("250 ok").expect("DATA").send("354 go");
        // Four header lines, the empty line, the body's lines, the empty line, ".".
        for (qsizetype i = 0; i < 4 + 1 + (body.isEmpty() ? 0 : body.count('\n') + 1) + 2; ++i)
            server.expect("*");
        server.send("250 ok").expect("QUIT").send("221 bye");
        QPointer<frmReply> reply = Reply(server, address);
        if (!text.isNull())
            Child<QPlainTextEdit>(reply, "txtMessage")->setPlainText(text);
        Child<QCheckBox>(reply, "chkCover")->setChecked(sealed);
        QTest::mouseClick(Child<QToolButton>(reply, "cmdButton0"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!reply, 10000); // closes itself once the mail is accepted
        QTRY_VERIFY(server.done());

        const QList<QByteArray> wire = server.received();
        const qsizetype data = wire.indexOf("DATA") + 1;
        const QByteArray subject = wire[data];
        QVERIFY2(subject.startsWith(sealed ? "Subject:*1   " : "Subject:*    ") &&
                     subject.endsWith(QByteArray(40, ' ')) && subject.size() == 8 + 56,
                 subject.constData()); // the two caller fields empty
        QCOMPARE(wire[data + 2], "To:" + address.toLatin1());
        const QList<QByteArray> lines = wire.mid(data + 5, wire.size() - data - 8);
        QCOMPARE(JisToText(lines.join("\r\n")), body);
    }
};

QTEST_MAIN(TestComponents)
#include "tst_components.moc"
