#include "platform/sound_notifier.h"

namespace korv {

void DeviceNotifier::start() {
    if (thread_.joinable()) {
        return;
    }
    stopping_.store(false);
    thread_ = std::thread([this] { run(); });
}

bool DeviceNotifier::post(const DeviceEvent& event) noexcept {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) >= CAPACITY) {
        return false;
    }
    ring_[head % CAPACITY] = event;
    head_.store(head + 1, std::memory_order_release);
    wake_.release();
    return true;
}

void DeviceNotifier::stopAndDrain() {
    if (thread_.joinable()) {
        stopping_.store(true);
        wake_.release();
        thread_.join();
    }
    // Wake-ups of events already taken in one go must not pile up across restarts.
    while (wake_.try_acquire()) {
    }
    drain();
}

void DeviceNotifier::run() {
    for (;;) {
        wake_.acquire();
        drain();
        if (stopping_.load()) {
            return;
        }
    }
}

void DeviceNotifier::drain() {
    std::size_t tail = tail_.load(std::memory_order_relaxed);
    while (tail != head_.load(std::memory_order_acquire)) {
        const DeviceEvent event = ring_[tail % CAPACITY];
        tail_.store(++tail, std::memory_order_release);
        handler_(event);
    }
}

} // namespace korv
