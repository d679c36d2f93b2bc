#include "meter/level_statistics.h"

#include "meter/levels.h"

#include <algorithm>
#include <cmath>

namespace korv::meter {
namespace {

constexpr double kBinDb = 0.01;
constexpr double kLowestDb = kSilenceFloorDbFs;
constexpr double kHighestDb = 100.0; // far over any sample format's full scale
const auto kBins = static_cast<std::size_t>((kHighestDb - kLowestDb) / kBinDb) + 1;

} // namespace

LevelHistogram::LevelHistogram() : counts_(kBins, 0), sums_(kBins, 0.0) {}

void LevelHistogram::add(double db) {
    const double clamped = std::clamp(db, kLowestDb, kHighestDb);
    const auto bin = std::min(kBins - 1, static_cast<std::size_t>((clamped - kLowestDb) / kBinDb));
    ++counts_[bin];
    sums_[bin] += clamped;
    ++count_;
}

double LevelHistogram::rankLevel(std::int64_t rank) const {
    std::int64_t seen = 0;
    for (std::size_t bin = 0; bin < kBins; ++bin) {
        seen += counts_[bin];
        if (rank < seen)
            return sums_[bin] / double(counts_[bin]);
    }
    return kLowestDb;
}

double LevelHistogram::exceeded(double percent) const {
    if (count_ == 0)
        return kSilenceFloorDbFs;
    const double position = (1.0 - percent / 100.0) * double(count_ - 1);
    const auto below = static_cast<std::int64_t>(std::floor(position));
    const double fraction = position - double(below);
    const double low = rankLevel(below);
    if (fraction == 0.0)
        return low;
    return low + fraction * (rankLevel(below + 1) - low);
}

} // namespace korv::meter
