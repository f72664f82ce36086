#include "host/HostFiles.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "desktop/FileDescriptor.h"

namespace host {
namespace {

std::string kindProblem(mode_t mode) {
    if (S_ISREG(mode)) return {};
    return S_ISDIR(mode) ? "it is a folder" : "it is not a regular file";
}

}  // namespace

int openRegularFile(const std::string& path, std::string* reason) {
    // Not blocking: opening a pipe would wait for a writer.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        if (reason) *reason = std::strerror(errno);
        return -1;
    }
    if (std::string problem = kindProblem(st.st_mode); !problem.empty()) {
        if (reason) *reason = problem;
        return -1;
    }
    return fd.release();
}

bool readRegularFile(const std::string& path, std::string* bytes, std::string* reason) {
    UniqueFd fd(openRegularFile(path, reason));
    if (fd.get() < 0) return false;
    std::string read;
    char chunk[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            if (reason) *reason = std::strerror(errno);
            return false;
        }
        if (got == 0) break;
        read.append(chunk, static_cast<std::size_t>(got));
    }
    *bytes = std::move(read);
    return true;
}

std::string writeTargetProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return kindProblem(st.st_mode);
}

bool replacementTarget(const std::string& path, std::string* target, std::string* reason) {
    if (std::string problem = writeTargetProblem(path); !problem.empty()) {
        if (reason) *reason = problem;
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        *target = path;
        return true;
    }
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) {
        if (reason) *reason = std::string("it is a link that leads to no file (") + std::strerror(errno) + ")";
        return false;
    }
    *target = resolved.get();
    return true;
}

}  // namespace host
