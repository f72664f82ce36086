// LUT reading and CPU grading, one thread, against the plain line-by-line
// versions. Counters: MB/s for reading, Mpixel/s for grading, ms per run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "TempDir.h"
#include "lut/Lut.h"
#include "lut/LutFile.h"
#include "lut/MathClass.h"
#include "lut/reference/PlainLut.h"

namespace {

// A smooth look with six decimals, as LUT tools write them.
std::string cubeText(int n) {
    std::string t = "TITLE \"bench\"\nLUT_3D_SIZE " + std::to_string(n) + "\n";
    char line[96];
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                const double x = double(r) / (n - 1), y = double(g) / (n - 1), z = double(b) / (n - 1);
                std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", std::pow(x, 0.9) * 0.95 + 0.02,
                              0.1 * x + 0.85 * y + 0.05 * z, std::sqrt(z) * 0.9);
                t += line;
            }
    return t;
}

struct Files {
    quillane::test::TempDir dir;
    std::string cube65, cube33;
    std::size_t bytes65 = 0;
    Files() {
        cube65 = dir.file("bench65.cube");
        cube33 = dir.file("bench33.cube");
        const std::string t65 = cubeText(65);
        bytes65 = t65.size();
        std::ofstream(cube65, std::ios::binary) << t65;
        std::ofstream(cube33, std::ios::binary) << cubeText(33);
    }
};
Files& files() {
    static Files f;
    return f;
}

// Milliseconds per run, from the wall time the timed loop took.
struct MsTimer {
    benchmark::State& state;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    explicit MsTimer(benchmark::State& s) : state(s) {}
    ~MsTimer() {
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (state.iterations() > 0) state.counters["ms"] = ms / double(state.iterations());
    }
};

template <bool Plain>
void CubeRead65(benchmark::State& state) {
    const std::string path = files().cube65;
    MsTimer timer(state);
    for (auto _ : state) {
        std::string preset;
        Lut lut = Plain ? quillane::plain::loadCube(path, preset, false) : Lut().loadFromFileCUBE(path, preset, false);
        if (lut.getDimSize() != 65) state.SkipWithError("not read");
        benchmark::DoNotOptimize(lut.getData());
    }
    state.counters["MB/s"] = benchmark::Counter(files().bytes65 * double(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

Lut& lut33() {
    static Lut lut = [] {
        std::string preset;
        return Lut().loadFromFileCUBE(files().cube33, preset, false);
    }();
    return lut;
}

// A frame as a camera gives it (smooth gradients with grain), or uniform
// noise, the worst case for the caches since every pixel jumps in the LUT.
template <typename Src>
std::vector<Src> frame(int w, int h, bool noise) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(0.0f, 1.0f), grain(-0.02f, 0.02f);
    std::vector<Src> px(std::size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float v[4] = {float(x) / w, float(y) / h, 0.5f + 0.4f * std::sin(x * 0.01f + y * 0.02f), 1.0f};
            for (int c = 0; c < 4; ++c) {
                float s = noise ? u(rng) : std::min(1.0f, std::max(0.0f, v[c] + grain(rng)));
                if constexpr (std::is_same_v<Src, float>)
                    px[(std::size_t(y) * w + x) * 4 + c] = s;
                else
                    px[(std::size_t(y) * w + x) * 4 + c] = static_cast<unsigned char>(s * 255.0f + 0.5f);
            }
        }
    return px;
}

template <typename Src, bool Plain>
void Apply33(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1)), pixels = w * h;
    const std::vector<Src> src = frame<Src>(w, h, state.range(2) != 0);
    std::vector<float> dst(src.size());
    const Lut& lut = lut33();
    MsTimer timer(state);
    for (auto _ : state) {
        if (Plain)
            quillane::plain::applyLut(src.data(), dst.data(), lut.getData(), 0.0f, 1.0f, false, 33, pixels, 4);
        else
            applyLutCPUTrilinear(src.data(), dst.data(), lut.getData(), 0.0f, 1.0f, false, 33, pixels, 4);
        benchmark::ClobberMemory();
    }
    state.counters["Mpixel/s"] = benchmark::Counter(pixels * double(state.iterations()) / 1e6,
                                                    benchmark::Counter::kIsRate);
}

// One LUT Manager thumbnail: read a 33-node .cube, grade a 512x288 8-bit RGBA preview.
template <bool Plain>
void Thumbnail(benchmark::State& state) {
    const int pixels = 512 * 288;
    std::vector<unsigned char> src(std::size_t(pixels) * 4);
    std::mt19937 rng(3);
    for (auto& v : src) v = static_cast<unsigned char>(rng());
    std::vector<float> dst(src.size());
    const std::string path = files().cube33;
    MsTimer timer(state);
    for (auto _ : state) {
        std::string preset;
        Lut lut = Plain ? quillane::plain::loadCube(path, preset, false) : Lut().loadFromFileCUBE(path, preset, false);
        const auto n = static_cast<unsigned char>(lut.getDimSize());
        if (Plain)
            quillane::plain::applyLut(src.data(), dst.data(), lut.getData(), 0, 1, false, n, pixels, 4);
        else
            applyLutCPUTrilinear(src.data(), dst.data(), lut.getData(), 0, 1, false, n, pixels, 4);
        benchmark::ClobberMemory();
    }
}

void frames(benchmark::internal::Benchmark* b) {
    b->ArgNames({"w", "h", "noise"});
    for (int noise : {0, 1}) b->Args({1920, 1080, noise})->Args({512, 288, noise});
}

}  // namespace

BENCHMARK_TEMPLATE(CubeRead65, true)->Name("CubeRead65/plain")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(CubeRead65, false)->Name("CubeRead65/quillane")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Apply33, float, true)->Name("ApplyFloat/plain")->Apply(frames)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Apply33, float, false)->Name("ApplyFloat/quillane")->Apply(frames)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Apply33, unsigned char, true)->Name("Apply8bit/plain")->Apply(frames)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Apply33, unsigned char, false)->Name("Apply8bit/quillane")->Apply(frames)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Thumbnail, true)->Name("Thumbnail/plain")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Thumbnail, false)->Name("Thumbnail/quillane")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
