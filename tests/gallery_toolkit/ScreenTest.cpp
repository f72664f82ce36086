// drawall, key broadcast, Shift buttons, the window that fills its native
// window, and the order in which a screen lets go of its widgets.
#include "ToolkitFixture.h"

#include <nanogui/label.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace nanogui;
using namespace toolkit_test;

namespace {

// Asks for a redraw from inside its own draw, as a long listing does.
class NestedDrawer : public Widget {
public:
    using Widget::Widget;
    void draw(NVGcontext* ctx) override {
        results.push_back(drawall());
        Widget::draw(ctx);
    }
    std::vector<bool> results;
};

// Records which GL context is current when it goes away.
class ContextProbe : public Widget {
public:
    ContextProbe(Widget* parent, GLFWwindow** seen) : Widget(parent), mSeen(seen) {}
    ~ContextProbe() override { *mSeen = glfwGetCurrentContext(); }

private:
    GLFWwindow** mSeen;
};

}  // namespace

TEST_F(GalleryToolkitTest, DrawallDrawsUntilCloseAndIgnoresNestedCalls) {
    auto* nested = new NestedDrawer(toolbar);
    nested->setFixedSize(Vector2i(10, 10));
    screen->performLayout();

    EXPECT_TRUE(drawall());
    EXPECT_TRUE(drawall());
    EXPECT_EQ(screen->frames, 2);  // the nested calls drew no extra frame
    EXPECT_EQ(nested->results, (std::vector<bool>{true, true}));

    glfwSetWindowShouldClose(screen->glfwWindow(), 1);
    EXPECT_FALSE(drawall());
    EXPECT_FALSE(screen->visible());
    EXPECT_EQ(glfwGetWindowAttrib(screen->glfwWindow(), GLFW_VISIBLE), 0);
    EXPECT_FALSE(drawall());
    EXPECT_EQ(screen->frames, 2);
}

TEST_F(GalleryToolkitTest, HiddenFirstScreenStopsTheOthers) {
    ref<CountingScreen> second = new CountingScreen(Vector2i(200, 100), "second", false);
    second->setVisible(true);
    EXPECT_TRUE(drawall());
    EXPECT_EQ(second->frames, 1);
    screen->setVisible(false);
    EXPECT_FALSE(drawall());
    EXPECT_EQ(second->frames, 1);
}

TEST_F(GalleryToolkitTest, ShiftKeyReachesUnfocusedButtonsAndChoosesTheCallback) {
    auto* star = new LutButton(toolbar, "star");
    auto* plain = new LutButton(toolbar, "plain");
    auto* box = addTextBox("path");
    auto* other = addTextBox("xyz");
    screen->performLayout();
    int normal = 0, shifted = 0, plainClicks = 0;
    star->setCallback([&] { ++normal; });
    star->setShiftCallback([&] { ++shifted; });
    plain->setCallback([&] { ++plainClicks; });

    click(centre(box));  // the text box has the focus, not the buttons
    ASSERT_TRUE(box->focused());
    ASSERT_FALSE(star->focused());

    key(GLFW_KEY_LEFT_SHIFT, GLFW_PRESS, GLFW_MOD_SHIFT);
    EXPECT_TRUE(star->shiftPressed());
    EXPECT_TRUE(plain->shiftPressed());
    EXPECT_EQ(box->value(), "path");
    key(GLFW_KEY_LEFT_SHIFT, GLFW_REPEAT, GLFW_MOD_SHIFT);
    EXPECT_TRUE(star->shiftPressed());
    // Editing keys still reach the focused box, and only that one.
    drawall();
    key(GLFW_KEY_END, GLFW_PRESS);
    key(GLFW_KEY_BACKSPACE, GLFW_PRESS);
    EXPECT_EQ(box->value(), "path");  // not yet committed
    key(GLFW_KEY_ENTER, GLFW_PRESS);
    EXPECT_EQ(box->value(), "pat");
    EXPECT_EQ(other->value(), "xyz");

    click(centre(star), GLFW_MOUSE_BUTTON_LEFT, GLFW_MOD_SHIFT);
    EXPECT_EQ(shifted, 1);
    EXPECT_EQ(normal, 0);
    click(centre(plain), GLFW_MOUSE_BUTTON_LEFT, GLFW_MOD_SHIFT);  // no shift callback
    EXPECT_EQ(plainClicks, 1);

    // Left held, right released: one flag for both keys.
    key(GLFW_KEY_RIGHT_SHIFT, GLFW_RELEASE);
    EXPECT_FALSE(star->shiftPressed());
    click(centre(star));
    EXPECT_EQ(normal, 1);
    EXPECT_EQ(shifted, 1);

    // Modifier bits alone (Shift pressed while the window had no key events).
    click(centre(star), GLFW_MOUSE_BUTTON_LEFT, GLFW_MOD_SHIFT);
    EXPECT_EQ(normal, 2);

    // A disabled button keeps tracking Shift but does nothing on a click.
    star->setEnabled(false);
    key(GLFW_KEY_RIGHT_SHIFT, GLFW_PRESS);
    EXPECT_TRUE(star->shiftPressed());
    click(centre(star));
    EXPECT_EQ(normal + shifted, 3);
    star->setEnabled(true);

    drag(centre(star), Vector2i(900, 650));  // released outside: neither callback
    EXPECT_EQ(normal + shifted, 3);
    EXPECT_FALSE(star->pushed());

    // The broadcast itself reports nothing, though a button acted on the key.
    EXPECT_FALSE(screen->keyboardEvent(GLFW_KEY_LEFT_SHIFT, 0, GLFW_RELEASE, 0));
    EXPECT_FALSE(star->shiftPressed());
}

TEST_F(GalleryToolkitTest, WindowFillsItsNativeWindowAndIsNeverDragged) {
    new Label(toolbar, "label");
    screen->performLayout();
    drawall();
    EXPECT_EQ(window->size(), Vector2i(1000, 700));
    ASSERT_TRUE(resizeNative(800, 500));
    drawall();
    EXPECT_EQ(window->size(), Vector2i(800, 500));
    EXPECT_EQ(toolbar->size(), Vector2i(800, 500));

    drag(Vector2i(400, 400), Vector2i(500, 200));  // on the background
    EXPECT_EQ(window->position(), Vector2i(0, 0));

    // No drop shadow and no header: the window's fill reaches the corners,
    // in the very frame after a layout pass shrank the window.
    screen->performLayout();
    Capture shot = captureScreen(*screen);
    const Vector4i inside = shot.at(400, 400);
    EXPECT_NE(inside.head<3>(), (screen->background().head<3>() * 255).cast<int>());
    EXPECT_EQ(shot.at(1, 1).head<3>(), inside.head<3>());
    EXPECT_EQ(shot.at(798, 498).head<3>(), inside.head<3>());

    removeTrailingChildren(window, 0);  // a window without children draws too
    EXPECT_TRUE(drawall());
    EXPECT_EQ(window->size(), Vector2i(800, 500));
}

TEST_F(GalleryToolkitTest, ScreenReleasesWidgetsWithItsOwnContextCurrent) {
    GLFWwindow* seen = nullptr;
    new ContextProbe(toolbar, &seen);
    addGrid(3);  // thumbnails own textures in this screen's context
    GLFWwindow* mine = screen->glfwWindow();

    ref<CountingScreen> other = new CountingScreen(Vector2i(200, 100), "other", false);
    glfwMakeContextCurrent(other->glfwWindow());
    screen = nullptr;
    EXPECT_EQ(seen, mine);
}

// Work deferred from an event runs at the next runDeferred, in order; work it
// defers waits for the call after; an exception is reported, not thrown, and
// the rest still runs.
TEST_F(GalleryToolkitTest, DeferredWorkRunsInOrderAtTheNextTurn) {
    std::vector<std::string> log;
    screen->defer([&] { log.push_back("first"); });
    screen->defer([&] {
        log.push_back("second");
        screen->defer([&] { log.push_back("asked meanwhile"); });
    });
    screen->defer([] { throw std::runtime_error("a listing failed"); });
    screen->defer([&] { log.push_back("after the failure"); });
    EXPECT_TRUE(log.empty());

    testing::internal::CaptureStderr();
    screen->runDeferred();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("a listing failed"), std::string::npos);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "second", "after the failure"}));
    EXPECT_TRUE(screen->hasDeferred());
    screen->runDeferred();
    EXPECT_EQ(log.back(), "asked meanwhile");
    EXPECT_FALSE(screen->hasDeferred());
}
