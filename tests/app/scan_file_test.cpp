// Scan File in the real window offscreen with the Scroll display: generated wave files streamed
// to the simulated output on the virtual clock; what the window, the kept image, the device and
// the allocation count show during and after the scan.

#include "app/current_view.h"
#include "app/sound_level_window.h"
#include "display/info_panel.h"
#include "support/scan_file_fixture.h"

#include <QLabel>

namespace korv::test {
namespace {

TEST_F(ScanFileTest, ColumnsFollowTheClockAToneLightsItsRowInEveryFormatAndTheEndShowsTheNote) {
    const long frames = kRate * 10;
    // A scope marker at 2.5 kHz: while the scan runs, a line across the window at its row in
    // the Text colour, not the pitch line's Freq Mark colour; not in the kept levels. The level
    // legend stays over it at the right edge.
    window->state().settings.marker1Hz = 2500;
    int markerPixels = 0;
    int freqMarkPixels = 0;
    PixelRect legend;
    at(clock.currentMs() + 8000, [&] {
        ASSERT_TRUE(window->state().held.spectralImage);
        const int y = rowY(2500.0);
        legend = viewLegendBox(currentViewGeometry(window->state()), window->controlFont(),
                               currentPictureScales(window->state()));
        ASSERT_TRUE(legend.contains(legend.x, y));
        for (int x = 0; x < legend.x; ++x) {
            const QRgb shown = window->surface().pixel(x, y).value_or(0);
            markerPixels += shown == colourOf(kTextIndex) && *kept().pixel(x, y) != kTextIndex;
            freqMarkPixels += shown == colourOf(kFreqMarkIndex);
        }
    });
    const std::int64_t took = scan(tone(frames));
    const ScanFileResult& r = lastScanFile(*window);
    EXPECT_TRUE(r.endReached);
    EXPECT_TRUE(noted("140"));
    // One column per 10 msec of sound, give or take the steps lost to the start and end.
    EXPECT_NEAR(static_cast<double>(r.columnsDrawn), 1000.0, 10.0);
    EXPECT_GE(took, 10000);
    EXPECT_NEAR(window->state().settings.timeScaleMsec, 10.0, 0.3);
    // Two passes of the loop buffer (131080 bytes) cover the file's 160000.
    EXPECT_EQ(output->preparedLoops, 2);
    // The kept image, scrolled full: the newest columns at the right edge too show 1 kHz of
    // 0 .. 4 kHz.
    const AppState& s = window->state();
    ASSERT_TRUE(s.held.spectralImage);
    for (const int x : {5, s.view.layout.plotWidth / 2, s.view.layout.plotWidth - 3}) {
        EXPECT_NEAR(test::loudestRow(window->state(), x, 0), rows() / 4, 2) << "column " << x;
    }
    EXPECT_GE(markerPixels, legend.x - 1);
    EXPECT_GT(legend.x, s.view.layout.plotWidth * 3 / 4);
    EXPECT_EQ(freqMarkPixels, 0);
    expectIdle(1); // the kept image alone

    // A 24-bit wave file and a FLAC file, once "Advanced Wave Formats Cannot be Processed",
    // are played as the 16-bit samples of their twin, and the tone lights its row.
    const std::vector<std::uint8_t> heard = output->played();
    const QString flac = test::rewritten(dir.write(QStringLiteral("twin.wav"), tone(frames)),
                                         dir.file(QStringLiteral("tone.flac")),
                                         SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1);
    for (const QByteArray& file : {tone(frames, 24), test::TempDir::read(flac)}) {
        scan(file);
        EXPECT_TRUE(prompts->messages().empty());
        EXPECT_TRUE(lastScanFile(*window).endReached);
        // The device keeps what each scan played, one after the other.
        const std::vector<std::uint8_t>& played = output->played();
        ASSERT_EQ(played.size() % heard.size(), 0u);
        EXPECT_TRUE(std::equal(heard.begin(), heard.end(),
                               played.end() - static_cast<std::ptrdiff_t>(heard.size())));
        EXPECT_EQ(lastScanFile(*window).fileBytesRead, frames * 2);
        ASSERT_TRUE(s.held.spectralImage);
        EXPECT_NEAR(test::loudestRow(window->state(), 5, 0), rows() / 4, 2);
        expectIdle();
    }
}

TEST_F(ScanFileTest, DualStereoDrawsTwoPanesOfAsManyColumnsSevenPixelsApartOrMore) {
    scan(test::waveFile(kRate, 2, 16, kRate * 6, test::sines({500.0, 3000.0}, kRate)));
    const AppState& s = window->state();
    ASSERT_TRUE(s.held.spectralImage);
    const int w = s.view.layout.plotWidth;
    ASSERT_GT(lastScanFile(*window).columnsDrawn, w / 2) << "the panes have scrolled";
    const int lowerBand = s.view.layout.plotHeight; // the left channel
    // Left channel in the left pane, right channel in the right pane, as many columns each
    // (the left one may have room for one more, left empty); the gap stays empty.
    const int columns = std::min(w / 2 - 3, w - w / 2 - 4);
    EXPECT_NEAR(test::loudestRow(window->state(), columns - 1, lowerBand), rows() / 8, 2);
    EXPECT_NEAR(test::loudestRow(window->state(), w / 2 + 4, 0), rows() * 3 / 4, 2);
    EXPECT_NEAR(test::loudestRow(window->state(), w - 1, 0), rows() * 3 / 4, 2);
    for (int x = columns; x < w / 2 + 4; ++x) {
        EXPECT_EQ(*kept().pixel(x, lowerBand + s.view.layout.plotHeight - 1 - rows() / 8),
                  kBackgroundIndex);
        EXPECT_EQ(*kept().pixel(x, s.view.layout.plotHeight - 1 - rows() * 3 / 4),
                  kBackgroundIndex);
    }
    expectIdle();
}

TEST_F(ScanFileTest, ThePitchLabelStaysInItsBoxWhileThePictureScrollsAndIsNotKept) {
    AppSettings& st = window->state().settings;
    st.pitchDetector = true;
    st.timeScaleMsecSaved = 2.0f;
    const PlotLayout& l = window->state().view.layout;
    const PixelRect box =
        scrollPitchLabelBox(l.plotWidth, l.topBand, l.charWidth, l.charHeight, false);
    // The Text-coloured pixels of the label's line on the window between two x.
    const auto textPixels = [&](int from, int to) {
        int n = 0;
        for (int y = box.y; y < box.bottom(); ++y) {
            for (int x = from; x < to; ++x) {
                n += window->surface().pixel(x, y).value_or(0) == colourOf(kTextIndex);
            }
        }
        return n;
    };
    // Checked once the picture has scrolled for a second and more: the note in its box, and
    // nothing of it carried along to its left.
    int inBox = 0;
    int beside = -1;
    at(clock.currentMs() + l.plotWidth * 2 + 1500, [&] {
        inBox = textPixels(box.x, box.right());
        beside = textPixels(kFrequencyAxisChars * l.charWidth, box.x);
    });
    scan(test::waveFile(kRate, 1, 16, kRate * 6, test::sines({987.0}, kRate)));
    ASSERT_GT(lastScanFile(*window).columnsDrawn, l.plotWidth + 500);
    EXPECT_GT(inBox, 20);
    EXPECT_EQ(beside, 0);
    // The kept picture holds the levels alone.
    EXPECT_EQ(countIn(kept(), box, kTextIndex), 0);
    expectIdle();
}

TEST_F(ScanFileTest, TheRunningScrollKeepsItsAxisFollowsThePointerTakesANewPaletteAndStays) {
    AppState& s = window->state();
    s.settings.scrollMemory = false;
    s.settings.channel = StereoChannel::Left;
    const PlotLayout& l = s.view.layout;
    const int toneY = l.plotHeight - 1 - rows() / 4;  // 1 kHz of 0 .. 4 kHz
    const int labelY = l.plotHeight - 1 - rows() / 2; // the 2000 Hz label's middle
    const auto readouts = [&] { return window->surface().copyRect(l.readoutBox); };
    // Checked once the picture has scrolled: the axis (Text-coloured pixels around the label
    // at the view's left edge) is there, the time goes on with the pointer away, and the
    // pointer on the tone changes what the readouts say.
    int axis = 0;
    QImage away, later, onTone;
    const std::int64_t scrolled = clock.currentMs() + l.plotWidth * 10 + 2000;
    at(scrolled, [&] {
        for (int y = labelY - l.charHeight; y < labelY + l.charHeight; ++y) {
            for (int x = 0; x < kFrequencyAxisChars * l.charWidth; ++x) {
                axis += window->surface().pixel(x, y).value_or(0) == colourOf(kTextIndex);
            }
        }
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(window->drawingArea(), &leave);
        away = readouts();
    });
    at(scrolled + 2000, [&] {
        later = readouts();
        test::sendMouse(*window, QEvent::MouseMove, QPoint(l.plotWidth / 2, toneY));
        onTone = readouts();
    });
    // A new palette, as the colour dialog makes it (a new palette, then a repaint): the columns
    // already drawn show in the new colours, not as a cleared pane.
    bool recoloured = false;
    at(clock.currentMs() + 3000, [&] {
        ASSERT_TRUE(s.view.runningScrollImage);
        const std::uint8_t index = *s.view.runningScrollImage->surface().pixel(50, toneY);
        EXPECT_NE(index, kBackgroundIndex);
        s.view.activePalette = paletteFor(PaletteName::Bw, s.settings.userPalette);
        showActivePalette(s.view);
        test::repaint(*window);
        EXPECT_EQ(window->surface().pixel(50, toneY), colourOf(index));
        recoloured = true;
    });
    scan(tone(kRate * (l.plotWidth / 100 + 8)));
    EXPECT_TRUE(recoloured);
    EXPECT_GT(axis, 10);
    ASSERT_FALSE(away.isNull());
    EXPECT_NE(later, away);
    EXPECT_NE(onTone, later);

    // After the scan the last picture stays, and is repainted, until another is drawn.
    ASSERT_TRUE(s.view.runningScrollImage);
    test::repaint(*window);
    const QRgb tone = window->surface().pixel(l.plotWidth / 2, toneY).value_or(0);
    EXPECT_NE(tone, colourOf(kBackgroundIndex));
    EXPECT_EQ(tone, colourOf(*s.view.runningScrollImage->surface().pixel(l.plotWidth / 2, toneY)));
    scanPlot(DisplayType::LinePlot, PlotType::Signal, {1000.0}, 1);
    EXPECT_FALSE(s.view.runningScrollImage);
    expectIdle();
}

TEST_F(ScanFileTest, StopInTheFirstSecondHandsAnalyzeFileTheSpanFromTheStart) {
    window->state().settings.analysisAtStop = true;
    window->state().settings.scrollMemory = false;
    stopAt(600);
    scan(tone(kRate * 20));
    const ScanFileResult& r = lastScanFile(*window);
    EXPECT_FALSE(r.endReached);
    EXPECT_FALSE(noted("140"));
    EXPECT_EQ(r.stopMs, 0);
    // 1.5 loop buffers of 16-bit mono at 8 kHz.
    EXPECT_EQ(r.endMs, 3 * (65536 * 2 + 8) * 1000 / (2 * kRate * 2));
    const AppState& s = window->state();
    EXPECT_EQ(s.settings.lastMode, 0);
    EXPECT_EQ(s.analysis.run.beginMsec, 0);
    EXPECT_EQ(s.analysis.run.endMsec, r.endMs);
    ASSERT_TRUE(s.held.samples);
    EXPECT_TRUE(s.held.spectralImage);
}

TEST_F(ScanFileTest, ShortAndTruncatedFilesEndOnTheClockAndGiveEverythingBack) {
    window->state().settings.scrollMemory = false;
    // A band set for a faster file stops at half this one's rate, in the dialog's words.
    window->state().settings.highBandHz = 6000;
    // Shorter than half a buffer: the first read ends the data. The device plays the file's
    // samples, then only the silence of 8 bits.
    const QByteArray short8 = tone(kRate / 2, 8);
    scan(short8);
    test::expectHeard(output->played(), test::bytesOf(short8).subspan(44), 0x80, 3 * (65536 + 8));
    EXPECT_EQ(window->state().settings.highBandHz, kRate / 2);
    test::expectOneMessage(*prompts, "Highest Frequency Limited to 1/2 Sampling Rate");
    EXPECT_TRUE(lastScanFile(*window).endReached);
    EXPECT_NEAR(static_cast<double>(lastScanFile(*window).columnsDrawn), 50.0, 4.0);
    EXPECT_TRUE(noted("140"));
    EXPECT_FALSE(window->state().held.spectralImage);
    // All but the last picture, left in the window (replaced by the next one).
    EXPECT_TRUE(window->state().view.runningScrollImage);
    expectIdle(1);

    // A data chunk that claims twice what the file holds: the scan ends where the data does.
    QByteArray file = tone(kRate * 3);
    const std::uint32_t claimed = kRate * 3 * 2 * 2;
    std::memcpy(file.data() + 40, &claimed, 4);
    const std::int64_t took = scan(file);
    EXPECT_TRUE(lastScanFile(*window).endReached);
    EXPECT_EQ(lastScanFile(*window).fileBytesRead, kRate * 3 * 2);
    EXPECT_NEAR(static_cast<double>(lastScanFile(*window).columnsDrawn), 300.0, 8.0);
    EXPECT_LT(took, 4500);
    expectIdle(1);

    // A file cut short while it is scanned: what is gone reads as the end of the file, and the
    // scan ends at its time with everything given back.
    const QString cut = dir.file(QStringLiteral("scan.wav"));
    at(clock.currentMs() + 2000, [cut] { QFile::resize(cut, 44 + kRate * 2); });
    const std::int64_t cutTook = scan(tone(kRate * 10));
    EXPECT_TRUE(lastScanFile(*window).endReached);
    EXPECT_LT(lastScanFile(*window).fileBytesRead, kRate * 10 * 2);
    EXPECT_LT(cutTook, 11000);
    expectIdle(1);
}

// A device that cannot open, take the buffer or start gives the message and the menus back,
// closed; once it works, a slow machine (every look at the clock costs 30 msec, so the steps
// come slower than 10 msec apart) gets the measured time scale.
TEST_F(ScanFileTest, ADeviceThatFailsGivesTheMessageAndASlowMachineTheMeasuredTimeScale) {
    for (const SimulatedFailure failure :
         {SimulatedFailure::Open, SimulatedFailure::Prepare, SimulatedFailure::Write}) {
        failNewDevice = failure;
        if (output != nullptr) {
            output->device.failAt(failure);
        }
        prompts->clearMessages();
        scan(tone(kRate));
        EXPECT_EQ(prompts->messages(), std::vector<UserMessage>{kCannotOpenAudioDevice});
        EXPECT_EQ(lastScanFile(*window).columnsDrawn, 0);
        EXPECT_FALSE(output->isOpen());
        expectIdle(0);
    }

    output->device.failAt(SimulatedFailure::None);
    clock.setAdvanceOnRead(30);
    stopAt(3000);
    scan(tone(kRate * 20));
    const ScanFileResult& r = lastScanFile(*window);
    ASSERT_GT(r.columnsDrawn, 10);
    EXPECT_GT(r.timeScaleMsec, 25.0);
    EXPECT_EQ(window->state().settings.timeScaleMsec, static_cast<float>(r.timeScaleMsec));
    EXPECT_EQ(window->state().analysis.run.params.columnMsec,
              window->state().settings.timeScaleMsec);
    expectIdle();
}

TEST_F(ScanFileTest, AnHourLongFileIsStreamedNotHeld) {
    // An hour of 8 kHz 8-bit mono, the samples left sparse by growing the file.
    const long frames = 3600L * kRate;
    QByteArray head = tone(1, 8);
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames);
    const std::uint32_t riffBytes = dataBytes + 36;
    std::memcpy(head.data() + 4, &riffBytes, 4);
    std::memcpy(head.data() + 40, &dataBytes, 4);
    const QString path = dir.write(QStringLiteral("hour.wav"), head);
    ASSERT_TRUE(QFile(path).resize(44 + frames));
    prompts->queueFile(path);
    stopAt(10000);
    QTest::keyClick(window.get(), Qt::Key_F2);
    const ScanFileResult& r = lastScanFile(*window);
    EXPECT_FALSE(r.endReached);
    EXPECT_NEAR(static_cast<double>(r.columnsDrawn), 1000.0, 10.0);
    // 10 s of sound is 80000 bytes: read in halves of 32772, never the whole 28.8 MB.
    EXPECT_GE(r.fileBytesRead, 80000);
    EXPECT_LE(r.fileBytesRead, 80000 + 2 * 32772);
    EXPECT_FALSE(window->state().held.samples);
    expectIdle();
}

// A 24-bit tone at -100 dBFS and a float one at +12 dBFS are analysed as they are (the first is
// below one step of 16 bits, the second would clip there and grow a third harmonic); channel 3
// of a four-channel file, chosen in the dialog, is the one shown and played.
TEST_F(ScanFileTest, WiderSamplesKeepTheirPrecisionAndAChosenChannelIsScanned) {
    // Each scan's calibration and level code bring its tone into the log's 90 dB.
    const auto scanWritten = [&](int format, double fullScale, float calibrationDb, int code) {
        const QString path = dir.file(QStringLiteral("wide.wav"));
        SF_INFO info{0, kRate, 1, SF_FORMAT_WAV | format, 0, 0};
        SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        std::vector<double> v(kRate * 3);
        for (std::size_t i = 0; i < v.size(); ++i) {
            v[i] = fullScale * std::sin(2.0 * std::numbers::pi * 1000.0 * double(i) / kRate);
        }
        sf_command(f, SFC_SET_CLIPPING, nullptr, SF_FALSE);
        ASSERT_EQ(sf_writef_double(f, v.data(), kRate * 3), kRate * 3);
        sf_close(f);
        calibrate(calibrationDb);
        AppSettings& st = window->state().settings;
        st.levelScaleCode = code;
        st.displayType = DisplayType::LinePlot;
        st.channel = StereoChannel::Left;
        st.averageCountPlot = 1;
        prompts->queueFile(path);
        QTest::keyClick(window.get(), Qt::Key_F2);
    };
    // Half the amplitude under the Hann window, the calibration and gain, shown as level - 90.
    const auto expectedDb = [](double fullScale, double gain) {
        return 20.0 * std::log10(fullScale * 32768.0 / 2.0) + gain - 90.0;
    };
    const std::size_t bin = 1000 * 1024 / kRate;
    const double quiet = std::pow(10.0, -100.0 / 20.0);
    scanWritten(SF_FORMAT_PCM_24, quiet, 30.0f, -9);
    const std::vector<double> quietLevels = loggedLevels(logged());
    EXPECT_GT(quietLevels[bin], quietLevels[bin + 4] + 20.0);
    EXPECT_NEAR(quietLevels[bin], expectedDb(quiet, 39.0), 0.5);
    scanWritten(SF_FORMAT_FLOAT, 4.0, 0.0f, 15);
    const std::vector<double> loud = loggedLevels(logged());
    EXPECT_NEAR(loud[bin], expectedDb(4.0, -15.0), 0.5);
    EXPECT_LT(loud[3 * bin], loud[bin] - 60.0);

    // Channels 3 and 4 of four, the Left shown: the row of 1500 Hz; the device plays channel
    // 3's samples on the left and 4's on the right. No scan here had a message.
    AppSettings& st = window->state().settings;
    st.displayType = DisplayType::Scroll;
    st.levelScaleCode = -9;
    st.variables = Variables::Adjust;
    prompts->queueDialog([](QDialog& d) {
        test::control<QLineEdit>(d, ID_FIRST_CHANNEL_EDIT)->setText(QStringLiteral("3"));
        test::control<QLineEdit>(d, ID_SECOND_CHANNEL_EDIT)->setText(QStringLiteral("4"));
        ScriptedPrompts::pressOk(d);
    });
    const auto tones = test::sines({500.0, 1000.0, 1500.0, 2000.0}, kRate);
    const std::size_t before = output->played().size();
    QTest::keyClick(window.get(), Qt::Key_F7); // the Sound Level window names what it measures
    scan(test::waveFile(kRate, 4, 16, kRate * 3, tones));
    EXPECT_EQ(st.fileChannels.first, 3);
    const SoundLevelWindow* meter = soundLevelWindow(window.get());
    ASSERT_NE(meter, nullptr);
    QStringList texts;
    for (const QLabel* l : meter->findChildren<QLabel*>()) {
        texts << l->text();
    }
    EXPECT_TRUE(texts.join(QLatin1Char('|')).contains(QStringLiteral("scan.wav, channel 3 of 4")))
        << texts.join(QLatin1Char('|')).toStdString();
    const AppState& s = window->state();
    ASSERT_TRUE(s.held.spectralImage);
    // The left channel.
    EXPECT_NEAR(test::loudestRow(s, 5, s.view.layout.plotHeight), rows() * 3 / 8, 2);
    // The panel names the channel shown and the file's count, not "Stereo (Left)".
    const ViewDrawing panel = infoPanel(currentViewGeometry(s), currentInfoPanelInputs(s));
    EXPECT_TRUE(
        std::ranges::any_of(panel.texts, [](const auto& t) { return t.text == "Channel 3 of 4"; }));
    const std::vector<std::uint8_t>& played = output->played();
    ASSERT_GE(played.size(), before + 4000u * 4);
    for (long i = 0; i < 4000; ++i) {
        const auto at = before + static_cast<std::size_t>(i) * 4;
        const auto left = static_cast<std::int16_t>(played[at] | played[at + 1] << 8);
        const auto right = static_cast<std::int16_t>(played[at + 2] | played[at + 3] << 8);
        ASSERT_EQ(left, std::lround(tones(i)[2])) << i;
        ASSERT_EQ(right, std::lround(tones(i)[3])) << i;
    }
    EXPECT_TRUE(prompts->messages().empty());
}

} // namespace
} // namespace korv::test
