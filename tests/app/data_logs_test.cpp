// The data logs from the menu: Log Data writing every column of the analysis run again (on
// both cores, the image unchanged), a full disk, the Dual layout, and the point log.

#include "analysis/point_level.h"
#include "dialogs/point_log_dialog.h"
#include "display/column_analyzer.h"
#include "settings/settings_inputs.h"
#include "support/analyze_fixture.h"
#include "support/dialog_controls.h"
#include "support/prompt_checks.h"

#include <QFile>
#include <QPushButton>

#include <cmath>

namespace korv {
namespace {

using namespace test;

QStringList lines(const QString& path) {
    const QByteArray bytes = test::TempDir::read(path);
    EXPECT_TRUE(bytes.endsWith("\r\n")) << path.toStdString();
    QStringList out = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
    out.removeLast();
    return out;
}

class DataLogsTest : public AnalyzeFileTest {
  protected:
    // A stereo file, its channels told apart by their tones.
    void analyzeStereo(StereoChannel channel) {
        settings().channel = channel;
        analyze(write(QStringLiteral("two.wav"),
                      waveFile(kRate, 2, 16, kRate * 3, sines({800.0, 3000.0}, kRate))));
        ASSERT_TRUE(window->state().held.spectralImage);
    }
    // The column analysis of the held samples as the run had it.
    ColumnAnalysisInputs heldInputs() {
        const AppState& s = window->state();
        const AnalysisRun& run = s.analysis.run;
        return columnAnalysisInputsFrom(
            s.settings, run.format, run.params,
            s.held.samples->samples().first(static_cast<std::size_t>(run.segmentBytes)));
    }
    void logData(const QString& path) {
        prompts->queueFile(path);
        window->commands().send(cmd::kLogSpectrum, 0);
    }
};

// Every column of the Right channel, in order, as one analyser on one thread gives them; the
// image byte for byte the one before the log.
TEST_F(DataLogsTest, LogDataWritesEveryColumnOfTheChannelShownAndDualOnlyTheHeader) {
    analyzeStereo(StereoChannel::Right);
    EXPECT_EQ(window->menu().action(cmd::kLogSpectrum)->text(), QStringLiteral("&Log Data"));
    const std::vector<std::uint8_t> before = imageBytes();
    const QString path = dir.file(QStringLiteral("image.txt"));
    logData(path);
    EXPECT_EQ(imageBytes(), before);
    EXPECT_FALSE(window->state().logs.imageLog);

    const AppState& s = window->state();
    const AnalysisRun& run = s.analysis.run;
    ColumnAnalysisInputs in = heldInputs();
    in.binLevels = true;
    ColumnLevels levels;
    ASSERT_EQ(levels.setup(in, s.held.spectralImage->rows(), run.params.columns), SetupResult::Ok);
    const ImageLogFormat format(s.logs.imageLogSource);
    std::string want = format.header();
    for (long x = 0; x < run.params.columns; ++x) {
        ASSERT_TRUE(levels.compute(x));
        format.appendColumn(want, x, levels.averagedBins(1));
    }
    EXPECT_TRUE(test::TempDir::read(path).toStdString() == want);
    const QStringList got = lines(path);
    EXPECT_EQ(got.mid(0, 3), (QStringList{"Korvanthile 6.0 Data", QString::fromStdString(run.file),
                                          "22050 Hz Sampling Rate"}));
    EXPECT_EQ(got.count(QStringLiteral("Point Hz        dB")), run.params.columns);

    // Over the holding limit the samples are read from the file again for the log: the same.
    window->state().analysis.holdLimitBytes = 1024;
    analyzeStereo(StereoChannel::Right);
    ASSERT_FALSE(window->state().held.samples.has_value());
    const QString streamed = dir.file(QStringLiteral("streamed.txt"));
    logData(streamed);
    EXPECT_TRUE(test::TempDir::read(streamed).toStdString() == want);

    // Dual gives the header alone; a full disk or STOP ends the log.
    window->state().analysis.holdLimitBytes = HELD_SEGMENT_LIMIT_BYTES;
    analyzeStereo(StereoChannel::Dual);
    logData(dir.file(QStringLiteral("dual.txt")));
    EXPECT_EQ(lines(dir.file(QStringLiteral("dual.txt"))).size(), 7);

    settings().channel = StereoChannel::Left;
    // A full disk: a log named for a device that is always full.
    const QString full = dir.file(QStringLiteral("full.txt"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), full));
    prompts->queueAnswer(true); // it exists: replace it
    logData(full);
    expectOneMessage(*prompts, "Error Writing File"); // the test's first message
    EXPECT_FALSE(window->state().logs.imageLog);
    EXPECT_TRUE(window->state().held.spectralImage); // the analysis itself ran to its end

    // STOP ends the log at the last column drawn, the file closed.
    window->commands().post(cmd::kStop, 0);
    const QString stopped = dir.file(QStringLiteral("stopped.txt"));
    logData(stopped);
    EXPECT_FALSE(window->state().logs.imageLog);
    EXPECT_LT(window->state().analysis.run.params.columns, 5);
    EXPECT_EQ(lines(stopped).count(QStringLiteral("Point Hz        dB")),
              window->state().analysis.run.params.columns);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

TEST_F(DataLogsTest, ANameWithoutItsExtensionIsAskedAboutAndAPointLogAppendsUntilClosed) {
    analyze(tone(QStringLiteral("tone.wav"), kRate * 2, 2000.0));
    ASSERT_TRUE(window->state().held.spectralImage);
    // "image" typed when image.txt exists names image.txt: Log Spectrum asks whether to replace it,
    // Log Points (which appends) whether to add to it, before they touch it; No leaves it.
    const QString image = write(QStringLiteral("image.txt"), "kept\r\n");
    for (const auto& [command, question] : {std::pair{cmd::kLogSpectrum, replaceQuestion(image)},
                                            std::pair{cmd::kLogPoints, appendQuestion(image)}}) {
        prompts->queueFile(dir.file(QStringLiteral("image")));
        prompts->queueAnswer(false);
        prompts->queueCancel(); // No returns to the dialog
        window->commands().send(command, 0);
        EXPECT_EQ(prompts->questions().back(), question);
        EXPECT_EQ(prompts->fileRequests().back().defaultSuffix, QStringLiteral("txt"));
        EXPECT_EQ(lines(image), QStringList{QStringLiteral("kept")}) << command;
        EXPECT_EQ(window->findChild<PointLogDialog*>(), nullptr);
        EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("image"))));
    }
    // (Yes replaces it: the one question of every save, as
    // ImageExportTest.WindowImageSavedAndPrintedAndANameIsAskedAbout shows.)

    // Log Points on an existing log: one empty line, then a row per click with the clicked
    // column's time, the row's frequency and the level of its frames; closing the dialog ends
    // it.
    const QString path = write(QStringLiteral("points.txt"), "earlier\r\n");
    prompts->queueFile(path);
    prompts->queueAnswer(true);
    window->commands().send(cmd::kLogPoints, 0);
    auto* dialog = window->findChild<PointLogDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());

    const AppState& s = window->state();
    const int x = 40;
    const int y = s.view.layout.plotHeight - 1 - rowOf(2000.0);
    QTest::mouseClick(window->drawingArea(), Qt::LeftButton, {}, QPoint(x, y));
    QTest::mouseClick(window->drawingArea(), Qt::LeftButton, {}, QPoint(x, 2)); // the strip
    const long column = x + s.view.scroll.h.pos;
    // The column's time: its first sample (whole hops in) plus half the window, in the file.
    const double firstSample =
        static_cast<double>(column * s.analysis.run.params.hop / s.analysis.run.format.channels);
    const long time =
        std::lround(segmentOffsetMsec(s.analysis.run) +
                    (firstSample + s.analysis.run.params.windowSamples / 2) * 1000.0 / kRate);
    const double hz =
        s.settings.lowBandHz + static_cast<double>(s.settings.highBandHz - s.settings.lowBandHz) *
                                   (s.view.layout.plotHeight - y - 1) / rows();
    const long frequency = static_cast<long>(std::floor(hz + 0.5));
    const auto level = pointLevelDb(heldInputs(), 0, column * s.analysis.run.params.hop,
                                    static_cast<double>(frequency));
    ASSERT_TRUE(level);
    EXPECT_GT(*level, -60); // the tone itself
    const auto row = QString::fromStdString(pointLogRow(time, frequency, *level)).trimmed();
    EXPECT_EQ(lines(path), (QStringList{QStringLiteral("earlier"), QString(), row}));
    EXPECT_EQ(editText(*dialog, ID_POINT_LEVEL_EDIT), QString::number(*level));

    // Closed: clicks on the image are its own again.
    dialog->findChild<QPushButton*>(controlName(kCancelButtonId))->click();
    EXPECT_FALSE(window->state().logs.pointLogClick);
    EXPECT_EQ(lines(path).size(), 3);
    EXPECT_TRUE(prompts->unscripted().isEmpty());

    // Over the holding limit the point's frames are read from the file: the same row.
    window->state().analysis.holdLimitBytes = 1024;
    analyze(tone(QStringLiteral("tone.wav"), kRate * 2, 2000.0));
    ASSERT_FALSE(window->state().held.samples.has_value());
    prompts->queueFile(path);
    prompts->queueAnswer(true);
    window->commands().send(cmd::kLogPoints, 0);
    QTest::mouseClick(window->drawingArea(), Qt::LeftButton, {}, QPoint(x, y));
    ASSERT_FALSE(lines(path).isEmpty());
    EXPECT_EQ(lines(path).last(), row);
    EXPECT_TRUE(prompts->messages().empty());
}

} // namespace
} // namespace korv
