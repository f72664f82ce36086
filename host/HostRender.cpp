#include "host/HostRender.h"

#include <lodepng.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/cgl/CGL.h"
#include "platform/cgl/GLObjects.h"
#include "platform/nfd/nfd.h"
#include "plugin/FxQuillaneInspection.h"

namespace host {
namespace {

namespace gl = quillane::gl;

// Image files list rows top first, OpenGL bottom first.
template <class T>
std::vector<T> flipRows(const std::vector<T>& rows, int width, int height) {
    std::vector<T> out(rows.size());
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y)
        std::memcpy(&out[static_cast<std::size_t>(height - 1 - y) * row], &rows[static_cast<std::size_t>(y) * row],
                    row * sizeof(T));
    return out;
}

}  // namespace

bool readPngFrame(const std::string& path, Frame* frame, std::string* error) {
    std::vector<unsigned char> file;
    if (unsigned e = lodepng::load_file(file, path)) {
        if (error) *error = path + ": " + lodepng_error_text(e);
        return false;
    }
    unsigned w = 0, h = 0;
    lodepng::State state;
    if (unsigned e = lodepng_inspect(&w, &h, &state, file.data(), file.size())) {
        if (error) *error = path + ": " + lodepng_error_text(e);
        return false;
    }
    const bool sixteen = state.info_png.color.bitdepth == 16;
    std::vector<unsigned char> pixels;
    if (unsigned e = lodepng::decode(pixels, w, h, file, LCT_RGBA, sixteen ? 16 : 8)) {
        if (error) *error = path + ": " + lodepng_error_text(e);
        return false;
    }
    Frame f;
    f.width = static_cast<int>(w);
    f.height = static_cast<int>(h);
    f.isFloat = sixteen;
    if (sixteen) {
        f.floats.resize(pixels.size() / 2);
        for (std::size_t i = 0; i < f.floats.size(); ++i)
            f.floats[i] = static_cast<float>((pixels[2 * i] << 8) | pixels[2 * i + 1]) / 65535.0f;
    } else {
        f.bytes = std::move(pixels);
    }
    *frame = std::move(f);
    return true;
}

bool writePngFrame(const std::string& path, const Frame& frame, std::string* error) {
    unsigned e = 0;
    if (frame.isFloat) {
        std::vector<unsigned char> pixels(frame.floats.size() * 2);
        for (std::size_t i = 0; i < frame.floats.size(); ++i) {
            const float v = std::fmin(std::fmax(frame.floats[i], 0.0f), 1.0f);  // NaN becomes 0
            const unsigned q = static_cast<unsigned>(std::lround(v * 65535.0f));
            pixels[2 * i] = static_cast<unsigned char>(q >> 8);
            pixels[2 * i + 1] = static_cast<unsigned char>(q & 0xff);
        }
        e = lodepng::encode(path, pixels, frame.width, frame.height, LCT_RGBA, 16);
    } else {
        e = lodepng::encode(path, frame.bytes, frame.width, frame.height, LCT_RGBA, 8);
    }
    if (e && error) *error = path + ": " + lodepng_error_text(e);
    return e == 0;
}

std::unique_ptr<Renderer> Renderer::create(std::string* error) {
    auto context = HeadlessGLContext::create(error);
    if (!context) return nullptr;
    return std::unique_ptr<Renderer>(new Renderer(std::move(context)));
}

Renderer::Renderer(std::unique_ptr<HeadlessGLContext> context) : context_(std::move(context)) {}
Renderer::~Renderer() = default;

bool Renderer::render(EffectInstance& instance, const Frame& in, Frame* out, std::string* error) {
    if (in.width <= 0 || in.height <= 0) {
        if (error) *error = "the frame is empty";
        return false;
    }
    if (!context_->makeCurrent()) {
        if (error) *error = "the OpenGL context cannot be made current";
        return false;
    }
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (in.width > maxSize || in.height > maxSize) {
        if (error) *error = "the frame is larger than the driver's textures";
        return false;
    }
    const GLenum internal = in.isFloat ? GL_RGBA32F : GL_RGBA8;
    const GLenum type = in.isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE;
    const unsigned depth = in.isFloat ? kFxDepth_FLOAT32 : kFxDepth_UINT8;

    gl::Texture input = gl::makeTexture();
    glBindTexture(GL_TEXTURE_2D, input.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (in.isFloat) {
        auto rows = flipRows(in.floats, in.width, in.height);
        glTexImage2D(GL_TEXTURE_2D, 0, internal, in.width, in.height, 0, GL_RGBA, type, rows.data());
    } else {
        auto rows = flipRows(in.bytes, in.width, in.height);
        glTexImage2D(GL_TEXTURE_2D, 0, internal, in.width, in.height, 0, GL_RGBA, type, rows.data());
    }
    gl::Texture output = gl::makeTexture();
    glBindTexture(GL_TEXTURE_2D, output.get());
    glTexImage2D(GL_TEXTURE_2D, 0, internal, in.width, in.height, 0, GL_RGBA, type, nullptr);
    gl::Framebuffer target = gl::makeFramebuffer();
    glBindFramebuffer(GL_FRAMEBUFFER, target.get());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, output.get(), 0);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        if (error) *error = "the output texture cannot be rendered into";
        return false;
    }
    glViewport(0, 0, in.width, in.height);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);

    FxTexture inputImage(input.get(), GL_TEXTURE_2D, in.width, in.height, depth);
    FxTexture outputImage(output.get(), GL_TEXTURE_2D, in.width, in.height, depth);
    FxRenderInfo info;
    info.time = fxTimeAtFrame(0);
    info.depth = depth;
    bool rendered = false;
    instance.callback([&](FxFilter& effect) {
        bool hardware = false, software = false;
        effect.frameSetup(info, inputImage.imageInfo(), &hardware, &software);
        rendered = hardware && effect.renderOutput(outputImage, inputImage, info);
        effect.frameCleanup();
        return 0;
    });
    glBindFramebuffer(GL_FRAMEBUFFER, target.get());
    *out = in;
    if (!rendered) {
        if (error) *error = "the effect did not render the frame";
        return false;
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (in.isFloat) {
        std::vector<float> rows(in.floats.size());
        glReadPixels(0, 0, in.width, in.height, GL_RGBA, GL_FLOAT, rows.data());
        out->floats = flipRows(rows, in.width, in.height);
    } else {
        std::vector<unsigned char> rows(in.bytes.size());
        glReadPixels(0, 0, in.width, in.height, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
        out->bytes = flipRows(rows, in.width, in.height);
    }
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
        if (error) *error = path + ": not a LUT file this effect reads";
        return false;
    }
    return true;
}

}  // namespace host

#include <ostream>

namespace host {

bool renderPngFile(EffectInstance& instance, const std::string& in, const std::string& out, std::ostream& err) {
    static std::unique_ptr<Renderer> renderer;  // one OpenGL context for the whole command line
    std::string error;
    Frame input, output;
    if (!readPngFrame(in, &input, &error)) {
        err << "quillane-host: " << error << '\n';
        return false;
    }
    if (!renderer) renderer = Renderer::create(&error);
    if (!renderer) {
        err << "quillane-host: no OpenGL: " << error << '\n';
        return false;
    }
    const bool rendered = renderer->render(instance, input, &output, &error);
    if (!rendered) err << "quillane-host: " << in << ": " << error << '\n';
    if (!writePngFrame(out, output, &error)) {
        err << "quillane-host: " << error << '\n';
        return false;
    }
    return rendered;
}

}  // namespace host
