#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace korv {

// The program's millisecond clock. Real-time loops pace themselves with it, so tests can swap in
// a virtual one and run them deterministically.
class Clock {
  public:
    virtual ~Clock() = default;

    // Milliseconds since an arbitrary fixed origin; never goes backwards. Not const: reading a
    // virtual clock may move it on (see VirtualClock::setAdvanceOnRead).
    [[nodiscard]] virtual std::int64_t nowMs() = 0;
    // Returns after at least `ms` milliseconds; zero or negative returns at once.
    virtual void sleep(std::int64_t ms) = 0;
};

class RealClock final : public Clock {
  public:
    [[nodiscard]] std::int64_t nowMs() override;
    void sleep(std::int64_t ms) override;
};

// Time moves only when the program sleeps (or reads the clock, when asked to). Each millisecond
// passed calls every listener in registration order with the new time, so simulated devices
// consume and produce sound in step with the program. Single-threaded, like the program.
class VirtualClock final : public Clock {
  public:
    using Listener = std::function<void(std::int64_t nowMs)>;
    using ListenerId = int;

    explicit VirtualClock(std::int64_t startMs = 0) : now_(startMs) {}

    [[nodiscard]] std::int64_t nowMs() override;
    void sleep(std::int64_t ms) override;
    // The time now, without the advance on read.
    [[nodiscard]] std::int64_t currentMs() const { return now_; }

    // Moves time on by `ms` one millisecond at a time, calling the listeners at each one.
    void advance(std::int64_t ms);
    // Every nowMs() call first advances by `ms`, so loops that poll the clock without sleeping
    // still see time pass. 0 (the default) leaves reads without effect.
    void setAdvanceOnRead(std::int64_t ms) { advanceOnRead_ = ms; }

    // Listeners may add or remove listeners (also themselves) while being called.
    ListenerId addListener(Listener listener);
    void removeListener(ListenerId id);

  private:
    struct Entry {
        ListenerId id;
        Listener listener;
    };
    std::int64_t now_;
    std::int64_t advanceOnRead_ = 0;
    ListenerId nextId_ = 1;
    std::vector<Entry> listeners_;
};

} // namespace korv
