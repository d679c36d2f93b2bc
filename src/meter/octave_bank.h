#pragma once
// Fractional-octave band filters (1/1 to 1/24 octave, base ten) meeting the class 1 relative
// attenuation limits, block by block: each band's Z-weighted energy accumulated until taken.
// The low bands run on decimated signals, so the cost does not grow with the bands' count at
// the full rate.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace korv::meter {

// The octave ratio of base-ten bands, 10^0.3.
inline constexpr double kOctaveRatio = 1.9952623149688795;

struct BandSpec {
    int bandsPerOctave = 3; // 1, 3, 6, 12 or 24
    double lowHz =
        25.0; // the first band is the one whose mid-band frequency is nearest, at least 5 Hz
    double highHz = 20000.0; // the last is the one nearest, whose upper edge is below half the rate
};

struct Band {
    double midHz = 0.0; // exact mid-band frequency
    double lowerEdgeHz = 0.0;
    double upperEdgeHz = 0.0;
    std::string label; // nominal (1/1, 1/3 octave) or exact to four figures: "31.5", "1000", "1059"
};

// The bands of a spec at a rate, lowest first (the same list the bank filters).
[[nodiscard]] std::vector<Band> bandsOf(const BandSpec& spec, double sampleRate);

class OctaveBank {
  public:
    OctaveBank(const BandSpec& spec, double sampleRate);
    OctaveBank(OctaveBank&&) noexcept;
    OctaveBank& operator=(OctaveBank&&) noexcept;
    ~OctaveBank();

    [[nodiscard]] const std::vector<Band>& bands() const;
    // Filters the next block of samples (any length), adding each band's squared output to
    // its running sum; the results do not depend on how the signal is cut into blocks.
    void process(std::span<const double> samples);
    // Each band's mean square since the last take (over the input frames fed since then,
    // with each band's filter delay accounted as the implementation documents), and starts
    // the next interval. `meanSquares` has bands().size() entries.
    void takeMeanSquares(std::span<double> meanSquares);

  private:
    struct Filters;
    std::unique_ptr<Filters> filters_;
};

} // namespace korv::meter
