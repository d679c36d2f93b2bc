#pragma once
// Scan File's sound: the file streamed half a loop buffer at a time into the output's looping
// buffer. The device's own position says when: a half is read once the device is far enough
// into the other half that neither it nor the analysis window needs what the half held, and
// long before the device comes back to it, whatever the time between steps.

#include "audio/playback_buffer.h"
#include "audio/sound_file.h"
#include "modes/scan_loop.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korv {

class Playback;

class FileScanSource final : public ScanSource {
  public:
    // `file` open at the first sample to play; `dataBytes` the held sample bytes from there.
    // The playback's stream buffer must be allocated.
    FileScanSource(Playback& playback, HeldSampleStream& file, int channels, int bytesPerSample,
                   std::int64_t dataBytes);

    // For a file of wider samples (24-bit, float), the exact values of what the loop buffer
    // holds, for the analysis; false without the memory for them.
    [[nodiscard]] bool keepExactValues();
    // The first half, before the device starts; returns the bytes read.
    std::size_t readFirstHalf();

    [[nodiscard]] std::optional<std::int64_t> devicePositionFrames() override;
    [[nodiscard]] std::optional<std::int64_t> endFrame() const override;
    [[nodiscard]] bool framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                                      std::span<std::int16_t> second) override;
    // A window ends by reaching back into the half the file is read into next: at most half of
    // the other half, so that half is read while the device is still far from it.
    [[nodiscard]] std::int64_t windowLimitFrames() const override;
    [[nodiscard]] bool exact() const override { return !exact_.empty(); }
    [[nodiscard]] bool exactFramesEndingAt(std::int64_t position, std::span<float> first,
                                           std::span<float> second) override;
    [[nodiscard]] bool endOfData() const override { return endOfFile_; }
    void keepUp() override;

    [[nodiscard]] std::int64_t fileBytesRead() const { return fileBytesRead_; }

  private:
    std::size_t readHalf(Half which);
    // Reads every half the device position `played` allows.
    void refillFor(std::int64_t played);

    Playback& playback_;
    HeldSampleStream& file_;
    int channels_;
    int bytesPerSample_;
    std::int64_t dataBytes_;
    std::int64_t fileBytesRead_ = 0;
    bool endOfFile_ = false;
    // The next half of the file to read (half k goes into the buffer's half k mod 2); the
    // first is read before the device starts.
    std::int64_t nextHalf_ = 1;
    // The frames the analysis window reaches back: until the first step says, the widest.
    std::int64_t windowFrames_ = pitchWindowFrames(MAX_FILE_SAMPLE_RATE);
    // The exact value of each 16-bit sample of the loop buffer, for a file that has them.
    std::vector<float> exact_;
};

} // namespace korv
