// Analyze File as the user starts it (F1, the file chosen, the stored parameters): the real
// main window under Qt's offscreen platform, the column loop with the window following the
// image and the messages pumped. Time per column of the 10-minute signal, so the figure can
// be set beside the column loop's own (analyze_bench).

#include "../tools/long_signal.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "platform/commands.h"
#include "platform/prompts.h"
#include "shell/modes.h"
#include "window_bench.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>

using namespace korv;

namespace {

void BM_AnalyzeFileInTheWindow(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.wav"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(korv::bench::monoWaveFile(tools::LONG_SIGNAL_RATE, tools::longSignalBytes())) <
            0) {
        state.SkipWithError("cannot write the signal");
        return;
    }
    file.close();
    bench::OneFilePrompts prompts(path);
    setPrompts(&prompts);
    double seconds = 0.0;
    long columns = 0;
    for (auto _ : state) {
        auto window = bench::openBenchWindow(dir.filePath(QStringLiteral("korv.ini")));
        AppSettings& settings = window->state().settings;
        settings.variables = Variables::Freeze; // the stored parameters, no dialog
        settings.highBandHz = tools::LONG_SIGNAL_RATE / 2;
        pumpMessages();
        const auto start = std::chrono::steady_clock::now();
        window->commands().send(cmd::kAnalyzeFile, cmd::kFromMenu);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        columns += window->state().analysis.run.params.columns;
        window->close();
    }
    setPrompts(nullptr);
    state.counters["columns"] =
        static_cast<double>(columns) / static_cast<double>(state.iterations());
    state.counters["us_per_column"] = seconds * 1e6 / static_cast<double>(std::max(columns, 1L));
}
BENCHMARK(BM_AnalyzeFileInTheWindow)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return korv::bench::runWindowBenchmarks(argc, argv);
}
