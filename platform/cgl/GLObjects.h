#pragma once
// Owning wrappers for OpenGL object names. Each deletes its name in the
// context current at destruction, which must be the one that made it (or one
// sharing with it); release() gives the name up when that context is gone.
#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/glcorearb.h>

#include <utility>

namespace quillane::gl {

template <void (*Delete)(GLuint)>
class Name {
public:
    Name() = default;
    explicit Name(GLuint name) : name_(name) {}
    ~Name() { reset(); }
    Name(Name&& other) noexcept : name_(std::exchange(other.name_, 0)) {}
    Name& operator=(Name&& other) noexcept {
        if (this != &other) {
            reset();
            name_ = std::exchange(other.name_, 0);
        }
        return *this;
    }
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;

    GLuint get() const { return name_; }
    explicit operator bool() const { return name_ != 0; }
    GLuint release() { return std::exchange(name_, 0); }
    void reset(GLuint name = 0) {
        if (name_ != 0) Delete(name_);
        name_ = name;
    }

private:
    GLuint name_ = 0;
};

inline void deleteTexture(GLuint n) { glDeleteTextures(1, &n); }
inline void deleteFramebuffer(GLuint n) { glDeleteFramebuffers(1, &n); }
inline void deleteVertexArray(GLuint n) { glDeleteVertexArrays(1, &n); }
inline void deleteBuffer(GLuint n) { glDeleteBuffers(1, &n); }
inline void deleteShader(GLuint n) { glDeleteShader(n); }
inline void deleteProgram(GLuint n) { glDeleteProgram(n); }
inline void deleteSampler(GLuint n) { glDeleteSamplers(1, &n); }

using Texture = Name<deleteTexture>;
using Framebuffer = Name<deleteFramebuffer>;
using VertexArray = Name<deleteVertexArray>;
using Buffer = Name<deleteBuffer>;
using Shader = Name<deleteShader>;
using Program = Name<deleteProgram>;
using Sampler = Name<deleteSampler>;

// A new name of one kind, made by that kind's glGen* call.
template <typename Owned>
Owned generated(void (*gen)(GLsizei, GLuint*)) {
    GLuint n = 0;
    gen(1, &n);
    return Owned(n);
}
inline Texture makeTexture() { return generated<Texture>(glGenTextures); }
inline Framebuffer makeFramebuffer() { return generated<Framebuffer>(glGenFramebuffers); }
inline VertexArray makeVertexArray() { return generated<VertexArray>(glGenVertexArrays); }
inline Buffer makeBuffer() { return generated<Buffer>(glGenBuffers); }
inline Sampler makeSampler() { return generated<Sampler>(glGenSamplers); }

}  // namespace quillane::gl
