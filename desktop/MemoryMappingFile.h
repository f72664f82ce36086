#pragma once
// The two records that the plug-in shares with the Quillane desktop
// application through memory-mapped files in the exchange folder, and the
// mapping that holds one of them.
//
// The layouts are a format shared with another program: every offset and
// size below is fixed. Numbers are native (little-endian), words 32 bits.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "desktop/ExchangeDirectory.h"

// The frame, from the plug-in to the desktop application.
struct ImageMapping {
    static constexpr std::uint32_t kMaxWidth = 4096;
    static constexpr std::uint32_t kMaxHeight = 2160;
    static constexpr std::uint32_t kMaxPixels = kMaxWidth * kMaxHeight;

    std::uint32_t fromPlugin;       // 1: the plug-in has prepared an exchange
    std::uint32_t currentPluginID;  // the sending effect instance
    std::uint32_t busy;             // 1 while the plug-in fills the record or handles a preset file
    std::uint32_t imageReady;       // 1 once frame, size and bytesPerPixel are in place
    std::uint32_t presetReady;      // set by the application: a preset file waits; cleared by the plug-in
    char clipName[256];             // NUL-terminated
    std::uint32_t bytesPerPixel;    // 16
    std::uint32_t width;
    std::uint32_t height;
    float pixels[kMaxPixels * 4];   // width*height RGBA float pixels, rows in the host frame's order
};

// The LUT, from the desktop application back to the plug-in.
struct LutMapping {
    static constexpr std::uint32_t kMaxDimSize = 64;
    static constexpr std::uint32_t kPlaneSize = kMaxDimSize * kMaxDimSize * kMaxDimSize;

    std::uint32_t fromPlugin;       // 1: the plug-in has prepared an exchange
    std::uint32_t currentPluginID;  // the instance the LUT is for
    std::uint32_t lutReady;         // set by the application when the LUT is complete; cleared by the plug-in
    std::uint32_t dimSize;          // N, 1 ... 64
    float inputRange0;
    float inputRange1;
    char name[256];                 // NUL-terminated LUT name
    float red[kPlaneSize];          // node n at index n, red index fastest; first N^3 entries used
    float green[kPlaneSize];
    float blue[kPlaneSize];
};

static_assert(offsetof(ImageMapping, fromPlugin) == 0);
static_assert(offsetof(ImageMapping, currentPluginID) == 4);
static_assert(offsetof(ImageMapping, busy) == 8);
static_assert(offsetof(ImageMapping, imageReady) == 12);
static_assert(offsetof(ImageMapping, presetReady) == 16);
static_assert(offsetof(ImageMapping, clipName) == 20 && sizeof(ImageMapping::clipName) == 256);
static_assert(offsetof(ImageMapping, bytesPerPixel) == 276);
static_assert(offsetof(ImageMapping, width) == 280);
static_assert(offsetof(ImageMapping, height) == 284);
static_assert(offsetof(ImageMapping, pixels) == 288 && sizeof(ImageMapping::pixels) == 141557760);
static_assert(sizeof(ImageMapping) == 141558048);

static_assert(offsetof(LutMapping, fromPlugin) == 0);
static_assert(offsetof(LutMapping, currentPluginID) == 4);
static_assert(offsetof(LutMapping, lutReady) == 8);
static_assert(offsetof(LutMapping, dimSize) == 12);
static_assert(offsetof(LutMapping, inputRange0) == 16);
static_assert(offsetof(LutMapping, inputRange1) == 20);
static_assert(offsetof(LutMapping, name) == 24 && sizeof(LutMapping::name) == 256);
static_assert(offsetof(LutMapping, red) == 280 && sizeof(LutMapping::red) == 1048576);
static_assert(offsetof(LutMapping, green) == 1048856 && sizeof(LutMapping::green) == 1048576);
static_assert(offsetof(LutMapping, blue) == 2097432 && sizeof(LutMapping::blue) == 1048576);
static_assert(sizeof(LutMapping) == 3146008);

// File names and sizes of the two records in the exchange folder.
inline constexpr char kImageMappingName[] = "$LutSharedImage$";
inline constexpr int kImageMappingSize = static_cast<int>(sizeof(ImageMapping));
inline constexpr char kLutMappingName[] = "$LutShared$";
inline constexpr int kLutMappingSize = static_cast<int>(sizeof(LutMapping));

// Opens exchangeDirectory() + name, sizes it and maps it as a T.
//
// create true (the plug-in's side): the file is made when missing, emptied and
// stretched to size bytes of zeros, and mapped read-write. create false: an
// existing file of at least size bytes is mapped, read-only unless writable is
// given (the desktop application's side answers through the records).
//
// The file lives in a folder every user can write to: it is opened without
// following a symbolic link, must be a regular file of our own, and is kept
// readable and writable by its owner only.
//
// A failure writes a line starting with "MemoryMappingFile fail!" and the path
// to standard error and leaves the object unmapped: data null, fd -1, and
// failure saying which file could not be made and why, for the user.
//
// The descriptor is closed as soon as the file is mapped (the mapping stays
// valid without it): every effect instance holds two mappings for its whole
// life, and a project of a few hundred instances would otherwise use up the
// process's descriptors. Nothing done through data needs one; an operation
// that does must open the file again for its own span.
template <typename T>
class MemoryMappingFile {
public:
    int fd = -1;                 // open only while the file is being opened, sized and mapped
    std::uint64_t fileSize = 0;  // the size found right after opening (after emptying, with create)
    int size = 0;                // bytes mapped
    bool noLock = true;          // false: advise random access (or lock in memory), unlock on release
    T* data = nullptr;
    std::string failure;         // "PATH: reason" while unmapped after a failure; empty once mapped

    MemoryMappingFile(std::string name, int size_, bool create, bool noLock_, bool writable = false)
        : size(size_), noLock(noLock_) {
        const std::string path = exchangeDirectory() + name;
        const bool readWrite = create || writable;
        if (size < 0 || static_cast<std::size_t>(size) < sizeof(T)) {
            // A shorter mapping would let the record run past its end.
            fail("MemoryMappingFile fail! Error mapping file to buffer:", path, "the record does not fit");
            return;
        }

        // O_NONBLOCK: a FIFO planted under the name must not hang the host in open().
        fd = ::open(path.c_str(),
                    (readWrite ? O_RDWR : O_RDONLY) | (create ? O_CREAT : 0) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                    0600);
        struct stat st {};
        const char* refusal = nullptr;
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            refusal = std::strerror(errno);
        } else if (!S_ISREG(st.st_mode)) {
            refusal = "not a regular file";
        } else if (st.st_uid != ::geteuid()) {
            refusal = "the file belongs to another user";
        } else if (create && (::fchmod(fd, 0600) != 0 ||
                              !emptyKeepingMappings(static_cast<std::uint64_t>(st.st_size)))) {
            refusal = std::strerror(errno);
        }
        if (refusal) {
            fail("MemoryMappingFile fail! Could not open file:", path, refusal);
            return;
        }
        if (::fstat(fd, &st) != 0) {
            fail("MemoryMappingFile fail! Could not fstat file:", path, std::strerror(errno));
            return;
        }
        // With create the old contents are gone: nothing of the file counts.
        fileSize = create ? 0 : static_cast<std::uint64_t>(st.st_size);

        if (create) {
            // Writing the last byte makes the file size bytes long; the rest reads as zeros.
            if (::lseek(fd, static_cast<off_t>(size) - 1, SEEK_SET) < 0) {
                fail("MemoryMappingFile fail! Error calling lseek() to 'stretch' the file:", path,
                     std::strerror(errno));
                return;
            }
            // Under a file-size limit (with SIGXFSZ ignored) this is EFBIG.
            const char zero = 0;
            if (::write(fd, &zero, 1) != 1) {
                fail("MemoryMappingFile fail! Error writing last byte of the file:", path,
                     "cannot make it " + std::to_string(size) + " bytes long: " + std::strerror(errno));
                return;
            }
        } else if (fileSize < static_cast<std::uint64_t>(size)) {
            // Touching a page past the end of a shorter file would end the process.
            fail("MemoryMappingFile fail! Error mapping file to buffer:", path, "the file is too short");
            return;
        }

        void* mapped = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | (readWrite ? PROT_WRITE : 0),
                              MAP_SHARED, fd, 0);
        if (mapped == MAP_FAILED) {
            fail("MemoryMappingFile fail! Error mapping file to buffer:", path, std::strerror(errno));
            return;
        }
        data = static_cast<T*>(mapped);

        if (!noLock && ::madvise(mapped, static_cast<std::size_t>(size), MADV_RANDOM) != 0 &&
            ::mlock(mapped, static_cast<std::size_t>(size)) != 0) {
            fail("MemoryMappingFile fail! Error in madvise or mlock:", path, std::strerror(errno));
            return;
        }
        ::close(fd);
        fd = -1;
    }

    ~MemoryMappingFile() { cleanup(); }

    MemoryMappingFile(const MemoryMappingFile&) = delete;
    MemoryMappingFile& operator=(const MemoryMappingFile&) = delete;
    MemoryMappingFile(MemoryMappingFile&& other) noexcept { *this = std::move(other); }
    MemoryMappingFile& operator=(MemoryMappingFile&& other) noexcept {
        if (this != &other) {
            cleanup();
            fd = std::exchange(other.fd, -1);
            failure = std::move(other.failure);
            fileSize = other.fileSize;
            size = other.size;
            noLock = other.noLock;
            data = std::exchange(other.data, nullptr);
        }
        return *this;
    }

    // Releases the mapping and the descriptor; safe to call again.
    void cleanup() {
        if (data != nullptr) {
            if (!noLock && ::munlock(data, static_cast<std::size_t>(size)) != 0)
                std::fprintf(stderr, "MemoryMappingFile fail! ERROR in munlock\n");
            if (::munmap(data, static_cast<std::size_t>(size)) != 0)
                std::fprintf(stderr, "MemoryMappingFile fail! ERROR in munmap\n");
            data = nullptr;
        }
        if (fd != -1) {
            ::close(fd);
            fd = -1;
        }
    }

private:
    // Every instance of the process and the desktop application keep the same
    // file mapped while a new instance empties it. Cutting it to 0 bytes, even
    // for a moment, would end whichever of them touched a page then, so the
    // contents are zeroed in place (a punched hole reads as zeros) and only a
    // surplus beyond size is cut. Where the file system cannot punch holes,
    // the file is cut to 0 and stretched again as before.
    bool emptyKeepingMappings(std::uint64_t length) {
        if (length == 0) return true;
        if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(length)) != 0)
            return ::ftruncate(fd, 0) == 0;
        return length <= static_cast<std::uint64_t>(size) || ::ftruncate(fd, size) == 0;
    }

    void fail(const char* message, const std::string& path, const std::string& reason) {
        std::fprintf(stderr, "%s%s\n", message, path.c_str());
        std::fflush(stderr);
        failure = path + ": " + reason;
        cleanup();
    }
};
