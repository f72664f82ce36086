#pragma once
// The checks shared by the text-reader fuzzers: run the reader on the bytes
// with and without the preset, and read the last node of whatever it accepts
// (every node must be there), trapping on a size it should have refused.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lut/LutFile.h"

template <class Reader>
int fuzzLutText(const std::uint8_t* data, std::size_t size, const char* path, Reader read) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (bool skip : {false, true}) {
        std::string preset;
        Lut lut = read(text, path, preset, skip);
        if (!lut.isLoaded()) continue;
        if (lut.getDimSize() > kMaxFileDimSize || !lut.getData()) __builtin_trap();
        volatile float last = lut.getData()[4 * std::size_t(lut.totalSize()) - 1];
        (void)last;
    }
    return 0;
}
