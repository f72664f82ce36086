// The effect's LUT Manager button end to end, in this process: the host gives
// the frame, the window opens on it, the mouse double-clicks a LUT, the window
// closes, the project holds the LUT and the next render applies it.
#include <chrono>
#include <thread>

#include "EffectModule.h"
#include "GalleryEffectEnv.h"
#include "plugin/FxQuillane.h"
#include "XMouse.h"

using namespace nanogui;

namespace gallery_test {
namespace {

// The editor's bitmap of that frame: A, R, G, B, bottom row first.
std::unique_ptr<FxBitmap> bitmapOf(const host::Frame& frame) {
    auto bitmap = std::make_unique<FxBitmap>(frame.width, frame.height, kFxDepth_UINT8);
    auto* out = static_cast<unsigned char*>(bitmap->dataPtr());
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const unsigned char* s = &frame.bytes[(std::size_t(frame.height - 1 - y) * frame.width + x) * 4];
            unsigned char* d = out + (std::size_t(y) * frame.width + x) * 4;
            d[0] = s[3], d[1] = s[0], d[2] = s[1], d[3] = s[2];
        }
    return bitmap;
}

using GalleryEffectButton = GalleryTest;

TEST_F(GalleryEffectButton, OpensTheWindowOnTheFrameAndTheChosenLutRenders) {
    LutImageView::setClock(nullptr);
    const std::string dir = folder("looks");
    writeCube(dir + "/plain.cube", 3, 1, 1, 1);
    writeCube(dir + "/warm.cube", 5, 1.0f, 0.8f, 0.5f);

    auto editor = host::Host::withModule(quillane::test::linkedEffect());
    host::EffectInstance* instance = editor->newInstance();
    ASSERT_NE(instance, nullptr);
    auto& effect = static_cast<FxQuillane&>(instance->effect());
    // The current LUT's folder is the one the window opens on.
    std::string plain = dir + "/plain.cube";
    lutFromFile(&plain, &effect.lut(), &effect.preset());
    effect.name() = plain;
    effect.saveLut();
    const host::Frame frame = topDownFrame(96, 54);
    std::vector<unsigned> depths;
    instance->setFrameProvider([&](const FxRenderInfo& info, FxTime) {
        depths.push_back(info.depth);
        return bitmapOf(frame);
    });

    XMouse mouse;
    std::vector<unsigned char> preview;
    const auto begin = std::chrono::steady_clock::now();
    LutGallery::openingObserver() = [&](LutGallery& gallery) {
        preview = gallery.preview;
        gallery.onTurn = [&] {
            if (LutImageView* view = galleryView(gallery, dir + "/warm.cube")) mouse.aimAt(*gallery.screen, *view);
            if (std::chrono::steady_clock::now() - begin > std::chrono::seconds(20)) gallery.stop();
        };
    };
    std::thread user([&] { mouse.doubleClickWhenAimed(); });
    EXPECT_TRUE(instance->pressButton(OpenGallery));
    user.join();
    LutGallery::openingObserver() = nullptr;

    EXPECT_EQ(depths, std::vector<unsigned>{kFxDepth_UINT8});
    EXPECT_EQ(instance->unbracketedAccesses(), 0);
    // The preview is the frame as the host gave it (bottom row first).
    ASSERT_EQ(preview.size(), 512u * 288 * 4);
    EXPECT_EQ(preview[0], frame.bytes[(std::size_t(53) * 96) * 4]);
    EXPECT_EQ(effect.currentName(), dir + "/warm.cube");
    EXPECT_EQ(instance->parameter(LutName)->value.stringValue(), dir + "/warm.cube");
    ASSERT_EQ(effect.currentLut().getDimSize(), 5);

    expectRenderAppliesLut(*instance, frame, effect.currentLut());
}

}  // namespace
}  // namespace gallery_test
