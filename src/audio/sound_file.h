#pragma once
// Opening any sound file the program reads, in one place for every mode and the tool: RIFF
// wave files and header-less data go to the program's own wave reader, with its messages and
// its raw fallback; FLAC, Ogg Vorbis, Opus, MP3, AIFF/AIFC, W64, RF64, CAF (and wave files the
// wave reader refuses, such as more than two channels) go to libsndfile, Ogg Vorbis streams
// joined one after another to libvorbisfile. Either way the result is a WaveFileInfo of held
// 8- or 16-bit samples, one or two channels picked from the file's, and a SampleSource that
// loadSegment reads a stretch through.

#include "audio/wave_parser.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace korv {

inline constexpr int MAX_FILE_CHANNELS = 64;

// A channel number beyond the file's.
inline const UserMessage kNoSuchChannel{"No Such Channel in File", MessageIcon::Warning};

// Opens the file, checks its size and finds its format; the messages and statuses are the
// wave reader's, whichever reader takes the file.
[[nodiscard]] WaveParseResult openSoundFile(const std::string& path);
// How many times openSoundFile has been called in this process: what the tests count a job's
// header reads by (each file is to be opened and planned once).
[[nodiscard]] std::uint64_t soundFileOpens();
// "Cannot Open File (No such file or directory)": why openSoundFile could not open `path`.
[[nodiscard]] UserMessage cannotOpenSoundFile(const std::string& path);
// The same over a file of `fileSize` bytes that `read` gives.
[[nodiscard]] WaveParseResult openSoundFileFrom(const WaveByteReader& read, std::int64_t fileSize);
// The same over a whole file in memory.
[[nodiscard]] WaveParseResult openSoundFileBytes(std::span<const std::uint8_t> bytes);

// Two channels of a file, 1-based.
struct FileChannels {
    int first = 1;
    int second = 2;
    [[nodiscard]] bool valid() const {
        return first >= 1 && first <= MAX_FILE_CHANNELS && second >= 1 &&
               second <= MAX_FILE_CHANNELS;
    }
    friend bool operator==(const FileChannels&, const FileChannels&) = default;
};

// A file of more than two channels holds `channels` as its two (a file of one or two keeps
// its own); false (info unchanged) when the file has no such channel.
[[nodiscard]] bool holdChannels(WaveFileInfo& info, FileChannels channels);

// Holds channel `channel` (1-based) of the file alone, as mono data; false (info unchanged)
// when the file has no such channel.
[[nodiscard]] bool holdOneChannel(WaveFileInfo& info, int channel);

// A sound-file source kept open, so stretches of its held frames can be read in any order
// without opening it again.
class SoundFileFrames {
  public:
    SoundFileFrames();
    SoundFileFrames(SoundFileFrames&&) noexcept;
    SoundFileFrames& operator=(SoundFileFrames&&) noexcept;
    SoundFileFrames(const SoundFileFrames&) = delete;
    SoundFileFrames& operator=(const SoundFileFrames&) = delete;
    ~SoundFileFrames();

    // False when libsndfile cannot open the file or it is not the one `source` describes.
    [[nodiscard]] bool open(WaveByteReader read, std::int64_t fileSize, const SampleSource& source,
                            int heldChannels);
    // `frames` held frames from held frame `firstFrame`, as 16-bit samples (little-endian,
    // interleaved, heldChannels a frame) into `into16` and, when `precise` is not empty, their
    // exact values into `precise`. False when the file ends early or cannot be read.
    [[nodiscard]] bool read(std::int64_t firstFrame, std::span<std::uint8_t> into16,
                            std::span<float> precise);

  private:
    struct Open;
    std::unique_ptr<Open> open_;
};

// The same once, opening the file for the one stretch.
[[nodiscard]] bool readSoundFileFrames(const WaveByteReader& read, std::int64_t fileSize,
                                       const SampleSource& source, int heldChannels,
                                       std::int64_t firstFrame, std::span<std::uint8_t> into16,
                                       std::span<float> precise);

// The held samples of a file read in order from a point of its data: what Scan File streams to
// the sound output, as 8- or 16-bit samples whatever the file's own encoding and reader.
class HeldSampleStream {
  public:
    HeldSampleStream();
    HeldSampleStream(HeldSampleStream&&) noexcept;
    HeldSampleStream& operator=(HeldSampleStream&&) noexcept;
    HeldSampleStream(const HeldSampleStream&) = delete;
    HeldSampleStream& operator=(const HeldSampleStream&) = delete;
    ~HeldSampleStream();

    // Opens the file `info` describes at held byte `startByte` of its data (the frame that
    // holds it, for the sound-file reader); false when it cannot be opened or positioned.
    [[nodiscard]] bool open(const std::string& path, const WaveFileInfo& info,
                            std::int64_t startByte);
    // Up to into.size() held bytes in whole samples: fewer at the end of the data or on an
    // error. For a converted encoding, with `precise` not empty (a float per 16-bit sample),
    // their exact values too.
    [[nodiscard]] std::size_t read(std::span<std::uint8_t> into, std::span<float> precise = {});
    void close();

  private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
};

} // namespace korv
