#include "StatusPanels.h"

#include "AppMessages.h"
#include "AppUi.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QLabel>

namespace {

/// A panel is heard by what it shows; its tool tip, what the panel is for, is
/// its description.
void ShowText(QLabel *label, const QString &text)
{
    if (label->text() == text)
        return; // the clock refreshes every second; announce only a change
    label->setText(text);
    label->setAccessibleName(text);
}

} // namespace

StatusPanels::StatusPanels(const QString &panel2Tip, QWidget *parent) : QStatusBar(parent)
{
    setSizeGripEnabled(false);
    const QString tips[4] = {AppMsg::PanelUser, panel2Tip, AppMsg::PanelDate, AppMsg::PanelTime};
    // The user's name, the date and the time take what they need; the
    // progress panel has the rest.
    const QFontMetrics metrics(font());
    const int clockWidths[2] = {metrics.horizontalAdvance(QStringLiteral("0000/00/00")) + 8,
                                metrics.horizontalAdvance(QStringLiteral("00:00")) + 8};
    for (int i = 0; i < 4; ++i) {
        auto *label = new QLabel(this);
        label->setTextFormat(Qt::PlainText); // server replies pass through panel 2
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setToolTip(tips[i]);
        label->setAccessibleDescription(tips[i]);
        if (i == 0) {
            addWidget(label);
        } else if (i == 1) {
            // A long progress text is cut, it never widens the bar.
            label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            label->setMinimumWidth(1);
            addWidget(label, 1);
        } else {
            label->setFixedWidth(clockWidths[i - 2]);
            addPermanentWidget(label);
        }
        m_panels[i] = label;
    }
    // The panels show minutes: refreshed as each minute begins, not every
    // second in every window (a desk may have fifty open).
    m_clock.setSingleShot(true);
    m_clock.setTimerType(Qt::PreciseTimer); // a coarse one may come seconds late
    connect(&m_clock, &QTimer::timeout, this, &StatusPanels::refreshClock);
    refreshClock();
}

void StatusPanels::setPanelText(int panel, const QString &text)
{
    if (QLabel *label = this->panel(panel))
        ShowText(label, text);
}

int StatusPanels::neededWidth() const
{
    int needed[4] = {};
    for (int i = 0; i < 4; ++i) {
        const QLabel *label = m_panels[i];
        const QMargins margins = label->contentsMargins();
        needed[i] =
            qMax(label->minimumWidth(), label->fontMetrics().horizontalAdvance(label->text()) +
                                            margins.left() + margins.right() + 4);
    }
    return needed[0] + needed[1] + needed[2] + needed[3] + 4 * 8;
}

QString StatusPanels::panelText(int panel) const
{
    const QLabel *label = this->panel(panel);
    return label ? label->text() : QString();
}

QLabel *StatusPanels::panel(int panel) const
{
    return panel >= 1 && panel <= 4 ? m_panels[panel - 1] : nullptr;
}

void StatusPanels::setNames(const QString &objectName)
{
    setObjectName(objectName);
    for (int i = 0; i < 4; ++i)
        m_panels[i]->setObjectName(objectName + QStringLiteral("Panel") + QString::number(i + 1));
}

void StatusPanels::refreshClock()
{
    const QDateTime now = QDateTime::currentDateTime();
    ShowText(m_panels[2], now.toString(QStringLiteral("yyyy/MM/dd")));
    ShowText(m_panels[3], now.toString(QStringLiteral("H:mm")));
    // A little past the minute's turn, so that a timer early by a few
    // milliseconds never shows the old minute for another minute.
    const int intoMinute = now.time().second() * 1000 + now.time().msec();
    m_clock.start(60000 - intoMinute + 50);
}
