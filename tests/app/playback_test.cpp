// PLAY, PLAY WDW and the stream side of Scan File on the simulated output and the virtual
// clock: what the device hears, what the view is told, and that everything is given back.

#include "app/playback.h"
#include "platform/allocations.h"
#include "support/counting_output.h"
#include "support/platform_scopes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace korv {
namespace {

// Records what playback asks of the main window.
class FakeView final : public PlaybackView {
  public:
    void blankImageArea() override { log.emplace_back("blank"); }
    void enterPlaying() override { log.emplace_back("playing"); }
    void setScrollPosition(int) override {}
    void showPlayTime(double) override {}
    void uncoverColumns(int, int) override {}
    void movePlayMarker(std::optional<int> previousColumn, int column) override {
        markers.emplace_back(previousColumn, column);
    }
    void playbackStopped() override { log.emplace_back("stopped"); }
    void playLoopEnded() override { log.emplace_back("loopEnded"); }
    bool takeLayoutPending() override { return false; }
    void relayoutAndReanalyse() override { log.emplace_back("relayout"); }
    void reloadSettings() override { log.emplace_back("reload"); }
    void streamFinished() override { log.emplace_back("streamFinished"); }

    std::vector<std::string> log;
    std::vector<std::pair<std::optional<int>, int>> markers;
};

// A store holding `bytes` of noise in `format`, as Analyze File leaves it.
SampleStore noiseStore(const WaveFormat& format, std::size_t bytes, unsigned seed) {
    auto store = SampleStore::allocate(bytes, processAllocations());
    EXPECT_TRUE(store.has_value());
    buildWaveHeader(store->header(), format, static_cast<std::uint32_t>(bytes));
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto& b : store->samples()) {
        b = static_cast<std::uint8_t>(byte(gen));
    }
    return std::move(*store);
}

// The loop polls the clock without sleeping: each read is one millisecond of virtual time.
struct Rig {
    Rig() { clock.setAdvanceOnRead(1); }
    VirtualClock clock;
    test::CountingOutput output{clock};
    FakeView view;
    bool stopRequested = true;
    Playback playback{output, clock, view, stopRequested};
};

TEST(Playback, PlayWindowPlaysTheViewFromItsLeftEdgeAndStopsAtTheMarkerColumn) {
    // 44.1 kHz 16-bit stereo, 8 ms columns: a 352808-byte buffer.
    const WaveFormat f{2, 44100, 16};
    const SampleStore store = noiseStore(f, 176400 * 10, 4);
    struct Case {
        bool dual;
        int loops;      // 1000 or 497 columns of 8 ms over the buffer
        int stopColumn; // the first column not drawn
    };
    for (const Case c : {Case{false, 4, 1000}, Case{true, 2, 496}}) {
        SCOPED_TRACE(c.dual ? "dual" : "single");
        const int before = openAllocations();
        test::ScriptedPromptsScope prompts;
        Rig rig;
        // Scrolled to column 51; 705 interleaved samples per column (an odd count: the start
        // is taken down to a whole frame).
        rig.playback.startPlayWindow(store, PlayGeometry{1000, c.dual, 4000, 8.0, 51, 705});
        EXPECT_EQ(rig.output.preparedLoops, c.loops);
        EXPECT_EQ(rig.view.log, (std::vector<std::string>{"playing", "stopped", "loopEnded"}));

        // The marker steps one column at a time, each time putting back the previous one.
        std::vector<std::pair<std::optional<int>, int>> steps{{std::nullopt, 0}};
        for (int i = 1; i < c.stopColumn; ++i) {
            steps.emplace_back(i - 1, i);
        }
        EXPECT_EQ(rig.view.markers, steps);

        // Byte 51 x 705 x 2 = 71910 taken down to a whole frame: the window's start.
        const std::size_t offset = 71908;
        const std::span<const std::uint8_t> played = rig.output.played();
        // The sound ran until the marker reached the stop column (8 ms per column).
        const std::size_t expectBytes = static_cast<std::size_t>(c.stopColumn) * 8 * 1764 / 10;
        EXPECT_GE(played.size(), expectBytes);
        ASSERT_LE(played.size(), expectBytes + 2 * 177 * 4);
        EXPECT_TRUE(std::ranges::equal(played, store.samples().subspan(offset, played.size())));
        EXPECT_EQ(openAllocations(), before);
        EXPECT_FALSE(rig.output.isOpen());
    }
}

// Scan File's stream as its user meets it (every frame, the silence after, a device that fails)
// is scan_file_test's and scan_file_sound_test's; here, the stream buffer without a device.
TEST(Playback, TheStreamBufferWithoutADeviceAndAnEmptyFirstRead) {
    const PcmFormat format{8000, 1, 8};
    const int before = openAllocations();
    // A point spectrum uses the buffer, all silence, without a device; STOP gives it back. An
    // empty first read ends the run at once.
    test::ScriptedPromptsScope prompts;
    Rig rig;
    const std::span<std::uint8_t> buffer = rig.playback.allocateStreamBuffer(format);
    EXPECT_TRUE(std::ranges::all_of(buffer, [](std::uint8_t b) { return b == 0x80; }));
    EXPECT_EQ(openAllocations(), before + 1);
    EXPECT_TRUE(rig.playback.allocateStreamBuffer(format).empty()) << "only one at a time";
    rig.playback.stopPlayback();
    EXPECT_EQ(openAllocations(), before);
    ASSERT_FALSE(rig.playback.allocateStreamBuffer(format).empty());
    rig.stopRequested = false;
    ASSERT_TRUE(rig.playback.openStreamPlayback(100000, 0));
    EXPECT_TRUE(rig.stopRequested);
    rig.playback.stopPlayback();
    EXPECT_EQ(rig.view.log, std::vector<std::string>{"streamFinished"});
    EXPECT_EQ(openAllocations(), before);
    EXPECT_TRUE(prompts->messages().empty());
}

} // namespace
} // namespace korv
