// One step of the scan loop as the paced loop takes it, without the pacing: the W frames
// gathered from a 65536-frame loop buffer, the pitch detector when on, the FFT of the last N,
// the corrections, the rows and the level ring, and one column of the Scroll display drawn
// into the kept image and the window's store. Beside it, one refresh and one complete redraw of
// the line plot. A scan may spend a tenth of its time per column (timeScaleMsec) on a step.

#include "analysis/parameters.h"
#include "display/spectrum_plot.h"
#include "modes/scan_loop.h"
#include "modes/scroll_display.h"
#include "platform/window_surface.h"
#include "window_bench.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

using namespace korv;

namespace {

constexpr std::int32_t kRate = 44100;
// The view of a 1280 x 960 window: 500 spectral rows under a 90-row strip.
constexpr int kViewWidth = 1280;
constexpr int kPlotHeight = 590;
constexpr int kStripHeight = 90;
constexpr int kPlotPoints = 500;

// The loop buffer of a 16-bit mono scan: a tone sweeping up with its third harmonic.
class LoopBufferSource final : public ScanSource {
  public:
    LoopBufferSource() : buffer_(static_cast<std::size_t>(2 * kHalfFrames * 2)) {
        double phase = 0.0;
        for (std::size_t i = 0; i < buffer_.size() / 2; ++i) {
            phase += 2.0 * std::numbers::pi * (300.0 + 0.05 * static_cast<double>(i)) / kRate;
            const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(
                std::lround(10000.0 * std::sin(phase) + 3000.0 * std::sin(3.0 * phase))));
            buffer_[2 * i] = static_cast<std::uint8_t>(s & 0xFF);
            buffer_[2 * i + 1] = static_cast<std::uint8_t>(s >> 8);
        }
    }
    std::optional<std::int64_t> devicePositionFrames() override { return std::nullopt; }
    std::optional<std::int64_t> endFrame() const override { return std::nullopt; }
    bool framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                        std::span<std::int16_t> second) override {
        return gatherLoopFrames(buffer_, kHalfFrames, 1, 2, position % (2 * kHalfFrames), first,
                                second);
    }
    bool endOfData() const override { return false; }

  private:
    static constexpr std::int64_t kHalfFrames = 32768;
    std::vector<std::uint8_t> buffer_;
};

// Steps at N = 2^range(0) with the pitch detector off (0) or on (1), 4.0 msec a column apart,
// drawn into the view-sized image and from there to the window's store.
void BM_ScanStep(benchmark::State& state) {
    const int log2N = static_cast<int>(state.range(0));
    const bool pitch = state.range(1) != 0;
    const int n = 1 << log2N;
    ScanLoopInputs in;
    in.sampleRate = kRate;
    in.channels = 1;
    in.log2FftSize = log2N;
    in.windowSamples = n;
    in.analysisWindowMsec = static_cast<float>(n * 1000.0 / kRate);
    in.timeScaleMsec = 4.0f;
    in.frequencyScale = FrequencyScale::Linear;
    in.lowBandHz = 0;
    in.highBandHz = 6000;
    in.pitchDetector = pitch;

    const PaletteDisplay palette;
    WindowSurface window(palette);
    window.resize(kViewWidth, kPlotHeight);
    auto kept = SpectralImage::create({kViewWidth, kViewWidth, kPlotHeight, kStripHeight, 1});
    if (!kept) {
        state.SkipWithError("no image");
        return;
    }
    ScrollLayout layout;
    layout.viewWidth = kViewWidth;
    layout.plotHeight = kPlotHeight;
    layout.stripHeight = kStripHeight;
    layout.dbRange = DbRange::Db60;
    ScrollDisplay display(window, *kept, layout);
    LoopBufferSource source;
    ScanRun run;
    const std::int64_t stepFrames = kRate * 4 / 1000;
    std::int64_t position = 0;
    // KeepRunning starts the timing after the set-up and stops it before the release.
    const SetupResult setup =
        runScanSteps(in, source, display, run, [&]() -> std::optional<std::int64_t> {
            if (!state.KeepRunning()) {
                return std::nullopt;
            }
            position += stepFrames;
            return position;
        });
    if (setup != SetupResult::Ok || run.columnsDrawn != static_cast<long>(state.iterations())) {
        state.SkipWithError("the steps did not run");
        return;
    }
    state.counters["W"] = run.windowFrames;
    state.counters["rows"] = run.rows;
}
BENCHMARK(BM_ScanStep)
    ->Args({10, 0})
    ->Args({14, 0})
    ->Args({14, 1})
    ->ArgNames({"log2N", "pitch"})
    ->Unit(benchmark::kMicrosecond);

// A line plot of 500 points in the same view: range(0) 0 is the refresh of one step, 1 the
// complete redraw at the end of a scan.
void BM_LinePlot(benchmark::State& state) {
    IndexedSurface view(kViewWidth, kPlotHeight);
    const ScopeGeometry g = scopeGeometry(kViewWidth, kPlotHeight, 1.8f, 8, 16, kPlotPoints);
    ScopeOptions o;
    o.displayType = DisplayType::LinePlot;
    o.axis = ScopeAxis{FrequencyScale::Linear, 0.0, 6000.0};
    ScopeView plot(g, o);
    std::vector<std::int16_t> rows(kPlotPoints);
    long step = 0;
    for (auto _ : state) {
        if (state.range(0) == 0 || step == 0) {
            for (std::size_t i = 0; i < rows.size(); ++i) {
                rows[i] = static_cast<std::int16_t>(
                    -120 + 100 * std::sin(0.05 * static_cast<double>(i + step)));
            }
            benchmark::DoNotOptimize(plot.refresh(view, rows, {}));
        } else {
            benchmark::DoNotOptimize(plot.redraw(view));
        }
        ++step;
    }
}
BENCHMARK(BM_LinePlot)->Arg(0)->Arg(1)->ArgName("redraw")->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return korv::bench::runWindowBenchmarks(argc, argv);
}
