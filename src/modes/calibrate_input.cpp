#include "modes/calibrate_input.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "audio/sample_encoding.h"
#include "dialogs/calibrator_dialog.h"
#include "modes/capture.h"
#include "modes/sound_level.h"
#include "pipeline/calibrator_recording.h"
#include "platform/clock.h"
#include "platform/portaudio_input.h"
#include "platform/prompts.h"
#include "settings/preferences.h"

#include <QDateTime>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace korv {
namespace {

// A calibrator is measured over this long at most: far more than the steady 3 s it needs.
constexpr double kRecordLimitSeconds = 30.0;
// Rates tried in turn; a calibrator's tone needs no more.
constexpr std::array<int, 2> kCalibrationRates{48000, 44100};

// One run of the dialog: the input, its capture and the analysis of what it hears.
class CalibrateRun {
  public:
    explicit CalibrateRun(MainWindow& window) : window_(window) {
        const auto& make = window.options().makeSoundInput;
        input_ = make ? make() : makePortAudioInput();
        device_ = input_ != nullptr ? input_->deviceName() : std::string{};
    }

    void run() {
        AppState& s = window_.state();
        std::optional<StoredCalibration> stored;
        if (const DeviceCalibration* c = calibrationOf(s.preferences, device_)) {
            stored = StoredCalibration{c->fullScaleDb, c->date};
        }
        CalibratorDialogActions actions;
        actions.startRecording = [this](double level) { return start(level); };
        actions.stopRecording = [this] { stop(); };
        actions.measureRecording = [this](double level) { return measureFile(level); };
        CalibratorDialog dialog(device_, stored, std::move(actions), &window_);
        dialog_ = &dialog;
        const bool storedNow = prompts().runDialog(dialog);
        stop();
        dialog_ = nullptr;
        if (!storedNow) {
            return;
        }
        if (!device_.empty()) {
            rememberCalibration(s.preferences,
                                {device_, dialog.fullScaleDb(),
                                 QDateTime::currentDateTime().toString(Qt::ISODate).toStdString()});
        }
        // What is measured next reads with it: a recorder's files as well as the input.
        measureWithFullScale(window_, dialog.fullScaleDb());
    }

  private:
    Clock& clock() {
        Clock* c = window_.options().clock;
        return c != nullptr ? *c : realClock_;
    }

    int rate() {
        const std::vector<int> offered = input_->offeredRates(kCalibrationRates, 1, 16);
        return offered.empty() ? kCalibrationRates.front() : offered.front();
    }

    bool start(double calibratorLevelDb) {
        if (input_ == nullptr) {
            return false;
        }
        CaptureFormat format;
        format.sampleRate = rate();
        format.bufferSeconds = 1; // a reading a second while it measures
        analysis_.emplace(format.sampleRate, calibratorLevelDb);
        heardFrames_ = 0;
        capture_ = std::make_unique<Capture>(*input_, clock());
        const auto opened = capture_->open(
            format, [this](std::span<const std::uint8_t> bytes, double) { heard(bytes); });
        if (opened != Capture::Opened::Ok || !capture_->start()) {
            capture_.reset();
            prompts().message(QStringLiteral("Cannot open the sound input to record the "
                                             "calibrator.\n%1")
                                  .arg(QString::fromStdString(device_)),
                              MessageIcon::Warning);
            return false;
        }
        return true;
    }

    void heard(std::span<const std::uint8_t> bytes) {
        if (!analysis_ || dialog_ == nullptr) {
            return;
        }
        samples_.resize(bytes.size() / 2);
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            samples_[i] = sampleTo16(WaveEncoding::Pcm16, &bytes[2 * i]) / FLOAT_SAMPLE_SCALE;
        }
        analysis_->feed(samples_);
        heardFrames_ += static_cast<std::int64_t>(samples_.size());
        dialog_->showReading(analysis_->reading());
        if (static_cast<double>(heardFrames_) >=
            kRecordLimitSeconds * capture_->format().sampleRate) {
            // Not from inside the capture's own delivery.
            QTimer::singleShot(0, dialog_, [this] {
                stop();
                if (dialog_ != nullptr) {
                    dialog_->recordingStopped();
                }
            });
        }
    }

    void stop() {
        if (capture_) {
            capture_->stop();
            capture_.reset();
        }
    }

    std::optional<meter::CalibratorReading> measureFile(double calibratorLevelDb) {
        AppState& s = window_.state();
        const auto chosen = prompts().openFile(
            soundFileRequest(QStringLiteral("Open Calibrator Recording"), s.settings.lastFolder));
        if (!chosen) {
            return std::nullopt;
        }
        auto measured = measureCalibratorFile(fileNameBytes(*chosen), 1, calibratorLevelDb);
        if (const auto* failure = std::get_if<std::string>(&measured)) {
            prompts().message(QString::fromStdString(*failure), MessageIcon::Warning);
            return std::nullopt;
        }
        return std::get<meter::CalibratorReading>(measured);
    }

    MainWindow& window_;
    RealClock realClock_;
    std::unique_ptr<SoundInput> input_;
    std::string device_;
    std::unique_ptr<Capture> capture_;
    std::optional<meter::CalibratorAnalysis> analysis_;
    std::vector<double> samples_;
    std::int64_t heardFrames_ = 0;
    CalibratorDialog* dialog_ = nullptr;
};

} // namespace

void installCalibrateInput(MainWindow& window) {
    MainWindow* w = &window;
    window.registerCommand(cmd::kCalibrateInput, [w](int) { CalibrateRun(*w).run(); });
}

} // namespace korv
