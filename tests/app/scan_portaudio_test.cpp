// The scans on a real paced device without a sound card: a private PulseAudio server (a null
// sink, and a default source that is a 1 kHz sine), reached by PortAudio through ALSA's pulse
// plugin, with the real main window offscreen on the real clock. These are the program tests
// that wait on the real clock, because the real device is what they measure; so each is one
// short scan. The test starts the server and ends it by its process id.
//
// KORV_SCAN_SECONDS (3 unless set) lengthens the file scan for measuring by hand; the CPU share
// of the scan is printed (docs/performance.md).

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "modes/scan_file.h"
#include "modes/scan_input.h"
#include "platform/commands.h"
#include "shell/modes.h"
#include "support/platform_scopes.h"
#include "support/process_cpu.h"
#include "support/pulse_server.h"
#include "support/scan_input_fixture.h"
#include "support/temp_dir.h"
#include "support/test_signals.h"
#include "support/window_setup.h"

#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace korv {
namespace {

// The server first: ALSA reads its configuration when PortAudio starts.
auto* const pulse = dynamic_cast<test::PulseServer*>(::testing::AddGlobalTestEnvironment(
    new test::PulseServer({"module-sine-source frequency=1000"})));

// The real clock and the default PortAudio device; Freeze: the stored parameters.
class RealDeviceScan : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pulse->ready()) << pulse->error();
        ASSERT_TRUE(dir.valid());
        MainWindowOptions o;
        o.settingsFile = dir.file(QStringLiteral("korv.ini")).toStdString();
        window = test::openWindow(o, {}, {}, {1280, 960});
    }
    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    std::unique_ptr<MainWindow> window;
};

TEST_F(RealDeviceScan, AScanOfAFileKeepsThePaceOfTheRealDevice) {
    const char* asked = std::getenv("KORV_SCAN_SECONDS");
    const int seconds = asked != nullptr ? std::max(std::atoi(asked), 1) : 3;
    constexpr int kRate = 44100;
    // The completion note would add its 800 ms to the scan.
    window->state().control.notesSuppressed = true;
    const QString path =
        dir.write(QStringLiteral("tone.wav"), test::waveFile(kRate, 2, 16, long{kRate} * seconds,
                                                             test::sines({440.0, 1000.0}, kRate)));
    ASSERT_FALSE(path.isEmpty());
    prompts->queueFile(path);

    const double cpuBefore = test::processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    QTest::keyClick(window.get(), Qt::Key_F2);
    const double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double cpuShare = (test::processCpuSeconds() - cpuBefore) * 1000.0 / wallMs;

    const ScanFileResult& r = lastScanFile(*window);
    EXPECT_TRUE(prompts->messages().empty()) << "the device opened";
    EXPECT_TRUE(r.endReached);
    // Every frame is played and analysed, however late the sound server starts.
    EXPECT_EQ(r.fileBytesRead, std::int64_t{kRate} * 4 * seconds);
    // The scan lasts the file's time, plus what the server held the sound back at its start.
    EXPECT_NEAR(wallMs - r.deviceLagMs, seconds * 1000.0, seconds * 150.0);
    // The pace (one column per interval, none skipped) depends on the machine's load: it is
    // printed here and measured by the benchmarks, not asserted.
    const double loopMs = r.timeScaleMsec * static_cast<double>(r.columnsDrawn);
    EXPECT_LE(loopMs, wallMs);
    std::printf("scan of %d s: wall %.0f ms (the device %.0f ms late), loop %.0f ms, %ld columns "
                "of %.1f ms (%.2f %% of the wall time), CPU %.1f %% of one core\n",
                seconds, wallMs, r.deviceLagMs, loopMs, r.columnsDrawn, r.timeScaleMsec,
                100.0 * loopMs / wallMs, 100.0 * cpuShare);
    RecordProperty("cpu_percent", static_cast<int>(100.0 * cpuShare));
}

TEST_F(RealDeviceScan, ASineHeardLightsItsRowAndARecordingOfTwoSecondsHoldsIt) {
    AppSettings& st = window->state().settings;
    constexpr int kRate = 11025;
    test::scanSettings(st, kRate);
    st.inputSampleRateHz = 11025;
    st.resolutionBits = 16;
    st.stereo = false;
    st.recording = Recording::Choice::Manual;
    const QString path = dir.file(QStringLiteral("sine.wav"));
    prompts->queueFile(path);
    QTimer::singleShot(500, [this] { window->commands().post(cmd::kPlay, 0); });
    QTimer::singleShot(2500, [this] { window->commands().post(cmd::kPlayWindow, 0); });
    QTimer::singleShot(3000, [this] { window->commands().post(cmd::kStop, 0); });
    QTest::keyClick(window.get(), Qt::Key_F3);

    // A column halfway through the run is brightest at 1 kHz (the image fills from the left).
    const AppState& s = window->state();
    const long columns = lastScanInput(*window).columnsDrawn;
    ASSERT_TRUE(s.held.spectralImage);
    ASSERT_GT(columns, 100);
    const int rows = s.view.layout.plotHeight - s.view.layout.topBand;
    const int x = static_cast<int>(std::min<long>(columns, s.view.layout.plotWidth) / 2);
    EXPECT_NEAR(test::loudestRow(s, x), rows * 1000.0 / (kRate / 2.0), 3.0);

    // The recording: a valid 16-bit file of about two seconds, its zero crossings at 1 kHz.
    const test::ReadWave w = test::readWave(path);
    ASSERT_TRUE(w.valid);
    const auto frames = static_cast<long>(w.samples.size());
    EXPECT_NEAR(static_cast<double>(frames), 2.0 * kRate, 0.3 * kRate);
    long crossings = 0;
    for (long i = 1; i < frames; ++i) {
        crossings += (w.samples[i - 1] < 0) != (w.samples[i] < 0);
    }
    EXPECT_NEAR(static_cast<double>(crossings) / 2.0 / (static_cast<double>(frames) / kRate),
                1000.0, 20.0);
}

} // namespace
} // namespace korv
