// The scroll panel's wheel, height and scrollToCurrent on real widgets; the
// text box's password mask, clipboard and fill colours by pixel.
#include "ToolkitFixture.h"

#include <stdexcept>

using namespace nanogui;
using namespace toolkit_test;

TEST_F(GalleryToolkitTest, ScrollPanelWheelHeightAndGutter) {
    auto* panel = new LutScrollPanel(window);
    auto* content = new Widget(panel);
    content->setFixedSize(Vector2i(280, 1000));
    content->setSize(Vector2i(280, 1000));
    EXPECT_EQ(panel->preferredSize(screen->nvgContext()), Vector2i(300, 1000));
    screen->performLayout();

    panel->setSize(Vector2i(300, 500));
    panel->performLayout(screen->nvgContext());
    EXPECT_EQ(panel->childPreferredHeight(), 1000);
    EXPECT_EQ(content->width(), 280);  // 20-pixel gutter
    panel->setScroll(0.5f);
    EXPECT_TRUE(panel->scrollEvent(Vector2i(10, 10), Vector2f(0, 1)));
    EXPECT_NEAR(panel->scroll(), 0.5f - 12.5f / 242.0f, 1e-5);

    drawall();  // the height comes from the 700-pixel native window
    EXPECT_EQ(panel->height(), 623);

    new Widget(panel);
    EXPECT_THROW(panel->performLayout(screen->nvgContext()), std::runtime_error);
}

TEST_F(GalleryToolkitTest, ScrollToCurrentOnRealGrids) {
    Grid g = addGrid(30, 14, {8, 8});
    EXPECT_TRUE(g.panel->scrollToCurrent());
    EXPECT_NEAR(g.panel->scroll(), 2.5f / 7.0f, 1e-6);

    g = addGrid(11, 9, {8, 8});
    EXPECT_FALSE(g.panel->scrollToCurrent());

    g = addGrid(12, 9, {8, 8});
    EXPECT_TRUE(g.panel->scrollToCurrent());
    EXPECT_FLOAT_EQ(g.panel->scroll(), 1.0f);

    g = addGrid(12, -1, {8, 8});
    g.panel->setScroll(0.25f);
    g.views[4]->mDoubleClickCallback = [] {};
    EXPECT_FALSE(g.panel->scrollToCurrent());  // nothing built as current
    EXPECT_FLOAT_EQ(g.panel->scroll(), 0.25f);

    auto* empty = new LutScrollPanel(window);
    EXPECT_FALSE(empty->scrollToCurrent());
}

namespace {

// The pixels of a widget's rectangle.
std::vector<Vector4i> crop(const Capture& shot, const Widget* w) {
    std::vector<Vector4i> out;
    const Vector2i p = w->absolutePosition();
    for (int y = 0; y < w->height(); ++y)
        for (int x = 0; x < w->width(); ++x) out.push_back(shot.at(p.x() + x, p.y() + y));
    return out;
}

}  // namespace

TEST_F(GalleryToolkitTest, PasswordBoxShowsOneStarPerByteAndNoPlaceholder) {
    toolbar->setLayout(new BoxLayout(Orientation::Vertical, Alignment::Minimum, 10, 10));
    auto* secret = addTextBox("abc", true);
    auto* stars = addTextBox("***");
    auto* emptySecret = addTextBox("", true);
    emptySecret->setPlaceholder("type here");
    auto* emptyPlain = addTextBox("");
    auto* utf = addTextBox("\xc3\xa9t\xc3\xa9", true);  // three characters, five bytes
    auto* fiveStars = addTextBox("*****");
    screen->performLayout();

    Capture shot = captureScreen(*screen);
    EXPECT_EQ(crop(shot, secret), crop(shot, stars));
    EXPECT_EQ(crop(shot, emptySecret), crop(shot, emptyPlain));
    EXPECT_EQ(crop(shot, utf), crop(shot, fiveStars));
    EXPECT_NE(crop(shot, secret), crop(shot, emptyPlain));

    // Typed characters show as stars while editing; a click after the last
    // star puts the cursor at the end of the hidden text.
    click(centre(emptySecret));
    drawall();
    type("xyz");
    drawall();
    const Vector2i p = emptySecret->absolutePosition();
    click(Vector2i(p.x() + 190, p.y() + 15));
    drawall();
    EXPECT_EQ(emptySecret->cursor(), 3);

    // Select all and copy: the clipboard gets the hidden text.
    click(centre(emptySecret));
    drawall();
    key(GLFW_KEY_A, GLFW_PRESS, GLFW_MOD_CONTROL);
    key(GLFW_KEY_C, GLFW_PRESS, GLFW_MOD_CONTROL);
    const char* copied = glfwGetClipboardString(screen->glfwWindow());
    ASSERT_NE(copied, nullptr);
    EXPECT_STREQ(copied, "xyz");
    key(GLFW_KEY_ENTER, GLFW_PRESS);
    EXPECT_EQ(emptySecret->value(), "xyz");
}

TEST_F(GalleryToolkitTest, LongPasswordWithCursorPastTheMeasuredGlyphs) {
    auto* box = addTextBox(std::string(3000, 'q'), true);
    screen->performLayout();
    click(centre(box));
    drawall();
    key(GLFW_KEY_END, GLFW_PRESS);
    drawall();  // 3000 bytes, 1024 glyph positions: must stay in bounds
    key(GLFW_KEY_HOME, GLFW_PRESS, GLFW_MOD_SHIFT);
    drawall();
    key(GLFW_KEY_ENTER, GLFW_PRESS);
    EXPECT_EQ(box->value().size(), 3000u);
}

TEST_F(GalleryToolkitTest, TextBoxFillColoursByPixel) {
    auto* box = addTextBox("12");
    box->setFormat("[0-9]*");
    box->setAlignment(TextBox::Alignment::Left);
    screen->performLayout();
    const Vector2i p = box->absolutePosition();
    const Vector2i probe(p.x() + 190, p.y() + 15);

    Capture idle = captureScreen(*screen);
    EXPECT_EQ(idle.at(probe.x(), probe.y()).head<3>(), Vector3i(24, 24, 24));

    click(centre(box));
    Capture editing = captureScreen(*screen);
    const Vector4i e = editing.at(probe.x(), probe.y());
    const Vector4i behind = editing.at(p.x() + 100, p.y() - 4);  // the window's fill
    // Translucent white (alpha 32) over the window.
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(e[c], behind[c] + (255 - behind[c]) * 32 / 255.0, 3) << c;

    type("a");
    Capture invalid = captureScreen(*screen);
    EXPECT_EQ(invalid.at(probe.x(), probe.y()).head<3>(), Vector3i(255, 0, 0));
}
