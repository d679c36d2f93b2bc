#include "display/plot_layout.h"

#include "display/view_geometry.h"

#include <algorithm>
#include <cstdint>

namespace korv {

namespace {

// The desktop's MulDiv: a * b / c in 64 bits, rounded half away from zero.
int mulDiv(int a, int b, int c) {
    if (c == 0) {
        return -1;
    }
    const std::int64_t product = static_cast<std::int64_t>(a) * b;
    std::int64_t quotient = product / c;
    const std::int64_t remainder = product % c;
    const std::int64_t absRemainder = remainder < 0 ? -remainder : remainder;
    const std::int64_t absDivisor = c < 0 ? -static_cast<std::int64_t>(c) : c;
    if (2 * absRemainder >= absDivisor) {
        quotient += (product < 0) == (c < 0) ? 1 : -1;
    }
    return static_cast<int>(quotient);
}

} // namespace

int controlFontHeight(int screenHeight, int dotsPerInchY) {
    return mulDiv(screenHeight, dotsPerInchY, 5400);
}

PlotLayout computePlotLayout(const LayoutInputs& in) {
    PlotLayout l;
    l.clientWidth = in.clientWidth;
    l.clientHeight = in.clientHeight;
    l.windowWidth = in.windowWidth;
    l.windowHeight = in.windowHeight;
    l.charWidth = in.charWidth;
    l.charHeight = in.charHeight;
    l.buttonHeight = in.charHeight * 8 / 6;
    l.scrollBarThickness = in.captionHeight * 3 / 4;
    l.panelHeight = 7 * in.charHeight;
    l.plotHeight = in.clientHeight - 7 * in.charHeight;
    l.plotWidth = in.clientWidth - l.scrollBarThickness;
    const PanelBoxes boxes =
        panelBoxes({in.clientWidth, in.clientHeight, l.plotHeight, l.scrollBarThickness,
                    in.charWidth, in.charHeight, in.text});
    const PanelWidths& w = boxes.widths;
    l.readoutWidthA = w.info;
    l.readoutWidthB = w.readout;
    l.readoutWidthC = w.buttons();
    l.readoutHeight = in.charHeight * 9 / 2;
    l.columnWidth = boxes.columnWidth;
    l.infoPanel = boxes.infoPanel;
    l.readoutBox = boxes.readoutBox;
    l.infoValueOffset = w.infoValueOffset;
    l.readoutValueOffset = w.readoutValueOffset;
    l.topBand = in.screenHeight / 12;
    l.plotVerticalScale = static_cast<float>(in.clientHeight - 4 * in.charHeight) / 300.0f;
    l.plotColumnCount = in.clientWidth * 7 / 16;
    l.buttonX0 = boxes.buttonX0;
    l.buttonY0 = l.plotHeight + l.scrollBarThickness +
                 (in.clientHeight - l.plotHeight - l.scrollBarThickness) / 2 -
                 (3 * l.buttonHeight) / 2 + 1;

    const int x0 = l.buttonX0;
    const int y0 = l.buttonY0;
    const int bh = l.buttonHeight;
    l.buttons.play = {x0, y0, w.narrowButton, bh};
    l.buttons.playWindow = {x0 + w.narrowButton, y0, w.wideButton, bh};
    l.buttons.grid = {x0, y0 + bh, w.narrowButton, bh};
    l.buttons.peakHold = {x0 + w.narrowButton, y0 + bh, w.wideButton, bh};
    l.buttons.stop = {x0, y0 + 2 * bh, w.buttons(), bh};
    return l;
}

int visibleImageColumns(int plotWidth, bool dualStereo) {
    return dualStereo ? plotWidth / 2 - 3 : plotWidth;
}

HScrollState computeHScroll(int imageWidth, int plotWidth, bool dualStereo, const HScrollState& old,
                            int drawingColumn, bool analysisDrawing) {
    const double fraction =
        old.max > 0 ? static_cast<double>(old.pos) / static_cast<double>(old.max) : 0.0;
    // The dual view measures its range against half the width plus the pane separator.
    const int visible = visibleImageColumns(plotWidth, dualStereo);
    const int offset = dualStereo ? plotWidth / 2 + 3 : plotWidth;
    HScrollState s;
    if (imageWidth <= visible) {
        return s;
    }
    s.scrollable = true;
    // Up to six columns wider than a dual pane the range is empty: the bar shows 0 ... 0.
    s.max = std::max(0, imageWidth - offset);
    if (analysisDrawing) {
        s.pos = std::max(0, drawingColumn - offset);
    } else {
        s.pos = static_cast<int>(static_cast<double>(s.max) * fraction);
    }
    return s;
}

int stepScroll(int pos, int max, ScrollAction action, int lineStep, int pageStep, int thumb) {
    long long next = pos;
    switch (action) {
    case ScrollAction::LineBack:
        next -= lineStep;
        break;
    case ScrollAction::LineForward:
        next += lineStep;
        break;
    case ScrollAction::PageBack:
        next -= pageStep;
        break;
    case ScrollAction::PageForward:
        next += pageStep;
        break;
    case ScrollAction::Thumb:
        next = thumb;
        break;
    case ScrollAction::Other:
        break;
    }
    return static_cast<int>(std::clamp<long long>(next, 0, std::max(0, max)));
}

} // namespace korv
