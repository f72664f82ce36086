// Renders through the real effect: 16- and 8-bit files through an identity
// LUT come out as they went in (checked by the second PNG reader), graded
// frames of every kind equal the CPU applier strip by strip and pass unchanged
// without a LUT, render targets are reused, and the desktop program gets the
// host's current frame (a render that fails: tests/gpu).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "../exchange/ExchangeTestEnv.h"
#include "EffectModule.h"
#include "HostTestEnv.h"
#include "LutFiles.h"
#include "host/HostRender.h"
#include "lut/LutFile.h"
#include "lut/MathClass.h"

using namespace quillane::test;
namespace fs = std::filesystem;

namespace {

// A .cube of N nodes: the identity, or random nodes read through a range
// (so a render that drops the LUT's range shows).
std::string writeCube(const TempDir& dir, int n, bool identity) {
    const std::string path = dir.file((identity ? "identity-" : "random-") + std::to_string(n) + ".cube");
    if (identity) {
        writeLutFile(path, n, [](float*) {});
        return path;
    }
    std::ofstream out(path);
    out << "LUT_3D_SIZE " << n << "\nLUT_3D_INPUT_RANGE -0.125 1.125\n";
    std::mt19937 rng(n);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int node = 0; node < n * n * n; ++node) out << u(rng) << ' ' << u(rng) << ' ' << u(rng) << '\n';
    return path;
}

ProcessResult runHost(const std::string& arguments) {
    return runProcess("env -u DISPLAY '" + kHostProgram + "' " + arguments + " 2>&1");
}

class HostRender : public ::testing::Test {
protected:
    DesktopSandbox sandbox;
};

TEST_F(HostRender, AnIdentityLutGivesBackEverySampleOfSixteenAndEightBitFiles) {
    const std::string cube = writeCube(sandbox.dir, 2, true);
    for (int depth : {16, 8}) {
        PngSamples in{61, 7, depth, 4, {}};
        for (int i = 0; i < in.width * in.height * 4; ++i) {
            // Words whose two bytes differ (a swapped order shows), and both
            // ends; opaque, as footage is (the effect makes every alpha opaque).
            const unsigned word = i % 4 == 3 || i == 1 ? 65535 : i == 0 ? 0 : (i * 4099u + 0x0102u) % 65536u;
            in.values.push_back(depth == 16 ? word : word >> 8);
        }
        const std::string input = sandbox.dir.file("in.png"), output = sandbox.dir.file("out.png");
        encodeWithPython(input, in);
        const ProcessResult run = runHost("choose-file '" + cube + "' render '" + input + "' '" + output + "'");
        ASSERT_EQ(run.status, 0) << run.out;
        const PngSamples out = decodeWithPython(output);
        EXPECT_EQ(out.depth, depth);
        EXPECT_EQ(out.channels, 4);
        ASSERT_EQ(out.values.size(), in.values.size());
        for (std::size_t i = 0; i < in.values.size(); ++i)
            ASSERT_EQ(out.values[i], in.values[i]) << depth << "-bit sample " << i;
    }
}

TEST_F(HostRender, EveryKindOfFrameIsGradedAsTheCpuApplierGradesItAndTargetsAreReused) {
    std::string error;
    auto host = host::Host::load(kEffectModulePath, &error);
    ASSERT_TRUE(host) << error;
    auto renderer = host::Renderer::create(&error);
    ASSERT_TRUE(renderer) << error;
    host::EffectInstance* instance = host->newInstance();
    host::EffectInstance* withoutLut = host->newInstance();
    const std::string cube = writeCube(sandbox.dir, 17, false);
    ASSERT_TRUE(host::chooseLutFile(*instance, cube, &error)) << error;
    std::string path = cube;
    Lut lut;
    std::vector<char> preset;
    lutFromFile(&path, &lut, &preset);

    struct Case {
        int w, h;
        bool isFloat, sixteen;
    } cases[] = {
        {64, 40, false, false}, {64, 40, true, true}, {64, 40, true, false},
        {4096, 300, true, false},  // three strips
        {2048, 1100, true, true},  // three strips of words
    };
    for (const Case& c : cases) {
        const host::Frame in = patternFrame(c.w, c.h, c.isFloat, c.sixteen);
        host::Frame out, inPlace = in;
        ASSERT_TRUE(renderer->render(*instance, in, &out, &error)) << error;
        ASSERT_TRUE(renderer->renderInPlace(*instance, inPlace, &error)) << error;
        EXPECT_EQ(fileSamples(inPlace), fileSamples(out));
        host::Frame untouched;  // without a LUT
        ASSERT_TRUE(renderer->render(*withoutLut, in, &untouched, &error)) << error;
        EXPECT_EQ(fileSamples(untouched), fileSamples(in));
        EXPECT_EQ(untouched.floats, in.floats);
        std::vector<float> values(in.pixelCount() * 4), cpu(values.size());
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = !c.isFloat ? in.bytes[i] / 255.0f : c.sixteen ? in.words[i] / 65535.0f : in.floats[i];
        applyLutCPUTrilinear(values.data(), cpu.data(), lut.getData(), -0.125f, 1.125f, true, 17,
                             static_cast<int>(in.pixelCount()), 4);
        const std::string label = std::to_string(c.w) + "x" + std::to_string(c.h);
        for (std::size_t i = 0; i < cpu.size(); ++i) {
            const float unit = std::fmin(std::fmax(cpu[i], 0.0f), 1.0f);  // what a file of integers holds
            if (!c.isFloat)
                ASSERT_LE(std::abs(out.bytes[i] - int(std::lround(unit * 255.0f))), 1) << label << " " << i;
            else if (c.sixteen)
                ASSERT_LE(std::abs(int(out.words[i]) - int(std::lround(unit * 65535.0f))), 1) << label << " " << i;
            else
                ASSERT_NEAR(out.floats[i], cpu[i], 1e-5) << label << " " << i;
        }
    }
    // Frames of one size and kind reuse the textures and framebuffer.
    const int made = renderer->targetsMade();
    host::Frame frame = patternFrame(64, 40, false, false);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(renderer->renderInPlace(*instance, frame, &error)) << error;
    EXPECT_EQ(renderer->targetsMade(), made + 1);
}

// The identity of the input range -0.25..1.25, given as DOMAIN_MIN and
// DOMAIN_MAX: every sample of a ramp comes back as it went in (a render that
// added the range's lower bound instead of subtracting it took codes below 64
// to 0). A file the effect refuses makes choose-file say why.
TEST_F(HostRender, AnIdentityOverAWiderDomainGivesTheFrameBackAndRefusedFilesSayWhy) {
    const std::string cube = sandbox.dir.file("wide.cube");
    writeLutFile(cube, 17, [](float rgb[3]) {
        for (int c = 0; c < 3; ++c) rgb[c] = -0.25f + 1.5f * rgb[c];
    });
    std::string nodes;
    {
        std::ifstream in(cube);
        nodes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::ofstream(cube) << "DOMAIN_MIN -0.25 -0.25 -0.25\nDOMAIN_MAX 1.25 1.25 1.25\n" << nodes;
    for (int depth : {8, 16}) {
        const unsigned top = depth == 16 ? 65535 : 255;
        PngSamples in{256, 2, depth, 4, {}};
        for (unsigned i = 0; i < 512; ++i) {
            const unsigned v = (i % 256) * top / 255;
            in.values.insert(in.values.end(), {v, top - v, (v * 7 + 3) % (top + 1), top});
        }
        const std::string input = sandbox.dir.file("ramp.png"), output = sandbox.dir.file("out.png");
        encodeWithPython(input, in);
        const ProcessResult run = runHost("choose-file '" + cube + "' render '" + input + "' '" + output + "'");
        ASSERT_EQ(run.status, 0) << run.out;
        const PngSamples out = decodeWithPython(output);
        ASSERT_EQ(out.values.size(), in.values.size());
        for (std::size_t i = 0; i < in.values.size(); ++i)
            ASSERT_EQ(out.values[i], in.values[i]) << depth << "-bit sample " << i;
    }

    const std::string shortCube = sandbox.dir.file("short.cube");
    std::size_t cut = 0;  // after the size line and 16 data lines
    for (int line = 0; line < 17; ++line) cut = nodes.find('\n', cut) + 1;
    std::ofstream(shortCube) << nodes.substr(0, cut);
    const std::string perChannel = sandbox.dir.file("per-channel.cube");
    std::ofstream(perChannel) << "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 0.5 1\n" << nodes;
    struct Case {
        std::string file, says;
    } cases[] = {
        {sandbox.dir.file("gone.cube"), "gone.cube: no such file"},
        {shortCube, "short.cube: it holds 16 of the 4,913 data lines its size of 17 nodes per axis needs"},
        {perChannel, "per-channel.cube: its DOMAIN_MIN or DOMAIN_MAX differs between the red, green and blue"},
    };
    for (const Case& c : cases) {
        const ProcessResult run = runHost("choose-file '" + c.file + "'");
        EXPECT_NE(run.status, 0) << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
    }
}

class HostDesktopProgram : public ExchangeTest {};

TEST_F(HostDesktopProgram, GetsTheCurrentFrameBottomRowFirst) {
    const std::string frame = sandbox.dir.file("frame.png");
    // 3 x 2: the bottom-left pixel is (10, 20, 30) with alpha 40.
    PngSamples pixels{3, 2, 8, 4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120}};
    encodeWithPython(frame, pixels);
    // (Whether the program answers is the exchange's business, tested with it;
    // a stand-in of another test run on this machine may keep ours from starting.)
    const ProcessResult run = runHost("frame '" + frame + "' press 2");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(image.data->width, 3u);
    EXPECT_EQ(image.data->height, 2u);
    const float expected[8] = {10 / 255.0f, 20 / 255.0f, 30 / 255.0f, 1.0f, 50 / 255.0f, 60 / 255.0f, 70 / 255.0f, 1.0f};
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(image.data->pixels[i], expected[i], 1e-6) << i;
    EXPECT_NEAR(image.data->pixels[8 + 4], 1 / 255.0f, 1e-6);  // then the top row

    // The frame of the last render is current as well.
    const ProcessResult rendered = runHost("render '" + frame + "' '" + sandbox.dir.file("out.png") + "' press 2");
    ASSERT_EQ(rendered.status, 0) << rendered.out;

    // Without a frame, or without the program, the press fails and says why.
    struct Case {
        std::string arguments;
        const char* reason;
    } cases[] = {
        {"press 2", "press 2: the action needs the current frame, but the host has no frame"},
        {"frame '" + sandbox.dir.file("gone.png") + "'", "gone.png"},
    };
    for (const Case& c : cases) {
        const ProcessResult failed = runHost(c.arguments);
        EXPECT_NE(failed.status, 0) << c.arguments;
        EXPECT_NE(failed.out.find(c.reason), std::string::npos) << failed.out;
    }
    fs::remove(sandbox.settingsFile());
    const ProcessResult unstarted = runHost("frame '" + frame + "' press 2");
    EXPECT_NE(unstarted.status, 0) << unstarted.out;
    EXPECT_NE(unstarted.out.find("press 2: the desktop program was not started"), std::string::npos) << unstarted.out;
}

}  // namespace
