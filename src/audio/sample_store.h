#pragma once
// The held stretch of samples: one memory block of a 46-byte wave header followed by the
// sample bytes, so it can be played or written out as it stands.

#include "audio/wave_header.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace korv {

// openAllocations: the number of memory blocks the program holds. The program owns one
// counter for the whole run and hands it to everything that allocates such a block; a
// non-zero count at close gives a beep. Only the user-interface thread touches it.
class AllocationCounter {
  public:
    void allocated() { ++open_; }
    void released() { --open_; }
    [[nodiscard]] int openAllocations() const { return open_; }

  private:
    int open_ = 0;
};

// Move-only; a moved-from store holds nothing and may only be assigned to or destroyed.
class SampleStore {
  public:
    // A block of WAVE_HEADER_SIZE + dataBytes zeroed bytes, counted in `counter` (which must
    // outlive the store); nothing when the memory cannot be had.
    [[nodiscard]] static std::optional<SampleStore> allocate(std::size_t dataBytes,
                                                             AllocationCounter& counter);

    SampleStore(SampleStore&& other) noexcept;
    SampleStore& operator=(SampleStore&& other) noexcept;
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;
    ~SampleStore();

    // The whole block, header first.
    [[nodiscard]] std::span<std::uint8_t> block() { return {data_.get(), size_}; }
    [[nodiscard]] std::span<const std::uint8_t> block() const { return {data_.get(), size_}; }
    [[nodiscard]] WaveHeaderBytes header() {
        return WaveHeaderBytes(data_.get(), WAVE_HEADER_SIZE);
    }
    [[nodiscard]] ConstWaveHeaderBytes header() const {
        return ConstWaveHeaderBytes(data_.get(), WAVE_HEADER_SIZE);
    }
    [[nodiscard]] std::span<std::uint8_t> samples() {
        return data_ ? block().subspan(WAVE_HEADER_SIZE) : std::span<std::uint8_t>{};
    }
    [[nodiscard]] std::span<const std::uint8_t> samples() const {
        return data_ ? block().subspan(WAVE_HEADER_SIZE) : std::span<const std::uint8_t>{};
    }

    // The exact values of the held 16-bit samples (one per sample, in 16-bit units) when the
    // file's samples are wider than 16 bits; empty when the bytes are the samples themselves.
    // The analysis reads these, the sound devices and Save Wave the bytes.
    [[nodiscard]] bool allocatePrecise();
    [[nodiscard]] std::span<float> precise() { return precise_; }
    [[nodiscard]] std::span<const float> precise() const { return precise_; }
    // The exact values of the samples in the first `bytes` held bytes (empty when none).
    [[nodiscard]] std::span<const float> precisePart(std::size_t bytes) const {
        return precise_.empty()
                   ? std::span<const float>{}
                   : std::span<const float>(precise_).first(std::min(bytes / 2, precise_.size()));
    }

    // n, the sample bytes held.
    [[nodiscard]] std::size_t heldBytes() const { return data_ ? size_ - WAVE_HEADER_SIZE : 0; }

    // Set when the store was filled from a file; cleared when a capture closes. Save Wave
    // does nothing without it.
    [[nodiscard]] bool waveDataAvailable() const { return waveDataAvailable_; }
    void setWaveDataAvailable(bool available) { waveDataAvailable_ = available; }

  private:
    SampleStore(std::unique_ptr<std::uint8_t[]> data, std::size_t size, AllocationCounter& counter);
    void release();

    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
    std::vector<float> precise_;
    AllocationCounter* counter_ = nullptr;
    bool waveDataAvailable_ = false;
};

} // namespace korv
