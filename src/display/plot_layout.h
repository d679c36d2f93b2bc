#pragma once
// The geometry of the main window: drawing area, scroll bars, readout panel and button block,
// derived from the client size and the control font's metrics. Also the horizontal and
// vertical scroll rules, which depend only on these numbers.

#include "display/scroll_action.h"
#include "display/view_geometry.h"

#include <algorithm>
#include <cstdint>

namespace korv {

// What the layout is computed from.
struct LayoutInputs {
    int clientWidth = 0;
    int clientHeight = 0;
    int windowWidth = 0;
    int windowHeight = 0;
    int screenHeight = 0;
    int captionHeight = 0;
    // Average character width and height of the control font.
    int charWidth = 0;
    int charHeight = 0;
    // The panel's texts in the control font (nothing measured: the classic character counts).
    PanelTextWidths text;
};

struct ButtonPlace {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The five push buttons of the panel, by position in the block.
struct ButtonBlock {
    ButtonPlace play;
    ButtonPlace playWindow;
    ButtonPlace grid;
    ButtonPlace peakHold;
    ButtonPlace stop;
};

struct PlotLayout {
    int clientWidth = 0;
    int clientHeight = 0;
    int windowWidth = 0;
    int windowHeight = 0;
    int charWidth = 0;
    int charHeight = 0;
    int buttonHeight = 0;
    int scrollBarThickness = 0;
    int panelHeight = 0;
    int plotHeight = 0;
    int plotWidth = 0;
    // The panel: information panel, readout box and button block (see panelBoxes).
    int readoutWidthA = 0; // the information panel
    int readoutWidthB = 0; // the readout box
    int readoutWidthC = 0; // the button block
    int readoutHeight = 0; // 4.5 characters
    int columnWidth = 0;
    PixelRect infoPanel;
    PixelRect readoutBox;
    int infoValueOffset = 0;
    int readoutValueOffset = 0;
    // The drawing area's upper band; its lower edge is plotHeight - topBand.
    int topBand = 0;
    float plotVerticalScale = 0.0f;
    int plotColumnCount = 0;
    int buttonX0 = 0;
    int buttonY0 = 0;
    ButtonBlock buttons;
};

// The control font's character height for a screen: screen height x dots per inch / 5400,
// rounded to nearest as the desktop's MulDiv does.
[[nodiscard]] int controlFontHeight(int screenHeight, int dotsPerInchY);

[[nodiscard]] PlotLayout computePlotLayout(const LayoutInputs& in);

// The horizontal scroll range of the spectral image view.
struct HScrollState {
    int pos = 0;
    int max = 0;
    bool scrollable = false;
};

// The view's width in image columns: the whole drawing area, or one pane of the dual stereo
// view (each channel in half the width, less the separator).
[[nodiscard]] int visibleImageColumns(int plotWidth, bool dualStereo);

// The range for an image `imageWidth` columns wide. The old position keeps its fraction of the
// old range; while an analysis draws column `drawingColumn` the view follows it instead.
[[nodiscard]] HScrollState computeHScroll(int imageWidth, int plotWidth, bool dualStereo,
                                          const HScrollState& old, int drawingColumn,
                                          bool analysisDrawing);

// A new scroll position: line and page steps, or the thumb, clamped to 0 ... max.
[[nodiscard]] int stepScroll(int pos, int max, ScrollAction action, int lineStep, int pageStep,
                             int thumb);

// Steps of the image scroll bars (in columns or rows) and of the plot level bar.
inline constexpr int kImageLineStep = 4;
inline constexpr int kImagePageStep = 100;
inline constexpr int kLevelLineStep = 1;
inline constexpr int kLevelPageStep = 5;
// The level bar: position levelScaleCode + 15, from 0 to 30; levelScaleCode runs -15 to 15.
inline constexpr int kLevelScaleOffset = 15;
inline constexpr int kLevelPositionMax = 30;
// The bar position for a gain code, clamped so that no stored code can leave the bar.
[[nodiscard]] constexpr std::int32_t levelBarPosition(std::int32_t levelScaleCode) {
    return std::clamp(levelScaleCode, -kLevelScaleOffset, kLevelScaleOffset) + kLevelScaleOffset;
}

} // namespace korv
