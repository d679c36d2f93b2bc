// Scan Input in the real window offscreen: the simulated input on the virtual clock feeds the
// capture; what the window shows, the recordings written to a temp folder (read back, also
// while the run goes on), the messages, menus and allocations during and after the run.

#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/modes.h"
#include "app/spectral_view.h"
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
#include "support/platform_scopes.h"
#include "support/prompt_checks.h"
#include "support/temp_dir.h"
#include "support/window_setup.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <numbers>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korv::test {

// What a file synced to the disk held at that moment: its name, size and the data size its
// wave header declared.
struct Synced {
    std::string path;
    std::int64_t size = 0;
    std::uint32_t headerData = 0;
};
std::vector<Synced>& syncs() {
    static std::vector<Synced> seen;
    return seen;
}

} // namespace korv::test

// Every fdatasync of this test program passes here on its way to the C library, so a test can
// see what a recording had on the disk after each buffer.
extern "C" int fdatasync(int fd) {
    std::array<char, 4096> link{};
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(self.c_str(), link.data(), link.size() - 1);
    if (length > 0) {
        korv::test::Synced seen{std::string(link.data(), static_cast<std::size_t>(length))};
        const int reader = ::open(seen.path.c_str(), O_RDONLY | O_CLOEXEC);
        std::array<unsigned char, 46> header{};
        struct stat st {};
        if (reader >= 0 && ::fstat(reader, &st) == 0 &&
            ::pread(reader, header.data(), header.size(), 0) == 46) {
            seen.size = st.st_size;
            std::memcpy(&seen.headerData, header.data() + 42, 4);
            korv::test::syncs().push_back(seen);
        }
        if (reader >= 0) {
            ::close(reader);
        }
    }
    using Sync = int (*)(int);
    static const auto real = reinterpret_cast<Sync>(::dlsym(RTLD_NEXT, "fdatasync"));
    return real(fd);
}

namespace korv {
namespace {

constexpr int kRate = 5513;
constexpr double kToneHz = kRate / 8.0;      // a quarter of the 0 .. rate / 2 band
constexpr int kStepFrames = kRate / 100 + 2; // one 10 msec step of press latency, rounded up

double tone(std::int64_t frame, double amplitude, double hz = kToneHz, double rate = kRate) {
    return amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(frame) / rate);
}

// A wave file read back: header fields and the 16-bit samples.
struct ReadWave {
    bool valid = false;
    std::uint32_t rate = 0;
    std::vector<std::int16_t> samples;
};
ReadWave readWave(const QString& path) {
    QFile f(path);
    ReadWave w;
    if (!f.open(QIODevice::ReadOnly)) {
        return w;
    }
    const QByteArray b = f.readAll();
    if (b.size() < 46) {
        return w;
    }
    std::uint32_t riff = 0, data = 0;
    std::memcpy(&riff, b.data() + 4, 4);
    std::memcpy(&w.rate, b.data() + 24, 4);
    std::memcpy(&data, b.data() + 42, 4);
    w.valid = b.startsWith("RIFF") && b.mid(8, 4) == "WAVE" && b.mid(38, 4) == "data" &&
              riff == data + 38 && static_cast<qsizetype>(data) + 46 == b.size();
    w.samples.resize(data / 2);
    std::memcpy(w.samples.data(), b.data() + 46, w.samples.size() * 2);
    return w;
}

class ScanInputTest : public ::testing::Test {
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
        window = test::openWindow(o);
        AppSettings& st = window->state().settings;
        test::scanSettings(st, kRate);
        st.sampleRateChoice = SAMPLE_RATE_5K;
        st.resolutionChoice = RESOLUTION_16_BIT;
        st.typeChoice = TYPE_MONO;
        st.recordingChoice = RECORDING_OFF;
        st.displayDelayMs = 75;
        // The notes are looked for while the run sleeps through them.
        clock.addListener([this](std::int64_t) {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->isVisible() && !w->objectName().isEmpty() && w != window.get()) {
                    notesSeen.insert(w->objectName());
                }
            }
        });
    }

    void at(std::int64_t ms, std::function<void()> action) {
        // The clock calls a copy of the listener, so the flag lives outside it.
        auto done = std::make_shared<bool>(false);
        clock.addListener([ms, action = std::move(action), done](std::int64_t now) {
            if (!*done && now >= ms) {
                *done = true;
                action();
            }
        });
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
    bool noted(const char* note) const { return notesSeen.contains(QString::fromLatin1(note)); }
    // The menus, buttons and device of an ended run, and the allocations still open when given.
    void expectIdle(int allocations = -1) const {
        EXPECT_FALSE(window->state().control.modeRunning);
        EXPECT_FALSE(window->state().control.inputOpen);
        EXPECT_TRUE(window->menu().enabled(cmd::kScanInput));
        EXPECT_TRUE(window->menu().enabled(cmd::kScanFile));
        EXPECT_FALSE(window->button(cmd::kStop)->isEnabled());
        EXPECT_EQ(window->button(cmd::kPlay)->text(), QStringLiteral("PLAY"));
        EXPECT_EQ(window->button(cmd::kPlayWindow)->text(), QStringLiteral("PLAY WDW"));
        if (input != nullptr) {
            EXPECT_FALSE(input->isOpen());
        }
        if (allocations >= 0) {
            EXPECT_EQ(openAllocations(), allocations);
        }
    }
    QString recordTo(const QString& name) {
        window->state().settings.recordingChoice = RECORDING_ON;
        const QString path = dir.file(name);
        prompts->queueFile(path);
        return path;
    }

    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    VirtualClock clock;
    SimulatedSoundInput* input = nullptr;
    SimulatedFailure failNewDevice = SimulatedFailure::None;
    std::function<void(SimulatedSoundInput&)> signal = [](SimulatedSoundInput& in) {
        in.setSignal([](std::int64_t frame, int) { return tone(frame, 0.5); });
    };
    std::optional<std::int64_t> recordingByteLimit;
    std::unique_ptr<MainWindow> window;
    QSet<QString> notesSeen;
};

constexpr std::int64_t kBufferBytes = std::int64_t{MIN_BUFFER_SECONDS} * kRate * 2;

// Recordings that may hold two and a half buffers instead of 2 GB.
class ScanInputLimitTest : public ScanInputTest {
  protected:
    void SetUp() override {
        recordingByteLimit = 2 * kBufferBytes + kBufferBytes / 2;
        ScanInputTest::SetUp();
    }
};

TEST_F(ScanInputTest, AToneLightsItsRowAcrossTheRingWrapAndARightClickFreezes) {
    // Ten seconds: past the end of the second 4-second buffer and back into the first.
    run(10000);
    const ScanInputResult& r = lastScanInput(*window);
    EXPECT_EQ(r.bufferSeconds, MIN_BUFFER_SECONDS);
    // One column per 10 msec after the start delay (window plus display delay).
    EXPECT_NEAR(static_cast<double>(r.columnsDrawn), 970.0, 15.0);
    const AppState& s = window->state();
    ASSERT_TRUE(s.held.spectralImage);
    const PlotLayout& l = s.view.layout;
    const int rows = l.plotHeight - l.topBand;
    const int toneY = l.plotHeight - 1 - rows / 4;
    for (const int x : {5, l.plotWidth / 2, l.plotWidth - 3}) {
        EXPECT_NEAR(test::loudestRow(window->state(), x), rows / 4, 2) << "column " << x;
    }
    EXPECT_TRUE(noted("140"));
    EXPECT_EQ(s.settings.lastMode, 1);
    EXPECT_FALSE(r.fileWritten);
    expectIdle(1); // the kept image alone

    // Frozen after half a second, without the scroll memory: the columns after it are never
    // drawn, the time readout keeps the moment of the freeze while the readouts follow the
    // pointer over the frozen picture, no note follows, and the picture stays after the stop.
    window->state().settings.scrollMemChoice = SCROLL_MEM_OFF;
    notesSeen.clear();
    const std::int64_t start = clock.currentMs();
    rightClickAt(start + 500);
    double timeShown = 0.0;
    std::vector<QImage> readouts; // on the tone, then off it
    at(start + 1500, [&] {
        timeShown = window->state().view.timeNowMsec;
        for (const int y : {toneY, l.plotHeight - 1 - rows / 2}) {
            test::sendMouse(*window, QEvent::MouseMove, {5, y});
            readouts.push_back(window->surface().copyRect(l.readoutBox));
        }
    });
    run(start + 2000);
    EXPECT_NEAR(timeShown, 500.0, 30.0);
    ASSERT_EQ(readouts.size(), 2U);
    EXPECT_NE(readouts[0], readouts[1]);
    ASSERT_TRUE(s.view.runningScrollImage);
    EXPECT_FALSE(s.held.spectralImage);
    EXPECT_NE(*s.view.runningScrollImage->surface().pixel(5, toneY), kBackgroundIndex);
    EXPECT_EQ(*s.view.runningScrollImage->surface().pixel(l.plotWidth / 2, toneY),
              kBackgroundIndex);
    EXPECT_FALSE(noted("140"));
    expectIdle();
    window->state().settings.scrollMemChoice = SCROLL_MEM_ON;

    // Stopped within the start delay: nothing drawn, the note all the same.
    run(clock.currentMs() + 100);
    EXPECT_EQ(lastScanInput(*window).columnsDrawn, 0);
    EXPECT_TRUE(noted("140"));
    expectIdle();

    // The line plot: mode 2, its picture kept in the plot image, the level log offered.
    window->state().settings.displayTypeChoice = DISPLAY_LINE_PLOT;
    run(clock.currentMs() + 1000);
    EXPECT_GT(lastScanInput(*window).columnsDrawn, 50);
    EXPECT_EQ(s.settings.lastMode, 2);
    EXPECT_TRUE(s.view.plotImage);
    EXPECT_TRUE(s.logs.logDataAvailable);
    expectIdle();
    window->state().settings.displayTypeChoice = DISPLAY_SCROLL;

    // A resize during the run ends it and runs it again in the new layout, without a note.
    notesSeen.clear();
    const int widthBefore = l.plotWidth;
    at(clock.currentMs() + 1000, [this] { window->resize(700, 600); });
    run(clock.currentMs() + 60000);
    pressAt(clock.currentMs() + 1000, cmd::kStop);
    QCoreApplication::processEvents(); // the re-run, until that STOP
    EXPECT_NE(l.plotWidth, widthBefore);
    EXPECT_GT(lastScanInput(*window).columnsDrawn, 50);
    EXPECT_EQ(s.held.spectralImage->width(), l.plotWidth);
    expectIdle();
}

TEST_F(ScanInputTest, TheDialogOffersTheInputsRatesAndA60kToneShowsAtItsFrequencyAt192k) {
    constexpr int kHighRate = 192000;
    constexpr double kHighToneHz = 60000.0;
    signal = [](SimulatedSoundInput& in) {
        in.setRates({44100, 96000, kHighRate});
        in.setSignal(
            [](std::int64_t frame, int) { return tone(frame, 0.5, kHighToneHz, kHighRate); });
    };
    window->state().settings.variablesChoice = cmd::kVariablesAdjust;
    // The stored 5.5 kHz is not offered: the dialog opens on the nearest rate offered.
    std::vector<int> offered;
    bool nearestChecked = false;
    prompts->queueDialog([&](QDialog& d) {
        for (const SampleRateChoice& c : SAMPLE_RATE_CHOICES) {
            if (d.findChild<QAbstractButton*>(controlName(c.id)) != nullptr) {
                offered.push_back(c.hz);
            }
        }
        nearestChecked = d.findChild<QAbstractButton*>(controlName(SAMPLE_RATE_44K))->isChecked();
        d.findChild<QAbstractButton*>(controlName(SAMPLE_RATE_192K))->click();
        d.findChild<QScrollBar*>(controlName(ID_HIGH_BAND_SCROLL_INPUT))->setValue(kHighRate / 2);
        ScriptedPrompts::pressOk(d);
    });
    run(3000);
    EXPECT_EQ(offered, (std::vector<int>{44100, 96000, kHighRate}));
    EXPECT_TRUE(nearestChecked);
    EXPECT_EQ(lastScanInput(*window).sampleRate, kHighRate);
    EXPECT_EQ(window->state().settings.sampleRateChoice, SAMPLE_RATE_192K);
    // The tone's row is that of the bin nearest it, whose centre is k x rate / N, on the
    // linear band 0 .. rate / 2.
    const int n = fftSizeFromChoice(window->state().settings.fftSizeChoice);
    const double binHz =
        static_cast<double>(kHighRate) * std::round(kHighToneHz * n / kHighRate) / n;
    const int rows = window->state().view.layout.plotHeight - window->state().view.layout.topBand;
    const double expectedRow = binHz / (kHighRate / 2.0) * rows;
    ASSERT_GT(lastScanInput(*window).columnsDrawn, 200);
    for (const int x : {5, 100, 200}) {
        EXPECT_NEAR(test::loudestRow(window->state(), x), expectedRow, 2.0) << "column " << x;
    }
    expectIdle();
}

TEST_F(ScanInputTest, PeakHoldAveragesOverTheWholeCountWhileTheRingFills) {
    // The ring of 128 steps is not full before the stop: with PEAK HOLD on from the first steps
    // the tone's level is the sum of the steps taken over all 128, the steps of a frozen
    // display among them, while the window stays as it was frozen.
    AppSettings& st = window->state().settings;
    st.displayTypeChoice = DISPLAY_LINE_PLOT;
    st.averageCountPlot = MAX_AVERAGE_COUNT;
    const auto loudest = [this, &st] {
        const std::span<const float> levels = scanPlotView(*window)->levelDb();
        return *std::max_element(levels.begin(), levels.end()) -
               4.0f * static_cast<float>(st.levelScaleCode);
    };
    run(1000);
    const float free = loudest();
    const std::int64_t start = clock.currentMs();
    at(start + 400, [this] { window->button(cmd::kPeakHold)->click(); });
    rightClickAt(start + 600);
    QImage frozen, later;
    at(start + 700, [&] { frozen = window->surface().image().copy(); });
    at(start + 990, [&] { later = window->surface().image().copy(); });
    run(start + 1000);
    EXPECT_TRUE(window->state().view.plotImage);
    EXPECT_FALSE(frozen.isNull());
    EXPECT_EQ(later, frozen);
    const float held = loudest();
    const double steps = static_cast<double>(lastScanInput(*window).columnsDrawn);
    ASSERT_LT(steps, MAX_AVERAGE_COUNT);
    EXPECT_NEAR(held, free * steps / MAX_AVERAGE_COUNT, 2.0);
    expectIdle();
}

TEST_F(ScanInputTest, AtTheSmallestTimeScaleEachColumnWaitsItsMillisecond) {
    // Once the columns come, the clock moves only while the run sleeps: a column not waited for
    // would cost no time at all.
    window->state().settings.timeScaleMsecSaved = MIN_TIME_SCALE_MSEC;
    constexpr long kColumns = 500;
    std::int64_t firstMs = -1;
    std::int64_t lastMs = -1;
    long columns = 0;
    at(1000, [&] {
        clock.setAdvanceOnRead(0);
        firstMs = clock.currentMs();
    });
    setScanInputColumnProbe(*window, [&](std::int64_t, std::int64_t) {
        if (firstMs >= 0 && ++columns == kColumns) {
            lastMs = clock.currentMs();
            window->commands().post(cmd::kStop, 0);
        }
    });
    QTest::keyClick(window.get(), Qt::Key_F3);
    setScanInputColumnProbe(*window, {});
    // Columns late on their schedule (the clock moved on every read until then) are caught up.
    EXPECT_GE(static_cast<double>(lastMs - firstMs + SCAN_CATCH_UP_MS),
              (kColumns - 1) * MIN_TIME_SCALE_MSEC);
    EXPECT_LE(static_cast<double>(lastMs - firstMs), (kColumns + 1) * MIN_TIME_SCALE_MSEC);
    expectIdle();
}

TEST_F(ScanInputTest, RecordingByHandWritesTheStretchesBetweenThePressesValidAfterEveryBuffer) {
    // Each frame carries its own index, so the file shows which frames it got.
    signal = [](SimulatedSoundInput& in) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kRate) * 12 * 2);
        for (std::size_t i = 0; i < bytes.size() / 2; ++i) {
            const auto v = static_cast<std::uint16_t>(i % 30000); // little-endian, as the device
            std::memcpy(&bytes[2 * i], &v, 2);
        }
        in.setBytes(std::move(bytes));
    };
    const QString path = recordTo(QStringLiteral("hand.wav"));
    test::syncs().clear();
    // One pair inside the first buffer, one across the boundary at 8 s (SAVE by the space bar;
    // SAVE comes back once the buffer holding the STOP SAVE has been written).
    pressAt(1000, cmd::kPlay);
    pressAt(2500, cmd::kPlayWindow);
    at(5000, [this] {
        QCoreApplication::postEvent(window.get(),
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, {}));
    });
    ReadWave during;
    InfoPanelInputs shown;
    at(8500, [&] { // the second buffer has been written
        during = readWave(path);
        shown = currentInfoPanelInputs(window->state());
    });
    pressAt(9500, cmd::kPlayWindow);
    run(10000);

    EXPECT_TRUE(during.valid);
    EXPECT_TRUE(shown.recordedLength);
    EXPECT_EQ(shown.segmentBytes, static_cast<std::int64_t>(during.samples.size()) * 2);
    // The panel says how much is recorded and how long it plays.
    const auto samples = static_cast<long long>(during.samples.size());
    EXPECT_EQ(
        infoPanel(currentViewGeometry(window->state()), shown).texts.back().text,
        QString::asprintf("%.2f, %lld sec", static_cast<double>(samples * 2) / 1e6, samples / kRate)
            .toStdString());
    EXPECT_NEAR(static_cast<double>(during.samples.size()), 1.5 * kRate + 3.0 * kRate,
                2 * kStepFrames);
    const ReadWave w = readWave(path);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.rate, static_cast<std::uint32_t>(kRate));
    EXPECT_EQ(static_cast<std::int64_t>(w.samples.size()) * 2,
              lastScanInput(*window).recordedBytes);
    // Two runs of consecutive frames: 1.5 s and 3.5 s, each starting at its SAVE.
    std::vector<std::pair<int, int>> runs; // first frame, length
    for (std::size_t i = 0; i < w.samples.size(); ++i) {
        if (i == 0 || (w.samples[i - 1] + 1) % 30000 != w.samples[i]) {
            runs.emplace_back(w.samples[i], 0);
        }
        ++runs.back().second;
    }
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_NEAR(runs[0].first, 1.0 * kRate, kStepFrames);
    EXPECT_NEAR(runs[0].second, 1.5 * kRate, 2 * kStepFrames);
    EXPECT_NEAR(runs[1].first, 5.0 * kRate, kStepFrames);
    EXPECT_NEAR(runs[1].second, 4.5 * kRate, 2 * kStepFrames);
    EXPECT_TRUE(noted("136"));
    expectIdle(1);
    // Each of the three buffers that held sound was on the disk, header and all, before the
    // next one: a power cut loses at most the buffer being filled.
    const std::string file = QFile::encodeName(QFileInfo(path).canonicalFilePath()).toStdString();
    std::vector<std::int64_t> synced;
    for (const test::Synced& s : test::syncs()) {
        if (s.path == file) {
            EXPECT_EQ(s.size, std::int64_t{s.headerData} + 46);
            synced.push_back(s.size);
        }
    }
    ASSERT_EQ(synced.size(), 3u);
    EXPECT_EQ(synced[0], 46 + std::int64_t{2} * static_cast<std::int64_t>(runs[0].second));
    EXPECT_EQ(synced.back(), 46 + static_cast<std::int64_t>(w.samples.size()) * 2);

    // "take1" names the existing take1.wav, which is asked about: No, then Cancel in the
    // dialog, runs without recording, leaves the file as it was and ends with note 140.
    notesSeen.clear();
    const QString take = dir.write(QStringLiteral("take1.wav"), "old");
    window->state().settings.recordingChoice = RECORDING_ON;
    prompts->queueFile(dir.file(QStringLiteral("take1")));
    prompts->queueAnswer(false);
    prompts->queueCancel();
    pressAt(clock.currentMs() + 500, cmd::kPlay);
    run(clock.currentMs() + 1500);
    EXPECT_FALSE(lastScanInput(*window).fileWritten);
    EXPECT_TRUE(noted("140"));
    EXPECT_EQ(prompts->questions().back(), replaceQuestion(take));
    EXPECT_EQ(prompts->fileRequests().back().defaultSuffix, QStringLiteral("wav"));
    EXPECT_EQ(test::TempDir::read(take), QByteArray("old"));
    EXPECT_TRUE(prompts->unscripted().isEmpty());

    // Recording is off for that run, so a right click freezes it: no note follows.
    notesSeen.clear();
    prompts->queueCancel();
    rightClickAt(clock.currentMs() + 500);
    bool frozen = false;
    at(clock.currentMs() + 1000, [this, &frozen] { frozen = window->state().view.displayFrozen; });
    run(clock.currentMs() + 1500);
    EXPECT_TRUE(frozen);
    EXPECT_FALSE(noted("140"));
    expectIdle();
}

TEST_F(ScanInputTest, TheTriggerRecordsLoudStretchesUntilFiveSecondsAfterTheLast) {
    // Loud 1 .. 2 s and 3 .. 3.5 s (one stretch), then 12 .. 12.5 s (a second one).
    signal = [](SimulatedSoundInput& in) {
        in.setSignal([](std::int64_t frame, int) {
            const double t = static_cast<double>(frame) / kRate;
            const bool loud =
                (t >= 1.0 && t < 2.0) || (t >= 3.0 && t < 3.5) || (t >= 12.0 && t < 12.5);
            return tone(frame, loud ? 0.5 : 0.01);
        });
    };
    // Dialog 103 chooses Trigger and a level of 1000: loud is a peak-to-peak above 10000.
    const QString path = recordTo(QStringLiteral("trigger.wav"));
    window->state().settings.variablesChoice = cmd::kVariablesAdjust;
    prompts->queueDialog([](QDialog& d) {
        d.findChild<QAbstractButton*>(controlName(RECORDING_TRIGGER))->click();
        d.findChild<QScrollBar*>(controlName(ID_TRIGGER_SCROLL))->setValue(1000);
        ScriptedPrompts::pressOk(d);
    });
    run(20000);
    EXPECT_EQ(prompts->dialogsRun().size(), 1);
    const ReadWave w = readWave(path);
    ASSERT_TRUE(w.valid);
    // Each stretch runs from the first loud step to five seconds after the last loud one.
    const double expected =
        (3.5 - 1.0 + TRIGGER_HOLD_MS / 1000.0) + (0.5 + TRIGGER_HOLD_MS / 1000.0);
    EXPECT_NEAR(static_cast<double>(w.samples.size()), expected * kRate, 0.1 * kRate);
    EXPECT_GT(std::abs(w.samples.front()), 16000); // it starts loud
    EXPECT_TRUE(noted("136"));

    // Never loud enough for that level: no file at all.
    window->state().settings.variablesChoice = cmd::kVariablesFreeze;
    signal = [](SimulatedSoundInput& in) {
        in.setSignal([](std::int64_t frame, int) { return tone(frame, 0.15); });
    };
    signal(*input);
    notesSeen.clear();
    const QString quiet = recordTo(QStringLiteral("quiet.wav"));
    window->state().settings.recordingChoice = RECORDING_TRIGGER;
    run(clock.currentMs() + 3000);
    EXPECT_FALSE(QFile::exists(quiet));
    EXPECT_TRUE(noted("140"));
    expectIdle();
}

TEST_F(ScanInputTest, AFailedWriteOrACloseStopsTheRecordingAndKeepsTheFileValid) {
    // The file may grow to the header, one buffer and a little: the second buffer fails.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = static_cast<rlim_t>(46 + kBufferBytes + 1000);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString path = recordTo(QStringLiteral("full.wav"));
    pressAt(500, cmd::kPlay);
    run(30000); // the failure ends the run long before
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_LT(clock.currentMs(), 10000);
    EXPECT_EQ(test::lastMessage(*prompts), kRecordingWriteFailed.text);
    EXPECT_FALSE(noted("136"));
    const ReadWave w = readWave(path);
    ASSERT_TRUE(w.valid);
    EXPECT_NEAR(static_cast<double>(w.samples.size()), 3.5 * kRate, kStepFrames);
    expectIdle();

    // A folder that is gone when SAVE creates the file: the same, without a file.
    const QString gone = dir.file(QStringLiteral("gone/rec.wav"));
    window->state().settings.recordingChoice = RECORDING_ON;
    prompts->queueFile(gone);
    pressAt(clock.currentMs() + 500, cmd::kPlay);
    run(clock.currentMs() + 30000);
    EXPECT_EQ(test::lastMessage(*prompts), kErrorWritingFile.text);
    EXPECT_FALSE(QFile::exists(gone));
    expectIdle();

    // A close during a recording finishes the file, then closes.
    const std::int64_t start = clock.currentMs();
    const QString closed = recordTo(QStringLiteral("close.wav"));
    pressAt(start + 500, cmd::kPlay);
    at(start + 2000, [this] { window->close(); });
    run(start + 60000);
    EXPECT_LT(clock.currentMs() - start, 5000);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    const ReadWave c = readWave(closed);
    ASSERT_TRUE(c.valid);
    EXPECT_NEAR(static_cast<double>(c.samples.size()), 1.5 * kRate, 2 * kStepFrames);
}

TEST_F(ScanInputLimitTest, ARecordingNearingTheLimitStopsTheRunWithAValidFileAndItsNote) {
    // 3.5 s of the first buffer and the whole second leave less than a buffer to the limit:
    // the run stops when the second is written, at 8 s, and keeps the little of the third.
    const QString path = recordTo(QStringLiteral("limit.wav"));
    pressAt(500, cmd::kPlay);
    run(30000);
    EXPECT_LT(clock.currentMs(), 9000);
    EXPECT_TRUE(prompts->messages().empty());
    EXPECT_TRUE(noted("136"));
    const ReadWave w = readWave(path);
    ASSERT_TRUE(w.valid);
    EXPECT_NEAR(static_cast<double>(w.samples.size()), 7.5 * kRate, 2 * kStepFrames);
    EXPECT_LE(static_cast<std::int64_t>(w.samples.size()) * 2, *recordingByteLimit);
    expectIdle();
}

TEST_F(ScanInputTest, DeviceFailuresLostSoundAndCommandLineChecks) {
    failNewDevice = SimulatedFailure::Open;
    run(1000);
    EXPECT_EQ(test::lastMessage(*prompts), kCannotOpenAudioDevice.text);
    EXPECT_EQ(lastScanInput(*window).columnsDrawn, 0);
    expectIdle(0);

    // A device that opens but will not start ends the run without a word: no message, no note.
    // The colour dialog is closed all the same, as for every scan.
    ASSERT_NE(input, nullptr);
    input->failAt(SimulatedFailure::Write);
    QTest::keyClick(window.get(), Qt::Key_F4);
    ASSERT_NE(colourDialog(window.get()), nullptr);
    const std::size_t before = prompts->messages().size();
    notesSeen.clear();
    run(clock.currentMs() + 1000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(colourDialog(window.get()), nullptr);
    EXPECT_EQ(prompts->messages().size(), before);
    EXPECT_TRUE(notesSeen.isEmpty());
    EXPECT_EQ(lastScanInput(*window).columnsDrawn, 0);
    expectIdle();
    clock.advance(1000); // the STOP meant for that run comes while idle
    QCoreApplication::processEvents();

    // Mode 1 from the command line: the high limit is cut to 22 kHz, which asks for 44 kHz.
    ASSERT_NE(input, nullptr);
    input->failAt(SimulatedFailure::None);
    AppState& s = window->state();
    s.control.autoRun = true;
    s.control.timeSpanSeconds = 10;
    s.settings.lowBandHz = 0;
    s.settings.highBandHz = 30000;
    run(clock.currentMs() + 1000);
    EXPECT_EQ(test::lastMessage(*prompts), "Highest Frequency Limited to 22 kHz");
    EXPECT_EQ(lastScanInput(*window).sampleRate, 44100);
    EXPECT_GT(lastScanInput(*window).columnsDrawn, 0);
    expectIdle();
    // The machine stalls for 9 s: both 4-second buffers fill and a second of sound is lost,
    // which is told once at the end.
    const std::size_t shown = prompts->messages().size();
    at(clock.currentMs() + 1000, [this] { clock.advance(9000); });
    run(clock.currentMs() + 12000);
    ASSERT_EQ(prompts->messages().size(), shown + 1);
    EXPECT_EQ(test::lastMessage(*prompts), kInputSoundLost.text);
    expectIdle();
    // A band narrower than 10 Hz ends the command before anything opens.
    s.control.autoRun = true;
    s.settings.lowBandHz = 1000;
    s.settings.highBandHz = 1005;
    run(clock.currentMs() + 1000);
    EXPECT_EQ(test::lastMessage(*prompts), MSG_IMPROPER_FREQUENCY_LIMITS);
    EXPECT_EQ(lastScanInput(*window).columnsDrawn, 0);
    expectIdle();
}

} // namespace
} // namespace korv
