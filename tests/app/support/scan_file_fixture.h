#pragma once
// The Scan File tests' window: the real window offscreen with the simulated output on the
// virtual clock, generated wave files scanned with F2, and what the window, the kept image and
// the plot show.

#include "analysis/frequency_scale.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "audio/playback_messages.h"
#include "counting_output.h"
#include "dialog_controls.h"
#include "dialogs/control_ids.h"
#include "dialogs/scope_markers_dialog.h"
#include "display/pitch_display.h"
#include "modes/play.h"
#include "modes/plot_display.h"
#include "modes/scan_file.h"
#include "output/image_files.h"
#include "platform/allocations.h"
#include "platform/commands.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"
#include "platform/sound_simulated.h"
#include "platform_scopes.h"
#include "prompt_checks.h"
#include "scan_window_fixture.h"
#include "settings/settings_inputs.h"
#include "shell/modes.h"
#include "sound_file_copy.h"
#include "temp_dir.h"
#include "test_signals.h"
#include "window_setup.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>

namespace korv::test {

inline constexpr int kRate = 8000;

class ScanFileTest : public ScanWindowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        MainWindowOptions o = test::virtualClockOptions(dir, clock);
        o.makeSoundOutput = countingOutputs(clock, failNewDevice, output);
        openScanWindow(o, kRate);
        window->state().settings.analysisAtStop = false;
        window->state().settings.channel = StereoChannel::Dual;
    }

    // Writes the file and scans it with F2; returns the virtual msec the scan took.
    std::int64_t scan(const QByteArray& file) {
        const QString path = dir.write(QStringLiteral("scan.wav"), file);
        EXPECT_FALSE(path.isEmpty());
        prompts->queueFile(path);
        const std::int64_t start = clock.currentMs();
        QTest::keyClick(window.get(), Qt::Key_F2);
        return clock.currentMs() - start;
    }
    // A mono file of a 1 kHz sine.
    static QByteArray tone(long frames, int bits = 16) {
        return test::waveFile(kRate, 1, bits, frames, test::sines({1000.0}, kRate));
    }
    void stopAt(std::int64_t afterMs) {
        at(clock.currentMs() + afterMs, [this] { window->commands().post(cmd::kStop, 0); });
    }
    // The menus and devices of an ended scan, and the allocations still open when given.
    void expectIdle(int allocations = -1) const {
        expectScanEnded(allocations);
        EXPECT_FALSE(window->state().view.modeHoldsSurfaces);
        EXPECT_TRUE(window->menu().enabled(cmd::kAnalyzeFile));
        ASSERT_NE(windowPlayback(*window), nullptr);
        EXPECT_FALSE(windowPlayback(*window)->active());
    }
    QRgb colourOf(std::uint8_t index) {
        return window->state().view.display.colour(index) & 0xffffffu;
    }
    int rows() const {
        return window->state().view.layout.plotHeight - window->state().view.layout.topBand;
    }
    // The y of a frequency in the scroll pane of 0 .. topHz.
    int rowY(double hz, double topHz = 4000.0) const {
        return window->state().view.layout.plotHeight - 1 -
               static_cast<int>(std::lround(hz * rows() / topHz));
    }
    // The lines of the spectrum log written now.
    QStringList logged() {
        const QString path = dir.file(QStringLiteral("spectrum.txt"));
        QFile::remove(path);
        prompts->queueFile(path);
        window->commands().send(cmd::kLogSpectrum, 0);
        return QString::fromLatin1(test::TempDir::read(path)).split(QStringLiteral("\r\n"));
    }
    // The levels of the Linear lines of a spectrum log, bin k at index k.
    static std::vector<double> loggedLevels(const QStringList& lines) {
        std::vector<double> v;
        for (int k = 0; k < 512 && 8 + k < lines.size(); ++k) {
            v.push_back(lines[8 + k].split(' ', Qt::SkipEmptyParts).value(2).toDouble());
        }
        EXPECT_EQ(v.size(), 512u);
        v.resize(512);
        return v;
    }
    const IndexedSurface& kept() { return window->state().held.spectralImage->surface(); }

    // A plot scan of `seconds` of the signal (mono, or stereo for two frequencies).
    void scanPlot(DisplayType display, PlotType plotType, std::vector<double> hz,
                  long seconds = 3) {
        AppSettings& st = window->state().settings;
        st.displayType = display;
        st.plotType = plotType;
        st.channel = StereoChannel::Left;
        st.averageCountPlot = 1;
        const int channels = static_cast<int>(hz.size());
        scan(test::waveFile(kRate, channels, 16, kRate * seconds, test::sines(hz, kRate)));
    }
    const IndexedSurface& plot() { return *window->state().view.plotImage; }
    int plotLeft() {
        const PlotLayout& l = window->state().view.layout;
        return std::max((l.plotWidth - 2 * l.plotColumnCount) / 2, 9 * l.charWidth / 2);
    }
    // The height of a difference of nothing in the delta plots.
    int midHeight() {
        return baseline() - static_cast<int>(120 * scanPlotView(*window)->geometry().unitScale);
    }
    int baseline() {
        return window->state().view.layout.plotHeight - 2 * window->state().view.layout.charHeight;
    }
    // The x of a frequency's point on the linear band of the settings.
    int pointX(double hz) {
        const AppSettings& st = window->state().settings;
        const int points = window->state().view.layout.plotColumnCount;
        return plotLeft() + 2 * static_cast<int>(std::lround((hz - st.lowBandHz) * points /
                                                             (st.highBandHz - st.lowBandHz)));
    }
    // The topmost pixel of colour `index` in the plot area, or in its column `only`: its x and
    // y; x -1 and the baseline when none.
    std::pair<int, int> highest(int index, int only = -1) {
        const PlotLayout& l = window->state().view.layout;
        for (int y = l.charHeight; y < baseline(); ++y) {
            for (int x = std::max(only, 0); x < (only < 0 ? l.plotWidth : only + 1); ++x) {
                if (*plot().pixel(x, y) == index) {
                    return {x, y};
                }
            }
        }
        return {-1, baseline()};
    }
    // A click on the drawing area, the point spectrum dialog (its title kept) answered OK or
    // Cancel.
    void click(QPoint at, bool ok = true) {
        prompts->queueDialog([this, ok](QDialog& d) {
            dialogTitle = d.windowTitle();
            ok ? ScriptedPrompts::pressOk(d) : ScriptedPrompts::pressCancel(d);
        });
        QTest::mouseClick(window->drawingArea(), Qt::LeftButton, {}, at);
    }
    void calibrate(float db) {
        for (CalibrationPoint& p : window->state().settings.calibrationTable) {
            p.correctionDb = db;
        }
    }
    // How many pixels of `r` in the picture have colour `index`.
    static int countIn(const IndexedSurface& picture, const PixelRect& r, int index) {
        int n = 0;
        for (int y = r.y; y < r.bottom(); ++y) {
            for (int x = r.x; x < r.right(); ++x) {
                n += *picture.pixel(x, y) == index ? 1 : 0;
            }
        }
        return n;
    }

    CountingOutput* output = nullptr;
    QString dialogTitle;
};

} // namespace korv::test
