#include "plugin/DesktopExchange.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "desktop/ExchangeDirectory.h"
#include "desktop/FileDescriptor.h"
#include "desktop/Launcher.h"
#include "desktop/Settings.h"
#include "lut/FileRead.h"
#include "lut/LutFile.h"
#include "platform/fxplug/FxPlug.h"

namespace desktop_exchange {

namespace {

// The other process sees every word through the shared mapping; the flags are
// stored after the data they announce and loaded before it is read.
void storeWord(std::uint32_t& word, std::uint32_t value) { __atomic_store_n(&word, value, __ATOMIC_RELEASE); }
std::uint32_t loadWord(const std::uint32_t& word) { return __atomic_load_n(&word, __ATOMIC_ACQUIRE); }

float clampUnit(float v) {
    // NaN fails both tests and becomes 0, like a value below the range.
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

}  // namespace

std::string outgoingPresetPath() { return exchangeDirectory() + kOutgoingPresetName; }

std::string incomingPresetPath(int instanceId) {
    return exchangeDirectory() + "LutPreset" + std::to_string(instanceId) + ".qlp";
}

std::int64_t filesize(const char* path) {
    if (path == nullptr) return -1;
    // Non-blocking, so that a FIFO put at the name cannot stall the caller.
    UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return -1;
    const off_t end = ::lseek(fd.get(), 0, SEEK_END);
    return end < 0 ? -1 : static_cast<std::int64_t>(end);
}

bool isModalPluginMode(const std::string& value) { return value.empty() || value == "1"; }

bool writeOutgoingPreset(const std::string& path, const std::vector<char>& bytes) {
    // The folder is shared with every user of the machine: whatever sits at
    // this name (a symbolic link included) is removed, and a file that cannot
    // be made afresh is not written through.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        std::cerr << "Quillane: cannot replace " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        std::cerr << "Quillane: cannot create " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }
    const bool ok = writeAll(fd.get(), bytes.data(), bytes.size());
    const bool closed = ::close(fd.release()) == 0;
    if (!ok || !closed) {
        std::cerr << "Quillane: cannot write " << path << "\n";
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

std::optional<std::vector<char>> readIncomingPreset(const std::string& path) {
    // The application may still be writing: the read goes to the end, not to
    // the size seen a moment ago, within the bound all the way. A link put at
    // the name is not followed.
    std::string text;
    const FileRead read =
        readRegularFile(path, static_cast<std::size_t>(kMaxPresetFileSize), &text, LinkPolicy::Refuse);
    if (read.problem == FileReadProblem::TooLarge)
        std::cerr << "Quillane: preset file " << path << " is larger than " << kMaxPresetFileSize
                  << " bytes, refused\n";
    if (read.problem != FileReadProblem::None) return std::nullopt;
    std::cout << text.size() << "\n";
    return std::vector<char>(text.begin(), text.end());
}

FrameResult writeFrame(ImageMapping* image, LutMapping* lut, std::uint32_t instanceId, const FxBitmap& bitmap) {
    const std::uint64_t pixels = static_cast<std::uint64_t>(bitmap.width()) * bitmap.height();
    if (bitmap.depth() != kFxDepth_FLOAT32 || bitmap.dataSize() < pixels * 16 ||
        (pixels > 0 && bitmap.dataPtr() == nullptr))
        return FrameResult::BadFrame;
    return writeFrame(image, lut, instanceId, static_cast<const float*>(bitmap.dataPtr()), bitmap.width(),
                      bitmap.height());
}

FrameResult writeFrame(ImageMapping* image, LutMapping* lut, std::uint32_t instanceId, const float* argb,
                       std::uint32_t width, std::uint32_t height) {
    if (image == nullptr || lut == nullptr) return FrameResult::NoRecord;
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
    if (pixels > ImageMapping::kMaxPixels) return FrameResult::TooLarge;
    if (pixels > 0 && argb == nullptr) return FrameResult::BadFrame;

    storeWord(image->fromPlugin, 1);
    storeWord(image->currentPluginID, instanceId);
    storeWord(image->busy, 1);

    float* out = image->pixels;
    for (std::uint64_t i = 0; i < pixels; ++i, argb += 4, out += 4) {
        out[0] = clampUnit(argb[1]);
        out[1] = clampUnit(argb[2]);
        out[2] = clampUnit(argb[3]);
        out[3] = 1.0f;
    }

    static constexpr char kClipName[] = "clipName";
    std::memset(image->clipName, 0, sizeof image->clipName);
    std::memcpy(image->clipName, kClipName, sizeof kClipName - 1);
    storeWord(image->width, width);
    storeWord(image->height, height);
    storeWord(image->bytesPerPixel, 16);
    storeWord(image->imageReady, 1);
    storeWord(image->presetReady, 0);

    storeWord(lut->fromPlugin, 1);
    storeWord(lut->currentPluginID, instanceId);
    storeWord(lut->lutReady, 0);
    return FrameResult::Written;
}

void lowerBusy(ImageMapping* image) {
    if (image) storeWord(image->busy, 0);
}

SendResult sendToDesktop(ImageMapping* image, LutMapping* lut, std::uint32_t instanceId, const FxBitmap& bitmap,
                         const std::vector<char>& preset, const std::string& lutName, const std::string& presetPath,
                         std::string* why) {
    const auto notSent = [why](const std::string& reason) {
        if (why)
            *why = reason;
        else
            std::cerr << "Quillane: " << reason << "\n";
        return SendResult::NotSent;
    };
    switch (writeFrame(image, lut, instanceId, bitmap)) {
    case FrameResult::Written: break;
    case FrameResult::NoRecord: return notSent("the exchange files are not available");
    case FrameResult::TooLarge:
        return notSent("the frame (" + std::to_string(bitmap.width()) + " x " + std::to_string(bitmap.height()) +
                       " pixels) is larger than the exchange holds (" + std::to_string(ImageMapping::kMaxWidth) +
                       " x " + std::to_string(ImageMapping::kMaxHeight) + ")");
    case FrameResult::BadFrame: return notSent("the frame cannot be read");
    }

    const bool modal = isModalPluginMode(getValueFromReg("ModalPluginMode", false));

    // A preset that could not be written is not handed over: the file of that
    // name would be an older one, or someone else's.
    std::string handOver = lutName;
    if (!preset.empty() && writeOutgoingPreset(presetPath, preset)) handOver = presetPath;
    lowerBusy(image);

    // One that could not be started is looked for all the same, as if it
    // had been (an answer may still come from one started by hand).
    const std::string notStarted = startQuillane(handOver, modal);
    if (why && !notStarted.empty()) *why = "the desktop program was not started: " + notStarted;
    return modal ? SendResult::Modal : SendResult::NonModal;
}

AnswerResult takeAnswer(ImageMapping* image, LutMapping* lut, std::uint32_t instanceId, const std::string& presetPath,
                        DesktopAnswer* answer) {
    if (lut == nullptr || answer == nullptr) return AnswerResult::None;
    if (loadWord(lut->lutReady) != 1 || loadWord(lut->currentPluginID) != instanceId) return AnswerResult::None;

    // Every number below comes from another program: read each once, check it, use that copy.
    const std::uint32_t n = loadWord(lut->dimSize);
    const float range0 = lut->inputRange0;
    const float range1 = lut->inputRange1;
    // A range that is not a number could not be kept in the project either,
    // and one of two equal ends spans no colours: the LUT files' rule.
    if (n < 1 || n > LutMapping::kMaxDimSize || !usableInputRange(range0, range1)) {
        std::cerr << "Quillane: the desktop application's LUT (size " << n << ", range " << range0 << " to "
                  << range1 << ") was refused\n";
        if (image && loadWord(image->presetReady) == 1) storeWord(image->presetReady, 0);
        storeWord(lut->lutReady, 0);
        return AnswerResult::Refused;
    }

    std::vector<float> nodes(static_cast<std::size_t>(n) * n * n * 4);
    std::size_t plane = 0;  // the planes are in node order already
    for (std::size_t b = 0; b < n; ++b)
        for (std::size_t g = 0; g < n; ++g)
            for (std::size_t r = 0; r < n; ++r, ++plane) {
                float* node = nodes.data() + lutNodeOffset(n, r, g, b);
                node[0] = lut->red[plane];
                node[1] = lut->green[plane];
                node[2] = lut->blue[plane];
                node[3] = 1.0f;
            }
    answer->lut = Lut(std::move(nodes), static_cast<int>(n), range0, range1);

    answer->preset.reset();
    if (image && loadWord(image->presetReady) == 1) {
        // busy tells the application that its file is being read, so it is
        // raised only for a file that is there to read.
        if (filesize(presetPath.c_str()) >= 0) {
            storeWord(image->busy, 1);
            answer->preset = readIncomingPreset(presetPath);
            storeWord(image->busy, 0);
        }
        storeWord(image->presetReady, 0);
    }

    char name[sizeof lut->name];
    std::memcpy(name, lut->name, sizeof name);
    answer->name = "Quillane " + std::string(name, ::strnlen(name, sizeof name));

    storeWord(lut->lutReady, 0);
    return AnswerResult::Taken;
}

}  // namespace desktop_exchange
