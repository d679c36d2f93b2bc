// The small dialogs driven through the prompts as a user would: typing into the real edits,
// OK and Cancel.

#include "dialogs/scope_markers_dialog.h"
#include "platform/prompts.h"
#include "support/platform_scopes.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace korv {
namespace {

QLineEdit* edit(QDialog& d, int id) {
    auto* line = d.findChild<QLineEdit*>(controlName(id));
    EXPECT_NE(line, nullptr) << id;
    return line;
}

void typeInto(QDialog& d, int id, const QString& text) {
    QLineEdit* line = edit(d, id);
    line->selectAll();
    QTest::keyClicks(line, text);
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

} // namespace
} // namespace korv
