#include "app/support/test_signals.h"

#include "core/wave_test_files.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korv::test {

namespace {

Bytes samplesOf(int bits, long frames, const FrameSignal& signal) {
    Bytes out;
    for (long i = 0; i < frames; ++i) {
        for (const double v : signal(i)) {
            const int s = static_cast<int>(std::lround(std::clamp(v, -32768.0, 32767.0)));
            if (bits == 8) {
                out.push_back(static_cast<std::uint8_t>((s >> 8) + 128));
                continue;
            }
            if (bits == 24) {
                out.push_back(0); // the 16-bit value in the top bytes, as a 24-bit export holds it
            }
            putLe16(out, static_cast<std::uint16_t>(s));
        }
    }
    return out;
}

QByteArray bytesOf(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

} // namespace

FrameSignal sines(std::vector<double> frequenciesHz, double rate, double amplitude) {
    return [frequenciesHz, rate, amplitude](long frame) {
        std::vector<double> v;
        for (const double f : frequenciesHz) {
            v.push_back(amplitude *
                        std::sin(2.0 * std::numbers::pi * f * static_cast<double>(frame) / rate));
        }
        return v;
    };
}

QByteArray waveFile(int rate, int channels, int bits, long frames, const FrameSignal& signal) {
    return bytesOf(pcmWaveFile(16, static_cast<std::uint16_t>(channels),
                               static_cast<std::uint32_t>(rate), static_cast<std::uint16_t>(bits),
                               samplesOf(bits, frames, signal)));
}

QByteArray rawSamples(long frames, const FrameSignal& signal) {
    return bytesOf(samplesOf(16, frames, signal));
}

} // namespace korv::test
