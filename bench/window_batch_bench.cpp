// Analyze Batch as the user runs it: the real main window offscreen, 100 one-minute files
// (cut from the long benchmark signal, 44.1 kHz 16-bit mono) analysed at the stored defaults
// and saved as JPEG images, against `sox FILE -n spectrogram -o FILE.png` over the same files
// one after the other, measured in the same run. KORV_BATCH_FILES sets another file count,
// KORV_BATCH_TIME_STEP another time step.

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
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>
#include <sys/resource.h>

using namespace korv;

namespace {

constexpr long kFileSeconds = 60;

// User and system time so far of all the process's threads (or of its ended children).
double processCpuSeconds(int who = RUSAGE_SELF) {
    rusage u{};
    ::getrusage(who, &u);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// Answers the open dialog with the batch and accepts the image dialog as it stands (JPEG).
class BatchPrompts final : public Prompts {
  public:
    explicit BatchPrompts(QStringList files) : files_(std::move(files)) {}
    void message(const QString&, MessageIcon) override { ++messages; }
    void beep() override {}
    std::optional<QString> openFile(const FileRequest&) override { return std::nullopt; }
    std::optional<QStringList> openFiles(const FileRequest&) override { return files_; }
    void messageWithDetails(const QString&, const QString&, MessageIcon) override { ++messages; }
    bool question(const QString&, const QString&) override { return false; }
    std::optional<QString> chooseSaveFile(const FileRequest&) override { return std::nullopt; }
    bool choosePrinter(QPrinter&) override { return false; }
    bool runDialog(QDialog&) override { return true; }
    int messages = 0;

  private:
    QStringList files_;
};

void BM_BatchAgainstSox(benchmark::State& state) {
    const int count = qEnvironmentVariableIsSet("KORV_BATCH_FILES")
                          ? qEnvironmentVariableIntValue("KORV_BATCH_FILES")
                          : 100;
    QTemporaryDir dir;
    const std::vector<std::uint8_t> signal = tools::longSignalBytes();
    const auto minuteBytes = static_cast<std::uint32_t>(kFileSeconds * tools::LONG_SIGNAL_RATE * 2);
    const long minutes = tools::LONG_SIGNAL_SECONDS / kFileSeconds;
    QStringList files;
    for (int k = 0; k < count; ++k) {
        const QString path =
            dir.filePath(QStringLiteral("f%1.wav").arg(k, 3, 10, QLatin1Char('0')));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(korv::bench::monoWaveFile(
                tools::LONG_SIGNAL_RATE,
                std::span(signal).subspan((k % minutes) * minuteBytes, minuteBytes))) < 0) {
            state.SkipWithError("cannot write the files");
            return;
        }
        files.push_back(path);
    }
    BatchPrompts prompts(files);
    setPrompts(&prompts);
    double ours = 0.0;
    double oursCpu = 0.0;
    double sox = 0.0;
    double soxCpu = 0.0;
    for (auto _ : state) {
        auto window = bench::openBenchWindow(dir.filePath(QStringLiteral("korv.ini")));
        window->state().settings.highBandHz = tools::LONG_SIGNAL_RATE / 2;
        // KORV_BATCH_TIME_STEP (msec a column) for another amount of work a file: 75 gives
        // sox's 800 columns a minute.
        if (qEnvironmentVariableIsSet("KORV_BATCH_TIME_STEP")) {
            window->state().settings.timeScaleMsecSaved = window->state().settings.timeScaleMsec =
                qEnvironmentVariable("KORV_BATCH_TIME_STEP").toFloat();
        }
        pumpMessages();
        const double cpuBefore = processCpuSeconds();
        auto start = std::chrono::steady_clock::now();
        window->commands().send(cmd::kAnalyzeBatch, 0);
        while (window->state().control.batchRunning) {
            window->commands().drain();
        }
        ours += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        oursCpu += processCpuSeconds() - cpuBefore;
        window->close();

        const double soxCpuBefore = processCpuSeconds(RUSAGE_CHILDREN);
        start = std::chrono::steady_clock::now();
        for (const QString& f : files) {
            QProcess::execute(QStringLiteral("sox"),
                              {f, QStringLiteral("-n"), QStringLiteral("spectrogram"),
                               QStringLiteral("-o"), f + ".png"});
        }
        sox += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        soxCpu += processCpuSeconds(RUSAGE_CHILDREN) - soxCpuBefore;
    }
    setPrompts(nullptr);
    const int saved = static_cast<int>(
        QDir(dir.filePath(QStringLiteral("images"))).entryList({QStringLiteral("*.jpg")}).size());
    const double runs = static_cast<double>(state.iterations());
    state.counters["images"] = saved;
    state.counters["messages"] = prompts.messages;
    state.counters["ours_files_per_s"] = count * runs / ours;
    state.counters["sox_files_per_s"] = count * runs / sox;
    state.counters["ours_over_sox"] = sox / ours;
    // Every thread's CPU: the figure the other processes on the machine do not blur.
    state.counters["ours_cpu_ms_per_file"] = 1000.0 * oursCpu / (count * runs);
    state.counters["sox_cpu_ms_per_file"] = 1000.0 * soxCpu / (count * runs);
}
BENCHMARK(BM_BatchAgainstSox)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return korv::bench::runWindowBenchmarks(argc, argv);
}
