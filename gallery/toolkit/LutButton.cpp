#include "gallery/toolkit/Toolkit.h"

namespace nanogui {

bool LutButton::keyboardEvent(int key, int, int action, int) {
    if (key != GLFW_KEY_LEFT_SHIFT && key != GLFW_KEY_RIGHT_SHIFT) return false;
    if (action == GLFW_PRESS) mShiftPressed = true;
    else if (action == GLFW_RELEASE) mShiftPressed = false;
    return true;
}

bool LutButton::mouseButtonEvent(const Vector2i& p, int button, bool down, int modifiers) {
    if (down) return Button::mouseButtonEvent(p, button, down, modifiers);

    // The handler may remove this button (a page rebuilt from its click).
    ref<LutButton> self = this;
    Widget::mouseButtonEvent(p, button, down, modifiers);
    if (button != GLFW_MOUSE_BUTTON_1 || !mEnabled) return false;

    const bool pushedBefore = mPushed;
    if (mPushed) {
        if (contains(p)) {
            // Copies: a handler may replace the callbacks it runs from.
            std::function<void()> action =
                (mShiftPressed && mShiftCallback) ? mShiftCallback : mCallback;
            if (action) {
                if (LutScreen* screen = LutScreen::of(this)) screen->clearFocusPath();
                action();
            }
        }
        if (mFlags & NormalButton) mPushed = false;
    }
    if (pushedBefore != mPushed && mChangeCallback) mChangeCallback(mPushed);
    return true;
}

}  // namespace nanogui
