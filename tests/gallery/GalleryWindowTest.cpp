// The LUT Manager over real folders of real LUT files, in a real window under
// Xvfb: listing, thumbnails, picking, the toolbar and the item actions.
#include <nanogui/label.h>

#include <filesystem>
#include <fstream>

#include "GalleryTestEnv.h"
#include "desktop/Settings.h"
#include "platform/nfd/nfd.h"

using namespace nanogui;

namespace gallery_test {
namespace {

using GalleryWindow = GalleryTest;

TEST_F(GalleryWindow, ListsAFolderInDirectoryOrderWithThumbnailsGradedByEachLut) {
    // b/ a.cube c/ d.3dl X.CUBE, beside files that must not show.
    const std::string dir = folder("mixed");
    std::filesystem::create_directories(dir + "/b");
    writeCube(dir + "/a.cube", 5, 1.0f, 0.5f, 0.25f);
    std::filesystem::create_directories(dir + "/c");
    write3dl(dir + "/d.3dl");
    writeCube(dir + "/x.Cube.cube", 3, 0.2f, 1.0f, 1.0f);
    writeCube(dir + "/X.CUBE", 3, 1, 1, 1);
    writeCube(dir + "/.hidden.cube", 3, 1, 1, 1);
    std::ofstream(dir + "/broken.cube") << "LUT_3D_SIZE nonsense\n";
    std::ofstream(dir + "/inf-range.cube") << "LUT_3D_SIZE 1\nLUT_3D_INPUT_RANGE 0 inf\n0 0 0\n";
    std::ofstream(dir + "/notes.txt") << "not a LUT\n";
    // Folders first (last read first), then the LUT files in the directory's order.
    std::vector<std::string> expected, folders;
    for (const Listed& entry : directoryOrder(dir)) {
        if (entry.name[0] == '.') continue;
        if (entry.isDirectory)
            folders.insert(folders.begin(), dir + "/" + entry.name);
        else if (entry.name == "a.cube" || entry.name == "d.3dl" || entry.name == "x.Cube.cube" ||
                 entry.name == "X.CUBE")
            expected.push_back(dir + "/" + entry.name);
    }
    expected.insert(expected.begin(), folders.begin(), folders.end());

    run(dir + "/a.cube", [&] {
        std::vector<std::string> shown;
        for (LutImageView* view : views()) shown.push_back(view->mCaption);
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(gallery->pathBox->value(), dir);
        EXPECT_FALSE(gallery->isOnline);
        EXPECT_TRUE(gallery->selection.empty());
        for (LutButton* button : gallery->toolbarButtons) EXPECT_TRUE(!button || button->enabled());

        for (LutImageView* view : views()) {
            SCOPED_TRACE(view->mCaption);
            EXPECT_EQ(view->isPicked(), view->mCaption == dir + "/a.cube");
            EXPECT_EQ(view->mKind, ends_with(view->mCaption, ".3dl")    ? OtherLut
                                   : ends_with(view->mCaption, ".cube") ? CubeLut
                                                                        : Folder);
            if (view->mKind == Folder) continue;
            const auto shownPixels = readTexture(view->imageTexture(), gallery->previewWidth, gallery->previewHeight);
            EXPECT_LT(largestDifference(shownPixels, expectedThumbnail(*gallery, view->mCaption)), 0.6f / 255);
        }
        // Rows of three, with the file name under each picture.
        const auto list = views();
        ASSERT_EQ(list.size(), 6u);
        EXPECT_EQ(list[0]->absolutePosition().y(), list[2]->absolutePosition().y());
        EXPECT_GT(list[3]->absolutePosition().y(), list[2]->absolutePosition().y());
        EXPECT_LT(list[3]->absolutePosition().x(), list[2]->absolutePosition().x());
        auto* caption = dynamic_cast<Label*>(list[4]->parent()->childAt(1));
        ASSERT_NE(caption, nullptr);
        EXPECT_EQ(dir + "/" + caption->caption(), list[4]->mCaption);
    });
    EXPECT_TRUE(deliveredFiles.empty());  // closed with nothing selected
}

TEST_F(GalleryWindow, ScrollsToTheCurrentLutAndTheUpButtonHighlightsTheFolderLeft) {
    const std::string dir = folder("many/looks");
    for (int i = 0; i < 14; ++i) writeCube(dir + "/look" + std::to_string(i) + ".cube", 2, 1, 1, 1);
    std::string last;
    for (const Listed& entry : directoryOrder(dir))
        if (entry.name[0] != '.') last = entry.name;

    run(dir + "/" + last, [&] {
        ASSERT_EQ(views().size(), 14u);
        EXPECT_TRUE(viewOf(dir + "/" + last)->isPicked());
        EXPECT_GT(panel()->scroll(), 0.5f);

        click(gallery->toolbarButtons[0]);  // up
        EXPECT_EQ(gallery->pathBox->value(), sandbox.dir.file("many"));
        ASSERT_EQ(views().size(), 1u);
        EXPECT_EQ(views()[0]->mCaption, dir);
        EXPECT_TRUE(views()[0]->isPicked());
        EXPECT_EQ(gallery->highlightName, "looks");

        click(views()[0]);  // one click enters a folder
        EXPECT_EQ(gallery->pathBox->value(), dir);
        EXPECT_EQ(views().size(), 14u);
    });
}

TEST_F(GalleryWindow, ToolbarPicksFoldersAndKeepsTheFavouriteFolder) {
    const std::string one = folder("one"), two = folder("two");
    writeCube(one + "/first.cube", 2, 1, 1, 1);
    writeCube(two + "/second.cube", 2, 1, 1, 1);
    writeCube(two + "/third.cube", 2, 1, 1, 1);

    std::vector<nfd::DialogAnswer> answers = {{NFD_CANCEL, "", ""}, {NFD_OKAY, two + "/", ""}};
    nfd::ScopedAnswerer dialog([&](const nfd::DialogRequest& request) {
        EXPECT_EQ(request.kind, nfd::DialogKind::PickFolder);
        const nfd::DialogAnswer answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    });

    run(one + "/first.cube", [&] {
        EXPECT_EQ(gallery->toolbarButtons[2], nullptr);  // no desktop program, no presets folder

        click(gallery->toolbarButtons[1]);  // cancelled
        EXPECT_EQ(gallery->pathBox->value(), one);
        click(gallery->toolbarButtons[1]);
        EXPECT_EQ(gallery->pathBox->value(), two);
        EXPECT_EQ(views().size(), 2u);

        click(gallery->toolbarButtons[3]);  // no favourite yet
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].messageText, "Notification");
        EXPECT_EQ(boxes.boxes[0].informativeText,
                  "To set favorite folder, please navigate to the folder first, and then shift-click favorite button.");
        EXPECT_EQ(gallery->pathBox->value(), two);

        key(GLFW_KEY_LEFT_SHIFT, GLFW_PRESS);
        click(gallery->toolbarButtons[3]);
        key(GLFW_KEY_LEFT_SHIFT, GLFW_RELEASE);
        ASSERT_EQ(boxes.boxes.size(), 2u);
        EXPECT_EQ(boxes.boxes[1].messageText, "Changed");
        EXPECT_EQ(boxes.boxes[1].informativeText, "Favorite path changed to: " + two + "/");
        EXPECT_EQ(getValueFromReg("FavoriteLUTFolder", false), two + "/");

        click(gallery->toolbarButtons[4]);  // the online root: an empty listing here
        EXPECT_TRUE(gallery->isOnline);
        EXPECT_TRUE(views().empty());
        key(GLFW_KEY_RIGHT_SHIFT, GLFW_PRESS);
        click(gallery->toolbarButtons[3]);  // online: the setting stays
        key(GLFW_KEY_RIGHT_SHIFT, GLFW_RELEASE);
        ASSERT_EQ(boxes.boxes.size(), 3u);
        EXPECT_EQ(boxes.boxes[2].messageText, "Changed");
        EXPECT_EQ(getValueFromReg("FavoriteLUTFolder", false), two + "/");

        click(gallery->toolbarButtons[3]);  // back to the favourite
        EXPECT_FALSE(gallery->isOnline);
        EXPECT_EQ(gallery->pathBox->value(), two);
    });
    EXPECT_TRUE(answers.empty());
}

TEST_F(GalleryWindow, ThePresetsButtonListsTheDesktopProgramsPresets) {
    const std::string presets = folder("app/Presets");
    writeCube(presets + "/house.cube", 2, 1, 1, 1);
    quillane::test::writeFile(sandbox.settingsFile(),
                              "<Key Name=\"Quillane\">\n<Value Name=\"ProgramPath\" Type=\"2\">" +
                                  sandbox.dir.file("app/tool") + "</Value>\n");
    run("NONE", [&] {
        ASSERT_NE(gallery->toolbarButtons[2], nullptr);
        click(gallery->toolbarButtons[2]);
        EXPECT_EQ(gallery->pathBox->value(), presets);
        ASSERT_EQ(views().size(), 1u);
        EXPECT_EQ(views()[0]->mCaption, presets + "/house.cube");
    });
}

// A toolbar click only asks for its work, which runs at the next turn of the
// loop: a page rebuilt inside the click would be one the toolkit still reads.
TEST_F(GalleryWindow, EveryToolbarButtonOnlyQueuesItsWork) {
    folder("app/Presets");  // so that every button is there
    quillane::test::writeFile(sandbox.settingsFile(),
                              "<Key Name=\"Quillane\">\n<Value Name=\"ProgramPath\" Type=\"2\">" +
                                  sandbox.dir.file("app/tool") + "</Value>\n");
    const std::string looks = folder("looks");
    writeCube(looks + "/a.cube", 2, 1, 1, 1);
    nfd::ScopedAnswerer dialog([](const nfd::DialogRequest&) { return nfd::DialogAnswer{NFD_CANCEL, "", ""}; });
    const struct {
        int button;
        bool shift;
    } clicks[] = {{0, false}, {1, false}, {2, false}, {3, false}, {3, true}, {4, false}, {5, false}};
    run(looks + "/a.cube", [&] {
        for (const auto& c : clicks) {
            SCOPED_TRACE(testing::Message() << "button " << c.button << (c.shift ? " with Shift" : ""));
            LutButton* button = gallery->toolbarButtons[c.button];
            ASSERT_NE(button, nullptr);
            ASSERT_TRUE(button->enabled());
            if (c.shift) key(GLFW_KEY_LEFT_SHIFT, GLFW_PRESS);
            const unsigned page = gallery->pageNumber;
            const Vector2i p = button->absolutePosition() + button->size() / 2;
            gallery->screen->cursorPosCallbackEvent(p.x() + 1, p.y() + 2);
            gallery->screen->mouseButtonCallbackEvent(GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0);
            gallery->screen->mouseButtonCallbackEvent(GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE, 0);
            EXPECT_EQ(gallery->pageNumber, page);
            EXPECT_TRUE(gallery->screen->hasDeferred());
            gallery->runEventWork();
            if (c.shift) key(GLFW_KEY_LEFT_SHIFT, GLFW_RELEASE);
        }
        // The account button's work came: its form below the toolbar.
        ASSERT_EQ(gallery->window->childCount(), 2);
        EXPECT_TRUE(views().empty());
    });
}

// The current LUT is picked by its whole file name: not the folder, the other
// file type or the longer name that share its stem.
TEST_F(GalleryWindow, TheCurrentLutPicksOnlyItsOwnItem) {
    const std::string dir = folder("stem");
    std::filesystem::create_directories(dir + "/Night");
    for (const char* name : {"/Night.cube", "/Nightfall.cube", "/Night.cube.cube"}) writeCube(dir + name, 2, 1, 1, 1);
    write3dl(dir + "/Night.3dl");
    run(dir + "/Night.cube", [&] {
        ASSERT_EQ(views().size(), 5u);
        for (LutImageView* view : views()) {
            SCOPED_TRACE(view->mCaption);
            EXPECT_EQ(view->isPicked(), view->mCaption == dir + "/Night.cube");
            EXPECT_EQ(view->mPicked, view->mCaption == dir + "/Night.cube");
        }
    });
}

TEST_F(GalleryWindow, ADoubleClickDeliversTheLutAndClosesAndClosingDeliversTheSelection) {
    const std::string dir = folder("pick");
    writeCube(dir + "/one.cube", 2, 1, 1, 1);
    writeCube(dir + "/two.cube", 2, 0.5f, 1, 1);

    run(dir + "/none.cube", [&] {
        click(viewOf(dir + "/one.cube"));
        EXPECT_EQ(gallery->selection, dir + "/one.cube");
        click(viewOf(dir + "/one.cube"));  // the picked one again: nothing selected
        EXPECT_EQ(gallery->selection, "");
        doubleClick(viewOf(dir + "/two.cube"));
        EXPECT_TRUE(glfwWindowShouldClose(gallery->screen->glfwWindow()));
    });
    EXPECT_EQ(deliveredFiles, std::vector<std::string>{dir + "/two.cube"});
    EXPECT_EQ(gallery->screen, nullptr);
    EXPECT_FALSE(gallery->running);

    deliveredFiles.clear();
    makeGallery();
    run(dir + "/none.cube", [&] { click(viewOf(dir + "/one.cube")); });
    EXPECT_EQ(deliveredFiles, std::vector<std::string>{dir + "/one.cube"});
}

}  // namespace
}  // namespace gallery_test
