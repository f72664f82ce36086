// The launcher with a real stand-in program named QuillaneMac. These tests
// look at every process of the machine, so they run alone (see CMakeLists.txt).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "DesktopTestEnv.h"
#include "desktop/Launcher.h"

extern char** environ;

using namespace quillane::test;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;

namespace {

const std::string kStandIn = QUILLANE_TEST_QUILLANEMAC;

bool exists(const std::string& path) { return std::filesystem::exists(path); }
bool quillaneMacRuns() { return libproc::isProcessRunning("QuillaneMac"); }

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(waitForNoQuillaneMac()) << "a QuillaneMac from elsewhere keeps running";
        setProgramPath(kStandIn);
    }
    void setProgramPath(const std::string& program) {
        writeFile(sandbox.settingsFile(), "<XMLReg>\n<Key Name=\"Quillane\">\n<Value Name=\"ProgramPath\" Type=\"2\">" +
                                              program + "</Value>\n</Key>\n</XMLReg>\n");
    }
    // The arguments the stand-in reported.
    Args recorded() const {
        auto report = keyedLines(readFile(record), '=');
        Args args;
        for (int i = 0; report.count("arg" + std::to_string(i)); ++i) args.push_back(report["arg" + std::to_string(i)]);
        return args;
    }
    // Starts program outside the launcher; it stays until the file go exists.
    pid_t startWaitingStandIn(const std::string& program) {
        ScopedEnv wait("QUILLANE_STANDIN_RELEASE", go);
        ScopedEnv rec("QUILLANE_STANDIN_REPORT", sandbox.dir.file("outside-record"));
        std::string arg0 = program;
        char* argv[] = {arg0.data(), nullptr};
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
        return pid;
    }
    void release(pid_t pid) {
        writeFile(go, "");
        ::waitpid(pid, nullptr, 0);
    }

    DesktopSandbox sandbox;
    BoxRecorder boxes;
    std::string record = sandbox.dir.file("record");
    std::string go = sandbox.dir.file("go");
    ScopedEnv recordEnv{"QUILLANE_STANDIN_REPORT", record};
    ScopedEnv noWait{"QUILLANE_STANDIN_RELEASE", std::nullopt};
};

}  // namespace

TEST_F(LauncherTest, ModalWaitsAndAPathWithShellCharactersArrivesAsOneArgument) {
    const std::string pwned = sandbox.dir.file("pwned");
    const std::string path = sandbox.dir.file("my looks") + "/a b;touch " + pwned + " $(touch " + pwned +
                             ") `touch " + pwned + "` 'q' \"d\" & | > \\ x.qlp";
    {
        ScopedEnv wait("QUILLANE_STANDIN_RELEASE", go);
        std::atomic<bool> released{false};
        std::thread releaser([&] {
            waitUntil(quillaneMacRuns);
            std::this_thread::sleep_for(200ms);
            released = true;
            writeFile(go, "");
        });
        startQuillane(path, true);
        EXPECT_TRUE(released);
        EXPECT_FALSE(quillaneMacRuns());
        releaser.join();
    }
    EXPECT_EQ(recorded(), (Args{kStandIn, "-plugin", path}));
    EXPECT_FALSE(exists(pwned));

    // An empty path is left out.
    std::filesystem::remove(record);
    startQuillane("", true);
    EXPECT_EQ(recorded(), (Args{kStandIn, "-plugin"}));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(LauncherTest, NonModalReturnsAtOnceAndLeavesNoZombie) {
    ScopedEnv wait("QUILLANE_STANDIN_RELEASE", go);
    startQuillane("/tmp/a.qlp", false);
    EXPECT_FALSE(exists(record));  // still waiting for its go: the call did not wait
    EXPECT_TRUE(waitUntil(quillaneMacRuns));

    writeFile(go, "");
    ASSERT_TRUE(waitUntil([&] { return exists(record); }));
    EXPECT_EQ(recorded(), (Args{kStandIn, "-plugin", "/tmp/a.qlp"}));
    EXPECT_TRUE(waitForNoQuillaneMac(10s));
    // Nothing of ours is left to reap: no child at all remains.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(LauncherTest, OnlyARunningQuillaneMacByItsFullNameStopsTheStart) {
    const std::string longer = sandbox.dir.file("QuillaneMacPro");
    std::filesystem::copy_file(kStandIn, longer);
    std::filesystem::permissions(longer, std::filesystem::perms::owner_all);
    const pid_t runningLonger = startWaitingStandIn(longer);
    ASSERT_TRUE(waitUntil([] {
        for (const auto& p : libproc::listProcesses())
            if (p.name == "QuillaneMacPro") return true;
        return false;
    }));
    startQuillane("/tmp/b.qlp", true);
    EXPECT_EQ(recorded(), (Args{kStandIn, "-plugin", "/tmp/b.qlp"}));

    std::filesystem::remove(record);
    const pid_t running = startWaitingStandIn(kStandIn);
    ASSERT_TRUE(waitUntil(quillaneMacRuns));
    startQuillane("/tmp/a.qlp", true);  // would block until its own stand-in ended
    startQuillane("/tmp/a.qlp", false);
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(exists(record));
    EXPECT_TRUE(boxes.boxes.empty());
    release(running);
    ::waitpid(runningLonger, nullptr, 0);
}

TEST_F(LauncherTest, WithoutProgramPathTheUserIsToldAndNothingStarts) {
    const std::string preferences =
        "Quillane preferences not found. Please install Quillane and run it before using this function. "
        "\n\nFile " + sandbox.settingsFile() + " not found";
    setProgramPath("");
    startQuillane("/tmp/a.qlp", true);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].messageText, "Error");
    EXPECT_EQ(boxes.boxes[0].informativeText, preferences);
    EXPECT_EQ(boxes.boxes[0].style, appkit::AlertStyle::Critical);
    EXPECT_EQ(boxes.boxes[0].buttons, std::vector<std::string>{"OK"});

    // No settings file at all: the lookup's box comes first.
    std::filesystem::remove(sandbox.settingsFile());
    startQuillane("/tmp/a.qlp", false);
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[1].informativeText, "Error opening file " + sandbox.settingsFile());
    EXPECT_EQ(boxes.boxes[2].informativeText, preferences);

    // No HOME: only the lookup's box.
    ScopedEnv noHome("HOME", std::nullopt);
    startQuillane("/tmp/a.qlp", true);
    ASSERT_EQ(boxes.boxes.size(), 4u);
    EXPECT_EQ(boxes.boxes[3].informativeText, "Can't get HOME variable");
    EXPECT_FALSE(exists(record));
}

TEST_F(LauncherTest, TheApplicationGetsNoDescriptorBeyondTheStandardOnes) {
    // A descriptor the host left inheritable, as libraries now and then do.
    const int inheritable = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(inheritable, 3);
    std::string standard;  // those of 0, 1 and 2 that the test itself has open
    for (int fd = 0; fd < 3; ++fd)
        if (::fcntl(fd, F_GETFD) != -1) standard += (standard.empty() ? "" : ",") + std::to_string(fd);
    for (const bool modal : {true, false}) {
        SCOPED_TRACE(modal ? "modal" : "non-modal");
        std::filesystem::remove(record);
        startQuillane("/tmp/a.qlp", modal);
        ASSERT_TRUE(waitUntil([&] { return exists(record); }));
        EXPECT_EQ(keyedLines(readFile(record), '=')["fds"], standard);
        ASSERT_TRUE(waitForNoQuillaneMac(10s));
    }
    ::close(inheritable);
}
