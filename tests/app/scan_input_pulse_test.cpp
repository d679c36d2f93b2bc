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
#include "support/temp_dir.h"
#include "support/window_setup.h"

#include <QFile>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace korv {
namespace {

const auto* const alsaPulse = ::testing::AddGlobalTestEnvironment(new test::AlsaConfig(
    "korv-alsa-pulse", "pcm.!default { type pulse }\nctl.!default { type pulse }\n"));

// The private server, with a runtime folder of its own.
class PulseServer : public ::testing::Environment {
  public:
    void SetUp() override {
        namespace fs = std::filesystem;
        dir_ = fs::temp_directory_path() / ("korv-pulse-" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "run");
        ::setenv("XDG_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
        ::setenv("HOME", dir_.c_str(), 1);
        const char* args[] = {"pulseaudio",
                              "-n",
                              "--daemonize=no",
                              "--exit-idle-time=-1",
                              "--load=module-native-protocol-unix",
                              "--load=module-sine-source frequency=1000",
                              "--load=module-null-sink",
                              nullptr};
        if (::posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, const_cast<char**>(args),
                           environ) != 0) {
            pid_ = 0;
            return;
        }
        // The server is ready once its socket is there.
        for (int i = 0; i < 100 && !fs::exists(dir_ / "run" / "pulse" / "native"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    [[nodiscard]] bool running() const {
        return pid_ > 0 && std::filesystem::exists(dir_ / "run" / "pulse" / "native");
    }

  private:
    pid_t pid_ = 0;
    std::filesystem::path dir_;
};
PulseServer* const pulse =
    static_cast<PulseServer*>(::testing::AddGlobalTestEnvironment(new PulseServer));

TEST(ScanInputPulse, ASineHeardLightsItsRowAndARecordingOfTwoSecondsHoldsIt) {
    if (!pulse->running()) {
        GTEST_SKIP() << "no private PulseAudio server";
    }
    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    MainWindowOptions o;
    o.settingsFile = dir.file(QStringLiteral("korv.ini")).toStdString();
    const std::unique_ptr<MainWindow> owner = test::openWindow(o);
    MainWindow& window = *owner;
    AppSettings& st = appState().settings;
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
    const AppState& s = appState();
    ASSERT_TRUE(s.spectralImage);
    ASSERT_GT(lastScanInput().columnsDrawn, 100);
    const int rows = s.layout.plotHeight - s.layout.topBand;
    const int x =
        static_cast<int>(std::min<long>(lastScanInput().columnsDrawn, s.layout.plotWidth) / 2);
    int best = 0;
    int bestIndex = -1;
    for (int r = 0; r < rows; ++r) {
        const int index = *s.spectralImage->surface().pixel(x, s.layout.plotHeight - 1 - r);
        if (index > bestIndex) {
            bestIndex = index;
            best = r;
        }
    }
    EXPECT_NEAR(best, rows * 1000.0 / (kRate / 2.0), 3.0);

    // The recording: a valid 16-bit file of about two seconds, its zero crossings at 1 kHz.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray b = f.readAll();
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
