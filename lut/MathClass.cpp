#include "lut/MathClass.h"

#include <algorithm>
#include <cmath>

#include "lut/Lut.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUILLANE_SSE2 1
#endif

// The arithmetic is fixed so that every build gives the same bits:
//   lower index i = floor(min(max(x, 0), 1) * (N - 1)) in float,
//   upper weight f = float(double(x) * (N - 1) - i) from the unclamped x,
//   or 0 where i is the top node (lower and upper corner are then the same
//   node: weights f and 1 - f would only cancel, and for x far above 1 their
//   products across three axes lose every significant digit),
//   corner weight (wR * wG) * wB, and the eight corners summed in the order
//   blue, green, red (red fastest), starting from 0.
// The vector code below does exactly these operations lane by lane.

namespace {

struct Axis {
    int i;    // lower node index
    int up;   // 1 when the upper node is the next one, 0 at the top
    float f;  // weight of the upper node
};

inline Axis axisOf(float x, int n) {
    if (std::isnan(x)) x = 0.0f;
    const float c = std::min(std::max(x, 0.0f), 1.0f);
    Axis a;
    a.i = static_cast<int>(std::floor(c * static_cast<float>(n - 1)));
    a.up = a.i < n - 1 ? 1 : 0;
    a.f = a.up ? static_cast<float>(static_cast<double>(x) * (n - 1) - a.i) : 0.0f;
    return a;
}

inline float mapRange(float x, bool useRange, float rangeMin, float span) {
    return useRange ? (x + rangeMin) / span : x;
}

bool nothingToDo(const void* src, const float* dst, const float* lut, unsigned char n, int pixels,
                 unsigned char channels) {
    return !src || !dst || !lut || n < 1 || pixels < 1 || (channels != 3 && channels != 4);
}

#ifdef QUILLANE_SSE2

#define QL_BCAST(v, k) _mm_shuffle_ps((v), (v), _MM_SHUFFLE(k, k, k, k))

// The eight corners from the base node, the three upper steps (in floats) and
// the corner weights: wlo for the lower blue plane, whi for the upper, each
// ordered (r0g0, r1g0, r0g1, r1g1).
inline __m128 blend(const float* node, int dR, int dG, int dB, __m128 wlo, __m128 whi) {
    __m128 s = _mm_setzero_ps();
    s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(node), QL_BCAST(wlo, 0)));
    s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(node + dR), QL_BCAST(wlo, 1)));
    s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(node + dG), QL_BCAST(wlo, 2)));
    s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(node + dG + dR), QL_BCAST(wlo, 3)));
    const float* up = node + dB;
    s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(up), QL_BCAST(whi, 0)));
    s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(up + dR), QL_BCAST(whi, 1)));
    s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(up + dG), QL_BCAST(whi, 2)));
    s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(up + dG + dR), QL_BCAST(whi, 3)));
    return s;
}

inline void store(float* dst, __m128 v, unsigned char channels) {
    if (channels == 4) {
        const __m128 rgb = _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1));
        _mm_storeu_ps(dst, _mm_or_ps(_mm_and_ps(v, rgb), _mm_set_ps(1.0f, 0.0f, 0.0f, 0.0f)));
    } else {
        _mm_store_ss(dst, v);
        _mm_store_ss(dst + 1, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1)));
        _mm_store_ss(dst + 2, _mm_movehl_ps(v, v));
    }
}

// Per 8-bit value and axis: everything the pixel loop needs, computed once per
// call (the byte decides x, so it decides the index and the weights).
struct alignas(16) ByteAxis {
    __m128 w;    // red: (w0, w1, w0, w1); green: (w0, w0, w1, w1); blue: (w0, w1, w0, w1)
    int offset;  // lower node offset along this axis, in floats
    int step;    // offset from lower to upper node, in floats (0 at the top)
    int pad[2];
};

#endif

}  // namespace

void applyLutCPUTrilinear(const float* src, float* dst, const float* lut, float rangeMin, float rangeMax,
                          bool useRange, unsigned char dimSize, int pixels, unsigned char channels) {
    if (nothingToDo(src, dst, lut, dimSize, pixels, channels)) return;
    const int n = dimSize;
    const float span = rangeMax - rangeMin;
#ifdef QUILLANE_SSE2
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const __m128 top = _mm_set1_ps(static_cast<float>(n - 1));
    const __m128d topD = _mm_set1_pd(static_cast<double>(n - 1));
    const __m128 vMin = _mm_set1_ps(rangeMin), vSpan = _mm_set1_ps(span);
    const int sR = 4, sG = 4 * n, sB = 4 * n * n;
    // Four pixels at a time, one channel per vector, for everything up to the
    // corner weights; node indices stay below 2^24, so float sums are exact.
    const __m128i topI = _mm_set1_epi32(n - 1);
    const __m128 nF = _mm_set1_ps(static_cast<float>(n));
    const __m128i stepR = _mm_set1_epi32(sR), stepG = _mm_set1_epi32(sG), stepB = _mm_set1_epi32(sB);
    struct Ax {
        __m128i i;
        __m128i below;  // all ones where the upper node is the next one
        __m128 w0, w1;
    };
    auto axis4 = [&](__m128 x) {
        if (useRange) x = _mm_div_ps(_mm_add_ps(x, vMin), vSpan);
        x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
        Ax a;
        a.i = _mm_cvttps_epi32(_mm_mul_ps(_mm_min_ps(_mm_max_ps(x, zero), one), top));
        const __m128d lo = _mm_sub_pd(_mm_mul_pd(_mm_cvtps_pd(x), topD), _mm_cvtepi32_pd(a.i));
        const __m128d hi = _mm_sub_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), topD),
                                      _mm_cvtepi32_pd(_mm_shuffle_epi32(a.i, _MM_SHUFFLE(3, 2, 3, 2))));
        a.below = _mm_cmplt_epi32(a.i, topI);
        a.w1 = _mm_and_ps(_mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)), _mm_castsi128_ps(a.below));
        a.w0 = _mm_sub_ps(one, a.w1);
        return a;
    };
    // Four pixels from s to d; the last one to three pixels go through it padded.
    auto quad = [&](const float* s, float* d) {
        __m128 r, g, b;
        if (channels == 4) {
            __m128 p0 = _mm_loadu_ps(s), p1 = _mm_loadu_ps(s + 4), p2 = _mm_loadu_ps(s + 8),
                   p3 = _mm_loadu_ps(s + 12);
            _MM_TRANSPOSE4_PS(p0, p1, p2, p3);
            r = p0, g = p1, b = p2;
        } else {
            r = _mm_setr_ps(s[0], s[3], s[6], s[9]);
            g = _mm_setr_ps(s[1], s[4], s[7], s[10]);
            b = _mm_setr_ps(s[2], s[5], s[8], s[11]);
        }
        const Ax ar = axis4(r), ag = axis4(g), ab = axis4(b);
        const __m128 index = _mm_add_ps(
            _mm_mul_ps(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(ab.i), nF), _mm_cvtepi32_ps(ag.i)), nF),
            _mm_cvtepi32_ps(ar.i));
        alignas(16) int base[4], dR[4], dG[4], dB[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(base), _mm_slli_epi32(_mm_cvttps_epi32(index), 2));
        _mm_store_si128(reinterpret_cast<__m128i*>(dR), _mm_and_si128(ar.below, stepR));
        _mm_store_si128(reinterpret_cast<__m128i*>(dG), _mm_and_si128(ag.below, stepG));
        _mm_store_si128(reinterpret_cast<__m128i*>(dB), _mm_and_si128(ab.below, stepB));
        // Corner weights (wR * wG) * wB, then one vector per pixel.
        const __m128 c00 = _mm_mul_ps(ar.w0, ag.w0), c10 = _mm_mul_ps(ar.w1, ag.w0);
        const __m128 c01 = _mm_mul_ps(ar.w0, ag.w1), c11 = _mm_mul_ps(ar.w1, ag.w1);
        __m128 l0 = _mm_mul_ps(c00, ab.w0), l1 = _mm_mul_ps(c10, ab.w0), l2 = _mm_mul_ps(c01, ab.w0),
               l3 = _mm_mul_ps(c11, ab.w0);
        __m128 h0 = _mm_mul_ps(c00, ab.w1), h1 = _mm_mul_ps(c10, ab.w1), h2 = _mm_mul_ps(c01, ab.w1),
               h3 = _mm_mul_ps(c11, ab.w1);
        _MM_TRANSPOSE4_PS(l0, l1, l2, l3);
        _MM_TRANSPOSE4_PS(h0, h1, h2, h3);
        store(d, blend(lut + base[0], dR[0], dG[0], dB[0], l0, h0), channels);
        store(d + channels, blend(lut + base[1], dR[1], dG[1], dB[1], l1, h1), channels);
        store(d + 2 * channels, blend(lut + base[2], dR[2], dG[2], dB[2], l2, h2), channels);
        store(d + 3 * channels, blend(lut + base[3], dR[3], dG[3], dB[3], l3, h3), channels);
    };
    int p = 0;
    for (; p + 4 <= pixels; p += 4, src += 4 * channels, dst += 4 * channels) quad(src, dst);
    if (p < pixels) {
        const int rest = (pixels - p) * channels;
        float in[16] = {}, out[16];
        std::copy(src, src + rest, in);
        quad(in, out);
        std::copy(out, out + rest, dst);
    }
#else
    for (int p = 0; p < pixels; ++p, src += channels, dst += channels) {
        Axis a[3];
        for (int c = 0; c < 3; ++c) a[c] = axisOf(mapRange(src[c], useRange, rangeMin, span), n);
        float out[3] = {0.0f, 0.0f, 0.0f};
        for (int cb = 0; cb < 2; ++cb)
            for (int cg = 0; cg < 2; ++cg)
                for (int cr = 0; cr < 2; ++cr) {
                    const float wr = cr ? a[0].f : 1.0f - a[0].f, wg = cg ? a[1].f : 1.0f - a[1].f;
                    const float wb = cb ? a[2].f : 1.0f - a[2].f;
                    const float w = wr * wg * wb;
                    const float* node = lut + lutNodeOffset(n, a[0].i + cr * a[0].up, a[1].i + cg * a[1].up,
                                                            a[2].i + cb * a[2].up);
                    for (int c = 0; c < 3; ++c) {
                        const float term = node[c] * w;
                        out[c] += term;
                    }
                }
        for (int c = 0; c < 3; ++c) dst[c] = out[c];
        if (channels == 4) dst[3] = 1.0f;
    }
#endif
}

void applyLutCPUTrilinear(const unsigned char* src, float* dst, const float* lut, float rangeMin,
                          float rangeMax, bool useRange, unsigned char dimSize, int pixels,
                          unsigned char channels) {
    if (nothingToDo(src, dst, lut, dimSize, pixels, channels)) return;
#ifdef QUILLANE_SSE2
    const int n = dimSize;
    const float span = rangeMax - rangeMin;
    ByteAxis tab[3][256];
    const int stride[3] = {4, 4 * n, 4 * n * n};
    for (int v = 0; v < 256; ++v) {
        const Axis a = axisOf(mapRange(static_cast<float>(v) / 255.0f, useRange, rangeMin, span), n);
        const float w0 = 1.0f - a.f, w1 = a.f;
        for (int c = 0; c < 3; ++c) {
            tab[c][v].offset = a.i * stride[c];
            tab[c][v].step = a.up * stride[c];
            tab[c][v].w = c == 1 ? _mm_set_ps(w1, w1, w0, w0) : _mm_set_ps(w1, w0, w1, w0);
        }
    }
    for (int p = 0; p < pixels; ++p, src += channels, dst += channels) {
        const ByteAxis& r = tab[0][src[0]];
        const ByteAxis& g = tab[1][src[1]];
        const ByteAxis& b = tab[2][src[2]];
        const __m128 wRG = _mm_mul_ps(r.w, g.w);
        const __m128 wlo = _mm_mul_ps(wRG, QL_BCAST(b.w, 0));
        const __m128 whi = _mm_mul_ps(wRG, QL_BCAST(b.w, 1));
        store(dst, blend(lut + r.offset + g.offset + b.offset, r.step, g.step, b.step, wlo, whi), channels);
    }
#else
    for (int p = 0; p < pixels; ++p, src += channels, dst += channels) {
        float px[4] = {src[0] / 255.0f, src[1] / 255.0f, src[2] / 255.0f, 0.0f};
        applyLutCPUTrilinear(px, dst, lut, rangeMin, rangeMax, useRange, dimSize, 1, channels == 4 ? 4 : 3);
    }
#endif
}
