#pragma once
// Reads back what a screen shows. The front buffer of a swapped window reads
// black under Xvfb, so the widgets are drawn once more into the back buffer
// without a swap, and that is read.
#include <nanogui/screen.h>

#include <cstdint>
#include <vector>

namespace nanogui {

struct Capture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // rows top first

    // The pixel at (x, y) in window pixels, top-left origin; zeros outside.
    Vector4i at(int x, int y) const;
};

Capture captureScreen(Screen& screen);

}  // namespace nanogui
