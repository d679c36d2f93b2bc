#include "platform/window_surface.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

namespace korv {

namespace {

QRect toQRect(const PixelRect& r) {
    return {r.x, r.y, r.width, r.height};
}

} // namespace

WindowSurface::WindowSurface(const PaletteDisplay& palette)
    : palette_(palette), store_(0, 0, QImage::Format_RGB32),
      paintedGeneration_(palette.generation()) {}

void WindowSurface::resize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == store_.width() && height == store_.height()) {
        return;
    }
    QImage resized(width, height, QImage::Format_RGB32);
    resized.fill(palette_.colour(kSysBlack));
    if (!store_.isNull() && width > 0 && height > 0) {
        QPainter painter(&resized);
        painter.drawImage(0, 0, store_);
    }
    store_ = std::move(resized);
    invalidate();
}

void WindowSurface::blit(const IndexedSurface& source, const PixelRect& srcRect, PixelPoint dest) {
    palette_.convert(source, srcRect, store_, dest);
    changed({dest.x, dest.y, srcRect.width, srcRect.height});
}

void WindowSurface::fillRect(const PixelRect& rect, std::uint8_t index) {
    const PixelRect r = intersect(rect, bounds());
    const QRgb colour = palette_.colour(index);
    for (int y = r.y; y < r.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(store_.scanLine(y));
        std::fill(line + r.x, line + r.right(), colour);
    }
    changed(r);
}

void WindowSurface::drawLine(PixelPoint from, PixelPoint to, Pen pen) {
    const QRgb colour = palette_.colour(pen.index);
    const int w = width();
    const int h = height();
    const int reach = std::max(pen.width, 1);
    if ((from.x + reach < 0 && to.x + reach < 0) || (from.y + reach < 0 && to.y + reach < 0) ||
        (from.x - reach >= w && to.x - reach >= w) || (from.y - reach >= h && to.y - reach >= h)) {
        return;
    }
    long long left = w;
    long long top = h;
    long long right = -1;
    long long bottom = -1;
    forEachLinePixel(from, to, pen.width, [&](long long x, long long y) {
        if (x >= 0 && y >= 0 && x < w && y < h) {
            reinterpret_cast<QRgb*>(store_.scanLine(static_cast<int>(y)))[x] = colour;
            left = std::min(left, x);
            top = std::min(top, y);
            right = std::max(right, x);
            bottom = std::max(bottom, y);
        }
    });
    if (right >= left) {
        changed({static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left + 1),
                 static_cast<int>(bottom - top + 1)});
    }
}

void WindowSurface::lineTo(PixelPoint to, Pen pen) {
    drawLine(position_, to, pen);
    position_ = to;
}

void WindowSurface::drawText(PixelPoint topLeft, const QString& text, const QFont& font,
                             std::uint8_t index, std::optional<std::uint8_t> background) {
    if (store_.isNull()) {
        return;
    }
    QPainter painter(&store_);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const QRect cell(topLeft.x, topLeft.y, metrics.horizontalAdvance(text), metrics.height());
    if (background) {
        painter.fillRect(cell, QColor::fromRgb(palette_.colour(*background)));
    }
    painter.setPen(QColor::fromRgb(palette_.colour(index)));
    const QPoint baseline(topLeft.x, topLeft.y + metrics.ascent());
    painter.drawText(baseline, text);
    painter.end();
    // The ink may reach past the cell (overhangs, smoothing): a pixel more all round.
    const QRect ink =
        cell.united(metrics.boundingRect(text).translated(baseline)).adjusted(-1, -1, 1, 1);
    changed({ink.x(), ink.y(), ink.width(), ink.height()});
}

void WindowSurface::invertRect(const PixelRect& rect) {
    const PixelRect r = intersect(rect, bounds());
    for (int y = r.y; y < r.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(store_.scanLine(y));
        for (int x = r.x; x < r.right(); ++x) {
            line[x] = 0xff000000u | (~line[x] & 0x00ffffffu);
        }
    }
    changed(r);
}

void WindowSurface::scrollHorizontally(const PixelRect& area, int dx) {
    const PixelRect a = intersect(area, bounds());
    if (a.empty() || dx == 0) {
        return;
    }
    const int shift = std::clamp(dx, -a.width, a.width);
    const int moved = a.width - std::abs(shift);
    for (int y = a.y; y < a.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(store_.scanLine(y)) + a.x;
        if (shift < 0) {
            std::copy(line - shift, line - shift + moved, line);
        } else {
            std::copy_backward(line, line + moved, line + moved + shift);
        }
    }
    changed(a);
}

QImage WindowSurface::copyRect(const PixelRect& rect) const {
    const PixelRect r = intersect(rect, bounds());
    if (r.empty()) {
        return {};
    }
    return store_.copy(toQRect(r));
}

void WindowSurface::drawImage(PixelPoint dest, const QImage& image) {
    if (image.isNull() || store_.isNull()) {
        return;
    }
    QPainter painter(&store_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(dest.x, dest.y), image);
    painter.end();
    changed({dest.x, dest.y, image.width(), image.height()});
}

std::optional<QRgb> WindowSurface::pixel(int x, int y) const {
    if (!bounds().contains(x, y)) {
        return std::nullopt;
    }
    return reinterpret_cast<const QRgb*>(store_.constScanLine(y))[x] & 0x00ffffffu;
}

void WindowSurface::invalidate() {
    stale_ = true;
    if (!widget_.isNull()) {
        widget_->update();
    }
}

bool WindowSurface::needsPaint() const {
    return stale_ || paintedGeneration_ != palette_.generation();
}

void WindowSurface::updateNow() {
    // A paint handler that invalidates (or paints) does not run itself again.
    if (painting_ || !needsPaint()) {
        return;
    }
    painting_ = true;
    stale_ = false;
    paintedGeneration_ = palette_.generation();
    if (paintHandler_) {
        paintHandler_(*this);
    }
    painting_ = false;
    changed();
}

void WindowSurface::attach(QWidget* widget) {
    widget_ = widget;
    if (widget != nullptr) {
        widget->update();
    }
}

void WindowSurface::present(QPainter& painter, const QRect& dirty) {
    // What the paint handler draws now is presented now, not by another paint event.
    presenting_ = true;
    updateNow();
    presenting_ = false;
    painter.drawImage(dirty.topLeft(), store_, dirty);
}

void WindowSurface::setPresentInterval(std::int64_t intervalMs) {
    presentInterval_ = std::chrono::milliseconds(std::max<std::int64_t>(intervalMs, 0));
    lastPresent_ = std::chrono::steady_clock::now();
    if (presentInterval_.count() == 0 && !pendingPresent_.isEmpty()) {
        if (!widget_.isNull()) {
            widget_->update(pendingPresent_);
        }
        pendingPresent_ = QRegion();
    }
}

void WindowSurface::changed() {
    changed(bounds());
}

void WindowSurface::changed(const PixelRect& area) {
    // Only what changed is presented again: a thin slice must not cost a whole window.
    const PixelRect r = intersect(area, bounds());
    if (presenting_ || widget_.isNull() || r.empty()) {
        return;
    }
    const QRect rect(r.x, r.y, r.width, r.height);
    if (presentInterval_.count() == 0) {
        widget_->update(rect);
        return;
    }
    pendingPresent_ += rect;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPresent_ >= presentInterval_) {
        lastPresent_ = now;
        widget_->update(pendingPresent_);
        pendingPresent_ = QRegion();
    }
}

SurfaceWidget::SurfaceWidget(WindowSurface& surface, QWidget* parent)
    : QWidget(parent), surface_(surface) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    surface_.attach(this);
}

void SurfaceWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    surface_.present(painter, event->rect());
}

void SurfaceWidget::resizeEvent(QResizeEvent* event) {
    surface_.resize(event->size().width(), event->size().height());
    QWidget::resizeEvent(event);
}

} // namespace korv
