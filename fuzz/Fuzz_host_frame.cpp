// A PNG frame as the host reads it from a file: the header judged against the
// limits before any pixel memory is taken, then decoded by libpng.
// Properties:
//   - a refused file leaves the frame as it was and says why;
//   - an accepted frame is the size its header declares, within the limits
//     (pixel count and side), of the kind its bit depth gives (16 bits: words,
//     else bytes), and its buffer holds exactly width x height x 4 values;
//   - where lodepng also decodes the file (to RGBA of the same depth, 16-bit
//     samples big-endian as in the file), every sample agrees.
// fuzz/host_frame.options sets a malloc limit above the largest frame the
// default limits take, so that memory taken past the bound is a find.
//
// Input: one byte that picks the limits (bits 0-1 the side limit, bit 2 a small
// pixel cap), then the file.
#include <lodepng.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/FrameFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t pick = data[0];
    const unsigned char* png = data + 1;
    const std::size_t pngSize = size - 1;

    host::FrameLimits limits;
    constexpr std::uint32_t kSides[] = {0, 16384, 256, 3};
    limits.maxSide = kSides[pick & 3];
    if (pick & 4) limits.maxPixels = 64 * 64;

    static const std::string path = fuzz::scratchFolder() + "/frame.png";
    fuzz::writeFile(path, std::string_view(reinterpret_cast<const char*>(png), pngSize));

    host::Frame frame;
    frame.width = -7;  // a mark that a refusal must leave alone
    std::string error;
    if (!host::readPngFrame(path, &frame, &error, limits)) {
        fuzz::check(!error.empty(), "a refusal says why");
        fuzz::check(frame.width == -7 && frame.valueCount() == 0, "a refused file leaves the frame alone");
        return 0;
    }

    host::PngHeader header;
    fuzz::check(host::parsePngHeader(png, pngSize, &header, nullptr), "an accepted file starts with a PNG header");
    fuzz::check(host::checkFrameHeader(header, limits).empty(), "an accepted header is within the limits");
    fuzz::check(frame.width > 0 && frame.height > 0 && std::uint32_t(frame.width) == header.width &&
                    std::uint32_t(frame.height) == header.height,
                "the frame is the size its header declares");
    fuzz::check(frame.pixelCount() <= limits.maxPixels, "the frame is within the pixel cap");
    fuzz::check(limits.maxSide == 0 || (header.width <= limits.maxSide && header.height <= limits.maxSide),
                "the frame is within the side limit");
    const bool sixteen = header.bitDepth == 16;
    fuzz::check(frame.isFloat == sixteen && frame.sixteen == sixteen, "16-bit files give word frames, others bytes");
    const std::size_t values = frame.pixelCount() * 4;
    fuzz::check(sixteen ? frame.words.size() == values && frame.bytes.empty()
                        : frame.bytes.size() == values && frame.words.empty(),
                "the frame's buffer holds exactly width x height x 4 samples");
    fuzz::check(frame.floats.empty(), "no float buffer beside the words or bytes");

    // lodepng bounded as well, so that a file libpng takes (it ignores compressed data past
    // the image) makes no find of lodepng's own memory use.
    lodepng::State state;
    state.info_raw.colortype = LCT_RGBA;
    state.info_raw.bitdepth = sixteen ? 16 : 8;
    state.decoder.read_text_chunks = 0;
    state.decoder.zlibsettings.max_output_size = (std::size_t(header.height) * 2 + 16) * (1 + header.width * 8ull);
    std::vector<unsigned char> other;
    unsigned w = 0, h = 0;
    if (lodepng::decode(other, w, h, state, png, pngSize) != 0) return 0;
    fuzz::check(w == header.width && h == header.height, "lodepng sees the same size");
    if (sixteen) {
        fuzz::check(other.size() == values * 2, "lodepng gives two bytes a sample");
        for (std::size_t i = 0; i < values; ++i) {
            const std::uint16_t sample = static_cast<std::uint16_t>(other[2 * i] << 8 | other[2 * i + 1]);
            if (frame.words[i] != sample) fuzz::fail("16-bit samples agree with lodepng's");
        }
    } else {
        fuzz::check(other.size() == values, "lodepng gives a byte a sample");
        fuzz::check(std::memcmp(other.data(), frame.bytes.data(), values) == 0, "8-bit samples agree with lodepng's");
    }
    return 0;
}
