// Analyze File end to end: the real window offscreen, wave files written to a temporary
// folder, the file and parameter dialogs answered by script.

#include "app/program_menu.h"
#include "app/spectral_view.h"
#include "base/user_message.h"
#include "display/grid_overlay.h"
#include "display/info_panel.h"
#include "display/memory_budget.h"
#include "display/readouts.h"
#include "settings/settings_inputs.h"
#include "support/analyze_fixture.h"
#include "support/dialog_controls.h"
#include "support/prompt_checks.h"
#include "support/sound_file_copy.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace korv {
namespace {

using namespace test;

TEST_F(AnalyzeFileTest, ASineLightsItsRowAndLittleElseInEightBitsAndWithoutAHeader) {
    // A scan's Oct/3 scale left in the settings is drawn Linear without the dialog, as the
    // dialog would switch it.
    // A line plot left by a scan gives way to the image display.
    settings().freqScaleChoice = FREQ_SCALE_THIRD_OCTAVE;
    settings().displayTypeChoice = DISPLAY_LINE_PLOT;
    analyze(tone("sine.wav", kRate * 2));
    EXPECT_EQ(settings().freqScaleChoice, FREQ_SCALE_LINEAR);
    EXPECT_EQ(settings().displayTypeChoice, DISPLAY_SCROLL);
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_TRUE(prompts->messages().empty());
    const AnalysisRun& run = window->state().analysis.run;
    const int bottom = run.plotHeight;
    ASSERT_GT(run.params.columns, 100);
    EXPECT_GE(image().width(), run.params.columns);
    EXPECT_EQ(image().height(), run.plotHeight);
    const int expected = rowOf(1000.0);
    for (const int x :
         {10, static_cast<int>(run.params.columns / 2), static_cast<int>(run.params.columns - 2)}) {
        EXPECT_NEAR(brightestRow(x, bottom), expected, 2) << "column " << x;
        const int peak = indexAt(x, expected, bottom);
        EXPECT_GT(peak, 150) << "column " << x;
        // Far from the tone the picture stays at the bottom of the palette's range.
        for (const double hz : {250.0, 3000.0, 5500.0}) {
            EXPECT_LT(indexAt(x, rowOf(hz), bottom), peak - 80) << hz << " Hz, column " << x;
        }
    }
    // The waveform strip: the zero line and the separator.
    EXPECT_EQ(*image().pixel(5, run.stripHeight), kSignal2Index);
    // Beyond the columns the image is the background.
    EXPECT_EQ(*image().pixel(image().width() - 1, bottom - 1 - expected), kBackgroundIndex);
    // After the run: the image state, PLAY WDW and GRID on, STOP off.
    EXPECT_FALSE(window->state().control.modeRunning);
    EXPECT_TRUE(window->menu().enabled(cmd::kParametersChange));
    EXPECT_TRUE(window->button(cmd::kPlayWindow)->isEnabled());
    EXPECT_TRUE(window->button(cmd::kGrid)->isEnabled());
    EXPECT_FALSE(window->button(cmd::kStop)->isEnabled());
    EXPECT_EQ(window->state().analysis.sampleRateHz, kRate);
    EXPECT_EQ(plays, 0);

    // 8 bits, and without a header.
    analyze(write("eight.wav", test::waveFile(kRate, 1, 8, kRate, test::sines({2000.0}, kRate))));
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(settings().resolutionChoice, RESOLUTION_8_BIT);
    EXPECT_NEAR(brightestRow(20, window->state().analysis.run.plotHeight), rowOf(2000.0), 2);

    // Without a header: raw 16-bit mono at 11025 Hz, after the warning; the band of 0 to 6000
    // Hz set for the last file stops at half this one's rate, with the dialog's words, so the
    // top rows are not the last bin repeated.
    settings().highBandHz = 6000;
    analyze(write("raw.pcm", test::rawSamples(11025 * 2, test::sines({1500.0}, 11025))));
    ASSERT_EQ(prompts->messages().size(), 2U);
    EXPECT_EQ(prompts->messages()[0].text, "File may not be PCM Wave Format");
    EXPECT_EQ(prompts->messages()[1].text, "Highest Frequency Limited to 1/2 Sampling Rate");
    EXPECT_EQ(settings().highBandHz, 11025 / 2);
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(window->state().analysis.run.format.sampleRate, 11025);
    EXPECT_NEAR(brightestRow(20, window->state().analysis.run.plotHeight), rowOf(1500.0), 2);
}

// 10 msec at 22050 Hz is 220.5 samples, made 221: a nominal 10 msec per column would put a
// beep near the end of a minute 130 msec early on the axis and in the readout.
TEST_F(AnalyzeFileTest, TimesOnLongFilesGoByTheRealStepBetweenColumns) {
    constexpr long kBeepFrame = 55L * kRate;
    const auto beep = [](long i) {
        const bool on = i >= kBeepFrame && i < kBeepFrame + kRate / 5;
        const double t = static_cast<double>(i) / kRate;
        return std::vector<double>{on ? 16000.0 * std::sin(2.0 * M_PI * 2000.0 * t) : 0.0};
    };
    settings().timeScaleMsecSaved = 10.0f;
    analyze(write(QStringLiteral("minute.wav"), test::waveFile(kRate, 1, 16, 60L * kRate, beep)));
    ASSERT_TRUE(window->state().held.spectralImage);
    const AnalysisRun& run = window->state().analysis.run;
    ASSERT_EQ(run.params.hop, 221);
    EXPECT_DOUBLE_EQ(run.params.columnMsec, 221.0 * 1000.0 / kRate);
    int onset = 0;
    while (onset < run.params.columns && indexAt(onset, rowOf(2000.0), run.plotHeight) < 150) {
        ++onset;
    }
    ASSERT_LT(onset, run.params.columns);
    const double frameMsec = run.params.fftSize * 1000.0 / kRate;

    // The readout over the beep's first column.
    const ReadoutPoint p{.inside = true, .absoluteColumn = onset, .y = run.plotHeight / 2};
    const ViewGeometry g = currentViewGeometry(window->state());
    const double shown = std::stod(readoutTexts(g, {}, p).time);
    EXPECT_NEAR(shown, 55000.0 - frameMsec / 2, frameMsec) << "column " << onset;

    // The time axis over the whole image: every tick lies at the column of its time.
    const std::vector<TimeTick> ticks =
        timeTicks({.timeScaleMsec = g.timeScaleMsec,
                   .columnMsec = g.columnMsec,
                   .viewWidth = static_cast<int>(run.params.columns),
                   .charWidth = g.charWidth,
                   .textWidth = {}});
    ASSERT_GT(ticks.size(), 5u);
    for (const TimeTick& t : ticks) {
        EXPECT_NEAR(t.x, static_cast<double>(t.msec) / (221.0 * 1000.0 / kRate), 1.0) << t.label;
    }
}

// A broadcast recorder's 24-bit file, its "bext" chunk before the format and an odd, padded
// "LIST" chunk pushing the data past 8 KB, is analysed like the same sound in 16 bits; so
// is a stretch of it dragged out for Parameters Change. The panel shows its recording time.
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
    analyze(path);
    ASSERT_TRUE(window->state().held.spectralImage);
    const AnalysisRun& run = window->state().analysis.run;
    // The loop pumps every fourth column: the 25th pump is at column 96.
    EXPECT_EQ(run.params.columns, 97);
    const long fullColumns = deriveRunParameters(analysisInputsFrom(settings()), run.format,
                                                 static_cast<std::int64_t>(kRate) * 6 * 2)
                                 .columns;
    const std::int64_t full = window->state().held.samples->heldBytes();
    EXPECT_NEAR(static_cast<double>(run.segmentBytes),
                static_cast<double>(full) * 97 / static_cast<double>(fullColumns), 2.0);
    const int bottom = run.plotHeight;
    EXPECT_NE(indexAt(96, rowOf(1000.0), bottom), kBackgroundIndex);
    EXPECT_EQ(indexAt(97, rowOf(1000.0), bottom), kBackgroundIndex);
    EXPECT_FALSE(window->state().control.modeRunning);
}

TEST_F(AnalyzeFileTest, SmallFilesAndBadSegmentsSendTheUserBack) {
    // Under 2048 bytes: the message, then the file dialog again (cancelled).
    prompts->queueFile(tone("tiny.wav", 100, 1.0));
    prompts->queueCancel();
    QTest::keyClick(window.get(), Qt::Key_F1);
    expectOneMessage(*prompts, "Sample Size Too Small");
    EXPECT_EQ(prompts->fileRequests().size(), 2U);
    EXPECT_FALSE(window->state().held.spectralImage);

    // A time scale that is no number, as a hostile settings file may hold, refuses the run.
    const float timeScale = settings().timeScaleMsecSaved;
    settings().timeScaleMsecSaved = std::numeric_limits<float>::quiet_NaN();
    analyze(tone("nan.wav", kRate));
    expectOneMessage(*prompts, "Improper Entry");
    EXPECT_FALSE(window->state().held.spectralImage);
    EXPECT_FALSE(window->state().control.modeRunning);
    settings().timeScaleMsecSaved = timeScale;

    // An image the memory cannot hold is refused before the samples are read.
    setAvailableMemoryForTesting(256 * 1024);
    analyze(tone("long.wav", kRate * 20));
    setAvailableMemoryForTesting(-1);
    expectOneMessage(*prompts, "Not enough display memory");
    EXPECT_FALSE(window->state().held.samples.has_value());
    EXPECT_FALSE(window->state().held.spectralImage);
    EXPECT_EQ(openAllocations(), 0);

    // Begin after end in the dialog: the message and the dialog again, then Cancel.
    settings().variablesChoice = cmd::kVariablesAdjust;
    prompts->queueFile(tone("ok.wav", kRate));
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
    QTest::keyClick(window.get(), Qt::Key_F1);
    ASSERT_FALSE(prompts->messages().empty());
    EXPECT_EQ(prompts->messages()[0].text, "Improper Begin or End");
    EXPECT_EQ(prompts->dialogsRun().size(), 2);
    EXPECT_EQ(firstShown.value(0), QStringLiteral("0"));
    EXPECT_EQ(secondShown, firstShown);
    EXPECT_FALSE(window->state().held.spectralImage);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// Max Over Step from the dialog: at 500 msec a column, a 0.15 s beep that no column's first
// frame reaches lights its column's row, and the choice is kept in the settings file.
TEST_F(AnalyzeFileTest, ARefusedFileKeepsTheHeldDataAndACancelLetsGoOfIt) {
    const QString path = tone("held.wav", kRate * 2);
    analyze(path);
    ASSERT_TRUE(window->state().held.spectralImage);
    const std::vector<std::uint8_t> held = imageBytes();
    const QRgb shown = window->surface().pixel(100, 100).value_or(0);
    // A file that is no PCM (format 2, ADPCM).
    QByteArray adpcm = test::waveFile(kRate, 1, 16, kRate, test::sines({500.0}, kRate));
    adpcm[20] = 2;
    analyze(write(QStringLiteral("adpcm.wav"), adpcm));
    ASSERT_EQ(prompts->messages().size(), 1U);
    prompts->clearMessages();
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(imageBytes(), held);
    window->surface().updateNow();
    EXPECT_EQ(window->surface().pixel(100, 100).value_or(0), shown);
    EXPECT_EQ(window->windowTitle(), "Korvanthile held.wav");
    EXPECT_TRUE(window->button(cmd::kPlayWindow)->isEnabled());

    // Begin and end equal: one FFT frame, not a single column. The refusal lets go of nothing
    // held, shows its picture again and puts the values from before the dialog back.
    const std::int64_t heldBytes = window->state().held.samples->heldBytes();
    const AnalysisRun runBefore = window->state().analysis.run;
    const float timeScaleBefore = settings().timeScaleMsecSaved;
    settings().variablesChoice = cmd::kVariablesAdjust;
    prompts->queueFile(path);
    prompts->queueDialog([&](QDialog& d) {
        setEdit(d, ID_BEGIN_EDIT, QStringLiteral("500"));
        setEdit(d, ID_END_EDIT, QStringLiteral("500"));
        setEdit(d, ID_TIME_SCALE_EDIT, QString::number(double(timeScaleBefore) * 2.0));
        ScriptedPrompts::pressOk(d);
    });
    QTest::keyClick(window.get(), Qt::Key_F1);
    expectOneMessage(*prompts, "Time Scale Too Small");
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(imageBytes(), held);
    ASSERT_TRUE(window->state().held.samples.has_value());
    EXPECT_EQ(window->state().held.samples->heldBytes(), heldBytes);
    EXPECT_EQ(window->state().analysis.run.segmentBytes, runBefore.segmentBytes);
    EXPECT_EQ(window->state().analysis.run.params.columns, runBefore.params.columns);
    EXPECT_EQ(settings().timeScaleMsecSaved, timeScaleBefore);
    EXPECT_TRUE(window->menu().enabled(cmd::kParametersChange));

    prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressCancel(d); });
    analyze(path);
    EXPECT_FALSE(window->state().held.spectralImage);
    EXPECT_FALSE(window->state().held.samples.has_value());
    EXPECT_EQ(window->state().analysis.sampleRateHz, 0);
    EXPECT_FALSE(window->button(cmd::kPlayWindow)->isEnabled());
    EXPECT_FALSE(window->button(cmd::kGrid)->isEnabled());
    EXPECT_FALSE(window->menu().enabled(cmd::kParametersChange));
    EXPECT_EQ(window->windowTitle(), "Korvanthile");
    EXPECT_EQ(openAllocations(), 0);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// What is not built yet is offered disabled. Averaging starts from zero-filled slots.
TEST_F(AnalyzeFileTest, TheMenuOffersOnlyWhatIsBuiltAndAveragingStartsFromZeroFilledSlots) {
    settings().averageCountScroll = 3;
    analyze(tone("built.wav", kRate * 2));
    ASSERT_TRUE(window->state().held.spectralImage);
    const int bottom = window->state().analysis.run.plotHeight;
    const int row = brightestRow(10, bottom);
    const int steady = indexAt(10, row, bottom);
    EXPECT_LT(indexAt(0, row, bottom), indexAt(1, row, bottom));
    EXPECT_LT(indexAt(1, row, bottom), steady);
    EXPECT_NEAR(indexAt(2, row, bottom), steady, 2);
    ProgramMenu& m = window->menu();
    for (const int id : {cmd::kAnalyzeFile, cmd::kScanFile, cmd::kScanInput, cmd::kSaveWave,
                         cmd::kParametersChange, cmd::kVolumeControl, cmd::kSignalScale,
                         cmd::kFreqCalibration, cmd::kLogSpectrum, cmd::kLogPoints,
                         cmd::kAnalyzeBatch, cmd::kSaveWindowImage, cmd::kPrintWindow}) {
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
    const QByteArray bytes = test::TempDir::read(saved);
    ASSERT_EQ(bytes.size(), 46 + static_cast<qsizetype>(window->state().held.samples->heldBytes()));
    EXPECT_EQ(bytes.mid(46), QByteArray(reinterpret_cast<const char*>(
                                            window->state().held.samples->samples().data()),
                                        bytes.size() - 46));
    // A full disk: a file named for a device that is always full.
    const QString full = dir.file(QStringLiteral("full.wav"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), full));
    prompts->queueFile(full);
    prompts->queueAnswer(true); // it exists: replace it
    window->dispatch(cmd::kSaveWave, 0);
    EXPECT_EQ(lastMessage(*prompts), kErrorWritingFile.text);
}

// A segment longer than the window may hold is read from its file as the columns go: none of it
// is held, the last column shows the tone that ends the file, and Save Wave copies the file's
// own sample bytes.
TEST_F(AnalyzeFileTest, AFailedCommandLineFileLeavesTheNextRunItsDialogWithTheGainBar) {
    settings().variablesChoice = cmd::kVariablesAdjust;
    window->startUp({dir.file(QStringLiteral("missing.wav"))});
    expectOneMessage(*prompts, "Cannot Open File");
    EXPECT_FALSE(window->state().control.fileFromCommandLine);
    settings().variablesChoice = cmd::kVariablesAdjust;
    settings().levelScaleCode = 4;
    settings().verticalScrollPos = 4 + 15;
    QScrollBar* bar = window->verticalBar();
    bool enabledInDialog = false;
    int maximumInDialog = -1;
    int valueInDialog = -1;
    prompts->queueDialog([&](QDialog& d) {
        enabledInDialog = bar->isEnabled();
        maximumInDialog = bar->maximum();
        valueInDialog = bar->value();
        ScriptedPrompts::pressOk(d);
    });
    analyze(tone("next.wav", kRate));
    EXPECT_EQ(prompts->dialogsRun().size(), 1);
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_TRUE(enabledInDialog);
    EXPECT_EQ(maximumInDialog, 30);
    EXPECT_EQ(valueInDialog, settings().levelScaleCode + 15);
    EXPECT_FALSE(bar->isEnabled());
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// An image of fewer columns than the view shows neither scrolls nor offers PLAY, though its
// picture is as wide as the screen; one wider than the view does both.
TEST_F(AnalyzeFileTest, AnImageNarrowerThanTheViewNeitherScrollsNorPlays) {
    window->resize(500, 600);
    QCoreApplication::processEvents();
    const int plotWidth = window->state().view.layout.plotWidth;
    // A quarter of the view's columns at 4 msec a column.
    settings().timeScaleMsecSaved = 4.0f;
    const long spanMsec = plotWidth / 4 * 4L;
    analyze(tone("short.wav", kRate * spanMsec / 1000));
    ASSERT_TRUE(window->state().held.spectralImage);
    ASSERT_LT(window->state().analysis.run.params.columns, plotWidth);
    ASSERT_GT(image().width(), plotWidth);
    EXPECT_FALSE(window->button(cmd::kPlay)->isEnabled());
    EXPECT_FALSE(window->state().view.scroll.h.scrollable);
    EXPECT_EQ(window->horizontalBar()->maximum(), 0);
    // After a resize too.
    window->resize(520, 600);
    QCoreApplication::processEvents();
    window->commands().drain();
    EXPECT_FALSE(window->state().view.scroll.h.scrollable);
    EXPECT_FALSE(window->button(cmd::kPlay)->isEnabled());

    analyze(tone("long.wav", kRate * spanMsec * 8 / 1000));
    ASSERT_GT(window->state().analysis.run.params.columns, window->state().view.layout.plotWidth);
    EXPECT_TRUE(window->button(cmd::kPlay)->isEnabled());
    EXPECT_TRUE(window->state().view.scroll.h.scrollable);
    EXPECT_EQ(window->horizontalBar()->maximum(),
              window->state().analysis.run.params.columns - window->state().view.layout.plotWidth);
}

// A long image: Home, End, Page Up and Down and Ctrl+arrows scroll it, the thumb is the
// visible share; + and Ctrl+wheel analyse the held stretch again at a finer or coarser scale.
TEST_F(AnalyzeFileTest, KeysScrollALongImageAndZoomChangesTheTimeScale) {
    settings().timeScaleMsecSaved = 10.0f;
    analyze(tone("long.wav", kRate * 20));
    ASSERT_TRUE(window->state().held.spectralImage);
    const HScrollState& h = window->state().view.scroll.h;
    const int max = h.max;
    ASSERT_GT(max, 300);
    QScrollBar* bar = window->horizontalBar();
    EXPECT_EQ(bar->pageStep(), window->state().view.layout.plotWidth);
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
    const long columns = window->state().analysis.run.params.columns;
    const auto twice = static_cast<double>(2 * columns);
    QTest::keyClick(window.get(), Qt::Key_Plus);
    EXPECT_FLOAT_EQ(settings().timeScaleMsecSaved, 5.0f);
    EXPECT_NEAR(static_cast<double>(window->state().analysis.run.params.columns), twice,
                twice / 100.0);
    EXPECT_TRUE(window->state().analysis.restorePossible);
    // Ctrl+wheel away from the user: one notch coarser again.
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window->drawingArea(), &wheel);
    EXPECT_FLOAT_EQ(settings().timeScaleMsecSaved, 10.0f);
    EXPECT_EQ(window->state().analysis.run.params.columns, columns);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
    EXPECT_TRUE(prompts->messages().empty());
}

} // namespace
} // namespace korv
