#pragma once
// What every analyser adds to its levels, in one place: the microphone's calibration curve,
// the display gain and, when one is chosen, a frequency weighting. The settings' translation
// makes one value per run beside the run's other inputs; the column pipeline (the picture's
// and the scans' rows, the live plots' third-octave points), the point level and the band
// levels all take their corrections from it, so a new correction is written here once.

#include "analysis/frequency_scale.h"
#include "base/settings_types.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

namespace korv {

// A frequency weighting: the dB it adds at a frequency in Hz. Empty: none.
using FrequencyWeighting = std::function<double(double frequencyHz)>;

class LevelCorrections {
  public:
    LevelCorrections() = default; // a zero curve, no gain, no weighting
    LevelCorrections(const CalibrationCurve& calibration, std::int32_t levelScaleCode,
                     FrequencyWeighting weighting = {})
        : calibration_(calibration), levelScaleCode_(levelScaleCode),
          weighting_(std::move(weighting)) {}

    [[nodiscard]] const CalibrationCurve& calibration() const { return calibration_; }
    // The gain as the settings store it: negated (-9 is a gain of +9 dB).
    [[nodiscard]] std::int32_t levelScaleCode() const { return levelScaleCode_; }
    // A scan follows the level bar while it runs.
    void setLevelScaleCode(std::int32_t code) { levelScaleCode_ = code; }
    [[nodiscard]] double gainDb() const { return -static_cast<double>(levelScaleCode_); }
    [[nodiscard]] bool weighted() const { return static_cast<bool>(weighting_); }

    // Each of the N/2 bins' offset in quarter-dB, without the gain: the calibration curve
    // interpolated in log-frequency and truncated to whole dB, plus the weighting at the
    // bin's frequency to the nearest quarter dB.
    [[nodiscard]] std::vector<std::int16_t> binOffsets(std::int32_t sampleRate, int fftSize) const;
    // levels (N/2 quarter-dB levels of a frame) + their offsets + the gain, within 16 bits.
    void applyToBins(std::span<std::int16_t> levels, std::span<const std::int16_t> offsets) const;

    // Third-octave band b's correction in dB, without the gain: its calibration point
    // (thirdOctaveCorrectionDb) plus the weighting at the band's exact mid-band frequency,
    // 10^(b/10) Hz.
    [[nodiscard]] double bandDb(int band) const;
    // The same on the quarter-dB scale of the bins (the weighting to the nearest quarter dB),
    // for every band of the third-octave table, index = band.
    [[nodiscard]] std::array<double, THIRD_OCTAVE_TABLE_BANDS> bandTable() const;

  private:
    CalibrationCurve calibration_{};
    std::int32_t levelScaleCode_ = 0;
    FrequencyWeighting weighting_;
};

} // namespace korv
