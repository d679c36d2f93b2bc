#include "app/support/test_signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korv::test {

namespace {

void put16(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void put32(QByteArray& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

void appendSamples(QByteArray& out, int bits, long frames, const FrameSignal& signal) {
    for (long i = 0; i < frames; ++i) {
        for (const double v : signal(i)) {
            const int s = static_cast<int>(std::lround(std::clamp(v, -32768.0, 32767.0)));
            if (bits == 8) {
                out.append(static_cast<char>((s >> 8) + 128));
            } else if (bits == 24) {
                // The 16-bit value in the top bytes, as a 24-bit export of it holds it.
                out.append('\0');
                put16(out, s);
            } else {
                put16(out, s);
            }
        }
    }
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
    const auto blockAlign = static_cast<std::uint32_t>(channels * bits / 8);
    const auto dataBytes = static_cast<std::uint32_t>(frames) * blockAlign;
    QByteArray out;
    out.append("RIFF");
    put32(out, 36 + dataBytes);
    out.append("WAVEfmt ");
    put32(out, 16);
    put16(out, 1);
    put16(out, channels);
    put32(out, static_cast<std::uint32_t>(rate));
    put32(out, static_cast<std::uint32_t>(rate) * blockAlign);
    put16(out, static_cast<int>(blockAlign));
    put16(out, bits);
    out.append("data");
    put32(out, dataBytes);
    appendSamples(out, bits, frames, signal);
    return out;
}

QByteArray rawSamples(long frames, const FrameSignal& signal) {
    QByteArray out;
    appendSamples(out, 16, frames, signal);
    return out;
}

} // namespace korv::test
