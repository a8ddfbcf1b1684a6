#pragma once
// Small helpers shared by the program's windows: the layout unit, the font,
// accessible names, the message boxes and the hourglass pointer.

#include <QFont>
#include <QMessageBox>
#include <QRect>
#include <QString>

class QIcon;
class QPushButton;
class QToolButton;
class QWidget;

/// The layout tables are in twips; at 96 DPI fifteen twips make one pixel.
constexpr int TwipsToPixels(int twips)
{
    return twips / 15;
}
QRect TwipsRect(int left, int top, int width, int height);

/// The design's widths were measured with a proportional Gothic; where this
/// font needs more room for a caption, the control grows to the right, up to
/// rightLimit (in its parent's coordinates), so that no caption is cut.
void WidenToFit(QWidget *control, int rightLimit);

/// Where a frame's caption, in the font at hand, would overlap the first
/// control in the frame, moves every frame's contents down by the largest
/// overlap, the frames growing with them, and the controls below the frames
/// and the window as well. Calling it again changes nothing.
void ClearFrameCaptions(QWidget *window);

/// The Japanese Gothic font used wherever the windows name one.
QFont AppFont(int pointSize = 9, bool bold = false);

/// Sets a control's object name and its accessible name: the caption without
/// its mnemonic marker, or the tool tip for a control without caption.
void NameControl(QWidget *control, const QString &objectName, const QString &visibleText);

/// A button with a picture: the caption under it, or the picture alone with
/// the tool tip as its accessible name.
QToolButton *PictureButton(QWidget *parent, const QString &name, const QString &caption,
                           const QString &tip, const QIcon &picture, const QRect &geometry);

/// A button with a caption and a tool tip, named by its caption, that does
/// not take Enter from the dialog's default button.
QPushButton *TextButton(QWidget *parent, const QString &name, const QString &caption,
                        const QString &tip);

/// "アプリケーションエラー！", CR LF and the description.
QString AppErrorText(const QString &description);

/// A box with one OK button and the program title as caption; returns when
/// the user has closed it.
void ShowBox(QWidget *parent, QMessageBox::Icon icon, const QString &text);

/// The same box, application-modal, but the caller goes on at once: used
/// where the box answers a signal of a running dialogue, which must not be
/// held up until the user reads it. Such a box may come while its window is
/// minimised; it is a window of its own, since a box tied to a minimised
/// window stays hidden with it and, being modal, would lock the program.
QMessageBox *OpenBox(QMessageBox::Icon icon, const QString &text,
                     const QString &caption = QStringLiteral("Tavrino"));

/// The hourglass pointer for as long as the guard lives.
class WaitCursor
{
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};
