// The settings file against real files under a temporary HOME.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
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
    EXPECT_EQ(modeOf(sandbox.settingsFile()), 0600u);
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
    // A long old file and long leftovers of earlier writers (the fixed name
    // older versions used among them) must not leak into a shorter new file.
    const std::string folder = sandbox.home() + "/.config/QuillaneMac/";
    const std::string junk(20000, '#');
    writeFile(folder + "reg_buf.xml", junk);
    writeFile(folder + "reg_buf.xml.000000", junk);
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
    EXPECT_EQ(readFile(folder + "reg_buf.xml"), junk);  // not ours any more: left alone
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

    int stop[2];
    ASSERT_EQ(::pipe(stop), 0);
    const pid_t reader = ::fork();
    if (reader == 0) {
        ::close(stop[1]);
        ::fcntl(stop[0], F_SETFL, O_NONBLOCK);
        int bad = 0;
        char byte = 0;
        // Until the writers have finished (bounded, should that never be said).
        for (int round = 0; round < 2000000 && ::read(stop[0], &byte, 1) != 0; ++round) {
            const std::string seen = readFile(sandbox.settingsFile());
            if (seen.find(programLine) == std::string::npos || !ends_with(seen, kSkeletonTail)) ++bad;
        }
        ::_exit(bad == 0 ? 0 : 1);
    }
    ::close(stop[0]);

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
    ::close(stop[1]);
    EXPECT_EQ(exitStatus(reader), 0) << "the reader saw an empty or partial file";

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
