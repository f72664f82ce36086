// A folder icon from the online service as the LUT Manager turns it into a
// tile (onlineIconTile). Properties:
//   - the result is exactly the folder tile, or a tile of previewWidth x
//     previewHeight x 4 bytes; a preview without pixels always gets the
//     folder tile;
//   - a tile comes only from an icon of at most kMaxIconSide a side (the
//     header's own size); fuzz/online_icon.options sets a malloc limit so that
//     decoding a huge icon, or image data that inflates far past its size, is
//     a find as well;
//   - the tile holds the icon centred and upside down, only its pixels of
//     alpha 129 or more, the rest clear: checked against a plain walk over the
//     tile's own pixels.
//
// Input: one byte that picks the preview size (bits 0-2 its width, bits 3-5
// its height), then the icon's bytes.
#include <lodepng.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "gallery/GalleryOnline.h"
#include "online/OnlineAPI.h"

namespace {

// Sides of previews: none, a few pixels, odd ones, and the gallery's own 512 x 288.
constexpr int kSides[] = {0, 1, 2, 3, 17, 64, 288, 512};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int previewWidth = kSides[data[0] & 7];
    const int previewHeight = kSides[(data[0] >> 3) & 7];
    const unsigned char* bytes = data + 1;
    const std::size_t byteSize = size - 1;
    MemoryStruct png(byteSize);
    if (!png.append(reinterpret_cast<const char*>(bytes), byteSize)) fuzz::fail("the icon fits its block");

    static const std::vector<unsigned char> folderTile = {'d', 'i', 'r'};  // no tile has this size
    const std::vector<unsigned char> tile = onlineIconTile(png, previewWidth, previewHeight, folderTile);
    if (tile == folderTile) return 0;
    fuzz::check(previewWidth > 0 && previewHeight > 0, "a preview without pixels gets the folder tile");
    const std::size_t tileWidth = std::size_t(previewWidth), tileHeight = std::size_t(previewHeight);
    fuzz::check(tile.size() == tileWidth * tileHeight * 4, "a tile is previewWidth x previewHeight x 4 bytes");

    unsigned iw = 0, ih = 0;
    lodepng::State state;
    fuzz::check(lodepng_inspect(&iw, &ih, &state, bytes, byteSize) == 0, "a tile comes from a PNG header");
    fuzz::check(iw > 0 && ih > 0 && iw <= kMaxIconSide && ih <= kMaxIconSide, "no icon above the bound is decoded");
    // The tile's decode succeeded, so the image data inflates within the bound; text chunks
    // are not read, as there.
    state = lodepng::State();
    state.info_raw.colortype = LCT_RGBA;
    state.info_raw.bitdepth = 8;
    state.decoder.read_text_chunks = 0;
    std::vector<unsigned char> icon;
    fuzz::check(lodepng::decode(icon, iw, ih, state, bytes, byteSize) == 0, "a tile comes from a PNG");

    // Where each tile pixel comes from, walking the tile: columns from the
    // centred left edge (or 0 when the icon is wider), rows from the bottom.
    const std::size_t left = iw < tileWidth ? (tileWidth - iw) / 2 : 0;
    const std::size_t bottom = ih < tileHeight ? (tileHeight - ih) / 2 : 0;
    for (std::size_t y = 0; y < tileHeight; ++y) {
        for (std::size_t x = 0; x < tileWidth; ++x) {
            unsigned char expected[4] = {0, 0, 0, 0};
            if (x >= left && x - left < iw && y >= bottom && y - bottom < ih) {
                const std::size_t column = x - left, row = ih - 1 - (y - bottom);
                const unsigned char* source = icon.data() + (row * iw + column) * 4;
                if (source[3] >= 129) std::memcpy(expected, source, 4);
            }
            if (std::memcmp(tile.data() + (y * tileWidth + x) * 4, expected, 4) != 0)
                fuzz::fail("the tile holds the icon centred, upside down, its opaque pixels only");
        }
    }
    return 0;
}
