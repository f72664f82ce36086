// The way into the LUT Manager: the frame copy, the result callbacks, the
// gallery object and the preview every thumbnail is graded from.
#include <nanogui/common.h>

#include <algorithm>
#include <string>
#include <utility>

#include "desktop/boxer_osx.h"
#include "gallery/LutGallery.h"
#include "lut/LocalLutPath.h"
#include "lut/LutFile.h"
#include "online/OnlineAPI.h"

namespace {

const char* const kErrorTitle = "Error in Quillane Plug-in";

void errorBox(const std::string& message, const char* title = kErrorTitle) {
    showBox(message.c_str(), title, BoxStyle::Error, BoxButtons::OK);
}

}  // namespace

GalleryResultCallbacks galleryResultCallbacks(bool* isLocal, Lut* lut, std::string* name,
                                              std::vector<char>* preset) {
    GalleryResultCallbacks callbacks;
    const std::shared_ptr<std::string> refused = callbacks.refused;
    // Load first, replace after: a delivery that yields no LUT must leave the
    // user's LUT alone, or saveLut would store nothing over it.
    callbacks.file = [=](std::string path) {
        if (path.empty()) path = "NONE";
        std::vector<char> bytes;
        Lut loaded = readLutFile(path, &bytes);
        if (!loaded.isLoaded()) {
            *refused = unreadableLutText(path);
            errorBox(*refused + "\nThe current LUT is kept.");
            return;
        }
        *isLocal = true;
        *name = path;
        *lut = std::move(loaded);
        *preset = std::move(bytes);
    };
    callbacks.online = [=](Lut chosen, std::string displayName, std::vector<char> bytes) {
        if (displayName.empty()) displayName = "NONE";
        const int n = chosen.getDimSize();
        if (!chosen.isLoaded() || n < 1 || !chosen.getData()) {
            *refused = "Cannot download the LUT " + displayName + " from the online library: the service sent no LUT.";
            errorBox(*refused + "\nThe current LUT is kept.");
            return;
        }
        *isLocal = false;
        *preset = std::move(bytes);
        *lut = std::move(chosen);
        *name = std::move(displayName);
    };
    return callbacks;
}

std::string openGallery(void* pixels, int width, int height, int channels, int bytesPerPixel, bool* isLocal,
                        Lut* lut, std::string* name, std::vector<char>* preset) {
    if (!isLocal || !lut || !name || !preset) return "the LUT Manager has nowhere to deliver a LUT";
    if (!isUsableFrame(pixels, width, height, channels, bytesPerPixel, false)) {
        const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
        // The same words in the box and, for the caller, in one line.
        std::string why;
        if (pixels && width > 0 && height > 0 && !previewFits(width, height))
            why = "cannot show this frame (" + size + "): it is more than " + std::to_string(kMaxPreviewHeight / 512) +
                  " times as tall as it is wide.";
        else
            why = "cannot show this frame (" + size + ", " + std::to_string(channels) + " channels, " +
                  std::to_string(bytesPerPixel) + " bytes per pixel): it needs a frame of 8-bit A, R, G, B pixels.";
        errorBox("The LUT Manager " + why, "LUT Manager");
        return "the LUT Manager " + why;
    }
    std::vector<unsigned char> rgba = argbToRgba(static_cast<const unsigned char*>(pixels), width, height);
    GalleryResultCallbacks callbacks = galleryResultCallbacks(isLocal, lut, name, preset);
    const std::shared_ptr<std::string> refused = callbacks.refused;
    LutGallery gallery(std::move(callbacks.file), std::move(callbacks.online));
    gallery.updateImage(rgba.data(), width, height, channels, bytesPerPixel);
    std::vector<unsigned char>().swap(rgba);  // only the preview is needed from here on
    if (!gallery.start(*name)) return "the LUT Manager could not open its window";
    std::string why = !refused->empty() ? *refused : gallery.deliveryFailure;
    if (why.empty()) return {};
    std::replace(why.begin(), why.end(), '\n', ' ');  // the caller reports one line
    return "the LUT chosen in the LUT Manager was not taken: " + why;
}

LutGallery::LutGallery(std::function<void(std::string)> fileCallback_,
                       std::function<void(Lut, std::string, std::vector<char>)> lutCallback_)
    : api(std::make_unique<OnlineAPI>()), fileCallback(std::move(fileCallback_)),
      lutCallback(std::move(lutCallback_)), favoriteImage(favoriteOverlay(favoriteArtwork())) {}

LutGallery::~LutGallery() { destroyScreen(); }

bool LutGallery::updateImage(const void* pixels, int width, int height, int channels_, int bytesPerPixel_) {
    if (!isUsableFrame(pixels, width, height, channels_, bytesPerPixel_, true)) return false;
    const PreviewSize size = previewSizeFor(width, height);
    if (bytesPerPixel_ == 16) {
        previewFloat = samplePreview(static_cast<const float*>(pixels), width, height, size);
        preview.clear();
    } else {
        preview = samplePreview(static_cast<const unsigned char*>(pixels), width, height, size);
        previewFloat.clear();
    }
    previewWidth = size.width;
    previewHeight = size.height;
    channels = channels_;
    bytesPerPixel = bytesPerPixel_;
    folderTile = folderTileFor(folderArtwork(), size);
    return true;
}

void ensureToolkit() {
    static bool ready = false;
    if (ready) return;
    nanogui::init();
    ready = true;
}
