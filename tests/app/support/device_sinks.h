#pragma once
// What the sound devices report to their sinks, noted for the tests, and the threads of this
// process (a device that is closed has ended its callback and notifier threads).

#include "platform/sound_input.h"
#include "platform/sound_output.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <numeric>
#include <span>
#include <utility>
#include <vector>

namespace korv::test {

// The sinks are called from the devices' threads.
class Sinks : public SoundOutputSink, public SoundInputSink {
  public:
    using Done = std::pair<std::uint8_t*, std::size_t>;
    void outputDone() override { ++done_; }
    void bufferDone(std::span<std::uint8_t> buffer, std::size_t bytes) override {
        const std::lock_guard lock(mutex_);
        buffers_.emplace_back(buffer.data(), bytes);
    }
    void inputClosed() override { ++closed_; }
    int done() const { return done_.load(); }
    int closed() const { return closed_.load(); }
    std::vector<Done> buffers() {
        const std::lock_guard lock(mutex_);
        return buffers_;
    }
    // Bytes of every buffer returned so far.
    std::size_t bytesBack() {
        const std::vector<Done> back = buffers();
        return std::accumulate(back.begin(), back.end(), std::size_t{0},
                               [](std::size_t sum, const Done& d) { return sum + d.second; });
    }

  private:
    std::atomic<int> done_{0};
    std::atomic<int> closed_{0};
    std::mutex mutex_;
    std::vector<Done> buffers_;
};

inline std::size_t threadCount() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                      std::filesystem::directory_iterator{}));
}

} // namespace korv::test
