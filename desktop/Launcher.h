#pragma once
// Starting the Quillane desktop application on a file.
#include <string>

// The short process name by which a running desktop application is recognised.
inline constexpr char kQuillaneProcessName[] = "QuillaneMac";

// Hands path to the desktop application: unless a process named QuillaneMac
// already runs, starts the program named by the settings' ProgramPath with the
// arguments "-plugin" and path (path left out when empty). No shell is
// involved: path arrives as one argument, exactly as given, blanks included.
//
// modal true: returns when the started application has ended. modal false:
// returns at once; the application runs on its own and leaves no zombie.
// Without ProgramPath, shows the "preferences not found" box and starts nothing.
// The empty string when the application runs (started now or already
// running), else why it could not be started, in one line.
std::string startQuillane(std::string path, bool modal);
