// The analysis parameter dialogs driven as a user would: clicks on the real radio buttons,
// scroll bar actions and positions, typing into the edits, OK and Cancel through the prompts.

#include "dialogs/control_ids.h"
#include "dialogs/parameter_dialog.h"
#include "platform/prompts.h"
#include "support/dialog_controls.h"
#include "support/platform_scopes.h"

#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <tuple>

namespace korv {
namespace {

using namespace test;

// The state of several controls at once; a failure names the control.
void expectChecked(QDialog& d, std::initializer_list<int> ids, bool checked = true) {
    for (const int id : ids) {
        EXPECT_EQ(radio(d, id)->isChecked(), checked) << id;
    }
}
void expectEnabled(QDialog& d, std::initializer_list<int> ids, bool enabled) {
    for (const int id : ids) {
        EXPECT_EQ(control<QWidget>(d, id)->isEnabled(), enabled) << id;
    }
}
void expectTexts(QDialog& d, std::initializer_list<std::pair<int, const char*>> texts) {
    for (const auto& [id, text] : texts) {
        EXPECT_EQ(editText(d, id), text) << id;
    }
}

TEST(ParameterDialog, AnalyzeFileOpensFromSettingsAndStepsResolutionAndAverage) {
    AppSettings settings;
    settings.frequencyScale = FrequencyScale::ThirdOctave;
    settings.log2FftSize = 13;
    settings.averageCountScroll = 7;
    settings.dbRange = DbRange::Db90;
    settings.stereo = false;
    settings.timeScaleMsec = 3.0f;
    RunValues run = fileRun(22050, 0, 4000);
    run.scanFinished = true;
    ParameterDialog dialog(DialogId::AnalyzeFile, settings, run);

    // Oct/3 is not offered here: it falls back to Linear with 1024 points.
    EXPECT_EQ(dialog.findChild<QRadioButton*>(controlName(FREQ_SCALE_THIRD_OCTAVE)), nullptr);
    expectChecked(dialog, {FREQ_SCALE_LINEAR, FFT_SIZE_CHOICE_1024, DB_SCALE_90});
    // Mono: the channel radios are unchecked and disabled; the rate is fixed.
    expectChecked(dialog, {CHANNEL_DUAL, CHANNEL_LEFT, CHANNEL_RIGHT}, false);
    expectEnabled(dialog, {CHANNEL_DUAL, CHANNEL_LEFT, CHANNEL_RIGHT, ID_RATE_EDIT}, false);
    // The average count is set to 1 at once; the scan flag gives a 10 msec time scale.
    EXPECT_EQ(settings.averageCountScroll, 1);
    EXPECT_FALSE(run.scanFinished);
    // Resolution: 22050 / 1024 x 10 / 10.
    expectTexts(dialog, {{ID_TIME_SCALE_EDIT, "10.00"},
                         {ID_RATE_EDIT, "22050"},
                         {ID_END_EDIT, "4000"},
                         {ID_RESOLUTION_EDIT, "21.5"}});
    // (The fields beside the bars take typing: TypedNumbersRadioGroupsAndOkTransferAnd...)
    QScrollBar* resolution = bar(dialog, ID_RESOLUTION_SCROLL);
    EXPECT_EQ(std::pair(resolution->minimum(), resolution->maximum()), std::pair(10, 100));
    // A page and a line on: 22050 / 1024 x 21 / 10 = 45.22...; 2048 points halve it.
    resolution->triggerAction(QAbstractSlider::SliderPageStepAdd);
    resolution->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(resolution->value(), 21);
    EXPECT_EQ(editText(dialog, ID_RESOLUTION_EDIT), "45.2");
    click(dialog, 1084);
    EXPECT_EQ(editText(dialog, ID_RESOLUTION_EDIT), "22.6");
    // The average count from 1, a page on, written through before OK; 128 at most.
    QScrollBar* average = bar(dialog, ID_AVERAGE_SCROLL);
    average->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(settings.averageCountScroll, 11);
    average->setValue(128);
    average->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(editText(dialog, ID_AVERAGE_EDIT), "128");

    RunValues change = fileRun(22050, 0, 100);
    change.opening = AnalyzeOpening::ParametersChange;
    ParameterDialog modify(DialogId::AnalyzeFile, settings, change);
    EXPECT_EQ(modify.windowTitle(), "Modify Analysis Parameters");
}

TEST(ParameterDialog, CaptionsControlSetsAndOpeningRulesOfTheScanDialogs) {
    AppSettings settings;
    settings.frequencyScale = FrequencyScale::ThirdOctave;
    settings.plotType = PlotType::LrDelta;
    settings.stereo = false;
    RunValues run = fileRun(44100, 0, 100);
    RunValues point = fileRun(22050, 0, 100);
    point.pointMode = true;
    ParameterDialog input(DialogId::ScanInput, settings, run);
    ParameterDialog scan(DialogId::ScanFile, settings, point);
    ParameterDialog plot(DialogId::SpectrumPlot, settings, run);
    // Scan File's is titled as its menu item. (The others: DialogTitles in prompts_test.)
    EXPECT_EQ(scan.windowTitle(), "Scan File");
    // Elsewhere than Scan Input, whose high band scroll bar it is, 1058 is the New button.
    EXPECT_NE(scan.findChild<QPushButton*>(controlName(ID_NEW_RATE)), nullptr);
    EXPECT_NE(input.findChild<QRadioButton*>(controlName(SAMPLE_RATE_48K)), nullptr);
    EXPECT_EQ(scan.findChild<QRadioButton*>(controlName(SAMPLE_RATE_48K)), nullptr);
    EXPECT_NE(scan.findChild<QRadioButton*>(controlName(ANALYSIS_AT_STOP_ON)), nullptr);
    EXPECT_EQ(plot.findChild<QPushButton*>(controlName(ID_RESET)), nullptr);
    EXPECT_EQ(plot.findChild<QRadioButton*>(controlName(DISPLAY_SCROLL)), nullptr);
    EXPECT_TRUE(radio(plot, DISPLAY_LINE_PLOT)->isChecked());
    // Scan Input: Log for Oct/3 with Scroll; L-R delta wants stereo, dual. Scan File at a
    // point: a plot, so Oct/3 stays.
    expectChecked(input, {FREQ_SCALE_LOG, TYPE_STEREO, CHANNEL_DUAL});
    expectChecked(scan, {DISPLAY_LINE_PLOT, FREQ_SCALE_THIRD_OCTAVE});
}

TEST(ParameterDialog, LogAndLinearScalesAndBandLimitSteps) {
    AppSettings settings;
    settings.log2FftSize = 9;
    settings.lowBandHz = 500;
    settings.highBandHz = 3000;
    RunValues run = fileRun(22050, 0, 1000);
    ParameterDialog dialog(DialogId::AnalyzeFile, settings, run);

    click(dialog, FREQ_SCALE_LOG);
    expectChecked(dialog, {FREQ_SCALE_LOG, 1085});
    expectChecked(dialog, {FREQ_SCALE_LINEAR, FFT_SIZE_CHOICE_FIRST}, false);
    expectTexts(dialog, {{ID_LOW_BAND_EDIT, "100"}, {ID_HIGH_BAND_EDIT, "11025"}});
    EXPECT_FALSE(bar(dialog, ID_HIGH_BAND_SCROLL)->isEnabled());
    QScrollBar* low = bar(dialog, ID_LOW_BAND_SCROLL);
    EXPECT_EQ(std::pair(low->minimum(), low->maximum()), std::pair(10, 1000));
    // Page left on the log scale rounds down to hundreds above 100.
    low->setValue(470);
    low->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(editText(dialog, ID_LOW_BAND_EDIT), "300");

    click(dialog, FREQ_SCALE_LINEAR);
    EXPECT_EQ(editText(dialog, ID_LOW_BAND_EDIT), "0");
    QScrollBar* high = bar(dialog, ID_HIGH_BAND_SCROLL);
    EXPECT_TRUE(high->isEnabled());
    EXPECT_EQ(low->maximum(), 11025);

    // The linear steps, from 0 to 2000 Hz.
    high->setValue(2000);
    low->setValue(1237);
    EXPECT_EQ(low->value(), 1230);
    EXPECT_EQ(editText(dialog, ID_LOW_BAND_EDIT), "1230");
    low->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(editText(dialog, ID_LOW_BAND_EDIT), "1300");
    low->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(editText(dialog, ID_LOW_BAND_EDIT), "1310");
    // Linear page left does not round.
    low->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(editText(dialog, ID_LOW_BAND_EDIT), "1210");

    // The low limit drags the high limit up with it, and the other way round.
    low->setValue(2500);
    EXPECT_EQ(editText(dialog, ID_HIGH_BAND_EDIT), "2500");
    high->setValue(1005);
    expectTexts(dialog, {{ID_HIGH_BAND_EDIT, "1000"}, {ID_LOW_BAND_EDIT, "1000"}});
    // High page left rounds down to hundreds.
    high->setValue(1250);
    high->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(editText(dialog, ID_HIGH_BAND_EDIT), "1100");
    // Clamped at both ends.
    for (int i = 0; i < 20; ++i) {
        low->triggerAction(QAbstractSlider::SliderPageStepSub);
    }
    EXPECT_EQ(editText(dialog, ID_LOW_BAND_EDIT), "0");
    high->setValue(11020);
    high->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(editText(dialog, ID_HIGH_BAND_EDIT), "11025");
}

TEST(ParameterDialog, FormatAndRateChangesRescaleBeginAndEndResetKeepsTheFormatAHeaderLocksIt) {
    AppSettings settings;
    settings.highBandHz = 11025;
    settings.stereo = true;
    RunValues run = fileRun(22050, 1000, 3000);
    ParameterDialog dialog(DialogId::AnalyzeFile, settings, run);
    click(dialog, RESOLUTION_8_BIT);
    expectTexts(dialog, {{ID_BEGIN_EDIT, "2000"}, {ID_END_EDIT, "6000"}});
    click(dialog, RESOLUTION_8_BIT); // no change, no rescale
    EXPECT_EQ(editText(dialog, ID_BEGIN_EDIT), "2000");
    click(dialog, TYPE_MONO);
    EXPECT_EQ(editText(dialog, ID_BEGIN_EDIT), "4000");
    click(dialog, RESOLUTION_16_BIT);
    click(dialog, TYPE_STEREO);
    EXPECT_EQ(editText(dialog, ID_BEGIN_EDIT), "1000");
    EXPECT_TRUE(radio(dialog, CHANNEL_DUAL)->isChecked()); // the stored choice comes back

    click(dialog, ID_NEW_RATE);
    EXPECT_EQ(control<QPushButton>(dialog, ID_NEW_RATE)->text(), "OK");
    EXPECT_TRUE(control<QLineEdit>(dialog, ID_RATE_EDIT)->isEnabled());
    EXPECT_EQ(editText(dialog, ID_RATE_EDIT), "");
    expectEnabled(dialog,
                  {ID_BEGIN_EDIT, ID_END_EDIT, ID_TIME_SCALE_EDIT, ID_CURSOR_OFFSET_EDIT,
                   RESOLUTION_16_BIT, FFT_SIZE_CHOICE_1024, FREQ_SCALE_LOG, ID_LOW_BAND_SCROLL,
                   ID_RESOLUTION_SCROLL},
                  false);
    typeInto(dialog, ID_RATE_EDIT, "44100");
    // OK while the change is open only ends it.
    ScriptedPrompts::pressOk(dialog);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(control<QPushButton>(dialog, ID_NEW_RATE)->text(), "New");
    expectTexts(dialog, {{ID_RATE_EDIT, "44100"}, {ID_BEGIN_EDIT, "500"}, {ID_END_EDIT, "1500"}});
    EXPECT_TRUE(control<QLineEdit>(dialog, ID_BEGIN_EDIT)->isEnabled());
    EXPECT_EQ(bar(dialog, ID_HIGH_BAND_SCROLL)->maximum(), 22050);

    // Too high is clamped, nothing keeps the rate, and the band follows a lower rate.
    click(dialog, ID_NEW_RATE);
    typeInto(dialog, ID_RATE_EDIT, "400000");
    click(dialog, ID_NEW_RATE);
    EXPECT_EQ(editText(dialog, ID_RATE_EDIT), "384000");
    click(dialog, ID_NEW_RATE);
    click(dialog, ID_NEW_RATE);
    EXPECT_EQ(editText(dialog, ID_RATE_EDIT), "384000");
    click(dialog, ID_NEW_RATE);
    typeInto(dialog, ID_RATE_EDIT, "8000");
    click(dialog, ID_NEW_RATE);
    EXPECT_EQ(editText(dialog, ID_HIGH_BAND_EDIT), "4000");

    // Reset leaves the format, so the begin stays rescaled: 1000 msec at 22050 Hz is 500 at
    // 44100, 57 at 384000 (whole msec), 2736 at 8000, 5472 in 8-bit samples.
    click(dialog, DB_SCALE_30);
    click(dialog, RESOLUTION_8_BIT);
    click(dialog, ID_RESET);
    expectTexts(
        dialog,
        {{ID_TIME_SCALE_EDIT, "10.00"}, {ID_HIGH_BAND_EDIT, "4000"}, {ID_BEGIN_EDIT, "5472"}});
    expectChecked(dialog, {DB_SCALE_60, RESOLUTION_8_BIT});

    RunValues fromHeader = fileRun(11025, 0, 10);
    fromHeader.formatFromHeader = true;
    ParameterDialog locked(DialogId::ScanFile, settings, fromHeader);
    expectEnabled(locked, {RESOLUTION_8_BIT, RESOLUTION_16_BIT, TYPE_MONO, TYPE_STEREO}, false);
}

TEST(ParameterDialog, ScanDependenciesAndWhatScanInputsOkStores) {
    test::ScriptedPromptsScope prompts;
    AppSettings settings;
    settings.stereo = true;
    settings.channel = StereoChannel::Left;
    settings.pitchDetector = true;
    settings.averageCountScroll = 3;
    settings.averageCountPlot = 20;
    RunValues run;
    prompts->queueDialog([](QDialog& dialog) {
        // Pitch detector on forces Scroll Mem on and locks it.
        expectChecked(dialog, {SCROLL_MEM_ON});
        expectEnabled(dialog, {SCROLL_MEM_OFF}, false);
        // Stereo with Right: pitch detector off and locked.
        click(dialog, CHANNEL_RIGHT);
        expectChecked(dialog, {PITCH_DETECTOR_OFF});
        expectEnabled(dialog, {PITCH_DETECTOR_ON}, false);
        expectEnabled(dialog, {SCROLL_MEM_OFF}, true);

        // Scroll: Oct/3 and the delta plots are locked.
        expectEnabled(dialog, {FREQ_SCALE_THIRD_OCTAVE, PLOT_PEAK_DELTA}, false);
        EXPECT_EQ(editText(dialog, ID_AVERAGE_EDIT), "3");
        click(dialog, DISPLAY_LINE_PLOT);
        EXPECT_EQ(editText(dialog, ID_AVERAGE_EDIT), "20");
        expectChecked(dialog, {SCROLL_MEM_ON}, false);
        expectEnabled(dialog, {SCROLL_MEM_ON, PLOT_LR_DELTA}, false);
        expectEnabled(dialog, {PLOT_PEAK_DELTA}, true);
        click(dialog, CHANNEL_DUAL);
        EXPECT_FALSE(radio(dialog, PLOT_PEAK_DELTA)->isEnabled());
        click(dialog, PLOT_LR_DELTA);
        EXPECT_TRUE(radio(dialog, PLOT_LR_DELTA)->isChecked());
        click(dialog, TYPE_MONO); // L-R delta needs two channels
        EXPECT_TRUE(radio(dialog, PLOT_SIGNAL)->isChecked());

        // Oct/3 with a plot: mirrors show the band edges; back to Scroll gives Linear.
        click(dialog, FREQ_SCALE_THIRD_OCTAVE);
        EXPECT_EQ(editText(dialog, ID_RESOLUTION_EDIT), "Oct/3");
        expectEnabled(dialog, {ID_RESOLUTION_SCROLL, ID_LOW_BAND_SCROLL, ID_HIGH_BAND_SCROLL_INPUT},
                      false);
        click(dialog, DISPLAY_SCROLL);
        expectChecked(dialog, {FREQ_SCALE_LINEAR});
        expectTexts(dialog, {{ID_LOW_BAND_EDIT, "0"}, {ID_HIGH_BAND_EDIT, "11025"}});

        // Trigger level only with Trigger recording; the rate radios move the band range.
        EXPECT_FALSE(bar(dialog, ID_TRIGGER_SCROLL)->isEnabled());
        EXPECT_EQ(editText(dialog, ID_TRIGGER_EDIT), "");
        click(dialog, RECORDING_TRIGGER);
        EXPECT_TRUE(bar(dialog, ID_TRIGGER_SCROLL)->isEnabled());
        EXPECT_EQ(editText(dialog, ID_TRIGGER_EDIT), "5000");
        bar(dialog, ID_TRIGGER_SCROLL)->setValue(1234);
        EXPECT_EQ(editText(dialog, ID_TRIGGER_EDIT), "1230");
        bar(dialog, ID_TRIGGER_SCROLL)->triggerAction(QAbstractSlider::SliderPageStepSub);
        EXPECT_EQ(editText(dialog, ID_TRIGGER_EDIT), "1130");
        click(dialog, SAMPLE_RATE_11K);
        EXPECT_EQ(editText(dialog, ID_HIGH_BAND_EDIT), "5512");
        EXPECT_EQ(bar(dialog, ID_HIGH_BAND_SCROLL_INPUT)->maximum(), 5512);
        click(dialog, DB_SCALE_90);
        typeInto(dialog, ID_TRIGGER_EDIT, "777"); // typed exactly, the bar follows
        EXPECT_EQ(bar(dialog, ID_TRIGGER_SCROLL)->value(), 777);
        bar(dialog, ID_TRIGGER_SCROLL)->setValue(779); // the bar's step of ten
        EXPECT_EQ(editText(dialog, ID_TRIGGER_EDIT), "770");
        ScriptedPrompts::pressOk(dialog);
    });
    // OK stores the rate and the trigger level as shown.
    ASSERT_TRUE(runAnalysisDialog(*prompts, DialogId::ScanInput, settings, run));
    EXPECT_EQ(std::pair(run.sampleRateHz, run.triggerLevel), std::pair(11025, 770));
    EXPECT_EQ(std::tuple(settings.inputSampleRateHz, settings.recording, settings.levelScaleCode),
              std::tuple(11025, Recording::Choice::Trigger, 12));
    EXPECT_NEAR(settings.freqResolutionHz, 11025.0 / 1024.0, 1e-3);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

TEST(ParameterDialog, ResetValuesOfScanInput) {
    AppSettings settings;
    settings.inputSampleRateHz = 44100;
    settings.log2FftSize = 14;
    settings.resolutionFactor = 55;
    settings.stereo = true;
    settings.channel = StereoChannel::Right;
    settings.averageCountPlot = 40;
    settings.cursorOffsetHz = -30;
    RunValues run;
    ParameterDialog input(DialogId::ScanInput, settings, run);
    click(input, ID_RESET);
    expectChecked(input, {SAMPLE_RATE_22K, TYPE_MONO});
    expectEnabled(input, {CHANNEL_LEFT, PLOT_PEAK_DELTA, PLOT_LR_DELTA}, false);
    expectTexts(input, {{ID_RESOLUTION_EDIT, "21.5"},
                        {ID_HIGH_BAND_EDIT, "11025"},
                        {ID_TIME_SCALE_EDIT, "5.00"},
                        {ID_CURSOR_OFFSET_EDIT, "0"}});
    EXPECT_EQ(settings.averageCountPlot, 10); // average counts are written through
}

// The fields beside the bars take what is typed (the bar follows); what lies outside the
// bar's range is refused at OK with the dialog's messages; a field that only shows a value is
// read-only and looks it. A choice is the checked button, however it got checked (a click, an
// arrow key, a screen reader's check). OK transfers it all; Cancel does not.
TEST(ParameterDialog, TypedNumbersRadioGroupsAndOkTransferAndCancelDoesNot) {
    test::ScriptedPromptsScope prompts;
    AppSettings settings;
    settings.averageCountScroll = 1;
    RunValues run = fileRun(22050, 0, 2000);
    PaletteName palette = PaletteName::Cb;
    prompts->queueDialog([&prompts, &settings](QDialog& d) {
        // Down from 60 dB checks 90 dB; Up twice goes back to 30 dB.
        QRadioButton* db60 = radio(d, DB_SCALE_60);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        d.activateWindow();
        db60->setFocus();
        QTest::keyClick(db60, Qt::Key_Down);
        EXPECT_TRUE(radio(d, DB_SCALE_90)->isChecked());
        EXPECT_FALSE(db60->isChecked());
        QTest::keyClick(radio(d, DB_SCALE_90), Qt::Key_Up);
        QTest::keyClick(db60, Qt::Key_Up);
        EXPECT_TRUE(radio(d, DB_SCALE_30)->isChecked());
        // The low limit is not rounded as the thumb is; the resolution is in Hz as shown:
        // 43.1 Hz is twice the bin width of 22050 / 1024, factor 20.
        for (const auto& [edit, text, scroll, value] :
             {std::tuple{ID_LOW_BAND_EDIT, "1505", ID_LOW_BAND_SCROLL, 1505},
              std::tuple{ID_HIGH_BAND_EDIT, "4000", ID_HIGH_BAND_SCROLL, 4000},
              std::tuple{ID_RESOLUTION_EDIT, "43.1", ID_RESOLUTION_SCROLL, 20},
              std::tuple{ID_AVERAGE_EDIT, "7", ID_AVERAGE_SCROLL, 7}}) {
            typeInto(d, edit, text);
            EXPECT_EQ(bar(d, scroll)->value(), value) << text;
            EXPECT_EQ(editText(d, edit), text);
        }
        EXPECT_EQ(settings.averageCountScroll, 7); // written through as the bar does

        // Past half the rate: the bar stays at the last number typed that fits (2000), OK
        // says why and keeps the dialog.
        typeInto(d, ID_HIGH_BAND_EDIT, "20000");
        EXPECT_EQ(bar(d, ID_HIGH_BAND_SCROLL)->value(), 2000);
        EXPECT_EQ(bar(d, ID_LOW_BAND_SCROLL)->value(), 1505) << "not pulled down while typing";
        ScriptedPrompts::pressOk(d);
        EXPECT_TRUE(d.isVisible());
        const UserMessage limits{"Improper Frequency Limits", MessageIcon::Stop};
        EXPECT_EQ(prompts->messages(), std::vector<UserMessage>{limits});
        EXPECT_EQ(d.focusWidget(), control<QLineEdit>(d, ID_HIGH_BAND_EDIT));
        typeInto(d, ID_AVERAGE_EDIT, "x");
        ScriptedPrompts::pressOk(d);
        EXPECT_EQ(prompts->messages(),
                  (std::vector<UserMessage>{limits, {"Improper Entry", MessageIcon::Stop}}));
        typeInto(d, ID_AVERAGE_EDIT, "4");

        // The log scale fixes the high limit: its field only shows it.
        click(d, FREQ_SCALE_LOG);
        QLineEdit* high = control<QLineEdit>(d, ID_HIGH_BAND_EDIT);
        EXPECT_TRUE(high->isReadOnly());
        EXPECT_EQ(high->palette().color(QPalette::Base), d.palette().color(QPalette::Window));
        EXPECT_FALSE(control<QLineEdit>(d, ID_LOW_BAND_EDIT)->isReadOnly());
        click(d, FREQ_SCALE_LINEAR); // and typing the high limit below works again

        QRadioButton* fft4096 = radio(d, FFT_SIZE_CHOICE_FIRST + 3);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(fft4096)->role(), QAccessible::RadioButton);
        fft4096->setChecked(true);
        EXPECT_FALSE(radio(d, FFT_SIZE_CHOICE_1024)->isChecked());
        // 4096 points, four times the bins: the resolution field follows the choice.
        EXPECT_EQ(editText(d, ID_RESOLUTION_EDIT), "10.8");
        click(d, PALETTE_BW);
        click(d, RESOLUTION_8_BIT);
        typeInto(d, ID_TIME_SCALE_EDIT, "-3");
        typeInto(d, ID_CURSOR_OFFSET_EDIT, "-250");
        typeInto(d, ID_LOW_BAND_EDIT, "1505");
        typeInto(d, ID_HIGH_BAND_EDIT, "5000");
        ScriptedPrompts::pressOk(d);
    });
    ASSERT_TRUE(runAnalysisDialog(*prompts, DialogId::AnalyzeFile, settings, run,
                                  [&palette](PaletteName chosen) { palette = chosen; }));
    EXPECT_EQ(std::tuple(settings.dbRange, settings.levelScaleCode, settings.verticalScrollPos),
              std::tuple(DbRange::Db30, 9, 24));
    EXPECT_EQ(std::pair(settings.palette, palette), std::pair(PaletteName::Bw, PaletteName::Bw));
    EXPECT_EQ(std::pair(settings.lowBandHz, settings.highBandHz), std::pair(1505, 5000));
    EXPECT_EQ(settings.fftSize(), 4096);
    EXPECT_EQ(settings.resolutionFactor, 20);
    EXPECT_FLOAT_EQ(settings.timeScaleMsec, 0.1f);
    EXPECT_FLOAT_EQ(settings.timeScaleMsecSaved, 0.1f);
    EXPECT_EQ(settings.cursorOffsetHz, -250);
    EXPECT_EQ(settings.averageCountScroll, 4);
    EXPECT_EQ(std::tuple(run.bytesPerSample, run.endMsec, run.readRatio), std::tuple(1, 4000, 2.0));
    // Window = 1000 / (22050 / 4096 x 2).
    EXPECT_NEAR(run.analysisWindowMsec, 1000.0 / (22050.0 / 4096.0 * 2.0), 1e-3);

    const AppSettings before = settings;
    prompts->queueDialog([](QDialog& d) {
        click(d, DB_SCALE_90);
        click(d, FREQ_SCALE_LOG);
        bar(d, ID_AVERAGE_SCROLL)->setValue(9);
        ScriptedPrompts::pressCancel(d);
    });
    EXPECT_FALSE(runAnalysisDialog(*prompts, DialogId::AnalyzeFile, settings, run));
    EXPECT_EQ(settings.averageCountScroll, 9); // written through, kept on Cancel
    settings.averageCountScroll = before.averageCountScroll;
    EXPECT_TRUE(settings == before) << "Cancel keeps the rest";

    // The spectrum plot dialog changes only the dB choice, not the gain code.
    AppSettings plot;
    RunValues scan = fileRun(22050, 0, 10);
    prompts->queueDialog([](QDialog& d) {
        click(d, DB_SCALE_30);
        ScriptedPrompts::pressOk(d);
    });
    ASSERT_TRUE(runAnalysisDialog(*prompts, DialogId::SpectrumPlot, plot, scan));
    EXPECT_EQ(plot.dbRange, DbRange::Db30);
    EXPECT_EQ(plot.levelScaleCode, -9);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// Oct/3 shows from the lower edge of the first band at least a bin wide to the upper edge
// of the band holding half the rate, both in tens of Hz. The band edges are 10^(i/10) x 1.1225
// truncated: ... 70, 89, 112, 141, 177, 223, 281, 354, 446 ... 2819 ... 5625 ... 11225 ... 22396.
TEST(ParameterDialogRules, ThirdOctaveEdgesFromTheBandTable) {
    struct Case {
        int rate, n;
        ThirdOctaveEdges edges;
    };
    const Case cases[] = {
        {22050, 1024, {80, 11220}},  // 21.5 Hz bins: 89 .. 112 is the first band wide enough
        {44100, 512, {350, 22390}},  // 86 Hz: 354 .. 446
        {48000, 1024, {220, 22390}}, // 46.9 Hz: 223 .. 281; half the rate is past the last edge
        {11025, 4096, {0, 5620}},    // 2.7 Hz: 8 .. 11
        {5513, 16384, {0, 2810}},    // 0.3 Hz: 1 .. 2
    };
    for (const auto& [rate, n, edges] : cases) {
        const ThirdOctaveEdges got = thirdOctaveDisplayEdges(rate, n);
        EXPECT_EQ(std::pair(got.lowHz, got.highHz), std::pair(edges.lowHz, edges.highHz))
            << rate << " " << n;
    }
}

TEST(ParameterDialogRules, CentringClampsAtTheScreenCorner) {
    EXPECT_EQ(centredOnScreen(1920, 1080, 600, 400), (ScreenPoint{660, 340}));
    EXPECT_EQ(centredOnScreen(800, 600, 1000, 700), (ScreenPoint{0, 0}));
    EXPECT_EQ(centredOnScreen(800, 600, 700, 900), (ScreenPoint{50, 0}));

    AppSettings settings;
    RunValues run = fileRun(22050, 0, 10);
    ParameterDialog dialog(DialogId::ScanFile, settings, run);
    const QRect area = dialog.screen()->geometry();
    const ScreenPoint expected =
        centredOnScreen(area.width(), area.height(), dialog.frameGeometry().width(),
                        dialog.frameGeometry().height());
    EXPECT_EQ(dialog.pos(), QPoint(area.x() + expected.x, area.y() + expected.y));
}

TEST(ParameterDialogRules, TextsAndRescaling) {
    EXPECT_EQ(rescaleMsec(1000, 11025, 5513), 1999);
    EXPECT_EQ(acceptedNewRate(100, 22050), 5513);
    EXPECT_FLOAT_EQ(parseTimeScale("12.25"), 12.25f);
    EXPECT_EQ(parseTimeScale("nan"), 0.0f); // refused by the range checks, like no number
    EXPECT_EQ(parseTimeScale("-nan"), 0.0f);
    EXPECT_EQ(parseSignedInt("-99999999999"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(parseDigits("99999999999999999999999"),
              std::numeric_limits<std::int64_t>::max() / 10);
    EXPECT_EQ(stepBandLimit(50, ScrollAction::PageBack, 0, {0, 1000}, BandLimit::High, false), 0);
}

} // namespace
} // namespace korv
