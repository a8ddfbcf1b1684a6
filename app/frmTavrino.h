#pragma once
// The main window: the memo form on top of the receiving desk. The mail
// checks run in a MailCheck the window borrows; the window shows their
// progress, opens a viewer for every new memo and moves into the
// notification area when minimised.

#include "MemberList.h"
#include "MemoDraft.h"
#include "MemoMail.h"
#include "Settings.h"

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class ComponentHost;
class MailCheck;
class OAuthSignIn;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QToolButton;
class StatusPanels;
class frmMemoList;
class frmMessage;

class frmTavrino : public QWidget
{
    Q_OBJECT

public:
    /// mailCheck and components are borrowed and must outlive the window.
    frmTavrino(const Settings &settings, MailCheck *mailCheck, ComponentHost *components,
               QWidget *parent = nullptr);
    ~frmTavrino() override;

    /// The load step, run once before the window is shown. False when the
    /// program is not configured: the settings dialog has been offered and
    /// the program is to end. A failure while loading is reported and stops
    /// the load (no mail check then), but the window is still shown.
    bool Load();

    /// Shows the window in normal state from the notification area or from
    /// the task bar, and activates it.
    void RestoreWindow();
    /// Starts in the notification area without showing the window, as a desk
    /// started at login does; without a notification area, minimised.
    void StartInTray();
    /// The notification icon was clicked (a QSystemTrayIcon::ActivationReason).
    void onTrayActivated(int reason);

    /// The form's contents as they would be sent.
    MemoDraft CurrentDraft() const;

    /// Empties the memo form after a memo was sent.
    void ClearMemoForm();

    /// The members as read from the member list (the hidden address list).
    const QList<MemberRow> &members() const { return m_members; }

    /// The memo viewers still open.
    QList<frmMessage *> viewers() const;

    /// The notification icon, or nullptr before the first minimise.
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    /// What the notification icon's tool tip says.
    QString trayTip() const;

    /// Opens the memo list, or brings it forward.
    void ShowMemoList();

public Q_SLOTS:
    /// The send button: checks that there is a recipient and sends the memo.
    void onSend();

Q_SIGNALS:
    /// The window has closed and stopped everything; the program ends.
    void unloaded();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void connectMailCheck();
    QString loadMembersAndStart();
    void onSelectAll();
    void onDeselectAll();
    void onMemberSelectionChanged();
    void onSettings();
    void onMailCheckError(const QString &text);
    void onWaitingChanged(int count);
    /// Send and settings follow what runs: a send in flight, a check.
    void updateButtons();
    void onNewMemo(const MemoValues &memo);
    /// Asks whether to send although these characters will become "?".
    bool ConfirmLostCharacters(const QString &characters);
    /// Opens a viewer for a memo chosen in the memo list, or raises its own.
    void openFromList(const MemoValues &memo);
    /// The notification icon's picture and tool tip after a change.
    void updateTray();
    void moveToTray();
    void storePosition();
    /// Panel 2, for what the mail check says: at most once a frame.
    void showCheckText(const QString &text);
    /// Panel 2 at once; a text the check said earlier and not shown yet is dropped.
    void setCommandText(const QString &text);
    static constexpr int StatusFrameMs = 40;

    Settings m_settings;
    MailCheck *m_mailCheck = nullptr;
    ComponentHost *m_components = nullptr;
    QList<MemberRow> m_members;
    QList<QPointer<frmMessage>> m_viewers;
    QPointer<QMessageBox> m_errorBox;
    QPointer<OAuthSignIn> m_signIn; ///< started from the failure box
    QPointer<frmMemoList> m_memoList;
    bool m_bulkSelecting = false;
    bool m_unloaded = false;
    bool m_sending = false;
    bool m_firstCheckEnded = false;
    bool m_loggingIn = false;
    QTimer m_statusDelay;
    QTimer m_buttonDelay;
    QString m_statusPending;

    QGroupBox *m_frameTitle[2] = {};
    QListWidget *m_lstMemberName = nullptr;
    QPushButton *m_cmdAll[2] = {};
    QLineEdit *m_txtDepartment = nullptr;
    QLineEdit *m_txtCaller = nullptr;
    QLabel *m_lblTitle = nullptr;
    QRadioButton *m_optMessage[4] = {};
    QButtonGroup *m_optGroup = nullptr;
    QPlainTextEdit *m_txtMessage = nullptr;
    QCheckBox *m_chkCover = nullptr;
    QToolButton *m_cmdButton[3] = {};
    StatusPanels *m_sbrMsg = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_mnuFile = nullptr;
};
