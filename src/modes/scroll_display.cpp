#include "modes/scroll_display.h"

#include "platform/window_surface.h"

#include <algorithm>

namespace korv {

ScrollDisplay::ScrollDisplay(WindowSurface& window, SpectralImage* kept, const ScrollLayout& layout)
    : window_(window), kept_(kept), layout_(layout),
      range_(levelRangeForChoice(layout.dbScaleChoice)) {
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
    if (kept_ == nullptr) {
        if (auto one = SpectralImage::create(
                {1, 1, layout.plotHeight, layout.stripHeight, layout.dataChannels})) {
            scratch_ = std::move(*one);
        }
    }
    indices_.assign(static_cast<std::size_t>(std::max(rows(), 0)), 0);
}

void ScrollDisplay::drawColumn(const ScanStep& step, const Pane& pane, int x) {
    SpectralImage& image = kept_ != nullptr ? *kept_ : scratch_;
    if (image.channels() != layout_.dataChannels || image.rows() != rows()) {
        return;
    }
    const int ix = kept_ != nullptr ? x : 0;
    if (ix < 0 || ix >= image.width()) {
        return;
    }
    const auto rowsOfStep = step.rows[static_cast<std::size_t>(pane.channel)];
    if (rowsOfStep.size() < indices_.size()) {
        return;
    }
    levelsToClampedPaletteIndices(rowsOfStep.first(indices_.size()), range_, indices_);
    image.surface().setColumnUpwards(ix, image.rowY(pane.channel, 0), indices_);
    if (step.pitch && step.pitch->voiced) {
        const std::optional<int> y =
            pitchDotY(layout_.freqScaleChoice, layout_.lowBandHz, layout_.highBandHz, rows(),
                      layout_.plotHeight, step.pitch->markHz);
        if (y) {
            image.surface().setPixel(ix, image.bandTop(pane.channel) + *y,
                                     static_cast<std::uint8_t>(kFreqMarkIndex));
        }
    }
    const ScanEnvelope& e = step.envelope[static_cast<std::size_t>(pane.channel)];
    image.drawStripColumn(ix, pane.channel, e.smallest, e.largest);
    window_.blit(image.surface(), {ix, image.bandTop(pane.channel), 1, layout_.plotHeight}, {x, 0});
}

PixelRect ScrollDisplay::labelBox() const {
    PixelRect box = scrollPitchLabelBox(layout_.viewWidth, layout_.stripHeight, layout_.charWidth,
                                        layout_.lineHeight, panes_.size() > 1);
    if (kept_ != nullptr) {
        box.y += kept_->bandTop(panes_.front().channel);
    }
    return box;
}

void ScrollDisplay::showPitchLabel(const PitchResult& pitch) {
    if (!layout_.paintLabel) {
        return;
    }
    const PixelRect box = labelBox();
    label_ = pitchLabelDrawing(box, pitch.shownIndex);
    layout_.paintLabel(*label_, kept_ != nullptr ? &kept_->surface() : nullptr);
    if (kept_ != nullptr) {
        window_.blit(kept_->surface(), box,
                     {box.x, box.y - kept_->bandTop(panes_.front().channel)});
    }
}

void ScrollDisplay::scrollPane(const Pane& pane) {
    if (kept_ == nullptr) {
        window_.scrollHorizontally({pane.x, 0, pane.width, layout_.plotHeight},
                                   -SCROLL_GROUP_COLUMNS);
        // The label moved with the window: it is written again where it was.
        if (label_) {
            layout_.paintLabel(*label_, nullptr);
        }
        return;
    }
    const int top = kept_->bandTop(pane.channel);
    if (label_) {
        savedLabel_.save(kept_->surface(), labelBox());
    }
    kept_->surface().scrollHorizontally({pane.x, top, pane.width, layout_.plotHeight},
                                        -SCROLL_GROUP_COLUMNS);
    if (label_) {
        savedLabel_.restore(kept_->surface());
    }
    window_.blit(kept_->surface(), {pane.x, top, pane.width, layout_.plotHeight}, {pane.x, 0});
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
    if (layout_.pitch && step.pitch && step.pitch->voiced) {
        showPitchLabel(*step.pitch);
    }
    if (filling) {
        ++column_;
        return;
    }
    if (phase_ == SCROLL_GROUP_COLUMNS - 1) {
        for (const Pane& pane : panes_) {
            scrollPane(pane);
        }
    }
    phase_ = (phase_ + 1) % SCROLL_GROUP_COLUMNS;
}

} // namespace korv
