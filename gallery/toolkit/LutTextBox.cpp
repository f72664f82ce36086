#include "gallery/toolkit/Toolkit.h"
#include "gallery/toolkit/ToolkitGeometry.h"

#include <nanogui/theme.h>

#include <algorithm>
#include <utility>

namespace nanogui {

using namespace geometry;

namespace {

// Cursor and selection are byte indices, glyph positions stop at the last
// glyph the toolkit measured: an index past them means the end of the text.
float glyphX(int index, float lastx, const NVGglyphPosition* glyphs, int count) {
    const int i = clampGlyphIndex(index, count);
    return i >= count ? lastx : glyphs[i].x;
}

}  // namespace

LutTextBox::LutTextBox(Widget* parent, const std::string& value, bool password)
    : TextBox(parent, value), mPassword(password) {}

void LutTextBox::draw(NVGcontext* ctx) {
    Widget::draw(ctx);

    const Vector4i fill = textBoxFillColour(textBoxFillState(
        mEditable, focused(), mValidFormat, mSpinnable, mMouseDownPos.x() != -1));
    const NVGcolor fillColour = nvgRGBA(fill[0], fill[1], fill[2], fill[3]);
    NVGpaint bg = nvgBoxGradient(ctx, mPos.x() + 1, mPos.y() + 1 + 1.0f, mSize.x() - 2,
                                 mSize.y() - 2, 3, 4, fillColour, fillColour);
    nvgBeginPath(ctx);
    nvgRoundedRect(ctx, mPos.x() + 1, mPos.y() + 1 + 1.0f, mSize.x() - 2, mSize.y() - 2, 3);
    nvgFillPaint(ctx, bg);
    nvgFill(ctx);

    nvgBeginPath(ctx);
    nvgRoundedRect(ctx, mPos.x() + 0.5f, mPos.y() + 0.5f, mSize.x() - 1, mSize.y() - 1, 2.5f);
    nvgStrokeColor(ctx, nvgRGBA(100, 100, 100, 48));
    nvgStroke(ctx);

    nvgFontSize(ctx, fontSize());
    nvgFontFace(ctx, "sans");
    Vector2i drawPos(mPos.x(), mPos.y() + mSize.y() * 0.5f + 1);
    const float xSpacing = mSize.y() * 0.3f;
    float unitWidth = 0;

    if (mUnitsImage > 0) {
        int w = 0, h = 0;
        nvgImageSize(ctx, mUnitsImage, &w, &h);
        const float unitHeight = mSize.y() * 0.4f;
        unitWidth = h > 0 ? w * unitHeight / h : 0.0f;
        NVGpaint imgPaint = nvgImagePattern(ctx, mPos.x() + mSize.x() - xSpacing - unitWidth,
                                            drawPos.y() - unitHeight * 0.5f, unitWidth,
                                            unitHeight, 0, mUnitsImage, mEnabled ? 0.7f : 0.35f);
        nvgBeginPath(ctx);
        nvgRect(ctx, mPos.x() + mSize.x() - xSpacing - unitWidth, drawPos.y() - unitHeight * 0.5f,
                unitWidth, unitHeight);
        nvgFillPaint(ctx, imgPaint);
        nvgFill(ctx);
        unitWidth += 2;
    } else if (!mUnits.empty()) {
        unitWidth = nvgTextBounds(ctx, 0, 0, mUnits.c_str(), nullptr, nullptr);
        nvgFillColor(ctx, Color(255, mEnabled ? 64 : 32));
        nvgTextAlign(ctx, NVG_ALIGN_RIGHT | NVG_ALIGN_MIDDLE);
        nvgText(ctx, mPos.x() + mSize.x() - xSpacing, drawPos.y(), mUnits.c_str(), nullptr);
        unitWidth += 2;
    }

    float spinArrowsWidth = 0.f;
    if (mSpinnable && !focused()) {
        spinArrowsWidth = 14.f;
        nvgFontFace(ctx, "icons");
        nvgFontSize(ctx, ((mFontSize < 0) ? mTheme->mButtonFontSize : mFontSize) * icon_scale());
        const bool spinning = mMouseDownPos.x() != -1;
        const SpinArea areas[2] = {SpinArea::Top, SpinArea::Bottom};
        const int icons[2] = {mTheme->mTextBoxUpIcon, mTheme->mTextBoxDownIcon};
        const float dy[2] = {-xSpacing / 2.f, xSpacing / 2.f + 1.5f};
        for (int i = 0; i < 2; ++i) {
            const bool hover = mMouseFocus && spinArea(mMousePos) == areas[i];
            nvgFillColor(ctx, (mEnabled && (hover || spinning)) ? mTheme->mTextColor
                                                                : mTheme->mDisabledTextColor);
            auto icon = utf8(icons[i]);
            nvgTextAlign(ctx, NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE);
            nvgText(ctx, mPos.x() + 4.f, mPos.y() + mSize.y() / 2.f + dy[i], icon.data(), nullptr);
        }
        nvgFontSize(ctx, fontSize());
        nvgFontFace(ctx, "sans");
    }

    switch (mAlignment) {
        case Alignment::Left:
            nvgTextAlign(ctx, NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE);
            drawPos.x() += xSpacing + spinArrowsWidth;
            break;
        case Alignment::Right:
            nvgTextAlign(ctx, NVG_ALIGN_RIGHT | NVG_ALIGN_MIDDLE);
            drawPos.x() += mSize.x() - unitWidth - xSpacing;
            break;
        case Alignment::Center:
            nvgTextAlign(ctx, NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE);
            drawPos.x() += mSize.x() * 0.5f;
            break;
    }

    nvgFontSize(ctx, fontSize());
    nvgFillColor(ctx, mEnabled && (!mCommitted || !mValue.empty()) ? mTheme->mTextColor
                                                                   : mTheme->mDisabledTextColor);

    const float clipX = mPos.x() + xSpacing + spinArrowsWidth - 1.0f;
    const float clipY = mPos.y() + 1.0f;
    const float clipWidth = mSize.x() - unitWidth - spinArrowsWidth - 2 * xSpacing + 2.0f;
    const float clipHeight = mSize.y() - 3.0f;

    nvgSave(ctx);
    nvgIntersectScissor(ctx, clipX, clipY, clipWidth, clipHeight);

    const Vector2i oldDrawPos(drawPos);
    drawPos.x() += mTextOffset;

    if (mCommitted) {
        if (mPassword) {
            // A password box shows its length only, and never a placeholder.
            const std::string mask = passwordMask(mValue);
            if (!mask.empty()) nvgText(ctx, drawPos.x(), drawPos.y(), mask.c_str(), nullptr);
        } else {
            nvgText(ctx, drawPos.x(), drawPos.y(),
                    mValue.empty() ? mPlaceholder.c_str() : mValue.c_str(), nullptr);
        }
    } else {
        // While editing, the mask stands in for the hidden text in every
        // measurement, so that clicks and the caret line up with the stars.
        const std::string mask = mPassword ? passwordMask(mValueTemp) : std::string();
        const char* shown = mPassword ? mask.c_str() : mValueTemp.c_str();

        constexpr int maxGlyphs = 1024;
        NVGglyphPosition glyphs[maxGlyphs];
        float textBound[4];
        nvgTextBounds(ctx, drawPos.x(), drawPos.y(), shown, nullptr, textBound);
        const float lineh = textBound[3] - textBound[1];

        int nglyphs =
            nvgTextGlyphPositions(ctx, drawPos.x(), drawPos.y(), shown, nullptr, glyphs, maxGlyphs);
        updateCursor(ctx, textBound[2], glyphs, nglyphs);

        // Keep the characters beside the cursor in view.
        const int prevCPos = mCursorPos > 0 ? mCursorPos - 1 : 0;
        const int nextCPos = mCursorPos < nglyphs ? mCursorPos + 1 : nglyphs;
        const float prevCX = glyphX(prevCPos, textBound[2], glyphs, nglyphs);
        const float nextCX = glyphX(nextCPos, textBound[2], glyphs, nglyphs);
        if (nextCX > clipX + clipWidth) mTextOffset -= nextCX - (clipX + clipWidth) + 1;
        if (prevCX < clipX) mTextOffset += clipX - prevCX + 1;
        drawPos.x() = oldDrawPos.x() + mTextOffset;

        nvgText(ctx, drawPos.x(), drawPos.y(), shown, nullptr);
        nvgTextBounds(ctx, drawPos.x(), drawPos.y(), shown, nullptr, textBound);
        nglyphs =
            nvgTextGlyphPositions(ctx, drawPos.x(), drawPos.y(), shown, nullptr, glyphs, maxGlyphs);

        if (mCursorPos > -1) {
            if (mSelectionPos > -1) {
                float caretx = glyphX(mCursorPos, textBound[2], glyphs, nglyphs);
                float selx = glyphX(mSelectionPos, textBound[2], glyphs, nglyphs);
                if (caretx > selx) std::swap(caretx, selx);
                nvgBeginPath(ctx);
                nvgFillColor(ctx, nvgRGBA(255, 255, 255, 80));
                nvgRect(ctx, caretx, drawPos.y() - lineh * 0.5f, selx - caretx, lineh);
                nvgFill(ctx);
            }
            const float caretx = glyphX(mCursorPos, textBound[2], glyphs, nglyphs);
            nvgBeginPath(ctx);
            nvgMoveTo(ctx, caretx, drawPos.y() - lineh * 0.5f);
            nvgLineTo(ctx, caretx, drawPos.y() + lineh * 0.5f);
            nvgStrokeColor(ctx, nvgRGBA(255, 192, 0, 255));
            nvgStrokeWidth(ctx, 1.0f);
            nvgStroke(ctx);
        }
    }
    nvgRestore(ctx);
}

}  // namespace nanogui
