#include "pipeline/scan_sound_tap.h"

#include "audio/sample_encoding.h"

#include <algorithm>

namespace korv {

TappedScanSource::TappedScanSource(ScanSource& inner, int channels, Listener listener)
    : inner_(inner), channels_(channels == 2 ? 2 : 1), listener_(std::move(listener)) {}

std::int64_t TappedScanSource::reachAt(std::int64_t position) const {
    const std::int64_t since = position - next_;
    const std::int64_t limit = std::max<std::int64_t>(inner_.windowLimitFrames(), 1);
    return std::clamp<std::int64_t>(2 * since, 1, std::min(limit, position));
}

std::int64_t TappedScanSource::gather(std::int64_t position) {
    if (position <= next_) {
        return 0;
    }
    const std::int64_t reach = reachAt(position);
    const auto n = static_cast<std::size_t>(reach);
    for (int ch = 0; ch < channels_; ++ch) {
        scratch_[ch].resize(n);
    }
    if (!inner_.framesEndingAt(position, scratch_[0],
                               channels_ == 2 ? std::span<std::int16_t>(scratch_[1])
                                              : std::span<std::int16_t>{})) {
        return 0;
    }
    const std::int64_t wanted = position - next_;
    if (wanted > reach) {
        missed_ += wanted - reach;
        next_ = position - reach;
    }
    return position - next_;
}

void TappedScanSource::hand(std::int64_t position, std::int64_t count) {
    const auto n = static_cast<std::size_t>(count);
    samples_.resize(n);
    if (inner_.exact()) {
        for (int ch = 0; ch < channels_; ++ch) {
            exactScratch_[ch].resize(n);
        }
        if (!inner_.exactFramesEndingAt(position, exactScratch_[0],
                                        channels_ == 2 ? std::span<float>(exactScratch_[1])
                                                       : std::span<float>{})) {
            return;
        }
        std::transform(exactScratch_[0].begin(), exactScratch_[0].end(), samples_.begin(),
                       [](float v) { return static_cast<double>(v) / FLOAT_SAMPLE_SCALE; });
    } else {
        const auto from = scratch_[0].end() - static_cast<std::ptrdiff_t>(n);
        std::transform(from, scratch_[0].end(), samples_.begin(),
                       [](std::int16_t v) { return static_cast<double>(v) / FLOAT_SAMPLE_SCALE; });
    }
    const std::int64_t first = next_;
    next_ = position;
    listener_(first, samples_);
}

bool TappedScanSource::framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                                      std::span<std::int16_t> second) {
    pending_ = 0;
    if (!inner_.framesEndingAt(position, first, second)) {
        return false;
    }
    // Asked last, the wider stretch is what the source keeps until the next step.
    pending_ = gather(position);
    if (pending_ > 0 && !inner_.exact()) {
        hand(position, pending_);
        pending_ = 0;
    }
    return true;
}

bool TappedScanSource::exactFramesEndingAt(std::int64_t position, std::span<float> first,
                                           std::span<float> second) {
    if (!inner_.exactFramesEndingAt(position, first, second)) {
        return false;
    }
    if (pending_ > 0) {
        hand(position, pending_);
        pending_ = 0;
    }
    return true;
}

void TappedScanSource::finishAt(std::int64_t position) {
    if (const std::int64_t count = gather(position); count > 0) {
        hand(position, count);
    }
}

} // namespace korv
