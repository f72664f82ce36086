#pragma once
// The LUT Manager's widgets. The toolkit is used as Debian ships it (a shared
// library we cannot edit), so each changed widget is our own class derived
// from the toolkit's:
//   LutScreen      <- nanogui::Screen       (drawn by nanogui::drawall, keys to every widget)
//   LutWindow      <- nanogui::Window       (fills its native window, no shadow, no drag)
//   LutScrollPanel <- nanogui::VScrollPanel (20 px gutter, scaled wheel, scrollToCurrent)
//   LutButton      <- nanogui::Button       (Shift-click callback)
//   LutTextBox     <- nanogui::TextBox      (password mask, own fill colours)
//   LutImageView   <- nanogui::Widget, after nanogui::ImageView (the gallery thumbnail)
#include "gallery/toolkit/GlTexture.h"

#include <nanogui/button.h>
#include <nanogui/glutil.h>
#include <nanogui/layout.h>
#include <nanogui/screen.h>
#include <nanogui/textbox.h>
#include <nanogui/vscrollpanel.h>
#include <nanogui/window.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace nanogui {

// Draws every LutScreen once, in the order they were made. False when there
// is none, or when a screen is hidden or its native window was asked to close
// (that screen is then hidden). A call made while one runs returns true and
// draws nothing.
bool drawall();

// Hands a key event to every widget below root (root itself excluded), in
// child order, whatever their focus or visibility. The tree may change under
// a handler: each level walks a referenced copy of its child list.
void broadcastKey(Widget* root, int key, int scancode, int action, int modifiers);

// Removes children of parent, the last first, until `keep` are left. The
// screen's focus path is cleared first, so that it never points at a removed
// widget.
void removeTrailingChildren(Widget* parent, int keep);

// Gives label the fixed width and, as its caption, text as far as it shows
// on one line of that width in the label's font: a cut one ends in "…".
// However long a name is, its caption takes one line.
void setFittedCaption(Label* label, NVGcontext* ctx, const std::string& text, int width);

class LutScreen : public Screen {
public:
    LutScreen(const Vector2i& size, const std::string& caption, bool resizable = true,
              bool fullscreen = false, int colorBits = 8, int alphaBits = 8, int depthBits = 24,
              int stencilBits = 8, int nSamples = 0, unsigned int glMajor = 3,
              unsigned int glMinor = 3);
    // Releases the widgets (and their textures) with this screen's context
    // current, before the toolkit destroys that context.
    ~LutScreen() override;

    // Every key to every widget; always false.
    bool keyboardEvent(int key, int scancode, int action, int modifiers) override;

    // Unfocuses and forgets the focus path. Call before removing widgets that
    // may be on it.
    void clearFocusPath();

    // The LutScreen that widget belongs to, or null.
    static LutScreen* of(Widget* widget);

    // Work that removes or replaces widgets, asked for while a mouse or key
    // event is being handled: the toolkit still reads the widgets under the
    // pointer after the handler returns, so the work waits for
    // runDeferred(), which the owner of the event loop calls between two
    // turns. Work runs in the order asked.
    void defer(std::function<void()> work);
    // Runs the work deferred so far (work that it defers waits for the next
    // call). An exception that leaves one piece of work is written to
    // standard error, as the toolkit does for its event handlers.
    void runDeferred();
    bool hasDeferred() const { return !mDeferred.empty(); }

private:
    std::vector<std::function<void()>> mDeferred;
};

class LutWindow : public Window {
public:
    explicit LutWindow(Widget* parent, const std::string& title = "") : Window(parent, title) {}

    void draw(NVGcontext* ctx) override;
    bool mouseButtonEvent(const Vector2i& p, int button, bool down, int modifiers) override;
    bool mouseDragEvent(const Vector2i& p, const Vector2i& rel, int button, int modifiers) override;

protected:
    void refreshRelativePlacement() override {}
};

class LutScrollPanel : public VScrollPanel {
public:
    explicit LutScrollPanel(Widget* parent) : VScrollPanel(parent) {}

    void performLayout(NVGcontext* ctx) override;
    Vector2i preferredSize(NVGcontext* ctx) const override;
    bool mouseDragEvent(const Vector2i& p, const Vector2i& rel, int button, int modifiers) override;
    bool scrollEvent(const Vector2i& p, const Vector2f& rel) override;
    void draw(NVGcontext* ctx) override;

    // Scrolls the grid (the panel's only child, items three to a row whose
    // first child is a LutImageView) to the item built as the current one.
    // True when it set the scroll position.
    bool scrollToCurrent();

    int childPreferredHeight() const { return mChildPreferredHeight; }

    // The height the panel draws at: the native window's less a ninth, less
    // the room of the widgets that follow it in its parent's column.
    int heightInWindow(NVGcontext* ctx);
    // Puts those widgets under the panel drawn panelHeight high (its layout
    // height is its whole content's), in their order.
    void placeFollowers(int panelHeight);

private:
    std::vector<Widget*> followers() const;
    int columnSpacing() const;
};

// A vertical box layout for a column that holds a LutScrollPanel: the
// widgets after the panel go under the height it is drawn at, so that a note
// under a grid stays in the window and takes no room from the grid's layout.
class LutColumnLayout : public BoxLayout {
public:
    LutColumnLayout(Alignment alignment, int margin, int spacing)
        : BoxLayout(Orientation::Vertical, alignment, margin, spacing) {}
    void performLayout(NVGcontext* ctx, Widget* widget) const override;
};

class LutButton : public Button {
public:
    explicit LutButton(Widget* parent, const std::string& caption = "Untitled", int icon = 0)
        : Button(parent, caption, icon) {}

    void setShiftCallback(const std::function<void()>& callback) { mShiftCallback = callback; }
    std::function<void()> shiftCallback() const { return mShiftCallback; }
    bool shiftPressed() const { return mShiftPressed; }

    bool keyboardEvent(int key, int scancode, int action, int modifiers) override;
    bool mouseButtonEvent(const Vector2i& p, int button, bool down, int modifiers) override;

protected:
    bool mShiftPressed = false;
    std::function<void()> mShiftCallback;
};

class LutTextBox : public TextBox {
public:
    LutTextBox(Widget* parent, const std::string& value, bool password);

    void draw(NVGcontext* ctx) override;

protected:
    const bool mPassword;
};

struct ImageProgram;

// One item of the gallery grid: a picture (a graded frame or an icon) with an
// optional favourite mark, a frame when picked, and click actions.
class LutImageView : public Widget {
public:
    // Takes ownership of both textures, which must have level 0 defined in the
    // current context (the screen's).
    LutImageView(Widget* parent, GLuint imageID, GLuint overlayID, std::string caption, int kind,
                 bool picked);
    // The same with textures that many views share: the mark is the same
    // picture for every item of a grid, and so is the folder picture for
    // every folder.
    LutImageView(Widget* parent, std::shared_ptr<const GlTexture> image,
                 std::shared_ptr<const GlTexture> overlay, std::string caption, int kind, bool picked);
    ~LutImageView() override;

    // The gallery's item kinds (LutItemKind::Folder and LutItemKind::IconLink)
    // that a single click activates.
    static constexpr int kFolder = 2;
    static constexpr int kIconLink = -2;

    bool mouseButtonEvent(const Vector2i& p, int button, bool down, int modifiers) override;
    Vector2i preferredSize(NVGcontext* ctx) const override;
    void performLayout(NVGcontext* ctx) override;
    void draw(NVGcontext* ctx) override;

    // Whether this view carries the pick frame now.
    bool isPicked() const;
    // Takes the size that follows the native window's width (a third of it,
    // less 15 pixels, at the picture's aspect). True when the size changed
    // since the last call: the screen then needs a layout. A new grid sizes
    // its views this way before its first layout, so that their first draws
    // need none (one layout instead of one per view).
    bool followWindow();
    // The picture's texture (owned by the view, or shared with other views).
    GLuint imageTexture() const { return mImage->get(); }
    // The GL program the view draws with (one for every view of a context).
    GLuint imageProgram() const;

    // The clock that times double clicks (microseconds). Tests inject theirs;
    // setting it also forgets the previous click.
    using Clock = std::function<std::int64_t()>;
    static void setClock(Clock clock);
    static std::int64_t systemClockUs();

    // Image-view operations kept from the toolkit's ImageView.
    void bindImage(GLuint imageId);
    const Vector2i& imageSize() const { return mImageSize; }
    const Vector2i& overlaySize() const { return mOverlaySize; }
    float scale() const { return mScale; }
    void setScale(float scale) { mScale = scale > 0.01f ? scale : 0.01f; }
    const Vector2f& offset() const { return mOffset; }
    void setOffset(const Vector2f& offset) { mOffset = offset; }
    Vector2f imageCoordinateAt(const Vector2f& position) const;
    Vector2f clampedImageCoordinateAt(const Vector2f& position) const;
    Vector2f positionForCoordinate(const Vector2f& imageCoordinate) const;
    void setImageCoordinateAt(const Vector2f& position, const Vector2f& imageCoordinate);
    void center();
    void fit();
    void setScaleCentered(float scale);
    void moveOffset(const Vector2f& delta);
    void zoom(int amount, const Vector2f& focusPosition);
    bool gridVisible() const;
    bool pixelInfoVisible() const;
    bool helpersVisible() const;

    // The activate action; the gallery assigns it, with the three below.
    std::function<void()> mDoubleClickCallback;

    bool mPicked = false;  // built as the current selection; read by scrollToCurrent
    std::function<void(std::string)> mSelectCallback;
    std::function<void()> mRightClickCallback;
    int mKind;
    std::string mCaption;

private:
    // One program serves every view of a context: a program per view costs
    // the driver tens of kilobytes each, for the same two stages.
    std::shared_ptr<ImageProgram> mProgram;
    std::shared_ptr<const GlTexture> mImage;
    std::shared_ptr<const GlTexture> mOverlay;
    Vector2i mImageSize{0, 0};
    Vector2i mOverlaySize{0, 0};
    float mScale = 1.0f;
    Vector2i mLastSize{0, 0};
    Vector2f mOffset{0, 0};
    Vector2f mOverlayOffset{5, 5};
    // A right press began on this view: only its release here is a right click.
    bool mRightPressed = false;

public:
    bool mFixedScale = false;
    bool mFixedOffset = false;
    bool mFavorite = false;
    float mZoomSensitivity = 1.1f;
    float mGridThreshold = -1;
    float mPixelInfoThreshold = -1;
    std::function<std::pair<std::string, Color>(const Vector2i&)> mPixelInfoCallback;
    float mFontScaleFactor = 0.2f;

    EIGEN_MAKE_ALIGNED_OPERATOR_NEW

private:
    void updateImageParameters();
    void drawImageBorder(NVGcontext* ctx) const;
    void drawWidgetBorder(NVGcontext* ctx) const;
    void drawHelpers(NVGcontext* ctx) const;
    static void drawPixelGrid(NVGcontext* ctx, const Vector2f& upperLeftCorner,
                              const Vector2f& lowerRightCorner, float stride);
    void drawPixelInfo(NVGcontext* ctx, float stride) const;
    void writePixelInfo(NVGcontext* ctx, const Vector2f& cellPosition, const Vector2i& pixel,
                        float stride, float fontSize) const;
    void drawQuad(GLuint texture, int unit, const Vector2f& scaledSize, const Vector2f& position,
                  const Vector2i& screenSize);
};

}  // namespace nanogui
