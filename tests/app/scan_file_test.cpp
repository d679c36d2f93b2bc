// Scan File in the real window offscreen: generated wave files streamed to the simulated output
// on the virtual clock while the Scroll display draws; what the window, the kept image, the
// device and the allocation count show during and after the scan.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/modes.h"
#include "audio/playback_messages.h"
#include "modes/play.h"
#include "modes/scan_file.h"
#include "platform/allocations.h"
#include "platform/commands.h"
#include "platform/sound_simulated.h"
#include "support/platform_scopes.h"
#include "support/temp_dir.h"
#include "support/test_signals.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace korv {
namespace {

constexpr int kRate = 8000;

class ScanFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        clock.setAdvanceOnRead(1);
        MainWindowOptions o;
        o.settingsFile = dir.file(QStringLiteral("korv.ini")).toStdString();
        o.clock = &clock;
        o.makeSoundOutput = [this]() -> std::unique_ptr<SoundOutput> {
            auto out = std::make_unique<SimulatedSoundOutput>(clock);
            out->failAt(failNewDevice);
            output = out.get();
            return out;
        };
        window = std::make_unique<MainWindow>(o);
        installModes(*window);
        window->resize(900, 700);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->startUp({});
        AppSettings& st = appState().settings;
        st.variablesChoice = cmd::kVariablesFreeze;
        st.displayTypeChoice = DISPLAY_SCROLL;
        st.freqScaleChoice = FREQ_SCALE_LINEAR;
        st.fftSizeChoice = 1083;
        st.resolutionFactor = 10;
        st.lowBandHz = 0;
        st.highBandHz = kRate / 2;
        st.timeScaleMsecSaved = 10.0f;
        st.averageCountScroll = 1;
        st.pitchDetectorChoice = PITCH_DETECTOR_OFF;
        st.analysisAtStopChoice = ANALYSIS_AT_STOP_OFF;
        st.scrollMemChoice = SCROLL_MEM_ON;
        st.channelChoice = CHANNEL_DUAL;
        // Note 140 is looked for while the scan sleeps through it.
        clock.addListener([this](std::int64_t) {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                noteSeen = noteSeen || (w->objectName() == QStringLiteral("140") && w->isVisible());
            }
        });
    }

    // Writes the file and scans it with F2; returns the virtual msec the scan took.
    std::int64_t scan(const QByteArray& file) {
        const QString path = dir.write(QStringLiteral("scan.wav"), file);
        EXPECT_FALSE(path.isEmpty());
        prompts->queueFile(path);
        const std::int64_t start = clock.currentMs();
        QTest::keyClick(window.get(), Qt::Key_F2);
        return clock.currentMs() - start;
    }
    void stopAt(std::int64_t afterMs) {
        const std::int64_t at = clock.currentMs() + afterMs;
        clock.addListener([at, sent = false](std::int64_t now) mutable {
            if (!sent && now >= at) {
                sent = true;
                postCommand(cmd::kStop, 0);
            }
        });
    }
    // The menus and devices of an ended scan.
    void expectIdle() const {
        EXPECT_FALSE(appState().modeRunning);
        EXPECT_FALSE(appState().modeHoldsSurfaces);
        EXPECT_TRUE(window->menu().enabled(cmd::kScanFile));
        EXPECT_TRUE(window->menu().enabled(cmd::kAnalyzeFile));
        EXPECT_FALSE(window->button(cmd::kStop)->isEnabled());
        ASSERT_NE(windowPlayback(), nullptr);
        EXPECT_FALSE(windowPlayback()->active());
    }
    static const IndexedSurface& kept() { return appState().spectralImage->surface(); }
    // The spectral row of column x in a band with the highest palette index.
    static int loudestRow(int x, int bandTop) {
        const AppState& s = appState();
        const int rows = s.layout.plotHeight - s.layout.topBand;
        int best = 0;
        int bestIndex = -1;
        for (int r = 0; r < rows; ++r) {
            const int index = *kept().pixel(x, bandTop + s.layout.plotHeight - 1 - r);
            if (index > bestIndex) {
                bestIndex = index;
                best = r;
            }
        }
        return best;
    }

    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    VirtualClock clock;
    SimulatedSoundOutput* output = nullptr;
    SimulatedFailure failNewDevice = SimulatedFailure::None;
    std::unique_ptr<MainWindow> window;
    bool noteSeen = false;
};

TEST_F(ScanFileTest, ColumnsFollowTheClockAToneLightsItsRowAndTheEndShowsTheNote) {
    const long frames = kRate * 10;
    const std::int64_t took =
        scan(test::waveFile(kRate, 1, 16, frames, test::sines({1000.0}, kRate)));
    const ScanFileResult& r = lastScanFile();
    EXPECT_TRUE(r.endReached);
    EXPECT_TRUE(noteSeen);
    // One column per 10 msec of sound, give or take the steps lost to the start and end.
    EXPECT_NEAR(static_cast<double>(r.columnsDrawn), 1000.0, 10.0);
    EXPECT_GE(took, 10000);
    EXPECT_NEAR(appState().settings.timeScaleMsec, 10.0, 0.3);
    EXPECT_EQ(appState().run.params.columnMsec, appState().settings.timeScaleMsec);
    // The whole file was read once, in halves.
    EXPECT_EQ(r.fileBytesRead, frames * 2);
    // The device heard the file's sound.
    EXPECT_GE(output->played().size(), static_cast<std::size_t>(frames * 2) * 9 / 10);
    // The kept image, scrolled full: the newest columns at the right edge too show 1 kHz of
    // 0 .. 4 kHz.
    const AppState& s = appState();
    ASSERT_TRUE(s.spectralImage);
    const int rows = s.layout.plotHeight - s.layout.topBand;
    for (const int x : {5, s.layout.plotWidth / 2, s.layout.plotWidth - 3}) {
        EXPECT_NEAR(loudestRow(x, 0), rows / 4, 2) << "column " << x;
    }
    expectIdle();
    EXPECT_EQ(openAllocations(), 1); // the kept image alone
}

TEST_F(ScanFileTest, DualStereoDrawsTwoPanesSevenPixelsApart) {
    appState().settings.scrollMemChoice = SCROLL_MEM_ON;
    scan(test::waveFile(kRate, 2, 16, kRate * 6, test::sines({500.0, 3000.0}, kRate)));
    const AppState& s = appState();
    ASSERT_TRUE(s.spectralImage);
    const int w = s.layout.plotWidth;
    const int rows = s.layout.plotHeight - s.layout.topBand;
    const int lowerBand = s.layout.plotHeight; // the left channel
    // Left channel in the left pane, right channel in the right pane; the gap stays empty.
    EXPECT_NEAR(loudestRow(w / 2 - 4, lowerBand), rows / 8, 2);
    EXPECT_NEAR(loudestRow(w / 2 + 4, 0), rows * 3 / 4, 2);
    for (int x = w / 2 - 3; x < w / 2 + 4; ++x) {
        EXPECT_EQ(*kept().pixel(x, lowerBand + s.layout.plotHeight - 1 - rows / 8),
                  kBackgroundIndex);
        EXPECT_EQ(*kept().pixel(x, s.layout.plotHeight - 1 - rows * 3 / 4), kBackgroundIndex);
    }
    expectIdle();
}

TEST_F(ScanFileTest, StopInTheFirstSecondHandsAnalyzeFileTheSpanFromTheStart) {
    appState().settings.analysisAtStopChoice = ANALYSIS_AT_STOP_ON;
    appState().settings.scrollMemChoice = SCROLL_MEM_OFF;
    stopAt(600);
    scan(test::waveFile(kRate, 1, 16, kRate * 20, test::sines({1000.0}, kRate)));
    const ScanFileResult& r = lastScanFile();
    EXPECT_FALSE(r.endReached);
    EXPECT_FALSE(noteSeen);
    EXPECT_EQ(r.stopMs, 0);
    // 1.5 loop buffers of 16-bit mono at 8 kHz.
    EXPECT_EQ(r.endMs, 3 * (65536 * 2 + 8) * 1000 / (2 * kRate * 2));
    const AppState& s = appState();
    EXPECT_EQ(s.settings.lastMode, 0);
    EXPECT_EQ(s.run.beginMsec, 0);
    EXPECT_EQ(s.run.endMsec, r.endMs);
    ASSERT_TRUE(s.samples);
    EXPECT_TRUE(s.spectralImage);
}

TEST_F(ScanFileTest, ShortAndTruncatedFilesEndOnTheClockAndGiveEverythingBack) {
    appState().settings.scrollMemChoice = SCROLL_MEM_OFF;
    // Shorter than half a buffer: the first read ends the data.
    scan(test::waveFile(kRate, 1, 8, kRate / 2, test::sines({1000.0}, kRate)));
    EXPECT_TRUE(lastScanFile().endReached);
    EXPECT_NEAR(static_cast<double>(lastScanFile().columnsDrawn), 50.0, 4.0);
    EXPECT_TRUE(noteSeen);
    expectIdle();
    EXPECT_FALSE(appState().spectralImage);
    EXPECT_EQ(openAllocations(), 0);

    // A data chunk that claims twice what the file holds: the scan ends where the data does.
    QByteArray file = test::waveFile(kRate, 1, 16, kRate * 3, test::sines({1000.0}, kRate));
    const std::uint32_t claimed = kRate * 3 * 2 * 2;
    std::memcpy(file.data() + 40, &claimed, 4);
    noteSeen = false;
    const std::int64_t took = scan(file);
    EXPECT_TRUE(lastScanFile().endReached);
    EXPECT_EQ(lastScanFile().fileBytesRead, kRate * 3 * 2);
    EXPECT_NEAR(static_cast<double>(lastScanFile().columnsDrawn), 300.0, 8.0);
    EXPECT_LT(took, 4500);
    expectIdle();
    EXPECT_EQ(openAllocations(), 0);
}

TEST_F(ScanFileTest, ADeviceThatCannotOpenGivesTheMessageAndTheMenusBack) {
    failNewDevice = SimulatedFailure::Open;
    scan(test::waveFile(kRate, 1, 16, kRate, test::sines({1000.0}, kRate)));
    ASSERT_FALSE(prompts->messages().empty());
    EXPECT_EQ(prompts->messages().back().text, kCannotOpenAudioDevice.text);
    EXPECT_EQ(lastScanFile().columnsDrawn, 0);
    expectIdle();
    EXPECT_EQ(openAllocations(), 0);
}

TEST_F(ScanFileTest, ASlowMachineGetsTheMeasuredTimeScale) {
    // Every look at the clock costs 30 msec: the steps come slower than 10 msec apart.
    clock.setAdvanceOnRead(30);
    stopAt(3000);
    scan(test::waveFile(kRate, 1, 16, kRate * 20, test::sines({1000.0}, kRate)));
    const ScanFileResult& r = lastScanFile();
    ASSERT_GT(r.columnsDrawn, 10);
    EXPECT_GT(r.timeScaleMsec, 25.0);
    EXPECT_EQ(appState().settings.timeScaleMsec, static_cast<float>(r.timeScaleMsec));
    EXPECT_EQ(appState().run.params.columnMsec, appState().settings.timeScaleMsec);
    expectIdle();
}

TEST_F(ScanFileTest, AnHourLongFileIsStreamedNotHeld) {
    // An hour of 8 kHz 8-bit mono, the samples left sparse by growing the file.
    const long frames = 3600L * kRate;
    QByteArray head = test::waveFile(kRate, 1, 8, 1, test::sines({1000.0}, kRate));
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames);
    const std::uint32_t riffBytes = dataBytes + 36;
    std::memcpy(head.data() + 4, &riffBytes, 4);
    std::memcpy(head.data() + 40, &dataBytes, 4);
    const QString path = dir.write(QStringLiteral("hour.wav"), head);
    QFile grow(path);
    ASSERT_TRUE(grow.resize(44 + frames));
    prompts->queueFile(path);
    stopAt(10000);
    QTest::keyClick(window.get(), Qt::Key_F2);
    const ScanFileResult& r = lastScanFile();
    EXPECT_FALSE(r.endReached);
    EXPECT_NEAR(static_cast<double>(r.columnsDrawn), 1000.0, 10.0);
    // 10 s of sound is 80000 bytes: read in halves of 32772, never the whole 28.8 MB.
    EXPECT_GE(r.fileBytesRead, 80000);
    EXPECT_LE(r.fileBytesRead, 80000 + 2 * 32772);
    EXPECT_FALSE(appState().samples);
    expectIdle();
}

} // namespace
} // namespace korv
