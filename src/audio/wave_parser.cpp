#include "audio/wave_parser.h"

#include "audio/wave_io.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace korv {

namespace {

using HeadBuffer = std::array<std::uint8_t, WAVE_HEADER_READ_BYTES>;

std::uint16_t get16(const HeadBuffer& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t get32(const HeadBuffer& b, std::size_t at) {
    return static_cast<std::uint32_t>(get16(b, at)) |
           (static_cast<std::uint32_t>(get16(b, at + 2)) << 16);
}

bool idAt(const HeadBuffer& b, std::size_t at, const char* id) {
    return std::memcmp(b.data() + at, id, 4) == 0;
}

WaveParseResult rawDefaults(std::int32_t fileSize) {
    WaveParseResult result;
    result.status = WaveParseStatus::Raw;
    result.info = WaveFileInfo{};
    result.info.dataOffset = 0;
    result.info.dataLength = fileSize;
    result.info.fileSize = fileSize;
    result.info.headerValid = false;
    result.message = kNotPcmWaveFormat;
    return result;
}

WaveParseResult refused(WaveParseStatus status, const UserMessage& message) {
    WaveParseResult result;
    result.status = status;
    result.message = message;
    return result;
}

std::optional<std::size_t> findFmtId(const HeadBuffer& b) {
    for (std::size_t at = 0; at < WAVE_FMT_SEARCH_LIMIT; ++at) {
        if (idAt(b, at, "fmt ")) {
            return at;
        }
    }
    return std::nullopt;
}

struct DataChunk {
    std::size_t offset = 0; // first sample byte
    std::uint32_t declaredBytes = 0;
};

// Chunk sizes are taken unsigned, so every step goes forward by at least 8 bytes and a
// huge or "negative" size simply leaves the buffer. Odd sizes get no pad byte.
std::optional<DataChunk> walkToData(const HeadBuffer& b, std::size_t fmtId) {
    std::size_t id = fmtId;
    while (true) {
        const std::size_t sizeField = id + 4;
        if (sizeField >= WAVE_CHUNK_WALK_LIMIT) {
            return std::nullopt;
        }
        const std::uint64_t next = std::uint64_t{sizeField} + 4 + get32(b, sizeField);
        // The next id and its size field must both lie in the bytes read.
        if (next + 8 > b.size()) {
            return std::nullopt;
        }
        id = static_cast<std::size_t>(next);
        if (idAt(b, id, "data")) {
            return DataChunk{id + 8, get32(b, id + 4)};
        }
    }
}

bool supportedPcm(std::uint16_t channels, std::int32_t sampleRate, std::uint16_t bits) {
    // Channel count 0, odd bit sizes and rates of 0 or less would make frame sizes and
    // durations meaningless (or divide by zero) further on, so they are refused as well.
    return (channels == 1 || channels == 2) && (bits == 8 || bits == 16) && sampleRate > 0;
}

} // namespace

WaveParseResult parseWaveHeaderBytes(std::span<const std::uint8_t> head, std::int64_t fileSize) {
    if (fileSize < WAVE_MIN_FILE_SIZE) {
        return refused(WaveParseStatus::SampleSizeTooSmall, kSampleSizeTooSmall);
    }
    const auto size32 = static_cast<std::int32_t>(
        std::min<std::int64_t>(fileSize, std::numeric_limits<std::int32_t>::max()));

    HeadBuffer b{};
    std::copy_n(head.begin(), std::min(head.size(), b.size()), b.begin());

    const auto fmtId = findFmtId(b);
    if (!fmtId) {
        return rawDefaults(size32);
    }
    const std::size_t fmtData = *fmtId + 8;
    if (static_cast<std::int16_t>(get16(b, fmtData)) != WAVE_FORMAT_PCM) {
        return refused(WaveParseStatus::AdvancedFormat, kAdvancedWaveFormat);
    }
    const auto data = walkToData(b, *fmtId);
    if (!data) {
        return rawDefaults(size32);
    }

    const std::uint16_t channels = get16(b, fmtData + 2);
    const auto sampleRate = static_cast<std::int32_t>(get32(b, fmtData + 4));
    const std::uint16_t bits = get16(b, fmtData + 14);
    if (!supportedPcm(channels, sampleRate, bits)) {
        return refused(WaveParseStatus::AdvancedFormat, kAdvancedWaveFormat);
    }

    WaveParseResult result;
    result.status = WaveParseStatus::Header;
    WaveFileInfo& info = result.info;
    info.channels = channels;
    info.sampleRate = sampleRate;
    info.bitsPerSample = bits;
    info.dataOffset = static_cast<std::int32_t>(data->offset);
    info.fileSize = size32;
    // A declared length beyond the end of the file (a cut-off recording, or a writer that
    // never filled it in) is cut to the bytes really there.
    const std::int64_t present = std::max<std::int64_t>(0, std::int64_t{size32} - info.dataOffset);
    info.dataLength =
        static_cast<std::int32_t>(std::min<std::int64_t>(data->declaredBytes, present));
    info.headerValid = true;
    return result;
}

WaveParseResult parseWaveHeader(const std::string& path) {
    PosixFile file = PosixFile::openForReading(path);
    if (!file.isOpen()) {
        return refused(WaveParseStatus::CannotOpenFile, kCannotOpenFile);
    }
    const std::string folder = folderOfPath(path);
    const std::int64_t size = file.size();
    WaveParseResult result;
    if (size < WAVE_MIN_FILE_SIZE) {
        result = refused(WaveParseStatus::SampleSizeTooSmall, kSampleSizeTooSmall);
    } else {
        HeadBuffer head{};
        const std::size_t got = file.readAt(0, head);
        result = parseWaveHeaderBytes(std::span(head).first(got), size);
    }
    result.openedFolder = folder;
    return result;
}

std::string folderOfPath(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash + 1);
}

} // namespace korv
