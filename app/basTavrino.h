#pragma once
// The program's start: one copy per program folder and user, the
// configuration read once, the main window shown.

class SingleInstance;

/// The program's entry; the command line is not read.
int Main(int argc, char *argv[]);

/// A second copy's part: tells the user that the program is running already
/// and asks the first copy to bring its window back.
void RefuseSecondCopy(SingleInstance &instance);
