#include "audio/wave_file.h"

#include "audio/held_samples.h"
#include "audio/wave_parser.h"
#include "base/posix_file.h"

#include <algorithm>
#include <array>
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

} // namespace

SegmentResult loadSegment(const std::string& path, std::int64_t start, std::int64_t length,
                          const WaveFormat& format, AllocationCounter& counter,
                          const SampleSource& source) {
    HeldSampleReader reader;
    if (const auto failure = reader.open(path, format, source, start, length)) {
        return segmentFailure(*failure);
    }
    auto store = SampleStore::allocate(static_cast<std::size_t>(length), counter);
    // Samples wider than 16 bits keep their exact values for the analysis.
    if (!store || (encodingConverted(source.encoding) && !store->allocatePrecise())) {
        return segmentFailure(kNotEnoughMemory, true);
    }
    if (!reader.read(start, store->samples(), store->precise())) {
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

namespace {

// Copies the segment's held bytes after the header, a block at a time: what failed, if any.
std::optional<UserMessage> copySegment(const PosixFile& file, const FileSegment& segment,
                                       std::uint32_t n) {
    HeldSampleReader reader;
    if (reader.open(segment.path, segment.format, segment.source, segment.startByte,
                    segment.bytes)) {
        return kErrorReadingFile;
    }
    const std::int64_t frame = segment.format.bytesPerFrame();
    const std::int64_t block = std::max<std::int64_t>(frame, COLUMN_WINDOW_BYTES / frame * frame);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(block));
    std::vector<float> precise(bytes.size() / 2);
    for (std::int64_t at = 0; at < n;) {
        const auto size = static_cast<std::size_t>(std::min<std::int64_t>(block, n - at));
        const auto into = std::span(bytes).first(size);
        if (!reader.read(segment.startByte + at, into, precise)) {
            return kErrorReadingFile;
        }
        if (file.write(into) != into.size()) {
            return kErrorWritingFile;
        }
        at += static_cast<std::int64_t>(size);
    }
    return std::nullopt;
}

} // namespace

SaveWaveResult saveWaveFile(const std::string& path, const FileSegment& segment) {
    SaveWaveResult result;
    const PosixFile file = PosixFile::createForWriting(path);
    if (!file.isOpen()) {
        result.message = kCannotOpenFile;
        return result;
    }
    result.openedFolder = folderOfPath(path);
    const std::int64_t frame = std::max(segment.format.bytesPerFrame(), 1);
    const std::int64_t held = std::min<std::int64_t>(
        segment.bytes, std::numeric_limits<std::uint32_t>::max() - WAVE_RIFF_SIZE_OVERHEAD);
    const auto n = static_cast<std::uint32_t>(held - held % frame);
    std::array<std::uint8_t, WAVE_HEADER_SIZE> header{};
    buildWaveHeader(WaveHeaderBytes(header), segment.format, n);
    result.dataBytes = n;
    result.message = file.write(header) != header.size() ? std::optional(kErrorWritingFile)
                                                         : copySegment(file, segment, n);
    if (result.message) {
        // Written whole or not at all.
        removeIfRegularFile(path);
    }
    return result;
}

} // namespace korv
