// The gallery thumbnail: size, picture, frame and mark by pixel; picking,
// select and double-click timing with an injected clock; rebuilding the grid
// from inside a click.
#include "ToolkitFixture.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

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
    // A folder icon's tile: transparent black round the icon.
    LutImageView* icon = g.views[2];
    icon->bindImage(solidTexture(512, 288, {0, 0, 0, 0}, {0, 0, 200, 255}).release());

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
    // The window shows through the transparent part of a tile.
    const Vector2i c = icon->absolutePosition();
    EXPECT_EQ(shot.at(c.x() + s.x() / 2, c.y() + s.y() / 4).head<3>(), shot.at(500, 690).head<3>());
    EXPECT_TRUE(near(shot.at(c.x() + s.x() / 2, c.y() + 3 * s.y() / 4), 0, 0, 200));

    // The next frame after a resize lays the grid out for the new width.
    ASSERT_TRUE(resizeNative(700, 600));
    drawall();
    EXPECT_EQ(plain->size(), Vector2i(int(512 * ((700 / 3.0f - 15) / 512)),
                                      int(288 * ((700 / 3.0f - 15) / 512))));
    EXPECT_LT(g.views[1]->absolutePosition().x(), b.x());

    // Narrower than 45 pixels: the scale stays positive.
    ASSERT_TRUE(resizeNative(40, 300));
    drawall();
    EXPECT_GT(plain->scale(), 0.0f);
    EXPECT_GE(plain->size().minCoeff(), 0);
}

// Views of one context share one image program, and may share their picture
// and mark: removing some of them leaves the others drawing both.
TEST_F(GalleryToolkitTest, ViewsThatShareTheProgramPictureAndMarkOutliveEachOther) {
    removeTrailingChildren(window, 1);
    auto* panel = new LutScrollPanel(window);
    auto* grid = new Widget(panel);
    grid->setLayout(new GridLayout(Orientation::Horizontal, 3, Alignment::Middle, 3, 3));
    const auto mark = std::make_shared<const GlTexture>(solidTexture(256, 256, {255, 0, 0, 255}));
    const auto picture = std::make_shared<const GlTexture>(solidTexture(512, 288, {0, 200, 0, 255}));
    std::vector<LutImageView*> views;
    for (int i = 0; i < 3; ++i) {
        auto* cell = new Widget(grid);
        cell->setLayout(new BoxLayout(Orientation::Vertical, Alignment::Fill, 0, 0));
        auto* view = new LutImageView(cell, picture, mark, "item" + std::to_string(i), 1, false);
        view->mFavorite = true;
        views.push_back(view);
    }
    EXPECT_NE(views[0]->imageProgram(), 0u);
    EXPECT_EQ(views[0]->imageProgram(), views[2]->imageProgram());
    screen->performLayout();
    drawall();
    grid->removeChild(0);
    grid->removeChild(0);
    screen->performLayout();
    drawall();
    drawall();

    const Capture shot = captureScreen(*screen);
    const Vector2i p = views[2]->absolutePosition(), s = views[2]->size();
    EXPECT_TRUE(near(shot.at(p.x() + 15, p.y() + 15), 255, 0, 0));
    EXPECT_TRUE(near(shot.at(p.x() + s.x() / 2, p.y() + s.y() / 2), 0, 200, 0))
        << shot.at(p.x() + s.x() / 2, p.y() + s.y() / 2).transpose() << " at " << p.transpose() << " size "
        << s.transpose();
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
        return std::exchange(log, {});
    };
    using Log = std::vector<std::string>;

    EXPECT_EQ(at(a, 0), Log{"select:item0"});  // first release: never a double click
    EXPECT_TRUE(a->isPicked());
    EXPECT_EQ(at(a, 5), Log{"select:"});  // 5 ms: a bounce, not a double click; unpicks
    EXPECT_FALSE(a->isPicked());
    EXPECT_EQ(at(a, 300), (Log{"select:item0", "open:item0"}));
    EXPECT_EQ(at(a, 800), Log{"select:"});  // too slow

    at(a, 1000);
    EXPECT_EQ(at(b, 300), (Log{"select:item1", "open:item1"}));  // across views
    EXPECT_TRUE(b->isPicked());
    EXPECT_FALSE(a->isPicked());

    // A folder opens on a single click and leaves pick and timing alone.
    EXPECT_EQ(at(g.views[2], 10), Log{"open:item2"});
    EXPECT_TRUE(b->isPicked());
    // 805 ms after the last counted release: not a double click.
    EXPECT_EQ(at(b, 795), Log{"select:"});
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

// The gallery lists a folder from a click on a folder thumbnail, and a
// button may rebuild its own row: the widget clicked goes away inside its
// click. Plain removal, as a caller might write it: the clicked widget keeps
// the focus path clean and stays alive until its handler returns. Run under
// ASan.
TEST_F(GalleryToolkitTest, RemovingWidgetsFromTheirOwnClickIsSafe) {
    auto removeAllButToolbar = [&] {
        while (window->childCount() > 1) window->removeChild(window->childCount() - 1);
    };
    auto firstView = [&] { return window->childAt(1)->childAt(0)->childAt(0)->childAt(0); };
    int rebuilds = 0;
    std::function<void()> build = [&] {
        removeAllButToolbar();
        for (LutImageView* v : addGrid(4, -1, {64, 36}, LutImageView::kFolder).views) {
            v->mDoubleClickCallback = [&] { ++rebuilds; build(); };
            v->mRightClickCallback = [&] { ++rebuilds; removeTrailingChildren(window, 1); };
        }
        drawall();
    };
    build();
    for (int i = 0; i < 3; ++i) {
        click(centre(firstView()));
        drawall();
    }
    EXPECT_EQ(rebuilds, 3);
    key(GLFW_KEY_A, GLFW_PRESS);

    // A right click that removes the grid, then clicks where it was.
    const Vector2i where = centre(firstView());
    click(where, GLFW_MOUSE_BUTTON_RIGHT);
    EXPECT_EQ(window->childCount(), 1);
    click(where);
    click(where, GLFW_MOUSE_BUTTON_RIGHT);
    drawall();
    EXPECT_EQ(rebuilds, 4);

    std::function<void()> buildRow = [&] {
        auto* button = new LutButton(new Widget(window), "rebuild");
        button->setCallback([&] { ++rebuilds; removeAllButToolbar(); buildRow(); });
        window->childAt(1)->setLayout(new BoxLayout(Orientation::Horizontal));
        screen->performLayout();
    };
    buildRow();
    for (int i = 0; i < 3; ++i) {
        click(centre(window->childAt(1)->childAt(0)));
        drawall();
    }
    EXPECT_EQ(rebuilds, 7);
}
