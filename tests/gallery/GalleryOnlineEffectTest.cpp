// The effect's LUT Manager button on the online library, in this process:
// the window lists the fake service's folder, a double click takes an online
// LUT with its preset, and the next render applies it; a LUT whose download
// fails at that moment leaves the effect's LUT alone.
#include "EffectModule.h"
#include "FakeService.h"
#include "GalleryEffectEnv.h"
#include "gallery/GalleryOnline.h"
#include "host/HostFrame.h"
#include "online/OnlineAPI.h"
#include "platform/launchservices/LaunchServices.h"
#include "plugin/FxQuillane.h"

using namespace nanogui;
using quillane::test::FakeService;

namespace gallery_test {
namespace {

class GalleryOnlineEffect : public GalleryTest {
protected:
    GalleryOnlineEffect() {
        OnlineAPI::clearCash();
        noteFormLogin();
        service.setControl(R"({"listings": {"Film/Night": [
            {"id": "42", "lutname": "Blue"},
            {"id": "-2", "lutname": "Shop", "url": "/buy", "folder": "Shop"}]}})");
        launchservices::setURLOpener([](const std::string&) { return launchservices::kNoErr; });
        LutGallery::openingObserver() = [this](LutGallery& opened) {
            opened.onTurn = [this, &opened] {
                if (!step) return;
                auto action = std::move(step);
                step = nullptr;
                action(opened);
                opened.stop();
            };
        };
        instance = editor->newInstance();
        effect = &static_cast<FxQuillane&>(instance->effect());
        // An online LUT of the folder is current: the window opens on that folder.
        effect->lut() = Lut(std::vector<float>(4 * 8, 0.5f), 2, 0.0f, 1.0f);
        effect->name() = "Film/Night/Old";
        effect->saveLut();
        instance->setFrameProvider(
            [this](const FxRenderInfo&, FxTime) { return host::bitmapOfFrame(frame, kFxDepth_UINT8); });
    }
    ~GalleryOnlineEffect() override {
        LutGallery::openingObserver() = nullptr;
        launchservices::setURLOpener({});
        OnlineAPI::clearCash();
    }

    FakeService service;
    ScopedEnv url_{"QUILLANE_SERVICE_URL", service.url()};
    ScopedEnv ca_{"QUILLANE_SERVICE_CA", service.caFile()};
    std::shared_ptr<host::Host> editor = host::Host::withModule(quillane::test::linkedEffect());
    host::EffectInstance* instance = nullptr;
    FxQuillane* effect = nullptr;
    host::Frame frame = topDownFrame(96, 54);
    std::function<void(LutGallery&)> step;
};

TEST_F(GalleryOnlineEffect, ADoubleClickedOnlineLutIsTakenWithItsPresetAndRendered) {
    step = [this](LutGallery& opened) { doubleClick(galleryView(opened, "Blue:42")); };
    ASSERT_TRUE(instance->pressButton(OpenGallery));
    EXPECT_FALSE(step) << "the window never ran the step";
    EXPECT_EQ(effect->currentName(), "Film/Night/Blue");
    EXPECT_EQ(instance->parameter(LutName)->value.stringValue(), "Film/Night/Blue");
    const std::vector<char>& preset = effect->currentPreset();
    EXPECT_EQ(std::string(preset.begin(), preset.end()), std::string("PRESET:42") + '\0' + "\x01\xfe\xff");
    const Lut& lut = effect->currentLut();
    ASSERT_EQ(lut.getDimSize(), 5);
    // The service's node k, channel c holds (42 + 3k + c) mod 256.
    for (int k : {0, 1, 70, 124})
        for (int c = 0; c < 3; ++c)
            EXPECT_FLOAT_EQ(lut.getData()[4 * k + c], float((42 + 3 * k + c) % 256) / 255.0f) << k;

    expectRenderAppliesLut(*instance, frame, lut);
}

TEST_F(GalleryOnlineEffect, AnOnlineLutWhoseDownloadFailsLeavesTheEffectsLutAlone) {
    step = [this](LutGallery& opened) {
        // The thumbnail came; then a link empties the caches and the service stops serving LUT 42.
        service.setControl(R"({"noLut": [42], "listings": {"Film/Night": []}})");
        LutImageView* shop = galleryView(opened, "Shop:/buy");
        ASSERT_NE(shop, nullptr);
        ASSERT_TRUE(shop->mDoubleClickCallback);
        shop->mDoubleClickCallback();
        doubleClick(galleryView(opened, "Blue:42"));
    };
    ASSERT_TRUE(instance->pressButton(OpenGallery));
    EXPECT_FALSE(step) << "the window never ran the step";
    EXPECT_EQ(effect->currentName(), "Film/Night/Old");
    EXPECT_EQ(effect->currentLut().getDimSize(), 2);
    EXPECT_FLOAT_EQ(effect->currentLut().getData()[0], 0.5f);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].informativeText.find("Film/Night/Blue"), std::string::npos)
        << boxes.boxes[0].informativeText;
}

// The LUT came with its thumbnail; its preset does not come: the delivery
// fails as a whole. A preset the service answers as empty is an empty preset.
TEST_F(GalleryOnlineEffect, AFailedPresetDownloadKeepsTheEffectsLutAndPreset) {
    effect->preset() = {'o', 'l', 'd'};
    effect->saveLut();
    struct Case {
        const char* fault;
        bool taken;
    };
    for (const Case& c : {Case{R"({"mode": "status", "status": 500})", false}, Case{R"({"mode": "truncate"})", false},
                          Case{R"({"mode": "size", "size": 0})", true}}) {
        SCOPED_TRACE(c.fault);
        OnlineAPI::clearCash();
        service.setControl(R"({"listings": {"Film/Night": [{"id": "42", "lutname": "Blue"}]}})");
        step = [this, &c](LutGallery& opened) {
            nlohmann::json fault = nlohmann::json::parse(c.fault);
            fault["path"] = "/lutload.php";
            service.setControl(nlohmann::json{{"faults", {fault}}}.dump());
            doubleClick(galleryView(opened, "Blue:42"));
        };
        boxes.boxes.clear();
        instance->clearCalls();
        ASSERT_TRUE(instance->pressButton(OpenGallery));
        EXPECT_FALSE(step) << "the window never ran the step";
        const std::vector<char>& preset = effect->currentPreset();
        if (c.taken) {
            EXPECT_EQ(effect->actionFailure(), "");
            EXPECT_EQ(effect->currentName(), "Film/Night/Blue");
            EXPECT_TRUE(preset.empty());
            EXPECT_TRUE(boxes.boxes.empty());
            continue;
        }
        EXPECT_EQ(effect->currentName(), "Film/Night/Old");
        EXPECT_FLOAT_EQ(effect->currentLut().getData()[0], 0.5f);
        EXPECT_EQ(std::string(preset.begin(), preset.end()), "old");
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].informativeText, unreachableLibraryText("the preset of the LUT Film/Night/Blue"));
        // Nothing new to store: the press leaves the parameters alone, and says why to the host.
        EXPECT_EQ(effect->actionFailure(),
                  "the LUT chosen in the LUT Manager was not taken: The online library could not be reached: "
                  "the preset of the LUT Film/Night/Blue did not arrive. The current LUT is kept.");
        for (const std::string& call : instance->calls())
            EXPECT_NE(call.rfind("setCustomParameterValue", 0), 0u) << call;
    }
}

}  // namespace
}  // namespace gallery_test
