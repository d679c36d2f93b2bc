// Analyze File on the recordings people make: 24-bit broadcast files, other formats and more
// channels, the maximum over a long step, and a segment longer than the holding limit read from
// its file.

#include "app/current_view.h"
#include "display/info_panel.h"
#include "settings/settings_inputs.h"
#include "support/analyze_fixture.h"
#include "support/dialog_controls.h"
#include "support/prompt_checks.h"
#include "support/sound_file_copy.h"

#include <QtEndian>
#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace korv {
namespace {

using namespace test;

TEST_F(AnalyzeFileTest, A24BitBroadcastFileIsAnalysedLikeItsSixteenBitTwin) {
    // 1000 Hz for the first second, 3000 Hz after it: a stretch read from the wrong place
    // would move the change.
    const test::FrameSignal signal = [](long frame) {
        return test::sines({frame < kRate ? 1000.0 : 3000.0}, kRate)(frame);
    };
    const auto chunk = [](const char* id, int size) {
        const auto le = qToLittleEndian(static_cast<quint32>(size));
        return QByteArray(id) + QByteArray(reinterpret_cast<const char*>(&le), 4) +
               QByteArray(size + size % 2, 'x');
    };
    QByteArray broadcast = test::waveFile(kRate, 1, 24, kRate * 2, signal);
    broadcast.insert(broadcast.indexOf("data"), chunk("LIST", 9001));
    // Recorded from 05:30:12 on 1 June 2026 (no time reference).
    QByteArray bext = chunk("bext", 602);
    bext.replace(8 + 320, 26, QByteArray("2026-06-0105:30:12") + QByteArray(8, '\0'));
    broadcast.insert(12, bext);
    const QString files[] = {write("twin16.wav", test::waveFile(kRate, 1, 16, kRate * 2, signal)),
                             write("bwf24.wav", broadcast)};
    std::vector<std::uint8_t> images[2];
    std::vector<std::uint8_t> changed[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(analyzed(files[i]));
        EXPECT_EQ(settings().resolutionBits, 16);
        EXPECT_EQ(run().info.encoding, i == 0 ? WaveEncoding::Pcm16 : WaveEncoding::Pcm24);
        // "Sample Length (kb)" counts the file's own bytes: 2 or 3 a sample.
        const ViewDrawing panel =
            infoPanel(currentViewGeometry(state()), currentInfoPanelInputs(state()));
        const auto length = std::find_if(panel.texts.begin(), panel.texts.end(),
                                         [](auto& t) { return t.text == INFO_LENGTH_LABEL; });
        ASSERT_NE(length, panel.texts.end());
        ASSERT_NE(length + 1, panel.texts.end());
        // The broadcast file also says when it was recorded.
        EXPECT_EQ(QString::fromStdString((length + 1)->text).trimmed(),
                  QString::number(kRate * 2L * (i == 0 ? 2 : 3) / 1000) +
                      (i == 0 ? "" : ", 2026-06-01 05:30:12"));
        images[i] = imageBytes();
        // The drag from 500 to 1500 msec.
        state().analysis.selection = Selection{std::int64_t{kRate}, std::int64_t{kRate} * 3};
        prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressOk(d); });
        window->commands().send(cmd::kParametersChange, 1);
        ASSERT_TRUE(state().held.spectralImage);
        changed[i] = imageBytes();
    }
    EXPECT_TRUE(prompts->messages().empty());
    EXPECT_EQ(images[1], images[0]);
    EXPECT_EQ(changed[1], changed[0]);
    const int bottom = run().plotHeight;
    EXPECT_NEAR(brightestRow(5, bottom), rowOf(1000.0), 2);
    EXPECT_NEAR(brightestRow(static_cast<int>(run().params.columns) - 5, bottom), rowOf(3000.0), 2);
}

// FLAC, AIFF and a wave file of four channels (once "Advanced Wave Formats Cannot be
// Processed") are read by libsndfile into the same samples as their 16-bit wave twin, and
// give its picture; the dialog chooses the channels of a four-channel file.
TEST_F(AnalyzeFileTest, OtherFormatsGiveTheirWaveTwinsPictureAndTheDialogChoosesChannels) {
    settings().channel = StereoChannel::Dual;
    const QString twin =
        write(QStringLiteral("twin.wav"),
              test::waveFile(kRate, 2, 16, kRate, test::sines({1000.0, 3000.0}, kRate)));
    ASSERT_TRUE(analyzed(twin));
    const std::vector<std::uint8_t> expected = imageBytes();
    for (const auto& [name, format, channels] :
         {std::tuple{"twin.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2},
          {"twin.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2},
          {"four.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4}}) {
        SCOPED_TRACE(name);
        const QString path = rewritten(twin, dir.file(QString::fromLatin1(name)), format, channels);
        ASSERT_FALSE(path.isEmpty());
        ASSERT_TRUE(analyzed(path));
        EXPECT_TRUE(prompts->messages().empty());
        EXPECT_EQ(run().info.reader, SoundReader::SoundFile);
        EXPECT_EQ(run().info.fileChannels, channels);
        EXPECT_EQ(imageBytes(), expected);
    }
    // The open dialog offers the other formats beside wave files.
    ASSERT_FALSE(prompts->fileRequests().empty());
    const QString filter = prompts->fileRequests().back().filter;
    for (const char* pattern :
         {"*.wav", "*.flac", "*.ogg", "*.opus", "*.mp3", "*.aiff", "*.w64", "*.rf64", "*.caf"}) {
        EXPECT_TRUE(filter.contains(QString::fromLatin1(pattern))) << pattern;
    }

    // The dialog chooses the channels of a four-channel file; a stereo file's bands hold its
    // own two, and the dual panes show them.
    const QString four = write(
        QStringLiteral("tones4.wav"),
        test::waveFile(kRate, 4, 16, kRate, test::sines({1000.0, 2000.0, 3000.0, 4000.0}, kRate)));
    settings().variables = Variables::Adjust;
    settings().lowBandHz = 0;
    settings().highBandHz = kRate / 2;
    const auto choose = [this](int channel, const char* left, const char* right) {
        prompts->queueDialog([=](QDialog& d) {
            setEdit(d, ID_FIRST_CHANNEL_EDIT, left);
            setEdit(d, ID_SECOND_CHANNEL_EDIT, right);
            test::radio(d, channel)->click();
            ScriptedPrompts::pressOk(d);
        });
    };
    const int x = 40;
    // The information panel names the channels shown, not "Stereo".
    const auto panelNames = [this](const char* text) {
        const ViewDrawing panel =
            infoPanel(currentViewGeometry(state()), currentInfoPanelInputs(state()));
        return std::ranges::any_of(panel.texts, [text](const auto& t) { return t.text == text; });
    };
    // Channel 3 alone, as the Left channel.
    choose(CHANNEL_LEFT, "3", "2");
    ASSERT_TRUE(analyzed(four));
    EXPECT_NEAR(brightestRow(x, image().height()), rowOf(3000.0), 2);
    EXPECT_TRUE(panelNames("Channel 3 of 4"));
    // Dual of channels 2 and 4: 2 in the lower band, 4 in the upper.
    choose(CHANNEL_DUAL, "2", "4");
    ASSERT_TRUE(analyzed(four));
    const int h = run().plotHeight;
    ASSERT_EQ(image().height(), 2 * h);
    EXPECT_NEAR(brightestRow(x, 2 * h), rowOf(2000.0), 2);
    EXPECT_NEAR(brightestRow(x, h), rowOf(4000.0), 2);
    EXPECT_TRUE(panelNames("Channels 2, 4 of 4"));
    EXPECT_FALSE(panelNames("Stereo"));
    EXPECT_EQ(prompts->dialogsRun().size(), 2);
    EXPECT_TRUE(prompts->messages().empty());
    // The choice is kept (Freeze: no dialog), and a two-channel file keeps its own two.
    settings().variables = Variables::Freeze;
    analyze(four);
    EXPECT_NEAR(brightestRow(x, h), rowOf(4000.0), 2);
    analyze(twin);
    EXPECT_TRUE(panelNames("Stereo"));
    EXPECT_NEAR(brightestRow(x, 2 * h), rowOf(1000.0), 2);
    EXPECT_NEAR(brightestRow(x, h), rowOf(3000.0), 2);
    // The window after the run: scrolled to the end, both panes from the same column (the
    // labels taken away to see the picture).
    state().view.axesShown = false;
    repaint(*window);
    const int col = 10;
    const int imageCol = state().view.scroll.h.pos + col;
    const PaletteDisplay& palette = window->surface().palette();
    const int yLeft = h - 1 - rowOf(1000.0);
    EXPECT_EQ(*window->surface().pixel(col, yLeft),
              palette.colour(*image().pixel(imageCol, h + yLeft)) & 0xFFFFFFU);
    EXPECT_EQ(*window->surface().pixel(state().view.layout.plotWidth / 2 + 4 + col, yLeft),
              palette.colour(*image().pixel(imageCol, yLeft)) & 0xFFFFFFU);
}

// Max Over Step from the dialog: at 500 msec a column, a 0.15 s beep that no column's first
// frame reaches lights its column's row, and the choice is kept in the settings file.
TEST_F(AnalyzeFileTest, MaxOverStepFromTheDialogKeepsABeepShorterThanTheStep) {
    // 3000 Hz from 1.2 s to 1.35 s.
    const QString path = write(
        QStringLiteral("beep.wav"),
        waveFile(kRate, 1, 16, kRate * 3, burst(3000.0, kRate * 12 / 10, kRate * 27 / 20 + 1)));
    settings().variables = Variables::Adjust;
    prompts->queueDialog([](QDialog& d) {
        setEdit(d, ID_TIME_SCALE_EDIT, QStringLiteral("500"));
        radio(d, STEP_MAX_ON)->click();
        ScriptedPrompts::pressOk(d);
    });
    ASSERT_TRUE(analyzed(path));
    EXPECT_TRUE(settings().maxOverStep);
    // Column 2 is the step from 1.0 to 1.5 s; column 1 holds silence.
    const int bottom = run().plotHeight;
    const int row = rowOf(3000.0);
    EXPECT_NEAR(brightestRow(2, bottom), row, 2);
    EXPECT_GT(indexAt(2, row, bottom), indexAt(1, row, bottom) + 80);
    ASSERT_TRUE(window->close()); // the close writes the settings file
    const QByteArray bytes = test::TempDir::read(dir.file(QStringLiteral("korv.ini")));
    ASSERT_EQ(bytes.size(), static_cast<qsizetype>(SETTINGS_FILE_SIZE));
    // The spare word, tagged, with Max Over Step's bit.
    EXPECT_EQ(qFromLittleEndian<std::uint32_t>(bytes.constData() + 532) & 0xFFFF8000U, 0x4B438000U);
}

// A segment longer than the window may hold is read from its file as the columns go: none of it
// is held, the last column shows the tone that ends the file, and Save Wave copies the file's
// own sample bytes.
TEST_F(AnalyzeFileTest, ASegmentLongerThanTheHoldingLimitIsReadFromItsFile) {
    constexpr long kFrames = 6L * kRate;
    // 3000 Hz in the last half second.
    const QByteArray file =
        waveFile(kRate, 1, 16, kFrames, burst(3000.0, kFrames - kRate / 2, kFrames));
    state().analysis.holdLimitBytes = 64 * 1024;
    ASSERT_TRUE(analyzed(write(QStringLiteral("long.wav"), file)));
    EXPECT_TRUE(prompts->messages().empty());
    EXPECT_FALSE(state().held.samples.has_value());
    ASSERT_TRUE(state().held.fileSegment.has_value());
    ASSERT_GT(run().segmentBytes, state().analysis.holdLimitBytes);
    const auto last = static_cast<int>(run().params.columns - 1);
    EXPECT_NEAR(brightestRow(last, run().plotHeight), rowOf(3000.0), 2);
    EXPECT_GT(indexAt(last, rowOf(3000.0), run().plotHeight), 150);
    EXPECT_LT(indexAt(10, rowOf(3000.0), run().plotHeight), 100);

    const QString saved = dir.file(QStringLiteral("saved.wav"));
    prompts->queueFile(saved);
    window->dispatch(cmd::kSaveWave, 0);
    // Behind its own 46-byte header, all the file's samples (they run to its end).
    EXPECT_EQ(test::TempDir::read(saved).mid(46), file.mid(file.indexOf("data") + 8));
    EXPECT_TRUE(prompts->messages().empty());
}

} // namespace
} // namespace korv
