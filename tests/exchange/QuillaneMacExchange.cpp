// A stand-in for the Quillane desktop application, started by the launcher as
// "QuillaneMac -plugin [file]" (the exchange and the launcher tests). It
// reports what it was given (the descriptors it started with among it), optionally leaves a preset file and raises
// presetReady, fills the LUT record for the instance it finds there, raises
// lutReady last, then exits or lingers as a non-modal application would.
// Steered by the environment (QUILLANE_STANDIN_...):
//   REPORT     file for key=value lines of what it saw, complete before it appears
//   RELEASE    wait (at most 30 s) until this file exists before answering
//   LUT        "invert" (default) or "warm"
//   DIM        nodes per axis, 1 ... 64 (default 17); DIM_WORD: the number written instead
//   RANGE      "lo,hi": the input range (default 0,1)
//   NAME       the LUT's name (default "warm"); NAME_UNTERMINATED=1: 256 'x', no NUL
//   PRESET     bytes of the preset file to leave; PRESET_SIZE: its length (sparse)
//   FOR_ID     answer for this instance id instead of the record's
//   LINGER_MS  stay this long after answering (at most 60 s), or until the file QUIT exists
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "StandInLut.h"
#include "desktop/ExchangeDirectory.h"
#include "desktop/MemoryMappingFile.h"
#include "tests/support/ProcessTools.h"

namespace {

std::string env(const char* name, const std::string& fallback = {}) {
    const char* value = std::getenv((std::string("QUILLANE_STANDIN_") + name).c_str());
    return value ? value : fallback;
}

void waitForFile(const std::string& path, std::chrono::milliseconds limit) {
    if (!path.empty()) quillane::test::waitUntil([&] { return ::access(path.c_str(), F_OK) == 0; }, limit);
}

void storeWord(std::uint32_t& word, std::uint32_t value) { __atomic_store_n(&word, value, __ATOMIC_RELEASE); }
std::uint32_t loadWord(const std::uint32_t& word) { return __atomic_load_n(&word, __ATOMIC_ACQUIRE); }

// The descriptors open in this process, in ascending order: "0,1,2".
std::string openDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return "unknown";
    std::vector<int> fds;
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fd != ::dirfd(dir)) fds.push_back(fd);
    }
    ::closedir(dir);
    std::sort(fds.begin(), fds.end());
    std::string list;
    for (int fd : fds) list += (list.empty() ? "" : ",") + std::to_string(fd);
    return list;
}

// Its arguments, the file it was handed and the words of the image record.
void describeInput(std::ostringstream& report, int argc, char** argv, const ImageMapping* image) {
    report << "argc=" << argc << "\n";
    for (int i = 0; i < argc; ++i) report << "arg" << i << "=" << argv[i] << "\n";
    if (argc >= 3) {
        std::ifstream in(argv[2], std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        report << "handed.size=" << (in.is_open() ? static_cast<long>(bytes.size()) : -1L)
               << "\nhanded.hex=" << quillane::test::hexOf(bytes.substr(0, 4096)) << "\n";
    }
    if (image == nullptr) return;
    report << "image.currentPluginID=" << loadWord(image->currentPluginID) << "\n"
           << "image.busy=" << loadWord(image->busy) << "\nimage.imageReady=" << loadWord(image->imageReady) << "\n"
           << "image.clipName=" << std::string(image->clipName, ::strnlen(image->clipName, 256)) << "\n"
           << "image.width=" << image->width << "\nimage.height=" << image->height << "\n";
}

// Leaves the preset file for instance id; true when one was made.
bool leavePreset(std::uint32_t id) {
    const char* text = std::getenv("QUILLANE_STANDIN_PRESET");
    const std::string size = env("PRESET_SIZE");
    if (text == nullptr && size.empty()) return false;
    const std::string path = exchangeDirectory() + "LutPreset" + std::to_string(id) + ".qlp";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    if (text) ok = ::write(fd, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text));
    if (!size.empty()) ok = ok && ::ftruncate(fd, static_cast<off_t>(std::stoll(size))) == 0;
    return ::close(fd) == 0 && ok;
}

void answer(ImageMapping* image, LutMapping* lut) {
    const std::string kind = env("LUT", "invert");
    const auto id = static_cast<std::uint32_t>(std::stoul(env("FOR_ID", std::to_string(loadWord(lut->currentPluginID)))));
    if (image && leavePreset(id)) storeWord(image->presetReady, 1);

    const std::size_t n = std::min<std::size_t>(std::max(std::stoul(env("DIM", "17")), 1ul), LutMapping::kMaxDimSize);
    for (std::size_t b = 0, plane = 0; b < n; ++b)
        for (std::size_t g = 0; g < n; ++g)
            for (std::size_t r = 0; r < n; ++r, ++plane) {
                const ColorLut c = quillane::test::standInNode(kind, n, r, g, b);
                lut->red[plane] = c.r, lut->green[plane] = c.g, lut->blue[plane] = c.b;
            }
    const std::string range = env("RANGE", "0,1");
    lut->inputRange0 = std::stof(range.substr(0, range.find(',')));
    lut->inputRange1 = std::stof(range.substr(range.find(',') + 1));
    storeWord(lut->dimSize, static_cast<std::uint32_t>(std::stoul(env("DIM_WORD", std::to_string(n)))));

    std::memset(lut->name, 0, sizeof lut->name);
    if (env("NAME_UNTERMINATED") == "1") {
        std::memset(lut->name, 'x', sizeof lut->name);
    } else {
        const std::string name = env("NAME", "warm").substr(0, sizeof lut->name - 1);
        std::memcpy(lut->name, name.data(), name.size());
    }
    storeWord(lut->currentPluginID, id);
    storeWord(lut->lutReady, 1);
}

}  // namespace

int main(int argc, char** argv) {
    // Before this program opens anything itself: what it was handed.
    const std::string descriptors = openDescriptors();
    waitForFile(env("RELEASE"), std::chrono::seconds(30));
    MemoryMappingFile<ImageMapping> image(kImageMappingName, kImageMappingSize, false, true, true);
    MemoryMappingFile<LutMapping> lut(kLutMappingName, kLutMappingSize, false, true, true);

    std::ostringstream report;
    report << "fds=" << descriptors << "\n";
    describeInput(report, argc, argv, image.data);
    if (lut.data) answer(image.data, lut.data);
    if (const std::string path = env("REPORT"); !path.empty()) {
        std::ofstream(path + ".partial", std::ios::binary) << report.str();
        std::rename((path + ".partial").c_str(), path.c_str());
    }
    const long linger = std::stol(env("LINGER_MS", "0"));
    if (linger > 0) waitForFile(env("QUIT", "/nonexistent/never"), std::chrono::milliseconds(std::min(linger, 60000L)));
    return lut.data ? 0 : 1;
}
