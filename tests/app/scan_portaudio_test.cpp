// Scan File on a real paced device without a sound card: a private PulseAudio server's null
// sink, reached by PortAudio through ALSA's pulse plugin, with the real main window offscreen
// on the real clock. The one program test that waits on the real clock, because the pace of
// the real device is what it measures; so it is one short scan.
//
// KORV_SCAN_SECONDS (3 unless set) lengthens the scan for measuring by hand; the CPU share of
// the scan is printed (docs/performance.md).

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/modes.h"
#include "modes/scan_file.h"
#include "support/alsa_config.h"
#include "support/platform_scopes.h"
#include "support/process_cpu.h"
#include "support/pulse_server.h"
#include "support/temp_dir.h"
#include "support/test_signals.h"
#include "support/window_setup.h"

#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace korv {
namespace {

// The server first: ALSA reads its configuration when PortAudio starts.
auto* const pulse =
    dynamic_cast<test::PulseServer*>(::testing::AddGlobalTestEnvironment(new test::PulseServer));
const auto* const alsaPulse = ::testing::AddGlobalTestEnvironment(
    new test::AlsaConfig("korv-alsa-pulse", test::ALSA_PULSE_DEVICE));

TEST(ScanPortAudio, AScanOfAFileKeepsThePaceOfTheRealDevice) {
    ASSERT_TRUE(pulse->ready()) << pulse->error();
    const char* asked = std::getenv("KORV_SCAN_SECONDS");
    const int seconds = asked != nullptr ? std::max(std::atoi(asked), 1) : 3;
    constexpr int kRate = 44100;

    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    test::ScriptedPromptsScope prompts;
    MainWindowOptions o; // the real clock and the default PortAudio device
    o.settingsFile = dir.file(QStringLiteral("korv.ini")).toStdString();
    // Freeze: the stored (default) parameters.
    const std::unique_ptr<MainWindow> owner = test::openWindow(o, {}, {}, {1280, 960});
    MainWindow& window = *owner;
    AppState& s = window.state();
    s.control.notesSuppressed = true; // the completion note would add its 800 ms to the scan
    const QString path =
        dir.write(QStringLiteral("tone.wav"), test::waveFile(kRate, 2, 16, long{kRate} * seconds,
                                                             test::sines({440.0, 1000.0}, kRate)));
    ASSERT_FALSE(path.isEmpty());
    prompts->queueFile(path);

    const double cpuBefore = test::processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    QTest::keyClick(&window, Qt::Key_F2);
    const double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double cpuShare = (test::processCpuSeconds() - cpuBefore) * 1000.0 / wallMs;

    const ScanFileResult& r = lastScanFile(window);
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

} // namespace
} // namespace korv
