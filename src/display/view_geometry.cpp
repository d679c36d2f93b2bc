#include "display/view_geometry.h"

namespace korv {

PanelBoxes panelBoxes(const PanelLayoutInputs& in) {
    const int cw = in.charWidth;
    const int columnWidth = (in.clientWidth - PANEL_BOXES_WIDTH_CHARS * cw) / 4;
    const int boxHeight = in.charHeight * 9 / 2;
    const int panelTop = in.plotHeight + in.scrollBarThickness;
    const int y = panelTop + (in.clientHeight - panelTop) / 2 - boxHeight / 2;
    PanelBoxes boxes;
    boxes.infoPanel = {columnWidth, y, INFO_PANEL_WIDTH_CHARS * cw, boxHeight};
    boxes.readoutBox = {2 * columnWidth + INFO_PANEL_WIDTH_CHARS * cw, y,
                        READOUT_BOX_WIDTH_CHARS * cw, boxHeight};
    return boxes;
}

} // namespace korv
