#include "modes/print_window.h"

#include "app/command_ids.h"
#include "app/main_window.h"
#include "modes/save_image.h"
#include "output/export_picture.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"

#include <QPainter>
#include <QPrinter>

namespace korv {

namespace {

inline const UserMessage kIncompatiblePrinter{"Incompatible Printer", MessageIcon::Warning};
constexpr std::uint8_t kFrameIndex = kSysBlack;

} // namespace

void printWindow(MainWindow& window) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Korvanthile"));
    if (!prompts().choosePrinter(printer)) {
        return;
    }
    auto picture = windowPicture(window);
    if (!picture) {
        prompts().show(kNotEnoughMemoryForBitmap);
        return;
    }
    drawFrame(*picture, kFrameIndex);
    const QImage image = paletteDisplay().toImage(*picture);
    QPainter painter;
    if (!painter.begin(&printer)) {
        prompts().show(kIncompatiblePrinter);
        return;
    }
    const QRect page = painter.viewport();
    const PixelRect at =
        printPlacement(image.width(), image.height(), window.logicalDpiX(), window.logicalDpiY(),
                       printer.logicalDpiX(), printer.logicalDpiY(), page.width(), page.height());
    painter.drawImage(QRect(at.x, at.y, at.width, at.height), image);
    painter.end();
}

void installPrintWindow(MainWindow& window) {
    MainWindow* w = &window;
    window.registerCommand(cmd::kPrintWindow, [w](int) { printWindow(*w); });
}

} // namespace korv
