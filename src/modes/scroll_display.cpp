#include "modes/scroll_display.h"

#include "platform/window_surface.h"

#include <algorithm>

namespace korv {

ScrollDisplay::ScrollDisplay(WindowSurface& window, SpectralImage& image,
                             const ScrollLayout& layout)
    : window_(window), image_(image), layout_(layout), range_(levelRangeFor(layout.dbRange)) {
    const int w = layout.viewWidth;
    if (layout.dual && layout.dataChannels == 2) {
        // The panes hold their columns in step, as many as the narrower has room for, so that
        // a column of either stands for the same moment (the readouts and labels rely on it).
        const int columns = std::min(w / 2 - DUAL_LEFT_PANE_END, w - w / 2 - DUAL_RIGHT_PANE_START);
        panes_.push_back({SPECTRAL_LEFT_CHANNEL, 0, columns});
        panes_.push_back({SPECTRAL_RIGHT_CHANNEL, w / 2 + DUAL_RIGHT_PANE_START, columns});
    } else {
        panes_.push_back({std::clamp(layout.shownChannel, 0, layout.dataChannels - 1), 0, w});
    }
    paneColumns_ = std::max(panes_.front().width, 0);
    indices_.assign(static_cast<std::size_t>(std::max(rows(), 0)), 0);
    columnEndFrames_.assign(static_cast<std::size_t>(std::max(paneColumns_, 1)), 0);
    for (const std::int32_t hz : {layout.marker1Hz, layout.marker2Hz}) {
        if (const auto y = scrollRowY(frequencyAxis(), layout.plotHeight, hz)) {
            markerYs_.push_back(*y);
        }
    }
}

void ScrollDisplay::drawColumn(const ScanStep& step, const Pane& pane, int x) {
    if (image_.channels() != layout_.dataChannels || image_.rows() != rows()) {
        return;
    }
    if (x < 0 || x >= image_.width()) {
        return;
    }
    const auto rowsOfStep = step.rows[static_cast<std::size_t>(pane.channel)];
    if (rowsOfStep.size() < indices_.size()) {
        return;
    }
    levelsToClampedPaletteIndices(rowsOfStep.first(indices_.size()), range_, indices_);
    image_.surface().setColumnUpwards(x, image_.rowY(pane.channel, 0), indices_);
    if (step.pitch && step.pitch->voiced) {
        const std::optional<int> y =
            scrollRowY(frequencyAxis(), layout_.plotHeight, step.pitch->markHz);
        if (y) {
            image_.surface().setPixel(x, image_.bandTop(pane.channel) + *y,
                                      static_cast<std::uint8_t>(kFreqMarkIndex));
        }
    }
    const ScanEnvelope& e = step.envelope[static_cast<std::size_t>(pane.channel)];
    image_.drawStripColumn(x, pane.channel, e.smallest, e.largest);
    window_.blit(image_.surface(), {x, image_.bandTop(pane.channel), 1, layout_.plotHeight},
                 {x, 0});
    for (const int y : markerYs_) {
        window_.fillRect({x, y, 1, 1}, static_cast<std::uint8_t>(kScopeMarkerIndex));
    }
}

PixelRect ScrollDisplay::labelBox() const {
    return scrollPitchLabelBox(layout_.viewWidth, layout_.stripHeight, layout_.charWidth,
                               layout_.lineHeight, panes_.size() > 1);
}

void ScrollDisplay::blitLabel() {
    if (label_) {
        const PixelRect box = labelBox();
        window_.blit(*label_, label_->bounds(), {box.x, box.y});
    }
}

void ScrollDisplay::showPitchLabel(const PitchResult& pitch) {
    const PixelRect box = labelBox();
    if (!layout_.paintLabel || box.width <= 0 || box.height <= 0) {
        return;
    }
    IndexedSurface label(box.width, box.height);
    layout_.paintLabel(pitchLabelDrawing(label.bounds(), pitch.shownIndex), label);
    label_ = std::move(label);
}

void ScrollDisplay::scrollPane(const Pane& pane) {
    const int top = image_.bandTop(pane.channel);
    image_.surface().scrollHorizontally({pane.x, top, pane.width, layout_.plotHeight},
                                        -SCROLL_GROUP_COLUMNS);
    // The window's pixels move the same way, which costs a fraction of converting the pane
    // anew. The label moved with them: the columns it left beside its box are the picture's
    // again (the label itself is drawn back at the end of the step).
    window_.scrollHorizontally({pane.x, 0, pane.width, layout_.plotHeight}, -SCROLL_GROUP_COLUMNS);
    if (label_) {
        const PixelRect box = labelBox();
        const PixelRect left =
            intersect({box.x - SCROLL_GROUP_COLUMNS, box.y, SCROLL_GROUP_COLUMNS, box.height},
                      {pane.x, 0, pane.width, layout_.plotHeight});
        if (left.width > 0 && left.height > 0) {
            window_.blit(image_.surface(), {left.x, left.y + top, left.width, left.height},
                         {left.x, left.y});
        }
    }
}

std::optional<ScrollDisplay::KeptColumns> ScrollDisplay::keptColumns() const {
    if (steps_ == 0 || columns_ <= 0) {
        return std::nullopt;
    }
    return KeptColumns{columnEndFrames_.front(),
                       columnEndFrames_[static_cast<std::size_t>(columns_ - 1)], columns_};
}

void ScrollDisplay::step(const ScanStep& step) {
    if (paneColumns_ <= 0) {
        return;
    }
    // While the panes fill, columns go side by side. Once they are full they move left by a
    // group before the group's first column is drawn, so a new column never lands on one
    // still shown: the newest four sit at the right edge.
    const bool scrolls = columns_ == paneColumns_;
    if (scrolls) {
        for (const Pane& pane : panes_) {
            scrollPane(pane);
        }
        // The columns' times move with their pixels.
        const int moved = std::min(SCROLL_GROUP_COLUMNS, columns_);
        std::rotate(columnEndFrames_.begin(), columnEndFrames_.begin() + moved,
                    columnEndFrames_.end());
        columns_ -= moved;
    }
    for (const Pane& pane : panes_) {
        drawColumn(step, pane, pane.x + columns_);
    }
    columnEndFrames_[static_cast<std::size_t>(columns_)] = step.endFrame;
    ++steps_;
    if (layout_.pitch && step.pitch && step.pitch->voiced) {
        showPitchLabel(*step.pitch);
    }
    // The axis over the columns just drawn under it, or over the moved picture.
    const bool underLegend = layout_.legendColumn > 0 &&
                             std::any_of(panes_.begin(), panes_.end(), [&](const Pane& pane) {
                                 return pane.x + columns_ >= layout_.legendColumn;
                             });
    if ((scrolls || columns_ < layout_.axisColumns || underLegend) && layout_.redrawAxis) {
        layout_.redrawAxis();
    }
    ++columns_;
    blitLabel(); // over the columns just drawn
}

} // namespace korv
