// The Analyze File column loop over a generated 10-minute 44.1 kHz 16-bit mono segment at
// the default parameters (N 1024, 4.0 msec a column, 500 rows), as the program runs it:
// image created, tables set up once, every column analysed. Reports columns per second and
// the process's peak memory beside its budget (image + segment + 32 MiB).

#include "../tools/long_signal.h"
#include "display/column_analyzer.h"
#include "display/parallel_column_loop.h"
#include "display/spectral_image.h"
#include "settings/app_settings.h"
#include "settings/settings_inputs.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

using namespace korv;

namespace {

constexpr std::int32_t kRate = tools::LONG_SIGNAL_RATE;
constexpr int kRows = 500;
constexpr int kScreenWidth = 1920;
constexpr int kStripHeight = 1080 / 12;
constexpr int kPlotHeight = kRows + kStripHeight;

const std::vector<std::uint8_t>& segment() {
    static const std::vector<std::uint8_t> bytes = tools::longSignalBytes();
    return bytes;
}

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

// Argument 1: the loop as the program runs it on two cores; 0: one thread.
void BM_AnalyzeFileColumnLoop(benchmark::State& state) {
    const bool twoThreads = state.range(0) != 0;
    const auto& bytes = segment();
    AppSettings settings; // the defaults: 1024 points, 4.0 msec, 0 .. 6000 Hz, 60 dB
    settings.highBandHz = kRate / 2;
    const RunFormat format{kRate, 1, 2};
    const RunParameters run = deriveRunParameters(analysisInputsFrom(settings), format,
                                                  static_cast<std::int64_t>(bytes.size()));
    const auto inputs = columnAnalysisInputsFrom(settings, format, run, bytes);
    double imageBytes = 0.0;
    double loopSeconds = 0.0;
    for (auto _ : state) {
        auto image = SpectralImage::create(
            {run.columns, kScreenWidth, kPlotHeight, kStripHeight, format.channels});
        if (!image) {
            state.SkipWithError("Not enough display memory");
            return;
        }
        imageBytes = static_cast<double>(image->width()) * image->height();
        ParallelColumnLoop analyzer;
        if (analyzer.setup(inputs, *image, twoThreads) != SetupResult::Ok) {
            state.SkipWithError("setup failed");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        for (long x = 0; x < analyzer.columns(); ++x) {
            analyzer.analyzeColumn(x, *image);
        }
        loopSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        analyzer.release();
        benchmark::DoNotOptimize(image->surface().pixels().data());
    }
    const double columns =
        static_cast<double>(run.columns) * static_cast<double>(state.iterations());
    state.counters["columns"] = static_cast<double>(run.columns);
    state.counters["columns/s"] = benchmark::Counter(columns, benchmark::Counter::kIsRate);
    // The columns alone, without creating the image: what one column costs.
    state.counters["us_per_column"] = loopSeconds * 1e6 / columns;
    state.counters["peak_MiB"] = peakMiB();
    state.counters["budget_MiB"] =
        (imageBytes + static_cast<double>(bytes.size())) / (1024.0 * 1024.0) + 32.0;
}
BENCHMARK(BM_AnalyzeFileColumnLoop)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
