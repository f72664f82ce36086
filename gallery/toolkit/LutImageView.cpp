#include "gallery/toolkit/Toolkit.h"
#include "gallery/toolkit/ToolkitGeometry.h"

#include <nanogui/theme.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

namespace nanogui {

using namespace geometry;

namespace {

// The view that carries the pick frame. Only compared with a view's own
// address, never followed; a view clears it when it goes away.
LutImageView* pickedLut = nullptr;

LutImageView::Clock& clickClock() {
    static LutImageView::Clock clock = &LutImageView::systemClockUs;
    return clock;
}

// Time of the last counted left release on any thumbnail: a release on one
// view and then on another counts as a double click on the second.
std::optional<std::int64_t>& lastRelease() {
    static std::optional<std::int64_t> before;
    return before;
}

// The picture's first data row is its bottom row (frames arrive bottom-up).
constexpr const char* kVertexShader = R"glsl(#version 330
uniform vec2 scaleFactor;
uniform vec2 position;
in vec2 vertex;
out vec2 uv;
void main() {
    uv = vec2(vertex.x, 1.0 - vertex.y);
    vec2 scaledVertex = (vertex * scaleFactor) + position;
    gl_Position = vec4(2.0 * scaledVertex.x - 1.0, 1.0 - 2.0 * scaledVertex.y, 0.0, 1.0);
}
)glsl";

constexpr const char* kFragmentShader = R"glsl(#version 330
uniform sampler2D image;
out vec4 color;
in vec2 uv;
void main() {
    color = texture(image, uv);
}
)glsl";

Vector2i textureSize(GLuint texture) {
    GLint w = 0, h = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    glBindTexture(GL_TEXTURE_2D, 0);
    return Vector2i(w, h);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

// The image program, freed with its last user (while that user's context is
// current, as every view's textures need too).
struct ImageProgram {
    struct Shader : GLShader {
        GLuint programId() const { return mProgramShader; }
    } shader;
    ImageProgram() = default;
    ImageProgram(const ImageProgram&) = delete;
    ImageProgram& operator=(const ImageProgram&) = delete;
    ~ImageProgram() { shader.free(); }
};

namespace {

// The image program of the current context, made on first use.
std::shared_ptr<ImageProgram> sharedImageProgram() {
    static std::map<GLFWwindow*, std::weak_ptr<ImageProgram>> programs;
    GLFWwindow* context = glfwGetCurrentContext();
    if (std::shared_ptr<ImageProgram> program = programs[context].lock()) return program;
    for (auto it = programs.begin(); it != programs.end();)
        it = it->second.expired() ? programs.erase(it) : std::next(it);

    auto program = std::make_shared<ImageProgram>();
    GLShader& shader = program->shader;
    shader.init("ImageViewShader", kVertexShader, kFragmentShader);
    MatrixXu indices(3, 2);
    indices.col(0) << 0, 1, 2;
    indices.col(1) << 2, 3, 1;
    MatrixXf vertices(2, 4);
    vertices.col(0) << 0, 0;
    vertices.col(1) << 1, 0;
    vertices.col(2) << 0, 1;
    vertices.col(3) << 1, 1;
    shader.bind();
    shader.uploadIndices(indices);
    shader.uploadAttrib("vertex", vertices);
    programs[context] = program;
    return program;
}

// The screen that shows this widget, through its window, or null.
Screen* hostScreen(Widget* widget) {
    Widget* w = widget;
    while (w && !dynamic_cast<Window*>(w)) w = w->parent();
    return w ? dynamic_cast<Screen*>(w->parent()) : nullptr;
}

}  // namespace

std::int64_t LutImageView::systemClockUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void LutImageView::setClock(Clock clock) {
    clickClock() = clock ? std::move(clock) : Clock(&LutImageView::systemClockUs);
    lastRelease().reset();
}

LutImageView::LutImageView(Widget* parent, GLuint imageID, GLuint overlayID, std::string caption,
                           int kind, bool picked)
    : LutImageView(parent, std::make_shared<const GlTexture>(imageID), std::make_shared<const GlTexture>(overlayID),
                   std::move(caption), kind, picked) {}

LutImageView::LutImageView(Widget* parent, std::shared_ptr<const GlTexture> image,
                           std::shared_ptr<const GlTexture> overlay, std::string caption, int kind, bool picked)
    : Widget(parent), mKind(kind), mCaption(std::move(caption)),
      mImage(image ? std::move(image) : std::make_shared<const GlTexture>()),
      mOverlay(overlay ? std::move(overlay) : std::make_shared<const GlTexture>()) {
    if (picked) {
        mPicked = true;
        pickedLut = this;
    } else if (parent && parent->parent() && parent->parent()->childCount() <= 1) {
        // First cell of a new grid: a frame from an earlier grid must go.
        pickedLut = nullptr;
    }
    updateImageParameters();
    mProgram = sharedImageProgram();
}

LutImageView::~LutImageView() {
    if (pickedLut == this) pickedLut = nullptr;
    // mProgram, mImage and mOverlay free their GL objects with their last user.
}

GLuint LutImageView::imageProgram() const { return mProgram->shader.programId(); }

bool LutImageView::isPicked() const { return pickedLut == this; }

bool LutImageView::mouseButtonEvent(const Vector2i& p, int button, bool down, int) {
    // Handlers may rebuild the grid and so remove this view: keep it alive
    // until we return, and let no stale widget stay on the focus path.
    ref<LutImageView> self = this;
    auto prepareForHandler = [this] {
        if (LutScreen* screen = LutScreen::of(this)) screen->clearFocusPath();
    };

    if (button == GLFW_MOUSE_BUTTON_RIGHT) {
        // The toolkit hands a release to the widget a drag began on as well as
        // to the one under the pointer (p is in the parent's coordinates, as
        // contains() takes them): a press here and a release here is a click,
        // a drag from one view to another is a click on neither.
        const bool pressedHere = mRightPressed;
        mRightPressed = down && mRightClickCallback && contains(p);
        if (down || !pressedHere || !contains(p) || !mRightClickCallback) return false;
        std::function<void()> rightClick = mRightClickCallback;
        prepareForHandler();
        rightClick();
        return true;
    }
    if (button != GLFW_MOUSE_BUTTON_LEFT || !mDoubleClickCallback || down) return false;

    std::function<void()> activate = mDoubleClickCallback;
    if (mKind == kFolder || mKind == kIconLink) {
        prepareForHandler();
        activate();
        return true;
    }

    std::function<void(std::string)> select = mSelectCallback;
    prepareForHandler();
    if (pickedLut == this) {
        if (select) select("");
        pickedLut = nullptr;
    } else {
        if (select) select(mCaption);
        pickedLut = this;
    }

    const std::int64_t now = clickClock()();
    const std::int64_t before = lastRelease().value_or(now);
    lastRelease() = now;
    if (isDoubleClickGap(clickGapMs(now, before))) activate();
    return true;
}

Vector2i LutImageView::preferredSize(NVGcontext*) const { return mSize; }

void LutImageView::performLayout(NVGcontext* ctx) {
    Widget::performLayout(ctx);
    mOffset = centredOffset(mSize, mImageSize, mScale);
}

bool LutImageView::followWindow() {
    Screen* screen = hostScreen(this);
    if (!screen || !screen->glfwWindow()) return false;
    int winW = 0, winH = 0;
    glfwGetWindowSize(screen->glfwWindow(), &winW, &winH);
    mScale = thumbnailScale(winW, mImageSize.x());
    const Vector2i size = thumbnailViewSize(mImageSize, mScale);
    setSize(size);
    if (size == mLastSize) return false;
    mLastSize = size;
    return true;
}

void LutImageView::draw(NVGcontext* ctx) {
    Screen* screen = hostScreen(this);
    if (!screen || !screen->glfwWindow()) return;
    // The grid follows the window: lay the whole screen out again.
    if (followWindow()) screen->performLayout(screen->nvgContext());

    Widget::draw(ctx);
    nvgEndFrame(ctx);  // what NanoVG drew so far goes below the picture
    drawImageBorder(ctx);

    const Vector2i screenSize = screen->size();
    const Vector2i absolute = absolutePosition();
    const Vector2f picturePos = absolute.cast<float>() + mOffset;
    // NanoVG's own blending: the transparent ground of folder icons and of
    // the mark shows the window behind them.
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    drawQuad(mImage->get(), 0, mImageSize.cast<float>() * mScale, picturePos, screenSize);
    if (mFavorite)
        drawQuad(mOverlay->get(), 1, favouriteMarkSize(mOverlaySize, mScale),
                 absolute.cast<float>() + mOverlayOffset, screenSize);
    glActiveTexture(GL_TEXTURE0);

    if (helpersVisible()) drawHelpers(ctx);
    drawWidgetBorder(ctx);
}

void LutImageView::drawQuad(GLuint texture, int unit, const Vector2f& scaledSize,
                            const Vector2f& position, const Vector2i& screenSize) {
    Screen* screen = hostScreen(this);
    const float ratio = screen ? screen->pixelRatio() : 1.0f;
    // The view's rectangle, cut to the scroll panels it sits in: a thumbnail
    // scrolled out of its panel must not paint over the toolbar.
    Vector2i clipPos = absolutePosition(), clipSize = mSize;
    for (Widget* w = parent(); w; w = w->parent())
        if (dynamic_cast<VScrollPanel*>(w))
            intersectRect(clipPos, clipSize, w->absolutePosition(), w->size());
    if (clipSize.x() <= 0 || clipSize.y() <= 0) return;
    const ScissorBox box = viewScissor(clipPos, clipSize, screenSize.y(), ratio);
    const Vector2f screenF = screenSize.cast<float>().cwiseMax(Vector2f(1, 1));

    glEnable(GL_SCISSOR_TEST);
    glScissor(box.x, box.y, box.w, box.h);
    mProgram->shader.bind();
    glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(GL_TEXTURE_2D, texture);
    mProgram->shader.setUniform("image", unit);
    mProgram->shader.setUniform("scaleFactor", Vector2f(scaledSize.cwiseQuotient(screenF)));
    mProgram->shader.setUniform("position", Vector2f(position.cwiseQuotient(screenF)));
    mProgram->shader.drawIndexed(GL_TRIANGLES, 0, 2);
    glDisable(GL_SCISSOR_TEST);
}

void LutImageView::drawImageBorder(NVGcontext* ctx) const {
    const bool picked = isPicked();
    const StrokeRect frame = pictureFrame(mPos, mOffset, mImageSize, mScale, picked);
    nvgSave(ctx);
    nvgBeginPath(ctx);
    // Intersect rather than replace: the frame of a view scrolled out of its
    // panel stays inside the panel, like the picture.
    nvgIntersectScissor(ctx, mPos.x(), mPos.y(), mSize.x(), mSize.y());
    nvgStrokeWidth(ctx, frame.strokeWidth);
    nvgRect(ctx, frame.x, frame.y, frame.w, frame.h);
    nvgStrokeColor(ctx, picked ? nvgRGBAf(1, 1, 1, 1) : nvgRGBAf(0, 0, 0, 1));
    nvgStroke(ctx);
    nvgRestore(ctx);
}

void LutImageView::drawWidgetBorder(NVGcontext* ctx) const {
    nvgBeginPath(ctx);
    nvgStrokeWidth(ctx, 1);
    nvgRoundedRect(ctx, mPos.x() + 0.5f, mPos.y() + 0.5f, mSize.x() - 1, mSize.y() - 1, 0);
    nvgStrokeColor(ctx, mTheme->mWindowPopup);
    nvgStroke(ctx);

    nvgBeginPath(ctx);
    nvgRoundedRect(ctx, mPos.x() + 0.5f, mPos.y() + 0.5f, mSize.x() - 1, mSize.y() - 1,
                   mTheme->mButtonCornerRadius);
    nvgStrokeColor(ctx, mTheme->mBorderDark);
    nvgStroke(ctx);
}

// ---- image-view operations ---------------------------------------------------

void LutImageView::updateImageParameters() {
    mImageSize = textureSize(mImage->get());
    mOverlaySize = textureSize(mOverlay->get());
}

void LutImageView::bindImage(GLuint imageId) {
    mImage = std::make_shared<const GlTexture>(imageId);
    updateImageParameters();
    fit();
}

Vector2f LutImageView::imageCoordinateAt(const Vector2f& position) const {
    return (position - mOffset) / mScale;
}

Vector2f LutImageView::clampedImageCoordinateAt(const Vector2f& position) const {
    return imageCoordinateAt(position).cwiseMax(Vector2f::Zero()).cwiseMin(
        mImageSize.cast<float>());
}

Vector2f LutImageView::positionForCoordinate(const Vector2f& imageCoordinate) const {
    return mScale * imageCoordinate + mOffset;
}

void LutImageView::setImageCoordinateAt(const Vector2f& position,
                                        const Vector2f& imageCoordinate) {
    mOffset = position - imageCoordinate * mScale;
    mOffset = mOffset.cwiseMin(mSize.cast<float>());
    mOffset = mOffset.cwiseMax(-(mImageSize.cast<float>() * mScale));
}

void LutImageView::center() {
    mOffset = (mSize.cast<float>() - mImageSize.cast<float>() * mScale) / 2;
}

void LutImageView::fit() {
    if (mImageSize.x() > 0 && mImageSize.y() > 0)
        mScale = mSize.cast<float>().cwiseQuotient(mImageSize.cast<float>()).minCoeff();
    center();
}

void LutImageView::setScaleCentered(float scale) {
    const Vector2f centrePosition = mSize.cast<float>() / 2;
    const Vector2f p = imageCoordinateAt(centrePosition);
    mScale = scale;
    setImageCoordinateAt(centrePosition, p);
}

void LutImageView::moveOffset(const Vector2f& delta) {
    mOffset += delta;
    const Vector2f scaled = mImageSize.cast<float>() * mScale;
    mOffset = mOffset.cwiseMax(-scaled).cwiseMin(mSize.cast<float>());
}

void LutImageView::zoom(int amount, const Vector2f& focusPosition) {
    const Vector2f focused = imageCoordinateAt(focusPosition);
    mScale = std::max(0.01f, std::pow(mZoomSensitivity, float(amount)) * mScale);
    setImageCoordinateAt(focusPosition, focused);
}

bool LutImageView::gridVisible() const { return mGridThreshold != -1 && mScale > mGridThreshold; }

bool LutImageView::pixelInfoVisible() const {
    return mPixelInfoCallback && mPixelInfoThreshold != -1 && mScale > mPixelInfoThreshold;
}

bool LutImageView::helpersVisible() const { return gridVisible() || pixelInfoVisible(); }

void LutImageView::drawHelpers(NVGcontext* ctx) const {
    const Vector2f origin = mPos.cast<float>();
    const Vector2f upperLeft = positionForCoordinate(Vector2f::Zero()) + origin;
    const Vector2f lowerRight = positionForCoordinate(mImageSize.cast<float>()) + origin;
    if (gridVisible()) drawPixelGrid(ctx, upperLeft, lowerRight, mScale);
    if (pixelInfoVisible()) drawPixelInfo(ctx, mScale);
}

void LutImageView::drawPixelGrid(NVGcontext* ctx, const Vector2f& upperLeftCorner,
                                 const Vector2f& lowerRightCorner, float stride) {
    if (stride <= 0) return;
    nvgBeginPath(ctx);
    for (float x = upperLeftCorner.x(); x <= lowerRightCorner.x(); x += stride) {
        nvgMoveTo(ctx, std::round(x), std::round(upperLeftCorner.y()));
        nvgLineTo(ctx, std::round(x), std::round(lowerRightCorner.y()));
    }
    for (float y = upperLeftCorner.y(); y <= lowerRightCorner.y(); y += stride) {
        nvgMoveTo(ctx, std::round(upperLeftCorner.x()), std::round(y));
        nvgLineTo(ctx, std::round(lowerRightCorner.x()), std::round(y));
    }
    nvgStrokeWidth(ctx, 1.0f);
    nvgStrokeColor(ctx, nvgRGBAf(1, 1, 1, 0.2f));
    nvgStroke(ctx);
}

void LutImageView::drawPixelInfo(NVGcontext* ctx, float stride) const {
    Vector2i topLeft = clampedImageCoordinateAt(Vector2f::Zero())
                           .unaryExpr([](float x) { return std::floor(x); })
                           .cast<int>();
    const Vector2i bottomRight = clampedImageCoordinateAt(mSize.cast<float>())
                                     .unaryExpr([](float x) { return std::ceil(x); })
                                     .cast<int>();
    Vector2f cell = mPos.cast<float>() + positionForCoordinate(topLeft.cast<float>());
    const float firstX = cell.x();
    const int firstIndex = topLeft.x();
    const float fontSize = std::min(stride * mFontScaleFactor, 30.0f);

    nvgBeginPath(ctx);
    nvgFontSize(ctx, fontSize);
    nvgTextAlign(ctx, NVG_ALIGN_CENTER | NVG_ALIGN_TOP);
    nvgFontFace(ctx, "sans");
    for (; topLeft.y() < bottomRight.y(); ++topLeft.y()) {
        for (; topLeft.x() < bottomRight.x(); ++topLeft.x()) {
            writePixelInfo(ctx, cell, topLeft, stride, fontSize);
            cell.x() += stride;
        }
        cell.x() = firstX;
        cell.y() += stride;
        topLeft.x() = firstIndex;
    }
}

void LutImageView::writePixelInfo(NVGcontext* ctx, const Vector2f& cellPosition,
                                  const Vector2i& pixel, float stride, float fontSize) const {
    const auto info = mPixelInfoCallback(pixel);
    const std::vector<std::string> rows = splitLines(info.first);
    if (rows.empty()) return;
    nvgFillColor(ctx, info.second);
    float yOffset = (stride - fontSize * rows.size()) / 2;
    for (const std::string& row : rows) {
        nvgText(ctx, cellPosition.x() + stride / 2, cellPosition.y() + yOffset, row.c_str(),
                nullptr);
        yOffset += fontSize;
    }
}

}  // namespace nanogui
