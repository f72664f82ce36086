#include "platform/coreimage/KernelProgram.h"

#include <cctype>
#include <cmath>
#include <map>
#include <mutex>

namespace quillane::ci {
namespace {

struct Token {
    enum Kind { Space, Comment, Identifier, Other } kind;
    std::string text;
};

std::vector<Token> tokenize(const std::string& s) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        std::size_t j = i + 1;
        Token::Kind kind = Token::Other;
        if (std::isspace(static_cast<unsigned char>(c))) {
            while (j < s.size() && std::isspace(static_cast<unsigned char>(s[j]))) ++j;
            kind = Token::Space;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
            j = s.find('\n', i);
            if (j == std::string::npos) j = s.size();
            kind = Token::Comment;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            j = s.find("*/", i + 2);
            j = j == std::string::npos ? s.size() : j + 2;
            kind = Token::Comment;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
            kind = Token::Identifier;
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
        }
        out.push_back({kind, s.substr(i, j - i)});
        i = j;
    }
    return out;
}

const std::map<std::string, std::string>& renames() {
    static const std::map<std::string, std::string> table = {
        {"sampler", "int"},
        {"__sample", "vec4"},
        {"__color", "vec4"},
        {"sample", "_qs_sample"},
        {"samplerCoord", "_qs_samplerCoord"},
        {"samplerExtent", "_qs_samplerExtent"},
        {"samplerSize", "_qs_samplerSize"},
        {"samplerTransform", "_qs_samplerTransform"},
        {"destCoord", "_qs_destCoord"},
        {"premultiply", "_qs_premultiply"},
        {"unpremultiply", "_qs_unpremultiply"},
    };
    return table;
}

bool paramType(const std::string& name, ParamType& type) {
    static const std::map<std::string, ParamType> types = {
        {"sampler", ParamType::Sampler}, {"float", ParamType::Float}, {"vec2", ParamType::Vec2},
        {"vec3", ParamType::Vec3},       {"vec4", ParamType::Vec4},
    };
    auto found = types.find(name);
    if (found == types.end()) return false;
    type = found->second;
    return true;
}

const char* glslType(ParamType t) {
    switch (t) {
        case ParamType::Float: return "float";
        case ParamType::Vec2: return "vec2";
        case ParamType::Vec3: return "vec3";
        case ParamType::Vec4: return "vec4";
        case ParamType::Sampler: break;
    }
    return "int";
}

// Everything a kernel may call besides plain GLSL. Filtering is done here,
// in full float precision, so that it is exact and the same on every
// driver; the texture unit only ever reads one texel at its centre.
const char* const kPrelude = R"GLSL(
uniform vec4 _qs_extent[_QS_N];   // x, y, width, height of each sampler's image
uniform ivec2 _qs_layout[_QS_N];  // rows per tile and image width, for tiled images
uniform vec4 _qs_from;            // source rectangle in working space
uniform vec2 _qs_in;              // destination origin in framebuffer pixels
uniform vec2 _qs_scale;           // source size over destination size
out vec4 _qs_fragColor;
vec2 _qs_dest;

vec2 _qs_destCoord() { return _qs_dest; }
vec2 _qs_samplerCoord(int s) { return _qs_dest; }
vec2 _qs_samplerTransform(int s, vec2 p) { return p; }
vec4 _qs_samplerExtent(int s) { return _qs_extent[s]; }
vec2 _qs_samplerSize(int s) { return _qs_extent[s].zw; }
vec4 _qs_premultiply(vec4 c) { return vec4(c.rgb * c.a, c.a); }
vec4 _qs_unpremultiply(vec4 c) { return c.a > 0.0 ? vec4(c.rgb / c.a, c.a) : vec4(0.0); }
)GLSL";

// The plain reads of sampler s: every texel through texelFetch after a test
// against the image's extent (black outside, or the nearest edge texel),
// then mirroring and tiling to find it in the texture. Right for every
// setup and slow on a software rasterizer (per-read branches, conversions,
// uniform loads, per-pixel mip lookups): the oracle for the reads below.
std::string plainSamplerReads(int s, const SamplerSetup& setup) {
    const std::string n = std::to_string(s);
    std::string out = "vec4 _qs_texel" + n + "(ivec2 p) {\n    ivec2 size = ivec2(_qs_extent[" + n + "].zw);\n";
    if (setup.black)  // negative coordinates turn huge as unsigned: one test per axis
        out += "    if (any(greaterThanEqual(uvec2(p), uvec2(size)))) return vec4(0.0);\n";
    else
        out += "    p = clamp(p, ivec2(0), size - ivec2(1));\n";
    if (setup.mirrorX) out += "    p.x = size.x - 1 - p.x;\n";
    if (setup.mirrorY) out += "    p.y = size.y - 1 - p.y;\n";
    if (setup.tiled)
        out += "    ivec2 l = _qs_layout[" + n + "];\n"
               "    int tile = p.y / l.x;\n"
               "    p = ivec2(p.x + tile * l.y, p.y - tile * l.x);\n";
    out += "    return texelFetch(_qs_tex" + n + ", p, 0);\n}\n";
    out += "vec4 _qs_read" + n + "(vec2 p) {\n    vec2 local = p - _qs_extent[" + n + "].xy;\n";
    if (!setup.linear) {
        out += "    return _qs_texel" + n + "(ivec2(floor(local)));\n}\n";
    } else {
        out += "    vec2 q = local - vec2(0.5);\n"
               "    vec2 b = floor(q);\n"
               "    vec2 f = q - b;\n"
               "    ivec2 c = ivec2(b);\n"
               "    // On texel centres (a frame drawn at its own size) one read gives the same.\n"
               "    if (f.x == 0.0 && f.y == 0.0) return _qs_texel" + n + "(c);\n"
               "    vec4 bottom = mix(_qs_texel" + n + "(c), _qs_texel" + n + "(c + ivec2(1, 0)), f.x);\n"
               "    vec4 top = mix(_qs_texel" + n + "(c + ivec2(0, 1)), _qs_texel" + n + "(c + ivec2(1, 1)), f.x);\n"
               "    return mix(bottom, top, f.y);\n}\n";
    }
    out += "vec4 _qs_here" + n + "() { return _qs_read" + n + "(_qs_dest); }\n";
    return out;
}

// The fast reads of sampler s for an image that is its whole texture: one
// textureLod per texel at the texel's centre, with the edges (black border
// or clamp) left to the sampler object bound beside the texture, or, for a
// nearest read of a bitmap, one texelFetch by index from a buffer texture.
// On a software rasterizer either costs far less than a bounds test and a
// 2D texelFetch: no branch, no uniform load per read (llvmpipe loads
// uniforms lane by lane), no per-pixel mip lookup. The filtering stays in
// the shader, so the values are those of the plain reads bit for bit.
std::string fastSamplerReads(int s, const SamplerSetup& setup) {
    const std::string n = std::to_string(s);
    const std::string tex = "_qs_tex" + n, size = "_qs_size" + n, inv = "_qs_inv" + n;
    std::string out = "vec2 " + size + ";\nvec2 " + inv + ";\n";
    // t is a whole texel index held as a float.
    out += "vec4 _qs_texel" + n + "(vec2 t) {\n";
    if (setup.buffer) {
        // The plain reads' steps on integers, without their branch: the
        // index is clamped into the image, black chosen after the fetch.
        out += "    ivec2 size = ivec2(" + size + ");\n    ivec2 i = ivec2(t);\n";
        if (setup.black) out += "    bool inside = all(lessThan(uvec2(i), uvec2(size)));\n";
        out += "    i = clamp(i, ivec2(0), size - 1);\n";
        if (setup.mirrorX) out += "    i.x = size.x - 1 - i.x;\n";
        if (setup.mirrorY) out += "    i.y = size.y - 1 - i.y;\n";
        out += "    vec4 texel = texelFetch(" + tex + ", i.y * size.x + i.x);\n";
        out += setup.black ? "    return inside ? texel : vec4(0.0);\n}\n" : "    return texel;\n}\n";
    } else {
        // Outside the image is the sampler object's business.
        if (setup.mirrorX) out += "    t.x = " + size + ".x - 1.0 - t.x;\n";
        if (setup.mirrorY) out += "    t.y = " + size + ".y - 1.0 - t.y;\n";
        out += "    return textureLod(" + tex + ", (t + 0.5) * " + inv + ", 0.0);\n}\n";
    }
    out += "vec4 _qs_read" + n + "(vec2 p) {\n";
    if (!setup.linear) {
        out += "    return _qs_texel" + n + "(floor(p));\n}\n";
    } else {
        out += "    vec2 q = p - vec2(0.5);\n"
               "    vec2 b = floor(q);\n"
               "    vec2 f = q - b;\n"
               "    vec4 c00 = _qs_texel" + n + "(b);\n"
               "    vec4 bottom = mix(c00, _qs_texel" + n + "(b + vec2(1.0, 0.0)), f.x);\n"
               "    vec4 top = mix(_qs_texel" + n + "(b + vec2(0.0, 1.0)), _qs_texel" + n + "(b + vec2(1.0)), f.x);\n"
               "    // On texel centres the texel itself, even beside a neighbour that is not finite.\n"
               "    return f.x == 0.0 && f.y == 0.0 ? c00 : mix(bottom, top, f.y);\n}\n";
    }
    // Read where the pixel sits: on a texel centre that is the texel itself.
    out += "vec4 _qs_here" + n + "() { return " +
           (setup.centred ? "_qs_texel" + n + "(floor(_qs_dest))" : "_qs_read" + n + "(_qs_dest)") + "; }\n";
    return out;
}

bool readsFast(const DrawSetup& draw, const SamplerSetup& setup) { return !draw.plain && setup.whole && !setup.tiled; }

// Finds `sample ( a , samplerCoord ( a ) )` starting at token i (the
// `sample`): the read of a sampler where the pixel sits, the one read a
// kernel nearly always makes. Returns the token after it, or i when the
// tokens say something else.
std::size_t matchReadHere(const std::vector<Token>& tokens, std::size_t i, std::string& samplerName) {
    const char* const shape[] = {"sample", "(", nullptr, ",", "samplerCoord", "(", nullptr, ")", ")"};
    std::string names[2];
    int named = 0;
    std::size_t at = i;
    for (const char* want : shape) {
        while (at < tokens.size() && (tokens[at].kind == Token::Space || tokens[at].kind == Token::Comment)) ++at;
        if (at == tokens.size()) return i;
        if (want ? tokens[at].text != want : tokens[at].kind != Token::Identifier) return i;
        if (!want) names[named++] = tokens[at].text;
        ++at;
    }
    if (names[0] != names[1]) return i;
    samplerName = names[0];
    return at;
}

void replaceAll(std::string& s, const std::string& what, const std::string& with) {
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
        s.replace(at, what.size(), with);
}

}  // namespace

const char* const kFullViewVertexShader = R"GLSL(#version 330 core
void main() {
    vec2 p = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
    gl_Position = vec4(p * 2.0 - 1.0, 0.0, 1.0);
}
)GLSL";

namespace {

// A whole number small enough that sums of a few of them and of pixel
// centres stay exact in single precision.
bool exactWhole(double v) { return std::floor(v) == v && std::fabs(v) <= (1 << 22); }

}  // namespace

bool drawHitsTexelCentres(CGRect inRect, CGRect fromRect) {
    return fromRect.size.width == inRect.size.width && fromRect.size.height == inRect.size.height &&
           exactWhole(inRect.origin.x) && exactWhole(inRect.origin.y) && exactWhole(fromRect.origin.x) &&
           exactWhole(fromRect.origin.y) && inRect.size.width <= (1 << 22) && inRect.size.height <= (1 << 22);
}

bool drawIsIdentity(CGRect inRect, CGRect fromRect) {
    return drawHitsTexelCentres(inRect, fromRect) && fromRect.origin.x == inRect.origin.x &&
           fromRect.origin.y == inRect.origin.y;
}

bool translateKernel(const std::string& text, KernelProgram& out, std::string& error) {
    std::vector<Token> tokens = tokenize(text);
    // The signature of the first kernel: kernel <type> <name> ( <type> <name>, ... )
    std::vector<std::size_t> meaningful;
    for (std::size_t i = 0; i < tokens.size(); ++i)
        if (tokens[i].kind != Token::Space && tokens[i].kind != Token::Comment) meaningful.push_back(i);
    auto at = [&](std::size_t k) -> const std::string& {
        static const std::string none;
        return k < meaningful.size() ? tokens[meaningful[k]].text : none;
    };
    std::size_t k = 0;
    while (k < meaningful.size() && at(k) != "kernel") ++k;
    if (k == meaningful.size()) {
        error = "no kernel function in the text";
        return false;
    }
    const std::string& returnType = at(k + 1);
    if (returnType != "vec4" && returnType != "__color") {
        error = "a kernel must return vec4";
        return false;
    }
    out.name = at(k + 2);
    if (out.name.empty() || !(std::isalpha(static_cast<unsigned char>(out.name[0])) || out.name[0] == '_') ||
        at(k + 3) != "(") {
        error = "malformed kernel signature";
        return false;
    }
    out.params.clear();
    std::size_t p = k + 4;
    if (at(p) == ")") {
        ++p;
    } else {
        while (true) {
            ParamType type;
            if (at(p) == "__table") ++p;  // a table is a sampler read with exact values
            if (!paramType(at(p), type)) {
                error = "unsupported kernel parameter type '" + at(p) + "'";
                return false;
            }
            if (at(p + 1).empty() || !std::isalpha(static_cast<unsigned char>(at(p + 1)[0]))) {
                error = "kernel parameter without a name";
                return false;
            }
            out.params.push_back(type);
            p += 2;
            if (at(p) == ",") { ++p; continue; }
            if (at(p) == ")") { ++p; break; }
            error = "malformed kernel parameter list";
            return false;
        }
    }

    std::string body;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind == Token::Identifier) {
            if (t.text.rfind("_qs_", 0) == 0) {
                error = "names beginning with _qs_ are reserved";
                return false;
            }
            if (t.text == "kernel" || t.text == "__table") continue;
            std::string sampler;
            std::size_t after = t.text == "sample" ? matchReadHere(tokens, i, sampler) : i;
            if (after != i) {
                body += "_qs_here(" + sampler + ")";
                i = after - 1;
                continue;
            }
            auto found = renames().find(t.text);
            body += found == renames().end() ? t.text : found->second;
        } else if (t.kind == Token::Comment) {
            body += ' ';
        } else {
            body += t.text;
        }
    }

    body += "\n";
    out.body = std::move(body);
    return true;
}

std::string setupKey(const DrawSetup& draw) {
    std::string key = draw.plain ? "p" : draw.identity ? "i" : "g";
    static const char hex[] = "0123456789abcdef";
    for (const SamplerSetup& s : draw.samplers) {
        const unsigned bits = s.linear | s.black << 1 | s.mirrorX << 2 | s.mirrorY << 3 | s.tiled << 4 | s.whole << 5 |
                              s.centred << 6 | s.buffer << 7;
        key += hex[bits >> 4];
        key += hex[bits & 15];
    }
    return key;
}

std::string KernelProgram::fragmentShader(const DrawSetup& draw) const {
    const int samplers = samplerCount();
    auto setupOf = [&](int s) {
        return static_cast<std::size_t>(s) < draw.samplers.size() ? draw.samplers[s] : SamplerSetup{};
    };
    std::string shader = "#version 330 core\n";
    for (int s = 0; s < samplers; ++s)
        shader += std::string("uniform ") + (readsFast(draw, setupOf(s)) && setupOf(s).buffer ? "samplerBuffer" : "sampler2D") +
                  " _qs_tex" + std::to_string(s) + ";\n";
    std::string prelude = kPrelude;
    replaceAll(prelude, "_QS_N", std::to_string(samplers > 0 ? samplers : 1));
    shader += prelude;
    for (int s = 0; s < samplers; ++s)
        shader += readsFast(draw, setupOf(s)) ? fastSamplerReads(s, setupOf(s)) : plainSamplerReads(s, setupOf(s));
    for (std::size_t a = 0; a < params.size(); ++a)
        if (params[a] != ParamType::Sampler)
            shader += std::string("uniform ") + glslType(params[a]) + " _qs_arg" + std::to_string(a) + ";\n";
    // Kernels pass sampler parameters on as constants, so these fold to one call.
    for (bool here : {false, true}) {
        shader += here ? "vec4 _qs_here(int s) {\n" : "vec4 _qs_sample(int s, vec2 p) {\n";
        for (int s = 0; s < samplers; ++s) {
            const std::string n = std::to_string(s);
            shader += "    if (s == " + n + ") return " + (here ? "_qs_here" + n + "()" : "_qs_read" + n + "(p)") + ";\n";
        }
        shader += "    return vec4(0.0);\n}\n";
    }
    shader += "#line 1\n" + body;
    shader += "void main() {\n";
    // With the source rectangle where the destination is, at the same
    // size, the formula below gives the fragment's position exactly.
    shader += draw.identity && !draw.plain ? "    _qs_dest = gl_FragCoord.xy;\n"
                                           : "    _qs_dest = _qs_from.xy + (gl_FragCoord.xy - _qs_in) * _qs_scale;\n";
    for (int s = 0; s < samplers; ++s) {
        if (!readsFast(draw, setupOf(s))) continue;
        const std::string n = std::to_string(s);
        // A buffer knows only its length; the image's rows are in the extent.
        shader += setupOf(s).buffer ? "    _qs_size" + n + " = _qs_extent[" + n + "].zw;\n"
                                    : "    _qs_size" + n + " = vec2(textureSize(_qs_tex" + n + ", 0));\n";
        shader += "    _qs_inv" + n + " = 1.0 / _qs_size" + n + ";\n";
    }
    shader += "    _qs_fragColor = " + name + "(";
    int samplerIndex = 0;
    for (std::size_t a = 0; a < params.size(); ++a) {
        if (a) shader += ", ";
        shader += params[a] == ParamType::Sampler ? std::to_string(samplerIndex++) : "_qs_arg" + std::to_string(a);
    }
    shader += ");\n}\n";
    return shader;
}

namespace {

GLuint compileShader(GLenum type, const char* source, std::string& log) {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char text[2048] = {};
        glGetShaderInfoLog(shader, sizeof text - 1, nullptr, text);
        log = text;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

}  // namespace

GLuint buildProgram(const std::string& fragmentSource, std::string& log) {
    gl::Shader vertex(compileShader(GL_VERTEX_SHADER, kFullViewVertexShader, log));
    if (!vertex) return 0;
    gl::Shader fragment(compileShader(GL_FRAGMENT_SHADER, fragmentSource.c_str(), log));
    if (!fragment) return 0;
    gl::Program program(glCreateProgram());
    glAttachShader(program.get(), vertex.get());
    glAttachShader(program.get(), fragment.get());
    glLinkProgram(program.get());
    GLint ok = GL_FALSE;
    glGetProgramiv(program.get(), GL_LINK_STATUS, &ok);
    if (!ok) {
        char text[2048] = {};
        glGetProgramInfoLog(program.get(), sizeof text - 1, nullptr, text);
        log = text;
        return 0;
    }
    glDetachShader(program.get(), vertex.get());
    glDetachShader(program.get(), fragment.get());
    return program.release();
}

}  // namespace quillane::ci

using quillane::ci::KernelApplication;
using quillane::ci::KernelProgram;
using quillane::ci::ParamType;

namespace {

// Kernel texts are translated once per process; whether the result compiles is
// learned the first time a context is current when the text is used.
struct KernelCacheEntry {
    std::shared_ptr<const KernelProgram> program;
    bool checked = false;
    bool broken = false;
};

std::mutex& kernelCacheMutex() {
    static std::mutex mutex;
    return mutex;
}
std::map<std::string, KernelCacheEntry>& kernelCache() {
    static std::map<std::string, KernelCacheEntry> cache;
    return cache;
}

}  // namespace

CIKernelPtr CIKernel::kernelWithString(const std::string& text) {
    std::lock_guard<std::mutex> lock(kernelCacheMutex());
    KernelCacheEntry& entry = kernelCache()[text];
    if (entry.broken) return nullptr;
    if (!entry.program) {
        auto program = std::make_shared<KernelProgram>();
        std::string error;
        if (!quillane::ci::translateKernel(text, *program, error)) {
            entry.broken = true;
            return nullptr;
        }
        entry.program = std::move(program);
    }
    if (!entry.checked && CGLGetCurrentContext() != nullptr) {
        std::string log;
        quillane::gl::Program probe(quillane::ci::buildProgram(entry.program->fragmentShader(quillane::ci::DrawSetup{}), log));
        entry.checked = true;
        if (!probe) {
            entry.broken = true;
            return nullptr;
        }
    }
    auto kernel = std::make_shared<CIKernel>();
    kernel->program_ = entry.program;
    return kernel;
}

const std::string& CIKernel::name() const { return program_->name; }

CIImagePtr CIKernel::applyWithArguments(const std::vector<CIKernelArgument>& arguments,
                                        const CIKernelApplyOptions& options) const {
    const auto& params = program_->params;
    if (arguments.size() != params.size()) return nullptr;
    CGRect extent = options.extent;
    bool haveUnion = false;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const CIKernelArgument& a = arguments[i];
        switch (params[i]) {
            case ParamType::Sampler: {
                auto s = std::get_if<CISamplerPtr>(&a);
                if (!s || !*s || !(*s)->image()) return nullptr;
                if (options.extent.isEmpty()) {
                    CGRect e = (*s)->extent();
                    if (!haveUnion) {
                        extent = e;
                        haveUnion = true;
                    } else {
                        double x0 = std::min(extent.origin.x, e.origin.x), y0 = std::min(extent.origin.y, e.origin.y);
                        double x1 = std::max(extent.origin.x + extent.size.width, e.origin.x + e.size.width);
                        double y1 = std::max(extent.origin.y + extent.size.height, e.origin.y + e.size.height);
                        extent = CGRectMake(x0, y0, x1 - x0, y1 - y0);
                    }
                }
                break;
            }
            case ParamType::Float:
                if (!std::holds_alternative<double>(a)) return nullptr;
                break;
            default: {
                auto v = std::get_if<std::vector<double>>(&a);
                std::size_t want = params[i] == ParamType::Vec2 ? 2 : params[i] == ParamType::Vec3 ? 3 : 4;
                if (!v || v->size() != want) return nullptr;
            }
        }
    }
    auto application = std::make_shared<KernelApplication>();
    application->program = program_;
    application->arguments = arguments;
    application->roi = roi_;
    return CIImage::fromKernel(std::move(application), extent, options.colorSpace);
}
