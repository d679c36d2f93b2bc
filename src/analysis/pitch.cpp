#include "analysis/pitch.h"

#include "analysis/rounding.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>

namespace korv {

namespace {

constexpr std::int32_t CORRELATION_REFERENCE_RATE = 22050;

// A lies this many semitones above the C that starts its octave.
constexpr int SEMITONES_C_TO_A = 9;

// Semitone names upward from A.
constexpr std::array<const char*, 12> NOTE_NAMES = {"A",  "Bb", "B", "C",  "Db", "D",
                                                    "Eb", "E",  "F", "Gb", "G",  "Ab"};

template <std::size_t Size> void pushNewest(std::array<int, Size>& history, int value) {
    std::copy_backward(history.begin(), history.end() - 1, history.end());
    history.front() = value;
}

template <std::size_t Size> int historyMean(const std::array<int, Size>& history) {
    const double sum = std::accumulate(history.begin(), history.end(), 0.0);
    return static_cast<int>(sum / static_cast<double>(Size));
}

} // namespace

LagTable buildLagTable(std::int32_t rate) {
    LagTable table{};
    const float ratio = std::pow(2.0f, 1.0f / static_cast<float>(PITCH_STEPS_PER_OCTAVE));
    float frequency = PITCH_BASE_HZ;
    for (auto& lag : table) {
        const float period = static_cast<float>(rate) / frequency;
        const long rounded = roundHalfUp(static_cast<double>(period));
        lag = static_cast<std::int16_t>(
            std::clamp<long>(rounded, 0, std::numeric_limits<std::int16_t>::max()));
        frequency *= ratio;
    }
    return table;
}

int pitchCorrelationSpan(std::int32_t rate) {
    return static_cast<int>(std::int64_t{rate} * 1000 / CORRELATION_REFERENCE_RATE);
}

int pitchWindowFrames(std::int32_t rate) {
    return std::max(PITCH_WINDOW_FRAMES, pitchCorrelationSpan(rate));
}

PitchState startPitchDetector(std::int32_t rate) {
    PitchState state;
    state.rate = rate;
    state.lagTable = buildLagTable(rate);
    return state;
}

float pitchIndexHz(int index) {
    return PITCH_BASE_HZ *
           std::pow(2.0f, static_cast<float>(index) / static_cast<float>(PITCH_STEPS_PER_OCTAVE));
}

PitchResult detectPitch(PitchState& state, std::span<const std::int16_t> samples,
                        PitchEnvelope envelope) {
    const bool voiced = envelope.largest - envelope.smallest >= PITCH_VOICED_MIN_SPAN;
    const int span = pitchCorrelationSpan(state.rate);
    const auto frames = static_cast<std::int64_t>(samples.size());
    if (span > 0 && frames >= span) {
        // Correlate every 5th frame of the last M with itself shifted by the lag, wrapping
        // round inside those M frames.
        const std::span<const std::int16_t> tail = samples.last(static_cast<std::size_t>(span));
        std::int64_t bestSum = 0;
        for (int k = 0; k < PITCH_SEARCHED_LAGS; ++k) {
            const int lag = state.lagTable[static_cast<std::size_t>(k)];
            std::int64_t sum = 0;
            for (int j = 0; j < span / PITCH_CORRELATION_STRIDE; ++j) {
                const int offset = PITCH_CORRELATION_STRIDE * j;
                const int shifted = (lag + offset) % span;
                sum += std::int64_t{tail[static_cast<std::size_t>(offset)]} *
                       tail[static_cast<std::size_t>(shifted)];
            }
            if (sum > bestSum) {
                bestSum = sum;
                state.bestIndex = k;
            }
        }
    }

    if (voiced) {
        pushNewest(state.rawHistory, state.bestIndex);
        const int rawMean = historyMean(state.rawHistory);
        const int distance = std::abs(state.bestIndex - state.trackIndex);
        if (distance <= PITCH_ACCEPT_DISTANCE) {
            state.shownIndex = state.bestIndex;
            pushNewest(state.acceptedHistory, state.bestIndex);
            state.trackIndex = historyMean(state.acceptedHistory);
            state.outlierCount = 0;
        } else {
            // A new pitch is taken only after it has held for 22 steps in a row.
            if (state.outlierCount >= PITCH_MAX_OUTLIERS) {
                state.acceptedHistory = state.rawHistory;
                state.trackIndex = rawMean;
                state.shownIndex = state.bestIndex;
                state.outlierCount = 0;
            }
            if (state.outlierCount < PITCH_MAX_OUTLIERS) {
                ++state.outlierCount;
            }
        }
    }

    PitchResult result;
    result.voiced = voiced;
    result.bestIndex = state.bestIndex;
    result.shownIndex = state.shownIndex;
    result.shownHz = pitchIndexHz(state.shownIndex);
    result.markHz = static_cast<int>(pitchIndexHz(state.bestIndex));
    return result;
}

std::string pitchLabel(int index) {
    const int quarter =
        ((index % PITCH_STEPS_PER_OCTAVE) + PITCH_STEPS_PER_OCTAVE) % PITCH_STEPS_PER_OCTAVE;
    const char* name = NOTE_NAMES[static_cast<std::size_t>(quarter / 2)];
    // Scientific pitch notation: the octave number rises at each C; index 0 is A1 (55 Hz).
    const int semitonesAboveA1 = index >= 0 ? index / 2 : (index - 1) / 2;
    const int aboveC1 = semitonesAboveA1 + SEMITONES_C_TO_A;
    const int octave = 1 + (aboveC1 >= 0 ? aboveC1 / 12 : (aboveC1 - 11) / 12);
    const auto hz = static_cast<unsigned>(std::max(0.0f, pitchIndexHz(index)));
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%u Hz  %s%d%s", hz, name, octave,
                  quarter % 2 == 1 ? "  ^" : "");
    return text.data();
}

} // namespace korv
