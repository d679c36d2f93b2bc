#pragma once
// What the grid, the panels and the readouts read from the window layout and the run.
// The main window fills it from its layout and the current run; nothing here owns state.

#include "analysis/parameters.h"
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
    // How far right of its labels each box's value column starts (PanelWidths); 0: the
    // classic character counts.
    int infoValueOffset = 0;
    int readoutValueOffset = 0;

    // Stereo data shown as dual channels on the spectral image display: the left channel in
    // the left pane, the right channel from plotWidth / 2 + 4.
    bool dualStereo = false;
    int hScrollPos = 0; // the image column at the view's left edge

    // The run.
    float timeScaleMsec = 4.0f;     // as asked for: it chooses the time grid's interval
    double columnMsec = 4.0;        // the real time between columns (whole samples)
    double segmentOffsetMsec = 0.0; // where the analysed segment begins in the file
    double windowCentreMsec = 0.0;  // from a column's first sample to its window's centre
    // The whole recording's length (0: not known); past an hour the time axis reads h:mm:ss.
    double recordingMsec = 0.0;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 6000;
    FrequencyScale frequencyScale = FrequencyScale::Linear;
    std::int32_t sampleRate = 0;
    int fftSize = 1024;

    // The time in the file of an absolute image column: its window's centre.
    [[nodiscard]] double columnTimeMsec(double absoluteColumn) const {
        return segmentOffsetMsec +
               korv::columnTimeMsec(absoluteColumn, columnMsec, windowCentreMsec);
    }

    // The spectral rows of one band.
    [[nodiscard]] int rows() const { return plotHeight - stripHeight; }
    // Their frequency axis: low .. high Hz over rows().
    [[nodiscard]] FrequencyAxis frequencyAxis() const {
        return {frequencyScale, static_cast<double>(lowBandHz), static_cast<double>(highBandHz),
                rows()};
    }
};

// The widths, in the control font, of the widest texts each part of the panel shows, measured
// by the desktop side; all 0 when nothing was measured.
struct PanelTextWidths {
    int infoLabel = 0;
    int infoValue = 0;
    int readoutLabel = 0;
    int readoutValue = 0;
    int narrowButton = 0; // PLAY, GRID
    int wideButton = 0;   // PLAY WDW, PEAK HOLD and the texts they change to
    friend bool operator==(const PanelTextWidths&, const PanelTextWidths&) = default;
};

// The panel's parts sized to hold their texts: a box is a character width of margin, the
// labels, a character width, the values and a margin again; a button has a character width
// of margin each side. Measured nothing, the classic character counts (38, 44, 10 and 20).
struct PanelWidths {
    int info = 0;
    int readout = 0;
    int infoValueOffset = 0; // from the labels' x to the values' x
    int readoutValueOffset = 0;
    int narrowButton = 0;
    int wideButton = 0;
    [[nodiscard]] int buttons() const { return narrowButton + wideButton; }
    [[nodiscard]] int total() const { return info + readout + buttons(); }
    friend bool operator==(const PanelWidths&, const PanelWidths&) = default;
};
[[nodiscard]] PanelWidths panelWidths(const PanelTextWidths& text, int charWidth);

// The panel below the scroll bar holds, from the left, with a column gap before each: the
// information panel, the readout box and the button block (widths from PanelWidths); the
// boxes are 4.5 text lines high, centred in the panel like the buttons.
struct PanelLayoutInputs {
    int clientWidth = 0;
    int clientHeight = 0;
    int plotHeight = 0;
    int scrollBarThickness = 0;
    int charWidth = 0;
    int charHeight = 0;
    PanelTextWidths text;
};
struct PanelBoxes {
    PixelRect infoPanel;
    PixelRect readoutBox;
    int columnWidth = 0; // the gap: a quarter of the width the three parts leave
    int buttonX0 = 0;
    PanelWidths widths;
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
inline constexpr int NARROW_BUTTON_WIDTH_CHARS = 10;
inline constexpr int WIDE_BUTTON_WIDTH_CHARS = 20;
inline constexpr int INFO_VALUE_COLUMN_CHARS = 26;    // values this far right of the labels
inline constexpr int READOUT_VALUE_COLUMN_CHARS = 20; // the same in the readout box

} // namespace korv
