#pragma once
// The LUT Manager's rules that need no window: where a name lives, the
// preview's size and sampling, the two pictures, the local folder's order,
// captions and the pick rule. Tests call them directly.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "gallery/GalleryItem.h"

// ---- locations ----------------------------------------------------------------

// folder, file, separator. The separator is "/" when the path holds one,
// else "\"; without any separator: "", the whole path, "/". As a folder a
// trailing separator is dropped and the file part is empty.
std::vector<std::string> getCurrentFolderAndFilePaths(std::string path, bool isFolder);

// std::stoi in base 10 (leading blanks and a sign accepted); true only when
// the whole text was read. A value outside the int range is false as well.
bool try_stoi(const std::string& text, int& out);

// The text after the last separator character (all of it without one).
std::string afterLastSeparator(const std::string& path, char separator);

// Up one level from folder: the parent and the folder to highlight there.
// Local without a separator: nothing changes (nullopt). Online without one:
// the root, highlighting the folder.
struct UpTarget {
    std::string folder;
    std::string highlight;
};
std::optional<UpTarget> upOneLevel(const std::string& folder, const std::string& separator, bool isOnline);

// An online result's display name: folder + separator + name, or the name
// alone at the root.
std::string onlineDisplayName(const std::string& folder, const std::string& separator, const std::string& name);

// The online selection "name:id": the name before the last ':' and the id
// after it, which must be a whole decimal number. Only for strings known to
// name an online LUT: a link's item string ends in its URL, whose port would
// read as an id (the window goes by its items' own kinds and ids instead).
struct OnlineSelection {
    std::string name;
    int id = 0;
};
std::optional<OnlineSelection> parseOnlineSelection(const std::string& selection);

// ---- the frame and the preview ------------------------------------------------------

// The tallest preview the LUT Manager makes. The preview is always 512 pixels
// wide, so its height grows with the frame's height over its width: a strip of
// 1 x 16384 pixels would want a preview of 512 x 8388608, whose buffers pass
// 17 GB and whose pixel count no int holds, and no GPU takes such a texture.
// 4096 rows still take frames eight times as tall as they are wide.
constexpr int kMaxPreviewHeight = 4096;
// Whether the preview of a frame of this positive size stays within kMaxPreviewHeight.
bool previewFits(int width, int height);

// A frame the LUT Manager can take: pixels, a positive size whose preview
// fits, and 4 channels of 1 byte (bytesPerPixel 4) or, for updateImage, of
// 4-byte floats (16).
bool isUsableFrame(const void* pixels, int width, int height, int channels, int bytesPerPixel, bool allowFloat);

struct PreviewSize {
    int width = 0;
    int height = 0;
};
// 512 / width in single precision, both sides truncated; the height is at
// least 1 (a very wide strip still gets a preview row).
PreviewSize previewSizeFor(int width, int height);

// The frame pixel a preview pixel is taken from.
struct SourcePixel {
    std::size_t x = 0;
    std::size_t y = 0;
};
SourcePixel previewSource(int x, int y, PreviewSize preview, int width, int height);

// A frame copy of width x height pixels A, R, G, B as R, G, B, A.
std::vector<unsigned char> argbToRgba(const unsigned char* pixels, int width, int height);

// The preview of an R, G, B, A frame (bytes or floats); alpha becomes opaque.
std::vector<unsigned char> samplePreview(const unsigned char* rgba, int width, int height, PreviewSize preview);
std::vector<float> samplePreview(const float* rgba, int width, int height, PreviewSize preview);

// ---- pictures ------------------------------------------------------------------

constexpr int kFavoriteSide = 256;
constexpr int kFolderSide = 100;
// The artwork, R, G, B, A rows from row 0: a star (white edge, violet
// R 95 G 79 B 224 fill) and a grey folder, both on a transparent field.
const std::vector<unsigned char>& favoriteArtwork();
const std::vector<unsigned char>& folderArtwork();

// The overlay texture: the star's pixels of alpha 129 or more, flipped
// upside down, each pixel's bytes as A, R, G, B.
std::vector<unsigned char> favoriteOverlay(const std::vector<unsigned char>& star);
// The folder icon's pixels of alpha 129 or more centred on a transparent
// tile of the preview's size (cut to the tile when that is smaller).
std::vector<unsigned char> folderTileFor(const std::vector<unsigned char>& folder, PreviewSize preview);

// ---- listing -------------------------------------------------------------------

struct DirectoryEntry {
    std::string name;
    bool isDirectory = false;  // as the listing reports it; a link is no folder
};
// The items of a local folder from its entries in directory order: hidden
// names left out, sub-folders first in reverse order, then the LUT files
// (names holding ".cube" or ".3dl") in directory order. A file whose name
// ends in neither is read as .cube; a folder named like a LUT is a folder.
std::vector<GalleryItem> localItems(const std::vector<DirectoryEntry>& entries, const std::string& folder,
                                    const std::string& separator);

// The caption under an item's thumbnail.
std::string itemCaption(const GalleryItem& item, bool isOnline, const std::string& separator);

// Which items are shown picked: every item (not an icon link) whose caption
// is lastName, and a folder whose name is highlightName; after a folder
// picked that way no later item is.
std::vector<bool> pickedItems(const std::vector<GalleryItem>& items, bool isOnline, const std::string& separator,
                              const std::string& lastName, const std::string& highlightName);

// The progress after entry i of n: the percentage shown (never 100) and the
// label's text.
float progressPercent(int entry, int count);
std::string progressLabel(int entry, int count);
