#include "gallery/toolkit/ScreenCapture.h"

#include <nanogui/opengl.h>

#include <cstring>

namespace nanogui {

Vector4i Capture::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return Vector4i::Zero();
    const std::size_t i = (std::size_t(y) * width + x) * 4;
    return Vector4i(rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]);
}

Capture captureScreen(Screen& screen) {
    glfwMakeContextCurrent(screen.glfwWindow());
    const Color& bg = screen.background();
    glClearColor(bg[0], bg[1], bg[2], bg[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    screen.drawContents();
    screen.drawWidgets();
    glFinish();

    Capture capture;
    glfwGetFramebufferSize(screen.glfwWindow(), &capture.width, &capture.height);
    std::vector<std::uint8_t> bottomUp(std::size_t(capture.width) * capture.height * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, capture.width, capture.height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    capture.rgba.resize(bottomUp.size());
    const std::size_t row = std::size_t(capture.width) * 4;
    for (int y = 0; y < capture.height; ++y)
        std::memcpy(&capture.rgba[y * row], &bottomUp[(capture.height - 1 - y) * row], row);
    return capture;
}

}  // namespace nanogui
