// A stand-in for the Quillane desktop application's side of the exchange.
// Built under the name QuillaneMac, started by the launcher as
// "QuillaneMac -plugin [file]". It reads the frame from the image record,
// optionally leaves a preset file and raises presetReady, fills the LUT record
// for the instance it finds there and raises lutReady last, then exits (or
// stays a bounded while, as a desktop application started non-modally would).
//
// Everything is steered by the environment, so that a test can ask for a
// well-behaved or a hostile answer:
//   QUILLANE_STANDIN_REPORT     file that receives what the program saw (key=value lines),
//                               complete before it appears under its name
//   QUILLANE_STANDIN_RELEASE    wait (at most 30 s) until this file exists before answering
//   QUILLANE_STANDIN_LUT        "invert" (default), "warm", or "none" (no answer at all)
//   QUILLANE_STANDIN_DIM        nodes per axis of the look, 1 ... 64 (default 17)
//   QUILLANE_STANDIN_DIM_WORD   the number written into dimSize instead of DIM (0 ... 2^32-1)
//   QUILLANE_STANDIN_RANGE      "lo,hi": the input range (default 0,1)
//   QUILLANE_STANDIN_NAME       the LUT's name (default "warm")
//   QUILLANE_STANDIN_NAME_UNTERMINATED  "1": the name field is 256 'x' with no NUL
//   QUILLANE_STANDIN_PRESET     bytes of the preset file to leave (flags presetReady)
//   QUILLANE_STANDIN_PRESET_SIZE  make the preset file this many bytes long (sparse, zeros)
//   QUILLANE_STANDIN_FOR_ID     answer for this instance id instead of the record's
//   QUILLANE_STANDIN_LINGER_MS  stay this long after answering (at most 60 s) ...
//   QUILLANE_STANDIN_QUIT       ... or until this file exists
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "StandInLut.h"
#include "desktop/ExchangeDirectory.h"
#include "desktop/MemoryMappingFile.h"
#include "tests/support/ProcessTools.h"

namespace {

using namespace std::chrono_literals;

std::string env(const char* name, const std::string& fallback = {}) {
    const char* value = std::getenv(name);
    return value ? value : fallback;
}

bool exists(const std::string& path) { return !path.empty() && ::access(path.c_str(), F_OK) == 0; }

void waitForFile(const std::string& path, std::chrono::milliseconds limit) {
    if (!path.empty()) quillane::test::waitUntil([&] { return exists(path); }, limit);
}

void storeWord(std::uint32_t& word, std::uint32_t value) { __atomic_store_n(&word, value, __ATOMIC_RELEASE); }
std::uint32_t loadWord(const std::uint32_t& word) { return __atomic_load_n(&word, __ATOMIC_ACQUIRE); }

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// What the program was given: its arguments, the file it was handed, the frame.
void describeInput(std::ostringstream& report, int argc, char** argv, const ImageMapping* image) {
    report << "argc=" << argc << "\n";
    for (int i = 0; i < argc; ++i) report << "arg" << i << "=" << argv[i] << "\n";
    if (argc >= 3) {
        std::ifstream in(argv[2], std::ios::binary);
        if (in) {
            const std::string bytes((std::istreambuf_iterator<char>(in)), {});
            report << "handed.size=" << bytes.size() << "\nhanded.hex=" << hex(bytes.substr(0, 4096)) << "\n";
        } else {
            report << "handed.size=-1\n";
        }
    }
    if (image == nullptr) {
        report << "image=unmapped\n";
        return;
    }
    report << "image.fromPlugin=" << loadWord(image->fromPlugin) << "\n"
           << "image.currentPluginID=" << loadWord(image->currentPluginID) << "\n"
           << "image.busy=" << loadWord(image->busy) << "\n"
           << "image.imageReady=" << loadWord(image->imageReady) << "\n"
           << "image.clipName=" << std::string(image->clipName, ::strnlen(image->clipName, 256)) << "\n"
           << "image.bytesPerPixel=" << image->bytesPerPixel << "\n"
           << "image.width=" << image->width << "\nimage.height=" << image->height << "\n";
    const std::uint64_t pixels = static_cast<std::uint64_t>(image->width) * image->height;
    if (pixels > 0 && pixels <= ImageMapping::kMaxPixels) {
        double sum = 0.0;
        for (std::uint64_t i = 0; i < pixels * 4; ++i) sum += image->pixels[i];
        report << "image.pixel0=" << image->pixels[0] << "," << image->pixels[1] << "," << image->pixels[2] << ","
               << image->pixels[3] << "\nimage.sum=" << sum << "\n";
    }
}

// Leaves the preset file for instance id; true when one was made.
bool leavePreset(std::uint32_t id) {
    const char* text = std::getenv("QUILLANE_STANDIN_PRESET");
    const std::string size = env("QUILLANE_STANDIN_PRESET_SIZE");
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
    const std::string kind = env("QUILLANE_STANDIN_LUT", "invert");
    if (kind == "none") return;
    const std::uint32_t id = static_cast<std::uint32_t>(
        std::stoul(env("QUILLANE_STANDIN_FOR_ID", std::to_string(loadWord(lut->currentPluginID)))));

    if (image && leavePreset(id)) storeWord(image->presetReady, 1);

    std::size_t n = std::stoul(env("QUILLANE_STANDIN_DIM", "17"));
    if (n < 1) n = 1;
    if (n > LutMapping::kMaxDimSize) n = LutMapping::kMaxDimSize;
    std::size_t plane = 0;
    for (std::size_t b = 0; b < n; ++b)
        for (std::size_t g = 0; g < n; ++g)
            for (std::size_t r = 0; r < n; ++r, ++plane) {
                const ColorLut c = quillane::test::standInNode(kind, n, r, g, b);
                lut->red[plane] = c.r;
                lut->green[plane] = c.g;
                lut->blue[plane] = c.b;
            }
    const std::string range = env("QUILLANE_STANDIN_RANGE", "0,1");
    lut->inputRange0 = std::stof(range.substr(0, range.find(',')));
    lut->inputRange1 = std::stof(range.substr(range.find(',') + 1));
    storeWord(lut->dimSize, static_cast<std::uint32_t>(
                                std::stoul(env("QUILLANE_STANDIN_DIM_WORD", std::to_string(n)))));

    std::memset(lut->name, 0, sizeof lut->name);
    if (env("QUILLANE_STANDIN_NAME_UNTERMINATED") == "1") {
        std::memset(lut->name, 'x', sizeof lut->name);
    } else {
        const std::string name = env("QUILLANE_STANDIN_NAME", "warm").substr(0, sizeof lut->name - 1);
        std::memcpy(lut->name, name.data(), name.size());
    }
    storeWord(lut->currentPluginID, id);
    storeWord(lut->lutReady, 1);
}

}  // namespace

int main(int argc, char** argv) {
    waitForFile(env("QUILLANE_STANDIN_RELEASE"), 30s);

    MemoryMappingFile<ImageMapping> image(kImageMappingName, kImageMappingSize, false, true, true);
    MemoryMappingFile<LutMapping> lut(kLutMappingName, kLutMappingSize, false, true, true);

    std::ostringstream report;
    describeInput(report, argc, argv, image.data);
    if (lut.data) answer(image.data, lut.data);
    report << "answered=" << (lut.data ? 1 : 0) << "\n";

    const std::string reportPath = env("QUILLANE_STANDIN_REPORT");
    if (!reportPath.empty()) {
        const std::string partial = reportPath + ".partial";
        {
            std::ofstream out(partial, std::ios::binary);
            out << report.str();
        }
        std::rename(partial.c_str(), reportPath.c_str());
    }

    const long linger = std::stol(env("QUILLANE_STANDIN_LINGER_MS", "0"));
    if (linger > 0) {
        const std::string quit = env("QUILLANE_STANDIN_QUIT");
        const auto limit = std::chrono::milliseconds(linger < 60000 ? linger : 60000);
        if (quit.empty())
            std::this_thread::sleep_for(limit);
        else
            waitForFile(quit, limit);
    }
    return lut.data ? 0 : 1;
}
