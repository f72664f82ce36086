#pragma once
// Inside of the image layer: translated kernels, bitmaps and kernel calls.
#include "platform/cgl/GLObjects.h"
#include "platform/coreimage/CoreImage.h"

#include <string>
#include <vector>

namespace quillane::ci {

enum class ParamType { Sampler, Float, Vec2, Vec3, Vec4 };

// How a draw reads one sampler. Each combination in use gets a fragment
// program of its own, so that the per-pixel code carries no branch on it.
struct SamplerSetup {
    bool linear = true;
    bool black = false;  // black outside the image, else its edge texels repeat
    bool mirrorX = false;
    bool mirrorY = false;
    bool tiled = false;  // the image is cut into tiles laid side by side
    // The image is the whole of its texture's base level, from (0, 0), and the
    // sampler object bound with it does the edges (black border or clamp):
    // reads go through the texture unit at texel centres, with no test per read.
    bool whole = false;
    // The pixel being made sits on a texel centre of the image (the draw
    // neither scales nor moves by a fraction), so a read at samplerCoord is
    // one texel whatever the filter.
    bool centred = false;
    // A whole image read nearest whose texels are also in a buffer texture,
    // row after row: a read is one texelFetch by index, the cheapest fetch
    // there is, with the edges done in the shader without a branch.
    bool buffer = false;
};

// Everything a draw settles for its program: how each sampler is read, and
// whether working space is the framebuffer's own pixel grid.
struct DrawSetup {
    std::vector<SamplerSetup> samplers;
    bool identity = false;  // destCoord() is the fragment's own position
    // Every read through a bounds-checked texel fetch with the filtering
    // done in the shader, whatever the setup: slow, kept as the oracle that
    // the fast reads are tested and timed against.
    bool plain = false;
};

// A kernel text turned into GLSL 330: the kernel itself with its calls
// renamed, to be joined with sampler reads for a given setup. Sampler
// parameters become small integers that select one of the textures.
struct KernelProgram {
    std::string name;
    std::vector<ParamType> params;
    std::string body;
    int samplerCount() const {
        int n = 0;
        for (ParamType p : params) n += p == ParamType::Sampler;
        return n;
    }
    // The whole fragment shader for a draw set up as `setup`.
    std::string fragmentShader(const DrawSetup& setup) const;
};

// A short text naming a draw setup, to look programs up by.
std::string setupKey(const DrawSetup& setup);

// Rules of a draw of fromRect (working space) into inRect (framebuffer
// pixels), for choosing its program. Both hold only where the float formula
// that maps pixels to working space is exact.
// Working space is the framebuffer's pixel grid: destCoord() is gl_FragCoord.
bool drawIsIdentity(CGRect inRect, CGRect fromRect);
// Every pixel centre lands on a texel centre of an image whose extent starts at (0, 0).
bool drawHitsTexelCentres(CGRect inRect, CGRect fromRect);

// Translates kernel text; on failure returns false with a reason.
bool translateKernel(const std::string& text, KernelProgram& out, std::string& error);

// The vertex shader every kernel is drawn with: one triangle over the viewport.
extern const char* const kFullViewVertexShader;

// Compiles and links a vertex and fragment shader in the current context;
// 0 and a log on failure.
GLuint buildProgram(const std::string& fragmentSource, std::string& log);

struct Bitmap {
    std::vector<unsigned char> data;
    std::size_t bytesPerRow = 0;
    int width = 0;
    int height = 0;
    CIFormat format = kCIFormatRGBAf;
};

struct KernelApplication {
    std::shared_ptr<const KernelProgram> program;
    std::vector<CIKernelArgument> arguments;
    CIKernelROIFunction roi;
};

}  // namespace quillane::ci
