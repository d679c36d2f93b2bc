#pragma once
// The window's device context: an RGB store that everything the program draws on the window
// goes into. The widget's paintEvent only presents the store. invalidate() asks for the
// program's own paint handler to redraw the store before the next present, as a desktop
// repaint would; a palette rebuild does the same (see palette_display.h).
//
// Colours are palette indices throughout (0..235 logical, 236..255 system colours).

#include "display/indexed_surface.h"
#include "platform/palette_display.h"

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QRegion>
#include <QString>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

class QPainter;

namespace korv {

class WindowSurface {
  public:
    using PaintHandler = std::function<void(WindowSurface&)>;

    explicit WindowSurface(const PaletteDisplay& palette);

    // A new size keeps the overlapping top-left part, fills the rest black and invalidates.
    void resize(int width, int height);
    [[nodiscard]] int width() const { return store_.width(); }
    [[nodiscard]] int height() const { return store_.height(); }
    [[nodiscard]] PixelRect bounds() const { return {0, 0, width(), height()}; }
    [[nodiscard]] const QImage& image() const { return store_; }
    [[nodiscard]] const PaletteDisplay& palette() const { return palette_; }

    // Drawing. All of it clips to the store; each call schedules a present of the widget.
    void blit(const IndexedSurface& source, const PixelRect& srcRect, PixelPoint dest);
    void fillRect(const PixelRect& rect, std::uint8_t index);
    void drawLine(PixelPoint from, PixelPoint to, Pen pen);
    void moveTo(PixelPoint p) { position_ = p; }
    void lineTo(PixelPoint to, Pen pen);
    // Text with its cell's top-left corner at topLeft, in the colour `index`; with a
    // background index the cell behind the text is filled first (opaque text).
    void drawText(PixelPoint topLeft, const QString& text, const QFont& font, std::uint8_t index,
                  std::optional<std::uint8_t> background = std::nullopt);
    // Complements every RGB channel; inverting twice restores the pixels exactly.
    void invertRect(const PixelRect& rect);
    // Moves the pixels inside `area` by dx; the columns uncovered keep their old contents
    // (the caller draws them next).
    void scrollHorizontally(const PixelRect& area, int dx);
    // Saving and putting back a small box (a label, the pointer) around a scroll.
    [[nodiscard]] QImage copyRect(const PixelRect& rect) const;
    void drawImage(PixelPoint dest, const QImage& image);

    // While a scan draws a column every few msec, what changes is gathered and presented at
    // most once per `intervalMs` of the real clock (the screen's time, not the program's), so a
    // pane scrolled every fourth column is not copied to the screen at every step; 0 presents
    // every change again, and what is pending at once.
    void setPresentInterval(std::int64_t intervalMs);

    // The colour at (x, y) as 0xRRGGBB, or nothing outside the store.
    [[nodiscard]] std::optional<QRgb> pixel(int x, int y) const;

    // Painting.
    void setPaintHandler(PaintHandler handler) { paintHandler_ = std::move(handler); }
    // The whole store is stale: the paint handler runs before the next present.
    void invalidate();
    [[nodiscard]] bool needsPaint() const;
    // Runs the paint handler now if the store is stale (the desktop's update-window).
    void updateNow();
    // The widget the store is presented on: drawing schedules its update().
    void attach(QWidget* widget);
    // For paintEvent: brings the store up to date, then draws its `dirty` part.
    void present(QPainter& painter, const QRect& dirty);

  private:
    void changed();
    void changed(const PixelRect& area);

    const PaletteDisplay& palette_;
    QImage store_;
    PaintHandler paintHandler_;
    QPointer<QWidget> widget_;
    PixelPoint position_;
    bool stale_ = true;
    bool painting_ = false;
    bool presenting_ = false;
    std::chrono::milliseconds presentInterval_{0};
    std::chrono::steady_clock::time_point lastPresent_;
    QRegion pendingPresent_;
    unsigned paintedGeneration_ = 0;
};

// A widget that only presents a WindowSurface (and keeps the surface's size equal to its own).
class SurfaceWidget : public QWidget {
    Q_OBJECT
  public:
    explicit SurfaceWidget(WindowSurface& surface, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    WindowSurface& surface_;
};

} // namespace korv
