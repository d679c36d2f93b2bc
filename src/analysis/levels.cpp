#include "analysis/levels.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include "analysis/sse_words.h"
#endif

namespace korv {

namespace {

// A whole-dB offset; hostile curves (NaN, huge values) give 0 or the 16-bit limit.
std::int16_t toQuarterDb(double db) {
    if (!std::isfinite(db)) {
        return 0;
    }
    const double whole = std::trunc(std::clamp(db, -8191.0, 8191.0));
    return static_cast<std::int16_t>(4 * static_cast<int>(whole));
}

double interpolate(float f, const CalibrationPoint& lo, float vHigh, float fHigh) {
    const double span =
        std::log10(static_cast<double>(fHigh)) - std::log10(static_cast<double>(lo.frequencyHz));
    const double along =
        std::log10(static_cast<double>(f)) - std::log10(static_cast<double>(lo.frequencyHz));
    // A point repeated at the same frequency (or f on the point) takes that point's value.
    if (along == 0.0 || !(std::abs(span) > 0.0)) {
        return lo.correctionDb;
    }
    return along * (static_cast<double>(vHigh) - lo.correctionDb) / span + lo.correctionDb;
}

} // namespace

std::vector<std::int16_t> buildCalibrationOffsets(std::int32_t sampleRate, int fftSize,
                                                  const CalibrationCurve& curve) {
    constexpr int last = kCalibrationPointsUsed - 1;
    const int bins = std::max(fftSize / 2, 0);
    std::vector<std::int16_t> offsets(static_cast<std::size_t>(bins), 0);
    for (int k = 0; k < bins; ++k) {
        const float f =
            static_cast<float>(sampleRate) * static_cast<float>(k) / static_cast<float>(fftSize);
        double db = 0.0;
        if (f < curve[0].frequencyHz) {
            db = curve[0].correctionDb;
        } else if (f > curve[last].frequencyHz) {
            db = curve[last].correctionDb;
        } else {
            for (int j = 0; j <= last; ++j) {
                const float fHigh = curve[j + 1].frequencyHz;
                if (curve[j].frequencyHz <= f && f <= fHigh) {
                    const float vHigh =
                        j == last ? curve[last].correctionDb : curve[j + 1].correctionDb;
                    db = interpolate(f, curve[j], vHigh, fHigh);
                    break;
                }
                if (j == last && curve[j].frequencyHz == f) {
                    db = curve[j].correctionDb;
                }
            }
        }
        offsets[k] = toQuarterDb(db);
    }
    return offsets;
}

void applyLevelCorrections(std::span<std::int16_t> levels,
                           std::span<const std::int16_t> calibrationOffsets,
                           std::int32_t levelScaleCode) {
    const std::size_t n = std::min(levels.size(), calibrationOffsets.size());
    // A level plus an offset spans 17 bits, so any gain beyond 4 x 65536 saturates every
    // level anyway: limiting the code keeps the sum in 32 bits without changing a result.
    constexpr std::int32_t kSaturatingCode = 65536;
    const std::int32_t gain = 4 * std::clamp(levelScaleCode, -kSaturatingCode, kSaturatingCode);
    std::size_t k = 0;
#if defined(__SSE2__)
    // Eight at a time in 32-bit lanes; the saturating pack is the clamp to 16 bits.
    const __m128i gains = _mm_set1_epi32(gain);
    for (; k + 8 <= n; k += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels.data() + k));
        const __m128i o =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(calibrationOffsets.data() + k));
        const __m128i lo = _mm_sub_epi32(_mm_add_epi32(widenLowWords(v), widenLowWords(o)), gains);
        const __m128i hi =
            _mm_sub_epi32(_mm_add_epi32(widenHighWords(v), widenHighWords(o)), gains);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(levels.data() + k), _mm_packs_epi32(lo, hi));
    }
#endif
    for (; k < n; ++k) {
        const std::int32_t v = levels[k] + std::int32_t{calibrationOffsets[k]} - gain;
        levels[k] =
            static_cast<std::int16_t>(std::clamp(v, std::int32_t{-32768}, std::int32_t{32767}));
    }
}

} // namespace korv
