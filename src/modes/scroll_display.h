#pragma once
// The Scroll display of a scan: one column per step, scrolling right to left in groups of
// four pixels, with the waveform strip above the spectral rows; one pane, or the two panes of
// dual stereo 7 pixels apart, holding as many columns each (of an even width the left one has
// room for one more, left empty). The columns go into a view-sized image, from which the window
// is drawn (and repainted); with the scroll memory on that image is kept after the scan.

#include "display/palette.h"
#include "display/pitch_display.h"
#include "display/spectral_image.h"
#include "modes/scan_loop.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace korv {

class WindowSurface;

// Columns are moved in groups of this many pixels.
inline constexpr int SCROLL_GROUP_COLUMNS = 4;
// The gap between the two panes of dual stereo: the left one ends at view width / 2 - 3, the
// right one starts at view width / 2 + 4.
inline constexpr int DUAL_LEFT_PANE_END = 3;
inline constexpr int DUAL_RIGHT_PANE_START = 4;

struct ScrollLayout {
    int viewWidth = 0;
    int plotHeight = 0;
    int stripHeight = 0;
    int dataChannels = 1;            // 1 or 2
    bool dual = false;               // stereo shown as two panes
    int shownChannel = 0;            // one pane: the channel it shows
    DbRange dbRange = DbRange::Db60; // the colour range
    // The pitch detector's dot and note label: the scale of the rows, the label's cell, and how
    // its text is painted.
    bool pitch = false;
    FrequencyScale frequencyScale = FrequencyScale::Linear;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    int charWidth = 0;
    int lineHeight = 0;
    // The scope markers (0: none): lines across the view at their rows, on the window only so
    // that the kept image holds levels alone.
    std::int32_t marker1Hz = 0;
    std::int32_t marker2Hz = 0;
    std::function<void(const ViewDrawing&, IndexedSurface&)> paintLabel;
    // The frequency axis at each pane's left edge: the columns it covers, and how the window's
    // copy of them is drawn again with the labels on top (after each scroll, and while the
    // first columns are drawn under it).
    int axisColumns = 0;
    // The first view column under the level legend, redrawn with the axis as columns land there.
    int legendColumn = 0;
    std::function<void()> redrawAxis;
};

class ScrollDisplay final : public ScanDisplay {
  public:
    // `image`: view-sized, bands as the data's channels. Neither is owned.
    ScrollDisplay(WindowSurface& window, SpectralImage& image, const ScrollLayout& layout);

    [[nodiscard]] int rows() const override { return layout_.plotHeight - layout_.stripHeight; }
    [[nodiscard]] FrequencyAxis frequencyAxis() const {
        return {layout_.frequencyScale, static_cast<double>(layout_.lowBandHz),
                static_cast<double>(layout_.highBandHz), rows()};
    }
    void step(const ScanStep& step) override;
    void finish() override {}

    // The columns each pane holds: how many, and the frames the windows of the first and the
    // last of them ended at; nothing before the first step.
    struct KeptColumns {
        std::int64_t firstEndFrame = 0;
        std::int64_t lastEndFrame = 0;
        long columns = 0;
    };
    [[nodiscard]] std::optional<KeptColumns> keptColumns() const;

  private:
    struct Pane {
        int channel = 0;
        int x = 0;     // left edge in the view
        int width = 0; // the columns it holds
    };
    void drawColumn(const ScanStep& step, const Pane& pane, int x);
    void scrollPane(const Pane& pane);
    void showPitchLabel(const PitchResult& pitch);
    void blitLabel();
    // The label's box in the window.
    [[nodiscard]] PixelRect labelBox() const;

    WindowSurface& window_;
    SpectralImage& image_;
    ScrollLayout layout_;
    LevelRange range_;
    std::vector<Pane> panes_;
    int paneColumns_ = 0; // the columns each pane holds
    std::vector<std::uint8_t> indices_;
    std::vector<int> markerYs_;
    int columns_ = 0; // the columns each pane shows now; the next goes after them
    // Per column of a pane, the end frame of the step drawn there.
    std::vector<std::int64_t> columnEndFrames_;
    long steps_ = 0;
    // The latest note's label, as drawn: only on the window, over the scrolling picture, so
    // the picture neither carries it along nor keeps it among its levels.
    std::optional<IndexedSurface> label_;
};

} // namespace korv
