#include "gallery/demo/GalleryShot.h"

#include <lodepng.h>

#include "gallery/GalleryRules.h"
#include "gallery/LutGallery.h"
#include "gallery/toolkit/ScreenCapture.h"
#include "gallery/toolkit/Toolkit.h"

namespace gallery_samples {

bool writeGalleryScreenshot(const std::string& lastPath, const std::vector<unsigned char>& argb, int width,
                            int height, const std::string& pngPath, std::string* error) {
    if (!isUsableFrame(argb.data(), width, height, 4, 4, false) || argb.size() < std::size_t(width) * height * 4) {
        if (error) *error = "no frame";
        return false;
    }
    LutGallery gallery(nullptr, nullptr);
    const std::vector<unsigned char> rgba = argbToRgba(argb.data(), width, height);
    gallery.updateImage(rgba.data(), width, height, 4, 4);
    nanogui::Capture capture;
    gallery.onTurn = [&] {
        if (capture.width == 0) capture = nanogui::captureScreen(*gallery.screen);
        gallery.stop();
    };
    gallery.start(lastPath);
    if (capture.width == 0) {
        if (error) *error = "the LUT Manager did not open (no display?)";
        return false;
    }
    const unsigned status = lodepng::encode(pngPath, capture.rgba, capture.width, capture.height);
    if (status != 0) {
        if (error) *error = lodepng_error_text(status);
        return false;
    }
    return true;
}

}  // namespace gallery_samples
