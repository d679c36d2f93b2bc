#include "display/readouts.h"

#include "analysis/frequency_axis.h"
#include "analysis/rounding.h"

#include <algorithm>
#include <cmath>

namespace korv {
namespace {

// Far beyond any real time in msec; keeps a hostile time scale's products finite.
constexpr double MAX_READOUT_MSEC = 1e15;

// The rows of the view's spectral band, for the row-to-frequency map.
RowFrequencyInputs rowFrequencyInputs(const ViewGeometry& g) {
    RowFrequencyInputs in;
    in.scale = g.frequencyScale;
    in.lowBandHz = g.lowBandHz;
    in.highBandHz = g.highBandHz;
    in.sampleRate = g.sampleRate;
    in.fftSize = g.fftSize;
    in.plotHeight = g.plotHeight;
    in.rows = g.rows();
    return in;
}

std::int64_t truncatedBytes(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    constexpr double limit = 9.0e18;
    return static_cast<std::int64_t>(std::min(value, limit));
}

std::optional<std::string> frequencyText(const ViewGeometry& g, const ReadoutContext& c, int y) {
    RowFrequencyInputs in = rowFrequencyInputs(g);
    in.cursorOffsetHz = c.cursorOffsetHz;
    const std::optional<RowFrequency> f = rowToFrequency(in, y);
    if (!f) {
        return std::nullopt;
    }
    const long maxHz = c.wholeBox ? READOUT_MAX_HZ_WHOLE : READOUT_MAX_HZ_MOVING;
    const long maxU = c.wholeBox ? READOUT_MAX_UNCERTAINTY_WHOLE : READOUT_MAX_UNCERTAINTY_MOVING;
    const long decimalBelow =
        c.wholeBox ? READOUT_DECIMAL_BELOW_WHOLE : READOUT_DECIMAL_BELOW_MOVING;
    const long hz = f->displayedHz;
    const long u = f->uncertaintyHz;
    if (hz < 0 || hz > maxHz || u < 0 || u > maxU) {
        return std::nullopt;
    }
    const int shownHz = static_cast<int>(hz);
    if (u < decimalBelow) {
        return formatText("%-4i +/- %-3.1f ", shownHz, static_cast<double>(u));
    }
    return formatText("%-4i +/- %-2u ", shownHz, static_cast<unsigned>(u));
}

std::string timeText(const ViewGeometry& g, long absoluteColumn) {
    const double ts = std::isfinite(g.columnMsec) ? g.columnMsec : 0.0;
    const long wholeMsec = static_cast<long>(std::clamp(ts, 0.0, 1e9));
    // Half a column, rounded up to whole msec: how far the column reaches either side.
    const long half = wholeMsec / 2 + wholeMsec % 2;
    ViewGeometry finite = g;
    finite.columnMsec = ts;
    const double t = finite.columnTimeMsec(static_cast<double>(absoluteColumn));
    const double rounded =
        static_cast<double>(roundHalfUp(std::clamp(t, -MAX_READOUT_MSEC, MAX_READOUT_MSEC)));
    if (half < 100) {
        return formatText("%-4.0f +/- %-2u ", rounded, static_cast<unsigned>(half));
    }
    return formatText("%-4.0f", rounded);
}

std::string timeNowText(const ReadoutContext& c) {
    const double sec = c.timeNowMsec / 1000.0;
    return c.singleInstant ? formatText("%-4.3f", sec) : formatText("%-4.0f", sec);
}

} // namespace

int viewXToColumn(int viewX, int plotWidth, bool dualStereo) {
    int column = viewX;
    if (dualStereo) {
        if (viewX >= plotWidth) {
            column = 0;
        } else if (viewX > plotWidth / 2 - DUAL_RIGHT_PANE_GAP) {
            column = viewX - dualRightPaneX(plotWidth);
        }
    }
    return std::max(0, column);
}

bool onDualDivider(int viewX, int plotWidth) {
    return plotWidth / 2 - DUAL_LEFT_PANE_GAP < viewX &&
           viewX < plotWidth / 2 + DUAL_RIGHT_PANE_GAP;
}

double levelDbForPaletteIndex(int index, DbRange dbRange) {
    const LevelRange range = levelRangeFor(dbRange);
    double quarterDb = range.bottomQuarterDb;
    if (index > kBackgroundIndex) {
        const int i = std::min(index, static_cast<int>(kLastGradientIndex));
        quarterDb += (i + 0.5) * 4.0 * range.rangeDb / kGradientSpan;
    }
    return quarterDb / 4.0 - 90.0;
}

std::string_view readoutTitle(std::int32_t lastMode, bool recording) {
    if (recording) {
        return READOUT_TITLE_RECORDING;
    }
    if (lastMode == 1 || lastMode == 2) {
        return READOUT_TITLE_SCAN_INPUT;
    }
    if (lastMode == 3 || lastMode == 4) {
        return READOUT_TITLE_SCAN_FILE;
    }
    return READOUT_TITLE_ANALYZE_FILE;
}

ReadoutTexts readoutTexts(const ViewGeometry& g, const ReadoutContext& c, const ReadoutPoint& p) {
    ReadoutTexts t;
    t.title = std::string(readoutTitle(c.lastMode, c.recording));
    t.titleRed = c.recording;
    if (!p.inside) {
        t.frequency = std::string(READOUT_PLACEHOLDER);
        if (c.scanning) {
            // The scan's time goes on wherever the pointer is.
            t.timeLabel = READOUT_TIME_NOW_LABEL;
            t.time = timeNowText(c);
        } else {
            t.time = std::string(READOUT_PLACEHOLDER);
        }
        t.level = std::string(READOUT_PLACEHOLDER);
        return t;
    }
    t.frequency = frequencyText(g, c, p.y);
    if (c.playing || c.scanning) {
        t.timeLabel = READOUT_TIME_NOW_LABEL;
        t.time = timeNowText(c);
    } else {
        t.time = timeText(g, p.absoluteColumn);
    }
    const double db = g.dualStereo && onDualDivider(p.viewX, g.plotWidth)
                          ? READOUT_DIVIDER_DB
                          : levelDbForPaletteIndex(p.paletteIndex, c.dbRange);
    t.level = formatText("%-4.0f", db);
    return t;
}

std::optional<long> rowFrequencyHz(const ViewGeometry& g, int y) {
    const std::optional<RowFrequency> f = rowToFrequency(rowFrequencyInputs(g), y);
    return f ? std::optional<long>(f->frequencyHz) : std::nullopt;
}

ReadoutTexts measureTexts(const ViewGeometry& g, const ReadoutContext& c,
                          const ReadoutPoint& anchor, const ReadoutPoint& point) {
    ReadoutTexts t;
    t.title = std::string(readoutTitle(c.lastMode, c.recording));
    t.frequencyLabel = READOUT_DELTA_FREQUENCY_LABEL;
    t.timeLabel = READOUT_DELTA_TIME_LABEL;
    t.levelLabel = READOUT_DELTA_LEVEL_LABEL;
    t.frequency = std::string(READOUT_PLACEHOLDER);
    t.time = std::string(READOUT_PLACEHOLDER);
    t.level = std::string(READOUT_PLACEHOLDER);
    if (!anchor.inside || !point.inside) {
        return t;
    }
    const RowFrequencyInputs in = rowFrequencyInputs(g);
    const std::optional<RowFrequency> from = rowToFrequency(in, anchor.y);
    const std::optional<RowFrequency> to = rowToFrequency(in, point.y);
    if (from && to) {
        t.frequency = formatText("%+li", to->frequencyHz - from->frequencyHz);
    }
    const double columnMsec = std::isfinite(g.columnMsec) ? g.columnMsec : 0.0;
    const double msec = static_cast<double>(point.absoluteColumn - anchor.absoluteColumn) *
                        std::clamp(columnMsec, 0.0, 1e9);
    t.time = formatText("%+.0f", std::clamp(msec, -MAX_READOUT_MSEC, MAX_READOUT_MSEC));
    const auto levelAt = [&](const ReadoutPoint& p) {
        return g.dualStereo && onDualDivider(p.viewX, g.plotWidth)
                   ? READOUT_DIVIDER_DB
                   : levelDbForPaletteIndex(p.paletteIndex, c.dbRange);
    };
    t.level = formatText("%+.0f", levelAt(point) - levelAt(anchor));
    return t;
}

ViewDrawing readoutBox(const ViewGeometry& g) {
    ViewDrawing d;
    addSunkenBox(d, g.readoutBox);
    return d;
}

ViewDrawing readoutLines(const ViewGeometry& g, const ReadoutTexts& t) {
    ViewDrawing d;
    const PixelRect& box = g.readoutBox;
    const int labelX = box.x + g.charWidth;
    const int valueX =
        labelX + (g.readoutValueOffset > 0 ? g.readoutValueOffset
                                           : READOUT_VALUE_COLUMN_CHARS * g.charWidth);
    const int th = g.charHeight;
    // The line ends one pixel inside the box's edge; each label area is cleared too, since the
    // measure's labels are shorter than the readout's.
    const int titleWidth = std::max(0, box.right() - 1 - labelX);
    d.fills.push_back({{labelX, panelLineTop(box, th, 0), titleWidth, th}, ViewColour::Face});
    d.texts.push_back({{labelX, panelLineTop(box, th, 0)},
                       t.title,
                       t.titleRed ? ViewColour::Red : ViewColour::Black,
                       ViewColour::Face});
    const std::string_view labels[] = {t.frequencyLabel, t.timeLabel, t.levelLabel};
    const std::optional<std::string> values[] = {t.frequency, t.time, t.level};
    const int valueWidth = std::max(0, box.right() - 1 - valueX);
    for (int line = 1; line <= 3; ++line) {
        const int y = panelLineTop(box, th, line);
        d.fills.push_back({{labelX, y, std::max(0, valueX - labelX), th}, ViewColour::Face});
        d.texts.push_back(
            {{labelX, y}, std::string(labels[line - 1]), ViewColour::Black, ViewColour::Face});
        const std::optional<std::string>& value = values[line - 1];
        if (value) {
            d.fills.push_back({{valueX, y, valueWidth, th}, ViewColour::Face});
            d.texts.push_back({{valueX, y}, *value, ViewColour::Black, ViewColour::Face});
        }
    }
    return d;
}

DragSegment dragSegment(int startColumn, int endColumn, int hScrollPos, long hop,
                        const RunFormat& format) {
    DragSegment s;
    s.firstColumn = long{std::min(startColumn, endColumn)} + hScrollPos;
    s.lastColumn = long{std::max(startColumn, endColumn)} + hScrollPos;
    const int frameBytes = std::max(1, format.channels * format.bytesPerSample);
    // A column is a whole number of frames: the hop the image was drawn with.
    // Kept below 2^32 frames, beyond any segment, so hostile values cannot overflow.
    const std::int64_t framesPerColumn =
        std::clamp<std::int64_t>(hop, 0, std::int64_t{1} << 32) / std::max(1, format.channels);
    s.beginFrame = std::int64_t{s.firstColumn} * framesPerColumn;
    s.endFrame = std::int64_t{s.lastColumn} * framesPerColumn;
    s.beginByte = s.beginFrame * frameBytes;
    s.endByte = s.endFrame * frameBytes;
    return s;
}

ClickInstant clickInstant(int column, const ViewGeometry& g, const RunFormat& format) {
    ClickInstant c;
    const double absolute = static_cast<double>(column) + g.hScrollPos;
    c.msec = g.columnTimeMsec(absolute);
    // The spectra end one frame after the column's first sample.
    const double firstMsec = absolute * g.columnMsec + g.segmentOffsetMsec;
    const double frameBytes = static_cast<double>(format.bytesPerSample) * format.channels;
    const int fftSize = g.fftSize;
    const std::int64_t at = truncatedBytes(firstMsec * format.sampleRate * frameBytes / 1000.0) +
                            std::int64_t{fftSize} * format.bytesPerSample;
    c.bytePosition = at / 4 * 4;
    return c;
}

} // namespace korv
