#include "platform/sound_notifier.h"

namespace korv {

DeviceNotifier::DeviceNotifier(Handler handler) : handler_(std::move(handler)) {
    for (std::size_t i = 0; i < CAPACITY; ++i) {
        cells_[i].sequence.store(i, std::memory_order_relaxed);
    }
}

void DeviceNotifier::start() {
    if (thread_.joinable()) {
        return;
    }
    stopping_.store(false);
    thread_ = std::thread([this] { run(); });
}

bool DeviceNotifier::post(const DeviceEvent& event) noexcept {
    std::size_t pos = head_.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells_[pos % CAPACITY];
        const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
        if (seq == pos) {
            if (head_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                cell.event = event;
                cell.sequence.store(pos + 1, std::memory_order_release);
                wake_.release();
                return true;
            }
        } else if (seq < pos) {
            return false; // full: the consumer has not freed this cell yet
        } else {
            pos = head_.load(std::memory_order_relaxed);
        }
    }
}

void DeviceNotifier::signalDone() noexcept {
    doneSignalled_.store(true, std::memory_order_release);
    wake_.release();
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
    if (doneSignalled_.exchange(false, std::memory_order_acq_rel)) {
        handler_(DeviceEvent{DeviceEvent::Kind::OutputDone});
    }
    for (;;) {
        Cell& cell = cells_[tail_ % CAPACITY];
        if (cell.sequence.load(std::memory_order_acquire) != tail_ + 1) {
            return;
        }
        const DeviceEvent event = cell.event;
        cell.sequence.store(tail_ + CAPACITY, std::memory_order_release);
        ++tail_;
        handler_(event);
    }
}

} // namespace korv
