#include "analysis/column_levels.h"

#include "analysis/level_ring.h"
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
void readFrame(const ColumnFrameSource& source, long x, int channel, std::span<Sample> frame) {
    const auto frameBytes = static_cast<std::size_t>(source.channels * source.bytesPerSample);
    const std::span<const std::uint8_t> samples = source.samples;
    const std::size_t available = samples.size();
    // Column x starts x hops into the segment, on a whole frame. A start beyond the data
    // (absurd hops included) reads as silence like every other byte past the end.
    constexpr std::size_t kBeyond = std::numeric_limits<std::size_t>::max();
    std::size_t firstByte = kBeyond;
    if (source.hop > 0 && x >= 0 && x <= std::numeric_limits<long>::max() / source.hop) {
        const std::size_t startFrame =
            static_cast<std::size_t>(x * source.hop) / static_cast<std::size_t>(source.channels);
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

int ColumnLevels::setup(const ColumnAnalysisInputs& in, int rows, long maxColumns) {
    release();
    if ((in.channels != 1 && in.channels != 2) ||
        (in.bitsPerSample != 8 && in.bitsPerSample != 16) || in.run.hop <= 0 || rows < 1 ||
        in.run.log2FftSize < MIN_LOG2_FFT_SIZE || in.run.log2FftSize > MAX_LOG2_FFT_SIZE) {
        return ANALYZER_UNUSABLE;
    }
    if (fft_.setupFftWindow(in.run.log2FftSize, in.run.windowSamples) != 0) {
        return ANALYZER_NO_MEMORY;
    }
    fftSize_ = fft_.fftSize();
    rows_ = rows;
    auto map = FrequencyAxis(in.frequencyScale, in.lowBandHz, in.highBandHz, rows_)
                   .rowMap(in.sampleRate, fftSize_);
    if (!map) {
        release();
        return ANALYZER_UNUSABLE;
    }
    samples_ = in.samples;
    // Exact values stand for 16-bit samples one for one, or not at all.
    precise_ = in.bitsPerSample == 16 && in.precise.size() == in.samples.size() / 2
                   ? in.precise
                   : std::span<const float>{};
    channels_ = in.channels;
    bytesPerSample_ = in.bitsPerSample / 8;
    hop_ = in.run.hop;
    columns_ = std::clamp<long>(in.run.columns, 0, std::max(maxColumns, 0L));
    averageCount_ = std::clamp(in.averageCountScroll, MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT);
    levelScaleCode_ = in.levelScaleCode;
    keepBins_ = in.binLevels;
    const long centre = fft_.windowLength() / 2;
    const long reach = std::min(hop_, kMaxLookAround);
    lookFirst_ = static_cast<int>(std::max(centre - reach + 1, 0L));
    lookLast_ = static_cast<int>(std::min(centre + reach, static_cast<long>(fftSize_)));
    try {
        rowMap_ = std::move(*map);
        calibrationOffsets_ = buildCalibrationOffsets(in.sampleRate, fftSize_, in.calibration);
        const auto n = static_cast<std::size_t>(rows_);
        channelState_.assign(static_cast<std::size_t>(channels_), Channel{});
        for (Channel& c : channelState_) {
            if (precise_.empty()) {
                c.frame16.assign(static_cast<std::size_t>(fftSize_), 0);
            } else {
                c.frame.assign(static_cast<std::size_t>(fftSize_), 0.0f);
                c.levels.assign(static_cast<std::size_t>(fftSize_ / 2), 0);
            }
            c.rowLevels.assign(n, 0);
            c.ring.assign(n * static_cast<std::size_t>(averageCount_), 0);
            c.ringSums.assign(n, 0);
            c.averaged.assign(n, 0.0f);
            if (keepBins_) {
                const auto bins = static_cast<std::size_t>(fftSize_ / 2);
                c.binRing.assign(bins * static_cast<std::size_t>(averageCount_), 0);
                c.binSums.assign(bins, 0);
                c.binAveraged.assign(bins, 0.0f);
            }
        }
    } catch (const std::bad_alloc&) {
        release();
        return ANALYZER_NO_MEMORY;
    }
    ready_ = true;
    return 0;
}

void ColumnLevels::release() {
    if (fft_.ready()) {
        fft_.releaseFft();
    }
    ready_ = false;
    analysedAny_ = false;
    nextColumn_ = 0;
    ringPos_ = 0;
    columns_ = 0;
    channelState_.clear();
    rowMap_ = RowMap{};
    calibrationOffsets_.clear();
}

void ColumnLevels::resetRings() {
    for (Channel& c : channelState_) {
        std::fill(c.ring.begin(), c.ring.end(), std::int16_t{0});
        std::fill(c.ringSums.begin(), c.ringSums.end(), 0);
        std::fill(c.binRing.begin(), c.binRing.end(), std::int16_t{0});
        std::fill(c.binSums.begin(), c.binSums.end(), 0);
    }
    ringPos_ = 0;
}

void readColumnFrame(const ColumnFrameSource& source, long x, int channel,
                     std::span<std::int16_t> frame) {
    readFrame(source, x, channel, frame);
}

void readColumnFrame(const ColumnFrameSource& source, long x, int channel, std::span<float> frame) {
    readFrame(source, x, channel, frame);
}

void ColumnLevels::readFrames(long x) {
    const ColumnFrameSource source{samples_, channels_, bytesPerSample_, hop_, precise_};
    const auto n = static_cast<std::size_t>(fftSize_);
    for (int ch = 0; ch < channels_; ++ch) {
        Channel& c = channelState_[static_cast<std::size_t>(ch)];
        if (precise_.empty()) {
            readColumnFrame(source, x, ch, std::span(c.frame16).first(n));
            findEnvelope<std::int16_t>(c.frame16, lookFirst_, lookLast_, c.minimum, c.maximum);
        } else {
            readColumnFrame(source, x, ch, std::span(c.frame).first(n));
            findEnvelope<float>(c.frame, lookFirst_, lookLast_, c.minimum, c.maximum);
        }
    }
}

void ColumnLevels::computeColumn(long x) {
    readFrames(x);
    const auto half = static_cast<std::size_t>(fftSize_ / 2);
    const auto rows = static_cast<std::size_t>(rows_);
    for (Channel& c : channelState_) {
        // 8- and 16-bit samples go through the transform as integers, in place; the exact
        // values of wider ones as floats. Both give the same levels for the same values.
        std::span<std::int16_t> levels;
        if (precise_.empty()) {
            fft_.transformFrame(c.frame16, FftOutput::Levels);
            levels = std::span(c.frame16).first(half);
        } else {
            fft_.transformSamples(c.frame, c.levels, FftOutput::Levels);
            levels = std::span(c.levels).first(half);
        }
        applyLevelCorrections(levels, calibrationOffsets_, levelScaleCode_);
        gatherRows(rowMap_, levels, c.rowLevels);
        updateLevelRing(c.rowLevels,
                        std::span(c.ring).subspan(static_cast<std::size_t>(ringPos_) * rows, rows),
                        c.ringSums, c.averaged, averageCount_);
        if (keepBins_) {
            updateLevelRing(
                levels,
                std::span(c.binRing).subspan(static_cast<std::size_t>(ringPos_) * half, half),
                c.binSums, c.binAveraged, averageCount_);
        }
    }
    ringPos_ = (ringPos_ + 1) % averageCount_;
}

bool ColumnLevels::compute(long x) {
    if (!ready_ || x < 0 || x >= columns_) {
        return false;
    }
    if (x != nextColumn_) {
        // The ring must hold the columns before x, as it would after an ordered run.
        resetRings();
        for (long p = std::max(0L, x - averageCount_ + 1); p < x; ++p) {
            computeColumn(p);
        }
    }
    computeColumn(x);
    nextColumn_ = x + 1;
    analysedAny_ = true;
    return true;
}

std::span<const float> ColumnLevels::averagedLevels(int channel) const {
    if (!analysedAny_ || channel < 0 || channel >= channels_) {
        return {};
    }
    return channelState_[static_cast<std::size_t>(channel)].averaged;
}

std::span<const float> ColumnLevels::averagedBins(int channel) const {
    if (!analysedAny_ || channel < 0 || channel >= channels_) {
        return {};
    }
    return channelState_[static_cast<std::size_t>(channel)].binAveraged;
}

int ColumnLevels::minimum(int channel) const {
    return channel >= 0 && channel < channels_
               ? channelState_[static_cast<std::size_t>(channel)].minimum
               : 0;
}

int ColumnLevels::maximum(int channel) const {
    return channel >= 0 && channel < channels_
               ? channelState_[static_cast<std::size_t>(channel)].maximum
               : 0;
}

} // namespace korv
