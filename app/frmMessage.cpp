#include "frmMessage.h"

#include "AppIcons.h"
#include "AppMessages.h"
#include "AppUi.h"
#include "Components.h"
#include "HeaderLines.h"
#include "Messages.h"
#include "StatusPanels.h"

#include <QEvent>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <algorithm>

namespace {

constexpr int ClientWidth = 3900;
constexpr int ClientHeight = 4080;
const QColor FieldColour(255, 255, 192);

QLineEdit *ReadOnlyLine(QWidget *parent, const QString &name, const QString &tip,
                        const QRect &geometry)
{
    auto *edit = new QLineEdit(parent);
    edit->setGeometry(geometry);
    edit->setReadOnly(true);
    edit->setToolTip(tip);
    NameControl(edit, name, tip);
    return edit;
}

} // namespace

frmMessage::frmMessage(const MemoValues &memo, const QString &userName, MailCheck *mailCheck,
                       ComponentHost *components, QWidget *parent)
    : QWidget(parent, Qt::Window), m_mailCheck(mailCheck), m_components(components),
      m_memoKey(memo.MemoKey)
{
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
    showMemo(memo, userName);

    connect(m_cmdCover, &QPushButton::clicked, m_cmdCover, &QWidget::hide);
    // Escape closes the viewer, as its close box does.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
    connect(m_cmdButton[0], &QToolButton::clicked, this, &frmMessage::onDelete);
    connect(m_cmdButton[1], &QToolButton::clicked, this, &frmMessage::onReply);

    // The delete button follows the session whenever the user comes near it.
    setMouseTracking(true);
    const QList<QWidget *> tracked = {m_frameTitle,
                                      m_txtDepartment,
                                      m_txtCaller,
                                      m_lblTitle,
                                      m_txtSummary,
                                      m_txtMessage,
                                      m_lblTitle2,
                                      m_lblSender,
                                      m_lblSenderID,
                                      m_cmdButton[0],
                                      m_cmdButton[1],
                                      m_sbrMsg,
                                      m_txtMessage->viewport()};
    for (QWidget *w : tracked) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    RefreshDeleteButton();
}

frmMessage::~frmMessage() = default;

void frmMessage::buildControls()
{
    setFont(AppFont());
    setWindowIcon(TavrinoIcon());
    setFixedSize(TwipsToPixels(ClientWidth), TwipsToPixels(ClientHeight));

    m_frameTitle = new QGroupBox(this);
    m_frameTitle->setGeometry(TwipsRect(180, 180, 3495, 2475));
    m_frameTitle->setFont(AppFont(12, true));
    m_frameTitle->setObjectName(QStringLiteral("frameTitle"));

    m_txtDepartment = ReadOnlyLine(m_frameTitle, QStringLiteral("txtDepartment"),
                                   AppMsg::DepartmentTip, TwipsRect(180, 300, 2535, 285));
    m_txtCaller = ReadOnlyLine(m_frameTitle, QStringLiteral("txtCaller"), AppMsg::CallerTip,
                               TwipsRect(180, 600, 2535, 285));
    m_lblTitle = new QLabel(AppMsg::CallerSuffix, m_frameTitle);
    m_lblTitle->setGeometry(TwipsRect(2880, 660, 465, 180));
    NameControl(m_lblTitle, QStringLiteral("lblTitle"), AppMsg::CallerSuffix);
    m_txtSummary = ReadOnlyLine(m_frameTitle, QStringLiteral("txtSummary"), QString(),
                                TwipsRect(180, 900, 3135, 285));
    NameControl(m_txtSummary, QStringLiteral("txtSummary"), AppMsg::SummaryName);
    m_txtMessage = new QPlainTextEdit(m_frameTitle);
    m_txtMessage->setGeometry(TwipsRect(180, 1200, 3135, 1095));
    m_txtMessage->setReadOnly(true);
    m_txtMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtMessage->setTabChangesFocus(true);
    NameControl(m_txtMessage, QStringLiteral("txtMessage"), AppMsg::ViewerMessageName);
    // The frame's caption is large and bold; what it holds is not.
    const QList<QWidget *> framed = {m_txtDepartment, m_txtCaller, m_lblTitle, m_txtSummary,
                                     m_txtMessage};
    for (QWidget *w : framed)
        w->setFont(AppFont());
    WidenToFit(m_lblTitle, m_frameTitle->width() - 2);
    const QList<QWidget *> fields = {m_txtDepartment, m_txtCaller, m_txtSummary, m_txtMessage};
    for (QWidget *w : fields) {
        QPalette palette = w->palette();
        palette.setColor(QPalette::Base, FieldColour);
        w->setPalette(palette);
    }

    m_cmdButton[1] =
        PictureButton(this, QStringLiteral("cmdButton1"), AppMsg::Reply, AppMsg::ReplyTip,
                      ReplyPicture(), TwipsRect(1680, 2820, 915, 795));
    m_cmdButton[0] =
        PictureButton(this, QStringLiteral("cmdButton0"), AppMsg::Delete, AppMsg::DeleteTip,
                      DeletePicture(), TwipsRect(2760, 2820, 915, 795));

    m_lblTitle2 = new QLabel(AppMsg::Sender, this);
    m_lblTitle2->setGeometry(TwipsRect(180, 3000, 630, 180));
    NameControl(m_lblTitle2, QStringLiteral("lblTitle2"), AppMsg::Sender);
    m_lblSender = new QLabel(this);
    m_lblSender->setGeometry(TwipsRect(840, 3000, 855, 180));
    WidenToFit(m_lblTitle2, m_lblSender->x());
    m_lblSenderID = new QLabel(this);
    m_lblSenderID->setGeometry(TwipsRect(180, 3240, 1515, 180));
    for (QLabel *label : {m_lblSender, m_lblSenderID}) {
        label->setTextFormat(Qt::PlainText); // what a sender wrote is never markup
        // Window colours, like a field.
        label->setBackgroundRole(QPalette::Base);
        label->setForegroundRole(QPalette::Text);
        label->setAutoFillBackground(true);
    }

    m_sbrMsg = new StatusPanels(AppMsg::PanelMessageId, this);
    m_sbrMsg->setGeometry(TwipsRect(0, 3750, ClientWidth, 330));
    m_sbrMsg->setNames(QStringLiteral("sbrMsg"));

    // A sealed memo is hidden under one large button until it is opened.
    m_cmdCover = new QPushButton(AppMsg::Unseal, this);
    m_cmdCover->setGeometry(TwipsRect(0, 0, 3915, 4095));
    NameControl(m_cmdCover, QStringLiteral("cmdCover"), AppMsg::Unseal);
    m_cmdCover->raise();

    setTabOrder(m_cmdCover, m_txtMessage);
    setTabOrder(m_txtMessage, m_cmdButton[1]);
    setTabOrder(m_cmdButton[1], m_cmdButton[0]);

    // The three one-line boxes hand their focus back to the window, so no
    // caret stands in them.
    const QList<QWidget *> guarded = {m_txtCaller, m_txtDepartment, m_txtSummary};
    for (QWidget *w : guarded)
        w->installEventFilter(this);
}

void frmMessage::showMemo(const MemoValues &memo, const QString &userName)
{
    const MemoView view = ViewOfMemo(memo);
    setWindowTitle(AppMsg::ViewerCaptionPrefix + Msg::Title);
    m_txtSummary->setText(Msg::KindSentence(view.kind));
    m_cmdCover->setVisible(view.sealed);
    m_frameTitle->setTitle(view.time);
    m_frameTitle->setAccessibleName(view.time);
    m_txtDepartment->setText(QLatin1Char(' ') + view.department);
    m_txtCaller->setText(QLatin1Char(' ') + view.caller);
    m_txtMessage->setPlainText(view.text);
    // Word wrapping searches a run without a space again for every line it
    // makes of it: a run of thousands of characters wraps anywhere instead.
    qsizetype run = 0;
    for (const QChar c : view.text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > LongestWrappedRun) {
            m_txtMessage->setWordWrapMode(QTextOption::WrapAnywhere);
            break;
        }
    }
    const QString sender = TrimSpaces(memo.MemoFromName);
    const QString senderAddress = TrimSpaces(memo.MemoFromAddress);
    m_lblSender->setText(sender);
    NameControl(m_lblSender, QStringLiteral("lblSender"), sender);
    m_lblSenderID->setText(senderAddress);
    NameControl(m_lblSenderID, QStringLiteral("lblSenderID"), senderAddress);
    // Without an address a reply can be sent to, there is no reply: never to a guess.
    m_cmdButton[1]->setEnabled(IsUsableAddress(senderAddress));
    m_sbrMsg->setPanelText(1, userName);
    m_sbrMsg->setPanelText(2, TrimSpaces(memo.MemoMessageId));
    layoutSender();
}

void frmMessage::layoutSender()
{
    const QFontMetrics metrics(m_lblSender->font());
    const int left = TwipsToPixels(180);
    const int line = TwipsToPixels(180) + 4;
    const QRect title2 = m_lblTitle2->geometry();
    m_lblTitle2->resize(metrics.horizontalAdvance(m_lblTitle2->text()) + 4, line);
    const int nameLeft = qMax(TwipsToPixels(840), m_lblTitle2->geometry().right() + 4);
    m_lblSender->setGeometry(
        nameLeft, title2.top(),
        qMax(TwipsToPixels(855), metrics.horizontalAdvance(m_lblSender->text()) + 6), line);
    m_lblSenderID->setGeometry(
        left, TwipsToPixels(3240),
        qMax(TwipsToPixels(1515), metrics.horizontalAdvance(m_lblSenderID->text()) + 6), line);
    // A long sender pushes the two buttons to the right, and the window grows.
    const int senderRight =
        qMax(m_lblSender->geometry().right(), m_lblSenderID->geometry().right());
    const int shift = qMax(0, senderRight + 6 - TwipsToPixels(1680));
    m_cmdButton[1]->move(TwipsToPixels(1680) + shift, m_cmdButton[1]->y());
    m_cmdButton[0]->move(TwipsToPixels(2760) + shift, m_cmdButton[0]->y());
    const int width =
        std::max({TwipsToPixels(ClientWidth), m_cmdButton[0]->geometry().right() + left,
                  m_sbrMsg->neededWidth()});
    setFixedSize(width, TwipsToPixels(ClientHeight));
    m_sbrMsg->setGeometry(0, TwipsToPixels(3750), width, TwipsToPixels(330));
    ClearFrameCaptions(this);
    m_cmdCover->setGeometry(rect());
}

void frmMessage::RefreshDeleteButton()
{
    m_cmdButton[0]->setEnabled(m_mailCheck && !m_deletePending && m_mailCheck->Pop3State() == 0);
}

bool frmMessage::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::MouseMove)
        RefreshDeleteButton();
    return QWidget::event(event);
}

bool frmMessage::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
        RefreshDeleteButton();
        break;
    case QEvent::FocusIn:
        if (watched == m_cmdButton[0] || watched == m_cmdButton[1]) {
            RefreshDeleteButton();
        } else if (watched == m_txtCaller || watched == m_txtDepartment ||
                   watched == m_txtSummary) {
            setFocus(Qt::OtherFocusReason);
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void frmMessage::onDelete()
{
    if (!m_mailCheck || m_deletePending)
        return;
    m_deletePending = true;
    m_deleteWait = std::make_unique<WaitCursor>();
    RefreshDeleteButton();
    // The deletion waits for the session to be free, with a bound; the
    // answer may come at once.
    m_mailCheck->requestDelete(m_memoKey, this,
                               [this](MailCheck::DeleteResult result, const QString &text) {
                                   onDeleteDone(result, text);
                               });
}

void frmMessage::onDeleteDone(MailCheck::DeleteResult result, const QString &errorText)
{
    m_deleteWait.reset();
    m_deletePending = false;
    if (result == MailCheck::DeleteResult::TimedOut || result == MailCheck::DeleteResult::Failed) {
        // The memo is still on the server: the viewer stays for another try.
        // The box is a window of its own, since this runs inside the
        // deletion's session signals.
        RefreshDeleteButton();
        OpenBox(QMessageBox::Warning, result == MailCheck::DeleteResult::Failed
                                          ? Msg::DeleteFailed + QStringLiteral("\r\n") + errorText
                                          : errorText);
        return;
    }
    // Deleted, or gone from the server already.
    close();
}

void frmMessage::onReply()
{
    // Boxes of their own, without an event loop of their own: a deletion may
    // close this viewer while one is open.
    QString error = Msg::ErrPluginMissing;
    ITavReply *reply = m_components ? m_components->reply(&error) : nullptr;
    if (!reply) {
        OpenBox(QMessageBox::Warning, AppErrorText(error));
        return;
    }
    if (reply->ShowReply(m_lblSenderID->text(), m_lblSender->text(), m_txtMessage->toPlainText()) !=
        0)
        OpenBox(QMessageBox::Warning, AppErrorText(reply->LastError()));
}
