// The LUT Manager button where no window can be shown (no display): a box
// says so and the user's LUT stays.
#include "../actions/ActionsTestEnv.h"
#include "../effect/EffectTestEnv.h"

namespace quillane::test {
namespace {

using GalleryNoDisplay = ActionsTest;

TEST_F(GalleryNoDisplay, TheButtonShowsTheBoxAndKeepsTheLut) {
    ASSERT_EQ(std::getenv("DISPLAY"), nullptr);
    const std::string dir = folder("looks");
    writeCube(dir + "/kept.cube", 0.25f, "kept preset");
    choose(dir + "/kept.cube");
    instance->setFrameProvider([](const FxRenderInfo&, FxTime) {
        auto bitmap = std::make_unique<FxBitmap>(64, 36, kFxDepth_UINT8);
        std::fill_n(static_cast<unsigned char*>(bitmap->dataPtr()), bitmap->dataSize(), 200);
        return bitmap;
    });
    for (int opening = 0; opening < 2; ++opening) {
        EXPECT_TRUE(instance->pressButton(OpenGallery));
        ASSERT_EQ(boxes.boxes.size(), std::size_t(opening + 1));
        EXPECT_EQ(boxes.boxes[opening].messageText, "Exception");
        EXPECT_EQ(boxes.boxes[opening].informativeText, "QuillaneOFX: Failed to LUTManager.start");
        EXPECT_EQ(fx().currentName(), dir + "/kept.cube");
        EXPECT_FLOAT_EQ(firstRed(fx().currentLut()), 0.25f);
        EXPECT_EQ(presetText(), "kept preset");
        EXPECT_EQ(storedName(), dir + "/kept.cube");
    }
}

}  // namespace
}  // namespace quillane::test
