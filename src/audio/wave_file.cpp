#include "audio/wave_file.h"

#include "audio/wave_io.h"
#include "audio/wave_parser.h"

#include <algorithm>
#include <limits>

namespace korv {

namespace {

SegmentResult segmentFailure(const UserMessage& message, bool reloadSettings = false) {
    SegmentResult result;
    result.message = message;
    result.reloadSettings = reloadSettings;
    return result;
}

} // namespace

SegmentResult loadSegment(const std::string& path, std::int64_t start, std::int64_t length,
                          const WaveFormat& format, AllocationCounter& counter) {
    const PosixFile file = PosixFile::openForReading(path);
    if (!file.isOpen()) {
        return segmentFailure(kCannotOpenFile);
    }
    // The stretch must lie wholly in the file as it is now, whatever its header declared:
    // reading less would hand the analysis bytes that are not the file's.
    const std::int64_t fileSize = file.size();
    if (start < 0 || length < 0 || length > std::numeric_limits<std::int32_t>::max() ||
        fileSize < 0 || start > fileSize || length > fileSize - start) {
        return segmentFailure(kErrorReadingFile);
    }

    auto store = SampleStore::allocate(static_cast<std::size_t>(length), counter);
    if (!store) {
        return segmentFailure(kNotEnoughMemory, true);
    }
    if (file.readAt(start, store->samples()) != store->heldBytes()) {
        return segmentFailure(kErrorReadingFile);
    }
    buildWaveHeader(store->header(), format, static_cast<std::uint32_t>(length));
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
    }
    return result;
}

} // namespace korv
