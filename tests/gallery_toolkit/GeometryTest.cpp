#include "gallery/toolkit/ToolkitGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace nanogui;
using namespace nanogui::geometry;

TEST(GalleryToolkitGeometry, ThumbnailScaleSizeAndNarrowWindows) {
    const float scale = thumbnailScale(1000, 512);
    EXPECT_NEAR(scale, (1000 / 3.0f - 15.0f) / 512.0f, 1e-6);
    EXPECT_EQ(thumbnailViewSize(Vector2i(512, 288), scale), Vector2i(318, 179));
    // Narrower than 45 pixels, or no picture: still a small positive scale.
    EXPECT_GT(thumbnailScale(30, 512), 0.0f);
    EXPECT_GT(thumbnailScale(45, 512), 0.0f);
    EXPECT_GT(thumbnailScale(1000, 0), 0.0f);
    EXPECT_GE(thumbnailViewSize(Vector2i(512, 288), thumbnailScale(10, 512)).minCoeff(), 0);
    EXPECT_NEAR(favouriteMarkSize(Vector2i(256, 256), scale).x(), 31.8f, 0.1f);
}

TEST(GalleryToolkitGeometry, DoubleClickWindowAndFrames) {
    EXPECT_FALSE(isDoubleClickGap(clickGapMs(5'000, 0)));
    EXPECT_FALSE(isDoubleClickGap(10.0));
    EXPECT_TRUE(isDoubleClickGap(10.001));
    EXPECT_TRUE(isDoubleClickGap(clickGapMs(1'300'000, 1'000'000)));
    EXPECT_FALSE(isDoubleClickGap(clickGapMs(800'000, 0)));
    EXPECT_FALSE(isDoubleClickGap(0.0));

    const StrokeRect picked = pictureFrame(Vector2i(10, 20), Vector2f(0, 0), Vector2i(512, 288),
                                           0.5f, true);
    EXPECT_FLOAT_EQ(picked.x, 12);
    EXPECT_FLOAT_EQ(picked.w, 252);
    EXPECT_FLOAT_EQ(picked.strokeWidth, 5);
    const StrokeRect plain = pictureFrame(Vector2i(10, 20), Vector2f(0, 0), Vector2i(512, 288),
                                          0.5f, false);
    EXPECT_FLOAT_EQ(plain.x, 9.5f);
    EXPECT_FLOAT_EQ(plain.h, 145);
    EXPECT_FLOAT_EQ(plain.strokeWidth, 1);

    const ScissorBox box = viewScissor(Vector2i(10, 20), Vector2i(100, 50), 700, 1.0f);
    EXPECT_EQ(box.y, 630);
    Vector2i pos(0, 50), size(100, 100);
    intersectRect(pos, size, Vector2i(0, 100), Vector2i(100, 20));
    EXPECT_EQ(pos, Vector2i(0, 100));
    EXPECT_EQ(size, Vector2i(100, 20));
    intersectRect(pos, size, Vector2i(500, 500), Vector2i(10, 10));
    EXPECT_EQ(size, Vector2i(0, 0));
}

TEST(GalleryToolkitGeometry, ScrollWheelThumbAndPanelHeight) {
    // One notch in a 500-pixel panel over 1000 pixels: half the toolkit's step.
    EXPECT_NEAR(0.5f - wheelScroll(0.5f, 500, 1000, 1.0f), 12.5f / 242.0f, 1e-6);
    EXPECT_FLOAT_EQ(wheelScroll(0.0f, 500, 1000, 1.0f), 0.0f);
    EXPECT_NEAR(dragScroll(0.0f, 500, 1000, 24.2f), 0.1f, 1e-5);
    EXPECT_FLOAT_EQ(drawnThumbFraction(100, 4000), 0.05f);
    EXPECT_FLOAT_EQ(drawnThumbFraction(100, 50), 1.0f);
    EXPECT_EQ(panelHeightForWindow(700), 623);
    EXPECT_EQ(panelHeightForWindow(900), 800);
    EXPECT_EQ(contentOffsetY(0.5f, 1000, 500), -250);

    // Tiny panels: (h - 8) - t is zero or negative. The wheel must still move
    // the right way, and never produce NaN.
    for (int h : {8, 10, 12, 16}) {
        const float down = wheelScroll(0.5f, h, h + 1, -1.0f);
        const float up = wheelScroll(0.5f, h, h + 1, 1.0f);
        EXPECT_TRUE(std::isfinite(down) && std::isfinite(up)) << h;
        EXPECT_GE(down, 0.5f) << h;
        EXPECT_LE(up, 0.5f) << h;
        EXPECT_GE(dragScroll(0.5f, h, h + 1, 1.0f), 0.5f) << h;
        EXPECT_GE(scrollTravel(h, h + 1), 1.0f) << h;
    }
}

TEST(GalleryToolkitGeometry, ScrollToCurrentTable) {
    EXPECT_FALSE(scrollForPickedItem(11, 9).has_value());
    EXPECT_FLOAT_EQ(*scrollForPickedItem(12, 9), 1.0f);
    EXPECT_FLOAT_EQ(*scrollForPickedItem(12, 5), 0.0f);
    EXPECT_NEAR(*scrollForPickedItem(30, 14), 2.5f / 7.0f, 1e-6);
    // 13 items: the partial last row does not count (4 rows, divisor 1).
    EXPECT_FLOAT_EQ(*scrollForPickedItem(13, 6), 0.5f);
    EXPECT_FALSE(scrollForPickedItem(30, 30).has_value());
}

TEST(GalleryToolkitGeometry, PasswordMaskGlyphClampAndFills) {
    EXPECT_EQ(passwordMask("abc"), "***");
    EXPECT_EQ(passwordMask(""), "");
    EXPECT_EQ(passwordMask("\xc3\xa9"), "**");  // one character, two bytes
    EXPECT_EQ(clampGlyphIndex(2000, 1024), 1024);
    EXPECT_EQ(clampGlyphIndex(-1, 5), 0);
    EXPECT_EQ(clampGlyphIndex(3, 5), 3);

    EXPECT_EQ(textBoxFillColour(textBoxFillState(true, true, true, false, false)),
              Vector4i(255, 255, 255, 32));
    EXPECT_EQ(textBoxFillColour(textBoxFillState(true, true, false, false, false)),
              Vector4i(255, 0, 0, 255));
    EXPECT_EQ(textBoxFillColour(textBoxFillState(false, true, false, true, true)),
              Vector4i(255, 255, 255, 32));
    EXPECT_EQ(textBoxFillColour(textBoxFillState(true, false, true, false, false)),
              Vector4i(24, 24, 24, 255));
}
