#include "host/HostRender.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "lut/LocalLutPath.h"
#include "platform/cgl/CGL.h"
#include "platform/cgl/GLObjects.h"
#include "platform/nfd/nfd.h"
#include "plugin/FxQuillaneInspection.h"

namespace host {
namespace {

namespace gl = quillane::gl;

// An output strip of about this many bytes: 8-bit frames up to 1080p draw in
// one strip, float ones in a few.
constexpr std::size_t kStripBytes = 8u << 20;

// The texture format and transfer type of each kind of frame. 16-bit frames
// stay 16-bit on the GPU: the effect samples them as floats all the same.
struct PixelFormat {
    GLenum internal, type;
};
PixelFormat formatOf(const Frame& f) {
    if (!f.isFloat) return {GL_RGBA8, GL_UNSIGNED_BYTE};
    return f.sixteen ? PixelFormat{GL_RGBA16, GL_UNSIGNED_SHORT} : PixelFormat{GL_RGBA32F, GL_FLOAT};
}

}  // namespace

int stripRowsFor(int width, int height, std::size_t bytesPerPixel) {
    if (width <= 0 || height <= 0) return 0;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    const std::size_t rows = std::max<std::size_t>(1, kStripBytes / rowBytes);
    return static_cast<int>(std::min<std::size_t>(rows, static_cast<std::size_t>(height)));
}

// The input texture and the output strip with its framebuffer, kept while
// frames keep their size and kind.
struct Renderer::Targets {
    int width = 0, height = 0, stripRows = 0;
    GLenum internal = 0;
    gl::Texture input, output;
    gl::Framebuffer framebuffer;
};

std::unique_ptr<Renderer> Renderer::create(std::string* error) {
    auto context = HeadlessGLContext::create(error);
    if (!context) return nullptr;
    std::unique_ptr<Renderer> renderer(new Renderer(std::move(context)));
    if (!renderer->context_->makeCurrent()) {
        if (error) *error = "the OpenGL context cannot be made current";
        return nullptr;
    }
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &renderer->maxTextureSize_);
    return renderer;
}

Renderer::Renderer(std::unique_ptr<HeadlessGLContext> context) : context_(std::move(context)) {}

Renderer::~Renderer() {
    // The GL names belong to our context: delete them there.
    if (targets_ && !context_->makeCurrent()) {
        targets_->input.release();
        targets_->output.release();
        targets_->framebuffer.release();
    }
    targets_.reset();
}

bool Renderer::prepareTargets(const Frame& in, int stripRows, std::string* error) {
    Targets* t = targets_.get();
    const PixelFormat format = formatOf(in);
    if (t && t->width == in.width && t->height == in.height && t->internal == format.internal &&
        t->stripRows == stripRows)
        return true;
    targets_.reset();  // a new size: the old textures go before the new ones take memory
    auto made = std::make_unique<Targets>();
    made->width = in.width, made->height = in.height, made->stripRows = stripRows, made->internal = format.internal;
    const GLenum internal = format.internal, type = format.type;
    made->input = gl::makeTexture();
    glBindTexture(GL_TEXTURE_2D, made->input.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, internal, in.width, in.height, 0, GL_RGBA, type, nullptr);
    made->output = gl::makeTexture();
    glBindTexture(GL_TEXTURE_2D, made->output.get());
    glTexImage2D(GL_TEXTURE_2D, 0, internal, in.width, stripRows, 0, GL_RGBA, type, nullptr);
    made->framebuffer = gl::makeFramebuffer();
    glBindFramebuffer(GL_FRAMEBUFFER, made->framebuffer.get());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, made->output.get(), 0);
    if (glGetError() != GL_NO_ERROR || glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        if (error) *error = "the output texture cannot be rendered into";
        return false;
    }
    ++targetsMade_;
    targets_ = std::move(made);
    return true;
}

bool Renderer::draw(EffectInstance& instance, const Frame& in, void* result, std::string* error) {
    if (in.width <= 0 || in.height <= 0 || in.valueCount() < in.pixelCount() * 4) {
        if (error) *error = "the frame is empty";
        return false;
    }
    if (!context_->makeCurrent()) {
        if (error) *error = "the OpenGL context cannot be made current";
        return false;
    }
    if (in.width > maxTextureSize_ || in.height > maxTextureSize_) {
        if (error) *error = "the frame is larger than the driver's textures";
        return false;
    }
    const int stripRows = stripRowsFor(in.width, in.height, in.bytesPerPixel());
    if (!prepareTargets(in, stripRows, error)) return false;
    Targets& t = *targets_;
    const GLenum type = formatOf(in).type;
    const unsigned depth = in.isFloat ? kFxDepth_FLOAT32 : kFxDepth_UINT8;

    // The file's rows go up as they are, first row in texture row 0, and come
    // back the same way: the effect grades each pixel by itself, so the image
    // lying upside down in the texture changes nothing and needs no flip.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, t.input.get());
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, in.width, in.height, GL_RGBA, type, in.data());
    glBindTexture(GL_TEXTURE_2D, 0);

    FxTexture inputImage(t.input.get(), GL_TEXTURE_2D, in.width, in.height, depth);
    FxTexture outputImage(t.output.get(), GL_TEXTURE_2D, in.width, stripRows, depth);
    FxRenderInfo info;
    info.time = fxTimeAtFrame(0);
    info.depth = depth;
    const std::size_t rowBytes = static_cast<std::size_t>(in.width) * in.bytesPerPixel();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int y = 0; y < in.height; y += stripRows) {
        const int rows = std::min(stripRows, in.height - y);
        // The strip is rows y .. y + rows of the input, drawn at the bottom of the output texture.
        inputImage.setTextureCoords(0, in.width, y, y + rows);
        outputImage.setTextureCoords(0, in.width, 0, rows);
        if (!renderThroughEffect(instance, outputImage, inputImage, info)) {
            if (error) *error = "the effect did not render the frame";
            return false;
        }
        glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer.get());
        glReadPixels(0, 0, in.width, rows, GL_RGBA, type, static_cast<unsigned char*>(result) + y * rowBytes);
    }
    if (glGetError() != GL_NO_ERROR) {
        if (error) *error = "the OpenGL driver failed the render";
        return false;
    }
    return true;
}

bool renderThroughEffect(EffectInstance& instance, FxTexture& output, const FxTexture& input,
                         const FxRenderInfo& info) {
    bool rendered = false;
    instance.callback([&](FxFilter& effect) {
        bool hardware = false, software = false;
        effect.frameSetup(info, input.imageInfo(), &hardware, &software);
        rendered = hardware && effect.renderOutput(output, input, info);
        effect.frameCleanup();
        return 0;
    });
    return rendered;
}

bool Renderer::renderInPlace(EffectInstance& instance, Frame& frame, std::string* error) {
    // Each strip is read back only after the whole input is in its texture.
    return draw(instance, frame, frame.data(), error);
}

bool Renderer::render(EffectInstance& instance, const Frame& in, Frame* out, std::string* error) {
    if (out == &in) return renderInPlace(instance, *out, error);
    Frame result;
    result.width = in.width, result.height = in.height, result.isFloat = in.isFloat, result.sixteen = in.sixteen;
    result.allocate();
    if (!draw(instance, in, result.data(), error)) {
        *out = in;
        return false;
    }
    *out = std::move(result);
    return true;
}

bool chooseLutFile(EffectInstance& instance, const std::string& path, std::string* error) {
    // The effect module carries its own copy of the dialog code: the scripted
    // answer reaches it through the environment, which is restored afterwards.
    const char* before = std::getenv(nfd::kAnswerVariable);
    const std::optional<std::string> previous = before ? std::optional<std::string>(before) : std::nullopt;
    ::setenv(nfd::kAnswerVariable, nfd::scriptedOkay(path).c_str(), 1);
    const bool pressed = instance.pressButton(4);
    if (previous)
        ::setenv(nfd::kAnswerVariable, previous->c_str(), 1);
    else
        ::unsetenv(nfd::kAnswerVariable);
    if (!pressed) {
        if (error) *error = "the effect has no Choose LUT File button";
        return false;
    }
    // The effect keeps its current LUT when the file gives none.
    const FxQuillaneInspection* state = instance.inspection();
    if (state && (!state->currentLut().isLoaded() || state->currentName() != path)) {
        const std::string reason = lutRefusalReason(path);
        if (error) *error = path + ": " + (reason.empty() ? "not a LUT file this effect reads" : reason);
        return false;
    }
    return true;
}

}  // namespace host
