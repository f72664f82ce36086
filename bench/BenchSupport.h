#pragma once
// What the GPU and host-frame benchmarks share: the effect loaded in our
// editor stand-in with a 33-node LUT of random nodes chosen through its file
// dialog, and a pair of textures with a framebuffer for drawing one frame.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "LutFiles.h"
#include "TempDir.h"
#include "host/Host.h"
#include "host/HostRender.h"
#include "platform/cgl/GLObjects.h"

namespace bench {

// Random nodes, so that neighbouring pixels read different cells as real
// looks make them do.
inline std::string writeRandomCube(const quillane::test::TempDir& dir, int nodes) {
    const std::string cube = dir.file("look.cube");
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    quillane::test::writeLutFile(cube, nodes, [&](float rgb[3]) {
        for (int c = 0; c < 3; ++c) rgb[c] = u(rng);
    });
    return cube;
}

// The effect module in a host of its own, one instance holding a random
// 33-node LUT; the settings and exchange files go to dir. Exits on failure:
// a benchmark without its subject measures nothing.
struct EffectWithLut {
    std::unique_ptr<host::Host> host;
    host::EffectInstance* instance = nullptr;
    std::string cubePath;

    explicit EffectWithLut(const quillane::test::TempDir& dir) {
        ::setenv("QUILLANE_EXCHANGE_DIR", dir.path().c_str(), 1);
        ::setenv("HOME", dir.path().c_str(), 1);
        std::string error;
        host = host::Host::load(QUILLANE_EFFECT_MODULE_PATH, &error);
        if (host) instance = host->newInstance();
        cubePath = writeRandomCube(dir, 33);
        if (!instance || !host::chooseLutFile(*instance, cubePath, &error)) {
            std::fprintf(stderr, "benchmark set-up: %s\n", error.c_str());
            std::exit(1);
        }
    }
};

// An input texture holding pixels and an empty output texture of the same
// size, the output bound as the colour target of the framebuffer.
struct DrawTargets {
    quillane::gl::Texture input = quillane::gl::makeTexture();
    quillane::gl::Texture output = quillane::gl::makeTexture();
    quillane::gl::Framebuffer framebuffer = quillane::gl::makeFramebuffer();

    DrawTargets(int width, int height, GLenum internalFormat, GLenum pixelType, const void* pixels,
                GLenum outputType) {
        glBindTexture(GL_TEXTURE_2D, input.get());
        glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, width, height, 0, GL_RGBA, pixelType, pixels);
        glBindTexture(GL_TEXTURE_2D, output.get());
        glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, width, height, 0, GL_RGBA, outputType, nullptr);
        bind();
    }
    void bind() const {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.get());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, output.get(), 0);
    }
};

}  // namespace bench
