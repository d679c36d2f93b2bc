#include "analysis/column_pipeline.h"

#include "analysis/level_ring.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace korv {

namespace {

// Frames of a long step lie half a window apart, so every sample falls near the middle of one.
long frameStride(int windowSamples) {
    return std::max(windowSamples / 2, 1);
}

} // namespace

long framesOverStep(long stepFrames, int windowSamples) {
    const long beyond = stepFrames - std::max(windowSamples, 1);
    if (beyond <= 0) {
        return 1;
    }
    const long stride = frameStride(windowSamples);
    return 1 + (beyond + stride - 1) / stride;
}

long frameOffsetInStep(long index, int windowSamples) {
    return index * frameStride(windowSamples);
}

SetupResult ColumnPipeline::setup(const ColumnPipelineInputs& in) {
    release();
    if ((in.channels != 1 && in.channels != 2) || in.rows < 1 ||
        in.log2FftSize < MIN_LOG2_FFT_SIZE || in.log2FftSize > MAX_LOG2_FFT_SIZE) {
        return SetupResult::Unusable;
    }
    if (fft_.setupFftWindow(in.log2FftSize, in.windowSamples) != 0) {
        return SetupResult::NoMemory;
    }
    fftSize_ = fft_.fftSize();
    rows_ = in.rows;
    std::optional<RowMap> map;
    if (in.frequencyScale == FrequencyScale::ThirdOctave) {
        thirdOctave_ = thirdOctavePoints(in.sampleRate, fftSize_, rows_);
    } else {
        map = FrequencyAxis(in.frequencyScale, in.lowBandHz, in.highBandHz, rows_)
                  .rowMap(in.sampleRate, fftSize_);
    }
    if (!map && !thirdOctave_) {
        release();
        return SetupResult::Unusable;
    }
    averageCount_ = std::max(in.averageCount, 1);
    floatFrames_ = in.floatFrames;
    keepBins_ = in.binLevels && !thirdOctave_;
    wholeAverages_ = in.wholeAverages;
    corrections_ = in.corrections;
    try {
        if (map) {
            rowMap_ = std::move(*map);
            binOffsets_ = corrections_.binOffsets(in.sampleRate, fftSize_);
        } else {
            bandMap_ = buildBandMap(in.sampleRate, fftSize_);
            bandCorrections_ = corrections_.bandTable();
        }
        const auto n = static_cast<std::size_t>(fftSize_);
        const auto r = static_cast<std::size_t>(rows_);
        const auto slots = static_cast<std::size_t>(averageCount_);
        channels_.assign(static_cast<std::size_t>(in.channels), Channel{});
        for (Channel& c : channels_) {
            if (floatFrames_) {
                c.frame.assign(n, 0.0f);
                c.levels.assign(n / 2, 0);
            } else {
                c.frame16.assign(n, 0);
            }
            c.peak.assign(n / 2, 0);
            c.rowLevels.assign(r, 0);
            c.ring.assign(r * slots, 0);
            c.ringSums.assign(r, 0);
            c.averaged.assign(r, 0.0f);
            if (keepBins_) {
                c.binRing.assign(n / 2 * slots, 0);
                c.binSums.assign(n / 2, 0);
                c.binAveraged.assign(n / 2, 0.0f);
            }
        }
    } catch (const std::bad_alloc&) {
        release();
        return SetupResult::NoMemory;
    }
    return SetupResult::Ok;
}

void ColumnPipeline::release() {
    if (fft_.ready()) {
        fft_.releaseFft();
    }
    fftSize_ = 0;
    ringSlot_ = 0;
    channels_.clear();
    rowMap_ = RowMap{};
    thirdOctave_.reset();
    bandMap_.clear();
    binOffsets_.clear();
}

void ColumnPipeline::resetRings() {
    for (Channel& c : channels_) {
        std::fill(c.ring.begin(), c.ring.end(), std::int16_t{0});
        std::fill(c.ringSums.begin(), c.ringSums.end(), 0);
        std::fill(c.binRing.begin(), c.binRing.end(), std::int16_t{0});
        std::fill(c.binSums.begin(), c.binSums.end(), 0);
    }
    ringSlot_ = 0;
}

std::span<std::int16_t> ColumnPipeline::frame16(int channel) {
    return channels_[static_cast<std::size_t>(channel)].frame16;
}

std::span<float> ColumnPipeline::frame(int channel) {
    return channels_[static_cast<std::size_t>(channel)].frame;
}

void ColumnPipeline::addFrame(int channel, bool first, bool last) {
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    const auto half = static_cast<std::size_t>(fftSize_ / 2);
    // Levels for rows, magnitudes for band sums: either way a larger value is more power.
    const FftOutput mode = thirdOctave_ ? FftOutput::Magnitudes : FftOutput::Levels;
    // 16-bit samples go through the transform as integers, in place; the exact values of
    // wider ones as floats. Both give the same results for the same values.
    std::span<std::int16_t> out;
    if (floatFrames_) {
        fft_.transformSamples(c.frame, c.levels, mode);
        out = std::span(c.levels).first(half);
    } else {
        fft_.transformFrame(c.frame16, mode);
        out = std::span(c.frame16).first(half);
    }
    if (first && last) {
        c.bins = out;
        return;
    }
    // The next frame overwrites these bins: the step's maximum is kept apart.
    if (first) {
        std::copy(out.begin(), out.end(), c.peak.begin());
    } else {
        std::transform(out.begin(), out.end(), c.peak.begin(), c.peak.begin(),
                       [](std::int16_t a, std::int16_t b) { return std::max(a, b); });
    }
    c.bins = c.peak;
}

void ColumnPipeline::finishChannel(int channel, int divisor) {
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    const auto half = static_cast<std::size_t>(fftSize_ / 2);
    const auto rows = static_cast<std::size_t>(rows_);
    const auto slot = static_cast<std::size_t>(ringSlot_);
    if (thirdOctave_) {
        // Band sums of squared magnitudes; the band's own correction, no gain.
        thirdOctaveRows(*thirdOctave_, bandMap_, c.bins, bandCorrections_, c.rowLevels);
    } else {
        corrections_.applyToBins(c.bins, binOffsets_);
        gatherRows(rowMap_, c.bins, c.rowLevels);
        if (keepBins_) {
            updateLevelRing(c.bins, std::span(c.binRing).subspan(slot * half, half), c.binSums,
                            c.binAveraged, divisor);
        }
    }
    updateLevelRing(c.rowLevels, std::span(c.ring).subspan(slot * rows, rows), c.ringSums,
                    c.averaged, divisor);
    if (wholeAverages_) {
        for (float& v : c.averaged) {
            v = std::trunc(v);
        }
        for (float& v : c.binAveraged) {
            v = std::trunc(v);
        }
    }
}

void ColumnPipeline::analyseColumn(int divisor) {
    for (int ch = 0; ch < channels(); ++ch) {
        addFrame(ch, true, true);
        finishChannel(ch, divisor);
    }
    nextSlot();
}

std::span<const float> ColumnPipeline::averaged(int channel) const {
    if (channel < 0 || channel >= channels()) {
        return {};
    }
    return channels_[static_cast<std::size_t>(channel)].averaged;
}

std::span<const float> ColumnPipeline::averagedBins(int channel) const {
    if (channel < 0 || channel >= channels()) {
        return {};
    }
    return channels_[static_cast<std::size_t>(channel)].binAveraged;
}

} // namespace korv
