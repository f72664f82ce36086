#include "host/FrameFile.h"

#include <png.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "desktop/FileReplace.h"
#include "lut/FileRead.h"

namespace host {
namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr std::size_t kPngHeaderBytes = 33;  // signature, IHDR length, type, 13 data bytes, CRC

std::uint32_t bigEndian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool littleEndian() {
    const std::uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// libpng reports errors by a long jump back to the function that armed it;
// the message is kept here for the caller.
struct PngMessages {
    std::string error;
};

void onPngError(png_structp png, png_const_charp message) {
    if (auto* m = static_cast<PngMessages*>(png_get_error_ptr(png))) m->error = message ? message : "PNG error";
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

class PngReader {
public:
    PngReader() {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &messages, onPngError, onPngWarning);
        if (png) info = png_create_info_struct(png);
    }
    ~PngReader() { png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngMessages messages;
};

class PngWriter {
public:
    PngWriter() {
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &messages, onPngError, onPngWarning);
        if (png) info = png_create_info_struct(png);
    }
    ~PngWriter() { png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngMessages messages;
};

// Decodes the whole image into rows as RGBA of the file's bit depth (16-bit
// samples in this machine's byte order). Only plain data lives in this frame:
// an error jumps back here past libpng's frames.
bool decodeRows(PngReader& r, std::FILE* file, const PngHeader& expected, png_bytepp rows) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_init_io(r.png, file);
    // libpng checks the header again; nothing larger than what was judged gets through.
    png_set_user_limits(r.png, expected.width, expected.height);
    // Nor may anything beside the pixels take memory: libpng takes the whole declared length
    // of a text, profile or other variable chunk before reading it (gigabytes for a chunk
    // header in a tiny file). A frame uses none of them, so they are skipped unread.
    static const png_byte kUnusedChunks[] = {'i', 'C', 'C', 'P', 0, 's', 'P', 'L', 'T', 0, 't', 'E', 'X', 't', 0,
                                             'z', 'T', 'X', 't', 0, 'i', 'T', 'X', 't', 0, 'e', 'X', 'I', 'f', 0,
                                             'p', 'C', 'A', 'L', 0, 's', 'C', 'A', 'L', 0};
    png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_NEVER, kUnusedChunks, sizeof kUnusedChunks / 5);
    png_read_info(r.png, r.info);
    if (png_get_image_width(r.png, r.info) != expected.width ||
        png_get_image_height(r.png, r.info) != expected.height ||
        png_get_bit_depth(r.png, r.info) != expected.bitDepth) {
        r.messages.error = "the header changed while reading";
        return false;
    }
    png_set_expand(r.png);  // palette and low-depth grey to 8 bits, transparency to alpha
    png_set_gray_to_rgb(r.png);
    png_set_filler(r.png, 0xffff, PNG_FILLER_AFTER);  // opaque alpha where the file has none
    if (expected.bitDepth == 16 && littleEndian()) png_set_swap(r.png);  // PNG stores big-endian samples
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    const std::size_t rowBytes = static_cast<std::size_t>(expected.width) * 4 * (expected.bitDepth == 16 ? 2 : 1);
    if (png_get_rowbytes(r.png, r.info) != rowBytes) {
        r.messages.error = "unexpected row layout";
        return false;
    }
    png_read_image(r.png, rows);
    png_read_end(r.png, nullptr);
    return true;
}

bool encodeRows(PngWriter& w, std::FILE* file, const Frame& frame, const PngWriteSettings& settings,
                unsigned char* rowBuffer) {
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_init_io(w.png, file);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(frame.width), static_cast<png_uint_32>(frame.height),
                 frame.isFloat ? 16 : 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(w.png, settings.zlibLevel);
    png_set_compression_strategy(w.png, settings.zlibStrategy);
    png_set_filter(w.png, PNG_FILTER_TYPE_BASE, settings.filter);
    png_write_info(w.png, w.info);
    if (frame.sixteen && littleEndian()) png_set_swap(w.png);  // words go out big-endian
    const std::size_t rowValues = static_cast<std::size_t>(frame.width) * 4;
    for (int y = 0; y < frame.height; ++y) {
        if (frame.sixteen) {
            png_write_row(w.png, reinterpret_cast<png_const_bytep>(frame.words.data() +
                                                                    static_cast<std::size_t>(y) * rowValues));
        } else if (frame.isFloat) {
            const float* in = frame.floats.data() + static_cast<std::size_t>(y) * rowValues;
            for (std::size_t i = 0; i < rowValues; ++i) {
                const float v = std::fmin(std::fmax(in[i], 0.0f), 1.0f);  // NaN becomes 0
                const auto q = static_cast<unsigned>(v * 65535.0f + 0.5f);
                rowBuffer[2 * i] = static_cast<unsigned char>(q >> 8);
                rowBuffer[2 * i + 1] = static_cast<unsigned char>(q & 0xff);
            }
            png_write_row(w.png, rowBuffer);
        } else {
            png_write_row(w.png, frame.bytes.data() + static_cast<std::size_t>(y) * rowValues);
        }
    }
    png_write_end(w.png, nullptr);
    return true;
}

}  // namespace

bool parsePngHeader(const unsigned char* bytes, std::size_t byteSize, PngHeader* header, std::string* reason) {
    auto fail = [&](const char* why) {
        if (reason) *reason = why;
        return false;
    };
    if (byteSize < sizeof kPngSignature || std::memcmp(bytes, kPngSignature, sizeof kPngSignature) != 0)
        return fail("not a PNG file");
    if (byteSize < kPngHeaderBytes) return fail("the PNG file ends inside its header");
    if (bigEndian32(bytes + 8) != 13 || std::memcmp(bytes + 12, "IHDR", 4) != 0)
        return fail("the PNG file does not start with its header chunk");
    header->width = bigEndian32(bytes + 16);
    header->height = bigEndian32(bytes + 20);
    header->bitDepth = bytes[24];
    header->colorType = bytes[25];
    return true;
}

std::string checkFrameHeader(const PngHeader& header, const FrameLimits& limits) {
    const std::string size = std::to_string(header.width) + "x" + std::to_string(header.height);
    if (header.width == 0 || header.height == 0) return "the frame is empty (" + size + ")";
    if (header.bitDepth != 8 && header.bitDepth != 16 && !(header.bitDepth < 8 && header.colorType != 6))
        return "the frame has " + std::to_string(header.bitDepth) + "-bit samples; 8 and 16 bits are read";
    if (limits.maxSide != 0 && (header.width > limits.maxSide || header.height > limits.maxSide))
        return "the frame of " + size + " pixels is larger than the GPU's textures (" +
               std::to_string(limits.maxSide) + " pixels a side)";
    const std::uint64_t pixels = static_cast<std::uint64_t>(header.width) * header.height;
    if (pixels > limits.maxPixels)
        return "the frame of " + size + " pixels is larger than the host takes (" + std::to_string(limits.maxPixels) +
               " pixels)";
    return {};
}

bool readPngFrame(const std::string& path, Frame* frame, std::string* error, const FrameLimits& limits) {
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    std::string why;
    FileRead opened;
    const int fd = openRegularFile(path, &opened);
    if (fd < 0) return fail(fileReadProblemText(opened));
    File file(::fdopen(fd, "rb"));
    if (!file) {
        ::close(fd);
        return fail(std::strerror(errno));
    }
    unsigned char head[kPngHeaderBytes];
    const std::size_t got = std::fread(head, 1, sizeof head, file.get());
    PngHeader header;
    if (!parsePngHeader(head, got, &header, &why)) return fail(why);
    if (std::string refused = checkFrameHeader(header, limits); !refused.empty()) return fail(refused);
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return fail(std::strerror(errno));

    PngReader reader;
    if (!reader.info) return fail("out of memory");
    Frame f;
    f.width = static_cast<int>(header.width);
    f.height = static_cast<int>(header.height);
    f.isFloat = f.sixteen = header.bitDepth == 16;
    f.allocate();
    std::vector<png_bytep> rows(header.height);
    const std::size_t rowBytes = static_cast<std::size_t>(header.width) * f.bytesPerPixel();
    for (std::size_t y = 0; y < header.height; ++y) rows[y] = static_cast<png_bytep>(f.data()) + y * rowBytes;
    if (!decodeRows(reader, file.get(), header, rows.data())) return fail(reader.messages.error);
    *frame = std::move(f);
    return true;
}

bool writePngFrame(const std::string& path, const Frame& frame, std::string* error,
                   const PngWriteSettings& settings) {
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    if (frame.width <= 0 || frame.height <= 0 || frame.valueCount() < frame.pixelCount() * 4)
        return fail("no frame to write");
    if (std::string problem = writeTargetProblem(path); !problem.empty()) return fail(problem);
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) return fail(std::strerror(errno));
    PngWriter writer;
    if (!writer.info) return fail("out of memory");
    FrameBuffer<unsigned char> row(frame.isFloat && !frame.sixteen ? static_cast<std::size_t>(frame.width) * 8 : 0);
    bool ok = encodeRows(writer, file.get(), frame, settings, row.data());
    std::string why = ok ? "" : writer.messages.error;
    if (std::fclose(file.release()) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (!ok) {
        std::remove(path.c_str());
        return fail(why.empty() ? "cannot write the file" : why);
    }
    return true;
}

}  // namespace host
