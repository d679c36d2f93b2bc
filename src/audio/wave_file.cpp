#include "audio/wave_file.h"

#include "audio/sound_file.h"
#include "audio/wave_io.h"
#include "audio/wave_parser.h"

#include <algorithm>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korv {

namespace {

// Never a device or a pipe: /dev/full stays where it is.
void removeIfRegularFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        ::unlink(path.c_str());
    }
}

SegmentResult segmentFailure(const UserMessage& message, bool reloadSettings = false) {
    SegmentResult result;
    result.message = message;
    result.reloadSettings = reloadSettings;
    return result;
}

// Source bytes converted per block: a multiple of 3 and 4 bytes.
constexpr std::size_t kConvertBlockBytes = 3 * 4 * 4096;

// The stretch of the file that holds the samples asked for, or nothing when it does not
// lie in the data the way the store would hold it.
struct FileStretch {
    std::int64_t start = 0;
    std::int64_t length = 0;
};

std::optional<FileStretch> fileStretch(std::int64_t start, std::int64_t length,
                                       const WaveFormat& format, const SampleSource& source) {
    if (source.reader == SoundReader::SoundFile) {
        // Held frames, not file bytes: libsndfile finds them.
        return FileStretch{0, 0};
    }
    if (!encodingConverted(source.encoding)) {
        return FileStretch{start, length};
    }
    const std::int64_t held = start - source.dataOffset;
    if (format.bitsPerSample != 16 || held < 0 || held % 2 != 0 || length % 2 != 0) {
        return std::nullopt;
    }
    const std::int64_t width = encodingBytes(source.encoding);
    return FileStretch{source.dataOffset + held / 2 * width, length / 2 * width};
}

bool readConverted(const PosixFile& file, const FileStretch& stretch, WaveEncoding encoding,
                   std::span<std::uint8_t> into, std::span<float> precise) {
    std::vector<std::uint8_t> block(kConvertBlockBytes);
    std::int64_t at = stretch.start;
    std::int64_t left = stretch.length;
    while (left > 0) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
        const auto from = std::span(block).first(n);
        if (file.readAt(at, from) != n) {
            return false;
        }
        const std::size_t samples = convertSamplesTo16(encoding, from, into);
        into = into.subspan(samples * 2);
        precise = precise.subspan(convertSamplesToPrecise(encoding, from, precise));
        at += static_cast<std::int64_t>(n);
        left -= static_cast<std::int64_t>(n);
    }
    return true;
}

bool readSoundFile(const PosixFile& file, std::int64_t start, const WaveFormat& format,
                   const SampleSource& source, SampleStore& store) {
    const std::int64_t frameBytes = 2 * std::int64_t{format.channels};
    if (format.bitsPerSample != 16 || start % frameBytes != 0) {
        return false;
    }
    const auto samples = store.samples();
    const auto whole =
        static_cast<std::size_t>(samples.size() / static_cast<std::size_t>(frameBytes) *
                                 static_cast<std::size_t>(frameBytes));
    return readSoundFileFrames(
        [&file](std::int64_t offset, std::span<std::uint8_t> into) {
            return file.readAt(offset, into);
        },
        file.size(), source, format.channels, start / frameBytes, samples.first(whole),
        store.precise());
}

} // namespace

SegmentResult loadSegment(const std::string& path, std::int64_t start, std::int64_t length,
                          const WaveFormat& format, AllocationCounter& counter,
                          const SampleSource& source) {
    const PosixFile file = PosixFile::openForReading(path);
    if (!file.isOpen()) {
        return segmentFailure(kCannotOpenFile);
    }
    // The stretch must lie wholly in the file as it is now, whatever its header declared:
    // reading less would hand the analysis bytes that are not the file's.
    const std::int64_t fileSize = file.size();
    if (start < 0 || length < 0) {
        return segmentFailure(kErrorReadingFile);
    }
    const auto stretch = fileStretch(start, length, format, source);
    if (!stretch || fileSize < 0 || stretch->start > fileSize ||
        stretch->length > fileSize - stretch->start) {
        return segmentFailure(kErrorReadingFile);
    }

    auto store = SampleStore::allocate(static_cast<std::size_t>(length), counter);
    // Samples wider than 16 bits keep their exact values for the analysis.
    if (!store || (encodingConverted(source.encoding) && !store->allocatePrecise())) {
        return segmentFailure(kNotEnoughMemory, true);
    }
    bool read = false;
    if (source.reader == SoundReader::SoundFile) {
        read = readSoundFile(file, start, format, source, *store);
    } else if (encodingConverted(source.encoding)) {
        read = readConverted(file, *stretch, source.encoding, store->samples(), store->precise());
    } else {
        read = file.readAt(start, store->samples()) == store->heldBytes();
    }
    if (!read) {
        return segmentFailure(kErrorReadingFile);
    }
    // A stretch beyond 4 GiB cannot be described by the header's 32-bit size; the header then
    // says as much as it can and the samples are all held.
    buildWaveHeader(store->header(), format,
                    static_cast<std::uint32_t>(std::min<std::int64_t>(
                        length, std::numeric_limits<std::uint32_t>::max() -
                                    static_cast<std::int64_t>(WAVE_RIFF_SIZE_OVERHEAD))));
    store->setWaveDataAvailable(true);

    SegmentResult result;
    result.store = std::move(store);
    return result;
}

SaveWaveResult saveWaveFile(const std::string& path, SampleStore& store) {
    SaveWaveResult result;
    if (!store.waveDataAvailable()) {
        return result;
    }
    const PosixFile file = PosixFile::createForWriting(path);
    if (!file.isOpen()) {
        result.message = kCannotOpenFile;
        return result;
    }
    result.openedFolder = folderOfPath(path);

    // The RIFF size field must still hold n + 38.
    const std::size_t held = std::min<std::size_t>(
        store.heldBytes(), std::numeric_limits<std::uint32_t>::max() - WAVE_RIFF_SIZE_OVERHEAD);
    const std::size_t blockAlign = waveHeaderBlockAlign(store.header());
    // A header without a frame size (never built by us) leaves the bytes as they are.
    const auto n = static_cast<std::uint32_t>(blockAlign == 0 ? held : held - held % blockAlign);
    setWaveHeaderDataBytes(store.header(), n);
    result.dataBytes = n;

    const auto bytes = store.block().first(WAVE_HEADER_SIZE + n);
    if (file.write(bytes) != bytes.size()) {
        result.message = kErrorWritingFile;
        // Written whole or not at all: a torn wave file would pass for a short recording.
        removeIfRegularFile(path);
    }
    return result;
}

} // namespace korv
