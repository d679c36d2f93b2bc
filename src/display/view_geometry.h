#pragma once
// What the grid, the panels and the readouts read from the window layout and the run.
// The main window fills it from its layout and the current run; nothing here owns state.

#include "display/indexed_surface.h"

#include <cstdint>

namespace korv {

struct ViewGeometry {
    // The layout (pixels).
    int plotWidth = 0;
    int plotHeight = 0;  // one band: waveform strip and spectral rows
    int stripHeight = 0; // the waveform strip on top of each band (the layout's top band)
    int charWidth = 0;
    int charHeight = 0;
    PixelRect infoPanel;  // see panelBoxes()
    PixelRect readoutBox; // see panelBoxes()

    // Stereo data shown as dual channels on the spectral image display: the left channel in
    // the left pane, the right channel from plotWidth / 2 + 4.
    bool dualStereo = false;
    int hScrollPos = 0; // the image column at the view's left edge

    // The run.
    float timeScaleMsec = 4.0f;     // as asked for: it chooses the time grid's interval
    double columnMsec = 4.0;        // the real time between columns (whole samples)
    double segmentOffsetMsec = 0.0; // where the analysed segment begins in the file
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 6000;
    std::int32_t freqScaleChoice = 1076;
    std::int32_t sampleRate = 0;
    int fftSize = 1024;

    // The spectral rows of one band.
    [[nodiscard]] int rows() const { return plotHeight - stripHeight; }
};

// The panel below the scroll bar holds, from the left, with a column gap before each: the
// information panel (38 characters wide), the readout box (44 characters) and the button
// block (30 characters); the boxes are 4.5 text lines high, centred in the panel like the
// buttons.
struct PanelLayoutInputs {
    int clientWidth = 0;
    int clientHeight = 0;
    int plotHeight = 0;
    int scrollBarThickness = 0;
    int charWidth = 0;
    int charHeight = 0;
};
struct PanelBoxes {
    PixelRect infoPanel;
    PixelRect readoutBox;
    friend bool operator==(const PanelBoxes&, const PanelBoxes&) = default;
};
[[nodiscard]] PanelBoxes panelBoxes(const PanelLayoutInputs& in);

// The top of text line `line` (0 to 3) of a panel box: four lines with a quarter line of
// margin above them.
[[nodiscard]] inline int panelLineTop(const PixelRect& box, int charHeight, int line) {
    return box.y + charHeight / 4 + line * charHeight;
}

// The dual layout's panes: the left one ends before plotWidth / 2 - 3, the right one starts at
// plotWidth / 2 + 4; the divider lies between.
inline constexpr int DUAL_LEFT_PANE_GAP = 3;
inline constexpr int DUAL_RIGHT_PANE_GAP = 4;
[[nodiscard]] inline int dualRightPaneX(int plotWidth) {
    return plotWidth / 2 + DUAL_RIGHT_PANE_GAP;
}

inline constexpr int INFO_PANEL_WIDTH_CHARS = 38;
inline constexpr int READOUT_BOX_WIDTH_CHARS = 44;
inline constexpr int BUTTON_BLOCK_WIDTH_CHARS = 30;
inline constexpr int PANEL_BOXES_WIDTH_CHARS =
    INFO_PANEL_WIDTH_CHARS + READOUT_BOX_WIDTH_CHARS + BUTTON_BLOCK_WIDTH_CHARS;

} // namespace korv
