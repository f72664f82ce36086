// Frames per second through the whole effect: the host's textures in a
// headless OpenGL context, renderOutput grading through the filter into the
// output texture, glFinish. Beside it, the CPU applier on the same frames,
// and the filter's draw alone with the image layer's fast reads and with
// its plain reads (the code every draw ran before), for their ratio.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

#include "BenchSupport.h"
#include "lut/LutFile.h"
#include "lut/MathClass.h"
#include "platform/cgl/CGL.h"
#include "plugin/QuillaneFilter.h"

namespace {

struct Setup {
    quillane::test::TempDir dir;
    std::unique_ptr<HeadlessGLContext> context;
    bench::EffectWithLut effect{dir};
    host::EffectInstance* instance = effect.instance;
    Lut lut;

    Setup() {
        std::string error;
        context = HeadlessGLContext::create(&error);
        if (!context) {
            std::fprintf(stderr, "gpu bench: %s\n", error.c_str());
            std::exit(1);
        }
        std::string path = effect.cubePath;
        std::vector<char> preset;
        lutFromFile(&path, &lut, &preset);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

// A frame of varied colours, so that neighbouring pixels read different
// nodes as real footage does (a flat frame would only ever hit one cell).
std::vector<float> framePixels(int w, int h) {
    std::vector<float> px(static_cast<std::size_t>(w) * h * 4);
    std::mt19937 rng(static_cast<unsigned>(w * 7 + h));
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (float& v : px) v = u(rng);
    return px;
}

void BM_EffectRender(benchmark::State& state) {
    Setup& s = setup();
    s.context->makeCurrent();
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const bool isFloat = state.range(2) != 0;
    const GLenum internal = isFloat ? GL_RGBA32F : GL_RGBA8, type = isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE;
    const std::vector<float> px = framePixels(w, h);
    const bench::DrawTargets targets(w, h, internal, GL_FLOAT, px.data(), type);
    const unsigned depth = isFloat ? kFxDepth_FLOAT32 : kFxDepth_UINT8;
    FxTexture in(targets.input.get(), GL_TEXTURE_2D, w, h, depth), out(targets.output.get(), GL_TEXTURE_2D, w, h, depth);
    FxRenderInfo info;
    info.depth = depth;
    // The driver builds its code for each new combination of texture and
    // target formats on first use: that is set-up, not a frame.
    s.instance->callback([&](FxFilter& effect) { return effect.renderOutput(out, in, info); });
    glFinish();
    for (auto _ : state) {
        bool ok = s.instance->callback([&](FxFilter& effect) { return effect.renderOutput(out, in, info); });
        glFinish();
        if (!ok) state.SkipWithError("render failed");
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// One graded frame as the effect draws it, without the host around it: the
// filter's output drawn by an image context whose reads are fast or plain.
void BM_FilterDraw(benchmark::State& state) {
    Setup& s = setup();
    s.context->makeCurrent();
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const bool isFloat = state.range(2) != 0;
    CIContextOptions options;
    options.plainSamplerReads = state.range(3) != 0;
    const std::string module = QUILLANE_EFFECT_MODULE_PATH;
    QuillaneFilter::setResourceLocator([module](const std::string& name, const std::string& type) {
        return module.substr(0, module.rfind('/')) + "/Resources/" + name + "." + type;
    });
    auto context = CIContext::contextWithCGLContext(CGLGetCurrentContext(), nullptr,
                                                    CGColorSpaceCreateWithName(kCGColorSpaceITUR_709), &options);
    CIImagePtr lutImage = makeLutImage(s.lut);
    const GLenum internal = isFloat ? GL_RGBA32F : GL_RGBA8, type = isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE;
    const std::vector<float> px = framePixels(w, h);
    const bench::DrawTargets targets(w, h, internal, GL_FLOAT, px.data(), type);
    auto draw = [&] {
        QuillaneFilter filter;
        filter.setValue(CIImage::imageWithTexture(targets.input.get(), CGSizeMake(w, h), false, nullptr), "inputImage");
        filter.setValue(lutImage, "inputLUT");
        filter.setValue(static_cast<long long>(s.lut.getDimSize()), "dimSize");
        filter.setValue(0.0, "inputRange0");
        filter.setValue(1.0, "inputRange1");
        const bool ok = context && context->drawImage(filter.outputImage(), CGRectMake(0, 0, w, h), CGRectMake(0, 0, w, h));
        glFinish();
        return ok;
    };
    if (!draw()) state.SkipWithError("draw failed");  // compiles, uploads the LUT
    for (auto _ : state)
        if (!draw()) state.SkipWithError("draw failed");
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_CpuApplier(benchmark::State& state) {
    Setup& s = setup();
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const bool isFloat = state.range(2) != 0;
    const std::size_t n = static_cast<std::size_t>(w) * h * 4;
    const std::vector<float> src = framePixels(w, h);
    std::vector<float> dst(n);
    std::vector<unsigned char> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(src[i] * 255.0f + 0.5f);
    for (auto _ : state) {
        if (isFloat)
            applyLutCPUTrilinear(src.data(), dst.data(), s.lut.getData(), 0.0f, 1.0f, false, 33, w * h, 4);
        else
            applyLutCPUTrilinear(bytes.data(), dst.data(), s.lut.getData(), 0.0f, 1.0f, false, 33, w * h, 4);
        benchmark::DoNotOptimize(dst.data());
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void frameSizes(benchmark::internal::Benchmark* b) {
    for (int isFloat : {0, 1}) {
        b->Args({512, 288, isFloat});
        b->Args({1920, 1080, isFloat});
        b->Args({3840, 2160, isFloat});
    }
    b->ArgNames({"w", "h", "float"})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_EffectRender)->Apply(frameSizes);
// The fixed cost of a frame: no shader compile, LUT upload or context creation after the first.
BENCHMARK(BM_EffectRender)->Args({4, 4, 0})->ArgNames({"w", "h", "float"})->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CpuApplier)->Apply(frameSizes);
// Fast and plain reads take turns per frame kind, so that both see the same machine load.
BENCHMARK(BM_FilterDraw)
    ->ArgsProduct({{1920}, {1080}, {0, 1}, {0, 1}})
    ->ArgNames({"w", "h", "float", "plain"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
