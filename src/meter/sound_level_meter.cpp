#include "meter/sound_level_meter.h"

#include "meter/biquad.h"
#include "meter/lanes.h"
#include "meter/level_statistics.h"
#include "meter/peak_detector.h"
#include "meter/side_thread.h"
#include "meter/weighting_sections.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace korv::meter {
namespace {

constexpr std::int64_t kNoEnd = std::numeric_limits<std::int64_t>::max();
// Frames taken through the stages at a time, so that their buffers stay in the cache.
constexpr std::size_t kChunkFrames = 2048;
// The shortest block whose bands are worth filtering on the side thread (a file's blocks;
// a live display's 10 ms steps stay on the caller's).
constexpr std::size_t kSideThreadFrames = 8 * kChunkFrames;

// An interval whose levels are being gathered: the stages (integration, time weighting, peak)
// run at their own pace and each fills in its part.
struct Pending {
    IntervalLevels levels;
    bool integrated = false;
    bool banded = false; // or no bands
    bool timed = false;
    bool peaked = false;
    double maxSquare = 0.0; // of the time-weighted mean square
    double minSquare = 0.0;
    double peak = 0.0; // magnitude of the C-weighted signal
};

// Running sum with the error of each addition carried (Neumaier), for the whole signal.
struct CompensatedSum {
    double sum = 0.0;
    double carry = 0.0;
    void add(double x) {
        const double t = sum + x;
        carry += std::abs(sum) >= std::abs(x) ? (sum - t) + x : (x - t) + sum;
        sum = t;
    }
    [[nodiscard]] double value() const { return sum + carry; }
};

// `count` samples into `out`, each that is no finite number as 0; returns how many were not.
std::int64_t zeroNonFinitePlain(const double* in, std::size_t count, double* out) {
    std::int64_t notFinite = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const bool finite = std::isfinite(in[i]);
        out[i] = finite ? in[i] : 0.0;
        notFinite += finite ? 0 : 1;
    }
    return notFinite;
}

#if defined(KORV_METER_AVX2)
// Four at a time: x - x is 0 for every finite x and NaN for the rest.
__attribute__((target("avx2,fma"))) std::int64_t zeroNonFiniteAvx2(const double* in,
                                                                   std::size_t count, double* out) {
    using Mask = long long __attribute__((vector_size(kLanes * sizeof(long long))));
    Mask notFinite{0, 0, 0, 0};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const Lanes x = loadLanes(in + i);
        const Mask finite = (x - x) == broadcastLanes(0.0); // all ones where finite
        storeLanes(out + i, finite ? x : broadcastLanes(0.0));
        notFinite += finite + 1;
    }
    return notFinite[0] + notFinite[1] + notFinite[2] + notFinite[3] +
           zeroNonFinitePlain(in + i, count - i, out + i);
}
#endif

std::int64_t zeroNonFinite(const double* in, std::size_t count, double* out) {
#if defined(KORV_METER_AVX2)
    if (useAvx2Lanes())
        return zeroNonFiniteAvx2(in, count, out);
#endif
    return zeroNonFinitePlain(in, count, out);
}

void validate(const MeterSettings& s) {
    if (!(s.sampleRate >= kLowestMeterRate) || !std::isfinite(s.sampleRate))
        throw std::invalid_argument("sample rate out of range");
    if (!(s.intervalSeconds >= 0.0) || !std::isfinite(s.intervalSeconds))
        throw std::invalid_argument("interval must be zero or positive");
    if (s.intervalSeconds > 0.0 && s.intervalSeconds * s.sampleRate < 1.0)
        throw std::invalid_argument("interval shorter than a sample");
}

} // namespace

// The bands: the bank and its own count of the frames and intervals, so that it can run on a
// side thread beside the broadband levels and give the same values. Each interval's mean
// squares wait in `closed` until the caller's thread takes them.
struct BandPart {
    BandPart(const BandSpec& spec, double rate) : bank(spec, rate) {}
    OctaveBank bank;
    std::int64_t frames = 0;
    std::int64_t interval = 0;
    std::vector<std::pair<std::int64_t, std::vector<double>>> closed;
};

struct SoundLevelMeter::State {
    State(const MeterSettings& s, MeterCores c)
        : settings(s), cores(c), tw(s.timeWeighting, s.sampleRate) {
        // One cascade: C, then for A the sections from C to A, the C signal tapped between.
        auto sections = cWeightingSections(s.sampleRate);
        cSections = sections.size();
        if (s.weighting == FrequencyWeighting::A) {
            const auto rest = aFromCSections(s.sampleRate, sections);
            sections.insert(sections.end(), rest.begin(), rest.end());
        }
        weighting = BiquadCascade(sections);
        if (!s.correction.empty())
            correction = BiquadCascade(designCorrectionFilter(s.correction, s.sampleRate));
        if (s.bands) {
            bands.emplace(*s.bands, s.sampleRate);
            for (const Band& band : bands->bank.bands())
                bandCorrectionDb.push_back(correctionDbAt(s.correction, band.midHz));
        }
    }

    // Interval k's end, exclusive.
    [[nodiscard]] std::int64_t endOf(std::int64_t k) const {
        if (settings.intervalSeconds <= 0.0)
            return kNoEnd;
        return std::llround(double(k + 1) * settings.intervalSeconds * settings.sampleRate);
    }
    [[nodiscard]] std::int64_t startOf(std::int64_t k) const { return k == 0 ? 0 : endOf(k - 1); }

    Pending& slot(std::int64_t k) {
        while (firstPending + std::int64_t(pending.size()) <= k) {
            const std::int64_t index = firstPending + std::int64_t(pending.size());
            Pending p;
            p.levels.startFrame = startOf(index);
            p.levels.endFrame = endOf(index);
            pending.push_back(std::move(p));
        }
        return pending[static_cast<std::size_t>(k - firstPending)];
    }

    [[nodiscard]] std::span<const double> sanitize(std::span<const double> samples);
    [[nodiscard]] bool bandsBeside(std::size_t blockFrames);
    void awaitBands();
    void feedChunk(std::span<const double> input);
    void filterBands(std::span<const double> input);
    void closeBands();
    void takeBandLevels();
    void integrate(std::span<const double> weighted);
    void closeIntegration(std::int64_t end);
    void timeWeigh(std::span<const double> squares);
    [[nodiscard]] double startMeanSquare() const;
    void startTimeWeighting();
    void runTimeWeighting(std::span<const double> squares);
    void closeTiming(std::int64_t end);
    void scanPeaks();
    void closePeak(std::int64_t end);
    void emit(const IntervalSink& sink);

    MeterSettings settings;
    MeterCores cores;
    std::vector<Band> noBands;
    std::optional<BiquadCascade> correction;
    BiquadCascade weighting;
    std::size_t cSections = 0;
    TimeWeightedSquare tw;
    std::optional<BandPart> bands;
    std::vector<double> bandCorrectionDb;
    PeakDetector peaks;
    std::deque<Pending> pending;
    std::int64_t firstPending = 0;
    bool finished = false;

    // Integration: the frames fed, the interval they are in and its sum of squares.
    std::int64_t frames = 0;
    std::int64_t integrationInterval = 0;
    double evenSum = 0.0; // the interval's squares at even frames
    double oddSum = 0.0;
    CompensatedSum totalSum;

    // Time weighting: the squares of the first τ until it starts, then its progress.
    bool started = false;
    std::vector<double> startSquares;
    std::int64_t timedFrames = 0;
    std::int64_t timingInterval = 0;
    double maxSquare = 0.0;
    double minSquare = std::numeric_limits<double>::infinity();
    double allMaxSquare = 0.0;
    double allMinSquare = std::numeric_limits<double>::infinity();
    LevelHistogram statistics;
    std::int64_t statisticsIndex = 1; // the next 10 ms sample's number
    double lastSquare = 0.0;

    // Peak: the interval being scanned and its peak so far.
    std::int64_t peakInterval = 0;
    double peak = 0.0;
    double allPeak = 0.0;

    std::int64_t nonFinite = 0;
    std::vector<double> broadband, cWeighted, squares, timed;
    // The fed blocks, sanitised, in turn: the side thread filters one block's bands while the
    // next is read and sanitised into the other and its broadband levels measured.
    std::array<std::vector<double>, 2> blocks;
    std::size_t nextBlock = 0;
    bool bandsPending = false; // the side thread has a block's bands
    // Last, so that it ends (and its task with it) before the parts its task works on.
    std::unique_ptr<SideThread> side;
};

std::span<const double> SoundLevelMeter::State::sanitize(std::span<const double> samples) {
    // A sample that is no number (a damaged float file) is taken as silence and counted, so
    // it cannot spoil the filters for the rest of the signal.
    std::vector<double>& raw = blocks[nextBlock];
    nextBlock = 1 - nextBlock;
    raw.resize(samples.size());
    nonFinite += zeroNonFinite(samples.data(), samples.size(), raw.data());
    return raw;
}

// Whether this block's bands go to the side thread, started the first time; without a
// thread to be had everything runs on the caller's, only slower.
bool SoundLevelMeter::State::bandsBeside(std::size_t blockFrames) {
    if (cores != MeterCores::Two || !bands || blockFrames < kSideThreadFrames)
        return false;
    if (!side) {
        try {
            side = std::make_unique<SideThread>();
        } catch (const std::system_error&) {
            cores = MeterCores::One;
            return false;
        }
    }
    return true;
}

void SoundLevelMeter::State::feedChunk(std::span<const double> samples) {
    const std::size_t count = samples.size();
    // The main weighting's signal in `broadband`, the C-weighted one in `cWeighted`.
    std::span<const double> input = samples;
    broadband.resize(count);
    if (correction) {
        correction->process(samples, broadband);
        input = broadband;
    }
    std::span<const double> weighted = broadband;
    std::span<const double> cSignal = broadband;
    switch (settings.weighting) {
    case FrequencyWeighting::A:
        cWeighted.resize(count);
        weighting.process(input, broadband, cWeighted, cSections);
        cSignal = cWeighted;
        break;
    case FrequencyWeighting::C:
        weighting.process(input, broadband);
        break;
    case FrequencyWeighting::Z:
        cWeighted.resize(count);
        weighting.process(input, cWeighted);
        weighted = input;
        cSignal = cWeighted;
        break;
    }
    peaks.push(cSignal);
    integrate(weighted);
    timeWeigh(squares);
    scanPeaks();
}

void SoundLevelMeter::State::integrate(std::span<const double> weighted) {
    squares.resize(weighted.size());
    std::size_t at = 0;
    while (at < weighted.size()) {
        const std::int64_t end = endOf(integrationInterval);
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::int64_t>(std::int64_t(weighted.size() - at), end - frames));
        // Two sums, of even and of odd frames, halve the wait on each addition; which
        // sum a frame goes to depends on its place in the signal, never on the block.
        const double* w = weighted.data();
        double* sq = squares.data();
        std::size_t i = at;
        if ((frames & 1) != 0 && i < at + n) {
            sq[i] = w[i] * w[i];
            oddSum += sq[i++];
        }
        double even = evenSum;
        double odd = oddSum;
        for (; i + 1 < at + n; i += 2) {
            sq[i] = w[i] * w[i];
            sq[i + 1] = w[i + 1] * w[i + 1];
            even += sq[i];
            odd += sq[i + 1];
        }
        if (i < at + n) {
            sq[i] = w[i] * w[i];
            even += sq[i];
        }
        evenSum = even;
        oddSum = odd;
        frames += std::int64_t(n);
        at += n;
        if (frames == end)
            closeIntegration(end);
    }
}

void SoundLevelMeter::State::closeIntegration(std::int64_t end) {
    Pending& p = slot(integrationInterval);
    p.levels.endFrame = end;
    const double length = double(end - p.levels.startFrame);
    const double intervalSum = evenSum + oddSum;
    p.levels.leq = levelOfMeanSquare(intervalSum / length).value;
    p.integrated = true;
    p.banded = p.banded || !bands;
    totalSum.add(intervalSum);
    evenSum = 0.0;
    oddSum = 0.0;
    ++integrationInterval;
}

// The band filters on the input (Z-weighted, uncorrected), cut at the intervals' ends.
void SoundLevelMeter::State::filterBands(std::span<const double> input) {
    BandPart& b = *bands;
    std::size_t at = 0;
    while (at < input.size()) {
        const std::int64_t end = endOf(b.interval);
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(std::int64_t(input.size() - at), end - b.frames));
        b.bank.process(input.subspan(at, n));
        b.frames += std::int64_t(n);
        at += n;
        if (b.frames == end)
            closeBands();
    }
}

void SoundLevelMeter::State::closeBands() {
    BandPart& b = *bands;
    std::vector<double> meanSquares(b.bank.bands().size());
    b.bank.takeMeanSquares(meanSquares);
    b.closed.emplace_back(b.interval++, std::move(meanSquares));
}

// The bands of the block on the side thread done, and their intervals' levels taken.
void SoundLevelMeter::State::awaitBands() {
    if (bandsPending) {
        bandsPending = false;
        side->wait();
    }
    takeBandLevels();
}

// On the caller's thread, while the side thread has no block.
void SoundLevelMeter::State::takeBandLevels() {
    if (!bands)
        return;
    for (auto& [interval, meanSquares] : bands->closed) {
        Pending& p = slot(interval);
        p.levels.bandLeq.resize(meanSquares.size());
        for (std::size_t j = 0; j < meanSquares.size(); ++j)
            p.levels.bandLeq[j] = levelOfMeanSquare(meanSquares[j]).value + bandCorrectionDb[j];
        p.banded = true;
    }
    bands->closed.clear();
}

void SoundLevelMeter::State::timeWeigh(std::span<const double> sq) {
    if (started) {
        runTimeWeighting(sq);
        return;
    }
    const auto need = static_cast<std::size_t>(tw.startFrames()) - startSquares.size();
    const std::size_t take = std::min(need, sq.size());
    startSquares.insert(startSquares.end(), sq.begin(), sq.begin() + long(take));
    if (startSquares.size() < static_cast<std::size_t>(tw.startFrames()))
        return;
    startTimeWeighting();
    runTimeWeighting(sq.subspan(take));
}

double SoundLevelMeter::State::startMeanSquare() const {
    double sum = 0.0;
    for (double s : startSquares)
        sum += s;
    return startSquares.empty() ? 0.0 : sum / double(startSquares.size());
}

void SoundLevelMeter::State::startTimeWeighting() {
    tw.start(startMeanSquare());
    started = true;
    std::vector<double> first;
    first.swap(startSquares);
    runTimeWeighting(first);
}

void SoundLevelMeter::State::runTimeWeighting(std::span<const double> sq) {
    timed.resize(sq.size());
    const double statisticsFrames = kStatisticsStepSeconds * settings.sampleRate;
    std::size_t at = 0;
    while (at < sq.size()) {
        const std::int64_t end = endOf(timingInterval);
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::int64_t>(std::int64_t(sq.size() - at), end - timedFrames));
        SquareRange range{maxSquare, minSquare};
        tw.process(sq.subspan(at, n), std::span(timed).subspan(at, n), range);
        maxSquare = range.max;
        minSquare = range.min;
        // The 10 ms samples: the level after the last frame of each 10 ms.
        const std::int64_t segmentEnd = timedFrames + std::int64_t(n);
        for (;;) {
            const std::int64_t frame = std::llround(double(statisticsIndex) * statisticsFrames) - 1;
            if (frame >= segmentEnd)
                break;
            statistics.add(levelOfMeanSquare(timed[at + std::size_t(frame - timedFrames)]).value);
            ++statisticsIndex;
        }
        timedFrames = segmentEnd;
        at += n;
        if (timedFrames == end)
            closeTiming(end);
    }
    if (!timed.empty())
        lastSquare = timed.back();
}

void SoundLevelMeter::State::closeTiming(std::int64_t end) {
    Pending& p = slot(timingInterval);
    p.levels.endFrame = end;
    p.levels.lmax = levelOfMeanSquare(maxSquare).value;
    p.levels.lmin = levelOfMeanSquare(minSquare).value;
    p.timed = true;
    allMaxSquare = std::max(allMaxSquare, maxSquare);
    allMinSquare = std::min(allMinSquare, minSquare);
    maxSquare = 0.0;
    minSquare = std::numeric_limits<double>::infinity();
    ++timingInterval;
}

void SoundLevelMeter::State::scanPeaks() {
    for (;;) {
        const std::int64_t end = endOf(peakInterval);
        const std::int64_t reach = std::min(end, peaks.scannable());
        peak = peaks.scanTo(reach, peak);
        if (reach < end)
            return;
        closePeak(end);
    }
}

void SoundLevelMeter::State::closePeak(std::int64_t end) {
    Pending& p = slot(peakInterval);
    p.levels.endFrame = end;
    p.levels.lcpeak = levelOfMeanSquare(peak * peak).value;
    p.peaked = true;
    allPeak = std::max(allPeak, peak);
    peak = 0.0;
    ++peakInterval;
}

void SoundLevelMeter::State::emit(const IntervalSink& sink) {
    while (!pending.empty() && pending.front().integrated && pending.front().banded &&
           pending.front().timed && pending.front().peaked) {
        if (sink)
            sink(pending.front().levels);
        pending.pop_front();
        ++firstPending;
    }
}

SoundLevelMeter::SoundLevelMeter(const MeterSettings& settings, MeterCores cores) {
    validate(settings);
    state_ = std::make_unique<State>(settings, cores);
}

SoundLevelMeter::SoundLevelMeter(SoundLevelMeter&&) noexcept = default;
SoundLevelMeter& SoundLevelMeter::operator=(SoundLevelMeter&&) noexcept = default;
SoundLevelMeter::~SoundLevelMeter() = default;

const MeterSettings& SoundLevelMeter::settings() const {
    return state_->settings;
}

const std::vector<Band>& SoundLevelMeter::bands() const {
    return state_->bands ? state_->bands->bank.bands() : state_->noBands;
}

void SoundLevelMeter::feed(std::span<const double> samples, const IntervalSink& onInterval) {
    State& s = *state_;
    if (s.finished)
        throw std::logic_error("the meter has finished");
    const std::span<const double> input = s.sanitize(samples);
    for (std::size_t done = 0; done < input.size(); done += kChunkFrames)
        s.feedChunk(input.subspan(done, std::min(kChunkFrames, input.size() - done)));
    // The block before's bands first: the bank takes the blocks in order.
    s.awaitBands();
    if (s.bandsBeside(input.size())) {
        s.side->run([&s, input] { s.filterBands(input); });
        s.bandsPending = true;
    } else if (s.bands) {
        s.filterBands(input);
        s.takeBandLevels();
    }
    s.emit(onInterval);
}

void SoundLevelMeter::finish(const IntervalSink& onInterval) {
    State& s = *state_;
    if (s.finished)
        return;
    s.finished = true;
    s.awaitBands();
    if (!s.started && !s.startSquares.empty())
        s.startTimeWeighting(); // shorter than τ: the whole signal's mean square starts it
    s.peaks.pushEnd();
    s.scanPeaks();
    const std::int64_t last = s.frames;
    if (last > s.startOf(s.integrationInterval)) {
        s.closeIntegration(last);
        if (s.bands)
            s.closeBands();
        s.takeBandLevels();
        s.closeTiming(last);
        s.peak = s.peaks.scanTo(last, s.peak);
        s.closePeak(last);
    }
    s.emit(onInterval);
}

MeterSummary SoundLevelMeter::summary() const {
    const State& s = *state_;
    MeterSummary m;
    m.frames = s.frames;
    m.nonFiniteSamples = s.nonFinite;
    const double sum = s.totalSum.value() + s.evenSum + s.oddSum;
    m.leq = s.frames > 0 ? levelOfMeanSquare(sum / double(s.frames)).value : kSilenceFloorDbFs;
    m.le = levelOfMeanSquare(sum / s.settings.sampleRate).value;
    const double mx = std::max(s.allMaxSquare, s.maxSquare);
    const double mn = std::min(s.allMinSquare, s.minSquare);
    m.lmax = levelOfMeanSquare(mx).value;
    m.lmin = std::isfinite(mn) ? levelOfMeanSquare(mn).value : kSilenceFloorDbFs;
    const double pk = std::max(s.allPeak, s.peak);
    m.lcpeak = levelOfMeanSquare(pk * pk).value;
    LevelHistogram const& h = s.statistics;
    if (h.count() > 0) {
        m.l5 = h.exceeded(5.0);
        m.l10 = h.exceeded(10.0);
        m.l50 = h.exceeded(50.0);
        m.l90 = h.exceeded(90.0);
        m.l95 = h.exceeded(95.0);
    } else {
        m.l5 = m.l10 = m.l50 = m.l90 = m.l95 = levelOfMeanSquare(s.lastSquare).value;
    }
    return m;
}

double SoundLevelMeter::levelNow() const {
    const State& s = *state_;
    return levelOfMeanSquare(s.started ? s.tw.value() : s.startMeanSquare()).value;
}

} // namespace korv::meter
