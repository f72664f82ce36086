#pragma once
// Owner of one OpenGL texture name. The texture is deleted in whatever context
// is current when the owner goes away, so owners must die while their
// context is current (LutScreen sees to that for its widgets).
#include <nanogui/opengl.h>

namespace nanogui {

class GlTexture {
public:
    GlTexture() = default;
    explicit GlTexture(GLuint id) : mId(id) {}
    ~GlTexture() { reset(); }
    GlTexture(const GlTexture&) = delete;
    GlTexture& operator=(const GlTexture&) = delete;
    GlTexture(GlTexture&& other) noexcept : mId(other.release()) {}
    GlTexture& operator=(GlTexture&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    GLuint get() const { return mId; }
    explicit operator bool() const { return mId != 0; }
    GLuint release() {
        GLuint id = mId;
        mId = 0;
        return id;
    }
    void reset(GLuint id = 0);

    // A 2D texture with clamped edges and nearest filtering, level 0 filled
    // from pixels (which may be null to leave it undefined).
    static GlTexture create(int width, int height, GLint internalFormat, GLenum format,
                            GLenum type, const void* pixels);

private:
    GLuint mId = 0;
};

}  // namespace nanogui
