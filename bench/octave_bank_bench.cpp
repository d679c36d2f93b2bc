// The fractional-octave bank over ten minutes of 48 kHz noise, as the meter feeds it (blocks
// of 4096 frames, a take every second). The budget for 1/3 octave, 25 Hz to 20 kHz, is about
// 15 ns a sample (the whole meter at 1000 times real time).

#include "meter/octave_bank.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

using namespace korv::meter;

namespace {

constexpr double kRate = 48000.0;
constexpr std::size_t kSeconds = 600;
constexpr std::size_t kBlock = 4096;

// One second of noise, fed over and over: it stays in the cache, as a block the meter has
// just read and weighted does.
const std::vector<double>& noise() {
    static const std::vector<double> samples = [] {
        std::mt19937 rng(7);
        std::normal_distribution<double> gauss(0.0, 0.1);
        std::vector<double> s(static_cast<std::size_t>(kRate));
        for (double& x : s)
            x = gauss(rng);
        return s;
    }();
    return samples;
}

void tenMinutes(benchmark::State& state, BandSpec spec) {
    const std::vector<double>& s = noise();
    const auto second = static_cast<std::size_t>(kRate);
    for (auto _ : state) {
        OctaveBank bank(spec, kRate);
        std::vector<double> meanSquares(bank.bands().size());
        for (std::size_t t = 0; t < kSeconds; ++t) {
            for (std::size_t done = 0; done < second; done += kBlock) {
                const std::size_t count = std::min(kBlock, second - done);
                bank.process({s.data() + done, count});
            }
            bank.takeMeanSquares(meanSquares);
        }
        benchmark::DoNotOptimize(meanSquares.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kSeconds * second));
}

void thirdOctaves(benchmark::State& state) {
    tenMinutes(state, {3, 25.0, 20000.0});
}
void octaves(benchmark::State& state) {
    tenMinutes(state, {1, 25.0, 20000.0});
}
void twentyFourths(benchmark::State& state) {
    tenMinutes(state, {24, 25.0, 20000.0});
}

} // namespace

BENCHMARK(thirdOctaves)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(octaves)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(twentyFourths)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
