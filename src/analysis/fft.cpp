#include "analysis/fft.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KORV_FFT_AVX2 1
#endif

namespace korv {

namespace {

// The constant the twiddles and the window are computed with; kept as written so the
// tables match those of stored analyses.
constexpr double kTwoPi = 6.28318530718;
constexpr double kTwiddleScale = 32768.0;

// 40 log10(P) truncated, limited to the level range; 0 for no power.
std::int16_t exactLevel(double power) {
    if (!(power > 0.0)) {
        return 0;
    }
    const double v = std::clamp(40.0 * std::log10(power), -static_cast<double>(LEVEL_LIMIT),
                                static_cast<double>(LEVEL_LIMIT));
    return static_cast<std::int16_t>(v);
}

#if defined(KORV_FFT_AVX2)

bool cpuHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}

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
    constexpr float kFortyOverLn10 = 17.371779276130073f;
    constexpr float kMargin = 1e-3f;
    constexpr float kLn2High = 0.693145751953125f; // 15 bits: e ln2High is exact for |e| < 256
    constexpr float kLn2Low = 1.42860682030941723212e-6f;
    const __m256i mantissaMask = _mm256_set1_epi32(0x007fffff);
    const __m256i one = _mm256_set1_epi32(0x3f800000);
    const __m256i exponentBias = _mm256_set1_epi32(127);
    const __m256i firstNormal = _mm256_set1_epi32(1);
    const __m256i lastNormal = _mm256_set1_epi32(254);
    const __m256 sqrt2 = _mm256_set1_ps(1.41421356f);
    const __m256 halfv = _mm256_set1_ps(0.5f);
    const __m256 onev = _mm256_set1_ps(1.0f);
    const __m256 signMask = _mm256_set1_ps(-0.0f);
    const __m256 low = _mm256_set1_ps(kMargin);
    const __m256 high = _mm256_set1_ps(1.0f - kMargin);
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m256 p = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_loadu_pd(powers + k + 4)),
                                         _mm256_cvtpd_ps(_mm256_loadu_pd(powers + k)));
        const __m256i bits = _mm256_castps_si256(p);
        // The biased exponent with the sign bit above it: 1 to 254 only for normal positives.
        const __m256i biased = _mm256_srli_epi32(bits, 23);
        const __m256i normal =
            _mm256_andnot_si256(_mm256_or_si256(_mm256_cmpgt_epi32(firstNormal, biased),
                                                _mm256_cmpgt_epi32(biased, lastNormal)),
                                _mm256_set1_epi32(-1));
        __m256 m = _mm256_castsi256_ps(_mm256_or_si256(_mm256_and_si256(bits, mantissaMask), one));
        __m256 e = _mm256_cvtepi32_ps(_mm256_sub_epi32(biased, exponentBias));
        const __m256 above = _mm256_cmp_ps(m, sqrt2, _CMP_GT_OQ);
        m = _mm256_sub_ps(m, _mm256_and_ps(above, _mm256_mul_ps(m, halfv)));
        e = _mm256_add_ps(e, _mm256_and_ps(above, onev));
        const __m256 s = _mm256_div_ps(_mm256_sub_ps(m, onev), _mm256_add_ps(m, onev));
        const __m256 s2 = _mm256_mul_ps(s, s);
        __m256 poly = _mm256_set1_ps(2.0f / 9.0f);
        poly = _mm256_add_ps(_mm256_set1_ps(2.0f / 7.0f), _mm256_mul_ps(s2, poly));
        poly = _mm256_add_ps(_mm256_set1_ps(2.0f / 5.0f), _mm256_mul_ps(s2, poly));
        poly = _mm256_add_ps(_mm256_set1_ps(2.0f / 3.0f), _mm256_mul_ps(s2, poly));
        poly = _mm256_add_ps(_mm256_set1_ps(2.0f), _mm256_mul_ps(s2, poly));
        const __m256 lnm =
            _mm256_add_ps(_mm256_mul_ps(s, poly), _mm256_mul_ps(e, _mm256_set1_ps(kLn2Low)));
        const __m256 ln = _mm256_add_ps(_mm256_mul_ps(e, _mm256_set1_ps(kLn2High)), lnm);
        const __m256 quick = _mm256_mul_ps(ln, _mm256_set1_ps(kFortyOverLn10));

        const __m256 truncated = _mm256_round_ps(quick, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m256 fraction = _mm256_andnot_ps(signMask, _mm256_sub_ps(quick, truncated));
        const __m256 decided =
            _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(fraction, low, _CMP_GT_OQ),
                                        _mm256_cmp_ps(fraction, high, _CMP_LT_OQ)),
                          _mm256_castsi256_ps(normal));
        // Levels of normal floats lie within +-1541, so the packing never saturates them.
        const __m256i whole = _mm256_cvttps_epi32(quick);
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(levels + k),
            _mm_packs_epi32(_mm256_castsi256_si128(whole), _mm256_extracti128_si256(whole, 1)));
        const int mask = _mm256_movemask_ps(decided);
        if (mask != 0xFF) {
            for (int lane = 0; lane < 8; ++lane) {
                if ((mask & (1 << lane)) == 0) {
                    levels[k + lane] = exactLevel(powers[k + lane]);
                }
            }
        }
    }
    for (; k < count; ++k) {
        levels[k] = exactLevel(powers[k]);
    }
}

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
        const __m256d pv = _mm256_permute2f128_pd(v0, v1, 0x20);
        const __m256d qv = _mm256_permute2f128_pd(v0, v1, 0x31);
        const __m256d ta = _mm256_permute2f128_pd(t0, t1, 0x20);
        const __m256d tb = _mm256_permute2f128_pd(t0, t1, 0x31);
        const __m256d swapped = _mm256_permute_pd(qv, 0x5);
        const __m256d tt = _mm256_add_pd(_mm256_mul_pd(swapped, ta), _mm256_mul_pd(qv, tb));
        const __m256d newQ = _mm256_add_pd(pv, tt);
        const __m256d newP = _mm256_sub_pd(pv, tt);
        _mm256_storeu_pd(z4, _mm256_permute2f128_pd(newP, newQ, 0x20));
        _mm256_storeu_pd(z4 + 4, _mm256_permute2f128_pd(newP, newQ, 0x31));
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

#endif

} // namespace

void powersToLevels(std::span<const double> powers, std::span<std::int16_t> levels) {
    const std::size_t count = std::min(powers.size(), levels.size());
#if defined(KORV_FFT_AVX2)
    if (cpuHasAvx2()) {
        levelsOfPowersAvx2(powers.data(), levels.data(), static_cast<int>(count));
        return;
    }
#endif
    for (std::size_t k = 0; k < count; ++k) {
        levels[k] = exactLevel(powers[k]);
    }
}

int FftEngine::setupFft(int log2Size, std::int32_t sampleRate, float windowMsec) {
    if (log2Size < 1 || log2Size > FFT_MAX_LOG2_SIZE) {
        releaseFft();
        return -1;
    }
    const int n = 1 << log2Size;
    int w = n;
    if (sampleRate != FFT_FULL_WINDOW_RATE && windowMsec != FFT_FULL_WINDOW_MSEC) {
        const float samples = static_cast<float>(sampleRate) * windowMsec / 1000.0f;
        // Negative or absurd window lengths would only give an empty or a full window.
        if (!(samples < static_cast<float>(n))) {
            w = n;
        } else if (samples > 0.0f) {
            w = static_cast<int>(samples);
        } else {
            w = 0;
        }
    }
    return setupFftWindow(log2Size, w);
}

int FftEngine::setupFftWindow(int log2Size, int windowSamples) {
    releaseFft();
    if (log2Size < 1 || log2Size > FFT_MAX_LOG2_SIZE) {
        return -1;
    }
    const int n = 1 << log2Size;
    const int half = n / 2;
    const int w = std::clamp(windowSamples, 0, n);

    try {
        bitReverse_.assign(static_cast<std::size_t>(half), 0);
        twiddles_.assign(static_cast<std::size_t>(n), 0.0);
        window_.assign(static_cast<std::size_t>(n), 0.0);
        // Room for N complex values is reserved; N doubles are used, the rest holds powers.
        work_.assign(static_cast<std::size_t>(2 * n), 0.0);
        scaledTwiddles_.assign(static_cast<std::size_t>(std::max(n, 4)), 0.0);
        splitTwiddles_.assign(static_cast<std::size_t>(n + 4), 0.0);
    } catch (const std::bad_alloc&) {
        releaseFft();
        return -1;
    }

    for (int i = 0; i < half; ++i) {
        int r = 0;
        for (int b = n / 4; b >= 1; b /= 2) {
            r = (r >> 1) + ((i & b) != 0 ? half : 0);
        }
        bitReverse_[i] = r;
    }
    for (int i = 0; i < half; ++i) {
        const double theta = i * kTwoPi / n;
        twiddles_[bitReverse_[i]] = std::floor(-kTwiddleScale * std::sin(theta) + 0.5);
        twiddles_[bitReverse_[i] + 1] = std::floor(-kTwiddleScale * std::cos(theta) + 0.5);
    }
    for (int b = 0; b < n / 4; ++b) {
        const double ta = twiddles_[2 * b] / kTwiddleScale;
        const double tb = twiddles_[2 * b + 1] / kTwiddleScale;
        scaledTwiddles_[4 * b] = ta;
        scaledTwiddles_[4 * b + 1] = -ta;
        scaledTwiddles_[4 * b + 2] = tb;
        scaledTwiddles_[4 * b + 3] = tb;
    }
    for (int k = 1; k <= n / 4; ++k) {
        const double tc = twiddles_[bitReverse_[k]] / kTwiddleScale;
        const double ts = twiddles_[bitReverse_[k] + 1] / kTwiddleScale;
        double* t = splitTwiddles_.data() + 4 * k;
        t[0] = tc;
        t[1] = -ts;
        t[2] = ts;
        t[3] = tc;
    }
    const int h = w / 2;
    for (int i = -h; i < h; ++i) {
        window_[i + h] = 0.5 * std::cos(i * kTwoPi / (2 * h)) + 0.5;
    }

    fftSize_ = n;
    windowLength_ = w;
    stageCount_ = 0;
    for (int h2 = n / 4; h2 >= 1; h2 /= 2) {
        ++stageCount_;
    }
    return 0;
}

void FftEngine::releaseFft() {
    fftSize_ = 0;
    windowLength_ = 0;
    stageCount_ = 0;
    std::vector<double>().swap(window_);
    std::vector<double>().swap(twiddles_);
    std::vector<std::int32_t>().swap(bitReverse_);
    std::vector<double>().swap(work_);
    std::vector<double>().swap(scaledTwiddles_);
    std::vector<double>().swap(splitTwiddles_);
}

void FftEngine::transformFrame(std::span<std::int16_t> frame, FftOutput mode) {
#if defined(KORV_FFT_AVX2)
    if (cpuHasAvx2()) {
        transformFrameAvx2(frame, mode);
        return;
    }
#endif
    transformFramePlain(frame, mode);
}

// The split of the N/2 complex values into the spectrum of the N real samples; the values
// come in `inScale` times their plain size and leave at their plain size (inScale is a
// power of two, so every rounding is the plain one).
void FftEngine::splitSpectrum(double inScale) {
    const int n = fftSize_;
    const int half = n / 2;
    double* z = work_.data();
    const double* tw = twiddles_.data();
    const std::int32_t* rev = bitReverse_.data();
    const double outScale = 0.5 / inScale;
    for (int k = 1; k <= n / 4; ++k) {
        double* a = z + rev[k];
        double* b = z + rev[half - k];
        const double tc = tw[rev[k]] / kTwiddleScale;
        const double ts = tw[rev[k] + 1] / kTwiddleScale;
        const double d1 = a[0] - b[0];
        const double s1 = a[0] + b[0];
        const double d2 = a[1] - b[1];
        const double s2 = a[1] + b[1];
        const double tr = tc * d1 - ts * s2;
        const double ti = ts * d1 + tc * s2;
        a[0] = (s1 + tr) * outScale;
        b[0] = (s1 - tr) * outScale;
        a[1] = (d2 + ti) * outScale;
        b[1] = (ti - d2) * outScale;
    }
    z[0] = (z[0] + z[1]) / inScale;
    z[1] = 0.0;
}

#if defined(KORV_FFT_AVX2)
// The same split, two bins to a pass: each lane does the scalar steps' operations in their
// order (x - y is x + (-y) to the bit), so the values are the scalar ones exactly. With the
// bins in hand it leaves their powers re^2 + im^2 in bin order in the work array's second
// half, for the levels.
__attribute__((target("avx2"))) void FftEngine::splitSpectrumAvx2(double inScale) {
    const int n = fftSize_;
    const int half = n / 2;
    double* z = work_.data();
    const std::int32_t* rev = bitReverse_.data();
    const double* tw = splitTwiddles_.data();
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
        // Powers of bins k, half - k, k + 1 and half - k - 1, in that order.
        const __m256d p = _mm256_hadd_pd(_mm256_mul_pd(newA, newA), _mm256_mul_pd(newB, newB));
        const __m128d low = _mm256_castpd256_pd128(p);
        const __m128d high = _mm256_extractf128_pd(p, 1);
        _mm_storel_pd(powers + k, low);
        _mm_storeh_pd(powers + half - k, low);
        _mm_storel_pd(powers + k + 1, high);
        _mm_storeh_pd(powers + half - k - 1, high);
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
#endif

void FftEngine::plainStages() {
    const int n = fftSize_;
    double* z = work_.data();
    // Butterflies; each stage halves, so nothing can overflow.
    const int half = n / 2;
    const double* tw = twiddles_.data();
    for (int h = n / 4; h >= 1; h /= 2) {
        int block = 0;
        for (int start = 0; start < half; start += 2 * h, ++block) {
            double* p = z + 2 * start;
            double* q = z + 2 * (start + h);
            const double ta = tw[2 * block];
            const double tb = tw[2 * block + 1];
            for (int j = 0; j < h; ++j) {
                const double pre = p[2 * j];
                const double pim = p[2 * j + 1];
                const double qre = q[2 * j];
                const double qim = q[2 * j + 1];
                const double tr = (qim * ta + qre * tb) / kTwiddleScale;
                const double ti = (qre * ta - qim * tb) / kTwiddleScale;
                q[2 * j] = (pre + tr) / 2;
                p[2 * j] = (pre - tr) / 2;
                q[2 * j + 1] = (pim - ti) / 2;
                p[2 * j + 1] = (pim + ti) / 2;
            }
        }
    }
}

void FftEngine::transformSamples(std::span<const float> samples, std::span<std::int16_t> out,
                                 FftOutput mode, [[maybe_unused]] bool plain) {
    const int n = fftSize_;
    if (n == 0 || samples.size() < static_cast<std::size_t>(n) ||
        out.size() < static_cast<std::size_t>(n / 2)) {
        return;
    }
#if defined(KORV_FFT_AVX2)
    if (!plain && cpuHasAvx2()) {
        windowFloatsAvx2(samples.data(), window_.data(), work_.data(), n);
        unhalvedStagesAvx2(work_.data(), scaledTwiddles_.data(), n);
        splitSpectrumAvx2(std::ldexp(1.0, stageCount_));
        writeResults(out, mode, true);
        return;
    }
#endif
    const double* win = window_.data();
    double* z = work_.data();
    for (int i = 0; i < n; ++i) {
        z[i] = static_cast<double>(samples[i]) * win[i];
    }
    plainStages();
    splitSpectrum(1.0);
    writeResults(out, mode, false);
}

void FftEngine::transformFramePlain(std::span<std::int16_t> frame, FftOutput mode) {
    const int n = fftSize_;
    if (n == 0 || frame.size() < static_cast<std::size_t>(n)) {
        return;
    }
    const double* win = window_.data();
    double* z = work_.data();
    for (int i = 0; i < n; ++i) {
        z[i] = frame[i] * win[i];
    }
    plainStages();
    splitSpectrum(1.0);
    writeResults(frame, mode, false);
}

#if defined(KORV_FFT_AVX2)
void FftEngine::transformFrameAvx2(std::span<std::int16_t> frame, FftOutput mode) {
    const int n = fftSize_;
    if (n == 0 || frame.size() < static_cast<std::size_t>(n)) {
        return;
    }
    windowFrameAvx2(frame.data(), window_.data(), work_.data(), n);
    unhalvedStagesAvx2(work_.data(), scaledTwiddles_.data(), n);
    splitSpectrumAvx2(std::ldexp(1.0, stageCount_));
    writeResults(frame, mode, true);
}
#endif

void FftEngine::writeResults(std::span<std::int16_t> frame, FftOutput mode,
                             [[maybe_unused]] bool vector) {
    const int half = fftSize_ / 2;
    const double* z = work_.data();
    const std::int32_t* rev = bitReverse_.data();
    if (mode == FftOutput::Magnitudes) {
        for (int k = 0; k < half; ++k) {
            const double re = z[rev[k]];
            const double im = z[rev[k] + 1];
            const double m =
                std::min(std::sqrt(re * re + im * im), static_cast<double>(LEVEL_LIMIT));
            frame[k] = static_cast<std::int16_t>(m);
        }
        return;
    }
#if defined(KORV_FFT_AVX2)
    if (vector) {
        // The split left the powers in bin order in the work array's second half.
        levelsOfPowersAvx2(work_.data() + fftSize_, frame.data(), half);
        return;
    }
#endif
    for (int k = 0; k < half; ++k) {
        const double re = z[rev[k]];
        const double im = z[rev[k] + 1];
        frame[k] = exactLevel(re * re + im * im);
    }
}

} // namespace korv
