// The LUT Manager through the real host program, a second process: the host
// opens the window on its current frame, a person (XTest) double-clicks a LUT,
// the window closes and the host saves and renders with that LUT. Without a
// display each press says so and the user's LUT and preset stay.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "../desktop/DesktopTestEnv.h"
#include "EffectModule.h"
#include "GradeCheck.h"
#include "LutFiles.h"
#include "ProcessTools.h"
#include "XInput.h"
#include "desktop/Settings.h"
#include "host/FrameFile.h"
#include "lut/LutFile.h"

using namespace quillane::test;
using namespace std::chrono_literals;

namespace {

// Top half red, bottom half blue, with gradients so that a grade shows.
host::Frame redOverBlue(int width, int height) {
    host::Frame f;
    f.width = width, f.height = height;
    f.allocate();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &f.bytes[(std::size_t(y) * width + x) * 4];
            const unsigned char ramp = static_cast<unsigned char>(x * 90 / width);
            const bool top = y < height / 2;
            p[0] = top ? 160 + ramp : ramp / 3, p[1] = ramp, p[2] = top ? ramp / 3 : 160 + ramp, p[3] = 255;
        }
    return f;
}

class HostGallery : public ::testing::Test {
protected:
    HostGallery() : service_("QUILLANE_SERVICE_URL", std::string("https://127.0.0.1:1")) {
        {
            // A settings file, so that the window opens without a box first
            // (the test's own box about making it is recorded, not shown).
            BoxRecorder quiet;
            getValueFromReg("email", true);
        }
        std::filesystem::create_directories(looks);
        writeLutFile(looks + "/plain.cube", 9, [](float*) {});
        writeLutFile(looks + "/swap.3dl", 17, [](float* c) { std::swap(c[0], c[2]); });
        writeLutFile(looks + "/warm.cube", 17, [](float* c) { c[0] = std::sqrt(c[0]), c[2] *= 0.6f; });
        EXPECT_TRUE(host::writePngFrame(frame, redOverBlue(160, 90), nullptr));
    }

    // The grid position of each LUT: the directory's order.
    int gridIndex(const std::string& name) const {
        int index = 0;
        for (const auto& entry : std::filesystem::directory_iterator(looks)) {
            if (entry.path().filename() == name) return index;
            ++index;
        }
        return -1;
    }

    // The host without a display.
    ProcessResult hostRun(const std::string& arguments) {
        return runProcess("env -u DISPLAY '" + kHostProgram + "' " + arguments + " 2>&1");
    }

    DesktopSandbox sandbox;
    const std::string looks = sandbox.dir.file("looks");
    const std::string frame = sandbox.dir.file("frame.png");
    const std::string project = sandbox.dir.file("project.json");

private:
    ScopedEnv service_;
};

// Where the window's first row of thumbnails is centred.
constexpr int kRowY = 153;
constexpr int kColumnX[3] = {170, 497, 823};

TEST_F(HostGallery, ADoubleClickedLutIsSavedAndRendered) {
    const DisplayHandle display = openDisplay();
    ASSERT_TRUE(display) << "needs an X display (xvfb-run)";
    const std::string chosen = looks + "/swap.3dl", out = sandbox.dir.file("out.png");
    const std::string log = sandbox.dir.file("host.log");
    // The host in a process of its own, with its output in a file; killed should it never end.
    std::future<ProcessResult> editor = std::async(std::launch::async, [&] {
        return runProcess("timeout -s KILL 90 '" + kHostProgram + "' frame '" + frame + "' choose-file '" + looks +
                          "/plain.cube' press 3 save '" + project + "' render '" + frame + "' '" + out + "' >'" + log +
                          "' 2>&1");
    });

    Window window = 0;
    int wx = 0, wy = 0;
    ASSERT_TRUE(waitUntil([&] {
        window = findWindow(display.get(), "LUT Manager");
        return window && shownAt(display.get(), window, &wx, &wy);
    }, 60s)) << readFile(log);
    std::this_thread::sleep_for(500ms);

    // The identity's thumbnail shows the picture upright (the host's bitmaps
    // run bottom row first): red above, blue below, once the grid is drawn.
    const int plain = gridIndex("plain.cube");
    ASSERT_TRUE(plain >= 0 && plain < 3);
    std::array<int, 3> top{}, bottom{};
    const bool upright = waitUntil([&] {
        top = screenColour(display.get(), wx + kColumnX[plain], wy + kRowY - 35);
        bottom = screenColour(display.get(), wx + kColumnX[plain], wy + kRowY + 35);
        return top[0] > top[2] + 80 && bottom[2] > bottom[0] + 80;
    }, 30s);
    EXPECT_TRUE(upright) << "top " << top[0] << ',' << top[1] << ',' << top[2] << " bottom " << bottom[0] << ','
                         << bottom[1] << ',' << bottom[2];

    const int target = gridIndex("swap.3dl");
    ASSERT_TRUE(target >= 0 && target < 3);
    doubleClickAt(display.get(), wx + kColumnX[target], wy + kRowY);
    ASSERT_EQ(editor.get().status, 0) << readFile(log);

    // The project holds the LUT by its path; the render is the CPU's grade.
    const ProcessResult saved = hostRun("open '" + project + "' state");
    ASSERT_EQ(saved.status, 0) << saved.out;
    EXPECT_EQ(keyedLines(saved.out).at("name"), "\"" + chosen + "\"");
    std::string path = chosen;
    Lut lut;
    std::vector<char> preset;
    lutFromFile(&path, &lut, &preset);
    ASSERT_EQ(lut.getDimSize(), 17);
    host::Frame in, graded;
    ASSERT_TRUE(host::readPngFrame(frame, &in, nullptr));
    ASSERT_TRUE(host::readPngFrame(out, &graded, nullptr));
    EXPECT_LE(worstCodeAgainstCpu(in.bytes, graded.bytes, lut), 1);
}

// Asks every shown window of the program named `program` to close, as a
// window manager's close button does; how many were asked.
int closeWindowsOf(Display* display, const std::string& program, Window from = 0) {
    if (!from) from = DefaultRootWindow(display);
    int asked = 0;
    XClassHint hint{};
    XWindowAttributes attributes{};
    if (XGetClassHint(display, from, &hint)) {
        const bool ours = hint.res_name && program == hint.res_name;
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
        if (ours && XGetWindowAttributes(display, from, &attributes) && attributes.map_state == IsViewable) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = from;
            event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(display, from, False, NoEventMask, &event);
            XFlush(display);
            ++asked;
        }
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, from, &root, &parent, &children, &count))
        for (unsigned i = 0; i < count; ++i) asked += closeWindowsOf(display, program, children[i]);
    if (children) XFree(children);
    return asked;
}

// With a display a failed action's box is a window the host cannot read: the
// press fails all the same, by what the action did, and the project stays.
TEST_F(HostGallery, WithADisplayAPressFailsByWhatItsActionDidThoughTheBoxIsAWindow) {
    const DisplayHandle display = openDisplay();
    ASSERT_TRUE(display) << "needs an X display (xvfb-run)";
    const std::string tall = sandbox.dir.file("tall.png");
    ASSERT_TRUE(host::writePngFrame(tall, redOverBlue(2, 40), nullptr));
    struct Case {
        std::string frame;
        const char* button;
        std::string says;
    } cases[] = {
        {tall, "3", "the LUT Manager cannot show this frame (2 x 40 pixels): it is more than 8 times as tall as it "
                    "is wide."},
        // The settings do not name the desktop program.
        {frame, "2", "the desktop program was not started: its settings (" + sandbox.settingsFile() +
                         ") do not say where it is installed"},
    };
    // Windows come and go while the tree is walked: a request about one that
    // has just gone is no error of the test.
    const auto previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    for (const Case& c : cases) {
        // A desktop program running anywhere on the machine would count as started.
        ASSERT_TRUE(waitForNoQuillaneMac());
        const std::string before = sandbox.dir.file("before.json");
        std::future<ProcessResult> editor = std::async(std::launch::async, [&] {
            return runProcess("timeout -s KILL 90 '" + kHostProgram + "' frame '" + c.frame + "' choose-file '" +
                              looks + "/warm.cube' save '" + before + "' press " + c.button + " save '" + project +
                              "' 2>&1");
        });
        int boxes = 0;
        while (editor.wait_for(100ms) != std::future_status::ready)
            boxes += closeWindowsOf(display.get(), "quillane-host");
        const ProcessResult run = editor.get();
        EXPECT_GE(boxes, 1) << "no box was shown";
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_EQ(run.out, "quillane-host: press " + std::string(c.button) + ": " + c.says + "\n");
        EXPECT_EQ(readFile(project), readFile(before));
    }
    XSync(display.get(), False);
    XSetErrorHandler(previous);
}

TEST_F(HostGallery, WithoutADisplayThePressFailsWithTheBoxAndTheSaveKeepsTheLut) {
    const std::string kept = looks + "/warm.cube";
    std::ofstream(kept, std::ios::app) << "#64BLOB\n#a2VwdA==\n";  // a preset, "kept"
    const ProcessResult before = hostRun("choose-file '" + kept + "' state");
    ASSERT_EQ(before.status, 0) << before.out;
    const ProcessResult run =
        hostRun("frame '" + frame + "' choose-file '" + kept + "' press 3 press 3 save '" + project + "'");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("[critical] Exception"), std::string::npos) << run.out;
    // Twice: the failed first opening leaves nothing behind that the second trips over.
    const std::string said = "press 3: the LUT Manager needs a display";
    EXPECT_NE(run.out.find(said), run.out.rfind(said)) << run.out;
    const ProcessResult after = hostRun("open '" + project + "' state");
    ASSERT_EQ(after.status, 0) << after.out;
    for (const char* key : {"name", "loaded", "dimSize", "nodes", "preset"})
        EXPECT_EQ(keyedLines(after.out).at(key), keyedLines(before.out).at(key)) << key;
}

}  // namespace
