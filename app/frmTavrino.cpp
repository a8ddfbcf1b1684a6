#include "frmTavrino.h"

#include "AppIcons.h"
#include "AppMessages.h"
#include "AppUi.h"
#include "BrowserSignIn.h"
#include "Components.h"
#include "HelpWindow.h"
#include "IniFile.h"
#include "JisConvert.h"
#include "MailCheck.h"
#include "Messages.h"
#include "OAuthTokens.h"
#include "SmtpSend.h"
#include "StatusPanels.h"
#include "frmMemoList.h"
#include "frmMessage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

#include <exception>

frmTavrino::frmTavrino(const Settings &settings, MailCheck *mailCheck, ComponentHost *components,
                       QWidget *parent)
    : QWidget(parent), m_settings(settings), m_mailCheck(mailCheck), m_components(components)
{
    buildControls();

    connect(m_cmdAll[0], &QPushButton::clicked, this, &frmTavrino::onSelectAll);
    connect(m_cmdAll[1], &QPushButton::clicked, this, &frmTavrino::onDeselectAll);
    connect(m_lstMemberName, &QListWidget::itemSelectionChanged, this,
            &frmTavrino::onMemberSelectionChanged);
    connect(m_cmdButton[0], &QToolButton::clicked, this, &frmTavrino::onSend);
    connect(m_cmdButton[1], &QToolButton::clicked, this, &frmTavrino::onSettings);
    connect(m_cmdButton[2], &QToolButton::clicked, this, &QWidget::close);
    const QList<QWidget *> selectOnFocus = {m_txtDepartment, m_txtCaller, m_txtMessage};
    for (QWidget *w : selectOnFocus)
        w->installEventFilter(this);

    m_mnuFile = new QMenu(AppMsg::MenuFile, this);
    m_mnuFile->setObjectName(QStringLiteral("mnuFile"));
    // What a desk sitting in the notification area is asked for most; help
    // is also F1 in every window.
    const std::pair<const char *, std::function<void()>> items[] = {
        {"mnuOpen", [this] { RestoreWindow(); }},
        {"mnuCheckNow",
         [this] {
             if (m_mailCheck)
                 m_mailCheck->checkNow();
         }},
        {"mnuMemoList", [this] { ShowMemoList(); }}};
    const QString captions[] = {AppMsg::MenuOpen, AppMsg::MenuCheckNow, AppMsg::MenuMemoList};
    for (int i = 0; i < 3; ++i) {
        QAction *action = m_mnuFile->addAction(captions[i]);
        action->setObjectName(QLatin1String(items[i].first));
        connect(action, &QAction::triggered, this, items[i].second);
    }
    auto *listKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    connect(listKey, &QShortcut::activated, this, &frmTavrino::ShowMemoList);
    QAction *help = m_mnuFile->addAction(AppMsg::MenuHelp);
    help->setObjectName(QStringLiteral("mnuHelp"));
    connect(help, &QAction::triggered, this, [this] { ShowHelpWindow(m_settings.helpFile); });
    m_mnuFile->addSeparator();
    InstallHelpKey(this, m_settings.helpFile);
    QAction *exit = m_mnuFile->addAction(AppMsg::MenuExit);
    exit->setObjectName(QStringLiteral("mnuFileItem0"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    connectMailCheck();
}

frmTavrino::~frmTavrino()
{
    // Viewers are windows of their own; none outlives the main window.
    for (const QPointer<frmMessage> &viewer : std::as_const(m_viewers))
        delete viewer.data();
    delete m_errorBox.data();
}

void frmTavrino::connectMailCheck()
{
    if (!m_mailCheck)
        return;
    m_statusDelay.setSingleShot(true);
    connect(&m_statusDelay, &QTimer::timeout, this, [this] { setCommandText(m_statusPending); });
    connect(m_mailCheck, &MailCheck::statusText, this, [this](const QString &text) {
        // Between checks the panel keeps saying how many memos wait.
        const int waiting = m_mailCheck->waitingCount();
        showCheckText(text.isEmpty() && waiting > 0 ? Msg::MemosWaiting.arg(waiting) : text);
    });
    // The settings button is held from the greeting on, shown so a frame
    // later: a short check ends before, and nothing is painted while it runs.
    m_buttonDelay.setSingleShot(true);
    connect(&m_buttonDelay, &QTimer::timeout, this, &frmTavrino::updateButtons);
    connect(m_mailCheck, &MailCheck::greeted, this, [this] {
        m_loggingIn = true;
        m_buttonDelay.start(StatusFrameMs);
    });
    connect(m_mailCheck, &MailCheck::checkEnded, this, [this] {
        // Sending shares nothing with receiving: once the first check has
        // ended, the send button stays available during every later check,
        // and a mail server that refuses the check never keeps the user
        // from sending memos.
        m_firstCheckEnded = true;
        m_loggingIn = false;
        m_buttonDelay.stop();
        updateButtons();
        if (m_statusDelay.isActive()) // the check's last word shows at once
            setCommandText(m_statusPending);
    });
    connect(m_mailCheck, &MailCheck::showMemo, this, &frmTavrino::onNewMemo);
    // The same failure at every check: said in the status bar and by the
    // icon, never in another box.
    connect(m_mailCheck, &MailCheck::failureRepeated, this, [this](const QString &text) {
        setCommandText(text);
        updateTray();
    });
    connect(m_mailCheck, &MailCheck::failureEnded, this, [this] {
        setCommandText(AppMsg::ReceivingAgain);
        updateTray();
    });
    connect(m_mailCheck, &MailCheck::boxChanged, this, [this] {
        if (m_memoList)
            m_memoList->setMemos(m_mailCheck->listedMemos());
        updateTray();
    });
    connect(m_mailCheck, &MailCheck::waitingChanged, this, &frmTavrino::onWaitingChanged);
    connect(m_mailCheck, &MailCheck::errorMessage, this, &frmTavrino::onMailCheckError);
    connect(
        m_mailCheck, &MailCheck::shutDown, this, [this] { Q_EMIT unloaded(); },
        Qt::QueuedConnection);
}

void frmTavrino::updateButtons()
{
    m_cmdButton[0]->setEnabled(!m_sending && m_firstCheckEnded);
    m_cmdButton[1]->setEnabled(!m_sending && !m_loggingIn);
}

void frmTavrino::onWaitingChanged(int count)
{
    // The count shows until the last waiting memo has its viewer.
    const QString waitingPrefix = Msg::MemosWaiting.section(QLatin1Char('%'), 0, 0);
    if (count > 0)
        showCheckText(Msg::MemosWaiting.arg(count));
    else if ((m_statusDelay.isActive() ? m_statusPending : m_sbrMsg->panelText(2))
                 .startsWith(waitingPrefix))
        setCommandText(QString());
    // During a check the count changes with every new memo: the icon's tip
    // follows once, when the check ends (boxChanged).
    if (!m_mailCheck->isChecking())
        updateTray();
}

void frmTavrino::showCheckText(const QString &text)
{
    // A check says something at every command, hundreds of times a second
    // in a large mailbox: the panel takes the latest text a frame later, at
    // most once a frame, so that painting it never holds the check up. A
    // short check shows only its last word, at its end.
    m_statusPending = text;
    if (!m_statusDelay.isActive())
        m_statusDelay.start(StatusFrameMs);
}

void frmTavrino::setCommandText(const QString &text)
{
    m_statusDelay.stop();
    m_sbrMsg->setPanelText(2, text);
}

QString frmTavrino::trayTip() const
{
    QStringList lines{Msg::Title};
    if (!m_mailCheck)
        return Msg::Title;
    if (!m_mailCheck->failureText().isEmpty())
        lines << AppMsg::TipFailure.arg(m_mailCheck->failureSince().toString(u"HH:mm"),
                                        m_mailCheck->failureText());
    if (const qsizetype open = viewers().size(); open > 0)
        lines << AppMsg::TipOpen.arg(open);
    if (const int waiting = m_mailCheck->waitingCount(); waiting > 0)
        lines << Msg::MemosWaiting.arg(waiting);
    if (m_mailCheck->lastGoodCheck().isValid())
        lines << AppMsg::TipLastCheck.arg(m_mailCheck->lastGoodCheck().toString(u"HH:mm"));
    return lines.join(QLatin1Char('\n'));
}

void frmTavrino::updateTray()
{
    if (!m_tray)
        return;
    const bool failing = m_mailCheck && !m_mailCheck->failureText().isEmpty();
    m_tray->setIcon(failing ? WarningTrayIcon() : windowIcon());
    m_tray->setToolTip(trayTip());
}

void frmTavrino::ShowMemoList()
{
    if (!m_memoList) {
        m_memoList = new frmMemoList(this);
        m_memoList->setAttribute(Qt::WA_DeleteOnClose);
        InstallHelpKey(m_memoList, m_settings.helpFile);
        connect(m_memoList, &frmMemoList::openMemo, this, &frmTavrino::openFromList);
        if (m_mailCheck)
            m_memoList->setMemos(m_mailCheck->listedMemos());
    }
    m_memoList->showNormal();
    m_memoList->raise();
    m_memoList->activateWindow();
}

void frmTavrino::openFromList(const MemoValues &memo)
{
    for (frmMessage *viewer : viewers()) {
        if (viewer->memoKey() == memo.MemoKey) {
            viewer->showNormal();
            viewer->raise();
            viewer->activateWindow();
            return;
        }
    }
    // Not one of the desk's own pop-ups: it does not count against them.
    auto *viewer = new frmMessage(memo, m_settings.UserName, m_mailCheck, m_components);
    InstallHelpKey(viewer, m_settings.helpFile);
    m_viewers.append(viewer);
    viewer->show();
}

bool frmTavrino::Load()
{
    if (!m_settings.isConfigured()) {
        // Nothing can be sent or received yet: offer the settings dialog; what
        // is saved there takes effect at the next start.
        QString error;
        if (ITavOptions *options = m_components->options(&error))
            options->ShowSetting();
        else
            ShowBox(nullptr, QMessageBox::Warning, AppErrorText(error));
        ShowBox(nullptr, QMessageBox::Warning, Msg::Title + Msg::Ending);
        return false;
    }
    QString error;
    try {
        error = loadMembersAndStart();
    } catch (const std::exception &e) {
        error = QString::fromLocal8Bit(e.what());
    }
    if (!error.isEmpty())
        ShowBox(nullptr, QMessageBox::Warning, AppErrorText(error)); // the window is not shown yet
    return true;
}

QString frmTavrino::loadMembersAndStart()
{
    const WaitCursor wait;
    m_lstMemberName->clear();
    m_members.clear();
    const MemberListRead read = ReadMemberList(m_settings.memberListPath());
    m_bulkSelecting = true;
    for (const MemberRow &row : read.rows) {
        m_members.append(row);
        m_lstMemberName->addItem(row.name);
    }
    m_bulkSelecting = false;
    if (!read.error.isEmpty())
        return read.error; // the members read so far stay; nothing else is started

    const IniFile ini = m_settings.ini();
    const int left = ParseTwips(ini.GetIniParm(TavrinoSection, QStringLiteral("Left")));
    const int top = ParseTwips(ini.GetIniParm(TavrinoSection, QStringLiteral("Top")));
    move(TwipsToPixels(left), TwipsToPixels(top));
    setWindowTitle(Msg::Title);
    m_sbrMsg->setPanelText(1, m_settings.UserName);
    m_sbrMsg->setPanelText(2, Msg::Connecting);
    if (m_mailCheck)
        m_mailCheck->start();
    return {};
}

MemoDraft frmTavrino::CurrentDraft() const
{
    MemoDraft draft;
    draft.kind = MemoKind(m_optGroup->checkedId());
    draft.sealed = m_chkCover->isChecked();
    draft.department = m_txtDepartment->text();
    draft.caller = m_txtCaller->text();
    draft.text = m_txtMessage->toPlainText();
    QList<int> selected;
    for (int row = 0; row < m_lstMemberName->count(); ++row) {
        if (m_lstMemberName->item(row)->isSelected())
            selected.append(row);
    }
    draft.recipients = MemoRecipients(m_members, selected);
    return draft;
}

void frmTavrino::onSend()
{
    // No check may start while the memo is on its way; every way this ends
    // lets the timer run again.
    if (m_mailCheck)
        m_mailCheck->holdTimer();
    const MemoDraft draft = CurrentDraft();
    if (draft.recipients.isEmpty()) {
        if (m_mailCheck)
            m_mailCheck->releaseTimer();
        ShowBox(this, QMessageBox::Warning, Msg::NoRecipient);
        m_lstMemberName->setFocus();
        return;
    }
    // What the mail's character set cannot carry becomes "?": the user
    // decides whether to send it so.
    const QString lost = UnsendableCharacters(draft.department + draft.caller + draft.text);
    if (!lost.isEmpty() && !ConfirmLostCharacters(lost)) {
        if (m_mailCheck)
            m_mailCheck->releaseTimer();
        return;
    }
    const MemoValues memo = BuildMemoMail(
        draft.kind, draft.sealed, draft.department, draft.caller, draft.text, draft.recipients,
        {m_settings.UserName, m_settings.UserID, m_settings.Domain});
    m_sending = true;
    updateButtons();

    auto *job = new SmtpSend(m_settings.smtp(), this);
    connect(job, &SmtpSend::statusText, this,
            [this](const QString &text) { setCommandText(text); });
    connect(job, &SmtpSend::sent, this, [this] {
        m_sending = false;
        setCommandText(Msg::MessageSent);
        ClearMemoForm();
        if (m_mailCheck)
            m_mailCheck->releaseTimer();
    });
    connect(job, &SmtpSend::failed, this, [this](const QString &text) {
        // The form keeps its contents for another attempt.
        m_sending = false;
        updateButtons();
        if (m_mailCheck)
            m_mailCheck->releaseTimer();
        // Never a modal box inside the job's signal: it would run while the
        // job is being closed and deleted under it.
        if (!m_unloaded)
            OpenBox(QMessageBox::Warning,
                    text + QStringLiteral("\r\n") +
                        AppMsg::SideSend.arg(m_settings.SmtpServer, m_settings.SmtpPort));
    });
    connect(job, &SmtpSend::closed, job, &QObject::deleteLater);
    job->sendMail(memo.MemoFromAddress, memo.MemoTo.split(QLatin1Char(',')),
                  memo.MemoBody.toLatin1());
}

bool frmTavrino::ConfirmLostCharacters(const QString &characters)
{
    QMessageBox box(QMessageBox::Warning, Msg::Title, AppMsg::LostCharacters + characters,
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setFont(AppFont());
    box.button(QMessageBox::Ok)->setText(AppMsg::SendAnyway);
    box.button(QMessageBox::Cancel)->setText(AppMsg::GoBack);
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void frmTavrino::ClearMemoForm()
{
    m_txtDepartment->clear();
    m_txtCaller->clear();
    m_txtMessage->clear();
    // An exclusive group always keeps one button ticked; lift that for a moment.
    m_optGroup->setExclusive(false);
    for (QRadioButton *option : m_optMessage)
        option->setChecked(false);
    m_optGroup->setExclusive(true);
    m_chkCover->setChecked(false);
    onDeselectAll();
    updateButtons();
    m_lstMemberName->setFocus();
}

void frmTavrino::onSelectAll()
{
    m_bulkSelecting = true;
    m_lstMemberName->selectAll();
    // Separators stay unselected: they are never recipients.
    for (int row = 0; row < m_members.size() && row < m_lstMemberName->count(); ++row) {
        if (m_members.at(row).isSeparator())
            m_lstMemberName->item(row)->setSelected(false);
    }
    m_bulkSelecting = false;
    m_cmdAll[1]->show();
    m_cmdAll[1]->raise();
    m_txtMessage->setFocus();
}

void frmTavrino::onDeselectAll()
{
    m_bulkSelecting = true;
    m_lstMemberName->clearSelection();
    if (m_lstMemberName->count() > 0)
        m_lstMemberName->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    m_bulkSelecting = false;
    const bool hadFocus = m_cmdAll[1]->hasFocus();
    m_cmdAll[1]->hide();
    if (hadFocus)
        m_cmdAll[0]->setFocus();
}

void frmTavrino::onMemberSelectionChanged()
{
    if (m_bulkSelecting)
        return;
    // A separator is never a recipient: choosing one takes it back at once.
    QListWidgetItem *current = m_lstMemberName->currentItem();
    if (current && current->isSelected() && current->text() == QLatin1String("---")) {
        m_bulkSelecting = true;
        current->setSelected(false);
        m_bulkSelecting = false;
    }
}

void frmTavrino::onSettings()
{
    if (m_loggingIn) // held, if not shown so yet
        return;
    if (m_mailCheck)
        m_mailCheck->holdTimer();
    QString error;
    if (ITavOptions *options = m_components->options(&error))
        options->ShowSetting();
    else
        ShowBox(this, QMessageBox::Warning, AppErrorText(error));
    if (m_mailCheck)
        m_mailCheck->releaseTimer();
    m_lstMemberName->setFocus();
}

void frmTavrino::onMailCheckError(const QString &text)
{
    // A server that stays down fails every check the same way: one box is
    // enough, later failures only show in the status bar while it is open.
    if (m_errorBox || m_unloaded) {
        setCommandText(text);
        return;
    }
    m_errorBox = OpenBox(QMessageBox::Warning,
                         text + QStringLiteral("\r\n") +
                             AppMsg::SideReceive.arg(m_settings.Pop3Server, m_settings.Pop3Port));
    // A sign-in refused or never made is mended from the box itself.
    const OAuthLogin oauth = m_settings.pop3().oauth;
    if (oauth.enabled && oauth.tokens && oauth.tokens->needsSignIn()) {
        QPushButton *button = m_errorBox->addButton(AppMsg::SignIn, QMessageBox::AcceptRole);
        NameControl(button, QStringLiteral("cmdSignIn"), AppMsg::SignIn);
        button->setToolTip(AppMsg::SignInTip);
        connect(button, &QPushButton::clicked, this, [this, tokens = oauth.tokens] {
            if (m_signIn) // the browser is already asked
                return;
            m_signIn = StartBrowserSignIn(tokens, tokens->config(), this,
                                          [this](const QString &errorText) {
                                              if (!errorText.isEmpty())
                                                  OpenBox(QMessageBox::Warning, errorText);
                                              else if (m_mailCheck)
                                                  m_mailCheck->checkNow();
                                          });
        });
    }
    updateTray();
}

void frmTavrino::onNewMemo(const MemoValues &memo)
{
    m_viewers.removeAll(QPointer<frmMessage>());
    auto *viewer = new frmMessage(memo, m_settings.UserName, m_mailCheck, m_components);
    InstallHelpKey(viewer, m_settings.helpFile);
    m_viewers.append(viewer);
    if (m_mailCheck)
        connect(viewer, &QObject::destroyed, m_mailCheck, &MailCheck::viewerClosed);
    // The icon's tool tip counts the open viewers.
    connect(viewer, &QObject::destroyed, this, &frmTavrino::updateTray, Qt::QueuedConnection);
    viewer->show();
    updateTray();
}

QList<frmMessage *> frmTavrino::viewers() const
{
    QList<frmMessage *> open;
    for (const QPointer<frmMessage> &viewer : m_viewers) {
        if (viewer)
            open.append(viewer.data());
    }
    return open;
}

bool frmTavrino::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        // The whole text is selected, so that typing replaces it. Queued, so
        // that it comes after the click that placed the cursor.
        if (watched == m_txtDepartment || watched == m_txtCaller) {
            auto *edit = static_cast<QLineEdit *>(watched);
            QTimer::singleShot(0, edit, [edit] { edit->selectAll(); });
        } else if (watched == m_txtMessage) {
            QTimer::singleShot(0, m_txtMessage, [this] { m_txtMessage->selectAll(); });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmTavrino::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const auto *change = static_cast<QWindowStateChangeEvent *>(event);
    if (isMinimized() && !(change->oldState() & Qt::WindowMinimized))
        moveToTray();
}

void frmTavrino::moveToTray()
{
    // Without a notification area the window simply stays minimised, so it
    // can always be found again.
    if (m_unloaded || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(windowIcon(), this);
        m_tray->setToolTip(trayTip());
        m_tray->setContextMenu(m_mnuFile);
        connect(m_tray, &QSystemTrayIcon::activated, this, &frmTavrino::onTrayActivated);
    }
    updateTray();
    m_tray->show();
    // Hidden after the state change has been handled, so that the window
    // leaves the task bar as well.
    QTimer::singleShot(0, this, [this] {
        if (isMinimized() && m_tray && m_tray->isVisible())
            hide();
    });
}

void frmTavrino::StartInTray()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        setWindowState(windowState() | Qt::WindowMinimized); // the state change moves it there
    else
        showMinimized();
}

void frmTavrino::onTrayActivated(int reason)
{
    // Desktops speaking StatusNotifierItem only ever report a single click.
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
        RestoreWindow();
}

void frmTavrino::RestoreWindow()
{
    if (m_unloaded)
        return;
    showNormal();
    if (m_tray)
        m_tray->hide();
    raise();
    activateWindow();
}

void frmTavrino::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (m_unloaded)
        return;
    m_unloaded = true;
    if (m_tray)
        m_tray->hide();
    // A minimised window keeps the position stored before.
    if (!isMinimized())
        storePosition();
    CloseHelpWindows();
    if (m_memoList)
        m_memoList->close();
    for (frmMessage *viewer : viewers())
        viewer->close();
    if (m_errorBox)
        m_errorBox->close();
    // Every POP3 connection ends with QUIT, so that deletions take effect;
    // the program ends when they have (or their bound has passed). Nothing
    // waits here: the window is gone and takes no more clicks.
    if (m_mailCheck)
        m_mailCheck->shutdown();
    else
        Q_EMIT unloaded();
}

void frmTavrino::storePosition()
{
    const IniFile ini = m_settings.ini();
    const QPoint at = pos();
    if (!ini.SetIniParm(TavrinoSection, QStringLiteral("Top"), FormatTwips(at.y() * 15.0)))
        ShowBox(this, QMessageBox::Warning, IniWriteErrorText(m_settings.appIniFile));
    if (!ini.SetIniParm(TavrinoSection, QStringLiteral("Left"), FormatTwips(at.x() * 15.0)))
        ShowBox(this, QMessageBox::Warning, IniWriteErrorText(m_settings.appIniFile));
}
