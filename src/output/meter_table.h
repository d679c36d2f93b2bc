#pragma once
// The sound level meter's table as text: the header naming each column with its weighting and
// unit, and one row per interval. The tool's NAME.meter.csv and the window's monitoring log are
// both written through these, so the two files are the same format to the byte. Formatting
// only; the caller writes the text.

#include "meter/levels.h"
#include "meter/octave_bank.h"
#include "meter/sound_level_meter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korv {

struct MeterTableNames {
    meter::FrequencyWeighting weighting = meter::FrequencyWeighting::A;
    meter::TimeWeighting timeWeighting = meter::TimeWeighting::F;
    // Levels in dB SPL (this added to each dBFS level), else dBFS.
    std::optional<meter::FullScaleLevel> fullScale;
    bool absoluteTime = false; // a first column "start" with the row's ISO 8601 time
};

// "A", "C", "Z" and "F", "S", "I", as the columns name them.
[[nodiscard]] std::string_view weightingLetter(meter::FrequencyWeighting weighting);
[[nodiscard]] std::string_view timeWeightingLetter(meter::TimeWeighting timeWeighting);
// "LA" (timeWeighted false) or "LAF".
[[nodiscard]] std::string meterLevelName(const MeterTableNames& names, bool timeWeighted);
// "dB" once a full-scale level is known, else "dBFS".
[[nodiscard]] std::string_view meterUnit(const MeterTableNames& names);

// "start_s,end_s,LAeq_dBFS,LAFmax_dBFS,LAFmin_dBFS,LCpeak_dBFS[,LZeq_1000_Hz_dBFS...]\n".
[[nodiscard]] std::string meterTableHeader(const MeterTableNames& names,
                                           const std::vector<meter::Band>& bands);
// One interval's row, its times from its frames at `sampleRate`; `startTime` the first field
// with absoluteTime.
void appendMeterRow(std::string& text, const MeterTableNames& names,
                    const meter::IntervalLevels& levels, double sampleRate,
                    std::string_view startTime = {});

// A frame position as seconds with six decimals, exactly (no binary fraction in the way).
void appendMeterSeconds(std::string& text, std::int64_t frame, double sampleRate);
// ",-12.34": a dBFS level on the table's scale, two decimals.
void appendMeterLevel(std::string& text, const MeterTableNames& names, double dbfs);

} // namespace korv
