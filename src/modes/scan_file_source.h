#pragma once
// Scan File's sound: the file streamed half a loop buffer at a time into the output's looping
// buffer, each half read only once the device and the analysis window have left it.

#include "audio/playback_buffer.h"
#include "audio/sound_file.h"
#include "modes/scan_loop.h"

#include <cstdint>
#include <optional>
#include <span>

namespace korv {

class Playback;

class FileScanSource final : public ScanSource {
  public:
    // `file` open at the first sample to play; `dataBytes` the held sample bytes from there.
    // The playback's stream buffer must be allocated.
    FileScanSource(Playback& playback, HeldSampleStream& file, int channels, int bytesPerSample,
                   std::int64_t dataBytes);

    // The first half, before the device starts; returns the bytes read.
    std::size_t readFirstHalf();

    [[nodiscard]] std::optional<std::int64_t> devicePositionFrames() override;
    [[nodiscard]] std::optional<std::int64_t> endFrame() const override;
    [[nodiscard]] bool framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                                      std::span<std::int16_t> second) override;
    [[nodiscard]] bool endOfData() const override { return endOfFile_; }

    [[nodiscard]] std::int64_t fileBytesRead() const { return fileBytesRead_; }

  private:
    std::size_t readHalf(Half which);

    Playback& playback_;
    HeldSampleStream& file_;
    int channels_;
    int bytesPerSample_;
    std::int64_t dataBytes_;
    std::int64_t fileBytesRead_ = 0;
    bool endOfFile_ = false;
    std::optional<HalfCrossing> crossing_; // made at the first step, guarded by its W
};

} // namespace korv
