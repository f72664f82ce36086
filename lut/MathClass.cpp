#include "lut/MathClass.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

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
// The vector code below does exactly these operations lane by lane, except
// that the float applier reaches the weight f without double precision by an
// exact split of x (see applyFloatSse), giving the same float for every x.

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
    return useRange ? (x - rangeMin) / span : x;
}

bool nothingToDo(const void* src, const float* dst, const float* lut, int n, int pixels, int channels) {
    return !src || !dst || !lut || n < 1 || pixels < 1 || (channels != 3 && channels != 4);
}

#ifdef QUILLANE_SSE2

// Broadcast lane k. pshufd rather than shufps: it does not overwrite its
// source, so the compiler needs no register copy before each of the eight
// broadcasts per pixel (plain SSE2 has no three-operand shufps).
#define QL_BCAST(v, k) _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castps_si128(v), _MM_SHUFFLE(k, k, k, k)))

// Every node is 16 bytes at a multiple of 16 floats' bytes, so with a 16-byte
// aligned node array (what the Lut's vector gives) the loads can be aligned
// ones, which the compiler folds into the multiply as a memory operand.
template <bool Aligned>
inline __m128 loadNode(const float* p) {
    return Aligned ? _mm_load_ps(p) : _mm_loadu_ps(p);
}

// The eight corners from the base node, the three upper steps (in floats) and
// the corner weights: wlo for the lower blue plane, whi for the upper, each
// ordered (r0g0, r1g0, r0g1, r1g1). Node times weight equals weight times node
// bit for bit, so the operand order is free.
template <bool Aligned>
inline __m128 blend(const float* node, int dR, int dG, int dB, __m128 wlo, __m128 whi) {
    __m128 s = _mm_setzero_ps();
    s = _mm_add_ps(s, _mm_mul_ps(QL_BCAST(wlo, 0), loadNode<Aligned>(node)));
    s = _mm_add_ps(s, _mm_mul_ps(QL_BCAST(wlo, 1), loadNode<Aligned>(node + dR)));
    s = _mm_add_ps(s, _mm_mul_ps(QL_BCAST(wlo, 2), loadNode<Aligned>(node + dG)));
    s = _mm_add_ps(s, _mm_mul_ps(QL_BCAST(wlo, 3), loadNode<Aligned>(node + dG + dR)));
    const float* up = node + dB;
    s = _mm_add_ps(s, _mm_mul_ps(QL_BCAST(whi, 0), loadNode<Aligned>(up)));
    s = _mm_add_ps(s, _mm_mul_ps(QL_BCAST(whi, 1), loadNode<Aligned>(up + dR)));
    s = _mm_add_ps(s, _mm_mul_ps(QL_BCAST(whi, 2), loadNode<Aligned>(up + dG)));
    s = _mm_add_ps(s, _mm_mul_ps(QL_BCAST(whi, 3), loadNode<Aligned>(up + dG + dR)));
    return s;
}

inline void store(float* dst, __m128 v, int channels) {
    if (channels == 4) {
        const __m128 rgb = _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1));
        _mm_storeu_ps(dst, _mm_or_ps(_mm_and_ps(v, rgb), _mm_set_ps(1.0f, 0.0f, 0.0f, 0.0f)));
    } else {
        _mm_store_ss(dst, v);
        _mm_store_ss(dst + 1, QL_BCAST(v, 1));
        _mm_store_ss(dst + 2, _mm_movehl_ps(v, v));
    }
}

bool aligned16(const float* p) {
    return (reinterpret_cast<std::uintptr_t>(p) & 15) == 0;
}

// Per 8-bit value and axis: everything the pixel loop needs, computed once per
// call (the byte decides x, so it decides the index and the weights).
struct alignas(16) ByteAxis {
    __m128 w;    // red: (w0, w1, w0, w1); green: (w0, w0, w1, w1); blue: (w0, w0, w0, w0)
    __m128 w1;   // blue only: (w1, w1, w1, w1), so the pixel loop needs no broadcast
    int offset;  // lower node offset along this axis, in floats
    int step;    // offset from lower to upper node, in floats (0 at the top)
    int pad[2];
};


// Float pixels in blocks: first the indices and corner weights of a whole
// block, four pixels per vector (one channel per vector), then the blend
// pixel by pixel. The split keeps the blend loop short and free of
// dependencies between pixels, so the out-of-order core keeps the node loads
// of several pixels in flight (on noise every pixel lands in another cell),
// and the scalar reads of the offsets come long after their vector stores
// (no stalled store forwarding).
template <bool Aligned>
void applyFloatSse(const float* src, float* dst, const float* lut, float rangeMin, float span, bool useRange,
                   int n, int pixels, int channels) {
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const __m128 top = _mm_set1_ps(static_cast<float>(n - 1));
    const __m128 vMin = _mm_set1_ps(rangeMin), vSpan = _mm_set1_ps(span);
    const __m128i topI = _mm_set1_epi32(n - 1);
    const __m128 nF = _mm_set1_ps(static_cast<float>(n));
    const __m128i stepR = _mm_set1_epi32(static_cast<int>(lutNodeOffset(n, 1, 0, 0)));
    const __m128i stepG = _mm_set1_epi32(static_cast<int>(lutNodeOffset(n, 0, 1, 0)));
    const __m128i stepB = _mm_set1_epi32(static_cast<int>(lutNodeOffset(n, 0, 0, 1)));
    const __m128 high16 = _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(0xFFFFFF00u)));
    struct Ax {
        __m128i i;
        __m128 fi;      // i as float
        __m128i below;  // all ones where the upper node is the next one
        __m128 w0, w1;
    };
    auto axis4 = [&](__m128 x) {
        if (useRange) x = _mm_div_ps(_mm_sub_ps(x, vMin), vSpan);
        x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
        Ax a;
        a.i = _mm_cvttps_epi32(_mm_mul_ps(_mm_min_ps(_mm_max_ps(x, zero), one), top));
        a.fi = _mm_cvtepi32_ps(a.i);
        a.below = _mm_cmplt_epi32(a.i, topI);
        // The weight x * (N - 1) - i rounded once to float, without going
        // through double (six conversions per four pixels): split x into xh,
        // its top 16 significand bits, and xl = x - xh (at most 8 bits). With
        // N - 1 < 256 both xh * (N - 1) and xl * (N - 1) are exact, so is
        // xh * (N - 1) - i (the two lie within a factor 2 of each other, or i
        // is 0), and the final add is then the only rounding, of the exact
        // value. Overflow to infinity happens in the same cases as for the
        // double product, denormal x stay exact, and only an infinite x makes
        // xl NaN, so xl is cleared there. The one difference: x = -0 gives +0
        // where the double form gives -0, and the sign of a zero weight never
        // reaches a sum that starts from +0 (checked bit for bit in the tests).
        const __m128 xh = _mm_and_ps(x, high16);
        __m128 xl = _mm_sub_ps(x, xh);
        xl = _mm_and_ps(xl, _mm_cmpord_ps(xl, xl));
        const __m128 f = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(xh, top), a.fi), _mm_mul_ps(xl, top));
        a.w1 = _mm_and_ps(f, _mm_castsi128_ps(a.below));
        a.w0 = _mm_sub_ps(one, a.w1);
        return a;
    };

    constexpr int kBlock = 64;  // a multiple of 4; 3 KB of state on the stack
    alignas(16) int base[kBlock], dR[kBlock], dG[kBlock], dB[kBlock];
    __m128 wlo[kBlock], whi[kBlock];
    // Indices and weights of pixels k .. k + 3 of the block, from s.
    auto prepare = [&](const float* s, int k) {
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
        // Node indices stay below 2^24, so these float sums are exact.
        const __m128 index = _mm_add_ps(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(ab.fi, nF), ag.fi), nF), ar.fi);
        _mm_store_si128(reinterpret_cast<__m128i*>(base + k), _mm_slli_epi32(_mm_cvttps_epi32(index), 2));
        _mm_store_si128(reinterpret_cast<__m128i*>(dR + k), _mm_and_si128(ar.below, stepR));
        _mm_store_si128(reinterpret_cast<__m128i*>(dG + k), _mm_and_si128(ag.below, stepG));
        _mm_store_si128(reinterpret_cast<__m128i*>(dB + k), _mm_and_si128(ab.below, stepB));
        // Corner weights (wR * wG) * wB, then transposed to one vector per pixel.
        const __m128 c00 = _mm_mul_ps(ar.w0, ag.w0), c10 = _mm_mul_ps(ar.w1, ag.w0);
        const __m128 c01 = _mm_mul_ps(ar.w0, ag.w1), c11 = _mm_mul_ps(ar.w1, ag.w1);
        __m128 l0 = _mm_mul_ps(c00, ab.w0), l1 = _mm_mul_ps(c10, ab.w0), l2 = _mm_mul_ps(c01, ab.w0),
               l3 = _mm_mul_ps(c11, ab.w0);
        __m128 h0 = _mm_mul_ps(c00, ab.w1), h1 = _mm_mul_ps(c10, ab.w1), h2 = _mm_mul_ps(c01, ab.w1),
               h3 = _mm_mul_ps(c11, ab.w1);
        _MM_TRANSPOSE4_PS(l0, l1, l2, l3);
        _MM_TRANSPOSE4_PS(h0, h1, h2, h3);
        wlo[k] = l0, wlo[k + 1] = l1, wlo[k + 2] = l2, wlo[k + 3] = l3;
        whi[k] = h0, whi[k + 1] = h1, whi[k + 2] = h2, whi[k + 3] = h3;
    };
    for (int p0 = 0; p0 < pixels; p0 += kBlock) {
        const int count = std::min(kBlock, pixels - p0);
        const float* s = src + std::size_t(p0) * channels;
        float* d = dst + std::size_t(p0) * channels;
        int k = 0;
        for (; k + 4 <= count; k += 4) prepare(s + k * channels, k);
        if (k < count) {  // the last one to three pixels, padded with zeros
            float in[16] = {};
            std::copy(s + k * channels, s + count * channels, in);
            prepare(in, k);
        }
        // Two loops so that the channel count is a constant inside each.
        if (channels == 4) {
            for (k = 0; k < count; ++k)
                store(d + 4 * k, blend<Aligned>(lut + base[k], dR[k], dG[k], dB[k], wlo[k], whi[k]), 4);
        } else {
            for (k = 0; k < count; ++k)
                store(d + 3 * k, blend<Aligned>(lut + base[k], dR[k], dG[k], dB[k], wlo[k], whi[k]), 3);
        }
    }
}

template <bool Aligned>
void applyByteSse(const unsigned char* src, float* dst, const float* lut, float rangeMin, float rangeMax,
                  bool useRange, int n, int pixels, int channels) {
    const float span = rangeMax - rangeMin;
    ByteAxis tab[3][256];
    const int stride[3] = {static_cast<int>(lutNodeOffset(n, 1, 0, 0)), static_cast<int>(lutNodeOffset(n, 0, 1, 0)),
                           static_cast<int>(lutNodeOffset(n, 0, 0, 1))};
    for (int v = 0; v < 256; ++v) {
        const Axis a = axisOf(mapRange(static_cast<float>(v) / 255.0f, useRange, rangeMin, span), n);
        const float w0 = 1.0f - a.f, w1 = a.f;
        for (int c = 0; c < 3; ++c) {
            tab[c][v].offset = a.i * stride[c];
            tab[c][v].step = a.up * stride[c];
            tab[c][v].w = c == 0 ? _mm_set_ps(w1, w0, w1, w0) : c == 1 ? _mm_set_ps(w1, w1, w0, w0) : _mm_set1_ps(w0);
            tab[c][v].w1 = _mm_set1_ps(w1);
        }
    }
    for (int p = 0; p < pixels; ++p, src += channels, dst += channels) {
        const ByteAxis& r = tab[0][src[0]];
        const ByteAxis& g = tab[1][src[1]];
        const ByteAxis& b = tab[2][src[2]];
        const __m128 wRG = _mm_mul_ps(r.w, g.w);
        const __m128 wlo = _mm_mul_ps(wRG, b.w);
        const __m128 whi = _mm_mul_ps(wRG, b.w1);
        store(dst, blend<Aligned>(lut + r.offset + g.offset + b.offset, r.step, g.step, b.step, wlo, whi),
              channels);
    }
}

#endif

// The scalar float applier: the reference order of operations, used where
// no vector unit is, and for edges above 256 nodes, where the vector path's
// exact split of x * (N - 1) and its float node index no longer hold.
void applyFloatScalar(const float* src, float* dst, const float* lut, float rangeMin, float span, bool useRange,
                      int n, int pixels, int channels) {
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
}

// Largest edge the vector float path handles exactly (see applyFloatSse).
constexpr int kMaxVectorDimSize = 256;

}  // namespace

void applyLutCPUTrilinear(const float* src, float* dst, const float* lut, float rangeMin, float rangeMax,
                          bool useRange, int dimSize, int pixels, int channels) {
    if (nothingToDo(src, dst, lut, dimSize, pixels, channels)) return;
    const int n = dimSize;
    const float span = rangeMax - rangeMin;
#ifdef QUILLANE_SSE2
    if (n > kMaxVectorDimSize)
        applyFloatScalar(src, dst, lut, rangeMin, span, useRange, n, pixels, channels);
    else if (aligned16(lut))
        applyFloatSse<true>(src, dst, lut, rangeMin, span, useRange, n, pixels, channels);
    else
        applyFloatSse<false>(src, dst, lut, rangeMin, span, useRange, n, pixels, channels);
#else
    applyFloatScalar(src, dst, lut, rangeMin, span, useRange, n, pixels, channels);
#endif
}

void applyLutCPUTrilinear(const unsigned char* src, float* dst, const float* lut, float rangeMin,
                          float rangeMax, bool useRange, int dimSize, int pixels, int channels) {
    if (nothingToDo(src, dst, lut, dimSize, pixels, channels)) return;
#ifdef QUILLANE_SSE2
    if (aligned16(lut))
        applyByteSse<true>(src, dst, lut, rangeMin, rangeMax, useRange, dimSize, pixels, channels);
    else
        applyByteSse<false>(src, dst, lut, rangeMin, rangeMax, useRange, dimSize, pixels, channels);
#else
    for (int p = 0; p < pixels; ++p, src += channels, dst += channels) {
        float px[4] = {src[0] / 255.0f, src[1] / 255.0f, src[2] / 255.0f, 0.0f};
        applyFloatScalar(px, dst, lut, rangeMin, rangeMax - rangeMin, useRange, dimSize, 1, channels);
    }
#endif
}
