#pragma once
// The looks the stand-in desktop application hands back, shared by the
// program and the tests that check what arrived, and how it shows bytes.
#include <cstddef>
#include <string>
#include <vector>

#include "lut/Lut.h"

namespace quillane::test {

// One node of the look `kind` ("invert" or "warm") at node (r, g, b) of n per axis.
inline ColorLut standInNode(const std::string& kind, std::size_t n, std::size_t r, std::size_t g, std::size_t b) {
    const auto unit = [n](std::size_t i) { return n > 1 ? static_cast<float>(i) / static_cast<float>(n - 1) : 0.0f; };
    const float x = unit(r), y = unit(g), z = unit(b);
    if (kind == "warm") return {x * 1.1f + 0.05f > 1.0f ? 1.0f : x * 1.1f + 0.05f, y, z * 0.85f};
    return {1.0f - x, 1.0f - y, 1.0f - z};
}

// The whole look as Lut nodes (RGBA, red fastest).
inline std::vector<float> standInNodes(const std::string& kind, std::size_t n) {
    std::vector<float> nodes(n * n * n * 4);
    for (std::size_t b = 0; b < n; ++b)
        for (std::size_t g = 0; g < n; ++g)
            for (std::size_t r = 0; r < n; ++r) {
                const ColorLut c = standInNode(kind, n, r, g, b);
                float* node = nodes.data() + lutNodeOffset(n, r, g, b);
                node[0] = c.r, node[1] = c.g, node[2] = c.b, node[3] = 1.0f;
            }
    return nodes;
}

inline std::string hexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

}  // namespace quillane::test
