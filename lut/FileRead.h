#pragma once
// Reading a file that a user or another program names, whole: a folder, a
// pipe or a device at the name is refused with a reason, never read (a read of
// a folder throws, of a pipe blocks), and nothing is read past a bound. LUT
// files, the host's projects and frames and the desktop program's presets are
// all read this way.
#include <cstddef>
#include <string>

enum class FileReadProblem {
    None,
    NoSuchFile,      // error holds errno (ENOENT, ENOTDIR)
    CannotOpen,      // error holds errno
    Folder,
    NotRegularFile,  // a pipe, a device, a socket
    TooLarge,        // above the caller's bound, when opened or while read
    ReadFailed,      // error holds errno
};

struct FileRead {
    FileReadProblem problem = FileReadProblem::None;
    int error = 0;
};

// Whether a symbolic link at the name is followed or refused (a file in a
// folder other users can write).
enum class LinkPolicy { Follow, Refuse };

// A descriptor open for reading (not blocking) on the regular file at path,
// or -1 with *read saying why.
int openRegularFile(const std::string& path, FileRead* read, LinkPolicy links = LinkPolicy::Follow);

// The whole regular file at path into *bytes, refused when it holds more than
// maxBytes. After ReadFailed, *bytes holds what came before the error.
FileRead readRegularFile(const std::string& path, std::size_t maxBytes, std::string* bytes,
                         LinkPolicy links = LinkPolicy::Follow);

// The problem in words that follow the file's name ("PATH: no such file");
// empty for None.
std::string fileReadProblemText(const FileRead& read);
