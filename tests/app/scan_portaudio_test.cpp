// The scans on a real paced device without a sound card: a private PulseAudio server (a null
// sink, and a default source that is a 1 kHz sine), reached by PortAudio through ALSA's pulse
// plugin, with the real main window offscreen on the real clock. These are the program tests
// that wait on the real clock, because the real device is what they measure; so each is one
// short scan (and one short calibration). The test starts the server and ends it by its process
// id.
//
// KORV_SCAN_SECONDS (3 unless set) lengthens the file scan for measuring by hand; the CPU share
// of the scan is printed (docs/performance.md).

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/sound_level_window.h"
#include "meter/calibrator.h"
#include "meter/sound_level_meter.h"
#include "modes/scan_file.h"
#include "modes/scan_input.h"
#include "modes/sound_level.h"
#include "platform/commands.h"
#include "platform/portaudio_input.h"
#include "settings/preferences.h"
#include "shell/modes.h"
#include "support/dialog_controls.h"
#include "support/meter_reference.h"
#include "support/platform_scopes.h"
#include "support/process_cpu.h"
#include "support/pulse_server.h"
#include "support/scan_input_fixture.h"
#include "support/temp_dir.h"
#include "support/test_signals.h"
#include "support/window_setup.h"

#include <QAbstractButton>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
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
    // The server hands its input over half a second at a time and the columns trail it by
    // that much, each on frames of its own: half a second of columns at least.
    ASSERT_GT(columns, 50);
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

// The largest difference between two intervals' levels: the broadband ones, and the bands' no
// more than `bandRangeDb` below the Leq in either. Further down are the bands' filters still
// ringing from where the sound began, which differs between a run and a recording of it.
double largestDifference(const meter::IntervalLevels& a, const meter::IntervalLevels& b,
                         double bandRangeDb) {
    double worst = 0.0;
    for (const auto& [x, y] :
         {std::pair{a.leq, b.leq}, {a.lmax, b.lmax}, {a.lmin, b.lmin}, {a.lcpeak, b.lcpeak}}) {
        worst = std::max(worst, std::abs(x - y));
    }
    EXPECT_EQ(a.bandLeq.size(), b.bandLeq.size());
    for (std::size_t i = 0; i < std::min(a.bandLeq.size(), b.bandLeq.size()); ++i) {
        if (std::max(a.bandLeq[i] - a.leq, b.bandLeq[i] - b.leq) > -bandRangeDb) {
            worst = std::max(worst, std::abs(a.bandLeq[i] - b.bandLeq[i]));
        }
    }
    return worst;
}

TEST_F(RealDeviceScan, CalibrateAndTheSoundLevelWindowMeasureTheHeardSineAsTheCoreMeterDoes) {
    // Calibrate: the server's 1 kHz sine taken for a calibrator of the dialog's level (94 dB),
    // recorded from the input until it has been steady long enough (a reading a second).
    std::string verdict;
    double toneHz = 0.0;
    double toneDbfs = 0.0;
    double fullScaleShown = 0.0;
    prompts->queueDialog([&](QDialog& d) {
        const auto number = [&d](const char* name) {
            QLineEdit* line = test::named<QLineEdit>(d, QString::fromLatin1(name));
            return line != nullptr ? line->text().toDouble() : std::nan("");
        };
        QLabel* shown = test::named<QLabel>(d, QStringLiteral("Verdict"));
        QAbstractButton* record = test::named<QAbstractButton>(d, QStringLiteral("Record"));
        if (shown == nullptr || record == nullptr) {
            ScriptedPrompts::pressCancel(d);
            return;
        }
        record->click();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!shown->text().startsWith(QStringLiteral("Accepted")) &&
               std::chrono::steady_clock::now() < end) {
            QTest::qWait(50);
        }
        verdict = shown->text().toStdString();
        toneHz = number("Tone (Hz)");
        toneDbfs = number("Level (dBFS)");
        fullScaleShown = number("Full-scale level (dB SPL)");
        test::named<QAbstractButton>(d, QStringLiteral("Store"))->click();
    });
    window->commands().send(cmd::kCalibrateInput, 0);
    EXPECT_EQ(verdict.rfind("Accepted", 0), 0U) << verdict;
    EXPECT_NEAR(toneHz, 1000.0, 1.0);
    // PulseAudio's sine is of half full scale.
    EXPECT_NEAR(toneDbfs, 20.0 * std::log10(0.5), 0.05);
    EXPECT_NEAR(fullScaleShown, meter::kDefaultCalibratorLevelDb - toneDbfs, 0.011);
    // Stored for the input it heard: PortAudio's default input.
    const std::string device = makePortAudioInput()->deviceName();
    const Preferences& prefs = window->state().preferences;
    const DeviceCalibration* stored = calibrationOf(prefs, device);
    ASSERT_NE(stored, nullptr) << device;
    EXPECT_EQ(prefs.calibrations.size(), 1U);
    EXPECT_NEAR(stored->fullScaleDb, meter::kDefaultCalibratorLevelDb - toneDbfs, 0.011);
    EXPECT_TRUE(prompts->messages().empty());

    // Scan Input at the server's rate (the sine reaches the input unresampled) with the Sound
    // Level window open, in half-second intervals, and a recording of all but the first.
    AppSettings& st = window->state().settings;
    constexpr int kRate = 44100;
    test::scanSettings(st, kRate);
    st.inputSampleRateHz = kRate;
    st.resolutionBits = 16;
    st.stereo = false;
    st.recording = Recording::Choice::Manual;
    window->state().preferences.meterIntervalSeconds = 0.5;
    const QString path = dir.file(QStringLiteral("heard.wav"));
    prompts->queueFile(path);
    QTest::keyClick(window.get(), Qt::Key_F7);
    const SoundLevelWindow* meterWindow = soundLevelWindow(window.get());
    ASSERT_NE(meterWindow, nullptr);
    // By the sound heard, not by the clock (the device may start late): SAVE once the first
    // interval is in, STOP after eight more, or after 15 s whatever came.
    QTimer pace;
    bool saved = false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const std::size_t intervals = lastSoundLevelIntervals(*window).size();
        if (!saved && intervals >= 1) {
            window->commands().post(cmd::kPlay, 0);
            saved = true;
        } else if (intervals >= 9 || std::chrono::steady_clock::now() > giveUp) {
            window->commands().post(cmd::kStop, 0);
            pace.stop();
        }
    });
    pace.start(20);
    QTest::keyClick(window.get(), Qt::Key_F3);
    EXPECT_TRUE(meterWindow->header().endsWith(
        QStringLiteral("dB SPL (full scale %1 dB)").arg(stored->fullScaleDb, 0, 'f', 1)))
        << meterWindow->header().toStdString();

    // The core meter on the recording: the run's own frames from the press on.
    const test::ReadWave w = test::readWave(path);
    ASSERT_TRUE(w.valid);
    ASSERT_GT(w.samples.size(), std::size_t{3 * kRate}) << "four seconds recorded";
    std::vector<double> heard(w.samples.size());
    double sumSquares = 0.0;
    for (std::size_t i = 0; i < heard.size(); ++i) {
        heard[i] = w.samples[i] / 32768.0;
        sumSquares += heard[i] * heard[i];
    }
    meter::SoundLevelMeter core(test::referenceMeterSettings(prefs, kRate));
    std::vector<meter::IntervalLevels> tool;
    const auto sink = [&tool](const meter::IntervalLevels& l) { tool.push_back(l); };
    core.feed(heard, sink);
    core.finish(sink);
    tool.pop_back();          // shorter than the others
    tool.erase(tool.begin()); // the filters starting in the middle of the tone

    // The window's whole intervals, but the first (the device starting): steady, and each the
    // core meter's of any whole interval of the recording but its first, since a steady
    // tone's levels do not depend on where an interval falls.
    std::vector<meter::IntervalLevels> live = lastSoundLevelIntervals(*window);
    ASSERT_GE(live.size(), 8U);
    live.pop_back(); // cut short by STOP
    live.erase(live.begin());
    double spread = 0.0;
    double worst = 0.0;
    for (const meter::IntervalLevels& l : live) {
        EXPECT_EQ(l.endFrame - l.startFrame, kRate / 2);
        spread = std::max(spread, largestDifference(l, live.front(), 60.0));
        for (const meter::IntervalLevels& t : tool) {
            worst = std::max(worst, largestDifference(l, t, 60.0));
        }
    }
    EXPECT_LT(spread, 0.05);
    EXPECT_LT(worst, 0.05);
    // A sine's LAeq at 1 kHz is its mean square's level re that of a full-scale sine.
    const double sineDb = 10.0 * std::log10(sumSquares / static_cast<double>(heard.size()) / 0.5);
    EXPECT_NEAR(live.front().leq, sineDb, 0.05);
    EXPECT_NEAR(live.front().leq, toneDbfs, 0.05);
    std::printf(
        "%s hears the server's sine: %.3f dBFS in the recording, Calibrate %.2f dBFS (full scale "
        "%.2f dB SPL), the window's LAeq %.3f dBFS over %zu intervals (spread %.4f dB), "
        "largest difference from the core meter's %zu intervals %.4f dB\n",
        device.c_str(), sineDb, toneDbfs, stored->fullScaleDb, live.front().leq, live.size(),
        spread, tool.size(), worst);
}

} // namespace
} // namespace korv
