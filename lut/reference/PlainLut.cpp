#include "lut/reference/PlainLut.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

#include "lut/LutFile.h"

namespace quillane::plain {

namespace {
bool onlyChars(const std::string& s, const std::string& allowed) {
    return s.find_first_not_of(allowed) == std::string::npos;
}
}  // namespace

Lut loadCube(std::string path, std::string& presetText, bool skipPreset) {
    removeCharsFromString(path, "\"");
    std::ifstream in(path);
    if (!in.is_open()) return Lut();

    int n = 0;
    float range0 = 0.0f, range1 = 1.0f;
    bool perChannel[2] = {false, false};
    bool marker = false;
    std::string text, line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (!onlyChars(line, " -.0123456789")) {
            std::vector<std::string> pieces = split(line, ' ');
            if (pieces.size() == 3 && line.rfind("LUT_3D_INPUT_RANGE", 0) == 0) {
                range0 = static_cast<float>(std::strtod(pieces[1].c_str(), nullptr));
                range1 = static_cast<float>(std::strtod(pieces[2].c_str(), nullptr));
                perChannel[0] = perChannel[1] = false;
            } else if (pieces.size() == 2 && line.rfind("LUT_3D_SIZE", 0) == 0) {
                try {
                    n = std::stoi(pieces[1]);
                } catch (...) {
                    return Lut();
                }
            } else if (isCubeOneDimensionalSize(line)) {
                return Lut();
            } else if (const int bound = cubeDomainBound(line); bound >= 0) {
                float rgb[3];
                if (!readCubeDomain(line, rgb)) return Lut();
                const auto same = [](float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); };
                perChannel[bound] = !same(rgb[0], rgb[1]) || !same(rgb[0], rgb[2]);
                (bound == 0 ? range0 : range1) = rgb[0];
            }
        }
        if (!marker) {
            if (line.rfind("#64BLOB", 0) == 0) {
                marker = true;
                if (skipPreset) break;
            }
        } else if (!line.empty()) {
            text += line[0] == '#' ? line.substr(1) : line;
        }
    }
    in.close();
    if (n > kMaxFileDimSize) return Lut();
    if (n >= 1 && (perChannel[0] || perChannel[1])) return Lut();
    if (n < 1) {
        if (!skipPreset) presetText = text;
        return Lut();
    }

    in.open(path);
    if (!in.is_open()) return Lut();
    const std::size_t total = static_cast<std::size_t>(n) * n * n;
    std::vector<float> nodes(4 * total, 0.0f);
    for (std::size_t k = 0; k < total; ++k) nodes[4 * k + 3] = 1.0f;
    std::size_t k = 0;
    while (k < total && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#' || !onlyChars(line, " -.0123456789e") ||
            std::count(line.begin(), line.end(), ' ') != 2)
            continue;
        float r = 0.0f, g = 0.0f, b = 0.0f;
        std::sscanf(line.c_str(), "%f %f %f", &r, &g, &b);
        nodes[4 * k + 0] = r;
        nodes[4 * k + 1] = g;
        nodes[4 * k + 2] = b;
        ++k;
    }
    if (k < total) return Lut();  // a short file is refused, its preset with it
    if (!skipPreset) presetText = text;
    return Lut(std::move(nodes), n, range0, range1, path);
}

namespace {
template <typename Read>
void applyPlain(Read read, float* dst, const float* lut, float rangeMin, float rangeMax, bool useRange,
                int dimSize, int pixels, int channels) {
    if (!dst || !lut || dimSize < 1 || pixels < 1 || (channels != 3 && channels != 4)) return;
    const int n = dimSize;
    for (int p = 0; p < pixels; ++p) {
        int lo[3], hi[3];
        float f[3];
        for (int c = 0; c < 3; ++c) {
            float x = read(std::size_t(p) * channels + c);
            if (useRange) x = (x - rangeMin) / (rangeMax - rangeMin);
            if (std::isnan(x)) x = 0.0f;
            lo[c] = static_cast<int>(std::floor(std::min(std::max(x, 0.0f), 1.0f) * static_cast<float>(n - 1)));
            hi[c] = lo[c] > n - 2 ? n - 1 : lo[c] + 1;
            // Above the range both corners are the top node; their weights
            // would only cancel, losing every digit once x is far above 1.
            f[c] = lo[c] == hi[c] ? 0.0f : static_cast<float>(static_cast<double>(x) * (n - 1) - lo[c]);
        }
        float* out = dst + std::size_t(p) * channels;
        for (int c = 0; c < 3; ++c) {
            float sum = 0.0f;
            for (int cb = 0; cb < 2; ++cb)
                for (int cg = 0; cg < 2; ++cg)
                    for (int cr = 0; cr < 2; ++cr) {
                        const float wr = cr ? f[0] : 1.0f - f[0];
                        const float wg = cg ? f[1] : 1.0f - f[1];
                        const float wb = cb ? f[2] : 1.0f - f[2];
                        const float w = wr * wg * wb;
                        const std::size_t at =
                            lutNodeOffset(n, cr ? hi[0] : lo[0], cg ? hi[1] : lo[1], cb ? hi[2] : lo[2]);
                        const float term = lut[at + c] * w;
                        sum += term;
                    }
            out[c] = sum;
        }
        if (channels == 4) out[3] = 1.0f;
    }
}
}  // namespace

void applyLut(const float* src, float* dst, const float* lut, float rangeMin, float rangeMax, bool useRange,
              int dimSize, int pixels, int channels) {
    if (!src) return;
    applyPlain([src](std::size_t k) { return src[k]; }, dst, lut, rangeMin, rangeMax, useRange, dimSize, pixels,
               channels);
}

void applyLut(const unsigned char* src, float* dst, const float* lut, float rangeMin, float rangeMax,
              bool useRange, int dimSize, int pixels, int channels) {
    if (!src) return;
    applyPlain([src](std::size_t k) { return src[k] / 255.0f; }, dst, lut, rangeMin, rangeMax, useRange, dimSize,
               pixels, channels);
}

}  // namespace quillane::plain
