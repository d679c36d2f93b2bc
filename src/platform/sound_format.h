#pragma once

#include <cstdint>

namespace korv {

// A PCM sound format: 8-bit unsigned or 16-bit signed little-endian samples, interleaved.
struct PcmFormat {
    int sampleRate = 11025;
    int channels = 1;       // 1 or 2
    int bitsPerSample = 16; // 8 or 16

    [[nodiscard]] constexpr int bytesPerSample() const { return bitsPerSample / 8; }
    [[nodiscard]] constexpr int blockAlign() const { return channels * bytesPerSample(); }
    [[nodiscard]] constexpr int bytesPerSecond() const { return sampleRate * blockAlign(); }
    // The devices take what the program can produce: 1 or 2 channels of 8 or 16 bits at a
    // positive rate.
    [[nodiscard]] constexpr bool isValid() const {
        return sampleRate > 0 && sampleRate <= 384000 && (channels == 1 || channels == 2) &&
               (bitsPerSample == 8 || bitsPerSample == 16);
    }
};

// Result of a device operation. The program turns a failure into its own message.
enum class [[nodiscard]] SoundResult{
    Ok,
    OpenFailed,    // no device, or the format was refused
    PrepareFailed, // the buffer cannot be used (empty, bad loop count, wrong state, queue full)
    WriteFailed,   // playing or capturing could not start
};

// Silence for the format's samples: 128 for unsigned 8-bit, 0 for 16-bit.
[[nodiscard]] constexpr std::uint8_t silenceByte(const PcmFormat& format) {
    return format.bitsPerSample == 8 ? std::uint8_t{128} : std::uint8_t{0};
}

} // namespace korv
