#pragma once
// The Scan Input tests' window: the real window offscreen with the simulated input on the
// virtual clock, a tone as its sound, and recordings read back.

#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/main_window.h"
#include "audio/playback_messages.h"
#include "audio/recording.h"
#include "dialogs/colour_dialog.h"
#include "dialogs/control_ids.h"
#include "dialogs/parameter_rules.h"
#include "modes/plot_display.h"
#include "modes/scan_input.h"
#include "modes/scan_loop.h"
#include "platform/allocations.h"
#include "platform/commands.h"
#include "platform/sound_simulated.h"
#include "platform_scopes.h"
#include "prompt_checks.h"
#include "scan_window_fixture.h"
#include "shell/modes.h"
#include "temp_dir.h"
#include "window_setup.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace korv::test {

inline constexpr int kRate = 5513;
inline constexpr double kToneHz = kRate / 8.0;      // a quarter of the 0 .. rate / 2 band
inline constexpr int kStepFrames = kRate / 100 + 2; // one 10 msec step of press latency, rounded up

// The frames a triggered recording keeps of a loud stretch of `seconds` (of the fixture's
// 1024-point FFT): from the first frame of the window whose middle first heard it loud to the
// hold after the end of the last window whose middle heard it, less half a step on average.
inline double heldFrames(double seconds) {
    return (seconds + TRIGGER_HOLD_MS / 1000.0) * kRate + 1024.0 + 2.0 * (SCAN_ENVELOPE_REACH - 1) -
           kStepFrames / 2.0;
}

inline double tone(std::int64_t frame, double amplitude, double hz = kToneHz, double rate = kRate) {
    return amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(frame) / rate);
}

// A wave file read back: whether it is a whole 16-bit wave file with the 46-byte header the
// recordings have, its rate and its samples.
struct ReadWave {
    bool valid = false;
    std::uint32_t rate = 0;
    std::vector<std::int16_t> samples;
};
inline ReadWave readWave(const QString& path) {
    const QByteArray b = TempDir::read(path);
    ReadWave w;
    if (b.size() < 46) {
        return w;
    }
    const auto field = [&b](int at) { return qFromLittleEndian<quint32>(b.constData() + at); };
    const std::uint32_t data = field(42);
    w.rate = field(24);
    w.valid = b.startsWith("RIFF") && b.mid(8, 4) == "WAVE" && b.mid(38, 4) == "data" &&
              field(4) == data + 38 && qFromLittleEndian<quint16>(b.constData() + 34) == 16 &&
              static_cast<qsizetype>(data) + 46 == b.size();
    w.samples.resize(static_cast<std::size_t>(b.size() - 46) / 2);
    std::memcpy(w.samples.data(), b.data() + 46, w.samples.size() * 2);
    return w;
}

class ScanInputTest : public ScanWindowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        MainWindowOptions o = test::virtualClockOptions(dir, clock);
        o.recordingByteLimit = recordingByteLimit;
        o.makeSoundInput = [this]() -> std::unique_ptr<SoundInput> {
            auto in = std::make_unique<SimulatedSoundInput>(clock);
            in->failAt(failNewDevice);
            signal(*in);
            input = in.get();
            return in;
        };
        openScanWindow(o, kRate);
        AppSettings& st = window->state().settings;
        st.inputSampleRateHz = 5513;
        st.resolutionBits = 16;
        st.stereo = false;
        st.recording = Recording::Choice::Off;
        st.displayDelayMs = 75;
    }

    void pressAt(std::int64_t ms, int id) {
        at(ms, [this, id] { window->commands().post(id, 0); });
    }
    // Runs Scan Input with F3 until STOP at `stopMs`.
    void run(std::int64_t stopMs) {
        pressAt(stopMs, cmd::kStop);
        QTest::keyClick(window.get(), Qt::Key_F3);
    }
    // A right click on the picture at `ms`: it freezes a running display.
    void rightClickAt(std::int64_t ms) {
        at(ms, [this] {
            test::sendMouse(*window, QEvent::MouseButtonPress, {100, 100}, Qt::RightButton);
        });
    }
    // The menus, buttons and device of an ended run, and the allocations still open when given.
    void expectIdle(int allocations = -1) const {
        expectScanEnded(allocations);
        EXPECT_FALSE(window->state().control.inputOpen);
        EXPECT_TRUE(window->menu().enabled(cmd::kScanInput));
        EXPECT_EQ(window->button(cmd::kPlay)->text(), QStringLiteral("PLAY"));
        EXPECT_EQ(window->button(cmd::kPlayWindow)->text(), QStringLiteral("PLAY WDW"));
        EXPECT_FALSE(input != nullptr && input->isOpen());
    }
    QString recordTo(const QString& name) {
        window->state().settings.recording = Recording::Choice::Manual;
        const QString path = dir.file(name);
        prompts->queueFile(path);
        return path;
    }

    SimulatedSoundInput* input = nullptr;
    std::function<void(SimulatedSoundInput&)> signal = [](SimulatedSoundInput& in) {
        in.setSignal([](std::int64_t frame, int) { return tone(frame, 0.5); });
    };
    std::optional<std::int64_t> recordingByteLimit;
};

inline constexpr std::int64_t kBufferBytes = std::int64_t{MIN_BUFFER_SECONDS} * kRate * 2;

// Recordings that may hold two and a half buffers instead of 2 GB.
class ScanInputLimitTest : public ScanInputTest {
  protected:
    void SetUp() override {
        recordingByteLimit = 2 * kBufferBytes + kBufferBytes / 2;
        ScanInputTest::SetUp();
    }
};

} // namespace korv::test
