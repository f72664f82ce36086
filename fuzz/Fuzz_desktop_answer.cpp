// The desktop application's answer as another program may leave it: a LUT
// record and a preset file, taken by the exchange's answer path and carried
// on the way the effect keeps them (the preset as Base64 text). Properties:
//   - no answer for this instance leaves both records as they were;
//   - an answer is taken whole (its size, range bits, every node bit for bit
//     with alpha 1, its name up to the record's end, exactly the preset
//     file's bytes when one is flagged) or refused whole, and either way the
//     flags are lowered;
//   - the preset survives its Base64 round trip byte for byte.
//
// Input: one control byte, the LUT record's 280-byte header (zeros where the
// input is short), the nodes' red, green and blue floats interleaved (only as
// many as the header's size needs), then the preset file's bytes.
// Control bits: 0 lutReady forced to 1, 1 the record names this instance,
// 2 presetReady raised, 3 the preset file exists, 4 a folder stands at its name.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "desktop/MemoryMappingFile.h"
#include "fuzz/FuzzSupport.h"
#include "lut/LutFile.h"
#include "plugin/Base64.h"
#include "plugin/DesktopExchange.h"

namespace {

constexpr std::uint32_t kInstanceId = 7;
constexpr std::size_t kHeaderBytes = offsetof(LutMapping, red);

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Both records live for the whole run, zeroed once: the image record is 135 MiB
// of which only the header is ever touched.
template <class T>
T* zeroedRecord() {
    static std::unique_ptr<T, FreeDeleter> record(static_cast<T*>(std::calloc(1, sizeof(T))));
    if (!record) fuzz::fail("the records can be allocated");
    return record.get();
}

// The LUT record's words before its planes.
struct Header {
    std::uint32_t fromPlugin, currentPluginID, lutReady, dimSize;
    float inputRange0, inputRange1;
    char name[256];
};
static_assert(sizeof(Header) == kHeaderBytes && offsetof(Header, name) == offsetof(LutMapping, name));

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The nodes the last input filled, cleared before the next one.
std::size_t dirtyNodes = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("QUILLANE_EXCHANGE_DIR", fuzz::scratchFolder().c_str(), 1);
    // The answer path reports sizes and refusals as it should; not here.
    static std::ostringstream quiet;
    std::cout.rdbuf(quiet.rdbuf());
    std::cerr.rdbuf(quiet.rdbuf());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t control = data[0];
    ++data;
    --size;

    ImageMapping* image = zeroedRecord<ImageMapping>();
    LutMapping* lut = zeroedRecord<LutMapping>();
    std::memset(image, 0, offsetof(ImageMapping, pixels));
    std::memset(lut, 0, kHeaderBytes);
    for (std::size_t i = 0; i < dirtyNodes; ++i) lut->red[i] = lut->green[i] = lut->blue[i] = 0.0f;
    dirtyNodes = 0;

    const std::size_t header = std::min(size, kHeaderBytes);
    std::memcpy(lut, data, header);
    data += header;
    size -= header;
    if (control & 1) lut->lutReady = 1;
    if (control & 2) lut->currentPluginID = kInstanceId;
    if (control & 4) image->presetReady = 1;

    const std::uint32_t n = lut->dimSize;
    if (n >= 1 && n <= LutMapping::kMaxDimSize) {
        dirtyNodes = std::size_t(n) * n * n;
        const std::size_t given = std::min(size / 12, dirtyNodes);
        for (std::size_t i = 0; i < given; ++i, data += 12, size -= 12) {
            std::memcpy(&lut->red[i], data, 4);
            std::memcpy(&lut->green[i], data + 4, 4);
            std::memcpy(&lut->blue[i], data + 8, 4);
        }
    }
    const std::string presetFile(reinterpret_cast<const char*>(data), size);

    const std::string presetPath = desktop_exchange::incomingPresetPath(static_cast<int>(kInstanceId));
    std::error_code ec;
    std::filesystem::remove_all(presetPath, ec);
    if (control & 16)
        std::filesystem::create_directory(presetPath);
    else if (control & 8)
        fuzz::writeFile(presetPath, presetFile);

    Header headerBefore;
    std::memcpy(&headerBefore, lut, kHeaderBytes);
    const std::uint32_t presetReadyBefore = image->presetReady;

    desktop_exchange::DesktopAnswer answer;
    const auto result = desktop_exchange::takeAnswer(image, lut, kInstanceId, presetPath, &answer);

    const bool forUs = headerBefore.lutReady == 1 && headerBefore.currentPluginID == kInstanceId;
    if (!forUs) {
        fuzz::check(result == desktop_exchange::AnswerResult::None, "only an answer for this instance is taken");
        fuzz::check(std::memcmp(lut, &headerBefore, kHeaderBytes) == 0 && image->presetReady == presetReadyBefore &&
                        image->busy == 0,
                    "an answer for someone else is left alone");
        return 0;
    }
    fuzz::check(lut->lutReady == 0 && image->presetReady == 0 && image->busy == 0,
                "an answer taken or refused lowers every flag");
    const float range0 = headerBefore.inputRange0, range1 = headerBefore.inputRange1;
    const bool usable = n >= 1 && n <= LutMapping::kMaxDimSize && usableInputRange(range0, range1);
    if (!usable) {
        fuzz::check(result == desktop_exchange::AnswerResult::Refused, "an unusable answer is refused");
        return 0;
    }
    fuzz::check(result == desktop_exchange::AnswerResult::Taken, "a usable answer is taken");

    const Lut& taken = answer.lut;
    fuzz::check(taken.isLoaded() && taken.getDimSize() == static_cast<int>(n), "the LUT has the record's size");
    fuzz::check(sameBits(taken.getInputRange0(), range0) && sameBits(taken.getInputRange1(), range1),
                "the range keeps its bits");
    const float* nodes = taken.getData();
    for (std::size_t i = 0; i < std::size_t(n) * n * n; ++i)
        fuzz::check(sameBits(nodes[4 * i], lut->red[i]) && sameBits(nodes[4 * i + 1], lut->green[i]) &&
                        sameBits(nodes[4 * i + 2], lut->blue[i]) && nodes[4 * i + 3] == 1.0f,
                    "every node is the record's, with alpha 1");
    const std::string name(headerBefore.name, ::strnlen(headerBefore.name, sizeof headerBefore.name));
    fuzz::check(answer.name == "Quillane " + name, "the name is the record's up to its end");

    const bool presetTaken = (control & 4) && (control & 8) && !(control & 16);
    fuzz::check(answer.preset.has_value() == presetTaken, "a preset comes only from a flagged file");
    if (answer.preset) {
        const std::vector<char>& preset = *answer.preset;
        fuzz::check(std::string(preset.begin(), preset.end()) == presetFile, "the preset is the file's bytes");
        fuzz::check(base64Decode(base64Encode(preset)) == preset, "the preset survives its Base64 text");
    }
    return 0;
}
