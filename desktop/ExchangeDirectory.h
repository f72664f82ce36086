#pragma once
// The folder in which the plug-in and the Quillane desktop application leave
// files for each other: the two shared exchange records and the preset files.
#include <string>

// The exchange folder, always ending in '/': "/tmp/".
//
// Test and sandbox hook: when the environment variable QUILLANE_EXCHANGE_DIR
// is set and not empty, its value is used instead (a '/' is added when it
// lacks one). Child processes inherit it, so a second process started by a
// test finds the same folder.
std::string exchangeDirectory();
