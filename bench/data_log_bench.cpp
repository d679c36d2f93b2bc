// The spectral image log of the generated 10-minute 44.1 kHz 16-bit mono segment at the
// default parameters (N 1024, 4.0 msec a column, band 0 .. 22050 Hz, 500 rows): the column
// loop on two cores as the program runs it, each column's block formatted and written to
// the log file as soon as the column is drawn. Reports seconds, bytes of text, MB/s and the
// process's peak memory. The log goes to KORV_LOG_FILE (default /dev/null, so the figure is
// the program's and not the disk's).

#include "../tools/long_signal.h"
#include "display/parallel_column_loop.h"
#include "display/spectral_image.h"
#include "output/data_log.h"
#include "output/log_file.h"
#include "settings/app_settings.h"
#include "settings/settings_inputs.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace korv;

namespace {

constexpr std::int32_t kRate = tools::LONG_SIGNAL_RATE;
constexpr int kRows = 500;
constexpr int kScreenWidth = 1920;
constexpr int kStripHeight = 1080 / 12;
constexpr int kPlotHeight = kRows + kStripHeight;

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_SpectralImageLog(benchmark::State& state) {
    static const std::vector<std::uint8_t> bytes = tools::longSignalBytes();
    const char* target = std::getenv("KORV_LOG_FILE");
    const std::string path = target != nullptr ? target : "/dev/null";
    AppSettings settings;
    settings.highBandHz = kRate / 2;
    const RunFormat format{kRate, 1, 2};
    const RunParameters run = deriveRunParameters(analysisInputsFrom(settings), format,
                                                  static_cast<std::int64_t>(bytes.size()));
    auto inputs = columnAnalysisInputsFrom(settings, format, run, bytes);
    inputs.binLevels = true;
    LogSource source{"/tmp/long.wav", kRate, 1 << run.log2FftSize, 0.0, 0, settings.highBandHz, 0};
    source.columnMsec = run.columnMsec;
    source.windowCentreMsec = run.windowCentreMsec;
    const ImageLogFormat logFormat(source);
    double textBytes = 0.0;
    double seconds = 0.0;
    for (auto _ : state) {
        auto image = SpectralImage::create(
            {run.columns, kScreenWidth, kPlotHeight, kStripHeight, format.channels});
        ParallelColumnLoop analyzer;
        if (!image || analyzer.setup(inputs, *image, true) != SetupResult::Ok) {
            state.SkipWithError("setup failed");
            return;
        }
        LogFile file;
        if (!file.create(path)) {
            state.SkipWithError("Cannot Open File");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        std::string text = logFormat.header();
        textBytes += static_cast<double>(text.size());
        file.write(text);
        for (long x = 0; x < analyzer.columns(); ++x) {
            analyzer.analyzeColumn(x, *image);
            text.clear();
            logFormat.appendColumn(text, x, analyzer.averagedBins(0));
            textBytes += static_cast<double>(text.size());
            file.write(text);
        }
        if (!file.close()) {
            state.SkipWithError("Error Writing File");
            return;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        analyzer.release();
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["columns"] = static_cast<double>(run.columns);
    state.counters["seconds"] = seconds / n;
    state.counters["MB"] = textBytes / n / 1e6;
    state.counters["MB/s"] = textBytes / seconds / 1e6;
    state.counters["peak_MiB"] = peakMiB();
}
BENCHMARK(BM_SpectralImageLog)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
