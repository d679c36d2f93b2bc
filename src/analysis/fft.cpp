#include "analysis/fft.h"

#include "analysis/fft_steps.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace korv {

namespace {

// The constant the twiddles and the window are computed with; kept as written so the
// tables match those of stored analyses.
constexpr double kTwoPi = 6.28318530718;
constexpr double kTwiddleScale = 32768.0;

} // namespace

// 40 log10(P) truncated, limited to the level range; 0 for no power.
std::int16_t exactLevel(double power) {
    if (!(power > 0.0)) {
        return 0;
    }
    const double v = std::clamp(40.0 * std::log10(power), -static_cast<double>(LEVEL_LIMIT),
                                static_cast<double>(LEVEL_LIMIT));
    return static_cast<std::int16_t>(v);
}

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

// The twiddles as the vector steps use them, divided by 32768 (a power of two: the products
// round as the plain steps' do).
void FftEngine::fillVectorTwiddles(int n) {
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
    fillVectorTwiddles(n);
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
        splitSpectrumAvx2(work_.data(), bitReverse_.data(), splitTwiddles_.data(), fftSize_,
                          std::ldexp(1.0, stageCount_));
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
    splitSpectrumAvx2(work_.data(), bitReverse_.data(), splitTwiddles_.data(), fftSize_,
                      std::ldexp(1.0, stageCount_));
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
