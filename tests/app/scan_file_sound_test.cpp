// Scan File's sound and the times of its picture, in the real window offscreen with the
// simulated output on the virtual clock: every frame the device plays is the file's own, at
// any time scale, to the last one; the kept image is labelled with the file's times.

#include "app/current_view.h"
#include "app/playback.h"
#include "display/readouts.h"
#include "support/scan_file_fixture.h"

#include <cstdlib>
#include <string>

namespace korv {
namespace {

// The Scan File window; the tests pass its end notes over.
using ScanFileSoundTest = test::ScanFileTest;

// Sample i of the counting file: its index modulo 65536, so a frame from the wrong pass of the
// loop buffer (32768 frames a half) never matches.
std::int16_t countingSample(long i) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(i & 0xFFFF));
}

TEST_F(ScanFileSoundTest, EveryFramePlayedIsTheFilesOwnAtLongTimeScalesToTheLastOne) {
    window->state().control.notesSuppressed = true;
    constexpr int kRate = 44100;
    constexpr long kFrames = kRate * 12 + 1234;
    const QByteArray file = test::waveFile(kRate, 1, 16, kFrames, [](long i) {
        return std::vector<double>{static_cast<double>(countingSample(i))};
    });
    // The pitch detector's window of 16384 frames at the longest step its dialog allows; a
    // 16384-point FFT at a command-line span's step; a device that takes its frames early.
    for (const auto& [pitch, log2Fft, msecPerColumn, latencyMs] :
         {std::tuple{true, 10, 500.0f, 0}, {false, 14, 720.0f, 0}, {true, 10, 480.0f, 35}}) {
        SCOPED_TRACE(::testing::Message() << msecPerColumn << " msec a column");
        const std::size_t before = output != nullptr ? output->played().size() : 0;
        if (output != nullptr) {
            output->device.setLatencyMs(latencyMs);
        }
        AppSettings& st = window->state().settings;
        test::scanSettings(st, kRate);
        st.pitchDetector = pitch;
        st.log2FftSize = log2Fft;
        st.timeScaleMsecSaved = msecPerColumn;
        scan(file);
        ASSERT_NE(output, nullptr);
        EXPECT_TRUE(lastScanFile(*window).endReached);
        EXPECT_EQ(lastScanFile(*window).fileBytesRead, kFrames * 2);
        // What the device played, frame for frame against the file, up to its last frame, then
        // silence to the end of the loop buffer's last pass.
        test::expectHeard(std::span(output->played()).subspan(before),
                          test::bytesOf(file).subspan(44), 0, 3 * (65536 * 2 + 8));
        EXPECT_FALSE(windowPlayback(*window)->active());
        EXPECT_EQ(openAllocations(), 1); // the kept image alone
    }
}

TEST_F(ScanFileSoundTest, TheKeptImageOfALongFileIsLabelledWithTheFilesOwnTimes) {
    window->state().control.notesSuppressed = true;
    constexpr int kRate = test::kRate; // the fixture's
    constexpr long kSeconds = 14;
    // Silence, then a 1 kHz tone from 11 s to the end: the kept last screenful shows its onset.
    constexpr double kOnsetMs = 11000.0;
    const auto tone = test::sines({1000.0}, kRate);
    scan(test::waveFile(kRate, 1, 16, kRate * kSeconds, [&](long i) {
        return i >= static_cast<long>(kOnsetMs) * kRate / 1000 ? tone(i) : std::vector<double>{0.0};
    }));
    ASSERT_TRUE(lastScanFile(*window).endReached);
    const AppState& s = window->state();
    ASSERT_TRUE(s.held.spectralImage);
    const int width = s.view.layout.plotWidth;
    ASSERT_GT(lastScanFile(*window).columnsDrawn, width + 100) << "the image has scrolled";
    const int toneRow = (s.view.layout.plotHeight - s.view.layout.topBand) / 4;
    int onset = 0;
    while (onset < width && std::abs(test::loudestRow(window->state(), onset) - toneRow) > 2) {
        ++onset;
    }
    ASSERT_LT(onset, width);
    const ViewGeometry g = currentViewGeometry(window->state());
    const double frameMsec = 1024 * 1000.0 / kRate;
    ReadoutPoint p{.inside = true, .absoluteColumn = onset, .y = s.view.layout.plotHeight / 2};
    EXPECT_NEAR(std::stod(readoutTexts(g, {}, p).time), kOnsetMs - frameMsec / 2, frameMsec);
    // The last column holds the end of the file.
    p.absoluteColumn = width - 1;
    EXPECT_NEAR(std::stod(readoutTexts(g, {}, p).time), kSeconds * 1000.0 - frameMsec / 2,
                frameMsec + 2 * g.columnMsec);
}

TEST_F(ScanFileSoundTest, TheKeptImageOfAShortFileTimesEachColumnByTheFramesItAnalysed) {
    window->state().control.notesSuppressed = true;
    constexpr int kRate = test::kRate; // the fixture's, with a 1024-point FFT
    constexpr long kClickFrame = kRate * 3 / 2;
    const QByteArray file = test::waveFile(kRate, 1, 16, kRate * 3, [](long i) {
        return std::vector<double>{i == kClickFrame ? 30000.0 : 0.0};
    });
    // A device that plays at once, one that is heard only 1.86 s after its start, and one that
    // plays its first 2085 frames and then stands still for 1.5 s, as sound servers may.
    for (const auto& [startDelayMs, stallMs] : {std::pair{0, 0}, {1860, 0}, {0, 1500}}) {
        SCOPED_TRACE(::testing::Message()
                     << "start delay " << startDelayMs << ", stall " << stallMs);
        if (output != nullptr) {
            output->device.setStartDelayMs(startDelayMs);
            output->device.setStall(2085, stallMs);
        }
        scan(file);
        ASSERT_TRUE(lastScanFile(*window).endReached);
        const AppState& s = window->state();
        ASSERT_TRUE(s.held.spectralImage);
        const PlotLayout& l = s.view.layout;
        const long drawn = lastScanFile(*window).columnsDrawn;
        ASSERT_LT(drawn, l.plotWidth) << "the image has not scrolled";
        // The click is loudest in the column whose window it is the middle of.
        int loudest = 0;
        long most = -1;
        for (int x = 0; x < drawn; ++x) {
            long sum = 0;
            for (int y = l.topBand + 1; y < l.plotHeight; ++y) {
                sum += *kept().pixel(x, y);
            }
            if (sum > most) {
                most = sum;
                loudest = x;
            }
        }
        const ViewGeometry g = currentViewGeometry(s);
        ReadoutPoint p{.inside = true, .absoluteColumn = loudest, .y = l.plotHeight / 2};
        EXPECT_NEAR(std::stod(readoutTexts(g, {}, p).time), 1500.0, 15.0);
        // The columns came one per 10 msec of the file's sound.
        EXPECT_NEAR(s.settings.timeScaleMsec, 10.0, 0.3);
        EXPECT_NEAR(g.columnMsec, 10.0, 0.3);
    }
}

TEST_F(ScanFileSoundTest, AClickTrainScrolledPastTheFullPaneIsFoundAtItsTimesInEveryPane) {
    window->state().control.notesSuppressed = true;
    constexpr int kRate = test::kRate; // the fixture's, with a 1024-point FFT
    constexpr long kSpacing = kRate * 251 / 1000;
    const auto isClick = [](long i) { return i >= kRate / 4 && (i - kRate / 4) % kSpacing == 0; };
    const PlotLayout& l = window->state().view.layout;
    for (const int channels : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << channels << " channels");
        // The panes' columns, and those the last screenful needs beyond them: the picture kept
        // holds the moment the panes began to move, about 2.5 s from its right edge.
        const int paneColumns =
            channels == 1 ? l.plotWidth
                          : std::min(l.plotWidth / 2 - 3, l.plotWidth - l.plotWidth / 2 - 4);
        const long frames = (paneColumns + 250L) * kRate / 100;
        scan(test::waveFile(kRate, channels, 16, frames, [&](long i) {
            return std::vector<double>(static_cast<std::size_t>(channels),
                                       isClick(i) ? 30000.0 : 0.0);
        }));
        ASSERT_TRUE(lastScanFile(*window).endReached);
        const long drawn = lastScanFile(*window).columnsDrawn;
        ASSERT_GT(drawn, paneColumns + 150);
        ASSERT_LT(drawn, paneColumns + 350);
        const AppState& s = window->state();
        ASSERT_TRUE(s.held.spectralImage);
        const ViewGeometry g = currentViewGeometry(s);
        ASSERT_NEAR(g.columnMsec, 10.0, 0.3);
        // Each pane: its left edge in the view and the band of its channel in the image.
        std::vector<std::pair<int, int>> panes{{0, 0}};
        if (channels == 2) {
            panes = {{0, l.plotHeight}, {dualRightPaneX(l.plotWidth), 0}};
        }
        for (const auto& [left, bandTop] : panes) {
            SCOPED_TRACE(::testing::Message() << "pane at " << left);
            // The columns' loudness; the last four may be the group not yet drawn over.
            const int columns = paneColumns - 4;
            std::vector<long> sums(static_cast<std::size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                for (int y = l.topBand + 1; y < l.plotHeight; ++y) {
                    sums[static_cast<std::size_t>(c)] += *kept().pixel(left + c, bandTop + y);
                }
            }
            const auto [quietest, loudest] = std::minmax_element(sums.begin(), sums.end());
            const long threshold = (*quietest + *loudest) / 2;
            // Each click lights a run of columns, loudest where it is the middle of the
            // window: that column's time is the click's within a column.
            int found = 0;
            for (int c = 0; c < columns;) {
                if (sums[static_cast<std::size_t>(c)] <= threshold) {
                    ++c;
                    continue;
                }
                const int from = c;
                while (c < columns && sums[static_cast<std::size_t>(c)] > threshold) {
                    ++c;
                }
                if (from == 0 || c == columns) {
                    continue; // cut by an edge
                }
                const int peak = static_cast<int>(
                    std::max_element(sums.begin() + from, sums.begin() + c) - sums.begin());
                const double msec = g.columnTimeMsec(peak);
                const double nearest =
                    (std::round((msec / 1000.0 * kRate - kRate / 4.0) / kSpacing) * kSpacing +
                     kRate / 4.0) *
                    1000.0 / kRate;
                EXPECT_NEAR(msec, nearest, g.columnMsec) << "column " << peak;
                ++found;
            }
            // Every click of the screenful, none lost.
            EXPECT_NEAR(found, columns * g.columnMsec * kRate / 1000.0 / kSpacing, 2.0);
        }
    }
}

} // namespace
} // namespace korv
