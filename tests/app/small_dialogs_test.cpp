// The small dialogs driven through the prompts as a user would: typing into the real edits,
// OK and Cancel.

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
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

namespace korv {
namespace {

using test::typeInto;

QLineEdit* edit(QDialog& d, int id) {
    return test::control<QLineEdit>(d, id);
}

TEST(ScopeMarkers, EditsShowTheMarkersAndOkStoresThemWithinLimits) {
    test::ScriptedPromptsScope prompts;
    AppSettings settings;
    settings.marker1Hz = 1500;
    settings.marker2Hz = 0;
    prompts->queueDialog([](QDialog& d) {
        EXPECT_EQ(d.objectName(), "146");
        EXPECT_EQ(d.windowTitle(), "Scope Markers");
        EXPECT_EQ(edit(d, ID_MARKER1_EDIT)->text(), "1500");
        EXPECT_EQ(edit(d, ID_MARKER2_EDIT)->text(), "0");
        // Each edit is named by its label, for the keyboard and a screen reader.
        for (const auto& [id, name] : {std::pair{ID_MARKER1_EDIT, "Marker 1 (Hz)"},
                                       std::pair{ID_MARKER2_EDIT, "Marker 2 (Hz)"}}) {
            EXPECT_EQ(edit(d, id)->accessibleName(), name);
            bool labelled = false;
            for (const QLabel* label : d.findChildren<QLabel*>()) {
                labelled = labelled || label->buddy() == edit(d, id);
            }
            EXPECT_TRUE(labelled) << id;
        }
        typeInto(d, ID_MARKER1_EDIT, "30000");
        typeInto(d, ID_MARKER2_EDIT, "-x440"); // digits only: the edit takes "440"
        EXPECT_EQ(edit(d, ID_MARKER2_EDIT)->text(), "440");
        ScriptedPrompts::pressOk(d);
    });
    EXPECT_TRUE(runScopeMarkersDialog(*prompts, settings));
    EXPECT_EQ(settings.marker1Hz, 24000);
    EXPECT_EQ(settings.marker2Hz, 440);

    prompts->queueDialog([](QDialog& d) {
        edit(d, ID_MARKER1_EDIT)->setText("-250"); // set past the edit's filter
        edit(d, ID_MARKER2_EDIT)->clear();
        ScriptedPrompts::pressOk(d);
    });
    EXPECT_TRUE(runScopeMarkersDialog(*prompts, settings));
    EXPECT_EQ(settings.marker1Hz, 0);
    EXPECT_EQ(settings.marker2Hz, 0);

    settings.marker1Hz = 700;
    settings.marker2Hz = 900;
    prompts->queueDialog([](QDialog& d) {
        typeInto(d, ID_MARKER1_EDIT, "5");
        ScriptedPrompts::pressCancel(d);
    });
    EXPECT_FALSE(runScopeMarkersDialog(*prompts, settings));
    EXPECT_EQ(settings.marker1Hz, 700);
    EXPECT_EQ(settings.marker2Hz, 900);
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
