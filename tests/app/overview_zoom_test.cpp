// The overview strip and the frequency zoom in the real window offscreen, on analysed files
// with a tone: the strip frames the part in view and a click in it moves the view there;
// Ctrl+Shift+wheel narrows the band around the frequency under the pointer and analyses again,
// a drag on the frequency labels sets the band to the span dragged, and View > Narrow Band and
// Widen Band and their keys zoom about the band's middle.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/main_window.h"
#include "app/overview_strip.h"
#include "display/plot_layout.h"
#include "support/platform_scopes.h"
#include "support/prompt_checks.h"
#include "support/temp_dir.h"
#include "support/test_signals.h"
#include "support/window_setup.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
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

    QWidget* area() const { return window->drawingArea(); }
    int rows() { return state().view.layout.plotHeight - state().view.layout.topBand; }
    // The view row at which the band 0 to 5000 Hz shows `hz`.
    int yOf(double hz) {
        return state().view.layout.plotHeight - 1 -
               static_cast<int>(std::lround(hz / 5000.0 * rows()));
    }
    // The window's colour at a view point, as the paints asked for have left it.
    QRgb shownAt(int x, int y) const {
        window->surface().updateNow();
        return window->surface().pixel(x, y).value_or(0) & 0xffffffu;
    }
    // A left drag in steps of a few pixels, as a hand makes it.
    void drag(QPoint from, QPoint to) {
        QTest::mousePress(area(), Qt::LeftButton, {}, from);
        for (int i = 1; i <= 20; ++i) {
            QTest::mouseMove(area(), from + (to - from) * i / 20);
        }
        QTest::mouseRelease(area(), Qt::LeftButton, {}, to);
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

// From the 3 kHz row to the 1 kHz row on the frequency labels: the span is drawn while the
// button holds, and the band becomes the rows' frequencies, the tone in its middle, analysed
// anew; Parameters Restore gives the old band back. A drag across from the labels still
// selects a stretch of time.
TEST_F(OverviewZoomTest, ADragOnTheFrequencyLabelsSetsTheBandToTheSpanDragged) {
    analyzeTone(5);
    const PlotLayout& l = state().view.layout;
    const int x = 2 * currentViewGeometry(state()).charWidth; // on the labels' column
    const int from = yOf(3000.0);
    const int to = yOf(1000.0);
    const double hzPerRow = 5000.0 / rows();
    const QPoint middle(l.plotWidth / 2, yOf(2000.0));
    const QRgb before = shownAt(middle.x(), middle.y());
    const QRgb outside = shownAt(middle.x(), yOf(4000.0));
    QTest::mousePress(area(), Qt::LeftButton, {}, QPoint(x, from));
    for (int y = from; y < to; y += 5) {
        QTest::mouseMove(area(), QPoint(x, y));
    }
    QTest::mouseMove(area(), QPoint(x, to));
    EXPECT_EQ(shownAt(middle.x(), middle.y()), ~before & 0xffffffu);
    EXPECT_EQ(shownAt(middle.x(), yOf(4000.0)), outside);
    QTest::mouseRelease(area(), Qt::LeftButton, {}, QPoint(x, to));
    EXPECT_NEAR(settings().lowBandHz, 1000.0, hzPerRow + 1.0);
    EXPECT_NEAR(settings().highBandHz, 3000.0, hzPerRow + 1.0);
    ASSERT_TRUE(state().held.spectralImage);
    EXPECT_TRUE(state().analysis.restorePossible);
    // The tone in the middle, at the row the new band puts it on.
    const double toneRow =
        (kToneHz - settings().lowBandHz) / (settings().highBandHz - settings().lowBandHz) * rows();
    EXPECT_NEAR(toneRow, rows() / 2.0, 0.01 * rows());
    EXPECT_NEAR(test::loudestRow(state(), l.plotWidth / 2), toneRow, 2.0);
    EXPECT_NE(shownAt(middle.x(), middle.y()), ~before & 0xffffffu); // the span's drawing gone

    window->menu().action(cmd::kParametersRestore)->trigger();
    EXPECT_EQ(settings().lowBandHz, 0);
    EXPECT_EQ(settings().highBandHz, 5000);

    // Across from the labels: the time stretch, in the dialog of Parameters Change.
    prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressCancel(d); });
    drag(QPoint(x, yOf(2500.0)), QPoint(x + 200, yOf(2500.0) + 10));
    EXPECT_EQ(prompts->dialogsRun().size(), 1U);
    EXPECT_EQ(settings().lowBandHz, 0);
    EXPECT_EQ(settings().highBandHz, 5000);
    EXPECT_TRUE(prompts->messages().empty());
}

// The items, and their keys with the pointer off the picture, halve and double the band about
// its middle; the keys with the pointer on the tone's row keep the tone there. No analysis, no
// zoom.
TEST_F(OverviewZoomTest, NarrowAndWidenBandZoomAboutTheMiddleFromTheMenuAndTheKeys) {
    ProgramMenu& m = window->menu();
    EXPECT_FALSE(m.enabled(cmd::kNarrowBand));
    EXPECT_FALSE(m.enabled(cmd::kWidenBand));
    QTest::keyClick(window.get(), Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(settings().highBandHz, 5000);
    analyzeTone(5);
    ASSERT_TRUE(m.enabled(cmd::kNarrowBand));
    ASSERT_TRUE(m.enabled(cmd::kWidenBand));
    const PlotLayout& l = state().view.layout;
    const int x = l.plotWidth / 2;
    QCursor::setPos(area()->mapToGlobal(QPoint(x, l.plotHeight + 5))); // below the picture

    m.action(cmd::kNarrowBand)->trigger();
    EXPECT_NEAR(settings().lowBandHz, 1250, 3);
    EXPECT_NEAR(settings().highBandHz, 3750, 3);
    EXPECT_NEAR(test::loudestRow(state(), x), (2000.0 - 1250.0) / 2500.0 * rows(), 2.0);
    m.action(cmd::kWidenBand)->trigger();
    EXPECT_EQ(settings().lowBandHz, 0);
    EXPECT_EQ(settings().highBandHz, 5000);

    QTest::keyClick(window.get(), Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_NEAR(settings().lowBandHz, 1250, 3);
    EXPECT_NEAR(settings().highBandHz, 3750, 3);
    QTest::keyClick(window.get(), Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(settings().lowBandHz, 0);
    EXPECT_EQ(settings().highBandHz, 5000);

    const int row = test::loudestRow(state(), x);
    QCursor::setPos(area()->mapToGlobal(QPoint(x, l.plotHeight - 1 - row)));
    QTest::keyClick(window.get(), Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_NEAR(settings().highBandHz - settings().lowBandHz, 2500, 1);
    EXPECT_NEAR(settings().lowBandHz, kToneHz - 2500.0 * row / rows(), 6.0);
    EXPECT_NEAR(test::loudestRow(state(), x), row, 1);
    EXPECT_TRUE(prompts->messages().empty());
}

} // namespace
} // namespace korv
