// The exchange with the desktop application, against the stand-in QuillaneMac
// started as a real second process by the launcher.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "ExchangeTestEnv.h"
#include "StandInLut.h"
#include "plugin/DesktopExchange.h"

using namespace quillane::test;
using namespace desktop_exchange;

namespace {

constexpr std::uint32_t kId = 7;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::string bytesOf(const std::optional<std::vector<char>>& bytes) {
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<none>");
}

std::unique_ptr<FxBitmap> smallFrame() {
    return makeBitmap(4, 2, [](unsigned x, unsigned y) {
        return std::array<float, 4>{1.0f, 0.1f * x, 0.2f * y, 0.5f};
    });
}

}  // namespace

TEST_F(ExchangeTest, TheFrameGoesIntoTheImageRecordClampedWithItsWords) {
    image.data->presetReady = 1;
    lut.data->lutReady = 1;
    const unsigned w = 1920, h = 1080;
    auto bitmap = makeBitmap(w, h, [](unsigned x, unsigned y) {
        if (x == 0 && y == 0) return std::array<float, 4>{0.5f, -0.2f, 1.7f, 0.3f};
        if (x == 1 && y == 0) return std::array<float, 4>{0.0f, kNaN, -kNaN, 2.0f};
        return std::array<float, 4>{0.25f, x / float(w), y / float(h), 0.5f};
    });
    image.data->pixels[w * h * 4] = 42.0f;  // just past the frame: must stay

    ASSERT_EQ(writeFrame(image.data, lut.data, kId, *bitmap), FrameResult::Written);
    const ImageMapping& rec = *image.data;
    // busy stays raised until the preset file is written.
    EXPECT_EQ((std::vector<std::uint32_t>{rec.fromPlugin, rec.currentPluginID, rec.busy, rec.imageReady,
                                          rec.presetReady, rec.bytesPerPixel, rec.width, rec.height}),
              (std::vector<std::uint32_t>{1, kId, 1, 1, 0, 16, w, h}));
    EXPECT_EQ(std::string(rec.clipName, 256), "clipName" + std::string(248, '\0'));
    const float* p = rec.pixels;
    const std::size_t last = (std::size_t(w) * h - 1) * 4;  // pixel (w-1, h-1), then one past the frame
    EXPECT_EQ(std::vector<float>(p, p + 8), (std::vector<float>{0, 1, 0.3f, 1, 0, 0, 1, 1}));
    EXPECT_EQ(std::vector<float>(p + last, p + last + 5),
              (std::vector<float>{(w - 1) / float(w), (h - 1) / float(h), 0.5f, 1, 42}));
    EXPECT_EQ((std::vector<std::uint32_t>{lut.data->fromPlugin, lut.data->currentPluginID, lut.data->lutReady}),
              (std::vector<std::uint32_t>{1, kId, 0}));
    lowerBusy(image.data);
    EXPECT_EQ(rec.busy, 0u);
}

TEST_F(ExchangeTest, AFrameTheRecordCannotHoldWritesNothingAndStartsNothing) {
    auto tooLarge = std::make_unique<FxBitmap>(4097, 2160, kFxDepth_FLOAT32);
    EXPECT_EQ(sendToDesktop(image.data, lut.data, kId, *tooLarge, {}, "a.cube", outgoingPresetPath()),
              SendResult::NotSent);
    auto eightBit = std::make_unique<FxBitmap>(4, 2, kFxDepth_UINT8);
    EXPECT_EQ(writeFrame(image.data, lut.data, kId, *eightBit), FrameResult::BadFrame);
    EXPECT_EQ(writeFrame(nullptr, lut.data, kId, *smallFrame()), FrameResult::NoRecord);
    EXPECT_EQ(writeFrame(image.data, nullptr, kId, *smallFrame()), FrameResult::NoRecord);

    const char* words = reinterpret_cast<const char*>(image.data);
    EXPECT_TRUE(std::all_of(words, words + 288, [](char c) { return c == 0; }));
    EXPECT_EQ(lut.data->fromPlugin, 0u);
    EXPECT_EQ(lut.data->currentPluginID, 0u);
    EXPECT_FALSE(fileExists(reportPath)) << "nothing may be started";
    EXPECT_TRUE(boxes.boxes.empty());

    // The largest frame the record holds goes through.
    auto full = std::make_unique<FxBitmap>(4096, 2160, kFxDepth_FLOAT32);
    EXPECT_EQ(writeFrame(image.data, lut.data, kId, *full), FrameResult::Written);
}

TEST_F(ExchangeTest, ModalExchangeWithPresetBothWays) {
    standIn("LUT", "warm");
    standIn("DIM", "17");
    standIn("NAME", "warm");
    standIn("RANGE", "0,0.5");
    standIn("PRESET", "preset from the application");
    const std::vector<char> preset{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const std::string sent = outgoingPresetPath();

    ASSERT_EQ(sendToDesktop(image.data, lut.data, kId, *smallFrame(), preset, "/x/My Looks/warm.cube", sent),
              SendResult::Modal);
    // Modal: the application has come and gone before the call returns.
    ASSERT_TRUE(fileExists(reportPath));
    // The preset file is handed over, whatever the LUT's name.
    const std::map<std::string, std::string> expectedReport = {
        {"argc", "3"}, {"arg0", kStandIn}, {"arg1", "-plugin"}, {"arg2", sandbox.exchange() + "LutPresetSave.qlp"},
        {"handed.size", "10"}, {"handed.hex", hexOf("0123456789")}, {"image.busy", "0"}, {"image.imageReady", "1"},
        {"image.currentPluginID", std::to_string(kId)}, {"image.clipName", "clipName"}, {"image.width", "4"},
        {"image.height", "2"}};
    std::map<std::string, std::string> seen = report();
    seen.erase("fds");  // the launcher's tests look at those
    EXPECT_EQ(seen, expectedReport);  // how the file is made: ExchangePresetFiles

    DesktopAnswer answer;
    ASSERT_EQ(takeAnswer(image.data, lut.data, kId, incomingPresetPath(kId), &answer), AnswerResult::Taken);
    EXPECT_EQ(answer.name, "Quillane warm");
    EXPECT_EQ(bytesOf(answer.preset), "preset from the application");
    ASSERT_TRUE(answer.lut.isLoaded());
    ASSERT_EQ(answer.lut.getDimSize(), 17);
    EXPECT_EQ(answer.lut.getInputRange0(), 0.0f);
    EXPECT_EQ(answer.lut.getInputRange1(), 0.5f);
    const std::vector<float> expected = standInNodes("warm", 17);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), answer.lut.getData()));
    EXPECT_EQ(lut.data->lutReady, 0u);
    EXPECT_EQ(image.data->presetReady, 0u);
    EXPECT_EQ(image.data->busy, 0u);
    EXPECT_TRUE(fileExists(incomingPresetPath(kId))) << "the incoming file is never deleted";

    // Taken once: the next look finds nothing.
    EXPECT_EQ(takeAnswer(image.data, lut.data, kId, incomingPresetPath(kId), &answer), AnswerResult::None);
}

TEST_F(ExchangeTest, APathIsHandedUnchangedAndTheNameIsReadAtMost256Bytes) {
    standIn("NAME_UNTERMINATED", "1");
    standIn("DIM", "1");
    const std::string lutPath = "/x/My Looks/warm \\ cube;$(true).cube";
    ASSERT_EQ(sendToDesktop(image.data, lut.data, kId, *smallFrame(), {}, lutPath, outgoingPresetPath()),
              SendResult::Modal);
    auto seen = report();
    EXPECT_EQ(seen["argc"], "3");
    EXPECT_EQ(seen["arg2"], lutPath);
    EXPECT_FALSE(fileExists(outgoingPresetPath())) << "no preset, no preset file";

    // The name field is full to the last byte and the red plane follows it.
    DesktopAnswer answer;
    answer.preset = std::vector<char>{'o', 'l', 'd'};
    ASSERT_EQ(takeAnswer(image.data, lut.data, kId, incomingPresetPath(kId), &answer), AnswerResult::Taken);
    EXPECT_EQ(answer.name, "Quillane " + std::string(256, 'x'));
    EXPECT_FALSE(answer.preset) << "no preset was flagged";
    EXPECT_EQ(answer.lut.getDimSize(), 1);

    // An empty name hands over no file at all.
    ASSERT_EQ(sendToDesktop(image.data, lut.data, kId, *smallFrame(), {}, "", outgoingPresetPath()),
              SendResult::Modal);
    EXPECT_EQ(report()["argc"], "2");
}

// A missing value reads as "" (modal: ModalExchangeWithPresetBothWays); a
// non-modal run end to end is in EffectExchangeTest.
TEST(ExchangeModalMode, OnlyEmptyOrOneIsModal) {
    for (const char* value : {"", "1"}) EXPECT_TRUE(isModalPluginMode(value)) << value;
    for (const char* value : {"0", "true", "11", " 1", "1 "}) EXPECT_FALSE(isModalPluginMode(value)) << value;
}

TEST_F(ExchangeTest, HostileAnswersAreRefusedAndTheNextGoodOneIsTaken) {
    standIn("PRESET", "with the bad LUT");
    struct Bad {
        const char* variable;
        const char* value;
    };
    for (const Bad& b : {Bad{"DIM_WORD", "0"}, Bad{"DIM_WORD", "65"}, Bad{"DIM_WORD", "4294967295"},
                         Bad{"RANGE", "nan,1"}, Bad{"RANGE", "0,inf"},
                         Bad{"RANGE", "0.5,0.5"}}) {
        SCOPED_TRACE(std::string(b.variable) + "=" + b.value);
        ScopedEnv bad(std::string("QUILLANE_STANDIN_") + b.variable, std::string(b.value));
        ASSERT_EQ(sendToDesktop(image.data, lut.data, kId, *smallFrame(), {}, "a.cube", outgoingPresetPath()),
                  SendResult::Modal);
        ASSERT_EQ(lut.data->lutReady, 1u);
        DesktopAnswer answer;
        answer.name = "kept";
        EXPECT_EQ(takeAnswer(image.data, lut.data, kId, incomingPresetPath(kId), &answer), AnswerResult::Refused);
        EXPECT_EQ(answer.name, "kept");
        EXPECT_FALSE(answer.lut.isLoaded());
        EXPECT_EQ(lut.data->lutReady, 0u);
        EXPECT_EQ(image.data->presetReady, 0u) << "the preset of a refused answer is not taken later";
        EXPECT_EQ(takeAnswer(image.data, lut.data, kId, incomingPresetPath(kId), &answer), AnswerResult::None);
    }

    // A preset file far larger than any preset: the LUT comes, the file is refused unread.
    standIn("PRESET_SIZE", std::to_string(5LL << 30));
    standIn("DIM", "64");
    ASSERT_EQ(sendToDesktop(image.data, lut.data, kId, *smallFrame(), {}, "a.cube", outgoingPresetPath()),
              SendResult::Modal);
    DesktopAnswer answer;
    ASSERT_EQ(takeAnswer(image.data, lut.data, kId, incomingPresetPath(kId), &answer), AnswerResult::Taken);
    EXPECT_EQ(answer.lut.getDimSize(), 64);
    EXPECT_FALSE(answer.preset);
    EXPECT_EQ(image.data->presetReady, 0u);
    EXPECT_EQ(image.data->busy, 0u);
}

// The preset files on their own: no second process needed.
TEST(ExchangePresetFiles, OutgoingFileIsMadeAfreshAndNeverThroughALink) {
    DesktopSandbox sandbox;
    const std::string path = outgoingPresetPath();
    const std::string victim = sandbox.dir.file("victim");
    writeFile(victim, "precious");
    ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
    ASSERT_TRUE(writeOutgoingPreset(path, {'a', 'b', 'c'}));
    EXPECT_EQ(readFile(victim), "precious");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readFile(path), "abc");

    // An older, longer file is replaced whole.
    writeFile(path, "a much longer old preset");
    ASSERT_TRUE(writeOutgoingPreset(path, {'x'}));
    EXPECT_EQ(readFile(path), "x");

    // Something that cannot be removed is not written through.
    std::filesystem::remove(path);
    std::filesystem::create_directories(path + "/inside");
    EXPECT_FALSE(writeOutgoingPreset(path, {'y'}));
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(ExchangePresetFiles, IncomingFileIsReadExactlyAndWithinBounds) {
    DesktopSandbox sandbox;
    const std::string path = incomingPresetPath(3);  // its name: the stand-in names it too (ModalExchangeWithPresetBothWays)
    EXPECT_EQ(filesize(path.c_str()), -1);
    EXPECT_FALSE(readIncomingPreset(path));

    std::string binary("\0\x01\xff\n\r preset", 13);
    writeFile(path, binary);
    EXPECT_EQ(filesize(path.c_str()), 13);
    EXPECT_EQ(bytesOf(readIncomingPreset(path)), binary);
    writeFile(path, "");
    EXPECT_EQ(bytesOf(readIncomingPreset(path)), "");

    // At the cap it is taken, one byte more is refused.
    ASSERT_EQ(::truncate(path.c_str(), kMaxPresetFileSize), 0);
    auto atCap = readIncomingPreset(path);
    ASSERT_TRUE(atCap);
    EXPECT_EQ(static_cast<std::int64_t>(atCap->size()), kMaxPresetFileSize);
    ASSERT_EQ(::truncate(path.c_str(), kMaxPresetFileSize + 1), 0);
    EXPECT_FALSE(readIncomingPreset(path));
    ASSERT_EQ(::truncate(path.c_str(), 5LL << 30), 0);
    EXPECT_EQ(filesize(path.c_str()), 5LL << 30) << "sizes past 2 GiB are not cut short";
    EXPECT_FALSE(readIncomingPreset(path));

    // Neither a link nor a FIFO is read (and a FIFO does not block).
    std::filesystem::remove(path);
    writeFile(sandbox.dir.file("elsewhere"), "secret");
    ASSERT_EQ(::symlink(sandbox.dir.file("elsewhere").c_str(), path.c_str()), 0);
    EXPECT_FALSE(readIncomingPreset(path));
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(readIncomingPreset(path));
}
