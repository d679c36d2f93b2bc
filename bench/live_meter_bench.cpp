// What the Sound Level window's meter adds to a scan: per 10 ms step, the tap gathers the
// frames since the last step from a 16-bit loop buffer and the live meter measures them (A, F,
// 1-s rows, 1/3-octave bands 25 Hz .. 20 kHz, the short stretches for the bars). Reports the
// share of one core the meter takes while sound comes in at the rate (cpu_percent), at 8, 48
// and 384 kHz.

#include "pipeline/live_meter.h"
#include "pipeline/scan_sound_tap.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace korv;

namespace {

constexpr std::int64_t kHalfFrames = 32768;
constexpr int kWindowFrames = 1024;

// A loop buffer of noise and a tone that the position runs round and round.
class LoopSource final : public ScanSource {
  public:
    explicit LoopSource(double rate) : sound_(static_cast<std::size_t>(2 * kHalfFrames)) {
        std::mt19937 random(3);
        std::normal_distribution<double> noise(0.0, 3000.0);
        for (std::size_t i = 0; i < sound_.size(); ++i) {
            const double tone =
                8000.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / rate);
            sound_[i] = static_cast<std::int16_t>(std::lround(tone + noise(random)));
        }
    }
    std::optional<std::int64_t> devicePositionFrames() override { return std::nullopt; }
    std::optional<std::int64_t> endFrame() const override { return std::nullopt; }
    bool framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                        std::span<std::int16_t>) override {
        const auto n = static_cast<std::int64_t>(sound_.size());
        for (std::size_t i = 0; i < first.size(); ++i) {
            const std::int64_t f =
                position - static_cast<std::int64_t>(first.size()) + static_cast<std::int64_t>(i);
            first[i] = sound_[static_cast<std::size_t>(((f % n) + n) % n)];
        }
        return true;
    }
    std::int64_t windowLimitFrames() const override { return kHalfFrames / 2; }
    bool endOfData() const override { return false; }

  private:
    std::vector<std::int16_t> sound_;
};

void BM_MeterInScan(benchmark::State& state) {
    const auto rate = static_cast<double>(state.range(0));
    meter::MeterSettings s;
    s.sampleRate = rate;
    s.bands = meter::BandSpec{3, 25.0, 20000.0};
    LiveMeter live(s);
    LoopSource loop(rate);
    std::int64_t rows = 0;
    TappedScanSource tap(loop, 1, [&](std::int64_t, std::span<const double> samples) {
        live.feed(samples, [&](const meter::IntervalLevels&) { ++rows; });
    });
    std::vector<std::int16_t> window(kWindowFrames);
    const auto step = static_cast<std::int64_t>(std::lround(rate / 100.0)); // 10 ms columns
    std::int64_t position = kWindowFrames;
    for (auto _ : state) {
        position += step;
        benchmark::DoNotOptimize(tap.framesEndingAt(position, window, {}));
        benchmark::DoNotOptimize(live.levelNow());
    }
    const double soundSeconds = static_cast<double>(state.iterations()) * 0.01;
    // Elapsed time over sound time, in percent of one core.
    state.counters["cpu_percent"] = benchmark::Counter(
        soundSeconds / 100.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["rows"] = static_cast<double>(rows);
}

} // namespace

BENCHMARK(BM_MeterInScan)->Arg(8000)->Arg(48000)->Arg(384000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
