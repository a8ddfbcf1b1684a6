#pragma once
// The help window: the HTML help file beside the program, in a text browser,
// one for the whole process, closed by the main window at exit.

#include <QString>

class QWidget;

inline const QString HelpWindowName = QStringLiteral("TavrinoHelp");

/// Opens the help file at its contents, or brings an open help window forward.
/// While a modal dialog runs, the help window is that dialog's own window, so
/// that it takes input; it then closes with the dialog.
void ShowHelpWindow(const QString &helpFile);

/// Closes every open help window.
void CloseHelpWindows();

/// F1 in window opens the help file.
void InstallHelpKey(QWidget *window, const QString &helpFile);
