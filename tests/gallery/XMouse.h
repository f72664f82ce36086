#pragma once
// A user's mouse on the X display: the test's main thread names the target
// (a widget of a screen, from inside the window's loop); a second thread
// moves the pointer there and double-clicks with XTest, as a person would.
#include <atomic>
#include <chrono>
#include <thread>

#include <nanogui/screen.h>

#include "XInput.h"

namespace gallery_test {

class XMouse {
public:
    // Main thread: the widget's centre in root-window coordinates.
    void aimAt(nanogui::Screen& screen, const nanogui::Widget& widget) {
        if (x_ >= 0) return;
        int wx = 0, wy = 0;
        glfwGetWindowPos(screen.glfwWindow(), &wx, &wy);
        const nanogui::Vector2i centre = widget.absolutePosition() + widget.size() / 2;
        y_ = wy + centre.y();
        x_ = wx + centre.x();
    }

    // Second thread: waits for the target (at most 20 s), gives the window
    // half a second after it shows, then two clicks 150 ms apart.
    bool doubleClickWhenAimed() {
        using namespace std::chrono_literals;
        for (int i = 0; i < 2000 && x_ < 0; ++i) std::this_thread::sleep_for(10ms);
        if (x_ < 0) return false;
        std::this_thread::sleep_for(500ms);
        const quillane::test::DisplayHandle display = quillane::test::openDisplay();
        if (!display) return false;
        quillane::test::doubleClickAt(display.get(), x_, y_);
        return true;
    }

private:
    std::atomic<int> x_{-1};
    std::atomic<int> y_{-1};
};

}  // namespace gallery_test
