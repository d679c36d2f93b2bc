#pragma once
// The cursor readouts beside the information panel (frequency, time and level under the
// pointer), the mapping of a view x to an image column, and the segment a drag selects.

#include "analysis/parameters.h"
#include "display/palette.h"
#include "display/view_drawing.h"
#include "display/view_geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korv {

inline constexpr std::string_view READOUT_TITLE_ANALYZE_FILE = " Analyze File";
inline constexpr std::string_view READOUT_TITLE_SCAN_INPUT = "  Scan Input ";
inline constexpr std::string_view READOUT_TITLE_SCAN_FILE = "  Scan File  ";
inline constexpr std::string_view READOUT_TITLE_RECORDING = "  Recording  ";
inline constexpr std::string_view READOUT_FREQUENCY_LABEL = "Frequency (Hz) :";
inline constexpr std::string_view READOUT_TIME_LABEL = "Time (msec) :";
inline constexpr std::string_view READOUT_TIME_NOW_LABEL = "Time Now (sec) : ";
inline constexpr std::string_view READOUT_LEVEL_LABEL = "Signal Level (dB) :";
// While the right button measures: from the anchor to the pointer.
inline constexpr std::string_view READOUT_DELTA_FREQUENCY_LABEL = "\u0394f (Hz) :";
inline constexpr std::string_view READOUT_DELTA_TIME_LABEL = "\u0394t (msec) :";
inline constexpr std::string_view READOUT_DELTA_LEVEL_LABEL = "\u0394 Level (dB) :";
inline constexpr std::string_view READOUT_PLACEHOLDER = "00000           ";
inline constexpr std::string_view READOUT_TIME_NOW_PLACEHOLDER = "0000            ";
// The widest texts of each column, for sizing the box: titles and labels; the placeholders
// and values with the most digits the readouts show (times up to 9 digits of msec: a day's
// recording and more).
inline constexpr std::string_view READOUT_LABELS[] = {
    READOUT_TITLE_ANALYZE_FILE, READOUT_TITLE_SCAN_INPUT, READOUT_TITLE_SCAN_FILE,
    READOUT_TITLE_RECORDING,    READOUT_FREQUENCY_LABEL,  READOUT_TIME_LABEL,
    READOUT_TIME_NOW_LABEL,     READOUT_LEVEL_LABEL};
inline constexpr std::string_view READOUT_WIDEST_VALUES[] = {
    READOUT_PLACEHOLDER, READOUT_TIME_NOW_PLACEHOLDER, "00000 +/- 000 ",
    "00000 +/- 0.0 ",    "000000000 +/- 00 ",          "-000"};

// While the pointer moves / when the whole box is redrawn after a paint.
inline constexpr long READOUT_MAX_HZ_MOVING = 48000;
inline constexpr long READOUT_MAX_UNCERTAINTY_MOVING = 400;
inline constexpr long READOUT_DECIMAL_BELOW_MOVING = 10;
inline constexpr long READOUT_MAX_HZ_WHOLE = 99999;
inline constexpr long READOUT_MAX_UNCERTAINTY_WHOLE = 999;
inline constexpr long READOUT_DECIMAL_BELOW_WHOLE = 3;
inline constexpr double READOUT_DIVIDER_DB = -90.0;

// In the dual layout, x at or beyond the plot width is column 0 and x in the right pane
// (x > plotWidth / 2 - 4) is x - plotWidth / 2 - 4; otherwise x itself; never negative.
[[nodiscard]] int viewXToColumn(int viewX, int plotWidth, bool dualStereo);
// The divider between the dual panes: plotWidth / 2 - 3 < x < plotWidth / 2 + 4.
[[nodiscard]] bool onDualDivider(int viewX, int plotWidth);

// The level (dB as displayed, level / 4 - 90) a palette index stands for: the middle of the
// levels that map to it. The named colours and Background read as the bottom of the range.
[[nodiscard]] double levelDbForPaletteIndex(int index, DbRange range);

struct ReadoutContext {
    std::int32_t lastMode = 0; // 0 Analyze File, 1 and 2 Scan Input, 3 and 4 Scan File
    bool recording = false;    // a Scan Input is recording: the title turns red
    bool playing = false;      // the time line shows the current time ...
    bool scanning = false;     // ... and so does a running scan
    double timeNowMsec = 0.0;
    bool singleInstant = false; // a single-instant spectrum: the current time in msec detail
    DbRange dbRange = DbRange::Db60;
    std::int32_t cursorOffsetHz = 0;
    bool wholeBox = false; // the whole box is redrawn (after a paint): wider limits
};

struct ReadoutPoint {
    bool inside = false;     // on the spectral image display, stripHeight < y < plotHeight
    int viewX = 0;           // for the dual divider
    long absoluteColumn = 0; // viewXToColumn(x) + hScrollPos
    int y = 0;
    int paletteIndex = kBackgroundIndex; // the analysed image's own index under the pointer
};

struct ReadoutTexts {
    std::string title;
    bool titleRed = false;
    std::string_view frequencyLabel = READOUT_FREQUENCY_LABEL;
    std::string_view timeLabel = READOUT_TIME_LABEL;
    std::string_view levelLabel = READOUT_LEVEL_LABEL;
    std::optional<std::string> frequency; // nothing is drawn when out of range
    std::string time;
    std::string level;
    friend bool operator==(const ReadoutTexts&, const ReadoutTexts&) = default;
};

[[nodiscard]] std::string_view readoutTitle(std::int32_t lastMode, bool recording);
[[nodiscard]] ReadoutTexts readoutTexts(const ViewGeometry& geometry, const ReadoutContext& context,
                                        const ReadoutPoint& point);
// The right-button measure: the frequency, time and level of `point` less those of `anchor`
// (signed; the times of their columns, the frequencies of their rows without the cursor
// offset, which cancels). Placeholders where either point has no value.
[[nodiscard]] ReadoutTexts measureTexts(const ViewGeometry& geometry, const ReadoutContext& context,
                                        const ReadoutPoint& anchor, const ReadoutPoint& point);
// The sunken box at geometry.readoutBox, to draw before the lines when it is redrawn whole.
[[nodiscard]] ViewDrawing readoutBox(const ViewGeometry& geometry);
// The title and three lines, black (the title red while recording) and opaque; each label
// and value area is cleared first so a shorter text leaves nothing of a longer one behind.
[[nodiscard]] ViewDrawing readoutLines(const ViewGeometry& geometry, const ReadoutTexts& texts);

// The frequency of pixel row y of the view's spectral band, without the cursor offset; nothing
// outside the band (the right-button rectangle's frequency span).
[[nodiscard]] std::optional<long> rowFrequencyHz(const ViewGeometry& geometry, int y);

// A left drag from startColumn to endColumn (view columns) selects the same segment in
// either direction: from the first sample of the smaller column to that of the larger one,
// counted from the start of the loaded segment, in whole frames.
struct DragSegment {
    long firstColumn = 0; // absolute columns (scroll position included)
    long lastColumn = 0;
    std::int64_t beginByte = 0;
    std::int64_t endByte = 0;
    std::int64_t beginFrame = 0;
    std::int64_t endFrame = 0;
    friend bool operator==(const DragSegment&, const DragSegment&) = default;
};
// hop: the run's interleaved samples between columns.
[[nodiscard]] DragSegment dragSegment(int startColumn, int endColumn, int hScrollPos, long hop,
                                      const RunFormat& format);

// A click (release at view column `column`): the instant for the point spectrum (the column's
// time) and the byte position Scan File's spectra end at (one FFT frame after the column's
// first sample, rounded down to a multiple of 4).
struct ClickInstant {
    double msec = 0.0;
    std::int64_t bytePosition = 0;
    friend bool operator==(const ClickInstant&, const ClickInstant&) = default;
};
[[nodiscard]] ClickInstant clickInstant(int column, const ViewGeometry& geometry,
                                        const RunFormat& format);

} // namespace korv
