// The whole render: the host loads the effect module, frames go in and out as
// textures of a headless OpenGL context, and the effect grades them through
// its filter. Also a project reopened by a new host process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "../effect/EffectTestEnv.h"
#include "host/Host.h"
#include "host/HostRender.h"
#include "lut/LutFile.h"
#include "lut/MathClass.h"

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
    if (isFloat) {
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        f.floats.resize(static_cast<std::size_t>(w) * h * 4);
        for (float& v : f.floats) v = u(rng);
        f.floats[0] = f.floats[1] = f.floats[2] = 0.0f;
        f.floats[4] = f.floats[5] = f.floats[6] = 1.0f;
    } else {
        f.bytes.resize(static_cast<std::size_t>(w) * h * 4);
        for (auto& v : f.bytes) v = static_cast<unsigned char>(rng());
    }
    return f;
}

struct GpuRender : ::testing::Test {
    void SetUp() override {
        std::string error;
        host_ = host::Host::load(kEffectModulePath, &error);
        ASSERT_TRUE(host_) << error;
        renderer_ = host::Renderer::create(&error);
        ASSERT_TRUE(renderer_) << error;
    }
    std::unique_ptr<host::Host> host_;
    std::unique_ptr<host::Renderer> renderer_;
};

TEST_F(GpuRender, WithoutALutFramesPassUnchangedAndWithOneTheyAreGraded) {
    host::EffectInstance* instance = host_->newInstance();
    ASSERT_TRUE(instance);
    for (bool isFloat : {false, true}) {
        host::Frame in = makeFrame(isFloat, 61, 17), out;
        std::string error;
        ASSERT_TRUE(renderer_->render(*instance, in, &out, &error)) << error;
        EXPECT_EQ(out.bytes, in.bytes);
        EXPECT_EQ(out.floats, in.floats);
    }

    TempDir dir;
    const std::string cube = writeCube(dir, 17, -0.125f, 1.125f);
    host::EffectInstance* graded = host_->newInstance();
    std::string error;
    ASSERT_TRUE(host::chooseLutFile(*graded, cube, &error)) << error;
    std::string path = cube;
    Lut lut;
    std::vector<char> preset;
    lutFromFile(&path, &lut, &preset);
    ASSERT_TRUE(lut.isLoaded());
    for (bool isFloat : {false, true}) {
        host::Frame in = makeFrame(isFloat, 64, 32), out;
        ASSERT_TRUE(renderer_->render(*graded, in, &out, &error)) << error;
        std::vector<float> cpu(static_cast<std::size_t>(in.width) * in.height * 4);
        if (isFloat) {
            applyLutCPUTrilinear(in.floats.data(), cpu.data(), lut.getData(), lut.getInputRange0(),
                                 lut.getInputRange1(), true, 17, in.width * in.height, 4);
            for (std::size_t i = 0; i < cpu.size(); ++i) ASSERT_NEAR(out.floats[i], cpu[i], 1e-5) << i;
        } else {
            applyLutCPUTrilinear(in.bytes.data(), cpu.data(), lut.getData(), lut.getInputRange0(),
                                 lut.getInputRange1(), true, 17, in.width * in.height, 4);
            for (std::size_t i = 0; i < cpu.size(); ++i)
                ASSERT_LE(std::abs(out.bytes[i] - std::lround(std::fmin(std::fmax(cpu[i], 0.f), 1.f) * 255)), 1) << i;
        }
    }
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
    ASSERT_TRUE(host::chooseLutFile(*instance, writeCube(dir, 2, 0.0f, 1.0f), &error)) << error;
    host::Frame in = makeFrame(false, 8, 8), out;
    EXPECT_FALSE(renderer->render(*instance, in, &out, &error));
    EXPECT_EQ(out.bytes, in.bytes);  // the host shows the input
    // A broken text fails as well.
    std::ofstream(bundle / "Resources" / "QuillaneFilter.cikernel") << "kernel vec4 k(sampler a) { return b; }";
    EXPECT_FALSE(renderer->render(*instance, in, &out, &error));
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
        std::ifstream fa(first, std::ios::binary), fb(second, std::ios::binary);
        std::string da((std::istreambuf_iterator<char>(fa)), {}), db((std::istreambuf_iterator<char>(fb)), {});
        EXPECT_FALSE(da.empty());
        EXPECT_EQ(da, db) << (isFloat ? "16-bit" : "8-bit");
        host::Frame graded;
        ASSERT_TRUE(host::readPngFrame(first, &graded, &error)) << error;
        EXPECT_EQ(graded.isFloat, isFloat);
        if (isFloat) {
            EXPECT_NE(graded.floats, in.floats);
        } else {
            EXPECT_NE(graded.bytes, in.bytes);
        }
    }
}

}  // namespace
