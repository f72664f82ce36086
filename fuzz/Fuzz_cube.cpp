// The .cube reader on arbitrary bytes, with and without the preset.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lut/LutFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (bool skip : {false, true}) {
        std::string preset;
        Lut lut = parseCubeText(text, "fuzz.cube", preset, skip);
        if (lut.isLoaded() && (lut.getDimSize() > kMaxFileDimSize || !lut.getData())) __builtin_trap();
        if (lut.isLoaded()) {
            // Every node must be there to be read.
            volatile float last = lut.getData()[4 * std::size_t(lut.totalSize()) - 1];
            (void)last;
        }
    }
    return 0;
}
