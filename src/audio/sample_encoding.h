#pragma once
// How a wave file stores its samples, and turning the wider encodings into the 16-bit
// samples the analysis and playback work on. 8- and 16-bit data is held as it stands.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace korv {

enum class WaveEncoding : std::uint8_t { Pcm8, Pcm16, Pcm24, Pcm32, Float32 };

// The memory `heldBytes` of held samples take: for encodings wider than 16 bits their exact
// values (a float for each 16-bit sample) as well.
[[nodiscard]] constexpr std::int64_t heldMemoryBytes(std::int64_t heldBytes, bool exactValues) {
    return exactValues ? heldBytes * 3 : heldBytes;
}

// Bytes per sample in the file.
[[nodiscard]] int encodingBytes(WaveEncoding encoding);
// The bytes `heldBytes` of held samples take in a file of this encoding (the wider encodings
// are held as 16-bit samples).
[[nodiscard]] std::int64_t encodedBytes(WaveEncoding encoding, std::int64_t heldBytes);
// Read by conversion to 16 bits rather than held as they stand.
[[nodiscard]] bool encodingConverted(WaveEncoding encoding);
// "8 bit", "24 bit", "32 bit float" ...
[[nodiscard]] std::string_view encodingText(WaveEncoding encoding);

// Which reader takes a file: the program's own wave reader, or libsndfile for every other
// container (and for the wave files the own reader refuses, such as more than two channels).
enum class SoundReader : std::uint8_t { Wave, SoundFile };

// Where a file's samples start and how they are stored: what reading a stretch of it needs
// beyond the format the store is to hold. The default takes the bytes as they stand.
struct SampleSource {
    std::int64_t dataOffset = 0;
    WaveEncoding encoding = WaveEncoding::Pcm16;
    SoundReader reader = SoundReader::Wave;
    // The file's channels and the one or two of them held (0-based), for the sound-file
    // reader; the wave reader holds its one or two channels as they are.
    std::uint16_t fileChannels = 1;
    std::uint16_t firstChannel = 0;
    std::uint16_t secondChannel = 1;
};

// The exact value of a wider sample in the units of a 16-bit sample (full scale 32768), as
// the analysis takes it. NaN becomes 0 and anything beyond +-PRECISE_SAMPLE_LIMIT (+96 dB
// over full scale, infinities included) is held there, so no level computation overflows.
inline constexpr float PRECISE_SAMPLE_LIMIT = 32768.0f * 65536.0f;
[[nodiscard]] float preciseSample(double value16);
// One sample of a converted encoding at `at` in those units.
[[nodiscard]] float sampleToPrecise(WaveEncoding encoding, const std::uint8_t* at);

// Full scale of a float sample: +-1.0 maps to +-32768 (clipped to 32767), the same scale
// as taking the top 16 bits of an integer sample, so a float file and its integer twin
// give the same values.
inline constexpr double FLOAT_SAMPLE_SCALE = 32768.0;

// One sample of a converted encoding at `at` (encodingBytes(encoding) bytes) as signed
// 16-bit: rounded to nearest (ties up) and clipped at full scale; a float NaN gives 0.
[[nodiscard]] std::int16_t sampleTo16(WaveEncoding encoding, const std::uint8_t* at);

// Converts whole samples of `from` into little-endian 16-bit samples in `into`; stops at
// whichever runs out first. Returns the samples written.
std::size_t convertSamplesTo16(WaveEncoding encoding, std::span<const std::uint8_t> from,
                               std::span<std::uint8_t> into);
// The same into exact values (sampleToPrecise).
std::size_t convertSamplesToPrecise(WaveEncoding encoding, std::span<const std::uint8_t> from,
                                    std::span<float> into);
// A precise value as the 16-bit sample a sound device plays: rounded, clipped at full scale.
[[nodiscard]] std::int16_t preciseTo16(float value16);

} // namespace korv
