#pragma once
// Third-octave band levels of a held segment over time: at each time step (one hop) and
// channel, one frame of N samples from the step's start (or with maxOverStep each bin's
// largest power over all frames of the step), transformed, and the bins' powers summed per
// band in floating point, so quiet bands keep their energy. The levels are on the
// window's scale (a bin of amplitude one 16-bit step is -90 dB, the gain and the band's
// corrections added), as the third-octave rows of the spectrum log show them.

#include "analysis/column_levels.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korv {

// The least level reported, also that of a band with no signal: the level of power 1, the
// bottom of the window's level scale.
inline constexpr double kBandFloorDb = -90.0;

// A bin's power |X_k|^2 (2/N times the DFT of the Hann-windowed frame) as the mean square it
// stands for: the window keeps 3/8 of a sine's A^2 over its bins, the sine's mean square being
// A^2/2, so a sine between bins sums to its own level over them.
inline constexpr double kHannBinPowerToMeanSquare = 4.0 / 3.0;
// A full-scale sine's amplitude in 16-bit units (the wider encodings' exact values alike).
inline constexpr double kFullScaleAmplitude16 = 32768.0;
// From 10 lg of a bin power in 16-bit units to the level re a full-scale sine (amplitude
// 32768, mean square 32768^2 / 2): 10 lg(4/3) - 10 lg(2^29), about -86.05 dB.
[[nodiscard]] double binPowerToFullScaleDb();

class BandLevels {
  public:
    // The FFT engine (N and W of the run), the band map, one frame per channel and the
    // averaging ring of averageCountScroll steps. Returns Ok, NoMemory, or
    // Unusable when no band is usable at this rate and size.
    [[nodiscard]] SetupResult setup(const ColumnAnalysisInputs& inputs);

    [[nodiscard]] long steps() const { return steps_; }
    [[nodiscard]] int channels() const { return static_cast<int>(levels_.size()); }
    // The bands reported: firstBand .. lastBand of the layout, one level each.
    [[nodiscard]] const ThirdOctavePoints& layout() const { return *layout_; }
    // The bands' levels of step x for every channel: the mean power of this step and the
    // averageCount - 1 steps computed before it (steps are taken in order from 0).
    void compute(long x);
    // dB, lowest band first, never below kBandFloorDb.
    [[nodiscard]] std::span<const double> levels(int channel) const {
        return levels_[static_cast<std::size_t>(channel)];
    }
    // The same step's mean band powers (16-bit units squared), each band's corrections
    // applied and no gain: the levels re full scale, unclamped.
    [[nodiscard]] std::span<const double> powers(int channel) const {
        return powers_[static_cast<std::size_t>(channel)];
    }

  private:
    // Each bin's power of the last transform; after the first frame of a step the larger of it
    // and the power held.
    void keepBinPowers(bool first);
    void sumBandPowers(std::span<double> powers);
    ColumnFrameSource source_;
    long framesPerStep_ = 1;
    std::vector<double> binPowers_;
    std::unique_ptr<ColumnFrameWindow> window_;
    std::vector<double> correctionDb_;    // per reported band: its corrections and the gain
    std::vector<double> calibrationGain_; // per reported band: its corrections as a power ratio
    long steps_ = 0;
    std::size_t averageCount_ = 1;
    std::size_t stepsSeen_ = 0;
    FftEngine fft_;
    std::optional<ThirdOctavePoints> layout_;
    std::vector<std::uint8_t> bandMap_;
    std::vector<float> frame_;
    std::vector<std::int16_t> magnitudes_; // what the transform leaves beside its bins
    // Per channel, averageCount_ rows of band powers, the oldest overwritten.
    std::vector<std::vector<double>> ring_;
    std::vector<std::vector<double>> levels_;
    std::vector<std::vector<double>> powers_;
};

// The nominal centre of third-octave band b: 10^(b / 10) Hz, rounded.
[[nodiscard]] long thirdOctaveCentreHz(int band);

} // namespace korv
