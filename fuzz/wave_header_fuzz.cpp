// Feeds arbitrary bytes to the wave header parser as the first bytes of a file; the first
// eight input bytes choose the file size, so sizes below, at and far beyond the bytes read
// are all tried. Any read outside the buffer or broken invariant aborts.

#include "audio/wave_parser.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int64_t fileSize = static_cast<std::int64_t>(size);
    if (size >= 8) {
        std::uint64_t chosen = 0;
        std::memcpy(&chosen, data, sizeof chosen);
        fileSize = static_cast<std::int64_t>(chosen >> 1);
        data += 8;
        size -= 8;
    }
    const auto result = korv::parseWaveHeaderBytes(std::span(data, size), fileSize);
    if (result.status == korv::WaveParseStatus::Header) {
        const auto& info = result.info;
        const bool sane =
            (info.channels == 1 || info.channels == 2) &&
            (info.bitsPerSample == 8 || info.bitsPerSample == 16) && info.sampleRate > 0 &&
            info.dataOffset >= 0 &&
            info.dataOffset <= static_cast<std::int32_t>(korv::WAVE_HEADER_READ_BYTES) &&
            info.dataLength >= 0 &&
            std::int64_t{info.dataOffset} + info.dataLength <=
                std::max<std::int64_t>(info.fileSize, info.dataOffset);
        if (!sane) {
            std::abort();
        }
    }
    return 0;
}
