#pragma once
// A recording of an acoustic calibrator (a steady tone at 1 kHz, or 250 Hz for a pistonphone):
// its steady part's Z-weighted Leq is the calibrator's level, so the full-scale level is that
// level minus the recording's Leq in dBFS. Anything else is refused with the reason.
//
// The recording is taken in 100 ms pieces (the first 10 minutes of it): each piece's share of
// its loudest third-octave band tells a tone from noise, zero crossings give the frequency,
// and the steady part is the longest run of pieces over which the F-weighted level stays
// within 0.2 dB. The signal is freed of any DC offset first (a 2 Hz high-pass), so a sound
// card's offset does not enter the calibration.

#include "meter/levels.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace korv::meter {

inline constexpr double kDefaultCalibratorLevelDb = 94.0;
inline constexpr double kCalibratorMinSteadySeconds = 3.0;
inline constexpr double kCalibratorMaxSpreadDb = 0.2;
inline constexpr double kCalibratorFrequencyTolerance = 0.02;

enum class CalibratorVerdict { Accepted, Noise, WrongFrequency, TooShort, NotSteady };

struct CalibratorReading {
    CalibratorVerdict verdict = CalibratorVerdict::TooShort;
    double toneHz = 0.0;        // the tone's frequency, as measured
    DbFs leq{};                 // Z-weighted Leq of the steady part
    double steadinessDb = 0.0;  // the F-weighted level's spread over the steady part
    double steadySeconds = 0.0; // the steady part's length
    FullScaleLevel fullScale{}; // valid when Accepted
};

// The reason in the program's words ("not a steady tone: the level varies by 1.3 dB", ...),
// empty when accepted.
[[nodiscard]] std::string calibratorReason(const CalibratorReading& reading);

class CalibratorAnalysis {
  public:
    CalibratorAnalysis(double sampleRate, double calibratorLevelDb = kDefaultCalibratorLevelDb);
    CalibratorAnalysis(CalibratorAnalysis&&) noexcept;
    CalibratorAnalysis& operator=(CalibratorAnalysis&&) noexcept;
    ~CalibratorAnalysis();
    // Blocks of any length, in order (full-scale sine = amplitude 1.0).
    void feed(std::span<const double> samples);
    // What the recording so far says (live display while it measures, and the final verdict).
    [[nodiscard]] CalibratorReading reading() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace korv::meter
