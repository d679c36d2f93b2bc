#include "audio/mpeg_frames.h"

#include <string>

namespace korv {

namespace {

// The length of the MPEG-1/2/2.5 Layer III frame whose header is at `h`; 0 when the four
// bytes are no such header.
std::int64_t mpegFrameBytes(const std::uint8_t* h) {
    constexpr std::array<int, 15> kBitrates1 = {0,   32,  40,  48,  56,  64,  80, 96,
                                                112, 128, 160, 192, 224, 256, 320};
    constexpr std::array<int, 15> kBitrates2 = {0,  8,  16, 24,  32,  40,  48, 56,
                                                64, 80, 96, 112, 128, 144, 160};
    constexpr std::array<int, 3> kRates1 = {44100, 48000, 32000};
    const int version = (h[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (h[1] >> 1) & 3;   // 1: Layer III
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || version == 1 || layer != 1 || bitrateIndex == 0 ||
        bitrateIndex == 15 || rateIndex == 3) {
        return 0;
    }
    const bool one = version == 3;
    const int rate = kRates1[static_cast<std::size_t>(rateIndex)] / (one            ? 1
                                                                     : version == 2 ? 2
                                                                                    : 4);
    const int kbps = (one ? kBitrates1 : kBitrates2)[static_cast<std::size_t>(bitrateIndex)];
    return (one ? 144 : 72) * 1000LL * kbps / rate + ((h[2] >> 1) & 1);
}

} // namespace

std::int64_t mpegFileSamples(const WaveByteReader& read, std::int64_t fileSize) {
    std::int64_t at = 0;
    std::int64_t samples = 0;
    std::array<std::uint8_t, 10> h{};
    while (at + 10 <= fileSize && read(at, h) == h.size()) {
        if (h[0] == 'I' && h[1] == 'D' && h[2] == '3') {
            // The tag's size: four 7-bit bytes, then 10 bytes of header (and 10 of footer).
            const std::int64_t size = (std::int64_t{h[6] & 0x7F} << 21) | ((h[7] & 0x7F) << 14) |
                                      ((h[8] & 0x7F) << 7) | (h[9] & 0x7F);
            at += 10 + size + ((h[5] & 0x10) != 0 ? 10 : 0);
            continue;
        }
        const std::int64_t length = mpegFrameBytes(h.data());
        if (length <= 4) {
            break;
        }
        samples += ((h[1] >> 3) & 3) == 3 ? 1152 : 576;
        at += length;
    }
    return samples;
}

bool twoMpegFrames(const WaveByteReader& read, const std::array<std::uint8_t, 12>& head) {
    const std::int64_t length = mpegFrameBytes(head.data());
    std::array<std::uint8_t, 4> next{};
    return length > 4 && read(length, next) == next.size() && mpegFrameBytes(next.data()) > 0;
}

UserMessage mpegCutMessage(std::int64_t decoded, std::int64_t walked, int rate) {
    const auto seconds = [rate](std::int64_t n) {
        const std::int64_t tenths = n * 10 / rate;
        return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
    };
    return {"MP3 decoder stops at " + seconds(decoded) + " of the " + seconds(walked) +
                " of frames in the file (files joined, or a variable rate without a length "
                "header); not read",
            MessageIcon::Warning};
}

} // namespace korv
