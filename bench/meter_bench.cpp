// korvanthile-cli meter --bands 3 over a 10-minute 48 kHz 16-bit mono file (A, F, 1-s rows,
// the 30 third-octave bands 25 Hz .. 20 kHz), on one core (/1) and on two (/2: the bands on a
// side thread, as the tool runs a file alone): the whole command's work for one file, the file
// read block by block and the table written. Reports wall seconds, the ratio to real time and
// the process's peak memory. scripts/meter-vs-scipy times the executable against the
// naive scipy way of the same work.

#include "cli/cli_meter.h"
#include "cli/cli_options.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace korv;

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr std::uint32_t kSeconds = 600;

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void putLe(std::ofstream& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.put(static_cast<char>((v >> (8 * i)) & 0xFFu));
    }
}

// Noise falling 3 dB an octave (a sum of lowpasses) and a 1 kHz tone: every band busy.
std::string writeSignal(const std::string& folder) {
    const std::string path = folder + "/survey.wav";
    std::ofstream out(path, std::ios::binary);
    const std::uint32_t frames = kRate * kSeconds;
    out.write("RIFF", 4);
    putLe(out, 36 + frames * 2, 4);
    out.write("WAVEfmt ", 8);
    putLe(out, 16, 4);
    putLe(out, 1, 2);
    putLe(out, 1, 2);
    putLe(out, kRate, 4);
    putLe(out, kRate * 2, 4);
    putLe(out, 2, 2);
    putLe(out, 16, 2);
    out.write("data", 4);
    putLe(out, frames * 2, 4);
    std::mt19937 gen(5);
    std::normal_distribution<double> white(0.0, 1.0);
    double b0 = 0.0, b1 = 0.0, b2 = 0.0;
    std::vector<char> block;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double w = white(gen);
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        const double tone = 0.05 * std::sin(2.0 * 3.141592653589793 * 1000.0 * i / kRate);
        const double v = std::clamp((b0 + b1 + b2 + w * 0.1848) * 0.03 + tone, -1.0, 1.0);
        const auto s = static_cast<std::int16_t>(std::lround(v * 32767.0));
        block.push_back(static_cast<char>(s & 0xFF));
        block.push_back(static_cast<char>((s >> 8) & 0xFF));
        if (block.size() == 1 << 16 || i + 1 == frames) { // the signal never held whole
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            block.clear();
        }
    }
    return path;
}

void BM_MeterThirdOctaves(benchmark::State& state) {
    const std::string folder =
        (std::filesystem::temp_directory_path() / "korv-meter-bench").string();
    std::filesystem::create_directories(folder);
    const std::string file = writeSignal(folder);
    std::vector<std::string> words{"korvanthile-cli", "meter", file, "--bands", "3", "-o", folder};
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    const cli::Options options =
        *cli::parseCommandLine(static_cast<int>(argv.size()), argv.data()).options;
    const cli::RunSettings run{};
    double seconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        cli::JobShare share;
        share.twoCores = state.range(0) == 2;
        const auto failure = cli::writeMeterTable(options, run, file, nullptr, share);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (failure) {
            state.SkipWithError(failure->c_str());
            break;
        }
    }
    state.counters["seconds"] = seconds;
    state.counters["x_real_time"] = kSeconds / seconds;
    state.counters["peak_MiB"] = peakMiB();
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_MeterThirdOctaves)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
