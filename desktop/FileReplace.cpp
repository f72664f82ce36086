#include "desktop/FileReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "desktop/FileDescriptor.h"

namespace {

constexpr std::size_t kSuffixLength = 6;
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

bool replaceFileWhole(const std::string& path, const std::string& temporaryPrefix, const std::string& content,
                      mode_t createMode, std::string* error) {
    // Writes killed part way left their temporary files: this one clears them.
    const std::size_t slash = temporaryPrefix.rfind('/');
    removeAbandonedTemporaries(folderOf(temporaryPrefix),
                               slash == std::string::npos ? temporaryPrefix : temporaryPrefix.substr(slash + 1));
    std::string temporary;
    int failure = 0;
    UniqueFd fd(createHeldTemporary(temporaryPrefix, createMode, &temporary, &failure));
    if (fd.get() < 0) {
        // The caller names path; the folder is where the trouble lies.
        if (error)
            *error = reasonText("cannot create a temporary file in the folder", folderOf(temporaryPrefix), failure);
        return false;
    }
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
    if (std::rename(temporary.c_str(), path.c_str()) != 0) return abandon("cannot replace", path);

    // The rename is durable only once the folder is on disk too. A file
    // system that cannot flush a folder (EINVAL) has nothing more to give.
    // The new content is in place whatever happens here, so a folder that
    // cannot be flushed is worth a warning, not a failure.
    const std::string folder = folderOf(path);
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || (::fsync(dir.get()) != 0 && errno != EINVAL)) {
        const std::string warning =
            "Quillane: " + reasonText("saved " + path + ", but cannot flush the folder", folder, errno) + "\n";
        writeAll(2, warning.data(), warning.size());
    }
    return true;
}
