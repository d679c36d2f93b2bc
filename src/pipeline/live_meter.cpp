#include "pipeline/live_meter.h"

#include <algorithm>
#include <cmath>

namespace korv {

namespace {

// The stretch length: the interval cut into equal parts of at most a tenth of a second.
meter::MeterSettings stretchSettings(const meter::MeterSettings& settings) {
    meter::MeterSettings s = settings;
    if (settings.intervalSeconds > 0.0 && settings.intervalSeconds <= kLiveMeterStretchSeconds) {
        return s;
    }
    const double parts = settings.intervalSeconds > 0.0
                             ? std::ceil(settings.intervalSeconds / kLiveMeterStretchSeconds - 1e-9)
                             : 1.0;
    s.intervalSeconds = settings.intervalSeconds > 0.0 ? settings.intervalSeconds / parts
                                                       : kLiveMeterStretchSeconds;
    return s;
}

} // namespace

std::optional<meter::IntervalLevels>
combineIntervals(std::span<const meter::IntervalLevels> stretches) {
    if (stretches.empty()) {
        return std::nullopt;
    }
    meter::IntervalLevels all = stretches.front();
    if (stretches.size() == 1) {
        return all;
    }
    all.endFrame = stretches.back().endFrame;
    double energy = 0.0;
    std::vector<double> bandEnergy(all.bandLeq.size(), 0.0);
    for (const meter::IntervalLevels& s : stretches) {
        const auto frames = static_cast<double>(s.endFrame - s.startFrame);
        energy += meter::meanSquareOfLevel({s.leq}) * frames;
        for (std::size_t b = 0; b < bandEnergy.size() && b < s.bandLeq.size(); ++b) {
            bandEnergy[b] += meter::meanSquareOfLevel({s.bandLeq[b]}) * frames;
        }
        all.lmax = std::max(all.lmax, s.lmax);
        all.lmin = std::min(all.lmin, s.lmin);
        all.lcpeak = std::max(all.lcpeak, s.lcpeak);
    }
    const auto frames =
        static_cast<double>(std::max<std::int64_t>(all.endFrame - all.startFrame, 1));
    all.leq = meter::levelOfMeanSquare(energy / frames).value;
    for (std::size_t b = 0; b < bandEnergy.size(); ++b) {
        all.bandLeq[b] = meter::levelOfMeanSquare(bandEnergy[b] / frames).value;
    }
    return all;
}

LiveMeter::LiveMeter(const meter::MeterSettings& settings)
    : settings_(settings), meter_(stretchSettings(settings)) {}

std::int64_t LiveMeter::intervalEnd(std::int64_t k) const {
    return std::llround(static_cast<double>(k + 1) * settings_.intervalSeconds *
                        settings_.sampleRate);
}

void LiveMeter::take(const meter::IntervalLevels& stretch,
                     const meter::SoundLevelMeter::IntervalSink& onInterval) {
    lastStretch_ = stretch;
    gathered_.push_back(stretch);
    if (settings_.intervalSeconds <= 0.0) {
        // One row for the whole sound: the stretches so far as one, kept short.
        gathered_ = {*combineIntervals(gathered_)};
        return;
    }
    // Rounding may set a stretch's end a frame off the interval's: the interval ends there.
    if (stretch.endFrame >= intervalEnd(interval_)) {
        onInterval(*combineIntervals(gathered_));
        gathered_.clear();
        ++interval_;
    }
}

void LiveMeter::feed(std::span<const double> samples,
                     const meter::SoundLevelMeter::IntervalSink& onInterval) {
    framesFed_ += static_cast<std::int64_t>(samples.size());
    meter_.feed(samples, [&](const meter::IntervalLevels& s) { take(s, onInterval); });
}

void LiveMeter::finish(const meter::SoundLevelMeter::IntervalSink& onInterval) {
    meter_.finish([&](const meter::IntervalLevels& s) { take(s, onInterval); });
    if (const auto rest = combineIntervals(gathered_)) {
        onInterval(*rest);
    }
    gathered_.clear();
}

} // namespace korv
