#include "lut/Lut.h"

#include <algorithm>
#include <cstdint>

#include "lut/FileRead.h"
#include "lut/LutFile.h"

namespace {

// Keeps a node array consistent with its size, so no consumer can read past
// its end: dimSize < 1 owns no nodes; a short array gains nodes (0, 0, 0, 1),
// a long one loses its surplus.
void fitNodes(std::vector<float>& data, int dimSize) {
    if (dimSize < 1) {
        data.clear();
        return;
    }
    const std::size_t want = 4 * static_cast<std::size_t>(dimSize) * dimSize * dimSize;
    const std::size_t had = data.size() / 4 * 4;
    data.resize(want, 0.0f);
    for (std::size_t k = had + 3; k < want; k += 4) data[k] = 1.0f;
}

// Largest LUT file read: a 256-node .cube (the format's limit) of long
// data lines stays far below it.
constexpr std::size_t kMaxLutFileBytes = std::size_t(1) << 30;

// Whole-file read; false when the path is not a regular file that can be
// opened (a folder or a pipe named like a LUT must neither throw nor block) or
// when it is larger than any LUT file. A read error part way keeps what was
// read, as a line reader would stop there. When refusal is given, it says
// why the file was not read.
bool readWholeFile(const std::string& path, std::string& out, LutFileRefusal* refusal = nullptr) {
    const FileRead read = readRegularFile(path, kMaxLutFileBytes, &out);
    if (read.problem == FileReadProblem::None || read.problem == FileReadProblem::ReadFailed) return true;
    if (refusal) {
        refusal->why = LutRefusal::Unread;
        refusal->file = read;
    }
    return false;
}

}  // namespace

Lut::Lut() = default;

Lut::Lut(const unsigned char* bytes, int length) {
    if (!bytes || length <= 999) return;
    const std::uint32_t n = std::uint32_t(bytes[12]) | std::uint32_t(bytes[13]) << 8 |
                            std::uint32_t(bytes[14]) << 16 | std::uint32_t(bytes[15]) << 24;
    // Bound N before cubing it: no 64-bit product can overflow below this.
    if (n == 0 || n > static_cast<std::uint32_t>(kMaxDimSize)) return;
    const std::uint64_t nodes = std::uint64_t(n) * n * n;
    if (88 + 3 * nodes > static_cast<std::uint64_t>(length)) return;

    data.resize(4 * nodes);
    const unsigned char* p = bytes + 88;
    for (std::uint64_t k = 0; k < nodes; ++k, p += 3) {
        data[4 * k + 0] = p[0] / 255.0f;
        data[4 * k + 1] = p[1] / 255.0f;
        data[4 * k + 2] = p[2] / 255.0f;
        data[4 * k + 3] = 1.0f;
    }
    dimSize = static_cast<int>(n);
    loaded = true;
}

Lut::Lut(std::vector<float> data_, int dimSize_, float inputRange0_, float inputRange1_)
    : Lut(std::move(data_), dimSize_, inputRange0_, inputRange1_, std::string()) {}

Lut::Lut(std::vector<float> data_, int dimSize_, float inputRange0_, float inputRange1_, std::string filePath_)
    : loaded(dimSize_ > 0),
      data(std::move(data_)),
      inputRange0(inputRange0_),
      inputRange1(inputRange1_),
      dimSize(dimSize_),
      filePath(std::move(filePath_)) {
    if (dimSize > kMaxDimSize) {  // 4*N^3 would not fit the int sizes used downstream
        loaded = false;
        dimSize = 0;
    }
    fitNodes(data, dimSize);
}

ColorLut Lut::getIndexedColor(int i, int j, int k) const {
    if (i < 0 || j < 0 || k < 0 || i >= dimSize || j >= dimSize || k >= dimSize) return ColorLut();
    const float* node = data.data() + getIndex(i, j, k);
    return ColorLut(node[0], node[1], node[2]);
}

void Lut::setIndexedColor(int i, int j, int k, ColorLut c) {
    setIndexedValues(i, j, k, c.r, c.g, c.b);
}

void Lut::setIndexedValues(int i, int j, int k, float r, float g, float b) {
    if (i < 0 || j < 0 || k < 0 || i >= dimSize || j >= dimSize || k >= dimSize) return;
    float* node = data.data() + getIndex(i, j, k);
    node[0] = r;
    node[1] = g;
    node[2] = b;
}

Lut Lut::loadFromFile(std::string path, std::string& presetText, bool skipPreset, int type) const {
    if (type == 0) return loadFromFileCUBE(std::move(path), presetText, skipPreset);
    if (type == 1) return loadFromFile3DLC(std::move(path), presetText, skipPreset);
    return Lut();
}

Lut Lut::loadFromFileCUBE(std::string path, std::string& presetText, bool skipPreset) const {
    removeCharsFromString(path, "\"");
    std::string text;
    if (!readWholeFile(path, text)) return Lut();
    return parseCubeText(text, path, presetText, skipPreset);
}

Lut Lut::loadFromFile3DLC(std::string path, std::string& presetText, bool skipPreset) const {
    removeCharsFromString(path, "\"");
    std::string text;
    if (!readWholeFile(path, text)) return Lut();
    return parse3dlText(text, path, presetText, skipPreset);
}

LutFileRefusal lutFileRefusal(std::string path) {
    removeCharsFromString(path, "\"");
    LutFileRefusal refusal;
    std::string text, preset;
    if (!readWholeFile(path, text, &refusal)) return refusal;
    // The type rule of lutFromFile.
    if (ends_with(path, ".3dl"))
        parse3dlText(text, path, preset, false, &refusal);
    else
        parseCubeText(text, path, preset, false, &refusal);
    return refusal;
}
