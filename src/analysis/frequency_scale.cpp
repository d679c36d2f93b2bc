#include "analysis/frequency_scale.h"

#include "analysis/fft.h"
#include "analysis/parameters.h"
#include "analysis/rounding.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace korv {

void gatherRows(const RowMap& map, std::span<const std::int16_t> levels,
                std::span<std::int16_t> rowLevels) {
    const std::size_t rows = std::min(map.rows.size(), rowLevels.size());
    const std::int64_t available =
        std::min(static_cast<std::int64_t>(levels.size()), std::int64_t{map.binLimit});
    if (available <= 0) {
        std::fill_n(rowLevels.begin(), rows, std::int16_t{0});
        return;
    }
    const std::int64_t lastBin = available - 1;
    const auto firstOf = [lastBin](const RowBins& bins) {
        return std::clamp(std::int64_t{bins.firstBin}, std::int64_t{0}, lastBin);
    };
    // Indices at or beyond the last bin read the last bin.
    const auto inRangeEndOf = [lastBin](const RowBins& bins, std::int64_t count) {
        return std::min(std::int64_t{bins.firstBin} + count - 1, lastBin);
    };
    // One loop per rule: the default linear map reads one bin a row, and a test per row
    // would cost as much as the reading.
    switch (map.combine) {
    case RowCombine::Single:
        for (std::size_t r = 0; r < rows; ++r) {
            rowLevels[r] = levels[static_cast<std::size_t>(firstOf(map.rows[r]))];
        }
        break;
    case RowCombine::Maximum:
        for (std::size_t r = 0; r < rows; ++r) {
            const RowBins& bins = map.rows[r];
            const std::int64_t first = firstOf(bins);
            const std::int64_t end =
                std::max(inRangeEndOf(bins, std::max(bins.binCount, 1)), first);
            // From the row's own first bin: a row below level 0 keeps its level.
            std::int16_t best = levels[static_cast<std::size_t>(first)];
            for (std::int64_t k = first + 1; k <= end; ++k) {
                best = std::max(best, levels[static_cast<std::size_t>(k)]);
            }
            rowLevels[r] = best;
        }
        break;
    case RowCombine::Mean:
        for (std::size_t r = 0; r < rows; ++r) {
            const RowBins& bins = map.rows[r];
            const std::int64_t count = std::max(bins.binCount, 1);
            const std::int64_t inRangeEnd = inRangeEndOf(bins, count);
            std::int64_t sum = 0;
            std::int64_t counted = 0;
            for (std::int64_t k = firstOf(bins); k <= inRangeEnd; ++k, ++counted) {
                sum += levels[static_cast<std::size_t>(k)];
            }
            sum += (count - counted) * levels[static_cast<std::size_t>(lastBin)];
            rowLevels[r] = static_cast<std::int16_t>(sum / count);
        }
        break;
    }
}

const std::array<int, THIRD_OCTAVE_TABLE_BANDS>& thirdOctaveEdges() {
    static const std::array<int, THIRD_OCTAVE_TABLE_BANDS> edges = [] {
        std::array<int, THIRD_OCTAVE_TABLE_BANDS> table{};
        for (int i = 0; i < THIRD_OCTAVE_TABLE_BANDS; ++i) {
            const float centre = std::pow(10.0f, static_cast<float>(i) / 10.0f);
            table[static_cast<std::size_t>(i)] =
                static_cast<int>(centre * THIRD_OCTAVE_EDGE_FACTOR);
        }
        return table;
    }();
    return edges;
}

std::vector<std::uint8_t> buildBandMap(std::int32_t sampleRate, int fftSize) {
    if (fftSize < 2 || sampleRate < 1) {
        return {};
    }
    std::vector<std::uint8_t> bands(static_cast<std::size_t>(fftSize / 2));
    const int last = thirdOctaveLastBand(sampleRate);
    for (std::size_t k = 0; k < bands.size(); ++k) {
        const std::int64_t f = static_cast<std::int64_t>(k) * sampleRate / fftSize;
        bands[k] = static_cast<std::uint8_t>(std::min(thirdOctaveBand(f), last));
    }
    return bands;
}

int thirdOctaveBand(std::int64_t frequencyHz) {
    const auto& edges = thirdOctaveEdges();
    const auto above = std::lower_bound(edges.begin(), edges.end(), frequencyHz);
    return above == edges.end() ? THIRD_OCTAVE_TABLE_BANDS - 1
                                : static_cast<int>(above - edges.begin());
}

int thirdOctaveLastBand(std::int32_t sampleRate) {
    const std::int64_t half = sampleRate / 2;
    int band = thirdOctaveBand(half);
    while (band >= THIRD_OCTAVE_BANDS && std::pow(10.0, band / 10.0) > static_cast<double>(half)) {
        --band;
    }
    return band;
}

std::optional<ThirdOctavePoints> thirdOctavePoints(std::int32_t sampleRate, int fftSize,
                                                   int points) {
    if (points < 2 || fftSize < 2 || sampleRate < 1) {
        return std::nullopt;
    }
    const auto& edges = thirdOctaveEdges();
    const double minWidth =
        static_cast<double>(THIRD_OCTAVE_MIN_BINS_PER_BAND) * sampleRate / fftSize;
    ThirdOctavePoints out;
    out.lastBand = thirdOctaveLastBand(sampleRate);
    out.firstBand = out.lastBand + 1;
    for (int i = 0; i <= out.lastBand; ++i) {
        const int below = i == 0 ? 0 : edges[static_cast<std::size_t>(i - 1)];
        if (edges[static_cast<std::size_t>(i)] - below >= minWidth) {
            out.firstBand = i;
            break;
        }
    }
    if (out.firstBand > out.lastBand) {
        return std::nullopt;
    }
    // The last point would land one band past the last usable one (the spread divides by
    // points - 1 but counts last - first + 1 bands): it is held at the last band.
    const int top = std::max(out.lastBand, THIRD_OCTAVE_FIRST_PLOTTED_BAND);
    const std::int64_t spread = out.lastBand - out.firstBand + 1;
    out.pointBands.resize(static_cast<std::size_t>(points));
    for (int r = 0; r < points; ++r) {
        const auto b = out.firstBand + static_cast<std::int64_t>(r) * spread / (points - 1);
        out.pointBands[static_cast<std::size_t>(r)] =
            static_cast<int>(std::clamp<std::int64_t>(b, THIRD_OCTAVE_FIRST_PLOTTED_BAND, top));
    }
    out.lowHz = std::pow(10.0, out.pointBands.front() / 10.0);
    out.highHz = std::pow(10.0, out.pointBands.back() / 10.0);
    return out;
}

double thirdOctaveCorrectionDb(const CalibrationCurve& curve, int band) {
    const auto point = static_cast<std::size_t>(
        std::clamp(band - THIRD_OCTAVE_FIRST_PLOTTED_BAND, 0, kCalibrationPoints - 1));
    const float db = curve[point].correctionDb;
    return std::isfinite(db) ? std::trunc(std::clamp(db, -kCalibrationLimitDb, kCalibrationLimitDb))
                             : 0.0;
}

void thirdOctaveRows(const ThirdOctavePoints& layout, std::span<const std::uint8_t> bandMap,
                     std::span<const std::int16_t> magnitudes,
                     std::span<const double, THIRD_OCTAVE_TABLE_BANDS> bandCorrectionDb,
                     std::span<std::int16_t> rows) {
    std::array<double, THIRD_OCTAVE_TABLE_BANDS> sums{};
    const std::size_t bins = std::min(bandMap.size(), magnitudes.size());
    for (std::size_t k = 0; k < bins; ++k) {
        const double m = magnitudes[k];
        sums[std::min<std::size_t>(bandMap[k], THIRD_OCTAVE_TABLE_BANDS - 1)] += m * m;
    }
    const std::size_t count = std::min(rows.size(), layout.pointBands.size());
    for (std::size_t r = 0; r < count; ++r) {
        const int band = std::clamp(layout.pointBands[r], THIRD_OCTAVE_FIRST_PLOTTED_BAND,
                                    THIRD_OCTAVE_TABLE_BANDS - 1);
        const double sum = sums[static_cast<std::size_t>(band)];
        const double level = sum > 0.0 ? std::trunc(40.0 * std::log10(sum)) : 0.0;
        const double correction = 4.0 * bandCorrectionDb[static_cast<std::size_t>(band)];
        rows[r] = static_cast<std::int16_t>(
            std::clamp(level + correction, -double{LEVEL_LIMIT}, double{LEVEL_LIMIT}));
    }
}

} // namespace korv
