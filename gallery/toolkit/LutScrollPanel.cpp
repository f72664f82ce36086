#include "gallery/toolkit/Toolkit.h"
#include "gallery/toolkit/ToolkitGeometry.h"

#include <nanogui/layout.h>

#include <algorithm>
#include <stdexcept>

namespace nanogui {

using namespace geometry;

void LutScrollPanel::performLayout(NVGcontext* ctx) {
    Widget::performLayout(ctx);
    if (mChildren.empty()) return;
    if (mChildren.size() > 1) throw std::runtime_error("VScrollPanel should have one child.");

    Widget* child = mChildren[0];
    mChildPreferredHeight = child->preferredSize(ctx).y();
    if (mChildPreferredHeight > mSize.y()) {
        child->setPosition(Vector2i(0, contentOffsetY(mScroll, mChildPreferredHeight, mSize.y())));
        child->setSize(Vector2i(mSize.x() - kScrollGutter, mChildPreferredHeight));
    } else {
        child->setPosition(Vector2i(0, 0));
        child->setSize(mSize);
        mScroll = 0;
    }
    child->performLayout(ctx);
}

Vector2i LutScrollPanel::preferredSize(NVGcontext* ctx) const {
    if (mChildren.empty()) return Vector2i(0, 0);
    return mChildren[0]->preferredSize(ctx) + Vector2i(kScrollGutter, 0);
}

bool LutScrollPanel::mouseDragEvent(const Vector2i& p, const Vector2i& rel, int button,
                                    int modifiers) {
    if (mChildren.empty() || mChildPreferredHeight <= mSize.y())
        return Widget::mouseDragEvent(p, rel, button, modifiers);
    mScroll = dragScroll(mScroll, mSize.y(), mChildPreferredHeight, float(rel.y()));
    mUpdateLayout = true;
    return true;
}

bool LutScrollPanel::scrollEvent(const Vector2i& p, const Vector2f& rel) {
    if (mChildren.empty() || mChildPreferredHeight <= mSize.y()) return Widget::scrollEvent(p, rel);
    mScroll = wheelScroll(mScroll, mSize.y(), mChildPreferredHeight, rel.y());
    mUpdateLayout = true;
    return true;
}

void LutScrollPanel::draw(NVGcontext* ctx) {
    if (mChildren.empty()) return;

    // The panel takes its height from the native window on every frame.
    Window* win = window();
    if (auto* screen = dynamic_cast<Screen*>(win->parent()); screen && screen->glfwWindow()) {
        const int height = heightInWindow(ctx);
        setHeight(height);
        placeFollowers(height);  // the window's height may have changed since the last layout
    }

    Widget* child = mChildren[0];
    child->setPosition(Vector2i(0, contentOffsetY(mScroll, mChildPreferredHeight, mSize.y())));
    mChildPreferredHeight = child->preferredSize(ctx).y();
    if (mUpdateLayout) child->performLayout(ctx);

    nvgSave(ctx);
    nvgTranslate(ctx, mPos.x(), mPos.y());
    nvgIntersectScissor(ctx, 0, 0, mSize.x(), mSize.y());
    if (child->visible()) child->draw(ctx);
    nvgRestore(ctx);

    if (mChildPreferredHeight <= mSize.y()) return;

    const float x = float(mPos.x()), y = float(mPos.y());
    const float w = float(mSize.x()), h = float(mSize.y());
    const float thumb = drawnThumbFraction(mSize.y(), mChildPreferredHeight) * h;
    const float along = (h - 8 - thumb) * mScroll;

    NVGpaint track = nvgBoxGradient(ctx, x + w - 11, y + 5, 8, h - 8, 3, 4, Color(0, 32),
                                    Color(0, 92));
    nvgBeginPath(ctx);
    nvgRoundedRect(ctx, x + w - 12, y + 4, 8, h - 8, 3);
    nvgFillPaint(ctx, track);
    nvgFill(ctx);

    NVGpaint knob = nvgBoxGradient(ctx, x + w - 13, y + 4 + along - 1, 8, thumb, 3, 4,
                                   Color(220, 100), Color(128, 100));
    nvgBeginPath(ctx);
    nvgRoundedRect(ctx, x + w - 11, y + 5 + along, 6, thumb - 2, 2);
    nvgFillPaint(ctx, knob);
    nvgFill(ctx);
}

int LutScrollPanel::heightInWindow(NVGcontext* ctx) {
    Window* win = window();
    auto* screen = win ? dynamic_cast<Screen*>(win->parent()) : nullptr;
    if (!screen || !screen->glfwWindow()) return mSize.y();
    int winW = 0, winH = 0;
    glfwGetWindowSize(screen->glfwWindow(), &winW, &winH);
    // The widgets after the panel in a column (a note under the grid) keep
    // their room below it.
    int below = 0;
    for (const Widget* follower : followers())
        below += columnSpacing() + (follower->fixedHeight() ? follower->fixedHeight() : follower->preferredSize(ctx).y());
    // A note taller than the window leaves the panel no room, not a negative one.
    return std::max(0, panelHeightForWindow(winH) - below);
}

std::vector<Widget*> LutScrollPanel::followers() const {
    std::vector<Widget*> after;
    if (!parent()) return after;
    bool found = false;
    for (Widget* sibling : parent()->children()) {
        if (found && sibling->visible()) after.push_back(sibling);
        found = found || sibling == this;
    }
    return after;
}

int LutScrollPanel::columnSpacing() const {
    const auto* box = parent() ? dynamic_cast<const BoxLayout*>(parent()->layout()) : nullptr;
    return box ? box->spacing() : 0;
}

void LutScrollPanel::placeFollowers(int panelHeight) {
    int y = mPos.y() + panelHeight + columnSpacing();
    for (Widget* follower : followers()) {
        follower->setPosition(Vector2i(follower->position().x(), y));
        y += follower->height() + columnSpacing();
    }
}

void LutColumnLayout::performLayout(NVGcontext* ctx, Widget* widget) const {
    BoxLayout::performLayout(ctx, widget);
    for (Widget* child : widget->children())
        if (auto* panel = dynamic_cast<LutScrollPanel*>(child)) panel->placeFollowers(panel->heightInWindow(ctx));
}

bool LutScrollPanel::scrollToCurrent() {
    if (mChildren.empty()) return false;
    Widget* grid = mChildren[0];
    const int count = grid->childCount();
    if (count < 12) return false;
    for (int i = 0; i < count; ++i) {
        Widget* item = grid->childAt(i);
        if (item->childCount() == 0) continue;
        auto* view = dynamic_cast<LutImageView*>(item->childAt(0));
        if (!view || !view->mPicked) continue;
        mScroll = scrollForPickedItem(count, i).value_or(mScroll);
        return true;
    }
    return false;
}

}  // namespace nanogui
