#include "app/panel_font.h"

#include "display/info_panel.h"
#include "display/plot_layout.h"
#include "display/readouts.h"
#include "platform/fonts.h"

#include <QFontMetrics>
#include <QString>

#include <algorithm>
#include <span>

namespace korv {
namespace {

int widest(const QFontMetrics& metrics, std::span<const std::string_view> texts) {
    int most = 0;
    for (const std::string_view text : texts) {
        most = std::max(most, metrics.horizontalAdvance(QString::fromLatin1(
                                  text.data(), static_cast<qsizetype>(text.size()))));
    }
    return most;
}

} // namespace

PanelTextWidths measurePanelTexts(const QFont& font) {
    const QFontMetrics metrics(font);
    PanelTextWidths w;
    w.infoLabel = widest(metrics, INFO_LABELS);
    w.infoValue = widest(metrics, INFO_WIDEST_VALUES);
    w.readoutLabel = widest(metrics, READOUT_LABELS);
    w.readoutValue = widest(metrics, READOUT_WIDEST_VALUES);
    w.narrowButton = widest(metrics, NARROW_BUTTON_TEXTS);
    w.wideButton = widest(metrics, WIDE_BUTTON_TEXTS);
    return w;
}

QFont fittedControlFont(int screenHeight, int dotsPerInchY, int clientWidth) {
    int pixels = controlFontHeight(screenHeight, dotsPerInchY);
    QFont font = programFont(pixels);
    while (pixels > MIN_CONTROL_FONT_PIXELS) {
        const int cw = averageCharWidth(font);
        // Half a character width at least in each of the four gaps.
        if (panelWidths(measurePanelTexts(font), cw).total() + 2 * cw <= clientWidth) {
            break;
        }
        font = programFont(--pixels);
    }
    return font;
}

} // namespace korv
