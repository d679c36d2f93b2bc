#include "app/frequency_zoom.h"

#include "analysis/frequency_axis.h"
#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/main_window.h"
#include "app/program_menu.h"
#include "app/view_navigation.h"

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

void changeFrequencyBand(MainWindow& window, int direction, int y) {
    AppState& s = window.state();
    if (s.control.modeRunning || !s.held.spectralImage || s.view.analysisDrawing ||
        s.settings.displayType != DisplayType::Scroll ||
        !window.commandBuilt(cmd::kParametersChange) ||
        !window.menu().enabled(cmd::kParametersChange)) {
        return;
    }
    const ViewGeometry g = currentViewGeometry(s);
    const FrequencyAxis axis = g.frequencyAxis();
    if (!axis.usable() || g.sampleRate <= 0) {
        return;
    }
    // The pointer's row, or the band's middle when it is off the spectral rows.
    const int row = g.plotHeight - 1 - y;
    const double fixedHz = y >= g.stripHeight && row >= 0 && row < g.rows()
                               ? axis.hzAtRow(row)
                               : axis.hzAtRow(g.rows() / 2.0);
    const ZoomBand band = zoomedBand(
        g.frequencyScale, g.lowBandHz, g.highBandHz, fixedHz,
        direction < 0 ? 1.0 / kFrequencyZoomFactor : kFrequencyZoomFactor, g.sampleRate / 2.0);
    if (band == ZoomBand{g.lowBandHz, g.highBandHz}) {
        return;
    }
    const int pos = s.view.scroll.h.pos;
    s.settings.lowBandHz = band.lowHz;
    s.settings.highBandHz = band.highHz;
    window.commands().send(cmd::kParametersChange, cmd::kParametersChangeBand);
    // The same columns analysed again: the view keeps its time too.
    if (s.held.spectralImage && !s.view.analysisDrawing) {
        window.surface().invalidate();
        scrollViewTo(window, pos);
    }
}

void installFrequencyZoom(MainWindow& window) {
    // Installed after the window's own filter, so it sees the wheel first.
    window.drawingArea()->installEventFilter(new WheelZoom(window));
}

} // namespace korv
