#include "analysis/pitch.h"

#include "analysis/rounding.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The sum of a[i] x b[i]: exact, every product and every partial sum being a whole number
// far below 2^53, and four at a time where SSE2 is there (the detector's one cost).
std::int64_t dotProduct(const std::int16_t* a, const std::int16_t* b, std::size_t n) {
    std::size_t i = 0;
    double total = 0.0;
#if defined(__SSE2__)
    __m128d low = _mm_setzero_pd();
    __m128d high = _mm_setzero_pd();
    for (; i + 8 <= n; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i lo = _mm_mullo_epi16(x, y);
        const __m128i hi = _mm_mulhi_epi16(x, y);
        const __m128i first = _mm_unpacklo_epi16(lo, hi); // products 0 .. 3 as 32 bits
        const __m128i second = _mm_unpackhi_epi16(lo, hi);
        low = _mm_add_pd(
            low, _mm_add_pd(_mm_cvtepi32_pd(first), _mm_cvtepi32_pd(_mm_srli_si128(first, 8))));
        high = _mm_add_pd(
            high, _mm_add_pd(_mm_cvtepi32_pd(second), _mm_cvtepi32_pd(_mm_srli_si128(second, 8))));
    }
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, _mm_add_pd(low, high));
    total = lanes[0] + lanes[1];
#endif
    std::int64_t sum = static_cast<std::int64_t>(total);
    for (; i < n; ++i) {
        sum += std::int64_t{a[i]} * b[i];
    }
    return sum;
}

// The correlation of the last `span` frames with those `lag` frames before them, frame by
// frame; where the step does not reach that far back, wrapped round inside the span.
struct Correlation {
    std::span<const std::int16_t> frames;
    int span = 0;
    [[nodiscard]] std::int64_t at(int lag) const {
        const std::size_t first = frames.size() - static_cast<std::size_t>(span);
        std::int64_t sum = 0;
        if (static_cast<std::int64_t>(first) < lag) {
            for (int o = 0; o < span; ++o) {
                sum += std::int64_t{frames[first + static_cast<std::size_t>(o)]} *
                       frames[first + static_cast<std::size_t>((o + lag) % span)];
            }
            return sum;
        }
        return dotProduct(frames.data() + first, frames.data() + first - lag,
                          static_cast<std::size_t>(span));
    }
    // The longest lag looked at: as far back as the frames go, or round inside the span.
    [[nodiscard]] int longestLag() const {
        const auto back = static_cast<std::int64_t>(frames.size()) - span;
        return static_cast<int>(std::max<std::int64_t>(back, span - 2));
    }
};

// The frames a step correlates: enough for several periods of the highest candidate at any
// rate, few enough to be cheap.
constexpr int PITCH_CLOSE_FRAMES = 2048;
// The most frames a tone's period is measured over.
constexpr std::size_t PITCH_PERIOD_FRAMES = 8192;

// A repeat of the sound at least this close to the strongest one is its period: a pure tone
// repeats as well after one period as after two or three.
constexpr double PERIOD_REPEAT_SHARE = 0.9;

struct PeriodPeak {
    int lag = 0;
    std::int64_t sum = 0;
};

// The correlation's peak climbed to from `lag`, one whole lag at a time.
PeriodPeak climb(const Correlation& c, int lag) {
    const int longest = std::max(2, c.longestLag() - 1);
    const int start = std::clamp(lag, 2, longest);
    PeriodPeak p{start, c.at(start)};
    for (;;) {
        const std::int64_t below = c.at(p.lag - 1);
        const std::int64_t above = c.at(p.lag + 1);
        if (below > p.sum && p.lag > 2) {
            p = {p.lag - 1, below};
        } else if (above > p.sum && p.lag < longest) {
            p = {p.lag + 1, above};
        } else {
            return p;
        }
    }
}

// The peak to a fraction of a frame, its lag and its height, from the cosine through it and its
// neighbours (a tone's correlation is one, and a short period's peak falls well between whole
// lags), or the parabola where no cosine fits.
struct FinePeak {
    double lag = 0.0;
    double height = 0.0;
};
FinePeak finePeak(const Correlation& c, const PeriodPeak& p) {
    const auto before = static_cast<double>(c.at(p.lag - 1));
    const auto after = static_cast<double>(c.at(p.lag + 1));
    const auto at = static_cast<double>(p.sum);
    if (at > 0.0) {
        const double cosine = (before + after) / (2.0 * at);
        if (cosine > -1.0 && cosine < 1.0) {
            const double step = std::acos(cosine); // radians a lag
            const double slope = (after - before) / (2.0 * std::sin(step));
            const double phase = std::atan2(-slope, at);
            const double offset = std::clamp(-phase / step, -0.5, 0.5);
            return {p.lag + offset, std::hypot(at, slope)};
        }
    }
    const double curve = before - 2.0 * at + after;
    if (!(curve < 0.0)) {
        return {static_cast<double>(p.lag), at};
    }
    const double offset = std::clamp(0.5 * (before - after) / curve, -0.5, 0.5);
    return {p.lag + offset, at - 0.25 * (before - after) * offset};
}

// The candidate that holds the sound's period: after the correlation has dipped below half
// its largest value (near lag 0 it is flat), the first repeat (a peak) nearly as strong as the
// strongest, from the shortest lag up; the strongest may be two or more periods of the tone.
// None when the tone repeats faster than the highest candidate or slower than the lowest.
std::optional<int> periodCandidate(const Correlation& c, const LagTable& lags,
                                   const std::array<std::int64_t, PITCH_SEARCHED_LAGS>& sums) {
    const std::int64_t largest = *std::max_element(sums.begin(), sums.end());
    if (largest <= 0) {
        return std::nullopt;
    }
    const double enough = PERIOD_REPEAT_SHARE * static_cast<double>(largest);
    const double dip = 0.5 * static_cast<double>(largest);
    // Above the candidates: a repeat within less than the highest candidate's period.
    const int shortest = lags[PITCH_SEARCHED_LAGS - 1];
    std::int64_t before = c.at(1);
    std::int64_t at = c.at(2);
    bool dipped = false;
    for (int lag = 2; lag < shortest; ++lag) {
        const std::int64_t after = c.at(lag + 1);
        dipped = dipped || static_cast<double>(before) < dip;
        if (dipped && before <= at && after <= at && finePeak(c, {lag, at}).height >= enough) {
            return std::nullopt;
        }
        before = at;
        at = after;
    }
    dipped = dipped || static_cast<double>(at) < dip;
    for (int k = PITCH_SEARCHED_LAGS - 1; k >= 0; --k) {
        const auto here = static_cast<std::size_t>(k);
        if (static_cast<double>(sums[here]) < dip) {
            dipped = true;
            continue;
        }
        const bool peak = (k == PITCH_SEARCHED_LAGS - 1 || sums[here + 1] <= sums[here]) &&
                          (k == 0 || sums[here - 1] <= sums[here]);
        if (dipped && peak && finePeak(c, climb(c, lags[here])).height >= enough) {
            return k;
        }
    }
    return std::nullopt;
}

// The period at candidate lag `lag`, to a fraction of a frame.
double tonePeriod(std::span<const std::int16_t> frames, const Correlation& close, int lag) {
    // Over whole periods, as many as the frames hold up to PITCH_PERIOD_FRAMES, so a low tone's
    // peak is not pulled aside by a part period at the ends.
    const auto room = static_cast<int>(std::min<std::size_t>(
        frames.size(), PITCH_PERIOD_FRAMES + 2 * static_cast<std::size_t>(lag)));
    const int whole = lag > 0 ? (room - 2 * lag) / lag * lag : 0;
    const Correlation c = whole > close.span ? Correlation{frames, whole} : close;
    return finePeak(c, climb(c, lag)).lag;
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

namespace {

// The step's note, when the sound repeats at all: the index nearest its period, or none for a
// tone outside the candidates.
struct StepPitch {
    bool repeats = false;
    std::optional<int> index;
};
StepPitch stepPitch(const PitchState& state, std::span<const std::int16_t> samples) {
    // Every candidate's repeat, every frame of the last ones against those a lag earlier:
    // every 5th frame of the last M, wrapped round inside them, beats with tones near a fifth
    // of the rate and blurs a period that does not divide M.
    const Correlation close{
        samples, static_cast<int>(std::min<std::size_t>(samples.size(), PITCH_CLOSE_FRAMES))};
    std::array<std::int64_t, PITCH_SEARCHED_LAGS> sums{};
    for (int k = 0; k < PITCH_SEARCHED_LAGS; ++k) {
        sums[static_cast<std::size_t>(k)] = close.at(state.lagTable[static_cast<std::size_t>(k)]);
    }
    if (*std::max_element(sums.begin(), sums.end()) <= 0) {
        return {};
    }
    // The candidates are whole frames apart, coarse at high pitches: the note is the one
    // nearest the tone's own period, measured to a fraction of a frame.
    StepPitch step{true, std::nullopt};
    if (const std::optional<int> k = periodCandidate(close, state.lagTable, sums)) {
        const int lag = state.lagTable[static_cast<std::size_t>(*k)];
        const double index =
            std::round(PITCH_STEPS_PER_OCTAVE *
                       std::log2(state.rate / tonePeriod(samples, close, lag) / PITCH_BASE_HZ));
        if (index >= 0.0 && index < PITCH_SEARCHED_LAGS) {
            step.index = static_cast<int>(index);
        }
    }
    return step;
}

} // namespace

PitchResult detectPitch(PitchState& state, std::span<const std::int16_t> samples,
                        PitchEnvelope envelope) {
    const bool voiced = envelope.largest - envelope.smallest >= PITCH_VOICED_MIN_SPAN;
    const int span = pitchCorrelationSpan(state.rate);
    const StepPitch step = span > 0 && static_cast<std::int64_t>(samples.size()) >= span
                               ? stepPitch(state, samples)
                               : StepPitch{};
    // A tone the candidates cannot follow is not named as another note.
    const bool outOfRange = step.repeats && !step.index;
    if (step.index) {
        state.bestIndex = *step.index;
    }

    if (voiced && !outOfRange) {
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
    result.voiced = voiced && !outOfRange;
    result.outOfRange = outOfRange;
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
