#pragma once
// Finding the format and the samples of a wave file from its first 8192 bytes. Only
// uncompressed PCM of 8 or 16 bits and 1 or 2 channels is taken; a file without a usable
// header is offered as raw 16-bit mono 11025 Hz samples.

#include "audio/user_message.h"
#include "audio/wave_header.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korv {

inline constexpr std::size_t WAVE_HEADER_READ_BYTES = 8192;
// The "fmt " id is searched for at offsets 0 to 511.
inline constexpr std::size_t WAVE_FMT_SEARCH_LIMIT = 512;
// A size field at or beyond this offset of the buffer ends the chunk walk.
inline constexpr std::size_t WAVE_CHUNK_WALK_LIMIT = 8184;
inline constexpr std::int64_t WAVE_MIN_FILE_SIZE = 2048;

inline const UserMessage kSampleSizeTooSmall{"Sample Size Too Small", MessageIcon::Stop};
inline const UserMessage kNotPcmWaveFormat{"File may not be PCM Wave Format", MessageIcon::Warning};
inline const UserMessage kAdvancedWaveFormat{"Advanced Wave Formats Cannot be Processed",
                                             MessageIcon::Warning};

struct WaveFileInfo {
    std::uint16_t channels = 1;
    std::int32_t sampleRate = 11025;
    std::uint16_t bitsPerSample = 16;
    // File offset of the first sample byte; 0 for raw files.
    std::int32_t dataOffset = 0;
    // Sample bytes: the "data" chunk's declared count, cut to what the file really holds
    // after dataOffset; for raw files the file size.
    std::int32_t dataLength = 0;
    // Files beyond 2 GiB are taken as their first 2^31 - 1 bytes.
    std::int32_t fileSize = 0;
    // A PCM header was found; false means the raw defaults are in force.
    bool headerValid = false;

    [[nodiscard]] WaveFormat format() const { return {channels, sampleRate, bitsPerSample}; }
    friend bool operator==(const WaveFileInfo&, const WaveFileInfo&) = default;
};

enum class WaveParseStatus {
    Header,             // a PCM header was found
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

// Opens the file, checks its size and parses its first 8192 bytes.
[[nodiscard]] WaveParseResult parseWaveHeader(const std::string& path);

// The parse itself over bytes already read (at most the first 8192 are looked at; fewer
// are taken as zero-padded) and the real file size. Never reads outside `head`.
[[nodiscard]] WaveParseResult parseWaveHeaderBytes(std::span<const std::uint8_t> head,
                                                   std::int64_t fileSize);

// The drive and directory of a '/'-separated path, with its trailing '/'; empty when the
// path names no folder.
[[nodiscard]] std::string folderOfPath(const std::string& path);

} // namespace korv
