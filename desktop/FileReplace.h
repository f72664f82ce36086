#pragma once
// Replacing a file whole: the settings store and the host's project save both
// write the complete new content into a temporary file of a name of its own
// beside the target, flush it to disk, rename it over the target and flush the
// folder, so that a reader sees the old file or the new one, never a part, and
// a crash at any moment leaves one of the two.
//
// The temporary file of NAME is ".NAME.quillane-tmp." and six characters:
// hidden, and marked as ours, so that no file a person named is ever taken for
// one. A writer holds an exclusive flock on its temporary file until the
// rename (or its removal). A temporary file that nobody holds is therefore
// abandoned (its writer was killed): the next replacement of the same file
// removes it.
#include <sys/types.h>

#include <string>

// Why no file can be written at path (something other than a regular file is
// there), or empty when one may be.
std::string writeTargetProblem(const std::string& path);

// Removes the abandoned temporary files of path (looking at a bounded number
// of entries), then writes content into a new temporary file, fsyncs it,
// renames it over path and fsyncs the folder. A symbolic link at path is
// kept and the file it leads to replaced. The new file keeps the old one's
// permission bits, and its owner and group where the process may give them;
// a file that was not there gets createMode less the umask.
//
// False, with the file at path as it was and no temporary file left, when
// path is no regular file, is a link that leads nowhere, is a file its owner
// may not write (refused, as editors refuse it), or any step up to the rename
// fails; *error then gives the reason (the caller names path). A folder that
// cannot be flushed after the rename is only warned about on standard error:
// the new content is in place.
bool replaceFileWhole(const std::string& path, const std::string& content, mode_t createMode, std::string* error);
