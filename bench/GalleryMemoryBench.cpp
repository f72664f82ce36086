// Memory of the LUT Manager per listed entry: a local folder of LUTs of 33
// nodes listed into the window, and the process's peak resident memory
// (VmHWM) above the same window showing an empty folder, per entry. Target:
// at most 0.7 MB per entry (the 512 x 288 thumbnail itself is 0.59 MB), flat
// as the folder grows. A folder of empty sub-folders the same way: every
// folder tile shows one picture, so a sub-folder costs only its widgets;
// target at most 0.1 MB each.
//
// Run under a display:
//   xvfb-run -a build/release/bench/quillane_gallery_memory_bench
//   ... --entries=10,100,1000,5000    (or QUILLANE_BENCH_ENTRIES=5000)
// Counters: MB_per_entry, peak_above_empty_MB, empty_window_MB (resident
// memory of the window on the empty folder). BM_GalleryMemoryPerEntry lists LUTs,
// BM_GalleryMemoryPerSubFolder sub-folders.
//
// Each size is measured in a process of its own (forked before anything
// touches the display), so that neither the heap nor the peak of one size
// carries over to the next.
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "desktop/Settings.h"
#include "gallery/LutGallery.h"
#include "gallery/demo/SampleLooks.h"
#include "gallery/toolkit/Toolkit.h"
#include "platform/appkit/Alert.h"

namespace {

constexpr int kNodes = 33;
constexpr int kFrameWidth = 1920;
constexpr int kFrameHeight = 1080;

// A line of /proc/self/status in MB ("VmHWM", "VmRSS"); -1 when missing.
double statusMb(const char* key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, std::strlen(key), key) == 0 && line[std::strlen(key)] == ':') {
            std::istringstream fields(line.substr(std::strlen(key) + 1));
            double kb = -1;
            fields >> kb;
            return kb / 1024.0;
        }
    return -1;
}

// Sets the peak back to the present resident size; false where the kernel
// does not allow it (the peak then starts from the process's start).
bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

struct Sandbox {
    Sandbox() {
        ::setenv("HOME", dir.file("home").c_str(), 1);
        ::setenv("QUILLANE_SERVICE_URL", "https://127.0.0.1:1", 1);  // never the real service
        std::filesystem::create_directories(dir.file("home/.config/QuillaneMac"));  // the settings file's home
        std::filesystem::create_directories(dir.file("empty"));
        looks = gallery_samples::writeSampleLooks(dir.file("samples"), kNodes);
    }
    // A folder of `entries` LUT files (links to the sample looks: the gallery
    // reads each as a file of its own).
    std::string folderOf(int entries) const {
        const std::string folder = dir.file("looks" + std::to_string(entries));
        if (std::filesystem::exists(folder)) return folder;
        std::filesystem::create_directories(folder);
        for (int i = 0; i < entries; ++i)
            std::filesystem::create_hard_link(looks[i % looks.size()],
                                              folder + "/look" + std::to_string(i) + ".cube");
        return folder;
    }
    // A folder of `entries` empty sub-folders.
    std::string subFoldersOf(int entries) const {
        const std::string folder = dir.file("folders" + std::to_string(entries));
        if (std::filesystem::exists(folder)) return folder;
        for (int i = 0; i < entries; ++i) std::filesystem::create_directories(folder + "/f" + std::to_string(i));
        return folder;
    }
    quillane::test::TempDir dir;
    std::vector<std::string> looks;
};

Sandbox& sandbox() {
    static Sandbox s;
    return s;
}

struct Measure {
    double emptyWindowMb = -1;  // resident, the window on the empty folder
    double peakAboveMb = -1;    // peak with the folder listed, above that
    int shown = 0;              // thumbnails in the grid
};

// In the child: the window on the empty folder, then the folder listed and
// drawn (scrolled to its end, so every thumbnail has been on screen).
Measure measureHere(const std::string& folder) {
    Measure m;
    appkit::setAlertPresenter(appkit::presentAlertOnStderr);
    getValueFromReg("email", true);
    const std::vector<unsigned char> argb = gallery_samples::sampleFrameArgb(kFrameWidth, kFrameHeight);
    const std::vector<unsigned char> rgba = argbToRgba(argb.data(), kFrameWidth, kFrameHeight);
    LutGallery gallery(nullptr, nullptr);
    gallery.updateImage(rgba.data(), kFrameWidth, kFrameHeight, 4, 4);
    int turn = 0;
    gallery.onTurn = [&] {
        ++turn;
        if (turn == 5) {  // the empty window has settled
            resetPeak();
            m.emptyWindowMb = statusMb("VmRSS");
            gallery.paths[0] = folder;
            gallery.choseFolder();
            m.shown = static_cast<int>(gallery.shownItems.size());
        } else if (turn == 8 && gallery.window && gallery.window->childCount() > 1) {
            if (auto* panel = dynamic_cast<nanogui::LutScrollPanel*>(gallery.window->childAt(1)))
                panel->setScroll(1.0f);
        } else if (turn == 12) {
            m.peakAboveMb = statusMb("VmHWM") - m.emptyWindowMb;
            gallery.stop();
        }
    };
    gallery.start(sandbox().dir.file("empty") + "/none.cube");
    return m;
}

// Forks, measures in the child, and reads its answer back.
Measure measureInChild(const std::string& folder) {
    Measure m;
    int fds[2];
    if (::pipe(fds) != 0) return m;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const Measure here = measureHere(folder);
        const ssize_t written = ::write(fds[1], &here, sizeof here);
        ::_exit(written == sizeof here ? 0 : 1);
    }
    ::close(fds[1]);
    if (pid > 0) {
        if (::read(fds[0], &m, sizeof m) != sizeof m) m = Measure();
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    ::close(fds[0]);
    return m;
}

void measureFolder(benchmark::State& state, const std::string& folder, int entries) {
    Measure m;
    for (auto _ : state) m = measureInChild(folder);
    if (m.peakAboveMb < 0 || m.shown != entries) {
        state.SkipWithError("no measurement (run under a display)");
        return;
    }
    state.counters["entries"] = entries;
    state.counters["empty_window_MB"] = m.emptyWindowMb;
    state.counters["peak_above_empty_MB"] = m.peakAboveMb;
    state.counters["MB_per_entry"] = m.peakAboveMb / entries;
}

void BM_GalleryMemoryPerEntry(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    measureFolder(state, sandbox().folderOf(entries), entries);
}

void BM_GalleryMemoryPerSubFolder(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    measureFolder(state, sandbox().subFoldersOf(entries), entries);
}

// The folder sizes: --entries=a,b,... or QUILLANE_BENCH_ENTRIES, else 10, 100 and 1000.
std::vector<int> folderSizes(int* argc, char** argv) {
    std::string list;
    if (const char* env = std::getenv("QUILLANE_BENCH_ENTRIES")) list = env;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--entries=", 0) == 0)
            list = arg.substr(10);
        else
            argv[kept++] = argv[i];
    }
    *argc = kept;
    std::vector<int> sizes;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');)
        if (const int n = std::atoi(item.c_str()); n > 0) sizes.push_back(n);
    if (sizes.empty()) sizes = {10, 100, 1000};
    return sizes;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<int> sizes = folderSizes(&argc, argv);
    for (const auto& [name, measure] : {std::pair{"BM_GalleryMemoryPerEntry", &BM_GalleryMemoryPerEntry},
                                        std::pair{"BM_GalleryMemoryPerSubFolder", &BM_GalleryMemoryPerSubFolder}})
        for (int entries : sizes)
            benchmark::RegisterBenchmark(name, measure)->Arg(entries)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
