#pragma once
// The help window: the HTML help file beside the program, in a text browser.
// Whoever opens it (the settings dialog does) gives it the object name
// HelpWindowName, so that the main window can close it at exit.

#include <QString>

inline const QString HelpWindowName = QStringLiteral("TavrinoHelp");

/// Opens the help file at its contents, or brings an open help window forward.
void ShowHelpWindow(const QString &helpFile);

/// Closes every open help window.
void CloseHelpWindows();
