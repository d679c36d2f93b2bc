#pragma once
// How a frame's FFT bins become the rows of a row map (frequency_axis.h) and the
// third-octave band table with the plots' band points.

#include "analysis/frequency_axis.h"
#include "base/settings_types.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korv {

// The bands up to the 20 kHz band, the last of 44.1 and 48 kHz files; the table goes on to
// the band of 192 kHz, half the highest rate a file may have.
inline constexpr int THIRD_OCTAVE_BANDS = 44;
inline constexpr int THIRD_OCTAVE_TABLE_BANDS = 54;
inline constexpr float THIRD_OCTAVE_EDGE_FACTOR = 1.1225f;

// levels: the N / 2 levels of one frame (fewer are read safely as if clamped to the last);
// rowLevels: one per row of the map, extra entries untouched.
void gatherRows(const RowMap& map, std::span<const std::int16_t> levels,
                std::span<std::int16_t> rowLevels);

// Upper band edges in whole Hz: 10^(i/10) x 1.1225 in single precision, truncated.
[[nodiscard]] const std::array<int, THIRD_OCTAVE_TABLE_BANDS>& thirdOctaveEdges();
// The band of each bin 0 .. N/2 - 1 by its frequency truncated to whole Hz, bins above the
// last band of the rate in that band.
[[nodiscard]] std::vector<std::uint8_t> buildBandMap(std::int32_t sampleRate, int fftSize);

// The third-octave band a frequency (whole Hz) belongs to: edge[i-1] < f <= edge[i]; below the
// first edge band 0, above the table's last edge its last band.
[[nodiscard]] int thirdOctaveBand(std::int64_t frequencyHz);
// The last band of a rate: the band holding half the rate, up to the 20 kHz band; beyond it,
// the last band whose centre lies within half the rate (so 48 kHz ends at 20 kHz as 44.1 kHz
// does, and 384 kHz at 160 kHz).
[[nodiscard]] int thirdOctaveLastBand(std::int32_t sampleRate);

// The third-octave rows of the plot displays: which band each plot point shows.
inline constexpr int THIRD_OCTAVE_FIRST_PLOTTED_BAND = 10; // 10 Hz, calibration point 0
inline constexpr int THIRD_OCTAVE_MIN_BINS_PER_BAND = 8;
struct ThirdOctavePoints {
    int firstBand = 0;           // the first band at least 8 bins wide
    int lastBand = 0;            // the band of half the sample rate
    std::vector<int> pointBands; // band of each plot point, lowest first
    // The frequency axis: 10^(band / 10) of the first and last point's band.
    double lowHz = 0.0;
    double highHz = 0.0;
};
// nullopt when no band is usable or the inputs give no layout (points < 2, N < 2, rate < 1).
[[nodiscard]] std::optional<ThirdOctavePoints> thirdOctavePoints(std::int32_t sampleRate,
                                                                 int fftSize, int points);
// The calibration of band b (from 10, the first plotted band, at point 0): the point's
// correction limited to +-30 dB and truncated to whole dB; 0 when it is no number.
[[nodiscard]] double thirdOctaveCorrectionDb(const CalibrationCurve& curve, int band);
// One step's rows from the N / 2 magnitudes of a frame (FftOutput::Magnitudes): squared
// magnitudes summed per band (bandMap from buildBandMap), point r's level
// trunc(40 log10(sum of its band)) + 4 x its band's correction (bandCorrectionDb, one per band
// of the table: LevelCorrections::bandTable), 0 for an empty band. No display gain on this
// scale. rows: one per point, extra entries untouched.
void thirdOctaveRows(const ThirdOctavePoints& layout, std::span<const std::uint8_t> bandMap,
                     std::span<const std::int16_t> magnitudes,
                     std::span<const double, THIRD_OCTAVE_TABLE_BANDS> bandCorrectionDb,
                     std::span<std::int16_t> rows);

} // namespace korv
