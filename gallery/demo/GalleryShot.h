#pragma once
// A picture of the LUT Manager as the user sees it: the window opened on a
// frame with `lastPath` as the current LUT, captured once its grid is drawn,
// written as a PNG file.
#include <string>
#include <vector>

namespace gallery_samples {

// argb: 8-bit A, R, G, B pixels, bottom row first. False with a reason when
// no window could be shown or the file could not be written.
bool writeGalleryScreenshot(const std::string& lastPath, const std::vector<unsigned char>& argb, int width,
                            int height, const std::string& pngPath, std::string* error);

}  // namespace gallery_samples
