// The .cube reader on arbitrary bytes, with and without the preset.
#include "fuzz/LutTextFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzLutText(data, size, "fuzz.cube", parseCubeText);
}
