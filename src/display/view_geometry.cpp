#include "display/view_geometry.h"

namespace korv {

PanelWidths panelWidths(const PanelTextWidths& t, int cw) {
    PanelWidths w;
    if (t == PanelTextWidths{}) {
        w.info = INFO_PANEL_WIDTH_CHARS * cw;
        w.readout = READOUT_BOX_WIDTH_CHARS * cw;
        w.infoValueOffset = INFO_VALUE_COLUMN_CHARS * cw;
        w.readoutValueOffset = READOUT_VALUE_COLUMN_CHARS * cw;
        w.narrowButton = NARROW_BUTTON_WIDTH_CHARS * cw;
        w.wideButton = WIDE_BUTTON_WIDTH_CHARS * cw;
        return w;
    }
    w.infoValueOffset = t.infoLabel + cw;
    w.readoutValueOffset = t.readoutLabel + cw;
    w.info = cw + w.infoValueOffset + t.infoValue + cw;
    w.readout = cw + w.readoutValueOffset + t.readoutValue + cw;
    w.narrowButton = t.narrowButton + 2 * cw;
    w.wideButton = t.wideButton + 2 * cw;
    return w;
}

PanelBoxes panelBoxes(const PanelLayoutInputs& in) {
    PanelBoxes boxes;
    boxes.widths = panelWidths(in.text, in.charWidth);
    const PanelWidths& w = boxes.widths;
    boxes.columnWidth = (in.clientWidth - w.total()) / 4;
    const int boxHeight = in.charHeight * 9 / 2;
    const int panelTop = in.plotHeight + in.scrollBarThickness;
    const int y = panelTop + (in.clientHeight - panelTop) / 2 - boxHeight / 2;
    boxes.infoPanel = {boxes.columnWidth, y, w.info, boxHeight};
    boxes.readoutBox = {2 * boxes.columnWidth + w.info, y, w.readout, boxHeight};
    boxes.buttonX0 = 3 * boxes.columnWidth + w.info + w.readout;
    return boxes;
}

} // namespace korv
