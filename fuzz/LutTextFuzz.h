#pragma once
// The checks shared by the text-reader fuzzers: run the reader on the bytes
// with and without the preset, and read the last node of whatever it accepts
// (every node must be there), trapping on a size or range it should have
// refused, and on a reason that does not match the result.
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
        LutFileRefusal refusal;
        Lut lut = read(text, path, preset, skip, &refusal);
        if (lut.isLoaded() != (refusal.why == LutRefusal::None)) __builtin_trap();
        if (refusal.why == LutRefusal::ShortOfDataLines &&
            (refusal.dimSize < 1 || refusal.dataLines >= refusal.dimSize * refusal.dimSize * refusal.dimSize))
            __builtin_trap();
        if (!lut.isLoaded()) continue;
        if (lut.getDimSize() > kMaxFileDimSize || !lut.getData()) __builtin_trap();
        if (!usableInputRange(lut.getInputRange0(), lut.getInputRange1())) __builtin_trap();
        volatile float last = lut.getData()[4 * std::size_t(lut.totalSize()) - 1];
        (void)last;
    }
    return 0;
}
