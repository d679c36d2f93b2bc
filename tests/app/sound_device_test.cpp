// The virtual clock and the simulated sound devices that the program's tests run on.
#include "platform/clock.h"
#include "platform/sound_simulated.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace korv {
namespace {

// ---------------------------------------------------------------------------------------------
// Clock

TEST(VirtualClock, SleepingCallsListenersOncePerMillisecondInOrder) {
    VirtualClock clock(100);
    std::vector<std::pair<int, std::int64_t>> calls;
    clock.addListener([&](std::int64_t now) { calls.emplace_back(1, now); });
    clock.addListener([&](std::int64_t now) { calls.emplace_back(2, now); });
    clock.sleep(3);
    clock.sleep(0);
    clock.sleep(-5);
    const std::vector<std::pair<int, std::int64_t>> expected{{1, 101}, {2, 101}, {1, 102},
                                                             {2, 102}, {1, 103}, {2, 103}};
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(clock.nowMs(), 103);
}

TEST(VirtualClock, ReadingAdvancesOnlyWhenAsked) {
    VirtualClock clock;
    int ticks = 0;
    clock.addListener([&](std::int64_t) { ++ticks; });
    EXPECT_EQ(clock.nowMs(), 0);
    EXPECT_EQ(clock.nowMs(), 0);
    clock.setAdvanceOnRead(2);
    EXPECT_EQ(clock.nowMs(), 2);
    EXPECT_EQ(clock.nowMs(), 4);
    EXPECT_EQ(clock.currentMs(), 4);
    EXPECT_EQ(ticks, 4);
}

TEST(VirtualClock, ListenersMayRemoveThemselvesAndAddOthers) {
    VirtualClock clock;
    std::vector<std::int64_t> late;
    int selfRemoving = 0;
    VirtualClock::ListenerId self = 0;
    self = clock.addListener([&](std::int64_t) {
        ++selfRemoving;
        clock.removeListener(self);
        clock.addListener([&](std::int64_t now) { late.push_back(now); });
    });
    clock.advance(3);
    EXPECT_EQ(selfRemoving, 1);
    // Added during tick 1, so heard from tick 2 on.
    EXPECT_EQ(late, (std::vector<std::int64_t>{2, 3}));
}

// ---------------------------------------------------------------------------------------------
// Output

struct CountingOutputSink : SoundOutputSink {
    void outputDone() override { ++done; }
    int done = 0;
};

// 16-bit mono samples counting up from `first`, so every played frame says where it came from.
std::vector<std::uint8_t> countingSamples(int frames, int first) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::uint16_t>(first + i);
        bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return bytes;
}

constexpr PcmFormat MONO16_8K{8000, 1, 16};

TEST(SimulatedSoundOutput, ConsumesFramesAtTheRateOfVirtualTime) {
    VirtualClock clock;
    SimulatedSoundOutput out(clock);
    CountingOutputSink sink;
    const std::vector<std::uint8_t> buffer = countingSamples(1000, 0);
    ASSERT_EQ(out.open(MONO16_8K, sink), SoundResult::Ok);
    ASSERT_EQ(out.prepare(buffer, 3), SoundResult::Ok);
    EXPECT_FALSE(out.positionFrames().has_value());
    clock.sleep(10); // before the write: nothing plays
    ASSERT_EQ(out.write(), SoundResult::Ok);
    EXPECT_EQ(out.positionFrames(), 0);
    clock.sleep(1);
    EXPECT_EQ(out.positionFrames(), 8);
    clock.sleep(49);
    EXPECT_EQ(out.positionFrames(), 400);
    EXPECT_EQ(out.played(), std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 800));
    EXPECT_EQ(sink.done, 0);

    // 3000 frames at 8000 Hz end 375 ms after the write, not a millisecond earlier.
    clock.sleep(324);
    EXPECT_EQ(sink.done, 0);
    EXPECT_TRUE(out.isPlaying());
    clock.sleep(1);
    EXPECT_EQ(sink.done, 1);
    EXPECT_EQ(out.positionFrames(), 3000);
    clock.sleep(100);
    EXPECT_EQ(sink.done, 1);
    EXPECT_EQ(out.positionFrames(), 3000);

    std::vector<std::uint8_t> threeLoops;
    for (int i = 0; i < 3; ++i) {
        threeLoops.insert(threeLoops.end(), buffer.begin(), buffer.end());
    }
    EXPECT_EQ(out.played(), threeLoops);
}

TEST(SimulatedSoundOutput, ReadsWholeFramesOfTheBufferOnlyNeverBeyond) {
    VirtualClock clock;
    SimulatedSoundOutput out(clock);
    CountingOutputSink sink;
    // 16-bit stereo, 10 frames and 3 odd bytes, then guard bytes that must never be played.
    std::vector<std::uint8_t> memory(43 + 16, 0xEE);
    for (std::size_t i = 0; i < 43; ++i) {
        memory[i] = static_cast<std::uint8_t>(i);
    }
    const std::span<const std::uint8_t> buffer(memory.data(), 43);
    ASSERT_EQ(out.open(PcmFormat{1000, 2, 16}, sink), SoundResult::Ok);
    ASSERT_EQ(out.prepare(buffer, 2), SoundResult::Ok);
    ASSERT_EQ(out.write(), SoundResult::Ok);
    clock.sleep(100);
    ASSERT_EQ(sink.done, 1);
    std::vector<std::uint8_t> expected;
    for (int loop = 0; loop < 2; ++loop) {
        for (std::size_t i = 0; i < 40; ++i) {
            expected.push_back(memory[i]);
        }
    }
    EXPECT_EQ(out.played(), expected);
}

TEST(SimulatedSoundOutput, PlaysOneSecondOfEachFormatInOneSecond) {
    for (const int rate : {5513, 11025, 22050, 44100, 48000}) {
        for (const int channels : {1, 2}) {
            for (const int bits : {8, 16}) {
                const PcmFormat format{rate, channels, bits};
                SCOPED_TRACE(::testing::Message() << rate << " Hz " << channels << "ch " << bits);
                VirtualClock clock;
                SimulatedSoundOutput out(clock);
                CountingOutputSink sink;
                const std::vector<std::uint8_t> buffer(
                    static_cast<std::size_t>(format.bytesPerSecond()) * 2, silenceByte(format));
                ASSERT_EQ(out.open(format, sink), SoundResult::Ok);
                ASSERT_EQ(out.prepare(buffer, 1), SoundResult::Ok);
                ASSERT_EQ(out.write(), SoundResult::Ok);
                clock.sleep(1000);
                EXPECT_EQ(out.positionFrames(), rate);
                EXPECT_EQ(out.played().size(), static_cast<std::size_t>(format.bytesPerSecond()));
                EXPECT_EQ(sink.done, 0);
            }
        }
    }
}

TEST(SimulatedSoundOutput, ResetStopsAtOnceAndStillReportsCompletionOnce) {
    VirtualClock clock;
    SimulatedSoundOutput out(clock);
    CountingOutputSink sink;
    const std::vector<std::uint8_t> buffer = countingSamples(800, 0);
    ASSERT_EQ(out.open(MONO16_8K, sink), SoundResult::Ok);
    ASSERT_EQ(out.prepare(buffer, 10), SoundResult::Ok);
    out.reset(); // nothing written: nothing to report
    EXPECT_EQ(sink.done, 0);
    ASSERT_EQ(out.write(), SoundResult::Ok);
    EXPECT_EQ(out.write(), SoundResult::WriteFailed); // one write at a time
    clock.sleep(30);
    out.reset();
    EXPECT_EQ(sink.done, 1);
    EXPECT_FALSE(out.isPlaying());
    clock.sleep(30);
    out.reset();
    EXPECT_EQ(sink.done, 1);
    EXPECT_EQ(out.positionFrames(), 240);
    EXPECT_EQ(out.played().size(), 480u);

    // The buffer stays prepared: it can be written again from its start.
    ASSERT_EQ(out.write(), SoundResult::Ok);
    clock.sleep(10);
    EXPECT_EQ(out.positionFrames(), 80);
    out.close(); // closing while playing resets, and reports
    EXPECT_EQ(sink.done, 2);
    EXPECT_FALSE(out.isOpen());
    EXPECT_EQ(std::vector<std::uint8_t>(out.played().begin() + 480, out.played().end()),
              std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 160));
}

TEST(SimulatedSoundOutput, InjectedFailuresAndMisuseAreReportedAsResults) {
    const std::vector<std::uint8_t> buffer(64);
    struct Case {
        SimulatedFailure failure;
        SoundResult open, prepare, write;
    };
    for (const Case& c :
         {Case{SimulatedFailure::None, SoundResult::Ok, SoundResult::Ok, SoundResult::Ok},
          Case{SimulatedFailure::Open, SoundResult::OpenFailed, SoundResult::PrepareFailed,
               SoundResult::WriteFailed},
          Case{SimulatedFailure::Prepare, SoundResult::Ok, SoundResult::PrepareFailed,
               SoundResult::WriteFailed},
          Case{SimulatedFailure::Write, SoundResult::Ok, SoundResult::Ok,
               SoundResult::WriteFailed}}) {
        SCOPED_TRACE(static_cast<int>(c.failure));
        VirtualClock clock;
        SimulatedSoundOutput out(clock);
        CountingOutputSink sink;
        out.failAt(c.failure);
        EXPECT_EQ(out.open(MONO16_8K, sink), c.open);
        EXPECT_EQ(out.isOpen(), c.open == SoundResult::Ok);
        EXPECT_EQ(out.prepare(buffer, 1), c.prepare);
        EXPECT_EQ(out.write(), c.write);
        clock.sleep(100);
        out.reset();
        out.close();
        EXPECT_EQ(sink.done, c.write == SoundResult::Ok ? 1 : 0);
        EXPECT_EQ(out.openCount(), c.open == SoundResult::Ok ? 1 : 0);
        EXPECT_FALSE(out.isOpen());
    }

    VirtualClock clock;
    SimulatedSoundOutput out(clock);
    CountingOutputSink sink;
    EXPECT_EQ(out.open(PcmFormat{8000, 3, 16}, sink), SoundResult::OpenFailed);
    EXPECT_EQ(out.open(PcmFormat{8000, 1, 24}, sink), SoundResult::OpenFailed);
    EXPECT_EQ(out.open(PcmFormat{0, 1, 16}, sink), SoundResult::OpenFailed);
    EXPECT_EQ(out.prepare(buffer, 1), SoundResult::PrepareFailed); // not open
    ASSERT_EQ(out.open(MONO16_8K, sink), SoundResult::Ok);
    EXPECT_EQ(out.open(MONO16_8K, sink), SoundResult::OpenFailed); // already open
    EXPECT_EQ(out.write(), SoundResult::WriteFailed);              // not prepared
    EXPECT_EQ(out.prepare(std::span(buffer).first(1), 1), SoundResult::PrepareFailed);
    EXPECT_EQ(out.prepare(buffer, 0), SoundResult::PrepareFailed);
    ASSERT_EQ(out.prepare(buffer, 1), SoundResult::Ok);
    EXPECT_EQ(out.prepare(buffer, 1), SoundResult::PrepareFailed); // already prepared
    out.unprepare();
    EXPECT_EQ(out.write(), SoundResult::WriteFailed);
}

// ---------------------------------------------------------------------------------------------
// Input

struct RecordingInputSink : SoundInputSink {
    void bufferDone(std::span<std::uint8_t> buffer, std::size_t bytes) override {
        done.push_back({buffer.data(), bytes});
    }
    void inputClosed() override { ++closed; }
    std::vector<std::pair<std::uint8_t*, std::size_t>> done;
    int closed = 0;
};

std::int16_t sampleAt(const std::vector<std::uint8_t>& bytes, std::size_t frame) {
    return static_cast<std::int16_t>(bytes[2 * frame] | (bytes[2 * frame + 1] << 8));
}

TEST(SimulatedSoundInput, CapturesASignalIntoAlternatingBuffersInOrder) {
    VirtualClock clock;
    SimulatedSoundInput in(clock);
    RecordingInputSink sink;
    constexpr int RATE = 8000;
    constexpr int FRAMES = 800; // 100 ms per buffer
    const auto sine = [](std::int64_t frame, int) {
        return 0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / RATE);
    };
    in.setSignal(sine);
    std::vector<std::uint8_t> first(FRAMES * 2), second(FRAMES * 2);
    ASSERT_EQ(in.open(PcmFormat{RATE, 1, 16}, sink), SoundResult::Ok);
    ASSERT_EQ(in.addBuffer(first), SoundResult::Ok);
    ASSERT_EQ(in.addBuffer(second), SoundResult::Ok);
    EXPECT_FALSE(in.positionFrames().has_value());
    ASSERT_EQ(in.start(), SoundResult::Ok);

    // Like the program: requeue each buffer after taking what it holds.
    std::vector<std::int16_t> captured;
    std::size_t handled = 0;
    while (clock.currentMs() < 450) {
        clock.sleep(1);
        for (; handled < sink.done.size(); ++handled) {
            const auto [data, bytes] = sink.done[handled];
            EXPECT_EQ(data, handled % 2 == 0 ? first.data() : second.data());
            EXPECT_EQ(bytes, first.size());
            const std::vector<std::uint8_t>& buf = handled % 2 == 0 ? first : second;
            for (std::size_t i = 0; i < FRAMES; ++i) {
                captured.push_back(sampleAt(buf, i));
            }
            ASSERT_EQ(in.addBuffer(handled % 2 == 0 ? first : second), SoundResult::Ok);
        }
    }
    EXPECT_EQ(sink.done.size(), 4u);
    EXPECT_EQ(in.positionFrames(), 450 * RATE / 1000);
    ASSERT_EQ(captured.size(), 4u * FRAMES);
    for (std::size_t i = 0; i < captured.size(); ++i) {
        const double expected =
            0.5 * 32767.0 *
            std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / RATE);
        ASSERT_NEAR(captured[i], expected, 0.5001) << "frame " << i;
    }
    // The frames of the buffer being filled are readable below the position.
    EXPECT_NEAR(sampleAt(first, 399),
                0.5 * 32767.0 * std::sin(2.0 * std::numbers::pi * 3599.0 / 8.0), 0.5001);
    in.close();
    EXPECT_EQ(sink.closed, 1);
}

TEST(SimulatedSoundInput, BytesComeInOrderThenSilenceAndUnqueuedSoundIsLost) {
    VirtualClock clock;
    SimulatedSoundInput in(clock);
    RecordingInputSink sink;
    std::vector<std::uint8_t> heard(25);
    for (std::size_t i = 0; i < heard.size(); ++i) {
        heard[i] = static_cast<std::uint8_t>(i + 1);
    }
    in.setBytes(heard);
    std::vector<std::uint8_t> a(10, 0), b(10, 0), c(40, 0);
    ASSERT_EQ(in.open(PcmFormat{1000, 1, 8}, sink), SoundResult::Ok);
    ASSERT_EQ(in.addBuffer(a), SoundResult::Ok);
    ASSERT_EQ(in.start(), SoundResult::Ok);
    clock.sleep(15); // 10 frames into a, 5 lost
    ASSERT_EQ(sink.done.size(), 1u);
    EXPECT_EQ(in.positionFrames(), 10);
    EXPECT_EQ(in.overruns(), 1); // one stretch of five frames lost
    ASSERT_EQ(in.addBuffer(b), SoundResult::Ok);
    ASSERT_EQ(in.addBuffer(c), SoundResult::Ok);
    clock.sleep(20); // 10 into b, 10 into c
    ASSERT_EQ(sink.done.size(), 2u);
    EXPECT_EQ(in.positionFrames(), 30);

    in.stop(); // c comes back with what it holds, b is already back
    ASSERT_EQ(sink.done.size(), 3u);
    EXPECT_EQ(sink.done[2], std::make_pair(c.data(), std::size_t{10}));
    clock.sleep(20);
    EXPECT_EQ(in.positionFrames(), 30);

    const std::vector<std::uint8_t> expectA{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const std::vector<std::uint8_t> expectB{16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
    std::vector<std::uint8_t> expectC(40, 0);
    std::fill_n(expectC.begin(), 10, std::uint8_t{128});
    EXPECT_EQ(a, expectA);
    EXPECT_EQ(b, expectB);
    EXPECT_EQ(c, expectC);
    in.close();
    EXPECT_EQ(sink.closed, 1);
    in.close();
    EXPECT_EQ(sink.closed, 1);
}

TEST(SimulatedSoundInput, ResetAndCloseReturnEveryQueuedBufferInOrder) {
    VirtualClock clock;
    SimulatedSoundInput in(clock);
    RecordingInputSink sink;
    std::vector<std::uint8_t> a(40), b(40), c(40);
    ASSERT_EQ(in.open(PcmFormat{1000, 2, 16}, sink), SoundResult::Ok);
    for (auto* buf : {&a, &b, &c}) {
        ASSERT_EQ(in.addBuffer(*buf), SoundResult::Ok);
    }
    ASSERT_EQ(in.start(), SoundResult::Ok);
    clock.sleep(13); // a full (10 frames), 3 frames in b
    in.reset();
    using Done = std::pair<std::uint8_t*, std::size_t>;
    EXPECT_EQ(sink.done, (std::vector<Done>{{a.data(), 40}, {b.data(), 12}, {c.data(), 0}}));
    EXPECT_EQ(in.queuedBuffers(), 0);
    EXPECT_EQ(sink.closed, 0);

    // Queued again and restarted, then closed while filling: returned, then closed.
    ASSERT_EQ(in.addBuffer(a), SoundResult::Ok);
    ASSERT_EQ(in.start(), SoundResult::Ok);
    clock.sleep(2);
    EXPECT_EQ(in.positionFrames(), 15);
    in.close();
    ASSERT_EQ(sink.done.size(), 4u);
    EXPECT_EQ(sink.done[3], (Done{a.data(), 8}));
    EXPECT_EQ(sink.closed, 1);
    EXPECT_FALSE(in.isOpen());
}

TEST(SimulatedSoundInput, InjectedFailuresAndMisuseAreReportedAsResults) {
    std::vector<std::uint8_t> buffer(64);
    for (const auto failure :
         {SimulatedFailure::Open, SimulatedFailure::Prepare, SimulatedFailure::Write}) {
        SCOPED_TRACE(static_cast<int>(failure));
        VirtualClock clock;
        SimulatedSoundInput in(clock);
        RecordingInputSink sink;
        in.failAt(failure);
        const SoundResult open = in.open(MONO16_8K, sink);
        EXPECT_EQ(open == SoundResult::OpenFailed, failure == SimulatedFailure::Open);
        const SoundResult add = in.addBuffer(buffer);
        EXPECT_EQ(add == SoundResult::PrepareFailed, failure != SimulatedFailure::Write);
        // Without a buffer capture may start, but every frame heard is lost.
        const bool starts = failure == SimulatedFailure::Prepare;
        EXPECT_EQ(in.start(), starts ? SoundResult::Ok : SoundResult::WriteFailed);
        clock.sleep(50);
        EXPECT_EQ(in.positionFrames(), starts ? std::optional<std::int64_t>(0) : std::nullopt);
        in.close();
        EXPECT_EQ(sink.closed, failure == SimulatedFailure::Open ? 0 : 1);
        EXPECT_EQ(in.openCount(), failure == SimulatedFailure::Open ? 0 : 1);
    }

    VirtualClock clock;
    SimulatedSoundInput in(clock);
    RecordingInputSink sink;
    EXPECT_EQ(in.addBuffer(buffer), SoundResult::PrepareFailed); // not open
    EXPECT_EQ(in.start(), SoundResult::WriteFailed);
    EXPECT_EQ(in.open(PcmFormat{8000, 2, 12}, sink), SoundResult::OpenFailed);
    ASSERT_EQ(in.open(PcmFormat{8000, 2, 16}, sink), SoundResult::Ok);
    EXPECT_EQ(in.addBuffer(std::span(buffer).first(3)), SoundResult::PrepareFailed);
    for (int i = 0; i < SoundInput::MAX_QUEUED_BUFFERS; ++i) {
        ASSERT_EQ(in.addBuffer(buffer), SoundResult::Ok);
    }
    EXPECT_EQ(in.addBuffer(buffer), SoundResult::PrepareFailed); // queue full
    ASSERT_EQ(in.start(), SoundResult::Ok);
    EXPECT_EQ(in.start(), SoundResult::WriteFailed); // already capturing
}

} // namespace
} // namespace korv
