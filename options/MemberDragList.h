#pragma once
// The editor's member list: rows are moved by pressing on one, dragging it
// and releasing it over another, where it lands immediately above that row.
// The drag is the list's own mouse handling, so it needs no drag-and-drop
// support from the desktop.

#include <QListWidget>

class MemberDragList : public QListWidget
{
    Q_OBJECT

public:
    explicit MemberDragList(QWidget *parent = nullptr);

    /// The selected row, or -1. The current row is not enough: the list makes
    /// its first row current, unselected, when it takes the focus.
    int selectedRow() const;

    /// Moves row dragged to land above row target, and selects it.
    void dropRow(int dragged, int target);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void endDrag();

    int m_pressedRow = -1; ///< where the button went down on a row
    QPoint m_pressPos;
    bool m_dragging = false;
    int m_markRow = -1; ///< the row the insertion mark stands above
};
