#include "frmMemoList.h"

#include "AppIcons.h"
#include "AppMessages.h"
#include "AppUi.h"
#include "Messages.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

/// Enter opens the current row, as a double-click does.
class MemoTree : public QTreeWidget
{
public:
    using QTreeWidget::QTreeWidget;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem())
            Q_EMIT itemActivated(currentItem(), 0);
        else
            QTreeWidget::keyPressEvent(event);
    }
};

} // namespace

frmMemoList::frmMemoList(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setFont(AppFont());
    setWindowIcon(TavrinoIcon());
    setWindowTitle(AppMsg::MemoListCaptionPrefix + Msg::Title);
    m_lstMemo = new MemoTree(this);
    NameControl(m_lstMemo, QStringLiteral("lstMemo"), AppMsg::MemoListName);
    m_lstMemo->setRootIsDecorated(false);
    m_lstMemo->setUniformRowHeights(true);
    m_lstMemo->setAllColumnsShowFocus(true);
    m_lstMemo->setHeaderLabels(AppMsg::MemoListColumns.split(QLatin1Char('|')));
    m_lstMemo->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_lstMemo);
    resize(640, 320);
    connect(m_lstMemo, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item) {
        const int row = m_lstMemo->indexOfTopLevelItem(item);
        if (row >= 0 && row < m_memos.size())
            Q_EMIT openMemo(m_memos.at(row));
    });
}

void frmMemoList::setMemos(const QList<MemoValues> &memos)
{
    const QString current = m_lstMemo->currentItem()
                                ? m_lstMemo->currentItem()->data(0, Qt::UserRole).toString()
                                : QString();
    m_memos.clear();
    m_lstMemo->clear();
    QList<QTreeWidgetItem *> items;
    for (auto memo = memos.crbegin(); memo != memos.crend(); ++memo) {
        const MemoView view = ViewOfMemo(*memo);
        // A sealed memo shows who and when, never what.
        auto *item = new QTreeWidgetItem(QStringList{
            view.time, Msg::KindSentence(view.kind).trimmed(), view.department, view.caller,
            memo->MemoFromName.trimmed(), view.sealed ? AppMsg::SealedMark : QString()});
        item->setData(0, Qt::UserRole, memo->MemoKey);
        items.append(item);
        m_memos.append(*memo);
    }
    m_lstMemo->addTopLevelItems(items);
    for (QTreeWidgetItem *item : items) {
        if (item->data(0, Qt::UserRole).toString() == current)
            m_lstMemo->setCurrentItem(item);
    }
}
