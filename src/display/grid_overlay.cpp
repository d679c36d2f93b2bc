#include "display/grid_overlay.h"

#include "analysis/parameters.h"
#include "analysis/rounding.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace korv {
namespace {

// Far beyond any real run; hostile values from a settings file stay within 64-bit msec.
constexpr double MAX_FIRST_COLUMN = 1e10;
constexpr double MAX_TICK_TIME_SCALE_MSEC = 1e6;

// Far-off positions (a tick frequency far below the band) are kept clear of the int range.
int truncatedPixel(double value) {
    if (!std::isfinite(value)) {
        return value > 0 ? 1'000'000'000 : -1'000'000'000;
    }
    return static_cast<int>(std::clamp(value, -1e9, 1e9));
}

int roundedPixel(double value) {
    if (!std::isfinite(value)) {
        return truncatedPixel(value);
    }
    return truncatedPixel(static_cast<double>(roundHalfUp(std::clamp(value, -1e9, 1e9))));
}

// The multiple of step at or above value.
long roundUpToMultiple(long value, long step) {
    const long down = (value / step) * step;
    return down < value ? down + step : down;
}

void addCross(ViewDrawing& d, int x, int y, ViewColour colour) {
    d.lines.push_back({{x - GRID_CROSS_ARM, y}, {x + GRID_CROSS_ARM + 1, y}, colour});
    d.lines.push_back({{x, y - GRID_CROSS_ARM}, {x, y + GRID_CROSS_ARM + 1}, colour});
}

void addMark(ViewDrawing& d, int x, int y, bool shadow) {
    if (shadow) {
        addCross(d, x + 1, y + 1, ViewColour::Background);
    }
    addCross(d, x, y, ViewColour::Text);
}

void addLabel(ViewDrawing& d, PixelPoint at, const std::string& text, bool shadow) {
    if (shadow) {
        d.texts.push_back({{at.x + 1, at.y + 1}, text, ViewColour::Background, std::nullopt});
    }
    d.texts.push_back({at, text, ViewColour::Text, std::nullopt});
}

std::vector<FrequencyTick> linearTicks(const ViewGeometry& g, AxisLabels style) {
    const long span = long{g.highBandHz} - g.lowBandHz;
    if (span <= 0) {
        return {};
    }
    const double spanHz = static_cast<double>(span);
    const long step = span < MIN_BAND_WIDTH_HZ ? 1 : nearestGridCandidate(spanHz / 5.0);
    const double stepHz = static_cast<double>(step);
    const long first = roundUpToMultiple(g.lowBandHz, step);
    // A band far wider than the candidates (a hostile settings file) would pile thousands of
    // ticks onto each row; one per row is the most that can be shown.
    const long count = std::min(static_cast<long>(spanHz / stepHz + 1.0), long{g.rows()} + 2);
    const FrequencyAxis axis = g.frequencyAxis();
    const double firstRow = axis.rowOfHz(static_cast<double>(first));
    const int th = g.charHeight;
    // One unit for the whole axis: kHz once it reaches 1 kHz in steps of at least 100 Hz.
    const bool kHz = step >= 100 && first + (count - 1) * step >= 1000;
    const int decimals = step % 1000 == 0 ? 0 : 1;
    std::vector<FrequencyTick> ticks;
    for (long j = 0; j < count; ++j) {
        const double y =
            g.plotHeight - firstRow - axis.rowsOfWidth(static_cast<double>(j) * stepHz) - 1.0;
        FrequencyTick t;
        t.y = roundedPixel(y);
        t.hz = first + j * step;
        t.label = style == AxisLabels::Classic
                      ? formatText("%-4lu", static_cast<unsigned long>(std::max(0L, t.hz)))
                      : frequencyLabel(std::max(0L, t.hz), kHz, decimals);
        t.inLimits = g.stripHeight + th < t.y && t.y < g.plotHeight - 2 * th;
        ticks.push_back(std::move(t));
    }
    return ticks;
}

std::vector<FrequencyTick> logTicks(const ViewGeometry& g, AxisLabels style) {
    if (g.lowBandHz <= 0 || g.highBandHz <= g.lowBandHz) {
        return {};
    }
    const FrequencyAxis axis = g.frequencyAxis();
    const double th = g.charHeight;
    std::vector<FrequencyTick> ticks;
    for (const int hz : logTickHz()) {
        FrequencyTick t;
        t.hz = hz;
        t.y = truncatedPixel(g.plotHeight - axis.rowOfHz(static_cast<double>(t.hz)));
        t.label = style == AxisLabels::Classic
                      ? formatText("%-2lu Hz", static_cast<unsigned long>(t.hz))
                      : frequencyLabel(t.hz, t.hz >= 1000, t.hz % 1000 == 0 ? 0 : 1);
        t.inLimits = g.stripHeight + th / 2.0 < t.y && t.y < g.plotHeight - 1.5 * th;
        ticks.push_back(std::move(t));
    }
    return ticks;
}

// Long times at a fine scale give labels wider than the tick spacing ("1200.0 sec" every 66
// pixels); only every k-th interval is labelled then. Counting k in absolute intervals keeps
// the labels on the same times while the view scrolls.
void labelEveryKth(std::vector<TimeTick>& ticks, long long firstInterval,
                   const TimeAxisInputs& in) {
    std::vector<long> rightEnds(ticks.size(), 0); // where each label ends, with a gap
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        if (ticks[i].inLimits) {
            const std::string& text = ticks[i].label;
            const int width =
                in.textWidth ? in.textWidth(text) : static_cast<int>(text.size()) * in.charWidth;
            rightEnds[i] = long{ticks[i].labelX} + width + std::max(1, in.charWidth);
        }
    }
    const auto shown = [&](std::size_t i, std::size_t k) {
        const long long interval = firstInterval + static_cast<long long>(i);
        return ticks[i].inLimits && interval % static_cast<long long>(k) == 0;
    };
    const auto clear = [&](std::size_t k) {
        std::optional<std::size_t> previous;
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            if (!shown(i, k)) {
                continue;
            }
            if (previous && rightEnds[*previous] > long{ticks[i].labelX}) {
                return false;
            }
            previous = i;
        }
        return true;
    };
    std::size_t k = 1;
    while (k < ticks.size() && !clear(k)) {
        ++k;
    }
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        ticks[i].labelled = shown(i, k);
    }
}

} // namespace

std::string frequencyLabel(long hz, bool kHz, int decimals) {
    if (!kHz) {
        return formatText("%ld Hz", hz);
    }
    return formatText("%.*f kHz", decimals, static_cast<double>(hz) / 1000.0);
}

std::string clockLabel(double msec, bool tenths) {
    const long long units = tenths ? roundHalfUp(std::max(0.0, msec) / 100.0)
                                   : roundHalfUp(std::max(0.0, msec) / 1000.0);
    const long long seconds = tenths ? units / 10 : units;
    const auto hours = static_cast<long long>(seconds / 3600);
    const auto minutes = static_cast<int>(seconds / 60 % 60);
    const auto secs = static_cast<int>(seconds % 60);
    if (tenths) {
        return formatText("%lld:%02d:%02d.%d", hours, minutes, secs, static_cast<int>(units % 10));
    }
    return formatText("%lld:%02d:%02d", hours, minutes, secs);
}

int nearestGridCandidate(double target) {
    int best = GRID_SPACING_CANDIDATES.front();
    for (const int c : GRID_SPACING_CANDIDATES) {
        if (std::abs(c - target) < std::abs(best - target)) {
            best = c;
        }
    }
    return best;
}

std::vector<TimeTick> timeTicks(const TimeAxisInputs& in) {
    // The scale asked for picks the interval; the real column time places the ticks.
    const double asked = in.timeScaleMsec;
    const double ts = in.columnMsec;
    if (!std::isfinite(asked) || asked < 1.0 || asked > MAX_TICK_TIME_SCALE_MSEC ||
        !std::isfinite(ts) || ts <= 0.0 || ts > MAX_TICK_TIME_SCALE_MSEC || in.viewWidth <= 0) {
        return {};
    }
    const double width = in.viewWidth;
    const bool tenths = asked < WHOLE_SECOND_TICKS_MSEC;
    double intervalMsec = 0.0;
    double spacing = 0.0;
    double count = 0.0; // ticks: whole intervals in the view, plus the one at its start
    if (tenths) {
        intervalMsec = asked == 1.0 ? 100.0 : asked <= 3.0 ? 200.0 : 500.0;
        spacing = intervalMsec / ts;
        count = std::trunc(width / spacing) + 1.0;
    } else {
        const double spanSec = width * ts / 1000.0;
        const double intervalSec = nearestGridCandidate(std::trunc(spanSec) / 5.0);
        count = std::trunc(spanSec / intervalSec) + 1.0;
        spacing = width / (spanSec / intervalSec);
        intervalMsec = intervalSec * 1000.0;
    }
    // One tick per pixel at most, whatever the time scale.
    const long long tickCount = static_cast<long long>(std::min(count, width + 2.0));
    const double t0 =
        std::isfinite(in.firstColumn) ? std::clamp(in.firstColumn, 0.0, MAX_FIRST_COLUMN) : 0.0;
    // The first tick is the last whole interval at or before the view's left edge.
    const double firstInterval = std::trunc(t0 * ts / intervalMsec);
    const double firstX = std::trunc(firstInterval * intervalMsec / ts) - std::trunc(t0);
    const int cw = in.charWidth;
    const int rightLimit =
        in.dual ? in.viewWidth / 2 - DUAL_LEFT_PANE_GAP - 8 * cw : in.viewWidth - 8 * cw;
    std::vector<TimeTick> ticks;
    for (long long i = 0; i < tickCount; ++i) {
        TimeTick t;
        t.x = truncatedPixel(firstX + static_cast<double>(i) * spacing);
        const double msec = (firstInterval + static_cast<double>(i)) * intervalMsec;
        if (in.endMsec > 0.0 && msec > in.endMsec) {
            break;
        }
        t.msec = static_cast<long long>(msec);
        if (in.clock) {
            t.label = clockLabel(msec, tenths);
            const int labelWidth =
                in.textWidth ? in.textWidth(t.label) : static_cast<int>(t.label.size()) * cw;
            t.labelX = t.x - labelWidth / 2;
        } else if (tenths) {
            t.label = formatText("%-3.1f sec", static_cast<double>(roundHalfUp(msec)) / 1000.0);
            t.labelX = t.x - 3 * cw;
        } else {
            t.label =
                formatText("%-3lu sec", static_cast<unsigned long>(roundHalfUp(msec / 1000.0)));
            t.labelX = t.x - cw;
        }
        t.inLimits = FREQUENCY_LABEL_COLUMN_CHARS * cw < t.x && t.x < rightLimit;
        ticks.push_back(std::move(t));
    }
    labelEveryKth(ticks, static_cast<long long>(firstInterval), in);
    return ticks;
}

std::vector<FrequencyTick> frequencyTicks(const ViewGeometry& g, AxisLabels style) {
    if (g.rows() <= 0 || g.plotHeight <= 0) {
        return {};
    }
    switch (g.frequencyScale) {
    case FrequencyScale::Linear:
        return linearTicks(g, style);
    case FrequencyScale::Log:
        return logTicks(g, style);
    case FrequencyScale::ThirdOctave:
        break;
    }
    return {};
}

bool onFrequencyLabels(const ViewGeometry& g, PixelPoint p) {
    if (g.frequencyScale == FrequencyScale::ThirdOctave || g.rows() <= 0 || p.y < g.stripHeight ||
        p.y >= g.plotHeight || p.x < 0 || p.x >= g.plotWidth) {
        return false;
    }
    const int column = FREQUENCY_LABEL_COLUMN_CHARS * g.charWidth;
    const int rightPane = dualRightPaneX(g.plotWidth);
    return p.x < column || (g.dualStereo && p.x >= rightPane && p.x < rightPane + column);
}

ViewDrawing GridOverlay::all() const {
    ViewDrawing d = marks;
    d.append(labels);
    return d;
}

GridOverlay gridOverlay(const ViewGeometry& g, GridTarget target, int imageWidth, bool shadow,
                        const TextWidth& textWidth, AxisLabels style) {
    const bool window = target == GridTarget::Window;
    const bool dual = window && g.dualStereo;
    const double cm = g.columnMsec;
    TimeAxisInputs axis;
    axis.timeScaleMsec = g.timeScaleMsec;
    axis.columnMsec = cm;
    axis.viewWidth = window ? g.plotWidth : imageWidth;
    // Column 0 stands at its window's centre.
    axis.firstColumn = (cm > 0.0 ? g.columnTimeMsec(0.0) / cm : 0.0) + (window ? g.hScrollPos : 0);
    axis.charWidth = g.charWidth;
    axis.dual = dual;
    axis.clock = style == AxisLabels::Units && g.recordingMsec > CLOCK_TIME_LABELS_MSEC;
    // The classic grid labels the whole view, as it always did.
    axis.endMsec = style == AxisLabels::Units ? g.recordingMsec : 0.0;
    axis.textWidth = textWidth;
    const std::vector<TimeTick> times = timeTicks(axis);
    const std::vector<FrequencyTick> freqs = frequencyTicks(g, style);

    std::vector<int> paneOffsets{0};
    if (dual) {
        paneOffsets.push_back(dualRightPaneX(g.plotWidth));
    }
    const int th = g.charHeight;
    GridOverlay out;
    for (const int offset : paneOffsets) {
        for (const TimeTick& t : times) {
            if (!t.inLimits) {
                continue;
            }
            for (const FrequencyTick& f : freqs) {
                if (f.inLimits) {
                    addMark(out.marks, offset + t.x, f.y, shadow);
                }
            }
            if (t.labelled) {
                addLabel(out.labels, {offset + t.labelX, g.plotHeight - th}, t.label, shadow);
            }
        }
        for (const FrequencyTick& f : freqs) {
            if (f.inLimits) {
                addLabel(out.labels, {offset + g.charWidth, f.y - th / 2}, f.label, shadow);
                addLabel(out.frequencyAxis, {offset + g.charWidth, f.y - th / 2}, f.label, shadow);
            }
        }
    }
    return out;
}

} // namespace korv
