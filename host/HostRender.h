#pragma once
// Rendering in our editor stand-in: frames become textures of a real
// (headless) OpenGL context, an output texture is bound as the render target,
// and the effect's renderOutput draws into it, as an editor's render does.
// Also the command-line LUT choice.
#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "host/FrameFile.h"
#include "host/Host.h"

class HeadlessGLContext;

namespace host {

class Renderer {
public:
    // nullptr and a reason when no OpenGL context can be made.
    static std::unique_ptr<Renderer> create(std::string* error);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Renders `in` through the instance's effect into *out (same size and
    // kind: 8-bit frames at pixel depth 0, float frames at depth 3; 16-bit
    // words come back as 16-bit words, rounded by the GPU). False
    // when the effect reports failure; *out is then the input unchanged, as
    // an editor shows a frame the effect could not render.
    bool render(EffectInstance& instance, const Frame& in, Frame* out, std::string* error);
    // The same with the result in place of the input. When the render fails
    // part of the frame may already be graded: its caller drops it.
    bool renderInPlace(EffectInstance& instance, Frame& frame, std::string* error);

    // The largest texture side the driver takes; frames beyond it cannot render.
    int maxTextureSize() const { return maxTextureSize_; }
    // Textures and framebuffers made so far: frames of one size reuse them.
    int targetsMade() const { return targetsMade_; }

private:
    struct Targets;
    explicit Renderer(std::unique_ptr<HeadlessGLContext> context);
    // Uploads the frame and lets the effect draw it strip by strip; each strip
    // is read back into `result` (rows top first, as the frame).
    bool draw(EffectInstance& instance, const Frame& in, void* result, std::string* error);
    bool prepareTargets(const Frame& in, int stripRows, std::string* error);

    std::unique_ptr<HeadlessGLContext> context_;
    std::unique_ptr<Targets> targets_;
    int maxTextureSize_ = 0;
    int targetsMade_ = 0;
};

// One frame through the effect as an editor's render calls it: frameSetup,
// renderOutput, frameCleanup. False when the effect cannot render on the GPU
// or reports failure.
bool renderThroughEffect(EffectInstance& instance, FxTexture& output, const FxTexture& input,
                         const FxRenderInfo& info);

// The rows of the output texture one draw fills: strips keep the output
// texture small whatever the frame, so that a float frame needs little more
// than its own buffer and its input texture.
int stripRowsFor(int width, int height, std::size_t bytesPerPixel);

// The user choosing a LUT file: answers the effect's file dialog with the path
// and presses its Choose LUT File button. False, with the reason, when the
// effect did not take the file as its LUT.
bool chooseLutFile(EffectInstance& instance, const std::string& path, std::string* error);

}  // namespace host
