// PLAY, PLAY WDW and STOP in the real window offscreen: a generated wave file analysed with
// F1, then played on the simulated output and the virtual clock. The bytes the device heard
// are compared with the file's own samples; the window is looked at from inside the play loop.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/main_window.h"
#include "dialogs/control_ids.h"
#include "modes/play.h"
#include "platform/allocations.h"
#include "platform/commands.h"
#include "platform/sound_simulated.h"
#include "shell/modes.h"
#include "support/counting_output.h"
#include "support/platform_scopes.h"
#include "support/temp_dir.h"
#include "support/test_signals.h"
#include "support/window_setup.h"

#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <ranges>
#include <span>
#include <vector>

namespace korv {
namespace {

constexpr int kWaveHeaderBytes = 44; // test::waveFile writes the plain header

// A tone (so the image has something to show) with noise on it (so no two stretches of the
// sound have the same bytes).
test::FrameSignal toneWithNoise(int channels, double rate) {
    return [channels, rate](long frame) {
        std::vector<double> v;
        for (int c = 0; c < channels; ++c) {
            auto h =
                static_cast<std::uint32_t>(frame) * 2654435761U + static_cast<std::uint32_t>(c);
            h ^= h >> 15;
            h *= 2246822519U;
            h ^= h >> 13;
            const double noise = static_cast<double>(h % 6001U) - 3000.0;
            v.push_back(12000.0 * std::sin(2.0 * std::numbers::pi * (1000.0 + 1500.0 * c) *
                                           static_cast<double>(frame) / rate) +
                        noise);
        }
        return v;
    };
}

class PlayWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.valid()); }

    // The window on the virtual clock, started on `arguments`; `beforeStart` sets it up first.
    void startUp(const QStringList& arguments = {},
                 const std::function<void(MainWindow&)>& beforeStart = {}) {
        MainWindowOptions o = test::virtualClockOptions(dir, clock);
        o.makeSoundOutput = test::countingOutputs(clock, failNewDevice, output);
        window = test::openWindow(o, arguments, beforeStart);
    }

    AppSettings& settings() { return window->state().settings; }
    const IndexedSurface& image() { return window->state().held.spectralImage->surface(); }

    // Writes the file and analyses it with F1; returns the file's sample bytes.
    QByteArray analyze(const QString& name, int rate, int channels, int bits, long frames) {
        const QByteArray file =
            test::waveFile(rate, channels, bits, frames, toneWithNoise(channels, rate));
        prompts->queueFile(dir.write(name, file));
        QTest::keyClick(window.get(), Qt::Key_F1);
        EXPECT_TRUE(window->state().held.spectralImage);
        return file.mid(kWaveHeaderBytes);
    }

    // The colour the window shows and the colour of an image pixel.
    QRgb shown(int x, int y) const { return *window->surface().pixel(x, y); }
    QRgb colourOf(std::uint8_t index) const {
        return window->surface().palette().colour(index) & 0xFFFFFFU;
    }
    // Whether `rowOk` holds for every row of the plot.
    bool allRows(const std::function<bool(int)>& rowOk) const {
        return std::ranges::all_of(std::views::iota(0, window->state().view.layout.plotHeight),
                                   rowOk);
    }
    // Whether view column viewX shows image column imageX of the band starting at bandTop.
    bool showsImageColumn(int viewX, int imageX, int bandTop) {
        return allRows([&](int y) {
            return shown(viewX, y) == colourOf(*image().pixel(imageX, bandTop + y));
        });
    }
    bool columnAll(int viewX, std::uint8_t index) const {
        return allRows([&](int y) { return shown(viewX, y) == colourOf(index); });
    }
    bool imageColumnAll(int imageX, int bandTop, std::uint8_t index) {
        return allRows([&](int y) { return *image().pixel(imageX, bandTop + y) == index; });
    }

    // The buttons and menu once the sound has ended.
    void expectIdleAfterPlaying() const {
        const AppState& s = window->state();
        EXPECT_FALSE(window->button(cmd::kStop)->isEnabled());
        EXPECT_TRUE(window->button(cmd::kPlayWindow)->isEnabled());
        EXPECT_TRUE(window->button(cmd::kGrid)->isEnabled());
        const int visible =
            dualStereoView(s.settings) ? s.view.layout.plotWidth / 2 - 3 : s.view.layout.plotWidth;
        // The analysed columns count, not the blank rest of a picture as wide as the screen.
        EXPECT_EQ(window->button(cmd::kPlay)->isEnabled(), s.analysis.run.params.columns > visible);
        EXPECT_TRUE(window->menu().enabled(cmd::kAnalyzeFile));
        EXPECT_TRUE(window->menu().enabled(cmd::kExit));
        EXPECT_FALSE(s.control.modeRunning);
        EXPECT_TRUE(s.control.idleForKeys);
        EXPECT_FALSE(s.view.playbackActive);
        EXPECT_FALSE(s.view.modeHoldsSurfaces);
        ASSERT_NE(output, nullptr);
        EXPECT_FALSE(output->isOpen());
    }

    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    VirtualClock clock;
    test::CountingOutput* output = nullptr; // made by the window at the first PLAY
    SimulatedFailure failNewDevice = SimulatedFailure::None;
    std::unique_ptr<MainWindow> window;
};

// A device that fails gives the message and frees everything; once it works again, PLAY gives
// it the held samples in every format.
TEST_F(PlayWindowTest, ADeviceThatFailsGivesTheMessageAndOneThatWorksTheHeldSamplesInEveryFormat) {
    startUp();
    settings().highBandHz = 5000; // within half of every rate here: no warning
    analyze(QStringLiteral("fail.wav"), 22050, 1, 16, 22050);
    window->surface().updateNow();
    const PixelRect plotArea{0, 0, window->state().view.layout.plotWidth,
                             window->state().view.layout.plotHeight};
    const QImage picture = window->surface().copyRect(plotArea);
    for (const SimulatedFailure failure :
         {SimulatedFailure::Open, SimulatedFailure::Prepare, SimulatedFailure::Write}) {
        for (const int command : {cmd::kPlay, cmd::kPlayWindow}) {
            SCOPED_TRACE(::testing::Message() << static_cast<int>(failure) << " " << command);
            // The first PLAY makes the device, already failing.
            failNewDevice = failure;
            if (output != nullptr) {
                output->device.failAt(failure);
            }
            const int before = openAllocations();
            prompts->clearMessages();
            window->commands().send(command, 0);
            ASSERT_NE(output, nullptr);
            ASSERT_EQ(prompts->messages().size(), 1U);
            // No device (no sound card) is told apart from a device refusing the stretch.
            EXPECT_EQ(prompts->messages()[0].text, failure == SimulatedFailure::Open
                                                       ? "Cannot Open Audio Device"
                                                       : "Drag Select a Smaller Time Segment");
            EXPECT_EQ(prompts->messages()[0].icon, MessageIcon::Stop);
            EXPECT_TRUE(output->played().empty());
            EXPECT_EQ(openAllocations(), before);
            expectIdleAfterPlaying();
            // The picture is not left blank: whatever was drawn over it is put back.
            window->surface().updateNow();
            EXPECT_EQ(window->surface().copyRect(plotArea), picture);
        }
    }
    output->device.failAt(SimulatedFailure::None);
    prompts->clearMessages();
    // Rate, channels, bits and msec of sound (shorter than the two-second buffer, or over two
    // of them); held, and read from the file as the sound goes when the segment is over the
    // holding limit (negative msec).
    for (const auto& [rate, channels, bits, signedMs] : {std::tuple{22050, 1, 16, 1500},
                                                         {22050, 2, 16, 5000},
                                                         {11025, 1, 8, 1500},
                                                         {11025, 2, 8, 300},
                                                         {22050, 2, 16, -5000},
                                                         {11025, 1, 8, -1500}}) {
        const bool fromFile = signedMs < 0;
        const int ms = std::abs(signedMs);
        SCOPED_TRACE(::testing::Message() << rate << " Hz, " << channels << " ch, " << bits
                                          << (fromFile ? ", from the file" : ""));
        window->state().analysis.holdLimitBytes = fromFile ? 1024 : HELD_SEGMENT_LIMIT_BYTES;
        const QByteArray held = analyze(QStringLiteral("play.wav"), rate, channels, bits,
                                        static_cast<long>(rate) * ms / 1000);
        ASSERT_EQ(window->state().held.samples.has_value(), !fromFile);
        ASSERT_EQ(window->state().held.fileSegment.has_value(), fromFile);
        const int before = openAllocations();
        const std::size_t heardBefore = output != nullptr ? output->played().size() : 0;
        const std::int64_t startMs = clock.currentMs();

        window->commands().send(cmd::kPlay, 0);

        ASSERT_NE(output, nullptr);
        const int frameBytes = channels * bits / 8;
        const auto perMs = static_cast<std::size_t>(rate * frameBytes / 1000 + frameBytes);
        test::expectHeard(std::span(output->played()).subspan(heardBefore), test::bytesOf(held),
                          bits == 8 ? 128 : 0, 2 * perMs);
        // The sound took its own time on the clock, however many loops of the buffer it filled.
        EXPECT_NEAR(static_cast<double>(clock.currentMs() - startMs), ms, 10.0);
        const PcmFormat& f = output->device.format();
        EXPECT_EQ(std::tuple(f.sampleRate, f.channels, f.bitsPerSample),
                  std::tuple(rate, channels, bits));
        EXPECT_TRUE(prompts->messages().empty());
        expectIdleAfterPlaying();
        EXPECT_EQ(openAllocations(), before);
    }
}

TEST_F(PlayWindowTest, PlayBlanksThenUncoversBothDualPanesAndPagesWithTheSound) {
    startUp();
    settings().channel = StereoChannel::Dual;
    settings().timeScaleMsecSaved = 4.0f;
    // 3 s at 4 ms per column: 750 columns, more than one pane.
    analyze(QStringLiteral("dual.wav"), 22050, 2, 16, 22050 * 3);
    const PlotLayout& l = window->state().view.layout;
    const int pane = l.plotWidth / 2 - 3;
    const int rightX = l.plotWidth / 2 + 4;
    const int lower = image().height() / 2; // the left channel's band
    ASSERT_LT(pane, 700);
    // The pointer over an uncovered column: the readouts show the time played, and only that
    // changes while the view has not paged.
    QTest::mouseMove(window->drawingArea(), QPoint(10, l.plotHeight - 40));
    const PixelRect readouts = currentViewGeometry(window->state()).readoutBox;
    QImage readoutsAt100;

    // The column heard ms into the file: a column stands at the centre of its 1024-sample
    // window, 88 frames (3.99 ms) a column.
    const auto columnAt = [](double ms) {
        return static_cast<int>((ms - 512 * 1000.0 / 22050) / (88 * 1000.0 / 22050));
    };
    test::probeAt(*window,
                  {{101, [&] { readoutsAt100 = window->surface().copyRect(readouts); }},
                   {201,
                    [&] {
                        // About 200 ms in: columns up to about 44 are uncovered in both panes, the
                        // rest of each pane is blank.
                        // The readouts show the time played.
                        EXPECT_NEAR(window->state().view.timeNowMsec, 200.0, 30.0);
                        // Every column the sound reached, none skipped.
                        for (int x = 0; x <= columnAt(200.0) - 5; ++x) {
                            EXPECT_TRUE(showsImageColumn(x, x, lower)) << x;
                            EXPECT_TRUE(showsImageColumn(rightX + x, x, 0)) << x;
                        }
                        for (const int x : {60, pane - 5}) {
                            ASSERT_FALSE(imageColumnAll(x, lower, kBackgroundIndex));
                            EXPECT_TRUE(columnAll(x, kBackgroundIndex)) << x;
                            EXPECT_TRUE(columnAll(rightX + x, kBackgroundIndex)) << x;
                        }
                        // Buttons and menu while the sound runs.
                        EXPECT_TRUE(window->button(cmd::kStop)->isEnabled());
                        EXPECT_FALSE(window->button(cmd::kPlay)->isEnabled());
                        EXPECT_FALSE(window->button(cmd::kPlayWindow)->isEnabled());
                        EXPECT_FALSE(window->button(cmd::kGrid)->isEnabled());
                        EXPECT_FALSE(window->menu().enabled(cmd::kAnalyzeFile));
                        EXPECT_FALSE(window->menu().enabled(cmd::kExit));
                    }},
                   {401, [&] { EXPECT_EQ(window->surface().copyRect(readouts), readoutsAt100); }},
                   {1201, [&] { EXPECT_NE(window->surface().copyRect(readouts), readoutsAt100); }},
                   {2501, [&] {
                        // About 2.5 s in: the view has paged, the newest column at the right edge
                        // of each pane.
                        const int pos = window->state().view.scroll.h.pos;
                        EXPECT_NEAR(pos, columnAt(2500.0) - pane, 2);
                        EXPECT_NEAR(window->state().view.timeNowMsec, 2500.0, 30.0);
                        EXPECT_EQ(window->horizontalBar()->value(), pos);
                        for (int x = 0; x < pane - 1; ++x) {
                            EXPECT_TRUE(showsImageColumn(x, pos + x, lower)) << x;
                            EXPECT_TRUE(showsImageColumn(rightX + x, pos + x, 0)) << x;
                        }
                        // The right pane is a column narrower and stops short of the scroll bar.
                        EXPECT_TRUE(showsImageColumn(pane - 1, pos + pane - 1, lower));
                    }}});
    window->commands().send(cmd::kPlay, 0);
    EXPECT_NEAR(window->state().view.scroll.h.pos, columnAt(3000.0) - pane, 3);
    expectIdleAfterPlaying();
    // Afterwards the window shows the image at the last scroll position again.
    window->surface().updateNow();
    const int pos = window->state().view.scroll.h.pos;
    EXPECT_TRUE(showsImageColumn(pane - 1, pos + pane - 1, lower));
}

TEST_F(PlayWindowTest, StopOrCloseDuringPlayReturnsAfterTheCompletionWithEverythingGivenBack) {
    startUp();
    const QByteArray held = analyze(QStringLiteral("stop.wav"), 22050, 1, 16, 22050 * 2);
    const int before = openAllocations();
    bool probed = false;
    test::probeAt(*window, {{301, [&] {
                                 QTest::keyClick(window.get(), Qt::Key_Escape);
                                 // The completion was handled before STOP returned.
                                 ASSERT_NE(output, nullptr);
                                 EXPECT_FALSE(output->isOpen());
                                 EXPECT_FALSE(output->device.isPlaying());
                                 EXPECT_FALSE(window->state().view.playbackActive);
                                 EXPECT_FALSE(window->button(cmd::kStop)->isEnabled());
                                 EXPECT_EQ(openAllocations(), before);
                                 probed = true;
                             }}});
    window->commands().send(cmd::kPlay, 0);
    EXPECT_TRUE(probed);
    // About 300 ms were heard, exactly as held.
    const auto& played = output->played();
    EXPECT_NEAR(static_cast<double>(played.size()), 300.0 * 44.1, 44.1 * 5);
    ASSERT_LE(played.size(), static_cast<std::size_t>(held.size()));
    EXPECT_TRUE(std::ranges::equal(played, test::bytesOf(held).first(played.size())));
    expectIdleAfterPlaying();
    EXPECT_EQ(openAllocations(), before);
    EXPECT_TRUE(window->state().control.stopRequested);

    // The next PLAY starts from the beginning again.
    const std::size_t first = played.size();
    window->commands().send(cmd::kPlay, 0);
    test::expectHeard(std::span(output->played()).subspan(first), test::bytesOf(held), 0, 2 * 46);

    // A close during play only stops it.
    const std::size_t beforeClose = output->played().size();
    test::probeAt(*window, {{101, [&] { window->close(); }}});
    window->commands().send(cmd::kPlay, 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_LT(output->played().size() - beforeClose, 22050U * 2);
    expectIdleAfterPlaying();

    // A resize while the sound runs stops it; the layout and the analysis follow afterwards.
    const int oldHeight = image().height();
    const std::int64_t bytes = window->state().analysis.run.segmentBytes;
    test::probeAt(*window, {{101, [&] {
                                 window->resize(window->width(), window->height() - 60);
                                 QCoreApplication::processEvents();
                             }}});
    window->commands().send(cmd::kPlay, 0);
    QCoreApplication::processEvents();
    window->commands().drain();
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(image().height(), window->state().view.layout.plotHeight);
    EXPECT_LT(image().height(), oldHeight);
    EXPECT_EQ(window->state().analysis.run.segmentBytes, bytes);
    EXPECT_FALSE(window->state().view.layoutPending);
    EXPECT_EQ(prompts->fileRequests().size(), 1U);

    // A close releases everything, a stream buffer still held included: no beep.
    Playback* playback = windowPlayback(*window);
    ASSERT_NE(playback, nullptr);
    ASSERT_FALSE(playback->allocateStreamBuffer(PcmFormat{22050, 1, 16}).empty());
    EXPECT_TRUE(playback->active());
    window->close();
    EXPECT_FALSE(playback->active());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(prompts->beeps(), 0);
    EXPECT_EQ(openAllocations(), 0);
}

TEST_F(PlayWindowTest, PlayWindowPlaysTheVisibleSpanUnderAMarkerInTheDualLayout) {
    startUp();
    settings().channel = StereoChannel::Dual;
    // 10 ms per column: one pane of about 440 columns is over 4 s, more than the 2 s buffer.
    settings().timeScaleMsecSaved = 10.0f;
    const QByteArray held = analyze(QStringLiteral("window.wav"), 22050, 2, 16, 22050 * 7);
    // From the end of the image, one page back.
    window->horizontalBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    const int pos = window->state().view.scroll.h.pos;
    ASSERT_GT(pos, 0);
    const PlotLayout& l = window->state().view.layout;
    const int pane = l.plotWidth / 2 - 3;
    const int lower = image().height() / 2;
    // The axis labels off, so every column away from the marker shows the image alone.
    window->state().view.axesShown = false;
    test::repaint(*window);
    const int before = openAllocations();

    std::vector<int> markers;
    auto findMarker = [&] {
        // The one column of the left pane drawn in Signal 1 from top to bottom; every other
        // column still shows the image.
        int found = -1;
        for (int x = 0; x < pane; ++x) {
            if (columnAll(x, kSignal1Index)) {
                EXPECT_EQ(found, -1) << "a second marker at " << x;
                found = x;
            } else if (x % 16 == 0) {
                EXPECT_TRUE(showsImageColumn(x, pos + x, lower)) << x;
            }
        }
        markers.push_back(found);
    };
    test::probeAt(*window, {{501, findMarker}, {1501, findMarker}, {3001, findMarker}});
    QTest::mouseClick(window->button(cmd::kPlayWindow), Qt::LeftButton);

    // The marker stands on the column whose window is centred on the sound heard: 10 ms
    // columns of 1024-sample windows, the window from the view's left edge.
    ASSERT_EQ(markers.size(), 3U);
    const double centre = 512 * 1000.0 / 22050;
    const double column = 220 * 1000.0 / 22050;
    EXPECT_NEAR(markers[0], (500 - centre) / column, 1);
    EXPECT_NEAR(markers[1], (1500 - centre) / column, 1);
    EXPECT_NEAR(markers[2], (3000 - centre) / column, 1);
    // No scrolling, the view's own scroll position kept.
    EXPECT_EQ(window->state().view.scroll.h.pos, pos);

    // The sound: from the view's left edge (176 interleaved samples of 2 bytes per 4 ms column
    // at 22050 Hz stereo; 440 at 10 ms), until the marker reached the left pane's last column.
    ASSERT_NE(output, nullptr);
    const auto& played = output->played();
    const auto offset = static_cast<qsizetype>(pos) * 440 * 2;
    const int stopColumn = l.plotWidth / 2 - 4;
    EXPECT_NEAR(static_cast<double>(played.size()), (stopColumn * column + centre) * 88.2,
                88.2 * 12);
    ASSERT_LE(static_cast<qsizetype>(played.size()) + offset, held.size());
    EXPECT_TRUE(std::ranges::equal(played, test::bytesOf(held).subspan(offset, played.size())));
    // Loops for one pane of 10 ms columns over the 176408-byte buffer.
    EXPECT_EQ(output->preparedBytes, 176408U);
    EXPECT_EQ(output->preparedLoops, static_cast<int>(pane * 10.0 * 88200.0 / 176408000.0 + 1.0));

    expectIdleAfterPlaying();
    EXPECT_EQ(openAllocations(), before);
    // The marker is gone once the window is repainted.
    window->surface().updateNow();
    EXPECT_TRUE(showsImageColumn(markers[2], pos + markers[2], lower));

    // What was played is no time mark: the spectral image log times every column in the file,
    // from the segment's begin, at the centre of its 1024-sample window (220 frames a column).
    settings().channel = StereoChannel::Left;
    const QString log = dir.file(QStringLiteral("after_play.txt"));
    prompts->queueFile(log);
    window->commands().send(cmd::kLogSpectrum, 0);
    const QList<QByteArray> lines = test::TempDir::read(log).split('\n');
    ASSERT_GT(lines.size(), 200);
    EXPECT_EQ(lines[4].trimmed(), "0 msec Sample Start");
    const auto sampleTime = [](long x) {
        return "Sample Time " +
               QByteArray::number(
                   std::lround(static_cast<double>(x * 220 + 512) * 1000.0 / 22050)) +
               " msec";
    };
    EXPECT_EQ(lines[8].trimmed(), sampleTime(0));
    EXPECT_TRUE(lines.contains(sampleTime(100) + "\r"));
}

TEST_F(PlayWindowTest, TheCommandLineRunPlaysAfterAnalysing) {
    const QByteArray file = test::waveFile(22050, 1, 16, 22050 * 2, toneWithNoise(1, 22050));
    const QString path = dir.write(QStringLiteral("cl.wav"), file);
    // A Log scale left in the settings cannot show the band from 0 the command line asks
    // for: the run goes on, on the Linear scale.
    startUp({"0", "0", "5000", "2", path},
            [](MainWindow& w) { w.state().settings.frequencyScale = FrequencyScale::Log; });
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_TRUE(prompts->messages().empty());
    EXPECT_EQ(settings().frequencyScale, FrequencyScale::Linear);
    EXPECT_EQ(settings().highBandHz, 5000);
    EXPECT_TRUE(prompts->fileRequests().empty());
    EXPECT_TRUE(prompts->dialogsRun().isEmpty());
    // The span of 2 s fills the client width.
    EXPECT_NEAR(static_cast<double>(window->state().analysis.run.params.columns),
                static_cast<double>(window->state().view.layout.clientWidth), 20.0);
    ASSERT_NE(output, nullptr);
    test::expectHeard(output->played(), test::bytesOf(file).subspan(kWaveHeaderBytes), 0, 2 * 46);
    expectIdleAfterPlaying();
}

} // namespace
} // namespace korv
