// The transform's vector steps (AVX2, chosen at run time). Each gives the plain steps' values
// to the bit: see the comments at each.

#include "analysis/fft_steps.h"

#if defined(KORV_FFT_AVX2)

#include <immintrin.h>

#include <initializer_list>

namespace korv {

bool cpuHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}

namespace {

constexpr float kLevelMargin = 1e-3f;

// The quick levels of eight powers, and which of them are decided (see levelsOfPowersAvx2).
struct QuickLevels {
    __m256 levels;
    __m256 decided;
};

__attribute__((target("avx2"), always_inline)) inline QuickLevels
quickLevelsAvx2(const double* powers) {
    constexpr float kFortyOverLn10 = 17.371779276130073f;
    constexpr float kLn2High = 0.693145751953125f; // 15 bits: e ln2High is exact for |e| < 256
    constexpr float kLn2Low = 1.42860682030941723212e-6f;
    const __m256 onev = _mm256_set1_ps(1.0f);
    const __m256 p = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_loadu_pd(powers + 4)),
                                     _mm256_cvtpd_ps(_mm256_loadu_pd(powers)));
    const __m256i bits = _mm256_castps_si256(p);
    // The biased exponent with the sign bit above it: 1 to 254 only for normal positives.
    const __m256i biased = _mm256_srli_epi32(bits, 23);
    const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(1), biased),
                                            _mm256_cmpgt_epi32(biased, _mm256_set1_epi32(254)));
    __m256 m = _mm256_castsi256_ps(_mm256_or_si256(
        _mm256_and_si256(bits, _mm256_set1_epi32(0x007fffff)), _mm256_set1_epi32(0x3f800000)));
    __m256 e = _mm256_cvtepi32_ps(_mm256_sub_epi32(biased, _mm256_set1_epi32(127)));
    const __m256 above = _mm256_cmp_ps(m, _mm256_set1_ps(1.41421356f), _CMP_GT_OQ);
    m = _mm256_sub_ps(m, _mm256_and_ps(above, _mm256_mul_ps(m, _mm256_set1_ps(0.5f))));
    e = _mm256_add_ps(e, _mm256_and_ps(above, onev));
    const __m256 s = _mm256_div_ps(_mm256_sub_ps(m, onev), _mm256_add_ps(m, onev));
    const __m256 s2 = _mm256_mul_ps(s, s);
    __m256 poly = _mm256_set1_ps(2.0f / 9.0f);
    for (const float c : {2.0f / 7.0f, 2.0f / 5.0f, 2.0f / 3.0f, 2.0f}) {
        poly = _mm256_add_ps(_mm256_set1_ps(c), _mm256_mul_ps(s2, poly));
    }
    const __m256 lnm =
        _mm256_add_ps(_mm256_mul_ps(s, poly), _mm256_mul_ps(e, _mm256_set1_ps(kLn2Low)));
    const __m256 ln = _mm256_add_ps(_mm256_mul_ps(e, _mm256_set1_ps(kLn2High)), lnm);
    const __m256 quick = _mm256_mul_ps(ln, _mm256_set1_ps(kFortyOverLn10));
    const __m256 truncated = _mm256_round_ps(quick, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256 fraction =
        _mm256_andnot_ps(_mm256_set1_ps(-0.0f), _mm256_sub_ps(quick, truncated));
    const __m256 inside =
        _mm256_and_ps(_mm256_cmp_ps(fraction, _mm256_set1_ps(kLevelMargin), _CMP_GT_OQ),
                      _mm256_cmp_ps(fraction, _mm256_set1_ps(1.0f - kLevelMargin), _CMP_LT_OQ));
    return {quick, _mm256_andnot_ps(_mm256_castsi256_ps(outside), inside)};
}

} // namespace

// Levels of eight powers at a time, in single precision. A quick 40 / ln 10 x ln(P) decides
// wherever it is not within 1e-3 of a step of the truncation: the exact and the quick value
// then lie on the same side of it. The quick value: P rounded to float (relative error 6e-8),
// ln P = e ln 2 + ln m with m in [1/sqrt 2, sqrt 2), ln m = 2 atanh(s), s = (m - 1) / (m + 1),
// |s| < 0.172, as an odd series to s^9 (the rest weighs less than 1e-9); e ln 2 in two parts,
// the first exact. The roundings of the sums and products stay below 2e-4 level units for
// every level a float can hold (up to 1541), five times inside the margin. Elsewhere, and for
// powers that are not normal floats, log10 itself decides.
__attribute__((target("avx2"))) void levelsOfPowersAvx2(const double* powers, std::int16_t* levels,
                                                        int count) {
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        const QuickLevels quick = quickLevelsAvx2(powers + k);
        // Levels of normal floats lie within +-1541, so the packing never saturates them.
        const __m256i whole = _mm256_cvttps_epi32(quick.levels);
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(levels + k),
            _mm_packs_epi32(_mm256_castsi256_si128(whole), _mm256_extracti128_si256(whole, 1)));
        const int mask = _mm256_movemask_ps(quick.decided);
        for (int lane = 0; mask != 0xFF && lane < 8; ++lane) {
            if ((mask & (1 << lane)) == 0) {
                levels[k + lane] = exactLevel(powers[k + lane]);
            }
        }
    }
    for (; k < count; ++k) {
        levels[k] = exactLevel(powers[k]);
    }
}

namespace {

// One butterfly on two complex values of p and of q: q <- p + tt, p <- p - tt, where
// tt = (qim ta + qre tb, -qre ta + qim tb), i.e. tr and -ti.
__attribute__((target("avx2"), always_inline)) inline void butterflyAvx2(__m256d& p, __m256d& q,
                                                                         __m256d ta, __m256d tb) {
    const __m256d swapped = _mm256_permute_pd(q, 0x5);
    const __m256d tt = _mm256_add_pd(_mm256_mul_pd(swapped, ta), _mm256_mul_pd(q, tb));
    q = _mm256_add_pd(p, tt);
    p = _mm256_sub_pd(p, tt);
}

__attribute__((target("avx2"), always_inline)) inline __m256d twiddleAvx2(const double* t) {
    return _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(t));
}

// The stage of span h (in complex values) alone.
__attribute__((target("avx2"))) void stageAvx2(double* z, const double* scaledTwiddles, int half,
                                               int h) {
    int block = 0;
    for (int start = 0; start < half; start += 2 * h, ++block) {
        double* p = z + 2 * start;
        double* q = z + 2 * (start + h);
        const double* t = scaledTwiddles + 4 * block;
        const __m256d ta = twiddleAvx2(t);
        const __m256d tb = twiddleAvx2(t + 2);
        for (int j = 0; j < h; j += 2) {
            __m256d pv = _mm256_loadu_pd(p + 2 * j);
            __m256d qv = _mm256_loadu_pd(q + 2 * j);
            butterflyAvx2(pv, qv, ta, tb);
            _mm256_storeu_pd(q + 2 * j, qv);
            _mm256_storeu_pd(p + 2 * j, pv);
        }
    }
}

// The stages of span h and h/2 in one pass: each block of 2h values holds the four quarters
// both stages pair among themselves, so every value goes through the same operations as in
// two passes, with half the loads and stores. Block b of span h uses twiddle b, its halves
// (blocks 2b and 2b + 1 of span h/2) twiddles 2b and 2b + 1.
__attribute__((target("avx2"))) void twoStagesAvx2(double* z, const double* scaledTwiddles,
                                                   int half, int h) {
    const int quarter = h / 2;
    int block = 0;
    for (int start = 0; start < half; start += 2 * h, ++block) {
        double* a = z + 2 * start;
        double* b = a + 2 * quarter;
        double* c = a + 2 * h;
        double* d = c + 2 * quarter;
        const double* t = scaledTwiddles + 4 * block;
        const double* tLow = scaledTwiddles + 8 * block;
        const double* tHigh = tLow + 4;
        const __m256d ta = twiddleAvx2(t);
        const __m256d tb = twiddleAvx2(t + 2);
        const __m256d taLow = twiddleAvx2(tLow);
        const __m256d tbLow = twiddleAvx2(tLow + 2);
        const __m256d taHigh = twiddleAvx2(tHigh);
        const __m256d tbHigh = twiddleAvx2(tHigh + 2);
        for (int j = 0; j < quarter; j += 2) {
            __m256d av = _mm256_loadu_pd(a + 2 * j);
            __m256d bv = _mm256_loadu_pd(b + 2 * j);
            __m256d cv = _mm256_loadu_pd(c + 2 * j);
            __m256d dv = _mm256_loadu_pd(d + 2 * j);
            butterflyAvx2(av, cv, ta, tb);
            butterflyAvx2(bv, dv, ta, tb);
            butterflyAvx2(av, bv, taLow, tbLow);
            butterflyAvx2(cv, dv, taHigh, tbHigh);
            _mm256_storeu_pd(a + 2 * j, av);
            _mm256_storeu_pd(b + 2 * j, bv);
            _mm256_storeu_pd(c + 2 * j, cv);
            _mm256_storeu_pd(d + 2 * j, dv);
        }
    }
}

} // namespace

// The stages without their halvings. Each stage of the plain transform halves every value;
// leaving that out makes every value of stage s exactly 2^s times the plain one, because
// scaling by a power of two changes no rounding (nothing here comes near the subnormal or
// the overflow range). The twiddles come divided by 32768 and with ta's sign alternating,
// which again only moves the same roundings by powers of two. So each butterfly is two
// products and three sums, and the caller takes the stages' factor out at the end.
// scaledTwiddles holds, per block b: ta/32768, -ta/32768, tb/32768, tb/32768.
__attribute__((target("avx2"))) void unhalvedStagesAvx2(double* z, const double* scaledTwiddles,
                                                        int n) {
    const int half = n / 2;
    int h = n / 4;
    int vectorStages = 0;
    for (int k = h; k >= 2; k /= 2) {
        ++vectorStages;
    }
    if (vectorStages % 2 == 1) {
        stageAvx2(z, scaledTwiddles, half, h);
        h /= 2;
    }
    for (; h >= 4; h /= 4) {
        twoStagesAvx2(z, scaledTwiddles, half, h);
    }
    if (n / 4 < 1) {
        return;
    }
    // The last stage: blocks of one p and one q, two blocks to a pass.
    const int blocks = half / 2;
    int b = 0;
    for (; b + 2 <= blocks; b += 2) {
        double* z4 = z + 4 * b;
        const double* t = scaledTwiddles + 4 * b;
        const __m256d v0 = _mm256_loadu_pd(z4);     // p of block b, q of block b
        const __m256d v1 = _mm256_loadu_pd(z4 + 4); // the same for block b + 1
        const __m256d t0 = _mm256_loadu_pd(t);
        const __m256d t1 = _mm256_loadu_pd(t + 4);
        __m256d pv = _mm256_permute2f128_pd(v0, v1, 0x20);
        __m256d qv = _mm256_permute2f128_pd(v0, v1, 0x31);
        const __m256d ta = _mm256_permute2f128_pd(t0, t1, 0x20);
        const __m256d tb = _mm256_permute2f128_pd(t0, t1, 0x31);
        butterflyAvx2(pv, qv, ta, tb);
        _mm256_storeu_pd(z4, _mm256_permute2f128_pd(pv, qv, 0x20));
        _mm256_storeu_pd(z4 + 4, _mm256_permute2f128_pd(pv, qv, 0x31));
    }
    for (; b < blocks; ++b) {
        double* p = z + 4 * b;
        double* q = p + 2;
        const double* t = scaledTwiddles + 4 * b;
        const double tr = q[1] * t[0] + q[0] * t[2];
        const double negTi = q[0] * t[1] + q[1] * t[3];
        const double pre = p[0];
        const double pim = p[1];
        q[0] = pre + tr;
        q[1] = pim + negTi;
        p[0] = pre - tr;
        p[1] = pim - negTi;
    }
}

// frame x window for N values (the int16 to double conversion is exact).
__attribute__((target("avx2"))) void windowFrameAvx2(const std::int16_t* frame,
                                                     const double* window, double* z, int n) {
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i s =
            _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(frame + i)));
        _mm256_storeu_pd(z + i, _mm256_mul_pd(_mm256_cvtepi32_pd(s), _mm256_loadu_pd(window + i)));
    }
    for (; i < n; ++i) {
        z[i] = frame[i] * window[i];
    }
}

// The same for float samples (the float to double conversion is exact too).
__attribute__((target("avx2"))) void windowFloatsAvx2(const float* samples, const double* window,
                                                      double* z, int n) {
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d s = _mm256_cvtps_pd(_mm_loadu_ps(samples + i));
        _mm256_storeu_pd(z + i, _mm256_mul_pd(s, _mm256_loadu_pd(window + i)));
    }
    for (; i < n; ++i) {
        z[i] = static_cast<double>(samples[i]) * window[i];
    }
}

namespace {

// The powers of bins k, k + 1 (in a) and half - k, half - k - 1 (in b) into their places.
__attribute__((target("avx2"), always_inline)) inline void
storePowersAvx2(__m256d a, __m256d b, double* powers, int k, int half) {
    const __m256d p = _mm256_hadd_pd(_mm256_mul_pd(a, a), _mm256_mul_pd(b, b));
    const __m128d low = _mm256_castpd256_pd128(p);
    const __m128d high = _mm256_extractf128_pd(p, 1);
    _mm_storel_pd(powers + k, low);
    _mm_storeh_pd(powers + half - k, low);
    _mm_storel_pd(powers + k + 1, high);
    _mm_storeh_pd(powers + half - k - 1, high);
}

} // namespace

// The same split, two bins to a pass: each lane does the scalar steps' operations in their
// order (x - y is x + (-y) to the bit), so the values are the scalar ones exactly. With the
// bins in hand it leaves their powers re^2 + im^2 in bin order in the work array's second
// half, for the levels.
__attribute__((target("avx2"))) void splitSpectrumAvx2(double* z, const std::int32_t* rev,
                                                       const double* tw, int n, double inScale) {
    const int half = n / 2;
    double* powers = z + n;
    const __m256d outScale = _mm256_set1_pd(0.5 / inScale);
    int k = 1;
    // k = n/4 is its own partner, left to the scalar steps.
    for (; k + 1 < n / 4; k += 2) {
        double* a0 = z + rev[k];
        double* a1 = z + rev[k + 1];
        double* b0 = z + rev[half - k];
        double* b1 = z + rev[half - k - 1];
        const __m256d a = _mm256_loadu2_m128d(a1, a0);
        const __m256d b = _mm256_loadu2_m128d(b1, b0);
        const __m256d sum = _mm256_add_pd(a, b);  // s1, s2
        const __m256d diff = _mm256_sub_pd(a, b); // d1, d2
        const __m256d d1s2 = _mm256_blend_pd(diff, sum, 0xA);
        const __m256d s1d2 = _mm256_blend_pd(sum, diff, 0xA);
        const __m256d t1 = _mm256_loadu2_m128d(tw + 4 * k + 4, tw + 4 * k);     // tc, -ts
        const __m256d t2 = _mm256_loadu2_m128d(tw + 4 * k + 6, tw + 4 * k + 2); // ts, tc
        // tr = tc d1 - ts s2, ti = ts d1 + tc s2
        const __m256d trti = _mm256_hadd_pd(_mm256_mul_pd(d1s2, t1), _mm256_mul_pd(d1s2, t2));
        const __m256d newA = _mm256_mul_pd(_mm256_add_pd(s1d2, trti), outScale);
        const __m256d newB = _mm256_mul_pd(
            _mm256_sub_pd(_mm256_blend_pd(s1d2, trti, 0xA), _mm256_blend_pd(trti, s1d2, 0xA)),
            outScale);
        _mm256_storeu2_m128d(a1, a0, newA);
        _mm256_storeu2_m128d(b1, b0, newB);
        storePowersAvx2(newA, newB, powers, k, half);
    }
    const double scale = 0.5 / inScale;
    for (; k <= n / 4; ++k) {
        double* a = z + rev[k];
        double* b = z + rev[half - k];
        const double* t = tw + 4 * k;
        const double d1 = a[0] - b[0];
        const double s1 = a[0] + b[0];
        const double d2 = a[1] - b[1];
        const double s2 = a[1] + b[1];
        const double tr = t[0] * d1 - t[2] * s2;
        const double ti = t[2] * d1 + t[0] * s2;
        a[0] = (s1 + tr) * scale;
        b[0] = (s1 - tr) * scale;
        a[1] = (d2 + ti) * scale;
        b[1] = (ti - d2) * scale;
        // Read back: at k = n/4, a and b are one bin, last written as b.
        powers[k] = a[0] * a[0] + a[1] * a[1];
        powers[half - k] = b[0] * b[0] + b[1] * b[1];
    }
    z[0] = (z[0] + z[1]) / inScale;
    z[1] = 0.0;
    powers[0] = z[0] * z[0] + z[1] * z[1];
}

} // namespace korv

#endif
