#include "meter/side_thread.h"

#include <chrono>
#include <utility>

namespace korv::meter {

namespace {

// How long a side spins on the other's flag before it sleeps.
constexpr std::chrono::microseconds kSpin{500};

// Whether `ready` came true while spinning. It yields between its looks, so that when both
// threads share one core (the other one busy) the one it waits for gets it.
template <class Ready> bool spinUntil(Ready ready) {
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (ready())
                return true;
        }
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::yield();
    }
}

} // namespace

SideThread::SideThread() : thread_([this] { loop(); }) {}

SideThread::~SideThread() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void SideThread::run(std::function<void()> task) {
    {
        const std::lock_guard lock(mutex_);
        task_ = std::move(task);
        busy_ = true;
    }
    changed_.notify_all();
}

void SideThread::wait() {
    if (!spinUntil([this] { return !busy_.load(std::memory_order_acquire); })) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
    }
    const std::lock_guard lock(mutex_);
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

void SideThread::loop() {
    for (;;) {
        const auto handed = [this] { return stop_ || busy_.load(std::memory_order_acquire); };
        std::unique_lock lock(mutex_, std::defer_lock);
        if (spinUntil(handed)) {
            lock.lock();
        } else {
            lock.lock();
            changed_.wait(lock, handed);
        }
        if (stop_)
            return;
        std::function<void()> task = std::exchange(task_, nullptr);
        lock.unlock();
        std::exception_ptr failure;
        try {
            task();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        failure_ = failure;
        busy_ = false;
        lock.unlock();
        changed_.notify_all();
    }
}

} // namespace korv::meter
