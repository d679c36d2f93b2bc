// The FFT and the column pipeline of an analysis, with FFTW's real transform as the
// yardstick for the same pipeline. FFTW is only linked here, never into the program.

#include "analysis/fft.h"
#include "analysis/frequency_scale.h"
#include "analysis/levels.h"
#include "display/palette.h"
#include "settings/default_calibration.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#ifdef KORV_HAVE_FFTW
#include <fftw3.h>
#endif

using namespace korv;

namespace {

constexpr int kRate = 44100;
constexpr int kRows = 500;
constexpr int kColumns = 256;

// A few seconds of a chirp with noise, 16-bit mono.
std::vector<std::int16_t> testSignal(std::size_t samples) {
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 800.0);
    std::vector<std::int16_t> s(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double v =
            12000.0 * std::sin(2.0 * std::numbers::pi * (200.0 + 900.0 * t) * t) + noise(rng);
        s[i] = static_cast<std::int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
    }
    return s;
}

void BM_TransformFrame(benchmark::State& state) {
    const int log2n = static_cast<int>(state.range(0));
    const int n = 1 << log2n;
    FftEngine fft;
    if (fft.setupFft(log2n, FFT_FULL_WINDOW_RATE, FFT_FULL_WINDOW_MSEC) != 0) {
        state.SkipWithError("setupFft failed");
        return;
    }
    const auto signal = testSignal(static_cast<std::size_t>(n));
    std::vector<std::int16_t> frame(signal.size());
    for (auto _ : state) {
        frame = signal;
        fft.transformFrame(frame, FftOutput::Levels);
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TransformFrame)->DenseRange(9, 14);

struct Pipeline {
    int n = 1024;
    int hop = 176; // 4.0 msec at 44.1 kHz
    std::vector<std::int16_t> signal = testSignal(static_cast<std::size_t>(kColumns * 176 + 1024));
    RowMap map = *FrequencyAxis(FrequencyScale::Linear, 0, 6000, kRows).rowMap(kRate, 1024);
    std::vector<std::int16_t> offsets =
        buildCalibrationOffsets(kRate, 1024, defaultCalibrationCurve());
    LevelRange range = levelRangeFor(DbRange::Db60);
    std::vector<std::int16_t> frame = std::vector<std::int16_t>(1024);
    std::vector<std::int16_t> rows = std::vector<std::int16_t>(kRows);
    std::vector<std::uint8_t> column = std::vector<std::uint8_t>(kRows);

    // Everything after the levels: corrections, rows, palette indices.
    void finishColumn() {
        applyLevelCorrections(std::span(frame).first(static_cast<std::size_t>(n / 2)), offsets, -9);
        gatherRows(map, std::span(frame).first(static_cast<std::size_t>(n / 2)), rows);
        for (int r = 0; r < kRows; ++r) {
            column[r] = static_cast<std::uint8_t>(
                levelToClampedPaletteIndex(static_cast<float>(rows[r]), range));
        }
    }
};

void BM_ColumnPipeline(benchmark::State& state) {
    Pipeline p;
    FftEngine fft;
    if (fft.setupFft(10, FFT_FULL_WINDOW_RATE, FFT_FULL_WINDOW_MSEC) != 0) {
        state.SkipWithError("setupFft failed");
        return;
    }
    int x = 0;
    for (auto _ : state) {
        const std::int16_t* src = p.signal.data() + static_cast<std::ptrdiff_t>(x) * p.hop;
        for (int i = 0; i < p.n; ++i) {
            p.frame[i] = toAnalysisSample(src[i]);
        }
        fft.transformFrame(p.frame, FftOutput::Levels);
        p.finishColumn();
        benchmark::DoNotOptimize(p.column.data());
        x = (x + 1) % kColumns;
    }
    state.counters["columns/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ColumnPipeline);

#ifdef KORV_HAVE_FFTW
void BM_ColumnPipelineFftw(benchmark::State& state) {
    Pipeline p;
    FftEngine windowSource;
    if (windowSource.setupFft(10, FFT_FULL_WINDOW_RATE, FFT_FULL_WINDOW_MSEC) != 0) {
        state.SkipWithError("setupFft failed");
        return;
    }
    std::vector<float> window(windowSource.window().begin(), windowSource.window().end());
    float* in = fftwf_alloc_real(static_cast<std::size_t>(p.n));
    fftwf_complex* out = fftwf_alloc_complex(static_cast<std::size_t>(p.n / 2 + 1));
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(p.n, in, out, FFTW_MEASURE);
    const float scale = 2.0f / static_cast<float>(p.n);
    std::vector<double> powers(static_cast<std::size_t>(p.n / 2));
    int x = 0;
    for (auto _ : state) {
        const std::int16_t* src = p.signal.data() + static_cast<std::ptrdiff_t>(x) * p.hop;
        for (int i = 0; i < p.n; ++i) {
            in[i] = static_cast<float>(toAnalysisSample(src[i])) * window[i];
        }
        fftwf_execute(plan);
        for (int k = 0; k < p.n / 2; ++k) {
            const float re = out[k][0] * scale;
            const float im = out[k][1] * scale;
            powers[static_cast<std::size_t>(k)] = static_cast<double>(re * re + im * im);
        }
        powersToLevels(powers, std::span(p.frame).first(static_cast<std::size_t>(p.n / 2)));
        p.finishColumn();
        benchmark::DoNotOptimize(p.column.data());
        x = (x + 1) % kColumns;
    }
    fftwf_destroy_plan(plan);
    fftwf_free(out);
    fftwf_free(in);
    state.counters["columns/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ColumnPipelineFftw);
#endif

} // namespace

BENCHMARK_MAIN();
