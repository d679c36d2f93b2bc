#pragma once
// Wave files for the program tests, put together by the file tests' own assembler (a plain
// 44-byte RIFF header), so the program's own writer is not what the tests read back.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace korv::test {

// One value per channel for frame i (already scaled to the sample range of 16 bits).
using FrameSignal = std::function<std::vector<double>(long frame)>;

// A sine per channel, amplitude in 16-bit units.
[[nodiscard]] FrameSignal sines(std::vector<double> frequenciesHz, double rate,
                                double amplitude = 16000.0);

// The bytes of a PCM wave file: 16-bit, 8-bit (offset binary) or 24-bit samples.
[[nodiscard]] QByteArray waveFile(int rate, int channels, int bits, long frames,
                                  const FrameSignal& signal);
// Samples alone, without a header (raw 16-bit little-endian).
[[nodiscard]] QByteArray rawSamples(long frames, const FrameSignal& signal);

} // namespace korv::test
