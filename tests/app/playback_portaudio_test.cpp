// PLAY and PLAY WDW of a real wave file through the PortAudio output, on ALSA's null plugin:
// a default device that needs no sound card and plays as fast as it is fed.

#include "app/playback.h"
#include "audio/wave_file.h"
#include "audio/wave_parser.h"
#include "platform/allocations.h"
#include "platform/clock.h"
#include "platform/portaudio_output.h"
#include "support/alsa_config.h"
#include "support/platform_scopes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <unistd.h>
#include <vector>

namespace korv {
namespace {

namespace fs = std::filesystem;

const auto* const alsaNull = ::testing::AddGlobalTestEnvironment(
    new test::AlsaConfig("korv-play-null", test::ALSA_NULL_DEVICE));

// Forwards to the real device and notes what it did.
class WatchedOutput final : public SoundOutput {
  public:
    SoundResult open(const PcmFormat& format, SoundOutputSink& sink) override {
        return device->open(format, sink);
    }
    SoundResult prepare(std::span<const std::uint8_t> buffer, int loops) override {
        return device->prepare(buffer, loops);
    }
    SoundResult write() override {
        const SoundResult r = device->write();
        writes += r == SoundResult::Ok ? 1 : 0;
        return r;
    }
    std::optional<std::int64_t> positionFrames() override { return device->positionFrames(); }
    void reset() override {
        lastPosition = std::max(lastPosition, device->positionFrames().value_or(0));
        device->reset();
    }
    void unprepare() override { device->unprepare(); }
    void close() override { device->close(); }
    bool isOpen() const override { return device->isOpen(); }

    std::unique_ptr<SoundOutput> device = makePortAudioOutput();
    int writes = 0;
    std::int64_t lastPosition = 0;
};

class CountingView final : public PlaybackView {
  public:
    void blankImageArea() override {}
    void enterPlaying() override { ++entered; }
    void setScrollPosition(int) override {}
    void showPlayTime(double) override {}
    void uncoverColumns(int, int) override {}
    void movePlayMarker(std::optional<int>, int) override {}
    void playbackStopped() override { ++stopped; }
    void playLoopEnded() override { ++loopEnded; }
    bool takeLayoutPending() override { return false; }
    void relayoutAndReanalyse() override {}
    void reloadSettings() override {}
    void streamFinished() override {}
    int entered = 0;
    int stopped = 0;
    int loopEnded = 0;
};

// A 46-byte-header wave file of a 440 Hz tone, 16-bit stereo.
QByteArray toneFile(int rate, int frames) {
    std::vector<std::uint8_t> bytes(WAVE_HEADER_SIZE + static_cast<std::size_t>(frames) * 4);
    buildWaveHeader(WaveHeaderBytes(bytes.data(), WAVE_HEADER_SIZE), 2, rate, 16,
                    static_cast<std::uint32_t>(frames * 4));
    for (int i = 0; i < frames; ++i) {
        const double v = std::sin(2.0 * std::numbers::pi * 440.0 * i / rate);
        const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 8000)));
        for (int ch = 0; ch < 2; ++ch) {
            bytes[WAVE_HEADER_SIZE + static_cast<std::size_t>(i) * 4 + ch * 2] =
                static_cast<std::uint8_t>(s & 0xFF);
            bytes[WAVE_HEADER_SIZE + static_cast<std::size_t>(i) * 4 + ch * 2 + 1] =
                static_cast<std::uint8_t>(s >> 8);
        }
    }
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

std::size_t threadCount() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator{}));
}

TEST(PlaybackPortAudio, PlaysAFileToTheCompletionAndReleasesEverything) {
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const QString path = dir.write("tone.wav", toneFile(44100, 44100 / 5));
    ASSERT_FALSE(path.isEmpty());
    const WaveParseResult parsed = parseWaveHeader(path.toStdString());
    ASSERT_EQ(parsed.status, WaveParseStatus::Header);
    const int before = openAllocations();
    SegmentResult segment =
        loadSegment(path.toStdString(), parsed.info.dataOffset, parsed.info.dataLength,
                    parsed.info.format(), processAllocations());
    ASSERT_TRUE(segment.store.has_value());

    test::ScriptedPromptsScope prompts;
    RealClock clock;
    WatchedOutput output;
    CountingView view;
    bool stopRequested = true;
    {
        // PortAudio starts its own helpers on first use; count threads after that.
        Playback warmUp(output, clock, view, stopRequested);
        warmUp.startPlayAll(*segment.store, PlayGeometry{800, false, 800, 4.0, 0, 0});
    }
    ASSERT_EQ(output.writes, 1);
    const std::size_t threadsBefore = threadCount();
    Playback playback(output, clock, view, stopRequested);
    playback.startPlayAll(*segment.store, PlayGeometry{800, false, 800, 4.0, 0, 0});
    playback.startPlayWindow(*segment.store, PlayGeometry{800, true, 800, 4.0, 10, 352});

    EXPECT_TRUE(prompts->messages().empty());
    EXPECT_EQ(output.writes, 3) << "every stream started";
    EXPECT_GT(output.lastPosition, 0) << "the device took sound";
    EXPECT_EQ(view.entered, 3);
    EXPECT_EQ(view.stopped, 3) << "every completion handled";
    EXPECT_EQ(view.loopEnded, 3);
    EXPECT_TRUE(stopRequested);
    EXPECT_FALSE(output.isOpen());
    EXPECT_FALSE(playback.active());
    EXPECT_EQ(threadCount(), threadsBefore);
    segment.store.reset();
    EXPECT_EQ(openAllocations(), before);
}

} // namespace
} // namespace korv
