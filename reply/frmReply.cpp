#include "frmReply.h"

#include "AppIcons.h"
#include "AppMessages.h"
#include "AppUi.h"
#include "MemoMail.h"
#include "Messages.h"
#include "StatusPanels.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>

namespace {
constexpr int ClientWidth = 3870;
constexpr int ClientHeight = 4155;
} // namespace

frmReply::frmReply(const ReplySettings &settings, const QString &address, const QString &name,
                   const QString &text, QWidget *parent)
    : QWidget(parent, Qt::Window), m_settings(settings)
{
    setAttribute(Qt::WA_DeleteOnClose);
    const WaitCursor wait;
    buildControls();
    setWindowTitle(AppMsg::ReplyCaptionPrefix + Msg::Title);
    m_lblTo->setText(address);
    m_lblToName->setText(name);
    // A label is found by its text; the description says what it is.
    NameControl(m_lblTo, QStringLiteral("lblTo"), address);
    NameControl(m_lblToName, QStringLiteral("lblToName"), name);
    m_lblTo->setAccessibleDescription(AppMsg::ReplyToAddress);
    m_lblToName->setAccessibleDescription(AppMsg::ReplyToName);
    layoutRecipient();
    // The answer goes in the empty lines above the quoted memo.
    m_txtMessage->setPlainText(QStringLiteral("\n\n") + AppMsg::OriginalMarker + QLatin1Char('\n') +
                               text);
    m_sbrMsg->setPanelText(1, settings.UserName);
    m_txtMessage->setFocus();

    connect(m_cmdButton[0], &QToolButton::clicked, this, &frmReply::onSend);
    // Whatever is on its way is dropped with the window: no QUIT, no box.
    connect(m_cmdButton[1], &QToolButton::clicked, this, &QWidget::close);
}

void frmReply::buildControls()
{
    setFont(AppFont());
    setWindowIcon(TavrinoIcon());
    resize(TwipsToPixels(ClientWidth), TwipsToPixels(ClientHeight));

    m_frameTitle = new QGroupBox(AppMsg::ReplyFrame, this);
    m_frameTitle->setGeometry(TwipsRect(180, 180, 3495, 2595));
    NameControl(m_frameTitle, QStringLiteral("frameTitle"), AppMsg::ReplyFrame);
    m_lblTitle2 = new QLabel(AppMsg::ReplyTo, m_frameTitle);
    NameControl(m_lblTitle2, QStringLiteral("lblTitle2"), AppMsg::ReplyTo);
    m_lblToName = new QLabel(m_frameTitle);
    m_lblTo = new QLabel(m_frameTitle);
    for (QLabel *label : {m_lblToName, m_lblTo}) {
        label->setTextFormat(Qt::PlainText);
        // Window colours, like a field.
        label->setBackgroundRole(QPalette::Base);
        label->setForegroundRole(QPalette::Text);
        label->setAutoFillBackground(true);
    }
    m_txtMessage = new QPlainTextEdit(m_frameTitle);
    m_txtMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtMessage->setToolTip(AppMsg::MessageTip);
    m_txtMessage->setTabChangesFocus(true);
    NameControl(m_txtMessage, QStringLiteral("txtMessage"), AppMsg::MessageTip);
    m_chkCover = new QCheckBox(AppMsg::Cover, m_frameTitle);
    m_chkCover->setGeometry(TwipsRect(180, 2280, 1515, 195));
    m_chkCover->setToolTip(AppMsg::CoverTip);
    NameControl(m_chkCover, QStringLiteral("chkCover"), AppMsg::Cover);
    WidenToFit(m_chkCover, m_frameTitle->width() - 2);

    m_cmdButton[0] = PictureButton(this, QStringLiteral("cmdButton0"), AppMsg::Send,
                                   AppMsg::SendTip, SendPicture(), TwipsRect(1680, 2940, 915, 735));
    m_cmdButton[1] =
        PictureButton(this, QStringLiteral("cmdButton1"), AppMsg::Cancel, AppMsg::CancelTip,
                      ExitPicture(), TwipsRect(2760, 2940, 915, 735));

    m_sbrMsg = new StatusPanels(AppMsg::PanelCommand, this);
    m_sbrMsg->setNames(QStringLiteral("sbrMsg"));
    setTabOrder(m_txtMessage, m_chkCover);
    setTabOrder(m_chkCover, m_cmdButton[0]);
    setTabOrder(m_cmdButton[0], m_cmdButton[1]);
}

void frmReply::layoutRecipient()
{
    const QFontMetrics metrics(m_lblTo->font());
    const int line = metrics.height() + 2;
    // Below the frame's caption, whatever its font.
    const int top = qMax(TwipsToPixels(300) - 2, m_frameTitle->contentsRect().top() + 1);
    const int margin = TwipsToPixels(180);
    m_lblTitle2->setGeometry(margin, top, metrics.horizontalAdvance(AppMsg::ReplyTo) + 4, line);
    const int left = qMax(TwipsToPixels(600), m_lblTitle2->geometry().right() + 4);
    const int nameWidth = metrics.horizontalAdvance(m_lblToName->text()) + 6;
    const int addressWidth = metrics.horizontalAdvance(m_lblTo->text()) + 6;
    const int gap = 6;
    // Both on one line where they fit; else the address on a line of its own.
    // A frame too narrow for either grows, and the window with it.
    int frameWidth = m_frameTitle->width();
    const bool oneLine = left + nameWidth + gap + addressWidth + margin <= frameWidth;
    int needed = oneLine ? left + nameWidth + gap + addressWidth + margin
                         : qMax(left + nameWidth, left + addressWidth) + margin;
    if (needed > frameWidth) {
        resize(width() + needed - frameWidth, height());
        frameWidth = needed;
        m_frameTitle->resize(frameWidth, m_frameTitle->height());
    }
    m_lblToName->setGeometry(left, top, nameWidth, line);
    m_lblTo->setGeometry(oneLine ? left + nameWidth + gap : left, oneLine ? top : top + line,
                         addressWidth, line);
    const int textTop = m_lblTo->geometry().bottom() + 6;
    const int textBottom = TwipsToPixels(540 + 1635);
    m_txtMessage->setGeometry(margin, textTop, frameWidth - 2 * margin + TwipsToPixels(180) / 2,
                              textBottom - textTop);
    m_sbrMsg->setGeometry(0, height() - TwipsToPixels(330), width(), TwipsToPixels(330));
}

void frmReply::onSend()
{
    if (m_job)
        return;
    m_cmdButton[0]->setEnabled(false);
    const QStringList recipients = m_lblTo->text().trimmed().split(QLatin1Char(','));
    const MemoValues memo =
        BuildMemoMail(QLatin1Char('*'), m_chkCover->isChecked(), QString(), QString(),
                      m_txtMessage->toPlainText(), recipients,
                      {m_settings.UserName, m_settings.UserID, m_settings.Domain});
    m_job = new SmtpSend(m_settings.smtp(), this);
    connect(m_job, &SmtpSend::statusText, this,
            [this](const QString &text) { m_sbrMsg->setPanelText(2, text); });
    connect(m_job, &SmtpSend::sent, this, [this] {
        m_sbrMsg->setPanelText(2, Msg::MessageSent);
        m_txtMessage->clear();
        m_cmdButton[0]->setEnabled(true);
        close(); // the answer is on its way
    });
    connect(m_job, &SmtpSend::failed, this, [this](const QString &text) {
        // The text stays for another try; the box never waits inside the
        // job's signal.
        m_cmdButton[0]->setEnabled(true);
        OpenBox(QMessageBox::Warning, text, AppMsg::ReplyCaptionPrefix + Msg::Title);
    });
    connect(m_job, &SmtpSend::closed, this, [this] {
        m_job->deleteLater();
        m_job = nullptr;
    });
    m_job->sendMail(memo.MemoFromAddress, memo.MemoTo.split(QLatin1Char(',')),
                    memo.MemoBody.toLatin1());
}
