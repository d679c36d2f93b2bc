// The dialogs driven through the prompts as a user would, and what a screen reader does there:
// typed numbers taken by the fields (beside the bars the bar follows), radio groups acting on
// their state, OK and Cancel.

#include "dialogs/calibration_dialog.h"
#include "dialogs/image_dialog.h"
#include "dialogs/parameter_dialog.h"
#include "dialogs/point_log_dialog.h"
#include "dialogs/scope_markers_dialog.h"
#include "platform/prompts.h"
#include "support/dialog_controls.h"
#include "support/platform_scopes.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

namespace korv {
namespace {

using namespace test;

// The fields beside the bars take what is typed (the bar follows); what lies outside the
// bar's range is refused at OK with the dialog's messages; a field that only shows a value is
// read-only and looks it.
TEST(ParameterDialog, TypedNumbersMoveTheBarsAndOkRefusesTheRest) {
    test::ScriptedPromptsScope prompts;
    AppSettings settings;
    settings.highBandHz = 6000;
    RunValues run = fileRun(22050, 0, 2000);
    prompts->queueDialog([&prompts, &settings](QDialog& d) {
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
        typeInto(d, ID_AVERAGE_EDIT, "3");
        typeInto(d, ID_HIGH_BAND_EDIT, "5000");

        // The log scale fixes the high limit: its field only shows it.
        click(d, FREQ_SCALE_LOG);
        QLineEdit* high = control<QLineEdit>(d, ID_HIGH_BAND_EDIT);
        EXPECT_TRUE(high->isReadOnly());
        EXPECT_EQ(high->palette().color(QPalette::Base), d.palette().color(QPalette::Window));
        EXPECT_FALSE(control<QLineEdit>(d, ID_LOW_BAND_EDIT)->isReadOnly());
        click(d, FREQ_SCALE_LINEAR);
        EXPECT_FALSE(high->isReadOnly());
        typeInto(d, ID_LOW_BAND_EDIT, "1505");
        typeInto(d, ID_HIGH_BAND_EDIT, "5000");
        ScriptedPrompts::pressOk(d);
    });
    ASSERT_TRUE(runAnalysisDialog(*prompts, DialogId::AnalyzeFile, settings, run));
    EXPECT_EQ(settings.lowBandHz, 1505);
    EXPECT_EQ(settings.highBandHz, 5000);
    EXPECT_EQ(settings.resolutionFactor, 20);
    EXPECT_EQ(settings.averageCountScroll, 3);

    // Scan Input's trigger level, typed exactly.
    prompts->queueDialog([](QDialog& d) {
        click(d, RECORDING_TRIGGER);
        typeInto(d, ID_TRIGGER_EDIT, "777");
        EXPECT_EQ(bar(d, ID_TRIGGER_SCROLL)->value(), 777);
        ScriptedPrompts::pressOk(d);
    });
    ASSERT_TRUE(runAnalysisDialog(*prompts, DialogId::ScanInput, settings, run));
    EXPECT_EQ(run.triggerLevel, 777);
}

// A choice is the checked button, however it got checked (a click, an arrow key, a screen
// reader's check): each group is one exclusive group of radio buttons.
TEST(ParameterDialog, RadioGroupsActOnStateAndArrowKeysMoveWithin) {
    test::ScriptedPromptsScope prompts;
    AppSettings settings;
    RunValues run = fileRun(22050, 0, 2000);
    prompts->queueDialog([](QDialog& d) {
        QRadioButton* fft4096 = radio(d, FFT_SIZE_CHOICE_FIRST + 3);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(fft4096)->role(), QAccessible::RadioButton);
        fft4096->setChecked(true);
        EXPECT_FALSE(radio(d, FFT_SIZE_CHOICE_1024)->isChecked());
        // 4096 points, twice the bins: the resolution field follows the choice.
        EXPECT_EQ(editText(d, ID_RESOLUTION_EDIT), "5.4");

        // Down from 60 dB checks 90 dB; Up twice goes back to 30 dB.
        QRadioButton* db60 = radio(d, DB_SCALE_60);
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        d.activateWindow();
        db60->setFocus();
        QTest::keyClick(db60, Qt::Key_Down);
        EXPECT_TRUE(radio(d, DB_SCALE_90)->isChecked());
        EXPECT_FALSE(db60->isChecked());
        QTest::keyClick(radio(d, DB_SCALE_90), Qt::Key_Up);
        QTest::keyClick(db60, Qt::Key_Up);
        EXPECT_TRUE(radio(d, DB_SCALE_30)->isChecked());
        ScriptedPrompts::pressOk(d);
    });
    ASSERT_TRUE(runAnalysisDialog(*prompts, DialogId::AnalyzeFile, settings, run));
    EXPECT_EQ(settings.fftSizeChoice, FFT_SIZE_CHOICE_FIRST + 3);
    EXPECT_EQ(settings.dbScaleChoice, DB_SCALE_30);
    EXPECT_EQ(settings.levelScaleCode, 9);
}

TEST(ScopeMarkers, EditsShowTheMarkersAndOkStoresThemWithinLimits) {
    test::ScriptedPromptsScope prompts;
    AppSettings settings;
    settings.marker1Hz = 1500;
    settings.marker2Hz = 0;
    const auto markers = [&settings] { return std::pair(settings.marker1Hz, settings.marker2Hz); };
    prompts->queueDialog([](QDialog& d) {
        EXPECT_EQ(d.objectName(), "146");
        EXPECT_EQ(d.windowTitle(), "Scope Markers");
        EXPECT_EQ(control<QLineEdit>(d, ID_MARKER1_EDIT)->text(), "1500");
        EXPECT_EQ(control<QLineEdit>(d, ID_MARKER2_EDIT)->text(), "0");
        // Each edit is named by its label, for the keyboard and a screen reader.
        for (const auto& [id, name] : {std::pair{ID_MARKER1_EDIT, "Marker 1 (Hz)"},
                                       std::pair{ID_MARKER2_EDIT, "Marker 2 (Hz)"}}) {
            EXPECT_EQ(control<QLineEdit>(d, id)->accessibleName(), name);
            EXPECT_TRUE(std::ranges::any_of(d.findChildren<QLabel*>(), [&](const QLabel* label) {
                return label->buddy() == control<QLineEdit>(d, id);
            })) << id;
        }
        typeInto(d, ID_MARKER1_EDIT, "30000");
        typeInto(d, ID_MARKER2_EDIT, "-x440"); // digits only: the edit takes "440"
        EXPECT_EQ(control<QLineEdit>(d, ID_MARKER2_EDIT)->text(), "440");
        ScriptedPrompts::pressOk(d);
    });
    EXPECT_TRUE(runScopeMarkersDialog(*prompts, settings));
    EXPECT_EQ(markers(), std::pair(24000, 440));

    prompts->queueDialog([](QDialog& d) {
        control<QLineEdit>(d, ID_MARKER1_EDIT)->setText("-250"); // set past the edit's filter
        control<QLineEdit>(d, ID_MARKER2_EDIT)->clear();
        ScriptedPrompts::pressOk(d);
    });
    EXPECT_TRUE(runScopeMarkersDialog(*prompts, settings));
    EXPECT_EQ(markers(), std::pair(0, 0));

    settings.marker1Hz = 700;
    settings.marker2Hz = 900;
    prompts->queueDialog([](QDialog& d) {
        typeInto(d, ID_MARKER1_EDIT, "5");
        ScriptedPrompts::pressCancel(d);
    });
    EXPECT_FALSE(runScopeMarkersDialog(*prompts, settings));
    EXPECT_EQ(markers(), std::pair(700, 900));
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// A screen reader names each dialog by its title (the untitled Scan File dialog by its
// purpose), and each is wide enough to show its title whole beside the frame's buttons.
TEST(DialogTitles, NameEveryDialogAndShowWhole) {
    test::ScriptedPromptsScope prompts;
    AppSettings settings;
    RunValues run;
    run.sampleRateHz = 22050;
    ImageChoices choices;
    CalibrationCurve curve = settings.calibrationTable;
    std::vector<std::pair<std::unique_ptr<QDialog>, QString>> dialogs;
    dialogs.emplace_back(std::make_unique<ScopeMarkersDialog>(settings), "Scope Markers");
    dialogs.emplace_back(std::make_unique<ImageDialog>(choices), "Image Characteristics");
    dialogs.emplace_back(std::make_unique<PointLogDialog>(),
                         "Point Log - Click Point on Korvanthile");
    dialogs.emplace_back(std::make_unique<CalibrationDialog>(curve, *prompts),
                         "Frequency Calibration");
    dialogs.emplace_back(std::make_unique<ParameterDialog>(DialogId::ScanFile, settings, run),
                         "Scan File");
    dialogs.emplace_back(std::make_unique<ParameterDialog>(DialogId::ScanInput, settings, run),
                         "Scan Input");
    for (auto& [dialog, name] : dialogs) {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(dialog.get());
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), name);
        QFont bold = dialog->font();
        bold.setBold(true);
        const QFontMetrics metrics(bold);
        EXPECT_GE(dialog->width(),
                  metrics.horizontalAdvance(dialog->windowTitle()) + 5 * metrics.height())
            << name.toStdString();
    }
}

} // namespace
} // namespace korv
