#pragma once
// The decoders behind the sound-file reader, each reading through the same bounded reader as
// the wave parser, so a file and the bytes of a fuzzer take one path: libsndfile for every
// container it reads, and libvorbisfile for Ogg Vorbis streams joined one after another (what
// `cat a.ogg b.ogg` makes), which libsndfile would read to the end of the first only.

#include "audio/recording_time.h"
#include "audio/wave_parser.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>

namespace korv {

// A length the header does not give (a FLAC written to a pipe, a cut Ogg file).
inline constexpr std::int64_t UNKNOWN_FRAMES = std::numeric_limits<std::int64_t>::max();

struct DecodedFormat {
    int channels = 0;
    int sampleRate = 0;
    std::int64_t frames = 0; // as the header declares, or UNKNOWN_FRAMES
    int format = 0;          // libsndfile's container and encoding codes
};

class SoundDecoder {
  public:
    SoundDecoder();
    SoundDecoder(SoundDecoder&&) noexcept;
    SoundDecoder& operator=(SoundDecoder&&) noexcept;
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;
    ~SoundDecoder();

    // False when neither decoder reads the file. `read` is kept: it must outlive the decoder.
    [[nodiscard]] bool open(const WaveByteReader& read, std::int64_t fileSize);
    // A copy: a failed restart drops the backend that holds it.
    [[nodiscard]] DecodedFormat format() const;
    // False where the decoder reads on only (GSM 6.10 wave files): seek() then reads up to
    // the frame.
    [[nodiscard]] bool seekable() const;
    // Joined streams that change their rate or channels: where the first of them starts, in
    // frames of the first, for the refusal to say.
    [[nodiscard]] std::optional<std::int64_t> formatChangesAt() const;
    // To frame `frame`.
    [[nodiscard]] bool seek(std::int64_t frame);
    // Up to `frames` interleaved frames into `into` (frames x channels floats, full scale 1);
    // fewer at the end or on an error.
    [[nodiscard]] std::int64_t read(std::span<float> into, std::int64_t frames);
    // The frames it gives from where it stands to its end.
    [[nodiscard]] std::int64_t countToEnd();
    // Whether the last of `frames` frames can be read: a coded file's header (a FLAC's total)
    // may promise more than its frames hold. Leaves the decoder where it can be sought again.
    [[nodiscard]] bool lastFrameReads(std::int64_t frames);
    // The recording time the container's own metadata gives (a broadcast chunk of W64, a FLAC
    // or Ogg DATE comment).
    [[nodiscard]] std::optional<RecordingTime> recordingTime() const;

  private:
    struct Backend;
    struct Sndfile;
    struct Vorbis;
    std::unique_ptr<Backend> backend_;
};

} // namespace korv
