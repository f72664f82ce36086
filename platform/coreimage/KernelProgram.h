#pragma once
// Inside of the image layer: translated kernels, bitmaps and kernel calls.
#include "platform/cgl/GLObjects.h"
#include "platform/coreimage/CoreImage.h"

#include <string>
#include <vector>

namespace quillane::ci {

enum class ParamType { Sampler, Float, Vec2, Vec3, Vec4 };

// A kernel text turned into a GLSL 330 fragment shader. Sampler parameters
// become small integers that select one of the shader's textures.
struct KernelProgram {
    std::string name;
    std::vector<ParamType> params;
    std::string fragmentShader;
    int samplerCount() const {
        int n = 0;
        for (ParamType p : params) n += p == ParamType::Sampler;
        return n;
    }
};

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
