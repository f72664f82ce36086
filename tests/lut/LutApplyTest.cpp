#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "lut/Lut.h"
#include "lut/MathClass.h"
#include "lut/reference/PlainLut.h"

namespace {

std::vector<float> randomNodes(int n, std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-0.2f, 1.2f);
    std::vector<float> v(4 * std::size_t(n) * n * n);
    for (std::size_t k = 0; k < v.size(); ++k) v[k] = k % 4 == 3 ? 1.0f : u(rng);
    return v;
}

std::vector<float> identity(int n) {
    std::vector<float> v(4 * std::size_t(n) * n * n);
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                float* p = &v[lutNodeOffset(n, r, g, b)];
                p[0] = float(r) / (n - 1);
                p[1] = float(g) / (n - 1);
                p[2] = float(b) / (n - 1);
                p[3] = 1.0f;
            }
    return v;
}

// Independent trilinear interpolation in double precision of one pixel.
std::vector<double> trilinear(const std::vector<float>& lut, int n, const double in[3], double rangeMin,
                              double rangeMax, bool useRange) {
    int lo[3], hi[3];
    double f[3];
    for (int c = 0; c < 3; ++c) {
        double x = useRange ? (in[c] - rangeMin) / (rangeMax - rangeMin) : in[c];
        if (std::isnan(x)) x = 0;
        const double clamped = x < 0 ? 0 : x > 1 ? 1 : x;
        lo[c] = int(std::floor(clamped * (n - 1)));
        hi[c] = std::min(lo[c] + 1, n - 1);
        f[c] = lo[c] == hi[c] ? 0 : x * (n - 1) - lo[c];  // above the range: the top node alone
    }
    std::vector<double> out(3, 0.0);
    for (int c = 0; c < 3; ++c)
        for (int corner = 0; corner < 8; ++corner) {
            const int ur = corner & 1, ug = (corner >> 1) & 1, ub = (corner >> 2) & 1;
            const double w = (ur ? f[0] : 1 - f[0]) * (ug ? f[1] : 1 - f[1]) * (ub ? f[2] : 1 - f[2]);
            out[c] += w * lut[lutNodeOffset(n, ur ? hi[0] : lo[0], ug ? hi[1] : lo[1], ub ? hi[2] : lo[2]) + c];
        }
    return out;
}

template <typename Src>
std::vector<double> expected(const std::vector<float>& lut, int n, const Src* px, double lo, double hi, bool useRange) {
    double x[3];
    for (int c = 0; c < 3; ++c) x[c] = std::is_same_v<Src, float> ? double(px[c]) : px[c] / 255.0;
    return trilinear(lut, n, x, lo, hi, useRange);
}

TEST(LutApply, MatchesDoublePrecisionTrilinear) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> in(-0.3f, 1.3f);  // includes extrapolation and clipping
    for (int n : {2, 3, 17, 33})
        for (bool useRange : {false, true})
            for (int channels : {3, 4}) {
                const std::vector<float> lut = randomNodes(n, rng);
                const float lo = useRange ? -0.125f : 0.0f, hi = useRange ? 1.125f : 1.0f;
                const int pixels = 2001;
                std::vector<float> src(std::size_t(pixels) * channels), dst(src.size()), dst8(src.size());
                std::vector<unsigned char> bytes(src.size());
                for (float& v : src) v = in(rng);
                for (auto& v : bytes) v = static_cast<unsigned char>(rng());
                // Exact node positions and the top, where index rounding matters most.
                for (int p = 0; p < 3 * n; ++p) src[p * channels] = float(p % n) / (n - 1);
                src[0] = 1.0f;
                applyLutCPUTrilinear(src.data(), dst.data(), lut.data(), lo, hi, useRange, n, pixels, channels);
                applyLutCPUTrilinear(bytes.data(), dst8.data(), lut.data(), lo, hi, useRange, n, pixels, channels);
                for (int p = 0; p < pixels; ++p) {
                    const std::size_t at = std::size_t(p) * channels;
                    const auto want = expected(lut, n, &src[at], lo, hi, useRange);
                    const auto want8 = expected(lut, n, &bytes[at], lo, hi, useRange);
                    for (int c = 0; c < 3; ++c) {
                        ASSERT_NEAR(dst[at + c], want[c], 2e-5 * (1 + std::fabs(want[c])) * n) << n << " " << p;
                        ASSERT_NEAR(dst8[at + c], want8[c], 2e-5 * (1 + std::fabs(want8[c])) * n) << n << " " << p;
                    }
                    if (channels == 4) {
                        ASSERT_TRUE(dst[at + 3] == 1.0f && dst8[at + 3] == 1.0f);
                    }
                }
            }
}

// The library's vector code gives exactly the plain per-pixel loop's bits,
// the padded last pixels (an odd count) included.
TEST(LutApply, EqualsPlainLoopBitForBit) {
    std::mt19937 rng(99);
    const float specials[] = {0.0f, -0.0f, 1.0f, -0.1f, 1e30f, -1e30f, std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(), 1e-40f, 0.99999994f, 0.5f};
    std::uniform_real_distribution<float> in(-2.0f, 3.0f);
    for (int n : {1, 2, 5, 33, 65, 255}) {
        const std::vector<float> lut = randomNodes(n, rng);
        for (int mode = 0; mode < 3; ++mode) {
            const bool useRange = mode > 0;
            const float lo = mode == 2 ? 0.5f : -0.1f, hi = mode == 2 ? 0.5f : 4.0f;  // mode 2 divides by 0
            for (int channels : {3, 4}) {
                const int pixels = 2999;
                std::vector<float> src(std::size_t(pixels) * channels);
                for (std::size_t k = 0; k < src.size(); ++k)
                    src[k] = k % 5 == 0 ? specials[rng() % std::size(specials)] : in(rng);
                std::vector<unsigned char> bytes(src.size());
                for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<unsigned char>(k < 768 ? k / 3 : rng());
                std::vector<float> a(src.size()), b(src.size()), a8(src.size()), b8(src.size());
                applyLutCPUTrilinear(src.data(), a.data(), lut.data(), lo, hi, useRange, n, pixels, channels);
                quillane::plain::applyLut(src.data(), b.data(), lut.data(), lo, hi, useRange, n, pixels, channels);
                applyLutCPUTrilinear(bytes.data(), a8.data(), lut.data(), lo, hi, useRange, n, pixels, channels);
                quillane::plain::applyLut(bytes.data(), b8.data(), lut.data(), lo, hi, useRange, n, pixels, channels);
                ASSERT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float))) << n << " " << mode;
                ASSERT_EQ(0, std::memcmp(a8.data(), b8.data(), a8.size() * sizeof(float))) << n << " " << mode;
                // A node array off the 16-byte grid takes the unaligned loads; same bits.
                std::vector<float> shifted(lut.size() + 1);
                std::copy(lut.begin(), lut.end(), shifted.begin() + 1);
                applyLutCPUTrilinear(src.data(), a.data(), shifted.data() + 1, lo, hi, useRange, n, pixels, channels);
                applyLutCPUTrilinear(bytes.data(), a8.data(), shifted.data() + 1, lo, hi, useRange, n, pixels, channels);
                ASSERT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float))) << n << " " << mode;
                ASSERT_EQ(0, std::memcmp(a8.data(), b8.data(), a8.size() * sizeof(float))) << n << " " << mode;
            }
        }
    }
}

// The weights come from float arithmetic that must round exactly like the
// double-precision form: a dense sweep over the inputs that matter, [-0.5, 1.5]
// sampled across its bit patterns, the few ulps around every node position
// and all 8-bit values, for node counts up to the largest.
TEST(LutApply, WeightsRoundLikeDoublePrecision) {
    std::mt19937 rng(11);
    for (int n : {2, 3, 17, 33, 64, 65, 129, 254, 255}) {
        const std::vector<float> lut = randomNodes(n, rng);
        std::vector<float> xs;
        std::uniform_real_distribution<float> wide(-0.5f, 1.5f);
        std::uniform_int_distribution<std::uint32_t> bits(0, 0x3fc00000u);  // |x| up to 1.5, every exponent
        for (int k = 0; k < 60000; ++k) {
            xs.push_back(wide(rng));
            std::uint32_t u = bits(rng) | (rng() & 1u) << 31;
            float v;
            std::memcpy(&v, &u, sizeof v);
            xs.push_back(v);
        }
        for (int j = 0; j < n; ++j) {
            float at = float(j) / float(std::max(n - 1, 1));
            for (int step = 0; step < 8; ++step) at = std::nextafter(at, -1.0f);
            for (int step = 0; step < 17; ++step, at = std::nextafter(at, 2.0f)) xs.push_back(at);
        }
        for (int v = 0; v < 256; ++v) xs.push_back(v / 255.0f);
        const int pixels = static_cast<int>(xs.size());
        std::vector<float> src(std::size_t(pixels) * 4);
        for (int p = 0; p < pixels; ++p)
            for (int c = 0; c < 3; ++c) src[std::size_t(p) * 4 + c] = xs[(p + c * 7919) % pixels];
        std::vector<float> a(src.size()), b(src.size());
        applyLutCPUTrilinear(src.data(), a.data(), lut.data(), 0, 1, false, n, pixels, 4);
        quillane::plain::applyLut(src.data(), b.data(), lut.data(), 0, 1, false, n, pixels, 4);
        for (int p = 0; p < pixels; ++p)
            ASSERT_EQ(0, std::memcmp(&a[std::size_t(p) * 4], &b[std::size_t(p) * 4], 4 * sizeof(float)))
                << "n " << n << " x " << src[std::size_t(p) * 4] << " " << src[std::size_t(p) * 4 + 1] << " "
                << src[std::size_t(p) * 4 + 2];
    }
}

// An input of -inf extrapolates with weights +inf and -inf; with nodes of
// opposite sign along that axis every term is +inf, so the sum is +inf, not NaN.
TEST(LutApply, MinusInfinityExtrapolatesToInfinity) {
    const int n = 3;
    std::vector<float> lut(4 * n * n * n, 1.0f);
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int c = 0; c < 3; ++c) lut[lutNodeOffset(n, 1, g, b) + c] = -1.0f;
    const float src[] = {-std::numeric_limits<float>::infinity(), 0.25f, 0.25f};
    float dst[3], plain[3];
    applyLutCPUTrilinear(src, dst, lut.data(), 0, 1, false, n, 1, 3);
    quillane::plain::applyLut(src, plain, lut.data(), 0, 1, false, n, 1, 3);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(dst[c], std::numeric_limits<float>::infinity());
        EXPECT_EQ(plain[c], std::numeric_limits<float>::infinity());
    }
}

// Far above the range an axis sits on its top node, exactly as at 1.0: the
// weights must not grow with x (x = 100 with 33 nodes makes them ~3000 each).
TEST(LutApply, FarAboveTheRangeIsTheTopNode) {
    std::mt19937 rng(3);
    const int n = 33;
    const std::vector<float> lut = randomNodes(n, rng);
    const float* topNode = &lut[lutNodeOffset(n, n - 1, n - 1, n - 1)];
    for (int axis = 0; axis < 3; ++axis) {
        // Float x = 100 against x = 1 on one axis; then every axis far above.
        float src[9] = {0.3f, 0.71f, 0.45f, 0.3f, 0.71f, 0.45f, 100.0f, 1e30f, 7.0f};
        src[axis] = 100.0f;
        src[3 + axis] = 1.0f;
        float dst[9];
        applyLutCPUTrilinear(src, dst, lut.data(), 0.0f, 1.0f, false, n, 3, 3);
        const auto want = expected(lut, n, src, 0.0, 1.0, false);
        // 8-bit, range 0..0.5: 255 maps to 2, every byte from 128 up lies above the range.
        unsigned char bytes[6] = {40, 90, 120, 255, 200, 128};
        bytes[axis] = 255;
        float dst8[6];
        applyLutCPUTrilinear(bytes, dst8, lut.data(), 0.0f, 0.5f, true, n, 2, 3);
        const auto want8 = expected(lut, n, bytes, 0.0, 0.5, true);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(dst[c], want[c], 1e-5) << axis;
            EXPECT_EQ(dst[c], dst[3 + c]) << axis;
            EXPECT_EQ(dst[6 + c], topNode[c]);
            EXPECT_NEAR(dst8[c], want8[c], 1e-5) << axis;
            EXPECT_EQ(dst8[3 + c], topNode[c]);
        }
    }
}

// What the oracle comparisons above leave to tolerance or share with the
// oracle: the exact top, the range, a single node.
TEST(LutApply, IdentityEdgesAndRange) {
    const int n = 33;
    const std::vector<float> id = identity(n);
    // 1.0 and 255 give the top node exactly.
    const float src[] = {0.0f, 0.3f, 1.0f};
    float dst[3];
    applyLutCPUTrilinear(src, dst, id.data(), 0, 1, false, n, 1, 3);
    EXPECT_EQ(dst[2], 1.0f);
    const unsigned char top[] = {255, 0, 128};
    applyLutCPUTrilinear(top, dst, id.data(), 0, 1, false, n, 1, 3);
    EXPECT_EQ(dst[0], 1.0f);

    // The range maps x to (x - min) / (max - min): the identity of a range
    // (node k holds min + k / (N - 1) * (max - min)) gives back every value in
    // it, on both appliers.
    for (const auto& [lo, hi] : {std::pair{-0.25f, 1.25f}, {0.0f, 0.1f}, {0.25f, 0.75f}, {-0.125f, 1.125f}}) {
        std::vector<float> ranged = id;
        for (std::size_t k = 0; k < ranged.size(); ++k)
            if (k % 4 != 3) ranged[k] = lo + ranged[k] * (hi - lo);
        std::vector<unsigned char> ramp;
        std::vector<float> rampFloat;
        for (int v = 0; v <= 255; ++v) {
            if (v / 255.0f < lo || v / 255.0f > hi) continue;
            ramp.insert(ramp.end(), {static_cast<unsigned char>(v), static_cast<unsigned char>(255 - v), 0});
            rampFloat.insert(rampFloat.end(), {v / 255.0f, (255 - v) / 255.0f, 0.0f});
        }
        const int pixels = static_cast<int>(ramp.size() / 3);
        std::vector<float> out(ramp.size()), outFloat(ramp.size());
        applyLutCPUTrilinear(ramp.data(), out.data(), ranged.data(), lo, hi, true, n, pixels, 3);
        applyLutCPUTrilinear(rampFloat.data(), outFloat.data(), ranged.data(), lo, hi, true, n, pixels, 3);
        for (std::size_t k = 0; k < ramp.size(); k += 3) {
            EXPECT_NEAR(out[k], rampFloat[k], 1e-5f) << lo << ".." << hi << " " << int(ramp[k]);
            EXPECT_NEAR(outFloat[k], rampFloat[k], 1e-5f) << lo << ".." << hi << " " << int(ramp[k]);
            if (rampFloat[k + 1] >= lo && rampFloat[k + 1] <= hi) {  // the other channel, where it is in the range
                EXPECT_NEAR(out[k + 1], rampFloat[k + 1], 1e-5f) << lo << ".." << hi << " " << int(ramp[k]);
            }
        }
        ASSERT_GT(pixels, 20);
    }

    // One node: every pixel takes its colour; alpha is 1 whatever the source's.
    const std::vector<float> one = {0.25f, 0.5f, 0.75f, 1.0f};
    const float any[] = {3.0f, -2.0f, 0.4f, 0.1f};
    float four[4];
    applyLutCPUTrilinear(any, four, one.data(), 0, 1, false, 1, 1, 4);
    EXPECT_TRUE(four[0] == 0.25f && four[1] == 0.5f && four[2] == 0.75f && four[3] == 1.0f);
}

TEST(LutApply, HostileInputsStayInsideTheNodes) {
    const int n = 3;
    const std::vector<float> id = identity(n);  // exact size: ASan catches any read past it
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float src[] = {nan, nan, nan, 0, inf, -inf, 0, 0, 0, 0, 0, 0};
    float dst[12];
    applyLutCPUTrilinear(src, dst, id.data(), 0, 1, false, n, 3, 4);
    EXPECT_EQ(dst[0], 0.0f);  // NaN counts as 0
    EXPECT_EQ(dst[3], 1.0f);
    // A range of zero width makes every input infinite or NaN; still no stray read.
    applyLutCPUTrilinear(src, dst, id.data(), 0.5f, 0.5f, true, n, 3, 4);
    unsigned char b[6] = {0, 128, 255, 255, 0, 128};
    applyLutCPUTrilinear(b, dst, id.data(), 0.5f, 0.5f, true, n, 2, 3);

    // Nothing written: no nodes, N = 0, no pixels, a channel count other than 3 or 4;
    // with three channels exactly three floats per pixel.
    float sentinel[8];
    std::fill(sentinel, sentinel + 8, -5.0f);
    applyLutCPUTrilinear(src, sentinel, nullptr, 0, 1, false, n, 2, 4);
    applyLutCPUTrilinear(src, sentinel, id.data(), 0, 1, false, 0, 2, 4);
    applyLutCPUTrilinear(src, sentinel, id.data(), 0, 1, false, n, -4, 4);
    applyLutCPUTrilinear(src, sentinel, id.data(), 0, 1, false, n, 2, 2);
    applyLutCPUTrilinear(b, sentinel, id.data(), 0, 1, false, n, 2, 1);
    for (float v : sentinel) EXPECT_EQ(v, -5.0f);
    applyLutCPUTrilinear(b, sentinel, id.data(), 0, 1, false, n, 2, 3);
    EXPECT_EQ(sentinel[2], 1.0f);
    EXPECT_EQ(sentinel[6], -5.0f);
}

}  // namespace
