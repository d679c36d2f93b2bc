// The sound devices' contract (platform/sound_input.h, sound_output.h), one suite for every
// backend: the simulated devices on the virtual clock, and PortAudio on a private PulseAudio
// server whose default source is a 1 kHz sine and whose sink is a null sink (through ALSA's pulse
// plugin, on the real clock). The same binary runs once more with
// KORV_SOUND_CONTRACT_DEVICE=missing, where ALSA's default card does not exist, for the devices
// that cannot be had.
#include "platform/clock.h"
#include "platform/portaudio_input.h"
#include "platform/portaudio_output.h"
#include "platform/sound_simulated.h"
#include "support/device_sinks.h"
#include "support/pulse_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace korv {
namespace {

using test::Sinks;
using test::threadCount;
using enum SoundResult;

constexpr double SINE_HZ = 1000.0;
constexpr int INPUT_RATE = 8000; // the simulated input's sine is made for it

bool missingDeviceRun() {
    const char* mode = std::getenv("KORV_SOUND_CONTRACT_DEVICE");
    return mode != nullptr && std::string(mode) == "missing";
}

// Set up before PortAudio starts: the PulseAudio server, or in the missing-device run a default
// card that does not exist.
auto* const devices = dynamic_cast<test::PulseServer*>(::testing::AddGlobalTestEnvironment(
    new test::PulseServer({"module-sine-source frequency=1000"}, !missingDeviceRun())));

// ---------------------------------------------------------------------------------------------
// Backends

struct SimulatedBackend {
    static constexpr const char* NAME = "Simulated";
    static constexpr bool VIRTUAL = true;

    [[nodiscard]] static std::string unavailable() { return {}; }
    // Like a sound server, it takes frames from the buffer a while before they are heard.
    std::unique_ptr<SoundOutput> output() {
        auto out = std::make_unique<SimulatedSoundOutput>(clock);
        out->setLatencyMs(50);
        return out;
    }
    std::unique_ptr<SoundInput> input() {
        auto in = std::make_unique<SimulatedSoundInput>(clock);
        in->setSignal([](std::int64_t frame, int) {
            return 0.5 * std::sin(2.0 * std::numbers::pi * SINE_HZ * static_cast<double>(frame) /
                                  INPUT_RATE);
        });
        return in;
    }
    // Every byte the device has played, where it can tell.
    static const std::vector<std::uint8_t>* played(SoundOutput& out) {
        return &static_cast<SimulatedSoundOutput&>(out).played();
    }
    void sleep(int ms) { clock.sleep(ms); }
    [[nodiscard]] double nowMs() const { return static_cast<double>(clock.currentMs()); }

    VirtualClock clock;
};

struct PortAudioBackend {
    static constexpr const char* NAME = "PortAudio";
    static constexpr bool VIRTUAL = false;

    // Why PortAudio's contract cannot be checked in this run; empty when it can.
    [[nodiscard]] static std::string unavailable() {
        if (missingDeviceRun()) {
            return "this run has no default device";
        }
        return devices->ready() ? std::string() : devices->error();
    }
    static std::unique_ptr<SoundOutput> output() { return makePortAudioOutput(); }
    static std::unique_ptr<SoundInput> input() { return makePortAudioInput(); }
    static const std::vector<std::uint8_t>* played(SoundOutput&) { return nullptr; }
    static void sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    static double nowMs() {
        return std::chrono::duration<double, std::milli>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// 16-bit samples counting up, so every played frame says where it came from.
std::vector<std::uint8_t> countingBytes(std::size_t bytes) {
    std::vector<std::uint8_t> v(bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        v[i] = static_cast<std::uint8_t>(i % 2 == 0 ? i / 2 : i / 512);
    }
    return v;
}

std::int16_t sampleAt(const std::uint8_t* bytes, std::size_t frame, int channels) {
    const std::size_t at = frame * static_cast<std::size_t>(channels) * 2;
    return static_cast<std::int16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// What devices that are not open answer: a refusal to everything, and no position.
void expectRefusedWhileClosed(SoundOutput& out, SoundInput& in, std::span<std::uint8_t> buffer) {
    EXPECT_FALSE(out.isOpen() || in.isOpen());
    EXPECT_EQ(out.prepare(buffer, 1), PrepareFailed);
    EXPECT_EQ(out.write(), WriteFailed);
    EXPECT_EQ(in.addBuffer(buffer), PrepareFailed);
    EXPECT_EQ(in.start(), WriteFailed);
    EXPECT_FALSE(out.positionFrames() || in.positionFrames());
}

template <typename Backend> class SoundContract : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string why = Backend::unavailable(); !why.empty()) {
            GTEST_SKIP() << why;
        }
    }
    // A bounded wait, a millisecond at a time, for something a device thread does: a failure,
    // never a hang.
    bool waitFor(const std::function<bool()>& ready) {
        for (int ms = 0; ms < 10000 && !ready(); ++ms) {
            backend.sleep(1);
        }
        return ready();
    }
    Backend backend;
    Sinks sink;
};

class BackendNames {
  public:
    template <typename T> static std::string GetName(int) { return T::NAME; }
};
using Backends = ::testing::Types<SimulatedBackend, PortAudioBackend>;
TYPED_TEST_SUITE(SoundContract, Backends, BackendNames);

// ---------------------------------------------------------------------------------------------
// Output

TYPED_TEST(SoundContract, OutputPlaysEveryLoopOfWholeFramesReportsTheEndOnceAndLetsGo) {
    {
        // PortAudio starts its own helpers on first use; count threads after that.
        auto warmUp = this->backend.output();
        ASSERT_EQ(warmUp->open(PcmFormat{44100, 2, 16}, this->sink), Ok);
        warmUp->close();
    }
    const std::size_t threadsBefore = threadCount();
    for (const PcmFormat format : {PcmFormat{44100, 2, 16}, PcmFormat{11025, 1, 8},
                                   PcmFormat{48000, 1, 16}, PcmFormat{5513, 2, 8}}) {
        SCOPED_TRACE(::testing::Message() << format.sampleRate << " Hz " << format.channels << "ch "
                                          << format.bitsPerSample);
        auto out = this->backend.output();
        Sinks formatSink;
        // 1024 frames and the bytes of a part frame, then guard bytes that must never be played.
        constexpr int FRAMES = 1024;
        const auto wholeBytes = static_cast<std::size_t>(FRAMES * format.blockAlign());
        const std::vector<std::uint8_t> memory = countingBytes(wholeBytes + 16);
        const std::span<const std::uint8_t> buffer(memory.data(),
                                                   wholeBytes + format.blockAlign() - 1);
        ASSERT_EQ(out->open(format, formatSink), Ok);
        EXPECT_TRUE(out->isOpen());
        ASSERT_EQ(out->prepare(buffer, 4), Ok);
        EXPECT_FALSE(out->positionFrames().has_value());
        this->backend.sleep(10); // before the write nothing plays
        ASSERT_EQ(out->write(), Ok);
        if constexpr (TypeParam::VIRTUAL) {
            this->backend.sleep(10);
            EXPECT_EQ(out->positionFrames(), 10 * format.sampleRate / 1000);
            // 4096 frames end when they are due, not a millisecond earlier.
            const int endMs = (4 * FRAMES * 1000 + format.sampleRate - 1) / format.sampleRate;
            this->backend.sleep(endMs - 11);
            EXPECT_EQ(formatSink.done(), 0);
            this->backend.sleep(1);
            EXPECT_EQ(formatSink.done(), 1);
        }
        ASSERT_TRUE(this->waitFor([&] { return formatSink.done() > 0; })) << "no completion";
        EXPECT_EQ(out->positionFrames(), 4 * FRAMES);
        if (const auto* played = TypeParam::played(*out)) {
            std::vector<std::uint8_t> loops;
            for (int i = 0; i < 4; ++i) {
                loops.insert(loops.end(), memory.begin(), memory.begin() + wholeBytes);
            }
            EXPECT_EQ(*played, loops);
        }
        out->reset(); // the program resets after the completion: nothing more is reported
        this->backend.sleep(20);
        EXPECT_EQ(out->positionFrames(), 4 * FRAMES);
        out->unprepare();
        out->close();
        EXPECT_FALSE(out->isOpen());
        EXPECT_EQ(formatSink.done(), 1);
    }
    EXPECT_EQ(threadCount(), threadsBefore);
}

TYPED_TEST(SoundContract, OutputResetStopsAtOnceReportsBeforeReturningAndPlaysAgainFromTheStart) {
    auto out = this->backend.output();
    const PcmFormat format{22050, 1, 16};
    const std::vector<std::uint8_t> buffer = countingBytes(4096 * 2);
    ASSERT_EQ(out->open(format, this->sink), Ok);
    ASSERT_EQ(out->prepare(buffer, 1 << 30), Ok);
    out->reset(); // nothing written: nothing to report
    EXPECT_EQ(this->sink.done(), 0);
    for (int round = 1; round <= 4; ++round) {
        SCOPED_TRACE(round);
        const std::size_t playedBefore =
            TypeParam::played(*out) ? TypeParam::played(*out)->size() : 0;
        const double writtenMs = this->backend.nowMs();
        ASSERT_EQ(out->write(), Ok);
        EXPECT_EQ(out->write(), WriteFailed); // one write at a time
        // The position counts the frames heard, not those handed over: it never runs ahead of
        // the time since the write, though a sound server takes its buffer at once.
        double worstAheadMs = -1e9;
        ASSERT_TRUE(this->waitFor([&] {
            const std::int64_t heard = out->positionFrames().value_or(0);
            worstAheadMs =
                std::max(worstAheadMs, static_cast<double>(heard) * 1000.0 / format.sampleRate -
                                           (this->backend.nowMs() - writtenMs));
            return heard > 2048;
        }));
        EXPECT_LT(worstAheadMs, 10.0) << "the position ran ahead of the sound";
        if (round == 4) {
            out->close(); // closing while playing resets, and reports
            EXPECT_FALSE(out->isOpen());
            EXPECT_EQ(this->sink.done(), 4);
            break;
        }
        out->reset();
        EXPECT_EQ(this->sink.done(), round);
        const std::int64_t stopped = *out->positionFrames();
        this->backend.sleep(20);
        EXPECT_EQ(out->positionFrames(), stopped);
        out->reset();
        EXPECT_EQ(this->sink.done(), round);
        // What was heard is the buffer from its first byte, and only what the position says.
        if (const auto* played = TypeParam::played(*out)) {
            ASSERT_LT(stopped, 4096);
            const std::vector<std::uint8_t> heard(
                played->begin() + static_cast<std::ptrdiff_t>(playedBefore), played->end());
            EXPECT_EQ(heard,
                      std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + stopped * 2));
        }
    }
}

TYPED_TEST(SoundContract, BothRefuseMisuseAndFormatsTheyCannotHandleAndOpenAgainAfterClose) {
    auto out = this->backend.output();
    auto in = this->backend.input();
    std::vector<std::uint8_t> buffer(64);
    for (const PcmFormat bad :
         {PcmFormat{44100, 3, 16}, PcmFormat{44100, 2, 24}, PcmFormat{0, 1, 16},
          PcmFormat{8000, 0, 16}, PcmFormat{8000, 2, 12}}) {
        EXPECT_EQ(out->open(bad, this->sink), OpenFailed);
        EXPECT_EQ(in->open(bad, this->sink), OpenFailed);
    }
    expectRefusedWhileClosed(*out, *in, buffer);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(out->open(PcmFormat{8000, 1, 16}, this->sink), Ok);
        EXPECT_EQ(out->open(PcmFormat{8000, 1, 16}, this->sink), OpenFailed);
        EXPECT_EQ(out->write(), WriteFailed); // not prepared
        EXPECT_EQ(out->prepare(std::span(buffer).first(1), 1), PrepareFailed);
        EXPECT_EQ(out->prepare(buffer, 0), PrepareFailed);
        ASSERT_EQ(out->prepare(buffer, 1), Ok);
        EXPECT_EQ(out->prepare(buffer, 1), PrepareFailed); // already prepared
        out->unprepare();
        EXPECT_EQ(out->write(), WriteFailed);
        out->close();
        EXPECT_FALSE(out->isOpen());
    }
    EXPECT_EQ(this->sink.done(), 0);
    ASSERT_EQ(in->open(PcmFormat{8000, 2, 16}, this->sink), Ok);
    EXPECT_EQ(in->open(PcmFormat{8000, 2, 16}, this->sink), OpenFailed);
    EXPECT_EQ(in->addBuffer(std::span(buffer).first(3)), PrepareFailed);
    for (int i = 0; i < SoundInput::MAX_QUEUED_BUFFERS; ++i) {
        ASSERT_EQ(in->addBuffer(buffer), Ok);
    }
    EXPECT_EQ(in->addBuffer(buffer), PrepareFailed); // queue full
    ASSERT_EQ(in->start(), Ok);
    in->close();
    EXPECT_EQ(this->sink.buffers().size(),
              static_cast<std::size_t>(SoundInput::MAX_QUEUED_BUFFERS));
    EXPECT_EQ(this->sink.closed(), 1);

    // A device destroyed while it plays stops without reporting: the sink may be gone.
    const std::vector<std::uint8_t> sound(1024);
    ASSERT_EQ(out->open(PcmFormat{8000, 1, 16}, this->sink), Ok);
    ASSERT_EQ(out->prepare(sound, 1 << 30), Ok);
    ASSERT_EQ(out->write(), Ok);
    ASSERT_TRUE(this->waitFor([&] { return out->positionFrames().value_or(0) > 0; }));
    out = nullptr;
    this->backend.sleep(20);
    EXPECT_EQ(this->sink.done(), 0);
}

// ---------------------------------------------------------------------------------------------
// Input

TYPED_TEST(SoundContract, InputFillsQueuedBuffersInOrderWithTheSoundHeardAndLosesTheRest) {
    auto in = this->backend.input();
    const PcmFormat format{INPUT_RATE, 2, 16};
    // Odd sizes: only whole frames are filled, the rest of each buffer is left alone.
    std::vector<std::uint8_t> first(4 * 1000 + 3, 0x55), second(4 * 500 + 1, 0x55);
    ASSERT_EQ(in->open(format, this->sink), Ok);
    ASSERT_EQ(in->addBuffer(first), Ok);
    ASSERT_EQ(in->addBuffer(second), Ok);
    EXPECT_FALSE(in->positionFrames().has_value());
    ASSERT_EQ(in->start(), Ok);
    EXPECT_EQ(in->start(), WriteFailed); // already capturing
    // The frames below the position are in the buffer, readable while it is being filled.
    ASSERT_TRUE(this->waitFor([&] { return in->positionFrames() >= 100; }));
    const auto below =
        static_cast<std::size_t>(std::min<std::int64_t>(*in->positionFrames(), 1000));
    for (std::size_t i = 0; i < below; ++i) {
        ASSERT_FALSE(std::all_of(first.begin() + static_cast<std::ptrdiff_t>(4 * i),
                                 first.begin() + static_cast<std::ptrdiff_t>(4 * i + 4),
                                 [](std::uint8_t b) { return b == 0x55; }))
            << "frame " << i;
    }
    ASSERT_TRUE(this->waitFor([&] { return this->sink.buffers().size() >= 2; }))
        << "buffers not filled";
    // Both buffers are back: nothing more is stored however long the stream runs, and the
    // sound that found no buffer is counted as lost.
    ASSERT_TRUE(this->waitFor([&] { return in->positionFrames() == 1500; }));
    this->backend.sleep(50);
    EXPECT_EQ(in->positionFrames(), 1500);
    EXPECT_GE(in->overruns(), 1);
    EXPECT_EQ(this->sink.buffers(),
              (std::vector<Sinks::Done>{{first.data(), 4000}, {second.data(), 2000}}));
    EXPECT_EQ(first.back(), 0x55);
    EXPECT_EQ(second.back(), 0x55);
    // The sound heard, in both channels alike (the sine's frequency from the real device is
    // scan_portaudio_test's, from its recording).
    for (std::size_t i = 0; i < 500; ++i) {
        ASSERT_EQ(sampleAt(second.data(), i, 2), sampleAt(second.data() + 2, i, 2)) << i;
    }
    if constexpr (TypeParam::VIRTUAL) {
        for (std::size_t i = 0; i < 1000; ++i) {
            const double expected = 0.5 * 32767.0 *
                                    std::sin(2.0 * std::numbers::pi * SINE_HZ *
                                             static_cast<double>(i) / format.sampleRate);
            ASSERT_NEAR(sampleAt(first.data(), i, 2), expected, 0.5001) << "frame " << i;
        }
    }

    // Requeued, stopped, then closed: every buffer comes back, in order, then the close, before
    // close() returns; the bytes returned are the frames the position counts.
    ASSERT_EQ(in->addBuffer(first), Ok);
    ASSERT_EQ(in->addBuffer(second), Ok);
    in->stop();
    const std::int64_t stopped = *in->positionFrames();
    in->close();
    const auto back = this->sink.buffers();
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(std::pair(back[2].first, back[3].first), std::pair(first.data(), second.data()));
    EXPECT_EQ(this->sink.bytesBack(), static_cast<std::size_t>(stopped) * 4);
    EXPECT_EQ(this->sink.closed(), 1);
    EXPECT_FALSE(in->isOpen());
    in->close();
    EXPECT_EQ(this->sink.closed(), 1);
}

TYPED_TEST(SoundContract, InputResetReturnsEveryQueuedBufferInOrderAndThePositionCountsOn) {
    auto in = this->backend.input();
    const PcmFormat format{INPUT_RATE, 2, 16};
    std::vector<std::uint8_t> a(4 * 800), b(4 * 800), c(4 * 800);
    ASSERT_EQ(in->open(format, this->sink), Ok);
    for (auto* buf : {&a, &b, &c}) {
        ASSERT_EQ(in->addBuffer(*buf), Ok);
    }
    ASSERT_EQ(in->start(), Ok);
    ASSERT_TRUE(this->waitFor([&] { return !this->sink.buffers().empty(); }));
    this->backend.sleep(3);
    in->reset();
    const auto back = this->sink.buffers();
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0], (Sinks::Done{a.data(), a.size()}));
    EXPECT_EQ(std::pair(back[1].first, back[2].first), std::pair(b.data(), c.data()));
    const std::int64_t before = *in->positionFrames();
    EXPECT_EQ(this->sink.bytesBack(), static_cast<std::size_t>(before) * 4);
    EXPECT_EQ(this->sink.closed(), 0);

    // Queued again and restarted, then closed while filling: returned, then closed.
    ASSERT_EQ(in->addBuffer(a), Ok);
    ASSERT_EQ(in->start(), Ok);
    ASSERT_TRUE(this->waitFor([&] { return in->positionFrames() > before; }));
    in->close();
    ASSERT_EQ(this->sink.buffers().size(), 4u);
    EXPECT_EQ(this->sink.buffers()[3].first, a.data());
    EXPECT_EQ(this->sink.bytesBack(), static_cast<std::size_t>(*in->positionFrames()) * 4);
}

// ---------------------------------------------------------------------------------------------
// No device

// PortAudio where ALSA's default card does not exist (the simulated devices that cannot open
// are platform_test's SimulatedDevices.InjectedFailuresAreReportedAsResults).
TEST(SoundContractWithoutDevice, OpeningFailsQuietlyAndNothingIsLeftRunning) {
    if (!missingDeviceRun()) {
        GTEST_SKIP() << "checked by app.sound_contract_test_missing_device";
    }
    const std::size_t threadsBefore = threadCount();
    auto out = makePortAudioOutput();
    auto in = makePortAudioInput();
    Sinks sink;
    std::vector<std::uint8_t> buffer(256);

    // Nothing that PortAudio, ALSA or JACK would say while failing reaches the error stream
    // (captured at its file descriptor).
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(out->open(PcmFormat{44100, 2, 16}, sink), OpenFailed);
    EXPECT_EQ(in->open(PcmFormat{44100, 2, 16}, sink), OpenFailed);
    EXPECT_EQ(out->open(PcmFormat{11025, 1, 8}, sink), OpenFailed);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    // The rest of the sequence fails too, without reporting anything.
    expectRefusedWhileClosed(*out, *in, buffer);
    out->reset();
    out->close();
    in->reset();
    in->close();
    EXPECT_EQ(sink.done() + sink.closed(), 0);
    EXPECT_TRUE(sink.buffers().empty());
    out.reset();
    in.reset();
    EXPECT_LE(threadCount(), threadsBefore);
}

} // namespace
} // namespace korv
