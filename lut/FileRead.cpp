#include "lut/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

FileRead problem(FileReadProblem what, int error = 0) { return {what, error}; }

}  // namespace

int openRegularFile(const std::string& path, FileRead* read, LinkPolicy links) {
    // Not blocking: opening a pipe would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC |
                                            (links == LinkPolicy::Refuse ? O_NOFOLLOW : 0));
    FileRead found;
    struct stat st {};
    if (fd < 0) {
        const int error = errno;
        found = problem(error == ENOENT || error == ENOTDIR ? FileReadProblem::NoSuchFile
                                                            : FileReadProblem::CannotOpen,
                        error);
    } else if (::fstat(fd, &st) != 0) {
        found = problem(FileReadProblem::CannotOpen, errno);
    } else if (S_ISDIR(st.st_mode)) {
        found = problem(FileReadProblem::Folder);
    } else if (!S_ISREG(st.st_mode)) {
        found = problem(FileReadProblem::NotRegularFile);
    }
    if (read) *read = found;
    if (found.problem == FileReadProblem::None) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

FileRead readRegularFile(const std::string& path, std::size_t maxBytes, std::string* bytes, LinkPolicy links) {
    FileRead read;
    const int fd = openRegularFile(path, &read, links);
    if (fd < 0) return read;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_size) > maxBytes)
        return problem(FileReadProblem::TooLarge);
    bytes->clear();
    bytes->reserve(static_cast<std::size_t>(st.st_size));
    // To the end, not to the size seen at the start: a writer may still be
    // adding to the file, so the bound holds while reading too.
    char chunk[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return problem(FileReadProblem::ReadFailed, errno);
        if (got == 0) break;
        if (static_cast<std::size_t>(got) > maxBytes - bytes->size()) return problem(FileReadProblem::TooLarge);
        bytes->append(chunk, static_cast<std::size_t>(got));
    }
    return read;
}

std::string fileReadProblemText(const FileRead& read) {
    switch (read.problem) {
        case FileReadProblem::None:
            break;
        case FileReadProblem::NoSuchFile:
            return "no such file";
        case FileReadProblem::CannotOpen:
            return std::string("it cannot be opened (") + std::strerror(read.error) + ")";
        case FileReadProblem::Folder:
            return "it is a folder, not a file";
        case FileReadProblem::NotRegularFile:
            return "it is not a regular file";
        case FileReadProblem::TooLarge:
            return "it is larger than any such file";
        case FileReadProblem::ReadFailed:
            return std::string("it cannot be read (") + std::strerror(read.error) + ")";
    }
    return "";
}
