#pragma once
// Rendering in our editor stand-in: frames read from PNG files become
// textures of a real (headless) OpenGL context, the output texture is bound as
// the render target, and the effect's renderOutput draws into it, as an
// editor's render does. Also the command-line LUT choice.
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "host/Host.h"

class HeadlessGLContext;

namespace host {

// RGBA pixels, first row on top as in image files. 8-bit frames keep bytes;
// 16-bit frames are floats (value / 65535).
struct Frame {
    int width = 0;
    int height = 0;
    bool isFloat = false;
    std::vector<unsigned char> bytes;
    std::vector<float> floats;
};

// 8- and 16-bit PNG files of any colour type; false and a reason otherwise.
bool readPngFrame(const std::string& path, Frame* frame, std::string* error);
// 8-bit frames as 8-bit PNG, float frames as 16-bit PNG (clamped to 0..1).
bool writePngFrame(const std::string& path, const Frame& frame, std::string* error);

class Renderer {
public:
    // nullptr and a reason when no OpenGL context can be made.
    static std::unique_ptr<Renderer> create(std::string* error);
    ~Renderer();

    // Renders `in` through the instance's effect into *out (same size and
    // kind: 8-bit frames at pixel depth 0, float frames at depth 3). False
    // when the effect reports failure; *out is then the input unchanged, as
    // an editor shows a frame the effect could not render.
    bool render(EffectInstance& instance, const Frame& in, Frame* out, std::string* error);

private:
    explicit Renderer(std::unique_ptr<HeadlessGLContext> context);
    std::unique_ptr<HeadlessGLContext> context_;
};

// The user choosing a LUT file: answers the effect's file dialog with the path
// and presses its Choose LUT File button. False, with the reason, when the
// effect did not take the file as its LUT.
bool chooseLutFile(EffectInstance& instance, const std::string& path, std::string* error);

}  // namespace host

namespace host {
// The command line's "render IN.png OUT.png": renders the file through the
// instance with the process's renderer and writes the result. Messages go to err.
bool renderPngFile(EffectInstance& instance, const std::string& in, const std::string& out, std::ostream& err);
}  // namespace host
