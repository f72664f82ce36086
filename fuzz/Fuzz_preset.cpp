// The preset's Base64 decoding and the string helpers on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "lut/LutFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<char> bytes = decodeBase64(text);
    if (bytes.size() > text.size() / 4 * 3 + 2) __builtin_trap();
    // A preset line as it sits in a .cube file goes the whole way through the reader.
    std::string preset;
    parseCubeText("LUT_3D_SIZE 2\n#64BLOB\n#" + text + "\n", "p.cube", preset, false);
    (void)decodeBase64(preset);
    std::string s = text;
    removeCharsFromString(s, "\"#");
    (void)split(text, ' ');
    (void)ends_with(text, ".3dl");
    return 0;
}
