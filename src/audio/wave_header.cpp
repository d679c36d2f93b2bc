#include "audio/wave_header.h"

#include <cstring>

namespace korv {

namespace {

void put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFFu);
    at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFFu);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    put16(at, value & 0xFFFFu);
    put16(at + 2, value >> 16);
}

std::uint16_t get16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t get32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(get16(at)) |
           (static_cast<std::uint32_t>(get16(at + 2)) << 16);
}

void putId(std::uint8_t* at, const char* id) {
    std::memcpy(at, id, 4);
}

} // namespace

void buildWaveHeader(WaveHeaderBytes block, std::uint16_t channels, std::int32_t sampleRate,
                     std::uint16_t bitsPerSample, std::uint32_t dataBytes) {
    std::uint8_t* h = block.data();
    putId(h, "RIFF");
    putId(h + 8, "WAVE");
    putId(h + 12, "fmt ");
    put32(h + 16, WAVE_FORMAT_CHUNK_SIZE);
    setWaveHeaderFormat(block, WaveFormat{channels, sampleRate, bitsPerSample});
    putId(h + 38, "data");
    setWaveHeaderDataBytes(block, dataBytes);
}

void setWaveHeaderDataBytes(WaveHeaderBytes block, std::uint32_t dataBytes) {
    put32(block.data() + 4, dataBytes + WAVE_RIFF_SIZE_OVERHEAD);
    put32(block.data() + 42, dataBytes);
}

void setWaveHeaderFormat(WaveHeaderBytes block, const WaveFormat& format) {
    std::uint8_t* f = block.data() + WAVE_FORMAT_OFFSET;
    const auto bytesPerSample = static_cast<std::uint32_t>(format.bytesPerSample());
    const auto rate = static_cast<std::uint32_t>(format.sampleRate);
    put16(f, WAVE_FORMAT_PCM);
    put16(f + 2, format.channels);
    put32(f + 4, rate);
    put32(f + 8, rate * bytesPerSample * format.channels);
    put16(f + 12, bytesPerSample * format.channels);
    put16(f + 14, format.bitsPerSample);
    put16(f + 16, 0);
}

WaveFormat waveHeaderFormat(ConstWaveHeaderBytes block) {
    const std::uint8_t* f = block.data() + WAVE_FORMAT_OFFSET;
    return WaveFormat{get16(f + 2), static_cast<std::int32_t>(get32(f + 4)), get16(f + 14)};
}

std::uint16_t waveHeaderBlockAlign(ConstWaveHeaderBytes block) {
    return get16(block.data() + WAVE_FORMAT_OFFSET + 12);
}

std::uint32_t waveHeaderDataBytes(ConstWaveHeaderBytes block) {
    return get32(block.data() + 42);
}

} // namespace korv
