#include "GalleryTestEnv.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "desktop/Settings.h"
#include "gallery/toolkit/ScreenCapture.h"
#include "lut/Lut.h"
#include "lut/MathClass.h"

using namespace nanogui;

namespace gallery_test {

std::vector<unsigned char> testFrame(int width, int height) {
    std::vector<unsigned char> argb(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &argb[(std::size_t(y) * width + x) * 4];
            p[0] = 255;
            p[1] = static_cast<unsigned char>(x * 255 / (width - 1));
            p[2] = static_cast<unsigned char>(y * 255 / (height - 1));
            p[3] = static_cast<unsigned char>((x * 7 + y * 3) % 256);
        }
    return argb;
}

std::vector<float> expectedThumbnail(const LutGallery& gallery, const std::string& lutPath) {
    std::string preset;
    const Lut lut = Lut().loadFromFile(lutPath, preset, false, ends_with(lutPath, ".3dl") ? 1 : 0);
    const int pixelCount = gallery.previewWidth * gallery.previewHeight;
    std::vector<float> out(std::size_t(pixelCount) * 4);
    applyLutCPUTrilinear(gallery.preview.data(), out.data(), lut.getData(), lut.getInputRange0(),
                         lut.getInputRange1(), false, lut.getDimSize(), pixelCount, 4);
    return out;
}

std::vector<float> readTexture(unsigned texture, int width, int height) {
    std::vector<float> pixels(std::size_t(width) * height * 4);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return pixels;
}

float largestDifference(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return INFINITY;
    float worst = 0.0f;
    for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::abs(std::min(1.0f, std::max(0.0f, a[i])) - std::min(1.0f, std::max(0.0f, b[i]))));
    return worst;
}

std::vector<Listed> directoryOrder(const std::string& folder) {
    std::vector<Listed> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back({entry.path().filename(), entry.is_directory()});
    return names;
}

GalleryTest::GalleryTest() : service_("QUILLANE_SERVICE_URL", std::string("https://127.0.0.1:1")) {
    // The window is set up once for the process (and the test needs a
    // context for its own GL reads).
    ensureToolkit();
    // A settings file, so that no "Error opening file" box comes first.
    getValueFromReg("email", true);
    boxes.boxes.clear();
    LutImageView::setClock([this] { return clockUs; });
    makeGallery();
}

GalleryTest::~GalleryTest() {
    gallery.reset();
    LutImageView::setClock(nullptr);
}

void GalleryTest::makeGallery() {
    gallery = std::make_unique<LutGallery>([this](std::string path) { deliveredFiles.push_back(path); },
                                           onlineDelivery);
    const std::vector<unsigned char> argb = testFrame(kFrameWidth, kFrameHeight);
    const std::vector<unsigned char> rgba = argbToRgba(argb.data(), kFrameWidth, kFrameHeight);
    ASSERT_TRUE(gallery->updateImage(rgba.data(), kFrameWidth, kFrameHeight, 4, 4));
}

void GalleryTest::run(const std::string& name, const std::function<void()>& body) {
    bool ran = false;
    gallery->onTurn = [this, &ran, &body] {
        if (!ran) {
            ran = true;
            body();
        }
        if (gallery->screen) glfwSetWindowShouldClose(gallery->screen->glfwWindow(), 1);
    };
    gallery->start(name);
    gallery->onTurn = nullptr;
    EXPECT_TRUE(ran) << "the window did not run";
}

LutScrollPanel* GalleryTest::panel() const {
    if (!gallery->window || gallery->window->childCount() < 2) return nullptr;
    return dynamic_cast<LutScrollPanel*>(gallery->window->childAt(1));
}

std::vector<LutImageView*> galleryViews(const LutGallery& gallery) {
    std::vector<LutImageView*> list;
    if (!gallery.window || gallery.window->childCount() < 2) return list;
    Widget* scroll = gallery.window->childAt(1);
    if (!dynamic_cast<LutScrollPanel*>(scroll) || scroll->childCount() != 1) return list;
    for (Widget* cell : scroll->childAt(0)->children())
        if (cell->childCount() > 0)
            if (auto* view = dynamic_cast<LutImageView*>(cell->childAt(0))) list.push_back(view);
    return list;
}

LutImageView* galleryView(const LutGallery& gallery, const std::string& itemString) {
    for (LutImageView* view : galleryViews(gallery))
        if (view->mCaption == itemString) return view;
    return nullptr;
}

std::vector<LutImageView*> GalleryTest::views() const { return galleryViews(*gallery); }

LutImageView* GalleryTest::viewOf(const std::string& itemString) const { return galleryView(*gallery, itemString); }

// A click, and then the next turn of the window's loop: what the click asked
// for runs once the toolkit is done with it.
static void clickCentre(Widget* widget, int button) {
    const Vector2i p = widget->absolutePosition() + widget->size() / 2;
    LutScreen* screen = LutScreen::of(widget);
    ASSERT_NE(screen, nullptr);
    screen->cursorPosCallbackEvent(p.x() + 1, p.y() + 2);  // the toolkit takes (1, 2) off
    screen->mouseButtonCallbackEvent(button, GLFW_PRESS, 0);
    screen->mouseButtonCallbackEvent(button, GLFW_RELEASE, 0);
    screen->runDeferred();
}

void GalleryTest::click(Widget* widget, int button) {
    ASSERT_NE(widget, nullptr);
    clockUs += 1'000'000;  // far from any earlier click
    clickCentre(widget, button);
}

void GalleryTest::doubleClick(Widget* widget) {
    click(widget);
    clockUs += 300'000;
    clickCentre(widget, GLFW_MOUSE_BUTTON_LEFT);
}

void GalleryTest::key(int k, int action) {
    gallery->screen->keyCallbackEvent(k, 0, action, 0);
    gallery->runEventWork();
}

std::string GalleryTest::folder(const std::string& name) {
    const std::string path = sandbox.dir.file(name);
    std::filesystem::create_directories(path);
    return path;
}

}  // namespace gallery_test
