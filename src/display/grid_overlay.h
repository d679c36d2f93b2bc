#pragma once
// The grid overlay of the spectral image display (the GRID button): tick crosses at round
// times and frequencies, with their labels, computed as drawing lists.

#include "display/view_drawing.h"
#include "display/view_geometry.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace korv {

// The steps of the grid's ticks, in Hz or seconds. Those past 10000 serve the bands of
// ultrasonic recordings (96 kHz and wider), whose kHz labels would otherwise stand ten apart
// every 10 kHz.
inline constexpr std::array<int, 16> GRID_SPACING_CANDIDATES = {
    1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000};
// At and above this time scale the ticks are whole seconds; below it tenths of a second.
inline constexpr double WHOLE_SECOND_TICKS_MSEC = 8.0;
inline constexpr int GRID_CROSS_ARM = 5; // an 11-pixel cross: 5 pixels each side of its centre

// The candidate nearest to target, the first one on a tie.
[[nodiscard]] int nearestGridCandidate(double target);

// The frequency labels stand one character from each pane's left edge and take at most eight
// ("12.5 kHz"): with a character's gap this column is theirs, and the time labels keep clear
// of it.
inline constexpr int FREQUENCY_LABEL_COLUMN_CHARS = 10;

// Recordings longer than this are timed as h:mm:ss on the axis.
inline constexpr double CLOCK_TIME_LABELS_MSEC = 3'600'000.0;

// How the axes are labelled: with their units (frequencies in Hz or kHz, past an hour
// h:mm:ss), or as bare numbers and seconds (the tool's pictures without --legend).
enum class AxisLabels { Units, Classic };

// A frequency label: "500 Hz", "1.6 kHz"; `decimals` of a kHz value (0 or 1).
[[nodiscard]] std::string frequencyLabel(long hz, bool kHz, int decimals);
// A time as h:mm:ss, with tenths when asked: "1:02:05", "1:02:05.5".
[[nodiscard]] std::string clockLabel(double msec, bool tenths);

// The width in pixels a text takes in the font it is drawn with; empty: one character width
// per character.
using TextWidth = std::function<int(const std::string& text)>;

struct TimeAxisInputs {
    double timeScaleMsec = 4.0; // as asked for: chooses the interval between ticks
    double columnMsec = 4.0;    // the real time between columns: places the ticks
    int viewWidth = 0;
    double firstColumn = 0.0; // t0: column 0's time / column time, plus the scroll position
    int charWidth = 0;
    bool dual = false; // labels only in the left pane (the right pane repeats them)
    TextWidth textWidth;
    bool clock = false; // h:mm:ss labels, centred on their ticks
    // The recording's end (0: not known): no tick past it, over columns nothing was analysed
    // for (a file shorter than the view).
    double endMsec = 0.0;
};
struct TimeTick {
    int x = 0;
    long long msec = 0; // a whole multiple of the interval
    std::string label;  // "%-3.1f sec" or "%-3u sec", or h:mm:ss(.s)
    int labelX = 0;
    bool inLimits = false; // crosses are drawn for this tick
    // Its label is drawn: in the limits, and on every k-th interval of absolute time, k the
    // least that keeps each label clear of the next one.
    bool labelled = false;
};
// No ticks below a time scale of 1 msec (no interval is defined there), for an absurd scale
// far above any the program accepts, or for an empty view.
[[nodiscard]] std::vector<TimeTick> timeTicks(const TimeAxisInputs& in);

struct FrequencyTick {
    int y = 0; // from the top of the band
    long hz = 0;
    std::string label; // "2 kHz", "500 Hz"; classic: "%-4u" (linear) or "%-2u Hz" (log)
    bool inLimits = false;
};
// Linear and log scales over one band of the view (geometry's plotHeight, stripHeight and
// rows); none for another scale or a band that gives no axis.
[[nodiscard]] std::vector<FrequencyTick> frequencyTicks(const ViewGeometry& geometry,
                                                        AxisLabels style = AxisLabels::Units);

// A view point on the frequency labels' column of a pane, beside the spectral rows of a scale
// that has them (linear or log).
[[nodiscard]] bool onFrequencyLabels(const ViewGeometry& geometry, PixelPoint point);

enum class GridTarget {
    Window, // over the view at the scroll position; the dual layout repeats everything
    Image,  // over a whole image of imageWidth columns, one band high, from column 0
};
struct GridOverlay {
    ViewDrawing marks;  // the crosses (shadows first when shadowed)
    ViewDrawing labels; // time and frequency labels, drawn transparently
    // The frequency labels alone: the axis a scrolling display keeps at its edge.
    ViewDrawing frequencyAxis;
    [[nodiscard]] ViewDrawing all() const;
};
// shadow: each cross and label is drawn first in the Background colour one pixel lower right.
[[nodiscard]] GridOverlay gridOverlay(const ViewGeometry& geometry, GridTarget target,
                                      int imageWidth, bool shadow, const TextWidth& textWidth = {},
                                      AxisLabels style = AxisLabels::Units);

} // namespace korv
