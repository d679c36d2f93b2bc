#pragma once
// openAllocations, the count of memory blocks the program holds (images, sample stores,
// buffers). The count itself is the core's AllocationCounter; this is the process's one
// counter, and handles that count a block up when it is made and down when it is released,
// so the count cannot drift. A count other than zero at close means a block was kept too long.
//
// Free of Qt. Everything runs on the GUI thread.

#include "audio/sample_store.h"

#include <utility>

namespace korv {

// The one counter of the run: hand it to SampleStore::allocate and to every counted block.
[[nodiscard]] inline AllocationCounter& processAllocations() {
    static AllocationCounter counter;
    return counter;
}

// The number of blocks currently held in the process's counter.
[[nodiscard]] inline int openAllocations() {
    return processAllocations().openAllocations();
}

class AllocationHandle {
  public:
    // An empty handle counts nothing.
    AllocationHandle() = default;
    // The only way to count a block: AllocationHandle::acquire().
    [[nodiscard]] static AllocationHandle
    acquire(AllocationCounter& counter = processAllocations()) {
        return AllocationHandle(counter);
    }

    AllocationHandle(const AllocationHandle&) = delete;
    AllocationHandle& operator=(const AllocationHandle&) = delete;
    AllocationHandle(AllocationHandle&& other) noexcept
        : counter_(std::exchange(other.counter_, nullptr)) {}
    AllocationHandle& operator=(AllocationHandle&& other) noexcept {
        if (this != &other) {
            release();
            counter_ = std::exchange(other.counter_, nullptr);
        }
        return *this;
    }
    ~AllocationHandle() { release(); }

    [[nodiscard]] bool held() const { return counter_ != nullptr; }
    // Counts the block down now; later releases do nothing.
    void release() {
        if (counter_ != nullptr) {
            std::exchange(counter_, nullptr)->released();
        }
    }

  private:
    explicit AllocationHandle(AllocationCounter& counter) : counter_(&counter) {
        counter.allocated();
    }
    AllocationCounter* counter_ = nullptr;
};

// A value (an image, a store, a buffer) held together with its count. Empty after reset(),
// after being moved from, or when default-made.
template <class T> class CountedBlock {
  public:
    CountedBlock() = default;
    explicit CountedBlock(T value, AllocationCounter& counter = processAllocations())
        : value_(std::move(value)), handle_(AllocationHandle::acquire(counter)) {}

    CountedBlock(const CountedBlock&) = delete;
    CountedBlock& operator=(const CountedBlock&) = delete;
    CountedBlock(CountedBlock&& other) noexcept
        : value_(std::exchange(other.value_, T{})), handle_(std::move(other.handle_)) {}
    CountedBlock& operator=(CountedBlock&& other) noexcept {
        if (this != &other) {
            value_ = std::exchange(other.value_, T{});
            handle_ = std::move(other.handle_);
        }
        return *this;
    }
    ~CountedBlock() = default;

    [[nodiscard]] bool held() const { return handle_.held(); }
    explicit operator bool() const { return held(); }

    // Frees the value and counts it down.
    void reset() {
        value_ = T{};
        handle_.release();
    }

    T& operator*() { return value_; }
    const T& operator*() const { return value_; }
    T* operator->() { return &value_; }
    const T* operator->() const { return &value_; }
    T& get() { return value_; }
    const T& get() const { return value_; }

  private:
    T value_{};
    AllocationHandle handle_;
};

} // namespace korv
