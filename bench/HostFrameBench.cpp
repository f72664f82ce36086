// The host's frame path against the one it replaced, measured in the same run
// and interleaved frame by frame, so that the load of a shared machine falls
// on both alike. Counters:
// Every figure is the median of its iterations.
//   BM_PngReadWrite:   ms of reading plus writing a 1080p PNG frame (old:
//                      lodepng's defaults; new: the host's settings, and the
//                      other candidate settings), and their ratio to the
//                      host's render of the same frame.
//   BM_RenderAroundDraw: ms of the host's whole render (upload, draw,
//                      read-back) against the effect's draw alone; the
//                      "outside" counters are (render - draw) / draw. Kinds:
//                      0 8-bit, 1 floats, 2 16-bit words (16-bit files); the
//                      old path always took floats for 16-bit files.
//   BM_PeakMemory:     MB of peak resident memory above the size before, for
//                      one render of a 1080p frame, old and new (each in a
//                      child process of its own).
#include <benchmark/benchmark.h>
#include <lodepng.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "BenchSupport.h"
#include "host/FrameFile.h"
#include "host/Host.h"
#include "host/HostRender.h"
#include "platform/cgl/CGL.h"
#include "platform/cgl/GLObjects.h"

namespace {

namespace gl = quillane::gl;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Medians, not means: on a shared machine a frame now and then waits for a
// core, and one such frame would move a mean.
double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// ---------------------------------------------------------------------------
// The old path, kept as it was as the baseline.

namespace old {

template <class T>
std::vector<T> flipRows(const std::vector<T>& rows, int width, int height) {
    std::vector<T> out(rows.size());
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y)
        std::memcpy(&out[static_cast<std::size_t>(height - 1 - y) * row], &rows[static_cast<std::size_t>(y) * row],
                    row * sizeof(T));
    return out;
}

struct Frame {
    int width = 0, height = 0;
    bool isFloat = false;
    std::vector<unsigned char> bytes;
    std::vector<float> floats;
};

bool readPngFrame(const std::string& path, Frame* frame) {
    std::vector<unsigned char> file;
    if (lodepng::load_file(file, path)) return false;
    unsigned w = 0, h = 0;
    lodepng::State state;
    if (lodepng_inspect(&w, &h, &state, file.data(), file.size())) return false;
    const bool sixteen = state.info_png.color.bitdepth == 16;
    std::vector<unsigned char> pixels;
    if (lodepng::decode(pixels, w, h, file, LCT_RGBA, sixteen ? 16 : 8)) return false;
    Frame f;
    f.width = static_cast<int>(w), f.height = static_cast<int>(h), f.isFloat = sixteen;
    if (sixteen) {
        f.floats.resize(pixels.size() / 2);
        for (std::size_t i = 0; i < f.floats.size(); ++i)
            f.floats[i] = static_cast<float>((pixels[2 * i] << 8) | pixels[2 * i + 1]) / 65535.0f;
    } else {
        f.bytes = std::move(pixels);
    }
    *frame = std::move(f);
    return true;
}

bool writePngFrame(const std::string& path, const Frame& frame) {
    if (frame.isFloat) {
        std::vector<unsigned char> pixels(frame.floats.size() * 2);
        for (std::size_t i = 0; i < frame.floats.size(); ++i) {
            const float v = std::fmin(std::fmax(frame.floats[i], 0.0f), 1.0f);
            const unsigned q = static_cast<unsigned>(std::lround(v * 65535.0f));
            pixels[2 * i] = static_cast<unsigned char>(q >> 8);
            pixels[2 * i + 1] = static_cast<unsigned char>(q & 0xff);
        }
        return lodepng::encode(path, pixels, frame.width, frame.height, LCT_RGBA, 16) == 0;
    }
    return lodepng::encode(path, frame.bytes, frame.width, frame.height, LCT_RGBA, 8) == 0;
}

// Every frame: new textures and framebuffer, a flipped copy up, a cleared
// target, the input copied into the output, a flipped copy down.
bool render(host::EffectInstance& instance, const Frame& in, Frame* out) {
    const GLenum internal = in.isFloat ? GL_RGBA32F : GL_RGBA8;
    const GLenum type = in.isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE;
    const unsigned depth = in.isFloat ? kFxDepth_FLOAT32 : kFxDepth_UINT8;
    gl::Texture input = gl::makeTexture();
    glBindTexture(GL_TEXTURE_2D, input.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (in.isFloat) {
        auto rows = flipRows(in.floats, in.width, in.height);
        glTexImage2D(GL_TEXTURE_2D, 0, internal, in.width, in.height, 0, GL_RGBA, type, rows.data());
    } else {
        auto rows = flipRows(in.bytes, in.width, in.height);
        glTexImage2D(GL_TEXTURE_2D, 0, internal, in.width, in.height, 0, GL_RGBA, type, rows.data());
    }
    gl::Texture output = gl::makeTexture();
    glBindTexture(GL_TEXTURE_2D, output.get());
    glTexImage2D(GL_TEXTURE_2D, 0, internal, in.width, in.height, 0, GL_RGBA, type, nullptr);
    gl::Framebuffer target = gl::makeFramebuffer();
    glBindFramebuffer(GL_FRAMEBUFFER, target.get());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, output.get(), 0);
    glViewport(0, 0, in.width, in.height);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    FxTexture inputImage(input.get(), GL_TEXTURE_2D, in.width, in.height, depth);
    FxTexture outputImage(output.get(), GL_TEXTURE_2D, in.width, in.height, depth);
    FxRenderInfo info;
    info.depth = depth;
    const bool rendered = host::renderThroughEffect(instance, outputImage, inputImage, info);
    glBindFramebuffer(GL_FRAMEBUFFER, target.get());
    *out = in;
    if (!rendered) return false;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (in.isFloat) {
        std::vector<float> rows(in.floats.size());
        glReadPixels(0, 0, in.width, in.height, GL_RGBA, GL_FLOAT, rows.data());
        out->floats = flipRows(rows, in.width, in.height);
    } else {
        std::vector<unsigned char> rows(in.bytes.size());
        glReadPixels(0, 0, in.width, in.height, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
        out->bytes = flipRows(rows, in.width, in.height);
    }
    return true;
}

}  // namespace old

// ---------------------------------------------------------------------------

constexpr int kWidth = 1920, kHeight = 1080;

// Footage-like content: smooth gradients with a little grain, so that the
// compressors see what they see in real frames (noise alone would defeat
// every filter, a flat frame would flatter every one).
host::Frame footage(bool isFloat, bool sixteen = false) {
    host::Frame f;
    f.width = kWidth, f.height = kHeight, f.isFloat = isFloat, f.sixteen = sixteen;
    std::mt19937 rng(7);
    std::normal_distribution<float> grain(0.0f, 0.01f);
    f.allocate();
    std::size_t i = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 4; ++c, ++i) {
                float v = c == 3 ? 1.0f
                                 : 0.5f + 0.3f * std::sin(x * 0.004f * (c + 1) + y * 0.003f) +
                                       0.15f * std::cos(y * 0.01f * (c + 2)) + grain(rng);
                v = std::fmin(std::fmax(v, 0.0f), 1.0f);
                if (sixteen)
                    f.words[i] = static_cast<std::uint16_t>(std::lround(v * 65535.0f));
                else if (isFloat)
                    f.floats[i] = std::round(v * 65535.0f) / 65535.0f;
                else
                    f.bytes[i] = static_cast<unsigned char>(std::lround(v * 255.0f));
            }
    return f;
}

old::Frame toOld(const host::Frame& f) {
    old::Frame o;
    o.width = f.width, o.height = f.height, o.isFloat = f.isFloat;
    o.bytes.assign(f.bytes.begin(), f.bytes.end());
    o.floats.assign(f.floats.begin(), f.floats.end());
    for (std::uint16_t w : f.words) o.floats.push_back(w / 65535.0f);
    return o;
}

struct Setup {
    quillane::test::TempDir dir;
    std::unique_ptr<host::Renderer> renderer;
    bench::EffectWithLut effect{dir};
    host::EffectInstance* instance = effect.instance;

    Setup() {
        std::string error;
        renderer = host::Renderer::create(&error);
        if (!renderer) {
            std::fprintf(stderr, "host frame bench: %s\n", error.c_str());
            std::exit(1);
        }
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

double renderMs(host::Renderer& renderer, host::EffectInstance& instance, host::Frame& frame) {
    const auto start = Clock::now();
    std::string error;
    if (!renderer.renderInPlace(instance, frame, &error)) std::exit(1);
    return msSince(start);
}

// Read plus write of one frame, per candidate, beside the host's render.
void BM_PngReadWrite(benchmark::State& state) {
    Setup& s = setup();
    const bool isFloat = state.range(0) == 16;
    const int candidate = static_cast<int>(state.range(1));
    host::Frame frame = footage(isFloat);
    const std::string path = s.dir.file("frame.png"), oldPath = s.dir.file("old.png");
    host::PngWriteSettings settings;  // candidate 0: the host's own settings
    if (candidate == 1) settings = {1, Z_RLE, 0x10 /* sub */};
    if (candidate == 2) settings = {1, Z_HUFFMAN_ONLY, 0x10 /* sub */};
    if (candidate == 3) settings = {1, Z_DEFAULT_STRATEGY, 0x10};
    if (candidate == 4) settings = {1, Z_RLE, 0x20 /* up */};
    std::string error;
    if (!host::writePngFrame(path, frame, &error, settings) || !old::writePngFrame(oldPath, toOld(frame))) std::exit(1);
    host::Frame scratch = frame;
    renderMs(*s.renderer, *s.instance, scratch);  // first use builds the driver's code

    std::vector<double> newMs, oldMs, render;
    for (auto _ : state) {
        auto start = Clock::now();
        host::Frame read;
        if (!host::readPngFrame(path, &read, &error) || !host::writePngFrame(path, read, &error, settings))
            state.SkipWithError(error.c_str());
        const double t = msSince(start);
        newMs.push_back(t);
        state.SetIterationTime(t / 1000.0);
        render.push_back(renderMs(*s.renderer, *s.instance, read));
        start = Clock::now();
        old::Frame o;
        if (!old::readPngFrame(oldPath, &o) || !old::writePngFrame(oldPath, o)) state.SkipWithError("old path");
        oldMs.push_back(msSince(start));
    }
    std::ifstream written(path, std::ios::binary | std::ios::ate);
    state.counters["new_ms"] = median(newMs);
    state.counters["old_ms"] = median(oldMs);
    state.counters["render_ms"] = median(render);
    state.counters["new_per_render"] = median(newMs) / median(render);
    state.counters["old_per_render"] = median(oldMs) / median(render);
    state.counters["speedup"] = median(oldMs) / median(newMs);
    state.counters["file_MB"] = static_cast<double>(written.tellg()) / 1e6;
}

// The host's render against the draw alone, new and old, interleaved.
void BM_RenderAroundDraw(benchmark::State& state) {
    Setup& s = setup();
    // 0: 8-bit, 1: floats, 2: 16-bit words (what 16-bit files give).
    const bool isFloat = state.range(0) != 0, sixteen = state.range(0) == 2;
    const host::Frame frame = footage(isFloat, sixteen);
    const old::Frame oldFrame = toOld(frame);

    // The draw alone: textures made once, the whole frame drawn, glFinish.
    const GLenum internal = sixteen ? GL_RGBA16 : isFloat ? GL_RGBA32F : GL_RGBA8;
    const GLenum type = sixteen ? GL_UNSIGNED_SHORT : isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE;
    const unsigned depth = isFloat ? kFxDepth_FLOAT32 : kFxDepth_UINT8;
    host::Frame out;
    std::string error;
    s.renderer->render(*s.instance, frame, &out, &error);  // makes the renderer's context current
    const bench::DrawTargets targets(kWidth, kHeight, internal, type, frame.data(), type);
    FxTexture in(targets.input.get(), GL_TEXTURE_2D, kWidth, kHeight, depth);
    FxTexture to(targets.output.get(), GL_TEXTURE_2D, kWidth, kHeight, depth);
    FxRenderInfo info;
    info.depth = depth;
    auto drawOnly = [&] {
        targets.bind();
        const auto start = Clock::now();
        s.instance->callback([&](FxFilter& effect) { return effect.renderOutput(to, in, info); });
        glFinish();
        return msSince(start);
    };
    drawOnly();
    old::Frame oldOut;
    old::render(*s.instance, oldFrame, &oldOut);

    std::vector<double> draw, newMs, oldMs;
    for (auto _ : state) {
        draw.push_back(drawOnly());
        auto start = Clock::now();
        if (!s.renderer->render(*s.instance, frame, &out, &error)) state.SkipWithError(error.c_str());
        const double t = msSince(start);
        newMs.push_back(t);
        state.SetIterationTime(t / 1000.0);
        start = Clock::now();
        if (!old::render(*s.instance, oldFrame, &oldOut)) state.SkipWithError("old render");
        oldMs.push_back(msSince(start));
    }
    const double d = median(draw);
    state.counters["draw_ms"] = d;
    state.counters["new_ms"] = median(newMs);
    state.counters["old_ms"] = median(oldMs);
    state.counters["new_outside_per_draw"] = (median(newMs) - d) / d;
    state.counters["old_outside_per_draw"] = (median(oldMs) - d) / d;
}

long residentKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Peak resident memory of one render of a frame file, above the size after a
// warm-up render of a tiny frame, in a fresh process (this program started
// again with --peak), so that neither path sees the other's leftovers.
int peakChild(bool useOld, const std::string& look, const std::string& path) {
    std::string error;
    auto renderer = host::Renderer::create(&error);
    auto hostProcess = host::Host::load(QUILLANE_EFFECT_MODULE_PATH, &error);
    host::EffectInstance* instance = hostProcess ? hostProcess->newInstance() : nullptr;
    if (!renderer || !instance || !host::chooseLutFile(*instance, look, &error)) return 1;
    host::Frame probe;
    if (!host::readPngFrame(path, &probe, &error)) return 1;
    {  // the driver's code for this kind of frame is built once per process
        host::Frame tiny;
        tiny.width = tiny.height = 8, tiny.isFloat = probe.isFloat;
        tiny.bytes.resize(probe.isFloat ? 0 : 256), tiny.floats.resize(probe.isFloat ? 256 : 0);
        renderer->renderInPlace(*instance, tiny, &error);
    }
    probe = host::Frame();
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
    const long before = residentKb("VmRSS:");
    bool ok = false;
    if (useOld) {
        old::Frame in, out;
        ok = old::readPngFrame(path, &in) && old::render(*instance, in, &out) && old::writePngFrame(path + ".o.png", out);
    } else {
        host::Frame frame;
        ok = host::readPngFrame(path, &frame, &error) && renderer->renderInPlace(*instance, frame, &error) &&
             host::writePngFrame(path + ".n.png", frame, &error);
    }
    if (!ok) return 1;
    std::printf("%.1f\n", (residentKb("VmHWM:") - before) / 1024.0);
    return 0;
}

std::string selfPath;

double peakMbOfOneRender(bool useOld, const std::string& path) {
    const std::string command = "'" + selfPath + "' --peak " + (useOld ? "old" : "new") + " '" +
                                setup().dir.file("look.cube") + "' '" + path + "'";
    std::FILE* child = ::popen(command.c_str(), "r");
    if (!child) return -1;
    double mb = -1;
    if (std::fscanf(child, "%lf", &mb) != 1) mb = -1;
    ::pclose(child);
    return mb;
}

void BM_PeakMemory(benchmark::State& state) {
    Setup& s = setup();
    const bool isFloat = state.range(0) != 0;
    std::string error;
    host::writePngFrame(s.dir.file(isFloat ? "peak16.png" : "peak8.png"), footage(isFloat), &error);
    const std::string path = s.dir.file(isFloat ? "peak16.png" : "peak8.png");
    double newMb = 0, oldMb = 0;
    for (auto _ : state) {
        newMb = peakMbOfOneRender(false, path);
        oldMb = peakMbOfOneRender(true, path);
    }
    state.counters["new_MB"] = newMb;
    state.counters["old_MB"] = oldMb;
}

BENCHMARK(BM_PngReadWrite)
    ->ArgsProduct({{8, 16}, {0, 1, 2, 3, 4}})
    ->ArgNames({"bits", "settings"})
    ->Iterations(7)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderAroundDraw)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("kind")
    ->Iterations(31)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeakMemory)->Arg(0)->Arg(1)->ArgName("float")->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--peak") return peakChild(std::string(argv[2]) == "old", argv[3], argv[4]);
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    selfPath = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : argv[0];
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
