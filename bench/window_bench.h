#pragma once
// What the benchmarks of the real window share: a mono 16-bit wave file written with the
// program's own header, and a main that runs them under Qt's offscreen platform.

#include "audio/wave_header.h"

#include <QApplication>
#include <QByteArray>
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <span>

namespace korv::bench {

// The bytes of a mono 16-bit wave file at `rate` holding `samples` (little-endian samples).
inline QByteArray monoWaveFile(std::int32_t rate, std::span<const std::uint8_t> samples) {
    std::array<std::uint8_t, WAVE_HEADER_SIZE> header{};
    buildWaveHeader(header, 1, rate, 16, static_cast<std::uint32_t>(samples.size()));
    QByteArray b(reinterpret_cast<const char*>(header.data()),
                 static_cast<qsizetype>(header.size()));
    b.append(reinterpret_cast<const char*>(samples.data()), static_cast<qsizetype>(samples.size()));
    return b;
}

inline int runWindowBenchmarks(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace korv::bench
