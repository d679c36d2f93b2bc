#include "app/overview_strip.h"

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/view_navigation.h"
#include "display/palette.h"
#include "display/plot_layout.h"

#include <QEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <tuple>

namespace korv {

namespace {

constexpr int kStripMargin = 2;         // from the time bar and from the panel's boxes
constexpr int kMinimumStripHeight = 4;  // less than this shows nothing worth the place
constexpr int kRowsSampledPerPixel = 8; // image rows read for each row of the strip
constexpr QRgb kMarkColour = qRgb(255, 255, 255);
constexpr int kShadeAlpha = 110; // the darkening of what is out of view

// What the reduced picture was made from: a new analysis makes it again.
using ImageKey = std::tuple<const void*, long, int, int, double, std::int64_t, std::int64_t,
                            std::int32_t, std::int32_t, int, int>;

class OverviewStrip : public QWidget {
  public:
    OverviewStrip(MainWindow& window, QWidget* parent) : QWidget(parent), window_(window) {
        setObjectName(QString::fromLatin1(kOverviewStripName));
        setAccessibleName(QStringLiteral("Overview"));
        setAttribute(Qt::WA_OpaquePaintEvent);
        setCursor(Qt::PointingHandCursor);
        hide();
    }

    // Shown, placed and drawn again as the window now is.
    void follow() {
        const QRect place = stripPlace();
        if (place.isEmpty()) {
            hide();
            return;
        }
        if (geometry() != place) {
            setGeometry(place);
        }
        show();
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const AppState& s = window_.state();
        const long columns = analysedColumns(s);
        if (!s.held.spectralImage || columns <= 0) {
            painter.fillRect(rect(), Qt::black);
            return;
        }
        reduce(s, columns);
        QImage image = reduced_;
        image.setColorTable(s.view.display.colourTable());
        painter.drawImage(0, 0, image);
        const auto [x, w] = markOf(s, columns);
        painter.fillRect(QRect(0, 0, x, height()), QColor(0, 0, 0, kShadeAlpha));
        painter.fillRect(QRect(x + w, 0, width() - x - w, height()), QColor(0, 0, 0, kShadeAlpha));
        painter.setPen(QColor(kMarkColour));
        painter.drawRect(x, 0, std::max(0, w - 1), height() - 1);
    }

    void mousePressEvent(QMouseEvent* event) override { moveView(*event); }
    void mouseMoveEvent(QMouseEvent* event) override { moveView(*event); }

  private:
    // Below the time bar across the picture's width, above the panel's boxes.
    QRect stripPlace() const {
        const AppState& s = window_.state();
        const PlotLayout& l = s.view.layout;
        if (!s.held.spectralImage || analysedColumns(s) <= 0 || s.view.analysisDrawing ||
            s.view.scrollMemoryShown || s.settings.displayType != DisplayType::Scroll) {
            return {};
        }
        const int top = l.plotHeight + l.scrollBarThickness + kStripMargin;
        const int below = std::min(l.infoPanel.y, l.buttonY0) - kStripMargin;
        const int h = std::min(kOverviewStripHeight, below - top);
        if (h < kMinimumStripHeight || l.plotWidth <= 0) {
            return {};
        }
        return {0, top, l.plotWidth, h};
    }

    // The view's span in strip pixels: [x, x + width), at least a pixel wide.
    std::pair<int, int> markOf(const AppState& s, long columns) const {
        const long shown = std::min<long>(
            columns, visibleImageColumns(s.view.layout.plotWidth, dualStereoView(s.settings)));
        const long first = std::clamp<long>(s.view.scroll.h.pos, 0, columns - shown);
        const auto x = static_cast<int>(first * width() / columns);
        const auto end = static_cast<int>((first + shown) * width() / columns);
        return {x, std::max(1, end - x)};
    }

    // Each strip pixel the loudest level of its columns and of a sample of its rows.
    void reduce(const AppState& s, long columns) {
        const SpectralImage& spectral = *s.held.spectralImage;
        const AnalysisRun& run = s.analysis.run;
        const ImageKey key{&spectral,
                           columns,
                           spectral.width(),
                           spectral.height(),
                           run.params.columnMsec,
                           run.segmentStartByte,
                           run.segmentBytes,
                           s.settings.lowBandHz,
                           s.settings.highBandHz,
                           width(),
                           height()};
        if (key == key_ && !reduced_.isNull()) {
            return;
        }
        key_ = key;
        const int w = width();
        const int h = height();
        reduced_ = QImage(w, h, QImage::Format_Indexed8);
        reduced_.fill(static_cast<uint>(kBackgroundIndex));
        const IndexedSurface& image = spectral.surface();
        const int band = std::max(1, run.plotHeight);
        const int strip = std::clamp(run.stripHeight, 0, band - 1);
        const int rows = band - strip;
        const int step = std::max(1, rows / (h * kRowsSampledPerPixel));
        std::vector<int> xOf(static_cast<std::size_t>(columns));
        for (long c = 0; c < columns; ++c) {
            xOf[static_cast<std::size_t>(c)] = static_cast<int>(c * w / columns);
        }
        for (int y = 0; y < image.height(); y += step) {
            const int inner = y % band;
            if (inner < strip) {
                continue;
            }
            const int sy = (inner - strip) * h / rows;
            const auto line = image.row(y);
            uchar* out = reduced_.scanLine(sy);
            const long n = std::min<long>(columns, static_cast<long>(line.size()));
            for (long c = 0; c < n; ++c) {
                const std::uint8_t v = line[static_cast<std::size_t>(c)];
                uchar& px = out[xOf[static_cast<std::size_t>(c)]];
                if (v <= kLastGradientIndex && v > px) {
                    px = v;
                }
            }
        }
    }

    // The place under the pointer to the view's centre.
    void moveView(const QMouseEvent& event) {
        if (!(event.buttons() & Qt::LeftButton) || !window_.imageScrollFree() || width() <= 0) {
            return;
        }
        const AppState& s = window_.state();
        const long columns = analysedColumns(s);
        const long shown = visibleImageColumns(s.view.layout.plotWidth, dualStereoView(s.settings));
        const long x =
            std::clamp(static_cast<long>(event.position().x()), 0L, static_cast<long>(width() - 1));
        const long at = (2 * x + 1) * columns / (2L * width());
        scrollViewTo(window_, at - shown / 2);
        update();
    }

    MainWindow& window_;
    QImage reduced_;
    ImageKey key_{};
};

// Keeps the strip with the drawing area: each of its paints and resizes places and draws it.
class StripFollower : public QObject {
  public:
    StripFollower(OverviewStrip* strip, QObject* parent) : QObject(parent), strip_(strip) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint || event->type() == QEvent::Resize) {
            strip_->follow();
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    OverviewStrip* strip_;
};

} // namespace

void installOverviewStrip(MainWindow& window) {
    QWidget* area = window.drawingArea();
    auto* strip = new OverviewStrip(window, area);
    area->installEventFilter(new StripFollower(strip, strip));
}

} // namespace korv
