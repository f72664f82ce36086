// Real X events: the mouse double-clicks a thumbnail through the window
// system and the LUT Manager's own modal loop, and the LUT is chosen.
#include <atomic>
#include <chrono>
#include <thread>

#include "GalleryTestEnv.h"
#include "XMouse.h"

using namespace nanogui;

namespace gallery_test {
namespace {

using RealInput = GalleryTest;

TEST_F(RealInput, ADoubleClickWithTheMouseChoosesALut) {
    LutImageView::setClock(nullptr);  // the system clock times real clicks
    const std::string dir = folder("mouse");
    writeCube(dir + "/one.cube", 2, 1, 1, 1);
    writeCube(dir + "/two.cube", 2, 0.5f, 1, 1);

    XMouse mouse;
    const auto begin = std::chrono::steady_clock::now();
    gallery->onTurn = [&] {
        if (LutImageView* view = viewOf(dir + "/two.cube")) mouse.aimAt(*gallery->screen, *view);
        if (std::chrono::steady_clock::now() - begin > std::chrono::seconds(20)) gallery->stop();  // never hang
    };
    std::thread user([&] { mouse.doubleClickWhenAimed(); });
    gallery->start(dir + "/none.cube");
    user.join();
    EXPECT_EQ(deliveredFiles, std::vector<std::string>{dir + "/two.cube"});
}

}  // namespace
}  // namespace gallery_test
