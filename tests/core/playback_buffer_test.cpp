// The looping buffer's sizes, loop counts, refills and half crossings, and the view geometry
// of the play position.

#include "audio/playback_buffer.h"
#include "display/view_geometry.h"

#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

using namespace korv;

namespace {

struct Format {
    int rate;
    int channels;
    int bits;
    [[nodiscard]] int blockAlign() const { return channels * bits / 8; }
    [[nodiscard]] int bytesPerSecond() const { return rate * blockAlign(); }
};

const Format kFormats[] = {{5513, 1, 8},   {8000, 2, 8},  {11025, 1, 8},  {11025, 2, 16},
                           {22050, 1, 16}, {44100, 1, 8}, {44100, 2, 16}, {48000, 2, 16},
                           {96000, 2, 16}, {7919, 2, 16}, {88200, 1, 16}, {192000, 2, 16}};

using test::noise;

} // namespace

TEST(PlayBuffer, HoldsAtLeastTwoSecondsInWholeFramesRoundedToEightPlusEight) {
    for (const Format& f : kFormats) {
        SCOPED_TRACE(::testing::Message() << f.rate << " Hz " << f.channels << "ch " << f.bits);
        const std::int64_t bytes = playBufferBytes(f.bytesPerSecond());
        const std::int64_t seconds = std::max<std::int64_t>(176400 / f.bytesPerSecond(), 2);
        EXPECT_EQ(bytes, f.bytesPerSecond() * seconds / 8 * 8 + 8);
        // Each half is whole frames, so the device never plays a frame split across halves.
        EXPECT_EQ((bytes / 2) % f.blockAlign(), 0);
    }
}

TEST(StreamBuffer, IsSixtyFourKiloFramesPlusEightBytes) {
    for (int blockAlign : {1, 2, 4}) {
        EXPECT_EQ(streamBufferBytes(blockAlign), 65536LL * blockAlign + 8);
    }
}

TEST(LoopCounts, PlayCoversTheDataAndPlayWindowCoversTheView) {
    // PLAY: one loop more than the whole buffers in the data (its end is always heard).
    const std::int64_t buffer = 1000;
    for (std::int64_t data : {0LL, 1LL, 500LL, 999LL, 1000LL, 1001LL, 12345LL, 54321LL}) {
        EXPECT_EQ(playAllLoops(data, buffer), data / buffer + 1) << data;
    }
    // PLAY WDW: the fewest loops that cover the view's bytes.
    for (const Format& f : kFormats) {
        for (int columns : {1, 397, 1024, 3000}) {
            for (double ms : {0.5, 4.0, 23.2}) {
                const std::int64_t b = playBufferBytes(f.bytesPerSecond());
                const double viewBytes = columns * ms * f.bytesPerSecond() / 1000.0;
                const int loops = playWindowLoops(columns, ms, f.bytesPerSecond(), b);
                EXPECT_GE(static_cast<double>(loops) * static_cast<double>(b), viewBytes);
                EXPECT_LT(static_cast<double>(loops - 1) * static_cast<double>(b), viewBytes + 1);
            }
        }
    }
    // Nonsense in, still a count the device takes.
    EXPECT_EQ(playWindowLoops(-5, 4.0, 176400, 352808), 1);
    EXPECT_EQ(playWindowLoops(100, 1e300, 176400, 352808), 2147483647);
}

// The right pane's place is play_window_test's, where PLAY uncovers it; the marker's stop column
// playback_test's, where PLAY WDW stops at it.
TEST(PlayGeometry, PanesOfBothLayoutsAndTheColumnAndFramesPlayed) {
    EXPECT_EQ(std::pair(playPaneColumns(1000, false), playPaneColumns(1000, true)),
              std::pair(1000, 497));
    EXPECT_EQ((std::array{playColumn(11.99, 4.0), playColumn(12.0, 4.0), playColumn(-3.0, 4.0)}),
              (std::array{2, 3, 0}));
    EXPECT_EQ(playedFrames(1000.0, 44100), 44100);
    EXPECT_EQ(playedFrames(0.9, 44100), 39);
}

// A device reading the buffer frame by frame while the position advances in uneven steps, the
// program refilling whatever half the crossing rule names: what the device reads is the source,
// in order, then silence. The source is a window into a larger block: reading past it would
// copy the guard bytes that follow.
TEST(HalfCrossing, RefillsKeepTheDeviceFedWithTheSourceInOrder) {
    EXPECT_EQ(pcmSilence(8), 0x80);
    EXPECT_EQ(pcmSilence(16), 0x00);
    std::mt19937 gen(3);
    for (const std::int64_t guard : {0LL, 40LL}) {
        for (const std::size_t frameBytes : {1u, 2u, 4u}) {
            SCOPED_TRACE(::testing::Message() << "guard " << guard << " frame " << frameBytes);
            const std::uint8_t silence = pcmSilence(frameBytes == 1 ? 8 : 16);
            const std::int64_t framesPerBuffer = 400;
            std::vector<std::uint8_t> block = noise(frameBytes * 2345 + 100, 11);
            std::fill(block.end() - 100, block.end(), std::uint8_t{0xEE});
            const auto source = std::span<const std::uint8_t>(block).first(frameBytes * 2345);
            SampleCursor cursor{source};
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(framesPerBuffer) *
                                             frameBytes);
            std::size_t copied = refillHalf(loopBufferHalf(buffer, Half::First), cursor, silence);
            HalfCrossing crossing(framesPerBuffer, guard);
            std::vector<std::uint8_t> heard;
            std::vector<Half> refills;
            std::uniform_int_distribution<std::int64_t> stepSize(1, 90);
            std::int64_t pos = 0;
            const std::int64_t end = 3000;
            while (pos < end) {
                if (const auto half = crossing.step(pos)) {
                    refills.push_back(*half);
                    copied += refillHalf(loopBufferHalf(buffer, *half), cursor, silence);
                }
                const std::int64_t next = std::min(end, pos + stepSize(gen));
                for (; pos < next; ++pos) {
                    const std::size_t at =
                        static_cast<std::size_t>(pos % framesPerBuffer) * frameBytes;
                    heard.insert(heard.end(), buffer.begin() + static_cast<std::ptrdiff_t>(at),
                                 buffer.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
                }
            }
            // The device read `end` frames (the loop above), the source first.
            EXPECT_TRUE(std::equal(source.begin(), source.end(), heard.begin()));
            EXPECT_TRUE(std::all_of(heard.begin() + static_cast<std::ptrdiff_t>(source.size()),
                                    heard.end(), [&](std::uint8_t b) { return b == silence; }));
            EXPECT_EQ(copied, source.size()); // the bytes copied, not the silence
            EXPECT_EQ(cursor.remaining(), 0u);
            // One refill per half entered, alternating, the second half first.
            ASSERT_EQ(refills.size(), static_cast<std::size_t>((end - 1) / 200 + 1));
            for (std::size_t i = 0; i < refills.size(); ++i) {
                EXPECT_EQ(refills[i], i % 2 == 0 ? Half::Second : Half::First) << i;
            }
        }
    }
}

TEST(HalfCrossing, WaitsForTheGuardAndAsksOncePerEntry) {
    // At 500 the second half begins, the guard not yet passed.
    HalfCrossing crossing(1000, 100);
    const std::optional<Half> no;
    const std::vector<std::pair<std::int64_t, std::optional<Half>>> steps{
        {0, no},   {99, no},           {100, Half::Second}, {300, no},           {499, no},
        {500, no}, {650, Half::First}, {999, no},           {1120, Half::Second}};
    for (const auto& [position, half] : steps) {
        EXPECT_EQ(crossing.step(position), half) << position;
    }
}

TEST(UncoverStep, UncoversFromTheLeftThenPagesAndStopsAtTheImageEnd) {
    EXPECT_EQ(uncoverStep(0, 500, 2000), (UncoverStep{0, 1, false}));
    EXPECT_EQ(uncoverStep(499, 500, 2000), (UncoverStep{0, 500, false}));
    EXPECT_EQ(uncoverStep(500, 500, 2000), (UncoverStep{0, 500, true}));
    EXPECT_EQ(uncoverStep(1234, 500, 2000), (UncoverStep{734, 500, true}));
    // Past the image's last column the last page stays.
    EXPECT_EQ(uncoverStep(5000, 500, 2000), (UncoverStep{1500, 500, true}));
    // An image narrower than the pane is uncovered up to its width and never pages.
    EXPECT_EQ(uncoverStep(900, 1000, 600), (UncoverStep{0, 600, false}));
    EXPECT_EQ(uncoverStep(-4, 500, 2000), (UncoverStep{0, 1, false}));
}
