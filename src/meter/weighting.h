#pragma once
// The frequency weightings A, C and Z as filters at the signal's own rate, designed to follow
// the analytic curves (not just the class limits) up to the lower of 20 kHz and 0.45 × the
// rate, in double precision, block by block. The low corners go through the pre-warped
// bilinear transform; the 12194 Hz pair (near or above half the rate at low rates) and what
// the transform leaves of the curve are fitted at the rate: within 0.02 dB of the curve.

#include <memory>
#include <span>

namespace korv::meter {

enum class FrequencyWeighting { A, C, Z };

// The analytic weighting in dB at `hz`, 0 dB at 1 kHz for A and C; Z is 0 everywhere.
[[nodiscard]] double analyticWeightingDb(FrequencyWeighting weighting, double hz);

// One weighting filter's running state; a steady input of any block lengths gives the same
// output to the bit.
class WeightingFilter {
  public:
    WeightingFilter(FrequencyWeighting weighting, double sampleRate);
    WeightingFilter(WeightingFilter&&) noexcept;
    WeightingFilter& operator=(WeightingFilter&&) noexcept;
    ~WeightingFilter();

    [[nodiscard]] FrequencyWeighting weighting() const;
    // Filters `samples` in place, continuing from the previous block.
    void process(std::span<double> samples);
    // The designed filter's response in dB at `hz` (for the tests and the documentation).
    [[nodiscard]] double responseDb(double hz) const;

  private:
    struct Design;
    std::unique_ptr<Design> design_;
};

} // namespace korv::meter
