#include "ToolkitFixture.h"

#include <chrono>
#include <thread>

using namespace nanogui;

namespace toolkit_test {

namespace {

// One toolkit start for the whole test program. No shutdown: it unloads the
// GL driver, whose process-lifetime allocations would then be reported as
// leaks of unknown origin instead of being matched to the driver.
class ToolkitEnvironment : public ::testing::Environment {
public:
    void SetUp() override { nanogui::init(); }
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new ToolkitEnvironment);

}  // namespace

GlTexture solidTexture(int w, int h, Rgba top, Rgba bottom) {
    std::vector<std::uint8_t> px(std::size_t(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        const Rgba c = y < h / 2 ? bottom : top;
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &px[(std::size_t(y) * w + x) * 4];
            p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
        }
    }
    return GlTexture::create(w, h, GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
}

void GalleryToolkitTest::SetUp() {
    screen = new CountingScreen(Vector2i(1000, 700), "toolkit test", true);
    window = new LutWindow(screen.get(), "");
    window->setLayout(new BoxLayout(Orientation::Vertical, Alignment::Minimum, 5, 5));
    window->setPosition(Vector2i(0, 0));
    window->setSize(screen->size());
    toolbar = new Widget(window);
    toolbar->setLayout(new BoxLayout(Orientation::Horizontal, Alignment::Middle, 10, 10));
    screen->setVisible(true);
    screen->performLayout();
}

void GalleryToolkitTest::TearDown() {
    LutImageView::setClock(nullptr);
    screen = nullptr;
}

void GalleryToolkitTest::moveTo(const Vector2i& p) {
    // The toolkit takes (1, 2) off every cursor position.
    screen->cursorPosCallbackEvent(p.x() + 1, p.y() + 2);
}

void GalleryToolkitTest::click(const Vector2i& p, int button, int mods) {
    moveTo(p);
    screen->mouseButtonCallbackEvent(button, GLFW_PRESS, mods);
    screen->mouseButtonCallbackEvent(button, GLFW_RELEASE, mods);
}

void GalleryToolkitTest::drag(const Vector2i& from, const Vector2i& to) {
    moveTo(from);
    screen->mouseButtonCallbackEvent(GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0);
    moveTo((from + to) / 2);
    moveTo(to);
    screen->mouseButtonCallbackEvent(GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE, 0);
}

void GalleryToolkitTest::key(int k, int action, int mods) { screen->keyCallbackEvent(k, 0, action, mods); }

void GalleryToolkitTest::type(const std::string& text) {
    for (unsigned char c : text) screen->charCallbackEvent(c);
}

Vector2i GalleryToolkitTest::centre(const Widget* w) { return w->absolutePosition() + w->size() / 2; }

bool GalleryToolkitTest::resizeNative(int w, int h) {
    glfwSetWindowSize(screen->glfwWindow(), w, h);
    for (int i = 0; i < 200; ++i) {
        glfwPollEvents();
        int cw = 0, ch = 0;
        glfwGetWindowSize(screen->glfwWindow(), &cw, &ch);
        if (cw == w && ch == h) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TestTextBox* GalleryToolkitTest::addTextBox(const std::string& value, bool password) {
    auto* box = new TestTextBox(toolbar, value, password);
    box->setEditable(true);
    box->setFixedSize(Vector2i(200, 30));
    return box;
}

GalleryToolkitTest::Grid GalleryToolkitTest::addGrid(int count, int picked, Vector2i imageSize, int kind) {
    removeTrailingChildren(window, 1);
    Grid g;
    g.panel = new LutScrollPanel(window);
    g.grid = new Widget(g.panel);
    g.grid->setLayout(new GridLayout(Orientation::Horizontal, 3, Alignment::Middle, 3, 3));
    for (int i = 0; i < count; ++i) {
        auto* cell = new Widget(g.grid);
        cell->setLayout(new BoxLayout(Orientation::Vertical, Alignment::Fill, 0, 0));
        GlTexture image = solidTexture(imageSize.x(), imageSize.y(), {0, 200, 0, 255},
                                       {0, 0, 200, 255});
        GlTexture mark = solidTexture(256, 256, {255, 0, 0, 255});
        g.views.push_back(new LutImageView(cell, image.release(), mark.release(),
                                           "item" + std::to_string(i), kind, i == picked));
    }
    screen->performLayout();
    return g;
}

}  // namespace toolkit_test
