#pragma once
// The distribution of a level sampled over a signal, held in 0.01 dB bins (each with the
// mean of its samples) so that a day's samples take the same memory as a second's.

#include <cstdint>
#include <vector>

namespace korv::meter {

class LevelHistogram {
  public:
    LevelHistogram();
    void add(double db);
    [[nodiscard]] std::int64_t count() const { return count_; }
    // The level exceeded for `percent` of the samples: ranks in ascending order at
    // (1 - percent / 100) × (count - 1), linearly interpolated between the two nearest,
    // each rank's level the mean of its bin. The floor when empty.
    [[nodiscard]] double exceeded(double percent) const;

  private:
    [[nodiscard]] double rankLevel(std::int64_t rank) const;
    std::vector<std::int64_t> counts_;
    std::vector<double> sums_;
    std::int64_t count_ = 0;
};

} // namespace korv::meter
