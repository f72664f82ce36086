#pragma once
// What the effect tests of the LUT Manager share: the test frame as the host's
// renderer keeps it, and the check that a render applies the effect's LUT.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "GalleryTestEnv.h"
#include "host/HostRender.h"
#include "lut/MathClass.h"

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
    std::vector<float> cpu(frame.bytes.size());
    applyLutCPUTrilinear(frame.bytes.data(), cpu.data(), lut.getData(), lut.getInputRange0(), lut.getInputRange1(),
                         false, lut.getDimSize(), frame.width * frame.height, 4);
    ASSERT_EQ(out.bytes.size(), cpu.size());
    int worst = 0;
    for (std::size_t i = 0; i < cpu.size(); i += 4)
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(int(out.bytes[i + c]) - int(std::lround(cpu[i + c] * 255))));
    EXPECT_LE(worst, 1);
}

}  // namespace gallery_test
