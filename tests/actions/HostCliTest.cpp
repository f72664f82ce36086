// The real effect module in the real host program: a LUT chosen through the
// file dialog from the command line, kept in a saved project and restored by
// a second host process; cancel, error and unreadable files change nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "ActionsTestEnv.h"
#include "host/HostRender.h"
#include "lut/MathClass.h"

namespace {

using namespace quillane::test;

using HostRun = ProcessResult;  // out: standard output and error together

class ActionsHostCli : public ::testing::Test {
protected:
    // The host with the test's own HOME and exchange folder, no display (boxes
    // go to standard error, the dialog has nothing to show on) and a dead
    // service address.
    HostRun host(const std::string& arguments, const std::string& extraEnv = "") {
        return runProcess("env -u DISPLAY -u WAYLAND_DISPLAY -u " + std::string(nfd::kAnswerVariable) + " HOME='" +
                          sandbox.home() + "' QUILLANE_EXCHANGE_DIR='" + sandbox.exchange() +
                          "' QUILLANE_SERVICE_URL=https://127.0.0.1:1 " + extraEnv + " '" + kHostProgram + "' " +
                          arguments + " 2>&1");
    }

    std::string lutDir() {
        const std::string dir = sandbox.dir.file("luts");
        std::filesystem::create_directories(dir);
        return dir;
    }

    DesktopSandbox sandbox;
};

TEST_F(ActionsHostCli, AChosenFileIsKeptInTheProjectAndStepsOnInTheNextProcess) {
    const std::string dir = lutDir();
    writeCube(dir + "/a.cube", 0.25f, "preset a");
    writeCube(dir + "/b.cube", 0.5f);
    const std::string project = sandbox.dir.file("project.json");

    const HostRun first = host("choose-file '" + dir + "/a.cube' state save '" + project + "'");
    ASSERT_EQ(first.status, 0) << first.out;
    const auto chosen = keyedLines(first.out);
    EXPECT_EQ(chosen.at("name"), "\"" + dir + "/a.cube\"");
    EXPECT_EQ(chosen.at("loaded"), "1");
    EXPECT_EQ(chosen.at("dimSize"), "2");
    EXPECT_EQ(chosen.at("preset").substr(0, 2), "8 ");

    // A new process restores the same LUT, name and preset from the project.
    const HostRun reopened = host("open '" + project + "' state");
    ASSERT_EQ(reopened.status, 0) << reopened.out;
    const auto restored = keyedLines(reopened.out);
    for (const char* key : {"name", "loaded", "dimSize", "range", "nodes", "preset"})
        EXPECT_EQ(restored.at(key), chosen.at(key)) << key;

    // Next, from the restored name, reaches the other file of the folder.
    const HostRun stepped = host("open '" + project + "' press 5 state");
    ASSERT_EQ(stepped.status, 0) << stepped.out;
    EXPECT_EQ(keyedLines(stepped.out).at("name"), "\"" + dir + "/b.cube\"");
    EXPECT_EQ(keyedLines(stepped.out).at("preset").substr(0, 2), "0 ");
}

TEST_F(ActionsHostCli, CancelErrorAndUnreadableFilesChangeNothing) {
    const std::string dir = lutDir();
    writeCube(dir + "/a.cube", 0.25f, "preset a");
    writeFile(dir + "/broken.cube", "no LUT here\n");
    const std::string project = sandbox.dir.file("project.json");
    ASSERT_EQ(host("choose-file '" + dir + "/a.cube' save '" + project + "'").status, 0);
    const auto before = keyedLines(host("open '" + project + "' state").out);

    // No display and nothing scripted: the dialog fails, and says so.
    const HostRun failed = host("open '" + project + "' press 4 state");
    ASSERT_EQ(failed.status, 0) << failed.out;
    EXPECT_NE(failed.out.find("file dialog failed"), std::string::npos) << failed.out;
    const HostRun cancelled = host("open '" + project + "' press 4 state", std::string(nfd::kAnswerVariable) + "=cancel");
    ASSERT_EQ(cancelled.status, 0) << cancelled.out;
    // An unreadable file: the effect says so and keeps its LUT; the command fails.
    const HostRun broken = host("open '" + project + "' choose-file '" + dir + "/broken.cube' state");
    EXPECT_NE(broken.status, 0) << broken.out;
    EXPECT_NE(broken.out.find("Cannot read a LUT from the file " + dir + "/broken.cube"), std::string::npos)
        << broken.out;
    for (const HostRun* run : {&failed, &cancelled}) {
        const auto after = keyedLines(run->out);
        for (const char* key : {"name", "loaded", "dimSize", "nodes", "preset"})
            EXPECT_EQ(after.at(key), before.at(key)) << key << "\n" << run->out;
    }
}

TEST_F(ActionsHostCli, AChosenLutRendersAsTheCpuGradesItAlsoAfterReopening) {
    // The real module in this process: the scripted answer reaches its copy of
    // the dialog through the environment. No display, so no box can block.
    ScopedEnv display("DISPLAY", std::nullopt);
    const std::string dir = lutDir();
    {
        std::ofstream out(dir + "/grade.cube");
        out << "LUT_3D_SIZE 3\n";
        for (int b = 0; b < 3; ++b)
            for (int g = 0; g < 3; ++g)
                for (int r = 0; r < 3; ++r) out << g * 0.5f << ' ' << b * 0.4f << ' ' << 1.0f - r * 0.3f << '\n';
    }
    std::string error;
    auto renderer = host::Renderer::create(&error);
    if (!renderer) GTEST_SKIP() << "no OpenGL here: " << error;
    host::Frame in;
    in.width = 37;
    in.height = 11;
    std::mt19937 random(7);
    for (int i = 0; i < in.width * in.height * 4; ++i) in.bytes.push_back(static_cast<unsigned char>(random()));

    auto editor = host::Host::load(kEffectModulePath, &error);
    ASSERT_TRUE(editor) << error;
    host::EffectInstance* instance = editor->newInstance();
    ASSERT_TRUE(instance) << error;
    {
        ScopedEnv answer(nfd::kAnswerVariable, nfd::scriptedOkay(dir + "/grade.cube"));
        ASSERT_TRUE(instance->pressButton(ChooseFile));
    }
    ASSERT_EQ(instance->inspection()->currentName(), dir + "/grade.cube");
    host::Frame graded, reopened;
    ASSERT_TRUE(renderer->render(*instance, in, &graded, &error)) << error;

    std::string path = dir + "/grade.cube";
    Lut lut;
    std::vector<char> preset;
    lutFromFile(&path, &lut, &preset);
    std::vector<float> cpu(in.bytes.size());
    applyLutCPUTrilinear(in.bytes.data(), cpu.data(), lut.getData(), 0.0f, 1.0f, true, 3, in.width * in.height, 4);
    int off = 0;
    for (std::size_t i = 0; i < cpu.size(); ++i)
        off += std::abs(graded.bytes[i] - std::lround(std::fmin(std::fmax(cpu[i], 0.f), 1.f) * 255)) > 1;
    EXPECT_EQ(off, 0);

    const std::string project = sandbox.dir.file("graded.json");
    ASSERT_TRUE(editor->saveProject(project, &error)) << error;
    auto again = host::Host::load(kEffectModulePath, &error);
    ASSERT_TRUE(again && again->openProject(project, &error)) << error;
    ASSERT_TRUE(renderer->render(*again->instance(0), in, &reopened, &error)) << error;
    EXPECT_EQ(reopened.bytes, graded.bytes);
}

}  // namespace
