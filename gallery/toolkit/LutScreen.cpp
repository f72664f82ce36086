#include "gallery/toolkit/Toolkit.h"

#include <algorithm>
#include <iostream>
#include <vector>

namespace nanogui {

namespace {

// Screens that drawall draws, in the order they were made. Our own list: the
// toolkit's registry is internal to its library.
std::vector<LutScreen*>& screens() {
    static std::vector<LutScreen*> list;
    return list;
}

// True while drawall runs: widgets may ask for a redraw from inside a draw.
bool drawing = false;

bool registered(LutScreen* screen) {
    auto& list = screens();
    return std::find(list.begin(), list.end(), screen) != list.end();
}

}  // namespace

bool drawall() {
    if (drawing) return true;
    drawing = true;
    struct Reset {
        ~Reset() { drawing = false; }
    } reset;

    const std::vector<LutScreen*> list = screens();
    for (LutScreen* screen : list) {
        if (!registered(screen)) continue;  // went away during an earlier draw
        if (!screen->visible()) return false;
        if (glfwWindowShouldClose(screen->glfwWindow())) {
            screen->setVisible(false);
            return false;
        }
        glfwMakeContextCurrent(screen->glfwWindow());
        screen->drawAll();
    }
    return !list.empty();
}

void broadcastKey(Widget* root, int key, int scancode, int action, int modifiers) {
    // Handlers may rebuild the tree: hold every child until the walk is done.
    std::vector<ref<Widget>> children(root->children().begin(), root->children().end());
    for (ref<Widget>& child : children) {
        if (root->childIndex(child.get()) < 0) continue;  // removed by an earlier handler
        child->keyboardEvent(key, scancode, action, modifiers);
        broadcastKey(child.get(), key, scancode, action, modifiers);
    }
}

void removeTrailingChildren(Widget* parent, int keep) {
    if (LutScreen* screen = LutScreen::of(parent)) screen->clearFocusPath();
    while (parent->childCount() > std::max(keep, 0)) parent->removeChild(parent->childCount() - 1);
}

LutScreen::LutScreen(const Vector2i& size, const std::string& caption, bool resizable,
                     bool fullscreen, int colorBits, int alphaBits, int depthBits,
                     int stencilBits, int nSamples, unsigned int glMajor, unsigned int glMinor)
    : Screen(size, caption, resizable, fullscreen, colorBits, alphaBits, depthBits, stencilBits,
             nSamples, glMajor, glMinor, false, false) {
    screens().push_back(this);
}

LutScreen::~LutScreen() {
    auto& list = screens();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    // The toolkit's destructor deletes the context before the widget tree lets
    // go of its children; textures would then be deleted without a context.
    if (mGLFWWindow) glfwMakeContextCurrent(mGLFWWindow);
    mDeferred.clear();  // work for widgets that go now
    mFocusPath.clear();
    mDragActive = false;
    mDragWidget = nullptr;
    while (childCount() > 0) removeChild(childCount() - 1);
}

bool LutScreen::keyboardEvent(int key, int scancode, int action, int modifiers) {
    broadcastKey(this, key, scancode, action, modifiers);
    return false;
}

void LutScreen::clearFocusPath() {
    updateFocus(nullptr);
    mDragActive = false;
    mDragWidget = nullptr;
}

void LutScreen::defer(std::function<void()> work) {
    if (work) mDeferred.push_back(std::move(work));
}

void LutScreen::runDeferred() {
    std::vector<std::function<void()>> due;
    due.swap(mDeferred);
    for (std::function<void()>& work : due) {
        try {
            work();
        } catch (const std::exception& e) {
            std::cerr << "Caught exception in event handler: " << e.what() << std::endl;
        } catch (...) {
            std::cerr << "Caught unknown exception in event handler" << std::endl;
        }
    }
}

LutScreen* LutScreen::of(Widget* widget) {
    for (Widget* w = widget; w; w = w->parent())
        if (auto* screen = dynamic_cast<LutScreen*>(w)) return screen;
    return nullptr;
}

}  // namespace nanogui
