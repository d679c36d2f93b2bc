#include "modes/plot_display.h"

#include "analysis/frequency_scale.h"
#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "dialogs/scope_markers_dialog.h"
#include "display/view_draw.h"
#include "modes/scan_file.h"
#include "platform/prompts.h"
#include "settings/settings_inputs.h"

#include <QFontMetrics>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace korv {

namespace {

// What outlives one scan: the view with its levels and peak, and what the window shows of it.
struct PlotRoom {
    std::unique_ptr<ScopeView> view;
    ScopeAxis axis;
    bool gridShown = false;
    // Each bin's own level of the shown channel, stored as the view stores its points (gain
    // added back): the spectrum log's Linear lines.
    std::vector<float> binLevelDb;
    // The point clicked on the finished plot: its cross stays for the re-plots.
    std::optional<PixelPoint> cross;
};

// The window's, kept by installPlotDisplay: the plot's commands and painting run only there.
PlotRoom& room(const MainWindow& window) {
    return *window.part<PlotRoom>();
}

bool plotDisplay(const AppSettings& settings) {
    return settings.displayType == DisplayType::LinePlot ||
           settings.displayType == DisplayType::BarPlot;
}

// The plot image and view of the current window, when both are there.
IndexedSurface* heldImage(MainWindow& window) {
    ViewState& view = window.state().view;
    return view.plotImage && room(window).view ? &*view.plotImage : nullptr;
}

void copyToWindow(WindowSurface& target, const IndexedSurface& image, const PlotLayout& l) {
    target.blit(image, {0, 0, l.plotWidth, l.plotHeight}, {0, 0});
}

std::int16_t toLevel(float v) {
    return static_cast<std::int16_t>(std::clamp(v, -32768.0f, 32767.0f));
}

class PlotDisplay final : public ScanDisplay {
  public:
    PlotDisplay(MainWindow& window, IndexedSurface& image) : window_(window), image_(image) {
        ScopeView& v = *room(window_).view;
        first_.resize(static_cast<std::size_t>(v.geometry().points));
        second_.resize(first_.size());
        paint(v.clearView(image_));
        copyToWindow(window_.surface(), image_, window_.state().view.layout);
    }

    [[nodiscard]] int rows() const override { return room(window_).view->geometry().points; }
    [[nodiscard]] bool wantsBins() const override { return true; }

    void step(const ScanStep& step) override {
        ScopeView& v = *room(window_).view;
        AppState& s = window_.state();
        v.setOptions(scopeOptions(s.settings, room(window_).axis, s.view.gridOn));
        const auto convert = [](std::span<const float> from, std::vector<std::int16_t>& to) {
            const std::size_t n = std::min(from.size(), to.size());
            std::transform(from.begin(), from.begin() + static_cast<std::ptrdiff_t>(n), to.begin(),
                           toLevel);
            return std::span<const std::int16_t>(to).first(n);
        };
        const auto first = convert(step.rows[0], first_);
        const auto second = convert(step.rows[1], second_);
        PitchShown pitch;
        if (step.pitch) {
            pitch = {step.pitch->voiced, step.pitch->markHz, step.pitch->shownIndex};
        }
        paint(v.refresh(image_, first, second, step.pitch ? &pitch : nullptr));
        keepBins(step, s.settings);
        room(window_).gridShown = s.view.gridOn;
        // A frozen Scan Input keeps its window as it was.
        if (!s.view.displayFrozen) {
            copyToWindow(window_.surface(), image_, window_.state().view.layout);
        }
    }

    void finish() override {
        // A line plot is drawn once more complete; the window then keeps it.
        if (window_.state().settings.displayType == DisplayType::LinePlot) {
            paintScanPlot(window_, window_.surface());
        }
    }

  private:
    void keepBins(const ScanStep& step, const AppSettings& st) {
        const bool right = st.stereo && st.channel == StereoChannel::Right && !step.bins[1].empty();
        const std::span<const float> bins = right ? step.bins[1] : step.bins[0];
        const float gain = 4.0f * static_cast<float>(st.levelScaleCode);
        std::vector<float>& kept = room(window_).binLevelDb;
        kept.resize(bins.size());
        std::transform(bins.begin(), bins.end(), kept.begin(),
                       [gain](float v) { return v + gain; });
    }

    void paint(const ViewDrawing& drawing) {
        paintViewDrawing(image_, drawing, window_.controlFont());
    }

    MainWindow& window_;
    IndexedSurface& image_;
    std::vector<std::int16_t> first_;
    std::vector<std::int16_t> second_;
};

// A new plot image and view for a scan; null when the memory cannot be had.
std::unique_ptr<ScanDisplay> makePlotDisplay(MainWindow& window, const AppSettings& st) {
    AppState& s = window.state();
    const PlotLayout& l = s.view.layout;
    const int points = l.plotColumnCount;
    ScopeAxis axis{st.frequencyScale, static_cast<double>(st.lowBandHz),
                   static_cast<double>(st.highBandHz)};
    if (st.frequencyScale == FrequencyScale::ThirdOctave) {
        // The axis runs over the bands the points show.
        const auto bands = thirdOctavePoints(s.analysis.sampleRateHz, st.fftSize(), points);
        if (bands) {
            axis.lowHz = bands->lowHz;
            axis.highHz = bands->highHz;
        }
    }
    auto image = IndexedSurface::create(l.plotWidth, l.plotHeight, kBackgroundIndex);
    if (!image) {
        return nullptr;
    }
    const QFontMetrics metrics(window.controlFont());
    try {
        room(window).view = std::make_unique<ScopeView>(
            scopeGeometry(l.plotWidth, l.plotHeight, l.plotVerticalScale, l.charWidth, l.charHeight,
                          points),
            scopeOptions(st, axis, s.view.gridOn), [metrics](const std::string& text) {
                return metrics.horizontalAdvance(QString::fromStdString(text));
            });
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    room(window).view->setCross(room(window).cross);
    room(window).axis = axis;
    room(window).gridShown = s.view.gridOn;
    room(window).binLevelDb.clear();
    s.view.plotImage = CountedBlock<IndexedSurface>(std::move(*image));
    // The markers are drawn on the plot from now on.
    window.menu().enable(cmd::kFreqMark, true);
    QPushButton* peak = window.button(cmd::kPeakHold);
    peak->setText(QString::fromLatin1(room(window).view->peakButtonLabel()));
    peak->setChecked(false);
    peak->setEnabled(room(window).view->peakHoldAvailable());
    return std::make_unique<PlotDisplay>(window, *s.view.plotImage);
}

// PEAK HOLD: the held peak starts again when switched on; the view is cleared either way, and
// the curves come back at the next step.
void peakHold(MainWindow& window) {
    IndexedSurface* image = heldImage(window);
    if (image == nullptr || !window.state().view.scanDrawing) {
        return;
    }
    ScopeView& v = *room(window).view;
    v.setPeakHold(window.button(cmd::kPeakHold)->isChecked());
    paintViewDrawing(*image, v.clearView(*image), window.controlFont());
    copyToWindow(window.surface(), *image, window.state().view.layout);
}

// Freq Mark: the markers set, the drawing area cleared and the plot drawn again with them.
void freqMark(MainWindow& window) {
    if (!runScopeMarkersDialog(prompts(), window.state().settings)) {
        return;
    }
    window.clearDrawingArea();
    window.redrawView(true);
}

} // namespace

void paintScanPlot(MainWindow& window, WindowSurface& target) {
    AppState& s = window.state();
    IndexedSurface* image = heldImage(window);
    if (image == nullptr || !plotDisplay(s.settings)) {
        return;
    }
    ScopeView& v = *room(window).view;
    v.setOptions(scopeOptions(s.settings, room(window).axis, s.view.gridOn));
    const QFont font = window.controlFont();
    if (std::optional<ViewDrawing> labels = v.redraw(*image)) {
        paintViewDrawing(*image, *labels, font);
    } else if (room(window).gridShown && !s.view.gridOn) {
        // A delta plot is not redrawn; its crosses go with a cleared view.
        paintViewDrawing(*image, v.clearView(*image), font);
    }
    room(window).gridShown = s.view.gridOn;
    copyToWindow(target, *image, s.view.layout);
    paintViewDrawing(target, scanPlotOverlay(window), font);
}

ViewDrawing scanPlotOverlay(const MainWindow& window) {
    const AppState& s = window.state();
    const ScopeView* v = scanPlotView(window);
    return v != nullptr && s.view.gridOn && plotDisplay(s.settings) ? v->gridCrosses()
                                                                    : ViewDrawing{};
}

const ScopeView* scanPlotView(const MainWindow& window) {
    const PlotRoom* r = window.part<PlotRoom>();
    return window.state().view.plotImage && r != nullptr ? r->view.get() : nullptr;
}

void setScanPlotCross(const MainWindow& window, std::optional<PixelPoint> at) {
    PlotRoom* r = window.part<PlotRoom>();
    if (r == nullptr) {
        return;
    }
    r->cross = at;
    if (r->view) {
        r->view->setCross(at);
    }
}

std::span<const float> scanPlotBinLevels(const MainWindow& window) {
    const PlotRoom* r = window.part<PlotRoom>();
    return r != nullptr ? std::span<const float>(r->binLevelDb) : std::span<const float>();
}

void installPlotDisplay(MainWindow& window) {
    window.keepPart(std::make_shared<PlotRoom>());
    setScanPlotDisplayFactory(window, makePlotDisplay);
    MainWindow* w = &window;
    window.registerCommand(cmd::kPeakHold, [w](int) { peakHold(*w); });
    window.registerCommand(cmd::kFreqMark, [w](int) { freqMark(*w); });
}

} // namespace korv
