#include "display/level_legend.h"

#include <algorithm>
#include <cmath>

namespace korv {

namespace {

int widthOf(const std::string& text, const TextWidth& textWidth, int charWidth) {
    return textWidth ? textWidth(text) : static_cast<int>(text.size()) * charWidth;
}

// The finest step that divides the range and keeps the labels a line and a half apart.
int labelStepDb(double rangeDb, int barHeight, int charHeight) {
    for (const int step : LEGEND_LABEL_STEPS_DB) {
        const bool divides = std::fmod(rangeDb, step) == 0.0;
        if (divides && step / rangeDb * barHeight >= 1.5 * charHeight) {
            return step;
        }
    }
    return static_cast<int>(rangeDb); // the two ends alone
}

std::string labelText(double levelDb, const LegendScale& scale) {
    const double shown = levelDb + scale.offsetDb;
    // No "-0" for a level a hair below zero.
    return formatText("%.0f", std::abs(shown) < 0.5 ? 0.0 : shown);
}

// The bar's rows top down, runs of one colour as one fill.
void addBarRows(ViewDrawing& d, const PixelRect& bar, const LevelRange& range, double topDb) {
    int runStart = bar.y;
    int runIndex = -1;
    for (int row = 0; row <= bar.height; ++row) {
        int index = -1;
        if (row < bar.height) {
            const double db = topDb - (row + 0.5) * range.rangeDb / bar.height;
            index = levelToClampedPaletteIndex(static_cast<float>(quarterDbOf(db)), range);
        }
        if (index != runIndex) {
            if (runIndex >= 0) {
                ViewFill f{{bar.x, runStart, bar.width, bar.y + row - runStart}, ViewColour::Level};
                f.levelIndex = static_cast<std::uint8_t>(runIndex);
                d.fills.push_back(f);
            }
            runStart = bar.y + row;
            runIndex = index;
        }
    }
}

} // namespace

LevelLegend levelLegend(const ViewGeometry& g, const LevelRange& range, const LegendScale& scale,
                        int right, const TextWidth& textWidth) {
    LevelLegend out;
    const int cw = std::max(1, g.charWidth);
    const int th = std::max(1, g.charHeight);
    const double rangeDb = range.rangeDb;
    if (!(rangeDb > 0.0)) {
        return out;
    }
    const int margin = std::max(2, cw / 2);
    const int tick = std::max(2, cw / 2);
    const int barWidth = std::max(6, cw);
    // Clear of the waveform strip above and of the time labels' line below.
    const int boxTop = g.stripHeight + margin;
    const int boxBottom = g.plotHeight - th - margin;
    const int barTop = boxTop + margin + th + th / 2;
    const int barBottom = boxBottom - margin - th / 2;
    const int barHeight = barBottom - barTop;
    if (barHeight < 3 * th) {
        return out;
    }
    const double bottomDb = levelDbOf(range.bottomQuarterDb);
    const double topDb = bottomDb + rangeDb;
    const int step = labelStepDb(rangeDb, barHeight, th);
    int labelWidth = 0;
    for (double db = bottomDb; db <= topDb + 1e-9; db += step) {
        LegendLabel label;
        label.levelDb = db;
        label.y = barTop + static_cast<int>(std::lround((topDb - db) / rangeDb * barHeight));
        label.text = labelText(db, scale);
        labelWidth = std::max(labelWidth, widthOf(label.text, textWidth, cw));
        out.labels.push_back(std::move(label));
    }
    const int unitWidth = widthOf(scale.unit, textWidth, cw);
    const int width = std::max(margin + labelWidth + margin + tick + barWidth + margin,
                               margin + unitWidth + margin);
    out.box = {right - margin - width, boxTop, width, boxBottom - boxTop};
    if (out.box.x < 0) {
        return {};
    }
    const int barX = out.box.right() - margin - barWidth;
    out.bar = {barX, barTop, barWidth, barHeight};

    ViewDrawing& d = out.drawing;
    d.fills.push_back({out.box, ViewColour::Background});
    addBarRows(d, out.bar, range, topDb);
    // A frame round the bar: its lowest levels take the Background colour, as in the image.
    const PixelRect f{barX - 1, barTop - 1, barWidth + 2, barHeight + 2};
    d.lines.push_back({{f.x, f.y}, {f.right(), f.y}, ViewColour::Text});
    d.lines.push_back({{f.x, f.bottom() - 1}, {f.right(), f.bottom() - 1}, ViewColour::Text});
    d.lines.push_back({{f.x, f.y}, {f.x, f.bottom()}, ViewColour::Text});
    d.lines.push_back({{f.right() - 1, f.y}, {f.right() - 1, f.bottom()}, ViewColour::Text});
    for (const LegendLabel& label : out.labels) {
        d.lines.push_back({{f.x - tick, label.y}, {f.x, label.y}, ViewColour::Text});
        const int x = f.x - tick - margin / 2 - widthOf(label.text, textWidth, cw);
        d.texts.push_back({{x, label.y - th / 2}, label.text, ViewColour::Text, std::nullopt});
    }
    d.texts.push_back({{std::max(out.box.x + margin, out.bar.right() - unitWidth), boxTop + margin},
                       scale.unit,
                       ViewColour::Text,
                       std::nullopt});
    return out;
}

} // namespace korv
