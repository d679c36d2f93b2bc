#pragma once
// Finding the format and the samples of a wave file. The chunk list of a RIFF/WAVE file is
// walked over the whole file, so "fmt " and "data" are found behind "bext", "LIST" and the
// like. PCM of 8, 16, 24 or 32 bits and 32-bit float, plain or extensible, 1 or 2 channels,
// is taken; the wider encodings are held as 16-bit samples beside their exact values. A file
// without a usable header is offered as raw 16-bit mono 11025 Hz samples.

#include "analysis/parameters.h" // MAX_FILE_SAMPLE_RATE
#include "audio/recording_time.h"
#include "audio/sample_encoding.h"
#include "audio/wave_header.h"
#include "base/user_message.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace korv {

// Without "RIFF" and "WAVE" at the start, the "fmt " id is searched for at offsets 0 to 511.
inline constexpr std::size_t WAVE_FMT_SEARCH_LIMIT = 512;
// The chunk walk gives up after this many chunks.
inline constexpr int WAVE_MAX_CHUNKS = 1024;
inline constexpr std::int64_t WAVE_MIN_FILE_SIZE = 2048;
inline constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
inline constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

inline const UserMessage kSampleSizeTooSmall{"Sample Size Too Small", MessageIcon::Stop};
inline const UserMessage kNotPcmWaveFormat{"File may not be PCM Wave Format", MessageIcon::Warning};
inline const UserMessage kAdvancedWaveFormat{"Advanced Wave Formats Cannot be Processed",
                                             MessageIcon::Warning};

// The samples as the program holds them: channels, rate and bits (8 or 16) describe the
// held data, `encoding` how the file stores it, `reader` which reader takes it.
struct WaveFileInfo {
    std::uint16_t channels = 1;
    std::int32_t sampleRate = 11025;
    std::uint16_t bitsPerSample = 16;
    // File offset of the first sample byte; 0 for raw files and for the sound-file reader.
    std::int64_t dataOffset = 0;
    // Sample bytes as held: the "data" chunk's declared count, cut to what the file really
    // holds after dataOffset, and for 24-bit, 32-bit and float files counted as the 16-bit
    // samples they become; for raw files the file size.
    std::int64_t dataLength = 0;
    std::int64_t fileSize = 0;
    // A header was found; false means the raw defaults are in force.
    bool headerValid = false;
    WaveEncoding encoding = WaveEncoding::Pcm16;
    SoundReader reader = SoundReader::Wave;
    // The channels in the file, and the one or two of them held (0-based).
    std::uint16_t fileChannels = 1;
    std::uint16_t firstChannel = 0;
    std::uint16_t secondChannel = 1;
    // The container and encoding, for the information panel ("FLAC 24 bit").
    std::string formatText;
    // When the recording began, where the file says so.
    std::optional<RecordingTime> recorded;

    [[nodiscard]] WaveFormat format() const { return {channels, sampleRate, bitsPerSample}; }
    [[nodiscard]] SampleSource source() const {
        return {dataOffset, encoding, reader, fileChannels, firstChannel, secondChannel};
    }
    friend bool operator==(const WaveFileInfo&, const WaveFileInfo&) = default;
};

enum class WaveParseStatus {
    Header,             // a header was found
    Raw,                // raw defaults, message "File may not be PCM Wave Format"; goes on
    CannotOpenFile,     // the command ends
    SampleSizeTooSmall, // the open dialog again (a batch takes its next file)
    AdvancedFormat,     // the command ends
};

struct WaveParseResult {
    WaveParseStatus status = WaveParseStatus::CannotOpenFile;
    // Meaningful when goesOn().
    WaveFileInfo info;
    // To be shown before going on or ending the command.
    std::optional<UserMessage> message;
    // Set whenever the file could be opened, refused or not: the new lastFolder.
    std::optional<std::string> openedFolder;

    [[nodiscard]] bool goesOn() const {
        return status == WaveParseStatus::Header || status == WaveParseStatus::Raw;
    }
};

// Reads up to into.size() bytes from `offset` of the file into `into`; returns how many it
// got (fewer at the end of the file or on an error).
using WaveByteReader =
    std::function<std::size_t(std::int64_t offset, std::span<std::uint8_t> into)>;

// A reader over bytes in memory (which must outlive it); nothing past their end.
[[nodiscard]] WaveByteReader memoryByteReader(std::span<const std::uint8_t> bytes);

// Opens the file, checks its size and parses its header.
[[nodiscard]] WaveParseResult parseWaveHeader(const std::string& path);

// The parse itself, over a file of `fileSize` bytes that `read` gives. Only chunk headers
// and the format chunk are read, never past fileSize.
[[nodiscard]] WaveParseResult parseWaveHeaderFrom(const WaveByteReader& read,
                                                  std::int64_t fileSize);

// The same over bytes in memory: the start of a file of `fileSize` bytes, of which those
// beyond `bytes` cannot be read.
[[nodiscard]] WaveParseResult parseWaveHeaderBytes(std::span<const std::uint8_t> bytes,
                                                   std::int64_t fileSize);

// The drive and directory of a '/'-separated path, with its trailing '/'; empty when the
// path names no folder.
[[nodiscard]] std::string folderOfPath(const std::string& path);

} // namespace korv
