#include "frmEdit.h"

#include "AppIcons.h"
#include "AppUi.h"
#include "HelpWindow.h"
#include "MemberDragList.h"
#include "MemberList.h"
#include "Messages.h"
#include "OptionTexts.h"
#include "basTavOptions.h"

#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace {

QString DisplayRow(const QString &name, const QString &address)
{
    return name + QLatin1Char('\t') + address;
}

} // namespace

frmEdit::frmEdit(const QString &listFile, const QString &folder, const QString &helpFile,
                 QWidget *parent)
    : QDialog(parent), m_appListFile(listFile)
{
    const WaitCursor wait;
    buildControls();
    InstallHelpKey(this, helpFile);
    setWindowTitle(OptMsg::EditCaptionPrefix + Msg::Title);
    m_lblList->setText(listFile);

    const QString path = listFile.isEmpty() ? listFile : QDir(folder).absoluteFilePath(listFile);
    const MemberListRead read = ReadMemberList(path);
    if (read.rows.size() > MaxMemberRows) {
        // Its rows cannot all be held; saving would cut the file short.
        m_cmdButton[0]->setEnabled(false);
        warn(OptMsg::ListTooLong);
    } else {
        for (const MemberRow &row : read.rows)
            m_lstMemberName->addItem(DisplayRow(row.name, row.address));
        m_unread = read.unread;
        if (!read.error.isEmpty())
            warn(AppErrorText(read.error));
    }
    m_appListFile = path;

    connect(m_lstMemberName, &QListWidget::itemSelectionChanged, this, &frmEdit::updateArrows);
    connect(m_cmdArrow[0], &QToolButton::clicked, this, [this] { onMove(-1); });
    connect(m_cmdArrow[1], &QToolButton::clicked, this, [this] { onMove(+1); });
    connect(m_cmdEdit[0], &QPushButton::clicked, this, &frmEdit::onInsert);
    connect(m_cmdEdit[2], &QPushButton::clicked, this, &frmEdit::onDelete);
    connect(m_cmdButton[0], &QPushButton::clicked, this, &frmEdit::onSave);
    connect(m_cmdButton[1], &QPushButton::clicked, this, &QDialog::reject);
}

void frmEdit::buildControls()
{
    setFont(AppFont());
    setWindowIcon(TavrinoIcon());
    auto *layout = new QGridLayout(this);
    auto *lblWindow = new QLabel(OptMsg::EditWindow, this);
    NameControl(lblWindow, QStringLiteral("lblWindow"), OptMsg::EditWindow);
    m_lblList = new QLabel(this);
    m_lblList->setObjectName(QStringLiteral("lblList"));
    m_lblList->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(lblWindow, 0, 0);
    layout->addWidget(m_lblList, 0, 1, 1, 2);

    auto *frame = new QGroupBox(OptMsg::EditFrame, this);
    NameControl(frame, QStringLiteral("frameMemberEdit"), OptMsg::EditFrame);
    auto *grid = new QGridLayout(frame);
    m_lstMemberName = new MemberDragList(frame);
    NameControl(m_lstMemberName, QStringLiteral("lstMemberName"), OptMsg::MembersName);
    m_lstMemberName->setMinimumSize(420, 260);
    grid->addWidget(m_lstMemberName, 0, 0, 2, 3);
    const QString tips[2] = {OptMsg::Up, OptMsg::Down};
    for (int i = 0; i < 2; ++i) {
        m_cmdArrow[i] = PictureButton(frame, QStringLiteral("cmdArrow%1").arg(i), QString(),
                                      tips[i], ArrowPicture(i == 0), QRect());
        m_cmdArrow[i]->setMinimumSize(32, 32);
        grid->addWidget(m_cmdArrow[i], i, 3, i == 0 ? Qt::AlignBottom : Qt::AlignTop);
    }
    auto field = [frame, grid](const QString &name, const QString &caption, const QString &tip,
                               int row) {
        auto *label = new QLabel(caption, frame);
        NameControl(label, QStringLiteral("lbl") + name, caption);
        auto *box = new QLineEdit(frame);
        box->setToolTip(tip);
        NameControl(box, QStringLiteral("txt") + name, tip);
        label->setBuddy(box);
        grid->addWidget(label, row, 0);
        grid->addWidget(box, row, 1, 1, 2);
        return box;
    };
    m_txtUserName = field(QStringLiteral("UserName"), OptMsg::UserName, OptMsg::UserNameTip, 2);
    m_txtAddress =
        field(QStringLiteral("Address"), OptMsg::MemberAddress, OptMsg::MemberAddressTip, 3);
    m_cmdEdit[0] = TextButton(frame, QStringLiteral("cmdEdit0"), OptMsg::Add, OptMsg::AddTip);
    m_cmdEdit[2] = TextButton(frame, QStringLiteral("cmdEdit2"), OptMsg::Remove, OptMsg::RemoveTip);
    grid->addWidget(m_cmdEdit[0], 2, 3);
    grid->addWidget(m_cmdEdit[2], 3, 3);
    auto *lblComment = new QLabel(OptMsg::Comment, frame);
    lblComment->setWordWrap(true);
    NameControl(lblComment, QStringLiteral("lblComment"), OptMsg::Comment);
    grid->addWidget(lblComment, 4, 0, 1, 4);
    grid->setColumnStretch(2, 1);
    layout->addWidget(frame, 1, 0, 1, 3);

    m_cmdButton[0] = TextButton(this, QStringLiteral("cmdButton0"), OptMsg::Save, OptMsg::SaveTip);
    m_cmdButton[1] =
        TextButton(this, QStringLiteral("cmdButton1"), OptMsg::Cancel, OptMsg::CancelTip);
    layout->addWidget(m_cmdButton[0], 2, 1, Qt::AlignRight);
    layout->addWidget(m_cmdButton[1], 2, 2);
    layout->setColumnStretch(1, 1);
}

void frmEdit::warn(const QString &text)
{
    ShowBox(this, QMessageBox::Warning, text);
}

void frmEdit::updateArrows()
{
    const int i = m_lstMemberName->selectedRow();
    const int n = m_lstMemberName->count();
    m_cmdArrow[0]->setEnabled(i != 0);
    m_cmdArrow[1]->setEnabled(i != n - 1);
}

void frmEdit::onMove(int direction)
{
    const int i = m_lstMemberName->selectedRow();
    if (i < 0) {
        warn(OptMsg::SelectToMove);
        return;
    }
    const int to = i + direction;
    if (to < 0 || to >= m_lstMemberName->count())
        return;
    m_lstMemberName->insertItem(to, m_lstMemberName->takeItem(i));
    m_lstMemberName->setCurrentRow(to);
}

void frmEdit::onInsert()
{
    const QString name = m_txtUserName->text().trimmed();
    if (name.isEmpty()) {
        warn(OptMsg::EnterName);
        m_txtUserName->setFocus();
        return;
    }
    const QString address = m_txtAddress->text().trimmed();
    if (name != QLatin1String("---") && address.isEmpty()) {
        warn(OptMsg::EnterAddress);
        m_txtAddress->setFocus();
        return;
    }
    const int i = m_lstMemberName->selectedRow();
    if (i < 0) {
        warn(OptMsg::SelectWhere);
        return;
    }
    if (m_lstMemberName->count() >= MaxMemberRows) {
        warn(OptMsg::ListTooLong);
        return;
    }
    m_lstMemberName->insertItem(i, DisplayRow(name, address));
    m_lstMemberName->setCurrentRow(i);
}

void frmEdit::onDelete()
{
    const int i = m_lstMemberName->selectedRow();
    if (i < 0) {
        warn(OptMsg::SelectToDelete);
        return;
    }
    delete m_lstMemberName->takeItem(i);
    const int n = m_lstMemberName->count();
    if (n == 0)
        m_lstMemberName->clearSelection();
    else
        m_lstMemberName->setCurrentRow(qMin(i, n - 1));
    // The list may have moved its selection while the row went.
    updateArrows();
}

void frmEdit::onSave()
{
    QList<MemberRow> rows;
    for (int i = 0; i < m_lstMemberName->count(); ++i) {
        const QString text = m_lstMemberName->item(i)->text();
        const qsizetype tab = text.indexOf(QLatin1Char('\t'));
        rows.append({text.left(tab), tab < 0 ? QString() : text.mid(tab + 1)});
    }
    QString error;
    {
        const WaitCursor wait;
        error = WriteMemberList(m_appListFile, rows, m_unread);
    }
    if (!error.isEmpty()) {
        // The old file is intact; the rows stay for another try or a cancel.
        warn(AppErrorText(error));
        return;
    }
    warn(OptMsg::ListSaved + QStringLiteral("\r\n") + OptMsg::ListRestart);
    accept();
}
