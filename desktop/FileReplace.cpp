#include "desktop/FileReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "desktop/FileDescriptor.h"
#include "lut/FileRead.h"

namespace {

constexpr std::size_t kSuffixLength = 6;
constexpr char kTemporaryMarker[] = ".quillane-tmp.";
// Name clashes, or a sweeper that took our file before we held it: each try
// costs a file creation, and a hundred clashes in a row mean something else
// is wrong.
constexpr int kMaxTries = 100;
// Entries a sweep looks at: a folder of settings holds a handful.
constexpr int kMaxSweptEntries = 4096;

std::string randomSuffix() {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[kSuffixLength] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy to be had: the pid and the clock still differ between writers.
        unsigned long mix = static_cast<unsigned long>(::getpid()) * 2654435761u;
        mix ^= static_cast<unsigned long>(::clock());
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(mix >>= 5);
    }
    std::string suffix;
    for (unsigned char b : bytes) suffix += alphabet[b % (sizeof alphabet - 1)];
    return suffix;
}

bool lockExclusive(int fd, bool wait) {
    for (;;) {
        if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool sameFile(int fd, const std::string& path) {
    struct stat opened {}, named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporary files of the file named name are named this and six
// characters. A long name is cut so that theirs still fits a folder entry.
std::string temporaryNamePrefix(const std::string& name) {
    const std::size_t room = NAME_MAX - 1 - (sizeof kTemporaryMarker - 1) - kSuffixLength;
    return "." + name.substr(0, room) + kTemporaryMarker;
}

// The file a replacement of path renames over: path itself, or the file a
// symbolic link at path leads to, so that the link is kept and its file
// updated.
bool replacementTarget(const std::string& path, std::string* target, std::string* reason) {
    if (std::string problem = writeTargetProblem(path); !problem.empty()) {
        *reason = problem;
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        *target = path;
        return true;
    }
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) {
        *reason = std::string("it is a link that leads to no file (") + std::strerror(errno) + ")";
        return false;
    }
    *target = resolved.get();
    return true;
}

// A save changes the content only: the new file takes the old one's owner,
// group and permission bits. Only root gives a file away; a group the process
// is not in cannot be given either, and then the group may do no more than
// everybody may. Where permissions cannot be set at all, the file stays the
// owner's alone, as it was made.
void keepOwnerAndMode(int fd, const struct stat& old) {
    mode_t mode = old.st_mode & 0777;
    struct stat now {};
    if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0)
        mode = (mode & 0707) | ((mode & 07) << 3);
    (void)::fchmod(fd, mode);
}

std::string reasonText(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

// A new temporary file of our own, held: the name is unique, and a sweeper
// that removed it before we held it is noticed (the name then leads nowhere,
// or elsewhere) and another name tried.
int createHeldTemporary(const std::string& prefix, mode_t mode, std::string* name, int* error) {
    for (int attempt = 0; attempt < kMaxTries; ++attempt) {
        *name = prefix + randomSuffix();
        UniqueFd fd(::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd.get() < 0) {
            if (errno == EEXIST) continue;
            *error = errno;
            return -1;
        }
        // A file system without locks (NFS without a lock service, some FUSE)
        // still takes the save: the hold only keeps sweepers off the file, and
        // a sweeper there cannot take a lock either, so it removes nothing.
        lockExclusive(fd.get(), true);
        if (sameFile(fd.get(), *name)) return fd.release();
    }
    *error = EEXIST;
    return -1;
}

// Removes the files of folder named namePrefix + six characters that no
// living writer holds. Looks at a bounded number of entries.
void removeAbandonedTemporaries(const std::string& folder, const std::string& namePrefix) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) return;
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    int seen = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (++seen > kMaxSweptEntries) break;
        const std::string name = entry->d_name;
        if (name.size() != namePrefix.size() + kSuffixLength || name.compare(0, namePrefix.size(), namePrefix) != 0)
            continue;
        const std::string path = base + name;
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        // A living writer holds its file until it is renamed or removed.
        if (!lockExclusive(fd.get(), false)) continue;
        if (sameFile(fd.get(), path)) ::unlink(path.c_str());
    }
}

}  // namespace

std::string writeTargetProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
    return fileReadProblemText({S_ISDIR(st.st_mode) ? FileReadProblem::Folder : FileReadProblem::NotRegularFile});
}

bool replaceFileWhole(const std::string& path, const std::string& content, mode_t createMode, std::string* error) {
    std::string target, refusal;
    if (!replacementTarget(path, &target, &refusal)) {
        if (error) *error = refusal;
        return false;
    }
    struct stat old {};
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    // A file this user may not write is not replaced, though the folder would
    // let the rename through: that would take another user's file over. Root
    // passes every access check, so a file with no owner write bit is refused
    // too.
    if (replacing && ((old.st_mode & S_IWUSR) == 0 || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)) {
        if (error) *error = "it is read-only";
        return false;
    }
    // Writes killed part way left their temporary files: this one clears them.
    const std::string folder = folderOf(target);
    const std::string namePrefix = temporaryNamePrefix(nameOf(target));
    removeAbandonedTemporaries(folder, namePrefix);
    std::string temporary;
    int failure = 0;
    // Private until it has the old file's permissions.
    UniqueFd fd(createHeldTemporary((folder == "/" ? folder : folder + "/") + namePrefix, replacing ? 0600 : createMode,
                                    &temporary, &failure));
    if (fd.get() < 0) {
        // The caller names path; the folder is where the trouble lies.
        if (error) *error = reasonText("cannot create a temporary file in the folder", folder, failure);
        return false;
    }
    if (replacing) keepOwnerAndMode(fd.get(), old);
    // The file is removed while still held, so no sweeper mistakes it for
    // abandoned in between; closing it ends the hold.
    auto abandon = [&](const char* what, const std::string& named) {
        const int cause = errno;
        ::unlink(temporary.c_str());
        if (error) *error = reasonText(what, named, cause);
        return false;
    };
    if (!writeAll(fd.get(), content.data(), content.size())) return abandon("cannot write", temporary);
    if (::fsync(fd.get()) != 0) return abandon("cannot write", temporary);
    if (std::rename(temporary.c_str(), target.c_str()) != 0) return abandon("cannot replace", target);

    // The rename is durable only once the folder is on disk too. A file
    // system that cannot flush a folder (EINVAL) has nothing more to give.
    // The new content is in place whatever happens here, so a folder that
    // cannot be flushed is worth a warning, not a failure.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || (::fsync(dir.get()) != 0 && errno != EINVAL)) {
        const std::string warning =
            "Quillane: " + reasonText("saved " + target + ", but cannot flush the folder", folder, errno) + "\n";
        writeAll(2, warning.data(), warning.size());
    }
    return true;
}
