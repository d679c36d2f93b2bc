// Calibrate, as a user meets it: the real dialog found and driven by its controls' accessible
// names, the simulated input hearing a calibrator on the virtual clock, recordings in real
// files. A 94 dB calibrator heard at -26 dBFS makes full scale read 120 dB SPL.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/program_menu.h"
#include "app/sound_level_window.h"
#include "platform/sound_simulated.h"
#include "support/dialog_controls.h"
#include "support/platform_scopes.h"
#include "support/prompt_checks.h"
#include "support/temp_dir.h"
#include "support/test_signals.h"
#include "support/window_setup.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>

namespace korv::test {
namespace {

constexpr int kRate = 48000;

double amplitudeOf(double dbfs) {
    return std::pow(10.0, dbfs / 20.0);
}

double numberIn(QDialog& d, const char* name) {
    QLineEdit* line = named<QLineEdit>(d, QString::fromLatin1(name));
    return line != nullptr ? line->text().toDouble() : std::nan("");
}

class CalibrateInputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        MainWindowOptions o = virtualClockOptions(dir, clock);
        o.makeSoundInput = [this]() -> std::unique_ptr<SoundInput> {
            if (noDevice) {
                return nullptr;
            }
            auto in = std::make_unique<SimulatedSoundInput>(clock);
            in->setDeviceName("USB Audio: Analog (hw:1,0)");
            in->setSignal(signal);
            return in;
        };
        window = openWindow(o);
    }

    // Records for `seconds` of the input's sound, the dialog updated as buffers come.
    void record(QDialog& d, int seconds) {
        named<QAbstractButton>(d, QStringLiteral("Record"))->click();
        for (int s = 0; s < seconds * 10; ++s) {
            clock.advance(100);
            QCoreApplication::processEvents();
        }
    }

    [[nodiscard]] const DeviceCalibration* stored() const {
        return calibrationOf(window->state().preferences, "USB Audio: Analog (hw:1,0)");
    }

    TempDir dir;
    ScriptedPromptsScope prompts;
    VirtualClock clock;
    SimulatedSoundInput::Signal signal;
    bool noDevice = false;
    std::unique_ptr<MainWindow> window;
};

TEST_F(CalibrateInputTest, ACalibratorRecordedFromTheInputGivesTheFullScaleLevelOfThatDevice) {
    signal = [](std::int64_t frame, int) {
        return amplitudeOf(-26.0) *
               std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / kRate);
    };
    std::string verdict;
    double tone = 0.0;
    double level = 0.0;
    prompts->queueDialog([&](QDialog& d) {
        EXPECT_EQ(named<QLineEdit>(d, QStringLiteral("Stored"))->text(),
                  QStringLiteral("dBFS (not calibrated)"));
        record(d, 2);
        EXPECT_NE(named<QLabel>(d, QStringLiteral("Verdict"))->text().indexOf("too short"), -1)
            << "2 s is not yet enough";
        record(d, 4);
        verdict = named<QLabel>(d, QStringLiteral("Verdict"))->text().toStdString();
        tone = numberIn(d, "Tone (Hz)");
        level = numberIn(d, "Level (dBFS)");
        named<QAbstractButton>(d, QStringLiteral("Store"))->click();
    });
    window->commands().send(cmd::kCalibrateInput, 0);
    EXPECT_EQ(verdict.rfind("Accepted", 0), 0U) << verdict;
    EXPECT_NEAR(tone, 1000.0, 1.0);
    EXPECT_NEAR(level, -26.0, 0.01);
    ASSERT_NE(stored(), nullptr);
    EXPECT_NEAR(stored()->fullScaleDb, 94.0 + 26.0, 0.01);
    EXPECT_TRUE(
        QDateTime::fromString(QString::fromStdString(stored()->date), Qt::ISODate).isValid());
    EXPECT_TRUE(prompts->messages().empty());
    const SoundLevelWindow* meter = soundLevelWindow(window.get());
    ASSERT_NE(meter, nullptr);
    EXPECT_NEAR(meter->fullScale().value_or(0.0), 120.0, 0.01) << "the meter reads with it now";

    // Open again: the stored level is shown; Cancel keeps it.
    QString shown;
    prompts->queueDialog([&](QDialog& d) {
        shown = named<QLineEdit>(d, QStringLiteral("Stored"))->text();
        ScriptedPrompts::pressCancel(d);
    });
    window->commands().send(cmd::kCalibrateInput, 0);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("120.0 dB SPL at full scale")))
        << shown.toStdString();
    EXPECT_NEAR(stored()->fullScaleDb, 120.0, 0.01);
}

TEST_F(CalibrateInputTest, NoiseIsRefusedAndATypedLevelOrAPistonphoneFileIsTakenInstead) {
    auto noise = std::make_shared<std::mt19937>(7);
    signal = [noise](std::int64_t, int) {
        return std::normal_distribution<double>(0.0, 0.05)(*noise);
    };
    // A 250 Hz pistonphone of 114 dB recorded at -30 dBFS, and a file of a 440 Hz tone.
    const QString piston = dir.write(
        QStringLiteral("piston.wav"),
        waveFile(kRate, 1, 16, 5 * kRate, sines({250.0}, kRate, 32767.0 * amplitudeOf(-30.0))));
    const QString a4 = dir.write(QStringLiteral("a4.wav"),
                                 waveFile(kRate, 1, 16, 5 * kRate, sines({440.0}, kRate)));
    std::vector<std::string> verdicts;
    double fromFile = 0.0;
    prompts->queueDialog([&](QDialog& d) {
        record(d, 5);
        verdicts.push_back(named<QLabel>(d, QStringLiteral("Verdict"))->text().toStdString());
        named<QAbstractButton>(d, QStringLiteral("Stop"))->click();
        named<QAbstractButton>(d, QStringLiteral("Store"))->click(); // nothing to store yet
        EXPECT_TRUE(d.isVisible());
        prompts->queueFile(a4);
        named<QAbstractButton>(d, QStringLiteral("Open Recording"))->click();
        verdicts.push_back(named<QLabel>(d, QStringLiteral("Verdict"))->text().toStdString());
        named<QLineEdit>(d, QStringLiteral("Calibrator level (dB SPL)"))->setText("114");
        prompts->queueFile(piston);
        named<QAbstractButton>(d, QStringLiteral("Open Recording"))->click();
        fromFile = numberIn(d, "Full-scale level (dB SPL)");
        named<QLineEdit>(d, QStringLiteral("Full-scale level (dB SPL)"))->setText("118.5");
        named<QAbstractButton>(d, QStringLiteral("Store"))->click();
    });
    window->commands().send(cmd::kCalibrateInput, 0);
    ASSERT_EQ(verdicts.size(), 2U);
    EXPECT_NE(verdicts[0].find("noise"), std::string::npos) << verdicts[0];
    EXPECT_NE(verdicts[1].find("440.0 Hz"), std::string::npos) << verdicts[1];
    EXPECT_NEAR(fromFile, 114.0 + 30.0, 0.01);
    expectOneMessage(*prompts, "Record or open a calibrator, or type the full-scale level in dB "
                               "SPL (above -100, below 300).");
    ASSERT_NE(stored(), nullptr);
    EXPECT_DOUBLE_EQ(stored()->fullScaleDb, 118.5);
}

// Calibrate... is offered once a file is analysed; with no input device a calibrator
// recording is used by the Sound Level window, so a recorder's files read in dB SPL.
TEST_F(CalibrateInputTest, ARecordingCalibratesTheMeterWithoutAnInputDevice) {
    noDevice = true;
    const QString tone =
        dir.write(QStringLiteral("tone.wav"),
                  waveFile(kRate, 1, 16, 2 * kRate, sines({1000.0}, kRate, 32767.0 * 0.1)));
    const QString calibrator = dir.write(
        QStringLiteral("calibrator.wav"),
        waveFile(kRate, 1, 16, 5 * kRate, sines({1000.0}, kRate, 32767.0 * amplitudeOf(-26.0))));
    prompts->queueFile(tone);
    QTest::keyClick(window.get(), Qt::Key_F1);
    ASSERT_TRUE(window->state().held.spectralImage);
    QAction* item = window->menu().action(cmd::kCalibrateInput);
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->isEnabled());
    prompts->queueDialog([&](QDialog& d) {
        EXPECT_FALSE(named<QAbstractButton>(d, QStringLiteral("Record"))->isEnabled());
        prompts->queueFile(calibrator);
        named<QAbstractButton>(d, QStringLiteral("Open Recording"))->click();
        named<QAbstractButton>(d, QStringLiteral("Use"))->click();
    });
    item->trigger();
    const SoundLevelWindow* meter = soundLevelWindow(window.get());
    ASSERT_NE(meter, nullptr) << "the meter opens on the level found";
    ASSERT_TRUE(meter->fullScale().has_value());
    EXPECT_NEAR(*meter->fullScale(), 94.0 + 26.0, 0.01);
    EXPECT_TRUE(meter->header().endsWith(QStringLiteral("dB SPL (full scale 120.0 dB)")))
        << meter->header().toStdString();
    EXPECT_TRUE(window->state().preferences.calibrations.empty()) << "no device to keep it for";
    EXPECT_TRUE(prompts->messages().empty());
}

} // namespace
} // namespace korv::test
