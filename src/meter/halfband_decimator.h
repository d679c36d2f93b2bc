#pragma once
// Decimation by two through a linear-phase half-band low-pass (Kaiser-windowed for 100 dB),
// so what folds over lands on nothing the bands at the lower rate measure. Two widths:
// - narrow (39 taps): flat within 0.001 dB up to 0.16 of its input rate, at least 100 dB
//   down from 0.34 of it;
// - wide (63 taps): the same up to 0.1875 and from 0.3125, so a band reaching 0.375 of the
//   halved rate can run there (the first halving, where one more band a stage saves a pack
//   of filters at the full rate).
// It keeps its phase and history across blocks: the outputs do not depend on how the input
// is cut.

#include <array>
#include <cstddef>
#include <vector>

namespace korv::meter {

enum class HalfbandWidth { Narrow, Wide };

class HalfbandDecimator {
  public:
    // The symmetric pairs of taps of each width (the middle one is 1/2, every other one 0).
    static constexpr int kNarrowPairs = 10;
    static constexpr int kWidePairs = 16;

    explicit HalfbandDecimator(HalfbandWidth width = HalfbandWidth::Narrow);

    // The highest passband frequency, as a fraction of the input rate.
    [[nodiscard]] static double passbandEdge(HalfbandWidth width);
    // The delay, in input samples, of the linear-phase filter.
    [[nodiscard]] int delay() const { return 2 * pairs_ - 1; }

    // Takes `count` more input samples and writes one output for each second input (the
    // one with an odd index since the start) to `out`, which holds at least count / 2 + 1.
    // Returns the outputs' count.
    std::size_t process(const double* in, std::size_t count, double* out);

  private:
    std::size_t processPiece(const double* in, std::size_t count, double* out);

    int pairs_;
    std::array<double, kWidePairs> taps_{}; // outermost pair first
    std::vector<double> odd_;
    std::vector<double> even_;
    std::size_t evenCount_ = 0; // entries of even_ in use
    bool nextIsOdd_ = false;
};

} // namespace korv::meter
