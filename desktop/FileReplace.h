#pragma once
// Replacing a file whole: the settings store and the host's project save both
// write the complete new content into a temporary file of a name of its own
// beside the target, flush it to disk, rename it over the target and flush the
// folder, so that a reader sees the old file or the new one, never a part, and
// a crash at any moment leaves one of the two.
//
// A writer holds an exclusive flock on its temporary file until the rename (or
// its removal). A temporary file that nobody holds is therefore abandoned (its
// writer was killed): the next replacement with the same prefix removes it.
#include <sys/types.h>

#include <string>

// Removes the abandoned temporary files of temporaryPrefix (looking at a
// bounded number of entries), then writes content into a new file
// temporaryPrefix + six characters (created with createMode, less the umask),
// fsyncs it, renames it over path and
// fsyncs the folder. False, with the file at path as it was and no temporary
// file left, when any step up to the rename fails; *error then names the file
// and the reason. A folder that cannot be flushed after the rename is only
// warned about on standard error: the new content is in place.
bool replaceFileWhole(const std::string& path, const std::string& temporaryPrefix, const std::string& content,
                      mode_t createMode, std::string* error);
