#include "meter/side_thread.h"

#include <utility>

namespace korv::meter {

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
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

void SideThread::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        // A task still running when the owner goes is finished first.
        changed_.wait(lock, [this] { return stop_ || busy_; });
        if (!busy_)
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
        changed_.notify_all();
    }
}

} // namespace korv::meter
