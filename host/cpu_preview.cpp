// Grades a sample frame with a sample look on the CPU, the way the LUT
// Manager grades its thumbnails, and writes the before and after as PNG.
//
//   quillane-cpu-preview OUTDIR
//
// Both the frame (a 512x288 chart: hue sweep, grey ramp, skin-like patches)
// and the LUT (a 33-node warm, contrasty look) are generated here; the LUT
// goes through a real .cube file in OUTDIR and is read back with lutFromFile.
#include <lodepng.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "lut/Lut.h"
#include "lut/LutFile.h"
#include "lut/MathClass.h"

namespace {

constexpr int kWidth = 512, kHeight = 288, kNodes = 33;

float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

void hsvToRgb(float h, float s, float v, float* rgb) {
    const float c = v * s, hp = h * 6.0f, x = c * (1.0f - std::fabs(std::fmod(hp, 2.0f) - 1.0f));
    float r = 0, g = 0, b = 0;
    if (hp < 1) r = c, g = x;
    else if (hp < 2) r = x, g = c;
    else if (hp < 3) g = c, b = x;
    else if (hp < 4) g = x, b = c;
    else if (hp < 5) r = x, b = c;
    else r = c, b = x;
    rgb[0] = r + v - c;
    rgb[1] = g + v - c;
    rgb[2] = b + v - c;
}

// RGBA 8-bit chart: top two thirds a hue/brightness sweep, then a grey ramp,
// then a row of fixed patches.
std::vector<unsigned char> sampleFrame() {
    std::vector<unsigned char> px(std::size_t(kWidth) * kHeight * 4);
    static const float patches[8][3] = {{0.45f, 0.32f, 0.26f}, {0.76f, 0.59f, 0.50f}, {0.37f, 0.48f, 0.61f},
                                        {0.35f, 0.42f, 0.26f}, {0.50f, 0.50f, 0.69f}, {0.40f, 0.74f, 0.67f},
                                        {0.84f, 0.48f, 0.17f}, {0.96f, 0.96f, 0.95f}};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            float rgb[3];
            if (y < 192) {
                hsvToRgb(float(x) / kWidth, 0.85f, 1.0f - float(y) / 240.0f, rgb);
            } else if (y < 240) {
                rgb[0] = rgb[1] = rgb[2] = float(x) / (kWidth - 1);
            } else {
                const float* p = patches[x * 8 / kWidth];
                std::copy(p, p + 3, rgb);
            }
            unsigned char* out = &px[(std::size_t(y) * kWidth + x) * 4];
            for (int c = 0; c < 3; ++c) out[c] = static_cast<unsigned char>(clamp01(rgb[c]) * 255.0f + 0.5f);
            out[3] = 255;
        }
    return px;
}

// A warm, contrasty look: S-curve on each channel, red lifted, blue lowered,
// a little saturation. Written red fastest, as .cube files are.
bool writeSampleCube(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    std::fprintf(f, "TITLE \"Quillane sample warm contrast\"\nLUT_3D_SIZE %d\n", kNodes);
    for (int b = 0; b < kNodes; ++b)
        for (int g = 0; g < kNodes; ++g)
            for (int r = 0; r < kNodes; ++r) {
                float in[3] = {float(r) / (kNodes - 1), float(g) / (kNodes - 1), float(b) / (kNodes - 1)};
                const float luma = 0.2126f * in[0] + 0.7152f * in[1] + 0.0722f * in[2];
                float out[3];
                for (int c = 0; c < 3; ++c) {
                    float v = luma + 1.2f * (in[c] - luma);                       // saturation
                    v = clamp01(v);
                    v = v * v * (3.0f - 2.0f * v) * 0.6f + v * 0.4f;             // S-curve
                    out[c] = v;
                }
                out[0] = clamp01(out[0] * 1.06f + 0.02f);
                out[1] = clamp01(out[1] * 1.01f);
                out[2] = clamp01(out[2] * 0.88f);
                std::fprintf(f, "%.6f %.6f %.6f\n", out[0], out[1], out[2]);
            }
    return std::fclose(f) == 0;
}

std::vector<unsigned char> toBytes(const std::vector<float>& px) {
    std::vector<unsigned char> out(px.size());
    for (std::size_t k = 0; k < px.size(); ++k) out[k] = static_cast<unsigned char>(clamp01(px[k]) * 255.0f + 0.5f);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::string cubePath = (dir / "sample-look.cube").string();
    const std::string framePath = (dir / "sample-frame.png").string();
    const std::string gradedPath = (dir / "sample-graded.png").string();

    if (!writeSampleCube(cubePath)) {
        std::fprintf(stderr, "cannot write %s\n", cubePath.c_str());
        return 1;
    }
    std::string path = cubePath;
    Lut lut;
    std::vector<char> preset;
    lutFromFile(&path, &lut, &preset);
    if (!lut.isLoaded() || lut.getDimSize() != kNodes) {
        std::fprintf(stderr, "cannot read back %s\n", cubePath.c_str());
        return 1;
    }

    const std::vector<unsigned char> frame = sampleFrame();
    std::vector<float> graded(frame.size());
    const bool useRange = lut.getInputRange0() != 0.0f || lut.getInputRange1() != 1.0f;
    applyLutCPUTrilinear(frame.data(), graded.data(), lut.getData(), lut.getInputRange0(), lut.getInputRange1(),
                         useRange, static_cast<unsigned char>(lut.getDimSize()), kWidth * kHeight, 4);

    if (unsigned err = lodepng::encode(framePath, frame, kWidth, kHeight)) {
        std::fprintf(stderr, "cannot write %s: %s\n", framePath.c_str(), lodepng_error_text(err));
        return 1;
    }
    if (unsigned err = lodepng::encode(gradedPath, toBytes(graded), kWidth, kHeight)) {
        std::fprintf(stderr, "cannot write %s: %s\n", gradedPath.c_str(), lodepng_error_text(err));
        return 1;
    }
    std::printf("Sample LUT:   %s\nSample frame: %s\nGraded frame: %s\n", cubePath.c_str(), framePath.c_str(),
                gradedPath.c_str());
    return 0;
}
