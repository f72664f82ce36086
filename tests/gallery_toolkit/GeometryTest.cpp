// The widgets' arithmetic at the edges the pixel tests do not reach: tiny
// panels and windows, the boundaries of the double-click window, partial grid
// rows, glyph positions past the toolkit's 1024.
#include "gallery/toolkit/ToolkitGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

using namespace nanogui;
using namespace nanogui::geometry;

TEST(GalleryToolkitGeometry, ThumbnailsAndClicksAtTheEdges) {
    // Exactly 45 pixels wide, or no picture: still a small positive scale.
    EXPECT_GT(thumbnailScale(45, 512), 0.0f);
    EXPECT_GT(thumbnailScale(1000, 0), 0.0f);

    for (auto [gapMs, isDouble] : {std::pair{0.0, false}, {10.0, false}, {10.001, true},
                                   {799.999, true}, {800.0, false}})
        EXPECT_EQ(isDoubleClickGap(gapMs), isDouble) << gapMs;

    // The clip of a thumbnail inside its scroll panel.
    Vector2i pos(0, 50), size(100, 100);
    intersectRect(pos, size, Vector2i(0, 100), Vector2i(100, 20));
    EXPECT_EQ(pos, Vector2i(0, 100));
    EXPECT_EQ(size, Vector2i(100, 20));
    intersectRect(pos, size, Vector2i(500, 500), Vector2i(10, 10));
    EXPECT_EQ(size, Vector2i(0, 0));
}

// Ten pixels a character (not a byte): a caption cut to a width never splits a character,
// and a name of any length costs a handful of measurements.
TEST(GalleryToolkitGeometry, CaptionsAreCutToTheirWidthWithAnEllipsis) {
    int measured = 0;
    const TextMeasure tenPerCharacter = [&](std::string_view text) {
        ++measured;
        float width = 0;
        for (const char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 10.0f : 0.0f;
        return width;
    };
    for (auto [text, width, shown] : {std::tuple<std::string, float, std::string>{"Warm", 40, "Warm"},
                                      {"Warm", 39, "Wa\u2026"},
                                      {"Caf\u00e9 noir", 50, "Caf\u00e9\u2026"},
                                      {"Warm", 5, "\u2026"}})
        EXPECT_EQ(fitToWidth(text, width, tenPerCharacter), shown) << text;
    measured = 0;
    EXPECT_EQ(fitToWidth(std::string(100000, 'x'), 300, tenPerCharacter), std::string(29, 'x') + "\u2026");
    EXPECT_LE(measured, 20);
}

TEST(GalleryToolkitGeometry, ScrollArithmeticAtTheEdges) {
    EXPECT_NEAR(dragScroll(0.0f, 500, 1000, 24.2f), 0.1f, 1e-5);
    EXPECT_FLOAT_EQ(drawnThumbFraction(100, 4000), 0.05f);  // content 40 times the panel
    EXPECT_EQ(panelHeightForWindow(900), 800);

    // Tiny panels: (h - 8) - t is zero or negative. The wheel must still move
    // the right way, and never produce NaN.
    for (int h : {8, 10, 12, 16}) {
        const float down = wheelScroll(0.5f, h, h + 1, -1.0f);
        const float up = wheelScroll(0.5f, h, h + 1, 1.0f);
        EXPECT_TRUE(std::isfinite(down) && std::isfinite(up)) << h;
        EXPECT_GE(down, 0.5f) << h;
        EXPECT_LE(up, 0.5f) << h;
        EXPECT_GE(dragScroll(0.5f, h, h + 1, 1.0f), 0.5f) << h;
    }

    EXPECT_FLOAT_EQ(*scrollForPickedItem(12, 5), 0.0f);  // clamped from -0.5
    // 13 items: the partial last row does not count (4 rows, divisor 1).
    EXPECT_FLOAT_EQ(*scrollForPickedItem(13, 6), 0.5f);
}

TEST(GalleryToolkitGeometry, GlyphClampAndSpinFill) {
    EXPECT_EQ(clampGlyphIndex(2000, 1024), 1024);
    EXPECT_EQ(clampGlyphIndex(-1, 5), 0);
    // A held press on a spinnable box: translucent white, as when editing.
    EXPECT_EQ(textBoxFillColour(textBoxFillState(false, true, false, true, true)),
              Vector4i(255, 255, 255, 32));
}
