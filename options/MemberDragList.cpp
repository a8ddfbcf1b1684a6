#include "MemberDragList.h"

#include "basTavOptions.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace {

/// Shows a row "name TAB address" in two columns.
class TwoColumnDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        opt.widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        const qsizetype tab = text.indexOf(QLatin1Char('\t'));
        const QRect r = opt.rect.adjusted(3, 0, -3, 0);
        const int column = qMin(r.width() / 2, opt.fontMetrics.averageCharWidth() * 20);
        painter->setPen(opt.palette.color(
            opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(r.adjusted(0, 0, tab < 0 ? 0 : column - r.width(), 0),
                          Qt::AlignVCenter | Qt::AlignLeft, text.left(tab < 0 ? text.size() : tab));
        if (tab >= 0)
            painter->drawText(r.adjusted(column + 4, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                              text.mid(tab + 1));
    }
};

} // namespace

MemberDragList::MemberDragList(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(false);
    setItemDelegate(new TwoColumnDelegate(this));
}

int MemberDragList::selectedRow() const
{
    const QList<QListWidgetItem *> items = selectedItems();
    return items.isEmpty() ? -1 : row(items.constFirst());
}

void MemberDragList::dropRow(int dragged, int target)
{
    if (dragged < 0 || target < 0 || dragged >= count() || target >= count())
        return;
    const int landing = DropPosition(dragged, target);
    QListWidgetItem *item = takeItem(dragged);
    insertItem(landing, item);
    setCurrentRow(landing);
}

void MemberDragList::mousePressEvent(QMouseEvent *event)
{
    QListWidget::mousePressEvent(event);
    // A press below the last row starts no drag.
    m_pressedRow =
        event->button() == Qt::LeftButton ? indexAt(event->position().toPoint()).row() : -1;
    m_pressPos = event->position().toPoint();
}

void MemberDragList::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressedRow < 0 || !(event->buttons() & Qt::LeftButton)) {
        QListWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    if (!m_dragging && (pos - m_pressPos).manhattanLength() < QApplication::startDragDistance())
        return;
    m_dragging = true;
    // Above or below the list, it scrolls towards the pointer.
    if (pos.y() < 0)
        verticalScrollBar()->setValue(verticalScrollBar()->value() - 1);
    else if (pos.y() >= viewport()->height())
        verticalScrollBar()->setValue(verticalScrollBar()->value() + 1);
    m_markRow = indexAt(pos).row();
    viewport()->update();
}

void MemberDragList::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging) {
        m_pressedRow = -1;
        QListWidget::mouseReleaseEvent(event);
        return;
    }
    const int dragged = m_pressedRow;
    // Released over no row: nothing moves.
    const int target = indexAt(event->position().toPoint()).row();
    endDrag();
    if (target >= 0)
        dropRow(dragged, target);
}

void MemberDragList::keyPressEvent(QKeyEvent *event)
{
    if (m_dragging && event->key() == Qt::Key_Escape) {
        endDrag();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void MemberDragList::endDrag()
{
    m_dragging = false;
    m_pressedRow = -1;
    m_markRow = -1;
    viewport()->update();
}

void MemberDragList::paintEvent(QPaintEvent *event)
{
    QListWidget::paintEvent(event);
    if (!m_dragging || m_markRow < 0)
        return;
    // The insertion mark, on the upper edge of the row under the pointer.
    const QRect row = visualRect(model()->index(m_markRow, 0));
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Text), 2));
    painter.drawLine(row.left(), row.top(), row.right(), row.top());
}
