#include "audio/sample_encoding.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace korv {

namespace {

std::uint32_t le32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// value / 2^shift rounded to nearest, ties up, clipped to 16 bits.
std::int16_t narrowed(std::int64_t value, int shift) {
    const std::int64_t rounded = (value + (std::int64_t{1} << (shift - 1))) >> shift;
    return static_cast<std::int16_t>(rounded > INT16_MAX ? INT16_MAX : rounded);
}

std::int16_t fromFloat(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    const double scaled = static_cast<double>(value) * FLOAT_SAMPLE_SCALE;
    if (scaled >= INT16_MAX) {
        return INT16_MAX;
    }
    if (scaled <= INT16_MIN) {
        return INT16_MIN;
    }
    return static_cast<std::int16_t>(std::floor(scaled + 0.5));
}

} // namespace

std::int64_t encodedBytes(WaveEncoding encoding, std::int64_t heldBytes) {
    if (!encodingConverted(encoding)) {
        return heldBytes;
    }
    return heldBytes / 2 * encodingBytes(encoding);
}

int encodingBytes(WaveEncoding encoding) {
    switch (encoding) {
    case WaveEncoding::Pcm8:
        return 1;
    case WaveEncoding::Pcm16:
        return 2;
    case WaveEncoding::Pcm24:
        return 3;
    case WaveEncoding::Pcm32:
    case WaveEncoding::Float32:
    default:
        return 4;
    }
}

bool encodingConverted(WaveEncoding encoding) {
    return encodingBytes(encoding) > 2;
}

std::string_view encodingText(WaveEncoding encoding) {
    switch (encoding) {
    case WaveEncoding::Pcm8:
        return "8 bit";
    case WaveEncoding::Pcm16:
        return "16 bit";
    case WaveEncoding::Pcm24:
        return "24 bit";
    case WaveEncoding::Pcm32:
        return "32 bit";
    case WaveEncoding::Float32:
    default:
        return "32 bit float";
    }
}

std::int16_t sampleTo16(WaveEncoding encoding, const std::uint8_t* at) {
    switch (encoding) {
    case WaveEncoding::Pcm8:
        return static_cast<std::int16_t>((at[0] - 128) * 256);
    case WaveEncoding::Pcm16:
        return static_cast<std::int16_t>(at[0] | (at[1] << 8));
    case WaveEncoding::Pcm24: {
        // The three bytes in the top of a 32-bit word keep the sign.
        const auto word = static_cast<std::int32_t>((static_cast<std::uint32_t>(at[0]) << 8) |
                                                    (static_cast<std::uint32_t>(at[1]) << 16) |
                                                    (static_cast<std::uint32_t>(at[2]) << 24));
        return narrowed(word / 256, 8);
    }
    case WaveEncoding::Pcm32:
        return narrowed(static_cast<std::int32_t>(le32(at)), 16);
    case WaveEncoding::Float32:
    default:
        return fromFloat(std::bit_cast<float>(le32(at)));
    }
}

float preciseSample(double value16) {
    if (std::isnan(value16)) {
        return 0.0f;
    }
    const double limit = PRECISE_SAMPLE_LIMIT;
    return static_cast<float>(std::clamp(value16, -limit, limit));
}

float sampleToPrecise(WaveEncoding encoding, const std::uint8_t* at) {
    switch (encoding) {
    case WaveEncoding::Pcm8:
    case WaveEncoding::Pcm16:
        return sampleTo16(encoding, at);
    case WaveEncoding::Pcm24: {
        const auto word = static_cast<std::int32_t>((static_cast<std::uint32_t>(at[0]) << 8) |
                                                    (static_cast<std::uint32_t>(at[1]) << 16) |
                                                    (static_cast<std::uint32_t>(at[2]) << 24));
        return static_cast<float>(word / 256) / 256.0f; // 24 bits fit a float exactly
    }
    case WaveEncoding::Pcm32:
        return static_cast<float>(static_cast<std::int32_t>(le32(at)) / 65536.0);
    case WaveEncoding::Float32:
    default:
        return preciseSample(static_cast<double>(std::bit_cast<float>(le32(at))) *
                             FLOAT_SAMPLE_SCALE);
    }
}

std::int16_t preciseTo16(float value16) {
    if (std::isnan(value16)) {
        return 0;
    }
    if (value16 >= INT16_MAX) {
        return INT16_MAX;
    }
    if (value16 <= INT16_MIN) {
        return INT16_MIN;
    }
    return static_cast<std::int16_t>(std::floor(static_cast<double>(value16) + 0.5));
}

std::size_t convertSamplesToPrecise(WaveEncoding encoding, std::span<const std::uint8_t> from,
                                    std::span<float> into) {
    const auto width = static_cast<std::size_t>(encodingBytes(encoding));
    const std::size_t count = std::min(from.size() / width, into.size());
    for (std::size_t i = 0; i < count; ++i) {
        into[i] = sampleToPrecise(encoding, from.data() + i * width);
    }
    return count;
}

std::size_t convertSamplesTo16(WaveEncoding encoding, std::span<const std::uint8_t> from,
                               std::span<std::uint8_t> into) {
    const auto width = static_cast<std::size_t>(encodingBytes(encoding));
    const std::size_t count = std::min(from.size() / width, into.size() / 2);
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = static_cast<std::uint16_t>(sampleTo16(encoding, from.data() + i * width));
        into[2 * i] = static_cast<std::uint8_t>(v & 0xFFu);
        into[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    return count;
}

} // namespace korv
