#include "dialogs/calibrator_dialog.h"

#include "dialogs/dialog_frame.h"
#include "platform/prompts.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace korv {
namespace {

// The full-scale levels a real input can have: a sensitive microphone on a quiet card to a
// hydrophone or a blast gauge.
constexpr double kLowestFullScaleDb = -100.0;
constexpr double kHighestFullScaleDb = 300.0;
constexpr int kDialogWidthChars = 72;

QLineEdit* field(QFormLayout& form, QWidget* owner, const QString& caption, bool readOnly) {
    auto* line = new QLineEdit(owner);
    line->setObjectName(caption);
    line->setAccessibleName(caption);
    showReadOnly(*line, readOnly);
    form.addRow(caption, line);
    return line;
}

QPushButton* button(QHBoxLayout& row, QWidget* owner, const QString& text, const QString& name) {
    auto* b = new QPushButton(text, owner);
    b->setObjectName(name);
    b->setAccessibleName(name);
    b->setAutoDefault(false);
    row.addWidget(b);
    return b;
}

std::optional<double> numberIn(const QLineEdit& line) {
    bool ok = false;
    const double value = line.text().trimmed().toDouble(&ok);
    return ok && value > kLowestFullScaleDb && value < kHighestFullScaleDb ? std::optional(value)
                                                                           : std::nullopt;
}

} // namespace

QString calibrationText(const std::optional<StoredCalibration>& stored) {
    if (!stored) {
        return QStringLiteral("dBFS (not calibrated)");
    }
    return QStringLiteral("%1 dB SPL at full scale (%2)")
        .arg(stored->fullScaleDb, 0, 'f', 1)
        .arg(QString::fromStdString(stored->date));
}

CalibratorDialog::CalibratorDialog(const std::string& device,
                                   std::optional<StoredCalibration> stored,
                                   CalibratorDialogActions actions, QWidget* parent)
    : QDialog(parent), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("Calibrate"));
    setWindowTitle(QStringLiteral("Calibrate"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    QLineEdit* input = field(*form, this, QStringLiteral("Input device"), true);
    input->setText(device.empty() ? QStringLiteral("(no input device)")
                                  : QString::fromStdString(device));
    field(*form, this, QStringLiteral("Stored"), true)->setText(calibrationText(stored));
    calibratorLevel_ = field(*form, this, QStringLiteral("Calibrator level (dB SPL)"), false);
    calibratorLevel_->setText(QString::number(meter::kDefaultCalibratorLevelDb, 'f', 1));
    top->addLayout(form);

    auto* buttons = new QHBoxLayout;
    record_ = button(*buttons, this, QStringLiteral("&Record"), QStringLiteral("Record"));
    stop_ = button(*buttons, this, QStringLiteral("S&top"), QStringLiteral("Stop"));
    open_ = button(*buttons, this, QStringLiteral("&Open Recording..."),
                   QStringLiteral("Open Recording"));
    record_->setEnabled(!device.empty());
    stop_->setEnabled(false);
    top->addLayout(buttons);

    auto* readings = new QFormLayout;
    frequency_ = field(*readings, this, QStringLiteral("Tone (Hz)"), true);
    level_ = field(*readings, this, QStringLiteral("Level (dBFS)"), true);
    steadiness_ = field(*readings, this, QStringLiteral("Steadiness (dB)"), true);
    steadyTime_ = field(*readings, this, QStringLiteral("Steady for (s)"), true);
    top->addLayout(readings);
    verdict_ =
        new QLabel(QStringLiteral("Hold the calibrator on the microphone, then Record."), this);
    verdict_->setObjectName(QStringLiteral("Verdict"));
    verdict_->setAccessibleName(QStringLiteral("Verdict"));
    verdict_->setWordWrap(true);
    top->addWidget(verdict_);

    auto* result = new QFormLayout;
    fullScale_ = field(*result, this, QStringLiteral("Full-scale level (dB SPL)"), false);
    if (stored) {
        fullScale_->setText(QString::number(stored->fullScaleDb, 'f', 2));
    }
    top->addLayout(result);
    auto* box = new QDialogButtonBox(this);
    // A level is kept for its input device; without one it is used by the Sound Level window
    // until another is set (a recorder's calibrator file, say).
    const QString storeName = device.empty() ? QStringLiteral("Use") : QStringLiteral("Store");
    QPushButton* store = box->addButton(QLatin1Char('&') + storeName, QDialogButtonBox::AcceptRole);
    store->setObjectName(storeName);
    store->setAccessibleName(storeName);
    QPushButton* cancel = box->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("Cancel"));
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    top->addWidget(box);
    connect(box, &QDialogButtonBox::accepted, this, &CalibratorDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &CalibratorDialog::reject);
    connect(record_, &QPushButton::clicked, this, [this] { record(); });
    connect(stop_, &QPushButton::clicked, this, [this] {
        if (actions_.stopRecording) {
            actions_.stopRecording();
        }
        recordingStopped();
    });
    connect(open_, &QPushButton::clicked, this, [this] { openRecording(); });
    // Room for a device's long name and a stored level with its date.
    setMinimumWidth(fontMetrics().averageCharWidth() * kDialogWidthChars);
    presentTitle(*this);
    adjustSize();
    centreDialogOnScreen(*this);
}

std::optional<double> CalibratorDialog::calibratorLevel() {
    const std::optional<double> level = numberIn(*calibratorLevel_);
    if (!level) {
        prompts().message(QStringLiteral("The calibrator level must be a number of dB SPL."),
                          MessageIcon::Warning);
        calibratorLevel_->setFocus();
    }
    return level;
}

void CalibratorDialog::record() {
    const std::optional<double> level = calibratorLevel();
    if (!level || !actions_.startRecording || !actions_.startRecording(*level)) {
        return;
    }
    recording_ = true;
    record_->setEnabled(false);
    open_->setEnabled(false);
    stop_->setEnabled(true);
    verdict_->setText(QStringLiteral("Measuring..."));
}

void CalibratorDialog::openRecording() {
    const std::optional<double> level = calibratorLevel();
    if (!level || !actions_.measureRecording) {
        return;
    }
    if (const auto reading = actions_.measureRecording(*level)) {
        showReading(*reading);
    }
}

void CalibratorDialog::showReading(const meter::CalibratorReading& reading) {
    const bool tone = reading.verdict != meter::CalibratorVerdict::Noise;
    frequency_->setText(tone ? QString::number(reading.toneHz, 'f', 1) : QString());
    level_->setText(tone ? QString::number(reading.leq.value, 'f', 2) : QString());
    steadiness_->setText(tone ? QString::number(reading.steadinessDb, 'f', 2) : QString());
    steadyTime_->setText(QString::number(reading.steadySeconds, 'f', 1));
    if (reading.verdict == meter::CalibratorVerdict::Accepted) {
        fullScale_->setText(QString::number(reading.fullScale.db, 'f', 2));
        verdict_->setText(QStringLiteral("Accepted: full scale reads %1 dB SPL.")
                              .arg(reading.fullScale.db, 0, 'f', 2));
    } else {
        verdict_->setText(QString::fromStdString((recording_ ? "Measuring: " : "Refused: ") +
                                                 meter::calibratorReason(reading)));
    }
}

void CalibratorDialog::recordingStopped() {
    recording_ = false;
    record_->setEnabled(true);
    open_->setEnabled(true);
    stop_->setEnabled(false);
}

void CalibratorDialog::accept() {
    const std::optional<double> level = numberIn(*fullScale_);
    if (!level) {
        prompts().message(QStringLiteral("Record or open a calibrator, or type the full-scale "
                                         "level in dB SPL (above -100, below 300)."),
                          MessageIcon::Warning);
        fullScale_->setFocus();
        return;
    }
    if (recording_ && actions_.stopRecording) {
        actions_.stopRecording();
    }
    recordingStopped();
    fullScaleDb_ = *level;
    QDialog::accept();
}

void CalibratorDialog::reject() {
    if (recording_ && actions_.stopRecording) {
        actions_.stopRecording();
    }
    recordingStopped();
    QDialog::reject();
}

} // namespace korv
