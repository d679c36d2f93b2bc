#pragma once
// The four analysis parameter dialogs as one Qt dialog class over ParameterDialogModel.
// Each control's object name is its id in decimal (controlName), the dialog's own object
// name its dialog id ("102", "103", "104", "153").

#include "dialogs/dialog_values.h"
#include "dialogs/parameter_model.h"
#include "settings/app_settings.h"

#include <QDialog>
#include <functional>
#include <map>
#include <vector>

class QAbstractButton;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QScrollBar;
class QButtonGroup;
class QGroupBox;
class QBoxLayout;

namespace korv {

class Prompts;

// Called on OK with the chosen palette, so the caller can refill the active palette
// from that table and rebuild the display palette before the dialog closes.
using PaletteChosen = std::function<void(PaletteName palette)>;

class ParameterDialog : public QDialog {
  public:
    ParameterDialog(DialogId dialog, AppSettings& settings, RunValues& run,
                    PaletteChosen paletteChosen = {}, QWidget* parent = nullptr);

    [[nodiscard]] const ParameterDialogModel& model() const { return model_; }
    // Places the dialog in the middle of its screen, never beyond its top-left corner.
    void centreOnScreen();

    // OK: ends an open rate change without closing, else writes back and closes.
    void accept() override;

  private:
    void build();
    void fitColumns(QScrollArea& scroll, QWidget& content);
    void buildDataColumn(QBoxLayout* left);
    void buildAnalysisColumn(QBoxLayout* middle);
    void buildDisplayColumn(QBoxLayout* right);
    void buildButtons(QBoxLayout* top);
    // The buttons of `items` the dialog has, in `columns` columns, or side by side in one row:
    // short rows keep every dialog within a laptop's screen.
    static constexpr int kOneRow = 0;
    QGroupBox* radioGroup(const char* title, const std::vector<std::pair<int, const char*>>& items,
                          int columns = kOneRow);
    // A labelled scroll bar with its read-only mirror, as one row of `into`.
    void scrollRow(const char* label, int scrollId, int editId, QBoxLayout* into);
    // A labelled edit as one row of `into`.
    QLineEdit* edit(int id, const char* label, QBoxLayout* into);
    void refresh();
    void onScrollAction(int id, int action);

    ParameterDialogModel model_;
    PaletteChosen paletteChosen_;
    std::map<int, QAbstractButton*> radios_;
    std::vector<QButtonGroup*> groups_;
    bool refreshing_ = false; // the controls are being set from the model
    std::map<int, QScrollBar*> scrollBars_;
    std::map<int, QLineEdit*> edits_;
    QPushButton* ok_ = nullptr;
    QPushButton* newRate_ = nullptr;
};

// Runs the dialog modally through the prompts; true on OK (settings and run written back).
[[nodiscard]] bool runAnalysisDialog(Prompts& prompts, DialogId dialog, AppSettings& settings,
                                     RunValues& run, const PaletteChosen& paletteChosen = {});

} // namespace korv
