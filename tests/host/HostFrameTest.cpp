// The pure rules of the host: the current frame as the bitmap effects get
// (row order, channel order, depth), which presses failed, the boxes seen on
// standard error, and the strips of a render.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "HostTestEnv.h"
#include "TempDir.h"
#include "host/HostCli.h"
#include "host/HostFrame.h"
#include "host/HostRender.h"

using namespace quillane::test;

namespace {

// A 2 x 2 frame: top row red, green; bottom row blue, white (alpha 200, 201, 202, 203).
host::Frame quad(bool isFloat, bool sixteen) {
    const unsigned rgba[16] = {255, 0, 0, 200, 0, 255, 0, 201, 0, 0, 255, 202, 255, 255, 255, 203};
    host::Frame f;
    f.width = f.height = 2, f.isFloat = isFloat, f.sixteen = sixteen;
    f.allocate();
    for (int i = 0; i < 16; ++i) {
        if (!isFloat) f.bytes[i] = static_cast<unsigned char>(rgba[i]);
        if (sixteen) f.words[i] = static_cast<std::uint16_t>(rgba[i] * 257);
        if (isFloat && !sixteen) f.floats[i] = rgba[i] / 255.0f;
    }
    return f;
}

TEST(HostFrame, TheBitmapRunsBottomRowFirstInAlphaRedGreenBlue) {
    // Bitmap pixel order: bottom-left, bottom-right, top-left, top-right.
    const unsigned argb[16] = {202, 0, 0, 255, 203, 255, 255, 255, 200, 255, 0, 0, 201, 0, 255, 0};
    for (auto [isFloat, sixteen] : {std::pair{false, false}, {true, true}, {true, false}}) {
        const host::Frame frame = quad(isFloat, sixteen);
        for (unsigned depth : {kFxDepth_UINT8, kFxDepth_FLOAT32}) {
            auto bitmap = host::bitmapOfFrame(frame, depth);
            ASSERT_TRUE(bitmap);
            EXPECT_EQ(bitmap->width(), 2u);
            EXPECT_EQ(bitmap->height(), 2u);
            EXPECT_EQ(bitmap->depth(), depth);
            for (int i = 0; i < 16; ++i) {
                if (depth == kFxDepth_UINT8)
                    EXPECT_EQ(static_cast<const unsigned char*>(bitmap->dataPtr())[i], argb[i]) << i;
                else
                    EXPECT_NEAR(static_cast<const float*>(bitmap->dataPtr())[i], argb[i] / 255.0f, 1e-6) << i;
            }
        }
    }
}

TEST(HostFrame, FloatsBecomeRoundedClampedBytesAndOddRequestsGetNothing) {
    host::Frame f;
    f.width = 1, f.height = 2, f.isFloat = true;
    f.floats = {-0.2f, 1.7f, NAN, 0.5f, 0.499f / 255.0f, 0.501f / 255.0f, 254.6f / 255.0f, 1.0f};
    auto bitmap = host::bitmapOfFrame(f, kFxDepth_UINT8);
    ASSERT_TRUE(bitmap);
    const auto* p = static_cast<const unsigned char*>(bitmap->dataPtr());
    const unsigned expected[8] = {255, 0, 1, 255, 128, 0, 255, 0};  // bottom row first, A R G B
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p[i], expected[i]) << i;

    EXPECT_FALSE(host::bitmapOfFrame(quad(false, false), kFxDepth_FLOAT16));
    EXPECT_FALSE(host::bitmapOfFrame(host::Frame(), kFxDepth_UINT8));
    host::Frame shortBuffer = quad(false, false);
    shortBuffer.bytes.pop_back();
    EXPECT_FALSE(host::bitmapOfFrame(shortBuffer, kFxDepth_UINT8));
}

TEST(HostFrame, TheCurrentFrameIsDecodedWhenAskedAndEveryRequestCounted) {
    TempDir dir;
    host::CurrentFrame current;
    host::FrameProvider provider = current.provider();
    FxRenderInfo info;
    EXPECT_FALSE(provider(info, FxTime{}));
    current.setFile(dir.file("gone.png"));
    EXPECT_FALSE(provider(info, FxTime{}));
    EXPECT_NE(current.requests().problem.find("cannot be read"), std::string::npos);
    ASSERT_TRUE(host::writePngFrame(dir.file("f.png"), quad(true, true), nullptr));
    current.setFile(dir.file("f.png"));
    info.depth = kFxDepth_FLOAT32;
    auto bitmap = provider(info, FxTime{});
    ASSERT_TRUE(bitmap);
    EXPECT_FLOAT_EQ(static_cast<const float*>(bitmap->dataPtr())[0], 202 / 255.0f);
    EXPECT_EQ(current.requests().asked, 3);
    EXPECT_EQ(current.requests().given, 1);
}

TEST(HostPress, FailuresAreDecidedByWhatTheActionDid) {
    using Boxes = std::vector<std::string>;
    struct Case {
        FxParameterId button;
        int asked, given;
        bool saved, display, scripted;
        Boxes boxes;
        const char* failure;  // a piece of the reason; empty: success
    } cases[] = {
        {3, 1, 0, false, true, false, {}, "needs the current frame"},
        {2, 1, 0, false, true, false, {}, "needs the current frame"},
        {3, 1, 1, true, false, false, {"Exception"}, "LUT Manager needs a display"},
        {3, 1, 1, true, true, false, {"Exception"}, "could not open (box \"Exception\")"},
        {3, 1, 1, true, true, false, {"LUT Manager"}, "cannot show the current frame"},
        {3, 1, 1, true, true, false, {"Changed"}, ""},  // the window's notices inform
        {3, 1, 1, true, true, false, {}, ""},
        {4, 0, 0, false, false, false, {}, "file dialog needs a display"},
        {4, 0, 0, false, false, true, {}, ""},  // scripted cancel: nothing to do
        {4, 0, 0, false, false, true, {"Error in Quillane Plug-in"}, "kept its LUT (box \"Error in Quillane Plug-in\")"},
        {4, 0, 0, true, false, true, {}, ""},
        {5, 0, 0, false, false, false, {"Error in Quillane Plug-in"}, "kept its LUT"},
        {6, 0, 0, true, false, false, {"Error in Quillane Plug-in"}, ""},  // stepped past an unreadable file
        {5, 0, 0, false, false, false, {}, ""},                             // nothing to step to
        {2, 1, 1, false, false, false, {"getValueFromReg", "Error"}, "not started (box \"Error\")"},
        {2, 1, 1, true, false, false, {}, ""},
        {14, 0, 0, false, false, false, {"About"}, ""},
    };
    for (const Case& c : cases) {
        host::PressObservation seen;
        seen.button = c.button, seen.framesAsked = c.asked, seen.framesGiven = c.given, seen.saved = c.saved;
        seen.displayAvailable = c.display, seen.dialogScripted = c.scripted, seen.boxes = c.boxes;
        const std::string failure = host::pressFailure(seen);
        if (*c.failure == '\0')
            EXPECT_EQ(failure, "") << "button " << c.button;
        else
            EXPECT_NE(failure.find(c.failure), std::string::npos) << "button " << c.button << ": " << failure;
    }
}

TEST(HostPress, BoxesAreFoundInStandardErrorText) {
    struct Case {
        const char* text;
        std::vector<std::string> titles;
    } cases[] = {
        {"", {}},
        {"[critical] About\nversion 1\n[OK] -> OK\n", {"About"}},
        {"noise\n[warning] A\nx\n[OK] -> OK\n[information] B\n\n[OK] -> OK\n", {"A", "B"}},
        {"Quillane: the file dialog failed: no display\n", {}},
        {" [critical] not at the start of a line\n", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(host::boxTitlesIn(c.text), c.titles) << c.text;
}

TEST(HostRenderStrips, StripsKeepTheOutputTextureNearEightMegabytes) {
    struct Case {
        int w, h;
        std::size_t pixelBytes;
        int rows;
    } cases[] = {
        {1920, 1080, 4, 1080}, {1920, 1080, 8, 546}, {1920, 1080, 16, 273}, {3840, 2160, 4, 546},
        {1, 1, 16, 1},         {16384, 9, 16, 9},    {16384, 900, 16, 32},  {0, 10, 4, 0},
        {10, 0, 4, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(host::stripRowsFor(c.w, c.h, c.pixelBytes), c.rows) << c.w << "x" << c.h << " " << c.pixelBytes;
}

}  // namespace
