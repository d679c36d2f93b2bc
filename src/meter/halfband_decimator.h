#pragma once
// Decimation by two through a linear-phase half-band low-pass (Kaiser-windowed, 39 taps):
// flat within 0.001 dB up to 0.16 of its input rate, at least 100 dB down from 0.34 of it,
// so what folds over lands on nothing the bands at the lower rate measure. It keeps its
// phase and history across blocks: the outputs do not depend on how the input is cut.

#include <array>
#include <cstddef>
#include <vector>

namespace korv::meter {

class HalfbandDecimator {
  public:
    // The symmetric pairs of taps (the middle one is 1/2, every other one is 0).
    static constexpr int kPairs = 10;
    // The delay, in input samples, of the linear-phase filter.
    static constexpr int kDelay = 2 * kPairs - 1;
    // The highest passband frequency, as a fraction of the input rate.
    static constexpr double kPassbandEdge = 0.16;

    HalfbandDecimator();

    // Takes `count` more input samples and writes one output for each second input (the
    // one with an odd index since the start) to `out`, which holds at least count / 2 + 1.
    // Returns the outputs' count.
    std::size_t process(const double* in, std::size_t count, double* out);

  private:
    std::size_t processPiece(const double* in, std::size_t count, double* out);

    std::array<double, kPairs> taps_{}; // outermost pair first
    std::vector<double> odd_;
    std::vector<double> even_;
    std::size_t evenCount_ = 0; // entries of even_ in use
    bool nextIsOdd_ = false;
};

} // namespace korv::meter
