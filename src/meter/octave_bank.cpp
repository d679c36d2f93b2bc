#include "meter/octave_bank.h"

#include "meter/band_pass.h"
#include "meter/halfband_decimator.h"
#include "meter/lanes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <type_traits>
#include <utility>

namespace korv::meter {

namespace {

constexpr double kReferenceHz = 1000.0;
constexpr double kLowestMidHz = 5.0;
// A band runs at the lowest rate r (the input's halved k times) at which its upper edge is
// at most this fraction of r: inside the narrow decimators' flat passband (0.32 r), where
// nothing folded over reaches it, and low enough at its rate for little warping.
constexpr double kBandTopOfRate = 0.3;
// The first halving's decimator is the wide one, flat to 0.375 of the halved rate: the top
// octave's lowest band (8 kHz of third octaves at 48 kHz, 6.3 kHz at 44.1 kHz) runs there
// beside three others, so the full rate takes one pack of four bands instead of two.
constexpr HalfbandWidth kFirstHalving = HalfbandWidth::Wide;

// How high a band's upper edge may reach at the rate halved k >= 1 times, as a fraction of it.
double bandTopOfHalvedRate(std::size_t k) {
    return k == 1 ? 2.0 * HalfbandDecimator::passbandEdge(kFirstHalving) : kBandTopOfRate;
}
// Input frames filtered in one go, so the stages' buffers stay small whatever the block.
constexpr std::size_t kChunkFrames = 1024;
// A lower rate's samples wait until there are this many (or a take): a call's fixed cost (the
// packs' first and last steps, the decimator's history) then stays small beside its samples
// at the lowest rates too, which a chunk gives a handful each.
constexpr std::size_t kStageRunSamples = 256;
// The most samples a lower rate holds: fewer than kStageRunSamples waiting, then at most half
// of what the rate above ran, plus one.
constexpr std::size_t kMostStageSamples = kChunkFrames + 2 * kStageRunSamples + 2;

bool isOdd(int n) {
    return n % 2 != 0;
}

// The power of G of band x's mid-band frequency: x / b for odd b, (2x + 1) / (2b) for even b.
double midExponent(int x, int b) {
    return isOdd(b) ? static_cast<double>(x) / b : (2.0 * x + 1.0) / (2.0 * b);
}

double midOf(int x, int b) {
    return kReferenceHz * std::pow(kOctaveRatio, midExponent(x, b));
}

// The band whose mid-band frequency is nearest `hz` on a logarithmic scale (on an edge, the
// upper one).
int nearestBand(double hz, int b) {
    const double exponent = b * std::log(hz / kReferenceHz) / std::log(kOctaveRatio);
    return static_cast<int>(std::floor((isOdd(b) ? exponent : exponent - 0.5) + 0.5));
}

// The standard's nominal mid-band frequencies (the R10 series) of third-octave band t,
// whose exact frequency is 1000 · 10^(t / 10).
std::string nominalLabel(int thirdOctave) {
    static constexpr std::array<int, 10> kSeries{100, 125, 160, 200, 250, 315, 400, 500, 630, 800};
    const int decade = thirdOctave >= 0 ? thirdOctave / 10 : -((-thirdOctave + 9) / 10);
    const int step = thirdOctave - 10 * decade;
    const double hz = kSeries[static_cast<std::size_t>(step)] * std::pow(10.0, decade + 1);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", hz);
    std::string label(text);
    label.erase(label.find_last_not_of('0') + 1);
    if (label.back() == '.')
        label.pop_back();
    return label;
}

// `hz` to four significant figures ("20.60", "1059", "10590").
std::string exactLabel(double hz) {
    int exponent = static_cast<int>(std::floor(std::log10(hz)));
    double unit = std::pow(10.0, exponent - 3);
    double rounded = std::round(hz / unit) * unit;
    if (rounded >= std::pow(10.0, exponent + 1)) {
        ++exponent;
        unit = std::pow(10.0, exponent - 3);
        rounded = std::round(hz / unit) * unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", std::max(0, 3 - exponent), rounded);
    return text;
}

Band bandAt(int x, int b) {
    Band band;
    band.midHz = midOf(x, b);
    const double halfWidth = std::pow(kOctaveRatio, 1.0 / (2.0 * b));
    band.lowerEdgeHz = band.midHz / halfWidth;
    band.upperEdgeHz = band.midHz * halfWidth;
    if (b == 1 || b == 3)
        band.label = nominalLabel(x * (3 / b));
    else
        band.label = exactLabel(band.midHz);
    return band;
}

// Four bands' filters, side by side in the lanes.
struct Pack {
    double a1[kBandPassSections][kLanes]{};
    double a2[kBandPassSections][kLanes]{};
    // Each section's last two outputs.
    double y1[kBandPassSections][kLanes]{};
    double y2[kBandPassSections][kLanes]{};
    double energy[kLanes]{}; // the last section's squared outputs, summed
    // Each section's next input while the sections run a sample apart (filterPack below).
    double inputs[kBandPassSections][kLanes]{};
};

// One section of four bands on one sample: `in` is its input's x[n] - x[n-2], and becomes the
// next section's. The pole on the last output fused into one rounding, so each sample waits
// on one multiply-add per section.
template <class Fma>
__attribute__((always_inline)) inline void filterSection(Lanes& in, const Lanes& a1,
                                                         const Lanes& a2, Lanes& y1, Lanes& y2) {
    const Lanes y = Fma::negMulAdd(a1, y1, Fma::negMulAdd(a2, y2, in));
    in = y - y2;
    y2 = y1;
    y1 = y;
}

// Calls f(std::integral_constant<int, s>) for each section s, the last first: the indices are
// constants from the start, so the compiler keeps the sections' state arrays in registers.
template <class F> __attribute__((always_inline)) inline void eachSectionLastFirst(F&& f) {
    [&]<int... S>(std::integer_sequence<int, S...>) __attribute__((always_inline)) {
        (f(std::integral_constant<int, kBandPassSections - 1 - S>{}), ...);
    }
    (std::make_integer_sequence<int, kBandPassSections>{});
}

// A pack's running state, loaded for a stretch of steps. inputs[s] is section s's next
// input, made by section s - 1 in the step before (inputs[0] unused).
struct PackState {
    Lanes y1[kBandPassSections], y2[kBandPassSections], inputs[kBandPassSections];
    Lanes energy;
};

__attribute__((always_inline)) inline PackState loadState(const Pack& pack) {
    PackState state;
    eachSectionLastFirst([&](auto s) __attribute__((always_inline)) {
        state.y1[s] = loadLanes(pack.y1[s]);
        state.y2[s] = loadLanes(pack.y2[s]);
        state.inputs[s] = loadLanes(pack.inputs[s]);
    });
    state.energy = loadLanes(pack.energy);
    return state;
}

__attribute__((always_inline)) inline void storeState(Pack& pack, const PackState& state) {
    eachSectionLastFirst([&](auto s) __attribute__((always_inline)) {
        storeLanes(pack.y1[s], state.y1[s]);
        storeLanes(pack.y2[s], state.y2[s]);
        storeLanes(pack.inputs[s], state.inputs[s]);
    });
    storeLanes(pack.energy, state.energy);
}

// Section s on its next sample, `in` its input: passes its output's difference on to section
// s + 1, or (the last) adds its square to the energy.
template <class Fma, int S>
__attribute__((always_inline)) inline void runSection(const Pack& pack, PackState& state,
                                                      Lanes in) {
    constexpr int last = kBandPassSections - 1;
    filterSection<Fma>(in, loadLanes(pack.a1[S]), loadLanes(pack.a2[S]), state.y1[S], state.y2[S]);
    if constexpr (S < last)
        state.inputs[S + 1] = in;
    else
        state.energy = Fma::mulAdd(state.y1[last], state.y1[last], state.energy);
}

// Filters `count` samples, given as x[n] - x[n-2] (every section's numerator), through a
// pack. The sections run a sample apart: in step t section s takes sample t - s, whose input
// section s - 1 made in the step before, so a step's four sections do not wait on each other.
// Each section still takes its samples in order, so the values are those of each sample taken
// through all four in turn. The first and last steps of a call bring the sections into line
// and let them catch up, so that a call ends with every sample through every section.
template <class Fma>
__attribute__((always_inline)) inline void filterPack(Pack& pack, const double* differences,
                                                      std::size_t count) {
    constexpr std::size_t lagOfLast = kBandPassSections - 1;
    const std::size_t steps = count + lagOfLast;
    // A step in which some sections have no sample (t - s outside 0 .. count - 1).
    const auto partialStep = [&](std::size_t t) __attribute__((always_inline)) {
        PackState state = loadState(pack);
        eachSectionLastFirst([&](auto s) __attribute__((always_inline)) {
            constexpr auto lag = static_cast<std::size_t>(decltype(s)::value);
            if (t >= lag && t - lag < count)
                runSection<Fma, s>(pack, state,
                                   lag == 0 ? Fma::broadcast(differences + t) : state.inputs[s]);
        });
        storeState(pack, state);
    };
    std::size_t t = 0;
    for (; t < std::min(lagOfLast, count); ++t)
        partialStep(t);
    if (t < count) {
        PackState state = loadState(pack);
        for (; t < count; ++t) {
            eachSectionLastFirst([&](auto s) __attribute__((always_inline)) {
                if constexpr (s == 0)
                    runSection<Fma, 0>(pack, state, Fma::broadcast(differences + t));
                else
                    runSection<Fma, s>(pack, state, state.inputs[s]);
            });
        }
        storeState(pack, state);
    }
    for (; t < steps; ++t)
        partialStep(t);
}

// x[n] - x[n-2] of `count` samples into `d`, x[-2] and x[-1] given.
__attribute__((always_inline)) inline void
differencesOf(const double* x, std::size_t count, double before2, double before1, double* d) {
    if (count > 0)
        d[0] = x[0] - before2;
    if (count > 1)
        d[1] = x[1] - before1;
    std::size_t n = 2;
    for (; n + kLanes <= count; n += kLanes)
        storeLanes(d + n, loadLanes(x + n) - loadLanes(x + n - 2));
    for (; n < count; ++n)
        d[n] = x[n] - x[n - 2];
}

template <class Fma>
__attribute__((always_inline)) inline void
filterPacks(Pack* packs, std::size_t packCount, const double* samples, std::size_t count,
            double before2, double before1, double* differences) {
    differencesOf(samples, count, before2, before1, differences);
    for (std::size_t p = 0; p < packCount; ++p)
        filterPack<Fma>(packs[p], differences, count);
}

#if defined(KORV_METER_AVX2)
__attribute__((target("avx2,fma"), flatten)) void
filterPacksAvx2(Pack* packs, std::size_t packCount, const double* samples, std::size_t count,
                double before2, double before1, double* differences) {
    filterPacks<AvxFma>(packs, packCount, samples, count, before2, before1, differences);
}
#endif

void filterPacksPlain(Pack* packs, std::size_t packCount, const double* samples, std::size_t count,
                      double before2, double before1, double* differences) {
    filterPacks<PlainFma>(packs, packCount, samples, count, before2, before1, differences);
}

// The bands that run at one rate, and that rate's samples of the current chunk.
struct Stage {
    std::vector<Pack> packs;
    std::vector<double> samples;     // from the decimator above (unused at the input rate)
    std::size_t waiting = 0;         // samples not filtered yet
    std::vector<double> differences; // x[n] - x[n-2]
    double previous1 = 0.0;          // x[-1] and x[-2] of the next chunk
    double previous2 = 0.0;
};

struct Slot {
    std::size_t stage = 0;
    std::size_t pack = 0;
    std::size_t lane = 0;
    double scale = 1.0; // gain squared times the stage's decimation factor
};

} // namespace

std::vector<Band> bandsOf(const BandSpec& spec, double sampleRate) {
    const int b = spec.bandsPerOctave;
    std::vector<Band> bands;
    const bool known = b == 1 || b == 3 || b == 6 || b == 12 || b == 24;
    if (!known || !std::isfinite(sampleRate) || !(sampleRate > 2.0 * kLowestMidHz))
        return bands;
    const double nyquist = sampleRate / 2.0;
    const double lowHz =
        std::isfinite(spec.lowHz) ? std::max(spec.lowHz, kLowestMidHz) : kLowestMidHz;
    if (std::isnan(spec.highHz) || !(spec.highHz > 0.0))
        return bands;
    const double highHz = std::min(spec.highHz, nyquist);
    int first = nearestBand(lowHz, b);
    while (midOf(first, b) < kLowestMidHz)
        ++first;
    int last = nearestBand(highHz, b);
    while (bandAt(last, b).upperEdgeHz >= nyquist)
        --last;
    for (int x = first; x <= last; ++x)
        bands.push_back(bandAt(x, b));
    return bands;
}

struct OctaveBank::Filters {
    std::vector<Band> bands;
    std::vector<Stage> stages;
    std::vector<HalfbandDecimator> decimators; // decimators[k] feeds stage k + 1
    std::vector<Slot> slots;
    std::int64_t frames = 0; // since the last take

    void filterStage(std::size_t k, const double* samples, std::size_t count);
    void runStage(std::size_t k);
    void flush();
};

OctaveBank::OctaveBank(const BandSpec& spec, double sampleRate)
    : filters_(std::make_unique<Filters>()) {
    Filters& f = *filters_;
    f.bands = bandsOf(spec, sampleRate);
    // Each band's stage: the input halved as often as its upper edge allows.
    std::vector<std::size_t> stageOf(f.bands.size(), 0);
    std::size_t stageCount = f.bands.empty() ? 0 : 1;
    for (std::size_t j = 0; j < f.bands.size(); ++j) {
        double rate = sampleRate;
        while (f.bands[j].upperEdgeHz <= bandTopOfHalvedRate(stageOf[j] + 1) * rate / 2.0) {
            rate /= 2.0;
            ++stageOf[j];
        }
        stageCount = std::max(stageCount, stageOf[j] + 1);
    }
    f.stages.resize(stageCount);
    for (std::size_t k = 0; k + 1 < stageCount; ++k)
        f.decimators.emplace_back(k == 0 ? kFirstHalving : HalfbandWidth::Narrow);
    std::vector<std::size_t> filled(stageCount, 0);
    f.slots.resize(f.bands.size());
    for (std::size_t j = 0; j < f.bands.size(); ++j) {
        const std::size_t k = stageOf[j];
        const double factor = std::ldexp(1.0, static_cast<int>(k));
        const double rate = sampleRate / factor;
        const BandPassSections design =
            designBandPass(f.bands[j].lowerEdgeHz, f.bands[j].upperEdgeHz, rate);
        Stage& stage = f.stages[k];
        const std::size_t index = filled[k]++;
        if (index % kLanes == 0)
            stage.packs.emplace_back();
        Slot& slot = f.slots[j];
        slot = {k, index / kLanes, index % kLanes, design.gain * design.gain * factor};
        Pack& pack = stage.packs[slot.pack];
        for (int s = 0; s < kBandPassSections; ++s) {
            pack.a1[s][slot.lane] = design.a1[static_cast<std::size_t>(s)];
            pack.a2[s][slot.lane] = design.a2[static_cast<std::size_t>(s)];
        }
    }
    for (std::size_t k = 0; k < stageCount; ++k) {
        const std::size_t most = k == 0 ? kChunkFrames : kMostStageSamples;
        f.stages[k].differences.resize(most);
        if (k > 0)
            f.stages[k].samples.resize(most);
    }
}

OctaveBank::OctaveBank(OctaveBank&&) noexcept = default;
OctaveBank& OctaveBank::operator=(OctaveBank&&) noexcept = default;
OctaveBank::~OctaveBank() = default;

const std::vector<Band>& OctaveBank::bands() const {
    return filters_->bands;
}

void OctaveBank::Filters::filterStage(std::size_t k, const double* samples, std::size_t count) {
    Stage& stage = stages[k];
    if (!stage.packs.empty() && count > 0) {
#if defined(KORV_METER_AVX2)
        if (useAvx2Lanes())
            filterPacksAvx2(stage.packs.data(), stage.packs.size(), samples, count, stage.previous2,
                            stage.previous1, stage.differences.data());
        else
#endif
            filterPacksPlain(stage.packs.data(), stage.packs.size(), samples, count,
                             stage.previous2, stage.previous1, stage.differences.data());
    }
    if (count >= 2) {
        stage.previous2 = samples[count - 2];
        stage.previous1 = samples[count - 1];
    } else if (count == 1) {
        stage.previous2 = stage.previous1;
        stage.previous1 = samples[0];
    }
    if (k + 1 < stages.size()) {
        Stage& next = stages[k + 1];
        next.waiting += decimators[k].process(samples, count, next.samples.data() + next.waiting);
        if (next.waiting >= kStageRunSamples)
            runStage(k + 1);
    }
}

// The samples waiting at rate k through its filters, and on down.
void OctaveBank::Filters::runStage(std::size_t k) {
    Stage& stage = stages[k];
    const std::size_t count = std::exchange(stage.waiting, 0);
    filterStage(k, stage.samples.data(), count);
}

// Every sample waiting at the lower rates, the higher first, so that the bands hold all the
// outputs of the frames fed.
void OctaveBank::Filters::flush() {
    for (std::size_t k = 1; k < stages.size(); ++k) {
        if (stages[k].waiting > 0)
            runStage(k);
    }
}

void OctaveBank::process(std::span<const double> samples) {
    Filters& f = *filters_;
    f.frames += static_cast<std::int64_t>(samples.size());
    if (f.stages.empty())
        return;
    for (std::size_t done = 0; done < samples.size();) {
        const std::size_t count = std::min(kChunkFrames, samples.size() - done);
        f.filterStage(0, samples.data() + done, count);
        done += count;
    }
}

void OctaveBank::takeMeanSquares(std::span<double> meanSquares) {
    Filters& f = *filters_;
    f.flush();
    const double frames = static_cast<double>(f.frames);
    for (std::size_t j = 0; j < f.slots.size() && j < meanSquares.size(); ++j) {
        const Slot& slot = f.slots[j];
        double& energy = f.stages[slot.stage].packs[slot.pack].energy[slot.lane];
        meanSquares[j] = frames > 0.0 ? energy * slot.scale / frames : 0.0;
        energy = 0.0;
    }
    f.frames = 0;
}

} // namespace korv::meter
