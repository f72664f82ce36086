// The whole render through the effect module the host loads (graded frames
// against the CPU applier are the host's render tests): a kernel text that is
// missing or broken (in the host and its command line), and a project
// reopened by a new host process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "../effect/EffectTestEnv.h"
#include "host/Host.h"
#include "host/HostRender.h"

using namespace quillane::test;
namespace fs = std::filesystem;

namespace {

// A .cube file of random nodes with an input range.
std::string writeCube(const TempDir& dir, int n, float lo, float hi) {
    const std::string path = dir.file("look-" + std::to_string(n) + ".cube");
    std::ofstream out(path);
    out << "TITLE \"test\"\nLUT_3D_SIZE " << n << "\nLUT_3D_INPUT_RANGE " << lo << ' ' << hi << '\n';
    std::mt19937 rng(n);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < n * n * n; ++i) out << u(rng) << ' ' << u(rng) << ' ' << u(rng) << '\n';
    return path;
}

host::Frame makeFrame(bool isFloat, int w, int h) {
    host::Frame f;
    f.width = w, f.height = h, f.isFloat = isFloat;
    std::mt19937 rng(w * 31 + h);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < w * h * 4; ++i) {
        const float v = i < 4 ? 0.0f : i < 8 ? 1.0f : u(rng);  // black and white first
        if (isFloat)
            f.floats.push_back(v);
        else
            f.bytes.push_back(static_cast<unsigned char>(v * 255.0f));
    }
    return f;
}

TEST(GpuRenderBundle, MissingKernelFailsTheFrameAndTheNextFrameTriesAgain) {
    // A copy of the bundle without its kernel text.
    TempDir dir;
    const fs::path bundle = dir.path() / "Quillane.bundle";
    fs::create_directories(bundle / "Resources");
    fs::copy_file(kEffectModulePath, bundle / "quillane_effect.so");
    fs::copy_file(fs::path(kBundlePath) / "Resources" / "Localizable.json", bundle / "Resources" / "Localizable.json");
    std::string error;
    auto host = host::Host::load((bundle / "quillane_effect.so").string(), &error);
    ASSERT_TRUE(host) << error;
    auto renderer = host::Renderer::create(&error);
    ASSERT_TRUE(renderer) << error;
    host::EffectInstance* instance = host->newInstance();
    const std::string cube = writeCube(dir, 2, 0.0f, 1.0f);
    ASSERT_TRUE(host::chooseLutFile(*instance, cube, &error)) << error;
    host::Frame in = makeFrame(false, 8, 8), out;
    EXPECT_FALSE(renderer->render(*instance, in, &out, &error));
    EXPECT_EQ(out.bytes, in.bytes);  // the host shows the input
    // The host program writes no file, says why and fails.
    const std::string frame = dir.file("in.png"), output = dir.file("out.png");
    ASSERT_TRUE(host::writePngFrame(frame, in, &error)) << error;
    const ProcessResult run = runProcess("env -u DISPLAY '" + kHostProgram + "' --effect '" +
                                         (bundle / "quillane_effect.so").string() + "' choose-file '" + cube +
                                         "' render '" + frame + "' '" + output + "' state 2>&1");
    EXPECT_NE(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("the effect did not render the frame; " + output + " not written"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("dimSize"), std::string::npos) << "the command line went on: " << run.out;
    EXPECT_FALSE(fs::exists(output));
    // Broken texts fail as well: none, no kernel, a parameter type the language lacks, one that does not compile.
    for (const char* broken : {"", "not a kernel at all", "kernel vec4 k(sampler a, mat3 m) { return vec4(0.0); }",
                               "kernel vec4 k(sampler a) { return b; }"}) {
        std::ofstream(bundle / "Resources" / "QuillaneFilter.cikernel") << broken;
        EXPECT_FALSE(renderer->render(*instance, in, &out, &error)) << broken;
    }
    // Repaired, the next frame renders.
    fs::copy_file(fs::path(kBundlePath) / "Resources" / "QuillaneFilter.cikernel",
                  bundle / "Resources" / "QuillaneFilter.cikernel", fs::copy_options::overwrite_existing);
    EXPECT_TRUE(renderer->render(*instance, in, &out, &error)) << error;
    EXPECT_NE(out.bytes, in.bytes);
}

TEST(GpuRenderProcess, AReopenedProjectRendersByteIdenticalOutput) {
    TempDir dir;
    const std::string cube = writeCube(dir, 33, 0.0f, 0.5f);
    for (bool isFloat : {false, true}) {
        host::Frame in = makeFrame(isFloat, 96, 54);
        if (isFloat) {  // 16-bit file values
            for (float& v : in.floats) v = std::round(v * 65535.0f) / 65535.0f;
        }
        std::string error;
        const std::string frame = dir.file(isFloat ? "frame16.png" : "frame8.png");
        ASSERT_TRUE(host::writePngFrame(frame, in, &error)) << error;
        const std::string first = dir.file("first.png"), second = dir.file("second.png");
        const std::string project = dir.file("project.json");
        const std::string prefix = "env -u DISPLAY '" + kHostProgram + "' ";
        ProcessResult a = runProcess(prefix + "choose-file '" + cube + "' render '" + frame + "' '" + first + "' save '" +
                                     project + "' 2>&1");
        ASSERT_EQ(a.status, 0) << a.out;
        ProcessResult b = runProcess(prefix + "open '" + project + "' render '" + frame + "' '" + second + "' 2>&1");
        ASSERT_EQ(b.status, 0) << b.out;
        EXPECT_EQ(readFile(first), readFile(second)) << (isFloat ? "16-bit" : "8-bit");
        host::Frame graded;
        ASSERT_TRUE(host::readPngFrame(first, &graded, &error)) << error;
        EXPECT_EQ(graded.isFloat, isFloat);
        EXPECT_EQ(graded.sixteen, isFloat);  // 16-bit files come back as 16-bit words
        bool changed = false;  // graded, not passed through
        for (std::size_t i = 0; i < in.pixelCount() * 4; ++i) {
            const float before = isFloat ? in.floats[i] : in.bytes[i] / 255.0f;
            const float after = isFloat ? graded.words[i] / 65535.0f : graded.bytes[i] / 255.0f;
            changed = changed || std::abs(before - after) > 1e-3f;
        }
        EXPECT_TRUE(changed);
    }
}

}  // namespace
