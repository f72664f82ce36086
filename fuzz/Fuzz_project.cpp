// The host's project file: whatever the reader accepts must survive a save
// and a second read with every value the same, bit for bit (NaN payloads,
// negative zero and strings that are not UTF-8 included), and saving what was
// read again, with the members the host does not read, must give the same
// text. String values also go through the Base64 decoding the effect gives
// its stored preset text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/Project.h"
#include "plugin/Base64.h"

namespace {

using Project = std::vector<std::vector<host::StoredValue>>;

bool sameProject(const Project& a, const Project& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) return false;
        for (std::size_t j = 0; j < a[i].size(); ++j)
            if (a[i][j].id != b[i][j].id || a[i][j].value != b[i][j].value) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Project first;
    host::ProjectMembers members;
    std::string error;
    if (!host::projectFromText(text, "fuzz.qhp", &first, &error, &members)) {
        fuzz::check(!error.empty(), "a refused project says why");
        return 0;
    }

    // Through the real files, as a save and a reopen do it.
    const std::string path = fuzz::scratchFolder() + "/project.qhp";
    fuzz::check(host::writeProjectFile(path, first, &error, members), "what was read can be saved");
    Project second;
    host::ProjectMembers membersAgain;
    fuzz::check(host::readProjectFile(path, &second, &error, &membersAgain), "a saved project reads back");
    fuzz::check(sameProject(first, second), "every value reads back with the same bits");
    fuzz::check(host::projectText(second, membersAgain) == fuzz::readFile(path), "saving again gives the same text");

    for (const auto& values : first)
        for (const host::StoredValue& v : values) {
            if (v.value.kind() != FxValue::Kind::String) continue;
            const std::string& text = v.value.stringValue();
            const std::vector<char> preset = base64Decode(text);
            fuzz::check(preset.size() <= text.size() / 4 * 3 + 2, "Base64 gives at most three bytes for four characters");
            fuzz::check(base64Decode(base64Encode(preset)) == preset, "a decoded preset survives its Base64 text");
        }
    return 0;
}
