#pragma once
// "Calibrate": the full-scale level of the sound input (the dB SPL a full-scale sine reads),
// from an acoustic calibrator recorded now or in a file, or typed. While it measures it shows
// the tone's frequency, level and steadiness; Store keeps the level for the input device (Use,
// with no device, leaves it to the Sound Level window).
// Every field and button has an accessible name, so a screen reader or a script finds it.

#include "meter/calibrator.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace korv {

// What the dialog asks of the program: the input and the files are the program's.
struct CalibratorDialogActions {
    // Starts recording the calibrator at `calibratorLevelDb`; false when the input cannot
    // start (the program has said why). Readings then come through showReading.
    std::function<bool(double calibratorLevelDb)> startRecording;
    std::function<void()> stopRecording;
    // Asks for a calibrator's recording and measures it: the reading, or nothing when the user
    // cancelled or the file could not be read (the program has said why).
    std::function<std::optional<meter::CalibratorReading>(double calibratorLevelDb)>
        measureRecording;
};

struct StoredCalibration {
    double fullScaleDb = 0.0;
    std::string date;
};

class CalibratorDialog : public QDialog {
  public:
    CalibratorDialog(const std::string& device, std::optional<StoredCalibration> stored,
                     CalibratorDialogActions actions, QWidget* parent = nullptr);

    // A reading of the calibrator so far; an accepted one fills the full-scale level.
    void showReading(const meter::CalibratorReading& reading);
    // The recording ended (Stop, the dialog closing, or the device).
    void recordingStopped();
    // The level Store keeps: what the field holds, once accepted.
    [[nodiscard]] double fullScaleDb() const { return fullScaleDb_; }
    void accept() override;
    void reject() override;

  private:
    [[nodiscard]] std::optional<double> calibratorLevel();
    void record();
    void openRecording();

    CalibratorDialogActions actions_;
    QLineEdit* calibratorLevel_ = nullptr;
    QLineEdit* frequency_ = nullptr;
    QLineEdit* level_ = nullptr;
    QLineEdit* steadiness_ = nullptr;
    QLineEdit* steadyTime_ = nullptr;
    QLabel* verdict_ = nullptr;
    QLineEdit* fullScale_ = nullptr;
    QPushButton* record_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* open_ = nullptr;
    bool recording_ = false;
    double fullScaleDb_ = 0.0;
};

// The stored calibration in words: "121.3 dB SPL at full scale (2026-12-09T10:15:00)", or
// "dBFS (not calibrated)".
[[nodiscard]] QString calibrationText(const std::optional<StoredCalibration>& stored);

} // namespace korv
