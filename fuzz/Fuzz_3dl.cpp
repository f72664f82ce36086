// The .3dl reader on arbitrary bytes, with and without the preset.
#include "fuzz/LutTextFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzLutText(data, size, "fuzz.3dl", parse3dlText);
}
