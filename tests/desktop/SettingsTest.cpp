// The settings file against real files under a temporary HOME.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "DesktopTestEnv.h"
#include "desktop/Settings.h"
#include "lut/LutFile.h"

using namespace quillane::test;

namespace {

const std::string kSkeletonHead =
    "    <?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "    <XMLReg>\n"
    "      <Key Name=\"HKEY_CURRENT_USER\">\n"
    "        <Key Name=\"Software\">\n"
    "          <Key Name=\"Quillane\">\n";
const std::string kSkeletonTail =
    "          </Key>\n"
    "        </Key>\n"
    "      </Key>\n"
    "    </XMLReg>\n"
    "    \n"
    "\n";

std::set<std::string> folderEntries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}
// No temporary file or other leftover beside the settings file and its lock.
const std::set<std::string> kSettingsFiles = {"reg.xml", "reg.xml.lock"};

std::string settingsWith(const std::string& valueLines) { return kSkeletonHead + valueLines + kSkeletonTail; }

unsigned modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

class SettingsTest : public ::testing::Test {
protected:
    // Hands the test's home to the user nobody, for a child that gives root up
    // (root is not stopped by permissions).
    void giveHomeToNobody() {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(sandbox.home()))
            ASSERT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(sandbox.dir.path().c_str(), 0711), 0);
        ASSERT_EQ(::chmod(sandbox.home().c_str(), 0755), 0);
    }

    DesktopSandbox sandbox;
    BoxRecorder boxes;
};

}  // namespace

TEST_F(SettingsTest, CreateMakesAPrivateSkeletonAndInsertsLaterKeysAboveEarlierOnes) {
    EXPECT_EQ(getLoginPassword(), (std::vector<std::string>{"", ""}));

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].messageText, "getValueFromReg");
    EXPECT_EQ(boxes.boxes[0].informativeText, "Error opening file " + sandbox.settingsFile());
    EXPECT_EQ(boxes.boxes[0].style, appkit::AlertStyle::Critical);
    EXPECT_EQ(boxes.boxes[0].buttons, std::vector<std::string>{"OK"});

    EXPECT_EQ(readFile(sandbox.settingsFile()),
              settingsWith("<Value Name=\"PersonalAccountPassword\" Type=\"2\"></Value>\n"
                           "<Value Name=\"email\" Type=\"2\"></Value>\n"));
    // The file will hold a password: folders and file are the owner's alone.
    EXPECT_EQ(modeOf(sandbox.settingsFile()), 0600u);
    EXPECT_EQ(modeOf(sandbox.home() + "/.config/QuillaneMac"), 0700u);
    EXPECT_EQ(modeOf(sandbox.home() + "/.config"), 0700u);
    EXPECT_EQ(folderEntries(sandbox.home() + "/.config/QuillaneMac/"), kSettingsFiles);

    // Found now: no box, no further line.
    const std::string before = readFile(sandbox.settingsFile());
    EXPECT_EQ(getValueFromReg("email", true), "");
    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(readFile(sandbox.settingsFile()), before);
}

TEST_F(SettingsTest, MissingFileWithoutCreateOrWithoutAFolder) {
    EXPECT_EQ(getValueFromReg("ProgramPath", false), "");
    EXPECT_EQ(getValueFromReg("email", false), "");
    setValuesInReg({{"email", "me@x"}});  // a rewrite has nothing to copy
    EXPECT_EQ(boxes.boxes.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(sandbox.home() + "/.config"));

    writeFile(sandbox.home() + "/.config", "a file where the folder belongs");
    EXPECT_EQ(getValueFromReg("email", true), "");
    ASSERT_EQ(boxes.boxes.size(), 4u);
    EXPECT_EQ(boxes.boxes[3].messageText, "Error in Quillane Plug-in");
    EXPECT_EQ(boxes.boxes[3].informativeText, "Failed to create folder " + sandbox.home() + "/.config/QuillaneMac/");
    EXPECT_EQ(readFile(sandbox.home() + "/.config"), "a file where the folder belongs");
}

TEST_F(SettingsTest, LookupShapes) {
    const std::string file = settingsWith(
        "  <Value Name=\"ProgramPath\" Type=\"2\">/opt/Q&amp;A/&#x51;uillane&#46;bin</Value>\n"
        "  <Value Name=\"ModalPluginMode\" Type=\"4\"></Value>\n"
        "  <Value Name=\"Email\" Type=\"2\">wrong-case@x</Value>\n"
        "  <Other \"email\">>skipped</Other>\n"
        "  <Value Name=\"email\" Type=\"2\">first@x</Value>\n"
        "  <Value Name=\"email\" Type=\"2\">second@x</Value>\n"
        "  <Value Name=\"FavoriteLUTFolder\" Type=\"2\">/raw<cut>here</Value>\n"
        "  \"PersonalAccountPassword\" without a closing bracket\n"
        "  <Value Name=\"PersonalAccountPassword\" Type=\"2\">unreachable</Value>\n");
    writeFile(sandbox.settingsFile(), file);

    EXPECT_EQ(getValueFromReg("ProgramPath", false), "/opt/Q&A/Quillane.bin");  // entities of the application's writer
    EXPECT_EQ(getValueFromReg("ModalPluginMode", false), "");
    EXPECT_EQ(getValueFromReg("email", true), "first@x");  // case-sensitive, empty piece passed over, first wins
    EXPECT_EQ(getValueFromReg("FavoriteLUTFolder", false), "/raw");
    EXPECT_EQ(getValueFromReg("PersonalAccountPassword", true), "");  // stops at the line without '>'
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(readFile(sandbox.settingsFile()), file);

    // Absent keys: the application's keys are never added, the plug-in's are.
    EXPECT_EQ(getValueFromReg("NoSuchKey", true), "");
    EXPECT_EQ(readFile(sandbox.settingsFile()), file);
    writeFile(sandbox.settingsFile(), settingsWith(""));
    EXPECT_EQ(getValueFromReg("ProgramPath", false), "");
    EXPECT_EQ(readFile(sandbox.settingsFile()), settingsWith(""));
    EXPECT_EQ(getValueFromReg("email", false), "");
    EXPECT_EQ(readFile(sandbox.settingsFile()), settingsWith("<Value Name=\"email\" Type=\"2\"></Value>\n"));
}

TEST_F(SettingsTest, SaveLoginPasswordRoundTripsEveryCharacterAndReplacesEveryLine) {
    writeFile(sandbox.settingsFile(),
              settingsWith("            <Value Name=\"email\" Type=\"2\">old@x</Value>\n"
                           "            <Value Name=\"ProgramPath\" Type=\"2\">/opt/q</Value>\n"
                           "            <Value Name=\"email\" Type=\"2\">duplicate@x</Value>\n"));
    ASSERT_EQ(::chmod(sandbox.settingsFile().c_str(), 0640), 0);
    const std::string email = "a&b<c>\"d'e@x.com";
    const std::string password = "p\xC3\xA4ss &lt; \"email\"> </Value><Value Name=\"ProgramPath\">/evil";
    saveLoginPassword(email, password);

    EXPECT_EQ(getLoginPassword(), (std::vector<std::string>{email, password}));
    EXPECT_EQ(getValueFromReg("ProgramPath", false), "/opt/q");
    const std::string stored = readFile(sandbox.settingsFile());
    EXPECT_EQ(stored,
              settingsWith("<Value Name=\"PersonalAccountPassword\" Type=\"2\">p\xC3\xA4ss &amp;lt; &quot;email&quot;&gt; "
                           "&lt;/Value&gt;&lt;Value Name=&quot;ProgramPath&quot;&gt;/evil</Value>\n"
                           "<Value Name=\"email\" Type=\"2\">a&amp;b&lt;c&gt;&quot;d&apos;e@x.com</Value>\n"
                           "            <Value Name=\"ProgramPath\" Type=\"2\">/opt/q</Value>\n"
                           "<Value Name=\"email\" Type=\"2\">a&amp;b&lt;c&gt;&quot;d&apos;e@x.com</Value>\n"));
    EXPECT_EQ(modeOf(sandbox.settingsFile()), 0640u);  // the user's choice stays
    EXPECT_EQ(folderEntries(sandbox.home() + "/.config/QuillaneMac/"), kSettingsFiles);

    // Log-out stores empty values.
    saveLoginPassword("", "");
    EXPECT_EQ(getLoginPassword(), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SettingsTest, ValuesWithControlCharactersAreRefusedWhole) {
    saveLoginPassword("me@x", "secret");
    const std::string before = readFile(sandbox.settingsFile());
    saveLoginPassword("new@x", "pass\n<Value Name=\"ProgramPath\" Type=\"2\">/evil</Value>");
    saveLoginPassword("new@x\r", "pass");
    setValuesInReg({{"FavoriteLUTFolder", std::string("/a\0b", 4)}});
    EXPECT_EQ(readFile(sandbox.settingsFile()), before);
    EXPECT_EQ(getLoginPassword(), (std::vector<std::string>{"me@x", "secret"}));
}

TEST_F(SettingsTest, LongLinesAndLongValues) {
    const std::string longFolder = "/" + std::string(3000, 'f');
    writeFile(sandbox.settingsFile(),
              settingsWith("<Comment text=\"" + std::string(5000, 'x') + "\"/>\n"
                           "<Value Name=\"FavoriteLUTFolder\" Type=\"2\"></Value>\n"));
    setValuesInReg({{"FavoriteLUTFolder", longFolder}});
    EXPECT_EQ(getValueFromReg("FavoriteLUTFolder", true), longFolder);
    // A long line without the key does not end the lookup early.
    EXPECT_EQ(getValueFromReg("email", true), "");
    EXPECT_NE(readFile(sandbox.settingsFile()).find("<Value Name=\"email\""), std::string::npos);
}

TEST_F(SettingsTest, ARewriteHoldsExactlyItsLinesOrLeavesTheFileAsItWas) {
    // A long old file and long leftovers of earlier writers must not leak into
    // a shorter new file; files of names older versions used are not ours any
    // more, and a person may have named a file so: they are left alone.
    const std::string folder = sandbox.home() + "/.config/QuillaneMac/";
    const std::string junk(20000, '#');
    writeFile(folder + "reg_buf.xml", junk);
    writeFile(folder + "reg_buf.xml.000000", junk);
    writeFile(folder + ".reg.xml.quillane-tmp.000000", junk);
    const std::string programLine = "<Value Name=\"ProgramPath\" Type=\"2\">/opt/q</Value>\n";
    writeFile(sandbox.settingsFile(),
              settingsWith("<Value Name=\"email\" Type=\"2\">" + std::string(8000, 'e') + "</Value>\n"
                           "<Value Name=\"PersonalAccountPassword\" Type=\"2\">" + std::string(8000, 'p') +
                           "</Value>\n" + programLine));
    saveLoginPassword("me@x", "pw");
    const std::string written = settingsWith("<Value Name=\"email\" Type=\"2\">me@x</Value>\n"
                                             "<Value Name=\"PersonalAccountPassword\" Type=\"2\">pw</Value>\n" +
                                             programLine);
    EXPECT_EQ(readFile(sandbox.settingsFile()), written);
    EXPECT_EQ(readFile(folder + "reg_buf.xml"), junk);
    EXPECT_EQ(readFile(folder + "reg_buf.xml.000000"), junk);
    EXPECT_FALSE(std::filesystem::exists(folder + ".reg.xml.quillane-tmp.000000"));
    std::filesystem::remove(folder + "reg_buf.xml");
    std::filesystem::remove(folder + "reg_buf.xml.000000");

    // The new file cannot be written whole: the old one stays, no temporary file remains.
    EXPECT_EQ(inChild([] {
                  ::signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{64, 64};
                  ::setrlimit(RLIMIT_FSIZE, &limit);
                  saveLoginPassword("new@x", "other");
                  getValueFromReg("FavoriteLUTFolder", true);  // the insertion fails the same way
                  return 0;
              }),
              0);
    EXPECT_EQ(readFile(sandbox.settingsFile()), written);
    EXPECT_EQ(folderEntries(folder), kSettingsFiles);
}

// Several processes write their own keys at once while another reads the file
// as the desktop application does, without our lock.
TEST_F(SettingsTest, ConcurrentWritersLoseNothingAndTheFileIsNeverEmptyOrPartial) {
    const std::string programLine = "<Value Name=\"ProgramPath\" Type=\"2\">/opt/q</Value>\n";
    writeFile(sandbox.settingsFile(), settingsWith(programLine));
    const std::string keys[] = {"email", "PersonalAccountPassword", "FavoriteLUTFolder"};
    constexpr int kWrites = 300;

    // Until the writers have finished (bounded, should that never be said).
    WatchingChild reader(2000000, [&] {
        const std::string seen = readFile(sandbox.settingsFile());
        return seen.find(programLine) != std::string::npos && ends_with(seen, kSkeletonTail);
    });

    std::vector<pid_t> writers;
    for (const std::string& key : keys) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int lost = 0;
            if (getValueFromReg(key, true) != "") ++lost;  // inserts the key's line
            for (int i = 0; i < kWrites; ++i) {
                const std::string value = key + std::to_string(i);
                setValuesInReg({{key, value}});
                if (getValueFromReg(key, false) != value) ++lost;
            }
            ::_exit(lost == 0 ? 0 : 1);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) EXPECT_EQ(exitStatus(pid), 0) << "a writer lost writes";
    EXPECT_TRUE(reader.finish()) << "the reader saw an empty or partial file";

    const std::string final = readFile(sandbox.settingsFile());
    for (const std::string& key : keys) {
        EXPECT_EQ(getValueFromReg(key, false), key + std::to_string(kWrites - 1));
        const std::string quoted = "\"" + key + "\"";
        EXPECT_EQ(final.find(quoted), final.rfind(quoted)) << key << " inserted twice";
    }
    EXPECT_EQ(getValueFromReg("ProgramPath", false), "/opt/q");
    EXPECT_EQ(folderEntries(sandbox.home() + "/.config/QuillaneMac/"), kSettingsFiles);
    EXPECT_TRUE(boxes.boxes.empty());
}

// Several processes at once ask for the same missing key with create: the
// insertion is a read-modify-write, so exactly one line may come of it, also
// when the file itself is missing and made on the way.
TEST_F(SettingsTest, ProcessesAskingForTheSameMissingKeyAtOnceAddOneLine) {
    constexpr int kProcesses = 8;
    constexpr int kRounds = 12;
    const std::string programLine = "<Value Name=\"ProgramPath\" Type=\"2\">/opt/q</Value>\n";
    for (const bool fileExists : {true, false}) {
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE((fileExists ? "a file without the key, round " : "no file, round ") + std::to_string(round));
            std::filesystem::remove_all(sandbox.home() + "/.config");
            if (fileExists) writeFile(sandbox.settingsFile(), settingsWith(programLine));
            int start[2];
            ASSERT_EQ(::pipe(start), 0);
            std::vector<pid_t> children;
            for (int i = 0; i < kProcesses; ++i) {
                const pid_t pid = ::fork();
                if (pid == 0) {
                    ::close(start[1]);
                    char byte = 0;
                    (void)::read(start[0], &byte, 1);  // all start together when the pipe closes
                    ::_exit(getValueFromReg("PersonalAccountPassword", true).empty() ? 0 : 1);
                }
                children.push_back(pid);
            }
            ::close(start[0]);
            ::close(start[1]);
            for (pid_t pid : children) EXPECT_EQ(exitStatus(pid), 0);
            const std::string line = "<Value Name=\"PersonalAccountPassword\" Type=\"2\"></Value>\n";
            EXPECT_EQ(readFile(sandbox.settingsFile()), settingsWith(line + (fileExists ? programLine : "")));
            EXPECT_EQ(folderEntries(sandbox.home() + "/.config/QuillaneMac/"), kSettingsFiles);
        }
    }
}

// A rewrite killed half way leaves its temporary file (which holds the
// password); the next rewrite removes every one that no living writer holds.
TEST_F(SettingsTest, TheNextRewriteRemovesTemporaryFilesOfKilledRewrites) {
    const std::string folder = sandbox.home() + "/.config/QuillaneMac/";
    const std::string programLine = "<Value Name=\"ProgramPath\" Type=\"2\">/opt/q</Value>\n";
    writeFile(sandbox.settingsFile(), settingsWith(programLine));
    saveLoginPassword("me@x", "first");

    // Real writers killed at arbitrary moments of their rewrites.
    const std::string longPassword(200000, 'p');
    for (int kill = 0; kill < 40; ++kill) {
        const pid_t writer = ::fork();
        if (writer == 0) {
            for (int i = 0;; ++i) setValuesInReg({{"PersonalAccountPassword", longPassword + std::to_string(i)}});
        }
        ::usleep(1000 + (kill * 7919) % 20000);
        ::kill(writer, SIGKILL);
        EXPECT_EQ(exitStatus(writer), 100 + SIGKILL);
    }
    // A leftover whose writer is long gone, and one a living writer holds.
    writeFile(folder + ".reg.xml.quillane-tmp.Dead00", "a password");
    int held[2];
    ASSERT_EQ(::pipe(held), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open((folder + ".reg.xml.quillane-tmp.Alive0").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ::flock(fd, LOCK_EX);
        ::close(held[1]);
        ::pause();
        ::_exit(0);
    }
    ::close(held[1]);
    char byte = 0;
    ASSERT_EQ(::read(held[0], &byte, 1), 0);  // the holder holds its file
    ::close(held[0]);

    saveLoginPassword("me@x", "second");
    std::set<std::string> expected = kSettingsFiles;
    expected.insert(".reg.xml.quillane-tmp.Alive0");
    EXPECT_EQ(folderEntries(folder), expected);
    EXPECT_EQ(getLoginPassword(), (std::vector<std::string>{"me@x", "second"}));
    EXPECT_EQ(getValueFromReg("ProgramPath", false), "/opt/q");

    ::kill(holder, SIGKILL);
    EXPECT_EQ(exitStatus(holder), 100 + SIGKILL);
    setValuesInReg({{"FavoriteLUTFolder", "/looks"}});
    EXPECT_EQ(folderEntries(folder), kSettingsFiles);
}

// A rewrite that fails keeps the file and says which file and why in one line.
TEST_F(SettingsTest, AFailedRewriteSaysWhichFileAndWhyInOneLine) {
    saveLoginPassword("me@x", "secret");
    const std::string before = readFile(sandbox.settingsFile());
    // Each failure in a child of its own; its standard error comes back
    // through a pipe (a file would be under the child's size limit too).
    const auto failedWith = [&](const std::function<bool()>& setUp) {
        const ChildOutcome child = inChildCollectingErrors([&] {
            if (!setUp()) return 10;
            saveLoginPassword("new@x", "other");
            return 0;
        });
        return child.status == 10 ? std::string("skip") : child.err;
    };
    const std::string full = failedWith([] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    });
    const std::string head = "Quillane: the settings file " + sandbox.settingsFile() + " was not saved: ";
    EXPECT_EQ(full.rfind(head, 0), 0u) << full;
    EXPECT_NE(full.find("File too large\n"), std::string::npos) << full;
    EXPECT_EQ(std::count(full.begin(), full.end(), '\n'), 1) << full;

    // A folder that cannot be written (root is not stopped by permissions:
    // the child gives root up).
    giveHomeToNobody();
    ASSERT_EQ(::chmod((sandbox.home() + "/.config/QuillaneMac").c_str(), 0555), 0);
    const std::string readOnly = failedWith([] { return ::setgid(65534) == 0 && ::setuid(65534) == 0; });
    ::chmod((sandbox.home() + "/.config/QuillaneMac").c_str(), 0700);
    if (readOnly != "skip") {
        EXPECT_EQ(readOnly.rfind(head, 0), 0u) << readOnly;
        EXPECT_NE(readOnly.find("Permission denied\n"), std::string::npos) << readOnly;
        EXPECT_EQ(std::count(readOnly.begin(), readOnly.end(), '\n'), 1) << readOnly;
    }
    EXPECT_EQ(readFile(sandbox.settingsFile()), before);
    EXPECT_EQ(folderEntries(sandbox.home() + "/.config/QuillaneMac/"), kSettingsFiles);
}

// A rewrite whose new file is in place is stored, also when its folder cannot
// be flushed afterwards (here: a folder that may be written but not read,
// which root would read all the same: the child gives root up).
TEST_F(SettingsTest, ARewriteWhoseFolderCannotBeFlushedIsStoredAndNotReportedFailed) {
    saveLoginPassword("me@x", "secret");
    const std::string folder = sandbox.home() + "/.config/QuillaneMac";
    giveHomeToNobody();
    ASSERT_EQ(::chmod(folder.c_str(), 0333), 0);
    const ChildOutcome child = inChildCollectingErrors([&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 10;
        saveLoginPassword("new@x", "other");
        return 0;
    });
    ::chmod(folder.c_str(), 0700);
    if (child.status == 10) GTEST_SKIP() << "cannot give up root here";
    EXPECT_EQ(child.err.find("was not saved"), std::string::npos) << child.err;
    EXPECT_EQ(getLoginPassword(), (std::vector<std::string>{"new@x", "other"}));
    EXPECT_EQ(folderEntries(folder + "/"), kSettingsFiles);
}

// A settings file that is a link (into a dotfiles folder) stays a link, and
// the file it leads to is rewritten and keeps its mode.
TEST_F(SettingsTest, ARewriteWritesThroughALinkAndKeepsTheMode) {
    const std::string dotfiles = sandbox.home() + "/dotfiles";
    std::filesystem::create_directories(dotfiles);
    std::filesystem::create_directories(sandbox.home() + "/.config/QuillaneMac");
    const std::string real = dotfiles + "/reg.xml";
    writeFile(real, settingsWith("<Value Name=\"ProgramPath\" Type=\"2\">/opt/q</Value>\n"));
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    std::filesystem::create_symlink("../../dotfiles/reg.xml", sandbox.settingsFile());

    saveLoginPassword("me@x", "secret");
    EXPECT_TRUE(std::filesystem::is_symlink(sandbox.settingsFile()));
    EXPECT_EQ(getLoginPassword(), (std::vector<std::string>{"me@x", "secret"}));
    EXPECT_NE(readFile(real).find("me@x"), std::string::npos);
    EXPECT_EQ(modeOf(real), 0640u);
    EXPECT_EQ(folderEntries(dotfiles), std::set<std::string>{"reg.xml"});
    EXPECT_EQ(folderEntries(sandbox.home() + "/.config/QuillaneMac/"), kSettingsFiles);
    EXPECT_TRUE(boxes.boxes.empty());
}

// Anything but a regular file at the settings file's name (here a pipe, which
// would block a read for good) cannot be opened: the box and the empty value
// of a file that cannot be opened, and nothing written.
TEST_F(SettingsTest, APipeAtTheSettingsFileIsAFileThatCannotBeOpenedAndNeverBlocks) {
    std::filesystem::create_directories(sandbox.home() + "/.config/QuillaneMac");
    ASSERT_EQ(::mkfifo(sandbox.settingsFile().c_str(), 0600), 0);
    const ChildOutcome child = inChildCollectingErrors([&] {
        ::alarm(20);  // a blocked call ends the child, and fails the test
        const bool empty = getValueFromReg("ModalPluginMode", false).empty() &&
                           getValueFromReg("email", true).empty() && getPresetsPath().empty();
        setValuesInReg({{"FavoriteLUTFolder", "/looks"}});
        const bool boxed = boxes.boxes.size() == 3 && boxes.boxes[1].messageText == "getValueFromReg" &&
                           boxes.boxes[1].informativeText == "Error opening file " + sandbox.settingsFile();
        return empty && boxed ? 0 : 1;
    });
    EXPECT_EQ(child.status, 0) << child.err;
    EXPECT_EQ(child.err, "Quillane: the settings file " + sandbox.settingsFile() +
                             " was not saved: it is not a regular file\n");
    EXPECT_TRUE(std::filesystem::is_fifo(sandbox.settingsFile()));
}

// A settings file far larger than any we write is not ours: it is a file that
// cannot be opened, read for no value and left as it was.
TEST_F(SettingsTest, ASettingsFileLargerThanAnyOursIsAFileThatCannotBeOpened) {
    const std::string huge = settingsWith("<Comment text=\"" + std::string(5 << 20, 'x') +
                                          "\"/>\n<Value Name=\"FavoriteLUTFolder\" Type=\"2\">/looks</Value>\n");
    writeFile(sandbox.settingsFile(), huge);
    const ChildOutcome child = inChildCollectingErrors([&] {
        const bool empty = getValueFromReg("FavoriteLUTFolder", false).empty();
        setValuesInReg({{"FavoriteLUTFolder", "/other"}});
        const bool boxed = boxes.boxes.size() == 1 && boxes.boxes[0].messageText == "getValueFromReg" &&
                           boxes.boxes[0].informativeText == "Error opening file " + sandbox.settingsFile();
        return empty && boxed ? 0 : 1;
    });
    EXPECT_EQ(child.status, 0) << child.err;
    EXPECT_EQ(child.err, "Quillane: the settings file " + sandbox.settingsFile() +
                             " was not saved: it is larger than any such file\n");
    EXPECT_TRUE(readFile(sandbox.settingsFile()) == huge);
}

TEST_F(SettingsTest, WithoutHomeNothingIsTouched) {
    ScopedEnv noHome("HOME", std::nullopt);
    EXPECT_EQ(getValueFromReg("email", true), "");
    saveLoginPassword("me@x", "secret");
    EXPECT_EQ(getPresetsPath(), "");
    ASSERT_FALSE(boxes.boxes.empty());
    for (const ShownBox& box : boxes.boxes) {
        EXPECT_EQ(box.messageText, "Error in Quillane Plug-in");
        EXPECT_EQ(box.informativeText, "Can't get HOME variable");
    }
    EXPECT_TRUE(std::filesystem::is_empty(sandbox.home()));
}

TEST_F(SettingsTest, PresetsPathBesideTheProgram) {
    const std::pair<std::string, std::string> rows[] = {
        {"/Apps/Tool/bin/tool", "/Apps/Tool/bin/Presets"}, {"D:\\Tools\\tool.exe", "D:\\Tools\\Presets"},
        {"tool", ""}, {"", ""}};
    for (const auto& [program, presets] : rows) {
        writeFile(sandbox.settingsFile(),
                  settingsWith("<Value Name=\"ProgramPath\" Type=\"2\">" + program + "</Value>\n"));
        EXPECT_EQ(getPresetsPath(), presets) << program;
    }
    EXPECT_TRUE(boxes.boxes.empty());
}
