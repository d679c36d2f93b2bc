#pragma once
// The spectrum plot of the scanning modes (line and bar displays): the curves of the latest
// step with the peak-hold trace, the Peak Delta and L-R Delta plot types, the scope markers,
// the pitch line, the grid and the axis labels. Lines go straight into the plot image; texts
// (and the grid, which the window also draws over a copy) come back as a ViewDrawing that the
// desktop side paints into the same image or onto the window (view_draw.h), so the window, the
// image export and printing share one composition.

#include "analysis/frequency_axis.h"
#include "base/settings_types.h"
#include "display/grid_overlay.h"
#include "display/indexed_surface.h"
#include "display/view_drawing.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korv {

inline constexpr int PLOT_UNITS_HIGH = 240;        // the plot area in plot units
inline constexpr int PLOT_UNITS_MID = 120;         // the delta plots' zero line
inline constexpr int PLOT_ZERO_DB_LEVEL = 360;     // level of the axis' 0 dB
inline constexpr int PEAK_DELTA_HOLD_OFFSET = -30; // dB: the axis while Peak Delta holds
inline constexpr int DELTA_RANGE_DB = 60;
inline constexpr const char* PEAK_HOLD_LABEL = "PEAK HOLD";
inline constexpr const char* PEAK_RESET_LABEL = "PEAK RESET";
inline constexpr const char* PEAK_DELTA_TITLE = "Signal Delta from Peak";
inline constexpr const char* LR_DELTA_TITLE = "L-R Signal Delta";

// The plot image's geometry; unitScale is the layout's plotVerticalScale:
// (client height - 4 line heights) / 300 pixels per plot unit.
struct ScopeGeometry {
    int viewWidth = 0;
    int viewHeight = 0;
    int charWidth = 0;
    int lineHeight = 0;
    int points = 0;   // plotted frequency points
    int plotLeft = 0; // point i at plotLeft + 2 i
    int baseline = 0; // height 0; the plot area's top is at lineHeight
    float unitScale = 0.0f;
};
// plotLeft = (viewWidth - 2 points) / 2, at least 9 / 2 character widths so the level labels
// fit; baseline = viewHeight - 2 line heights.
[[nodiscard]] ScopeGeometry scopeGeometry(int viewWidth, int viewHeight, float unitScale,
                                          int charWidth, int lineHeight, int points);

// The frequency axis: linear from low to high Hz, or logarithmic (the log and third-octave
// scales; for the latter the limits come from the band numbers, ThirdOctavePoints).
struct ScopeAxis {
    FrequencyScale scale = FrequencyScale::Linear;
    double lowHz = 0.0;
    double highHz = 6000.0;
};

// How the scans show their levels: the scrolling image, or the plot as bars or a line.
enum class DisplayType { Scroll, BarPlot, LinePlot };
// What the plot's curve is: the levels, their rise over the held peaks, left minus right.
enum class PlotType { Signal, PeakDelta, LrDelta };
// The channel shown of stereo data: both, or one of them.
enum class StereoChannel { Dual, Left, Right };

// What the plot reads from the settings.
struct ScopeOptions {
    DisplayType displayType = DisplayType::LinePlot; // the plot draws bars or a line
    PlotType plotType = PlotType::Signal;
    DbRange dbRange = DbRange::Db60;
    std::int32_t levelScaleCode = 0;
    std::int32_t marker1Hz = 0;
    std::int32_t marker2Hz = 0;
    bool stereo = false;
    StereoChannel channel = StereoChannel::Dual;
    bool grid = false; // the GRID button
    ScopeAxis axis;
    // The level axis's unit, above its top label: the window's level scale, as the spectral
    // image's legend names it.
    std::string levelUnit = "dB";
};

// The pitch detector's result for one step, as the plot shows it.
struct PitchShown {
    bool voiced = false;
    int markHz = 0;     // the line
    int shownIndex = 0; // the note label
};

// Height in plot units of a level (quarter-dB) for a dB range and axis offset (dB).
[[nodiscard]] long plotUnits(long level, int rangeDb, int offsetDb);

class ScopeView {
  public:
    // The per-point arrays are sized for geometry.points and live for one scan. textWidth
    // measures labels in the font they are drawn with (empty: one character width each).
    ScopeView(const ScopeGeometry& geometry, const ScopeOptions& options, TextWidth textWidth = {});

    [[nodiscard]] const ScopeGeometry& geometry() const { return g_; }
    [[nodiscard]] const ScopeOptions& options() const { return o_; }
    // New settings (markers, level bar, grid) for the following draws; the arrays stay.
    void setOptions(const ScopeOptions& options);

    // The PEAK HOLD button: switching it on clears the held peak. The caller then clears the
    // view (clearView) and paints its labels, so the curves reappear at the next step.
    void setPeakHold(bool on);
    [[nodiscard]] bool peakHoldOn() const { return peakHoldOn_; }
    [[nodiscard]] bool peakHeldInDelta() const { return peakHoldOn_ && peakDelta(); }
    // The button's label, and whether it is offered (mono data or one displayed channel).
    [[nodiscard]] const char* peakButtonLabel() const;
    [[nodiscard]] bool peakHoldAvailable() const;

    // Fills the view with Background; returns the axis labels to paint into it.
    [[nodiscard]] ViewDrawing clearView(IndexedSurface& view) const;
    // The axis labels (Text on Background), none overlapping another.
    [[nodiscard]] ViewDrawing axisLabels() const;
    // The grid crosses with their shadows.
    [[nodiscard]] ViewDrawing gridCrosses() const;

    // One step: first and second are the channels' averaged rows (quarter-dB, point 0 the
    // lowest frequency, gain applied); second is empty for mono data. pitch is null while the
    // detector is off. Draws into view and returns what is to be painted over it (grid, pitch
    // label, delta title) before the view is copied to the window.
    [[nodiscard]] ViewDrawing refresh(IndexedSurface& view, std::span<const std::int16_t> first,
                                      std::span<const std::int16_t> second,
                                      const PitchShown* pitch = nullptr);
    // The complete redraw of a Signal plot from the stored levels with the current options
    // (end of a scan, level bar, markers or colours changed). Returns the axis labels to paint
    // into the view; nothing (and nothing drawn) for the delta plot types. The grid, when on,
    // goes on the window afterwards (gridCrosses).
    [[nodiscard]] std::optional<ViewDrawing> redraw(IndexedSurface& view);

    // Per point, quarter-dB with 4 x levelScaleCode added back: the readouts and data logs.
    // levelDb: the channel shown (mono, Left, or Right); levelDb2: the right channel of
    // stereo data.
    [[nodiscard]] std::span<const float> levelDb() const { return levelDb_; }
    [[nodiscard]] std::span<const float> levelDb2() const { return levelDb2_; }
    [[nodiscard]] std::span<const float> peakDb() const { return peakDb_; }
    [[nodiscard]] std::span<const std::int16_t> peak() const { return peak_; }

    // The point chosen with the mouse, marked by a cross at every draw; nothing for none.
    void setCross(std::optional<PixelPoint> at);

    // The x of a frequency's plot point (markers, pitch line); nothing at or below the low
    // limit, past the last point or where the axis gives no position.
    [[nodiscard]] std::optional<int> frequencyX(double hz) const;

  private:
    [[nodiscard]] bool peakDelta() const;
    [[nodiscard]] bool lrDelta() const;
    [[nodiscard]] bool bars() const;
    [[nodiscard]] bool dualStereo() const;
    [[nodiscard]] int rangeDb() const;
    [[nodiscard]] int height(long level, int offsetDb) const;
    // Heights as drawn: never below the baseline nor above the plot area.
    [[nodiscard]] int drawnHeight(long value) const;
    void drawCurve(IndexedSurface& view, std::span<const std::int16_t> heights, bool asBars,
                   int barShift, std::uint8_t index) const;
    void drawMarkers(IndexedSurface& view) const;
    // The steps of refresh: erase the last step's curves, take the new levels into the curves
    // (true: a second curve is shown), draw them, move the pitch line and its label.
    void eraseCurves(IndexedSurface& view) const;
    bool takeLevels(std::span<const std::int16_t> first, std::span<const std::int16_t> second);
    void drawCurves(IndexedSurface& view, bool secondCurve);
    void drawPitch(IndexedSurface& view, const PitchShown& pitch, ViewDrawing& over);
    void drawCross(IndexedSurface& view) const;
    void drawVertical(IndexedSurface& view, int x, std::uint8_t index) const;
    [[nodiscard]] int width(const std::string& text) const;

    ScopeGeometry g_;
    ScopeOptions o_;
    TextWidth textWidth_;
    std::vector<std::int16_t> curve_;
    std::vector<std::int16_t> curve2_;
    std::vector<std::int16_t> peak_;
    std::vector<float> peakDb_;
    std::vector<float> levelDb_;
    std::vector<float> levelDb2_;
    bool peakHoldOn_ = false;
    bool curveShown_ = false;
    bool curve2Shown_ = false;
    bool peakShown_ = false;
    std::optional<int> pitchX_;
    std::optional<PixelPoint> cross_;
};

} // namespace korv
