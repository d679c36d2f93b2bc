#pragma once
// Time-domain pitch detector: autocorrelation over quarter-tone candidate periods from 55 Hz,
// smoothed by a raw and an accepted history.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace korv {

inline constexpr int PITCH_LAG_COUNT = 120;
inline constexpr int PITCH_SEARCHED_LAGS = 110;
inline constexpr int PITCH_WINDOW_FRAMES = 16384; // W
inline constexpr int PITCH_HISTORY_LENGTH = 50;
inline constexpr float PITCH_BASE_HZ = 55.0f;
inline constexpr int PITCH_STEPS_PER_OCTAVE = 24;
inline constexpr int PITCH_VOICED_MIN_SPAN = 5000; // peak to peak above 4999
inline constexpr int PITCH_ACCEPT_DISTANCE = 10;   // quarter tones
inline constexpr int PITCH_MAX_OUTLIERS = 21;

using LagTable = std::array<std::int16_t, PITCH_LAG_COUNT>;

// lag_k = rate / f_k rounded half up, f_0 = 55, f_k = f_(k-1) x 2^(1/24) in single precision.
[[nodiscard]] LagTable buildLagTable(std::int32_t rate);
// M = rate x 1000 / 22050: the correlation span in frames.
[[nodiscard]] int pitchCorrelationSpan(std::int32_t rate);
// The frames a step gathers for the detector: W, or M where the rate makes that longer (past
// 361 kHz), so the correlation always has its span.
[[nodiscard]] int pitchWindowFrames(std::int32_t rate);

struct PitchEnvelope {
    int smallest = 0;
    int largest = 0;
};

// Everything one scan keeps between steps; a new scan starts from a fresh state.
struct PitchState {
    std::int32_t rate = 0;
    LagTable lagTable{};
    std::array<int, PITCH_HISTORY_LENGTH> rawHistory{}; // newest first
    std::array<int, PITCH_HISTORY_LENGTH> acceptedHistory{};
    int trackIndex = 0;
    int shownIndex = 0;
    int outlierCount = 0;
    int bestIndex = 0;
};
[[nodiscard]] PitchState startPitchDetector(std::int32_t rate);

struct PitchResult {
    bool voiced = false;     // strong enough, and a tone the candidates can name
    bool outOfRange = false; // the tone repeats faster than the highest candidate (or slower)
    int bestIndex = 0;
    int shownIndex = 0;
    float shownHz = 0.0f; // 55 x 2^(shownIndex / 24)
    int markHz = 0;       // trunc(55 x 2^(bestIndex / 24))
};

// One step over the first channel's frames (normally W = 16384). With fewer frames than the
// correlation span nothing is correlated and bestIndex stays. The best index is the candidate
// nearest the tone's own period (not a multiple of it); a tone outside the candidates' range
// leaves everything as an unvoiced step does.
[[nodiscard]] PitchResult detectPitch(PitchState& state, std::span<const std::int16_t> samples,
                                      PitchEnvelope envelope);

[[nodiscard]] float pitchIndexHz(int index);
// "%-0u Hz  A", "%-0u Hz  Eb  ^" ...: the number is trunc(pitchIndexHz(index)).
[[nodiscard]] std::string pitchLabel(int index);

} // namespace korv
