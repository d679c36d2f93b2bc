#include "app/pointer_shapes.h"

#include <QPainter>
#include <QPixmap>

// The icons are built into the program's static library, whose resources the linker only
// keeps when they are asked for by name.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

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
    // The sizes the desktop's icon theme gets, rendered from the one drawing of the icon.
    initIconResources();
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/korvanthile-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace korv
