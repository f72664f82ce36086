#include "host/HostFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lut/FileRead.h"

namespace host {
std::string writeTargetProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
    return fileReadProblemText({S_ISDIR(st.st_mode) ? FileReadProblem::Folder : FileReadProblem::NotRegularFile});
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
