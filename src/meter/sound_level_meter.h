#pragma once
// The sound level meter: one signal (one channel, full-scale sine = amplitude 1.0) in blocks of
// any length, giving per interval and for the whole signal the integrated levels an acoustician
// reports. The same object serves a whole file and live sound; its results do not depend on the
// block sizes, and interval boundaries fall on whole samples.
//
// How it measures where the standards leave the choice open:
// - The time-weighted mean square is the exact solution of the continuous exponential mean
//   for an input held over each sample period, taken at every sample: between samples it only
//   moves towards the held input, so Lmax and Lmin over the samples are those of the running
//   value. It starts from the mean square of the signal's first τ (the whole signal when
//   shorter), as if the sound had been steady before.
// - I: the 35 ms mean, then a hold that falls with 1.5 s whenever the mean is below it.
// - LCpeak: the C-weighted signal interpolated to a quarter of the sample period around each
//   local maximum near the peak so far, the crest taken from a parabola (PeakDetector).
// - L5 .. L95: the time-weighted level after each 10 ms from the start, ranked, interpolated
//   between ranks (LevelHistogram).
// - Digital silence, and anything below it, reads kSilenceFloorDbFs.
// - The microphone correction of the broadband levels: sections fitted to the curve at the
//   rate, from 10 Hz to the lower of 20 kHz and 0.45 × the rate (designCorrectionFilter);
//   the bands take the curve's value at their mid-band frequency.

#include "meter/correction_filter.h"
#include "meter/levels.h"
#include "meter/octave_bank.h"
#include "meter/time_weighting.h"
#include "meter/weighting.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace korv::meter {

// The lowest rate the weighting filters are designed for; the constructor refuses below it.
inline constexpr double kLowestMeterRate = 4000.0;

struct MeterSettings {
    double sampleRate = 48000.0;
    FrequencyWeighting weighting = FrequencyWeighting::A;
    TimeWeighting timeWeighting = TimeWeighting::F;
    // Interval length in seconds; 0: one interval for the whole signal. The boundaries are
    // whole samples: interval k starts at frame round(k × interval × rate).
    double intervalSeconds = 1.0;
    std::optional<BandSpec> bands; // none: no band levels
    // A microphone's correction, empty for none: the band levels get it at their mid-band
    // frequencies, the broadband levels through a filter designed from it.
    std::vector<CorrectionPoint> correction;
};

// How many threads a meter runs on: with Two, the band filters of a block of a file run on a
// thread of their own while the broadband levels of that block and the next are measured, so
// an interval's band levels come in with the next block's feed (or with finish). The values
// are the same to the bit.
enum class MeterCores { One, Two };

// The sampling of the time-weighted level behind the statistical levels.
inline constexpr double kStatisticsStepSeconds = 0.01;

// Levels in dBFS (the caller adds a full-scale level for dB SPL).
struct IntervalLevels {
    std::int64_t startFrame = 0;
    std::int64_t endFrame = 0; // exclusive
    double leq = 0.0;          // L{W}eq
    double lmax = 0.0;         // L{W}{T}max
    double lmin = 0.0;         // L{W}{T}min
    double lcpeak = 0.0; // LCpeak: 20 lg(peak) + 3.01, so a full-scale sine's peak reads +3.01
    std::vector<double> bandLeq; // LZeq per band, lowest first
};

struct MeterSummary {
    std::int64_t frames = 0;
    double leq = 0.0;
    double le = 0.0; // sound exposure level re 1 s
    double lmax = 0.0;
    double lmin = 0.0;
    double lcpeak = 0.0;
    // The level the time-weighted level exceeds for 5, 10, 50, 90 and 95 % of the time,
    // sampled every 10 ms (at the ends of each 10 ms from the start; a signal shorter than
    // that gives its last level), interpolated between ranks, to 0.01 dB.
    double l5 = 0.0, l10 = 0.0, l50 = 0.0, l90 = 0.0, l95 = 0.0;
    // Samples that were no finite number (NaN, infinity), measured as silence.
    std::int64_t nonFiniteSamples = 0;
};

class SoundLevelMeter {
  public:
    // Throws std::invalid_argument for a rate below 4 kHz, a negative or non-finite interval
    // or one shorter than a sample.
    explicit SoundLevelMeter(const MeterSettings& settings, MeterCores cores = MeterCores::One);
    SoundLevelMeter(SoundLevelMeter&&) noexcept;
    SoundLevelMeter& operator=(SoundLevelMeter&&) noexcept;
    ~SoundLevelMeter();

    [[nodiscard]] const MeterSettings& settings() const;
    // The bands' list (empty without bands).
    [[nodiscard]] const std::vector<Band>& bands() const;

    // Feeds the next block; the intervals whose levels are complete are handed to
    // `onInterval` before feed returns, in order. An interval is complete a few frames after
    // its end (the peak's interpolation looks 13 frames ahead), and none before the signal's
    // first τ is in (the time weighting starts from its mean square).
    using IntervalSink = std::function<void(const IntervalLevels&)>;
    void feed(std::span<const double> samples, const IntervalSink& onInterval);
    // Ends the signal: hands over every interval not yet handed over, the last one (shorter)
    // if it holds any frame. Nothing may be fed after it.
    void finish(const IntervalSink& onInterval);
    // The whole signal so far.
    [[nodiscard]] MeterSummary summary() const;
    // The time-weighted level now (L{W}{T}), for a live display.
    [[nodiscard]] double levelNow() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace korv::meter
