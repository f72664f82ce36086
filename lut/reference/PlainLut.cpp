#include "lut/reference/PlainLut.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <vector>

#include "lut/LutFile.h"

namespace quillane::plain {

namespace {
// The fields of a line: what lies between blanks and tabs, once the blanks,
// tabs and carriage returns at its end are taken off.
std::vector<std::string> fieldsOf(std::string line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.pop_back();
    std::vector<std::string> fields;
    std::size_t at = line.find_first_not_of(" \t");
    while (at != std::string::npos) {
        const std::size_t stop = line.find_first_of(" \t", at);
        fields.push_back(line.substr(at, stop == std::string::npos ? std::string::npos : stop - at));
        at = stop == std::string::npos ? stop : line.find_first_not_of(" \t", stop);
    }
    return fields;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A number as a LUT file writes it, read whole by strtof, and within float's
// range. strtof follows LC_NUMERIC: the tests run this reader in the "C" locale.
bool isNumber(const std::string& s, float* value) {
    if (s.empty() || s.find_first_not_of("+-.0123456789eE") != std::string::npos) return false;
    char* stop = nullptr;
    *value = std::strtof(s.c_str(), &stop);
    return stop == s.c_str() + s.size() && !std::isinf(*value);
}

// A bound of a range line: a decimal (no hexadecimal float) read whole by
// strtod, narrowed to float.
bool isBound(const std::string& s, float* value) {
    char* stop = nullptr;
    *value = static_cast<float>(std::strtod(s.c_str(), &stop));
    return !s.empty() && stop == s.c_str() + s.size() && s.find_first_of("xX") == std::string::npos;
}

// A line read with getline, without the UTF-8 byte-order mark an editor may
// write before the first line.
bool nextLine(std::istream& in, std::string& line, bool first) {
    if (!std::getline(in, line)) return false;
    if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    return true;
}

// Exactly three numbers.
bool isDataLine(const std::string& line, float rgb[3]) {
    const std::vector<std::string> fields = fieldsOf(line);
    return fields.size() == 3 && isNumber(fields[0], &rgb[0]) && isNumber(fields[1], &rgb[1]) &&
           isNumber(fields[2], &rgb[2]);
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
    for (bool first = true; nextLine(in, line, first); first = false) {
        if (line.empty()) continue;
        float rgb[3];
        if (!isDataLine(line, rgb)) {
            const std::vector<std::string> fields = fieldsOf(line);
            const std::string word = fields.empty() ? "" : upper(fields[0]);
            if (word == "LUT_3D_INPUT_RANGE") {
                if (fields.size() < 3 || !isBound(fields[1], &range0) || !isBound(fields[2], &range1)) return Lut();
                perChannel[0] = perChannel[1] = false;
            } else if (word == "LUT_3D_SIZE" && fields.size() == 2) {
                try {
                    n = std::stoi(fields[1]);
                } catch (...) {
                    return Lut();
                }
            } else if (word == "LUT_1D_SIZE" || word == "LUT_1D_INPUT_RANGE") {
                return Lut();
            } else if (word == "DOMAIN_MIN" || word == "DOMAIN_MAX") {
                if (fields.size() < 4) return Lut();
                for (int c = 0; c < 3; ++c)
                    if (!isBound(fields[c + 1], &rgb[c])) return Lut();
                const auto same = [](float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); };
                const int bound = word == "DOMAIN_MIN" ? 0 : 1;
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
    if (n >= 1 && !(std::isfinite(range0) && std::isfinite(range1) && range0 != range1)) return Lut();
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
    for (bool first = true; k < total && nextLine(in, line, first); first = false) {
        float rgb[3];
        if (!isDataLine(line, rgb)) continue;
        nodes[4 * k + 0] = rgb[0];
        nodes[4 * k + 1] = rgb[1];
        nodes[4 * k + 2] = rgb[2];
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
