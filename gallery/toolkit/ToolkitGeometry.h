#pragma once
// The numbers behind the LUT Manager's widgets, kept free of OpenGL so that
// they can be checked on their own.
#include <nanogui/common.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace nanogui::geometry {

// ---- thumbnails -------------------------------------------------------------

// Texels to pixels for a thumbnail: a third of the native window less 15
// pixels across the picture. Never zero or negative (narrow windows, empty
// pictures), so that sizes and image coordinates stay meaningful.
float thumbnailScale(int windowWidth, int imageWidth);
constexpr float kMinThumbnailScale = 0.01f;

// The view's size for a picture at that scale (truncated).
Vector2i thumbnailViewSize(const Vector2i& imageSize, float scale);

// Where the picture sits in a view of the given size: centred.
Vector2f centredOffset(const Vector2i& viewSize, const Vector2i& imageSize, float scale);

// Time between two counted left releases, in milliseconds.
double clickGapMs(std::int64_t nowUs, std::int64_t beforeUs);
// More than 10 ms (a bounce) and less than 800 ms.
bool isDoubleClickGap(double gapMs);

struct StrokeRect {
    float x, y, w, h;
    float strokeWidth;
};
// The frame around the picture: a 5-pixel white band just inside the picture
// when picked, a 1-pixel black line just outside it otherwise.
StrokeRect pictureFrame(const Vector2i& viewPos, const Vector2f& offset,
                        const Vector2i& imageSize, float scale, bool picked);

// Size of the favourite mark: a fifth of the overlay at the picture's scale.
Vector2f favouriteMarkSize(const Vector2i& overlaySize, float scale);

struct ScissorBox {
    int x, y, w, h;
};
// The part of rectangle a (position, size) that lies inside rectangle b; an
// empty result has a zero size.
void intersectRect(Vector2i& aPos, Vector2i& aSize, const Vector2i& bPos, const Vector2i& bSize);

// The view's rectangle in framebuffer pixels (origin bottom left).
ScissorBox viewScissor(const Vector2i& absolutePos, const Vector2i& size, int screenHeight,
                       float pixelRatio);

// ---- captions ---------------------------------------------------------------

// The advance of a text in pixels, in the font it is drawn in.
using TextMeasure = std::function<float(std::string_view)>;
// text as far as it fits in width pixels on one line: whole when it fits, else cut at a
// character boundary and ending in "…" (the mark alone when not even one character fits
// beside it). Measures about log2(text length) prefixes, however long the text.
std::string fitToWidth(const std::string& text, float width, const TextMeasure& measure);

// ---- scroll panel -----------------------------------------------------------

constexpr int kScrollGutter = 20;
constexpr float kMinThumbFraction = 0.05f;

// Thumb length used by the wheel and drag arithmetic (no lower bound).
float scrollThumbLength(int panelHeight, int contentHeight);
// Track length the thumb travels, (h - 8) - t; one pixel where that is zero
// or negative, as in small panels, which would otherwise divide by zero or
// turn the scroll direction round.
float scrollTravel(int panelHeight, int contentHeight);
// New scroll position after one wheel event: the toolkit's step scaled by the
// visible fraction.
float wheelScroll(float scroll, int panelHeight, int contentHeight, float relY);
// New scroll position after a drag of relY pixels on the panel.
float dragScroll(float scroll, int panelHeight, int contentHeight, float relY);
// Visible fraction for the drawn thumb, at least 0.05.
float drawnThumbFraction(int panelHeight, int contentHeight);
// Panel height from the native window's height: winH - winH / 9.
int panelHeightForWindow(int windowHeight);
// Vertical position of the content for a scroll position.
int contentOffsetY(float scroll, int contentHeight, int panelHeight);
// Scroll position that brings item `index` of a three-column grid of
// `itemCount` items into view; nothing for grids of fewer than 12 items.
std::optional<float> scrollForPickedItem(int itemCount, int index);

// ---- text box ---------------------------------------------------------------

// One '*' for every byte of the hidden text.
std::string passwordMask(const std::string& text);
// A byte index turned into a glyph index that exists (glyph positions are
// capped at 1024; beyond the last glyph the end of the text is used).
int clampGlyphIndex(int index, int glyphCount);

enum class TextBoxFill { Idle, Editing, Invalid, Spinning };
TextBoxFill textBoxFillState(bool editable, bool focused, bool validFormat, bool spinnable,
                             bool spinPressed);
// RGBA bytes of each fill.
Vector4i textBoxFillColour(TextBoxFill state);

}  // namespace nanogui::geometry
