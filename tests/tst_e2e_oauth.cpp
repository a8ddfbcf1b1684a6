// Two desks in one process on the real mail office in its OAuth mode: desk A (user1) logs in with
// its password and sends a memo through its form; desk B (user2), with the real components, is
// signed in through the settings dialog by a person at headless Chromium (consent.py), pops the
// memo up and answers through the reply component; B over STARTTLS and STLS, A too (with
// TAV_OAUTH_SECURITY=tls, A over SMTPS and POP3S). An expired token is renewed unseen; a revoked
// grant asks once to sign in again. No window shows a secret. Floods, deletions and each memo
// announced once: tst_dialogues.

#include "Messages.h"
#include "frmMessage.h"
#include "tst_windowhelpers.h"

#include <QtTest>

class TestE2eOAuth : public QObject
{
    Q_OBJECT

    const MailOffice m_office{qEnvironmentVariable("TAV_MAILOFFICE_OAUTH_DIR")};
    const QByteArray m_mechanism = qgetenv("TAV_OAUTH_MECHANISM");
    const bool m_implicit = qgetenv("TAV_OAUTH_SECURITY") == "tls";
    FakeComponents m_components;
    QTemporaryDir m_folderOfB; // B's program folder: its configuration and the real components
    PluginComponents m_componentsOfB{m_folderOfB.path()};
    BoxCatcher m_boxes;
    QNetworkAccessManager m_network;
    QProcess m_browser;
    int m_browserRuns = 0;
    QStringList m_secrets{u"pass1"_s, u"pass2"_s};
    std::unique_ptr<Desk> m_a = std::make_unique<Desk>(0), m_b;

    QByteArray ini(int user) const
    {
        const bool implicit = m_implicit && user == 1;
        return u"[Tavrino]\r\nUserName=%9\r\nUserID=user%1\r\nDomain=tavrino.test\r\n"
               u"List=m.lst\r\nInterval=300\r\nSleep=0\r\nPop3Server=localhost\r\n"
               u"SmtpServer=localhost\r\nPop3Security=%2\r\nSmtpSecurity=%3\r\n"
               u"SmtpAuth=1\r\n%10\r\nOAuthProvider=custom\r\n"
               u"OAuthClientID=tavrino-desk\r\nOAuthScopes=mail offline_access\r\n"
               u"Pop3Port=%4\r\nSmtpPort=%5\r\nCAFile=%6\r\nOAuthAuthorizeURL=%7\r\n"
               u"OAuthTokenURL=%8\r\n"_s.arg(user)
                   .arg(implicit ? u"tls"_s : u"stls"_s, implicit ? u"tls"_s : u"starttls"_s,
                        m_office.port(implicit ? "POP3S_PORT" : "POP3_PORT"),
                        m_office.port(implicit ? "SMTPS_PORT" : "SMTP_PORT"),
                        m_office.port("CA_FILE"), m_office.port("OAUTH_AUTHORIZE_URL"),
                        m_office.port("OAUTH_TOKEN_URL"), user == 1 ? u"営業 太郎"_s : u"鈴木"_s)
                   .arg(user == 1 ? u"AuthMethod=password\r\nPassword=pass1"_s
                                  : u"AuthMethod=oauth"_s)
                   .toUtf8();
    }

    /// Presses the window's サインイン button for B; the person at the browser signs in.
    /// The code and the refresh token that come of it are kept as secrets.
    void signInWith(const QWidget *window)
    {
        QList<QPushButton *> buttons = window->findChildren<QPushButton *>();
        buttons.removeIf([](QPushButton *b) { return b->text() != u"サインイン"_s; });
        QCOMPARE(buttons.size(), 1);
        QTest::mouseClick(buttons[0], Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_browser.state(), QProcess::NotRunning, 60000);
        QVERIFY2(m_browser.exitCode() == 0, m_browser.readAllStandardError().constData());
        const QUrl done(QString::fromUtf8(m_browser.readAllStandardOutput().trimmed()));
        QString code = QUrlQuery(done).queryItemValue(u"code"_s), token;
        QTRY_VERIFY((token = QString::fromUtf8(ReadFile(m_folderOfB.filePath(u"Tavrino.token"_s))),
                     token.size() >= 16 && !m_secrets.contains(token)));
        QVERIFY(code.size() >= 16);
        m_secrets << code << token;
    }

    /// Those of texts that a name, a value or a description of any part of any window holds,
    /// as accessibility tells them.
    static QStringList Exposed(QStringList texts)
    {
        QString all;
        std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
            for (auto kind : {QAccessible::Name, QAccessible::Value, QAccessible::Description})
                all += node->text(kind) + u'\n';
            for (int i = 0; i < node->childCount(); ++i)
                walk(node->child(i));
        };
        for (QWidget *window : QApplication::topLevelWidgets())
            walk(QAccessible::queryAccessibleInterface(window));
        texts.removeIf([&](const QString &text) { return !all.contains(text); });
        return texts;
    }

    /// What the provider answers to a GET or an empty POST of path.
    QByteArray ask(const QString &path, bool post = false)
    {
        QNetworkRequest request(QUrl(m_office.port("OAUTH_URL") + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        const std::unique_ptr<QNetworkReply> reply(post ? m_network.post(request, QByteArray())
                                                        : m_network.get(request));
        return QSignalSpy(reply.get(), &QNetworkReply::finished).wait(10000) ? reply->readAll()
                                                                             : "";
    }
    /// Posts the provider's test control, if any; then how many refreshes it has answered.
    int refreshesAfter(const QString &control = {})
    {
        if (!control.isEmpty())
            ask(control, true);
        return QJsonDocument::fromJson(ask(u"/admin/stats"_s))[u"refresh_token"_s].toInt();
    }
    /// No window shows a secret: a password, a code, a refresh token or an access token B was
    /// given.
    void noSecretShows()
    {
        QStringList all = m_secrets;
        const QByteArray given = ask(u"/admin/tokens?user=user2@tavrino.test"_s);
        for (const QJsonValue &token : QJsonDocument::fromJson(given)[u"access"_s].toArray())
            all << token.toString();
        QVERIFY(all.size() > m_secrets.size());
        QCOMPARE(Exposed(all), QStringList());
    }

public Q_SLOTS:
    /// The desk's browser: a person who signs in on the page.
    void openBrowser(const QUrl &url)
    {
        ++m_browserRuns;
        m_browser.start(QFINDTESTDATA("consent.py"),
                        {url.toString(QUrl::FullyEncoded), u"user2"_s, u"pass2"_s});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_office.port("OAUTH") == u"1"_s, "the mail office in OAuth mode is not running");
        QDesktopServices::setUrlHandler(u"http"_s, this, "openBrowser");
        QVERIFY(CopyComponents(m_folderOfB.path()));
        QVERIFY(WriteFile(m_a->folder.filePath(u"Tavrino.ini"_s), ini(1)));
        QVERIFY(WriteFile(m_a->folder.filePath(u"m.lst"_s), "B;user2@tavrino.test\r\n"));
        QVERIFY(WriteFile(m_folderOfB.filePath(u"Tavrino.ini"_s), ini(2)));
        QVERIFY(WriteFile(m_folderOfB.filePath(u"m.lst"_s), "A;user1@tavrino.test\r\n"));
        for (int user : {1, 2})
            for (const QFileInfo &mail : m_office.mailsOf(user))
                QVERIFY(QFile::remove(mail.filePath()));
    }
    void cleanupTestCase()
    {
        m_browser.terminate(); // consent.py ends the browser and what it started
        m_browser.waitForFinished(10000);
        QDesktopServices::unsetUrlHandler(u"http"_s);
    }

    void signedInDesksExchangeMemosAndShowNoSecret()
    {
        // B signs in through the settings dialog of the component of its program folder.
        QString error;
        ITavOptions *options = m_componentsOfB.options(&error);
        QVERIFY2(options, qPrintable(error));
        QTimer::singleShot(0, this, [&] {
            const auto closeAtEnd = qScopeGuard([] {
                if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                    dialog->reject();
            });
            QWidget *dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            signInWith(dialog);
            const QString account = u"サインイン済み: user2@tavrino.test"_s;
            QTRY_COMPARE(Text(dialog, "lblAccount"), account);
            QCOMPARE(Exposed(m_secrets + QStringList{account}), QStringList{account});
        });
        options->ShowSetting();
        QVERIFY(!QTest::currentTestFailed());
        m_a->settings = Settings::Read(m_a->folder.path());
        m_b = std::make_unique<Desk>(0);
        m_b->settings = Settings::Read(m_folderOfB.path());
        QVERIFY(m_a->open(&m_components) && m_b->open(&m_componentsOfB));
        m_a->window->show();
        m_b->window->show();

        // The office logs each login's mechanism and mailbox.
        const QString pop3Log = m_office.folder + u"/log/dovecot.log"_s;
        const QString smtpLog = m_office.folder + u"/log/postfix.log"_s;
        const qsizetype pop3From = ReadFile(pop3Log).size(), smtpFrom = ReadFile(smtpLog).size();
        auto *send = Child<QToolButton>(m_a->window.get(), "cmdButton0");
        QTRY_VERIFY_WITH_TIMEOUT(send->isEnabled(), 15000);
        FillMemo(m_a->window.get(), {0}, 0, false, u"山﨑商事"_s, u"髙橋"_s,
                 u"折り返しお願いします。\n内線123まで"_s);
        QTest::mouseClick(send, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(Text(m_a->window.get(), "sbrMsgPanel2"), Msg::MessageSent, 15000);
        QTRY_VERIFY_WITH_TIMEOUT((m_b->checkNow(), m_b->window->viewers().size() == 1), 30000);
        // What A typed, its name too, as it was typed.
        QCOMPARE(Shown(m_b->window->viewers()[0]).section(u'|', 1, 4),
                 u" 山﨑商事| 髙橋|折り返しお願いします。\n内線123まで\n|営業 太郎"_s);
        QVERIFY(ReadFile(pop3Log).mid(pop3From).contains(
            QByteArray("user=<user2@tavrino.test>, method=" + m_mechanism)));
        QCOMPARE(ReadFile(m_folderOfB.filePath(u"Tavrino.ini"_s)), ini(2)); // no token written

        // B answers from the viewer through the reply component, with the same sign-in, over the
        // quote.
        QTest::mouseClick(Child<QToolButton>(m_b->window->viewers()[0], "cmdButton1"),
                          Qt::LeftButton);
        QTRY_COMPARE(ReplyWindows().size(), 1);
        auto *text = Child<QPlainTextEdit>(ReplyWindows().first(), "txtMessage");
        text->setPlainText(u"承知しました。"_s + text->toPlainText());
        QTest::mouseClick(Child<QToolButton>(ReplyWindows().first(), "cmdButton0"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(ReplyWindows().size(), 0, 15000); // closed once accepted

        QTRY_VERIFY_WITH_TIMEOUT((m_a->checkNow(), m_a->window->viewers().size() == 1), 30000);
        QCOMPARE(Shown(m_a->window->viewers()[0]).section('|', 0, 5),
                 u"| | |承知しました。\n\n---Original Message---\n折り返しお願いします。\n"
                 u"内線123まで\n|鈴木|user2@tavrino.test"_s);
        QVERIFY(ReadFile(smtpLog).mid(smtpFrom).contains(
            QByteArray("sasl_method=" + m_mechanism + ", sasl_username=user2@tavrino.test")));
        QVERIFY(
            ReadFile(pop3Log).mid(pop3From).contains("user=<user1@tavrino.test>, method=PLAIN"));
        QCOMPARE(m_browserRuns, 1);
        noSecretShows();
        QVERIFY2(m_boxes.boxes.isEmpty(), qPrintable(m_boxes.boxes.join('\n')));
    }

    void anExpiredTokenIsRenewedUnseen()
    {
        QVERIFY(m_b);
        const int refreshes = refreshesAfter();
        QCOMPARE(refreshesAfter(u"/admin/expire?user=user2@tavrino.test"_s), refreshes);
        QCOMPARE(m_b->checkNow(), 1);
        QCOMPARE(refreshesAfter(), refreshes + 1);
        QVERIFY2(m_boxes.boxes.isEmpty(), qPrintable(m_boxes.boxes.join('\n')));
    }

    void aRevokedGrantAsksOnceToSignInAgainFromTheBox()
    {
        QVERIFY(m_b);
        m_boxes.dismiss = false;
        const int refreshes = refreshesAfter(u"/admin/revoke?user=user2@tavrino.test"_s);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(m_b->checkNow(), 0);
        QCOMPARE(refreshesAfter(), refreshes + 1); // one refusal, no more asking
        QTRY_COMPARE(m_boxes.boxes.size(), 1);
        QCOMPARE(m_boxes.boxes[0].section(u"\r\n"_s, 0, 0),
                 Warning(u"AUTH:サインインの有効期限が切れたか、取り消されました。"
                         u"設定画面の「サインイン」でサインインし直してください。"_s));
        QCOMPARE(BoxCatcher::openBoxes().size(), 1);
        signInWith(BoxCatcher::openBoxes()[0]);
        QVERIFY(!QTest::currentTestFailed());
        QTRY_VERIFY(BoxCatcher::openBoxes().isEmpty());
        QCOMPARE(m_b->checkNow(), 1);
        QCOMPARE(m_boxes.boxes.size(), 1);
        QCOMPARE(m_browserRuns, 2);
        noSecretShows();
    }
};

QTEST_MAIN(TestE2eOAuth)
#include "tst_e2e_oauth.moc"
