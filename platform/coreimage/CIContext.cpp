#include "platform/coreimage/KernelProgram.h"

#include <atomic>
#include <cmath>
#include <cstring>

using quillane::ci::Bitmap;
using quillane::ci::KernelApplication;
using quillane::ci::KernelProgram;
using quillane::ci::ParamType;
using quillane::ci::DrawSetup;
using quillane::ci::SamplerSetup;
namespace gl = quillane::gl;

namespace {

std::atomic<long long> contextCount{0};

const char* const kCopyKernel = "kernel vec4 quillaneCopy(sampler image) { return sample(image, samplerCoord(image)); }";

struct CompiledKernel {
    gl::Program program;
    GLint from = -1, in = -1, scale = -1, extent = -1, layout = -1;
    std::vector<GLint> textures;   // per sampler
    std::vector<GLint> arguments;  // per parameter (-1 for samplers)
};

struct UploadedBitmap {
    std::weak_ptr<const Bitmap> owner;
    gl::Texture texture;
    int rowsPerTile = 0;  // 0: the whole image is one tile
    // The same texels in a buffer texture, for nearest reads; made on the first one.
    gl::Buffer buffer;
    gl::Texture bufferTexture;
    bool bufferTried = false;
};

// What a sampler turns into for one draw.
struct BoundSampler {
    GLuint texture = 0;
    float extent[4] = {};
    GLint layout[2] = {};
};

// Saves what a draw changes in the host's context and puts it back.
class SavedState {
public:
    explicit SavedState(int units) : units_(units) {
        glGetIntegerv(GL_VIEWPORT, viewport_);
        glGetIntegerv(GL_CURRENT_PROGRAM, &program_);
        glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vao_);
        glGetIntegerv(GL_ACTIVE_TEXTURE, &activeTexture_);
        for (int u = 0; u < units_; ++u) {
            glActiveTexture(GL_TEXTURE0 + u);
            glGetIntegerv(GL_TEXTURE_BINDING_2D, &textures_[u]);
            glGetIntegerv(GL_SAMPLER_BINDING, &samplers_[u]);
        }
        blend_ = glIsEnabled(GL_BLEND);
        depth_ = glIsEnabled(GL_DEPTH_TEST);
        scissor_ = glIsEnabled(GL_SCISSOR_TEST);
        cull_ = glIsEnabled(GL_CULL_FACE);
        glDisable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_SCISSOR_TEST);
        glDisable(GL_CULL_FACE);
    }
    ~SavedState() {
        for (int u = 0; u < units_; ++u) {
            glActiveTexture(GL_TEXTURE0 + u);
            glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(textures_[u]));
            if (buffers_[u] >= 0) glBindTexture(GL_TEXTURE_BUFFER, static_cast<GLuint>(buffers_[u]));
            glBindSampler(u, static_cast<GLuint>(samplers_[u]));
        }
        glActiveTexture(static_cast<GLenum>(activeTexture_));
        glUseProgram(static_cast<GLuint>(program_));
        glBindVertexArray(static_cast<GLuint>(vao_));
        glViewport(viewport_[0], viewport_[1], viewport_[2], viewport_[3]);
        if (blend_) glEnable(GL_BLEND);
        if (depth_) glEnable(GL_DEPTH_TEST);
        if (scissor_) glEnable(GL_SCISSOR_TEST);
        if (cull_) glEnable(GL_CULL_FACE);
    }
    // Buffer textures are bound only by draws that read one: their binding
    // is saved only then, just before the unit's is changed.
    void saveBufferBinding(int unit) {
        glActiveTexture(GL_TEXTURE0 + unit);
        glGetIntegerv(GL_TEXTURE_BINDING_BUFFER, &buffers_[unit]);
    }
    SavedState(const SavedState&) = delete;
    SavedState& operator=(const SavedState&) = delete;

private:
    int units_;
    GLint viewport_[4] = {};
    GLint program_ = 0, vao_ = 0, activeTexture_ = GL_TEXTURE0;
    GLint textures_[16] = {};
    GLint buffers_[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};  // -1: not touched
    GLint samplers_[16] = {};
    GLboolean blend_ = GL_FALSE, depth_ = GL_FALSE, scissor_ = GL_FALSE, cull_ = GL_FALSE;
};

}  // namespace

struct CIContext::Resources {
    gl::VertexArray vertexArray;
    // Nearest reads of the base level; the edges as the sampler's wrap mode wants them.
    gl::Sampler edgeSampler, blackSampler;
    // By kernel body, then by how its samplers are read.
    std::map<std::string, std::map<std::string, CompiledKernel>> kernels;
    std::map<const Bitmap*, UploadedBitmap> bitmaps;

    void releaseAll() {
        vertexArray.release();
        edgeSampler.release();
        blackSampler.release();
        for (auto& body : kernels)
            for (auto& k : body.second) k.second.program.release();
        for (auto& b : bitmaps) {
            b.second.texture.release();
            b.second.buffer.release();
            b.second.bufferTexture.release();
        }
    }
};

long long CIContext::contextsCreated() { return contextCount.load(); }

std::shared_ptr<CIContext> CIContext::contextWithCGLContext(CGLContextObj cglContext, CGLPixelFormatObj,
                                                            CGColorSpaceRef colorSpace, const CIContextOptions* options) {
    if (!cglContext) return nullptr;
    std::shared_ptr<CIContext> context(new CIContext());
    context->cglContext_ = cglContext;
    context->colorSpace_ = std::move(colorSpace);
    context->resources_ = std::make_unique<Resources>();
    context->plainSamplerReads_ = options && options->plainSamplerReads;
    ++contextCount;
    return context;
}

CIContext::~CIContext() {
    // GL names belong to our context: delete them there. When that context is
    // already gone, so are they.
    ScopedCurrentContext current(cglContext_);
    if (!current.ok()) resources_->releaseAll();
    resources_.reset();
}

namespace {

// The fragment program for a kernel with its samplers read as `setups`,
// built on first use; nullptr when it does not build.
CompiledKernel* compiledKernel(std::map<std::string, std::map<std::string, CompiledKernel>>& kernels,
                               const KernelProgram& program, const DrawSetup& setups, int& compiledCount) {
    std::map<std::string, CompiledKernel>& variants = kernels[program.body];
    const std::string key = quillane::ci::setupKey(setups);
    auto found = variants.find(key);
    if (found != variants.end()) return &found->second;
    std::string log;
    gl::Program made(quillane::ci::buildProgram(program.fragmentShader(setups), log));
    if (!made) return nullptr;
    ++compiledCount;
    CompiledKernel k;
    k.program = std::move(made);
    GLuint p = k.program.get();
    k.from = glGetUniformLocation(p, "_qs_from");
    k.in = glGetUniformLocation(p, "_qs_in");
    k.scale = glGetUniformLocation(p, "_qs_scale");
    k.extent = glGetUniformLocation(p, "_qs_extent");
    k.layout = glGetUniformLocation(p, "_qs_layout");
    for (int s = 0; s < program.samplerCount(); ++s)
        k.textures.push_back(glGetUniformLocation(p, ("_qs_tex" + std::to_string(s)).c_str()));
    for (std::size_t a = 0; a < program.params.size(); ++a)
        k.arguments.push_back(program.params[a] == ParamType::Sampler
                                  ? -1
                                  : glGetUniformLocation(p, ("_qs_arg" + std::to_string(a)).c_str()));
    return &variants.emplace(key, std::move(k)).first->second;
}

// Uploads a bitmap as a float texture. Images taller than the driver allows
// are cut into tiles laid side by side; the kernel prelude undoes that.
bool uploadBitmap(const Bitmap& bitmap, UploadedBitmap& out) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (maxSize <= 0 || bitmap.width > maxSize) return false;
    int tiles = (bitmap.height + maxSize - 1) / maxSize;
    int rowsPerTile = (bitmap.height + tiles - 1) / tiles;
    if (static_cast<long long>(bitmap.width) * tiles > maxSize) return false;
    const int texWidth = bitmap.width * tiles;
    const int texHeight = tiles > 1 ? rowsPerTile : bitmap.height;
    const bool isFloat = bitmap.format == kCIFormatRGBAf;
    const std::size_t pixelBytes = isFloat ? 16 : 4;

    std::vector<unsigned char> packed(static_cast<std::size_t>(texWidth) * texHeight * pixelBytes, 0);
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.width) * pixelBytes;
    for (int row = 0; row < bitmap.height; ++row) {
        int tile = row / rowsPerTile, inTile = row - tile * rowsPerTile;
        std::memcpy(&packed[(static_cast<std::size_t>(inTile) * texWidth + static_cast<std::size_t>(tile) * bitmap.width) *
                            pixelBytes],
                    &bitmap.data[static_cast<std::size_t>(row) * bitmap.bytesPerRow], rowBytes);
    }
    out.texture = gl::makeTexture();
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    GLint rowLength = 0;
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
    GLint unpackBuffer = 0;
    glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &unpackBuffer);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glBindTexture(GL_TEXTURE_2D, out.texture.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, isFloat ? GL_RGBA32F : GL_RGBA8, texWidth, texHeight, 0, GL_RGBA,
                 isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE, packed.data());
    const bool ok = glGetError() == GL_NO_ERROR;
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(unpackBuffer));
    out.rowsPerTile = tiles > 1 ? rowsPerTile : 0;
    return ok;
}

// Puts a bitmap's texels into a buffer texture too, rows packed from the
// first, for reads by index. False (and nothing made) when the driver's
// buffer textures are too short for it.
bool uploadBitmapBuffer(const Bitmap& bitmap, UploadedBitmap& out) {
    GLint maxTexels = 0;
    glGetIntegerv(GL_MAX_TEXTURE_BUFFER_SIZE, &maxTexels);
    const long long texels = static_cast<long long>(bitmap.width) * bitmap.height;
    if (texels > maxTexels) return false;
    const bool isFloat = bitmap.format == kCIFormatRGBAf;
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.width) * (isFloat ? 16 : 4);
    std::vector<unsigned char> packed(rowBytes * static_cast<std::size_t>(bitmap.height));
    for (int row = 0; row < bitmap.height; ++row)
        std::memcpy(&packed[row * rowBytes], &bitmap.data[static_cast<std::size_t>(row) * bitmap.bytesPerRow], rowBytes);
    GLint previousBuffer = 0, previousTexture = 0;
    glGetIntegerv(GL_TEXTURE_BUFFER_BINDING, &previousBuffer);
    glGetIntegerv(GL_TEXTURE_BINDING_BUFFER, &previousTexture);
    gl::Buffer buffer = gl::makeBuffer();
    glBindBuffer(GL_TEXTURE_BUFFER, buffer.get());
    glBufferData(GL_TEXTURE_BUFFER, static_cast<GLsizeiptr>(packed.size()), packed.data(), GL_STATIC_DRAW);
    gl::Texture texture = gl::makeTexture();
    glBindTexture(GL_TEXTURE_BUFFER, texture.get());
    glTexBuffer(GL_TEXTURE_BUFFER, isFloat ? GL_RGBA32F : GL_RGBA8, buffer.get());
    const bool ok = glGetError() == GL_NO_ERROR;
    glBindTexture(GL_TEXTURE_BUFFER, static_cast<GLuint>(previousTexture));
    glBindBuffer(GL_TEXTURE_BUFFER, static_cast<GLuint>(previousBuffer));
    if (!ok) return false;
    out.buffer = std::move(buffer);
    out.bufferTexture = std::move(texture);
    return true;
}

}  // namespace

bool CIContext::drawImage(const CIImagePtr& image, CGRect inRect, CGRect fromRect) {
    if (!image || CGLGetCurrentContext() != cglContext_) return false;
    if (inRect.isEmpty() || fromRect.isEmpty()) return true;

    // An image that is not a kernel's output is drawn through a plain copy.
    std::shared_ptr<const KernelApplication> application = image->application();
    if (image->kind() != CIImage::Kind::Kernel) {
        CIKernelPtr copy = CIKernel::kernelWithString(kCopyKernel);
        if (!copy) return false;
        auto made = std::make_shared<KernelApplication>();
        made->program = copy->program();
        made->arguments = {CISampler::samplerWithImage(image, {kCISamplerFilterLinear, kCISamplerWrapBlack, nullptr})};
        application = std::move(made);
    }
    const KernelProgram& program = *application->program;
    const int samplerCount = program.samplerCount();
    if (samplerCount > 16) return false;

    // Leftover errors are the caller's; ours are judged from here on. Bounded:
    // a lost context may report its loss on every call.
    for (int i = 0; i < 64 && glGetError() != GL_NO_ERROR; ++i) {
    }

    Resources& r = *resources_;
    // Forget textures of bitmaps that nobody holds any more.
    for (auto it = r.bitmaps.begin(); it != r.bitmaps.end();)
        it = it->second.owner.expired() ? r.bitmaps.erase(it) : std::next(it);

    SavedState saved(samplerCount);
    std::vector<BoundSampler> bound;
    DrawSetup draw;
    draw.plain = plainSamplerReads_;
    draw.identity = quillane::ci::drawIsIdentity(inRect, fromRect);
    const bool centred = quillane::ci::drawHitsTexelCentres(inRect, fromRect);
    for (const CIKernelArgument& argument : application->arguments) {
        auto sampler = std::get_if<CISamplerPtr>(&argument);
        if (!sampler) continue;
        const CIImage& source = *(*sampler)->image();
        const CGRect e = source.extent();
        BoundSampler b;
        SamplerSetup setup;
        if (source.kind() == CIImage::Kind::Texture) {
            b.texture = source.textureId();
            // The fast reads take the texture's own size for the image's.
            glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(bound.size()));
            glBindTexture(GL_TEXTURE_2D, b.texture);
            GLint base = 0, w = 0, h = 0;
            glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, &base);
            glGetTexLevelParameteriv(GL_TEXTURE_2D, base, GL_TEXTURE_WIDTH, &w);
            glGetTexLevelParameteriv(GL_TEXTURE_2D, base, GL_TEXTURE_HEIGHT, &h);
            setup.whole = e.origin.x == 0 && e.origin.y == 0 && e.size.width == w && e.size.height == h;
        } else if (source.kind() == CIImage::Kind::Bitmap) {
            const auto& bitmap = source.bitmap();
            auto found = r.bitmaps.find(bitmap.get());
            if (found == r.bitmaps.end()) {
                UploadedBitmap uploaded;
                uploaded.owner = bitmap;
                if (!uploadBitmap(*bitmap, uploaded)) return false;
                ++bitmapsUploaded_;
                found = r.bitmaps.emplace(bitmap.get(), std::move(uploaded)).first;
            }
            b.texture = found->second.texture.get();
            b.layout[0] = found->second.rowsPerTile;
            b.layout[1] = bitmap->width;
            setup.tiled = found->second.rowsPerTile > 0;
            setup.whole = !setup.tiled && e.origin.x == 0 && e.origin.y == 0;
            if (setup.whole && !plainSamplerReads_ && (*sampler)->options().filterMode == CISamplerFilter::Nearest) {
                UploadedBitmap& uploaded = found->second;
                if (!uploaded.bufferTried) {
                    uploaded.bufferTried = true;
                    uploadBitmapBuffer(*bitmap, uploaded);
                }
                setup.buffer = static_cast<bool>(uploaded.bufferTexture);
                if (setup.buffer) b.texture = uploaded.bufferTexture.get();
            }
        } else {
            return false;  // kernels reading kernels' output need intermediate images: not supported
        }
        b.extent[0] = static_cast<float>(e.origin.x);
        b.extent[1] = static_cast<float>(e.origin.y);
        b.extent[2] = static_cast<float>(e.size.width);
        b.extent[3] = static_cast<float>(e.size.height);
        setup.linear = (*sampler)->options().filterMode == CISamplerFilter::Linear;
        setup.black = (*sampler)->options().wrapMode == CISamplerWrap::Black;
        setup.mirrorX = source.mirrorX();
        setup.mirrorY = source.mirrorY();
        setup.centred = centred;
        bound.push_back(b);
        draw.samplers.push_back(setup);
    }

    CompiledKernel* kernel = compiledKernel(r.kernels, program, draw, programsCompiled_);
    if (!kernel) return false;
    if (!r.vertexArray) r.vertexArray = gl::makeVertexArray();
    for (bool black : {false, true}) {
        gl::Sampler& made = black ? r.blackSampler : r.edgeSampler;
        if (made) continue;
        made = gl::makeSampler();
        const GLuint s = made.get();
        // Only the base level is ever read; this keeps textures without mipmaps complete.
        glSamplerParameteri(s, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glSamplerParameteri(s, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        const GLint wrap = black ? GL_CLAMP_TO_BORDER : GL_CLAMP_TO_EDGE;
        glSamplerParameteri(s, GL_TEXTURE_WRAP_S, wrap);
        glSamplerParameteri(s, GL_TEXTURE_WRAP_T, wrap);
        const float transparentBlack[4] = {0, 0, 0, 0};
        glSamplerParameterfv(s, GL_TEXTURE_BORDER_COLOR, transparentBlack);
    }

    glUseProgram(kernel->program.get());
    std::vector<float> extents;
    std::vector<GLint> layouts;
    for (int s = 0; s < samplerCount; ++s) {
        glActiveTexture(GL_TEXTURE0 + s);
        if (draw.samplers[s].buffer) saved.saveBufferBinding(s);
        glBindTexture(draw.samplers[s].buffer ? GL_TEXTURE_BUFFER : GL_TEXTURE_2D, bound[s].texture);
        glBindSampler(s, (draw.samplers[s].black ? r.blackSampler : r.edgeSampler).get());
        glUniform1i(kernel->textures[s], s);
        extents.insert(extents.end(), bound[s].extent, bound[s].extent + 4);
        layouts.insert(layouts.end(), bound[s].layout, bound[s].layout + 2);
    }
    if (samplerCount > 0) {
        glUniform4fv(kernel->extent, samplerCount, extents.data());
        glUniform2iv(kernel->layout, samplerCount, layouts.data());
    }
    for (std::size_t a = 0; a < program.params.size(); ++a) {
        const CIKernelArgument& argument = application->arguments[a];
        GLint at = kernel->arguments[a];
        if (auto d = std::get_if<double>(&argument)) {
            glUniform1f(at, static_cast<float>(*d));
        } else if (auto v = std::get_if<std::vector<double>>(&argument)) {
            float f[4] = {};
            for (std::size_t i = 0; i < v->size() && i < 4; ++i) f[i] = static_cast<float>((*v)[i]);
            if (v->size() == 2) glUniform2fv(at, 1, f);
            if (v->size() == 3) glUniform3fv(at, 1, f);
            if (v->size() == 4) glUniform4fv(at, 1, f);
        }
    }
    glUniform4f(kernel->from, static_cast<float>(fromRect.origin.x), static_cast<float>(fromRect.origin.y),
                static_cast<float>(fromRect.size.width), static_cast<float>(fromRect.size.height));
    glUniform2f(kernel->in, static_cast<float>(inRect.origin.x), static_cast<float>(inRect.origin.y));
    glUniform2f(kernel->scale, static_cast<float>(fromRect.size.width / inRect.size.width),
                static_cast<float>(fromRect.size.height / inRect.size.height));

    const int x0 = static_cast<int>(std::floor(inRect.origin.x));
    const int y0 = static_cast<int>(std::floor(inRect.origin.y));
    const int x1 = static_cast<int>(std::ceil(inRect.origin.x + inRect.size.width));
    const int y1 = static_cast<int>(std::ceil(inRect.origin.y + inRect.size.height));
    glViewport(x0, y0, x1 - x0, y1 - y0);
    glBindVertexArray(r.vertexArray.get());
    glDrawArrays(GL_TRIANGLES, 0, 3);
    return glGetError() == GL_NO_ERROR;
}
