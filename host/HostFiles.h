#pragma once
// Files the host is named on its command line to write: a folder, a pipe or
// a device named where a file is expected is refused with a reason, never
// written over (they are read through lut/FileRead.h).
#include <string>

namespace host {

// Why no file can be written at path (something other than a regular file
// is there), or empty when one may be.
std::string writeTargetProblem(const std::string& path);
// The file a whole-file replacement of path renames over: path itself, or the
// file a symbolic link at path leads to, so that the link is kept and its
// file updated. False with the reason when something other than a regular
// file is there, or the link leads nowhere.
bool replacementTarget(const std::string& path, std::string* target, std::string* reason);

}  // namespace host
