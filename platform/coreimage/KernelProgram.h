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
    // The whole fragment shader for samplers read as `setups` (one per sampler).
    std::string fragmentShader(const std::vector<SamplerSetup>& setups) const;
};

// A short text naming a list of setups, to look programs up by.
std::string setupKey(const std::vector<SamplerSetup>& setups);

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
