// The real effect module in the real host program: a LUT chosen through the
// file dialog from the command line, kept in a saved project and restored by
// a second host process; what each press makes of cancel, error and
// unreadable files.
// (Rendering a chosen LUT, also after reopening, is covered by tests/gpu.)
#include <gtest/gtest.h>

#include <string>

#include "ActionsTestEnv.h"
#include "host/FrameFile.h"

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

    // A new process restores the same LUT, name and preset from the project
    // (every value exactly: tests/effect), and next from the restored name
    // reaches the other file of the folder.
    const HostRun stepped = host("open '" + project + "' state press 5 state");
    ASSERT_EQ(stepped.status, 0) << stepped.out;
    for (const char* key : {"name", "loaded", "dimSize", "range", "nodes", "preset"})
        EXPECT_NE(stepped.out.find(key + (" " + chosen.at(key)) + "\n"), std::string::npos) << key;
    EXPECT_EQ(keyedLines(stepped.out).at("name"), "\"" + dir + "/b.cube\"");
    EXPECT_EQ(keyedLines(stepped.out).at("preset").substr(0, 2), "0 ");
}

TEST_F(ActionsHostCli, ARelativeFileIsChosenByItsAbsolutePathAndNextStepsOn) {
    const std::string dir = lutDir();
    writeCube(dir + "/a.cube", 0.25f);
    writeCube(dir + "/b.cube", 0.5f);
    const HostRun run = runProcess("cd '" + dir + "' && env -u DISPLAY HOME='" + sandbox.home() +
                                   "' QUILLANE_EXCHANGE_DIR='" + sandbox.exchange() + "' '" + kHostProgram +
                                   "' choose-file ./a.cube state press 5 state 2>&1");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("name \"" + dir + "/a.cube\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("name \"" + dir + "/b.cube\""), std::string::npos) << run.out;
}

// Each press and what the command line makes of it: the exit status and the
// reason on standard error, decided by what the action did.
TEST_F(ActionsHostCli, APressFailsWhenItsActionFailedOrCouldNotRun) {
    const std::string dir = lutDir();
    writeCube(dir + "/a.cube", 0.25f);
    writeFile(dir + "/b.cube", "not a LUT\n");  // the only other entry cannot be read
    const std::string frame = sandbox.dir.file("frame.png");
    ASSERT_TRUE(host::writePngFrame(frame, [] {
        host::Frame f;
        f.width = f.height = 2;
        f.bytes.assign(16, 128);
        return f;
    }(), nullptr));
    const std::string chosen = "choose-file '" + dir + "/a.cube' ";
    struct Case {
        std::string arguments;
        std::string env;
        int status;
        std::string says;
    } cases[] = {
        // Without a frame and a display: the first the action runs into.
        {"press 3", "", 1, "press 3: the "},
        {"frame '" + frame + "' press 3", "", 1, "press 3: the LUT Manager needs a display"},
        {"frame '" + frame + "' press 3", "DISPLAY=:12345", 1, "press 3: the LUT Manager could not open"},
        {chosen + "press 5", "", 1, "press 5: no LUT was taken, the effect kept its LUT"},
        {chosen + "press 6", "", 1, "press 6: no LUT was taken"},
        {"press 4", "", 1, "press 4: the file dialog needs a display"},
        {chosen + "press 4 state", std::string(nfd::kAnswerVariable) + "=cancel", 0, "name \"" + dir + "/a.cube\"\n"},
        {"press 4", std::string(nfd::kAnswerVariable) + "='okay:" + dir + "/b.cube'", 1, "press 4: no LUT was taken"},
        {chosen + "choose-file '" + dir + "/b.cube' state", "", 1, "Cannot read a LUT from the file " + dir + "/b.cube"},
        {"press 4", std::string(nfd::kAnswerVariable) + "='okay:" + dir + "/a.cube'", 0, ""},
        {"press 14", "", 0, "[critical] About"},  // informs, fails nothing
        {"press 15", "", 1, "parameter 15 has no button to press"},
        {"frame '" + sandbox.dir.file("none.png") + "'", "", 1, "none.png"},
    };
    for (const Case& c : cases) {
        const HostRun run = host(c.arguments, c.env);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.out;
        if (!c.says.empty()) {
            EXPECT_NE(run.out.find(c.says), std::string::npos) << c.arguments << "\n" << run.out;
        }
    }
}

// Next and Previous that find nothing to step to took no LUT: the press
// fails with one line that says why, and the project stays as it was.
TEST_F(ActionsHostCli, NextAndPreviousWithNothingToStepToFailWithTheReasonAndKeepTheProject) {
    const std::string dir = lutDir();
    writeCube(dir + "/a.cube", 0.25f);
    writeCube(dir + "/b.cube", 0.5f);
    const std::string project = sandbox.dir.file("project.json");
    ASSERT_EQ(host("choose-file '" + dir + "/a.cube' save '" + project + "'").status, 0);
    const std::string chosen = readFile(project);
    // The same project naming an online LUT, or a file whose folder went away.
    const auto naming = [&](const std::string& name) {
        std::string text = chosen;
        const std::string quoted = "\"" + dir + "/a.cube\"";
        for (std::size_t at; (at = text.find(quoted)) != std::string::npos;)
            text.replace(at, quoted.size(), "\"" + name + "\"");
        return text;
    };
    const std::string noService = "QUILLANE_SERVICE_URL=";
    const std::string kept = "no LUT was taken, the effect kept its LUT: ";
    struct Case {
        std::string project;  // empty: a new instance, no LUT chosen
        std::string env;
        std::string reason;
    } cases[] = {
        {"", noService, "no LUT is chosen, and no online library is configured (QUILLANE_SERVICE_URL is not set)"},
        {naming("Film/Warm"), noService,
         "the LUT Film/Warm is an online LUT, and no online library is configured (QUILLANE_SERVICE_URL is not set)"},
        {naming(dir + "/gone/a.cube"), "",
         "the LUT " + dir + "/gone/a.cube: cannot read its folder " + dir + "/gone: No such file or directory"},
        {naming(dir + "/c.cube"), "", "the LUT " + dir + "/c.cube is no longer in its folder"},
        {naming(sandbox.dir.file("empty") + "/a.cube"), "", "the folder " + sandbox.dir.file("empty") + " holds no LUT files"},
    };
    std::filesystem::create_directories(sandbox.dir.file("empty"));
    for (const Case& c : cases) {
        for (const char* button : {"5", "6"}) {
            const std::string open = c.project.empty() ? "new" : "open '" + project + "'";
            if (!c.project.empty()) writeFile(project, c.project);
            const HostRun run = host(open + " press " + button + " save '" + project + "'", c.env);
            EXPECT_EQ(run.status, 1) << run.out;
            EXPECT_EQ(run.out, "quillane-host: press " + std::string(button) + ": " + kept + c.reason + "\n");
            if (!c.project.empty()) EXPECT_EQ(readFile(project), c.project) << c.reason;
        }
    }
}

}  // namespace
