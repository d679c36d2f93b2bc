#pragma once
// "Korvanthile Colors" (dialog 154, command 40027): the 18 colours of the level palette, the
// stored palettes CB, BW and User, the signal range and the gain. Modeless: every change
// reaches the display at once through the host. Object names are the control ids.

#include "display/palette.h"
#include "settings/app_settings.h"

#include <QDialog>
#include <QPoint>
#include <array>
#include <functional>
#include <map>
#include <optional>

class QAbstractButton;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QWidget;

class QBoxLayout;

namespace korv {

inline constexpr int COLOUR_DIALOG_ID = 154;
inline constexpr int ID_COLOUR_SAMPLE = 1009;
inline constexpr int ID_RED_SCROLL = 1014;
inline constexpr int ID_RED_EDIT = 1004;
inline constexpr int ID_GREEN_SCROLL = 1013;
inline constexpr int ID_GREEN_EDIT = 1006;
inline constexpr int ID_BLUE_SCROLL = 1012;
inline constexpr int ID_BLUE_EDIT = 1008;
inline constexpr int ID_COPY_TO = 1084;
inline constexpr int ID_SPREAD_TO = 1080;
inline constexpr int ID_CANCEL_OPERATION = 1176;
inline constexpr int ID_GAIN_SCROLL = 1053;
inline constexpr int ID_GAIN_EDIT = 1052;
inline constexpr int ID_COLOUR_REDRAW = 1143;
inline constexpr int ID_COLOUR_RESET = 1165;
// The selector of each palette entry: the 13 level stops (lowest first), then Background,
// Signal 1, Signal 2, Freq Mark and Text; and the swatches of the last five.
inline constexpr std::array<int, kUserPaletteEntries> kEntrySelectorIds{
    1010, 1011, 1015, 1016, 1017, 1018, 1019, 1020, 1021,
    1037, 1038, 1039, 1040, 1041, 1042, 1043, 1044, 1045};
inline constexpr std::array<int, 5> kSwatchIds{1035, 1034, 1032, 1031, 1033};

// What the dialog asks of the program around it.
struct ColourDialogHost {
    std::function<void()> paletteChanged;     // rebuild the display palette, redraw a plot
    std::function<void()> requestImageRedraw; // redraw the spectral image (no scan runs)
    std::function<bool()> scanRunning;
    std::function<bool()> analysisComputing;
    std::function<void(int position)> moveLevelBar; // a plot display's level bar
    std::function<void(QPoint where)> moved;        // the user moved the dialog there
};

class ColourDialog : public QDialog {
  public:
    // `active` is the palette in force; `where` the remembered position (nothing: centred).
    ColourDialog(AppSettings& settings, LevelPalette& active, ColourDialogHost host,
                 std::optional<QPoint> where, QWidget* parent = nullptr);

    [[nodiscard]] int selectedEntry() const { return selected_; }
    void accept() override;
    void reject() override;
    // As OK, without asking for an image redraw: a mode takes the display over.
    void closeForMode();

  protected:
    void moveEvent(QMoveEvent* event) override;

  private:
    enum class Pending { None, Copy, Spread };
    void build();
    void buildLevels(QBoxLayout* top);
    void buildOtherColours(QBoxLayout* right);
    void buildMix(QBoxLayout* right);
    void buildChoices(QBoxLayout* right);
    void buildGain(QBoxLayout* right);
    void buildButtons(QBoxLayout* right);
    QScrollBar* bar(int id, int max, int page);
    void selectEntry(int entry);
    void showEntry();
    void onColourBar(int component, int value);
    void choosePalette(PaletteName choice);
    void chooseRange(DbRange range);
    void onGain(int position);
    void startOperation(Pending op);
    void endOperation();
    void reset();
    void showRangeAndGain();
    void changed(); // palette rebuilt, dialog repainted
    // Asks for the image to be analysed again when the range or gain it was drawn with
    // changed (or always), unless a scan runs.
    void redrawImage(bool always);
    void finish(bool keep);
    [[nodiscard]] bool scrollDisplay() const;

    AppSettings& settings_;
    LevelPalette& active_;
    ColourDialogHost host_;
    int selected_ = 0;
    Pending pending_ = Pending::None;
    bool paletteModified_ = false;
    bool updating_ = false; // controls being set by the dialog itself
    bool closingForMode_ = false;
    PaletteName choice_;
    LevelPalette openingPalette_;
    PaletteTable openingUser_;
    DbRange openingRange_;
    std::int32_t openingLevelScale_;
    PaletteName openingChoice_;
    DbRange drawnRange_;
    std::int32_t drawnLevelScale_;
    std::array<QPushButton*, kUserPaletteEntries> selectors_{};
    std::array<QScrollBar*, 3> colourBars_{};
    std::array<QLineEdit*, 3> colourEdits_{};
    int typingComponent_ = -1; // the component whose field is being typed in
    std::map<int, QRadioButton*> radios_;
    std::map<int, QPushButton*> buttons_;
    QScrollBar* gainBar_ = nullptr;
    QLineEdit* gainEdit_ = nullptr;
    QWidget* sample_ = nullptr;
};

// Opens the one colour dialog of `parent` at `where` (nothing: centred), or does nothing while
// it is open; returns it.
ColourDialog* openColourDialog(AppSettings& settings, LevelPalette& active, ColourDialogHost host,
                               QWidget* parent, std::optional<QPoint> where);
// The open colour dialog of `parent`, or null.
[[nodiscard]] ColourDialog* colourDialog(const QWidget* parent);
// Closes it as with OK, when open: a scan or a parameter change is about to start.
void closeColourDialog(const QWidget* parent);

} // namespace korv
