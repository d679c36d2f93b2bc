#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <semaphore>
#include <thread>

namespace korv {

// What a device callback has to tell the program.
struct DeviceEvent {
    enum class Kind : std::uint8_t { OutputDone, BufferDone };
    Kind kind = Kind::OutputDone;
    std::uint8_t* data = nullptr; // BufferDone: the buffer as queued
    std::size_t size = 0;
    std::size_t bytesRecorded = 0;
};

// Carries events from a real-time callback to a thread of its own, which hands them, in order,
// to the device's handler. post() is wait-free and takes no lock, so the callback never blocks on
// the program; the handler runs outside the callback and may take locks (posting a Qt event).
//
// Threads: post() and signalDone() from any thread, several at once (a stream's thread ending
// while the next one starts); start(), stopAndDrain() and the destructor from the owner's thread
// only. The handler runs on the notifier's thread, or on the owner's inside stopAndDrain(), never
// twice at once; it sees each accepted event once, in the order the posts took their places (so
// in order per producer). A refused post() is lost and said so by its result; an accepted one
// is delivered before stopAndDrain() returns, and the stopped notifier may start again.
class DeviceNotifier {
  public:
    static constexpr std::size_t CAPACITY = 32;
    using Handler = std::function<void(const DeviceEvent&)>;

    explicit DeviceNotifier(Handler handler);
    ~DeviceNotifier() { stopAndDrain(); }
    DeviceNotifier(const DeviceNotifier&) = delete;
    DeviceNotifier& operator=(const DeviceNotifier&) = delete;

    // Starts the delivery thread (no effect when running). Call before the callback may post.
    void start();
    // From a device thread. False when the ring is full and the event lost;
    // the devices post far fewer events than CAPACITY between two deliveries.
    bool post(const DeviceEvent& event) noexcept;
    // Asks for one OutputDone to be delivered; repeated signals before the delivery count once.
    // Touches atomics only, so it suits any thread, even one that is being torn down.
    void signalDone() noexcept;
    // Ends the delivery thread, then hands what is still queued to the handler on the calling
    // thread. Call only once the producer can no longer post (its stream stopped).
    void stopAndDrain();

  private:
    void run();
    void drain();

    // A bounded queue whose cells carry sequence numbers: a cell is free for the producer at
    // position p when its number is p, and holds an event for the consumer when it is p + 1.
    // Producers claim a position first, so even two producers (a stream thread ending while a
    // new one starts) cannot write the same cell.
    struct Cell {
        std::atomic<std::size_t> sequence{0};
        DeviceEvent event;
    };

    Handler handler_;
    std::array<Cell, CAPACITY> cells_{};
    std::atomic<std::size_t> head_{0}; // next position to claim
    std::size_t tail_ = 0;             // next position to deliver: the consumer's alone
    std::counting_semaphore<1 << 20> wake_{0};
    std::atomic<bool> doneSignalled_{false};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace korv
