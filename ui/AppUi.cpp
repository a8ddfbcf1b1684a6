#include "AppUi.h"

#include "Messages.h"

#include <QApplication>
#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>

QRect TwipsRect(int left, int top, int width, int height)
{
    return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
}

void WidenToFit(QWidget *control, int rightLimit)
{
    const int wanted = control->sizeHint().width();
    if (wanted > control->width())
        control->resize(qMin(wanted, rightLimit - control->x()), control->height());
}

void ClearFrameCaptions(QWidget *window)
{
    const QList<QGroupBox *> frames = window->findChildren<QGroupBox *>(Qt::FindDirectChildrenOnly);
    int shift = 0;
    int framesTop = window->height();
    for (QGroupBox *frame : frames) {
        framesTop = qMin(framesTop, frame->y());
        for (QWidget *child : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            shift = qMax(shift, frame->contentsRect().top() + 1 - child->y());
    }
    if (shift <= 0)
        return;
    for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (auto *frame = qobject_cast<QGroupBox *>(child)) {
            frame->resize(frame->width(), frame->height() + shift);
            for (QWidget *inner : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                inner->move(inner->x(), inner->y() + shift);
        } else if (child->y() > framesTop && !child->isWindow()) {
            child->move(child->x(), child->y() + shift);
        }
    }
    if (window->minimumSize() == window->maximumSize())
        window->setFixedSize(window->width(), window->height() + shift);
    else
        window->resize(window->width(), window->height() + shift);
}

QFont AppFont(int pointSize, bool bold)
{
    QFont font(QStringLiteral("Noto Sans CJK JP"), pointSize, bold ? QFont::Bold : QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void NameControl(QWidget *control, const QString &objectName, const QString &visibleText)
{
    control->setObjectName(objectName);
    QString name = visibleText;
    // "送信(&S)" reads as "送信(S)"; a doubled "&&" stands for one ampersand.
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name.at(i) == QLatin1Char('&'))
            name.remove(i, 1);
    }
    control->setAccessibleName(name);
}

QString AppErrorText(const QString &description)
{
    return Msg::AppError + QStringLiteral("\r\n") + description;
}

namespace {
QMessageBox *MakeBox(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                     const QString &caption = Msg::Title)
{
    auto *box = new QMessageBox(icon, caption, text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText); // a box may quote a server's reply
    box->setFont(AppFont());
    return box;
}
} // namespace

QToolButton *PictureButton(QWidget *parent, const QString &name, const QString &caption,
                           const QString &tip, const QIcon &picture, const QRect &geometry)
{
    auto *button = new QToolButton(parent);
    button->setGeometry(geometry);
    button->setIcon(picture);
    button->setIconSize(QSize(24, 24));
    button->setToolTip(tip);
    button->setFocusPolicy(Qt::StrongFocus);
    if (caption.isEmpty()) {
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        NameControl(button, name, tip);
    } else {
        button->setText(caption);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        NameControl(button, name, caption);
    }
    return button;
}

QPushButton *TextButton(QWidget *parent, const QString &name, const QString &caption,
                        const QString &tip)
{
    auto *button = new QPushButton(caption, parent);
    button->setToolTip(tip);
    button->setAutoDefault(false);
    NameControl(button, name, caption);
    return button;
}

void ShowBox(QWidget *parent, QMessageBox::Icon icon, const QString &text)
{
    // A parent closed meanwhile takes its box along.
    const QPointer<QMessageBox> box = MakeBox(parent, icon, text);
    box->exec();
    delete box.data();
}

QMessageBox *OpenBox(QMessageBox::Icon icon, const QString &text, const QString &caption)
{
    QMessageBox *box = MakeBox(nullptr, icon, text, caption);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    return box;
}

WaitCursor::WaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor()
{
    QApplication::restoreOverrideCursor();
}
