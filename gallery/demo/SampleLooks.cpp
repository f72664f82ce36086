#include "gallery/demo/SampleLooks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

namespace gallery_samples {

namespace {

struct Rgb {
    float r, g, b;
};

float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }
float mix(float a, float b, float t) { return a + (b - a) * t; }
float luma(const Rgb& c) { return 0.2126f * c.r + 0.7152f * c.g + 0.0722f * c.b; }
float smooth(float e0, float e1, float x) {
    const float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

Rgb scene(float u, float v) {  // u right, v down, both 0..1
    const float horizon = 0.55f + 0.06f * std::sin(u * 9.0f) + 0.03f * std::sin(u * 23.0f + 1.0f);
    Rgb c;
    if (v < horizon) {
        const float t = v / horizon;
        c = {mix(0.18f, 0.98f, t), mix(0.32f, 0.62f, t), mix(0.62f, 0.38f, t)};
        const float d = std::hypot(u - 0.68f, v - 0.42f);
        const float sun = 1.0f - smooth(0.04f, 0.06f, d);
        const float glow = std::exp(-d * 7.0f) * 0.35f;
        c = {clamp01(c.r + sun + glow), clamp01(c.g + sun * 0.9f + glow * 0.7f), clamp01(c.b + sun * 0.6f)};
    } else if (v < 0.78f) {
        const float t = (v - horizon) / (0.78f - horizon);
        c = {mix(0.10f, 0.22f, t), mix(0.24f, 0.40f, t), mix(0.08f, 0.12f, t)};
    } else {
        const float ripple = 0.05f * std::sin(u * 80.0f + v * 40.0f);
        c = {0.12f + ripple, 0.26f + ripple, 0.42f + ripple};
    }
    // A face on the left: skin, hair, eyes.
    const float fx = (u - 0.24f) / 0.09f, fy = (v - 0.52f) / 0.14f;
    if (fx * fx + fy * fy < 1.0f) {
        c = {0.86f - 0.15f * fy, 0.62f - 0.12f * fy, 0.50f - 0.10f * fy};
        if (fy < -0.55f) c = {0.20f, 0.12f, 0.08f};
        if (std::abs(fy + 0.15f) < 0.08f && std::abs(std::abs(fx) - 0.38f) < 0.12f) c = {0.1f, 0.1f, 0.12f};
    } else if (std::abs(u - 0.24f) < 0.11f && v > 0.65f && v < 0.78f) {
        c = {0.70f, 0.12f, 0.14f};  // a red shirt
    }
    // Colour patches along the bottom.
    if (v > 0.92f) {
        static const Rgb patches[] = {{0.9f, 0.1f, 0.1f}, {0.95f, 0.8f, 0.1f}, {0.1f, 0.7f, 0.2f},
                                      {0.1f, 0.6f, 0.9f}, {0.2f, 0.2f, 0.85f}, {0.8f, 0.2f, 0.8f},
                                      {1.0f, 1.0f, 1.0f}, {0.5f, 0.5f, 0.5f}, {0.0f, 0.0f, 0.0f}};
        c = patches[std::min(8, static_cast<int>(u * 9.0f))];
    }
    return c;
}

using Look = std::function<Rgb(Rgb)>;

Rgb contrast(Rgb c, float k) {
    auto s = [k](float x) { return clamp01(0.5f + (x - 0.5f) * k); };
    return {s(c.r), s(c.g), s(c.b)};
}

Rgb saturate(Rgb c, float k) {
    const float y = luma(c);
    return {clamp01(y + (c.r - y) * k), clamp01(y + (c.g - y) * k), clamp01(y + (c.b - y) * k)};
}

struct NamedLook {
    const char* file;
    Look look;
};

const std::vector<NamedLook>& looks() {
    static const std::vector<NamedLook> list = {
        {"Warm Sunset.cube", [](Rgb c) { return Rgb{clamp01(c.r * 1.12f + 0.03f), c.g * 1.02f, c.b * 0.80f}; }},
        {"Teal and Orange.cube",
         [](Rgb c) {
             const float y = luma(c);
             const float t = smooth(0.2f, 0.8f, y);
             return contrast(Rgb{clamp01(mix(c.r * 0.8f, c.r * 1.15f + 0.05f, t)), c.g,
                                 clamp01(mix(c.b * 1.2f + 0.06f, c.b * 0.75f, t))},
                             1.1f);
         }},
        {"Cool Night.cube", [](Rgb c) { return Rgb{c.r * 0.70f, c.g * 0.85f, clamp01(c.b * 1.15f + 0.08f)}; }},
        {"Bleach Bypass.cube", [](Rgb c) { return contrast(saturate(c, 0.35f), 1.35f); }},
        {"Noir.cube",
         [](Rgb c) {
             const float y = clamp01(0.5f + (luma(c) - 0.5f) * 1.4f);
             return Rgb{y, y, y};
         }},
        {"Sepia Print.cube",
         [](Rgb c) {
             const float y = luma(c);
             return Rgb{clamp01(y * 1.07f + 0.08f), clamp01(y * 0.92f + 0.04f), clamp01(y * 0.72f)};
         }},
        {"Faded Film.cube",
         [](Rgb c) {
             const Rgb s = saturate(c, 0.7f);
             return Rgb{0.10f + s.r * 0.78f, 0.09f + s.g * 0.80f, 0.12f + s.b * 0.74f};
         }},
        {"Vivid.cube", [](Rgb c) { return contrast(saturate(c, 1.6f), 1.15f); }},
        {"Cross Process.cube",
         [](Rgb c) {
             auto curve = [](float x, float a) { return clamp01(x + a * std::sin(x * 3.14159f)); };
             return Rgb{curve(c.r, 0.12f), curve(c.g, 0.08f), clamp01(c.b * 0.7f + 0.15f)};
         }},
    };
    return list;
}

}  // namespace

std::vector<unsigned char> sampleFrameArgb(int width, int height) {
    std::vector<unsigned char> argb(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const int row = height - 1 - y;  // bottom row first
        for (int x = 0; x < width; ++x) {
            const Rgb c = scene((x + 0.5f) / width, (y + 0.5f) / height);
            unsigned char* p = &argb[(std::size_t(row) * width + x) * 4];
            p[0] = 255;
            p[1] = static_cast<unsigned char>(std::lround(clamp01(c.r) * 255));
            p[2] = static_cast<unsigned char>(std::lround(clamp01(c.g) * 255));
            p[3] = static_cast<unsigned char>(std::lround(clamp01(c.b) * 255));
        }
    }
    return argb;
}

std::vector<std::string> writeSampleLooks(const std::string& folder, int nodes) {
    std::filesystem::create_directories(folder);
    std::vector<std::string> paths;
    for (const NamedLook& named : looks()) {
        const std::string path = folder + "/" + named.file;
        std::ofstream out(path, std::ios::binary);
        out << "TITLE \"" << std::string(named.file, std::string(named.file).size() - 5) << "\"\n";
        out << "LUT_3D_SIZE " << nodes << "\n";
        char line[64];
        for (int b = 0; b < nodes; ++b)
            for (int g = 0; g < nodes; ++g)
                for (int r = 0; r < nodes; ++r) {
                    const float s = 1.0f / (nodes - 1);
                    const Rgb c = named.look(Rgb{r * s, g * s, b * s});
                    std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", c.r, c.g, c.b);
                    out << line;
                }
        paths.push_back(path);
    }
    return paths;
}

}  // namespace gallery_samples
