#pragma once
// Headless OpenGL for the GPU tests: a context, textures made from pixels, a
// render target bound as the draw framebuffer, and reading it back.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "lut/Lut.h"
#include "platform/cgl/CGL.h"
#include "platform/cgl/GLObjects.h"

namespace quillane::test {

inline std::unique_ptr<HeadlessGLContext> makeContext() {
    std::string error;
    auto context = HeadlessGLContext::create(&error);
    EXPECT_TRUE(context) << error;
    return context;
}

// A texture of w x h RGBA pixels, rows bottom first, float or 8-bit.
template <typename T>
gl::Texture makeTexture(int w, int h, const T* rgba) {
    constexpr bool isFloat = std::is_same_v<T, float>;
    gl::Texture t = gl::makeTexture();
    glBindTexture(GL_TEXTURE_2D, t.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, isFloat ? GL_RGBA32F : GL_RGBA8, w, h, 0, GL_RGBA,
                 isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE, rgba);
    return t;
}

// A render target bound as the draw and read framebuffer.
struct Target {
    gl::Texture texture;
    gl::Framebuffer framebuffer;
    int width = 0, height = 0;
    bool isFloat = true;

    Target(int w, int h, bool floatPixels) : width(w), height(h), isFloat(floatPixels) {
        texture = gl::makeTexture();
        glBindTexture(GL_TEXTURE_2D, texture.get());
        glTexImage2D(GL_TEXTURE_2D, 0, floatPixels ? GL_RGBA32F : GL_RGBA8, w, h, 0, GL_RGBA,
                     floatPixels ? GL_FLOAT : GL_UNSIGNED_BYTE, nullptr);
        framebuffer = gl::makeFramebuffer();
        bind();
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture.get(), 0);
        EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
        glViewport(0, 0, w, h);
        glClearColor(0.25f, 0.5f, 0.75f, 0.5f);  // anything not drawn shows
        glClear(GL_COLOR_BUFFER_BIT);
    }
    void bind() const { glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.get()); }
    std::vector<float> readFloat() const {
        bind();
        std::vector<float> out(static_cast<std::size_t>(width) * height * 4);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_FLOAT, out.data());
        return out;
    }
    std::vector<unsigned char> readBytes() const {
        bind();
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        std::vector<unsigned char> out(static_cast<std::size_t>(width) * height * 4);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
        return out;
    }
};

// A LUT with nodes anywhere in 0..1, so every node matters.
inline Lut randomLut(int n, float range0, float range1, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    std::vector<float> nodes(static_cast<std::size_t>(n) * n * n * 4);
    for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i] = (i % 4 == 3) ? 1.0f : u(rng);
    return Lut(std::move(nodes), n, range0, range1);
}

// What an 8-bit target holds for a float the kernel returned.
inline int toByte(float v) { return static_cast<int>(std::lround(std::fmin(std::fmax(v, 0.0f), 1.0f) * 255.0f)); }

}  // namespace quillane::test
