#pragma once
// The sound a scan passes over, handed on once and in order: a ScanSource that stands in for
// another and, at every step the loop takes, hands the frames since the last step (the first
// channel, full scale 1.0) to whoever listens, in the sound's own frame count. The loop's steps
// go by the device and overlap or leave gaps; the listener (the sound level meter) gets each
// frame exactly once. A step further behind than the source can reach back loses the frames
// between; they are counted, never made up.

#include "pipeline/scan_loop.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace korv {

class TappedScanSource final : public ScanSource {
  public:
    // `firstFrame` counts from the start of the sound; the samples are valid during the call.
    using Listener = std::function<void(std::int64_t firstFrame, std::span<const double> samples)>;
    TappedScanSource(ScanSource& inner, int channels, Listener listener);

    [[nodiscard]] std::optional<std::int64_t> devicePositionFrames() override {
        return inner_.devicePositionFrames();
    }
    [[nodiscard]] std::optional<std::int64_t> endFrame() const override {
        return inner_.endFrame();
    }
    [[nodiscard]] bool framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                                      std::span<std::int16_t> second) override;
    [[nodiscard]] bool exact() const override { return inner_.exact(); }
    [[nodiscard]] bool exactFramesEndingAt(std::int64_t position, std::span<float> first,
                                           std::span<float> second) override;
    [[nodiscard]] std::int64_t windowLimitFrames() const override {
        return inner_.windowLimitFrames();
    }
    [[nodiscard]] bool endOfData() const override { return inner_.endOfData(); }
    void keepUp() override { inner_.keepUp(); }

    // After the loop: the frames from the last step to `position` (the end of the data), as
    // far as the source still holds them.
    void finishAt(std::int64_t position);

    // The next frame to be handed on, and the frames lost to steps too far apart.
    [[nodiscard]] std::int64_t handedFrames() const { return next_; }
    [[nodiscard]] std::int64_t missedFrames() const { return missed_; }

  private:
    // The frames the tap asks for at `position`: twice those since the last step (so the
    // source keeps them until the next one), within what the source allows.
    [[nodiscard]] std::int64_t reachAt(std::int64_t position) const;
    // Gathers the stretch up to `position` into scratch_; the frames to hand on, or 0.
    std::int64_t gather(std::int64_t position);
    void hand(std::int64_t position, std::int64_t count);

    ScanSource& inner_;
    int channels_;
    Listener listener_;
    std::int64_t next_ = 0;
    std::int64_t missed_ = 0;
    std::int64_t pending_ = 0; // frames gathered at the last position, for the exact values
    std::vector<std::int16_t> scratch_[2];
    std::vector<float> exactScratch_[2];
    std::vector<double> samples_;
};

} // namespace korv
