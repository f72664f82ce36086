#pragma once
// A real LutScreen under Xvfb with a LutWindow that holds a toolbar row, and
// helpers to click, press keys, draw and read pixels back.
#include "gallery/toolkit/ScreenCapture.h"
#include "gallery/toolkit/Toolkit.h"

#include <nanogui/layout.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace toolkit_test {

// Counts the frames the screen draws.
class CountingScreen : public nanogui::LutScreen {
public:
    using LutScreen::LutScreen;
    void drawContents() override { ++frames; }
    int frames = 0;
};

// A text box that shows where its cursor is.
class TestTextBox : public nanogui::LutTextBox {
public:
    using LutTextBox::LutTextBox;
    int cursor() const { return mCursorPos; }
};

struct Rgba {
    std::uint8_t r, g, b, a;
};

// A texture of one colour, or of two: `bottom` for the first half of the
// rows (the first data rows), `top` for the rest.
nanogui::GlTexture solidTexture(int w, int h, Rgba top, Rgba bottom);
inline nanogui::GlTexture solidTexture(int w, int h, Rgba c) { return solidTexture(w, h, c, c); }

class GalleryToolkitTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Synthetic input at window coordinates.
    void moveTo(const nanogui::Vector2i& p);
    void click(const nanogui::Vector2i& p, int button = GLFW_MOUSE_BUTTON_LEFT, int mods = 0);
    void drag(const nanogui::Vector2i& from, const nanogui::Vector2i& to);
    void key(int key, int action, int mods = 0);
    void type(const std::string& text);
    // The centre of a widget in window coordinates.
    static nanogui::Vector2i centre(const nanogui::Widget* w);

    // Resizes the native window and waits until the system reports it.
    bool resizeNative(int w, int h);

    // An editable 200 x 30 text box in the toolbar (not laid out yet).
    TestTextBox* addTextBox(const std::string& value, bool password = false);

    // A scroll panel with a grid of `count` thumbnails in the window, after
    // the toolbar (a previous panel is removed first).
    struct Grid {
        nanogui::LutScrollPanel* panel = nullptr;
        nanogui::Widget* grid = nullptr;
        std::vector<nanogui::LutImageView*> views;
    };
    Grid addGrid(int count, int picked = -1, nanogui::Vector2i imageSize = {512, 288},
                 int kind = 1);

    nanogui::ref<CountingScreen> screen;
    nanogui::LutWindow* window = nullptr;
    nanogui::Widget* toolbar = nullptr;
};

}  // namespace toolkit_test
