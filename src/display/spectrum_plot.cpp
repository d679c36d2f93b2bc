#include "display/spectrum_plot.h"

#include "analysis/parameters.h"
#include "analysis/rounding.h"
#include "display/palette.h"
#include "display/pitch_display.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace korv {
namespace {

constexpr std::uint8_t FREQ_MARK = static_cast<std::uint8_t>(kFreqMarkIndex);
constexpr std::uint8_t SCOPE_MARKER = static_cast<std::uint8_t>(kScopeMarkerIndex);
constexpr std::uint8_t SIGNAL2 = static_cast<std::uint8_t>(kSignal2Index);
constexpr std::uint8_t SIGNAL1 = static_cast<std::uint8_t>(kSignal1Index);
constexpr std::uint8_t BACKGROUND = static_cast<std::uint8_t>(kBackgroundIndex);
constexpr std::uint8_t TEXT = static_cast<std::uint8_t>(kTextIndex);
// The cross at the point chosen with the mouse reaches this far each side.
constexpr int CROSS_ARM = 12;
constexpr int SIGNAL_LEVEL_ROWS = 4; // 80 plot units apart
constexpr int DELTA_LEVEL_ROWS = 5;  // 60 plot units apart
constexpr int GRID_ARM = 5;          // an 11-pixel cross

// A frequency column of the axis: where it stands and its label.
struct FrequencyColumn {
    int x = 0;
    double hz = 0.0;
    std::string label;
};

int clampedPixel(double value) {
    return std::isfinite(value) ? static_cast<int>(std::clamp(value, -1e9, 1e9)) : -1'000'000'000;
}

// The log and third-octave plots share the log axis.
bool logAxis(const ScopeAxis& a) {
    return frequencyScaleInfo(a.scale).logarithmic;
}

// The axis over the plot's points: point i at row i.
FrequencyAxis pointAxis(const ScopeGeometry& g, const ScopeAxis& a) {
    return {a.scale, a.lowHz, a.highHz, g.points};
}

bool axisUsable(const ScopeAxis& a) {
    return std::isfinite(a.lowHz) && std::isfinite(a.highHz) && a.highHz > a.lowHz &&
           (!logAxis(a) || a.lowHz > 0.0);
}

// The frequency columns of the labels and grid: on the linear scale the round step nearest a
// fifth of the band; on the log scales 10, 16, 25, 40, 63 per decade.
std::vector<FrequencyColumn> frequencyColumns(const ScopeGeometry& g, const ScopeAxis& a) {
    std::vector<FrequencyColumn> out;
    if (!axisUsable(a) || g.points < 1) {
        return out;
    }
    const int right = g.plotLeft + 2 * g.points;
    const FrequencyAxis axis = pointAxis(g, a);
    if (!logAxis(a)) {
        const double span = a.highHz - a.lowHz;
        const double step = nearestGridCandidate(span / 5.0);
        const double first = std::ceil(a.lowHz / step) * step;
        // One column per point at most, whatever the band.
        const long count =
            std::min(static_cast<long>(std::trunc(span / step + 1.0)), long{g.points} + 1);
        for (long k = 0; k < count; ++k) {
            // Points are two pixels apart.
            const double x = g.plotLeft + 2.0 * axis.rowsOfWidth(static_cast<double>(k) * step) +
                             2.0 * axis.rowOfHz(first) + 1.0;
            const int px = clampedPixel(x);
            // Every column stands one pixel right of its point, the one at the high limit too.
            if (px < g.plotLeft - g.charWidth / 2 || px > right + 1) {
                continue;
            }
            const double hz = first + static_cast<double>(k) * step;
            const char* format = k == count - 1 ? "%ldHz" : "%ld";
            out.push_back({px, hz, formatText(format, static_cast<long>(hz))});
        }
        return out;
    }
    const int divisor = a.lowHz < 10.0     ? 1
                        : a.lowHz < 100.0  ? 10
                        : a.lowHz < 1000.0 ? 100
                        : a.lowHz < 1e4    ? 1000
                                           : 10000;
    for (const int tick : logTickHz()) {
        const double hz = tick;
        const int px = clampedPixel(g.plotLeft + 2.0 * axis.rowOfHz(hz));
        if (px < g.plotLeft || px >= right - 6 * g.charWidth) {
            continue;
        }
        const double value = hz / divisor;
        std::string label;
        if (value >= 10.0) {
            label = formatText("%ld", static_cast<long>(value));
        } else if (value > 0.0) {
            label = formatText("%-2.1f", value);
        }
        out.push_back({px, hz, label});
    }
    return out;
}

const char* logUnitLabel(double lowHz) {
    return lowHz < 10.0     ? "Hz"
           : lowHz < 100.0  ? "Hz/10"
           : lowHz < 1000.0 ? "Hz/100"
           : lowHz < 1e4    ? "Hz/1000"
                            : "Hz/10000";
}

void addCross(ViewDrawing& d, int x, int y, bool shortUp, bool shortRight, ViewColour colour) {
    const int left = shortRight ? x : x - GRID_ARM;
    const int down = shortUp ? y : y + GRID_ARM;
    // One-pixel lines leave out their end point, so each runs one pixel past its arm.
    d.lines.push_back({{left, y}, {x + GRID_ARM + 1, y}, colour});
    d.lines.push_back({{x, y - GRID_ARM}, {x, down + 1}, colour});
}

} // namespace

ScopeGeometry scopeGeometry(int viewWidth, int viewHeight, float unitScale, int charWidth,
                            int lineHeight, int points) {
    ScopeGeometry g;
    g.viewWidth = viewWidth;
    g.viewHeight = viewHeight;
    g.charWidth = charWidth;
    g.lineHeight = lineHeight;
    g.points = std::max(points, 0);
    g.plotLeft = std::max((viewWidth - 2 * g.points) / 2, 9 * charWidth / 2);
    g.baseline = viewHeight - 2 * lineHeight;
    g.unitScale = std::isfinite(unitScale) ? std::max(unitScale, 0.0f) : 0.0f;
    return g;
}

long plotUnits(long level, int rangeDb, int offsetDb) {
    const int range = rangeDb > 0 ? rangeDb : DELTA_RANGE_DB;
    // The 30 dB range shows -60 .. -30 dB, the others -R .. 0 dB.
    const int top = range == 30 ? 60 : 90;
    return (level - 4L * (top - range + offsetDb)) * 60 / range;
}

ScopeView::ScopeView(const ScopeGeometry& geometry, const ScopeOptions& options,
                     TextWidth textWidth)
    : g_(geometry), o_(options), textWidth_(std::move(textWidth)) {
    const auto n = static_cast<std::size_t>(g_.points);
    curve_.assign(n, 0);
    curve2_.assign(n, 0);
    peak_.assign(n, 0);
    peakDb_.assign(n, 0.0f);
    levelDb_.assign(n, 0.0f);
    levelDb2_.assign(n, 0.0f);
}

void ScopeView::setOptions(const ScopeOptions& options) {
    o_ = options;
}

bool ScopeView::peakDelta() const {
    return o_.plotType == PlotType::PeakDelta;
}
bool ScopeView::lrDelta() const {
    return o_.plotType == PlotType::LrDelta;
}
bool ScopeView::bars() const {
    return o_.displayType == DisplayType::BarPlot;
}
bool ScopeView::dualStereo() const {
    return o_.stereo && o_.channel == StereoChannel::Dual;
}
int ScopeView::rangeDb() const {
    if (o_.plotType != PlotType::Signal) {
        return DELTA_RANGE_DB;
    }
    return static_cast<int>(levelRangeFor(o_.dbRange).rangeDb);
}

int ScopeView::height(long level, int offsetDb) const {
    const double h = static_cast<double>(plotUnits(level, rangeDb(), offsetDb)) * g_.unitScale;
    return clampedPixel(std::trunc(h));
}

int ScopeView::drawnHeight(long value) const {
    return static_cast<int>(std::clamp(value, 0L, long{std::max(g_.baseline - g_.lineHeight, 0)}));
}

int ScopeView::width(const std::string& text) const {
    return textWidth_ ? textWidth_(text) : static_cast<int>(text.size()) * g_.charWidth;
}

void ScopeView::setPeakHold(bool on) {
    peakHoldOn_ = on;
    if (on) {
        std::fill(peak_.begin(), peak_.end(), std::int16_t{0});
        std::fill(peakDb_.begin(), peakDb_.end(), 0.0f);
    }
}

const char* ScopeView::peakButtonLabel() const {
    return peakDelta() ? PEAK_RESET_LABEL : PEAK_HOLD_LABEL;
}

bool ScopeView::peakHoldAvailable() const {
    return !o_.stereo || o_.channel != StereoChannel::Dual;
}

ViewDrawing ScopeView::clearView(IndexedSurface& view) const {
    view.fill(BACKGROUND);
    return axisLabels();
}

ViewDrawing ScopeView::axisLabels() const {
    ViewDrawing d;
    const auto add = [&d](int x, int y, const std::string& text) {
        d.texts.push_back({{x, y}, text, ViewColour::Text, ViewColour::Background});
    };
    // Frequencies, centred on their columns, each clear of the one before and of the unit.
    const int y = g_.baseline + g_.lineHeight / 2;
    int limit = g_.plotLeft + 2 * g_.points + g_.viewWidth; // no unit label on the linear axis
    if (logAxis(o_.axis) && axisUsable(o_.axis)) {
        const int unitX = g_.plotLeft + 2 * g_.points - 6 * g_.charWidth;
        add(unitX, y, logUnitLabel(o_.axis.lowHz));
        limit = unitX - g_.charWidth;
    }
    int clearFrom = -1'000'000'000;
    for (const FrequencyColumn& c : frequencyColumns(g_, o_.axis)) {
        const int w = width(c.label);
        const int left = c.x - w / 2;
        if (c.label.empty() || left < clearFrom || left + w > limit) {
            continue;
        }
        add(left, y, c.label);
        clearFrom = left + w + g_.charWidth;
    }
    // Levels, bottom up, each a line clear of the one below.
    std::vector<int> values;
    int spacing = 0;
    if (o_.plotType == PlotType::Signal) {
        const int r = rangeDb();
        const int top = r == 30 ? -30 : 0;
        for (int j = 0; j < SIGNAL_LEVEL_ROWS; ++j) {
            values.push_back(top - r + j * r / 3);
        }
        spacing = PLOT_UNITS_HIGH / (SIGNAL_LEVEL_ROWS - 1);
    } else {
        const int bottom = peakHeldInDelta() ? -90 : -30;
        for (int j = 0; j < DELTA_LEVEL_ROWS; ++j) {
            values.push_back(bottom + 15 * j);
        }
        spacing = PLOT_UNITS_HIGH / (DELTA_LEVEL_ROWS - 1);
    }
    // The unit a line above the top label, where the plot area leaves room for it.
    const int unitTop =
        g_.baseline - g_.lineHeight / 2 -
        clampedPixel(std::trunc(static_cast<double>(values.size() - 1) * spacing * g_.unitScale)) -
        g_.lineHeight;
    if (!o_.levelUnit.empty() && unitTop >= 0) {
        add(g_.plotLeft - 9 * g_.charWidth / 2, unitTop, o_.levelUnit);
    }
    int below = 1'000'000'000;
    for (std::size_t j = 0; j < values.size(); ++j) {
        const int top = g_.baseline - g_.lineHeight / 2 -
                        clampedPixel(std::trunc(static_cast<double>(j) * spacing * g_.unitScale));
        if (below - top < g_.lineHeight) {
            continue;
        }
        add(g_.plotLeft - 9 * g_.charWidth / 2, top, formatText("%d", values[j]));
        below = top;
    }
    return d;
}

ViewDrawing ScopeView::gridCrosses() const {
    ViewDrawing d;
    const bool signal = o_.plotType == PlotType::Signal;
    const int rows = signal ? SIGNAL_LEVEL_ROWS : DELTA_LEVEL_ROWS;
    const int spacing = PLOT_UNITS_HIGH / (rows - 1);
    const std::vector<FrequencyColumn> columns = frequencyColumns(g_, o_.axis);
    for (const ViewColour colour : {ViewColour::Background, ViewColour::Text}) {
        const int shift = colour == ViewColour::Background ? 1 : 0; // the shadow, lower right
        for (int j = 0; j < rows; ++j) {
            const int y = clampedPixel(
                std::trunc(g_.baseline - static_cast<double>(j * spacing) * g_.unitScale));
            for (const FrequencyColumn& c : columns) {
                const bool onLowLimit = &c == &columns.front() && c.hz == o_.axis.lowHz;
                addCross(d, c.x + shift, y + shift, j == 0, onLowLimit, colour);
            }
        }
    }
    return d;
}

std::optional<int> ScopeView::frequencyX(double hz) const {
    const ScopeAxis& a = o_.axis;
    if (!axisUsable(a) || !std::isfinite(hz) || hz <= 0.0 || g_.points < 1) {
        return std::nullopt;
    }
    const double position = pointAxis(g_, a).rowOfHzProportional(hz);
    // Past the last point a line would stand over the labels beside the plot.
    if (!(position > 0.0 && position <= g_.points)) {
        return std::nullopt;
    }
    const long k = roundHalfUp(position);
    if (k <= 0 || k > g_.points) {
        return std::nullopt;
    }
    return g_.plotLeft + 2 * static_cast<int>(k);
}

void ScopeView::drawVertical(IndexedSurface& view, int x, std::uint8_t index) const {
    view.drawLine({x, g_.baseline}, {x, g_.lineHeight}, {index, 1});
}

void ScopeView::setCross(std::optional<PixelPoint> at) {
    cross_ = at;
}

void ScopeView::drawCross(IndexedSurface& view) const {
    if (!cross_) {
        return;
    }
    const Pen pen{TEXT, 1};
    const PixelPoint c = *cross_;
    view.drawLine({c.x - CROSS_ARM, c.y}, {c.x + CROSS_ARM, c.y}, pen);
    view.drawLine({c.x, c.y - CROSS_ARM}, {c.x, c.y + CROSS_ARM}, pen);
}

void ScopeView::drawMarkers(IndexedSurface& view) const {
    for (const std::int32_t hz : {o_.marker1Hz, o_.marker2Hz}) {
        if (hz > 0) {
            if (const std::optional<int> x = frequencyX(hz)) {
                drawVertical(view, *x, SCOPE_MARKER);
            }
        }
    }
}

void ScopeView::drawCurve(IndexedSurface& view, std::span<const std::int16_t> heights, bool asBars,
                          int barShift, std::uint8_t index) const {
    const Pen pen{index, 1};
    const int n = static_cast<int>(std::min<std::size_t>(heights.size(), g_.points));
    if (asBars) {
        for (int i = 0; i < n; ++i) {
            const int x = g_.plotLeft + 2 * i + barShift;
            view.drawLine({x, g_.baseline},
                          {x, g_.baseline - drawnHeight(heights[static_cast<std::size_t>(i)])},
                          pen);
        }
        return;
    }
    view.moveTo({g_.plotLeft, g_.baseline});
    for (int i = 1; i < n; ++i) {
        view.lineTo(
            {g_.plotLeft + 2 * i, g_.baseline - drawnHeight(heights[static_cast<std::size_t>(i)])},
            pen);
    }
}

void ScopeView::eraseCurves(IndexedSurface& view) const {
    if (curveShown_) {
        drawCurve(view, curve_, bars(), 0, BACKGROUND);
    }
    if (curve2Shown_) {
        drawCurve(view, curve2_, bars(), 1, BACKGROUND);
    }
    if (peakShown_) {
        drawCurve(view, peak_, false, 0, BACKGROUND);
    }
}

bool ScopeView::takeLevels(std::span<const std::int16_t> first,
                           std::span<const std::int16_t> second) {
    const bool hasSecond = o_.stereo && !second.empty();
    // Mono data has equal channels: L-R Delta then shows its flat line, not nothing.
    const std::span<const std::int16_t> right = hasSecond ? second : first;
    const std::span<const std::int16_t> shown =
        hasSecond && o_.channel == StereoChannel::Right ? second : first;
    // L-R Delta is left minus right whichever channel is chosen.
    const std::span<const std::int16_t> curveSource = lrDelta() ? first : shown;
    const int offset = peakHeldInDelta() ? PEAK_DELTA_HOLD_OFFSET : 0;
    const long mid = clampedPixel(std::trunc(double{PLOT_UNITS_MID} * g_.unitScale));
    const float gain = 4.0f * static_cast<float>(o_.levelScaleCode);
    const auto clamp16 = [](long v) {
        return static_cast<std::int16_t>(std::clamp(v, -32768L, 32767L));
    };
    const bool secondCurve = (dualStereo() && hasSecond) || lrDelta();
    for (std::size_t i = 0; i < curve_.size(); ++i) {
        const long level = i < shown.size() ? shown[i] : 0;
        const int h = height(level, offset);
        const int hCurve =
            lrDelta() ? height(i < curveSource.size() ? curveSource[i] : 0, offset) : h;
        if (peakHoldOn_ && h > peak_[i]) {
            peak_[i] = clamp16(h);
            peakDb_[i] = static_cast<float>(level) + gain;
        }
        long plotted = hCurve;
        if (peakDelta() && !peakHeldInDelta()) {
            // The peak was held on the -90 .. -30 dB axis; the difference is taken on that
            // axis too, so an unchanged signal lies at mid-height (the 0 label).
            plotted = height(level, PEAK_DELTA_HOLD_OFFSET) - long{peak_[i]} + mid;
        }
        curve_[i] = clamp16(plotted);
        // The channel shown, whatever the plot type: what the readouts and the log take.
        levelDb_[i] = static_cast<float>(level) + gain;
        const long level2 = i < right.size() ? right[i] : 0;
        if (hasSecond) {
            levelDb2_[i] = static_cast<float>(level2) + gain;
        }
        if (secondCurve) {
            const int h2 = height(level2, offset);
            curve2_[i] = clamp16(lrDelta() ? long{curve_[i]} - h2 + mid : h2);
        }
    }
    return secondCurve;
}

void ScopeView::drawCurves(IndexedSurface& view, bool secondCurve) {
    const bool peakVisible = peakHoldOn_ && (o_.plotType == PlotType::Signal || peakHeldInDelta());
    if (peakVisible) {
        drawCurve(view, peak_, false, 0, FREQ_MARK);
    }
    peakShown_ = peakVisible;
    curveShown_ = !lrDelta();
    if (curveShown_) {
        drawCurve(view, curve_, bars(), 0, SIGNAL2);
    }
    curve2Shown_ = secondCurve;
    if (curve2Shown_) {
        drawCurve(view, curve2_, bars(), 1, SIGNAL1);
    }
    drawCross(view);
    drawMarkers(view);
}

void ScopeView::drawPitch(IndexedSurface& view, const PitchShown& pitch, ViewDrawing& over) {
    if (pitchX_) {
        drawVertical(view, *pitchX_, BACKGROUND);
    }
    pitchX_ = pitch.voiced ? frequencyX(pitch.markHz) : std::nullopt;
    if (pitchX_) {
        drawVertical(view, *pitchX_, FREQ_MARK);
    }
    const PixelRect box = plotPitchLabelBox(g_.viewWidth, g_.charWidth, g_.lineHeight);
    if (pitch.voiced) {
        over.append(pitchLabelDrawing(box, pitch.shownIndex));
    } else {
        over.fills.push_back({box, ViewColour::Background});
    }
}

ViewDrawing ScopeView::refresh(IndexedSurface& view, std::span<const std::int16_t> first,
                               std::span<const std::int16_t> second, const PitchShown* pitch) {
    eraseCurves(view); // what the last step drew
    drawCurves(view, takeLevels(first, second));

    ViewDrawing over;
    if (o_.grid) {
        over.append(gridCrosses());
    }
    if (pitch != nullptr) {
        drawPitch(view, *pitch, over);
    }
    const char* title = lrDelta()                           ? LR_DELTA_TITLE
                        : peakDelta() && !peakHeldInDelta() ? PEAK_DELTA_TITLE
                                                            : nullptr;
    if (title != nullptr) {
        const int top = g_.viewHeight - g_.lineHeight -
                        clampedPixel(std::trunc(double{PLOT_UNITS_HIGH} * g_.unitScale));
        over.texts.push_back({{(g_.viewWidth - width(title)) / 2, top},
                              title,
                              ViewColour::Text,
                              ViewColour::Background});
    }
    return over;
}

std::optional<ViewDrawing> ScopeView::redraw(IndexedSurface& view) {
    if (o_.plotType != PlotType::Signal || curve_.empty()) {
        return std::nullopt;
    }
    ViewDrawing labels = clearView(view);
    const long gain = 4L * o_.levelScaleCode;
    const auto heights = [&](const std::vector<float>& stored, std::vector<std::int16_t>& out) {
        for (std::size_t i = 0; i < stored.size(); ++i) {
            const float s = stored[i];
            const long level = std::isfinite(s) ? static_cast<long>(s) - gain : 0L;
            out[i] = static_cast<std::int16_t>(std::clamp(height(level, 0), -32768, 32767));
        }
    };
    if (peakHoldOn_) {
        std::vector<std::int16_t> peakHeights(peakDb_.size());
        heights(peakDb_, peakHeights);
        drawCurve(view, peakHeights, false, 0, FREQ_MARK);
    }
    // levelDb holds the channel shown (the right one for Right), levelDb2 the right channel.
    heights(levelDb_, curve_);
    drawCurve(view, curve_, bars(), 0, SIGNAL2);
    curveShown_ = true;
    curve2Shown_ = dualStereo();
    if (curve2Shown_) {
        heights(levelDb2_, curve2_);
        drawCurve(view, curve2_, bars(), 1, SIGNAL1);
    }
    // The trace just drawn is at the current level bar; the next step erases the cleared one.
    peakShown_ = false;
    pitchX_.reset();
    drawCross(view);
    drawMarkers(view);
    return labels;
}

} // namespace korv
