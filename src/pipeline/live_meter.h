#pragma once
// The sound level meter as a running display needs it: the core's meter fed block by block,
// with the levels of each short stretch (a tenth of a second, for bars that move) beside the
// intervals of the table. The meter measures the short stretches; an interval's levels are
// those of its stretches combined (energies averaged over their frames, the largest Lmax and
// LCpeak, the smallest Lmin), which is exactly what the meter gives for the whole interval, so
// the window's rows are the tool's. Interval k ends at frame round((k + 1) × interval × rate),
// as the tool's do.

#include "meter/sound_level_meter.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korv {

// The longest stretch between two updates of a live display.
inline constexpr double kLiveMeterStretchSeconds = 0.1;

// The levels of consecutive stretches as one: energies averaged over the frames, the
// extremes kept. The stretches must follow each other; nothing for none.
[[nodiscard]] std::optional<meter::IntervalLevels>
combineIntervals(std::span<const meter::IntervalLevels> stretches);

class LiveMeter {
  public:
    // `settings.intervalSeconds` is the table's interval (0: one row at the end). Throws what
    // the meter throws for settings it refuses.
    explicit LiveMeter(const meter::MeterSettings& settings);

    [[nodiscard]] const meter::MeterSettings& settings() const { return settings_; }
    [[nodiscard]] const std::vector<meter::Band>& bands() const { return meter_.bands(); }

    // Feeds the next samples; each interval completed meanwhile goes to `onInterval`.
    void feed(std::span<const double> samples,
              const meter::SoundLevelMeter::IntervalSink& onInterval);
    // The end of the sound: the last (shorter) interval too.
    void finish(const meter::SoundLevelMeter::IntervalSink& onInterval);

    // The last short stretch measured (its band levels for the bars), if any.
    [[nodiscard]] const std::optional<meter::IntervalLevels>& lastStretch() const {
        return lastStretch_;
    }
    [[nodiscard]] meter::MeterSummary summary() const { return meter_.summary(); }
    [[nodiscard]] double levelNow() const { return meter_.levelNow(); }
    [[nodiscard]] std::int64_t framesFed() const { return framesFed_; }

  private:
    void take(const meter::IntervalLevels& stretch,
              const meter::SoundLevelMeter::IntervalSink& onInterval);
    [[nodiscard]] std::int64_t intervalEnd(std::int64_t k) const;

    meter::MeterSettings settings_;
    meter::SoundLevelMeter meter_;
    std::vector<meter::IntervalLevels> gathered_; // the stretches of the interval in progress
    std::optional<meter::IntervalLevels> lastStretch_;
    std::int64_t interval_ = 0; // the interval in progress
    std::int64_t framesFed_ = 0;
};

} // namespace korv
