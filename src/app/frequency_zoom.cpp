#include "app/frequency_zoom.h"

#include "analysis/frequency_axis.h"
#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/main_window.h"
#include "app/program_menu.h"
#include "app/view_navigation.h"

#include <QCursor>
#include <QEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace korv {

namespace {

constexpr int kWheelNotch = 120; // the angle of one wheel notch, in eighths of a degree
constexpr double kLowestLogHz = 1.0;

// Ctrl+Shift+wheel over the picture, a step a notch; the rest of the wheel is the window's.
class WheelZoom : public QObject {
  public:
    WheelZoom(MainWindow& window) : QObject(&window), window_(window) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel) {
            return QObject::eventFilter(watched, event);
        }
        const auto& wheel = *static_cast<QWheelEvent*>(event);
        const Qt::KeyboardModifiers both = Qt::ControlModifier | Qt::ShiftModifier;
        if ((wheel.modifiers() & both) != both) {
            return QObject::eventFilter(watched, event);
        }
        // Some desktops turn a wheel with Shift into a sideways one.
        const QPoint delta = wheel.angleDelta();
        angle_ += delta.y() != 0 ? delta.y() : delta.x();
        const int y = wheel.position().toPoint().y();
        for (; angle_ >= kWheelNotch; angle_ -= kWheelNotch) {
            changeFrequencyBand(window_, -1, y);
        }
        for (; angle_ <= -kWheelNotch; angle_ += kWheelNotch) {
            changeFrequencyBand(window_, 1, y);
        }
        return true;
    }

  private:
    MainWindow& window_;
    int angle_ = 0; // turns not yet made into steps
};

} // namespace

ZoomBand zoomedBand(FrequencyScale scale, double lowHz, double highHz, double fixedHz,
                    double factor, double topHz) {
    const bool logarithmic = frequencyScaleInfo(scale).logarithmic;
    const auto to = [logarithmic](double hz) {
        return logarithmic ? std::log10(std::max(hz, kLowestLogHz)) : hz;
    };
    const auto from = [logarithmic](double v) { return logarithmic ? std::pow(10.0, v) : v; };
    const double bottom = to(logarithmic ? kLowestLogHz : 0.0);
    const double top = to(topHz);
    const double low = to(lowHz);
    const double high = to(highHz);
    const double span = high - low;
    if (span <= 0.0 || top <= bottom) {
        return {static_cast<std::int32_t>(lowHz), static_cast<std::int32_t>(highHz)};
    }
    const double fixed = std::clamp(to(fixedHz), low, high);
    const double fraction = (fixed - low) / span;
    double width = std::min(span * factor, top - bottom);
    double newLow = fixed - fraction * width;
    newLow = std::clamp(newLow, bottom, top - width);
    ZoomBand band{static_cast<std::int32_t>(std::lround(from(newLow))),
                  static_cast<std::int32_t>(std::lround(from(newLow + width)))};
    // Never narrower than an analysis takes, grown upwards (downwards at the top).
    if (band.highHz - band.lowHz < MIN_BAND_WIDTH_HZ) {
        band.highHz = band.lowHz + MIN_BAND_WIDTH_HZ;
        if (band.highHz > static_cast<std::int32_t>(topHz)) {
            band.highHz = static_cast<std::int32_t>(topHz);
            band.lowHz = band.highHz - MIN_BAND_WIDTH_HZ;
        }
    }
    return band;
}

ZoomBand draggedBand(double fromHz, double toHz, double topHz) {
    const double top = std::max(topHz, static_cast<double>(MIN_BAND_WIDTH_HZ));
    double low = std::clamp(std::min(fromHz, toHz), 0.0, top);
    double high = std::clamp(std::max(fromHz, toHz), 0.0, top);
    if (high - low < MIN_BAND_WIDTH_HZ) {
        const double middle =
            std::clamp((low + high) / 2.0, MIN_BAND_WIDTH_HZ / 2.0, top - MIN_BAND_WIDTH_HZ / 2.0);
        low = middle - MIN_BAND_WIDTH_HZ / 2.0;
        high = middle + MIN_BAND_WIDTH_HZ / 2.0;
    }
    ZoomBand band{static_cast<std::int32_t>(std::lround(low)),
                  static_cast<std::int32_t>(std::lround(high))};
    // Rounding may take a hertz off the width; it goes back on the side that has room.
    if (band.highHz - band.lowHz < MIN_BAND_WIDTH_HZ) {
        if (band.lowHz + MIN_BAND_WIDTH_HZ <= static_cast<std::int32_t>(top)) {
            band.highHz = band.lowHz + MIN_BAND_WIDTH_HZ;
        } else {
            band.lowHz = band.highHz - MIN_BAND_WIDTH_HZ;
        }
    }
    return band;
}

bool frequencyZoomAvailable(MainWindow& window) {
    const AppState& s = window.state();
    return !s.control.modeRunning && s.held.spectralImage && !s.view.analysisDrawing &&
           s.settings.displayType == DisplayType::Scroll &&
           window.commandBuilt(cmd::kParametersChange) &&
           window.menu().enabled(cmd::kParametersChange);
}

void changeFrequencyBand(MainWindow& window, int direction, int y) {
    if (!frequencyZoomAvailable(window)) {
        return;
    }
    const ViewGeometry g = currentViewGeometry(window.state());
    const FrequencyAxis axis = g.frequencyAxis();
    if (!axis.usable() || g.sampleRate <= 0) {
        return;
    }
    // The pointer's row, or the band's middle when it is off the spectral rows.
    const int row = g.plotHeight - 1 - y;
    const double fixedHz = y >= g.stripHeight && row >= 0 && row < g.rows()
                               ? axis.hzAtRow(row)
                               : axis.hzAtRow(g.rows() / 2.0);
    setFrequencyBand(window,
                     zoomedBand(g.frequencyScale, g.lowBandHz, g.highBandHz, fixedHz,
                                direction < 0 ? 1.0 / kFrequencyZoomFactor : kFrequencyZoomFactor,
                                g.sampleRate / 2.0));
}

void setFrequencyBand(MainWindow& window, ZoomBand band) {
    AppState& s = window.state();
    if (!frequencyZoomAvailable(window) ||
        band == ZoomBand{s.settings.lowBandHz, s.settings.highBandHz}) {
        return;
    }
    const long pos = s.view.scroll.h.pos;
    zoomHeldAnalysis(window, cmd::kParametersChangeBand, [band](AppSettings& settings) {
        settings.lowBandHz = band.lowHz;
        settings.highBandHz = band.highHz;
    });
    // The same columns analysed again: the view keeps its time too.
    if (s.held.spectralImage && !s.view.analysisDrawing) {
        window.surface().invalidate();
        scrollViewTo(window, pos);
    }
}

void zoomHeldAnalysis(MainWindow& window, int param,
                      const std::function<void(AppSettings&)>& change) {
    AppState& s = window.state();
    const bool keptBefore = s.restore.has_value();
    const AppSettings before = s.settings;
    change(s.settings);
    window.commands().send(cmd::kParametersChange, param);
    // The change keeps the settings for Restore as it finds them, the zoom's already made.
    if (!keptBefore && s.restore) {
        s.restore->settings = before;
    }
}

void installFrequencyZoom(MainWindow& window) {
    // Installed after the window's own filter, so it sees the wheel first.
    window.drawingArea()->installEventFilter(new WheelZoom(window));
    MainWindow* w = &window;
    for (const int id : {cmd::kNarrowBand, cmd::kWidenBand}) {
        window.registerCommand(id, [w, id](int from) {
            if (!w->menu().enabled(id)) {
                return;
            }
            // The keys zoom about the pointer's frequency when it rests on the picture; the
            // menu's items, and the keys elsewhere, about the band's middle.
            int y = -1;
            const QPoint pointer = w->drawingArea()->mapFromGlobal(QCursor::pos());
            if (from == cmd::kFromKey && pointer.x() >= 0 &&
                pointer.x() < w->state().view.layout.plotWidth) {
                y = pointer.y();
            }
            changeFrequencyBand(*w, id == cmd::kNarrowBand ? -1 : 1, y);
        });
    }
}

} // namespace korv
