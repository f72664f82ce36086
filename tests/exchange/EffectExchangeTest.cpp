// The effect's button 2 and its render against the stand-in desktop
// application: the host presses the button, the stand-in answers as a second
// process, and the frames the host renders afterwards are graded with the LUT
// that came back.
#include <cmath>

#include "EffectModule.h"
#include "ExchangeTestEnv.h"
#include "host/FrameFile.h"
#include "host/HostRender.h"
#include "lut/MathClass.h"
#include "plugin/DesktopExchange.h"

using namespace quillane::test;

namespace {

FxQuillane& effectOf(host::EffectInstance* instance) { return static_cast<FxQuillane&>(instance->effect()); }

std::string text(const std::vector<char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The frame the host hands out on request, and renders.
host::Frame sampleFrame() {
    host::Frame f;
    f.width = 24, f.height = 16, f.isFloat = true;
    f.floats.resize(static_cast<std::size_t>(f.width) * f.height * 4);
    for (std::size_t i = 0; i < f.floats.size(); ++i) f.floats[i] = i % 4 == 3 ? 1.0f : float((i * 37) % 101) / 100.0f;
    return f;
}

class EffectExchangeTest : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        std::string error;
        renderer = host::Renderer::create(&error);
        ASSERT_TRUE(renderer) << error;
        host = host::Host::withModule(linkedEffect());
        instance = newInstance();
        ASSERT_TRUE(instance);
    }

    host::EffectInstance* newInstance() {
        host::EffectInstance* made = host->newInstance();
        if (made)
            made->setFrameProvider([](const FxRenderInfo& info, FxTime) -> std::unique_ptr<FxBitmap> {
                const host::Frame f = sampleFrame();
                if (info.depth != kFxDepth_FLOAT32) return std::make_unique<FxBitmap>(f.width, f.height, info.depth);
                return makeBitmap(f.width, f.height, [&f](unsigned x, unsigned y) {
                    const float* p = &f.floats[(y * f.width + x) * 4];
                    return std::array<float, 4>{p[3], p[0], p[1], p[2]};
                });
            });
        return made;
    }

    host::Frame render(host::EffectInstance* which) {
        host::Frame out;
        std::string error;
        EXPECT_TRUE(renderer->render(*which, sampleFrame(), &out, &error)) << error;
        return out;
    }

    // The render graded the sample frame with `nodes` (n per axis, range lo..hi).
    static void expectGradedWith(const host::Frame& out, const std::vector<float>& nodes, int n, float lo, float hi) {
        const host::Frame in = sampleFrame();
        std::vector<float> cpu(in.floats.size());
        applyLutCPUTrilinear(in.floats.data(), cpu.data(), nodes.data(), lo, hi, true,
                             static_cast<unsigned char>(n), in.width * in.height, 4);
        ASSERT_EQ(out.floats.size(), cpu.size());
        for (std::size_t i = 0; i < cpu.size(); ++i) ASSERT_NEAR(out.floats[i], cpu[i], 1e-5) << "component " << i;
    }

    std::unique_ptr<host::Renderer> renderer;
    std::unique_ptr<host::Host> host;
    host::EffectInstance* instance = nullptr;
};

}  // namespace

TEST_F(EffectExchangeTest, ModalButtonTakesTheLutAtOnceAndTheNextRenderGradesWithIt) {
    standIn("LUT", "warm");
    standIn("DIM", "9");
    standIn("NAME", "warm");
    standIn("RANGE", "0,1");
    standIn("PRESET", "graded in the application");
    effectOf(instance).name() = "/Users/x/My Looks/old.cube";
    effectOf(instance).preset() = {'s', 'e', 'n', 't'};

    ASSERT_TRUE(instance->pressButton(OpenQuillane));
    // The instance's own preset and id, and the frame the host gave as RGBA (the
    // record's other words and the handed file's name: ExchangeTest).
    auto seen = report();
    EXPECT_EQ(seen["handed.hex"], hexOf("sent"));
    EXPECT_EQ(seen["image.currentPluginID"], std::to_string(effectOf(instance).instanceId()));
    const host::Frame frame = sampleFrame();
    EXPECT_TRUE(std::equal(frame.floats.begin(), frame.floats.end(), image.data->pixels));

    const FxQuillaneInspection& state = *instance->inspection();
    EXPECT_EQ(state.currentName(), "Quillane warm");
    EXPECT_EQ(text(state.currentPreset()), "graded in the application");
    const std::vector<float> warm = standInNodes("warm", 9);
    ASSERT_EQ(state.currentLut().getDimSize(), 9);
    EXPECT_TRUE(std::equal(warm.begin(), warm.end(), state.currentLut().getData()));
    EXPECT_EQ(instance->parameter(LutName)->value.stringValue(), "Quillane warm");
    EXPECT_EQ(instance->parameter(LutDimSize)->value.integerValue(), 9);
    EXPECT_EQ(instance->openActions(), 0);
    EXPECT_EQ(instance->unbracketedAccesses(), 0);
    expectGradedWith(render(instance), warm, 9, 0.0f, 1.0f);

    // The next exchange brings no preset: the one the instance has stays.
    ScopedEnv noPreset("QUILLANE_STANDIN_PRESET", std::nullopt);
    ScopedEnv invert("QUILLANE_STANDIN_LUT", std::string("invert"));
    ASSERT_TRUE(instance->pressButton(OpenQuillane));
    EXPECT_EQ(readReport(reportPath)["handed.hex"], hexOf("graded in the application"));
    EXPECT_EQ(text(state.currentPreset()), "graded in the application");
    expectGradedWith(render(instance), standInNodes("invert", 9), 9, 0.0f, 1.0f);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(EffectExchangeTest, NonModalRenderPollsAndTheFirstFrameAfterTheAnswerIsGraded) {
    writeSettings("0");
    standIn("RELEASE", release);
    standIn("LINGER_MS", "30000");
    standIn("DIM", "5");
    standIn("RANGE", "-0.25,1.25");
    effectOf(instance).name() = "/Users/x/My Looks/warm.cube";

    ASSERT_TRUE(instance->pressButton(OpenQuillane));
    EXPECT_FALSE(fileExists(reportPath)) << "the button returns while the application works";
    const host::Frame in = sampleFrame();
    EXPECT_EQ(render(instance).floats, in.floats) << "no answer yet: the frame passes unchanged";
    EXPECT_EQ(render(instance).floats, in.floats);

    writeFile(release, "");
    ASSERT_TRUE(waitUntil([&] { return fileExists(reportPath); }));
    EXPECT_EQ(report()["arg2"], "/Users/x/My Looks/warm.cube");
    EXPECT_EQ(lut.data->lutReady, 1u) << "taken by the render, not before";
    expectGradedWith(render(instance), standInNodes("invert", 5), 5, -0.25f, 1.25f);
    EXPECT_EQ(lut.data->lutReady, 0u);
    EXPECT_EQ(instance->inspection()->currentName(), "Quillane warm");
    EXPECT_TRUE(libproc::isProcessRunning("QuillaneMac")) << "the application goes on running";
}

TEST_F(EffectExchangeTest, AnAnswerForAnotherInstanceIsLeftForThatInstance) {
    host::EffectInstance* other = newInstance();
    ASSERT_TRUE(other);
    standIn("FOR_ID", std::to_string(effectOf(other).instanceId()));
    ASSERT_TRUE(instance->pressButton(OpenQuillane));
    EXPECT_FALSE(instance->inspection()->currentLut().isLoaded());
    EXPECT_EQ(instance->inspection()->currentName(), "");
    EXPECT_EQ(lut.data->lutReady, 1u);

    effectOf(other).checkLutMapping();
    EXPECT_EQ(other->inspection()->currentLut().getDimSize(), 17);
    EXPECT_EQ(lut.data->lutReady, 0u);
}

TEST_F(EffectExchangeTest, HostileAnswersLeaveTheInstanceWorking) {
    ASSERT_TRUE(instance->pressButton(OpenQuillane));  // a good LUT first
    const std::vector<float> invert = standInNodes("invert", 17);
    ASSERT_EQ(instance->inspection()->currentName(), "Quillane warm");

    standIn("LUT", "warm");
    standIn("PRESET_SIZE", std::to_string(3LL << 30));
    {
        // A size the record cannot hold (every refused answer: ExchangeTest).
        ScopedEnv bad("QUILLANE_STANDIN_DIM_WORD", std::string("65"));
        ASSERT_TRUE(instance->pressButton(OpenQuillane));
        EXPECT_EQ(instance->inspection()->currentName(), "Quillane warm");
        EXPECT_TRUE(instance->inspection()->currentPreset().empty());
        expectGradedWith(render(instance), invert, 17, 0.0f, 1.0f);
    }

    // A huge preset file and a name without its end: the LUT is taken, the file is not.
    standIn("NAME_UNTERMINATED", "1");
    ASSERT_TRUE(instance->pressButton(OpenQuillane));
    EXPECT_EQ(instance->inspection()->currentName(), "Quillane " + std::string(256, 'x'));
    EXPECT_TRUE(instance->inspection()->currentPreset().empty());
    expectGradedWith(render(instance), standInNodes("warm", 17), 17, 0.0f, 1.0f);
}

TEST_F(EffectExchangeTest, WithoutAFrameNothingIsWrittenOrStarted) {
    instance->setFrameProvider([](const FxRenderInfo&, FxTime) { return std::unique_ptr<FxBitmap>(); });
    ASSERT_TRUE(instance->pressButton(OpenQuillane));
    EXPECT_FALSE(fileExists(reportPath));
    EXPECT_EQ(image.data->fromPlugin, 0u);
    EXPECT_EQ(lut.data->fromPlugin, 0u);  // a frame too large: ExchangeTest
    EXPECT_TRUE(boxes.boxes.empty());
}

// Exchange files that cannot be made (a missing folder, a link planted at the
// name, a file-size limit under which the 141 MB record cannot be sized) do not
// stop the host; button 2 then fails with one line naming the file and the
// reason, starts nothing and leaves the project as it was.
using HostExchangeFiles = ExchangeTest;

TEST_F(HostExchangeFiles, Button2FailsWithTheFileAndTheReasonWhenTheFilesCannotBeMade) {
    const std::string frame = sandbox.dir.file("frame.png");
    host::Frame f;
    f.width = f.height = 2;
    f.bytes.assign(16, 128);
    ASSERT_TRUE(host::writePngFrame(frame, f, nullptr));
    const std::string linked = sandbox.dir.file("linked"), limited = sandbox.dir.file("limited");
    std::filesystem::create_directories(linked);
    std::filesystem::create_directories(limited);
    std::filesystem::create_symlink(sandbox.dir.file("elsewhere"), linked + "/" + kImageMappingName);
    struct Case {
        std::string folder;
        std::string shell;  // run first, in the shell that starts the host
        std::string reason;
    } cases[] = {
        {sandbox.dir.file("missing"), "", "No such file or directory"},
        {linked, "", "Too many levels of symbolic links"},
        // The host must outlive the limit: SIGXFSZ is ignored as the host
        // itself will do.
        {limited, "trap '' XFSZ; ulimit -f 256;", "cannot make it 141558048 bytes long: File too large"},
    };
    for (const Case& c : cases) {
        const std::string before = sandbox.dir.file("before.json"), after = sandbox.dir.file("after.json");
        const ProcessResult run = runProcess(
            "bash -c \"" + c.shell + " env -u DISPLAY QUILLANE_EXCHANGE_DIR='" + c.folder + "' '" + kHostProgram +
            "' new frame '" + frame + "' save '" + before + "' press 2 save '" + after + "'\" 2>&1");
        EXPECT_EQ(run.status, 1) << run.out;
        const std::string line = "quillane-host: press 2: the frame cannot be sent to the desktop program: "
                                 "the exchange file " + c.folder + "/" + kImageMappingName + ": " + c.reason + "\n";
        EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("press 2"), run.out.rfind("press 2")) << "one line for the press\n" << run.out;
        EXPECT_EQ(readFile(after), readFile(before));
        EXPECT_FALSE(fileExists(reportPath)) << "the desktop program was started";
    }
}
