// The main window's controls, placed as the window was designed: positions in
// twips, children of a frame relative to the frame.

#include "frmTavrino.h"

#include "AppIcons.h"
#include "AppMessages.h"
#include "AppUi.h"
#include "Messages.h"
#include "StatusPanels.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace {

constexpr int ClientWidth = 4635;
constexpr int ClientHeight = 5895;
constexpr int CallerMaxLength = 20;

} // namespace

void frmTavrino::buildControls()
{
    setFont(AppFont());
    setWindowTitle(Msg::Title);
    setWindowIcon(TavrinoIcon());
    setFixedSize(TwipsToPixels(ClientWidth), TwipsToPixels(ClientHeight));

    // Recipients.
    m_frameTitle[0] = new QGroupBox(AppMsg::FrameMembers, this);
    m_frameTitle[0]->setGeometry(TwipsRect(180, 180, 1635, 5235));
    NameControl(m_frameTitle[0], QStringLiteral("frameTitle0"), AppMsg::FrameMembers);

    m_cmdAll[0] = new QPushButton(AppMsg::SelectAll, m_frameTitle[0]);
    m_cmdAll[0]->setGeometry(TwipsRect(120, 240, 1395, 255));
    m_cmdAll[0]->setToolTip(AppMsg::SelectAllTip);
    NameControl(m_cmdAll[0], QStringLiteral("cmdAll0"), AppMsg::SelectAll);
    // The deselect button lies on top of the select button and is shown only
    // after everybody has been selected.
    m_cmdAll[1] = new QPushButton(AppMsg::DeselectAll, m_frameTitle[0]);
    m_cmdAll[1]->setGeometry(m_cmdAll[0]->geometry());
    m_cmdAll[1]->setToolTip(AppMsg::DeselectAllTip);
    NameControl(m_cmdAll[1], QStringLiteral("cmdAll1"), AppMsg::DeselectAll);
    m_cmdAll[1]->hide();

    m_lstMemberName = new QListWidget(this);
    m_lstMemberName->setGeometry(TwipsRect(300, 780, 1395, 4470));
    m_lstMemberName->setSelectionMode(QAbstractItemView::MultiSelection);
    NameControl(m_lstMemberName, QStringLiteral("lstMemberName"), AppMsg::FrameMembers);

    // Caller.
    m_frameTitle[1] = new QGroupBox(AppMsg::FrameCaller, this);
    m_frameTitle[1]->setGeometry(TwipsRect(1980, 180, 2475, 4335));
    NameControl(m_frameTitle[1], QStringLiteral("frameTitle1"), AppMsg::FrameCaller);

    m_txtDepartment = new QLineEdit(m_frameTitle[1]);
    m_txtDepartment->setGeometry(TwipsRect(120, 240, 1635, 285));
    m_txtDepartment->setMaxLength(CallerMaxLength);
    m_txtDepartment->setToolTip(AppMsg::DepartmentTip);
    NameControl(m_txtDepartment, QStringLiteral("txtDepartment"), AppMsg::DepartmentTip);

    m_txtCaller = new QLineEdit(m_frameTitle[1]);
    m_txtCaller->setGeometry(TwipsRect(120, 600, 1635, 285));
    m_txtCaller->setMaxLength(CallerMaxLength);
    m_txtCaller->setToolTip(AppMsg::CallerTip);
    NameControl(m_txtCaller, QStringLiteral("txtCaller"), AppMsg::CallerTip);

    m_lblTitle = new QLabel(AppMsg::CallerSuffix, m_frameTitle[1]);
    m_lblTitle->setGeometry(TwipsRect(1860, 660, 465, 180));
    NameControl(m_lblTitle, QStringLiteral("lblTitle"), AppMsg::CallerSuffix);
    WidenToFit(m_lblTitle, m_frameTitle[1]->width() - 2);

    m_txtMessage = new QPlainTextEdit(m_frameTitle[1]);
    m_txtMessage->setGeometry(TwipsRect(120, 2340, 2235, 1575));
    m_txtMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtMessage->setTabChangesFocus(true);
    m_txtMessage->setToolTip(AppMsg::MessageTip);
    NameControl(m_txtMessage, QStringLiteral("txtMessage"), AppMsg::MessageTip);

    m_chkCover = new QCheckBox(AppMsg::Cover, m_frameTitle[1]);
    m_chkCover->setGeometry(TwipsRect(120, 4020, 2175, 195));
    NameControl(m_chkCover, QStringLiteral("chkCover"), AppMsg::Cover);
    WidenToFit(m_chkCover, m_frameTitle[1]->width() - 2);

    // The kinds of message stand on the form, over the caller frame.
    const QString kinds[4] = {Msg::Kind0, Msg::Kind1, Msg::Kind2, Msg::Kind3};
    m_optGroup = new QButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        m_optMessage[i] = new QRadioButton(kinds[i], this);
        m_optMessage[i]->setGeometry(TwipsRect(2100, 1200 + 300 * i, 1695, 315));
        NameControl(m_optMessage[i], QStringLiteral("optMessage") + QString::number(i), kinds[i]);
        m_optGroup->addButton(m_optMessage[i], i);
        WidenToFit(m_optMessage[i], m_frameTitle[1]->geometry().right());
    }

    // Buttons.
    m_cmdButton[0] = PictureButton(this, QStringLiteral("cmdButton0"), AppMsg::Send,
                                   AppMsg::SendTip, SendPicture(), TwipsRect(1980, 4680, 915, 735));
    m_cmdButton[1] =
        PictureButton(this, QStringLiteral("cmdButton1"), QString(), AppMsg::SettingsTip,
                      SettingsPicture(), TwipsRect(3240, 4800, 555, 555));
    m_cmdButton[2] = PictureButton(this, QStringLiteral("cmdButton2"), QString(), AppMsg::ExitTip,
                                   ExitPicture(), TwipsRect(3960, 4800, 495, 555));
    m_cmdButton[0]->setEnabled(false); // until the first mail check has finished

    m_sbrMsg = new StatusPanels(AppMsg::PanelCommand, this);
    m_sbrMsg->setGeometry(TwipsRect(0, 5565, ClientWidth, 330));
    m_sbrMsg->setNames(QStringLiteral("sbrMsg"));

    // Tab order as the form reads: recipients, caller, kind, text, buttons.
    QWidget *order[] = {m_cmdAll[0],     m_cmdAll[1],     m_lstMemberName, m_txtDepartment,
                        m_txtCaller,     m_optMessage[0], m_optMessage[1], m_optMessage[2],
                        m_optMessage[3], m_txtMessage,    m_chkCover,      m_cmdButton[0],
                        m_cmdButton[1],  m_cmdButton[2]};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    ClearFrameCaptions(this);
}
