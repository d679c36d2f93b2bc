#pragma once
// The Analyze File fixture: the real window offscreen, wave files written to a temporary
// folder, the file and parameter dialogs answered by script.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "dialogs/control_ids.h"
#include "platform_scopes.h"
#include "shell/modes.h"
#include "temp_dir.h"
#include "test_signals.h"
#include "window_setup.h"

#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace korv::test {

constexpr int kRate = 22050;

class AnalyzeFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        MainWindowOptions o;
        o.settingsFile = dir.file(QStringLiteral("korv.ini")).toStdString();
        window = openWindow(o, {}, [this](MainWindow& w) {
            w.registerCommand(cmd::kPlay, [this](int) { ++plays; });
        });
    }

    AppState& state() { return window->state(); }
    AppSettings& settings() { return window->state().settings; }
    const AnalysisRun& run() { return window->state().analysis.run; }
    const IndexedSurface& image() { return window->state().held.spectralImage->surface(); }
    std::vector<std::uint8_t> imageBytes() {
        return {image().pixels().begin(), image().pixels().end()};
    }

    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir.write(name, bytes);
        EXPECT_FALSE(path.isEmpty());
        return path;
    }

    // A mono 16-bit file of one sine at kRate.
    QString tone(const QString& name, long frames, double hz = 1000.0) {
        return write(name, test::waveFile(kRate, 1, 16, frames, test::sines({hz}, kRate)));
    }

    // A sine of `hz` (16000 in 16-bit units) from frame `from` up to `to`, silence elsewhere.
    static FrameSignal burst(double hz, long from, long to) {
        const FrameSignal sine = sines({hz}, kRate);
        return [=](long i) { return i >= from && i < to ? sine(i) : std::vector<double>{0.0}; };
    }

    // Two seconds of 16-bit mono at 11025 Hz without a header.
    QString rawTone() {
        return write(QStringLiteral("raw.pcm"),
                     test::rawSamples(11025 * 4, test::sines({1500.0}, 11025)));
    }
    // A dialog script: the data read as stereo (Type is free for data without a header).
    static void readAsStereo(QDialog& d) {
        auto* stereo = d.findChild<QRadioButton*>(controlName(TYPE_STEREO));
        ASSERT_NE(stereo, nullptr);
        ASSERT_TRUE(stereo->isEnabled());
        stereo->click();
        ScriptedPrompts::pressOk(d);
    }
    // A resize, and the repeated analysis it asks for.
    void shrinkWindow() {
        window->resize(window->width(), window->height() - 60);
        QCoreApplication::processEvents();
        window->commands().drain();
    }

    // F1 with the file chosen in the open dialog.
    void analyze(const QString& path) {
        prompts->queueFile(path);
        QTest::keyClick(window.get(), Qt::Key_F1);
    }
    // The same, and whether it gave a picture.
    bool analyzed(const QString& path) {
        analyze(path);
        return static_cast<bool>(window->state().held.spectralImage);
    }

    // The palette index of display row r of the band whose bottom is at `bandBottom`.
    int indexAt(int x, int row, int bandBottom) { return *image().pixel(x, bandBottom - 1 - row); }

    int rows() { return run().plotHeight - run().stripHeight; }

    // The row a frequency falls on for the linear band of the settings.
    int rowOf(double hz) {
        const AppSettings& st = settings();
        return static_cast<int>((hz - st.lowBandHz) * rows() / (st.highBandHz - st.lowBandHz));
    }

    // The brightest row of column x in the band.
    int brightestRow(int x, int bandBottom) {
        int best = 0;
        for (int r = 1; r < rows(); ++r) {
            if (indexAt(x, r, bandBottom) > indexAt(x, best, bandBottom)) {
                best = r;
            }
        }
        return best;
    }

    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    std::unique_ptr<MainWindow> window;
    int plays = 0;
};

} // namespace korv::test
