#include "gallery/toolkit/Toolkit.h"

#include <nanogui/theme.h>

namespace nanogui {

void LutWindow::draw(NVGcontext* ctx) {
    // Follow the native window: its size becomes ours and our first child's,
    // on every frame, without a layout pass.
    Widget* root = this;
    while (root->parent()) root = root->parent();
    if (auto* screen = dynamic_cast<Screen*>(root); screen && screen->glfwWindow()) {
        int width = 0, height = 0;
        glfwGetWindowSize(screen->glfwWindow(), &width, &height);
        setSize(Vector2i(width, height));
        if (childCount() > 0) childAt(0)->setSize(Vector2i(width, height));
        // The screen clipped us to our size before this call, which a layout
        // pass may have shrunk to the preferred size: clip to the new one, or
        // this frame would leave the rest of the native window unpainted.
        if (screen == parent()) nvgScissor(ctx, mPos.x(), mPos.y(), width, height);
    }

    nvgSave(ctx);
    nvgBeginPath(ctx);
    nvgRoundedRect(ctx, mPos.x(), mPos.y(), mSize.x(), mSize.y(), mTheme->mWindowCornerRadius);
    nvgFillColor(ctx, mMouseFocus ? mTheme->mWindowFillFocused : mTheme->mWindowFillUnfocused);
    nvgFill(ctx);

    if (!mTitle.empty()) {
        const int hh = mTheme->mWindowHeaderHeight;
        const int cr = mTheme->mWindowCornerRadius;
        NVGpaint headerPaint =
            nvgLinearGradient(ctx, mPos.x(), mPos.y(), mPos.x(), mPos.y() + hh,
                              mTheme->mWindowHeaderGradientTop, mTheme->mWindowHeaderGradientBot);
        nvgBeginPath(ctx);
        nvgRoundedRect(ctx, mPos.x(), mPos.y(), mSize.x(), hh, cr);
        nvgFillPaint(ctx, headerPaint);
        nvgFill(ctx);

        nvgBeginPath(ctx);
        nvgRoundedRect(ctx, mPos.x(), mPos.y(), mSize.x(), hh, cr);
        nvgStrokeColor(ctx, mTheme->mWindowHeaderSepTop);
        nvgSave(ctx);
        nvgIntersectScissor(ctx, mPos.x(), mPos.y(), mSize.x(), 0.5f);
        nvgStroke(ctx);
        nvgRestore(ctx);

        nvgBeginPath(ctx);
        nvgMoveTo(ctx, mPos.x() + 0.5f, mPos.y() + hh - 1.5f);
        nvgLineTo(ctx, mPos.x() + mSize.x() - 0.5f, mPos.y() + hh - 1.5f);
        nvgStrokeColor(ctx, mTheme->mWindowHeaderSepBot);
        nvgStroke(ctx);

        nvgFontSize(ctx, 18.0f);
        nvgFontFace(ctx, "sans-bold");
        nvgTextAlign(ctx, NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE);
        nvgFontBlur(ctx, 2);
        nvgFillColor(ctx, mTheme->mDropShadow);
        nvgText(ctx, mPos.x() + mSize.x() / 2, mPos.y() + hh / 2, mTitle.c_str(), nullptr);
        nvgFontBlur(ctx, 0);
        nvgFillColor(ctx, mFocused ? mTheme->mWindowTitleFocused : mTheme->mWindowTitleUnfocused);
        nvgText(ctx, mPos.x() + mSize.x() / 2, mPos.y() + hh / 2 - 1, mTitle.c_str(), nullptr);
    }
    nvgRestore(ctx);
    Widget::draw(ctx);
}

// The window never starts a drag: events go to the child under the pointer.
bool LutWindow::mouseButtonEvent(const Vector2i& p, int button, bool down, int modifiers) {
    return Widget::mouseButtonEvent(p, button, down, modifiers);
}

bool LutWindow::mouseDragEvent(const Vector2i& p, const Vector2i& rel, int button, int modifiers) {
    return Widget::mouseDragEvent(p, rel, button, modifiers);
}

}  // namespace nanogui
