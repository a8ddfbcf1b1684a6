// Two desks on the mail office in its OAuth mode, each signed in through its
// settings dialog by a person at a real browser (consent.py, headless
// Chromium). Memos and the reply travel with tokens; an expired token is
// renewed unseen, a revoked grant asks once to sign in again. No window ever
// shows a secret.

#include "Messages.h"
#include "frmMessage.h"
#include "frmSetting.h"
#include "tst_windowhelpers.h"

#include <QtTest>

class TestE2eOAuth : public QObject
{
    Q_OBJECT

    const MailOffice m_office{qEnvironmentVariable("TAV_MAILOFFICE_OAUTH_DIR")};
    const QString m_mechanism = qEnvironmentVariable("TAV_OAUTH_MECHANISM");
    FakeComponents m_components;
    // B's program folder holds its configuration and the real components.
    QTemporaryDir m_folderOfB;
    PluginComponents m_componentsOfB{m_folderOfB.path()};
    BoxCatcher m_boxes;
    QNetworkAccessManager m_network;
    QProcess m_browser;
    int m_browserRuns = 0, m_user = 0;
    QStringList m_secrets{u"pass1"_s, u"pass2"_s};
    std::unique_ptr<Desk> m_a = std::make_unique<Desk>(0), m_b;

    QByteArray ini(int user) const
    {
        return u"[Tavrino]\r\nUserName=U%1\r\nUserID=user%1\r\nDomain=%2\r\nPop3Server=localhost\r\n"
               u"Pop3Port=%3\r\nSmtpServer=localhost\r\nSmtpPort=%4\r\nList=m.lst\r\nInterval=300\r\n"
               u"Sleep=0\r\nPop3Security=stls\r\nSmtpSecurity=starttls\r\nSmtpAuth=1\r\nCAFile=%5\r\n"
               u"AuthMethod=oauth\r\nOAuthProvider=custom\r\nOAuthClientID=tavrino-desk\r\n"
               u"OAuthAuthorizeURL=%6\r\nOAuthTokenURL=%7\r\nOAuthScopes=mail offline_access\r\n"_s
            .arg(user)
            .arg(m_office.domain, m_office.port("POP3_PORT"), m_office.port("SMTP_PORT"),
                 m_office.port("CA_FILE"), m_office.port("OAUTH_AUTHORIZE_URL"),
                 m_office.port("OAUTH_TOKEN_URL"))
            .toLatin1();
    }

    /// Signs user in through the settings dialog that show() opens and keeps
    /// the secrets the sign-in made.
    bool signIn(int user, const QString &folder, const std::function<void()> &show)
    {
        m_user = user;
        QTimer::singleShot(0, this, [&] {
            const auto closeAtEnd = qScopeGuard([this] {
                m_browser.terminate();
                m_browser.waitForFinished(10000);
                if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                    dialog->reject();
            });
            QWidget *dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
            buttons.removeIf([](QPushButton *b) { return b->text() != u"サインイン"_s; });
            QCOMPARE(buttons.size(), 1);
            const int runs = m_browserRuns;
            QTest::mouseClick(buttons[0], Qt::LeftButton);
            QCOMPARE(m_browserRuns, runs + 1);
            QTRY_COMPARE_WITH_TIMEOUT(m_browser.state(), QProcess::NotRunning, 60000);
            QVERIFY2(m_browser.exitCode() == 0, m_browser.readAllStandardError().constData());
            const QUrl done(QString::fromUtf8(m_browser.readAllStandardOutput().trimmed()));
            m_secrets << QUrlQuery(done).queryItemValue(u"code"_s);
            QTRY_COMPARE(Text(dialog, "lblAccount"), u"サインイン済み: user%1@tavrino.test"_s.arg(user));
            m_secrets << QString::fromUtf8(ReadFile(folder + u"/Tavrino.token"_s));
            QVERIFY(m_secrets.last().size() >= 16 && m_secrets.at(m_secrets.size() - 2).size() >= 16);
            QVERIFY(AllTexts().contains(u"サインイン済み: user%1@tavrino.test"_s.arg(user)));
            QCOMPARE(SecretsShown(), QStringList());
        });
        show();
        return !QTest::currentTestFailed();
    }

    /// Every text of every window, through accessibility: names, values, descriptions.
    static QString AllTexts()
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
        return all;
    }
    QStringList SecretsShown() const
    {
        const QString all = AllTexts();
        QStringList shown = m_secrets;
        shown.removeIf([&](const QString &secret) { return !all.contains(secret); });
        return shown;
    }

    /// The provider's answer to a test control (POST) or to its counts (GET).
    QByteArray provider(const QString &path)
    {
        QNetworkRequest request(QUrl(m_office.port("OAUTH_URL") + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        const std::unique_ptr<QNetworkReply> reply(path == u"/admin/stats"_s
                                                       ? m_network.get(request)
                                                       : m_network.post(request, QByteArray()));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        return finished.wait(10000) ? reply->readAll() : QByteArray();
    }
    int count(const char *what)
    {
        return QJsonDocument::fromJson(provider(u"/admin/stats"_s))[QLatin1String(what)].toInt(-1);
    }

public Q_SLOTS:
    /// The desk's browser: a person who signs in on the page.
    void openBrowser(const QUrl &url)
    {
        ++m_browserRuns;
        m_browser.start(QFINDTESTDATA("consent.py"), {url.toString(QUrl::FullyEncoded),
                                                      u"user%1"_s.arg(m_user), u"pass%1"_s.arg(m_user)});
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
        m_browser.terminate();
        m_browser.waitForFinished(10000);
        m_b.reset();
        m_a.reset();
        QDesktopServices::unsetUrlHandler(u"http"_s);
    }

    void signedInDesksExchangeMemosAndShowNoSecret()
    {
        // A through the dialog's class, B through the component of its program folder.
        QVERIFY(signIn(1, m_a->folder.path(), [&] { frmSetting(m_a->folder.path()).exec(); }));
        QString error;
        ITavOptions *options = m_componentsOfB.options(&error);
        QVERIFY2(options, qPrintable(error));
        QVERIFY(signIn(2, m_folderOfB.path(), [&] { options->ShowSetting(); }));
        m_a->settings = Settings::Read(m_a->folder.path());
        m_b = std::make_unique<Desk>(0);
        m_b->settings = Settings::Read(m_folderOfB.path());
        QVERIFY(m_a->open(&m_components) && m_b->open(&m_componentsOfB));
        m_a->window->show();
        m_b->window->show();

        const int introspected = count("introspect");
        auto *send = Child<QToolButton>(m_a->window.get(), "cmdButton0");
        QTRY_VERIFY_WITH_TIMEOUT(send->isEnabled(), 15000);
        FillMemo(m_a->window.get(), {0}, 0, false, u"商事"_s, u"髙橋"_s, u"トークンで"_s);
        QTest::mouseClick(send, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(Text(m_a->window.get(), "sbrMsgPanel2"), Msg::MessageSent, 15000);
        QTRY_VERIFY_WITH_TIMEOUT((m_b->checkNow(), m_b->window->viewers().size() == 1), 30000);
        QCOMPARE(Text(m_b->window->viewers()[0], "txtMessage").trimmed(), u"トークンで"_s);
        QVERIFY(count("introspect") > introspected);
        const QString log = QString::fromUtf8(ReadFile(m_office.folder + u"/log/dovecot.log"_s));
        QVERIFY2(log.contains(u"method=%1"_s.arg(m_mechanism)), qPrintable(m_mechanism));
        QCOMPARE(ReadFile(m_a->folder.filePath(u"Tavrino.ini"_s)), ini(1)); // no token written

        // B answers from the viewer through the reply component, with the same sign-in.
        QTest::mouseClick(Child<QToolButton>(m_b->window->viewers()[0], "cmdButton1"),
                          Qt::LeftButton);
        QTRY_COMPARE(ReplyWindows().size(), 1);
        Child<QPlainTextEdit>(ReplyWindows().first(), "txtMessage")->setPlainText(u"承知"_s);
        QTest::mouseClick(Child<QToolButton>(ReplyWindows().first(), "cmdButton0"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(ReplyWindows().size(), 0, 15000);
        QTRY_VERIFY_WITH_TIMEOUT((m_a->checkNow(), m_a->window->viewers().size() == 1), 30000);
        QCOMPARE(Text(m_a->window->viewers()[0], "txtMessage").trimmed().left(2), u"承知"_s);
        QCOMPARE(m_browserRuns, 2);
        QCOMPARE(SecretsShown(), QStringList());
        QVERIFY2(m_boxes.boxes.isEmpty(), qPrintable(m_boxes.boxes.join('\n')));
    }

    void anExpiredTokenIsRenewedUnseen()
    {
        QVERIFY(m_b);
        const int refreshed = count("refresh_token");
        provider(u"/admin/expire?user=user2@tavrino.test"_s);
        QCOMPARE(m_b->checkNow(), 1);
        QCOMPARE(count("refresh_token"), refreshed + 1);
        QVERIFY2(m_boxes.boxes.isEmpty(), qPrintable(m_boxes.boxes.join('\n')));
    }

    void aRevokedGrantAsksOnceToSignInAgain()
    {
        QVERIFY(m_b);
        const int refreshed = count("refresh_token");
        provider(u"/admin/revoke?user=user2@tavrino.test"_s);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(m_b->checkNow(), 0);
        QCOMPARE(count("refresh_token"), refreshed + 1);
        QTRY_COMPARE(m_boxes.boxes.size(), 1);
        QVERIFY2(m_boxes.boxes[0].contains(u"サインインの有効期限が切れたか、取り消されました。"
                                           u"設定画面の「サインイン」でサインインし直してください。"_s),
                 qPrintable(m_boxes.boxes[0]));
    }
};

QTEST_MAIN(TestE2eOAuth)
#include "tst_e2e_oauth.moc"
