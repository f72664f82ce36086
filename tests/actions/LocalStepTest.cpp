// Next and previous over real folders, the file dialog and the About box,
// through our host with the effect linked into the test.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "ActionsTestEnv.h"

namespace {

using namespace quillane::test;
using ActionsLocal = ActionsTest;

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
    fx().runAction(NextLut);
    EXPECT_EQ(fx().currentName(), dir + "/" + stem);
    EXPECT_FLOAT_EQ(firstRed(fx().currentLut()), 0.25f);
    EXPECT_TRUE(saved());
    fx().runAction(PrevLut);
    EXPECT_EQ(fx().currentName(), dir + "/" + stem);
    // Stepped to, ab.cube.old is still a file of the folder: next is ab.cube.
    choose(dir + "/" + stem + ".old");
    fx().runAction(NextLut);
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
        fx().runAction(NextLut);
        fx().runAction(PrevLut);
        expectKept(name, 0.3f, "mine");
    };
    choose(dir + "/current.cube");
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
        fx().runAction(NextLut);
        fx().runAction(PrevLut);
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

// Files that give no LUT, each made at path; a pipe would block a reader for
// good, a folder is no file at all. Gives the line of the box that says why.
std::string makeNoLut(const std::string& kind, const std::string& path) {
    if (kind == "folder") {
        std::filesystem::create_directory(path);
        return "\nIt is a folder, not a file.";
    }
    if (kind == "pipe") {
        EXPECT_EQ(::mkfifo(path.c_str(), 0644), 0);
        return "\nIt is not a regular file.";
    }
    if (kind == "1D part") {
        writeFile(path, "LUT_1D_SIZE 2\n0 0 0\n1 1 1\nLUT_3D_SIZE 1\n0.5 0.5 0.5\n");
        return "\nIt holds a 1D part (LUT_1D_SIZE), which the effect cannot apply.";
    }
    if (kind == "short") {
        std::string text = "LUT_3D_SIZE 3\n";
        for (int k = 0; k < 20; ++k) text += "0.5 0.5 0.5\n";
        writeFile(path, text);
        return "\nIt holds 20 of the 27 data lines its size of 3 nodes per axis needs.";
    }
    if (kind == "per-channel domain") {
        writeFile(path, "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 2 1\nLUT_3D_SIZE 1\n0.5 0.5 0.5\n");
        return "\nIts DOMAIN_MIN or DOMAIN_MAX differs between the red, green and blue channels, and the effect "
               "applies one input range to all three.";
    }
    if (kind == "range above float") {
        writeFile(path, "LUT_3D_SIZE 1\nLUT_3D_INPUT_RANGE 0 1e39\n0.5 0.5 0.5\n");
        return "\nIts input range, 0 to inf, has an end that is not a finite number (a float reaches about 3.4e38).";
    }
    writeFile(path, "PK\x03\x04 this is no LUT\n");
    return "\nIts layout is unknown: it declares no size (a line \"LUT_3D_SIZE N\").";
}

TEST_F(ActionsLocal, AFolderWhoseOnlyOtherEntryIsNoLutKeepsTheCurrentLutAndSaysWhy) {
    for (const std::string kind : {"file", "folder", "pipe", "1D part", "short", "per-channel domain", "range above float"}) {
        SCOPED_TRACE("a " + kind + " named like a LUT");
        const std::string dir = folder("bad-" + kind), bad = dir + "/bad.cube";
        writeCube(dir + "/good.cube", 0.3f, "kept");
        const std::string why = makeNoLut(kind, bad);
        choose(dir + "/good.cube");
        boxes.boxes.clear();
        const std::string text = "Cannot read a LUT from the file " + bad + why + "\nThe current LUT is kept.";

        fx().runAction(NextLut);
        fx().runAction(PrevLut);
        expectKept(dir + "/good.cube", 0.3f, "kept");
        ASSERT_EQ(boxes.boxes.size(), 2u);
        EXPECT_EQ(boxes.boxes[0].messageText, "Error in Quillane Plug-in");
        EXPECT_EQ(boxes.boxes[0].informativeText, text);
        EXPECT_EQ(boxes.boxes[1].informativeText, text);
        // The file dialog's choice of it says the same.
        dialogAnswer = nfd::DialogAnswer{NFD_OKAY, bad, ""};
        fx().runAction(ChooseFile);
        expectKept(dir + "/good.cube", 0.3f, "kept");
        ASSERT_EQ(boxes.boxes.size(), 3u);
        EXPECT_EQ(boxes.boxes[2].informativeText, text);
    }
}

// Candidates are the names with ".cube" or ".3dl" in them, case minded, not
// hidden; each brings its preset (a .3dl none).
TEST_F(ActionsLocal, NextAndPreviousFollowTheDirectoryOrderAroundAndStepPastEntriesThatGiveNoLut) {
    const std::string dir = folder("mixed");
    const std::vector<std::string> good = {"look.cube.bak", "grade.3dl.cube", "look5.3dl", "LOOK.CUBE"};
    writeCube(dir + "/look.cube.bak", 0.1f, "one");
    writeCube(dir + "/grade.3dl.cube", 0.3f, "three");
    write3dl(dir + "/look5.3dl", 512);
    writeCube(dir + "/LOOK.CUBE", 0.5f, "upper");
    for (const char* other : {".hidden.cube", "notes.txt"}) writeCube(dir + "/" + other, 0.5f);
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"file", "look2.cube.zip"}, {"folder", "x.cube"}, {"pipe", "p.3dl"}, {"1D part", "flat.cube"}};
    std::map<std::string, std::string> whyOf;  // the reason line of each entry that gives no LUT
    for (const auto& [kind, name] : bad) whyOf[name] = makeNoLut(kind, dir + "/" + name);
    std::vector<std::string> order;  // the directory's own order
    for (const auto& name : directoryOrder(dir))
        if (holdsLutFileName(name) && name[0] != '.') order.push_back(name);
    ASSERT_EQ(order.size(), good.size() + bad.size());
    const auto isGood = [&](std::size_t i) { return std::count(good.begin(), good.end(), order[i]) > 0; };
    const std::size_t n = order.size();

    // Every press lands on the next readable LUT in its direction, whatever
    // the directory puts between them; twice round each way.
    std::size_t at = 0;
    while (!isGood(at)) ++at;
    choose(dir + "/" + order[at]);
    for (int press = 0; press < 12; ++press) {
        const bool next = press < 6;
        do at = next ? (at + 1) % n : (at + n - 1) % n;
        while (!isGood(at));
        SCOPED_TRACE((next ? "next to " : "previous to ") + order[at]);
        instance->clearCalls();
        EXPECT_TRUE(instance->pressButton(next ? NextLut : PrevLut));
        EXPECT_EQ(fx().currentName(), dir + "/" + order[at]);
        EXPECT_EQ(shownName(), dir + "/" + order[at]);
        const bool first = order[at] == "look.cube.bak", threeDl = order[at] == "look5.3dl";
        const bool upper = order[at] == "LOOK.CUBE";
        EXPECT_FLOAT_EQ(firstRed(fx().currentLut()), threeDl ? 512 / 1023.0f : first ? 0.1f : upper ? 0.5f : 0.3f);
        EXPECT_EQ(presetText(), threeDl ? "" : first ? "one" : upper ? "upper" : "three");
        EXPECT_TRUE(saved());
    }
    EXPECT_TRUE(boxes.boxes.empty());  // look.cube.bak stayed a local file
    EXPECT_EQ(instance->unbracketedAccesses(), 0);

    // With the only other LUT gone, once round finds nothing: the box names
    // the nearest entry in the direction pressed, and nothing is saved.
    const std::string kept = fx().currentName(), preset = presetText();
    const float red = firstRed(fx().currentLut());
    for (const std::string& name : good)
        if (dir + "/" + name != kept) whyOf[name] = makeNoLut("file", dir + "/" + name);
    for (const bool next : {true, false}) {
        const std::string& near = order[next ? (at + 1) % n : (at + n - 1) % n];
        boxes.boxes.clear();
        instance->clearCalls();
        EXPECT_TRUE(instance->pressButton(next ? NextLut : PrevLut));
        expectKept(kept, red, preset);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        const std::string& text = boxes.boxes[0].informativeText;
        EXPECT_EQ(text.rfind("Cannot read a LUT from the file " + dir + "/" + near + whyOf[near] + "\nNo other", 0), 0u)
            << text;
        EXPECT_NE(text.find("\nNo other entry of its folder gives a LUT either.\nThe current LUT is kept."),
                  std::string::npos);
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
