#pragma once
// The window that shows one received memo. It copies what it shows when it is
// made, so later memos never change it; it keeps the memo's key to delete the
// memo on the server through the main window's mail check.

#include "MailCheck.h"
#include "MemoMail.h"

#include <QWidget>

#include <memory>

class ComponentHost;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class StatusPanels;
class WaitCursor;

class frmMessage : public QWidget
{
    Q_OBJECT

public:
    /// mailCheck and components are borrowed; either may be nullptr, which
    /// leaves deleting or replying unavailable.
    frmMessage(const MemoValues &memo, const QString &userName, MailCheck *mailCheck,
               ComponentHost *components, QWidget *parent = nullptr);
    ~frmMessage() override;

    /// The key by which the memo is found again in the mailbox list.
    const QString &memoKey() const { return m_memoKey; }

    /// Enables the delete button exactly when the POP3 session is idle.
    void RefreshDeleteButton();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    /// A longer run of text without a space wraps anywhere, not at words.
    static constexpr qsizetype LongestWrappedRun = 4096;

    void buildControls();
    void showMemo(const MemoValues &memo, const QString &userName);
    /// Places the sender and widens the window so that the sender and the
    /// status bar show whole.
    void layoutSender();
    void onDelete();
    void onDeleteDone(MailCheck::DeleteResult result, const QString &errorText);
    void onReply();

    MailCheck *m_mailCheck = nullptr;
    ComponentHost *m_components = nullptr;
    QString m_memoKey;
    bool m_deletePending = false;
    std::unique_ptr<WaitCursor> m_deleteWait;

    QPushButton *m_cmdCover = nullptr;
    QToolButton *m_cmdButton[2] = {}; ///< 0 delete, 1 reply
    QGroupBox *m_frameTitle = nullptr;
    QLineEdit *m_txtDepartment = nullptr;
    QLineEdit *m_txtCaller = nullptr;
    QLabel *m_lblTitle = nullptr;
    QLineEdit *m_txtSummary = nullptr;
    QPlainTextEdit *m_txtMessage = nullptr;
    QLabel *m_lblTitle2 = nullptr;
    QLabel *m_lblSender = nullptr;
    QLabel *m_lblSenderID = nullptr;
    StatusPanels *m_sbrMsg = nullptr;
};
