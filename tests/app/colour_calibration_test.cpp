// F4 and F6 in the real window: the colour dialog changing the pictures at once, and the
// calibration curve edited with the mouse or imported and applied to the next analysis.

#include "analysis/calibration_edit.h"
#include "dialogs/calibration_dialog.h"
#include "dialogs/colour_dialog.h"
#include "support/analyze_fixture.h"
#include "support/dialog_controls.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include <algorithm>
#include <cstdint>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace korv {
namespace {

using namespace test;

class ColourCalibrationTest : public AnalyzeFileTest {
  protected:
    ColourDialog& openColours() {
        QTest::keyClick(window.get(), Qt::Key_F4);
        ColourDialog* d = colourDialog(window.get());
        EXPECT_NE(d, nullptr);
        return *d;
    }
    static QPushButton* selector(ColourDialog& d, int entry) {
        return control<QPushButton>(d, kEntrySelectorIds[static_cast<std::size_t>(entry)]);
    }
    void select(ColourDialog& d, int entry) { selector(d, entry)->click(); }
    void setColour(ColourDialog& d, Rgb c) {
        control<QScrollBar>(d, ID_RED_SCROLL)->setValue(c.r);
        control<QScrollBar>(d, ID_GREEN_SCROLL)->setValue(c.g);
        control<QScrollBar>(d, ID_BLUE_SCROLL)->setValue(c.b);
    }
    void close(ColourDialog& d, int button) {
        control<QPushButton>(d, button)->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QString gain(ColourDialog& d) { return control<QLineEdit>(d, ID_GAIN_EDIT)->text(); }
    long windowPixelsOf(QRgb colour) {
        window->surface().updateNow();
        const QImage& img = window->surface().image();
        const auto* pixels = reinterpret_cast<const QRgb*>(img.constBits()); // 32-bit: no padding
        return std::count_if(pixels, pixels + img.width() * img.height(),
                             [colour](QRgb p) { return (p & 0xFFFFFF) == colour; });
    }
    // Seconds of deterministic white noise, flat over the spectrum.
    QString noise(const QString& name) {
        return write(name, test::waveFile(kRate, 1, 16, kRate * 2, [](long i) {
                         auto x = static_cast<std::uint32_t>(i) * 2654435761u;
                         x ^= x >> 15;
                         x *= 2246822519u;
                         x ^= x >> 13;
                         return std::vector<double>{static_cast<double>(x % 4001) - 2000.0};
                     }));
    }
    // The mean palette index of the rows around a frequency, over the middle columns.
    double meanIndexAt(double hz) {
        double sum = 0.0;
        int n = 0;
        const auto columns = static_cast<int>(window->state().analysis.run.params.columns);
        for (int x = columns / 4; x < columns * 3 / 4; ++x) {
            for (int r = rowOf(hz) - 3; r <= rowOf(hz) + 3; ++r) {
                sum += indexAt(x, r, window->state().analysis.run.plotHeight);
                ++n;
            }
        }
        return sum / n;
    }
};

// One colour dialog, that reopens where it was moved.
TEST_F(ColourCalibrationTest, OneColourDialogItsStepsTypedComponentsPalettesRangeGainAndCancel) {
    ColourDialog& d = openColours();
    QTest::keyClick(window.get(), Qt::Key_F4);
    EXPECT_EQ(colourDialog(window.get()), &d);
    const auto shown = [](QWidget* w) { return qobject_cast<QDialog*>(w) && w->isVisible(); };
    EXPECT_EQ(std::ranges::count_if(QApplication::topLevelWidgets(), shown), 1);
    EXPECT_EQ(d.windowTitle(), "Korvanthile Colors");
    // The gain field only shows (a colour's takes typing, below).
    EXPECT_TRUE(control<QLineEdit>(d, ID_GAIN_EDIT)->isReadOnly());
    EXPECT_EQ(control<QLineEdit>(d, ID_GAIN_EDIT)->palette().color(QPalette::Base),
              d.palette().color(QPalette::Window));
    EXPECT_TRUE(control<QRadioButton>(d, PALETTE_CB)->isChecked());
    setColour(d, {0, 0, 0}); // entry 0 black: an edit of CB makes it User
    EXPECT_TRUE(control<QRadioButton>(d, PALETTE_USER)->isChecked());
    select(d, 4);
    setColour(d, {200, 0, 0});
    select(d, 0);
    control<QPushButton>(d, ID_SPREAD_TO)->click();
    EXPECT_TRUE(control<QPushButton>(d, ID_CANCEL_OPERATION)->isEnabled());
    EXPECT_FALSE(control<QPushButton>(d, kOkButtonId)->isEnabled());
    EXPECT_FALSE(control<QScrollBar>(d, ID_RED_SCROLL)->isEnabled());
    select(d, 4);
    const LevelPalette& active = window->state().view.activePalette;
    for (int i = 0; i <= 4; ++i) {
        EXPECT_EQ(active[static_cast<std::size_t>(i)],
                  (Rgb{static_cast<std::uint8_t>(50 * i), 0, 0}));
    }
    EXPECT_FALSE(control<QPushButton>(d, ID_CANCEL_OPERATION)->isEnabled());
    EXPECT_TRUE(control<QPushButton>(d, kOkButtonId)->isEnabled());

    // Line-left at 0 stays 0; page-right at 250 stops at 255.
    QScrollBar* red = control<QScrollBar>(d, ID_RED_SCROLL);
    select(d, 0);
    red->triggerAction(QScrollBar::SliderSingleStepSub);
    EXPECT_EQ(active[0].r, 0);
    red->setValue(250);
    red->triggerAction(QScrollBar::SliderPageStepAdd);
    EXPECT_EQ(active[0].r, 255);
    EXPECT_EQ(control<QLineEdit>(d, ID_RED_EDIT)->text(), "255");

    // CB after edits keeps them as the User palette; User brings them back.
    const LevelPalette edited = active;
    control<QRadioButton>(d, PALETTE_CB)->click();
    EXPECT_EQ(settings().userPalette, edited);
    EXPECT_EQ(active, kCbPalette);
    control<QRadioButton>(d, PALETTE_USER)->click();
    EXPECT_EQ(active, edited);

    // A component typed into its field is taken and moves its bar; OK refuses one past 255.
    select(d, 2);
    typeInto(d, ID_RED_EDIT, "017");
    EXPECT_EQ(control<QScrollBar>(d, ID_RED_SCROLL)->value(), 17);
    EXPECT_EQ(editText(d, ID_RED_EDIT), "017"); // the typing stays as typed
    EXPECT_EQ(active[2].r, 17);
    typeInto(d, ID_GREEN_EDIT, "300");
    const std::uint8_t green = active[2].g;
    control<QPushButton>(d, kOkButtonId)->click();
    EXPECT_EQ(prompts->messages(),
              (std::vector<UserMessage>{{"Improper Entry", MessageIcon::Stop}}));
    EXPECT_EQ(colourDialog(window.get()), &d) << "still open";
    EXPECT_EQ(active[2].g, green);
    typeInto(d, ID_GREEN_EDIT, "30");
    d.move(123, 77);
    close(d, kOkButtonId);
    EXPECT_EQ(settings().palette, PaletteName::User);
    EXPECT_EQ(colourDialog(window.get()), nullptr);
    EXPECT_EQ(settings().userPalette[2], (Rgb{17, 30, 0}));

    // Reopened where it was moved: the range and the gain; Cancel restores what it opened with.
    const LevelPalette opening = active;
    const AppSettings before = settings();
    ColourDialog& again = openColours();
    EXPECT_EQ(again.pos(), QPoint(123, 77));
    EXPECT_EQ(gain(again), "9"); // -levelScaleCode with the stored 60 dB
    control<QRadioButton>(again, DB_SCALE_90)->click();
    EXPECT_EQ(gain(again), "-12");
    EXPECT_EQ(control<QScrollBar>(again, ID_GAIN_SCROLL)->value(), 3);
    EXPECT_EQ(selector(again, 0)->text(), "-90.0 dB");
    EXPECT_EQ(settings().dbRange, DbRange::Db90);
    // A screen reader sees the level selectors as one choice of many, named by their level,
    // and its press checks one.
    QAccessibleInterface* level = QAccessible::queryAccessibleInterface(selector(again, 2));
    EXPECT_EQ(level->role(), QAccessible::RadioButton);
    EXPECT_EQ(level->text(QAccessible::Name), selector(again, 2)->text());
    level->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(level->state().checked);
    EXPECT_FALSE(selector(again, 0)->isChecked());
    control<QScrollBar>(again, ID_GAIN_SCROLL)->triggerAction(QScrollBar::SliderSingleStepAdd);
    EXPECT_EQ(settings().levelScaleCode, 11);
    EXPECT_EQ(gain(again), "-11");
    setColour(again, {9, 9, 9});
    control<QRadioButton>(again, PALETTE_BW)->click();
    close(again, kCancelButtonId);
    EXPECT_EQ(window->state().view.activePalette, opening);
    EXPECT_TRUE(settings() == before) << "range, gain and palettes as they were";

    settings().displayType = DisplayType::LinePlot;
    ColourDialog& plot = openColours();
    control<QRadioButton>(plot, DB_SCALE_30)->click();
    EXPECT_EQ(gain(plot), "0");
    EXPECT_EQ(selector(plot, 12)->text(), "-30.0 dB");
    close(plot, kOkButtonId);
    EXPECT_EQ(settings().dbRange, DbRange::Db30);
}

// The text a screen reader or a voice-control tool sets into a field beside a bar counts as
// typed, in the colour dialog and in the parameter dialog.
TEST_F(ColourCalibrationTest, AValueSetThroughAccessibilityCountsAsTyped) {
    const auto setText = [](QLineEdit* field, const QString& text) {
        QAccessible::queryAccessibleInterface(field)->setText(QAccessible::Value, text);
    };
    ColourDialog& d = openColours();
    select(d, 3);
    setText(control<QLineEdit>(d, ID_GREEN_EDIT), QStringLiteral("77"));
    EXPECT_EQ(control<QScrollBar>(d, ID_GREEN_SCROLL)->value(), 77);
    EXPECT_EQ(window->state().view.activePalette[3].g, 77);
    QAccessible::queryAccessibleInterface(control<QLineEdit>(d, ID_BLUE_EDIT))
        ->editableTextInterface()
        ->replaceText(0, 3, QStringLiteral("12"));
    EXPECT_EQ(window->state().view.activePalette[3].b, 12);
    close(d, kOkButtonId);

    settings().variables = Variables::Adjust;
    prompts->queueDialog([&setText](QDialog& dialog) {
        setText(control<QLineEdit>(dialog, ID_LOW_BAND_EDIT), QStringLiteral("1500"));
        setText(control<QLineEdit>(dialog, ID_AVERAGE_EDIT), QStringLiteral("3"));
        EXPECT_EQ(control<QScrollBar>(dialog, ID_LOW_BAND_SCROLL)->value(), 1500);
        ScriptedPrompts::pressOk(dialog);
    });
    analyze(tone(QStringLiteral("spoken.wav"), kRate));
    EXPECT_EQ(settings().lowBandHz, 1500);
    EXPECT_EQ(settings().averageCountScroll, 3);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

TEST_F(ColourCalibrationTest, TheMouseEditsTheCurveInHalfDbStepsAndOkStoresIt) {
    const CalibrationCurve stored = settings().calibrationTable;
    const auto drag = [](QDialog& d, int point, int toY) {
        QWidget* graph = control<QWidget>(d, ID_CALIBRATION_GRAPH);
        const auto g = CalibrationGraph::forSize(graph->width(), graph->height());
        auto& box = static_cast<CalibrationDialog&>(d);
        const QPoint at(g.pointX(point),
                        g.pointY(box.working()[static_cast<std::size_t>(point)].correctionDb));
        QTest::mousePress(graph, Qt::LeftButton, {}, at);
        QTest::mouseMove(graph, QPoint(at.x() + 30, toY));
        QTest::mouseRelease(graph, Qt::LeftButton, {}, QPoint(at.x() + 30, toY));
        return g;
    };
    prompts->queueDialog([&](QDialog& d) {
        // Each axis label sits at the point it names: levels at their heights, frequencies
        // under their points (and none over another: DialogTitles in prompts_test).
        QWidget* graph = control<QWidget>(d, ID_CALIBRATION_GRAPH);
        const auto geometry = CalibrationGraph::forSize(graph->width(), graph->height());
        const auto centre = [&](const char* text) {
            for (const QLabel* l : d.findChildren<QLabel*>()) {
                if (l->text() == QString::fromLatin1(text)) {
                    return graph->mapFrom(&d, l->mapTo(&d, l->rect().center()));
                }
            }
            ADD_FAILURE() << "no label " << text;
            return QPoint(-1000, -1000);
        };
        for (const auto& [text, db] : {std::pair{"+30 dB", 30.0f}, std::pair{"+15 dB", 15.0f},
                                       std::pair{"  0  dB", 0.0f}, std::pair{"-30 dB", -30.0f}}) {
            EXPECT_NEAR(centre(text).y(), geometry.pointY(db), 1) << text;
        }
        for (const auto& [text, point] : {std::pair{"10 Hz", 0}, std::pair{"100 Hz", 10},
                                          std::pair{"1 kHz", 20}, std::pair{"20 kHz", 33}}) {
            const QPoint at = centre(text);
            EXPECT_NEAR(at.x(), geometry.pointX(point), 1) << text;
            EXPECT_GT(at.y(), graph->height()) << text;
        }
        auto& box = static_cast<CalibrationDialog&>(d);
        const auto g = drag(d, 10, 0);
        const int zero = g.zeroY();
        EXPECT_EQ(box.working()[10].correctionDb, 30.0f);
        drag(d, 10, zero - 5); // 2.5 half-steps: the nearer half is 1.5 dB
        EXPECT_EQ(box.working()[10].correctionDb, 1.5f);
        drag(d, 14, zero - 32); // 8 dB
        EXPECT_EQ(box.previousPoint(), 10);
        EXPECT_EQ(box.currentPoint(), 14);
        EXPECT_EQ(box.working()[14].correctionDb, 8.0f);
        EXPECT_TRUE(control<QLineEdit>(d, ID_CALIBRATION_READOUT)
                        ->text()
                        .contains("Frequency (Hz)    8.0 Level (dB)"));
        control<QPushButton>(d, ID_CALIBRATION_CONNECT)->click();
        EXPECT_FLOAT_EQ(box.working()[12].correctionDb, 1.5f + 2.0f * 6.5f / 4.0f);
        ScriptedPrompts::pressCancel(d);
    });
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_EQ(settings().calibrationTable, stored);
    prompts->queueDialog([](QDialog& d) {
        control<QPushButton>(d, ID_CALIBRATION_ZERO)->click();
        ScriptedPrompts::pressOk(d);
    });
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_TRUE(std::ranges::all_of(settings().calibrationTable, [](const CalibrationPoint& p) {
        return p.correctionDb == 0.0f;
    }));
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

TEST_F(ColourCalibrationTest, AnImportedStepShowsInTheNextAnalysisARecolourAtOnce) {
    const QString file = noise("noise.wav");
    settings().calibrationTable = defaultCalibrationCurve(); // flat from 80 Hz to 10 kHz
    analyze(file);
    ASSERT_TRUE(window->state().held.spectralImage);
    const double flat = meanIndexAt(2000.0) - meanIndexAt(500.0);

    // A FIFO named as the file is refused at once instead of waiting for a writer.
    const QString fifo = dir.file(QStringLiteral("fifo.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A spreadsheet's export: a byte-order mark, semicolons and decimal commas.
    const QString comma = write("comma.txt", "\xEF\xBB\xBF* export\r\n20;0\r\n999;0\r\n"
                                             "1000;10,5\r\n20000;10,5\r\n");
    const QString bad = write("bad.txt", "* header\n100 0\n50 3\n");
    const QString step = write("step.txt", "* maker's file\n\"Serial 1\"\n20 0\n999 0\n1000 "
                                           "10\n20000 10\n");
    for (const QString& f : {fifo, comma, bad, step}) {
        prompts->queueFile(f);
    }
    prompts->queueDialog([this](QDialog& d) {
        auto& box = static_cast<CalibrationDialog&>(d);
        control<QPushButton>(d, ID_CALIBRATION_IMPORT)->click(); // the FIFO: refused
        EXPECT_EQ(box.working(), settings().calibrationTable);
        control<QPushButton>(d, ID_CALIBRATION_IMPORT)->click();
        EXPECT_EQ(box.working()[20].correctionDb, 10.5f);        // 1 kHz
        control<QPushButton>(d, ID_CALIBRATION_IMPORT)->click(); // refused: nothing changes
        EXPECT_EQ(box.working()[20].correctionDb, 10.5f);
        control<QPushButton>(d, ID_CALIBRATION_IMPORT)->click();
        ScriptedPrompts::pressOk(d);
    });
    QTest::keyClick(window.get(), Qt::Key_F6);
    ASSERT_EQ(prompts->messages().size(), 2u);
    EXPECT_NE(prompts->messages()[0].text.find("cannot be opened"), std::string::npos);
    EXPECT_NE(prompts->messages()[1].text.find("Line 3"), std::string::npos);
    EXPECT_EQ(settings().calibrationTable[20].correctionDb, 10.0f); // 1 kHz
    EXPECT_EQ(settings().calibrationTable[19].correctionDb, 0.0f);  // 800 Hz

    analyze(file);
    // 10 dB over a 60 dB range of 240 steps: 40 palette steps.
    EXPECT_NEAR(meanIndexAt(2000.0) - meanIndexAt(500.0) - flat, 40.0, 3.0);

    // A recolour changes the window at once, without an analysis.
    const auto imageBefore = imageBytes();
    constexpr QRgb kGreen = 0x00C800;
    EXPECT_EQ(windowPixelsOf(kGreen), 0);
    ColourDialog& d = openColours();
    select(d, kBackgroundEntry);
    setColour(d, {0, 200, 0});
    EXPECT_GT(windowPixelsOf(kGreen), 10000);
    EXPECT_EQ(imageBytes(), imageBefore);
    EXPECT_EQ(window->commands().pending(), 0);
    close(d, kOkButtonId);
    EXPECT_EQ(window->commands().pending(), 0);
    // A new range needs the levels mapped again: OK asks for the image to be redrawn.
    control<QRadioButton>(openColours(), DB_SCALE_90)->click();
    close(*colourDialog(window.get()), kOkButtonId);
    EXPECT_EQ(window->commands().pending(), 1);
    window->commands().drain();
    EXPECT_NE(imageBytes(), imageBefore);
    // A parameter change starting closes the dialog, as with OK.
    openColours();
    prompts->queueDialog([](QDialog& p) { ScriptedPrompts::pressCancel(p); });
    window->commands().send(cmd::kParametersChange, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(colourDialog(window.get()), nullptr);
    EXPECT_EQ(settings().userPalette[kBackgroundEntry], (Rgb{0, 200, 0}));
}

} // namespace
} // namespace korv
