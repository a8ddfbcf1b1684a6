#pragma once
// The program's pictures, drawn at run time so that the program folder needs
// no image files.

#include <QIcon>

/// The window icon, also shown in the notification area: a memo pad with a
/// telephone handset, drawn at the sizes of the hicolor icon theme (16 to 256).
QIcon TavrinoIcon();

/// Pictures of the picture buttons.
QIcon SendPicture();
QIcon SettingsPicture();
QIcon ExitPicture();
QIcon ReplyPicture();
QIcon DeletePicture();
QIcon HelpPicture();
/// The member list editor's arrows.
QIcon ArrowPicture(bool up);
/// The notification icon while the mail checks fail.
QIcon WarningTrayIcon();
