#include "audio/wave_parser.h"

#include "base/posix_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace korv {

namespace {

constexpr std::int64_t kChunkHeaderBytes = 8;
// The format chunk's bytes looked at: the 16 of plain PCM, the extension size, and the
// extensible part up to the end of its subformat GUID.
constexpr std::size_t kFormatBytes = 40;
constexpr std::uint32_t kExtensibleFormatSize = 40;
// The last 14 bytes of the subformat GUIDs of extensible PCM and float; the first two
// bytes hold the plain format tag.
constexpr std::array<std::uint8_t, 14> kSubformatGuidTail = {
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t get16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t get32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(get16(at)) |
           (static_cast<std::uint32_t>(get16(at + 2)) << 16);
}

bool idIs(const std::uint8_t* at, const char* id) {
    return std::memcmp(at, id, 4) == 0;
}

// Reads bounded by the file's size: a read that would pass the end, or comes back short,
// fails as a whole.
class FileView {
  public:
    FileView(const WaveByteReader& read, std::int64_t size) : read_(read), size_(size) {}

    [[nodiscard]] bool get(std::int64_t at, std::span<std::uint8_t> into) const {
        const auto n = static_cast<std::int64_t>(into.size());
        return at >= 0 && at <= size_ && n <= size_ - at && read_(at, into) == into.size();
    }
    // As many bytes as there are, the rest of `into` zero.
    void getZeroFilled(std::int64_t at, std::span<std::uint8_t> into) const {
        std::fill(into.begin(), into.end(), std::uint8_t{0});
        if (at < 0 || at >= size_) {
            return;
        }
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(into.size()), size_ - at));
        const std::size_t got = std::min(read_(at, into.first(n)), n);
        std::fill(into.begin() + static_cast<std::ptrdiff_t>(got), into.end(), std::uint8_t{0});
    }
    [[nodiscard]] std::int64_t size() const { return size_; }

  private:
    const WaveByteReader& read_;
    std::int64_t size_;
};

// How much the bytes at `at` look like a chunk id: 2 for "fmt " or "data", 1 for any other
// four printable characters, 0 otherwise.
int idLikeness(const FileView& file, std::int64_t at) {
    std::array<std::uint8_t, 4> id{};
    if (!file.get(at, id)) {
        return 0;
    }
    if (idIs(id.data(), "fmt ") || idIs(id.data(), "data")) {
        return 2;
    }
    const bool printable =
        std::all_of(id.begin(), id.end(), [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
    return printable ? 1 : 0;
}

// A chunk size that says nothing of the chunk's length.
constexpr std::uint32_t kSizeUnknown = 0xFFFFFFFFu;

struct DataChunk {
    std::int64_t offset = 0; // first sample byte
    std::uint32_t declaredBytes = 0;
};

struct ChunkPlaces {
    std::optional<std::int64_t> fmtId;
    std::uint32_t fmtSize = 0;
    std::optional<DataChunk> data;
};

// Walks the chunks from `first` until "fmt " and "data" are both found, the next chunk
// header does not lie wholly in the file, or WAVE_MAX_CHUNKS have been passed. Sizes are
// unsigned and positions 64-bit, so every step goes forward by at least 8 bytes. An odd
// size is followed by a pad byte; writers that leave it out are recognised by the next id
// making more sense without it.
ChunkPlaces walkChunks(const FileView& file, std::int64_t first) {
    ChunkPlaces found;
    std::int64_t at = first;
    for (int n = 0; n < WAVE_MAX_CHUNKS && !(found.fmtId && found.data); ++n) {
        std::array<std::uint8_t, kChunkHeaderBytes> header{};
        if (!file.get(at, header)) {
            break;
        }
        const std::uint32_t size = get32(header.data() + 4);
        if (!found.fmtId && idIs(header.data(), "fmt ")) {
            found.fmtId = at;
            found.fmtSize = size;
        } else if (!found.data && idIs(header.data(), "data")) {
            found.data = DataChunk{at + kChunkHeaderBytes, size};
        }
        std::int64_t next = at + kChunkHeaderBytes + size;
        if (size % 2 == 1 && idLikeness(file, next + 1) >= idLikeness(file, next)) {
            ++next;
        }
        at = next;
    }
    return found;
}

// A RIFF/WAVE file's chunk list starts at byte 12. Anything else, or a list in which no
// format chunk turns up, is searched for a "fmt " id in its first 512 bytes.
ChunkPlaces findChunks(const FileView& file) {
    std::array<std::uint8_t, WAVE_FMT_SEARCH_LIMIT + 3> head{};
    file.getZeroFilled(0, head);
    if (idIs(head.data(), "RIFF") && idIs(head.data() + 8, "WAVE")) {
        ChunkPlaces found = walkChunks(file, 12);
        if (found.fmtId) {
            return found;
        }
    }
    for (std::size_t at = 0; at < WAVE_FMT_SEARCH_LIMIT; ++at) {
        if (idIs(head.data() + at, "fmt ")) {
            return walkChunks(file, static_cast<std::int64_t>(at));
        }
    }
    return {};
}

// The encoding a format tag stands for (the plain tag inside an extensible format), or
// nothing for compressed and other formats.
std::optional<std::uint16_t> plainTag(const std::array<std::uint8_t, kFormatBytes>& fmt,
                                      std::uint32_t fmtSize) {
    std::uint16_t tag = get16(fmt.data());
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (fmtSize < kExtensibleFormatSize) {
            return std::nullopt;
        }
        if (!std::equal(kSubformatGuidTail.begin(), kSubformatGuidTail.end(), fmt.begin() + 26)) {
            return std::nullopt;
        }
        tag = get16(fmt.data() + 24);
    }
    if (tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT) {
        return tag;
    }
    return std::nullopt;
}

std::optional<WaveEncoding> encodingOf(std::uint16_t tag, std::uint16_t bits) {
    if (tag == WAVE_FORMAT_IEEE_FLOAT) {
        return bits == 32 ? std::optional(WaveEncoding::Float32) : std::nullopt;
    }
    switch (bits) {
    case 8:
        return WaveEncoding::Pcm8;
    case 16:
        return WaveEncoding::Pcm16;
    case 24:
        return WaveEncoding::Pcm24;
    case 32:
        return WaveEncoding::Pcm32;
    default:
        return std::nullopt;
    }
}

WaveParseResult rawDefaults(std::int64_t fileSize) {
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

} // namespace

WaveParseResult parseWaveHeaderFrom(const WaveByteReader& read, std::int64_t fileSize) {
    if (fileSize < WAVE_MIN_FILE_SIZE) {
        return refused(WaveParseStatus::SampleSizeTooSmall, kSampleSizeTooSmall);
    }
    const FileView file(read, fileSize);

    const ChunkPlaces chunks = findChunks(file);
    if (!chunks.fmtId) {
        return rawDefaults(fileSize);
    }
    std::array<std::uint8_t, kFormatBytes> fmt{};
    file.getZeroFilled(*chunks.fmtId + kChunkHeaderBytes, fmt);
    const auto tag = plainTag(fmt, chunks.fmtSize);
    if (!tag) {
        return refused(WaveParseStatus::AdvancedFormat, kAdvancedWaveFormat);
    }
    if (!chunks.data) {
        return rawDefaults(fileSize);
    }

    // Channel count 0, rates of 0 or less (or past any the program reads) and bit sizes other
    // than the four read would make frame sizes and durations meaningless further on.
    const std::uint16_t channels = get16(fmt.data() + 2);
    const auto sampleRate = static_cast<std::int32_t>(get32(fmt.data() + 4));
    const auto encoding = encodingOf(*tag, get16(fmt.data() + 14));
    if (!encoding || (channels != 1 && channels != 2) || sampleRate <= 0 ||
        sampleRate > MAX_FILE_SAMPLE_RATE) {
        return refused(WaveParseStatus::AdvancedFormat, kAdvancedWaveFormat);
    }

    WaveParseResult result;
    result.status = WaveParseStatus::Header;
    WaveFileInfo& info = result.info;
    info.channels = channels;
    info.fileChannels = channels;
    info.secondChannel = channels == 2 ? 1 : 0; // a mono file's one channel stands for both
    info.sampleRate = sampleRate;
    info.encoding = *encoding;
    info.bitsPerSample = *encoding == WaveEncoding::Pcm8 ? 8 : 16;
    info.dataOffset = chunks.data->offset;
    info.fileSize = fileSize;
    // A declared length beyond the end of the file (a cut-off recording, or a writer that
    // never filled it in) is cut to the bytes really there.
    const std::int64_t present = std::max<std::int64_t>(0, fileSize - info.dataOffset);
    // A size of 0xFFFFFFFF is what writers of files past 4 GiB without RF64 (ffmpeg) put
    // there: the data runs to the end of the file.
    const std::int64_t bytes = chunks.data->declaredBytes == kSizeUnknown
                                   ? present
                                   : std::min<std::int64_t>(chunks.data->declaredBytes, present);
    info.dataLength = encodingConverted(*encoding) ? bytes / encodingBytes(*encoding) * 2 : bytes;
    info.headerValid = true;
    return result;
}

WaveByteReader memoryByteReader(std::span<const std::uint8_t> bytes) {
    return [bytes](std::int64_t offset, std::span<std::uint8_t> into) {
        if (offset < 0 || static_cast<std::uint64_t>(offset) >= bytes.size()) {
            return std::size_t{0};
        }
        const auto from = bytes.subspan(static_cast<std::size_t>(offset));
        const std::size_t n = std::min(from.size(), into.size());
        std::copy_n(from.begin(), n, into.begin());
        return n;
    };
}

WaveParseResult parseWaveHeaderBytes(std::span<const std::uint8_t> bytes, std::int64_t fileSize) {
    return parseWaveHeaderFrom(memoryByteReader(bytes), fileSize);
}

WaveParseResult parseWaveHeader(const std::string& path) {
    const PosixFile file = PosixFile::openForReading(path);
    if (!file.isOpen()) {
        return refused(WaveParseStatus::CannotOpenFile, kCannotOpenFile);
    }
    WaveParseResult result = parseWaveHeaderFrom(
        [&file](std::int64_t offset, std::span<std::uint8_t> into) {
            return file.readAt(offset, into);
        },
        file.size());
    result.openedFolder = folderOfPath(path);
    return result;
}

std::string folderOfPath(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash + 1);
}

} // namespace korv
