// Scan File's plot displays in the real window offscreen: the line and bar plots, the peak
// reset, left minus right and third octaves, the point spectrum with its log, and the pitch mark.

#include "support/scan_file_fixture.h"

namespace korv::test {
namespace {

TEST_F(ScanFileTest, LineAndBarPlotsPeakAtTheToneAndTheLevelBarFreqMarkAndRepaintsKeepThem) {
    EXPECT_FALSE(window->menu().enabled(cmd::kFreqMark));
    for (const DisplayType display : {DisplayType::BarPlot, DisplayType::LinePlot}) {
        scanPlot(display, PlotType::Signal, {1000.0});
        const AppState& s = window->state();
        ASSERT_TRUE(s.view.plotImage);
        EXPECT_FALSE(s.held.spectralImage);
        EXPECT_FALSE(noted("140"));
        EXPECT_NEAR(highest(kSignal2Index).first, pointX(1000.0), 1) << static_cast<int>(display);
        expectIdle();
        EXPECT_TRUE(window->button(cmd::kGrid)->isEnabled());
        // A repaint shows the kept plot; a new colour, as the colour dialog sets it, recolours
        // it without a new scan.
        const auto [x, y] = highest(kSignal2Index);
        LevelPalette colours = s.view.activePalette;
        const auto blue = static_cast<std::uint8_t>(display == DisplayType::LinePlot ? 31 : 30);
        colours[kSignal2Entry] = {10, 20, blue};
        window->state().view.display.setLogicalPalette(buildLogicalPalette(colours));
        test::repaint(*window);
        EXPECT_EQ(*window->surface().pixel(x, y) & 0xffffffu, qRgb(10, 20, blue) & 0xffffffu);
    }
    showActivePalette(window->state().view);
    // The level bar one line down lowers the gain: the line plot is drawn again lower.
    const int before = highest(kSignal2Index).second;
    const std::int32_t code = window->state().settings.levelScaleCode;
    window->verticalBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(window->state().settings.levelScaleCode, code + 1);
    EXPECT_GT(highest(kSignal2Index).second, before);
    // Freq Mark sets the markers and the finished plot shows them, in the Text colour: the
    // pitch line has the Freq Mark colour.
    EXPECT_TRUE(window->menu().enabled(cmd::kFreqMark));
    const PixelRect column{pointX(3000.0), baseline() - 10, 1, 10};
    EXPECT_EQ(countIn(plot(), column, kScopeMarkerIndex), 0);
    prompts->queueDialog([](QDialog& d) {
        test::control<QLineEdit>(d, ID_MARKER1_EDIT)->setText("3000");
        ScriptedPrompts::pressOk(d);
    });
    window->commands().send(cmd::kFreqMark, 0);
    EXPECT_EQ(window->state().settings.marker1Hz, 3000);
    EXPECT_EQ(countIn(plot(), column, kScopeMarkerIndex), 10);
    // GRID on draws the crosses over the plot on the window.
    QTest::mouseClick(window->button(cmd::kGrid), Qt::LeftButton);
    EXPECT_TRUE(window->state().view.gridOn);
    // Window Image saves the plot with its labels and crosses as the window shows them.
    window->surface().updateNow();
    prompts->queueDialog([](QDialog& d) {
        d.findChild<QAbstractButton*>(controlName(IMAGE_FORMAT_BITMAP))->click();
        ScriptedPrompts::pressOk(d);
    });
    prompts->queueFile(dir.file(QStringLiteral("plot.bmp")));
    window->commands().send(cmd::kSaveWindowImage);
    const QByteArray bmp = test::TempDir::read(dir.file(QStringLiteral("plot.bmp")));
    const PlotLayout& l = window->state().view.layout;
    const int width = l.plotWidth - l.plotWidth % 4;
    ASSERT_EQ(bmp.size(), 1078 + width * l.plotHeight);
    const QImage shown = window->surface().image().copy(0, 0, width, l.plotHeight);
    EXPECT_EQ(QImage::fromData(bmp, "BMP").convertToFormat(QImage::Format_RGB32), shown);
    // The labels and crosses are there to compare.
    const auto* px = reinterpret_cast<const QRgb*>(shown.constBits());
    EXPECT_GT(std::count_if(px, px + width * l.plotHeight,
                            [this](QRgb c) { return (c & 0xffffffu) == colourOf(kTextIndex); }),
              100);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// The spectrum log of a finished scan of a 5 s file is timed by the last frames analysed (the
// centre of the last window, 64 msec before the end at 1024 points), never after the sound.
TEST_F(ScanFileTest, TheSpectrumLogOfAScanIsTimedByItsLastFrames) {
    scanPlot(DisplayType::LinePlot, PlotType::Signal, {1000.0}, 5);
    ASSERT_TRUE(window->state().view.plotImage);
    const QStringList lines = logged();
    ASSERT_TRUE(lines.value(4).endsWith(QStringLiteral(" msec Event Time")))
        << lines.value(4).toStdString();
    const int msec = lines.value(4).split(' ').value(0).toInt();
    const double lastCentre = 5000.0 - 1024 / 2 * 1000.0 / kRate;
    EXPECT_LE(msec, lastCentre);
    EXPECT_GT(msec, lastCentre - 4.0 * window->state().settings.timeScaleMsec - 50.0);
}

TEST_F(ScanFileTest, PeakResetLeftMinusRightAndThirdOctavePlotsShowTheirTones) {
    // PEAK RESET pressed at 0.8 s and again at 1.6 s of the scan.
    std::vector<bool> held;
    QPushButton* peak = window->button(cmd::kPeakHold);
    const std::int64_t start = clock.currentMs();
    clock.addListener([&](std::int64_t now) {
        if (held.size() < 2 && now >= start + 800 * std::int64_t(held.size() + 1) &&
            window->state().view.scanDrawing) {
            EXPECT_EQ(peak->text(), PEAK_RESET_LABEL);
            EXPECT_TRUE(peak->isEnabled());
            QTest::mouseClick(peak, Qt::LeftButton);
            held.push_back(scanPlotView(*window)->peakHoldOn());
        }
    });
    scanPlot(DisplayType::LinePlot, PlotType::PeakDelta, {1000.0});
    EXPECT_EQ(held, (std::vector<bool>{true, false}));
    // The held peak stood at the tone; the steady tone now differs by nothing from it.
    const std::span<const std::int16_t> peaks = scanPlotView(*window)->peak();
    const auto k = static_cast<std::size_t>((pointX(1000.0) - plotLeft()) / 2);
    EXPECT_EQ(*std::max_element(peaks.begin(), peaks.end()), peaks[k]);
    EXPECT_NEAR(highest(kSignal2Index).second, midHeight(), 3);
    EXPECT_FALSE(peak->isEnabled());

    // Left minus right rises at the left tone and falls at the right.
    scanPlot(DisplayType::BarPlot, PlotType::LrDelta, {1000.0, 2000.0});
    const int mid = midHeight();
    const auto barTop = [this](int x) { return highest(kSignal1Index, x).second; };
    // Second-curve bars stand one pixel right of their points; no first curve is drawn.
    EXPECT_LT(barTop(pointX(1000.0) + 1), mid - 20);
    EXPECT_GT(barTop(pointX(2000.0) + 1), mid + 20);
    EXPECT_EQ(highest(kSignal2Index).first, -1);
    EXPECT_FALSE(peak->isEnabled());

    // The third-octave plot lights the band of the tone.
    window->state().settings.frequencyScale = FrequencyScale::ThirdOctave;
    scanPlot(DisplayType::LinePlot, PlotType::Signal, {1000.0});
    const ScopeView& v = *scanPlotView(*window);
    const auto bands = thirdOctavePoints(kRate, 1024, v.geometry().points);
    ASSERT_TRUE(bands);
    const auto loudest = std::max_element(v.levelDb().begin(), v.levelDb().end());
    const auto point = static_cast<std::size_t>(loudest - v.levelDb().begin());
    EXPECT_EQ(bands->pointBands[point], thirdOctaveBand(1000));

    // Log Spectrum: one row per band, the loudest at the band of the tone.
    QStringList rows = logged();
    EXPECT_EQ(rows.at(3), QStringLiteral("1/3 Octave Frequency Scale"));
    rows = rows.mid(8, bands->lastBand + 1 - bands->firstBand);
    const auto level = [](const QString& row) { return row.mid(14).toDouble(); };
    const auto top = std::max_element(rows.begin(), rows.end(),
                                      [&](auto& a, auto& b) { return level(a) < level(b); });
    EXPECT_EQ(top->left(5).trimmed().toInt(), thirdOctaveBand(1000));
    EXPECT_NEAR(level(*top), *loudest / 4.0 - window->state().settings.levelScaleCode - 90.0,
                0.051);
}

// The point spectrum at a clicked column: no pitch detector there, the spectrum log's
// "Event Time" is the clicked column's time (its window's centre), and each Linear line holds
// its own bin's level: a 1000 Hz sine of amplitude 16000 on bin 128 of 1024 at 8000 Hz.
TEST_F(ScanFileTest, APointSpectrumHasNoPitchLogsTheClickedTimeAndEachBinsLevelAndRestores) {
    window->state().settings.pitchDetector = true;
    calibrate(0.0f);
    prompts->queueFile(dir.write(QStringLiteral("tone.wav"), tone(kRate * 4)));
    QTest::keyClick(window.get(), Qt::Key_F1);
    ASSERT_TRUE(window->state().held.spectralImage);
    const int column = 100;
    const long hop = window->state().analysis.run.params.hop;
    const auto clickedMsec =
        static_cast<long>(static_cast<double>(column * hop + 1024 / 2) * 1000.0 / kRate);
    click({column, window->state().view.layout.plotHeight / 2});
    const PlotLayout& l = window->state().view.layout;
    ASSERT_TRUE(window->state().view.plotImage);
    EXPECT_EQ(
        countIn(plot(), plotPitchLabelBox(l.plotWidth, l.charWidth, l.charHeight), kTextIndex), 0);

    // The log's lines and their bins' frequencies are data_log_test's; here, each line's own
    // level: the loudest at the tone's bin.
    const QStringList lines = logged();
    EXPECT_EQ(lines.value(4), QString::number(clickedMsec) + QStringLiteral(" msec Event Time"));
    const std::vector<double> levels = loggedLevels(lines);
    const auto loudest = std::ranges::max_element(levels);
    EXPECT_EQ(loudest - levels.begin(), 1000 * 1024 / kRate);
    // Half the amplitude under the Hann window, 9 dB of gain, shown as level - 90 dB.
    EXPECT_NEAR(*loudest, 20.0 * std::log10(16000.0 / 2.0) + 9.0 - 90.0, 0.3);

    // A click on the finished plot plots the same moment again, a cross at the point.
    const std::int64_t pointBytes = lastScanFile(*window).pointBytes;
    const PixelPoint at{pointX(2000.0), baseline() - 60};
    EXPECT_EQ(countIn(plot(), {at.x - 12, at.y, 25, 1}, kTextIndex), 0);
    click({at.x, at.y});
    EXPECT_TRUE(prompts->dialogsRun().size() >= 2u);
    EXPECT_EQ(lastScanFile(*window).pointBytes, pointBytes);
    EXPECT_GE(countIn(plot(), {at.x - 12, at.y, 25, 1}, kTextIndex), 24);
    EXPECT_GE(countIn(plot(), {at.x, at.y - 12, 1, 25}, kTextIndex), 24);
    EXPECT_NEAR(highest(kSignal2Index).first, pointX(1000.0), 1);
    EXPECT_TRUE(window->state().settings.pitchDetector);

    // A click near the start plots the point spectrum, and Restore brings the image back.
    window->commands().send(cmd::kParametersRestore, 0);
    ASSERT_TRUE(window->state().held.spectralImage);
    // Eight spectra averaged reach back three windows, before the data's start.
    window->state().settings.averageCountScroll = 8;
    const QPoint nearStart(2, window->state().view.layout.plotHeight / 2);
    click(nearStart);
    EXPECT_EQ(dialogTitle, "Spectrum Plot");
    const AppState& s = window->state();
    // The span ends at the clicked moment and would reach before the data: it starts at 0.
    EXPECT_EQ(lastScanFile(*window).pointStartByte, 0);
    EXPECT_EQ(lastScanFile(*window).pointBytes, s.analysis.pointSpectrumByte);
    EXPECT_TRUE(lastScanFile(*window).endReached);
    EXPECT_TRUE(output == nullptr || output->played().empty()); // no sound
    ASSERT_TRUE(s.view.plotImage);
    EXPECT_FALSE(s.held.spectralImage);
    EXPECT_NEAR(highest(kSignal2Index).first, pointX(1000.0), 1);
    EXPECT_TRUE(window->menu().enabled(cmd::kParametersRestore));
    expectIdle();

    window->commands().send(cmd::kParametersRestore, 0);
    EXPECT_TRUE(s.held.spectralImage);
    EXPECT_FALSE(s.view.plotImage);
    EXPECT_EQ(s.settings.displayType, DisplayType::Scroll);
    // Cancel in dialog 153 goes back to the image at once.
    click(nearStart, false);
    EXPECT_TRUE(s.held.spectralImage);
    EXPECT_FALSE(s.analysis.scanRestoreAvailable);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

TEST_F(ScanFileTest, ThePitchOfA440HzToneIsMarkedAndLabelledInTheScrollAndThePlot) {
    AppSettings& st = window->state().settings;
    st.pitchDetector = true;
    st.channel = StereoChannel::Left;
    const AppState& s = window->state();
    const PlotLayout& l = s.view.layout;
    // The note's text in its box on the window while the scan runs.
    int labelPixels = 0;
    at(clock.currentMs() + 4000, [&] {
        const PixelRect box =
            scrollPitchLabelBox(l.plotWidth, l.topBand, l.charWidth, l.charHeight, false);
        for (int y = box.y; y < box.bottom(); ++y) {
            for (int x = box.x; x < box.right(); ++x) {
                labelPixels += window->surface().pixel(x, y).value_or(0) == colourOf(kTextIndex);
            }
        }
    });
    scan(test::waveFile(kRate, 1, 16, kRate * 5, test::sines({440.0}, kRate)));
    ASSERT_TRUE(s.held.spectralImage);
    EXPECT_GT(labelPixels, 10);
    // The dot at 440 Hz in the columns of the steady tone.
    EXPECT_GE(countIn(kept(), {l.plotWidth / 2, rowY(440.0) - 1, 4, 3}, kFreqMarkIndex), 3);

    // The bar plot (not drawn again at the end): the pitch line at 440 Hz and the label.
    scanPlot(DisplayType::BarPlot, PlotType::Signal, {440.0}, 5);
    EXPECT_GE(countIn(plot(), {pointX(440.0) - 1, baseline() - 40, 3, 30}, kFreqMarkIndex), 30);
    EXPECT_GT(
        countIn(plot(), plotPitchLabelBox(l.plotWidth, l.charWidth, l.charHeight), kTextIndex), 10);

    // A 2 kHz tone is above what the detector follows: no dot and no note, in the Scroll display
    // and in the plot, rather than the D of two of its periods.
    st.displayType = DisplayType::Scroll;
    scan(test::waveFile(kRate, 1, 16, kRate * 3, test::sines({2000.0}, kRate)));
    ASSERT_TRUE(s.held.spectralImage);
    EXPECT_EQ(countIn(kept(), {0, 0, kept().width(), l.plotHeight}, kFreqMarkIndex), 0);
    EXPECT_EQ(countIn(kept(),
                      scrollPitchLabelBox(l.plotWidth, l.topBand, l.charWidth, l.charHeight, false),
                      kTextIndex),
              0);
    scanPlot(DisplayType::BarPlot, PlotType::Signal, {2000.0}, 3);
    EXPECT_EQ(countIn(plot(), {0, 0, l.plotWidth, baseline()}, kFreqMarkIndex), 0);
    EXPECT_EQ(
        countIn(plot(), plotPitchLabelBox(l.plotWidth, l.charWidth, l.charHeight), kTextIndex), 0);

    // The same dot for files at the highest rates, where the detector's span outgrows 16384
    // frames; 2 s of columns fill the pane from the left.
    for (const int rate : {352800, 384000}) {
        test::scanSettings(st, rate);
        st.pitchDetector = true;
        st.highBandHz = 2000;
        scan(test::waveFile(rate, 1, 16, rate * 2, test::sines({440.0}, rate)));
        EXPECT_GE(countIn(kept(), {100, rowY(440.0, 2000.0) - 1, 4, 3}, kFreqMarkIndex), 3) << rate;
    }
}

} // namespace
} // namespace korv::test
