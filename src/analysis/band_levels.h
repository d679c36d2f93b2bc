#pragma once
// Third-octave band levels of a held segment over time: at each time step (one hop) and
// channel, one frame of N samples from the step's start, transformed to magnitudes and summed
// per band with the band's calibration (thirdOctaveRows), as the scans' 1/3-octave plot does.

#include "analysis/column_levels.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korv {

class BandLevels {
  public:
    // The FFT engine (N and W of the run), the band map and one frame per channel. Returns 0,
    // ANALYZER_NO_MEMORY, or ANALYZER_UNUSABLE when no band is usable at this rate and size.
    [[nodiscard]] int setup(const ColumnAnalysisInputs& inputs);

    [[nodiscard]] long steps() const { return steps_; }
    [[nodiscard]] int channels() const { return static_cast<int>(levels_.size()); }
    // The bands reported: firstBand .. lastBand of the layout, one level each.
    [[nodiscard]] const ThirdOctavePoints& layout() const { return *layout_; }
    // The bands' levels (quarter-dB, lowest band first) of step x for every channel.
    void compute(long x);
    [[nodiscard]] std::span<const std::int16_t> levels(int channel) const {
        return levels_[static_cast<std::size_t>(channel)];
    }

  private:
    ColumnFrameSource source_;
    CalibrationCurve calibration_{};
    long steps_ = 0;
    FftEngine fft_;
    std::optional<ThirdOctavePoints> layout_;
    std::vector<std::uint8_t> bandMap_;
    std::vector<float> frame_;
    std::vector<std::int16_t> magnitudes_;
    std::vector<std::vector<std::int16_t>> levels_;
};

// The nominal centre of third-octave band b: 10^(b / 10) Hz, rounded.
[[nodiscard]] long thirdOctaveCentreHz(int band);

} // namespace korv
