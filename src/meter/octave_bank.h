#pragma once
// Fractional-octave band filters (1/1 to 1/24 octave, base ten) meeting the class 1 relative
// attenuation limits, block by block: each band's Z-weighted energy accumulated until taken.
// Each band is an eight-pole Butterworth band-pass (meter/band_pass.h) running at the lowest
// rate, the input's halved k times (meter/halfband_decimator.h), at which its upper edge is at
// most 0.3 of that rate, so the cost does not grow with the bands' count at the full rate;
// none runs at half the rate (k = 1): those run at the full rate. The filters start at rest.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace korv::meter {

// The octave ratio of base-ten bands, 10^0.3.
inline constexpr double kOctaveRatio = 1.9952623149688795;

struct BandSpec {
    int bandsPerOctave = 3; // 1, 3, 6, 12 or 24 (no band for any other)
    // The first band is the one whose mid-band frequency is nearest lowHz on a log scale, but
    // none below 5 Hz; the last the one nearest highHz, but none whose upper edge reaches half
    // the rate. No band (an empty list) when highHz is not above 0 or lies below the first.
    double lowHz = 25.0;
    double highHz = 20000.0;
};

struct Band {
    double midHz = 0.0; // exact mid-band frequency
    double lowerEdgeHz = 0.0;
    double upperEdgeHz = 0.0;
    // Nominal for 1/1 and 1/3 octave ("31.5", "1000", "12500"), else the exact mid-band
    // frequency to four significant figures ("20.60", "1059", "10590").
    std::string label;
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
    // Each band's mean square since the last take, and starts the next interval: the band's
    // squared outputs produced while the frames since then were fed, each counted for the
    // input frames it stands for (2^k at a rate halved k times), over those frames' count. An
    // output at a lower rate belongs to the interval of the input frame that produced it (the
    // decimators emit on every second input), so an interval's share of a low band differs
    // from its exact length by less than one output, and nothing is lost or counted twice over
    // the intervals. The filters' delays are not compensated: a band reads what leaves its
    // filter, its own delay plus 19 samples of each decimator's input rate above it (19 ms at
    // 1 kHz). 0 when no frame was fed.
    // `meanSquares` has bands().size() entries.
    void takeMeanSquares(std::span<double> meanSquares);

  private:
    struct Filters;
    std::unique_ptr<Filters> filters_;
};

} // namespace korv::meter
