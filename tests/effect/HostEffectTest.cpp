// The effect module as the editor sees it: loaded from its bundle by the host,
// reached only through the plug-in interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "EffectTestEnv.h"
#include "host/Host.h"
#include "plugin/FxQuillaneInspection.h"

namespace {

using namespace quillane::test;

std::unique_ptr<host::Host> loadHost() {
    std::string error;
    auto h = host::Host::load(kEffectModulePath, &error);
    EXPECT_TRUE(h) << error;
    return h;
}

// The module loaded by a host, with one instance made.
class HostEffect : public ::testing::Test {
protected:
    void SetUp() override {
        h = loadHost();
        ASSERT_TRUE(h);
        instance = h->newInstance();
        ASSERT_NE(instance, nullptr);
    }
    std::unique_ptr<host::Host> h;
    host::EffectInstance* instance = nullptr;
};

int count(const std::vector<std::string>& calls, const std::string& call) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

const std::vector<FxParameterId> kButtonIds = {2, 3, 4, 5, 6, 14};

TEST_F(HostEffect, InstancesTakeConsecutiveIdsAndTheirOwnPresetFile) {
    std::vector<int> ids;
    for (int i = 0; i < 3; ++i) {
        host::EffectInstance* made = h->newInstance();
        ASSERT_TRUE(made && made->inspection());
        ids.push_back(made->inspection()->instanceId());
        const std::string folder = effectTestFolder().path().string() + "/";
        EXPECT_EQ(made->inspection()->incomingPresetPath(), folder + "LutPreset" + std::to_string(ids.back()) + ".qlp");
        EXPECT_EQ(made->inspection()->outgoingPresetPath(), folder + "LutPresetSave.qlp");
        EXPECT_TRUE(made->inspection()->exchangeAvailable());
    }
    EXPECT_EQ(ids[1], ids[0] + 1);
    EXPECT_EQ(ids[2], ids[0] + 2);
    // Closing an instance does not give its id back.
    h->closeAll();
    EXPECT_EQ(h->newInstance()->inspection()->instanceId(), ids[2] + 1);

    // In a new process the first instance is 1, the third 3.
    const auto run = runProcess(kHostProgram + " new new new list");
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("instance 0 id 1\n"), std::string::npos);
    EXPECT_NE(run.out.find("instance 2 id 3\n"), std::string::npos);
}

TEST_F(HostEffect, DeclaresFourteenParametersInOrderWithFlagsAndDefaults) {
    EXPECT_TRUE(instance->addParametersResult());

    const auto& params = instance->parameters();
    std::vector<FxParameterId> order;
    for (const auto& p : params) order.push_back(p.id);
    EXPECT_EQ(order, (std::vector<FxParameterId>{1, 2, 3, 4, 6, 5, 14, 7, 8, 9, 10, 11, 12, 13}));

    const std::map<FxParameterId, FxValue> hiddenDefaults = {
        {7, FxValue::data({})},     {8, FxValue::integer(0)}, {9, FxValue::number(0.0)}, {10, FxValue::number(1.0)},
        {11, FxValue::data({})}, {12, FxValue::integer(0)}, {13, FxValue::string("")}};
    for (const auto& p : params) {
        SCOPED_TRACE("parameter " + std::to_string(p.id));
        EXPECT_EQ(p.name, "LUT");  // every parameter shows under the SelectLut text
        EXPECT_EQ(p.isString, p.id == 1);
        const bool button = std::find(kButtonIds.begin(), kButtonIds.end(), p.id) != kButtonIds.end();
        EXPECT_EQ(p.flags, p.id == 1 ? 1u : button ? 0x41u : 2u);
        EXPECT_EQ(p.defaultValue, p.id == 1 ? FxValue::string("No LUT loaded")
                                  : button  ? FxValue::string("")
                                            : hiddenDefaults.at(p.id));
    }

    // The set-up questions.
    FxFilter& effect = instance->effect();
    EXPECT_FALSE(effect.variesOverTime());
    const FxProperties properties = effect.properties();
    ASSERT_EQ(properties.size(), 1u);
    EXPECT_EQ(properties.at("DesiredProcessingColorInfo"), FxValue::integer(2));
    unsigned w = 7, hgt = 9;
    EXPECT_TRUE(effect.getOutputWidth(&w, &hgt, FxImageInfo{640, 360, 0}, FxRenderInfo{}));
    EXPECT_EQ(w, 640u);
    EXPECT_EQ(hgt, 360u);
    w = 7;
    EXPECT_FALSE(effect.getOutputWidth(&w, nullptr, FxImageInfo{640, 360, 0}, FxRenderInfo{}));
    EXPECT_FALSE(effect.getOutputWidth(nullptr, &hgt, FxImageInfo{640, 360, 0}, FxRenderInfo{}));
    EXPECT_EQ(w, 7u);
    bool hardware = false, software = true;
    EXPECT_TRUE(effect.frameSetup(FxRenderInfo{}, FxImageInfo{}, &hardware, &software));
    EXPECT_TRUE(hardware);
    EXPECT_FALSE(software);
    EXPECT_TRUE(effect.frameCleanup());
    EXPECT_EQ(instance->unbracketedAccesses(), 0);
}

TEST_F(HostEffect, GivesALabelAndSixButtonsAndNoOtherViews) {
    // Their geometry is printed by the host's "list" (CommandLineListsPressesAndRejectsBadInput).
    const host::Parameter* label = instance->parameter(1);
    ASSERT_TRUE(label->view);
    ASSERT_EQ(label->view->subviews().size(), 1u);
    auto* field = dynamic_cast<NSTextField*>(label->view->subviews()[0].get());
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->stringValue(), "No LUT loaded");
    EXPECT_FALSE(field->isEditable());
    EXPECT_NE(field->target(), nullptr);

    const std::vector<std::pair<FxParameterId, std::string>> titles = {
        {2, "Open in Quillane"}, {3, "LUT Manager"}, {4, "Choose LUT File"},
        {5, "Next LUT"},         {6, "Previous LUT"}, {14, "About"}};
    for (const auto& [id, title] : titles) {
        SCOPED_TRACE("button " + std::to_string(id));
        const host::Parameter* p = instance->parameter(id);
        ASSERT_TRUE(p->view);
        ASSERT_EQ(p->view->subviews().size(), 1u);
        auto* button = dynamic_cast<NSButton*>(p->view->subviews()[0].get());
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->title(), title);
        EXPECT_EQ(button->target(), field->target());  // the same instance
        EXPECT_TRUE(button->hasAction());
    }
    for (FxParameterId id : {0u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 15u, 1000u}) {
        EXPECT_EQ(instance->callback([id](FxFilter& e) { return e.createViewForParm(id); }), nullptr) << id;
        if (const host::Parameter* p = instance->parameter(id)) {
            EXPECT_FALSE(p->view) << id;
        }
    }
}

TEST_F(HostEffect, ParameterChangedResetsButtonsAndKeepsTheShownName) {
    for (FxParameterId id = 0; id <= 15; ++id) {
        SCOPED_TRACE("parameter " + std::to_string(id));
        instance->clearCalls();
        testing::internal::CaptureStderr();
        EXPECT_TRUE(instance->notifyParameterChanged(id));
        const std::string said = testing::internal::GetCapturedStderr();
        const auto& calls = instance->calls();
        const std::string sid = std::to_string(id);
        if (id >= 2 && id <= 6) {
            // The trigger is read and put back at NO, then the button's action runs.
            ASSERT_GE(calls.size(), 2u);
            EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 2),
                      (std::vector<std::string>{"getBoolValue " + sid, "setBoolValue " + sid}));
            EXPECT_EQ(instance->parameter(id)->value, FxValue::integer(0));
        } else if (id == 1) {
            // Already showing "No LUT loaded": read, nothing written.
            EXPECT_EQ(calls, (std::vector<std::string>{"getStringParameterValue 1"}));
        } else {
            EXPECT_TRUE(calls.empty());
            EXPECT_TRUE(said.empty()) << said;
        }
    }
    // A name the user typed over is put back.
    instance->clearCalls();
    EXPECT_TRUE(instance->changeParameter(1, FxValue::string("typed")));
    EXPECT_EQ(instance->parameter(1)->value, FxValue::string("No LUT loaded"));
    EXPECT_EQ(count(instance->calls(), "setStringParameterValue 1"), 1);

    // A click on a row button reaches its action without the host's callbacks.
    for (FxParameterId id : kButtonIds) {
        testing::internal::CaptureStderr();
        EXPECT_TRUE(instance->pressButton(id)) << id;
        testing::internal::GetCapturedStderr();
    }
    EXPECT_FALSE(instance->pressButton(1));  // a label, not a button
    EXPECT_FALSE(instance->pressButton(7));
    EXPECT_EQ(instance->unbracketedAccesses(), 0);
    EXPECT_EQ(instance->openActions(), 0);
}

TEST_F(HostEffect, WorksWithoutEachService) {
    // No creation service: nothing declared, addParameters says NO.
    host::EffectInstance* bare = h->newInstance(host::kAllServices & ~host::kParameterCreation);
    ASSERT_NE(bare, nullptr);
    EXPECT_FALSE(bare->addParametersResult());
    EXPECT_TRUE(bare->parameters().empty());

    // No retrieval service: the button is not reset, its action still runs.
    host::EffectInstance* noRetrieval = h->newInstance(host::kAllServices & ~host::kParameterRetrieval);
    ASSERT_NE(noRetrieval, nullptr);
    noRetrieval->clearCalls();
    EXPECT_TRUE(noRetrieval->notifyParameterChanged(3));
    // No frame to show: nothing is read or written.
    EXPECT_EQ(noRetrieval->calls(), (std::vector<std::string>{"currentTime", "getInputBitmap"}));

    // No setting service: the shown name and the LUT cannot be read; no crash.
    host::EffectInstance* noSetting = h->newInstance(host::kAllServices & ~host::kParameterSetting);
    ASSERT_NE(noSetting, nullptr);
    EXPECT_TRUE(noSetting->notifyParameterChanged(1));
    EXPECT_FALSE(noSetting->inspection()->currentLut().isLoaded());

    // No action service: the LUT is still restored at set-up.
    host::EffectInstance* noAction = h->newInstance(host::kAllServices & ~host::kCustomParameterAction);
    ASSERT_NE(noAction, nullptr);
    EXPECT_EQ(count(noAction->calls(), "getCustomParameterValue 8"), 1);

    // Nothing at all.
    host::EffectInstance* nothing = h->newInstance(0);
    ASSERT_NE(nothing, nullptr);
    for (FxParameterId id = 0; id <= 15; ++id) {
        testing::internal::CaptureStderr();
        EXPECT_TRUE(nothing->notifyParameterChanged(id));
        testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(nothing->callback([](FxFilter& e) { return e.createViewForParm(3); }) != nullptr, true);
}

TEST(HostEffectAlone, AnInstanceWithoutTheSharedFilesStillWorks) {
    // The exchange folder does not exist: neither record can be made.
    const std::string missing = effectTestFolder().file("no-such-folder");
    ::setenv("QUILLANE_EXCHANGE_DIR", missing.c_str(), 1);
    auto h = loadHost();
    ASSERT_TRUE(h);
    testing::internal::CaptureStderr();
    host::EffectInstance* instance = h->newInstance();
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string base = effectTestFolder().path().string();
    ::setenv("QUILLANE_EXCHANGE_DIR", base.c_str(), 1);
    ASSERT_NE(instance, nullptr);
    EXPECT_NE(said.find("MemoryMappingFile fail!"), std::string::npos);
    EXPECT_FALSE(instance->inspection()->exchangeAvailable());
    EXPECT_EQ(instance->parameters().size(), 14u);
    // Its parameters, changes and project still work.
    EXPECT_TRUE(instance->changeParameter(8, FxValue::integer(2)));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(instance->pressButton(2));
    testing::internal::GetCapturedStderr();
    std::string error;
    const std::string project = effectTestFolder().file("p.json");
    EXPECT_TRUE(h->saveProject(project, &error)) << error;
    EXPECT_TRUE(h->openProject(project, &error)) << error;
    EXPECT_EQ(h->instances().size(), 1u);
}

TEST(HostEffectAlone, CommandLineListsPressesAndRejectsBadInput) {
    const auto list = runProcess(kHostProgram + " list 2>&1");
    ASSERT_EQ(list.status, 0) << list.out;
    EXPECT_NE(list.out.find("  5 \"LUT\" custom flags 0x41"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("button \"Next LUT\" bezel 10 at 2,2,124,24 font 11 enabled action"),
              std::string::npos);
    EXPECT_NE(list.out.find("text \"No LUT loaded\" at 2,2,298,24 font 11 disabled"), std::string::npos);

    const auto press = runProcess(kHostProgram + " press 14 2>&1");
    EXPECT_EQ(press.status, 0);
    EXPECT_NE(press.out.find("For more info visit"), std::string::npos) << press.out;

    EXPECT_EQ(runProcess(kHostProgram + " press 7 2>&1").status, 1);
    EXPECT_EQ(runProcess(kHostProgram + " frobnicate 2>&1").status, 2);
    EXPECT_EQ(runProcess(kHostProgram + " save 2>&1").status, 2);
    EXPECT_EQ(runProcess(kHostProgram + " --effect /nonexistent.so list 2>&1").status, 1);
    EXPECT_EQ(runProcess(kHostProgram + " open /nonexistent.json 2>&1").status, 1);
}

}  // namespace
