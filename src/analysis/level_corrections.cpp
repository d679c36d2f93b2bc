#include "analysis/level_corrections.h"

#include "analysis/levels.h"

#include <algorithm>
#include <cmath>

namespace korv {

namespace {

// A weighting's dB in whole quarters; a hostile value (no number, beyond the scale) is
// limited to what 16 bits of quarter-dB hold.
std::int32_t weightingQuarterDb(double db) {
    if (!std::isfinite(db)) {
        return 0;
    }
    return static_cast<std::int32_t>(std::lround(std::clamp(4.0 * db, -32768.0, 32767.0)));
}

// The exact mid-band frequency of third-octave band b (base ten).
double midBandHz(int band) {
    return std::pow(10.0, band / 10.0);
}

} // namespace

std::vector<std::int16_t> LevelCorrections::binOffsets(std::int32_t sampleRate, int fftSize) const {
    std::vector<std::int16_t> offsets = buildCalibrationOffsets(sampleRate, fftSize, calibration_);
    if (!weighting_) {
        return offsets;
    }
    for (std::size_t k = 0; k < offsets.size(); ++k) {
        const double hz = static_cast<double>(sampleRate) * static_cast<double>(k) / fftSize;
        const std::int32_t sum = offsets[k] + weightingQuarterDb(weighting_(hz));
        offsets[k] = static_cast<std::int16_t>(std::clamp(sum, -32768, 32767));
    }
    return offsets;
}

void LevelCorrections::applyToBins(std::span<std::int16_t> levels,
                                   std::span<const std::int16_t> offsets) const {
    applyLevelCorrections(levels, offsets, levelScaleCode_);
}

double LevelCorrections::bandDb(int band) const {
    const double calibration = thirdOctaveCorrectionDb(calibration_, band);
    if (!weighting_) {
        return calibration;
    }
    const double weighting = weighting_(midBandHz(band));
    return std::isfinite(weighting) ? calibration + weighting : calibration;
}

std::array<double, THIRD_OCTAVE_TABLE_BANDS> LevelCorrections::bandTable() const {
    std::array<double, THIRD_OCTAVE_TABLE_BANDS> table{};
    for (int b = 0; b < THIRD_OCTAVE_TABLE_BANDS; ++b) {
        double db = thirdOctaveCorrectionDb(calibration_, b);
        if (weighting_) {
            db += weightingQuarterDb(weighting_(midBandHz(b))) / 4.0;
        }
        table[static_cast<std::size_t>(b)] = db;
    }
    return table;
}

} // namespace korv
