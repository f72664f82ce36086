// Listing a local folder of 100 LUTs of 33 nodes into thumbnails, in a real
// window (run under a display: xvfb-run -a build/release/bench/quillane_gallery_bench).
//   BM_ListFolder/1   the listing as the user sees it, with the 1 ms pause and
//                     the progress draw after each entry
//   BM_ListFolder/0   the listing alone
//   BM_ThumbnailUnit  one entry's work: read the file, grade the preview, upload
// Time per entry: the time column / 100 (items_per_second is entries). Counters:
// loop_entry_ms (per entry before the grid is built), listing_growth_MB (resident memory gained from a listing's first entry to its
// last), peak_rss_MB (the process's peak
// resident memory after the run).
#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "desktop/Settings.h"
#include "gallery/LutGallery.h"
#include "gallery/demo/SampleLooks.h"
#include "gallery/toolkit/Toolkit.h"
#include "lut/MathClass.h"
#include "platform/appkit/Alert.h"

namespace {

constexpr int kEntries = 100;
constexpr int kNodes = 33;

struct Setup {
    Setup() {
        setenv("HOME", dir.path().c_str(), 1);
        appkit::setAlertPresenter(appkit::presentAlertOnStderr);
        getValueFromReg("email", true);
        folder = dir.file("looks");
        std::filesystem::create_directories(folder);
        // The sample looks, written again under more names.
        const std::vector<std::string> looks = gallery_samples::writeSampleLooks(dir.file("samples"), kNodes);
        for (int i = 0; i < kEntries; ++i)
            std::filesystem::copy_file(looks[i % looks.size()], folder + "/look" + std::to_string(i) + ".cube");
        frame = gallery_samples::sampleFrameArgb(1920, 1080);
        rgba = argbToRgba(frame.data(), 1920, 1080);
    }
    quillane::test::TempDir dir;
    std::string folder;
    std::vector<unsigned char> frame, rgba;
};

Setup& setup() {
    static Setup s;
    return s;
}

double residentMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4096.0 / (1024 * 1024);
}

double peakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void BM_ListFolder(benchmark::State& state) {
    Setup& s = setup();
    LutGallery gallery(nullptr, nullptr);
    gallery.updateImage(s.rgba.data(), 1920, 1080, 4, 4);
    gallery.progressPauseAndDraw = state.range(0) != 0;
    // Resident memory during a listing, from its first entry on: what the
    // listing holds beyond the textures it makes.
    double first = 0, most = 0;
    std::chrono::steady_clock::time_point firstEntry, lastEntry;
    gallery.onProgress = [&](int entry, int) {
        const double now = residentMb();
        if (entry == 0) first = most = now;
        most = std::max(most, now);
        (entry == 0 ? firstEntry : lastEntry) = std::chrono::steady_clock::now();
    };
    bool ran = false;
    gallery.onTurn = [&] {
        if (!ran) {
            ran = true;
            for (auto _ : state) {
                gallery.forgetShownFolder();
                gallery.choseFolder();
            }
        }
        gallery.stop();
    };
    gallery.start(s.folder + "/look0.cube");
    if (!ran) state.SkipWithError("no window (run under a display)");
    state.SetItemsProcessed(state.iterations() * kEntries);
    state.counters["peak_rss_MB"] = peakRssMb();
    state.counters["listing_growth_MB"] = most - first;
    // The entries alone (reading, grading, upload, progress), without the grid.
    state.counters["loop_entry_ms"] =
        std::chrono::duration<double, std::milli>(lastEntry - firstEntry).count() / (kEntries - 1);
}
BENCHMARK(BM_ListFolder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ThumbnailUnit(benchmark::State& state) {
    Setup& s = setup();
    LutGallery gallery(nullptr, nullptr);
    gallery.updateImage(s.rgba.data(), 1920, 1080, 4, 4);
    const int pixelCount = gallery.previewWidth * gallery.previewHeight;
    std::vector<float> graded(std::size_t(pixelCount) * 4);
    bool ran = false;
    gallery.onTurn = [&] {
        if (!ran) {
            ran = true;
            int i = 0;
            for (auto _ : state) {
                std::string preset;
                const Lut lut = Lut().loadFromFile(s.folder + "/look" + std::to_string(i++ % kEntries) + ".cube",
                                                   preset, false, 0);
                applyLutCPUTrilinear(gallery.preview.data(), graded.data(), lut.getData(), 0, 1, false,
                                     lut.getDimSize(), pixelCount, 4);
                nanogui::GlTexture texture = nanogui::GlTexture::create(
                    gallery.previewWidth, gallery.previewHeight, GL_RGBA, GL_RGBA, GL_FLOAT, graded.data());
                glFinish();
                benchmark::DoNotOptimize(texture.get());
            }
        }
        gallery.stop();
    };
    gallery.start(s.folder + "/look0.cube");
    if (!ran) state.SkipWithError("no window (run under a display)");
}
BENCHMARK(BM_ThumbnailUnit)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
