#include "analysis/fft.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KORV_FFT_AVX 1
#endif

namespace korv {

namespace {

// The constant the twiddles and the window are computed with; kept as written so the
// tables match those of stored analyses.
constexpr double kTwoPi = 6.28318530718;
constexpr double kTwiddleScale = 32768.0;
// 40 log10(P) = 40 / ln 10 x ln(P).
constexpr double kFortyOverLn10 = 17.371779276130073;
constexpr double kQuickLevelMargin = 1e-6;

// 40 log10(P) truncated, limited to the level range; 0 for no power.
std::int16_t exactLevel(double power) {
    if (!(power > 0.0)) {
        return 0;
    }
    const double v = std::clamp(40.0 * std::log10(power), -static_cast<double>(LEVEL_LIMIT),
                                static_cast<double>(LEVEL_LIMIT));
    return static_cast<std::int16_t>(v);
}

// 40 / ln 10 x ln(P) for normal positive powers, from the exponent and an odd series in
// s = (m - 1) / (m + 1) of the mantissa m in [1/sqrt 2, sqrt 2): |s| < 0.172, so the terms
// left out weigh less than 1e-9 of a level unit. Anything else gives garbage that
// levelFromQuick never uses.
void quickLevels(const double* powers, double* quick, int count) {
    constexpr double kSqrt2 = 1.4142135623730951;
    constexpr double kLn2 = 0.6931471805599453;
    int k = 0;
#if defined(__SSE2__)
    const __m128i mantissaMask = _mm_set1_epi64x(0x000fffffffffffffLL);
    const __m128i one = _mm_set1_epi64x(0x3ff0000000000000LL);
    const __m128d sqrt2 = _mm_set1_pd(kSqrt2);
    const __m128d halfv = _mm_set1_pd(0.5);
    const __m128d onev = _mm_set1_pd(1.0);
    for (; k + 2 <= count; k += 2) {
        const __m128i bits = _mm_castpd_si128(_mm_loadu_pd(powers + k));
        __m128d m = _mm_castsi128_pd(_mm_or_si128(_mm_and_si128(bits, mantissaMask), one));
        // The biased exponents, from the upper half of each value.
        const __m128i high = _mm_shuffle_epi32(bits, _MM_SHUFFLE(3, 1, 3, 1));
        const __m128i biased = _mm_srli_epi32(high, 20);
        __m128d e = _mm_sub_pd(_mm_cvtepi32_pd(biased), _mm_set1_pd(1023.0));
        const __m128d above = _mm_cmpgt_pd(m, sqrt2);
        m = _mm_sub_pd(m, _mm_and_pd(above, _mm_mul_pd(m, halfv)));
        e = _mm_add_pd(e, _mm_and_pd(above, onev));
        const __m128d s = _mm_div_pd(_mm_sub_pd(m, onev), _mm_add_pd(m, onev));
        const __m128d s2 = _mm_mul_pd(s, s);
        __m128d poly = _mm_set1_pd(2.0 / 11.0);
        poly = _mm_add_pd(_mm_set1_pd(2.0 / 9.0), _mm_mul_pd(s2, poly));
        poly = _mm_add_pd(_mm_set1_pd(2.0 / 7.0), _mm_mul_pd(s2, poly));
        poly = _mm_add_pd(_mm_set1_pd(2.0 / 5.0), _mm_mul_pd(s2, poly));
        poly = _mm_add_pd(_mm_set1_pd(2.0 / 3.0), _mm_mul_pd(s2, poly));
        poly = _mm_add_pd(_mm_set1_pd(2.0), _mm_mul_pd(s2, poly));
        const __m128d ln = _mm_add_pd(_mm_mul_pd(s, poly), _mm_mul_pd(e, _mm_set1_pd(kLn2)));
        _mm_storeu_pd(quick + k, _mm_mul_pd(ln, _mm_set1_pd(kFortyOverLn10)));
    }
#endif
    for (; k < count; ++k) {
        quick[k] = kFortyOverLn10 * std::log(powers[k]);
    }
}

// The quick value decides wherever it is not within the margin of a step of the truncation
// (the exact and the quick value then lie on the same side of it); elsewhere log10 does.
inline std::int16_t levelFromQuick(double power, double quick) {
    if (power >= std::numeric_limits<double>::min() &&
        power <= std::numeric_limits<double>::max()) {
        const double fraction = std::abs(quick - static_cast<double>(static_cast<int>(quick)));
        if (fraction > kQuickLevelMargin && fraction < 1.0 - kQuickLevelMargin) {
            return static_cast<std::int16_t>(quick);
        }
    }
    return exactLevel(power);
}

// One power the way the frames' powers go, in a pair.
std::int16_t levelOfPower(double power) {
    const double powers[2] = {power, power};
    double quick[2] = {0.0, 0.0};
    quickLevels(powers, quick, 2);
    return levelFromQuick(power, quick[0]);
}

} // namespace

std::int16_t powerToLevel(double power) {
    return levelOfPower(power);
}

int FftEngine::setupFft(int log2Size, std::int32_t sampleRate, float windowMsec) {
    releaseFft();
    if (log2Size < 1 || log2Size > FFT_MAX_LOG2_SIZE) {
        return -1;
    }
    const int n = 1 << log2Size;
    const int half = n / 2;

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

    try {
        bitReverse_.assign(static_cast<std::size_t>(half), 0);
        twiddles_.assign(static_cast<std::size_t>(n), 0.0);
        window_.assign(static_cast<std::size_t>(n), 0.0);
        // Room for N complex values is reserved; N doubles are used.
        work_.assign(static_cast<std::size_t>(2 * n), 0.0);
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
    const int h = w / 2;
    for (int i = -h; i < h; ++i) {
        window_[i + h] = 0.5 * std::cos(i * kTwoPi / (2 * h)) + 0.5;
    }

    fftSize_ = n;
    windowLength_ = w;
    return 0;
}

void FftEngine::releaseFft() {
    fftSize_ = 0;
    windowLength_ = 0;
    std::vector<double>().swap(window_);
    std::vector<double>().swap(twiddles_);
    std::vector<std::int32_t>().swap(bitReverse_);
    std::vector<double>().swap(work_);
}

namespace {

// One butterfly stage's block: p and q hold h complex values each, (ta, tb) the twiddle.
[[gnu::always_inline]] inline void butterfliesPlain(double* p, double* q, int h, double ta,
                                                    double tb) {
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

#if defined(__SSE2__)
// The same arithmetic on (re, im) pairs: every product, sum and halving is the one above,
// in the same order; negations and the power-of-two scalings are exact, so the results
// are identical.
[[gnu::always_inline]] inline void butterfliesVector(double* p, double* q, int h, double ta,
                                                     double tb) {
    const __m128d vta = _mm_set1_pd(ta);
    const __m128d vtb = _mm_set1_pd(tb);
    const __m128d negateIm = _mm_set_pd(-1.0, 1.0);
    const __m128d scale = _mm_set1_pd(1.0 / kTwiddleScale);
    const __m128d half = _mm_set1_pd(0.5);
    for (int j = 0; j < h; ++j) {
        const __m128d pv = _mm_loadu_pd(p + 2 * j);                       // pre, pim
        const __m128d qv = _mm_loadu_pd(q + 2 * j);                       // qre, qim
        const __m128d swapped = _mm_shuffle_pd(qv, qv, 1);                // qim, qre
        const __m128d a = _mm_mul_pd(_mm_mul_pd(swapped, vta), negateIm); // qim ta, -qre ta
        const __m128d b = _mm_mul_pd(qv, vtb);                            // qre tb, qim tb
        const __m128d t = _mm_mul_pd(_mm_add_pd(a, b), scale);            // tr, -ti
        _mm_storeu_pd(q + 2 * j, _mm_mul_pd(_mm_add_pd(pv, t), half));
        _mm_storeu_pd(p + 2 * j, _mm_mul_pd(_mm_sub_pd(pv, t), half));
    }
}
#endif

// Every stage, one butterfly at a time or one pair of values at a time.
void stages(double* z, const double* tw, int n, [[maybe_unused]] bool plain) {
    const int half = n / 2;
    for (int h = n / 4; h >= 1; h /= 2) {
        int block = 0;
        for (int start = 0; start < half; start += 2 * h, ++block) {
            double* p = z + 2 * start;
            double* q = z + 2 * (start + h);
#if defined(__SSE2__)
            if (!plain) {
                butterfliesVector(p, q, h, tw[2 * block], tw[2 * block + 1]);
                continue;
            }
#endif
            butterfliesPlain(p, q, h, tw[2 * block], tw[2 * block + 1]);
        }
    }
}

#if defined(KORV_FFT_AVX)
// Two butterflies at a time where the CPU has AVX, with the same arithmetic again (no fused
// multiply-adds: each product is rounded before it is added, as above).
__attribute__((target("avx"))) void stagesAvx(double* z, const double* tw, int n) {
    const int half = n / 2;
    const __m256d negateIm = _mm256_set_pd(-1.0, 1.0, -1.0, 1.0);
    const __m256d scale = _mm256_set1_pd(1.0 / kTwiddleScale);
    const __m256d halve = _mm256_set1_pd(0.5);
    for (int h = n / 4; h >= 1; h /= 2) {
        int block = 0;
        for (int start = 0; start < half; start += 2 * h, ++block) {
            double* p = z + 2 * start;
            double* q = z + 2 * (start + h);
            const double ta = tw[2 * block];
            const double tb = tw[2 * block + 1];
            if (h == 1) {
                butterfliesVector(p, q, h, ta, tb);
                continue;
            }
            const __m256d vta = _mm256_set1_pd(ta);
            const __m256d vtb = _mm256_set1_pd(tb);
            for (int j = 0; j < h; j += 2) {
                const __m256d pv = _mm256_loadu_pd(p + 2 * j);
                const __m256d qv = _mm256_loadu_pd(q + 2 * j);
                const __m256d swapped = _mm256_permute_pd(qv, 0x5);
                const __m256d a = _mm256_mul_pd(_mm256_mul_pd(swapped, vta), negateIm);
                const __m256d b = _mm256_mul_pd(qv, vtb);
                const __m256d tt = _mm256_mul_pd(_mm256_add_pd(a, b), scale);
                _mm256_storeu_pd(q + 2 * j, _mm256_mul_pd(_mm256_add_pd(pv, tt), halve));
                _mm256_storeu_pd(p + 2 * j, _mm256_mul_pd(_mm256_sub_pd(pv, tt), halve));
            }
        }
    }
}

bool cpuHasAvx() {
    static const bool has = __builtin_cpu_supports("avx") != 0;
    return has;
}
#endif

} // namespace

void FftEngine::transformWork([[maybe_unused]] bool plain) {
    const int n = fftSize_;
    const int half = n / 2;
    double* z = work_.data();
    const double* tw = twiddles_.data();

    // Butterflies; each stage halves, so nothing can overflow.
    bool staged = false;
#if defined(KORV_FFT_AVX)
    if (!plain && cpuHasAvx()) {
        stagesAvx(z, tw, n);
        staged = true;
    }
#endif
    if (!staged) {
        stages(z, tw, n, plain);
    }

    // Split the N/2 complex values into the spectrum of the N real samples.
    const std::int32_t* rev = bitReverse_.data();
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
        a[0] = (s1 + tr) / 2;
        b[0] = (s1 - tr) / 2;
        a[1] = (d2 + ti) / 2;
        b[1] = (ti - d2) / 2;
    }
    z[0] = z[0] + z[1];
    z[1] = 0.0;
}

void FftEngine::transformFrame(std::span<std::int16_t> frame, int mode) {
    transformFrame(frame, mode, false);
}

void FftEngine::transformFramePlain(std::span<std::int16_t> frame, int mode) {
    transformFrame(frame, mode, true);
}

void FftEngine::transformFrame(std::span<std::int16_t> frame, int mode, bool plain) {
    const int n = fftSize_;
    if (n == 0 || frame.size() < static_cast<std::size_t>(n)) {
        return;
    }
    const double* win = window_.data();
    double* z = work_.data();
    for (int i = 0; i < n; ++i) {
        z[i] = frame[i] * win[i];
    }
    transformWork(plain);

    const int half = n / 2;
    const std::int32_t* rev = bitReverse_.data();
    if (mode == FFT_MODE_MAGNITUDES) {
        for (int k = 0; k < half; ++k) {
            const double re = z[rev[k]];
            const double im = z[rev[k] + 1];
            const double m =
                std::min(std::sqrt(re * re + im * im), static_cast<double>(LEVEL_LIMIT));
            frame[k] = static_cast<std::int16_t>(m);
        }
        return;
    }
    if (plain) {
        for (int k = 0; k < half; ++k) {
            const double re = z[rev[k]];
            const double im = z[rev[k] + 1];
            frame[k] = exactLevel(re * re + im * im);
        }
        return;
    }
    // The second half of the work area holds the powers, then their quick levels.
    double* powers = z + n;
    double* quick = powers + half;
    for (int k = 0; k < half; ++k) {
        const double re = z[rev[k]];
        const double im = z[rev[k] + 1];
        powers[k] = re * re + im * im;
    }
    quickLevels(powers, quick, half);
    for (int k = 0; k < half; ++k) {
        frame[k] = levelFromQuick(powers[k], quick[k]);
    }
}

} // namespace korv
