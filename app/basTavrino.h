#pragma once
// The program's start: one copy per program folder and user, the
// configuration read once, the main window shown.

class SingleInstance;

/// The program's entry. Of the command line only AutostartArgument is read:
/// the desk then starts in the notification area.
int Main(int argc, char *argv[]);

/// A second copy's part: tells the user that the program is running already
/// and asks the first copy to bring its window back.
void RefuseSecondCopy(SingleInstance &instance);
