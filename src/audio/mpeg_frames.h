#pragma once
// The frames of an MP3 file walked header by header, without decoding: how many samples they
// hold, so a decoder that stops early (at the length its first header gives) can be caught.

#include "audio/wave_parser.h"

#include <array>
#include <cstdint>

namespace korv {

// The samples the MPEG-1/2/2.5 Layer III frames of a file hold, from its first frame to the
// first thing that is neither a frame nor an ID3v2 tag (the tag of a file joined on).
[[nodiscard]] std::int64_t mpegFileSamples(const WaveByteReader& read, std::int64_t fileSize);

// Whether the first bytes of a file without a tag are a frame header followed, where its
// length says, by another: header-less samples starting with the sync bits stay raw data.
[[nodiscard]] bool twoMpegFrames(const WaveByteReader& read,
                                 const std::array<std::uint8_t, 12>& head);

// "MP3 decoder stops at 5.0 s of the 10.0 s of frames in the file (...)".
[[nodiscard]] UserMessage mpegCutMessage(std::int64_t decoded, std::int64_t walked, int rate);

} // namespace korv
