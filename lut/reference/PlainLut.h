#pragma once
// The plain, line-by-line versions of the .cube reader and of the CPU
// appliers: a getline + strtof reader in two passes and a per-pixel loop that
// follows the algorithm step by step. They are the baseline of the benchmarks
// and the oracle of the tests; the library's own code must give the same bits.
#include <string>

#include "lut/Lut.h"

namespace quillane::plain {

Lut loadCube(std::string path, std::string& presetText, bool skipPreset);

void applyLut(const float* src, float* dst, const float* lut, float rangeMin, float rangeMax, bool useRange,
              int dimSize, int pixels, int channels);
void applyLut(const unsigned char* src, float* dst, const float* lut, float rangeMin, float rangeMax,
              bool useRange, int dimSize, int pixels, int channels);

}  // namespace quillane::plain
