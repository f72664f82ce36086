// The online service's binary LUT on arbitrary bytes, then graded through
// the CPU applier with pixels taken from the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lut/Lut.h"
#include "lut/MathClass.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The reader keeps no pointer into the buffer: an exact-size copy lets
    // ASan see any read past its end.
    std::vector<unsigned char> bytes(data, data + size);
    Lut lut(bytes.empty() ? nullptr : bytes.data(), static_cast<int>(bytes.size() > 0x7fffffff ? 0x7fffffff : bytes.size()));
    if (!lut.isLoaded() || lut.getDimSize() > 255) return 0;
    const int pixels = static_cast<int>(size / 4);
    std::vector<float> out(std::size_t(pixels) * 4);
    applyLutCPUTrilinear(bytes.data(), out.data(), lut.getData(), 0.0f, 1.0f, false,
                         static_cast<unsigned char>(lut.getDimSize()), pixels, 4);
    std::vector<float> src(std::size_t(pixels) * 4);
    for (std::size_t k = 0; k < src.size(); ++k) src[k] = (static_cast<int>(bytes[k]) - 64) / 100.0f;
    applyLutCPUTrilinear(src.data(), out.data(), lut.getData(), -0.5f, 1.5f, true,
                         static_cast<unsigned char>(lut.getDimSize()), pixels, 4);
    return 0;
}
