// Writes the seed inputs of the reader fuzzers, each made by the writer of the
// format where the project has one: project files by the host's project
// writer, settings files by the settings store itself, LUT answers as the
// stand-in desktop application fills its record, replies as the test service
// sends them, frames by the host's PNG writer, icons by lodepng's encoder.
//
//   quillane-fuzz-seeds FOLDER   ->  FOLDER/<target>/<seed> for every target
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <lodepng.h>
#include <nlohmann/json.hpp>

#include "desktop/MemoryMappingFile.h"
#include "desktop/Settings.h"
#include "fuzz/FuzzSupport.h"
#include "host/FrameFile.h"
#include "host/Project.h"
#include "platform/appkit/Alert.h"
#include "plugin/Base64.h"
#include "tests/exchange/StandInLut.h"

namespace {

namespace fs = std::filesystem;

std::string folder;

void seed(const std::string& target, const std::string& name, const std::string& bytes) {
    fs::create_directories(folder + "/" + target);
    fuzz::writeFile(folder + "/" + target + "/" + name, bytes);
}

double fromBits(std::uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// What the effect keeps for a LUT of n nodes per axis, with a preset and a name.
std::vector<host::StoredValue> effectValues(int n, const std::string& preset, const std::string& name) {
    const std::vector<float> nodes = quillane::test::standInNodes("warm", static_cast<std::size_t>(n));
    const std::vector<char> presetBytes(preset.begin(), preset.end());
    return {{1, FxValue::string(name)},
            {7, FxValue::data(nodes.data(), nodes.size() * sizeof(float))},
            {8, FxValue::integer(n)},
            {9, FxValue::number(0.0)},
            {10, FxValue::number(1.0)},
            {11, FxValue::string(base64Encode(presetBytes))},
            {12, FxValue::integer(static_cast<std::int64_t>(presetBytes.size()))},
            {13, FxValue::string(name)}};
}

void projectSeeds() {
    seed("project", "effect.qhp", host::projectText({effectValues(2, "PRESET\x01\xfe", "/looks/warm.cube")}));
    seed("project", "two-instances.qhp",
         host::projectText({effectValues(1, "", "Quillane warm"), effectValues(0, "", "")}));
    seed("project", "empty.qhp", host::projectText({}));
    // Every kind of value, and the doubles whose bits are easy to lose.
    std::vector<host::StoredValue> odd = {
        {0, FxValue()},
        {2, FxValue::integer(std::numeric_limits<std::int64_t>::min())},
        {3, FxValue::string(std::string("not \xff\xfe UTF-8\0!", 14))},
        {4, FxValue::data({})},
    };
    const std::uint64_t doubles[] = {
        0x7ff8000000000005,  // quiet NaN with a payload
        0xfff8000000000000,  // negative NaN
        0x7ff0000000000001,  // signalling NaN
        0x8000000000000000,  // negative zero
        0x0000000000000001,  // the smallest subnormal
        0x7ff0000000000000,  // infinity
        0x7fefffffffffffff,  // the largest finite
    };
    for (std::uint64_t bits : doubles) odd.push_back({9, FxValue::number(fromBits(bits))});
    seed("project", "values.qhp", host::projectText({odd}));
}

// The settings fuzzer's input: selector, value length, value, then the file.
std::string settingsInput(bool login, const std::string& value, const std::string& file) {
    return std::string(1, login ? 1 : 0) + std::string(1, static_cast<char>(value.size())) + value + file;
}

void settingsSeeds() {
    const std::string home = fuzz::scratchFolder() + "/home";
    fs::create_directories(home);
    ::setenv("HOME", home.c_str(), 1);
    appkit::setAlertPresenter([](const appkit::Alert&) { return appkit::kAlertFirstButtonReturn; });
    const std::string path = settingsFilePath();

    (void)getValueFromReg("FavoriteLUTFolder", true);  // the skeleton with one empty line
    seed("settings", "skeleton", settingsInput(false, "/Users/x/My Looks", fuzz::readFile(path)));
    saveLoginPassword("me@example.com", "p&ss<w>\"rd'");
    setValuesInReg({{"FavoriteLUTFolder", "/Users/x/Looks & More"}});
    const std::string saved = fuzz::readFile(path);
    seed("settings", "account", settingsInput(true, "other@example.com", saved));

    // The desktop application's own lines beside ours, as it leaves them.
    const std::string anchor = "<Key Name=\"Quillane\">\n";
    std::string withApp = saved;
    withApp.insert(withApp.find(anchor) + anchor.size(),
                   "<Value Name=\"ProgramPath\" Type=\"2\">/Applications/Quillane/bin/QuillaneMac</Value>\n"
                   "<Value Name=\"ModalPluginMode\" Type=\"2\">1</Value>\n");
    seed("settings", "with-application", settingsInput(false, "D:\\Looks", withApp));
    seed("settings", "no-file", std::string(1, 2) + std::string(1, 0));
}

// The answer fuzzer's input: control byte, record header, nodes, preset file.
void answerSeed(const std::string& name, std::uint8_t control, std::uint32_t n, const std::string& lutName,
                const std::string& preset) {
    auto record = std::make_unique<LutMapping>();
    record->fromPlugin = 1;
    record->currentPluginID = 7;
    record->lutReady = 1;
    record->dimSize = n;
    record->inputRange0 = 0.0f;
    record->inputRange1 = 1.0f;
    std::strncpy(record->name, lutName.c_str(), sizeof record->name);
    std::string input(1, static_cast<char>(control));
    input.append(reinterpret_cast<const char*>(record.get()), offsetof(LutMapping, red));
    for (std::size_t b = 0; b < n; ++b)
        for (std::size_t g = 0; g < n; ++g)
            for (std::size_t r = 0; r < n; ++r) {
                const ColorLut c = quillane::test::standInNode("warm", n, r, g, b);
                input.append(reinterpret_cast<const char*>(&c.r), 4);
                input.append(reinterpret_cast<const char*>(&c.g), 4);
                input.append(reinterpret_cast<const char*>(&c.b), 4);
            }
    seed("desktop_answer", name, input + preset);
}

void answerSeeds() {
    answerSeed("warm-with-preset", 1 | 2 | 4 | 8, 2, "warm", std::string("PRESET\0\x01\xfe\xff", 10));
    answerSeed("invert-no-preset", 1 | 2, 3, "invert", "");
    answerSeed("preset-file-missing", 1 | 2 | 4, 1, std::string(256, 'x'), "");
    answerSeed("for-another-instance", 1 | 4 | 8, 2, "warm", "P");
}

void onlineSeeds() {
    const char* const replies[] = {"1 tok0001", "-1 x", "-3", "1", "-2\n", "ok", "ok\n", ""};
    for (std::size_t i = 0; i < sizeof replies / sizeof replies[0]; ++i)
        seed("online_login", "reply" + std::to_string(i), replies[i]);

    using nlohmann::json;
    auto entry = [](const char* id, const char* url, const char* name, const char* in, const char* favorite) {
        return json{{"id", id}, {"url", url}, {"lutname", name}, {"folder", in}, {"favorite", favorite}};
    };
    seed("online_listing", "folder.json",
         json::array({entry("3", "", "Warm", "Film/Looks", "0"), entry("-1", "", "Sub", "Film/Looks/Sub", "0"),
                      entry("7", "https://example.com/x", "Teal", "Film/Looks", "1"),
                      entry("-2", "https://example.com/y", "Shop", "Film", "0")})
             .dump());
    seed("online_listing", "root.json", json::array({entry("1", "", "Root", "", "0")}).dump());
    seed("online_listing", "not-json.txt", "<html>busy</html>");
    // Entries the two readers of listings take differently: no name, members of the wrong type.
    seed("online_listing", "odd-members.json",
         R"([{"id":"4"},{"id":"5","lutname":"A","url":null},{"id":"6","lutname":"B","favorite":1},)"
         R"({"id":" +7x","lutname":"C:D","url":"https://example.com/c"},{"id":"-3","lutname":"E"},)"
         R"({"id":"-1","lutname":"Up/","folder":"Film/Night/../"},{"id":"0","lutname":"Z","folder":[1]}])");
}

// A frame of the host's own kinds, values spread over the whole range.
host::Frame patternFrame(int w, int h, bool sixteen) {
    host::Frame f;
    f.width = w, f.height = h, f.isFloat = f.sixteen = sixteen;
    f.allocate();
    for (std::size_t i = 0; i < f.pixelCount() * 4; ++i) {
        const unsigned word = static_cast<unsigned>((i * 7919u + 0x1234u) % 65536u);
        if (sixteen)
            f.words[i] = static_cast<std::uint16_t>(word);
        else
            f.bytes[i] = static_cast<unsigned char>(word >> 3);
    }
    return f;
}

// The frame fuzzer's input: the byte that picks the limits, then the file.
void frameSeeds() {
    struct Seed {
        const char* name;
        int w, h;
        bool sixteen;
        std::uint8_t limits;
        host::PngWriteSettings settings;
    } seeds[] = {
        {"8bit-3x2", 3, 2, false, 0, {}},
        {"16bit-5x3", 5, 3, true, 0, {}},
        {"16bit-1x1-side-3", 1, 1, true, 3, {}},
        {"8bit-70x2-small-cap", 70, 2, false, 4, {}},
        {"8bit-9x4-filtered", 9, 4, false, 1, {9, 0, 0xf8}},
        {"16bit-6x6-filtered", 6, 6, true, 2, {6, 0, 0xf8}},
    };
    const std::string path = fuzz::scratchFolder() + "/frame.png";
    for (const Seed& s : seeds) {
        std::string error;
        if (!host::writePngFrame(path, patternFrame(s.w, s.h, s.sixteen), &error, s.settings)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        seed("host_frame", s.name, std::string(1, static_cast<char>(s.limits)) + fuzz::readFile(path));
    }
}

// Icons as the service might send them; the first byte picks the preview size.
void iconSeeds() {
    struct Seed {
        const char* name;
        unsigned w, h;
        LodePNGColorType type;
        unsigned depth;
        std::uint8_t preview;  // bits 0-2 width, 3-5 height: 6 | 5 << 3 is 288 x 64
    } seeds[] = {
        {"rgba-4x3", 4, 3, LCT_RGBA, 8, 7 | 6 << 3}, {"grey-alpha-16bit-3x5", 3, 5, LCT_GREY_ALPHA, 16, 4 | 4 << 3},
        {"palette-5x2", 5, 2, LCT_PALETTE, 8, 3 | 2 << 3}, {"rgb-20x1", 20, 1, LCT_RGB, 8, 4 | 1 << 3},
        {"grey-1bit-8x8", 8, 8, LCT_GREY, 1, 5 | 5 << 3},
    };
    for (const Seed& s : seeds) {
        std::vector<unsigned char> rgba(std::size_t(s.w) * s.h * 4), png;
        for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<unsigned char>(i * 37 + (i % 4 == 3) * 64);
        lodepng::State state;
        state.info_raw.colortype = LCT_RGBA;
        state.info_raw.bitdepth = 8;
        state.info_png.color.colortype = s.type;
        state.info_png.color.bitdepth = s.depth;
        state.encoder.auto_convert = 0;
        if (s.type == LCT_PALETTE) {
            for (std::size_t i = 0; i < rgba.size(); i += 4) {
                rgba[i + 3] = i % 8 ? 255 : 128;  // a few colours, some see-through
                lodepng_palette_add(&state.info_png.color, rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]);
                lodepng_palette_add(&state.info_raw, rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]);
            }
        }
        if (s.type == LCT_GREY)
            for (std::size_t i = 0; i < rgba.size(); i += 4) {
                rgba[i] = rgba[i + 1] = rgba[i + 2] = (i / 4) % 3 ? 255 : 0;
                rgba[i + 3] = 255;
            }
        if (s.type == LCT_GREY_ALPHA)
            for (std::size_t i = 0; i < rgba.size(); i += 4) rgba[i + 1] = rgba[i + 2] = rgba[i];
        if (lodepng::encode(png, rgba, s.w, s.h, state) != 0) {
            std::fprintf(stderr, "icon %s: %s\n", s.name, lodepng_error_text(state.error));
            std::exit(1);
        }
        seed("online_icon", s.name, std::string(1, static_cast<char>(s.preview)) +
                                        std::string(png.begin(), png.end()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    folder = argv[1];
    projectSeeds();
    settingsSeeds();
    answerSeeds();
    onlineSeeds();
    frameSeeds();
    iconSeeds();
    return 0;
}
