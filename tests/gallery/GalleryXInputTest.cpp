// The LUT Manager under a real mouse (XTest through the X server and the
// window's own modal loop): presses, drags and releases that change the page
// while the toolkit still handles them. Each ends with the window working;
// under the sanitizer build a widget freed inside its own event would end
// the run with a report.
#include <malloc.h>
#include <nanogui/label.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "FakeService.h"
#include "GalleryTestEnv.h"
#include "desktop/Settings.h"
#include "gallery/GalleryOnline.h"
#include "online/OnlineAPI.h"
#include "XInput.h"  // last: X defines plain words as macros

using namespace nanogui;

// Freed memory is overwritten at once, so that a widget that the prebuilt
// (uninstrumented) toolkit reads after it was freed makes that read go
// wrong, instead of finding the old values still there.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "max_free_fill_size=4096:free_fill_byte=165";
}

namespace gallery_test {
namespace {

// A person at the X display. Each step runs on a turn of the window's modal
// loop once the pause before it is over, so that the loop handles the events
// between steps exactly as it does a real user's.
class XUser {
public:
    explicit XUser(LutGallery& gallery) : gallery_(gallery), display_(quillane::test::openDisplay()) {}
    bool ready() const { return display_ != nullptr; }

    void then(int pauseMs, std::function<void()> step) { steps_.push_back({pauseMs, std::move(step)}); }

    // Runs the window on `name` until every step has run (or a minute has gone), then closes it.
    void run(const std::string& name) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point begin = Clock::now();
        Clock::time_point due = begin + std::chrono::milliseconds(500);  // the window maps
        std::size_t next = 0;
        gallery_.onTurn = [&] {
            const Clock::time_point now = Clock::now();
            if (now - begin > std::chrono::minutes(1)) ADD_FAILURE() << "the steps did not end";
            if (next == steps_.size() || now - begin > std::chrono::minutes(1)) {
                gallery_.stop();
                return;
            }
            if (now < due) return;
            steps_[next].step();
            if (++next < steps_.size()) due = Clock::now() + std::chrono::milliseconds(steps_[next].pauseMs);
        };
        gallery_.start(name);
        gallery_.onTurn = nullptr;
        EXPECT_EQ(next, steps_.size()) << "steps left";
    }

    // The pointer to a point of the window in the toolkit's coordinates.
    void moveTo(const Vector2i& p) {
        int wx = 0, wy = 0;
        glfwGetWindowPos(gallery_.screen->glfwWindow(), &wx, &wy);
        quillane::test::pointerTo(display_.get(), wx + p.x() + 1, wy + p.y() + 2);  // the toolkit takes (1, 2) off
    }
    void press(unsigned button = 1) { quillane::test::mouseButton(display_.get(), button, true); }
    void release(unsigned button = 1) { quillane::test::mouseButton(display_.get(), button, false); }

private:
    struct Step {
        int pauseMs;
        std::function<void()> step;
    };
    LutGallery& gallery_;
    quillane::test::DisplayHandle display_;
    std::vector<Step> steps_;
};

Vector2i centreOf(const Widget* w) { return w->absolutePosition() + w->size() / 2; }

// Any widget of the tree that satisfies `match`.
Widget* findIn(Widget* root, const std::function<bool(Widget*)>& match) {
    if (!root) return nullptr;
    if (match(root)) return root;
    for (Widget* child : root->children())
        if (Widget* found = findIn(child, match)) return found;
    return nullptr;
}

// The account form's Login button, when the form is shown.
Widget* loginButton(Widget* root) {
    return findIn(root, [](Widget* w) {
        auto* button = dynamic_cast<LutButton*>(w);
        return button && button->caption() == "Login";
    });
}

class GalleryXInput : public GalleryTest {
protected:
    GalleryXInput() {
        LutImageView::setClock(nullptr);  // real double clicks
        mallopt(M_PERTURB, 165);          // much the same without the sanitizer
    }
    ~GalleryXInput() override { mallopt(M_PERTURB, 0); }

    // The widget the toolkit finds under p: where a release lands.
    Widget* under(const Vector2i& p) const { return gallery->screen->findWidget(p); }
};

TEST_F(GalleryXInput, PressOnAFolderDragOffAndReleaseOpensThatFolderOnce) {
    // Three folders fill the first row; each holds two LUTs.
    const std::string root = folder("drag");
    for (const char* name : {"A", "B", "C"}) {
        std::filesystem::create_directories(root + "/" + name);
        writeCube(root + "/" + name + "/one.cube", 2, 1, 1, 1);
        writeCube(root + "/" + name + "/two.cube", 2, 0.5f, 1, 1);
    }
    writeCube(root + "/look.cube", 2, 1, 1, 1);

    XUser user(*gallery);
    ASSERT_TRUE(user.ready()) << "no X display";
    // Where the press starts (inside the first folder, near the edge it leaves by)
    // and the widget the pointer ends on, a few pixels away.
    struct Drag {
        const char* onto;
        std::function<Vector2i(LutImageView* first, LutImageView* second)> from, to;
        std::function<Widget*(LutImageView* first, LutImageView* second)> target;
    };
    const std::vector<Drag> drags = {
        {"its caption", [](LutImageView* a, LutImageView*) -> Vector2i { return a->absolutePosition() + a->size() - Vector2i(150, 3); },
         [](LutImageView* a, LutImageView*) -> Vector2i { return a->absolutePosition() + a->size() + Vector2i(-150, 4); },
         [](LutImageView* a, LutImageView*) { return a->parent()->childAt(1); }},
        {"the gap between cells",
         [](LutImageView* a, LutImageView*) -> Vector2i { return a->absolutePosition() + Vector2i(a->width() - 3, a->height() / 2); },
         [](LutImageView* a, LutImageView*) -> Vector2i { return a->absolutePosition() + Vector2i(a->width() + 1, a->height() / 2); },
         [](LutImageView* a, LutImageView*) { return a->parent()->parent(); }},
        {"the next folder",
         [](LutImageView* a, LutImageView*) -> Vector2i { return a->absolutePosition() + Vector2i(a->width() - 3, a->height() / 2); },
         [](LutImageView*, LutImageView* b) -> Vector2i { return b->absolutePosition() + Vector2i(3, b->height() / 2); },
         [](LutImageView*, LutImageView* b) { return static_cast<Widget*>(b); }},
    };
    std::string opened;
    for (const Drag& drag : drags) {
        user.then(100, [&, drag] {
            SCOPED_TRACE(drag.onto);
            gallery->paths[0] = root;
            gallery->choseFolder();  // the top folder, between drags (outside any event)
            ASSERT_GE(views().size(), 3u);
            LutImageView *first = views()[0], *second = views()[1];
            ASSERT_EQ(first->mKind, Folder);
            ASSERT_EQ(second->mKind, Folder);
            opened = first->mCaption;
            ASSERT_EQ(under(drag.from(first, second)), first);
            ASSERT_EQ(under(drag.to(first, second)), drag.target(first, second));
            user.moveTo(drag.from(first, second));
        });
        user.then(60, [&] { user.press(); });
        user.then(60, [&, drag] { user.moveTo(drag.to(views()[0], views()[1])); });
        user.then(60, [&] { user.release(); });
        user.then(500, [&, drag] {
            SCOPED_TRACE(drag.onto);
            EXPECT_EQ(gallery->pathBox->value(), opened);
            EXPECT_EQ(views().size(), 2u);
            EXPECT_TRUE(gallery->toolbarButtons[0]->enabled());
        });
    }
    // Still working: a click picks a LUT, and closing delivers it.
    std::string picked;
    user.then(100, [&] {
        ASSERT_FALSE(views().empty());
        picked = views()[0]->mCaption;
        user.moveTo(centreOf(views()[0]));
    });
    user.then(60, [&] { user.press(); });
    user.then(60, [&] { user.release(); });
    user.then(200, [&] { EXPECT_EQ(gallery->selection, picked); });
    user.run(root + "/look.cube");
    EXPECT_EQ(deliveredFiles, std::vector<std::string>{picked});
}

TEST_F(GalleryXInput, ADoubleClickOnAFolderAndAClickAtOnceWhereTheOldGridWasLeaveTheFolderShown) {
    // Six folders in two rows; the fifth holds one LUT, so that its grid has
    // nothing where the fifth folder was.
    const std::string root = folder("twice");
    for (int i = 0; i < 6; ++i) std::filesystem::create_directories(root + "/f" + std::to_string(i));
    XUser user(*gallery);
    ASSERT_TRUE(user.ready()) << "no X display";
    std::string target;
    user.then(0, [&] {
        ASSERT_EQ(views().size(), 6u);
        target = views()[4]->mCaption;
        writeCube(target + "/only.cube", 2, 1, 1, 1);
        user.moveTo(centreOf(views()[4]));
    });
    // Two clicks 150 ms apart, and a third straight after.
    for (int pause : {60, 20, 150, 20, 30, 20}) {
        const bool down = pause != 20;
        user.then(pause, [&, down] { down ? user.press() : user.release(); });
    }
    user.then(800, [&] {
        EXPECT_EQ(gallery->pathBox->value(), target);
        ASSERT_EQ(views().size(), 1u);
        EXPECT_EQ(gallery->selection, "");
        user.moveTo(centreOf(views()[0]));
    });
    user.then(60, [&] { user.press(); });
    user.then(60, [&] { user.release(); });
    user.then(200, [&] { EXPECT_EQ(gallery->selection, target + "/only.cube"); });
    user.run(root + "/none.cube");
    EXPECT_EQ(deliveredFiles, std::vector<std::string>{target + "/only.cube"});
}

// Right-button drags between two online LUTs, as a guest and signed in: a
// press on one view and a release on another is a click on neither; a right
// click after it still works (a guest gets the log-in form in the grid's
// place, a user one favourite request).
class GalleryXInputOnline : public GalleryXInput {
protected:
    GalleryXInputOnline() {
        resetProcessState();
        makeGallery();  // its client on the fake service
    }
    ~GalleryXInputOnline() override {
        gallery.reset();
        resetProcessState();
    }
    static void resetProcessState() {
        OnlineAPI::clearCash();
        noteFormLogin();
        accountFormGate() = LoginGate();
    }

    quillane::test::FakeService service;
    ScopedEnv url_{"QUILLANE_SERVICE_URL", service.url()};
    ScopedEnv ca_{"QUILLANE_SERVICE_CA", service.caFile()};
};

// Real clicks on the online button and at once on the account button, in one
// batch of events: the root is listed, then the form takes its place (toolbar
// work runs after the clicks, in their order; a form built inside its click
// would be replaced by the listing asked for before it).
TEST_F(GalleryXInputOnline, TheAccountButtonRightAfterTheOnlineButtonShowsTheForm) {
    service.setControl(R"({"listings": {"Film": [{"id": "42", "lutname": "Blue"}],
        "": [{"id": "-1", "lutname": "Film/", "folder": "Film"}]}})");
    XUser user(*gallery);
    ASSERT_TRUE(user.ready()) << "no X display";
    user.then(0, [&] {
        ASSERT_EQ(views().size(), 1u);
        for (int button : {4, 5}) {
            user.moveTo(centreOf(gallery->toolbarButtons[button]));
            user.press();
            user.release();
        }
        // Every event at the display before the loop takes the next batch.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    });
    user.then(1000, [&] {
        EXPECT_EQ(service.requestsTo("/lutbrowse.php").size(), 2u);  // the folder, then the root
        EXPECT_TRUE(views().empty()) << "the listing replaced the form";
        EXPECT_NE(loginButton(gallery->window), nullptr) << "no log-in form";
    });
    user.run("Film/Blue");
}

TEST_F(GalleryXInputOnline, ARightDragBetweenTwoLutsTogglesNeitherAndARightClickStillWorks) {
    service.setControl(R"({"accounts": {"ann@example.com": "pw"}, "listings": {
        "Film": [{"id": "42", "lutname": "Blue"}, {"id": "43", "lutname": "Red"}],
        "": [{"id": "-1", "lutname": "Film/", "folder": "Film"}]}})");
    for (const bool signedIn : {false, true}) {
        SCOPED_TRACE(signedIn ? "signed in" : "guest");
        if (signedIn) saveLoginPassword("ann@example.com", "pw");
        makeGallery();
        boxes.boxes.clear();
        XUser user(*gallery);
        ASSERT_TRUE(user.ready()) << "no X display";
        user.then(0, [&] {
            ASSERT_EQ(views().size(), 2u);
            ASSERT_EQ(under(centreOf(viewOf("Red:43"))), viewOf("Red:43"));
            user.moveTo(centreOf(viewOf("Blue:42")));
        });
        user.then(60, [&] { user.press(3); });
        user.then(60, [&] { user.moveTo(centreOf(viewOf("Red:43"))); });
        user.then(60, [&] { user.release(3); });
        user.then(500, [&] {
            EXPECT_TRUE(boxes.boxes.empty());
            ASSERT_EQ(views().size(), 2u) << "the grid was replaced";
            EXPECT_FALSE(viewOf("Blue:42")->mFavorite);
            EXPECT_FALSE(viewOf("Red:43")->mFavorite);
            EXPECT_EQ(service.requestsTo("/lutfavorite.php").size(), 0u);
            user.moveTo(centreOf(viewOf("Blue:42")));
        });
        user.then(60, [&] { user.press(3); });
        user.then(60, [&] { user.release(3); });
        user.then(500, [&] {
            if (signedIn) {
                EXPECT_TRUE(boxes.boxes.empty());
                ASSERT_EQ(views().size(), 2u);
                EXPECT_TRUE(viewOf("Blue:42")->mFavorite);
                EXPECT_FALSE(viewOf("Red:43")->mFavorite);
                return;
            }
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].messageText, "Favorite");
            EXPECT_TRUE(views().empty());
            EXPECT_NE(loginButton(gallery->window), nullptr) << "no log-in form";
            // Still working: the toolbar's online button lists the root.
            user.moveTo(centreOf(gallery->toolbarButtons[4]));
        });
        if (!signedIn) {
            user.then(60, [&] { user.press(); });
            user.then(60, [&] { user.release(); });
            user.then(500, [&] {
                EXPECT_EQ(gallery->pathBox->value(), "");
                ASSERT_EQ(views().size(), 1u);
                EXPECT_EQ(views()[0]->mCaption, "Film/:Film");
            });
        }
        user.run("Film/Blue");
        const auto favourites = service.requestsTo("/lutfavorite.php");
        ASSERT_EQ(favourites.size(), signedIn ? 1u : 0u);
        if (signedIn) {
            EXPECT_EQ(service.favorites()["ann@example.com"], (nlohmann::json{{"42", "1"}}));
        }
    }
}

}  // namespace
}  // namespace gallery_test
