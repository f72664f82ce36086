#pragma once
// LUT files written by the tests: n nodes per edge graded by `grade`, as a
// 10-bit .3dl (blue fastest) when the path ends so, else as .cube (red fastest).
#include <cmath>
#include <fstream>
#include <functional>
#include <string>

namespace quillane::test {

using Grade = std::function<void(float rgb[3])>;

inline void writeLutFile(const std::string& path, int n, const Grade& grade) {
    const bool cube = path.size() < 4 || path.compare(path.size() - 4, 4, ".3dl") != 0;
    std::ofstream out(path, std::ios::binary);
    if (cube) out << "LUT_3D_SIZE " << n << '\n';
    for (int i = 0; !cube && i < n; ++i) out << (i * 1023) / (n - 1) << (i + 1 < n ? ' ' : '\n');
    for (int slow = 0; slow < n; ++slow)
        for (int mid = 0; mid < n; ++mid)
            for (int fast = 0; fast < n; ++fast) {
                const int r = cube ? fast : slow, b = cube ? slow : fast;
                float rgb[3] = {float(r) / (n - 1), float(mid) / (n - 1), float(b) / (n - 1)};
                grade(rgb);
                if (cube)
                    out << rgb[0] << ' ' << rgb[1] << ' ' << rgb[2] << '\n';
                else
                    out << std::lround(rgb[0] * 1023) << ' ' << std::lround(rgb[1] * 1023) << ' '
                        << std::lround(rgb[2] * 1023) << '\n';
            }
}

}  // namespace quillane::test
