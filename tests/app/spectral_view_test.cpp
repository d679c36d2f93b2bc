// The spectral image view on the real window: what the mouse does on an analysed file (the
// readouts, the drag that re-analyses a stretch, the click for a point spectrum, the
// measuring rectangle) and what GRID puts over the picture.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/main_window.h"
#include "dialogs/control_ids.h"
#include "display/palette.h"
#include "display/readouts.h"
#include "display/view_draw.h"
#include "modes/scan_file.h"
#include "platform/commands.h"
#include "platform/palette_display.h"
#include "settings/settings_inputs.h"
#include "shell/modes.h"
#include "support/analyze_fixture.h"
#include "support/dialog_controls.h"

#include <QAccessible>
#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ranges>
#include <vector>

namespace korv {
namespace {

using test::kRate;

class SpectralViewTest : public test::AnalyzeFileTest {
  protected:
    void SetUp() override {
        AnalyzeFileTest::SetUp();
        window->registerCommand(cmd::kScanFile, [this](int param) { scanCalls.push_back(param); });
        analyze(tone(QStringLiteral("tone.wav"), kRate * 3));
        ASSERT_TRUE(window->state().held.spectralImage);
        // The start of the image in view.
        window->state().view.scroll.h.pos = 0;
        test::repaint(*window);
    }

    [[nodiscard]] QWidget* view() const { return window->centralWidget(); }
    [[nodiscard]] const PlotLayout& layout() const { return window->state().view.layout; }

    [[nodiscard]] QRgb at(int x, int y) const {
        return window->surface().pixel(x, y).value_or(0) & 0xffffffu;
    }
    [[nodiscard]] std::vector<QRgb> area(const PixelRect& r) const {
        std::vector<QRgb> v;
        for (int y = r.y; y < r.bottom(); ++y) {
            for (int x = r.x; x < r.right(); ++x) {
                v.push_back(at(x, y));
            }
        }
        return v;
    }
    // The picture as the window shows it once the paints asked for are done.
    [[nodiscard]] std::vector<QRgb> plot() const {
        window->surface().updateNow();
        return area({0, 0, layout().plotWidth, layout().plotHeight});
    }
    [[nodiscard]] QRgb inverted(int x, int y) { return ~imageColour(x, y) & 0xffffffu; }
    // The colour the image's palette index at an image point shows.
    [[nodiscard]] QRgb imageColour(int x, int y) {
        const auto index = window->state().held.spectralImage->surface().pixel(x, y);
        return window->state().view.display.colour(index.value_or(0)) & 0xffffffu;
    }

    void drag(int fromX, int toX, int y) {
        QTest::mousePress(view(), Qt::LeftButton, {}, QPoint(fromX, y));
        for (int x = fromX; x != toX; x += toX > fromX ? 10 : -10) {
            QTest::mouseMove(view(), QPoint(x, y));
        }
        QTest::mouseMove(view(), QPoint(toX, y));
        QTest::mouseRelease(view(), Qt::LeftButton, {}, QPoint(toX, y));
    }

    std::vector<int> scanCalls;
};

TEST_F(SpectralViewTest, ReadoutsFollowThePointerTheRightButtonMeasuresAndGridDrawsOverThePicture) {
    const PixelRect box = layout().readoutBox;
    const std::vector<QRgb> idle = area(box);
    const int y = layout().plotHeight - 60;

    QTest::mouseMove(view(), QPoint(100, y));
    const std::vector<QRgb> first = area(box);
    EXPECT_NE(first, idle);
    QTest::mouseMove(view(), QPoint(300, y / 2 + 30));
    EXPECT_NE(area(box), first);
    // The same point reads the same again.
    QTest::mouseMove(view(), QPoint(100, y));
    EXPECT_EQ(area(box), first);

    // Over the waveform strip and after leaving the window: the placeholders again.
    QTest::mouseMove(view(), QPoint(100, 2));
    EXPECT_EQ(area(box), idle);
    QTest::mouseMove(view(), QPoint(100, y));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view(), &leave);
    EXPECT_EQ(area(box), idle);
    // Moving never draws into the picture.
    test::repaint(*window);
    EXPECT_EQ(at(100, y), imageColour(100, y));

    // While the right button holds, the readouts measure from where it went down; released,
    // they read the point under the pointer again.
    const QPoint from(100, y);
    const QPoint to(300, layout().plotHeight / 2);
    QTest::mouseMove(view(), to);
    const std::vector<QRgb> reading = area(box);
    QTest::mouseMove(view(), from);
    QTest::mousePress(view(), Qt::RightButton, {}, from);
    QTest::mouseMove(view(), to);
    EXPECT_NE(area(box), reading);
    // The measure's shorter labels leave nothing of the readout's behind: the box reads as a
    // paint draws it afresh.
    const std::vector<QRgb> measuring = area(box);
    test::repaint(*window);
    EXPECT_EQ(area(box), measuring);
    QTest::mouseRelease(view(), Qt::RightButton, {}, to);
    EXPECT_EQ(area(box), reading);

    // The measuring rectangle is drawn inverted while the right button holds.
    const std::vector<QRgb> before = plot();
    QTest::mousePress(view(), Qt::RightButton, {}, QPoint(100, 200));
    QTest::mouseMove(view(), QPoint(300, 260));
    EXPECT_EQ(at(200, 200), inverted(200, 200)); // top edge
    EXPECT_EQ(at(300, 230), inverted(300, 230)); // right edge
    // A smaller rectangle: the old outline is gone, and everything off the new outline is as
    // the window showed it before, the axis labels included.
    QTest::mouseMove(view(), QPoint(250, 240));
    EXPECT_EQ(at(250, 220), inverted(250, 220));
    const PixelRect outer{100, 200, 151, 41};
    const PixelRect inner{101, 201, 149, 39};
    int changedOffOutline = 0;
    for (int py = 0; py < layout().plotHeight; ++py) {
        for (int px = 0; px < layout().plotWidth; ++px) {
            const bool onOutline = outer.contains(px, py) && !inner.contains(px, py);
            const std::size_t i = static_cast<std::size_t>(py * layout().plotWidth + px);
            changedOffOutline += !onOutline && at(px, py) != before[i] ? 1 : 0;
        }
    }
    EXPECT_EQ(changedOffOutline, 0);
    // The top is kept below the waveform strip.
    QTest::mouseMove(view(), QPoint(250, 0));
    EXPECT_EQ(at(200, 43), inverted(200, 43));
    QTest::mouseRelease(view(), Qt::RightButton, {}, QPoint(250, 0));
    EXPECT_EQ(plot(), before);

    // GRID puts crosses over the picture and takes them away.
    const std::vector<std::uint8_t> image = imageBytes();
    const QRgb text = window->state().view.display.colour(kTextIndex) & 0xffffffu;
    auto textPixels = [&](const std::vector<QRgb>& v) {
        return std::count(v.begin(), v.end(), text);
    };
    QPushButton* grid = window->button(cmd::kGrid);
    QTest::mouseClick(grid, Qt::LeftButton); // enabled: the click checks it
    EXPECT_TRUE(grid->isChecked());
    const std::vector<QRgb> withGrid = plot();
    EXPECT_GT(textPixels(withGrid), textPixels(before));
    // A measuring rectangle through a cross leaves the cross in its colour.
    const int width = layout().plotWidth;
    const auto n = static_cast<int>(withGrid.size());
    const auto below = std::views::iota(60 * width, n);
    const auto cross = std::ranges::find_if(below, [&](int i) {
        return withGrid[std::size_t(i)] == text && i % width >= 30 && i % width <= width - 30;
    });
    ASSERT_NE(cross, below.end());
    const QPoint p(*cross % width, *cross / width);
    QTest::mousePress(view(), Qt::RightButton, {}, p - QPoint(20, 0));
    QTest::mouseMove(view(), p + QPoint(20, 10));
    EXPECT_EQ(at(p.x(), p.y()), text);
    QTest::mouseRelease(view(), Qt::RightButton, {}, p + QPoint(20, 10));
    EXPECT_EQ(plot(), withGrid);
    QTest::mouseClick(grid, Qt::LeftButton);
    EXPECT_FALSE(grid->isChecked());
    EXPECT_EQ(plot(), before);
    // A screen reader toggles the state without a click: the grid follows it.
    QAccessible::queryAccessibleInterface(grid)->actionInterface()->doAction(
        QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(window->state().view.gridOn);
    EXPECT_EQ(plot(), withGrid);
    // The overlay lies on the window only; the picture underneath is untouched.
    EXPECT_EQ(imageBytes(), image);
}

TEST_F(SpectralViewTest, ADragReanalysesTheSameStretchAClickAsksForAPointSpectrumTheWheelScrolls) {
    // The real time of a column: 4 msec at 22050 Hz is 88 samples, not 88.2.
    const double ts = window->state().analysis.run.params.columnMsec;
    ASSERT_LT(ts, 4.0);
    const int y = layout().plotHeight / 2;
    std::vector<std::pair<QString, QString>> shown;
    auto record = [&shown](QDialog& d) {
        shown.emplace_back(test::editText(d, ID_BEGIN_EDIT), test::editText(d, ID_END_EDIT));
        ScriptedPrompts::pressCancel(d);
    };

    // The band under the drag is inverted while it lasts; back over part of it, that part
    // shows the picture again.
    QTest::mousePress(view(), Qt::LeftButton, {}, QPoint(50, y));
    QTest::mouseMove(view(), QPoint(80, y));
    EXPECT_EQ(at(60, 10), inverted(60, 10));
    EXPECT_EQ(at(60, y), inverted(60, y));
    EXPECT_EQ(at(90, y), imageColour(90, y));
    QTest::mouseMove(view(), QPoint(70, y));
    EXPECT_EQ(at(75, y), imageColour(75, y));
    EXPECT_EQ(at(60, y), inverted(60, y));
    prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressCancel(d); });
    QTest::mouseRelease(view(), Qt::LeftButton, {}, QPoint(70, y));
    EXPECT_EQ(prompts->dialogsRun().size(), 1U);

    prompts->queueDialog(record);
    drag(100, 200, y);
    prompts->queueDialog(record);
    drag(200, 100, y);
    ASSERT_EQ(shown.size(), 2U);
    EXPECT_EQ(shown[0], shown[1]);
    // Column 100 starts 100 time steps into the segment, column 200 twice as far.
    EXPECT_EQ(shown[0].first.toDouble(), std::floor(100 * ts));
    EXPECT_EQ(shown[0].second.toDouble(), std::floor(200 * ts));
    // Cancelled: the image is kept and the band the drag inverted is gone.
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(at(150, y), imageColour(150, y));
    EXPECT_TRUE(scanCalls.empty());
    EXPECT_TRUE(prompts->unscripted().isEmpty());

    // A click asks Scan File for the point spectrum, which needs a plot display to show it.
    setScanPlotDisplayFactory(*window, [](MainWindow&, const AppSettings&) { return nullptr; });
    const AppState& s = window->state();
    const int column = 120;
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(column, layout().plotHeight / 2));
    ASSERT_EQ(scanCalls, std::vector<int>{cmd::kScanPointSpectrum});
    const double msec = column * s.analysis.run.params.columnMsec;
    const auto bytes =
        static_cast<std::int64_t>(msec * kRate * 2 / 1000) + s.analysis.run.params.fftSize * 2;
    EXPECT_EQ(s.analysis.pointSpectrumByte, bytes / 4 * 4);
    EXPECT_EQ(s.settings.averageCountPlot, s.settings.averageCountScroll);
    EXPECT_FALSE(s.settings.analysisAtStop);
    EXPECT_EQ(prompts->dialogsRun().size(), 3U); // the drags' only

    // Below the picture nothing is selected or asked.
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(column, layout().plotHeight + 5));
    EXPECT_EQ(scanCalls.size(), 1U);

    // Without a plot display a click asks for nothing and leaves the settings alone.
    setScanPlotDisplayFactory(*window, {});
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(column + 10, layout().plotHeight / 2));
    EXPECT_EQ(scanCalls.size(), 1U);

    // The wheel scrolls in time by the bar's line steps.
    window->resize(600, 500); // narrower than the image: analysed again at the new size
    QCoreApplication::processEvents();
    ASSERT_TRUE(s.view.scroll.h.scrollable);
    QScrollBar* bar = window->horizontalBar();
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    // A line of the bar is 4 columns: MainWindowTest.LayoutPlacesTheControlsAResize...
    const int notch = QApplication::wheelScrollLines() * 4;
    const auto turn = [this](QWidget* over, QPoint angle) {
        const QPointF at(over->width() / 2.0, over->height() / 2.0);
        QWheelEvent wheel(at, over->mapToGlobal(at), {}, angle, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(over, &wheel);
    };
    turn(view(), {0, -120}); // a notch down: later
    EXPECT_EQ(s.view.scroll.h.pos, notch);
    EXPECT_EQ(bar->value(), notch);
    EXPECT_EQ(at(10, y), imageColour(10 + notch, y));
    turn(view(), {-120, 0}); // a notch right, and one over the bar itself
    turn(bar, {0, -120});
    EXPECT_EQ(s.view.scroll.h.pos, 3 * notch);
    // A fine wheel adds up to the same steps; back up stops at the start.
    for (int i = 0; i < 8; ++i) {
        turn(view(), {0, 15});
    }
    EXPECT_EQ(s.view.scroll.h.pos, 2 * notch);
    turn(view(), {120 * 5, 0});
    EXPECT_EQ(s.view.scroll.h.pos, 0);
    EXPECT_EQ(at(10, y), imageColour(10, y));
}

// The vertical bar beside the picture is no part of it: a click there, enabled or not, asks for
// no point spectrum and the pointer over it reads nothing.
TEST_F(SpectralViewTest, AClickOnTheVerticalBarIsNoClickOnThePicture) {
    setScanPlotDisplayFactory(*window, [](MainWindow&, const AppSettings&) { return nullptr; });
    QScrollBar* bar = window->verticalBar();
    for (const bool enabled : {false, true}) {
        bar->setEnabled(enabled);
        const QPoint middle(bar->width() / 2, bar->height() / 2);
        QTest::mouseMove(bar, middle);
        EXPECT_EQ(window->state().view.timeMarkMsec, 0.0);
        QTest::mouseClick(bar, Qt::LeftButton, {}, middle);
        QTest::mouseClick(bar, Qt::RightButton, {}, middle);
        EXPECT_TRUE(scanCalls.empty()) << enabled;
        EXPECT_EQ(window->state().view.timeMarkMsec, 0.0);
    }
    // Nor is the view beyond the image's last column; that column still is.
    const auto columns = static_cast<int>(window->state().analysis.run.params.columns);
    ASSERT_LT(columns + 10, layout().plotWidth);
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(columns + 5, layout().plotHeight / 2));
    EXPECT_TRUE(scanCalls.empty());
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(columns - 1, layout().plotHeight / 2));
    EXPECT_EQ(scanCalls, std::vector<int>{cmd::kScanPointSpectrum});
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// A sine of amplitude 16000 on bin 46 of 1024 reads its own level, 20 log10(8000) - 90 dB and
// the gain, where the grid crosses its row too: the readout is the analysed level, not the
// colour drawn over it.
TEST_F(SpectralViewTest, TheLevelReadoutIsTheSinesLevelWhateverIsDrawnOverIt) {
    const double hz = 46.0 * kRate / 1024.0;
    analyze(write(QStringLiteral("bin.wav"),
                  test::waveFile(kRate, 1, 16, kRate * 3, test::sines({hz}, kRate))));
    ASSERT_TRUE(window->state().held.spectralImage);
    window->state().view.scroll.h.pos = 0;
    QTest::mouseClick(window->button(cmd::kGrid), Qt::LeftButton);
    ASSERT_TRUE(window->state().view.gridOn);
    test::repaint(*window);
    window->surface().updateNow();
    const int y = layout().plotHeight - 1 - rowOf(hz);
    // A point of the tone's row that the grid covers.
    int x = 20;
    while (x < layout().plotWidth - 20 && at(x, y) == imageColour(x, y)) {
        ++x;
    }
    ASSERT_LT(x, layout().plotWidth - 20) << "no grid on the tone's row";
    QTest::mouseMove(view(), QPoint(x, y));
    const PixelRect box = layout().readoutBox;
    const std::vector<QRgb> shown = area(box);

    // The box as it reads with the sine's level written in.
    const AppState& s = window->state();
    const ViewGeometry g = currentViewGeometry(s);
    ReadoutContext c;
    c.lastMode = s.settings.lastMode;
    c.dbRange = s.settings.dbRange;
    ReadoutPoint p;
    p.inside = true;
    p.viewX = x;
    p.y = y;
    p.absoluteColumn = x + g.hScrollPos;
    ReadoutTexts expected = readoutTexts(g, c, p);
    const double sineDb = 20.0 * std::log10(16000.0 / 2.0) - 90.0 - s.settings.levelScaleCode;
    expected.level = formatText("%-4.0f", sineDb);
    drawReadouts(window->surface(), g, window->controlFont(), expected, false);
    EXPECT_EQ(area(box), shown) << "the readout is not " << expected.level;
}

TEST_F(SpectralViewTest, EveryPanelTextFitsItsPlaceAtEachWindowSize) {
    // 520 x 400 is narrower than the panel at the screen's font: a smaller font takes its place.
    // Stereo shown as its left channel, over the band whose value is the widest.
    AppSettings& st = window->state().settings;
    st.channel = StereoChannel::Left;
    st.lowBandHz = 100;
    st.highBandHz = 11025;
    prompts->queueFile(dir.write(
        "stereo.wav", test::waveFile(kRate, 2, 16, kRate, test::sines({500.0, 3000.0}, kRate))));
    QTest::keyClick(window.get(), Qt::Key_F1);
    ASSERT_EQ(currentInfoPanelInputs(window->state()).channels, DisplayChannels::Left);
    std::vector<int> fontPixels;
    for (const QSize size :
         {QSize(520, 400), QSize(800, 600), QSize(1024, 768), QSize(1920, 1080)}) {
        SCOPED_TRACE(size.width());
        window->resize(size);
        QCoreApplication::processEvents(); // analysed again at the new size
        ASSERT_TRUE(window->state().held.spectralImage);
        const PlotLayout& l = layout();
        const ViewGeometry g = currentViewGeometry(window->state());
        const QFontMetrics metrics(window->controlFont());
        fontPixels.push_back(window->controlFont().pixelSize());
        const auto fits = [&](const ViewDrawing& d, const PixelRect& box) {
            for (const ViewText& t : d.texts) {
                const int width = metrics.horizontalAdvance(QString::fromStdString(t.text));
                EXPECT_GE(t.topLeft.x, box.x) << t.text;
                EXPECT_LE(t.topLeft.x + width, box.right() - 1) << t.text; // inside the edge
                EXPECT_LE(t.topLeft.y + metrics.height(), box.bottom()) << t.text;
            }
        };
        fits(infoPanel(g, currentInfoPanelInputs(window->state())), g.infoPanel);
        // The readouts as a paint draws them: placeholders, and values at the picture's end.
        const ReadoutContext context{.wholeBox = true};
        fits(readoutLines(g, readoutTexts(g, context, {})), g.readoutBox);
        const ReadoutPoint end{.inside = true,
                               .absoluteColumn = window->state().analysis.run.params.columns,
                               .y = g.stripHeight + 1};
        fits(readoutLines(g, readoutTexts(g, context, end)), g.readoutBox);
        // ... and a day and more into a long recording at 20 msec a column, its uncertainty
        // still shown.
        ViewGeometry day = g;
        day.segmentOffsetMsec = 26.0 * 3600.0 * 1000.0;
        day.columnMsec = 20.0;
        const ReadoutTexts late = readoutTexts(day, context, end);
        EXPECT_NE(late.time.find("+/- "), std::string::npos) << late.time;
        fits(readoutLines(day, late), g.readoutBox);
        // Side by side inside the window: the two boxes, then the buttons, each showing its text.
        EXPECT_GE(g.infoPanel.x, 0);
        EXPECT_LE(g.infoPanel.right(), g.readoutBox.x);
        EXPECT_LE(g.readoutBox.bottom(), l.clientHeight);
        for (const int id :
             {cmd::kPlay, cmd::kPlayWindow, cmd::kGrid, cmd::kPeakHold, cmd::kStop}) {
            const QPushButton* button = window->button(id);
            EXPECT_GE(button->x(), g.readoutBox.right());
            EXPECT_LE(button->geometry().right(), l.clientWidth - 1);
            EXPECT_LE(button->geometry().bottom(), l.clientHeight - 1);
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QRect room =
                button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            EXPECT_LE(QFontMetrics(button->font()).horizontalAdvance(button->text()), room.width())
                << button->text().toStdString();
        }
    }
    EXPECT_LT(fontPixels.front(), fontPixels.back());
}

} // namespace
} // namespace korv
