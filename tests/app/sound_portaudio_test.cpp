// The PortAudio devices on ALSA's null plugin: a default device that needs no sound card.
#include "platform/portaudio_input.h"
#include "platform/portaudio_output.h"

#include "support/alsa_config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace korv {
namespace {

namespace fs = std::filesystem;

const auto* const alsaNull = ::testing::AddGlobalTestEnvironment(
    new test::AlsaConfig("korv-alsa-null", test::ALSA_NULL_DEVICE));

// A bounded wait for something a device thread does: a failure, never a hang.
constexpr auto DEVICE_TIMEOUT = std::chrono::seconds(10);

class ThreadSafeSinks : public SoundOutputSink, public SoundInputSink {
  public:
    void outputDone() override {
        change([&] { ++done_; });
    }
    void bufferDone(std::span<std::uint8_t> buffer, std::size_t bytes) override {
        change([&] { buffers_.emplace_back(buffer.data(), bytes); });
    }
    void inputClosed() override {
        change([&] { ++closed_; });
    }

    bool waitFor(const std::function<bool()>& ready) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, DEVICE_TIMEOUT, ready);
    }
    int done() {
        std::lock_guard lock(mutex_);
        return done_;
    }
    int closed() {
        std::lock_guard lock(mutex_);
        return closed_;
    }
    std::vector<std::pair<std::uint8_t*, std::size_t>> buffers() {
        std::lock_guard lock(mutex_);
        return buffers_;
    }
    // For waitFor predicates, which run under the lock.
    int doneLocked() const { return done_; }
    std::size_t buffersLocked() const { return buffers_.size(); }

  private:
    void change(const std::function<void()>& f) {
        {
            std::lock_guard lock(mutex_);
            f();
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    int done_ = 0;
    int closed_ = 0;
    std::vector<std::pair<std::uint8_t*, std::size_t>> buffers_;
};

// Threads of this process: a device that is closed has ended its callback and notifier threads.
std::size_t threadCount() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator{}));
}

// Waits until the position stops moving (the stream's thread has let go), bounded.
bool waitUntil(const std::function<bool()>& ready) {
    const auto end = std::chrono::steady_clock::now() + DEVICE_TIMEOUT;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(PortAudioOutput, PlaysEveryLoopOfTheBufferReportsCompletionAndReleasesAll) {
    {
        // PortAudio starts its own helpers on first use; count threads after that.
        auto warmUp = makePortAudioOutput();
        ThreadSafeSinks sink;
        ASSERT_EQ(warmUp->open(PcmFormat{44100, 2, 16}, sink), SoundResult::Ok);
        warmUp->close();
    }
    const std::size_t threadsBefore = threadCount();
    for (const PcmFormat format : {PcmFormat{44100, 2, 16}, PcmFormat{11025, 1, 8},
                                   PcmFormat{48000, 1, 16}, PcmFormat{5513, 2, 8}}) {
        SCOPED_TRACE(::testing::Message() << format.sampleRate << " Hz " << format.channels << "ch "
                                          << format.bitsPerSample);
        auto out = makePortAudioOutput();
        ThreadSafeSinks sink;
        const std::vector<std::uint8_t> buffer(2048 * static_cast<std::size_t>(format.blockAlign()),
                                               silenceByte(format));
        ASSERT_EQ(out->open(format, sink), SoundResult::Ok);
        EXPECT_TRUE(out->isOpen());
        ASSERT_EQ(out->prepare(buffer, 4), SoundResult::Ok);
        EXPECT_FALSE(out->positionFrames().has_value());
        ASSERT_EQ(out->write(), SoundResult::Ok);
        ASSERT_TRUE(sink.waitFor([&] { return sink.doneLocked() > 0; })) << "no completion";
        EXPECT_EQ(out->positionFrames(), 4 * 2048);
        out->reset(); // the program resets after the completion: nothing more is reported
        out->unprepare();
        out->close();
        EXPECT_FALSE(out->isOpen());
        EXPECT_EQ(sink.done(), 1);
    }
    EXPECT_EQ(threadCount(), threadsBefore);
}

TEST(PortAudioOutput, ResetStopsAtOnceAndReportsBeforeReturning) {
    auto out = makePortAudioOutput();
    ThreadSafeSinks sink;
    const PcmFormat format{22050, 1, 16};
    const std::vector<std::uint8_t> buffer(4096 * 2);
    ASSERT_EQ(out->open(format, sink), SoundResult::Ok);
    ASSERT_EQ(out->prepare(buffer, 1 << 30), SoundResult::Ok);
    for (int round = 1; round <= 3; ++round) {
        ASSERT_EQ(out->write(), SoundResult::Ok);
        EXPECT_EQ(out->write(), SoundResult::WriteFailed);
        ASSERT_TRUE(waitUntil([&] { return out->positionFrames().value_or(0) > 8192; }));
        out->reset();
        EXPECT_EQ(sink.done(), round);
        const std::int64_t stopped = *out->positionFrames();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(out->positionFrames(), stopped);
        out->reset();
        EXPECT_EQ(sink.done(), round);
    }
    out->close();
    EXPECT_EQ(sink.done(), 3);
}

TEST(PortAudioOutput, RefusesWhatItCannotPlayAndOpensAgainAfterClose) {
    auto out = makePortAudioOutput();
    ThreadSafeSinks sink;
    const std::vector<std::uint8_t> buffer(64);
    EXPECT_EQ(out->open(PcmFormat{44100, 3, 16}, sink), SoundResult::OpenFailed);
    EXPECT_EQ(out->open(PcmFormat{44100, 2, 24}, sink), SoundResult::OpenFailed);
    EXPECT_FALSE(out->isOpen());
    EXPECT_EQ(out->prepare(buffer, 1), SoundResult::PrepareFailed);
    EXPECT_EQ(out->write(), SoundResult::WriteFailed);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(out->open(PcmFormat{8000, 1, 8}, sink), SoundResult::Ok);
        EXPECT_EQ(out->open(PcmFormat{8000, 1, 8}, sink), SoundResult::OpenFailed);
        EXPECT_EQ(out->prepare(std::span(buffer).first(0), 1), SoundResult::PrepareFailed);
        EXPECT_EQ(out->prepare(buffer, 0), SoundResult::PrepareFailed);
        out->close();
        EXPECT_FALSE(out->isOpen());
    }
    EXPECT_EQ(sink.done(), 0);
}

TEST(PortAudioOutput, DestroyingAPlayingDeviceStopsItWithoutReporting) {
    ThreadSafeSinks sink;
    const std::vector<std::uint8_t> buffer(1024);
    {
        auto out = makePortAudioOutput();
        ASSERT_EQ(out->open(PcmFormat{8000, 1, 16}, sink), SoundResult::Ok);
        ASSERT_EQ(out->prepare(buffer, 1 << 30), SoundResult::Ok);
        ASSERT_EQ(out->write(), SoundResult::Ok);
        ASSERT_TRUE(waitUntil([&] { return out->positionFrames().value_or(0) > 0; }));
    }
    EXPECT_EQ(sink.done(), 0);
}

TEST(PortAudioInput, FillsQueuedBuffersInOrderAndReportsThemAndTheClose) {
    auto in = makePortAudioInput();
    ThreadSafeSinks sink;
    const PcmFormat format{8000, 2, 16};
    // Odd sizes: only whole frames are filled, the rest of each buffer is left alone.
    std::vector<std::uint8_t> first(4 * 1000 + 3, 0x55), second(4 * 500 + 1, 0x55);
    ASSERT_EQ(in->open(format, sink), SoundResult::Ok);
    ASSERT_EQ(in->addBuffer(first), SoundResult::Ok);
    ASSERT_EQ(in->addBuffer(second), SoundResult::Ok);
    EXPECT_FALSE(in->positionFrames().has_value());
    ASSERT_EQ(in->start(), SoundResult::Ok);
    EXPECT_EQ(in->start(), SoundResult::WriteFailed);
    ASSERT_TRUE(sink.waitFor([&] { return sink.buffersLocked() >= 2; })) << "buffers not filled";
    // Both buffers are back: nothing more is stored however long the stream runs.
    ASSERT_TRUE(waitUntil([&] { return in->positionFrames() == 1500; }));
    using Done = std::pair<std::uint8_t*, std::size_t>;
    EXPECT_EQ(sink.buffers(), (std::vector<Done>{{first.data(), 4000}, {second.data(), 2000}}));
    EXPECT_EQ(first.back(), 0x55);
    EXPECT_EQ(second.back(), 0x55);
    EXPECT_NE(first[0], 0x55); // the null device captures silence

    // Requeued, stopped while filling or not, then closed: every buffer comes back, then the
    // close, before close() returns.
    ASSERT_EQ(in->addBuffer(first), SoundResult::Ok);
    ASSERT_EQ(in->addBuffer(second), SoundResult::Ok);
    in->stop();
    in->close();
    const auto back = sink.buffers();
    ASSERT_GE(back.size(), 4u);
    EXPECT_EQ(back[back.size() - 2].first, first.data());
    EXPECT_EQ(back[back.size() - 1].first, second.data());
    EXPECT_EQ(sink.closed(), 1);
    EXPECT_FALSE(in->isOpen());
    in->close();
    EXPECT_EQ(sink.closed(), 1);
}

TEST(PortAudioInput, RefusesWhatItCannotCapture) {
    auto in = makePortAudioInput();
    ThreadSafeSinks sink;
    std::vector<std::uint8_t> buffer(64);
    EXPECT_EQ(in->open(PcmFormat{8000, 0, 16}, sink), SoundResult::OpenFailed);
    EXPECT_EQ(in->addBuffer(buffer), SoundResult::PrepareFailed);
    EXPECT_EQ(in->start(), SoundResult::WriteFailed);
    ASSERT_EQ(in->open(PcmFormat{8000, 1, 8}, sink), SoundResult::Ok);
    for (int i = 0; i < SoundInput::MAX_QUEUED_BUFFERS; ++i) {
        ASSERT_EQ(in->addBuffer(buffer), SoundResult::Ok);
    }
    EXPECT_EQ(in->addBuffer(buffer), SoundResult::PrepareFailed);
    in->close();
    EXPECT_EQ(sink.buffers().size(), static_cast<std::size_t>(SoundInput::MAX_QUEUED_BUFFERS));
    EXPECT_EQ(sink.closed(), 1);
}

} // namespace
} // namespace korv
