// The effect's LUT Manager button end to end, in this process: the host gives
// the frame, the window opens on it, the mouse double-clicks a LUT, the window
// closes, the project holds the LUT and the next render applies it.
#include <atomic>
#include <chrono>
#include <thread>

#include "EffectModule.h"
#include "GalleryEffectEnv.h"
#include "ProcessTools.h"
#include "host/HostFrame.h"
#include "plugin/FxQuillane.h"
#include "XInput.h"  // last: X defines plain words as macros

using namespace nanogui;

namespace gallery_test {
namespace {

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
        return host::bitmapOfFrame(frame, kFxDepth_UINT8);
    });

    // The user's mouse: the window's loop names the warm LUT's centre on the
    // root window; a second thread double-clicks there through the X server.
    std::atomic<int> aimX{-1}, aimY{-1};
    std::vector<unsigned char> preview;
    const auto begin = std::chrono::steady_clock::now();
    LutGallery::openingObserver() = [&](LutGallery& gallery) {
        preview = gallery.preview;
        gallery.onTurn = [&] {
            LutImageView* view = galleryView(gallery, dir + "/warm.cube");
            if (view && aimX < 0) {
                int wx = 0, wy = 0;
                glfwGetWindowPos(gallery.screen->glfwWindow(), &wx, &wy);
                const Vector2i centre = view->absolutePosition() + view->size() / 2;
                aimY = wy + centre.y();
                aimX = wx + centre.x();
            }
            if (std::chrono::steady_clock::now() - begin > std::chrono::seconds(20)) gallery.stop();
        };
    };
    std::thread user([&] {
        if (!quillane::test::waitUntil([&] { return aimX >= 0; })) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the window shows
        if (const quillane::test::DisplayHandle display = quillane::test::openDisplay())
            quillane::test::doubleClickAt(display.get(), aimX, aimY);
    });
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
