// Scan Input at its heaviest on a real paced device: 48 kHz 16-bit stereo, N = 16384, the pitch
// detector on, a column every 1.0 msec, the Scroll display, in the real main window under Qt's
// offscreen platform on the real clock. The device is a private PulseAudio server's sine source
// (support/pulse_process.h), reached by PortAudio through ALSA's pulse plugin; a busy loop of
// ours holds the second core meanwhile. Reported: sound lost, steps skipped, CPU, and how far the
// drawn column trails the sound.
//
// KORV_SCAN_SECONDS (60 unless set) sets the length; KORV_NO_BUSY_CORE, when set, leaves the
// second core alone. Without pulseaudio the benchmark is skipped.

#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "modes/scan_input.h"
#include "modes/scan_loop.h"
#include "platform/commands.h"
#include "platform/prompts.h"
#include "settings/settings_inputs.h"
#include "shell/modes.h"
#include "support/process_cpu.h"
#include "support/pulse_process.h"
#include "window_bench.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

using namespace korv;

namespace {

constexpr std::int32_t kRate = 48000;

int scanSeconds() {
    const char* asked = std::getenv("KORV_SCAN_SECONDS");
    return asked != nullptr ? std::max(std::atoi(asked), 1) : 60;
}

// A shell spinning on the second core while it lives, ended by its process id.
class BusyCore {
  public:
    BusyCore() {
        char* args[] = {const_cast<char*>("taskset"),
                        const_cast<char*>("-c"),
                        const_cast<char*>("1"),
                        const_cast<char*>("sh"),
                        const_cast<char*>("-c"),
                        const_cast<char*>("while :; do :; done"),
                        nullptr};
        if (::posix_spawnp(&pid_, "taskset", nullptr, nullptr, args, environ) != 0) {
            pid_ = 0;
        }
    }
    ~BusyCore() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    BusyCore(const BusyCore&) = delete;
    BusyCore& operator=(const BusyCore&) = delete;
    [[nodiscard]] bool running() const { return pid_ > 0; }

  private:
    pid_t pid_ = 0;
};

void BM_ScanInput48kStereo16384Pitch1ms(benchmark::State& state) {
    QTemporaryDir dir;
    ScriptedPrompts prompts; // a lost-sound message is recorded, not shown
    setPrompts(&prompts);
    const int seconds = scanSeconds();
    // How far each drawn column's window end trails the frames captured by then.
    std::vector<std::int64_t> trails;
    trails.reserve(static_cast<std::size_t>(seconds) * 1200);
    // The longest the capture position stood still between columns, and when that began.
    using Steady = std::chrono::steady_clock;
    Steady::time_point firstColumn{};
    Steady::time_point since{};
    std::int64_t lastCaptured = -1;
    double stallMs = 0.0;
    double stallAtS = 0.0;
    const auto probe = [&](std::int64_t windowEnd, std::int64_t captured) {
        trails.push_back(captured - windowEnd);
        const Steady::time_point now = Steady::now();
        if (lastCaptured < 0) {
            firstColumn = now;
        }
        if (captured != lastCaptured) {
            lastCaptured = captured;
            since = now;
        }
        const double still = std::chrono::duration<double, std::milli>(now - since).count();
        if (still > stallMs) {
            stallMs = still;
            stallAtS = std::chrono::duration<double>(since - firstColumn).count();
        }
    };
    double cpuShare = 0.0;
    bool busy = false;
    std::int64_t displayDelayMs = 0;
    ScanInputResult r;
    for (auto _ : state) {
        // The real clock and the default PortAudio input.
        const auto owner = bench::openBenchWindow(dir.filePath(QStringLiteral("korv.ini")));
        MainWindow& window = *owner;
        setScanInputColumnProbe(window, probe);
        AppState& s = window.state();
        AppSettings& st = s.settings;
        st.variables = Variables::Freeze;
        st.inputSampleRateHz = 48000;
        st.resolutionBits = 16;
        st.stereo = true;
        st.displayType = DisplayType::Scroll;
        st.frequencyScale = FrequencyScale::Linear;
        st.log2FftSize = MAX_LOG2_FFT_SIZE;
        st.pitchDetector = true;
        st.timeScaleMsecSaved = MIN_TIME_SCALE_MSEC;
        st.recording = Recording::Choice::Off;
        st.lowBandHz = 0;
        st.highBandHz = kRate / 2;
        s.control.notesSuppressed = true;
        displayDelayMs = st.displayDelayMs;
        pumpMessages();
        const char* noBusy = std::getenv("KORV_NO_BUSY_CORE");
        const std::optional<BusyCore> core =
            noBusy != nullptr ? std::nullopt : std::make_optional<BusyCore>();
        busy = core && core->running();
        QTimer::singleShot(seconds * 1000, [&window] { window.commands().post(cmd::kStop, 0); });
        const double cpuBefore = test::processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        window.commands().send(cmd::kScanInput, cmd::kFromMenu);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpuShare = (test::processCpuSeconds() - cpuBefore) / wall;
        r = lastScanInput(window);
        window.close();
    }
    setPrompts(nullptr);
    const double steps = r.loopMs / MIN_TIME_SCALE_MSEC;
    const double toMs = 1000.0 / kRate;
    state.counters["seconds"] = r.loopMs / 1000.0;
    state.counters["columns"] = static_cast<double>(r.columnsDrawn);
    state.counters["skipped_pct"] =
        steps > 0.0 ? 100.0 * (steps - static_cast<double>(r.columnsDrawn)) / steps : 0.0;
    state.counters["overruns"] = static_cast<double>(r.overruns);
    state.counters["cpu_pct"] = 100.0 * cpuShare;
    state.counters["busy_core"] = busy ? 1.0 : 0.0;
    state.counters["device_ms"] = r.inputLatencyMs.value_or(-1.0);
    // Columns trailing by more than the display delay and a present interval, and where the
    // worst one came (seconds into the run, by columns).
    const std::int64_t late = (displayDelayMs + SCAN_PRESENT_INTERVAL_MS) * kRate / 1000;
    state.counters["stall_ms"] = stallMs;
    state.counters["stall_at_s"] = stallAtS;
    state.counters["late_columns"] = static_cast<double>(
        std::count_if(trails.begin(), trails.end(), [late](std::int64_t t) { return t > late; }));
    state.counters["worst_at_column"] =
        static_cast<double>(std::max_element(trails.begin(), trails.end()) - trails.begin());
    std::sort(trails.begin(), trails.end());
    const auto trailMs = [&trails, toMs](double share) {
        if (trails.empty()) {
            return 0.0;
        }
        const auto at = static_cast<std::size_t>(share * static_cast<double>(trails.size() - 1));
        return static_cast<double>(trails[at]) * toMs;
    };
    state.counters["trail_min_ms"] = trailMs(0.0);
    state.counters["trail_median_ms"] = trailMs(0.5);
    state.counters["trail_p99_ms"] = trailMs(0.99);
    state.counters["trail_max_ms"] = trailMs(1.0);
}

} // namespace

int main(int argc, char** argv) {
    test::PulseProcess pulse({"module-sine-source frequency=1000 rate=48000"});
    pulse.start();
    if (!pulse.ready()) {
        std::printf("scan_input_bench skipped: %s\n", pulse.error().c_str());
        return 0;
    }
    // PortAudio's ALSA default device is the server, through the pulse plugin.
    QTemporaryDir alsa;
    const std::string conf = alsa.filePath(QStringLiteral("asound.conf")).toStdString();
    std::ofstream(conf) << test::ALSA_PULSE_DEVICE;
    ::setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::RegisterBenchmark("BM_ScanInput48kStereo16384Pitch1ms",
                                 BM_ScanInput48kStereo16384Pitch1ms)
        ->Iterations(1)
        ->Unit(benchmark::kSecond)
        ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
