#include "analysis/analyze_segment.h"

#include <algorithm>

namespace korv {

namespace {

// Longer than any wave file can play (about 100 days); keeps the byte arithmetic in range
// for whatever digits the time entries hold.
constexpr std::int64_t kMaxMsec = std::int64_t{1} << 33;

// byteRate x msec / 1000 truncated toward zero, exactly, without overflow.
std::int64_t bytesAt(std::int64_t byteRate, std::int64_t msec) {
    const std::int64_t t = std::clamp(msec, -kMaxMsec, kMaxMsec);
    const std::int64_t magnitude = t < 0 ? -t : t;
    const std::int64_t bytes = magnitude / 1000 * byteRate + magnitude % 1000 * byteRate / 1000;
    return t < 0 ? -bytes : bytes;
}

std::int64_t wholeFrames(std::int64_t bytes, std::int64_t frameBytes) {
    return bytes / frameBytes * frameBytes;
}

} // namespace

SegmentRange segmentByteRange(const SegmentRangeInputs& in) {
    SegmentRange range;
    const std::int64_t frameBytes =
        std::int64_t{std::clamp(in.channels, 1, 2)} * std::clamp(in.bytesPerSample, 1, 2);
    const std::int64_t byteRate = std::max<std::int64_t>(in.sampleRate, 0) * frameBytes;
    const std::int64_t dataEnd = wholeFrames(std::max<std::int64_t>(in.dataBytes, 0), frameBytes);
    range.beginByte = wholeFrames(bytesAt(byteRate, in.beginMsec), frameBytes);
    range.askedEndByte = wholeFrames(bytesAt(byteRate, in.endMsec), frameBytes);
    range.endByte = range.askedEndByte + std::int64_t{std::max(in.fftSize, 0)} * frameBytes;
    range.endMsec = in.endMsec;
    if (range.endByte > dataEnd) {
        range.endByte = dataEnd;
        range.endMsec = byteRate > 0 ? dataEnd * 1000 / byteRate : 0;
    }
    range.fileOffset = range.beginByte + std::max<std::int64_t>(in.dataOffset, 0);
    return range;
}

SegmentPlan planAnalyzeSegment(const SegmentRangeInputs& inputs, float analysisWindowMsec,
                               FrequencyScale frequencyScale, std::int32_t lowBandHz,
                               std::int32_t highBandHz) {
    SegmentPlan plan;
    plan.range = segmentByteRange(inputs);
    AnalyzeFileCheckInputs check;
    check.analysisWindowMsec = analysisWindowMsec;
    check.beginByte = plan.range.beginByte;
    // An end before the begin is refused as entered: the FFT frame added to it would
    // otherwise hide it and analyse a stretch nobody asked for.
    check.endByte = plan.range.askedEndByte < plan.range.beginByte ? plan.range.askedEndByte
                                                                   : plan.range.endByte;
    check.dataBytes = inputs.dataBytes;
    check.frequencyScale = frequencyScale;
    check.lowBandHz = lowBandHz;
    check.highBandHz = highBandHz;
    plan.check = checkAnalyzeFileSegment(check);
    return plan;
}

StoppedRun stoppedRun(long drawn, long columns, std::int64_t segmentBytes, int bytesPerFrame) {
    if (columns <= 0 || drawn >= columns) {
        return {std::max(columns, 0L), segmentBytes};
    }
    const long kept = std::max(drawn, 0L);
    const std::int64_t frame = std::max(bytesPerFrame, 1);
    // The product stays far inside 64 bits: a segment is at most 4 GiB and columns < 2^31.
    const std::int64_t share =
        segmentBytes / columns * kept + segmentBytes % columns * kept / columns;
    return {kept, share / frame * frame};
}

} // namespace korv
