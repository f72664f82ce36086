// Next and previous over real folders, the file dialog and the About box,
// through our host with the effect linked into the test.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "ActionsTestEnv.h"

namespace {

using namespace quillane::test;
using ActionsLocal = ActionsTest;

TEST_F(ActionsLocal, NextAndPreviousFollowTheDirectoryOrderAroundAndBringThePreset) {
    const std::string dir = folder("many");
    const std::vector<std::string> candidates = {"x1.cube", "x2.3dl", "look.cube.bak", "grade.3dl.cube"};
    for (const auto& name : candidates) {
        if (ends_with(name, ".3dl"))
            write3dl(dir + "/" + name, 100);
        else
            writeCube(dir + "/" + name, 0.1f, "preset of " + name);
    }
    for (const char* other : {"LOOK.CUBE", ".hidden.cube", "notes.txt"}) writeCube(dir + "/" + other, 0.5f);

    std::vector<std::string> order;  // the directory's own order
    for (const auto& name : directoryOrder(dir))
        if (std::count(candidates.begin(), candidates.end(), name)) order.push_back(name);
    ASSERT_EQ(order.size(), candidates.size());
    const std::size_t n = order.size();
    const auto expectAt = [&](std::size_t i) {
        const std::string& name = order[i % n];
        EXPECT_EQ(fx().currentName(), dir + "/" + name);
        EXPECT_EQ(shownName(), dir + "/" + name);
        EXPECT_EQ(presetText(), ends_with(name, ".3dl") ? "" : "preset of " + name);  // a .3dl brings none
    };

    choose(dir + "/" + order[0]);
    for (std::size_t i = 1; i <= n; ++i) {
        EXPECT_TRUE(instance->pressButton(NextLut));
        expectAt(i);
    }
    for (std::size_t i = 1; i <= n; ++i) {
        EXPECT_TRUE(instance->pressButton(PrevLut));
        expectAt(n - i);
    }
    EXPECT_TRUE(boxes.boxes.empty());  // look.cube.bak stayed a local file
    EXPECT_EQ(instance->unbracketedAccesses(), 0);
}

TEST_F(ActionsLocal, TheFirstEntryThatBeginsWithTheLeafIsTheCurrentPosition) {
    // Whether x.cube.old comes before x.cube is the file system's choice:
    // look for a name for which it does.
    std::string dir, stem;
    for (char c = 'a'; c <= 'z' && dir.empty(); ++c) {
        const std::string d = folder(std::string("old-") + c), s = std::string(1, c) + "b.cube";
        writeCube(d + "/" + s, 0.25f, "new");
        writeCube(d + "/" + s + ".old", 0.5f, "old");
        for (const auto& name : directoryOrder(d)) {
            if (name == s) break;
            if (name == s + ".old") dir = d, stem = s;
        }
    }
    if (dir.empty()) GTEST_SKIP() << "this file system never lists x.cube.old before x.cube";

    // [ab.cube.old, ab.cube]: ab.cube stands at ab.cube.old's place, so next
    // and previous both give ab.cube itself, read again.
    choose(dir + "/" + stem);
    fx().lut() = Lut();
    fx().changeNextLut();
    EXPECT_EQ(fx().currentName(), dir + "/" + stem);
    EXPECT_FLOAT_EQ(firstRed(fx().currentLut()), 0.25f);
    EXPECT_TRUE(saved());
    fx().changePrevLut();
    EXPECT_EQ(fx().currentName(), dir + "/" + stem);
    // Stepped to, ab.cube.old is still a file of the folder: next is ab.cube.
    choose(dir + "/" + stem + ".old");
    fx().changeNextLut();
    EXPECT_EQ(fx().currentName(), dir + "/" + stem);
    EXPECT_EQ(presetText(), "new");
}

TEST_F(ActionsLocal, NothingHappensWithoutAFolderOrACurrentEntry) {
    const std::string dir = folder("gone");
    for (const char* name : {"a.cube", "b.cube", "LOOK.CUBE"}) writeCube(dir + "/" + name, 0.1f);
    writeCube(dir + "/current.cube", 0.3f, "mine");
    const std::string file = sandbox.dir.file("plain");
    writeCube(file, 0.1f);
    auto unchanged = [&](const std::string& name, const char* why) {
        SCOPED_TRACE(why);
        fx().name() = name;
        instance->clearCalls();
        fx().changeNextLut();
        fx().changePrevLut();
        expectKept(name, 0.3f, "mine");
    };
    choose(dir + "/current.cube");
    // LOOK.CUBE is a file LUT, but no candidate: the candidate test minds case.
    unchanged(dir + "/LOOK.CUBE", "an upper-case current file");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    unchanged("a.cube", "a name without separator");
    std::filesystem::current_path(cwd);
    unchanged(file + "/a.cube", "a folder that is a file");
    std::filesystem::remove(dir + "/current.cube");
    unchanged(dir + "/current.cube", "a current file that vanished");
    std::filesystem::remove_all(dir);
    unchanged(dir + "/current.cube", "a folder that vanished");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ActionsLocal, AFolderThatCannotBeReadChangesNothing) {
    // Tests run as root, whom permission bits do not stop: the step runs in a
    // child process that has given up root.
    const std::string dir = folder("locked");
    writeCube(dir + "/a.cube", 0.1f);
    writeCube(dir + "/b.cube", 0.2f);
    choose(dir + "/a.cube");
    ASSERT_EQ(::chmod(sandbox.dir.path().c_str(), 0711), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
        if (::opendir(dir.c_str()) != nullptr) ::_exit(11);  // readable all the same: proves nothing
        fx().changeNextLut();
        fx().changePrevLut();
        const bool same = fx().currentName() == dir + "/a.cube" && firstRed(fx().currentLut()) == 0.1f;
        ::_exit(same && !saved() && boxes.boxes.empty() ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(dir.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "cannot give up root here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "11: readable without root, 12: something changed";
}

TEST_F(ActionsLocal, ASteppedToEntryThatIsNoLutKeepsTheCurrentLutAndSaysSo) {
    // A pipe would block a reader for good; a folder is no file at all.
    for (const std::string kind : {"file", "folder", "pipe"}) {
        SCOPED_TRACE("a " + kind + " named like a LUT");
        const std::string dir = folder("bad-" + kind), bad = dir + "/bad.cube";
        writeCube(dir + "/good.cube", 0.3f, "kept");
        if (kind == "folder")
            std::filesystem::create_directory(bad);
        else if (kind == "pipe")
            ASSERT_EQ(::mkfifo(bad.c_str(), 0644), 0);
        else
            writeFile(bad, "this is no LUT\n");
        choose(dir + "/good.cube");
        boxes.boxes.clear();

        fx().changeNextLut();
        expectKept(dir + "/good.cube", 0.3f, "kept");
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].messageText, "Error in Quillane Plug-in");
        EXPECT_EQ(boxes.boxes[0].informativeText, "Cannot read a LUT from the file " + bad + "\nThe current LUT is kept.");
    }
}

// Cancel, error and unreadable choices: end to end in HostCliTest.
TEST_F(ActionsLocal, TheFileDialogAsksForLutFilesAndLoadsTheChoice) {
    const std::string dir = folder("dialog");
    writeCube(dir + "/first.cube", 0.25f, "first preset");
    dialogAnswer = nfd::DialogAnswer{NFD_OKAY, dir + "/first.cube", ""};
    EXPECT_TRUE(instance->pressButton(ChooseFile));
    ASSERT_EQ(dialogRequests.size(), 1u);
    EXPECT_EQ(dialogRequests[0].kind, nfd::DialogKind::OpenFile);
    EXPECT_EQ(dialogRequests[0].filterList, "3dl;cube;");
    EXPECT_EQ(dialogRequests[0].defaultPath, "");
    EXPECT_EQ(fx().currentName(), dir + "/first.cube");
    EXPECT_FLOAT_EQ(firstRed(fx().currentLut()), 0.25f);
    EXPECT_EQ(presetText(), "first preset");
    EXPECT_EQ(storedName(), dir + "/first.cube");
}

// The LUT Manager itself: tests/gallery.
TEST_F(ActionsLocal, AboutShowsItsBoxAndTheLutManagerWithoutAFrameDoesNothing) {
    EXPECT_TRUE(instance->pressButton(About));
    EXPECT_TRUE(instance->pressButton(OpenGallery));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].messageText, "About");
    EXPECT_EQ(boxes.boxes[0].informativeText,
              "Quillane Plug-in for Final Cut Pro version 1\nFor more info visit https://quillane.example");
    EXPECT_EQ(boxes.boxes[0].style, appkit::AlertStyle::Critical);
    EXPECT_EQ(boxes.boxes[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_FALSE(saved());
}

}  // namespace
