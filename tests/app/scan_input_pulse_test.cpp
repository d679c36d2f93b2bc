// Scan Input on a real device without a sound card: a private PulseAudio server whose default
// source is a 1 kHz sine, reached by PortAudio through ALSA's pulse plugin, on the real clock.
// The test starts the server and ends it by its process id.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/modes.h"
#include "modes/scan_input.h"
#include "platform/commands.h"
#include "support/alsa_config.h"
#include "support/platform_scopes.h"
#include "support/pulse_server.h"
#include "support/temp_dir.h"
#include "support/window_setup.h"

#include <QFile>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cstring>

namespace korv {
namespace {

// The server first, its default source a 1 kHz sine: ALSA reads its configuration when
// PortAudio starts.
auto* const pulse = dynamic_cast<test::PulseServer*>(::testing::AddGlobalTestEnvironment(
    new test::PulseServer({"module-sine-source frequency=1000"})));
const auto* const alsaPulse = ::testing::AddGlobalTestEnvironment(
    new test::AlsaConfig("korv-alsa-pulse", test::ALSA_PULSE_DEVICE));

TEST(ScanInputPulse, ASineHeardLightsItsRowAndARecordingOfTwoSecondsHoldsIt) {
    ASSERT_TRUE(pulse->ready()) << pulse->error();
    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    MainWindowOptions o;
    o.settingsFile = dir.file(QStringLiteral("korv.ini")).toStdString();
    const std::unique_ptr<MainWindow> owner = test::openWindow(o);
    MainWindow& window = *owner;
    AppSettings& st = window.state().settings;
    constexpr int kRate = 11025;
    test::scanSettings(st, kRate);
    st.sampleRateChoice = SAMPLE_RATE_11K;
    st.resolutionChoice = RESOLUTION_16_BIT;
    st.typeChoice = TYPE_MONO;
    st.recordingChoice = RECORDING_ON;
    const QString path = dir.file(QStringLiteral("sine.wav"));
    prompts->queueFile(path);
    QTimer::singleShot(500, [] { postCommand(cmd::kPlay, 0); });
    QTimer::singleShot(2500, [] { postCommand(cmd::kPlayWindow, 0); });
    QTimer::singleShot(3000, [] { postCommand(cmd::kStop, 0); });
    QTest::keyClick(&window, Qt::Key_F3);

    // A column halfway through the run is brightest at 1 kHz (the image fills from the left).
    const AppState& s = window.state();
    ASSERT_TRUE(s.held.spectralImage);
    ASSERT_GT(lastScanInput(window).columnsDrawn, 100);
    const int rows = s.view.layout.plotHeight - s.view.layout.topBand;
    const int x = static_cast<int>(
        std::min<long>(lastScanInput(window).columnsDrawn, s.view.layout.plotWidth) / 2);
    EXPECT_NEAR(test::loudestRow(s, x), rows * 1000.0 / (kRate / 2.0), 3.0);

    // The recording: a valid 16-bit file of about two seconds, its zero crossings at 1 kHz.
    const QByteArray b = test::TempDir::read(path);
    ASSERT_GE(b.size(), 46);
    std::uint32_t data = 0;
    std::uint16_t bits = 0;
    std::memcpy(&data, b.data() + 42, 4);
    std::memcpy(&bits, b.data() + 34, 2);
    EXPECT_EQ(bits, 16);
    ASSERT_EQ(static_cast<qsizetype>(data) + 46, b.size());
    const auto frames = static_cast<long>(data / 2);
    EXPECT_NEAR(static_cast<double>(frames), 2.0 * kRate, 0.3 * kRate);
    long crossings = 0;
    for (long i = 1; i < frames; ++i) {
        const auto before = qFromLittleEndian<qint16>(b.constData() + 46 + 2 * (i - 1));
        const auto now = qFromLittleEndian<qint16>(b.constData() + 46 + 2 * i);
        crossings += (before < 0) != (now < 0) ? 1 : 0;
    }
    ASSERT_GT(frames, 0);
    EXPECT_NEAR(static_cast<double>(crossings) / 2.0 / (static_cast<double>(frames) / kRate),
                1000.0, 20.0);
}

} // namespace
} // namespace korv
