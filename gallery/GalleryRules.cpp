#include "gallery/GalleryRules.h"

#include <algorithm>
#include <stdexcept>

#include "gallery/GalleryOnline.h"
#include "lut/LutFile.h"

std::vector<std::string> getCurrentFolderAndFilePaths(std::string path, bool isFolder) {
    const std::string separator = path.find('/') != std::string::npos ? "/" : "\\";
    const std::size_t last = path.rfind(separator);
    if (last == std::string::npos) return {"", path, "/"};
    if (isFolder) {
        if (last + 1 == path.size()) path.erase(last);
        return {path, "", separator};
    }
    return {path.substr(0, last), path.substr(last + 1), separator};
}

bool try_stoi(const std::string& text, int& out) {
    std::size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used, 10);
    } catch (const std::invalid_argument&) {
        return false;
    } catch (const std::out_of_range&) {
        // An id too large for an int names no LUT; nothing to deliver.
        return false;
    }
    out = value;
    return used == text.size();
}

std::string afterLastSeparator(const std::string& path, char separator) {
    const std::size_t last = path.rfind(separator);
    return last == std::string::npos ? path : path.substr(last + 1);
}

std::optional<UpTarget> upOneLevel(const std::string& folder, const std::string& separator, bool isOnline) {
    const std::size_t last = separator.empty() ? std::string::npos : folder.rfind(separator[0]);
    if (last != std::string::npos) return UpTarget{folder.substr(0, last), folder.substr(last + 1)};
    if (isOnline) return UpTarget{"", folder};
    return std::nullopt;
}

std::string onlineDisplayName(const std::string& folder, const std::string& separator, const std::string& name) {
    return folder.empty() ? name : folder + separator + name;
}

std::optional<OnlineSelection> parseOnlineSelection(const std::string& selection) {
    const std::size_t colon = selection.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    OnlineSelection result;
    result.name = selection.substr(0, colon);
    if (!try_stoi(selection.substr(colon + 1), result.id)) return std::nullopt;
    return result;
}

bool previewFits(int width, int height) {
    // The height as previewSizeFor computes it, compared before it is made an int.
    return static_cast<float>(height) * (512.0f / static_cast<float>(width)) <
           static_cast<float>(kMaxPreviewHeight + 1);
}

bool isUsableFrame(const void* pixels, int width, int height, int channels, int bytesPerPixel, bool allowFloat) {
    if (!pixels || width < 1 || height < 1 || channels != 4 || !previewFits(width, height)) return false;
    return bytesPerPixel == 4 || (allowFloat && bytesPerPixel == 16);
}

PreviewSize previewSizeFor(int width, int height) {
    PreviewSize size;
    if (width < 1 || height < 1) return size;
    const float scale = 512.0f / static_cast<float>(width);
    size.width = static_cast<int>(static_cast<float>(width) * scale);
    size.height = std::max(1, static_cast<int>(static_cast<float>(height) * scale));
    return size;
}

SourcePixel previewSource(int x, int y, PreviewSize preview, int width, int height) {
    SourcePixel source;
    source.x = (std::size_t(width - 1) * std::size_t(x)) / std::size_t(preview.width);
    source.y = (std::size_t(height - 1) * std::size_t(y)) / std::size_t(preview.height);
    return source;
}

std::vector<unsigned char> argbToRgba(const unsigned char* pixels, int width, int height) {
    const std::size_t count = std::size_t(width) * std::size_t(height);
    std::vector<unsigned char> rgba(count * 4);
    for (std::size_t p = 0; p < count; ++p) {
        const unsigned char* s = pixels + p * 4;
        unsigned char* d = &rgba[p * 4];
        d[0] = s[1], d[1] = s[2], d[2] = s[3], d[3] = s[0];
    }
    return rgba;
}

namespace {

template <typename T>
std::vector<T> sample(const T* rgba, int width, int height, PreviewSize preview, T opaque) {
    std::vector<T> out(std::size_t(preview.width) * std::size_t(preview.height) * 4);
    for (int y = 0; y < preview.height; ++y) {
        for (int x = 0; x < preview.width; ++x) {
            const SourcePixel s = previewSource(x, y, preview, width, height);
            const T* from = rgba + (s.y * std::size_t(width) + s.x) * 4;
            T* to = &out[(std::size_t(y) * std::size_t(preview.width) + std::size_t(x)) * 4];
            to[0] = from[0], to[1] = from[1], to[2] = from[2], to[3] = opaque;
        }
    }
    return out;
}

}  // namespace

std::vector<unsigned char> samplePreview(const unsigned char* rgba, int width, int height, PreviewSize preview) {
    return sample<unsigned char>(rgba, width, height, preview, 255);
}

std::vector<float> samplePreview(const float* rgba, int width, int height, PreviewSize preview) {
    return sample<float>(rgba, width, height, preview, 1.0f);
}

std::vector<unsigned char> favoriteOverlay(const std::vector<unsigned char>& star) {
    std::vector<unsigned char> out(std::size_t(kFavoriteSide) * kFavoriteSide * 4, 0);
    if (star.size() < out.size()) return out;
    for (int y = 0; y < kFavoriteSide; ++y) {
        for (int x = 0; x < kFavoriteSide; ++x) {
            const unsigned char* s = &star[(std::size_t(y) * kFavoriteSide + x) * 4];
            if (s[3] < 129) continue;
            unsigned char* d = &out[(std::size_t(kFavoriteSide - 1 - y) * kFavoriteSide + x) * 4];
            d[0] = s[3], d[1] = s[0], d[2] = s[1], d[3] = s[2];
        }
    }
    return out;
}

std::vector<unsigned char> folderTileFor(const std::vector<unsigned char>& folder, PreviewSize preview) {
    std::vector<unsigned char> tile(std::size_t(preview.width) * std::size_t(preview.height) * 4, 0);
    if (folder.size() < std::size_t(kFolderSide) * kFolderSide * 4) return tile;
    const int columns = std::min(kFolderSide, preview.width), rows = std::min(kFolderSide, preview.height);
    const int x0 = std::max(0, (preview.width - kFolderSide) / 2), y0 = std::max(0, (preview.height - kFolderSide) / 2);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const unsigned char* s = &folder[(std::size_t(r) * kFolderSide + c) * 4];
            if (s[3] < 129) continue;
            std::copy(s, s + 4, &tile[(std::size_t(y0 + r) * std::size_t(preview.width) + std::size_t(x0 + c)) * 4]);
        }
    }
    return tile;
}

std::vector<GalleryItem> localItems(const std::vector<DirectoryEntry>& entries, const std::string& folder,
                                    const std::string& separator) {
    std::vector<std::string> folders, files;
    for (const DirectoryEntry& entry : entries) {
        if (entry.name.empty() || entry.name[0] == '.') continue;
        if (entry.isDirectory)
            folders.push_back(entry.name);
        else if (holdsLutFileName(entry.name))
            files.push_back(entry.name);
    }
    std::vector<GalleryItem> items;
    auto add = [&](const std::string& name, LutItemKind kind) {
        GalleryItem item;
        item.kind = kind;
        item.itemString = folder + separator + name;
        items.push_back(std::move(item));
    };
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) add(*it, Folder);
    for (const std::string& name : files) add(name, ends_with(name, ".3dl") ? OtherLut : CubeLut);
    return items;
}

namespace {

std::string onlineNamePart(const GalleryItem& item) {
    const std::size_t colon = item.itemString.find(':');
    if (colon == std::string::npos) return "";
    return afterLastSeparator(item.itemString.substr(colon + 1), '/');
}

}  // namespace

std::string itemCaption(const GalleryItem& item, bool isOnline, const std::string& separator) {
    if (isOnline) return onlineCaption(item);
    return afterLastSeparator(item.itemString, separator.empty() ? '/' : separator[0]);
}

std::vector<bool> pickedItems(const std::vector<GalleryItem>& items, bool isOnline, const std::string& separator,
                              const std::string& lastName, const std::string& highlightName) {
    std::vector<bool> picked(items.size(), false);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const GalleryItem& item = items[i];
        if (item.kind == IconLink) continue;
        const std::string caption = itemCaption(item, isOnline, separator);
        const std::string namePart = isOnline ? onlineNamePart(item) : caption;
        if (item.kind == Folder && !highlightName.empty() && namePart == highlightName) {
            picked[i] = true;
            break;  // the folder the user came from: nothing after it
        }
        if (caption == lastName) picked[i] = true;
    }
    return picked;
}

float progressPercent(int entry, int count) {
    return static_cast<float>(entry) / (static_cast<float>(count) / 100.0f);
}

std::string progressLabel(int entry, int count) {
    return "Loading (" + std::to_string(static_cast<int>(progressPercent(entry, count))) + "%)";
}
