#include "analysis/column_levels.h"

#include "analysis/levels.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

namespace korv {

namespace {

// The waveform strip looks at most this many samples either side of the window centre.
constexpr long kMaxLookAround = 64;

std::int16_t sampleAt(const std::uint8_t* p, int bytesPerSample) {
    if (bytesPerSample == 1) {
        return toAnalysisSample(p[0]);
    }
    const auto bits = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    return toAnalysisSample(static_cast<std::int16_t>(bits));
}

// N samples of one channel lying wholly inside the data; one loop per sample layout, since a
// test per sample costs as much as the reading. Every 8- and 16-bit value is a float exactly.
template <class Sample>
void readWholeFrame(const std::uint8_t* p, int bytesPerSample, std::size_t frameBytes,
                    std::span<Sample> frame) {
    if (bytesPerSample == 1) {
        for (Sample& sample : frame) {
            sample = toAnalysisSample(*p);
            p += frameBytes;
        }
    } else if (std::is_same_v<Sample, std::int16_t> && frameBytes == 2 &&
               std::endian::native == std::endian::little) {
        std::memcpy(frame.data(), p, frame.size_bytes()); // mono 16-bit: the frame itself
    } else {
        for (Sample& sample : frame) {
            sample = sampleAt(p, bytesPerSample);
            p += frameBytes;
        }
    }
}

// Column x's frame: the 8- or 16-bit samples as they are (Sample int16), or as floats, where
// the exact values of wider samples stand in for the held ones when there are any.
template <class Sample>
void readFrame(const ColumnFrameSource& source, long x, int channel, std::span<Sample> frame,
               long frameOffset) {
    const auto frameBytes = static_cast<std::size_t>(source.channels * source.bytesPerSample);
    const std::span<const std::uint8_t> samples = source.samples;
    const std::size_t available = samples.size();
    // Column x starts x hops into the segment, on a whole frame. A start beyond the data
    // (absurd hops included) reads as silence like every other byte past the end.
    constexpr std::size_t kBeyond = std::numeric_limits<std::size_t>::max();
    std::size_t firstByte = kBeyond;
    if (source.hop > 0 && x >= 0 && x <= std::numeric_limits<long>::max() / source.hop &&
        frameOffset >= 0) {
        const std::size_t startFrame =
            static_cast<std::size_t>(x * source.hop) / static_cast<std::size_t>(source.channels) +
            static_cast<std::size_t>(frameOffset);
        if (startFrame <= available / frameBytes) {
            firstByte = startFrame * frameBytes;
        }
    }
    const std::size_t n = frame.size();
    const bool inside = firstByte != kBeyond && n <= (available - firstByte) / frameBytes;
    const std::size_t channelOffset = static_cast<std::size_t>(channel * source.bytesPerSample);
    // The exact values lie where the 16-bit samples do, at half their byte positions.
    const bool exact = std::is_same_v<Sample, float> && source.bytesPerSample == 2 &&
                       !source.precise.empty() && source.precise.size() == available / 2;
    if (inside && exact) {
        const float* p = source.precise.data() + (firstByte + channelOffset) / 2;
        const std::size_t step = frameBytes / 2;
        for (Sample& sample : frame) {
            sample = static_cast<Sample>(*p);
            p += step;
        }
        return;
    }
    if (inside) {
        readWholeFrame(samples.data() + firstByte + channelOffset, source.bytesPerSample,
                       frameBytes, frame);
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at =
            firstByte == kBeyond ? available : firstByte + i * frameBytes + channelOffset;
        const bool whole =
            at <= available && static_cast<std::size_t>(source.bytesPerSample) <= available - at;
        if (!whole) {
            frame[i] = 0;
        } else if (exact) {
            frame[i] = static_cast<Sample>(source.precise[at / 2]);
        } else {
            frame[i] = sampleAt(samples.data() + at, source.bytesPerSample);
        }
    }
}

// The waveform strip's value of a sample: whole 16-bit units, truncated toward zero and held
// within the 16-bit range that the strip shows.
int stripValue(float sample) {
    return static_cast<int>(std::clamp(sample, -32768.0f, 32767.0f));
}

template <class Sample>
void findEnvelope(std::span<const Sample> frame, int first, int last, int& lo, int& hi) {
    Sample low = 0;
    Sample high = 0;
    for (int i = first; i < last; ++i) {
        const Sample v = frame[static_cast<std::size_t>(i)];
        low = std::min(low, v);
        high = std::max(high, v);
    }
    lo = stripValue(static_cast<float>(low));
    hi = stripValue(static_cast<float>(high));
}

} // namespace

SetupResult ColumnLevels::setup(const ColumnAnalysisInputs& in, int rows, long maxColumns) {
    release();
    if ((in.channels != 1 && in.channels != 2) ||
        (in.bitsPerSample != 8 && in.bitsPerSample != 16) || in.run.hop <= 0 ||
        in.frequencyScale == FrequencyScale::ThirdOctave) {
        // The picture's rows are Linear or Log; third-octave points are the live plots'.
        return SetupResult::Unusable;
    }
    if (!takeSamples(in)) {
        release();
        return SetupResult::NoMemory;
    }
    ColumnPipelineInputs p;
    p.sampleRate = in.sampleRate;
    p.channels = in.channels;
    p.log2FftSize = in.run.log2FftSize;
    p.windowSamples = in.run.windowSamples;
    p.frequencyScale = in.frequencyScale;
    p.lowBandHz = in.lowBandHz;
    p.highBandHz = in.highBandHz;
    p.rows = rows;
    p.corrections = in.corrections;
    p.averageCount = std::clamp(in.averageCountScroll, MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT);
    p.floatFrames = exact_;
    p.binLevels = in.binLevels;
    if (const SetupResult result = pipeline_.setup(p); result != SetupResult::Ok) {
        release();
        return result;
    }
    columns_ = std::clamp<long>(in.run.columns, 0, std::max(maxColumns, 0L));
    framesPerColumn_ =
        in.maxOverStep ? framesOverStep(in.run.hop / in.channels, pipeline_.windowLength()) : 1;
    const long centre = pipeline_.windowLength() / 2;
    const long reach = std::min(in.run.hop, kMaxLookAround);
    lookFirst_ = static_cast<int>(std::max(centre - reach + 1, 0L));
    lookLast_ = static_cast<int>(std::min(centre + reach, static_cast<long>(pipeline_.fftSize())));
    try {
        envelopes_.assign(static_cast<std::size_t>(in.channels), Envelope{});
    } catch (const std::bad_alloc&) {
        release();
        return SetupResult::NoMemory;
    }
    ready_ = true;
    return SetupResult::Ok;
}

bool ColumnLevels::takeSamples(const ColumnAnalysisInputs& in) {
    // Exact values stand for 16-bit samples one for one, or not at all.
    const std::span<const float> precise =
        in.bitsPerSample == 16 && in.precise.size() == in.samples.size() / 2
            ? in.precise
            : std::span<const float>{};
    source_ = {in.samples, in.channels, in.bitsPerSample / 8, in.run.hop, precise};
    window_ = in.windows ? in.windows() : nullptr;
    exact_ = window_ ? window_->exact() && in.bitsPerSample == 16 : !precise.empty();
    return !in.windows || window_ != nullptr;
}

void ColumnLevels::release() {
    pipeline_.release();
    ready_ = false;
    analysedAny_ = false;
    nextColumn_ = 0;
    columns_ = 0;
    envelopes_.clear();
    window_.reset();
}

void readColumnFrame(const ColumnFrameSource& source, long x, int channel,
                     std::span<std::int16_t> frame, long frameOffset) {
    readFrame(source, x, channel, frame, frameOffset);
}

void readColumnFrame(const ColumnFrameSource& source, long x, int channel, std::span<float> frame,
                     long frameOffset) {
    readFrame(source, x, channel, frame, frameOffset);
}

void ColumnLevels::readFrames(long x, long index) {
    const long offset = frameOffsetInStep(index, pipeline_.windowLength());
    ColumnFrameSource source = source_;
    long column = x;
    if (window_) {
        // Every frame of the step lies within the last one's end.
        const long lastOffset = frameOffsetInStep(framesPerColumn_ - 1, pipeline_.windowLength());
        source = window_->sourceFor(x, static_cast<std::size_t>(pipeline_.fftSize() + lastOffset),
                                    column);
    }
    for (int ch = 0; ch < pipeline_.channels(); ++ch) {
        Envelope& e = envelopes_[static_cast<std::size_t>(ch)];
        if (!exact_) {
            const std::span<std::int16_t> frame = pipeline_.frame16(ch);
            readColumnFrame(source, column, ch, frame, offset);
            if (index == 0) {
                findEnvelope<std::int16_t>(frame, lookFirst_, lookLast_, e.minimum, e.maximum);
            }
        } else {
            const std::span<float> frame = pipeline_.frame(ch);
            readColumnFrame(source, column, ch, frame, offset);
            if (index == 0) {
                findEnvelope<float>(frame, lookFirst_, lookLast_, e.minimum, e.maximum);
            }
        }
    }
}

void ColumnLevels::computeColumn(long x) {
    for (long index = 0; index < framesPerColumn_; ++index) {
        readFrames(x, index);
        for (int ch = 0; ch < pipeline_.channels(); ++ch) {
            pipeline_.addFrame(ch, index == 0, index + 1 == framesPerColumn_);
        }
    }
    for (int ch = 0; ch < pipeline_.channels(); ++ch) {
        pipeline_.finishChannel(ch, pipeline_.averageCount());
    }
    pipeline_.nextSlot();
}

bool ColumnLevels::compute(long x) {
    if (!ready_ || x < 0 || x >= columns_) {
        return false;
    }
    if (x != nextColumn_) {
        // The ring must hold the columns before x, as it would after an ordered run.
        pipeline_.resetRings();
        for (long p = std::max(0L, x - pipeline_.averageCount() + 1); p < x; ++p) {
            computeColumn(p);
        }
    }
    computeColumn(x);
    nextColumn_ = x + 1;
    analysedAny_ = true;
    return true;
}

std::span<const float> ColumnLevels::averagedLevels(int channel) const {
    return analysedAny_ ? pipeline_.averaged(channel) : std::span<const float>{};
}

std::span<const float> ColumnLevels::averagedBins(int channel) const {
    return analysedAny_ ? pipeline_.averagedBins(channel) : std::span<const float>{};
}

int ColumnLevels::minimum(int channel) const {
    return channel >= 0 && channel < channels()
               ? envelopes_[static_cast<std::size_t>(channel)].minimum
               : 0;
}

int ColumnLevels::maximum(int channel) const {
    return channel >= 0 && channel < channels()
               ? envelopes_[static_cast<std::size_t>(channel)].maximum
               : 0;
}

} // namespace korv
