#pragma once
// Frames in memory and in PNG files: the host reads and writes the frames it
// renders as PNG, 8 or 16 bits a channel.
//
// A file's header is read and judged before any pixel memory is taken, so a
// file that declares a huge frame costs a few bytes of reading, not gigabytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace host {

// A vector element allocator that leaves new elements uninitialised: frame
// buffers are always filled whole by a decoder or a read-back, so zero-filling
// them first would only cost time.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <class T>
using FrameBuffer = std::vector<T, UninitializedAllocator<T>>;

// RGBA pixels, first row on top as in image files. 8-bit frames keep bytes.
// Float frames (graded at float depth) keep floats, or, as 16-bit files give
// them, 16-bit words w standing for w / 65535: half the memory and half the
// copying of floats, and exactly the values the file holds.
struct Frame {
    int width = 0;
    int height = 0;
    bool isFloat = false;
    bool sixteen = false;  // a float frame held in `words`
    FrameBuffer<unsigned char> bytes;
    FrameBuffer<float> floats;
    FrameBuffer<std::uint16_t> words;

    std::size_t pixelCount() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
    // Values in the buffer the frame's kind uses.
    std::size_t valueCount() const { return isFloat ? (sixteen ? words.size() : floats.size()) : bytes.size(); }
    const void* data() const {
        return isFloat ? (sixteen ? static_cast<const void*>(words.data()) : floats.data()) : bytes.data();
    }
    void* data() { return const_cast<void*>(static_cast<const Frame*>(this)->data()); }
    std::size_t bytesPerPixel() const { return isFloat ? (sixteen ? 8 : 16) : 4; }
    // Makes room for every value of the frame's kind, left uninitialised.
    void allocate() {
        const std::size_t values = pixelCount() * 4;
        if (!isFloat)
            bytes.resize(values);
        else if (sixteen)
            words.resize(values);
        else
            floats.resize(values);
    }
};

// The largest frame the host takes from a file: an 8K UHD frame (7680 x 4320
// pixels) of any shape. A 16-bit frame of that size is 531 MB as floats.
constexpr std::uint64_t kMaxFramePixels = 7680ull * 4320ull;

// What a frame file may declare before it is decoded.
struct FrameLimits {
    std::uint64_t maxPixels = kMaxFramePixels;
    std::uint32_t maxSide = 0;  // the longest row or column; 0: no limit of its own
};

// The fields of a PNG file's header that decide what decoding it costs.
struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 0;
    int colorType = 0;
};

// The signature and the IHDR chunk at the start of a PNG file (33 bytes).
// False, with the reason, when the bytes are not the start of a PNG file.
bool parsePngHeader(const unsigned char* bytes, std::size_t byteSize, PngHeader* header, std::string* reason);
// Empty when a frame of this header fits the limits, else why not.
std::string checkFrameHeader(const PngHeader& header, const FrameLimits& limits);

// 8- and 16-bit PNG files of any colour type (16-bit ones as float frames in
// words); false and a reason otherwise.
bool readPngFrame(const std::string& path, Frame* frame, std::string* error, const FrameLimits& limits = {});

// How frames are compressed. Every setting gives the same lossless PNG. The
// host stores its frames without compression (zlib level 0, no row filter):
// measured on 1080p footage, every compressing setting took two to six times
// as long as the render itself, while storing keeps reading plus writing
// under the render's time, at files 1.4 (16-bit) to 2.2 (8-bit) times the
// size of lodepng's best.
struct PngWriteSettings {
    int zlibLevel = 0;
    int zlibStrategy = 0;  // Z_DEFAULT_STRATEGY
    int filter = 0x08;     // PNG_FILTER_NONE
};

// 8-bit frames as 8-bit PNG, float frames as 16-bit PNG (floats clamped to
// 0..1 and rounded).
// A file that cannot be written whole is removed.
bool writePngFrame(const std::string& path, const Frame& frame, std::string* error,
                   const PngWriteSettings& settings = {});

}  // namespace host
