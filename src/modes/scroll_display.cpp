#include "modes/scroll_display.h"

#include "platform/window_surface.h"

#include <algorithm>

namespace korv {

ScrollDisplay::ScrollDisplay(WindowSurface& window, SpectralImage& image,
                             const ScrollLayout& layout)
    : window_(window), image_(image), layout_(layout), range_(levelRangeFor(layout.dbRange)) {
    const int w = layout.viewWidth;
    if (layout.dual && layout.dataChannels == 2) {
        panes_.push_back({SPECTRAL_LEFT_CHANNEL, 0, w / 2 - DUAL_LEFT_PANE_END});
        panes_.push_back({SPECTRAL_RIGHT_CHANNEL, w / 2 + DUAL_RIGHT_PANE_START,
                          w - w / 2 - DUAL_RIGHT_PANE_START});
        fillColumns_ = w / 2 - SCROLL_GROUP_COLUMNS;
    } else {
        panes_.push_back({std::clamp(layout.shownChannel, 0, layout.dataChannels - 1), 0, w});
        fillColumns_ = w;
    }
    indices_.assign(static_cast<std::size_t>(std::max(rows(), 0)), 0);
    columnEndFrames_.assign(static_cast<std::size_t>(std::max(panes_.front().width, 1)), 0);
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
    if (steps_ == 0) {
        return std::nullopt;
    }
    // Filling, the columns drawn so far; scrolling, those left of the next one to draw.
    const int next =
        column_ < fillColumns_ ? column_ : panes_.front().width - SCROLL_GROUP_COLUMNS + phase_;
    const auto count = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(next, 1)), 1,
                                               columnEndFrames_.size());
    return KeptColumns{columnEndFrames_.front(), columnEndFrames_[count - 1],
                       static_cast<long>(count)};
}

void ScrollDisplay::step(const ScanStep& step) {
    const bool filling = column_ < fillColumns_;
    for (const Pane& pane : panes_) {
        // While the pane fills, columns go side by side; then the newest four sit at its right
        // edge and the pane moves left by four after every fourth.
        const int x =
            filling ? pane.x + column_ : pane.x + pane.width - SCROLL_GROUP_COLUMNS + phase_;
        drawColumn(step, pane, x);
    }
    const int inPane = filling ? column_ : panes_.front().width - SCROLL_GROUP_COLUMNS + phase_;
    if (inPane >= 0 && inPane < static_cast<int>(columnEndFrames_.size())) {
        columnEndFrames_[static_cast<std::size_t>(inPane)] = step.endFrame;
    }
    ++steps_;
    if (layout_.pitch && step.pitch && step.pitch->voiced) {
        showPitchLabel(*step.pitch);
    }
    if (filling) {
        if (column_ < layout_.axisColumns && layout_.redrawAxis) {
            layout_.redrawAxis();
        }
        ++column_;
        blitLabel(); // over the columns just drawn
        return;
    }
    if (phase_ == SCROLL_GROUP_COLUMNS - 1) {
        for (const Pane& pane : panes_) {
            scrollPane(pane);
        }
        // The columns' times move with their pixels.
        const auto moved = static_cast<std::ptrdiff_t>(
            std::min<std::size_t>(SCROLL_GROUP_COLUMNS, columnEndFrames_.size()));
        std::rotate(columnEndFrames_.begin(), columnEndFrames_.begin() + moved,
                    columnEndFrames_.end());
        if (layout_.redrawAxis) {
            layout_.redrawAxis();
        }
    }
    phase_ = (phase_ + 1) % SCROLL_GROUP_COLUMNS;
    blitLabel();
}

} // namespace korv
