#include "app/pointer_shapes.h"

#include <QPainter>
#include <QPixmap>

namespace korv {

namespace {

constexpr int kSize = 32;
constexpr int kHot = kSize / 2;

QPixmap blank() {
    QPixmap p(kSize, kSize);
    p.fill(Qt::transparent);
    return p;
}

// A cross of the given colour with a one-pixel outline in the other, so it shows on any image.
QPixmap cross(const QColor& colour, const QColor& outline) {
    QPixmap p = blank();
    QPainter painter(&p);
    painter.fillRect(kHot - 1, 2, 3, kSize - 4, outline);
    painter.fillRect(2, kHot - 1, kSize - 4, 3, outline);
    painter.fillRect(kHot, 3, 1, kSize - 6, colour);
    painter.fillRect(3, kHot, kSize - 6, 1, colour);
    return p;
}

QPixmap targetBox() {
    QPixmap p = blank();
    QPainter painter(&p);
    painter.setPen(Qt::white);
    painter.drawRect(kHot - 6, kHot - 6, 12, 12);
    painter.setPen(Qt::black);
    painter.drawRect(kHot - 7, kHot - 7, 14, 14);
    painter.fillRect(kHot, kHot - 10, 1, 4, Qt::white);
    painter.fillRect(kHot, kHot + 7, 1, 4, Qt::white);
    painter.fillRect(kHot - 10, kHot, 4, 1, Qt::white);
    painter.fillRect(kHot + 7, kHot, 4, 1, Qt::white);
    painter.fillRect(kHot, kHot, 1, 1, Qt::white);
    return p;
}

} // namespace

QCursor pointerShape(PointerShape shape) {
    switch (shape) {
    case PointerShape::WhiteCross:
        return QCursor(cross(Qt::white, Qt::black), kHot, kHot);
    case PointerShape::BlackCross:
        return QCursor(cross(Qt::black, Qt::white), kHot, kHot);
    case PointerShape::TargetBox:
        break;
    }
    return QCursor(targetBox(), kHot, kHot);
}

QIcon programIcon() {
    // A small spectrogram: dark blue ground, bands of warm colour rising to the right.
    QPixmap p(32, 32);
    p.fill(QColor(0, 0, 96));
    QPainter painter(&p);
    for (int x = 0; x < 32; ++x) {
        const int y = 28 - (x * 20) / 32;
        painter.fillRect(x, y - 2, 1, 4, QColor(255, 200, 0));
        painter.fillRect(x, 26 - y / 3, 1, 2, QColor(220, 40, 40));
    }
    return QIcon(p);
}

} // namespace korv
