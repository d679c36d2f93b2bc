#pragma once
// "Frequency Calibration" (dialog 152, command 40057): the calibration curve drawn as 34
// points from 10 Hz to 20 kHz between -30 and +30 dB, dragged with the mouse in half-dB steps,
// joined by straight lines (Connect), zeroed, restored, or imported from a maker's file.
// Object names are the control ids.

#include "base/settings_types.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QWidget;

namespace korv {

class Prompts;

inline constexpr int CALIBRATION_DIALOG_ID = 152;
inline constexpr int ID_CALIBRATION_GRAPH = 1128;
inline constexpr int ID_CALIBRATION_READOUT = 1125;
inline constexpr int ID_CALIBRATION_ZERO = 3;
inline constexpr int ID_CALIBRATION_CONNECT = 4;
inline constexpr int ID_CALIBRATION_RESTORE = 1129;
inline constexpr int ID_CALIBRATION_IMPORT = 1130;
inline constexpr int ID_CALIBRATION_SUBTRACT = 1131;

class CalibrationDialog : public QDialog {
  public:
    CalibrationDialog(CalibrationCurve& stored, Prompts& prompts, QWidget* parent = nullptr);

    [[nodiscard]] const CalibrationCurve& working() const { return working_; }
    [[nodiscard]] int currentPoint() const { return current_; }
    [[nodiscard]] int previousPoint() const { return previous_; }
    void accept() override;

    // The graph's mouse, in graph pixels.
    void mouseMovedTo(QPoint p);
    void mousePressedAt(QPoint p);
    void mouseReleased() { dragging_ = false; }
    void paintGraph(QWidget& graph);

  private:
    void connectPoints();
    void import();
    void showReadout(int point, float levelDb);

    CalibrationCurve& stored_;
    Prompts& prompts_;
    CalibrationCurve working_;
    int current_ = 0;
    int previous_ = 0;
    bool dragging_ = false;
    QWidget* graph_ = nullptr;
    QLineEdit* readout_ = nullptr;
    QCheckBox* subtract_ = nullptr;
};

// Runs the dialog modally through the prompts; true on OK (the curve is then stored).
[[nodiscard]] bool runCalibrationDialog(Prompts& prompts, CalibrationCurve& stored);

} // namespace korv
