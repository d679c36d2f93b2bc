// Scan File in the real window offscreen: generated wave files streamed to the simulated output
// on the virtual clock while the Scroll display draws; what the window, the kept image, the
// device and the allocation count show during and after the scan.

#include "analysis/frequency_scale.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/modes.h"
#include "audio/playback_messages.h"
#include "dialogs/control_ids.h"
#include "dialogs/scope_markers_dialog.h"
#include "display/pitch_display.h"
#include "modes/play.h"
#include "modes/plot_display.h"
#include "modes/scan_file.h"
#include "output/image_files.h"
#include "platform/allocations.h"
#include "platform/commands.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"
#include "platform/sound_simulated.h"
#include "settings/settings_inputs.h"
#include "support/dialog_controls.h"
#include "support/platform_scopes.h"
#include "support/prompt_checks.h"
#include "support/sound_file_copy.h"
#include "support/temp_dir.h"
#include "support/test_signals.h"
#include "support/window_setup.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>

namespace korv {
namespace {

constexpr int kRate = 8000;

class ScanFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        MainWindowOptions o = test::virtualClockOptions(dir, clock);
        o.makeSoundOutput = [this]() -> std::unique_ptr<SoundOutput> {
            auto out = std::make_unique<SimulatedSoundOutput>(clock);
            out->failAt(failNewDevice);
            output = out.get();
            return out;
        };
        window = test::openWindow(o);
        AppSettings& st = window->state().settings;
        test::scanSettings(st, kRate);
        st.analysisAtStopChoice = ANALYSIS_AT_STOP_OFF;
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
    // A mono file of a 1 kHz sine.
    static QByteArray tone(long frames, int bits = 16) {
        return test::waveFile(kRate, 1, bits, frames, test::sines({1000.0}, kRate));
    }
    // `action` once, when the virtual clock reaches `ms` (the clock calls a copy of the
    // listener, so the flag lives outside it).
    void once(std::int64_t ms, std::function<void()> action) {
        clock.addListener([ms, action = std::move(action),
                           done = std::make_shared<bool>(false)](std::int64_t now) {
            if (!*done && now >= ms) {
                *done = true;
                action();
            }
        });
    }
    void stopAt(std::int64_t afterMs) {
        once(clock.currentMs() + afterMs, [this] { window->commands().post(cmd::kStop, 0); });
    }
    // The menus and devices of an ended scan, and the allocations still open when given.
    void expectIdle(int allocations = -1) const {
        EXPECT_FALSE(window->state().control.modeRunning);
        EXPECT_FALSE(window->state().view.modeHoldsSurfaces);
        EXPECT_TRUE(window->menu().enabled(cmd::kScanFile));
        EXPECT_TRUE(window->menu().enabled(cmd::kAnalyzeFile));
        EXPECT_FALSE(window->button(cmd::kStop)->isEnabled());
        ASSERT_NE(windowPlayback(*window), nullptr);
        EXPECT_FALSE(windowPlayback(*window)->active());
        if (allocations >= 0) {
            EXPECT_EQ(openAllocations(), allocations);
        }
    }
    QRgb colourOf(std::uint8_t index) {
        return window->state().view.display.colour(index) & 0xffffffu;
    }
    int rows() const {
        return window->state().view.layout.plotHeight - window->state().view.layout.topBand;
    }
    // The y of a frequency in the scroll pane of 0 .. topHz.
    int rowY(double hz, double topHz = 4000.0) const {
        return window->state().view.layout.plotHeight - 1 -
               static_cast<int>(std::lround(hz * rows() / topHz));
    }
    // The lines of the spectrum log written now.
    QStringList logged() {
        const QString path = dir.file(QStringLiteral("spectrum.txt"));
        QFile::remove(path);
        prompts->queueFile(path);
        window->commands().send(cmd::kLogSpectrum, 0);
        return QString::fromLatin1(test::TempDir::read(path)).split(QStringLiteral("\r\n"));
    }
    const IndexedSurface& kept() { return window->state().held.spectralImage->surface(); }

    // A plot scan of `seconds` of the signal (mono, or stereo for two frequencies).
    void scanPlot(std::int32_t display, std::int32_t plotType, std::vector<double> hz,
                  long seconds = 3) {
        AppSettings& st = window->state().settings;
        st.displayTypeChoice = display;
        st.plotTypeChoice = plotType;
        st.channelChoice = CHANNEL_LEFT;
        st.averageCountPlot = 1;
        const int channels = static_cast<int>(hz.size());
        scan(test::waveFile(kRate, channels, 16, kRate * seconds, test::sines(hz, kRate)));
    }
    const IndexedSurface& plot() { return *window->state().view.plotImage; }
    int plotLeft() {
        const PlotLayout& l = window->state().view.layout;
        return std::max((l.plotWidth - 2 * l.plotColumnCount) / 2, 9 * l.charWidth / 2);
    }
    // The height of a difference of nothing in the delta plots.
    int midHeight() {
        return baseline() - static_cast<int>(120 * scanPlotView(*window)->geometry().unitScale);
    }
    int baseline() {
        return window->state().view.layout.plotHeight - 2 * window->state().view.layout.charHeight;
    }
    // The x of a frequency's point on the linear band of the settings.
    int pointX(double hz) {
        const AppSettings& st = window->state().settings;
        const int points = window->state().view.layout.plotColumnCount;
        return plotLeft() + 2 * static_cast<int>(std::lround((hz - st.lowBandHz) * points /
                                                             (st.highBandHz - st.lowBandHz)));
    }
    // The topmost pixel of colour `index` in the plot area, or in its column `only`: its x and
    // y; x -1 and the baseline when none.
    std::pair<int, int> highest(int index, int only = -1) {
        const PlotLayout& l = window->state().view.layout;
        for (int y = l.charHeight; y < baseline(); ++y) {
            for (int x = std::max(only, 0); x < (only < 0 ? l.plotWidth : only + 1); ++x) {
                if (*plot().pixel(x, y) == index) {
                    return {x, y};
                }
            }
        }
        return {-1, baseline()};
    }
    // A click on the drawing area, the point spectrum dialog (its title kept) answered OK or
    // Cancel.
    void click(QPoint at, bool ok = true) {
        prompts->queueDialog([this, ok](QDialog& d) {
            dialogTitle = d.windowTitle();
            ok ? ScriptedPrompts::pressOk(d) : ScriptedPrompts::pressCancel(d);
        });
        QTest::mouseClick(window->drawingArea(), Qt::LeftButton, {}, at);
    }
    void calibrate(float db) {
        for (CalibrationPoint& p : window->state().settings.calibrationTable) {
            p.correctionDb = db;
        }
    }
    // How many pixels of `r` in the picture have colour `index`.
    static int countIn(const IndexedSurface& picture, const PixelRect& r, int index) {
        int n = 0;
        for (int y = r.y; y < r.bottom(); ++y) {
            for (int x = r.x; x < r.right(); ++x) {
                n += *picture.pixel(x, y) == index ? 1 : 0;
            }
        }
        return n;
    }

    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    VirtualClock clock;
    SimulatedSoundOutput* output = nullptr;
    SimulatedFailure failNewDevice = SimulatedFailure::None;
    std::unique_ptr<MainWindow> window;
    bool noteSeen = false;
    QString dialogTitle;
};

TEST_F(ScanFileTest, ColumnsFollowTheClockAToneLightsItsRowInEveryFormatAndTheEndShowsTheNote) {
    const long frames = kRate * 10;
    // A scope marker at 2.5 kHz: while the scan runs, a line across the window at its row in
    // the Text colour, not the pitch line's Freq Mark colour; not in the kept levels.
    window->state().settings.marker1Hz = 2500;
    int markerPixels = 0;
    int freqMarkPixels = 0;
    once(clock.currentMs() + 8000, [&] {
        ASSERT_TRUE(window->state().held.spectralImage);
        const int y = rowY(2500.0);
        for (int x = 0; x < window->state().view.layout.plotWidth; ++x) {
            const QRgb shown = window->surface().pixel(x, y).value_or(0);
            markerPixels += shown == colourOf(kTextIndex) && *kept().pixel(x, y) != kTextIndex;
            freqMarkPixels += shown == colourOf(kFreqMarkIndex);
        }
    });
    const std::int64_t took = scan(tone(frames));
    const ScanFileResult& r = lastScanFile(*window);
    EXPECT_TRUE(r.endReached);
    EXPECT_TRUE(noteSeen);
    // One column per 10 msec of sound, give or take the steps lost to the start and end.
    EXPECT_NEAR(static_cast<double>(r.columnsDrawn), 1000.0, 10.0);
    EXPECT_GE(took, 10000);
    EXPECT_NEAR(window->state().settings.timeScaleMsec, 10.0, 0.3);
    EXPECT_EQ(window->state().analysis.run.params.columnMsec,
              window->state().settings.timeScaleMsec);
    // The whole file was read once, in halves; the device heard its sound.
    EXPECT_EQ(r.fileBytesRead, frames * 2);
    EXPECT_GE(output->played().size(), static_cast<std::size_t>(frames * 2) * 9 / 10);
    // The kept image, scrolled full: the newest columns at the right edge too show 1 kHz of
    // 0 .. 4 kHz.
    const AppState& s = window->state();
    ASSERT_TRUE(s.held.spectralImage);
    for (const int x : {5, s.view.layout.plotWidth / 2, s.view.layout.plotWidth - 3}) {
        EXPECT_NEAR(test::loudestRow(window->state(), x, 0), rows() / 4, 2) << "column " << x;
    }
    EXPECT_GE(markerPixels, s.view.layout.plotWidth - 1);
    EXPECT_EQ(freqMarkPixels, 0);
    expectIdle(1); // the kept image alone

    // A 24-bit wave file and a FLAC file, once "Advanced Wave Formats Cannot be Processed",
    // are played as the 16-bit samples of their twin, and the tone lights its row.
    const std::vector<std::uint8_t> heard = output->played();
    const QString flac = test::rewritten(dir.write(QStringLiteral("twin.wav"), tone(frames)),
                                         dir.file(QStringLiteral("tone.flac")),
                                         SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1);
    for (const QByteArray& file : {tone(frames, 24), test::TempDir::read(flac)}) {
        scan(file);
        EXPECT_TRUE(prompts->messages().empty());
        EXPECT_TRUE(lastScanFile(*window).endReached);
        // The device keeps what each scan played, one after the other.
        const std::vector<std::uint8_t>& played = output->played();
        ASSERT_EQ(played.size() % heard.size(), 0u);
        EXPECT_TRUE(std::equal(heard.begin(), heard.end(),
                               played.end() - static_cast<std::ptrdiff_t>(heard.size())));
        EXPECT_EQ(lastScanFile(*window).fileBytesRead, frames * 2);
        ASSERT_TRUE(s.held.spectralImage);
        EXPECT_NEAR(test::loudestRow(window->state(), 5, 0), rows() / 4, 2);
        expectIdle();
    }
}

TEST_F(ScanFileTest, DualStereoDrawsTwoPanesSevenPixelsApart) {
    scan(test::waveFile(kRate, 2, 16, kRate * 6, test::sines({500.0, 3000.0}, kRate)));
    const AppState& s = window->state();
    ASSERT_TRUE(s.held.spectralImage);
    const int w = s.view.layout.plotWidth;
    const int lowerBand = s.view.layout.plotHeight; // the left channel
    // Left channel in the left pane, right channel in the right pane; the gap stays empty.
    EXPECT_NEAR(test::loudestRow(window->state(), w / 2 - 4, lowerBand), rows() / 8, 2);
    EXPECT_NEAR(test::loudestRow(window->state(), w / 2 + 4, 0), rows() * 3 / 4, 2);
    for (int x = w / 2 - 3; x < w / 2 + 4; ++x) {
        EXPECT_EQ(*kept().pixel(x, lowerBand + s.view.layout.plotHeight - 1 - rows() / 8),
                  kBackgroundIndex);
        EXPECT_EQ(*kept().pixel(x, s.view.layout.plotHeight - 1 - rows() * 3 / 4),
                  kBackgroundIndex);
    }
    expectIdle();
}

TEST_F(ScanFileTest, ANewPaletteRecoloursTheRunningScrollWithoutTheScrollMemory) {
    AppState& s = window->state();
    s.settings.scrollMemChoice = SCROLL_MEM_OFF;
    bool checked = false;
    once(clock.currentMs() + 3000, [&] {
        ASSERT_TRUE(s.view.runningScrollImage);
        checked = true;
        const int x = 50;
        const int y = rowY(1000.0);
        const std::uint8_t tone = *s.view.runningScrollImage->surface().pixel(x, y);
        EXPECT_NE(tone, kBackgroundIndex);
        // What the colour dialog does on a palette change: a new palette, then a repaint.
        ASSERT_TRUE(fillActivePalette(PALETTE_BW, s.settings.userPalette, s.view.activePalette));
        showActivePalette(s.view);
        test::repaint(*window);
        // The columns already drawn show in the new colours, not as a cleared pane.
        EXPECT_EQ(window->surface().pixel(x, y), colourOf(tone));
    });
    scan(tone(kRate * 5));
    EXPECT_TRUE(checked);
    EXPECT_FALSE(s.held.spectralImage);
    expectIdle();
}

TEST_F(ScanFileTest, TheRunningScrollKeepsItsAxisFollowsThePointerAndLeavesItsLastPicture) {
    AppState& s = window->state();
    s.settings.scrollMemChoice = SCROLL_MEM_OFF;
    s.settings.channelChoice = CHANNEL_LEFT;
    const PlotLayout& l = s.view.layout;
    const int toneY = l.plotHeight - 1 - rows() / 4;  // 1 kHz of 0 .. 4 kHz
    const int labelY = l.plotHeight - 1 - rows() / 2; // the 2000 Hz label's middle
    const auto readouts = [&] { return window->surface().copyRect(l.readoutBox); };
    // Checked once the picture has scrolled: the axis (Text-coloured pixels around the label
    // at the view's left edge) is there, the time goes on with the pointer away, and the
    // pointer on the tone changes what the readouts say.
    int axis = 0;
    QImage away, later, onTone;
    const std::int64_t scrolled = clock.currentMs() + l.plotWidth * 10 + 2000;
    once(scrolled, [&] {
        for (int y = labelY - l.charHeight; y < labelY + l.charHeight; ++y) {
            for (int x = 0; x < kFrequencyAxisChars * l.charWidth; ++x) {
                axis += window->surface().pixel(x, y).value_or(0) == colourOf(kTextIndex);
            }
        }
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(window->drawingArea(), &leave);
        away = readouts();
    });
    once(scrolled + 2000, [&] {
        later = readouts();
        test::sendMouse(*window, QEvent::MouseMove, QPoint(l.plotWidth / 2, toneY));
        onTone = readouts();
    });
    scan(tone(kRate * (l.plotWidth / 100 + 8)));
    EXPECT_GT(axis, 10);
    ASSERT_FALSE(away.isNull());
    EXPECT_NE(later, away);
    EXPECT_NE(onTone, later);

    // After the scan the last picture stays, and is repainted, until another is drawn.
    ASSERT_TRUE(s.view.runningScrollImage);
    test::repaint(*window);
    const QRgb tone = window->surface().pixel(l.plotWidth / 2, toneY).value_or(0);
    EXPECT_NE(tone, colourOf(kBackgroundIndex));
    EXPECT_EQ(tone, colourOf(*s.view.runningScrollImage->surface().pixel(l.plotWidth / 2, toneY)));
    scanPlot(DISPLAY_LINE_PLOT, PLOT_SIGNAL, {1000.0}, 1);
    EXPECT_FALSE(s.view.runningScrollImage);
    expectIdle();
}

TEST_F(ScanFileTest, StopInTheFirstSecondHandsAnalyzeFileTheSpanFromTheStart) {
    window->state().settings.analysisAtStopChoice = ANALYSIS_AT_STOP_ON;
    window->state().settings.scrollMemChoice = SCROLL_MEM_OFF;
    stopAt(600);
    scan(tone(kRate * 20));
    const ScanFileResult& r = lastScanFile(*window);
    EXPECT_FALSE(r.endReached);
    EXPECT_FALSE(noteSeen);
    EXPECT_EQ(r.stopMs, 0);
    // 1.5 loop buffers of 16-bit mono at 8 kHz.
    EXPECT_EQ(r.endMs, 3 * (65536 * 2 + 8) * 1000 / (2 * kRate * 2));
    const AppState& s = window->state();
    EXPECT_EQ(s.settings.lastMode, 0);
    EXPECT_EQ(s.analysis.run.beginMsec, 0);
    EXPECT_EQ(s.analysis.run.endMsec, r.endMs);
    ASSERT_TRUE(s.held.samples);
    EXPECT_TRUE(s.held.spectralImage);
}

TEST_F(ScanFileTest, ShortAndTruncatedFilesEndOnTheClockAndGiveEverythingBack) {
    window->state().settings.scrollMemChoice = SCROLL_MEM_OFF;
    // A band set for a faster file stops at half this one's rate, in the dialog's words.
    window->state().settings.highBandHz = 6000;
    // Shorter than half a buffer: the first read ends the data.
    scan(tone(kRate / 2, 8));
    EXPECT_EQ(window->state().settings.highBandHz, kRate / 2);
    test::expectOneMessage(*prompts, "Highest Frequency Limited to 1/2 Sampling Rate");
    EXPECT_TRUE(lastScanFile(*window).endReached);
    EXPECT_NEAR(static_cast<double>(lastScanFile(*window).columnsDrawn), 50.0, 4.0);
    EXPECT_TRUE(noteSeen);
    EXPECT_FALSE(window->state().held.spectralImage);
    // All but the last picture, left in the window (replaced by the next one).
    EXPECT_TRUE(window->state().view.runningScrollImage);
    expectIdle(1);

    // A data chunk that claims twice what the file holds: the scan ends where the data does.
    QByteArray file = tone(kRate * 3);
    const std::uint32_t claimed = kRate * 3 * 2 * 2;
    std::memcpy(file.data() + 40, &claimed, 4);
    const std::int64_t took = scan(file);
    EXPECT_TRUE(lastScanFile(*window).endReached);
    EXPECT_EQ(lastScanFile(*window).fileBytesRead, kRate * 3 * 2);
    EXPECT_NEAR(static_cast<double>(lastScanFile(*window).columnsDrawn), 300.0, 8.0);
    EXPECT_LT(took, 4500);
    expectIdle(1);

    // A file cut short while it is scanned: what is gone reads as the end of the file, and the
    // scan ends at its time with everything given back.
    const QString cut = dir.file(QStringLiteral("scan.wav"));
    once(clock.currentMs() + 2000, [cut] { QFile::resize(cut, 44 + kRate * 2); });
    const std::int64_t cutTook = scan(tone(kRate * 10));
    EXPECT_TRUE(lastScanFile(*window).endReached);
    EXPECT_LT(lastScanFile(*window).fileBytesRead, kRate * 10 * 2);
    EXPECT_LT(cutTook, 11000);
    expectIdle(1);
}

// A device that cannot open gives the message and the menus back; once it opens, a slow
// machine (every look at the clock costs 30 msec, so the steps come slower than 10 msec
// apart) gets the measured time scale.
TEST_F(ScanFileTest, ADeviceThatCannotOpenGivesTheMessageAndASlowMachineTheMeasuredTimeScale) {
    failNewDevice = SimulatedFailure::Open;
    scan(tone(kRate));
    EXPECT_EQ(test::lastMessage(*prompts), kCannotOpenAudioDevice.text);
    EXPECT_EQ(lastScanFile(*window).columnsDrawn, 0);
    expectIdle(0);

    output->failAt(SimulatedFailure::None);
    clock.setAdvanceOnRead(30);
    stopAt(3000);
    scan(tone(kRate * 20));
    const ScanFileResult& r = lastScanFile(*window);
    ASSERT_GT(r.columnsDrawn, 10);
    EXPECT_GT(r.timeScaleMsec, 25.0);
    EXPECT_EQ(window->state().settings.timeScaleMsec, static_cast<float>(r.timeScaleMsec));
    EXPECT_EQ(window->state().analysis.run.params.columnMsec,
              window->state().settings.timeScaleMsec);
    expectIdle();
}

TEST_F(ScanFileTest, AnHourLongFileIsStreamedNotHeld) {
    // An hour of 8 kHz 8-bit mono, the samples left sparse by growing the file.
    const long frames = 3600L * kRate;
    QByteArray head = tone(1, 8);
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames);
    const std::uint32_t riffBytes = dataBytes + 36;
    std::memcpy(head.data() + 4, &riffBytes, 4);
    std::memcpy(head.data() + 40, &dataBytes, 4);
    const QString path = dir.write(QStringLiteral("hour.wav"), head);
    ASSERT_TRUE(QFile(path).resize(44 + frames));
    prompts->queueFile(path);
    stopAt(10000);
    QTest::keyClick(window.get(), Qt::Key_F2);
    const ScanFileResult& r = lastScanFile(*window);
    EXPECT_FALSE(r.endReached);
    EXPECT_NEAR(static_cast<double>(r.columnsDrawn), 1000.0, 10.0);
    // 10 s of sound is 80000 bytes: read in halves of 32772, never the whole 28.8 MB.
    EXPECT_GE(r.fileBytesRead, 80000);
    EXPECT_LE(r.fileBytesRead, 80000 + 2 * 32772);
    EXPECT_FALSE(window->state().held.samples);
    expectIdle();
}

TEST_F(ScanFileTest, LineAndBarPlotsPeakAtTheToneAndTheLevelBarFreqMarkAndRepaintsKeepThem) {
    EXPECT_FALSE(window->menu().enabled(cmd::kFreqMark));
    for (const std::int32_t display : {DISPLAY_LINE_PLOT, DISPLAY_BAR_PLOT}) {
        scanPlot(display, PLOT_SIGNAL, {1000.0});
        const AppState& s = window->state();
        ASSERT_TRUE(s.view.plotImage);
        EXPECT_FALSE(s.held.spectralImage);
        EXPECT_FALSE(noteSeen);
        EXPECT_NEAR(highest(kSignal2Index).first, pointX(1000.0), 1) << display;
        expectIdle();
        EXPECT_TRUE(window->button(cmd::kGrid)->isEnabled());
        // A repaint shows the kept plot; a new colour, as the colour dialog sets it, recolours
        // it without a new scan.
        const auto [x, y] = highest(kSignal2Index);
        LevelPalette colours = s.view.activePalette;
        const auto blue = static_cast<std::uint8_t>(30 + display % 2);
        colours[kSignal2Entry] = {10, 20, blue};
        window->state().view.display.setLogicalPalette(buildLogicalPalette(colours));
        test::repaint(*window);
        EXPECT_EQ(*window->surface().pixel(x, y) & 0xffffffu, qRgb(10, 20, blue) & 0xffffffu);
    }
    showActivePalette(window->state().view);
    // The level bar one line down lowers the gain: the line plot is drawn again lower.
    scanPlot(DISPLAY_LINE_PLOT, PLOT_SIGNAL, {1000.0});
    const int before = highest(kSignal2Index).second;
    const std::int32_t code = window->state().settings.levelScaleCode;
    window->verticalBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(window->state().settings.levelScaleCode, code + 1);
    EXPECT_GT(highest(kSignal2Index).second, before);
    // Freq Mark sets the markers and the finished plot shows them, in the Text colour: the
    // pitch line has the Freq Mark colour.
    EXPECT_TRUE(window->menu().enabled(cmd::kFreqMark));
    const PixelRect column{pointX(3000.0), baseline() - 10, 1, 10};
    EXPECT_EQ(countIn(plot(), column, kScopeMarkerIndex), 0);
    prompts->queueDialog([](QDialog& d) {
        test::control<QLineEdit>(d, ID_MARKER1_EDIT)->setText("3000");
        ScriptedPrompts::pressOk(d);
    });
    window->commands().send(cmd::kFreqMark, 0);
    EXPECT_EQ(window->state().settings.marker1Hz, 3000);
    EXPECT_EQ(countIn(plot(), column, kScopeMarkerIndex), 10);
    // GRID on draws the crosses over the plot on the window.
    QTest::mouseClick(window->button(cmd::kGrid), Qt::LeftButton);
    EXPECT_TRUE(window->state().view.gridOn);
    // Window Image saves the plot with its labels and crosses as the window shows them.
    window->surface().updateNow();
    prompts->queueDialog([](QDialog& d) {
        d.findChild<QAbstractButton*>(controlName(IMAGE_FORMAT_BITMAP))->click();
        ScriptedPrompts::pressOk(d);
    });
    prompts->queueFile(dir.file(QStringLiteral("plot.bmp")));
    window->commands().send(cmd::kSaveWindowImage);
    const QByteArray bmp = test::TempDir::read(dir.file(QStringLiteral("plot.bmp")));
    const PlotLayout& l = window->state().view.layout;
    const int width = l.plotWidth - l.plotWidth % 4;
    ASSERT_EQ(bmp.size(), 1078 + width * l.plotHeight);
    const QImage shown = window->surface().image().copy(0, 0, width, l.plotHeight);
    EXPECT_EQ(QImage::fromData(bmp, "BMP").convertToFormat(QImage::Format_RGB32), shown);
    // The labels and crosses are there to compare.
    const auto* px = reinterpret_cast<const QRgb*>(shown.constBits());
    EXPECT_GT(std::count_if(px, px + width * l.plotHeight,
                            [this](QRgb c) { return (c & 0xffffffu) == colourOf(kTextIndex); }),
              100);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

TEST_F(ScanFileTest, PeakResetLeftMinusRightAndThirdOctavePlotsShowTheirTones) {
    // PEAK RESET pressed at 0.8 s and again at 1.6 s of the scan.
    std::vector<bool> held;
    QPushButton* peak = window->button(cmd::kPeakHold);
    const std::int64_t start = clock.currentMs();
    clock.addListener([&](std::int64_t now) {
        if (held.size() < 2 && now >= start + 800 * std::int64_t(held.size() + 1) &&
            window->state().view.scanDrawing) {
            EXPECT_EQ(peak->text(), PEAK_RESET_LABEL);
            EXPECT_TRUE(peak->isEnabled());
            QTest::mouseClick(peak, Qt::LeftButton);
            held.push_back(scanPlotView(*window)->peakHoldOn());
        }
    });
    scanPlot(DISPLAY_LINE_PLOT, PLOT_PEAK_DELTA, {1000.0});
    EXPECT_EQ(held, (std::vector<bool>{true, false}));
    // The held peak stood at the tone; the steady tone now differs by nothing from it.
    const std::span<const std::int16_t> peaks = scanPlotView(*window)->peak();
    const auto k = static_cast<std::size_t>((pointX(1000.0) - plotLeft()) / 2);
    EXPECT_EQ(*std::max_element(peaks.begin(), peaks.end()), peaks[k]);
    EXPECT_NEAR(highest(kSignal2Index).second, midHeight(), 3);
    EXPECT_FALSE(peak->isEnabled());

    // Left minus right rises at the left tone and falls at the right.
    scanPlot(DISPLAY_BAR_PLOT, PLOT_LR_DELTA, {1000.0, 2000.0});
    const int mid = midHeight();
    const auto barTop = [this](int x) { return highest(kSignal1Index, x).second; };
    // Second-curve bars stand one pixel right of their points; no first curve is drawn.
    EXPECT_LT(barTop(pointX(1000.0) + 1), mid - 20);
    EXPECT_GT(barTop(pointX(2000.0) + 1), mid + 20);
    EXPECT_EQ(highest(kSignal2Index).first, -1);
    EXPECT_FALSE(peak->isEnabled());

    // The third-octave plot lights the band of the tone.
    window->state().settings.freqScaleChoice = FREQ_SCALE_THIRD_OCTAVE;
    scanPlot(DISPLAY_LINE_PLOT, PLOT_SIGNAL, {1000.0});
    const ScopeView& v = *scanPlotView(*window);
    const auto bands = thirdOctavePoints(kRate, 1024, v.geometry().points);
    ASSERT_TRUE(bands);
    const auto loudest = std::max_element(v.levelDb().begin(), v.levelDb().end());
    const auto point = static_cast<std::size_t>(loudest - v.levelDb().begin());
    EXPECT_EQ(bands->pointBands[point], thirdOctaveBand(1000));

    // Log Spectrum: one row per band, the loudest at the band of the tone.
    QStringList rows = logged();
    EXPECT_EQ(rows.at(3), QStringLiteral("1/3 Octave Frequency Scale"));
    rows = rows.mid(8, bands->lastBand + 1 - bands->firstBand);
    const auto level = [](const QString& row) { return row.mid(14).toDouble(); };
    const auto top = std::max_element(rows.begin(), rows.end(),
                                      [&](auto& a, auto& b) { return level(a) < level(b); });
    EXPECT_EQ(top->left(5).trimmed().toInt(), thirdOctaveBand(1000));
    EXPECT_NEAR(level(*top), *loudest / 4.0 - window->state().settings.levelScaleCode - 90.0,
                0.051);
}

// The point spectrum at a clicked column: no pitch detector there, the spectrum log's
// "Event Time" is the clicked column's time (its window's centre), and each Linear line holds
// its own bin's level: a 1000 Hz sine of amplitude 16000 on bin 128 of 1024 at 8000 Hz.
TEST_F(ScanFileTest, APointSpectrumHasNoPitchLogsTheClickedTimeAndEachBinsLevelAndRestores) {
    window->state().settings.pitchDetectorChoice = PITCH_DETECTOR_ON;
    calibrate(0.0f);
    prompts->queueFile(dir.write(QStringLiteral("tone.wav"), tone(kRate * 4)));
    QTest::keyClick(window.get(), Qt::Key_F1);
    ASSERT_TRUE(window->state().held.spectralImage);
    const int column = 100;
    const long hop = window->state().analysis.run.params.hop;
    const auto clickedMsec =
        static_cast<long>(static_cast<double>(column * hop + 1024 / 2) * 1000.0 / kRate);
    click({column, window->state().view.layout.plotHeight / 2});
    const PlotLayout& l = window->state().view.layout;
    ASSERT_TRUE(window->state().view.plotImage);
    EXPECT_EQ(
        countIn(plot(), plotPitchLabelBox(l.plotWidth, l.charWidth, l.charHeight), kTextIndex), 0);

    const QStringList lines = logged();
    ASSERT_GT(lines.size(), 8 + 512);
    EXPECT_EQ(lines[4], QString::number(clickedMsec) + QStringLiteral(" msec Event Time"));
    int loudest = -1;
    double loudestDb = -100.0;
    for (int k = 0; k < 512; ++k) {
        const QStringList fields = lines[8 + k].split(' ', Qt::SkipEmptyParts);
        ASSERT_EQ(fields.size(), 3);
        EXPECT_EQ(fields[0].toInt(), k);
        EXPECT_NEAR(fields[1].toDouble(), k * static_cast<double>(kRate) / 1024, 0.0051);
        if (fields[2].toDouble() > loudestDb) {
            loudestDb = fields[2].toDouble();
            loudest = k;
        }
    }
    EXPECT_EQ(loudest, 1000 * 1024 / kRate);
    // Half the amplitude under the Hann window, 9 dB of gain, shown as level - 90 dB.
    EXPECT_NEAR(loudestDb, 20.0 * std::log10(16000.0 / 2.0) + 9.0 - 90.0, 0.3);

    // A click on the finished plot plots the same moment again, a cross at the point.
    const std::int64_t pointBytes = lastScanFile(*window).pointBytes;
    const PixelPoint at{pointX(2000.0), baseline() - 60};
    EXPECT_EQ(countIn(plot(), {at.x - 12, at.y, 25, 1}, kTextIndex), 0);
    click({at.x, at.y});
    EXPECT_TRUE(prompts->dialogsRun().size() >= 2u);
    EXPECT_EQ(lastScanFile(*window).pointBytes, pointBytes);
    EXPECT_GE(countIn(plot(), {at.x - 12, at.y, 25, 1}, kTextIndex), 24);
    EXPECT_GE(countIn(plot(), {at.x, at.y - 12, 1, 25}, kTextIndex), 24);
    EXPECT_NEAR(highest(kSignal2Index).first, pointX(1000.0), 1);
    EXPECT_TRUE(window->state().settings.pitchDetectorChoice == PITCH_DETECTOR_ON);
    EXPECT_EQ(
        countIn(plot(), plotPitchLabelBox(l.plotWidth, l.charWidth, l.charHeight), kTextIndex), 0);

    // A click near the start plots the point spectrum, and Restore brings the image back.
    window->commands().send(cmd::kParametersRestore, 0);
    ASSERT_TRUE(window->state().held.spectralImage);
    // Eight spectra averaged reach back three windows, before the data's start.
    window->state().settings.averageCountScroll = 8;
    const QPoint nearStart(2, window->state().view.layout.plotHeight / 2);
    click(nearStart);
    EXPECT_EQ(dialogTitle, "Spectrum Plot");
    const AppState& s = window->state();
    // The span ends at the clicked moment and would reach before the data: it starts at 0.
    EXPECT_EQ(lastScanFile(*window).pointStartByte, 0);
    EXPECT_EQ(lastScanFile(*window).pointBytes, s.analysis.pointSpectrumByte);
    EXPECT_TRUE(lastScanFile(*window).endReached);
    EXPECT_TRUE(output == nullptr || output->played().empty()); // no sound
    ASSERT_TRUE(s.view.plotImage);
    EXPECT_FALSE(s.held.spectralImage);
    EXPECT_NEAR(highest(kSignal2Index).first, pointX(1000.0), 1);
    EXPECT_TRUE(window->menu().enabled(cmd::kParametersRestore));
    expectIdle();

    window->commands().send(cmd::kParametersRestore, 0);
    EXPECT_TRUE(s.held.spectralImage);
    EXPECT_FALSE(s.view.plotImage);
    EXPECT_EQ(s.settings.displayTypeChoice, DISPLAY_SCROLL);
    // Cancel in dialog 153 goes back to the image at once.
    click(nearStart, false);
    EXPECT_TRUE(s.held.spectralImage);
    EXPECT_FALSE(s.analysis.scanRestoreAvailable);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

TEST_F(ScanFileTest, ThePitchOfA440HzToneIsMarkedAndLabelledInTheScrollAndThePlot) {
    AppSettings& st = window->state().settings;
    st.pitchDetectorChoice = PITCH_DETECTOR_ON;
    st.channelChoice = CHANNEL_LEFT;
    scan(test::waveFile(kRate, 1, 16, kRate * 5, test::sines({440.0}, kRate)));
    const AppState& s = window->state();
    const PlotLayout& l = s.view.layout;
    ASSERT_TRUE(s.held.spectralImage);
    // The dot at 440 Hz in the columns of the steady tone, and the note's text in its box.
    EXPECT_GE(countIn(kept(), {l.plotWidth / 2, rowY(440.0) - 1, 4, 3}, kFreqMarkIndex), 3);
    EXPECT_GT(countIn(kept(),
                      scrollPitchLabelBox(l.plotWidth, l.topBand, l.charWidth, l.charHeight, false),
                      kTextIndex),
              10);

    // The bar plot (not drawn again at the end): the pitch line at 440 Hz and the label.
    scanPlot(DISPLAY_BAR_PLOT, PLOT_SIGNAL, {440.0}, 5);
    EXPECT_GE(countIn(plot(), {pointX(440.0) - 1, baseline() - 40, 3, 30}, kFreqMarkIndex), 30);
    EXPECT_GT(
        countIn(plot(), plotPitchLabelBox(l.plotWidth, l.charWidth, l.charHeight), kTextIndex), 10);

    // The same dot for files at the highest rates, where the detector's span outgrows 16384
    // frames; 2 s of columns fill the pane from the left.
    for (const int rate : {352800, 384000}) {
        test::scanSettings(st, rate);
        st.pitchDetectorChoice = PITCH_DETECTOR_ON;
        st.highBandHz = 2000;
        scan(test::waveFile(rate, 1, 16, rate * 2, test::sines({440.0}, rate)));
        EXPECT_GE(countIn(kept(), {100, rowY(440.0, 2000.0) - 1, 4, 3}, kFreqMarkIndex), 3) << rate;
    }
}

// A 24-bit tone at -100 dBFS and a float one at +12 dBFS are analysed as they are (the first is
// below one step of 16 bits, the second would clip there and grow a third harmonic); channel 3
// of a four-channel file, chosen in the dialog, is the one shown and played.
TEST_F(ScanFileTest, WiderSamplesKeepTheirPrecisionAndAChosenChannelIsScanned) {
    // Each scan's calibration and level code bring its tone into the log's 90 dB.
    const auto scanWritten = [&](int format, double fullScale, float calibrationDb, int code) {
        const QString path = dir.file(QStringLiteral("wide.wav"));
        SF_INFO info{0, kRate, 1, SF_FORMAT_WAV | format, 0, 0};
        SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        std::vector<double> v(kRate * 3);
        for (std::size_t i = 0; i < v.size(); ++i) {
            v[i] = fullScale * std::sin(2.0 * std::numbers::pi * 1000.0 * double(i) / kRate);
        }
        sf_command(f, SFC_SET_CLIPPING, nullptr, SF_FALSE);
        ASSERT_EQ(sf_writef_double(f, v.data(), kRate * 3), kRate * 3);
        sf_close(f);
        calibrate(calibrationDb);
        AppSettings& st = window->state().settings;
        st.levelScaleCode = code;
        st.displayTypeChoice = DISPLAY_LINE_PLOT;
        st.channelChoice = CHANNEL_LEFT;
        st.averageCountPlot = 1;
        prompts->queueFile(path);
        QTest::keyClick(window.get(), Qt::Key_F2);
    };
    // The last spectrum's levels as the spectrum log writes them, bin k at index k.
    const auto levels = [&] {
        const QStringList lines = logged();
        std::vector<double> v;
        for (int k = 0; k < 512 && 8 + k < lines.size(); ++k) {
            v.push_back(lines[8 + k].split(' ', Qt::SkipEmptyParts).value(2).toDouble());
        }
        EXPECT_EQ(v.size(), 512u);
        v.resize(512);
        return v;
    };
    // Half the amplitude under the Hann window, the calibration and gain, shown as level - 90.
    const auto expectedDb = [](double fullScale, double gain) {
        return 20.0 * std::log10(fullScale * 32768.0 / 2.0) + gain - 90.0;
    };
    const std::size_t bin = 1000 * 1024 / kRate;
    const double quiet = std::pow(10.0, -100.0 / 20.0);
    scanWritten(SF_FORMAT_PCM_24, quiet, 30.0f, -9);
    const std::vector<double> quietLevels = levels();
    EXPECT_GT(quietLevels[bin], quietLevels[bin + 4] + 20.0);
    EXPECT_NEAR(quietLevels[bin], expectedDb(quiet, 39.0), 0.5);
    scanWritten(SF_FORMAT_FLOAT, 4.0, 0.0f, 15);
    const std::vector<double> loud = levels();
    EXPECT_NEAR(loud[bin], expectedDb(4.0, -15.0), 0.5);
    EXPECT_LT(loud[3 * bin], loud[bin] - 60.0);
    EXPECT_TRUE(prompts->messages().empty());

    // Channels 3 and 4 of four, the Left shown: the row of 1500 Hz; the device's left channel
    // plays channel 3's samples.
    AppSettings& st = window->state().settings;
    st.displayTypeChoice = DISPLAY_SCROLL;
    st.levelScaleCode = -9;
    st.variablesChoice = cmd::kVariablesAdjust;
    prompts->queueDialog([](QDialog& d) {
        test::control<QLineEdit>(d, ID_FIRST_CHANNEL_EDIT)->setText(QStringLiteral("3"));
        test::control<QLineEdit>(d, ID_SECOND_CHANNEL_EDIT)->setText(QStringLiteral("4"));
        ScriptedPrompts::pressOk(d);
    });
    const auto tones = test::sines({500.0, 1000.0, 1500.0, 2000.0}, kRate);
    const std::size_t before = output->played().size();
    scan(test::waveFile(kRate, 4, 16, kRate * 3, tones));
    EXPECT_EQ(fileChannelsOf(st).first, 3);
    const AppState& s = window->state();
    ASSERT_TRUE(s.held.spectralImage);
    // The left channel.
    EXPECT_NEAR(test::loudestRow(s, 5, s.view.layout.plotHeight), rows() * 3 / 8, 2);
    const std::vector<std::uint8_t>& played = output->played();
    ASSERT_GE(played.size(), before + 4000u * 4);
    for (long i = 0; i < 4000; ++i) {
        const auto at = before + static_cast<std::size_t>(i) * 4;
        const auto left = static_cast<std::int16_t>(played[at] | played[at + 1] << 8);
        ASSERT_EQ(left, std::lround(tones(i)[2])) << i;
    }
    EXPECT_TRUE(prompts->messages().empty());
}

} // namespace
} // namespace korv
