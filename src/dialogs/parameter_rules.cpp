#include "dialogs/parameter_rules.h"

#include "analysis/frequency_scale.h"
#include "analysis/parameters.h"
#include "dialogs/control_ids.h"
#include "display/plot_layout.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace korv {

namespace {

// Rounds down toward minus infinity to a multiple of m (the scroll positions can go negative
// for a moment before they are clamped).
long floorToMultiple(long value, long m) {
    long r = value % m;
    if (r < 0) {
        r += m;
    }
    return value - r;
}

} // namespace

int clampTo(long value, ScrollRange range) {
    return static_cast<int>(std::clamp<long>(value, range.min, std::max(range.min, range.max)));
}

int stepScroll(int value, ScrollAction action, int thumbPosition, ScrollRange range, int lineStep,
               int pageStep, int thumbMultiple) {
    // The image bars' step, moved to the range's origin.
    const long thumb = floorToMultiple(thumbPosition, std::max(1, thumbMultiple));
    return range.min + stepScroll(clampTo(value, range) - range.min,
                                  std::max(range.min, range.max) - range.min, action, lineStep,
                                  pageStep, clampTo(thumb, range) - range.min);
}

int stepBandLimit(int value, ScrollAction action, int thumbPosition, ScrollRange range,
                  BandLimit which, bool logScale) {
    constexpr long line = 10;
    constexpr long page = 100;
    const long x = value;
    long next = x;
    switch (action) {
    case ScrollAction::LineBack:
        next = x - line;
        break;
    case ScrollAction::LineForward:
        next = x + line;
        break;
    case ScrollAction::PageForward:
        next = floorToMultiple(x + page, page);
        break;
    case ScrollAction::PageBack:
        next = x - page;
        if (which == BandLimit::High || (logScale && next > page)) {
            next = floorToMultiple(next, page);
        }
        break;
    case ScrollAction::Thumb:
        next = floorToMultiple(thumbPosition, line);
        break;
    case ScrollAction::Other:
        break;
    }
    return clampTo(next, range);
}

ScrollRange lowBandRange(FrequencyScale scale, std::int32_t sampleRate) {
    if (scale == FrequencyScale::Log) {
        return LOG_LOW_BAND_RANGE;
    }
    return highBandRange(sampleRate);
}

ScrollRange highBandRange(std::int32_t sampleRate) {
    return {0, std::max(0, sampleRate / 2)};
}

std::vector<int> sampleRateCandidates() {
    std::vector<int> rates;
    for (const SampleRateChoice& c : SAMPLE_RATE_CHOICES) {
        rates.push_back(c.hz);
    }
    return rates;
}

std::vector<int> classicSampleRates() {
    std::vector<int> rates;
    for (const SampleRateChoice& c : SAMPLE_RATE_CHOICES) {
        if (c.id >= SAMPLE_RATE_5K && c.id <= SAMPLE_RATE_48K) {
            rates.push_back(c.hz);
        }
    }
    return rates;
}

std::int32_t offeredSampleRateHz(std::int32_t rateHz, const std::vector<int>& offered) {
    const std::vector<int> rates = offered.empty() ? classicSampleRates() : offered;
    const std::int32_t wanted = rateHz;
    const SampleRateChoice* best = nullptr;
    for (const SampleRateChoice& c : SAMPLE_RATE_CHOICES) {
        if (std::find(rates.begin(), rates.end(), c.hz) == rates.end()) {
            continue;
        }
        if (c.hz == wanted) {
            return c.hz;
        }
        // Rising order: of two as near, the later (higher) one wins.
        if (best == nullptr || std::abs(c.hz - wanted) <= std::abs(best->hz - wanted)) {
            best = &c;
        }
    }
    return best != nullptr ? best->hz : rateHz;
}

std::int32_t levelScaleCodeFor(DbRange range) {
    switch (range) {
    case DbRange::Db30:
        return 9;
    case DbRange::Db90:
        return 12;
    case DbRange::Db60:
        break;
    }
    return -9;
}

std::int32_t acceptedNewRate(std::int32_t typed, std::int32_t remembered) {
    if (typed == 0) {
        return remembered;
    }
    return std::clamp(typed, MIN_NEW_SAMPLE_RATE, MAX_FILE_SAMPLE_RATE);
}

std::int64_t rescaleMsec(std::int64_t msec, std::int32_t oldRate, std::int32_t newRate) {
    if (oldRate <= 0 || newRate <= 0 || oldRate == newRate) {
        return msec;
    }
    // Times come from edits of at most ten digits, so the product stays exact in a double.
    const double scaled = static_cast<double>(msec) * oldRate / newRate;
    return static_cast<std::int64_t>(scaled);
}

ThirdOctaveEdges thirdOctaveDisplayEdges(std::int32_t sampleRate, int fftSize) {
    const auto& edges = thirdOctaveEdges();
    if (sampleRate <= 0 || fftSize <= 0) {
        return {};
    }
    const double binWidth = static_cast<double>(sampleRate) / fftSize;
    int first = THIRD_OCTAVE_BANDS - 1;
    for (int i = 1; i < THIRD_OCTAVE_BANDS; ++i) {
        if (edges[static_cast<std::size_t>(i)] - edges[static_cast<std::size_t>(i - 1)] >=
            binWidth) {
            first = i;
            break;
        }
    }
    const int half = sampleRate / 2;
    int top = THIRD_OCTAVE_BANDS - 1;
    for (int i = 0; i < THIRD_OCTAVE_BANDS; ++i) {
        if (half <= edges[static_cast<std::size_t>(i)]) {
            top = i;
            break;
        }
    }
    const int low = edges[static_cast<std::size_t>(first - 1)];
    const int high = edges[static_cast<std::size_t>(top)];
    return {low - low % 10, high - high % 10};
}

std::string formatResolution(double hz) {
    char text[64];
    std::snprintf(text, sizeof text, "%-3.1f", hz);
    return text;
}

std::string formatTimeScale(float msec) {
    char text[64];
    std::snprintf(text, sizeof text, "%-4.2f", static_cast<double>(msec));
    return text;
}

float parseTimeScale(const std::string& text) {
    const double value = std::atof(text.c_str());
    // "nan" is no number of msec: as little a time scale as text that is none.
    if (std::isnan(value)) {
        return 0.0f;
    }
    if (value < 0.0) {
        return NEGATIVE_TIME_SCALE_MSEC;
    }
    // Absurdly large entries stay finite; the caller's range check refuses them.
    return static_cast<float>(
        std::min(value, static_cast<double>(std::numeric_limits<float>::max())));
}

std::int32_t parseSignedInt(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long long>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int64_t parseDigits(const std::string& text) {
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 10 - 9;
    std::int64_t value = 0;
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            break;
        }
        if (value > limit) {
            return std::numeric_limits<std::int64_t>::max() / 10;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

ScreenPoint centredOnScreen(int screenWidth, int screenHeight, int width, int height) {
    return {std::max(0, (screenWidth - width) / 2), std::max(0, (screenHeight - height) / 2)};
}

} // namespace korv
