#pragma once
// One channel of a sound file as its exact samples (a full-scale sine has amplitude 1.0), read
// in order a block at a time, so a file of any length takes the same memory: what the sound
// level meter and the calibrator take from a file. 24-bit and float files keep their full
// precision, whichever reader takes them.

#include "audio/wave_parser.h"
#include "base/user_message.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korv {

// The frames a block holds at most.
inline constexpr std::size_t kFileSampleBlockFrames = std::size_t{1} << 16;

class FileSamples {
  public:
    FileSamples();
    FileSamples(FileSamples&&) noexcept;
    FileSamples& operator=(FileSamples&&) noexcept;
    ~FileSamples();

    // Opens channel `channel` (1-based) of the file: the reader's message when it cannot
    // (as Analyze File words it), kNoSuchChannel beyond the file's channels.
    [[nodiscard]] std::optional<UserMessage> open(const std::string& path, int channel);
    [[nodiscard]] const WaveFileInfo& info() const;
    [[nodiscard]] double sampleRate() const;
    // The frames the file holds.
    [[nodiscard]] std::int64_t frames() const;
    // The next block (at most kFileSampleBlockFrames frames); empty at the end of the data or
    // once a read has failed (failed() then says so). Valid until the next call.
    [[nodiscard]] std::span<const double> next();
    // The file ended before the frames its header declares, or could not be read.
    [[nodiscard]] bool failed() const;

  private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
};

} // namespace korv
