#pragma once
// The reply window: answers one memo with a memo of its own, over its own
// SMTP job, so that two replies sent at once never mix.

#include "basTavReply.h"

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QToolButton;
class SmtpSend;
class StatusPanels;

class frmReply : public QWidget
{
    Q_OBJECT

public:
    /// address may hold several addresses separated by ","; text is the memo
    /// answered, quoted under a marker line.
    frmReply(const ReplySettings &settings, const QString &address, const QString &name,
             const QString &text, QWidget *parent = nullptr);

private:
    void buildControls();
    /// Places the name and the address so that both show whole.
    void layoutRecipient();
    void onSend();

    ReplySettings m_settings;
    SmtpSend *m_job = nullptr;

    QToolButton *m_cmdButton[2] = {}; ///< 0 send, 1 cancel
    QGroupBox *m_frameTitle = nullptr;
    QLabel *m_lblTitle2 = nullptr;
    QLabel *m_lblToName = nullptr;
    QLabel *m_lblTo = nullptr;
    QPlainTextEdit *m_txtMessage = nullptr;
    QCheckBox *m_chkCover = nullptr;
    StatusPanels *m_sbrMsg = nullptr;
};
