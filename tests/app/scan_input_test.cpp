// Scan Input in the real window offscreen: the simulated input on the virtual clock feeds the
// capture; what the window shows, the messages, menus and allocations during and after the run.

#include "settings/settings_inputs.h"
#include "support/dialog_controls.h"
#include "support/scan_input_fixture.h"
#include "support/test_signals.h"

#include <cmath>
#include <numbers>

namespace korv::test {
namespace {

TEST_F(ScanInputTest, AToneLightsItsRowAcrossTheRingWrapAndARightClickFreezes) {
    // Ten seconds: past the end of the second 4-second buffer and back into the first.
    run(10000);
    const ScanInputResult& r = lastScanInput(*window);
    EXPECT_EQ(r.bufferSeconds, MIN_BUFFER_SECONDS);
    // One column per 10 msec after the start delay (window plus display delay).
    EXPECT_NEAR(static_cast<double>(r.columnsDrawn), 970.0, 15.0);
    const AppState& s = window->state();
    ASSERT_TRUE(s.held.spectralImage);
    const PlotLayout& l = s.view.layout;
    const int rows = l.plotHeight - l.topBand;
    const int toneY = l.plotHeight - 1 - rows / 4;
    for (const int x : {5, l.plotWidth / 2, l.plotWidth - 3}) {
        EXPECT_NEAR(test::loudestRow(window->state(), x), rows / 4, 2) << "column " << x;
    }
    EXPECT_TRUE(noted("140"));
    EXPECT_EQ(s.settings.lastMode, 1);
    EXPECT_FALSE(r.fileWritten);
    expectIdle(1); // the kept image alone

    // Frozen after half a second, without the scroll memory: the columns after it are never
    // drawn, the time readout keeps the moment of the freeze while the readouts follow the
    // pointer over the frozen picture, no note follows, and the picture stays after the stop.
    window->state().settings.scrollMemory = false;
    notesSeen.clear();
    const std::int64_t start = clock.currentMs();
    rightClickAt(start + 500);
    double timeShown = 0.0;
    std::vector<QImage> readouts; // on the tone, then off it
    at(start + 1500, [&] {
        timeShown = window->state().view.timeNowMsec;
        for (const int y : {toneY, l.plotHeight - 1 - rows / 2}) {
            test::sendMouse(*window, QEvent::MouseMove, {5, y});
            readouts.push_back(window->surface().copyRect(l.readoutBox));
        }
    });
    run(start + 2000);
    EXPECT_NEAR(timeShown, 500.0, 30.0);
    ASSERT_EQ(readouts.size(), 2U);
    EXPECT_NE(readouts[0], readouts[1]);
    ASSERT_TRUE(s.view.runningScrollImage);
    EXPECT_FALSE(s.held.spectralImage);
    EXPECT_NE(*s.view.runningScrollImage->surface().pixel(5, toneY), kBackgroundIndex);
    EXPECT_EQ(*s.view.runningScrollImage->surface().pixel(l.plotWidth / 2, toneY),
              kBackgroundIndex);
    EXPECT_FALSE(noted("140"));
    expectIdle();
    window->state().settings.scrollMemory = true;

    // Stopped within the start delay: nothing drawn, the note all the same.
    run(clock.currentMs() + 100);
    EXPECT_EQ(lastScanInput(*window).columnsDrawn, 0);
    EXPECT_TRUE(noted("140"));
    expectIdle();

    // A resize during the run ends it and runs it again in the new layout, without a note.
    notesSeen.clear();
    const int widthBefore = l.plotWidth;
    at(clock.currentMs() + 1000, [this] { window->resize(700, 600); });
    run(clock.currentMs() + 60000);
    pressAt(clock.currentMs() + 1000, cmd::kStop);
    QCoreApplication::processEvents(); // the re-run, until that STOP
    EXPECT_NE(l.plotWidth, widthBefore);
    EXPECT_GT(lastScanInput(*window).columnsDrawn, 50);
    EXPECT_EQ(s.held.spectralImage->width(), l.plotWidth);
    expectIdle();
}

TEST_F(ScanInputTest, TheDialogOffersTheInputsRatesAndA60kToneShowsAtItsFrequencyAt192k) {
    constexpr int kHighRate = 192000;
    constexpr double kHighToneHz = 60000.0;
    signal = [](SimulatedSoundInput& in) {
        in.setRates({44100, 96000, kHighRate});
        in.setSignal(
            [](std::int64_t frame, int) { return tone(frame, 0.5, kHighToneHz, kHighRate); });
    };
    window->state().settings.variables = Variables::Adjust;
    // The stored 5.5 kHz is not offered: the dialog opens on the nearest rate offered.
    std::vector<int> offered;
    bool nearestChecked = false;
    prompts->queueDialog([&](QDialog& d) {
        for (const SampleRateChoice& c : SAMPLE_RATE_CHOICES) {
            if (d.findChild<QAbstractButton*>(controlName(c.id)) != nullptr) {
                offered.push_back(c.hz);
            }
        }
        nearestChecked = d.findChild<QAbstractButton*>(controlName(SAMPLE_RATE_44K))->isChecked();
        d.findChild<QAbstractButton*>(controlName(SAMPLE_RATE_192K))->click();
        d.findChild<QScrollBar*>(controlName(ID_HIGH_BAND_SCROLL_INPUT))->setValue(kHighRate / 2);
        ScriptedPrompts::pressOk(d);
    });
    run(3000);
    EXPECT_EQ(offered, (std::vector<int>{44100, 96000, kHighRate}));
    EXPECT_TRUE(nearestChecked);
    EXPECT_EQ(lastScanInput(*window).sampleRate, kHighRate);
    EXPECT_EQ(window->state().settings.inputSampleRateHz, 192000);
    // The tone's row is that of the bin nearest it, whose centre is k x rate / N, on the
    // linear band 0 .. rate / 2.
    const int n = window->state().settings.fftSize();
    const double binHz =
        static_cast<double>(kHighRate) * std::round(kHighToneHz * n / kHighRate) / n;
    const int rows = window->state().view.layout.plotHeight - window->state().view.layout.topBand;
    const double expectedRow = binHz / (kHighRate / 2.0) * rows;
    ASSERT_GT(lastScanInput(*window).columnsDrawn, 200);
    for (const int x : {5, 100, 200}) {
        EXPECT_NEAR(test::loudestRow(window->state(), x), expectedRow, 2.0) << "column " << x;
    }
    expectIdle();
}

TEST_F(ScanInputTest, ALinePlotIsKeptAndPeakHoldAveragesOverTheWholeCountWhileTheRingFills) {
    // The line plot: mode 2, its picture kept in the plot image, the level log offered. The
    // ring of 128 steps is not full before the stop: with PEAK HOLD on from the first steps
    // the tone's level is the sum of the steps taken over all 128, the steps of a frozen
    // display among them, while the window stays as it was frozen.
    AppSettings& st = window->state().settings;
    st.displayType = DisplayType::LinePlot;
    st.averageCountPlot = MAX_AVERAGE_COUNT;
    const auto loudest = [this, &st] {
        const std::span<const float> levels = scanPlotView(*window)->levelDb();
        return *std::max_element(levels.begin(), levels.end()) -
               4.0f * static_cast<float>(st.levelScaleCode);
    };
    run(1000);
    EXPECT_GT(lastScanInput(*window).columnsDrawn, 50);
    EXPECT_EQ(st.lastMode, 2);
    EXPECT_TRUE(window->state().view.plotImage);
    EXPECT_TRUE(window->state().logs.logDataAvailable);
    const float free = loudest();
    const std::int64_t start = clock.currentMs();
    at(start + 400, [this] { window->button(cmd::kPeakHold)->click(); });
    rightClickAt(start + 600);
    QImage frozen, later;
    at(start + 700, [&] { frozen = window->surface().image().copy(); });
    at(start + 990, [&] { later = window->surface().image().copy(); });
    run(start + 1000);
    EXPECT_FALSE(frozen.isNull());
    EXPECT_EQ(later, frozen);
    const float held = loudest();
    const double steps = static_cast<double>(lastScanInput(*window).columnsDrawn);
    ASSERT_LT(steps, MAX_AVERAGE_COUNT);
    EXPECT_NEAR(held, free * steps / MAX_AVERAGE_COUNT, 2.0);
    expectIdle();
}

TEST_F(ScanInputTest, AtTheSmallestTimeScaleEachColumnWaitsItsMillisecond) {
    // Once the columns come, the clock moves only while the run sleeps: a column not waited for
    // would cost no time at all.
    window->state().settings.timeScaleMsecSaved = MIN_TIME_SCALE_MSEC;
    constexpr long kColumns = 500;
    std::int64_t firstMs = -1;
    std::int64_t lastMs = -1;
    long columns = 0;
    at(1000, [&] {
        clock.setAdvanceOnRead(0);
        firstMs = clock.currentMs();
    });
    setScanInputColumnProbe(*window, [&](std::int64_t, std::int64_t) {
        if (firstMs >= 0 && ++columns == kColumns) {
            lastMs = clock.currentMs();
            window->commands().post(cmd::kStop, 0);
        }
    });
    QTest::keyClick(window.get(), Qt::Key_F3);
    setScanInputColumnProbe(*window, {});
    // Columns late on their schedule (the clock moved on every read until then) are caught up.
    EXPECT_GE(static_cast<double>(lastMs - firstMs + SCAN_CATCH_UP_MS),
              (kColumns - 1) * MIN_TIME_SCALE_MSEC);
    EXPECT_LE(static_cast<double>(lastMs - firstMs), (kColumns + 1) * MIN_TIME_SCALE_MSEC);
    expectIdle();
}

TEST_F(ScanInputTest, WithThePitchDetectorThePictureIsTimedByTheFramesCapturedStripAndAll) {
    // Two clicks of the sound captured, 3 s apart, after the pitch detector's 16384 frames
    // (3 s at this rate) have come in.
    static constexpr std::int64_t kClickMs[] = {4000, 7000};
    signal = [](SimulatedSoundInput& in) {
        in.setSignal([](std::int64_t frame, int) {
            return frame == kClickMs[0] * kRate / 1000 || frame == kClickMs[1] * kRate / 1000 ? 0.9
                                                                                              : 0.0;
        });
    };
    AppSettings& st = window->state().settings;
    st.pitchDetector = true;
    run(9000);
    const AppState& s = window->state();
    ASSERT_TRUE(s.held.spectralImage);
    const IndexedSurface& kept = s.held.spectralImage->surface();
    const PlotLayout& l = s.view.layout;
    const int drawn =
        static_cast<int>(std::min<long>(lastScanInput(*window).columnsDrawn, l.plotWidth));
    ASSERT_GT(drawn, 400);
    // Per column, the spectral rows' sum of palette indices, and whether the waveform strip
    // swings up from its middle.
    std::vector<long> energy(static_cast<std::size_t>(drawn), 0);
    std::vector<int> swinging;
    for (int x = 0; x < drawn; ++x) {
        for (int y = l.topBand + 1; y < l.plotHeight; ++y) {
            energy[static_cast<std::size_t>(x)] += *kept.pixel(x, y);
        }
        if (*kept.pixel(x, l.topBand / 2 - 5) == kSignal1Index) {
            swinging.push_back(x);
        }
    }
    // Each click is loudest in the column whose window it is the middle of; that column is
    // labelled with the click's time, and the strip shows the click there too.
    const long quiet = *std::min_element(energy.begin(), energy.end());
    const ViewGeometry g = currentViewGeometry(s);
    std::vector<int> loudest;
    for (int x = 0; x < drawn; ++x) {
        const bool loud =
            energy[static_cast<std::size_t>(x)] > quiet + 50 * (l.plotHeight - l.topBand);
        if (loud && (loudest.empty() || x > loudest.back() + 30)) {
            loudest.push_back(x);
        } else if (loud && energy[static_cast<std::size_t>(x)] >
                               energy[static_cast<std::size_t>(loudest.back())]) {
            loudest.back() = x;
        }
    }
    ASSERT_EQ(loudest.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(g.columnTimeMsec(loudest[i]), static_cast<double>(kClickMs[i]), 15.0);
        const long near = std::count_if(swinging.begin(), swinging.end(),
                                        [&](int x) { return std::abs(x - loudest[i]) <= 2; });
        EXPECT_GE(near, 1) << "click " << i;
    }
    EXPECT_LE(swinging.size(), 6u);
    // The time per column the dialogs show after the run is that of the sound.
    EXPECT_NEAR(st.timeScaleMsec * static_cast<float>(loudest[1] - loudest[0]), 3000.0f, 15.0f);
    expectIdle();
}

TEST_F(ScanInputTest, AfterAScanTheAnalyzeFileDialogOpensOnItsOwnTimeScaleOnce) {
    // A scan at 4 msec a column, then Analyze File twice with its dialog: the first opening
    // shows 10.00 instead of the scan's time per column, the second what is in force.
    AppSettings& st = window->state().settings;
    st.timeScaleMsecSaved = 4.0f;
    run(2000);
    ASSERT_GT(lastScanInput(*window).columnsDrawn, 100);
    const QString scanned = QString::asprintf("%-4.2f", static_cast<double>(st.timeScaleMsec));
    ASSERT_NE(scanned, QStringLiteral("10.00"));
    st.variables = Variables::Adjust;
    const QString file = dir.write(
        QStringLiteral("a.wav"), test::waveFile(kRate, 1, 16, kRate, test::sines({500.0}, kRate)));
    QStringList shown;
    for (int i = 0; i < 2; ++i) {
        prompts->queueFile(file);
        prompts->queueDialog([&shown](QDialog& d) {
            shown << test::editText(d, ID_TIME_SCALE_EDIT);
            ScriptedPrompts::pressCancel(d);
        });
        QTest::keyClick(window.get(), Qt::Key_F1);
    }
    EXPECT_EQ(shown, (QStringList{QStringLiteral("10.00"), scanned}));
}

TEST_F(ScanInputTest, DeviceFailuresLostSoundAndCommandLineChecks) {
    failNewDevice = SimulatedFailure::Open;
    run(1000);
    EXPECT_EQ(test::lastMessage(*prompts), kCannotOpenAudioDevice.text);
    EXPECT_EQ(lastScanInput(*window).columnsDrawn, 0);
    expectIdle(0);

    // A device that opens but will not start ends the run without a word: no message, no note.
    // The colour dialog is closed all the same, as for every scan.
    ASSERT_NE(input, nullptr);
    input->failAt(SimulatedFailure::Write);
    QTest::keyClick(window.get(), Qt::Key_F4);
    ASSERT_NE(colourDialog(window.get()), nullptr);
    const std::size_t before = prompts->messages().size();
    notesSeen.clear();
    run(clock.currentMs() + 1000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(colourDialog(window.get()), nullptr);
    EXPECT_EQ(prompts->messages().size(), before);
    EXPECT_TRUE(notesSeen.isEmpty());
    EXPECT_EQ(lastScanInput(*window).columnsDrawn, 0);
    expectIdle();
    clock.advance(1000); // the STOP meant for that run comes while idle
    QCoreApplication::processEvents();

    // Mode 1 from the command line: the high limit is cut to 22 kHz, which asks for 44 kHz.
    input->failAt(SimulatedFailure::None);
    AppState& s = window->state();
    s.control.autoRun = true;
    s.control.timeSpanSeconds = 10;
    s.settings.lowBandHz = 0;
    s.settings.highBandHz = 30000;
    run(clock.currentMs() + 1000);
    EXPECT_EQ(test::lastMessage(*prompts), "Highest Frequency Limited to 22 kHz");
    EXPECT_EQ(lastScanInput(*window).sampleRate, 44100);
    EXPECT_GT(lastScanInput(*window).columnsDrawn, 0);
    expectIdle();
    // The machine stalls for 9 s: both 4-second buffers fill and a second of sound is lost,
    // which is told once at the end.
    const std::size_t shown = prompts->messages().size();
    at(clock.currentMs() + 1000, [this] { clock.advance(9000); });
    run(clock.currentMs() + 12000);
    ASSERT_EQ(prompts->messages().size(), shown + 1);
    EXPECT_EQ(test::lastMessage(*prompts), kInputSoundLost.text);
    expectIdle();
    // A band narrower than 10 Hz ends the command before anything opens.
    s.control.autoRun = true;
    s.settings.lowBandHz = 1000;
    s.settings.highBandHz = 1005;
    run(clock.currentMs() + 1000);
    EXPECT_EQ(test::lastMessage(*prompts), MSG_IMPROPER_FREQUENCY_LIMITS);
    EXPECT_EQ(lastScanInput(*window).columnsDrawn, 0);
    expectIdle();
}

TEST_F(ScanInputTest, AnInputHandedOverInLumpsGivesEachColumnFramesOfItsOwn) {
    // A rising tone from an input that hands its frames over half a second at a time, as a
    // sound server's does: each column shows the tone a step higher, never the same frames
    // again until the next lump comes.
    constexpr double kFromHz = 300.0;
    constexpr double kRisePerSecond = 350.0;
    signal = [](SimulatedSoundInput& in) {
        in.setSignal([](std::int64_t frame, int) {
            const double t = static_cast<double>(frame) / kRate;
            return 0.5 *
                   std::sin(2.0 * std::numbers::pi * (kFromHz + kRisePerSecond * t / 2.0) * t);
        });
        for (std::int64_t ms = 0; ms < 8000; ms += 500) {
            in.addStall(ms, 499);
        }
    };
    run(7000);
    const long drawn =
        std::min<long>(lastScanInput(*window).columnsDrawn, window->state().view.layout.plotWidth);
    ASSERT_GT(drawn, 300);
    // The tone rises half a row a column: the loudest row stays put a few columns at most.
    int longest = 0;
    int same = 1;
    for (int x = 1; x < drawn; ++x) {
        same = loudestRow(window->state(), x) == loudestRow(window->state(), x - 1) ? same + 1 : 1;
        longest = std::max(longest, same);
    }
    EXPECT_LE(longest, 6);
    expectIdle();
}

} // namespace
} // namespace korv::test
