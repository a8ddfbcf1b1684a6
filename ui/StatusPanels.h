#pragma once
// A status bar of four panels: the user, the command in progress (or, in the
// memo viewer, the memo's Message-ID), today's date and the current time.

#include <QStatusBar>
#include <QTimer>

class QLabel;

class StatusPanels : public QStatusBar
{
    Q_OBJECT

public:
    /// panel2Tip is the tool tip of the second panel. The panels are named
    /// <objectName>Panel1 ... Panel4 once the bar has its own name.
    explicit StatusPanels(const QString &panel2Tip, QWidget *parent = nullptr);

    /// Panels count from 1 as in the window tables.
    void setPanelText(int panel, const QString &text);
    QString panelText(int panel) const;
    QLabel *panel(int panel) const;

    /// The width the bar needs to show every panel's text whole.
    int neededWidth() const;

    /// Names the bar and its panels for the accessibility tree.
    void setNames(const QString &objectName);

private:
    void refreshClock();

    QLabel *m_panels[4] = {};
    QTimer m_clock;
};
