// Ways the LUT Manager could lose the user's LUT, crash, leak or spin, each
// shown to be closed off.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "GalleryTestEnv.h"
#include "gallery/toolkit/ScreenCapture.h"

using namespace nanogui;

namespace gallery_test {
namespace {

using GalleryFaults = GalleryTest;

TEST_F(GalleryFaults, ADeliveryThatLoadsNothingKeepsTheUsersLut) {
    const std::string dir = folder("keep");
    writeCube(dir + "/good.cube", 2, 0.5f, 1, 1);
    std::ofstream(dir + "/bad.cube") << "LUT_3D_SIZE x\n";
    std::ofstream(dir + "/nan.cube") << "DOMAIN_MIN nan nan nan\nLUT_3D_SIZE 1\n0 0 0\n";
    std::filesystem::create_directories(dir + "/folder.cube");

    bool isLocal = false;
    Lut lut(std::vector<float>(32, 0.25f), 2, 0.0f, 1.0f);
    std::string name = "Cinematic/Teal";
    std::vector<char> preset = {'p'};
    const GalleryResultCallbacks callbacks = galleryResultCallbacks(&isLocal, &lut, &name, &preset);
    for (const std::string& path :
         {std::string(), dir + "/bad.cube", dir + "/gone.cube", dir + "/folder.cube", dir + "/nan.cube"}) {
        callbacks.file(path);
        EXPECT_EQ(name, "Cinematic/Teal") << path;
        EXPECT_EQ(lut.getDimSize(), 2) << path;
        EXPECT_EQ(preset, std::vector<char>{'p'}) << path;
    }
    ASSERT_EQ(boxes.boxes.size(), 5u);
    // Each says why, as the reader found it.
    EXPECT_EQ(boxes.boxes[0].informativeText,
              "Cannot read a LUT from the file NONE\nNo such file.\nThe current LUT is kept.");
    EXPECT_EQ(boxes.boxes[1].informativeText, "Cannot read a LUT from the file " + dir +
                                                  "/bad.cube\nIts LUT_3D_SIZE gives no size of 1 or more.\n"
                                                  "The current LUT is kept.");
    EXPECT_EQ(boxes.boxes[2].informativeText,
              "Cannot read a LUT from the file " + dir + "/gone.cube\nNo such file.\nThe current LUT is kept.");
    EXPECT_EQ(boxes.boxes[3].informativeText, "Cannot read a LUT from the file " + dir +
                                                  "/folder.cube\nIt is a folder, not a file.\nThe current LUT is kept.");
    EXPECT_EQ(boxes.boxes[4].informativeText, "Cannot read a LUT from the file " + dir +
                                                  "/nan.cube\nIts input range, nan to 1, has an end that is not a "
                                                  "finite number (a float reaches about 3.4e38).\nThe current LUT is kept.");

    callbacks.online(Lut(), "Film/Night", {'x'});  // a download that failed
    EXPECT_EQ(name, "Cinematic/Teal");

    callbacks.file(dir + "/good.cube");
    EXPECT_TRUE(isLocal);
    EXPECT_EQ(name, dir + "/good.cube");
    EXPECT_FLOAT_EQ(lut.getData()[4], 0.5f);
    EXPECT_TRUE(preset.empty());

    callbacks.online(Lut(std::vector<float>(32, 0.75f), 2, 0.0f, 1.0f), "", {'y'});
    EXPECT_FALSE(isLocal);
    EXPECT_EQ(name, "NONE");
    EXPECT_EQ(preset, std::vector<char>{'y'});
    EXPECT_FLOAT_EQ(lut.getData()[0], 0.75f);
}

TEST_F(GalleryFaults, AStartThatThrowsLeavesNoScreenAndTheNextOpeningWorks) {
    const std::string dir = folder("throws");
    writeCube(dir + "/a.cube", 2, 1, 1, 1);
    gallery->onProgress = [](int, int) { throw std::runtime_error("listing failed"); };
    gallery->start(dir + "/a.cube");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].messageText, "Exception");
    EXPECT_EQ(boxes.boxes[0].informativeText, "QuillaneOFX: Failed to LUTManager.start");
    EXPECT_EQ(gallery->screen, nullptr);
    EXPECT_FALSE(gallery->running);
    EXPECT_FALSE(nanogui::drawall());  // no screen left registered

    gallery->onProgress = nullptr;
    run(dir + "/a.cube", [&] { EXPECT_EQ(views().size(), 1u); });
    makeGallery();
    run(dir + "/a.cube", [&] { EXPECT_EQ(views().size(), 1u); });
}

TEST_F(GalleryFaults, AFolderClickAfterStopInTheSameBatchStillGradesFromThePreview) {
    const std::string dir = folder("batch");
    std::filesystem::create_directories(dir + "/sub");
    writeCube(dir + "/sub/warm.cube", 3, 1.0f, 0.8f, 0.6f);
    run(dir + "/none.cube", [&] {
        const auto expected = expectedThumbnail(*gallery, dir + "/sub/warm.cube");
        gallery->stop();  // a LUT was just taken; the folder click is still queued
        click(viewOf(dir + "/sub"));
        ASSERT_EQ(views().size(), 1u);
        const auto shown = readTexture(views()[0]->imageTexture(), gallery->previewWidth, gallery->previewHeight);
        EXPECT_LT(largestDifference(shown, expected), 0.6f / 255);
    });
}

TEST_F(GalleryFaults, ADoubleClickOnThePickedLutDeliversOnce) {
    const std::string dir = folder("once");
    writeCube(dir + "/look.cube", 2, 1, 1, 1);
    run(dir + "/look.cube", [&] {
        LutImageView* view = viewOf(dir + "/look.cube");
        ASSERT_TRUE(view && view->isPicked());
        doubleClick(view);  // unpick, pick again (selecting it), activate
    });
    EXPECT_EQ(deliveredFiles, std::vector<std::string>{dir + "/look.cube"});
}

TEST_F(GalleryFaults, AFrameWithoutPixelsOrOfAnotherLayoutOpensNoWindow) {
    const std::vector<unsigned char> argb = testFrame(4, 2);
    const std::vector<unsigned char> strip = testFrame(2, 16384);  // its preview would take 8.6 GB
    struct Case {
        const void* pixels;
        int width, height, channels, bytesPerPixel;
    };
    // Every layout refused is the rules' table; here, that a refusal of each kind reaches the user.
    const Case cases[] = {{argb.data(), 0, 2, 4, 4}, {nullptr, 4, 2, 4, 4}, {strip.data(), 2, 16384, 4, 4}};
    bool isLocal = false;
    Lut lut(std::vector<float>(32, 0.25f), 2, 0.0f, 1.0f);
    std::string name = "/x/a.cube";
    std::vector<char> preset = {'p'};
    for (const Case& c : cases) {
        LutGallery::openingObserver() = [](LutGallery&) { ADD_FAILURE() << "a window opened"; };
        openGallery(const_cast<void*>(c.pixels), c.width, c.height, c.channels, c.bytesPerPixel, &isLocal, &lut,
                    &name, &preset);
        LutGallery::openingObserver() = nullptr;
    }
    ASSERT_EQ(boxes.boxes.size(), std::size(cases));
    EXPECT_EQ(boxes.boxes[0].messageText, "LUT Manager");
    EXPECT_EQ(boxes.boxes[0].informativeText,
              "The LUT Manager cannot show this frame (0 x 2 pixels, 4 channels, 4 bytes per pixel): it needs a frame "
              "of 8-bit A, R, G, B pixels.");
    EXPECT_EQ(boxes.boxes.back().informativeText,
              "The LUT Manager cannot show this frame (2 x 16384 pixels): it is more than 8 times as tall as it is "
              "wide.");
    EXPECT_EQ(name, "/x/a.cube");
    EXPECT_EQ(lut.getDimSize(), 2);
}

TEST_F(GalleryFaults, OpeningsLeaveTheProcessesOtherWindowsAlone) {
    ref<LutScreen> other = new LutScreen(Vector2i(200, 100), "another window of the host", false);
    other->setBackground(Color(0, 255, 0, 255));
    other->setVisible(true);
    const std::string dir = folder("others");
    writeCube(dir + "/a.cube", 2, 1, 1, 1);
    for (int opening = 0; opening < 2; ++opening) {
        makeGallery();
        run(dir + "/a.cube", [&] { EXPECT_EQ(views().size(), 1u); });
    }
    EXPECT_EQ(glfwGetWindowAttrib(other->glfwWindow(), GLFW_VISIBLE), GLFW_TRUE);
    const Capture capture = captureScreen(*other);
    EXPECT_EQ(capture.at(100, 50), Vector4i(0, 255, 0, 255));
}

TEST_F(GalleryFaults, AnIdleWindowWaitsForEventsInsteadOfRedrawingFlatOut) {
    // An empty folder: each draw is cheap, so a loop that polls turns hundreds of times a second.
    const std::string dir = folder("idle");
    int turns = 0;
    const auto begin = std::chrono::steady_clock::now();
    gallery->onTurn = [&] {
        ++turns;
        if (std::chrono::steady_clock::now() - begin > std::chrono::milliseconds(600)) gallery->stop();
    };
    gallery->start(dir + "/look0.cube");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    // About one draw a frame (60 a second) at most; polling draws hundreds.
    EXPECT_LT(turns / seconds, 70.0) << turns << " turns in " << seconds << " s";
}

TEST_F(GalleryFaults, ANameLikeLookCubeBakOpensItsLocalFolder) {
    const std::string dir = folder("bak");
    writeCube(dir + "/look.cube.bak", 2, 1, 1, 1);
    writeCube(dir + "/look.cube", 2, 1, 1, 1);
    run(dir + "/look.cube.bak", [&] {
        EXPECT_FALSE(gallery->isOnline);
        EXPECT_EQ(gallery->pathBox->value(), dir);
        ASSERT_NE(viewOf(dir + "/look.cube.bak"), nullptr);
        EXPECT_TRUE(viewOf(dir + "/look.cube.bak")->isPicked());
    });
}

TEST_F(GalleryFaults, AFolderWhoseListingEndedEarlyCanBeListedAgain) {
    const std::string dir = folder("early");
    std::filesystem::create_directories(dir + "/sub");
    writeCube(dir + "/sub/a.cube", 2, 1, 1, 1);
    writeCube(dir + "/b.cube", 2, 1, 1, 1);
    run(dir + "/b.cube", [&] {
        gallery->onProgress = [](int, int) { throw std::runtime_error("a draw failed"); };
        gallery->paths[0] = dir + "/sub";
        EXPECT_THROW(gallery->choseFolder(), std::runtime_error);
        gallery->onProgress = nullptr;
        gallery->choseFolder();  // the same folder again
        EXPECT_EQ(gallery->pathBox->value(), dir + "/sub");
        ASSERT_EQ(views().size(), 1u);
        EXPECT_EQ(views()[0]->mCaption, dir + "/sub/a.cube");
    });
}

}  // namespace
}  // namespace gallery_test
