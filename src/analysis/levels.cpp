#include "analysis/levels.h"

#include <algorithm>
#include <cmath>

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
    const std::int64_t gain = 4 * static_cast<std::int64_t>(levelScaleCode);
    for (std::size_t k = 0; k < n; ++k) {
        const std::int64_t v = levels[k] + static_cast<std::int64_t>(calibrationOffsets[k]) - gain;
        levels[k] = static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
    }
}

} // namespace korv
