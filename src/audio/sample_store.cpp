#include "audio/sample_store.h"

#include <new>
#include <utility>

namespace korv {

std::optional<SampleStore> SampleStore::allocate(std::size_t dataBytes,
                                                 AllocationCounter& counter) {
    if (dataBytes > static_cast<std::size_t>(PTRDIFF_MAX) - WAVE_HEADER_SIZE) {
        return std::nullopt;
    }
    const std::size_t size = WAVE_HEADER_SIZE + dataBytes;
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size]());
    if (!data) {
        return std::nullopt;
    }
    return SampleStore(std::move(data), size, counter);
}

bool SampleStore::allocatePrecise() {
    try {
        precise_.assign(heldBytes() / 2, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

SampleStore::SampleStore(std::unique_ptr<std::uint8_t[]> data, std::size_t size,
                         AllocationCounter& counter)
    : data_(std::move(data)), size_(size), counter_(&counter) {
    counter_->allocated();
}

SampleStore::SampleStore(SampleStore&& other) noexcept
    : data_(std::move(other.data_)), size_(std::exchange(other.size_, 0)),
      precise_(std::move(other.precise_)), counter_(std::exchange(other.counter_, nullptr)),
      waveDataAvailable_(std::exchange(other.waveDataAvailable_, false)) {}

SampleStore& SampleStore::operator=(SampleStore&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::move(other.data_);
        size_ = std::exchange(other.size_, 0);
        precise_ = std::move(other.precise_);
        counter_ = std::exchange(other.counter_, nullptr);
        waveDataAvailable_ = std::exchange(other.waveDataAvailable_, false);
    }
    return *this;
}

SampleStore::~SampleStore() {
    release();
}

void SampleStore::release() {
    if (data_ && counter_ != nullptr) {
        counter_->released();
    }
    data_.reset();
    size_ = 0;
    std::vector<float>().swap(precise_);
    counter_ = nullptr;
}

} // namespace korv
