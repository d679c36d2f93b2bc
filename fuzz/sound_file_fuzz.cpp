// Feeds arbitrary bytes, as a whole file, to the one file-opening decision (the wave reader or
// libsndfile) and, when a format is found, reads the first frames through the sound-file
// reader as loadSegment would. Any read outside the buffer or broken invariant aborts.

#include "audio/sound_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes = std::span(data, size);
    const auto result = korv::openSoundFileBytes(bytes);
    if (result.status != korv::WaveParseStatus::Header) {
        return 0;
    }
    const auto& info = result.info;
    const bool sane = (info.channels == 1 || info.channels == 2) && info.fileChannels >= 1 &&
                      info.fileChannels <= korv::MAX_FILE_CHANNELS &&
                      info.firstChannel < info.fileChannels &&
                      info.secondChannel < info.fileChannels && info.sampleRate > 0 &&
                      info.sampleRate <= korv::MAX_FILE_SAMPLE_RATE && info.dataLength >= 0 &&
                      info.dataOffset >= 0 && info.fileSize == static_cast<std::int64_t>(size);
    if (!sane) {
        std::abort();
    }
    if (info.recorded) {
        // Any start the metadata gives stays within the years the texts can name.
        const auto start = korv::recordingTimeText(*info.recorded, info.sampleRate);
        const auto later = korv::isoTimeText(*info.recorded, info.dataLength, info.sampleRate);
        if (start.size() > 19 || (later && later->size() > 29)) {
            std::abort();
        }
    }
    if (info.reader != korv::SoundReader::SoundFile) {
        return 0;
    }
    // At most 4096 frames of what the header declares.
    const std::int64_t frameBytes = 2 * std::int64_t{info.channels};
    const auto frames =
        static_cast<std::size_t>(std::min<std::int64_t>(info.dataLength / frameBytes, 4096));
    std::vector<std::uint8_t> held(frames * static_cast<std::size_t>(frameBytes));
    std::vector<float> precise(frames * info.channels);
    const korv::WaveByteReader read = korv::memoryByteReader(bytes);
    if (korv::readSoundFileFrames(read, static_cast<std::int64_t>(size), info.source(),
                                  info.channels, 0, held, precise)) {
        for (const float v : precise) {
            if (!(v >= -korv::PRECISE_SAMPLE_LIMIT && v <= korv::PRECISE_SAMPLE_LIMIT)) {
                std::abort();
            }
        }
    }
    return 0;
}
