#pragma once
// A user at the X display, for tests that drive real windows: find a window
// by its title, double-click as a person does (XTest), and read back what the
// screen shows. Link X11::X11 and X11::Xtst.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace quillane::test {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

inline DisplayHandle openDisplay() { return DisplayHandle(XOpenDisplay(nullptr)); }

// The first window under `from` (depth first) whose name is `title`; 0 when none.
inline Window findWindow(Display* display, const std::string& title, Window from = 0) {
    if (!from) from = DefaultRootWindow(display);
    char* name = nullptr;
    const bool named = XFetchName(display, from, &name) && name;
    const bool found = named && title == name;
    if (name) XFree(name);
    if (found) return from;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, from, &root, &parent, &children, &count)) return 0;
    Window result = 0;
    for (unsigned i = 0; i < count && !result; ++i) result = findWindow(display, title, children[i]);
    if (children) XFree(children);
    return result;
}

// Where a shown window's top-left corner is on the root window; false while
// it is not mapped.
inline bool shownAt(Display* display, Window window, int* x, int* y) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) return false;
    Window child = 0;
    return XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, x, y, &child);
}

// Moves the pointer to (x, y) of the root window.
inline void pointerTo(Display* display, int x, int y) {
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XSync(display, False);
}

// Presses or releases a mouse button (X numbers: 1 left, 3 right).
inline void mouseButton(Display* display, unsigned button, bool down) {
    XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
    XSync(display, False);
}

// Moves the pointer to (x, y) of the root window and clicks twice, 150 ms
// apart: the toolkit's double click.
inline void doubleClickAt(Display* display, int x, int y) {
    using namespace std::chrono_literals;
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XFlush(display);
    std::this_thread::sleep_for(50ms);
    for (int click = 0; click < 2; ++click) {
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XFlush(display);
        std::this_thread::sleep_for(150ms);
    }
}

// The 8-bit R, G, B the screen shows at (x, y) of the root window.
inline std::array<int, 3> screenColour(Display* display, int x, int y) {
    XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return {-1, -1, -1};
    const unsigned long pixel = XGetPixel(image, 0, 0);
    const auto channel = [&](unsigned long mask) {
        int shift = 0;
        while (mask && !(mask & 1)) mask >>= 1, ++shift;
        return mask ? static_cast<int>(((pixel >> shift) & mask) * 255 / mask) : -1;
    };
    const std::array<int, 3> rgb = {channel(image->red_mask), channel(image->green_mask), channel(image->blue_mask)};
    XDestroyImage(image);
    return rgb;
}

}  // namespace quillane::test
