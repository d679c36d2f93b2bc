#include "meter/calibrator.h"

#include "meter/octave_bank.h"
#include "meter/time_weighting.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>
#include <numbers>
#include <vector>

namespace korv::meter {
namespace {

constexpr double kPieceSeconds = 0.1;
constexpr double kLongestSeconds = 600.0;
constexpr double kDcCornerHz = 2.0;
// A piece is a tone when its loudest third-octave band, with the louder of its neighbours (a
// tone near a band edge is split between the two), holds this share of its energy.
constexpr double kToneShare = 0.9;
constexpr std::array<double, 2> kCalibratorHz{1000.0, 250.0};

struct Piece {
    double meanSquare = 0.0;
    double toneShare = 0.0;
    double minLevel = 0.0; // F-weighted, dB
    double maxLevel = 0.0;
    std::int64_t crossings = 0; // rising zero crossings in the piece
    double firstCrossing = 0.0; // their times, frames from the start
    double lastCrossing = 0.0;
};

std::string format(const char* pattern, double a, double b = 0.0) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

} // namespace

struct CalibratorAnalysis::State {
    State(double sampleRate, double levelDb)
        : rate(sampleRate), level(levelDb), tw(TimeWeighting::F, sampleRate),
          bank(BandSpec{3, 25.0, std::min(20000.0, sampleRate * 0.45)}, sampleRate),
          pieceFrames(std::max<std::int64_t>(1, std::llround(kPieceSeconds * sampleRate))),
          dcPole(std::exp(-2.0 * std::numbers::pi * kDcCornerHz / sampleRate)) {
        bandSquares.resize(bank.bands().size());
    }

    void endPiece();

    double rate;
    double level;
    TimeWeightedSquare tw;
    OctaveBank bank;
    std::int64_t pieceFrames;
    double dcPole;
    double dcIn = 0.0, dcOut = 0.0; // the high-pass's state
    std::int64_t frames = 0;
    bool started = false;
    std::vector<double> startSquares;
    Piece current;
    bool anyCrossing = false;
    double previous = 0.0;
    std::vector<Piece> pieces;
    std::vector<double> bandSquares, block, squares, timed;
};

void CalibratorAnalysis::State::endPiece() {
    bank.takeMeanSquares(bandSquares);
    double total = 0.0;
    for (double b : bandSquares)
        total += b;
    double loudest = 0.0;
    if (!bandSquares.empty()) {
        const auto top = std::max_element(bandSquares.begin(), bandSquares.end());
        const double below = top == bandSquares.begin() ? 0.0 : *(top - 1);
        const double above = top + 1 == bandSquares.end() ? 0.0 : *(top + 1);
        loudest = *top + std::max(below, above);
    }
    current.meanSquare /= double(pieceFrames);
    current.toneShare = total > 0.0 ? loudest / total : 0.0;
    pieces.push_back(current);
    current = Piece{};
    anyCrossing = false;
}

CalibratorAnalysis::CalibratorAnalysis(double sampleRate, double calibratorLevelDb)
    : state_(std::make_unique<State>(sampleRate, calibratorLevelDb)) {}
CalibratorAnalysis::CalibratorAnalysis(CalibratorAnalysis&&) noexcept = default;
CalibratorAnalysis& CalibratorAnalysis::operator=(CalibratorAnalysis&&) noexcept = default;
CalibratorAnalysis::~CalibratorAnalysis() = default;

void CalibratorAnalysis::feed(std::span<const double> samples) {
    State& s = *state_;
    const auto longest = static_cast<std::int64_t>(kLongestSeconds * s.rate);
    std::size_t at = 0;
    while (at < samples.size() && s.frames < longest) {
        // Up to the end of the current piece.
        const std::int64_t inPiece = s.frames % s.pieceFrames;
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(std::int64_t(samples.size() - at), s.pieceFrames - inPiece));
        s.block.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double x = std::isfinite(samples[at + i]) ? samples[at + i] : 0.0;
            s.dcOut = s.dcPole * (s.dcOut + x - s.dcIn);
            s.dcIn = x;
            s.block[i] = s.dcOut;
        }
        s.bank.process(s.block);
        s.squares.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double y = s.block[i];
            s.squares[i] = y * y;
            s.current.meanSquare += y * y;
            if (s.previous < 0.0 && y >= 0.0) {
                const double t = double(s.frames + std::int64_t(i)) - y / (y - s.previous);
                if (!s.anyCrossing)
                    s.current.firstCrossing = t;
                s.current.lastCrossing = t;
                s.anyCrossing = true;
                ++s.current.crossings;
            }
            s.previous = y;
        }
        // The F-weighted level, started from its first τ as the meter does.
        std::span<const double> sq = s.squares;
        if (!s.started) {
            const auto need = static_cast<std::size_t>(s.tw.startFrames()) - s.startSquares.size();
            const std::size_t take = std::min(need, sq.size());
            s.startSquares.insert(s.startSquares.end(), sq.begin(), sq.begin() + long(take));
            sq = sq.subspan(take);
            if (s.startSquares.size() == static_cast<std::size_t>(s.tw.startFrames())) {
                double sum = 0.0;
                for (double v : s.startSquares)
                    sum += v;
                s.tw.start(sum / double(s.startSquares.size()));
                s.started = true;
                // The first τ's own levels: the start value held.
                s.current.minLevel = s.current.maxLevel = levelOfMeanSquare(s.tw.value()).value;
            }
        }
        if (s.started && !sq.empty()) {
            s.timed.resize(sq.size());
            s.tw.process(sq, s.timed);
            const auto [lo, hi] = std::ranges::minmax_element(s.timed);
            const double loDb = levelOfMeanSquare(*lo).value;
            const double hiDb = levelOfMeanSquare(*hi).value;
            const bool first = s.current.minLevel == 0.0 && s.current.maxLevel == 0.0;
            s.current.minLevel = first ? loDb : std::min(s.current.minLevel, loDb);
            s.current.maxLevel = first ? hiDb : std::max(s.current.maxLevel, hiDb);
        }
        s.frames += std::int64_t(n);
        at += n;
        if (s.frames % s.pieceFrames == 0)
            s.endPiece();
    }
}

CalibratorReading CalibratorAnalysis::reading() const {
    const State& s = *state_;
    CalibratorReading r;
    const auto& p = s.pieces;
    const std::size_t need =
        static_cast<std::size_t>(std::llround(kCalibratorMinSteadySeconds / kPieceSeconds));
    // The longest run of pieces whose F-weighted levels stay within the spread (two ends
    // moving forward, the run's extremes in monotonic queues).
    std::deque<std::size_t> lows;
    std::deque<std::size_t> highs;
    std::size_t bestFrom = 0;
    std::size_t bestLength = 0;
    double leastSpread = std::numeric_limits<double>::infinity(); // of any `need` pieces
    for (std::size_t from = 0, to = 0; to < p.size(); ++to) {
        while (!lows.empty() && p[lows.back()].minLevel >= p[to].minLevel)
            lows.pop_back();
        lows.push_back(to);
        while (!highs.empty() && p[highs.back()].maxLevel <= p[to].maxLevel)
            highs.pop_back();
        highs.push_back(to);
        // A piece that alone varies more empties the run.
        while (!lows.empty() && !highs.empty() &&
               p[highs.front()].maxLevel - p[lows.front()].minLevel > kCalibratorMaxSpreadDb) {
            ++from;
            if (lows.front() < from)
                lows.pop_front();
            if (!highs.empty() && highs.front() < from)
                highs.pop_front();
        }
        if (to + 1 - from > bestLength) {
            bestLength = to + 1 - from;
            bestFrom = from;
        }
    }
    for (std::size_t from = 0; from + need <= p.size(); ++from) {
        double lo = std::numeric_limits<double>::infinity();
        double hi = -lo;
        for (std::size_t k = from; k < from + need; ++k) {
            lo = std::min(lo, p[k].minLevel);
            hi = std::max(hi, p[k].maxLevel);
        }
        leastSpread = std::min(leastSpread, hi - lo);
    }
    // The part judged: the steady run, or the whole recording when there is none.
    std::size_t from = bestFrom;
    std::size_t length = bestLength;
    if (length < need) {
        from = 0;
        length = p.size();
    }
    std::size_t tonal = 0;
    double sum = 0.0;
    std::int64_t crossings = 0;
    double first = -1.0;
    double last = 0.0;
    for (std::size_t k = from; k < from + length; ++k) {
        tonal += p[k].toneShare >= kToneShare ? 1 : 0;
        sum += p[k].meanSquare;
        if (p[k].crossings > 0) {
            if (first < 0.0)
                first = p[k].firstCrossing;
            last = p[k].lastCrossing;
            crossings += p[k].crossings;
        }
    }
    r.steadySeconds = double(bestLength) * kPieceSeconds;
    r.steadinessDb = bestLength >= need ? kCalibratorMaxSpreadDb : leastSpread;
    if (bestLength >= need) {
        double lo = std::numeric_limits<double>::infinity();
        double hi = -lo;
        for (std::size_t k = from; k < from + length; ++k) {
            lo = std::min(lo, p[k].minLevel);
            hi = std::max(hi, p[k].maxLevel);
        }
        r.steadinessDb = hi - lo;
    }
    r.toneHz =
        crossings > 1 && last > first ? double(crossings - 1) * s.rate / (last - first) : 0.0;
    r.leq = length > 0 ? levelOfMeanSquare(sum / double(length)) : DbFs{kSilenceFloorDbFs};
    const bool known = std::ranges::any_of(kCalibratorHz, [&](double hz) {
        return std::abs(r.toneHz - hz) <= kCalibratorFrequencyTolerance * hz;
    });
    if (p.empty())
        r.verdict = CalibratorVerdict::TooShort;
    else if (2 * tonal < length)
        r.verdict = CalibratorVerdict::Noise;
    else if (!known)
        r.verdict = CalibratorVerdict::WrongFrequency;
    else if (p.size() < need)
        r.verdict = CalibratorVerdict::TooShort;
    else if (bestLength < need)
        r.verdict = CalibratorVerdict::NotSteady;
    else {
        r.verdict = CalibratorVerdict::Accepted;
        r.fullScale = FullScaleLevel{s.level - r.leq.value};
    }
    return r;
}

std::string calibratorReason(const CalibratorReading& reading) {
    switch (reading.verdict) {
    case CalibratorVerdict::Accepted:
        return {};
    case CalibratorVerdict::Noise:
        return "not a calibrator's tone: the recording is noise or silence";
    case CalibratorVerdict::WrongFrequency:
        return format(
            "not a calibrator's tone: it is at %.1f Hz, not 1000 Hz or 250 Hz within 2 %%",
            reading.toneHz);
    case CalibratorVerdict::TooShort:
        return format("too short: %.1f s of steady tone, at least %.0f s needed",
                      reading.steadySeconds, kCalibratorMinSteadySeconds);
    case CalibratorVerdict::NotSteady:
        return format("not a steady tone: the level varies by %.1f dB over every 3 s (at most "
                      "0.2 dB)",
                      reading.steadinessDb);
    }
    return {};
}

} // namespace korv::meter
