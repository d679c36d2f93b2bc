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
// at most this fraction of r: inside the decimators' flat passband (0.32 r), where nothing
// folded over reaches it, and low enough at its rate for little warping. None runs at half
// the rate: those bands run at the full rate beside the top ones (third octaves at 48 kHz:
// eight bands, 4 to 20 kHz), where on a processor with AVX-512 two packs cost what one
// does, and the half rate would cost half a pack more.
constexpr double kBandTopOfRate = 0.3;
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
template <class Fma, class V>
__attribute__((always_inline)) inline void filterSection(V& in, const V& a1, const V& a2, V& y1,
                                                         V& y2) {
    const V y = Fma::negMulAdd(a1, y1, Fma::negMulAdd(a2, y2, in));
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

constexpr std::size_t kLagOfLast = kBandPassSections - 1;

// The steps t in [from, to) of a call of `count` samples in which some sections have no
// sample (t - s outside 0 .. count - 1).
template <class Fma>
__attribute__((always_inline)) inline void partialSteps(Pack& pack, const double* differences,
                                                        std::size_t count, std::size_t from,
                                                        std::size_t to) {
    for (std::size_t t = from; t < to; ++t) {
        PackState state = loadState(pack);
        eachSectionLastFirst([&](auto s) __attribute__((always_inline)) {
            constexpr auto lag = static_cast<std::size_t>(decltype(s)::value);
            if (t >= lag && t - lag < count)
                runSection<Fma, s>(pack, state,
                                   lag == 0 ? Fma::broadcast(differences + t) : state.inputs[s]);
        });
        storeState(pack, state);
    }
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
    const std::size_t steps = count + kLagOfLast;
    std::size_t t = std::min(kLagOfLast, count);
    partialSteps<Fma>(pack, differences, count, 0, t);
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
    partialSteps<Fma>(pack, differences, count, t, steps);
}

#if defined(KORV_METER_AVX2)
// GCC 12's own _mm512_insertf64x4 passes an undefined vector as the source of the lanes it
// masks off (none here), which -Wmaybe-uninitialized takes for a read.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Two packs in the lanes of 512-bit vectors, the first in the lower half: where the processor
// works eight lanes at once, two packs cost what one does. Each lane does what filterPack's
// does in the same order, so the values are the same to the bit.
struct PackPair {
    __m512d a1[kBandPassSections], a2[kBandPassSections];
    __m512d y1[kBandPassSections], y2[kBandPassSections], inputs[kBandPassSections];
    __m512d energy;

    __attribute__((target("avx512f,avx2,fma"))) static __m512d join(const double* low,
                                                                    const double* high) {
        return _mm512_insertf64x4(_mm512_zextpd256_pd512(_mm256_loadu_pd(low)),
                                  _mm256_loadu_pd(high), 1);
    }
    __attribute__((target("avx512f,avx2,fma"))) static void split(const __m512d& v, double* low,
                                                                  double* high) {
        _mm256_storeu_pd(low, _mm512_castpd512_pd256(v));
        _mm256_storeu_pd(high, _mm512_extractf64x4_pd(v, 1));
    }
};

// The multiply-adds of eight lanes, for filterSection.
struct Avx512Fma {
    __attribute__((target("avx512f,avx2,fma"))) static __m512d
    mulAdd(const __m512d& a, const __m512d& b, const __m512d& c) {
        return _mm512_fmadd_pd(a, b, c);
    }
    __attribute__((target("avx512f,avx2,fma"))) static __m512d
    negMulAdd(const __m512d& a, const __m512d& b, const __m512d& c) {
        return _mm512_fnmadd_pd(a, b, c);
    }
};

// Section S of both packs on sample t (its input the difference section S - 1 made in the step
// before), as runSection does for one.
template <int S>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void
pairSection(PackPair& p, const double* differences, std::size_t t) {
    __m512d in = S == 0 ? _mm512_set1_pd(differences[t]) : p.inputs[S];
    filterSection<Avx512Fma>(in, p.a1[S], p.a2[S], p.y1[S], p.y2[S]);
    if constexpr (S < kBandPassSections - 1)
        p.inputs[S + 1] = in;
    else
        p.energy = Avx512Fma::mulAdd(p.y1[S], p.y1[S], p.energy);
}

__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void
filterPackPair(Pack& low, Pack& high, const double* differences, std::size_t count) {
    static_assert(kBandPassSections == 4, "the step below names each section");
    const std::size_t steps = count + kLagOfLast;
    std::size_t t = std::min(kLagOfLast, count);
    partialSteps<AvxFma>(low, differences, count, 0, t);
    partialSteps<AvxFma>(high, differences, count, 0, t);
    if (t < count) {
        PackPair p;
#pragma GCC unroll 4
        for (int s = 0; s < kBandPassSections; ++s) {
            p.a1[s] = PackPair::join(low.a1[s], high.a1[s]);
            p.a2[s] = PackPair::join(low.a2[s], high.a2[s]);
            p.y1[s] = PackPair::join(low.y1[s], high.y1[s]);
            p.y2[s] = PackPair::join(low.y2[s], high.y2[s]);
            p.inputs[s] = PackPair::join(low.inputs[s], high.inputs[s]);
        }
        p.energy = PackPair::join(low.energy, high.energy);
        for (; t < count; ++t) {
            pairSection<3>(p, differences, t);
            pairSection<2>(p, differences, t);
            pairSection<1>(p, differences, t);
            pairSection<0>(p, differences, t);
        }
#pragma GCC unroll 4
        for (int s = 0; s < kBandPassSections; ++s) {
            PackPair::split(p.y1[s], low.y1[s], high.y1[s]);
            PackPair::split(p.y2[s], low.y2[s], high.y2[s]);
            PackPair::split(p.inputs[s], low.inputs[s], high.inputs[s]);
        }
        PackPair::split(p.energy, low.energy, high.energy);
    }
    partialSteps<AvxFma>(low, differences, count, t, steps);
    partialSteps<AvxFma>(high, differences, count, t, steps);
}
#pragma GCC diagnostic pop
#endif

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

__attribute__((target("avx512f,avx2,fma"), flatten)) void
filterPacksAvx512(Pack* packs, std::size_t packCount, const double* samples, std::size_t count,
                  double before2, double before1, double* differences) {
    differencesOf(samples, count, before2, before1, differences);
    std::size_t p = 0;
    for (; p + 2 <= packCount; p += 2)
        filterPackPair(packs[p], packs[p + 1], differences, count);
    if (p < packCount)
        filterPack<AvxFma>(packs[p], differences, count);
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
        while (f.bands[j].upperEdgeHz <= kBandTopOfRate * rate / 2.0) {
            rate /= 2.0;
            ++stageOf[j];
        }
        if (stageOf[j] == 1)
            stageOf[j] = 0;
        stageCount = std::max(stageCount, stageOf[j] + 1);
    }
    f.stages.resize(stageCount);
    f.decimators.resize(stageCount > 0 ? stageCount - 1 : 0);
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
        if (useAvx512Lanes())
            filterPacksAvx512(stage.packs.data(), stage.packs.size(), samples, count,
                              stage.previous2, stage.previous1, stage.differences.data());
        else if (useAvx2Lanes())
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
