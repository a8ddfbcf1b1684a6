#pragma once
// The memo list: the memos on the server as of the last check, newest first,
// each opened in its viewer by a double-click or Enter.

#include "MemoMail.h"

#include <QWidget>

class QTreeWidget;

class frmMemoList : public QWidget
{
    Q_OBJECT

public:
    explicit frmMemoList(QWidget *parent = nullptr);

    /// Shows these memos (oldest first, as the server lists them).
    void setMemos(const QList<MemoValues> &memos);

Q_SIGNALS:
    void openMemo(const MemoValues &memo);

private:
    QTreeWidget *m_lstMemo = nullptr;
    QList<MemoValues> m_memos; ///< newest first, as the rows
};
