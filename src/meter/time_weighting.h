#pragma once
// Exponential time weighting of a squared signal: F (125 ms), S (1 s) and I (35 ms rise,
// 1.5 s fall), a continuous running value never reset between blocks or intervals.

#include <cstdint>
#include <span>

namespace korv::meter {

enum class TimeWeighting { F, S, I };

// The time constant in seconds (I: the rise).
[[nodiscard]] double timeConstantSeconds(TimeWeighting weighting);

// The I weighting's fall: the held value decays with this time constant.
inline constexpr double kImpulseFallSeconds = 1.5;

// The highest and lowest of a stretch of time-weighted values.
struct SquareRange {
    double max = 0.0;
    double min = 0.0;
};

class TimeWeightedSquare {
  public:
    TimeWeightedSquare(TimeWeighting weighting, double sampleRate);
    // The frames of the first τ, whose mean square is the starting value a meter gives.
    [[nodiscard]] std::int64_t startFrames() const { return startFrames_; }
    // Sets the running value before the next sample (the meter sets it once, from the mean
    // square of the signal's first τ, so a steady sound reads steady from its first sample).
    void start(double meanSquare);
    // Runs over the squared samples of a block, writing the time-weighted mean square after
    // each into `out` (same length): the exact solution of the continuous exponential mean
    // for an input held over each sample period, so a steady input reads its mean square.
    // I: the 35 ms mean followed by a hold that falls with 1.5 s.
    void process(std::span<const double> squares, std::span<double> out);
    // The same, widening `range` to hold every value written (for Lmax and Lmin, at no
    // extra pass over the values).
    void process(std::span<const double> squares, std::span<double> out, SquareRange& range);
    // The running value after the last sample.
    [[nodiscard]] double value() const {
        return weighting_ == TimeWeighting::I ? held_ : recentMeans_[kSteps - 1];
    }

    // F and S take this many samples a step (below).
    static constexpr int kSteps = 4;

  private:
    template <bool Track>
    void runImpulse(std::span<const double> squares, std::span<double> out, SquareRange& range);
    void runExponential(std::span<const double> squares, std::span<double> out, SquareRange& range);
    TimeWeighting weighting_;
    double rise_ = 0.0; // 1 - e^(-T/τ)
    double fall_ = 1.0; // e^(-T/1.5 s), the I hold's decay per sample
    double mean_ = 0.0; // I: the 35 ms mean
    double held_ = 0.0;
    // F and S: the last kSteps values and the last kSteps - 1 squares taken, oldest first.
    double recentMeans_[kSteps]{};
    double recentSquares_[kSteps - 1]{};
    std::int64_t startFrames_ = 1;
};

} // namespace korv::meter
