#include "app/progress_panel.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "platform/clock.h"

#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace korv {

namespace {
constexpr int kBarSteps = 1000;
constexpr int kPanelChars = 48; // the panel's width, in average characters
constexpr int kMargin = 8;      // from the drawing area's lower edge
} // namespace

ProgressPanel::ProgressPanel(MainWindow& window) : window_(window), clock_(window.options().clock) {
    if (clock_ == nullptr) {
        realClock_ = std::make_unique<RealClock>();
        clock_ = realClock_.get();
    }
    frame_ = new QFrame(window.drawingArea());
    frame_->setObjectName(QStringLiteral("progress"));
    frame_->setFrameShape(QFrame::StyledPanel);
    frame_->setAutoFillBackground(true);
    auto* top = new QVBoxLayout(frame_);
    label_ = new QLabel(frame_);
    top->addWidget(label_);
    auto* row = new QHBoxLayout;
    bar_ = new QProgressBar(frame_);
    bar_->setRange(0, kBarSteps);
    bar_->setAccessibleName(QStringLiteral("Progress"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), frame_);
    cancel->setObjectName(QStringLiteral("progressCancel"));
    cancel->setFocusPolicy(Qt::NoFocus);
    // Cancel is STOP: the command stops whatever runs, the batch included.
    QObject::connect(cancel, &QPushButton::clicked, frame_,
                     [this] { window_.commands().send(cmd::kStop, 0); });
    row->addWidget(bar_, 1);
    row->addWidget(cancel);
    top->addLayout(row);
    frame_->hide();
}

ProgressPanel::~ProgressPanel() = default; // the frame goes with the drawing area

void ProgressPanel::start() {
    if (running_) {
        return;
    }
    running_ = true;
    startMs_ = clock_->nowMs();
    done_ = 0;
    total_ = 1;
    bar_->setValue(0);
}

void ProgressPanel::setStage(const QString& text, int done, int total) {
    label_->setText(text);
    total_ = std::max(total, 1);
    done_ = std::clamp(done, 0, total_);
    setFraction(0.0);
}

void ProgressPanel::setFraction(double fraction) {
    if (!running_) {
        return;
    }
    const double part = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    bar_->setValue(static_cast<int>(std::lround((done_ + part) / total_ * kBarSteps)));
    if (!frame_->isVisible() && clock_->nowMs() - startMs_ >= kShowAfterMs) {
        show();
    }
}

void ProgressPanel::finish() {
    running_ = false;
    frame_->hide();
}

bool ProgressPanel::shown() const {
    return frame_->isVisible();
}

void ProgressPanel::show() {
    place();
    frame_->show();
    frame_->raise();
}

// Centred over the lower part of the picture, above the time bar.
void ProgressPanel::place() {
    const PlotLayout& l = window_.state().view.layout;
    const int width = std::min(l.plotWidth - 2 * kMargin,
                               QFontMetrics(frame_->font()).averageCharWidth() * kPanelChars);
    frame_->setFixedWidth(std::max(width, frame_->minimumSizeHint().width()));
    frame_->adjustSize();
    frame_->move(std::max(0, (l.plotWidth - frame_->width()) / 2),
                 std::max(0, l.plotHeight - frame_->height() - kMargin));
}

ProgressPanel* progressPanel(const MainWindow& window) {
    return window.part<ProgressPanel>();
}

void installProgressPanel(MainWindow& window) {
    window.keepPart(std::make_shared<ProgressPanel>(window));
}

} // namespace korv
