#pragma once
// Shared pieces of the LUT Manager tests: a sandbox (HOME with a settings
// file, a dead service address, a box recorder), real folders of real LUT
// files, a gallery run whose first modal turn runs the test's body, clicks
// through the screen's own input handlers with a scripted click clock, and
// thumbnails read back from their textures.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../desktop/DesktopTestEnv.h"
#include "LutFiles.h"
#include "gallery/LutGallery.h"
#include "gallery/toolkit/Toolkit.h"
#include "lut/LutFile.h"

namespace gallery_test {

using quillane::test::BoxRecorder;
using quillane::test::DesktopSandbox;
using quillane::test::ScopedEnv;

// A .cube file of n nodes scaled by `gain` per channel (an identity for gains of 1).
inline void writeCube(const std::string& path, int n, float gainR, float gainG, float gainB) {
    quillane::test::writeLutFile(path, n, [=](float* c) { c[0] *= gainR, c[1] *= gainG, c[2] *= gainB; });
}
// A 10-bit .3dl file (edge 6) that swaps red and blue.
inline void write3dl(const std::string& path) {
    quillane::test::writeLutFile(path, 6, [](float* c) { std::swap(c[0], c[2]); });
}

// An 8-bit A, R, G, B frame with gradients and colour.
std::vector<unsigned char> testFrame(int width, int height);
constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 360;

// What the thumbnail of the LUT file at path must show: the applier's output
// on the gallery's preview.
std::vector<float> expectedThumbnail(const LutGallery& gallery, const std::string& lutPath);
// A texture's level 0 as RGBA floats.
std::vector<float> readTexture(unsigned texture, int width, int height);
// Largest difference between two pictures (texture storage is 8 bits deep).
float largestDifference(const std::vector<float>& a, const std::vector<float>& b);

// The thumbnails of a gallery's grid, in grid order.
std::vector<nanogui::LutImageView*> galleryViews(const LutGallery& gallery);
nanogui::LutImageView* galleryView(const LutGallery& gallery, const std::string& itemString);

// The names a folder lists, in the order the directory gives them.
struct Listed {
    std::string name;
    bool isDirectory;
};
std::vector<Listed> directoryOrder(const std::string& folder);

class GalleryTest : public ::testing::Test {
protected:
    GalleryTest();
    ~GalleryTest() override;

    // A new gallery on the test frame whose callbacks record local deliveries
    // and hand online ones to onlineDelivery.
    void makeGallery();
    // Runs the window with `name` as the current LUT; the first turn of the
    // modal loop runs body, and the window closes after it unless the body
    // closed it.
    void run(const std::string& name, const std::function<void()>& body);

    std::vector<nanogui::LutImageView*> views() const;
    nanogui::LutScrollPanel* panel() const;
    nanogui::LutImageView* viewOf(const std::string& itemString) const;

    // Input through the screen the widget is on (this test's window or
    // another gallery's), at its centre.
    void click(nanogui::Widget* widget, int button = GLFW_MOUSE_BUTTON_LEFT);
    // Two clicks 300 ms apart on the click clock.
    void doubleClick(nanogui::Widget* widget);
    void key(int key, int action);

    // A folder under the sandbox.
    std::string folder(const std::string& name);

    DesktopSandbox sandbox;
    BoxRecorder boxes;
    std::unique_ptr<LutGallery> gallery;
    std::vector<std::string> deliveredFiles;
    std::function<void(Lut, std::string, std::vector<char>)> onlineDelivery;
    std::int64_t clockUs = 1'000'000'000;

private:
    ScopedEnv service_;
};

}  // namespace gallery_test
