#pragma once
// Exponential time weighting of a squared signal: F (125 ms), S (1 s) and I (35 ms rise,
// 1.5 s fall), a continuous running value never reset between blocks or intervals.

#include <span>

namespace korv::meter {

enum class TimeWeighting { F, S, I };

// The time constant in seconds (I: the rise).
[[nodiscard]] double timeConstantSeconds(TimeWeighting weighting);

class TimeWeightedSquare {
  public:
    TimeWeightedSquare(TimeWeighting weighting, double sampleRate);
    // Runs over the squared samples of a block, writing the time-weighted mean square after
    // each into `out` (same length). The first τ of the signal sets the starting value (its
    // mean square), so a steady sound reads steady from its first sample.
    void process(std::span<const double> squares, std::span<double> out);

  private:
    TimeWeighting weighting_;
    double rate_;
};

} // namespace korv::meter
