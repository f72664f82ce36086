#pragma once
// What the fuzzers of file and reply readers share: a private folder for the
// files a reader needs (made once per process, removed at exit), whole-file
// writes and reads, and a trap that names the property that failed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace fuzz {

// A failed property: says which on standard error, then crashes so that
// libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* property) {
    std::fprintf(stderr, "fuzz property failed: %s\n", property);
    std::fflush(stderr);
    __builtin_trap();
}
inline void check(bool ok, const char* property) {
    if (!ok) fail(property);
}

// A fresh folder for this process, removed with everything in it when the
// process ends normally. Several fuzzing jobs each get their own. In memory
// (/dev/shm) where the machine has that, since the settings store syncs every
// write to disk; else under the temporary directory.
class ScratchFolder {
public:
    ScratchFolder() {
        const std::filesystem::path memory = "/dev/shm";
        const std::filesystem::path base =
            ::access(memory.c_str(), W_OK) == 0 ? memory : std::filesystem::temp_directory_path();
        std::string pattern = (base / "quillane-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) fail("a scratch folder can be made");
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline const std::string& scratchFolder() {
    static const ScratchFolder folder;
    return folder.path();
}

inline void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    check(static_cast<bool>(out), "the scratch file can be written");
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace fuzz
