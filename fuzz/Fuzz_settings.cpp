// The settings file shared with the desktop application, as another program
// may have left it. Every key the system reads is read from the hostile
// reg.xml; then a value is written and read back. Properties:
//   - reading never removes or changes a line: it only inserts the empty
//     line of one of our own keys directly after an anchor line;
//   - reading ProgramPath or ModalPluginMode never changes the file;
//   - a write changes exactly the lines that name the written keys (each
//     becomes that key's value line) and keeps every other line as it was;
//     a value the store refuses changes nothing;
//   - a written value reads back unchanged wherever a line names its key;
//   - nothing is left beside reg.xml.
//
// Input: one selector byte, one length byte L, L bytes of the value to write,
// then the file. Selector bit 0: write email and password through
// saveLoginPassword (else the favourite folder, as the LUT Manager does);
// bit 1: no settings file at all (the rest of the input is not used).
//
// The store is used through its public functions only, so that the way it
// writes (temporary file, lock) may change underneath.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "desktop/Settings.h"
#include "fuzz/FuzzSupport.h"
#include "platform/appkit/Alert.h"

namespace {

const char kAnchor[] = "<Key Name=\"Quillane\">";
const char kValueEnd[] = "</Value>";

// The value line prefixes of the keys the plug-in writes.
const std::vector<std::pair<std::string, std::string>> kOwnKeys = {
    {"FavoriteLUTFolder", "<Value Name=\"FavoriteLUTFolder\" Type=\"2\">"},
    {"email", "<Value Name=\"email\" Type=\"2\">"},
    {"PersonalAccountPassword", "<Value Name=\"PersonalAccountPassword\" Type=\"2\">"},
};

std::string prefixOf(const std::string& key) {
    for (const auto& [k, prefix] : kOwnKeys)
        if (k == key) return prefix;
    fuzz::fail("only own keys are written");
}

bool names(const std::string& line, const std::string& key) {
    return line.find("\"" + key + "\"") != std::string::npos;
}

// Lines as a line-by-line reader sees them: split at each line feed, no empty
// piece after a final one.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool isEmptyOwnLine(const std::string& line) {
    for (const auto& [key, prefix] : kOwnKeys)
        if (line == prefix + kValueEnd) return true;
    return false;
}

// after holds every line of before, in order and unchanged, plus only empty
// own-key lines, each directly below an anchor line or another such line.
bool onlyInsertedBelowAnchors(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    std::size_t i = 0;
    bool mayInsert = false;
    for (const std::string& line : after) {
        if (i < before.size() && line == before[i]) {
            mayInsert = line.find(kAnchor) != std::string::npos;
            ++i;
        } else if (mayInsert && isEmptyOwnLine(line)) {
            // a further insertion may follow
        } else {
            return false;
        }
    }
    return i == before.size();
}

bool hasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

std::string settingsFolder() { return fuzz::scratchFolder() + "/.config/QuillaneMac"; }

// Only reg.xml (and a lock file, should the store use one) may stay.
bool nothingLeftBeside() {
    for (const auto& entry : std::filesystem::directory_iterator(settingsFolder())) {
        std::string name = entry.path().filename().string();
        if (name == "reg.xml") continue;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name.find("lock") == std::string::npos && name.find("lck") == std::string::npos) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("HOME", fuzz::scratchFolder().c_str(), 1);
    // The boxes of a missing file are expected here; nobody is there to press OK.
    appkit::setAlertPresenter([](const appkit::Alert&) { return appkit::kAlertFirstButtonReturn; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool login = data[0] & 1;
    const bool noFile = data[0] & 2;
    const std::size_t valueLength = std::min<std::size_t>(data[1], size - 2);
    const std::string value(reinterpret_cast<const char*>(data) + 2, valueLength);
    const std::string file(reinterpret_cast<const char*>(data) + 2 + valueLength, size - 2 - valueLength);

    const std::string path = settingsFilePath();
    std::error_code ec;
    std::filesystem::remove_all(fuzz::scratchFolder() + "/.config", ec);
    if (!noFile) {
        std::filesystem::create_directories(settingsFolder());
        fuzz::writeFile(path, file);
    }

    // Every read the system makes. The desktop application's keys are never added.
    const std::string original = fuzz::readFile(path);
    (void)getValueFromReg("ProgramPath", false);
    (void)getValueFromReg("ModalPluginMode", false);
    const std::string presets = getPresetsPath();
    fuzz::check(presets.empty() || (presets.size() >= 7 && presets.compare(presets.size() - 7, 7, "Presets") == 0),
                "a presets folder ends in Presets");
    fuzz::check(fuzz::readFile(path) == original, "reading the desktop application's keys changes nothing");
    (void)getValueFromReg("FavoriteLUTFolder", true);
    fuzz::check(getLoginPassword().size() == 2, "the account is two values");
    const std::string afterReads = fuzz::readFile(path);
    if (!noFile)
        fuzz::check(onlyInsertedBelowAnchors(linesOf(original), linesOf(afterReads)),
                    "reading keeps every line and only inserts below anchors");

    // The write, as the LUT Manager and the account form make it.
    std::vector<std::pair<std::string, std::string>> written;
    if (login) {
        // The password is the value backwards: two different values in one write.
        written = {{"email", value}, {"PersonalAccountPassword", std::string(value.rbegin(), value.rend())}};
        saveLoginPassword(written[0].second, written[1].second);
    } else {
        (void)getValueFromReg("FavoriteLUTFolder", true);
        fuzz::check(fuzz::readFile(path) == afterReads, "a second read inserts nothing more");
        written = {{"FavoriteLUTFolder", value}};
        setValuesInReg(written);
    }
    const std::string afterWrite = fuzz::readFile(path);

    const std::vector<std::string> before = linesOf(afterReads), after = linesOf(afterWrite);
    if (hasControlCharacter(written[0].second) || (login && hasControlCharacter(written[1].second))) {
        fuzz::check(afterWrite == afterReads, "a refused value changes nothing");
    } else {
        fuzz::check(before.size() == after.size(), "a write keeps the number of lines");
        for (std::size_t i = 0; i < before.size(); ++i) {
            const auto pair = std::find_if(written.begin(), written.end(),
                                           [&](const auto& p) { return names(before[i], p.first); });
            if (pair == written.end()) {
                fuzz::check(after[i] == before[i], "a write keeps every other line unchanged");
            } else {
                const std::string prefix = prefixOf(pair->first);
                fuzz::check(after[i].compare(0, prefix.size(), prefix) == 0 && after[i].size() >= prefix.size() + 8 &&
                                after[i].compare(after[i].size() - 8, 8, kValueEnd) == 0,
                            "a line naming a written key becomes its value line");
            }
        }
        for (const auto& [key, v] : written) {
            bool named = false;
            for (const std::string& line : after) named = named || names(line, key);
            if (named) fuzz::check(getValueFromReg(key, false) == v, "a written value reads back unchanged");
        }
    }
    fuzz::check(nothingLeftBeside(), "nothing is left beside the settings file");
    return 0;
}
