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
class DeviceNotifier {
  public:
    static constexpr std::size_t CAPACITY = 32;
    using Handler = std::function<void(const DeviceEvent&)>;

    explicit DeviceNotifier(Handler handler) : handler_(std::move(handler)) {}
    ~DeviceNotifier() { stopAndDrain(); }
    DeviceNotifier(const DeviceNotifier&) = delete;
    DeviceNotifier& operator=(const DeviceNotifier&) = delete;

    // Starts the delivery thread (no effect when running). Call before the callback may post.
    void start();
    // From the single producer (the callback). False when the ring is full and the event lost;
    // the devices post far fewer events than CAPACITY between two deliveries.
    bool post(const DeviceEvent& event) noexcept;
    // Ends the delivery thread, then hands what is still queued to the handler on the calling
    // thread. Call only once the producer can no longer post (its stream stopped).
    void stopAndDrain();

  private:
    void run();
    void drain();

    Handler handler_;
    std::array<DeviceEvent, CAPACITY> ring_{};
    std::atomic<std::size_t> head_{0}; // written by the producer
    std::atomic<std::size_t> tail_{0}; // written by the consumer
    std::counting_semaphore<1 << 20> wake_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace korv
