// The real effect module in the real host program: a LUT chosen through the
// file dialog from the command line, kept in a saved project and restored by
// a second host process; what each press makes of cancel, error and
// unreadable files; every path-taking command given what is no usable file;
// damaged projects and numbers typed by hand; a small file-size limit.
// (Rendering a chosen LUT, also after reopening, is covered by tests/gpu.)
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>
#include <string>

#include "ActionsTestEnv.h"
#include "FakeService.h"
#include "host/FrameFile.h"

namespace {

using namespace quillane::test;

using HostRun = ProcessResult;  // out: standard output and error together

// A frame of w x h 8-bit pixels whose values run through the whole range.
void writeFrame(const std::string& path, int w, int h) {
    host::Frame f;
    f.width = w, f.height = h;
    f.allocate();
    for (std::size_t i = 0; i < f.bytes.size(); ++i) f.bytes[i] = static_cast<unsigned char>(i * 37 % 256);
    ASSERT_TRUE(host::writePngFrame(path, f, nullptr));
}

// The lines the host wrote about failures.
int hostLines(const std::string& out) {
    int lines = 0;
    for (std::size_t at = out.find("quillane-host: "); at != std::string::npos; at = out.find("quillane-host: ", at + 1))
        lines += at == 0 || out[at - 1] == '\n';
    return lines;
}

// text with the first match of pattern replaced; fails the test when there is none.
std::string damaged(const std::string& text, const std::string& pattern, const std::string& replacement) {
    std::smatch match;
    EXPECT_TRUE(std::regex_search(text, match, std::regex(pattern))) << pattern;
    return std::regex_replace(text, std::regex(pattern), replacement, std::regex_constants::format_first_only);
}

class ActionsHostCli : public ::testing::Test {
protected:
    // The host with the test's own HOME and exchange folder, no display (boxes
    // go to standard error, the dialog has nothing to show on) and a dead
    // service address.
    HostRun host(const std::string& arguments, const std::string& extraEnv = "") {
        return runProcess(hostCommand(arguments, extraEnv));
    }
    // The same command line for a shell; bounded, so that a host that waits on
    // a pipe fails the test instead of hanging it.
    std::string hostCommand(const std::string& arguments, const std::string& extraEnv = "") {
        return "timeout 120 env -u DISPLAY -u WAYLAND_DISPLAY -u " + std::string(nfd::kAnswerVariable) + " HOME='" +
               sandbox.home() + "' QUILLANE_EXCHANGE_DIR='" + sandbox.exchange() +
               "' QUILLANE_SERVICE_URL=https://127.0.0.1:1 " + extraEnv + " '" + kHostProgram + "' " + arguments +
               " 2>&1";
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
    // A folder whose only other entry has a range the effect cannot apply.
    const std::string ranged = dir + "/range";
    std::filesystem::create_directories(ranged);
    writeCube(ranged + "/a.cube", 0.25f);
    writeFile(ranged + "/inf.cube", "LUT_3D_SIZE 1\nLUT_3D_INPUT_RANGE 0 inf\n0.5 0.5 0.5\n");
    const std::string inRanged = "choose-file '" + ranged + "/a.cube' ";
    const std::string infText = "Cannot read a LUT from the file " + ranged + "/inf.cube";
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
        // A range that is not finite: every way of choosing the file keeps the LUT and fails.
        {inRanged + "choose-file '" + ranged + "/inf.cube'", "", 1, "inf.cube: its input range, 0 to inf, has an end"},
        {inRanged + "press 4", std::string(nfd::kAnswerVariable) + "='okay:" + ranged + "/inf.cube'", 1,
         "press 4: no LUT was taken, the effect kept its LUT: " + infText},
        {inRanged + "press 5", "", 1, "press 5: no LUT was taken, the effect kept its LUT: " + infText},
        {inRanged + "press 6", "", 1, "press 6: no LUT was taken, the effect kept its LUT: " + infText},
        {"press 14", "", 0, "[critical] About"},  // informs, fails nothing
        {"press 15", "", 1, "quillane-host: press 15: that parameter has no button to press"},
        {"frame '" + sandbox.dir.file("none.png") + "'", "", 1, "none.png"},
    };
    for (const Case& c : cases) {
        const HostRun run = host(c.arguments, c.env);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.out;
        if (!c.says.empty()) {
            EXPECT_NE(run.out.find(c.says), std::string::npos) << c.arguments << "\n" << run.out;
        }
    }
    // A press that failed, then one that works: the failure is the first one's alone.
    for (const char* second : {"press 14", "press 4"}) {
        const HostRun run = host(chosen + "press 5 " + second, std::string(nfd::kAnswerVariable) + "=cancel");  // 4 cancelled
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_EQ(hostLines(run.out), 1) << second << "\n" << run.out;
        EXPECT_NE(run.out.find("quillane-host: press 5: "), std::string::npos) << run.out;
    }
}

// Every command that takes a path, given a folder, a missing file, one that
// cannot be read (under a plain file, so even root cannot) or a pipe, or an
// empty file: one line that names the command and the file, exit status 1,
// and nothing written where it should not be.
TEST_F(ActionsHostCli, EveryCommandThatTakesAPathFailsWithOneLineNamingTheCommandAndTheFile) {
    const std::string frame = sandbox.dir.file("frame.png");
    writeFrame(frame, 4, 4);
    const std::string folder = sandbox.dir.file("folder.png");
    std::filesystem::create_directories(folder);
    writeFile(sandbox.dir.file("plain"), "x");
    const std::string pipe = sandbox.dir.file("pipe.png");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string empty = sandbox.dir.file("empty.png");
    struct Kind {
        const char* label;
        std::string path;
    } kinds[] = {{"folder", folder},
                 {"missing", sandbox.dir.file("nowhere/missing.png")},
                 {"unreadable", sandbox.dir.file("plain/inside.png")},
                 {"pipe", pipe},
                 {"empty", empty}};
    struct Command {
        const char* name;
        std::string before, after;  // around the path
        bool writes;                // an empty file is written over, a pipe refused
    } commands[] = {
        {"open", "open ", "", false},
        {"save", "save ", "", true},
        {"frame", "frame ", "", false},
        {"render", "render ", " '" + sandbox.dir.file("out.png") + "'", false},
        {"render", "render '" + frame + "' ", "", true},
        {"choose-file", "choose-file ", "", false},
    };
    for (const Command& c : commands)
        for (const Kind& k : kinds) {
            writeFile(empty, "");
            const std::string arguments = c.before + "'" + k.path + "'" + c.after;
            const HostRun run = host(arguments);
            if (c.writes && std::string(k.label) == "empty") {
                EXPECT_EQ(run.status, 0) << arguments << "\n" << run.out;
                EXPECT_GT(std::filesystem::file_size(empty), 0u) << arguments;
                continue;
            }
            EXPECT_EQ(run.status, 1) << arguments << "\n" << run.out;
            EXPECT_EQ(hostLines(run.out), 1) << arguments << "\n" << run.out;
            EXPECT_NE(run.out.find("quillane-host: " + std::string(c.name) + ": "), std::string::npos)
                << arguments << "\n" << run.out;
            EXPECT_NE(run.out.find(k.path), std::string::npos) << arguments << "\n" << run.out;
            // Every reader and writer words a refusal the same way.
            if (std::string(k.label) == "folder") {
                EXPECT_NE(run.out.find(k.path + ": it is a folder, not a file\n"), std::string::npos) << run.out;
            }
            if (std::string(k.label) == "empty" && std::string(c.name) == "open") {
                EXPECT_NE(run.out.find(": it is empty\n"), std::string::npos) << run.out;
            }
            if (std::string(k.label) == "empty")
                EXPECT_EQ(std::filesystem::file_size(k.path), 0u) << arguments;
            else
                EXPECT_FALSE(std::filesystem::is_regular_file(k.path)) << arguments;
        }
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));

    // A save through a symbolic link updates the file it leads to, made beside
    // that file, and keeps the link.
    std::filesystem::create_directories(sandbox.dir.file("real"));
    std::filesystem::create_directories(sandbox.dir.file("links"));
    const std::string real = sandbox.dir.file("real/project.json"), link = sandbox.dir.file("links/project.json");
    writeFile(real, "old");
    std::filesystem::create_symlink("../real/project.json", link);
    const HostRun saved = host("save '" + link + "' open '" + real + "'");
    EXPECT_EQ(saved.status, 0) << saved.out;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_NE(readFile(real), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sandbox.dir.file("real")), {}), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sandbox.dir.file("links")), {}), 1);

    // A render is written as PNG, so only under a name that says so.
    struct Named {
        std::string out;
        int status;
    } names[] = {{"out.jpg", 1}, {"out.png.bak", 1}, {".png", 1}, {"OUT.PNG", 0}};
    for (const Named& n : names) {
        const std::string out = sandbox.dir.file(n.out);
        const HostRun run = host("render '" + frame + "' '" + out + "'");
        EXPECT_EQ(run.status, n.status) << n.out << "\n" << run.out;
        EXPECT_EQ(std::filesystem::exists(out), n.status == 0) << n.out;
        if (n.status != 0) {
            EXPECT_NE(run.out.find("quillane-host: render: " + out + ": the output is written as PNG"),
                      std::string::npos)
                << run.out;
        }
    }
}

// A project with an entry that cannot be read is refused whole: the open
// names the instance and the entry, fails, and the rest of the line (a save
// that would write the project back with less than it held) does not run.
TEST_F(ActionsHostCli, ADamagedProjectStopsTheLineAndKeepsEveryByte) {
    const std::string dir = lutDir();
    writeCube(dir + "/a.cube", 0.25f, "preset a");
    const std::string project = sandbox.dir.file("project.json");
    const HostRun made = host("choose-file '" + dir + "/a.cube' save '" + project + "'");
    ASSERT_EQ(made.status, 0) << made.out;
    const std::string good = readFile(project);
    // Entries as the host writes them: keys in order, one to a line.
    const std::string nodes = R"re(("hex": ")([0-9a-f]*)[0-9a-f]")re", size = R"re(("id": 8,\s*"type": "integer",\s*"value": )2)re";
    const std::string range1 = R"re(("id": 10,\s*"type": "double",\s*"value": )"0x1p\+0")re";
    struct Case {
        const char* what;
        std::string text;
        const char* says;
    } cases[] = {
        {"odd hex length", damaged(good, nodes, "$01$02\""), "(id 7) cannot be read: its hex has an odd number"},
        {"non-hex character", damaged(good, R"re(("hex": ")[0-9a-f])re", "$01g"), "its hex has a character that is not a hexadecimal"},
        {"data of the wrong type", damaged(good, nodes, "\"hex\": 7"), "(id 7) cannot be read: its hex is not text"},
        {"integer of the wrong type", damaged(good, size, "$01\"two\""), "(id 8) cannot be read: its value is not a whole"},
        {"integer not whole", damaged(good, size, "$012.5"), "its value is not a whole number"},
        {"string of the wrong type", damaged(good, R"re(("id": 13,\s*"type": "string",\s*"value": )"[^"]*")re", "$01 13"),
         "(id 13) cannot be read: its value is not text"},
        {"unknown type", damaged(good, R"("type": "integer")", "\"type\": \"count\""), "its type \"count\" is unknown"},
        {"missing value", damaged(good, R"re(("id": 9,\s*"type": "double"),\s*"value": "[^"]*")re", "$01"),
         "(id 9) cannot be read: it has no value"},
        {"missing hex", damaged(good, R"re("hex": "[0-9a-f]*",)re", ""), "(id 7) cannot be read: it has no hex"},
        {"missing id", damaged(good, R"("id": 8,)", ""), "cannot be read: it has no parameter id"},
        {"integer out of range", damaged(good, size, "$019223372036854775808"), "(id 8) cannot be read: its value is out"},
        {"integer beyond 2^63", damaged(good, size, "$011e19"), "(id 8) cannot be read: its value is out"},
        {"double out of range", damaged(good, range1, "$01\"0x1p+1024\""), "(id 10) cannot be read: its value is out of range"},
        {"decimal out of range", damaged(good, range1, "$01\"1e999\""), "(id 10) cannot be read: its value is out of range"},
        {"double not a number", damaged(good, range1, "$01\"one\""), "(id 10) cannot be read: its value is not a number"},
        // The input range is held as floats: a bound no float holds is damage.
        {"range beyond float", damaged(good, range1, "$011e39"), "(id 10, a bound of the LUT's input range) cannot be "
                                                                  "read: its value is out of range"},
        {"range not finite", damaged(good, range1, "$01\"nan\""), "(id 10, a bound of the LUT's input range) cannot be "
                                                                   "read: its value is not a finite number"},
        {"range min infinite", damaged(good, R"re(("id": 9,\s*"type": "double",\s*"value": )"0x0p\+0")re", "$01\"-inf\""),
         "(id 9, a bound of the LUT's input range) cannot be read: its value is not a finite number"},
        {"id out of range", damaged(good, R"("id": 8,)", "\"id\": 4294967296,"), "its parameter id is out of range"},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.text, good) << c.what;
        writeFile(project, c.text);
        const HostRun run = host("open '" + project + "' save '" + project + "' state");
        EXPECT_EQ(run.status, 1) << c.what << "\n" << run.out;
        EXPECT_NE(run.out.find("quillane-host: open: " + project + ": instance 0: parameter entry "),
                  std::string::npos)
            << c.what << "\n" << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << c.what << "\n" << run.out;
        EXPECT_EQ(run.out.find("\nname "), std::string::npos) << c.what << ": the line went on\n" << run.out;
        EXPECT_EQ(readFile(project), c.text) << c.what;
    }
}

// `open P save P` gives P back as it was: the members the host does not read
// where they stood, and the file's mode. A project of a newer version, or
// nested deeper than any project, is refused and stays as it was; one without
// a bound of its input range takes the range's default bound; a file larger
// than any project is refused unread.
TEST_F(ActionsHostCli, AProjectOpenedAndSavedKeepsWhatTheHostDoesNotRead) {
    const std::string dir = lutDir();
    {
        std::ofstream cube(dir + "/range.cube");
        cube << "LUT_3D_SIZE 2\nLUT_3D_INPUT_RANGE -0.125 2.0\n";
        for (int i = 0; i < 8; ++i) cube << (i & 1) << ' ' << ((i >> 1) & 1) << ' ' << (i >> 2) << '\n';
    }
    const std::string project = sandbox.dir.file("project.json");
    ASSERT_EQ(host("choose-file '" + dir + "/range.cube' save '" + project + "'").status, 0);
    const std::string good = readFile(project);

    // Laid out as the host lays out what it writes, so the file comes back byte for byte.
    std::string noted = damaged(good, R"re(("format": "quillane-host-project",))re",
                                "$01\n \"note\": {\n  \"by\": [\n   \"me\",\n   2\n  ]\n },");
    noted = damaged(noted, R"re(\{(\s*)"parameters")re", "{$01\"label\": \"grade\",$01\"parameters\"");
    noted = damaged(noted, R"re(("id": 9,)(\s*))re", "$01$02\"comment\": \"from the colourist\",$02");
    writeFile(project, noted);
    ASSERT_EQ(::chmod(project.c_str(), 0640), 0);
    const HostRun resaved = host("open '" + project + "' save '" + project + "'");
    ASSERT_EQ(resaved.status, 0) << resaved.out;
    EXPECT_EQ(readFile(project), noted);
    struct stat st {};
    ASSERT_EQ(::stat(project.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Refused whole, in one short line, and left as it was. A file nested
    // deeper than any project would take the host past its stack.
    const std::string format = R"re(("format": "quillane-host-project",))re";
    const std::string unreadable = ", which this host cannot read (it reads 1)\n";
    const struct {
        std::string text, says;
    } refusals[] = {
        {damaged(good, R"("version": 1)", "\"version\": 2"), " is a project of version 2" + unreadable},
        {damaged(good, R"("version": 1)", "\"version\": \"" + std::string(100000, 'v') + "\""),
         " is a project of version \"" + std::string(24, 'v') + "\"..." + unreadable},
        {damaged(good, R"("version": 1)", "\"version\": {\"major\": [2]}"), " is a project of version an object" + unreadable},
        {damaged(good, format, "$01 \"note\": " + std::string(100000, '[') + std::string(100000, ']') + ","),
         " is not a project: it is nested deeper than 64 levels\n"},
    };
    for (const auto& r : refusals) {
        writeFile(project, r.text);
        const HostRun refused = host("open '" + project + "' save '" + project + "'");
        EXPECT_EQ(refused.status, 1) << r.says;
        EXPECT_EQ(refused.out, "quillane-host: open: " + project + r.says);
        EXPECT_EQ(readFile(project), r.text) << r.says;
    }

    const std::pair<const char*, const char*> absent[] = {{"9", "range 0x0p+0 0x1p+1\n"}, {"10", "range -0x1p-3 0x1p+0\n"}};
    for (const auto& [id, range] : absent) {
        writeFile(project, damaged(good, std::string(R"re(,\s*\{\s*"id": )re") + id + R"re(,[^}]*\})re", ""));
        const HostRun run = host("open '" + project + "' state");
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find(range), std::string::npos) << id << "\n" << run.out;
    }

    const std::string huge = sandbox.dir.file("huge.json");
    writeFile(huge, "");
    std::filesystem::resize_file(huge, 3'000'000'000u);  // sparse: costs no disk
    const HostRun tooLarge = host("open '" + huge + "'");
    EXPECT_EQ(tooLarge.status, 1);
    EXPECT_NE(tooLarge.out.find("quillane-host: open: cannot read the project " + huge +
                                ": it is larger than any project the host writes"),
              std::string::npos)
        << tooLarge.out;
}

// Numbers typed by hand, as JSON numbers or decimal text, read as the numbers
// they are: the frame renders as from the host's own hexadecimal floats, and a
// save writes those back.
TEST_F(ActionsHostCli, NumbersWrittenInDecimalRenderAsTheHexOnes) {
    const std::string dir = lutDir();
    {
        std::ofstream cube(dir + "/range.cube");
        cube << "LUT_3D_SIZE 2\nLUT_3D_INPUT_RANGE -0.125 1.0\n";
        for (int i = 0; i < 8; ++i) cube << (i & 1) * 0.9 << ' ' << ((i >> 1) & 1) * 0.7 << ' ' << 0.1 + (i >> 2) * 0.5 << '\n';
    }
    const std::string frame = sandbox.dir.file("frame.png");
    writeFrame(frame, 16, 8);
    const std::string project = sandbox.dir.file("project.json"), expected = sandbox.dir.file("expected.png");
    const HostRun made = host("choose-file '" + dir + "/range.cube' save '" + project + "' render '" + frame + "' '" +
                              expected + "'");
    ASSERT_EQ(made.status, 0) << made.out;
    const std::string good = readFile(project);
    const std::string range0 = R"re(("id": 9,\s*"type": "double",\s*"value": )"-0x1p-3")re";
    const std::string range1 = R"re(("id": 10,\s*"type": "double",\s*"value": )"0x1p\+0")re";
    const std::string size = R"re(("id": 8,\s*"type": "integer",\s*"value": )2)re";
    struct Case {
        std::string pattern, replacement;
    } cases[] = {
        {range1, "$011.0"},          {range1, "$011"},         {range1, "$01\"1.0\""},   {range1, "$01\"1e0\""},
        {range0, "$01-0.125"},       {range0, "$01-1.25e-1"},  {range0, "$01\"-0.125\""}, {size, "$012.0"},
        {size, "$01\"2\""},          {size, "$01\"+2\""},      {size, "$012e0"},
    };
    const std::string saved = sandbox.dir.file("saved.json"), out = sandbox.dir.file("out.png");
    for (const Case& c : cases) {
        const std::string text = damaged(good, c.pattern, c.replacement);
        ASSERT_NE(text, good) << c.replacement;
        writeFile(project, text);
        std::filesystem::remove(out);
        const HostRun run = host("open '" + project + "' render '" + frame + "' '" + out + "' save '" + saved + "'");
        ASSERT_EQ(run.status, 0) << c.replacement << "\n" << run.out;
        EXPECT_EQ(readFile(out), readFile(expected)) << c.replacement;
        EXPECT_EQ(readFile(saved), good) << c.replacement;
    }
}

// Under a small file-size limit the host starts and works (the exchange
// files it cannot size are only unavailable), and a frame written past the
// limit fails and leaves no file.
TEST_F(ActionsHostCli, UnderAFileSizeLimitTheHostWorksAndAFrameCutShortIsNotLeft) {
    const std::string dir = lutDir();
    writeCube(dir + "/a.cube", 0.25f);
    const std::string small = sandbox.dir.file("small.png"), large = sandbox.dir.file("large.png");
    writeFrame(small, 4, 4);
    writeFrame(large, 128, 128);  // 64 KB of pixels, stored without compression
    const std::string project = sandbox.dir.file("project.json"), out = sandbox.dir.file("out.png");
    const HostRun run = runProcess("ulimit -f 256 && " + hostCommand("choose-file '" + dir + "/a.cube' render '" +
                                                                     small + "' '" + out + "' save '" + project +
                                                                     "' state"));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("loaded 1\n"), std::string::npos) << run.out;
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_NE(readFile(project).find("a.cube"), std::string::npos);

    const std::string cut = sandbox.dir.file("cut.png");
    const HostRun failed = runProcess("ulimit -f 16 && " + hostCommand("open '" + project + "' render '" + large +
                                                                       "' '" + cut + "' state"));
    EXPECT_EQ(failed.status, 1) << failed.out;
    EXPECT_NE(failed.out.find("quillane-host: render: " + cut + ": "), std::string::npos) << failed.out;
    EXPECT_FALSE(std::filesystem::exists(cut));
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
            if (!c.project.empty()) {
                EXPECT_EQ(readFile(project), c.project) << c.reason;
            }
        }
    }
}

// A name the service lists with control characters and a terminal escape: the
// project keeps it as it came, and every line for people shows it escaped.
TEST_F(ActionsHostCli, ServiceTextReachesTheLinesForPeopleEscaped) {
    const std::string hostile = R"(ctl\u0001\u001b[31mred\u0007)";
    const std::string raw = "ctl\x01\x1b[31mred\x07";
    FakeService service;
    const std::string env = "QUILLANE_SERVICE_URL='" + service.url() + "' QUILLANE_SERVICE_CA='" + service.caFile() + "'";
    const nlohmann::json listing = nlohmann::json::array(
        {{{"id", "1"}, {"lutname", "Alpha"}}, {{"id", "2"}, {"lutname", raw}}});
    const std::string project = sandbox.dir.file("project.json");
    for (const bool sent : {false, true}) {
        SCOPED_TRACE(sent);
        nlohmann::json control = {{"listings", {{"", listing}}}, {"lutSize", 3}};
        if (!sent) control["noLut"] = {2};
        service.setControl(control.dump());
        // list shows the name in parameters 1 and 13; a file named like it fails choose-file.
        const HostRun run = host("new press 5 state list save '" + project + "' choose-file '" +
                                     sandbox.dir.file(raw + ".cube") + "'",
                                 env);
        EXPECT_EQ(run.status, 1) << run.out;
        for (const char c : {'\x01', '\x1b', '\x07'}) EXPECT_EQ(run.out.find(c), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(sent ? "name \"" + hostile + "\"\n" : "press 5: no LUT was taken, the effect kept its "
                                                                     "LUT: Cannot download the LUT " + hostile),
                  std::string::npos)
            << run.out;
        if (sent) {
            EXPECT_NE(readFile(project).find(nlohmann::json(raw).dump()), std::string::npos);
        }
    }
}

}  // namespace
