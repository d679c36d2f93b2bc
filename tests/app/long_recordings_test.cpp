// Long recordings in the real window offscreen: Go To Time and the whole-screen paging on an
// analysed file with a tone that starts at a known time, PLAY slowed by a time expansion on
// the simulated output and the virtual clock, and the progress of a long analysis with its
// Cancel.

#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/program_menu.h"
#include "app/progress_panel.h"
#include "app/time_expansion.h"
#include "audio/time_expansion.h"
#include "dialogs/go_to_time_dialog.h"
#include "output/image_files.h"
#include "platform/sound_simulated.h"
#include "support/counting_output.h"
#include "support/platform_scopes.h"
#include "support/prompt_checks.h"
#include "support/temp_dir.h"
#include "support/test_signals.h"
#include "support/window_setup.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>

namespace korv {
namespace {

constexpr int kRate = 22050;
constexpr double kOnsetSec = 25.0; // the tone of the navigation file starts here
constexpr int kWaveHeaderBytes = 44;

class LongRecordingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        MainWindowOptions o = test::virtualClockOptions(dir, clock);
        o.makeSoundOutput = test::countingOutputs(clock, failNewDevice, output);
        window = test::openWindow(o);
        test::scanSettings(settings(), kRate);
        settings().highBandHz = 5000;
    }

    AppState& state() { return window->state(); }
    AppSettings& settings() { return window->state().settings; }
    const RunParameters& params() { return state().analysis.run.params; }
    int scrollPos() { return state().view.scroll.h.pos; }

    // Writes and analyses (F1) a mono file of `frames` frames; returns the sample bytes.
    QByteArray analyze(const QString& name, int rate, long frames,
                       const test::FrameSignal& signal) {
        const QByteArray file = test::waveFile(rate, 1, 16, frames, signal);
        prompts->queueFile(dir.write(name, file));
        QTest::keyClick(window.get(), Qt::Key_F1);
        EXPECT_TRUE(state().held.spectralImage);
        return file.mid(kWaveHeaderBytes);
    }

    // 40 s of silence with a 2 kHz tone from kOnsetSec on.
    void analyzeOnsetFile() {
        const test::FrameSignal sine = test::sines({2000.0}, kRate);
        const auto onset = static_cast<long>(kOnsetSec * kRate);
        analyze(QStringLiteral("onset.wav"), kRate, 40L * kRate,
                [=](long i) { return i >= onset ? sine(i) : std::vector<double>{0.0}; });
    }

    // The highest palette index of the image's column x: high where the tone is heard.
    int columnPeak(int x) {
        const IndexedSurface& image = state().held.spectralImage->surface();
        int peak = 0;
        for (int y = state().analysis.run.stripHeight + 1; y < state().analysis.run.plotHeight;
             ++y) {
            peak = std::max<int>(peak, *image.pixel(x, y));
        }
        return peak;
    }

    // Go To Time with `text` typed.
    void goTo(const QString& text) {
        prompts->queueDialog([text](QDialog& d) {
            auto* edit = d.findChild<QLineEdit*>(controlName(ID_GO_TO_TIME_EDIT));
            ASSERT_NE(edit, nullptr);
            edit->setText(text);
            ScriptedPrompts::pressOk(d);
        });
    }

    QFrame* panel() { return window->findChild<QFrame*>(QStringLiteral("progress")); }
    QProgressBar* bar() { return panel()->findChild<QProgressBar*>(); }
    QString stage() { return panel()->findChild<QLabel*>()->text(); }
    void cancel() {
        auto* b = panel()->findChild<QPushButton*>(QStringLiteral("progressCancel"));
        ASSERT_NE(b, nullptr);
        b->click();
    }

    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    VirtualClock clock;
    test::CountingOutput* output = nullptr;
    SimulatedFailure failNewDevice = SimulatedFailure::None;
    std::unique_ptr<MainWindow> window;
};

// A typed time, in any of its spellings, brings the column whose window is centred on it to
// the view's left edge, where the tone's onset then shows; text that is no time or a time
// outside the file brings the dialog back after its message.
TEST_F(LongRecordingsTest, GoToTimeBringsTheTypedTimeToTheLeftEdge) {
    EXPECT_FALSE(window->menu().enabled(cmd::kGoToTime)); // nothing analysed yet
    analyzeOnsetFile();
    ASSERT_TRUE(window->menu().enabled(cmd::kGoToTime));
    // The time of column x is x hops on from the start, plus half the window.
    const double hopMsec = static_cast<double>(params().hop) * 1000.0 / kRate;
    const double centreMsec = params().windowSamples / 2 * 1000.0 / kRate;
    const auto onsetColumn = std::lround((kOnsetSec * 1000.0 - centreMsec) / hopMsec);
    for (const char* typed : {"25", "0:25", "0:00:25.000", " 25.0 "}) {
        SCOPED_TRACE(typed);
        QTest::keyClick(window.get(), Qt::Key_Home);
        ASSERT_EQ(scrollPos(), 0);
        goTo(QString::fromLatin1(typed));
        window->commands().send(cmd::kGoToTime, 0);
        EXPECT_EQ(scrollPos(), onsetColumn);
        EXPECT_EQ(window->horizontalBar()->value(), onsetColumn);
    }
    // Silence a window's half before the left edge, the tone a window's half after it.
    const int halfWindowColumns = static_cast<int>(std::ceil(centreMsec / hopMsec));
    EXPECT_LT(columnPeak(scrollPos() - halfWindowColumns - 1), 60);
    EXPECT_GT(columnPeak(scrollPos() + halfWindowColumns + 1), 150);
    EXPECT_TRUE(prompts->messages().empty());

    // 12.5 s, from where the view is: the field starts with the time at its left edge.
    QString shown;
    prompts->queueDialog([&shown](QDialog& d) {
        auto* edit = d.findChild<QLineEdit*>(controlName(ID_GO_TO_TIME_EDIT));
        ASSERT_NE(edit, nullptr);
        shown = edit->text();
        edit->setText(QStringLiteral("12.5"));
        ScriptedPrompts::pressOk(d);
    });
    window->commands().send(cmd::kGoToTime, 0);
    // The left column's centre, to the msec.
    const double leftMsec = static_cast<double>(onsetColumn) * hopMsec + centreMsec;
    EXPECT_EQ(shown, QStringLiteral("0:00:%1").arg(leftMsec / 1000.0, 6, 'f', 3, QLatin1Char('0')));
    EXPECT_EQ(scrollPos(), std::lround((12500.0 - centreMsec) / hopMsec));

    // No time, then one past the end: each message, and the dialog again (cancelled last).
    const int before = scrollPos();
    goTo(QStringLiteral("1:75"));
    goTo(QStringLiteral("1:00:00"));
    prompts->queueDialog(&ScriptedPrompts::pressCancel);
    window->commands().send(cmd::kGoToTime, 0);
    ASSERT_EQ(prompts->messages().size(), 2U);
    EXPECT_EQ(prompts->messages()[0].text.rfind("Improper Time", 0), 0U);
    EXPECT_EQ(prompts->messages()[1].text,
              "Time Not in the Analysed Stretch (0:00:00.000 to 0:00:40.000)");
    EXPECT_EQ(scrollPos(), before);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// Shift+Page Down and Up move a whole view; Page Down alone the bar's 100 columns; the end
// holds them.
TEST_F(LongRecordingsTest, ShiftPageMovesAWholeScreen) {
    analyzeOnsetFile();
    const int screen = state().view.layout.plotWidth;
    const int max = state().view.scroll.h.max;
    ASSERT_GT(max, 3 * screen);
    QTest::keyClick(window.get(), Qt::Key_Home);
    QTest::keyClick(window.get(), Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(scrollPos(), screen);
    // The view's first column now is the one just past the last column it showed before.
    QTest::keyClick(window.get(), Qt::Key_PageDown);
    EXPECT_EQ(scrollPos(), screen + 100);
    QTest::keyClick(window.get(), Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(scrollPos(), 100);
    QTest::keyClick(window.get(), Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(scrollPos(), 0);
    // The menu's items do the same.
    window->menu().action(cmd::kScreenForward)->trigger();
    EXPECT_EQ(scrollPos(), screen);
    QTest::keyClick(window.get(), Qt::Key_End);
    QTest::keyClick(window.get(), Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(scrollPos(), max);
    EXPECT_EQ(window->horizontalBar()->value(), max);
}

// At 1/10 speed PLAY gives the device every frame at a tenth of the rate, takes ten times as
// long on the clock, and the time readout is the file's time of the frames the device has
// played; a device that refuses the slowed rate is named so.
TEST_F(LongRecordingsTest, TimeExpansionPlaysSlowedAndTheTimeStaysTheFiles) {
    constexpr int kBatRate = 96000;
    constexpr int kFactor = 10;
    constexpr int kMs = 1500;
    settings().highBandHz = 40000;
    const QByteArray held = analyze(QStringLiteral("bat.wav"), kBatRate, kBatRate * kMs / 1000,
                                    test::sines({40000.0}, kBatRate));
    QAction* tenth = window->menu().action(cmd::kTimeExpansionFirst + 4);
    ASSERT_NE(tenth, nullptr);
    EXPECT_EQ(tenth->text(), "1/&10 Speed");
    EXPECT_TRUE(window->menu().checked(cmd::kTimeExpansionFirst));
    tenth->trigger();
    EXPECT_TRUE(window->menu().checked(cmd::kTimeExpansionFirst + 4));
    EXPECT_FALSE(window->menu().checked(cmd::kTimeExpansionFirst));

    // The readout against the frames heard, at rounds well inside the sound.
    std::vector<std::pair<double, double>> readouts; // (shown, heard) in file msec
    std::map<int, std::function<void()>> probes;
    for (const int round : {200, 2000, 6000}) {
        probes[round] = [this, &readouts] {
            const auto heard = output->device.positionFrames();
            ASSERT_TRUE(heard.has_value());
            readouts.emplace_back(state().view.timeNowMsec,
                                  static_cast<double>(*heard) * 1000.0 / kBatRate);
        };
    }
    test::probeAt(*window, probes);
    const std::int64_t startMs = clock.currentMs();
    window->commands().send(cmd::kPlay, 0);

    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->device.format().sampleRate, kBatRate / kFactor);
    const auto perMs = static_cast<std::size_t>(kBatRate / kFactor * 2 / 1000 + 2);
    test::expectHeard(output->played(), test::bytesOf(held), 0, 2 * perMs);
    EXPECT_NEAR(static_cast<double>(clock.currentMs() - startMs), kMs * kFactor, 20.0);
    ASSERT_EQ(readouts.size(), 3U);
    for (const auto& [shown, heard] : readouts) {
        EXPECT_GT(heard, 0.0);
        EXPECT_LT(heard, kMs);
        // A msec of the clock is a tenth of a msec of the file: the readout keeps within it.
        EXPECT_NEAR(shown, heard, 1.0);
    }
    EXPECT_TRUE(prompts->messages().empty());

    // A device that will not open at the slowed rate.
    output->device.refuseRate(kBatRate / kFactor);
    window->commands().send(cmd::kPlayWindow, 0);
    test::expectOneMessage(*prompts, "The Sound Output Cannot Play 9600 Hz (1/10 of 96000 Hz): "
                                     "Choose a Smaller Time Expansion");
    // No device at all: no smaller expansion would help, so none is suggested.
    output->device.refuseRate(0);
    output->device.failAt(SimulatedFailure::Open);
    window->commands().send(cmd::kPlayWindow, 0);
    test::expectOneMessage(*prompts, "Cannot Open Audio Device");
}

// The time expansion chosen is kept in korvanthile.conf beside korv.ini and is checked and
// played at again after a restart of the window.
TEST_F(LongRecordingsTest, TimeExpansionSurvivesARestart) {
    const auto reopen = [this] {
        EXPECT_TRUE(window->close());
        window.reset();
        window = test::openWindow(test::virtualClockOptions(dir, clock));
    };
    EXPECT_EQ(timeExpansion(*window), 1);
    window->menu().action(cmd::kTimeExpansionFirst + 4)->trigger(); // 1/10
    reopen();
    QFile conf(dir.file(QStringLiteral("korvanthile.conf")));
    ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(conf.readAll().contains("play.slowdown = 10\n"));
    EXPECT_EQ(timeExpansion(*window), 10);
    for (int k = 0; k < static_cast<int>(TIME_EXPANSION_FACTORS.size()); ++k) {
        EXPECT_EQ(window->menu().checked(cmd::kTimeExpansionFirst + k), k == 4) << k;
    }
    window->menu().action(cmd::kTimeExpansionFirst + 7)->trigger(); // 1/32
    reopen();
    EXPECT_EQ(timeExpansion(*window), 32);
    EXPECT_TRUE(window->menu().checked(cmd::kTimeExpansionFirst + 7));
    EXPECT_TRUE(prompts->messages().empty());
}

// A long analysis shows its progress once it has run a while, and its Cancel leaves what STOP
// leaves: the image up to the last column drawn, the segment cut to match; a short one never
// shows it.
TEST_F(LongRecordingsTest, CancelStopsALongAnalysisWhereItIs) {
    ASSERT_NE(panel(), nullptr);
    bool everShown = false;
    test::everyPump(*window, [&](int) {
        everShown = everShown || panel()->isVisible();
        return state().view.analysisDrawing;
    });
    analyze(QStringLiteral("short.wav"), kRate, kRate, test::sines({1000.0}, kRate));
    EXPECT_FALSE(everShown);

    int barAtCancel = -1;
    long fullColumns = 0;
    int drawing = 0; // pumps of the column loop
    test::everyPump(*window, [&](int) {
        if (!state().view.analysisDrawing) {
            return true;
        }
        ++drawing;
        if (drawing == 3) {
            clock.advance(ProgressPanel::kShowAfterMs); // the analysis has run a while
        } else if (drawing == 6) {
            EXPECT_TRUE(panel()->isVisible());
            EXPECT_EQ(stage(), "Analysing long.wav");
            fullColumns = state().analysis.run.params.columns;
            barAtCancel = bar()->value();
            cancel();
            return false;
        }
        return true;
    });
    analyze(QStringLiteral("long.wav"), kRate, 40L * kRate, test::sines({1000.0}, kRate));
    ASSERT_GT(fullColumns, 3900); // 10 msec columns (221 samples) of 40 s
    // The image ends at the column the loop had reached (it pumps every fourth column), which
    // is what the bar showed.
    const long kept = params().columns;
    EXPECT_GT(kept, 1);
    EXPECT_LT(kept, 40);
    EXPECT_EQ((kept - 1) % 4, 0);
    EXPECT_EQ(barAtCancel, std::lround(static_cast<double>(kept - 1) /
                                       static_cast<double>(fullColumns) * 1000.0));
    EXPECT_EQ(state().analysis.run.segmentBytes,
              40LL * kRate * 2 * kept / fullColumns / 2 * 2); // whole frames
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_FALSE(state().control.modeRunning);
    EXPECT_TRUE(window->menu().enabled(cmd::kAnalyzeFile));
    EXPECT_TRUE(prompts->messages().empty());
}

// In a batch the bar counts the files, and Cancel ends the batch as STOP does: the file it cut
// short saves no image, the ones after it are not analysed, the summary says so.
TEST_F(LongRecordingsTest, CancelEndsABatch) {
    QStringList files;
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        files << dir.write(QString::fromLatin1(name),
                           test::waveFile(kRate, 1, 16, 20L * kRate, test::sines({1000.0}, kRate)));
    }
    QString stageShown;
    int barShown = -1;
    test::everyPump(*window, [&](int) {
        if (!state().view.analysisDrawing || !window->windowTitle().contains("2 of 3")) {
            return true;
        }
        clock.advance(ProgressPanel::kShowAfterMs);
        if (!panel()->isVisible()) {
            return true;
        }
        stageShown = stage();
        barShown = bar()->value();
        cancel();
        return false;
    });
    prompts->queueFiles(files);
    prompts->queueDialog([](QDialog& d) {
        d.findChild<QAbstractButton*>(controlName(IMAGE_FORMAT_BITMAP))->click();
        ScriptedPrompts::pressOk(d);
    });
    window->commands().send(cmd::kAnalyzeBatch, 0);
    window->commands().drain();
    EXPECT_FALSE(state().control.batchRunning);
    EXPECT_EQ(stageShown, "File 2 of 3: b.wav");
    // One file of three done, the second only begun.
    EXPECT_GE(barShown, 333);
    EXPECT_LT(barShown, 340);
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("images/a.bmp"))));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("images/b.bmp"))));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("images/c.bmp"))));
    ASSERT_EQ(prompts->messages().size(), 1U);
    EXPECT_EQ(prompts->messages()[0].text, "2 of 3 files were not saved.");
    EXPECT_EQ(prompts->messageDetails().value(0),
              QStringLiteral("b.wav: Stopped before the end of the file: no image saved\n"
                             "c.wav: not analysed: the batch was stopped"));
}

} // namespace
} // namespace korv
