#pragma once
// The 46-byte RIFF/WAVE header (18-byte format chunk) in front of every stretch of samples
// the program holds or writes. All fields are little-endian.

#include <cstddef>
#include <cstdint>
#include <span>

namespace korv {

inline constexpr std::size_t WAVE_HEADER_SIZE = 46;
// RIFF size = data byte count + this.
inline constexpr std::uint32_t WAVE_RIFF_SIZE_OVERHEAD = 38;
inline constexpr std::uint32_t WAVE_FORMAT_CHUNK_SIZE = 18;
inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
// The 18 bytes of format description start here.
inline constexpr std::size_t WAVE_FORMAT_OFFSET = 20;

// PCM format: interleaved frames, left first; 8-bit unsigned (128 silence), 16-bit signed.
struct WaveFormat {
    std::uint16_t channels = 1;
    std::int32_t sampleRate = 11025;
    std::uint16_t bitsPerSample = 16;

    [[nodiscard]] int bytesPerSample() const { return bitsPerSample / 8; }
    [[nodiscard]] int bytesPerFrame() const { return channels * bitsPerSample / 8; }
    friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

using WaveHeaderBytes = std::span<std::uint8_t, WAVE_HEADER_SIZE>;
using ConstWaveHeaderBytes = std::span<const std::uint8_t, WAVE_HEADER_SIZE>;

// Writes the whole header: ids, sizes and format (byte rate and block align derived).
void buildWaveHeader(WaveHeaderBytes block, std::uint16_t channels, std::int32_t sampleRate,
                     std::uint16_t bitsPerSample, std::uint32_t dataBytes);
inline void buildWaveHeader(WaveHeaderBytes block, const WaveFormat& format,
                            std::uint32_t dataBytes) {
    buildWaveHeader(block, format.channels, format.sampleRate, format.bitsPerSample, dataBytes);
}

// Rewrites only the RIFF size and the data byte count (Save Wave, end of a recording).
void setWaveHeaderDataBytes(WaveHeaderBytes block, std::uint32_t dataBytes);
// Rewrites only the 18-byte format description at offset 20 (Parameters Restore).
void setWaveHeaderFormat(WaveHeaderBytes block, const WaveFormat& format);

// Reads back what a header built here holds.
[[nodiscard]] WaveFormat waveHeaderFormat(ConstWaveHeaderBytes block);
[[nodiscard]] std::uint16_t waveHeaderBlockAlign(ConstWaveHeaderBytes block);
[[nodiscard]] std::uint32_t waveHeaderDataBytes(ConstWaveHeaderBytes block);

} // namespace korv
