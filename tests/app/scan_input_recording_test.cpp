// Scan Input's recordings in the real window offscreen: by hand and by the level trigger, written
// to a temp folder and read back, also after every buffer while the run goes on; failed writes,
// a close and the size limit.

#include "support/scan_input_fixture.h"

#include <array>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>

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
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    std::array<char, 46> header{};
    if (!error && std::ifstream(path, std::ios::binary).read(header.data(), header.size())) {
        korv::test::Synced seen{path.string(),
                                static_cast<std::int64_t>(std::filesystem::file_size(path, error))};
        std::memcpy(&seen.headerData, header.data() + 42, 4);
        korv::test::syncs().push_back(seen);
    }
    using Sync = int (*)(int);
    static const auto real = reinterpret_cast<Sync>(::dlsym(RTLD_NEXT, "fdatasync"));
    return real(fd);
}

namespace korv::test {
namespace {

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
    window->state().settings.recording = Recording::Choice::Manual;
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
    window->state().settings.variables = Variables::Adjust;
    prompts->queueDialog([](QDialog& d) {
        d.findChild<QAbstractButton*>(controlName(RECORDING_TRIGGER))->click();
        d.findChild<QScrollBar*>(controlName(ID_TRIGGER_SCROLL))->setValue(1000);
        ScriptedPrompts::pressOk(d);
    });
    run(20000);
    EXPECT_EQ(prompts->dialogsRun().size(), 1);
    const ReadWave w = readWave(path);
    ASSERT_TRUE(w.valid);
    // Each stretch runs from the first frame of the window that first heard it loud to five
    // seconds of sound after the end of the last window that heard it.
    const double expected = heldFrames(3.5 - 1.0) + heldFrames(0.5);
    EXPECT_NEAR(static_cast<double>(w.samples.size()), expected, 2 * kStepFrames);
    EXPECT_LT(std::abs(w.samples.front()), 1000); // it starts in the quiet just before
    EXPECT_TRUE(noted("136"));

    // Never loud enough for that level: no file at all.
    window->state().settings.variables = Variables::Freeze;
    signal = [](SimulatedSoundInput& in) {
        in.setSignal([](std::int64_t frame, int) { return tone(frame, 0.15); });
    };
    signal(*input);
    notesSeen.clear();
    const QString quiet = recordTo(QStringLiteral("quiet.wav"));
    window->state().settings.recording = Recording::Choice::Trigger;
    run(clock.currentMs() + 3000);
    EXPECT_FALSE(QFile::exists(quiet));
    EXPECT_TRUE(noted("140"));
    expectIdle();
}

TEST_F(ScanInputTest, TheTriggersHoldLastsFiveSecondsOfSoundWhateverTheDeviceDoes) {
    // Three loud stretches, each held until a stop 5 s (of sound) after it in the 4-s buffers
    // from 0 s: one at 7.97 s, so late in its buffer that the buffer is done when the step
    // that sees the hold is over comes; one at 15.6 s, with the device hanging from 13 to
    // 17 s, so that by the clock the hold is over when its sound has not come, and then
    // delivering the rest of that buffer and part of the next at once; one at 24.5 s, with a
    // hang from 23 to 25.5 s: the stop comes before the buffer that holds it is reported.
    signal = [](SimulatedSoundInput& in) {
        in.setSignal([](std::int64_t frame, int) {
            const double t = static_cast<double>(frame) / kRate;
            const bool loud =
                (t >= 2.4 && t < 2.87) || (t >= 10.0 && t < 10.5) || (t >= 18.9 && t < 19.4);
            return tone(frame, loud ? 0.9 : 0.01); // loud above the default level, 5000
        });
        in.addStall(13000, 4000);
        in.addStall(23000, 2500);
    };
    const QString path = recordTo(QStringLiteral("hang.wav"));
    window->state().settings.recording = Recording::Choice::Trigger;
    run(28000);
    const ReadWave w = readWave(path);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(input->overruns(), 0);
    // The first peak of each loud stretch: each begins as far after the one before as that
    // one lasted.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < w.samples.size(); ++i) {
        if (std::abs(w.samples[i]) > 16000 && (starts.empty() || i > starts.back() + kRate)) {
            starts.push_back(i);
        }
    }
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_NEAR(static_cast<double>(starts[1] - starts[0]), heldFrames(0.47), 2 * kStepFrames);
    EXPECT_NEAR(static_cast<double>(starts[2] - starts[1]), heldFrames(0.5), 2 * kStepFrames);
    EXPECT_NEAR(static_cast<double>(w.samples.size() - starts[2] + starts[0]), heldFrames(0.5),
                2 * kStepFrames);
    EXPECT_EQ(lastScanInput(*window).recordedBytes,
              static_cast<std::int64_t>(w.samples.size()) * 2);
    EXPECT_TRUE(noted("136"));
    expectIdle();
}

TEST_F(ScanInputTest, TheTriggerKeepsTheWholeBurstThatSetItOffAlsoAcrossABufferBoundary) {
    // A 1-s burst from 4 s, where the first 4-second buffer ends: the window that first hears
    // it begins in that buffer.
    signal = [](SimulatedSoundInput& in) {
        in.setSignal([](std::int64_t frame, int) {
            const bool loud = frame >= 4 * kRate && frame < 5 * kRate;
            return tone(frame, loud ? 0.5 : 0.01);
        });
    };
    window->state().settings.variables = Variables::Adjust;
    // Without the pitch detector and with its long window.
    for (const bool pitch : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "pitch detector " << pitch);
        if (input != nullptr) {
            signal(*input);
        }
        window->state().settings.pitchDetector = pitch;
        const QString path = recordTo(pitch ? QStringLiteral("p.wav") : QStringLiteral("n.wav"));
        prompts->queueDialog([](QDialog& d) {
            d.findChild<QAbstractButton*>(controlName(RECORDING_TRIGGER))->click();
            d.findChild<QScrollBar*>(controlName(ID_TRIGGER_SCROLL))->setValue(1000);
            ScriptedPrompts::pressOk(d);
        });
        run(clock.currentMs() + 12000);
        const ReadWave w = readWave(path);
        ASSERT_TRUE(w.valid);
        // The tone's peaks of the burst, every fourth frame: the first and the last recorded.
        std::vector<std::size_t> peaks;
        for (std::size_t i = 0; i < w.samples.size(); ++i) {
            if (std::abs(w.samples[i]) > 12000) {
                peaks.push_back(i);
            }
        }
        ASSERT_FALSE(peaks.empty());
        // The recording begins before the burst, by at most the window that heard it.
        EXPECT_GT(peaks.front(), 4u);
        EXPECT_LE(peaks.front(), 1024u + kStepFrames);
        EXPECT_NEAR(static_cast<double>(peaks.back() - peaks.front()), kRate, 8.0);
        expectIdle();
    }
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
    window->state().settings.recording = Recording::Choice::Manual;
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

} // namespace
} // namespace korv::test
