#pragma once
// How far a grade of 8-bit RGBA pixels is from the CPU applier's.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "lut/Lut.h"
#include "lut/MathClass.h"

namespace quillane::test {

// The largest difference, in 8-bit codes over R, G and B, between graded and
// the CPU applier's grade of source by lut, through the LUT's input range as
// the render always takes it; INT_MAX when the sizes differ.
// (Any vector of bytes: frames keep theirs in one that skips the zeroing.)
template <typename Bytes>
int worstCodeAgainstCpu(const Bytes& source, const Bytes& graded, const Lut& lut) {
    if (graded.size() != source.size()) return INT_MAX;
    std::vector<float> cpu(source.size());
    applyLutCPUTrilinear(source.data(), cpu.data(), lut.getData(), lut.getInputRange0(), lut.getInputRange1(), true,
                         lut.getDimSize(), static_cast<int>(source.size() / 4), 4);
    int worst = 0;
    for (std::size_t i = 0; i < cpu.size(); i += 4)
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(int(graded[i + c]) - int(std::lround(cpu[i + c] * 255))));
    return worst;
}

}  // namespace quillane::test
