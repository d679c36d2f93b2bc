// A recolour as the user makes it: the real main window at 1920 x 1080 under Qt's offscreen
// platform showing an analysed image, the colour dialog open, one colour bar moved. Timed from
// the bar's change to the drawing area repainted (the palette rebuilt, every pixel of the
// window converted anew through it).

#include "window_bench.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "dialogs/colour_dialog.h"
#include "platform/commands.h"
#include "platform/prompts.h"
#include "shell/modes.h"
#include <vector>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <memory>
#include <optional>

using namespace korv;

namespace {

constexpr int kRate = 22050;
constexpr int kSeconds = 20;

// A 16-bit mono wave of a rising tone over noise, so the image uses most of the gradient.
QByteArray waveFile() {
    const std::uint32_t frames = kRate * kSeconds;
    std::vector<std::uint8_t> samples;
    samples.reserve(2 * frames);
    std::uint32_t noise = 1;
    for (std::uint32_t i = 0; i < frames; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) / kRate;
        const double v = 8000.0 * std::sin(2.0 * M_PI * (200.0 + 100.0 * t) * t) +
                         static_cast<double>(noise >> 22) - 512.0;
        const auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
        samples.push_back(static_cast<std::uint8_t>(bits & 0xFF));
        samples.push_back(static_cast<std::uint8_t>(bits >> 8));
    }
    return korv::bench::monoWaveFile(static_cast<std::int32_t>(kRate), samples);
}

void BM_RecolourFullScreenImage(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sweep.wav"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(waveFile()) < 0) {
        state.SkipWithError("cannot write the signal");
        return;
    }
    file.close();
    bench::OneFilePrompts prompts(path);
    setPrompts(&prompts);
    auto window = bench::openBenchWindow(dir.filePath(QStringLiteral("korv.ini")), {1920, 1080});
    window->state().settings.variables = Variables::Freeze;
    pumpMessages();
    window->commands().send(cmd::kAnalyzeFile, cmd::kFromMenu);
    window->commands().send(cmd::kSignalScale, 0);
    ColourDialog* dialog = colourDialog(window.get());
    if (dialog == nullptr || !window->state().held.spectralImage) {
        state.SkipWithError("no image or no dialog");
        setPrompts(nullptr);
        return;
    }
    auto* red = dialog->findChild<QScrollBar*>(controlName(ID_RED_SCROLL));
    QWidget* area = window->drawingArea();
    int value = 0;
    for (auto _ : state) {
        value = (value + 37) % 256;
        red->setValue(value); // the lowest level colour
        area->repaint();
    }
    state.counters["window_pixels"] =
        static_cast<double>(window->surface().width()) * window->surface().height();
    dialog->reject();
    window->close();
    window.reset();
    setPrompts(nullptr);
}
BENCHMARK(BM_RecolourFullScreenImage)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return korv::bench::runWindowBenchmarks(argc, argv);
}
