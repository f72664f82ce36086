#include "gallery/toolkit/ToolkitGeometry.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace nanogui::geometry {

std::string fitToWidth(const std::string& text, float width, const TextMeasure& measure) {
    if (measure(text) <= width) return text;
    static const std::string kEllipsis = "\xE2\x80\xA6";  // U+2026
    // The places a cut may fall: before each character's first byte.
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) cuts.push_back(i);
    // cuts[fits] with the mark fits (none at all always "fits"), cuts[tooLong] does not.
    std::size_t fits = 0, tooLong = cuts.size();
    std::string candidate;
    while (tooLong - fits > 1) {
        const std::size_t middle = fits + (tooLong - fits) / 2;
        candidate.assign(text, 0, cuts[middle]);
        candidate += kEllipsis;
        if (measure(candidate) <= width)
            fits = middle;
        else
            tooLong = middle;
    }
    return text.substr(0, cuts.empty() ? 0 : cuts[fits]) + kEllipsis;
}

float thumbnailScale(int windowWidth, int imageWidth) {
    if (imageWidth <= 0) return kMinThumbnailScale;
    float scale = (windowWidth / 3.0f - 15.0f) / float(imageWidth);
    return std::max(scale, kMinThumbnailScale);
}

Vector2i thumbnailViewSize(const Vector2i& imageSize, float scale) {
    return Vector2i(int(imageSize.x() * scale), int(imageSize.y() * scale));
}

Vector2f centredOffset(const Vector2i& viewSize, const Vector2i& imageSize, float scale) {
    return (viewSize.cast<float>() - imageSize.cast<float>() * scale) / 2.0f;
}

double clickGapMs(std::int64_t nowUs, std::int64_t beforeUs) {
    return double(nowUs - beforeUs) / 1000.0;
}

bool isDoubleClickGap(double gapMs) { return gapMs > 10.0 && gapMs < 800.0; }

StrokeRect pictureFrame(const Vector2i& viewPos, const Vector2f& offset,
                        const Vector2i& imageSize, float scale, bool picked) {
    float x = float(int(viewPos.x() + offset.x()));
    float y = float(int(viewPos.y() + offset.y()));
    float w = float(int(imageSize.x() * scale));
    float h = float(int(imageSize.y() * scale));
    if (picked) return {x + 2, y + 2, w - 4, h - 4, 5.0f};
    return {x - 0.5f, y - 0.5f, w + 1, h + 1, 1.0f};
}

Vector2f favouriteMarkSize(const Vector2i& overlaySize, float scale) {
    return overlaySize.cast<float>() * scale * 0.2f;
}

void intersectRect(Vector2i& aPos, Vector2i& aSize, const Vector2i& bPos, const Vector2i& bSize) {
    const Vector2i lo = aPos.cwiseMax(bPos);
    const Vector2i hi = (aPos + aSize).cwiseMin(bPos + bSize);
    aPos = lo;
    aSize = (hi - lo).cwiseMax(Vector2i::Zero());
}

ScissorBox viewScissor(const Vector2i& absolutePos, const Vector2i& size, int screenHeight,
                       float pixelRatio) {
    return {int(absolutePos.x() * pixelRatio),
            int((screenHeight - absolutePos.y() - size.y()) * pixelRatio),
            int(size.x() * pixelRatio), int(size.y() * pixelRatio)};
}

float scrollThumbLength(int panelHeight, int contentHeight) {
    float h = float(panelHeight), H = float(contentHeight);
    if (H <= 0) return h;
    return h * std::min(1.0f, h / H);
}

float scrollTravel(int panelHeight, int contentHeight) {
    float travel = (float(panelHeight) - 8.0f) - scrollThumbLength(panelHeight, contentHeight);
    return travel > 0.0f ? travel : 1.0f;
}

float wheelScroll(float scroll, int panelHeight, int contentHeight, float relY) {
    if (contentHeight <= 0) return scroll;
    float h = float(panelHeight), H = float(contentHeight);
    float step = relY * (h / 20.0f) * (h / H);
    return std::clamp(scroll - step / scrollTravel(panelHeight, contentHeight), 0.0f, 1.0f);
}

float dragScroll(float scroll, int panelHeight, int contentHeight, float relY) {
    return std::clamp(scroll + relY / scrollTravel(panelHeight, contentHeight), 0.0f, 1.0f);
}

float drawnThumbFraction(int panelHeight, int contentHeight) {
    if (contentHeight <= 0) return 1.0f;
    return std::clamp(float(panelHeight) / float(contentHeight), kMinThumbFraction, 1.0f);
}

int panelHeightForWindow(int windowHeight) { return windowHeight - windowHeight / 9; }

int contentOffsetY(float scroll, int contentHeight, int panelHeight) {
    return int(-scroll * float(contentHeight - panelHeight));
}

std::optional<float> scrollForPickedItem(int itemCount, int index) {
    if (itemCount < 12 || index < 0 || index >= itemCount) return std::nullopt;
    float scroll = (float(index / 3) - 1.5f) / float(itemCount / 3 - 3);
    return std::clamp(scroll, 0.0f, 1.0f);
}

std::string passwordMask(const std::string& text) { return std::string(text.size(), '*'); }

int clampGlyphIndex(int index, int glyphCount) {
    return std::clamp(index, 0, std::max(glyphCount, 0));
}

TextBoxFill textBoxFillState(bool editable, bool focused, bool validFormat, bool spinnable,
                             bool spinPressed) {
    if (editable && focused) return validFormat ? TextBoxFill::Editing : TextBoxFill::Invalid;
    if (spinnable && spinPressed) return TextBoxFill::Spinning;
    return TextBoxFill::Idle;
}

Vector4i textBoxFillColour(TextBoxFill state) {
    switch (state) {
        case TextBoxFill::Editing:
        case TextBoxFill::Spinning: return Vector4i(255, 255, 255, 32);
        case TextBoxFill::Invalid: return Vector4i(255, 0, 0, 255);
        case TextBoxFill::Idle: break;
    }
    return Vector4i(24, 24, 24, 255);
}

}  // namespace nanogui::geometry
