#pragma once
// Files the host is named on its command line: a folder, a pipe or a device
// named where a file is expected is refused with a reason, never read (a read
// of a folder throws, of a pipe blocks) or written over.
#include <string>

namespace host {

// A descriptor open for reading on the regular file at path, or -1 with the
// reason in *reason.
int openRegularFile(const std::string& path, std::string* reason);
// The whole regular file at path; false with the reason otherwise.
bool readRegularFile(const std::string& path, std::string* bytes, std::string* reason);
// Why no file can be written at path (something other than a regular file
// is there), or empty when one may be.
std::string writeTargetProblem(const std::string& path);
// The file a whole-file replacement of path renames over: path itself, or the
// file a symbolic link at path leads to, so that the link is kept and its
// file updated. False with the reason when something other than a regular
// file is there, or the link leads nowhere.
bool replacementTarget(const std::string& path, std::string* target, std::string* reason);

}  // namespace host
