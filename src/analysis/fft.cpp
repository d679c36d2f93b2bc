#include "analysis/fft.h"

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

std::int16_t powerToLevel(double power) {
    if (!(power > 0.0)) {
        return 0;
    }
    const double v = std::clamp(40.0 * std::log10(power), -static_cast<double>(LEVEL_LIMIT),
                                static_cast<double>(LEVEL_LIMIT));
    return static_cast<std::int16_t>(v);
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

void FftEngine::transformWork() {
    const int n = fftSize_;
    const int half = n / 2;
    double* z = work_.data();
    const double* tw = twiddles_.data();

    // Butterflies; each stage halves, so nothing can overflow.
    for (int h = n / 4; h >= 1; h /= 2) {
        int block = 0;
        for (int start = 0; start < half; start += 2 * h, ++block) {
            const double ta = tw[2 * block];
            const double tb = tw[2 * block + 1];
            double* p = z + 2 * start;
            double* q = z + 2 * (start + h);
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
    const int n = fftSize_;
    if (n == 0 || frame.size() < static_cast<std::size_t>(n)) {
        return;
    }
    const double* win = window_.data();
    double* z = work_.data();
    for (int i = 0; i < n; ++i) {
        z[i] = frame[i] * win[i];
    }
    transformWork();

    const int half = n / 2;
    const std::int32_t* rev = bitReverse_.data();
    for (int k = 0; k < half; ++k) {
        const double re = z[rev[k]];
        const double im = z[rev[k] + 1];
        const double power = re * re + im * im;
        if (mode == FFT_MODE_MAGNITUDES) {
            const double m = std::min(std::sqrt(power), static_cast<double>(LEVEL_LIMIT));
            frame[k] = static_cast<std::int16_t>(m);
        } else {
            frame[k] = powerToLevel(power);
        }
    }
}

} // namespace korv
