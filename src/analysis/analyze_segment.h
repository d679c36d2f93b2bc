#pragma once
// Analyze File's segment: the dialog's begin and end times as a byte range of the file's
// sample data, checked; and the segment that remains when a run is stopped early.

#include "analysis/parameters.h"
#include "base/check_result.h"

#include <cstdint>

namespace korv {

struct SegmentRangeInputs {
    std::int64_t beginMsec = 0;
    std::int64_t endMsec = 0;
    std::int32_t sampleRate = 0;
    int channels = 1;
    int bytesPerSample = 2;
    int fftSize = 1024;
    std::int64_t dataBytes = 0;  // the file's sample data (the whole file when header-less)
    std::int64_t dataOffset = 0; // where the sample data starts in the file (0 when header-less)
};

struct SegmentRange {
    std::int64_t beginByte = 0;    // within the sample data, whole frames
    std::int64_t endByte = 0;      // one FFT frame past the end time, at most the data's end
    std::int64_t askedEndByte = 0; // the end time itself, whole frames
    std::int64_t endMsec = 0;      // recomputed when the end was pulled back to the data's end
    [[nodiscard]] std::int64_t lengthBytes() const { return endByte - beginByte; }
    std::int64_t fileOffset = 0; // beginByte + dataOffset: where loadSegment starts reading
    friend bool operator==(const SegmentRange&, const SegmentRange&) = default;
};

// byte rate x time / 1000, truncated and rounded down to whole frames; the end extended by
// N frames and limited to the data (whose last partial frame does not count).
[[nodiscard]] SegmentRange segmentByteRange(const SegmentRangeInputs& inputs);

struct SegmentPlan {
    CheckResult check; // "FFT Window Too Small", "Improper Begin or End", ... as the checks say
    SegmentRange range;
};
// The range, then the checks of the segment in their order (window, begin/end, size, band).
[[nodiscard]] SegmentPlan planAnalyzeSegment(const SegmentRangeInputs& inputs,
                                             float analysisWindowMsec,
                                             FrequencyScale frequencyScale, std::int32_t lowBandHz,
                                             std::int32_t highBandHz);

// A run stopped after `drawn` of its columns keeps those columns and the matching share of
// the segment: length x drawn / columns, in whole frames.
struct StoppedRun {
    long columns = 0;
    std::int64_t segmentBytes = 0;
    friend bool operator==(const StoppedRun&, const StoppedRun&) = default;
};
[[nodiscard]] StoppedRun stoppedRun(long drawn, long columns, std::int64_t segmentBytes,
                                    int bytesPerFrame);

} // namespace korv
