// Analyze File on the recordings people make: 24-bit broadcast files, other formats and more
// channels, the maximum over a long step, and a segment longer than the holding limit read from
// its file.

#include "app/program_menu.h"
#include "app/spectral_view.h"
#include "base/user_message.h"
#include "display/grid_overlay.h"
#include "display/info_panel.h"
#include "display/memory_budget.h"
#include "display/readouts.h"
#include "settings/settings_inputs.h"
#include "support/analyze_fixture.h"
#include "support/dialog_controls.h"
#include "support/prompt_checks.h"
#include "support/sound_file_copy.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

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
        analyze(files[i]);
        ASSERT_TRUE(window->state().held.spectralImage);
        EXPECT_EQ(settings().resolutionChoice, RESOLUTION_16_BIT);
        EXPECT_EQ(window->state().analysis.run.info.encoding,
                  i == 0 ? WaveEncoding::Pcm16 : WaveEncoding::Pcm24);
        // "Sample Length (kb)" counts the file's own bytes: 2 or 3 a sample.
        const long fileBytes = kRate * 2L * (i == 0 ? 2 : 3);
        const ViewDrawing panel = infoPanel(currentViewGeometry(window->state()),
                                            currentInfoPanelInputs(window->state()));
        const auto length = std::find_if(panel.texts.begin(), panel.texts.end(),
                                         [](auto& t) { return t.text == INFO_LENGTH_LABEL; });
        ASSERT_NE(length, panel.texts.end());
        ASSERT_NE(length + 1, panel.texts.end());
        // The broadcast file also says when it was recorded.
        EXPECT_EQ(QString::fromStdString((length + 1)->text).trimmed(),
                  QString::number(fileBytes / 1000) + (i == 0 ? "" : ", 2026-06-01 05:30:12"));
        images[i] = imageBytes();
        // The drag from 500 to 1500 msec.
        window->state().analysis.selection =
            Selection{std::int64_t{kRate}, std::int64_t{kRate} * 3};
        prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressOk(d); });
        window->commands().send(cmd::kParametersChange, 1);
        ASSERT_TRUE(window->state().held.spectralImage);
        changed[i] = imageBytes();
    }
    EXPECT_TRUE(prompts->messages().empty());
    EXPECT_EQ(images[1], images[0]);
    EXPECT_EQ(changed[1], changed[0]);
    const int bottom = window->state().analysis.run.plotHeight;
    EXPECT_NEAR(brightestRow(5, bottom), rowOf(1000.0), 2);
    EXPECT_NEAR(
        brightestRow(static_cast<int>(window->state().analysis.run.params.columns) - 5, bottom),
        rowOf(3000.0), 2);
}

// FLAC, AIFF and a wave file of four channels (once "Advanced Wave Formats Cannot be
// Processed") are read by libsndfile into the same samples as their 16-bit wave twin, and
// give its picture; the panel names the format.
TEST_F(AnalyzeFileTest, OtherFormatsAndMoreChannelsGiveTheirWaveTwinsPicture) {
    settings().channelChoice = CHANNEL_DUAL;
    const QString twin =
        write(QStringLiteral("twin.wav"),
              test::waveFile(kRate, 2, 16, kRate, test::sines({1000.0, 3000.0}, kRate)));
    analyze(twin);
    ASSERT_TRUE(window->state().held.spectralImage);
    const std::vector<std::uint8_t> expected = imageBytes();
    const struct {
        const char* name;
        int format;
        int channels;
    } others[] = {{"twin.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2},
                  {"twin.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2},
                  {"four.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4}};
    for (const auto& o : others) {
        SCOPED_TRACE(o.name);
        const QString path =
            rewritten(twin, dir.file(QString::fromLatin1(o.name)), o.format, o.channels);
        ASSERT_FALSE(path.isEmpty());
        analyze(path);
        EXPECT_TRUE(prompts->messages().empty());
        ASSERT_TRUE(window->state().held.spectralImage);
        EXPECT_EQ(window->state().analysis.run.info.reader, SoundReader::SoundFile);
        EXPECT_EQ(window->state().analysis.run.info.fileChannels, o.channels);
        EXPECT_EQ(imageBytes(), expected);
    }
    // The open dialog offers the other formats beside wave files.
    ASSERT_FALSE(prompts->fileRequests().empty());
    const QString filter = prompts->fileRequests().back().filter;
    for (const char* pattern :
         {"*.wav", "*.flac", "*.ogg", "*.opus", "*.mp3", "*.aiff", "*.w64", "*.rf64", "*.caf"}) {
        EXPECT_TRUE(filter.contains(QString::fromLatin1(pattern))) << pattern;
    }
}

// The dialog chooses the channels of a four-channel file; a stereo file's bands hold its own
// two, and the dual panes show them.
TEST_F(AnalyzeFileTest, TheDialogChoosesTheChannelsOfAFourChannelFile) {
    const QString four = write(
        QStringLiteral("four.wav"),
        test::waveFile(kRate, 4, 16, kRate, test::sines({1000.0, 2000.0, 3000.0, 4000.0}, kRate)));
    settings().variablesChoice = cmd::kVariablesAdjust;
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
    // Channel 3 alone, as the Left channel.
    choose(CHANNEL_LEFT, "3", "2");
    analyze(four);
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_NEAR(brightestRow(x, image().height()), rowOf(3000.0), 2);
    // Dual of channels 2 and 4: 2 in the lower band, 4 in the upper.
    choose(CHANNEL_DUAL, "2", "4");
    analyze(four);
    ASSERT_TRUE(window->state().held.spectralImage);
    const int h = window->state().analysis.run.plotHeight;
    ASSERT_EQ(image().height(), 2 * h);
    EXPECT_NEAR(brightestRow(x, 2 * h), rowOf(2000.0), 2);
    EXPECT_NEAR(brightestRow(x, h), rowOf(4000.0), 2);
    EXPECT_EQ(prompts->dialogsRun().size(), 2);
    EXPECT_TRUE(prompts->messages().empty());
    // The choice is kept (Freeze: no dialog), and a two-channel file keeps its own two.
    settings().variablesChoice = cmd::kVariablesFreeze;
    analyze(four);
    EXPECT_NEAR(brightestRow(x, h), rowOf(4000.0), 2);
    analyze(write(QStringLiteral("two.wav"),
                  test::waveFile(kRate, 2, 16, kRate, test::sines({1000.0, 3000.0}, kRate))));
    EXPECT_NEAR(brightestRow(x, 2 * h), rowOf(1000.0), 2);
    EXPECT_NEAR(brightestRow(x, h), rowOf(3000.0), 2);
    // The window after the run: scrolled to the end, both panes from the same column (the
    // labels taken away to see the picture).
    window->state().view.axesShown = false;
    repaint(*window);
    const int col = 10;
    const int imageCol = window->state().view.scroll.h.pos + col;
    const PaletteDisplay& palette = window->surface().palette();
    const int yLeft = h - 1 - rowOf(1000.0);
    EXPECT_EQ(*window->surface().pixel(col, yLeft),
              palette.colour(*image().pixel(imageCol, h + yLeft)) & 0xFFFFFFU);
    EXPECT_EQ(*window->surface().pixel(window->state().view.layout.plotWidth / 2 + 4 + col, yLeft),
              palette.colour(*image().pixel(imageCol, yLeft)) & 0xFFFFFFU);
}

TEST_F(AnalyzeFileTest, MaxOverStepFromTheDialogKeepsABeepShorterThanTheStep) {
    const QString path = write(
        QStringLiteral("beep.wav"), test::waveFile(kRate, 1, 16, kRate * 3, [](long n) {
            const double t = static_cast<double>(n) / kRate;
            const bool on = t >= 1.2 && t < 1.35;
            return std::vector<double>{on ? 16000.0 * std::sin(2.0 * M_PI * 3000.0 * t) : 0.0};
        }));
    settings().variablesChoice = cmd::kVariablesAdjust;
    prompts->queueFile(path);
    prompts->queueDialog([](QDialog& d) {
        setEdit(d, ID_TIME_SCALE_EDIT, QStringLiteral("500"));
        radio(d, STEP_MAX_ON)->click();
        ScriptedPrompts::pressOk(d);
    });
    QTest::keyClick(window.get(), Qt::Key_F1);
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_TRUE(maxOverStep(settings()));
    // Column 2 is the step from 1.0 to 1.5 s; column 1 holds silence.
    const int bottom = window->state().analysis.run.plotHeight;
    const int row = rowOf(3000.0);
    EXPECT_NEAR(brightestRow(2, bottom), row, 2);
    EXPECT_GT(indexAt(2, row, bottom), indexAt(1, row, bottom) + 80);
    ASSERT_TRUE(window->close()); // the close writes the settings file
    const QByteArray bytes = test::TempDir::read(dir.file(QStringLiteral("korv.ini")));
    ASSERT_EQ(bytes.size(), static_cast<qsizetype>(SETTINGS_FILE_SIZE));
    AppSettings stored;
    stored.spareSetting = qFromLittleEndian<std::int32_t>(bytes.constData() + 532);
    EXPECT_TRUE(maxOverStep(stored));
}

// A refused file or stretch leaves the data held and shown as it was; a cancelled dialog lets
// go of it. Either way the picture, the title, the menu and the buttons agree.
TEST_F(AnalyzeFileTest, ASegmentLongerThanTheHoldingLimitIsReadFromItsFile) {
    constexpr long kFrames = 6L * kRate;
    constexpr long kToneFrom = kFrames - kRate / 2;
    const auto endTone = [](long i) {
        const double t = static_cast<double>(i) / kRate;
        return std::vector<double>{i >= kToneFrom ? 16000.0 * std::sin(2.0 * M_PI * 3000.0 * t)
                                                  : 0.0};
    };
    const QByteArray file = test::waveFile(kRate, 1, 16, kFrames, endTone);
    window->state().analysis.holdLimitBytes = 64 * 1024;
    analyze(write(QStringLiteral("long.wav"), file));
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_TRUE(prompts->messages().empty());
    EXPECT_FALSE(window->state().held.samples.has_value());
    ASSERT_TRUE(window->state().held.fileSegment.has_value());
    const AnalysisRun& run = window->state().analysis.run;
    ASSERT_GT(run.segmentBytes, window->state().analysis.holdLimitBytes);
    const long last = run.params.columns - 1;
    EXPECT_NEAR(brightestRow(static_cast<int>(last), run.plotHeight), rowOf(3000.0), 2);
    EXPECT_GT(indexAt(static_cast<int>(last), rowOf(3000.0), run.plotHeight), 150);
    EXPECT_LT(indexAt(10, rowOf(3000.0), run.plotHeight), 100);

    const QString saved = dir.file(QStringLiteral("saved.wav"));
    prompts->queueFile(saved);
    window->dispatch(cmd::kSaveWave, 0);
    const QByteArray bytes = test::TempDir::read(saved);
    const qsizetype data = file.indexOf("data") + 8;
    ASSERT_EQ(bytes.size(), 46 + kFrames * 2);
    EXPECT_EQ(bytes.mid(46), file.mid(data, kFrames * 2));
    EXPECT_TRUE(prompts->messages().empty());
}

// A file named on the command line that cannot be opened does not make the next F1 skip its
// dialog. The vertical bar shows the display gain while the dialog is open; drawing turns it
// off.
} // namespace
} // namespace korv
