#pragma once
// The count of memory blocks the program holds (images, sample stores, buffers). Every block
// lives in a handle that counts one up when it is made and one down when it is released, so
// the count cannot drift; a count other than zero at close means a block was kept too long.
//
// Header only and free of Qt, so the numeric core (the sample store) can hold counted blocks
// without linking the desktop layer. Everything runs on the GUI thread, so a plain int is
// enough; the count is atomic all the same because it costs nothing here.

#include <atomic>
#include <utility>

namespace korv {

namespace detail {
inline std::atomic<int> openAllocationCount{0};
} // namespace detail

// The number of blocks currently held.
[[nodiscard]] inline int openAllocations() {
    return detail::openAllocationCount.load();
}

// Counts one block for as long as it is held. Movable, not copyable: moving hands the count
// over, so a block is counted once whatever path it takes.
class AllocationHandle {
  public:
    // An empty handle counts nothing.
    AllocationHandle() = default;
    // The only way to count a block: AllocationHandle::acquire().
    [[nodiscard]] static AllocationHandle acquire() { return AllocationHandle(true); }

    AllocationHandle(const AllocationHandle&) = delete;
    AllocationHandle& operator=(const AllocationHandle&) = delete;
    AllocationHandle(AllocationHandle&& other) noexcept
        : held_(std::exchange(other.held_, false)) {}
    AllocationHandle& operator=(AllocationHandle&& other) noexcept {
        if (this != &other) {
            release();
            held_ = std::exchange(other.held_, false);
        }
        return *this;
    }
    ~AllocationHandle() { release(); }

    [[nodiscard]] bool held() const { return held_; }
    // Counts the block down now; later releases do nothing.
    void release() {
        if (held_) {
            held_ = false;
            detail::openAllocationCount.fetch_sub(1);
        }
    }

  private:
    explicit AllocationHandle(bool) : held_(true) { detail::openAllocationCount.fetch_add(1); }
    bool held_ = false;
};

// A value (an image, a store, a buffer) held together with its count. Empty after reset(),
// after being moved from, or when default-made.
template <class T> class CountedBlock {
  public:
    CountedBlock() = default;
    explicit CountedBlock(T value)
        : value_(std::move(value)), handle_(AllocationHandle::acquire()) {}

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
