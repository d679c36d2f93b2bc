#pragma once
// The Sound Level window: a modeless window beside the spectral image showing what the sound
// level meter measures (the time-weighted level now, Leq, Lmax, Lmin and LCpeak since the
// measurement began, the fractional-octave bands as bars), its settings and what it measured,
// in a header a screenshot keeps. It shows what it is given; modes/sound_level feeds it.

#include "meter/octave_bank.h"
#include "settings/preferences.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace korv {

// What the window shows, in dBFS (the window adds the full-scale level).
struct SoundLevelReading {
    QString source;       // what was measured: "Scan File: tone.wav", "Analysed stretch ..."
    double seconds = 0.0; // the sound measured so far
    std::optional<double> levelNow; // L{W}{T} now: only while sound comes in
    double leq = 0.0;
    double lmax = 0.0;
    double lmin = 0.0;
    double lcpeak = 0.0;
    // A rectangle's Leq inside its frequency span, with the span's name ("LZeq 500–2000 Hz").
    std::optional<double> bandLimitedLeq;
    QString bandLimitedName;
    std::vector<meter::Band> bands;
    std::vector<double> bandLevels; // per band, the last stretch's (live) or the whole one's
    QString note;                   // what went wrong or was lost, empty when nothing
};

class SoundLevelWindow : public QWidget {
  public:
    // `preferences` holds the meter's settings the window edits; `changed` is called after
    // the user changed one. `logRequested(true)` asks to log (a file to be chosen),
    // (false) to stop.
    SoundLevelWindow(Preferences& preferences, std::function<void()> changed,
                     std::function<void(bool)> logRequested, QWidget* parent);

    // The dB SPL a full-scale sine reads on the input measured; nothing: dBFS (not calibrated).
    // A level typed into the window stands until another one is set.
    void setFullScale(std::optional<double> fullScaleDb);
    [[nodiscard]] std::optional<double> fullScale() const { return fullScale_; }

    void showReading(const SoundLevelReading& reading);
    // While a measurement runs its settings stay as they are.
    void setRunning(bool running);
    // The log: its file while one is written, else nothing.
    void setLogFile(const std::optional<QString>& path);
    // "LAF, 1/3 octave, 1 s, dBFS (not calibrated)".
    [[nodiscard]] QString header() const;

  private:
    class BarGraph;
    void buildSettings();
    void placeBeside(QWidget& main);
    void settingsChanged();
    void fullScaleTyped();
    [[nodiscard]] QString level(double dbfs) const;
    [[nodiscard]] QString unit() const;
    void refresh();

    Preferences& preferences_;
    std::function<void()> changed_;
    std::function<void(bool)> logRequested_;
    std::optional<double> fullScale_;
    SoundLevelReading reading_;
    QLabel* header_ = nullptr;
    QLabel* source_ = nullptr;
    QLabel* now_ = nullptr;
    QLabel* nowName_ = nullptr;
    QLabel* leq_ = nullptr;
    QLabel* leqName_ = nullptr;
    QLabel* lmax_ = nullptr;
    QLabel* lmaxName_ = nullptr;
    QLabel* lmin_ = nullptr;
    QLabel* lminName_ = nullptr;
    QLabel* lcpeak_ = nullptr;
    QLabel* bandLimited_ = nullptr;
    QLabel* bandLimitedName_ = nullptr;
    QLabel* note_ = nullptr;
    BarGraph* bars_ = nullptr;
    QComboBox* weighting_ = nullptr;
    QComboBox* timeWeighting_ = nullptr;
    QComboBox* bandWidth_ = nullptr;
    QDoubleSpinBox* interval_ = nullptr;
    QLineEdit* fullScaleEdit_ = nullptr;
    QPushButton* log_ = nullptr;
    QLabel* logFile_ = nullptr;
};

// The window's child while it is open, else null.
[[nodiscard]] SoundLevelWindow* soundLevelWindow(const QWidget* parent);

// A band's short name under its bar: "31.5", "800", "1.25k", "8k", "12.5k".
[[nodiscard]] QString bandAxisLabel(const meter::Band& band);

} // namespace korv
