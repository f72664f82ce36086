#pragma once
// Frames made by the tests and the second PNG reader and writer.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessTools.h"
#include "host/FrameFile.h"

namespace quillane::test {

// What the Python tool reads from or writes to a PNG file.
struct PngSamples {
    int width = 0, height = 0, depth = 0, channels = 0;
    std::vector<unsigned> values;  // row after row
};

inline PngSamples decodeWithPython(const std::string& path) {
    const ProcessResult run = runProcess("python3 '" QUILLANE_PNG_TOOL "' decode '" + path + "' 2>&1");
    PngSamples s;
    std::istringstream text(run.out);
    text >> s.width >> s.height >> s.depth >> s.channels;
    for (unsigned v; text >> v;) s.values.push_back(v);
    EXPECT_EQ(run.status, 0) << run.out;
    return s;
}

inline void encodeWithPython(const std::string& path, const PngSamples& s) {
    std::ostringstream text;
    text << s.width << ' ' << s.height << ' ' << s.depth << ' ' << s.channels << '\n';
    const std::size_t row = static_cast<std::size_t>(s.width) * s.channels;
    for (std::size_t i = 0; i < s.values.size(); ++i) text << s.values[i] << ((i + 1) % row ? ' ' : '\n');
    const std::string input = path + ".txt";
    std::ofstream(input) << text.str();
    const ProcessResult run = runProcess("python3 '" QUILLANE_PNG_TOOL "' encode '" + path + "' < '" + input + "' 2>&1");
    ASSERT_EQ(run.status, 0) << run.out;
}

// RGBA samples of every kind of frame, in file units (bytes, or 16-bit words).
inline std::vector<unsigned> fileSamples(const host::Frame& f) {
    std::vector<unsigned> out;
    if (!f.isFloat) out.assign(f.bytes.begin(), f.bytes.end());
    if (f.sixteen) out.assign(f.words.begin(), f.words.end());
    if (f.isFloat && !f.sixteen)
        for (float v : f.floats) out.push_back(static_cast<unsigned>(std::fmin(std::fmax(v, 0.0f), 1.0f) * 65535.0f + 0.5f));
    return out;
}

// A frame of the kind whose samples run through awkward values: both bytes of
// every 16-bit word differ, so a swapped byte order shows.
inline host::Frame patternFrame(int w, int h, bool isFloat, bool sixteen) {
    host::Frame f;
    f.width = w, f.height = h, f.isFloat = isFloat, f.sixteen = sixteen;
    f.allocate();
    for (std::size_t i = 0; i < f.pixelCount() * 4; ++i) {
        const unsigned word = static_cast<unsigned>((i * 7919u + 0x1234u) % 65536u);
        if (!isFloat) f.bytes[i] = static_cast<unsigned char>(word >> 3);
        if (sixteen) f.words[i] = static_cast<std::uint16_t>(word);
        if (isFloat && !sixteen) f.floats[i] = word / 65535.0f;
    }
    return f;
}

}  // namespace quillane::test
