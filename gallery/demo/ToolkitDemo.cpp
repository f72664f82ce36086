// Shows the LUT Manager's widgets in the layout the gallery gives them:
// a toolbar (buttons, path box, password box) over a scrolling grid of
// thumbnails, some favourite, one picked.
//   quillane-toolkit-demo                 interactive, until the window closes
//   quillane-toolkit-demo --shot out.png  draws one frame and saves it
#include "gallery/toolkit/ScreenCapture.h"
#include "gallery/toolkit/Toolkit.h"

#include <nanogui/entypo.h>
#include <nanogui/label.h>
#include <nanogui/layout.h>

#include <lodepng.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using namespace nanogui;

namespace {

// A graded-looking frame: a horizon gradient tinted by hue, rows bottom first.
GlTexture makePicture(int index) {
    const int w = 512, h = 288;
    std::vector<std::uint8_t> px(std::size_t(w) * h * 4);
    const float hue = index * 0.37f;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float t = float(y) / h, s = float(x) / w;
            std::uint8_t* p = &px[(std::size_t(y) * w + x) * 4];
            p[0] = std::uint8_t(255 * (0.5f + 0.5f * std::sin(hue + s * 2)) * (0.3f + 0.7f * t));
            p[1] = std::uint8_t(255 * (0.5f + 0.5f * std::sin(hue + 2.1f)) * (0.3f + 0.7f * t));
            p[2] = std::uint8_t(255 * (0.5f + 0.5f * std::sin(hue + 4.2f + s)) * (0.5f + 0.5f * t));
            p[3] = 255;
        }
    return GlTexture::create(w, h, GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
}

// A yellow five-pointed star on transparent ground.
GlTexture makeStar() {
    const int n = 256;
    std::vector<std::uint8_t> px(std::size_t(n) * n * 4, 0);
    float vx[10], vy[10];
    for (int i = 0; i < 10; ++i) {
        const float r = (i % 2 ? 0.4f : 1.0f) * n * 0.48f;
        const float a = float(M_PI) / 2 + i * float(M_PI) / 5;
        vx[i] = n / 2 + r * std::cos(a);
        vy[i] = n / 2 + r * std::sin(a);  // rows bottom first: points up on screen
    }
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            bool inside = false;
            for (int i = 0, j = 9; i < 10; j = i++)
                if ((vy[i] > y) != (vy[j] > y) &&
                    x < (vx[j] - vx[i]) * (y - vy[i]) / (vy[j] - vy[i]) + vx[i])
                    inside = !inside;
            if (!inside) continue;
            std::uint8_t* p = &px[(std::size_t(y) * n + x) * 4];
            p[0] = 255, p[1] = 210, p[2] = 40, p[3] = 255;
        }
    return GlTexture::create(n, n, GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
}

void buildGrid(LutWindow* window, LutScreen* screen, Label* status) {
    removeTrailingChildren(window, 1);
    auto* panel = new LutScrollPanel(window);
    auto* grid = new Widget(panel);
    grid->setLayout(new GridLayout(Orientation::Horizontal, 3, Alignment::Middle, 3, 3));
    for (int i = 0; i < 18; ++i) {
        auto* cell = new Widget(grid);
        cell->setLayout(new BoxLayout(Orientation::Vertical, Alignment::Fill, 0, 0));
        const bool folder = i < 2;
        const std::string caption = folder ? "Folder " + std::to_string(i + 1)
                                           : "Look " + std::to_string(i - 1) + ".cube";
        auto* view = new LutImageView(cell, makePicture(i).release(), makeStar().release(),
                                      caption, folder ? LutImageView::kFolder : 1, i == 7);
        view->mFavorite = (i % 4 == 3);
        view->mSelectCallback = [status](std::string item) {
            status->setCaption(item.empty() ? "nothing selected" : "selected " + item);
        };
        view->mRightClickCallback = [view] { view->mFavorite = !view->mFavorite; };
        view->mDoubleClickCallback = [window, screen, status] {
            // As the gallery does: the grid is rebuilt after the click, which
            // the toolkit is still handling.
            screen->defer([window, screen, status] { buildGrid(window, screen, status); });
        };
        auto* label = new Label(cell, caption, "sans");
        label->setFixedWidth(screen->width() / 4);
    }
    screen->performLayout();
}

}  // namespace

int main(int argc, char** argv) {
    std::string shot;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--shot") shot = argv[i + 1];

    nanogui::init();
    {
        ref<LutScreen> screen = new LutScreen(Vector2i(1000, 700), "LUT Manager");
        auto* window = new LutWindow(screen.get(), "");
        window->setLayout(new BoxLayout(Orientation::Vertical, Alignment::Minimum, 5, 5));
        window->setPosition(Vector2i(0, 0));
        window->setSize(screen->size());

        auto* toolbar = new Widget(window);
        toolbar->setLayout(new BoxLayout(Orientation::Horizontal, Alignment::Middle, 10, 10));
        auto* up = new LutButton(toolbar, "", ENTYPO_ICON_ARROW_BOLD_LEFT);
        up->setFixedWidth(50);
        auto* path = new LutTextBox(toolbar, "/home/me/LUTs/Film", false);
        path->setFixedWidth(400);
        path->setEnabled(false);
        new LutButton(toolbar, "", ENTYPO_ICON_FOLDER);
        auto* favourite = new LutButton(toolbar, "", ENTYPO_ICON_STAR);
        auto* password = new LutTextBox(toolbar, "secret", true);
        password->setEditable(true);
        password->setFixedWidth(120);
        auto* status = new Label(toolbar, "Shift-click the star", "sans");
        favourite->setCallback([status] { status->setCaption("go to favourite folder"); });
        favourite->setShiftCallback([status] { status->setCaption("favourite folder set"); });

        buildGrid(window, screen.get(), status);
        screen->setVisible(true);

        if (!shot.empty()) {
            // Thumbnails size themselves in their first draw; the second one
            // shows the settled layout.
            drawall();
            screen->performLayout();
            auto* panel = dynamic_cast<LutScrollPanel*>(window->childAt(1));
            if (panel) panel->scrollToCurrent();
            drawall();
            Capture capture = captureScreen(*screen);
            unsigned error = lodepng::encode(shot, capture.rgba, unsigned(capture.width),
                                             unsigned(capture.height));
            if (error) std::fprintf(stderr, "cannot write %s: %s\n", shot.c_str(),
                                    lodepng_error_text(error));
        } else {
            while (drawall()) {
                glfwWaitEventsTimeout(0.05);
                screen->runDeferred();
            }
        }
    }
    nanogui::shutdown();
    return 0;
}
