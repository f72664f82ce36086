#pragma once
// What the effect tests of the LUT Manager share: the test frame as the host's
// renderer keeps it, and the check that a render applies the effect's LUT.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "GalleryTestEnv.h"
#include "GradeCheck.h"
#include "host/HostRender.h"

namespace gallery_test {

// 8-bit RGBA, first row on top, as image files and the host's renderer keep it.
inline host::Frame topDownFrame(int width, int height) {
    host::Frame frame;
    frame.width = width;
    frame.height = height;
    const std::vector<unsigned char> argb = testFrame(width, height);
    const std::vector<unsigned char> rgba = argbToRgba(argb.data(), width, height);
    frame.bytes.assign(rgba.begin(), rgba.end());
    return frame;
}

// Renders frame through the instance on the GPU and holds the result to the
// CPU applier on lut, within one 8-bit code.
inline void expectRenderAppliesLut(host::EffectInstance& instance, const host::Frame& frame, const Lut& lut) {
    std::string error;
    auto renderer = host::Renderer::create(&error);
    ASSERT_TRUE(renderer) << error;
    host::Frame out;
    ASSERT_TRUE(renderer->render(instance, frame, &out, &error)) << error;
    EXPECT_LE(quillane::test::worstCodeAgainstCpu(frame.bytes, out.bytes, lut), 1);
}

}  // namespace gallery_test
