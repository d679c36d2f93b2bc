#include "modes/print_window.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/main_window.h"
#include "modes/save_image.h"
#include "output/export_picture.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>

namespace korv {

namespace {

inline const UserMessage kIncompatiblePrinter{"Incompatible Printer", MessageIcon::Warning};
constexpr std::uint8_t kFrameIndex = kSysBlack;
// The caption's text size on paper.
constexpr int kCaptionPoints = 9;

// What the printed picture shows: the file (or the live input), when it was printed, the band
// and the time per column the time axis goes by.
QString printCaption(const AppState& s) {
    const ViewGeometry g = currentViewGeometry(s);
    const bool input = s.settings.lastMode == 1 || s.settings.lastMode == 2;
    const QString source = input || s.control.fileNameBuffer.empty()
                               ? QStringLiteral("Scan Input")
                               : QFileInfo(displayFileName(s.control.fileNameBuffer)).fileName();
    return QStringLiteral("%1    %2    %3 to %4 Hz    %5 msec per column")
        .arg(source, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm")))
        .arg(g.lowBandHz)
        .arg(g.highBandHz)
        .arg(g.columnMsec, 0, 'f', 2);
}

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
    const QImage image = window.state().view.display.toImage(*picture);
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
    if (window.state().view.gridOn) {
        // With the grid the picture is a document: a line below it says what it shows.
        QFont font = window.controlFont();
        font.setPointSize(kCaptionPoints);
        painter.setFont(font);
        painter.setPen(Qt::black);
        const int line = QFontMetrics(font, &printer).height();
        painter.drawText(QRect(at.x, at.y + at.height + line / 2, at.width, line),
                         Qt::AlignLeft | Qt::AlignVCenter, printCaption(window.state()));
    }
    painter.end();
}

void installPrintWindow(MainWindow& window) {
    MainWindow* w = &window;
    window.registerCommand(cmd::kPrintWindow, [w](int) { printWindow(*w); });
}

} // namespace korv
