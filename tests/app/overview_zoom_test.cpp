// The overview strip and the frequency zoom in the real window offscreen, on analysed files
// with a tone: the strip frames the part in view and a click in it moves the view there;
// Ctrl+Shift+wheel narrows the band around the frequency under the pointer and analyses again.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/overview_strip.h"
#include "display/plot_layout.h"
#include "support/platform_scopes.h"
#include "support/prompt_checks.h"
#include "support/temp_dir.h"
#include "support/test_signals.h"
#include "support/window_setup.h"

#include <QCoreApplication>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <memory>

namespace korv {
namespace {

constexpr int kRate = 22050;
constexpr double kToneHz = 2000.0;

class OverviewZoomTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        window = test::openWindow(test::virtualClockOptions(dir, clock));
        test::scanSettings(settings(), kRate);
        settings().highBandHz = 5000;
    }

    AppState& state() { return window->state(); }
    AppSettings& settings() { return window->state().settings; }

    // Analyses (F1) `seconds` of a mono tone at kToneHz.
    void analyzeTone(int seconds) {
        const QByteArray file = test::waveFile(kRate, 1, 16, static_cast<long>(seconds) * kRate,
                                               test::sines({kToneHz}, kRate));
        prompts->queueFile(dir.write(QStringLiteral("tone.wav"), file));
        QTest::keyClick(window.get(), Qt::Key_F1);
        ASSERT_TRUE(state().held.spectralImage);
        test::repaint(*window);
        QCoreApplication::processEvents();
    }

    QWidget* strip() const {
        return window->drawingArea()->findChild<QWidget*>(QString::fromLatin1(kOverviewStripName));
    }

    // The strip as drawn: the first and one past the last column of the frame's top line.
    std::pair<int, int> markedSpan() {
        test::repaint(*window);
        QCoreApplication::processEvents();
        const QImage shot = strip()->grab().toImage();
        int first = -1;
        int end = -1;
        for (int x = 0; x < shot.width(); ++x) {
            if (shot.pixel(x, 0) == qRgb(255, 255, 255)) {
                first = first < 0 ? x : first;
                end = x + 1;
            }
        }
        return {first, end};
    }

    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    VirtualClock clock;
    std::unique_ptr<MainWindow> window;
};

// 30 s at 10 msec a column: the frame spans the view's share of the analysed columns, at the
// place in view; a click in the strip brings that place to the view's centre.
TEST_F(OverviewZoomTest, TheStripFramesTheViewAndAClickMovesIt) {
    analyzeTone(30);
    ASSERT_NE(strip(), nullptr);
    ASSERT_TRUE(strip()->isVisible());
    const PlotLayout& l = state().view.layout;
    EXPECT_EQ(strip()->width(), l.plotWidth);
    EXPECT_GE(strip()->y(), l.plotHeight + l.scrollBarThickness);
    EXPECT_LE(strip()->geometry().bottom(), l.infoPanel.y); // the readouts stay clear
    const double columns = analysedColumns(state());
    const double shown = visibleImageColumns(l.plotWidth, false);
    ASSERT_GT(columns, 3 * shown);
    const double width = strip()->width();

    QTest::keyClick(window.get(), Qt::Key_Home);
    auto [first, end] = markedSpan();
    EXPECT_EQ(first, 0);
    EXPECT_NEAR((end - first) / width, shown / columns, 1.5 / width);

    QTest::keyClick(window.get(), Qt::Key_End);
    std::tie(first, end) = markedSpan();
    EXPECT_NEAR(first / width, (columns - shown) / columns, 1.5 / width);
    EXPECT_EQ(end, strip()->width());

    // A click at 10 s of the 30: the view centred there.
    const int x = strip()->width() / 3;
    QTest::mouseClick(strip(), Qt::LeftButton, {}, QPoint(x, strip()->height() / 2));
    const int pos = state().view.scroll.h.pos;
    EXPECT_NEAR(pos + shown / 2.0, columns / 3.0, columns / width + 1.0);
    EXPECT_EQ(window->horizontalBar()->value(), pos);
    std::tie(first, end) = markedSpan();
    EXPECT_NEAR((first + end) / 2.0, x, 1.5);
    EXPECT_TRUE(prompts->messages().empty());
}

// The tone's row under the pointer: a notch up halves the band with the tone kept at that
// height, analysed anew; a notch down gives the band back.
TEST_F(OverviewZoomTest, CtrlShiftWheelNarrowsTheBandKeepingTheToneUnderThePointer) {
    analyzeTone(5);
    const PlotLayout& l = state().view.layout;
    const int x = l.plotWidth / 2;
    const int row = test::loudestRow(state(), x);
    const int rows = l.plotHeight - l.topBand;
    // The tone where the band 0 to 5000 Hz puts it.
    ASSERT_NEAR(row, kToneHz / 5000.0 * rows, 2.0);
    const int y = l.plotHeight - 1 - row;
    const auto wheel = [this, x, y](int angle) {
        QWidget* area = window->drawingArea();
        QWheelEvent e(QPointF(x, y), area->mapToGlobal(QPointF(x, y)), QPoint(), QPoint(0, angle),
                      Qt::NoButton, Qt::ControlModifier | Qt::ShiftModifier, Qt::NoScrollPhase,
                      false);
        QCoreApplication::sendEvent(area, &e);
    };
    const int pos = state().view.scroll.h.pos;
    wheel(120);
    EXPECT_NEAR(settings().highBandHz - settings().lowBandHz, 2500, 1);
    EXPECT_NEAR(settings().lowBandHz, kToneHz - 2500.0 * row / rows, 6.0);
    ASSERT_TRUE(state().held.spectralImage);
    EXPECT_TRUE(state().analysis.restorePossible);
    EXPECT_NEAR(test::loudestRow(state(), x), row, 1);
    EXPECT_EQ(state().view.scroll.h.pos, pos);
    wheel(-120);
    EXPECT_EQ(settings().lowBandHz, 0);
    EXPECT_EQ(settings().highBandHz, 5000);
    EXPECT_NEAR(test::loudestRow(state(), x), row, 1);
    EXPECT_TRUE(prompts->messages().empty());
}

} // namespace
} // namespace korv
