#include "analysis/frequency_axis.h"

#include "analysis/rounding.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace korv {
namespace {

// Far beyond any bin of any FFT size, small enough for int; keeps hostile limits defined.
constexpr double BIN_POSITION_LIMIT = 1e9;

int roundedBin(double position) {
    return static_cast<int>(
        roundHalfUp(std::clamp(position, -BIN_POSITION_LIMIT, BIN_POSITION_LIMIT)));
}

RowMap linearRowMap(double low, double high, std::int32_t rate, int fftSize, int rows) {
    const double binsPerRow = (high - low) * fftSize / (static_cast<double>(rate) * rows);
    const int span = roundedBin(binsPerRow);
    const double firstBin = low * fftSize / rate;

    RowMap map;
    map.binLimit = fftSize / 2;
    map.combine = span > 1 ? RowCombine::Maximum : RowCombine::Single;
    const int count = span > 1 ? span : 1;
    map.rows.reserve(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        const int start = roundedBin(r * binsPerRow + firstBin);
        // A bin below 0 reads bin 0; for a maximum that is the same as starting at 0.
        const int first = std::max(start, 0);
        const int last = std::max(start + (count - 1), 0);
        map.rows.push_back(RowBins{first, last - first + 1});
    }
    return map;
}

RowMap logRowMap(const FrequencyAxis& axis, std::int32_t rate, int fftSize) {
    std::vector<double> positions(static_cast<std::size_t>(axis.rows()));
    for (int r = 0; r < axis.rows(); ++r) {
        positions[static_cast<std::size_t>(r)] =
            std::min(fftSize * axis.hzAtRow(r) / rate, BIN_POSITION_LIMIT);
    }

    RowMap map;
    map.binLimit = fftSize / 2;
    map.combine = RowCombine::Mean;
    map.rows.resize(positions.size());
    for (std::size_t r = 0; r < positions.size(); ++r) {
        map.rows[r].firstBin = roundedBin(positions[r]);
        if (r + 1 < positions.size()) {
            const double gap = std::max(0.0, positions[r + 1] - positions[r] - 1.0);
            map.rows[r].binCount = roundedBin(gap) + 1;
        } else if (r > 0) {
            map.rows[r].binCount = map.rows[r - 1].binCount;
        }
    }
    return map;
}

} // namespace

const FrequencyScaleInfo& frequencyScaleInfo(FrequencyScale scale) {
    for (const FrequencyScaleInfo& info : FREQUENCY_SCALES) {
        if (info.scale == scale) {
            return info;
        }
    }
    return FREQUENCY_SCALES.front();
}

const std::array<int, LOG_TICKS_PER_DECADE * LOG_TICK_DECADES>& logTickHz() {
    static const auto ticks = [] {
        constexpr std::array<int, LOG_TICKS_PER_DECADE> mantissas = {10, 16, 25, 40, 63};
        std::array<int, LOG_TICKS_PER_DECADE * LOG_TICK_DECADES> table{};
        int decade = 1;
        std::size_t i = 0;
        for (int d = 0; d < LOG_TICK_DECADES; ++d, decade *= 10) {
            for (const int m : mantissas) {
                table[i++] = m * decade;
            }
        }
        return table;
    }();
    return ticks;
}

bool FrequencyAxis::usable() const {
    return rows_ >= 1 && std::isfinite(low_) && std::isfinite(high_) && high_ > low_ &&
           (!logarithmic() || low_ > 0.0);
}

bool FrequencyAxis::usableLog() const {
    return scale_ == FrequencyScale::Log && low_ > 0.0 && high_ > low_;
}

double FrequencyAxis::stepPerRow() const {
    if (logarithmic()) {
        return (std::log10(high_) - std::log10(low_)) / rows_;
    }
    return (high_ - low_) / rows_;
}

double FrequencyAxis::rowOfHz(double hz) const {
    if (logarithmic()) {
        return (std::log10(hz) - std::log10(low_)) / stepPerRow();
    }
    return (hz - low_) / stepPerRow();
}

double FrequencyAxis::rowOfHzProportional(double hz) const {
    if (logarithmic()) {
        return rowOfHz(hz);
    }
    return (hz - low_) * rows_ / (high_ - low_);
}

double FrequencyAxis::rowsOfWidth(double widthHz) const {
    return widthHz / stepPerRow();
}

std::optional<int> FrequencyAxis::nearestRow(double hz) const {
    if (!usable() || !(hz > 0.0)) {
        return std::nullopt;
    }
    const double position = rowOfHz(hz);
    if (!(position > -1.0 && position < rows_)) {
        return std::nullopt;
    }
    const long row = roundHalfUp(position);
    if (row < 0 || row >= rows_) {
        return std::nullopt;
    }
    return static_cast<int>(row);
}

double FrequencyAxis::hzAtRow(double row) const {
    if (usableLog()) {
        return std::pow(10.0, std::log10(low_) + row * stepPerRow());
    }
    return (high_ - low_) * row / rows_ + low_;
}

long FrequencyAxis::hzAtRowRounded(double row) const {
    return roundHalfUp(hzAtRow(row));
}

std::optional<RowMap> FrequencyAxis::rowMap(std::int32_t sampleRate, int fftSize) const {
    if (rows_ < 1 || fftSize < 2 || sampleRate < 1) {
        return std::nullopt;
    }
    if (scale_ == FrequencyScale::Linear) {
        return linearRowMap(low_, high_, sampleRate, fftSize, rows_);
    }
    if (usableLog()) {
        return logRowMap(*this, sampleRate, fftSize);
    }
    return std::nullopt;
}

std::optional<RowFrequency> rowToFrequency(const RowFrequencyInputs& in, int y) {
    if (in.rows < 1 || in.fftSize < 2 || in.sampleRate < 1 || in.highBandHz < in.lowBandHz) {
        return std::nullopt;
    }
    const FrequencyAxis axis(in.scale, in.lowBandHz, in.highBandHz, in.rows);
    const double binHalfWidth = in.sampleRate / (2.0 * in.fftSize);
    const double rowFromBottom = static_cast<double>(in.plotHeight) - y - 1;
    const double low = in.lowBandHz;
    const double high = in.highBandHz;
    RowFrequency result;
    if (in.scale == FrequencyScale::Linear) {
        result.frequencyHz = std::clamp(roundHalfUp(axis.hzAtRow(rowFromBottom)),
                                        long{in.lowBandHz}, long{in.highBandHz});
        const double spread = std::max((high - low) / (2.0 * in.rows), binHalfWidth);
        result.uncertaintyHz = roundHalfUp(spread);
    } else if (in.scale == FrequencyScale::Log && in.lowBandHz > 0 &&
               in.highBandHz > in.lowBandHz) {
        result.frequencyHz = static_cast<long>(std::clamp(axis.hzAtRow(rowFromBottom), low, high));
        const double spread =
            (axis.hzAtRow(rowFromBottom + 1) - axis.hzAtRow(rowFromBottom - 1)) / 4.0;
        result.uncertaintyHz = roundHalfUp(std::max(spread, binHalfWidth));
    } else {
        return std::nullopt;
    }
    result.displayedHz = std::labs(result.frequencyHz + in.cursorOffsetHz);
    return result;
}

} // namespace korv
