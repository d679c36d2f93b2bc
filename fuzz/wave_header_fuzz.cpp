// Feeds arbitrary bytes to the wave header parser as the start of a file, through its
// in-memory reader; the first eight input bytes choose the file size, so sizes below, at
// and far beyond the bytes given are all tried. Any read outside the buffer or broken
// invariant aborts.

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
        // The samples as held, and the bytes they come from, lie inside the file.
        const std::int64_t width = korv::encodingBytes(info.encoding);
        const std::int64_t sourceBytes =
            korv::encodingConverted(info.encoding) ? info.dataLength / 2 * width : info.dataLength;
        const bool sane =
            (info.channels == 1 || info.channels == 2) &&
            (info.bitsPerSample == 8 || info.bitsPerSample == 16) &&
            (info.bitsPerSample == 8) == (info.encoding == korv::WaveEncoding::Pcm8) &&
            info.sampleRate > 0 && info.dataOffset >= 0 && info.dataLength >= 0 &&
            info.dataOffset <= info.fileSize &&
            std::int64_t{info.dataOffset} + sourceBytes <= info.fileSize;
        if (!sane) {
            std::abort();
        }
    }
    return 0;
}
