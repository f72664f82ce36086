// The gallery thumbnail: size, picture, frame and mark by pixel; picking,
// select and double-click timing with an injected clock; rebuilding the grid
// from inside a click.
#include "ToolkitFixture.h"

#include <string>

using namespace nanogui;
using namespace toolkit_test;

namespace {

bool near(const Vector4i& got, int r, int g, int b, int tolerance = 3) {
    return std::abs(got[0] - r) <= tolerance && std::abs(got[1] - g) <= tolerance &&
           std::abs(got[2] - b) <= tolerance;
}

}  // namespace

TEST_F(GalleryToolkitTest, ThumbnailFollowsWindowAndDrawsPictureFrameAndMark) {
    Grid g = addGrid(3, /*picked=*/1);
    LutImageView* plain = g.views[0];
    LutImageView* picked = g.views[1];
    EXPECT_EQ(plain->preferredSize(screen->nvgContext()), Vector2i(0, 0));  // never drawn
    picked->mFavorite = true;

    drawall();
    EXPECT_NEAR(plain->scale(), (1000 / 3.0f - 15.0f) / 512.0f, 1e-4);
    EXPECT_EQ(plain->size(), Vector2i(318, 179));
    EXPECT_EQ(plain->preferredSize(screen->nvgContext()), Vector2i(318, 179));
    EXPECT_TRUE(picked->isPicked());
    EXPECT_FALSE(plain->isPicked());

    Capture shot = captureScreen(*screen);
    const Vector2i a = plain->absolutePosition();
    const Vector2i b = picked->absolutePosition();
    const Vector2i s = plain->size();
    // The first data rows (blue) show at the bottom of the view.
    EXPECT_TRUE(near(shot.at(a.x() + s.x() / 2, a.y() + s.y() / 4), 0, 200, 0));
    EXPECT_TRUE(near(shot.at(a.x() + s.x() / 2, a.y() + 3 * s.y() / 4), 0, 0, 200));
    // Picked: a white band just inside the picture's edge.
    EXPECT_TRUE(near(shot.at(b.x() + 2, b.y() + s.y() / 4), 255, 255, 255));
    EXPECT_TRUE(near(shot.at(b.x() + s.x() - 3, b.y() + s.y() / 4), 255, 255, 255));
    EXPECT_TRUE(near(shot.at(b.x() + 8, b.y() + s.y() / 4), 0, 200, 0));
    EXPECT_TRUE(near(shot.at(a.x() + 2, a.y() + s.y() / 4), 0, 200, 0));
    // Favourite: a 256-texel mark at a fifth of the picture's scale (about
    // 31.8 pixels) from (5, 5).
    EXPECT_TRUE(near(shot.at(b.x() + 8, b.y() + 8), 255, 0, 0));
    EXPECT_TRUE(near(shot.at(b.x() + 35, b.y() + 35), 255, 0, 0));
    EXPECT_TRUE(near(shot.at(b.x() + 39, b.y() + 39), 0, 200, 0));
    EXPECT_TRUE(near(shot.at(a.x() + 20, a.y() + 20), 0, 200, 0));

    // The next frame after a resize lays the grid out for the new width.
    ASSERT_TRUE(resizeNative(700, 600));
    drawall();
    EXPECT_EQ(plain->size(), Vector2i(int(512 * ((700 / 3.0f - 15) / 512)),
                                      int(288 * ((700 / 3.0f - 15) / 512))));
    EXPECT_LT(g.views[1]->absolutePosition().x(), b.x());
}

TEST_F(GalleryToolkitTest, NarrowWindowKeepsThumbnailsPositive) {
    Grid g = addGrid(2);
    ASSERT_TRUE(resizeNative(40, 300));
    drawall();
    EXPECT_GT(g.views[0]->scale(), 0.0f);
    EXPECT_GE(g.views[0]->size().minCoeff(), 0);
}

TEST_F(GalleryToolkitTest, ClicksPickSelectAndTimeDoubleClicks) {
    std::int64_t nowUs = 1'000'000'000;
    LutImageView::setClock([&] { return nowUs; });
    Grid g = addGrid(3);
    std::vector<std::string> log;
    for (LutImageView* v : g.views) {
        v->mSelectCallback = [&log](std::string item) { log.push_back("select:" + item); };
        v->mDoubleClickCallback = [&log, v] { log.push_back("open:" + v->mCaption); };
    }
    g.views[2]->mKind = LutImageView::kFolder;
    drawall();
    LutImageView* a = g.views[0];
    LutImageView* b = g.views[1];
    auto at = [&](LutImageView* v, int ms) {
        nowUs += std::int64_t(ms) * 1000;
        click(centre(v));
    };

    at(a, 0);  // first release: never a double click
    EXPECT_EQ(log, (std::vector<std::string>{"select:item0"}));
    EXPECT_TRUE(a->isPicked());
    at(a, 5);  // 5 ms: a bounce, not a double click; unpicks
    EXPECT_EQ(log.back(), "select:");
    EXPECT_FALSE(a->isPicked());
    log.clear();
    at(a, 300);  // pick, then open
    EXPECT_EQ(log, (std::vector<std::string>{"select:item0", "open:item0"}));
    log.clear();
    at(a, 800);  // too slow
    EXPECT_EQ(log, (std::vector<std::string>{"select:"}));
    log.clear();

    at(a, 1000);
    at(b, 300);  // across views: a double click on the second
    EXPECT_EQ(log, (std::vector<std::string>{"select:item0", "select:item1", "open:item1"}));
    EXPECT_TRUE(b->isPicked());
    EXPECT_FALSE(a->isPicked());
    log.clear();

    // A folder opens on a single click and leaves pick and timing alone.
    at(g.views[2], 10);
    EXPECT_EQ(log, (std::vector<std::string>{"open:item2"}));
    EXPECT_TRUE(b->isPicked());
    log.clear();
    at(b, 795);  // 805 ms after the last counted release: not a double click
    EXPECT_EQ(log, (std::vector<std::string>{"select:"}));
}

TEST_F(GalleryToolkitTest, RightAndOtherButtons) {
    Grid g = addGrid(2, -1, {512, 288}, LutImageView::kFolder);
    int right = 0;
    g.views[0]->mRightClickCallback = [&] { ++right; };
    drawall();
    LutImageView* v = g.views[0];
    EXPECT_FALSE(v->mouseButtonEvent(Vector2i(1, 1), GLFW_MOUSE_BUTTON_RIGHT, true, 0));
    EXPECT_EQ(right, 0);
    click(centre(v), GLFW_MOUSE_BUTTON_RIGHT);
    EXPECT_EQ(right, 1);
    EXPECT_FALSE(g.views[1]->mouseButtonEvent(Vector2i(1, 1), GLFW_MOUSE_BUTTON_RIGHT, false, 0));
    EXPECT_FALSE(v->mouseButtonEvent(Vector2i(1, 1), GLFW_MOUSE_BUTTON_MIDDLE, false, 0));
    // Without an activate action the left button is ignored entirely.
    EXPECT_FALSE(v->mouseButtonEvent(Vector2i(1, 1), GLFW_MOUSE_BUTTON_LEFT, false, 0));
    EXPECT_FALSE(v->isPicked());
}

TEST_F(GalleryToolkitTest, FirstViewOfANewGridClearsAnOldFrame) {
    Grid first = addGrid(3, 2);
    ASSERT_TRUE(first.views[2]->isPicked());
    // A second grid built beside the first, nothing picked in it.
    auto* grid = new Widget(window);
    auto* cell = new Widget(grid);
    auto* view = new LutImageView(cell, solidTexture(4, 4, {1, 2, 3, 255}).release(),
                                  solidTexture(4, 4, {1, 2, 3, 255}).release(), "x", 1, false);
    EXPECT_FALSE(first.views[2]->isPicked());
    EXPECT_FALSE(view->isPicked());
    EXPECT_TRUE(first.views[2]->mPicked);  // built as current: stays so
}

// The gallery lists a folder from a click on a folder thumbnail: the grid
// that holds the clicked view goes away inside the click. Run under ASan.
TEST_F(GalleryToolkitTest, RebuildingTheGridFromItsOwnClickIsSafe) {
    int rebuilds = 0;
    std::function<void()> build = [&] {
        // Plain removal, as a caller might write it: the view itself keeps
        // the focus path clean and stays alive until its handler returns.
        while (window->childCount() > 1) window->removeChild(window->childCount() - 1);
        Grid g = addGrid(4, -1, {64, 36}, LutImageView::kFolder);
        for (LutImageView* v : g.views) {
            v->mDoubleClickCallback = [&] {
                ++rebuilds;
                build();
            };
            v->mRightClickCallback = [&] {
                ++rebuilds;
                removeTrailingChildren(window, 1);
            };
        }
        screen->performLayout();
        drawall();
    };
    build();
    for (int i = 0; i < 3; ++i) {
        auto* panel = dynamic_cast<LutScrollPanel*>(window->childAt(1));
        ASSERT_NE(panel, nullptr);
        Widget* first = panel->childAt(0)->childAt(0)->childAt(0);
        click(centre(first));
        drawall();
    }
    EXPECT_EQ(rebuilds, 3);
    key(GLFW_KEY_A, GLFW_PRESS);

    // A right click that removes the grid, then clicks where it was.
    auto* panel = dynamic_cast<LutScrollPanel*>(window->childAt(1));
    const Vector2i where = centre(panel->childAt(0)->childAt(0)->childAt(0));
    click(where, GLFW_MOUSE_BUTTON_RIGHT);
    EXPECT_EQ(window->childCount(), 1);
    click(where);
    click(where, GLFW_MOUSE_BUTTON_RIGHT);
    drawall();
    EXPECT_EQ(rebuilds, 4);
}

TEST_F(GalleryToolkitTest, ButtonThatRemovesItselfIsSafe) {
    int clicks = 0;
    std::function<void()> build = [&] {
        auto* row = new Widget(window);
        row->setLayout(new BoxLayout(Orientation::Horizontal, Alignment::Middle, 10, 10));
        auto* button = new LutButton(row, "rebuild");
        button->setCallback([&] {
            ++clicks;
            while (window->childCount() > 1) window->removeChild(window->childCount() - 1);
            build();
        });
        screen->performLayout();
    };
    build();
    for (int i = 0; i < 3; ++i) {
        click(centre(window->childAt(1)->childAt(0)));
        drawall();
    }
    EXPECT_EQ(clicks, 3);
}
