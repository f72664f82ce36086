// A picture of the window over a folder of real-looking LUTs, written into the
// build tree for people to look at: gallery-screenshot.png.
#include <lodepng.h>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "gallery/demo/GalleryShot.h"
#include "gallery/demo/SampleLooks.h"
#include "../desktop/DesktopTestEnv.h"

namespace {

TEST(GalleryScreenshot, ShowsTheFrameGradedByEveryLook) {
    quillane::test::DesktopSandbox sandbox;
    quillane::test::BoxRecorder boxes;
    const std::vector<std::string> looks = gallery_samples::writeSampleLooks(sandbox.dir.file("Looks"));
    const std::string png = QUILLANE_BINARY_DIR "/gallery-screenshot.png";
    std::string error;
    ASSERT_TRUE(gallery_samples::writeGalleryScreenshot(looks[1], gallery_samples::sampleFrameArgb(1280, 720), 1280,
                                                        720, png, &error))
        << error;

    std::vector<unsigned char> rgba;
    unsigned width = 0, height = 0;
    ASSERT_EQ(lodepng::decode(rgba, width, height, png), 0u);
    EXPECT_EQ(width, 1000u);
    EXPECT_EQ(height, 700u);
    // The first row of thumbnails: three different gradings of one frame.
    auto rgb = [&](std::size_t x) {
        const unsigned char* p = &rgba[(130 * width + x) * 4];
        return std::vector<unsigned char>(p, p + 3);
    };
    EXPECT_NE(rgb(170), rgb(497));
    EXPECT_NE(rgb(497), rgb(823));
}

}  // namespace
