// Frame files: headers judged before decoding (crafted headers of huge frames,
// every truncated header), round trips of every kind of frame, and agreement
// with a second PNG reader and writer in both directions.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "HostTestEnv.h"
#include "PngBombs.h"
#include "TempDir.h"

using namespace quillane::test;

namespace {

// The signature and IHDR chunk of a PNG declaring w x h pixels, then an empty
// IDAT chunk: 45 bytes, no pixel data at all.
std::string craftedHeader(std::uint32_t w, std::uint32_t h, int depth) {
    auto be = [](std::uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    std::string png = "\x89PNG\r\n\x1a\n";
    png += be(13) + "IHDR" + be(w) + be(h) + char(depth) + char(6) + std::string(3, '\0') + be(0);
    png += be(0) + "IDAT" + be(0);
    return png;
}

TEST(FrameFile, EveryTruncatedHeaderIsRefusedAndTheWholeOneRead) {
    TempDir dir;
    const std::string path = dir.file("f.png");
    ASSERT_TRUE(host::writePngFrame(path, patternFrame(3, 2, false, false), nullptr));
    const std::string bytes = readFile(path);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t length = 0; length < 33; ++length) {
        host::PngHeader header;
        std::string reason;
        EXPECT_FALSE(host::parsePngHeader(data, length, &header, &reason)) << length;
        EXPECT_FALSE(reason.empty()) << length;
    }
    host::PngHeader header;
    ASSERT_TRUE(host::parsePngHeader(data, 33, &header, nullptr));
    EXPECT_EQ(header.width, 3u);
    EXPECT_EQ(header.height, 2u);
    EXPECT_EQ(header.bitDepth, 8);
    EXPECT_EQ(header.colorType, 6);
    std::string other = bytes;
    other[12] = 'X';  // not IHDR first
    EXPECT_FALSE(host::parsePngHeader(reinterpret_cast<const unsigned char*>(other.data()), 33, &header, nullptr));
}

TEST(FrameFile, HeadersBeyondTheLimitsAreRefusedBeforeDecoding) {
    struct Case {
        std::uint32_t w, h;
        int depth;
        std::uint32_t maxSide;
        const char* refusal;  // empty: taken
    } cases[] = {
        {4294901762u, 2, 8, 0, "4294901762x2 pixels is larger than the host takes"},
        {4294901762u, 2, 8, 16384, "larger than the GPU's textures (16384"},
        {8000, 8000, 16, 0, "8000x8000 pixels is larger than the host takes (33177600"},
        {7680, 4320, 16, 0, ""},
        {33177601, 1, 8, 0, "larger than the host takes"},
        {16385, 2, 8, 16384, "larger than the GPU's textures"},
        {0, 5, 8, 0, "empty"},
        {3, 3, 12, 0, "12-bit samples"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        host::PngHeader header;
        header.width = c.w, header.height = c.h, header.bitDepth = c.depth, header.colorType = 6;
        host::FrameLimits limits;
        limits.maxSide = c.maxSide;
        const std::string refusal = host::checkFrameHeader(header, limits);
        const std::string label = std::to_string(c.w) + "x" + std::to_string(c.h);
        if (*c.refusal == '\0') {
            EXPECT_EQ(refusal, "") << label;
            continue;
        }
        EXPECT_NE(refusal.find(c.refusal), std::string::npos) << label << ": " << refusal;
        // The file holds no pixels: a decoder that ran would fail otherwise, or
        // take gigabytes first. The refusal names the size.
        const std::string path = dir.file("crafted.png");
        std::ofstream(path, std::ios::binary) << craftedHeader(c.w, c.h, c.depth);
        host::Frame frame;
        std::string error;
        EXPECT_FALSE(host::readPngFrame(path, &frame, &error, limits)) << label;
        EXPECT_EQ(error, path + ": " + refusal) << label;
        EXPECT_EQ(frame.valueCount(), 0u);
    }
}

TEST(FrameFile, ChunksBesideThePixelsTakeNoMemory) {
    // Forty text chunks of 46 KB that inflate to 7 MB each (libpng keeps each such text up
    // to its 8 MB limit, and up to a thousand of them); plain and international text chunks
    // of 6 MB each, 144 MB of them, which libpng would keep as they are; one chunk header
    // that claims 2 GB in a file of 60 bytes. A frame uses no such chunk: the text files
    // read as written, the last is refused, and none costs memory.
    const host::Frame frame = patternFrame(3, 2, false, false);
    TempDir dir;
    const std::string path = dir.file("f.png");
    ASSERT_TRUE(host::writePngFrame(path, frame, nullptr));
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> plain((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<unsigned char> text = {'k', 0, 0};
    const std::vector<unsigned char> bomb = zlibBomb(std::size_t(7) << 20);
    text.insert(text.end(), bomb.begin(), bomb.end());
    auto keyed = [](std::vector<unsigned char> head) {  // keyword and fields, then 6 MB of letters
        head.resize(head.size() + (std::size_t(6) << 20), 'a');
        return head;
    };
    struct Case {
        const char* label;
        std::vector<unsigned char> chunk;  // inserted after the header chunk
        int count;                         // this many times
        bool whole;                        // the rest of the file follows
    } cases[] = {
        {"compressed text chunks", pngChunk("zTXt", text), 40, true},
        {"plain text chunks", pngChunk("tEXt", keyed({'k', 0})), 24, true},
        {"international text chunks", pngChunk("iTXt", keyed({'k', 0, 0, 0, 0, 0})), 24, true},
        {"a chunk of 2 GB", pngChunk("iCCP", {'p', 0, 0}, 0x7fffffff), 1, false},
    };
    for (const Case& c : cases) {
        {
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(plain.data()), 33);
            for (int i = 0; i < c.count; ++i)
                out.write(reinterpret_cast<const char*>(c.chunk.data()), static_cast<std::streamsize>(c.chunk.size()));
            if (c.whole) out.write(reinterpret_cast<const char*>(plain.data()) + 33, plain.size() - 33);
        }
        host::Frame back;
        std::string error;
        const std::size_t before = peakResidentBytes(true);
        const bool read = host::readPngFrame(path, &back, &error);
        const std::size_t peak = peakResidentBytes(false);
        EXPECT_EQ(read, c.whole) << c.label << ": " << error;
        if (read) {
            EXPECT_EQ(fileSamples(back), fileSamples(frame)) << c.label;
        }
        EXPECT_LT(peak - before, std::size_t(64) << 20) << c.label;
    }
}

TEST(FrameFile, EveryKindRoundTripsAndASecondReaderAgrees) {
    struct Case {
        int w, h;
        bool isFloat, sixteen;
    } cases[] = {{1, 1, false, false}, {37, 5, false, false}, {1, 1, true, true},
                 {37, 5, true, true},  {5, 37, true, false},  {64, 2, true, true}};
    TempDir dir;
    for (const Case& c : cases) {
        const host::Frame frame = patternFrame(c.w, c.h, c.isFloat, c.sixteen);
        const std::string path = dir.file("round.png");
        std::string error;
        ASSERT_TRUE(host::writePngFrame(path, frame, &error)) << error;
        host::Frame back;
        ASSERT_TRUE(host::readPngFrame(path, &back, &error)) << error;
        const std::string label = std::to_string(c.w) + "x" + std::to_string(c.h) + (c.isFloat ? " float" : " 8-bit");
        EXPECT_EQ(back.width, c.w);
        EXPECT_EQ(back.height, c.h);
        EXPECT_EQ(back.isFloat, c.isFloat) << label;
        EXPECT_EQ(back.sixteen, c.isFloat) << label;  // 16-bit files come back as words
        EXPECT_EQ(fileSamples(back), fileSamples(frame)) << label;
        const PngSamples python = decodeWithPython(path);
        EXPECT_EQ(python.depth, c.isFloat ? 16 : 8) << label;
        EXPECT_EQ(python.channels, 4) << label;
        EXPECT_EQ(python.values, fileSamples(frame)) << label;
    }
}

TEST(FrameFile, FilesOfTheSecondWriterReadInTheirByteOrderAndColourType) {
    struct Case {
        int depth, channels;
        std::vector<unsigned> samples;  // 2 x 1 pixels
        std::vector<unsigned> rgba;     // what the host reads, in file units
    } cases[] = {
        {16, 4, {0x1234, 0x00ff, 0xfffe, 0xffff, 0x0001, 0x0100, 0xabcd, 0x8000},
         {0x1234, 0x00ff, 0xfffe, 0xffff, 0x0001, 0x0100, 0xabcd, 0x8000}},
        {16, 3, {0x0102, 0x0304, 0x0506, 0xf0e0, 0xd0c0, 0xb0a0},
         {0x0102, 0x0304, 0x0506, 0xffff, 0xf0e0, 0xd0c0, 0xb0a0, 0xffff}},
        {16, 1, {0x00ff, 0xff00}, {0x00ff, 0x00ff, 0x00ff, 0xffff, 0xff00, 0xff00, 0xff00, 0xffff}},
        {8, 3, {1, 2, 3, 250, 251, 252}, {1, 2, 3, 255, 250, 251, 252, 255}},
        {8, 2, {7, 100, 200, 0}, {7, 7, 7, 100, 200, 200, 200, 0}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.file("python.png");
        encodeWithPython(path, {2, 1, c.depth, c.channels, c.samples});
        host::Frame frame;
        std::string error;
        ASSERT_TRUE(host::readPngFrame(path, &frame, &error)) << error;
        EXPECT_EQ(fileSamples(frame), c.rgba) << c.depth << "-bit, " << c.channels << " channels";
    }
}

TEST(FrameFile, AFileThatCannotBeWrittenIsNotLeftBehind) {
    TempDir dir;
    const host::Frame frame = patternFrame(4, 4, false, false);
    std::string error;
    EXPECT_FALSE(host::writePngFrame(dir.file("missing/folder/out.png"), frame, &error));
    EXPECT_NE(error.find("out.png"), std::string::npos);
    EXPECT_FALSE(host::writePngFrame(dir.path().string(), frame, &error));  // a folder
    host::Frame empty;
    EXPECT_FALSE(host::writePngFrame(dir.file("empty.png"), empty, &error));
    EXPECT_FALSE(std::filesystem::exists(dir.file("empty.png")));
}

// A write cut short by the file-size limit (as by a full disk) fails and
// leaves no file: not before the header, not inside it, not part way through
// the pixels, of either depth.
TEST(FrameFile, AWriteCutShortLeavesNoFile) {
    TempDir dir;
    struct Case {
        rlim_t limitBytes;
        bool sixteen;
    } cases[] = {{0, false}, {20, false}, {100, false}, {9000, false}, {9000, true}, {30000, true}};
    for (const Case& c : cases) {
        const std::string path = dir.file("cut.png");
        const host::Frame frame = patternFrame(64, 64, c.sixteen, c.sixteen);  // 16 or 32 KB of pixels
        const int status = inChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.limitBytes, c.limitBytes};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
            std::string error;
            if (host::writePngFrame(path, frame, &error)) return 3;
            return error.find("cut.png") != std::string::npos ? 0 : 4;
        });
        EXPECT_EQ(status, 0) << c.limitBytes;
        EXPECT_FALSE(std::filesystem::exists(path)) << c.limitBytes;
    }
}

}  // namespace
