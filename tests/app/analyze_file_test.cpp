// Analyze File end to end: the real window offscreen, wave files written to a temporary
// folder, the file and parameter dialogs answered by script.

#include "app/current_view.h"
#include "app/program_menu.h"
#include "audio/sound_file.h"
#include "base/user_message.h"
#include "display/grid_overlay.h"
#include "display/memory_budget.h"
#include "display/readouts.h"
#include "settings/settings_file.h"
#include "settings/settings_inputs.h"
#include "support/analyze_fixture.h"
#include "support/dialog_controls.h"
#include "support/prompt_checks.h"

#include <QCursor>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>

#include <cmath>
#include <limits>
#include <tuple>

namespace korv {
namespace {

using namespace test;

// A sine lights its row and little else; the menu offers what is built and Save Wave writes the
// held samples; then 8 bits, and data without a header.
TEST_F(AnalyzeFileTest, ASineLightsItsRowTheMenuOffersWhatIsBuiltAndSaveWaveWritesTheSamples) {
    // A scan's Oct/3 scale and line plot left in the settings give way, without the dialog, to
    // the Linear scale and the image display, as the dialog would switch them.
    settings().frequencyScale = FrequencyScale::ThirdOctave;
    settings().displayType = DisplayType::LinePlot;
    settings().averageCountScroll = 3;
    ASSERT_TRUE(analyzed(tone("sine.wav", kRate * 2)));
    EXPECT_EQ(settings().frequencyScale, FrequencyScale::Linear);
    EXPECT_EQ(settings().displayType, DisplayType::Scroll);
    EXPECT_TRUE(prompts->messages().empty());
    const int bottom = run().plotHeight;
    const auto columns = static_cast<int>(run().params.columns);
    ASSERT_GT(columns, 100);
    EXPECT_GE(image().width(), columns);
    EXPECT_EQ(image().height(), bottom);
    const int expected = rowOf(1000.0);
    for (const int x : {10, columns / 2, columns - 2}) {
        EXPECT_NEAR(brightestRow(x, bottom), expected, 2) << "column " << x;
        const int peak = indexAt(x, expected, bottom);
        EXPECT_GT(peak, 150) << "column " << x;
        // Far from the tone the picture stays at the bottom of the palette's range.
        for (const double hz : {250.0, 3000.0, 5500.0}) {
            EXPECT_LT(indexAt(x, rowOf(hz), bottom), peak - 80) << hz << " Hz, column " << x;
        }
    }
    // The waveform strip: the zero line and the separator.
    EXPECT_EQ(*image().pixel(5, run().stripHeight), kSignal2Index);
    // Beyond the columns the image is the background.
    EXPECT_EQ(*image().pixel(image().width() - 1, bottom - 1 - expected), kBackgroundIndex);
    // After the run: the image state, PLAY WDW and GRID on, STOP off.
    EXPECT_FALSE(state().control.modeRunning);
    EXPECT_TRUE(window->menu().enabled(cmd::kParametersChange));
    EXPECT_TRUE(window->button(cmd::kPlayWindow)->isEnabled());
    EXPECT_TRUE(window->button(cmd::kGrid)->isEnabled());
    EXPECT_FALSE(window->button(cmd::kStop)->isEnabled());
    EXPECT_EQ(state().analysis.sampleRateHz, kRate);
    EXPECT_EQ(plays, 0);
    // Averaging starts from zero-filled slots. Beside the image state's own items (the main
    // window's menu-state test), what is built is offered and what is not is disabled.
    const int row = brightestRow(10, bottom);
    const int steady = indexAt(10, row, bottom);
    EXPECT_LT(indexAt(0, row, bottom), indexAt(1, row, bottom));
    EXPECT_LT(indexAt(1, row, bottom), steady);
    EXPECT_NEAR(indexAt(2, row, bottom), steady, 2);
    ProgramMenu& m = window->menu();
    for (const int id : {cmd::kAnalyzeFile, cmd::kScanInput, cmd::kVolumeControl, cmd::kSignalScale,
                         cmd::kAnalyzeBatch}) {
        EXPECT_TRUE(m.enabled(id)) << id;
    }
    EXPECT_FALSE(m.enabled(cmd::kFreqMark));
    EXPECT_TRUE(m.popupEnabled(ProgramMenu::kSaveImagePopup));

    // Save Wave writes the held samples behind a header of their own.
    const QString saved = dir.file(QStringLiteral("saved.wav"));
    prompts->queueFile(saved);
    window->dispatch(cmd::kSaveWave, 0);
    ASSERT_FALSE(prompts->fileRequests().empty());
    EXPECT_EQ(prompts->fileRequests().back().title, QStringLiteral("Save Wave File"));
    const auto block = state().held.samples->block();
    EXPECT_EQ(test::TempDir::read(saved), QByteArray(reinterpret_cast<const char*>(block.data()),
                                                     static_cast<qsizetype>(block.size())));
    // A full disk: a file named for a device that is always full.
    const QString full = dir.file(QStringLiteral("full.wav"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), full));
    prompts->queueFile(full);
    prompts->queueAnswer(true); // it exists: replace it
    window->dispatch(cmd::kSaveWave, 0);
    expectOneMessage(*prompts, kErrorWritingFile.text);

    // 8 bits.
    ASSERT_TRUE(analyzed(
        write("eight.wav", test::waveFile(kRate, 1, 8, kRate, test::sines({2000.0}, kRate)))));
    EXPECT_EQ(settings().resolutionBits, 8);
    EXPECT_NEAR(brightestRow(20, run().plotHeight), rowOf(2000.0), 2);

    // Without a header: raw 16-bit mono at 11025 Hz, after the warning; the band of 0 to 6000
    // Hz set for the last file stops at half this one's rate, with the dialog's words, so the
    // top rows are not the last bin repeated (the tone's row proves the rate).
    settings().highBandHz = 6000;
    ASSERT_TRUE(
        analyzed(write("raw.pcm", test::rawSamples(11025 * 2, test::sines({1500.0}, 11025)))));
    ASSERT_EQ(prompts->messages().size(), 2U);
    EXPECT_EQ(prompts->messages()[0].text, "File may not be PCM Wave Format");
    EXPECT_EQ(prompts->messages()[1].text, "Highest Frequency Limited to 1/2 Sampling Rate");
    EXPECT_EQ(settings().highBandHz, 11025 / 2);
    EXPECT_NEAR(brightestRow(20, run().plotHeight), rowOf(1500.0), 2);
    // The cut does not carry over: the next file, whose rate allows it, shows the band asked
    // for, without a word.
    ASSERT_TRUE(analyzed(tone(QStringLiteral("again.wav"), kRate, 5500.0)));
    EXPECT_EQ(prompts->messages().size(), 2U);
    EXPECT_EQ(settings().highBandHz, 6000);
    EXPECT_NEAR(brightestRow(20, run().plotHeight), rowOf(5500.0), 2);
    // Closed while a cut is in force, the settings file keeps the band asked for.
    ASSERT_TRUE(
        analyzed(write("raw.pcm", test::rawSamples(11025 * 2, test::sines({1500.0}, 11025)))));
    EXPECT_EQ(settings().highBandHz, 11025 / 2);
    EXPECT_TRUE(window->close());
    AppSettings stored;
    LevelPalette active = kCbPalette;
    loadSettings(dir.file(QStringLiteral("korv.ini")).toStdString(), stored, active);
    EXPECT_TRUE(stored.settingsLoaded);
    EXPECT_EQ(stored.highBandHz, 6000);
}

// 10 msec at 22050 Hz is 220.5 samples, made 221: a nominal 10 msec per column would put a
// beep near the end of a minute 130 msec early on the axis and in the readout.
TEST_F(AnalyzeFileTest, TimesOnLongFilesGoByTheRealStepBetweenColumns) {
    // A 2000 Hz beep of 0.2 s at 55 s.
    const FrameSignal beep = burst(2000.0, 55L * kRate, 55L * kRate + kRate / 5);
    settings().timeScaleMsecSaved = 10.0f;
    ASSERT_TRUE(analyzed(write("minute.wav", test::waveFile(kRate, 1, 16, 60L * kRate, beep))));
    ASSERT_EQ(run().params.hop, 221);
    EXPECT_DOUBLE_EQ(run().params.columnMsec, 221.0 * 1000.0 / kRate);
    int onset = 0;
    while (onset < run().params.columns && indexAt(onset, rowOf(2000.0), run().plotHeight) < 150) {
        ++onset;
    }
    ASSERT_LT(onset, run().params.columns);
    const double frameMsec = run().params.fftSize * 1000.0 / kRate;

    // The readout over the beep's first column.
    const ReadoutPoint p{.inside = true, .absoluteColumn = onset, .y = run().plotHeight / 2};
    const ViewGeometry g = currentViewGeometry(state());
    EXPECT_NEAR(std::stod(readoutTexts(g, {}, p).time), 55000.0 - frameMsec / 2, frameMsec)
        << "column " << onset;

    // The time axis over the whole image: every tick lies at the column of its time.
    const std::vector<TimeTick> ticks =
        timeTicks({.timeScaleMsec = g.timeScaleMsec,
                   .columnMsec = g.columnMsec,
                   .viewWidth = static_cast<int>(run().params.columns),
                   .charWidth = g.charWidth,
                   .textWidth = {}});
    ASSERT_GT(ticks.size(), 5u);
    for (const TimeTick& t : ticks) {
        EXPECT_NEAR(t.x, static_cast<double>(t.msec) / (221.0 * 1000.0 / kRate), 1.0) << t.label;
    }
}

// Analyze File opens the file and reads its header once, whether it holds the segment or reads
// it from the file as the columns go.
TEST_F(AnalyzeFileTest, TheFileIsOpenedOnceForItsRun) {
    const QString path = tone("once.wav", kRate * 2);
    for (const std::int64_t limit : {state().analysis.holdLimitBytes, std::int64_t{4096}}) {
        state().analysis.holdLimitBytes = limit;
        const std::uint64_t before = soundFileOpens();
        ASSERT_TRUE(analyzed(path));
        EXPECT_EQ(soundFileOpens() - before, 1u) << "hold limit " << limit;
        EXPECT_EQ(static_cast<bool>(state().held.samples), limit > 4096);
    }
}

// STOP during the run ends the image at the last column drawn, the segment cut to match.
TEST_F(AnalyzeFileTest, StopEndsTheImageAndScalesTheSegment) {
    // A command that posts itself again at each pump; the 25th asks for STOP.
    int rounds = 0;
    constexpr int kTick = 99001;
    window->registerCommand(kTick, [this, &rounds](int) {
        if (++rounds == 25) {
            window->commands().send(cmd::kStop, 0);
        } else {
            window->commands().post(kTick, 0);
        }
    });
    const QString path = tone("long.wav", kRate * 6);
    window->commands().post(kTick, 0);
    ASSERT_TRUE(analyzed(path));
    // The loop pumps every fourth column: the 25th pump is at column 96.
    EXPECT_EQ(run().params.columns, 97);
    const long fullColumns = deriveRunParameters(analysisInputsFrom(settings()), run().format,
                                                 static_cast<std::int64_t>(kRate) * 6 * 2)
                                 .columns;
    const std::int64_t full = state().held.samples->heldBytes();
    EXPECT_NEAR(static_cast<double>(run().segmentBytes),
                static_cast<double>(full) * 97 / static_cast<double>(fullColumns), 2.0);
    EXPECT_NE(indexAt(96, rowOf(1000.0), run().plotHeight), kBackgroundIndex);
    EXPECT_EQ(indexAt(97, rowOf(1000.0), run().plotHeight), kBackgroundIndex);
    EXPECT_FALSE(state().control.modeRunning);
}

TEST_F(AnalyzeFileTest, SmallFilesAndBadSegmentsSendTheUserBack) {
    // Under 2048 bytes: the message, then the file dialog again (cancelled).
    prompts->queueFile(tone("tiny.wav", 100, 1.0));
    prompts->queueCancel();
    QTest::keyClick(window.get(), Qt::Key_F1);
    expectOneMessage(*prompts, "Sample Size Too Small");
    EXPECT_EQ(prompts->fileRequests().size(), 2U);
    EXPECT_FALSE(state().held.spectralImage);

    // A time scale that is no number, as a hostile settings file may hold, refuses the run.
    const float timeScale = settings().timeScaleMsecSaved;
    settings().timeScaleMsecSaved = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(analyzed(tone("nan.wav", kRate)));
    expectOneMessage(*prompts, "Improper Entry");
    EXPECT_FALSE(state().control.modeRunning);
    settings().timeScaleMsecSaved = timeScale;

    // An image the memory cannot hold is refused before the samples are read.
    setAvailableMemoryForTesting(256 * 1024);
    EXPECT_FALSE(analyzed(tone("long.wav", kRate * 20)));
    setAvailableMemoryForTesting(-1);
    expectOneMessage(*prompts, "Not enough display memory");
    EXPECT_FALSE(state().held.samples.has_value());
    EXPECT_EQ(openAllocations(), 0);

    // Begin after end in the dialog: the message and the dialog again, then Cancel.
    settings().variables = Variables::Adjust;
    // The dialog comes back on the whole file, not on the refused values.
    QStringList firstShown;
    QStringList secondShown;
    const auto shown = [](QDialog& d) {
        return QStringList{editText(d, ID_BEGIN_EDIT), editText(d, ID_END_EDIT)};
    };
    prompts->queueDialog([&](QDialog& d) {
        firstShown = shown(d);
        setEdit(d, ID_BEGIN_EDIT, QStringLiteral("800"));
        setEdit(d, ID_END_EDIT, QStringLiteral("200"));
        ScriptedPrompts::pressOk(d);
    });
    prompts->queueDialog([&](QDialog& d) {
        secondShown = shown(d);
        ScriptedPrompts::pressCancel(d);
    });
    EXPECT_FALSE(analyzed(tone("ok.wav", kRate)));
    ASSERT_FALSE(prompts->messages().empty());
    EXPECT_EQ(prompts->messages()[0].text, "Improper Begin or End");
    EXPECT_EQ(prompts->dialogsRun().size(), 2);
    EXPECT_EQ(firstShown.value(0), QStringLiteral("0"));
    EXPECT_EQ(secondShown, firstShown);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// A refused file or stretch leaves the data held and shown as it was; a cancelled dialog lets
// go of it. Either way the picture, the title, the menu and the buttons agree.
TEST_F(AnalyzeFileTest, ARefusedFileKeepsTheHeldDataAndACancelLetsGoOfIt) {
    const QString path = tone("held.wav", kRate * 2);
    ASSERT_TRUE(analyzed(path));
    const std::vector<std::uint8_t> held = imageBytes();
    const QRgb shown = window->surface().pixel(100, 100).value_or(0);
    // A file that is no PCM (format 2, ADPCM).
    QByteArray adpcm = test::waveFile(kRate, 1, 16, kRate, test::sines({500.0}, kRate));
    adpcm[20] = 2;
    ASSERT_TRUE(analyzed(write(QStringLiteral("adpcm.wav"), adpcm)));
    expectOneMessage(*prompts, "Advanced Wave Formats Cannot be Processed");
    EXPECT_EQ(imageBytes(), held);
    window->surface().updateNow();
    EXPECT_EQ(window->surface().pixel(100, 100).value_or(0), shown);
    EXPECT_EQ(window->windowTitle(), "Korvanthile held.wav");
    EXPECT_TRUE(window->button(cmd::kPlayWindow)->isEnabled());

    // Begin and end equal: one FFT frame, not a single column. The refusal lets go of nothing
    // held, shows its picture again and puts the values from before the dialog back.
    const std::int64_t heldBytes = state().held.samples->heldBytes();
    const AnalysisRun runBefore = run();
    const float timeScaleBefore = settings().timeScaleMsecSaved;
    settings().variables = Variables::Adjust;
    prompts->queueDialog([&](QDialog& d) {
        setEdit(d, ID_BEGIN_EDIT, QStringLiteral("500"));
        setEdit(d, ID_END_EDIT, QStringLiteral("500"));
        setEdit(d, ID_TIME_SCALE_EDIT, QString::number(double(timeScaleBefore) * 2.0));
        ScriptedPrompts::pressOk(d);
    });
    ASSERT_TRUE(analyzed(path));
    expectOneMessage(*prompts, "Time Scale Too Small");
    EXPECT_EQ(imageBytes(), held);
    ASSERT_TRUE(state().held.samples.has_value());
    EXPECT_EQ(state().held.samples->heldBytes(), heldBytes);
    EXPECT_EQ(run().segmentBytes, runBefore.segmentBytes);
    EXPECT_EQ(run().params.columns, runBefore.params.columns);
    EXPECT_EQ(settings().timeScaleMsecSaved, timeScaleBefore);
    EXPECT_TRUE(window->menu().enabled(cmd::kParametersChange));

    prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressCancel(d); });
    EXPECT_FALSE(analyzed(path));
    EXPECT_FALSE(state().held.samples.has_value());
    EXPECT_EQ(state().analysis.sampleRateHz, 0);
    EXPECT_FALSE(window->button(cmd::kPlayWindow)->isEnabled());
    EXPECT_FALSE(window->button(cmd::kGrid)->isEnabled());
    EXPECT_FALSE(window->menu().enabled(cmd::kParametersChange));
    EXPECT_EQ(window->windowTitle(), "Korvanthile");
    EXPECT_EQ(openAllocations(), 0);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// A file named on the command line that cannot be opened does not make the next F1 skip its
// dialog. The vertical bar shows the display gain while the dialog is open; drawing turns it
// off.
TEST_F(AnalyzeFileTest, AFailedCommandLineFileLeavesTheNextRunItsDialogWithTheGainBar) {
    settings().variables = Variables::Adjust;
    window->startUp({dir.file(QStringLiteral("missing.wav"))});
    expectOneMessage(*prompts, "Cannot Open File");
    EXPECT_FALSE(state().control.fileFromCommandLine);
    settings().levelScaleCode = 4;
    settings().verticalScrollPos = 4 + 15;
    QScrollBar* bar = window->verticalBar();
    std::tuple<bool, int, int> barInDialog; // enabled, maximum, value
    prompts->queueDialog([&](QDialog& d) {
        barInDialog = {bar->isEnabled(), bar->maximum(), bar->value()};
        ScriptedPrompts::pressOk(d);
    });
    ASSERT_TRUE(analyzed(tone("next.wav", kRate)));
    EXPECT_EQ(prompts->dialogsRun().size(), 1);
    EXPECT_EQ(barInDialog, std::tuple(true, 30, settings().levelScaleCode + 15));
    EXPECT_FALSE(bar->isEnabled());
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// An image of fewer columns than the view shows neither scrolls nor offers PLAY, though its
// picture is as wide as the screen; a long one does both: Home, End, Page Up and Down (100
// columns, whatever the view's width) and Ctrl+arrows scroll it, the thumb is the visible share;
// + and Ctrl+wheel analyse the held stretch again at a finer or coarser scale.
TEST_F(AnalyzeFileTest, ANarrowImageNeitherScrollsNorPlaysKeysScrollALongOneAndZoomRescalesIt) {
    window->resize(500, 600);
    QCoreApplication::processEvents();
    const int plotWidth = state().view.layout.plotWidth;
    // A quarter of the view's columns at 4 msec a column.
    settings().timeScaleMsecSaved = 4.0f;
    ASSERT_TRUE(analyzed(tone("short.wav", kRate * (plotWidth / 4 * 4L) / 1000)));
    ASSERT_LT(run().params.columns, plotWidth);
    ASSERT_GT(image().width(), plotWidth);
    EXPECT_FALSE(window->button(cmd::kPlay)->isEnabled());
    EXPECT_FALSE(state().view.scroll.h.scrollable);
    EXPECT_EQ(window->horizontalBar()->maximum(), 0);
    // After a resize too.
    window->resize(520, 600);
    QCoreApplication::processEvents();
    window->commands().drain();
    EXPECT_FALSE(state().view.scroll.h.scrollable);
    EXPECT_FALSE(window->button(cmd::kPlay)->isEnabled());

    settings().timeScaleMsecSaved = 10.0f;
    ASSERT_TRUE(analyzed(tone("long.wav", kRate * 20)));
    EXPECT_TRUE(window->button(cmd::kPlay)->isEnabled());
    const HScrollState& h = state().view.scroll.h;
    EXPECT_TRUE(h.scrollable);
    QScrollBar* bar = window->horizontalBar();
    const int page = state().view.layout.plotWidth;
    EXPECT_EQ(bar->pageStep(), page);
    const int max = bar->maximum();
    ASSERT_EQ(max, run().params.columns - page);
    ASSERT_GT(max, 300);
    for (const auto& [key, modifier, pos] : {std::tuple{Qt::Key_End, Qt::NoModifier, max},
                                             {Qt::Key_Home, Qt::NoModifier, 0},
                                             {Qt::Key_PageDown, Qt::NoModifier, 100},
                                             {Qt::Key_Right, Qt::ControlModifier, 104},
                                             {Qt::Key_PageUp, Qt::NoModifier, 4}}) {
        QTest::keyClick(window.get(), key, modifier);
        EXPECT_EQ(h.pos, pos) << key;
        EXPECT_EQ(bar->value(), pos) << key;
    }

    // Half the msec a column: twice the columns for the same 20 seconds, without a dialog.
    const long columns = run().params.columns;
    const auto twice = static_cast<double>(2 * columns);
    QTest::keyClick(window.get(), Qt::Key_Plus);
    EXPECT_FLOAT_EQ(settings().timeScaleMsecSaved, 5.0f);
    EXPECT_NEAR(static_cast<double>(run().params.columns), twice, twice / 100.0);
    ASSERT_TRUE(state().analysis.restorePossible);
    // Parameters Restore brings the image from before back with its own time scale.
    window->menu().action(cmd::kParametersRestore)->trigger();
    EXPECT_FLOAT_EQ(settings().timeScaleMsecSaved, 10.0f);
    EXPECT_EQ(run().params.columns, columns);
    QTest::keyClick(window.get(), Qt::Key_Plus);
    EXPECT_FLOAT_EQ(settings().timeScaleMsecSaved, 5.0f);
    // Ctrl+wheel away from the user: one notch coarser again.
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window->drawingArea(), &wheel);
    EXPECT_FLOAT_EQ(settings().timeScaleMsecSaved, 10.0f);
    EXPECT_EQ(run().params.columns, columns);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
    EXPECT_TRUE(prompts->messages().empty());
}

// A finer or coarser time scale keeps the place looked at: the time under the pointer resting
// on the picture (+, - and Ctrl+wheel), else the time at the view's centre.
TEST_F(AnalyzeFileTest, ZoomKeepsTheTimeUnderThePointerOrAtTheCentre) {
    settings().timeScaleMsecSaved = 10.0f;
    ASSERT_TRUE(analyzed(tone("place.wav", kRate * 30)));
    QWidget* area = window->drawingArea();
    const int plotWidth = state().view.layout.plotWidth;
    const int y = state().view.layout.plotHeight / 2;
    const auto timeAt = [this](int x) {
        return (state().view.scroll.h.pos + x) * run().params.columnMsec;
    };
    QTest::keyClick(window.get(), Qt::Key_Home);
    // The pointer on 1.5 s, where it clicked.
    const int x = static_cast<int>(1500.0 / run().params.columnMsec);
    const double clicked = timeAt(x);
    QCursor::setPos(area->mapToGlobal(QPoint(x, y)));
    QTest::keyClick(window.get(), Qt::Key_Plus);
    ASSERT_FLOAT_EQ(settings().timeScaleMsecSaved, 5.0f);
    EXPECT_NEAR(timeAt(x), clicked, run().params.columnMsec);
    EXPECT_EQ(window->horizontalBar()->value(), state().view.scroll.h.pos);

    // The pointer away from the picture: the centre stays (a place the coarser image can show
    // there).
    QCursor::setPos(area->mapToGlobal(QPoint(x, -50)));
    for (int page = 0; page < 10; ++page) {
        QTest::keyClick(window.get(), Qt::Key_PageDown);
    }
    const double centre = timeAt(plotWidth / 2);
    QTest::keyClick(window.get(), Qt::Key_Minus);
    ASSERT_FLOAT_EQ(settings().timeScaleMsecSaved, 10.0f);
    EXPECT_NEAR(timeAt(plotWidth / 2), centre, run().params.columnMsec);

    // Ctrl+wheel: under the wheel's pointer.
    const int at = plotWidth * 3 / 4;
    const double wheeled = timeAt(at);
    QWheelEvent wheel(QPointF(at, y), area->mapToGlobal(QPointF(at, y)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(area, &wheel);
    ASSERT_FLOAT_EQ(settings().timeScaleMsecSaved, 5.0f);
    EXPECT_NEAR(timeAt(at), wheeled, run().params.columnMsec);
    EXPECT_LT(state().view.scroll.h.pos, state().view.scroll.h.max);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// The scroll memory is a scan's way of showing its picture: a stored "On" (kept from a scan,
// read again at the next start) leaves an analysed file's image free to scroll and play, and
// Restore leaves the choice as the user made it.
TEST_F(AnalyzeFileTest, AStoredScrollMemoryChoiceLeavesAnAnalysedImageScrollingAndPlaying) {
    settings().scrollMemory = true;
    settings().timeScaleMsecSaved = 10.0f;
    ASSERT_TRUE(window->close());
    MainWindowOptions restarted;
    restarted.settingsFile = dir.file(QStringLiteral("korv.ini")).toStdString();
    window = test::openWindow(restarted);
    ASSERT_TRUE(settings().scrollMemory);
    ASSERT_TRUE(analyzed(tone("memory.wav", kRate * 10)));
    const HScrollState& h = state().view.scroll.h;
    ASSERT_TRUE(h.scrollable);
    EXPECT_TRUE(window->button(cmd::kPlay)->isEnabled());
    QTest::keyClick(window.get(), Qt::Key_Home);
    EXPECT_EQ(h.pos, 0);
    QTest::keyClick(window.get(), Qt::Key_PageDown);
    EXPECT_EQ(h.pos, 100);
    test::repaint(*window); // a repaint keeps the place
    EXPECT_EQ(h.pos, 100);

    QTest::keyClick(window.get(), Qt::Key_Plus);
    window->commands().send(cmd::kParametersRestore, 0);
    EXPECT_TRUE(settings().scrollMemory);
    EXPECT_TRUE(window->button(cmd::kPlay)->isEnabled());
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

} // namespace
} // namespace korv
