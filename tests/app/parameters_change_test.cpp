// Parameters Change and Restore after Analyze File: the held samples analysed again with
// other values, a dragged stretch, a new rate, and Restore bringing the old image back.

#include "support/analyze_fixture.h"
#include "support/dialog_controls.h"
#include "support/prompt_checks.h"

namespace korv {
namespace {

using namespace test;

// Held, and read from the file over the holding limit: the same images both ways.
TEST_F(AnalyzeFileTest, ParametersChangeThenRestoreBringsBackTheSameImage) {
    // Before and changed, held then from the file.
    std::vector<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> images;
    for (const bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "read from the file" : "held");
        window->state().analysis.holdLimitBytes = fromFile ? 1024 : HELD_SEGMENT_LIMIT_BYTES;
        settings().log2FftSize = 10;
        analyze(write("change.wav",
                      test::waveFile(kRate, 1, 16, kRate * 2, test::sines({1000.0, 0.0}, kRate))));
        ASSERT_TRUE(window->state().held.spectralImage);
        ASSERT_EQ(window->state().held.fileSegment.has_value(), fromFile);
        const std::vector<std::uint8_t> before = imageBytes();
        const long columnsBefore = window->state().analysis.run.params.columns;

        prompts->queueDialog([](QDialog& d) {
            radio(d, FFT_SIZE_CHOICE_FIRST + 3)->click();
            ScriptedPrompts::pressOk(d);
        });
        window->commands().send(cmd::kParametersChange, 0);
        ASSERT_TRUE(window->state().held.spectralImage);
        EXPECT_EQ(window->state().held.fileSegment.has_value(), fromFile);
        EXPECT_EQ(settings().fftSize(), 4096);
        const std::vector<std::uint8_t> changed = imageBytes();
        EXPECT_NE(changed, before);
        EXPECT_TRUE(window->menu().enabled(cmd::kParametersRestore));

        window->commands().send(cmd::kParametersRestore, 0);
        ASSERT_TRUE(window->state().held.spectralImage);
        EXPECT_EQ(window->state().held.fileSegment.has_value(), fromFile);
        EXPECT_EQ(imageBytes(), before);
        EXPECT_EQ(window->state().analysis.run.params.columns, columnsBefore);
        EXPECT_EQ(settings().fftSize(), 1024);
        EXPECT_FALSE(window->menu().enabled(cmd::kParametersRestore));
        EXPECT_TRUE(prompts->unscripted().isEmpty());
        images.emplace_back(before, changed);
    }
    EXPECT_TRUE(images[1] == images[0]);
}

// Each Change works on the stretch loaded now; Restore returns to the one before the first.
TEST_F(AnalyzeFileTest, ASecondChangeSelectsWithinTheFirstOnesStretchAndANewRateReadsTheSame) {
    analyze(tone("twice.wav", kRate * 2));
    ASSERT_TRUE(window->state().held.spectralImage);
    const AnalysisRun original = window->state().analysis.run;
    const std::vector<std::uint8_t> originalImage = imageBytes();
    const std::int64_t byteRate = std::int64_t{kRate} * 2;
    const auto changeSelected = [&](std::int64_t beginMsec, std::int64_t endMsec) {
        window->state().analysis.selection =
            Selection{byteRate * beginMsec / 1000, byteRate * endMsec / 1000};
        prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressOk(d); });
        window->commands().send(cmd::kParametersChange, 1);
    };
    changeSelected(500, 1500);
    const AnalysisRun first = window->state().analysis.run;
    EXPECT_EQ(first.segmentStartByte, original.segmentStartByte + byteRate / 2);
    EXPECT_EQ(first.beginMsec, 500);
    const std::vector<std::uint8_t> firstImage = imageBytes();

    // A second dialog cancelled: the first Change's image and samples stay, nothing more is
    // held, Restore still waits.
    const int held = openAllocations();
    prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressCancel(d); });
    window->commands().send(cmd::kParametersChange, 0);
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(imageBytes(), firstImage);
    EXPECT_EQ(window->state().analysis.run.segmentStartByte, first.segmentStartByte);
    EXPECT_TRUE(window->state().held.samples.has_value());
    EXPECT_EQ(openAllocations(), held);

    changeSelected(250, 750);
    // Whole frames: 250 msec is 5512.5 frames at 22050 Hz.
    EXPECT_EQ(window->state().analysis.run.segmentStartByte,
              first.segmentStartByte + std::int64_t{kRate} / 4 * 2);
    EXPECT_EQ(window->state().analysis.run.beginMsec, 750);
    EXPECT_EQ(window->state().analysis.run.segmentBytes, byteRate / 2);

    window->commands().send(cmd::kParametersRestore, 0);
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(window->state().analysis.run.segmentStartByte, original.segmentStartByte);
    EXPECT_EQ(imageBytes(), originalImage);

    // A new rate in the Change dialog reads the same samples slower: the dragged stretch (500
    // to 1500 msec), and a 1000 Hz tone heard at half the rate lies at 500 Hz.
    window->state().analysis.selection = Selection{byteRate / 2, byteRate * 3 / 2};
    prompts->queueDialog([](QDialog& d) {
        ASSERT_TRUE(ScriptedPrompts::clickButton(d, ID_NEW_RATE));
        setEdit(d, ID_RATE_EDIT, QString::number(kRate / 2));
        ASSERT_TRUE(ScriptedPrompts::clickButton(d, ID_NEW_RATE));
        ScriptedPrompts::pressOk(d);
    });
    window->commands().send(cmd::kParametersChange, 1);
    ASSERT_TRUE(window->state().held.spectralImage);
    const AnalysisRun& after = window->state().analysis.run;
    EXPECT_EQ(after.format.sampleRate, kRate / 2);
    EXPECT_EQ(std::pair(after.segmentStartByte, after.segmentBytes),
              std::pair(original.segmentStartByte + kRate, std::int64_t{kRate} * 2));
    // Times in the new rate: the stretch now lasts two seconds from the first.
    EXPECT_EQ(after.beginMsec, 1000);
    EXPECT_EQ(after.endMsec, 3000);
    EXPECT_NEAR(brightestRow(20, after.plotHeight), rowOf(500.0), 2);
    EXPECT_TRUE(prompts->unscripted().isEmpty());

    // Closed without a Restore: the image and samples kept for it go too, so no beep.
    EXPECT_TRUE(window->close());
    EXPECT_EQ(openAllocations(), 0);
    EXPECT_EQ(prompts->beeps(), 0);
}

// Data without a header read again as stereo: two bands, and the settings say so too; a
// resize analyses it again in that format.
TEST_F(AnalyzeFileTest, ChangeReadsDataWithoutAHeaderInTheFormatChosenAlsoAfterAResize) {
    analyze(rawTone());
    ASSERT_TRUE(window->state().held.spectralImage);
    ASSERT_EQ(window->state().analysis.run.format.channels, 1);
    const std::int64_t bytes = window->state().analysis.run.segmentBytes;
    prompts->queueDialog(readAsStereo);
    window->commands().send(cmd::kParametersChange, 0);
    for (const bool resized : {false, true}) {
        SCOPED_TRACE(resized ? "after a resize" : "after the change");
        ASSERT_TRUE(window->state().held.spectralImage);
        EXPECT_EQ(window->state().analysis.run.format.channels, 2);
        EXPECT_TRUE(settings().stereo);
        EXPECT_EQ(image().height(), 2 * window->state().view.layout.plotHeight);
        EXPECT_EQ(window->state().analysis.run.segmentBytes, bytes);
        EXPECT_EQ(window->state().held.samples->heldBytes(), bytes);
        shrinkWindow();
    }
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// Files faster than 48 kHz are analysed again like any other: from the dialog, a drag and a
// finer time scale.
TEST_F(AnalyzeFileTest, AChangeAnalysesAFastFileAgain) {
    constexpr int kFast = 96000;
    settings().highBandHz = kFast / 2;
    analyze(
        write("fast.wav", test::waveFile(kFast, 1, 16, kFast * 2, test::sines({30000.0}, kFast))));
    ASSERT_TRUE(window->state().held.spectralImage);
    const std::int64_t byteRate = std::int64_t{kFast} * 2;
    prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressOk(d); });
    window->commands().send(cmd::kParametersChange, 0);
    window->state().analysis.selection = Selection{byteRate / 2, byteRate};
    prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressOk(d); });
    window->commands().send(cmd::kParametersChange, 1);
    EXPECT_EQ(run().segmentBytes, byteRate / 2);
    QTest::keyClick(window.get(), Qt::Key_Plus);
    EXPECT_TRUE(prompts->messages().empty()) << lastMessage(*prompts);
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(run().format.sampleRate, kFast);
    EXPECT_NEAR(brightestRow(20, run().plotHeight), rowOf(30000.0), 2);
    EXPECT_TRUE(window->menu().enabled(cmd::kParametersRestore));
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// A resize after a Change draws the Change's stretch again, no longer, and Restore still
// brings back the picture from before it.
TEST_F(AnalyzeFileTest, AResizeAfterAChangeKeepsItsStretchAndRestore) {
    analyze(tone("resized.wav", kRate * 3));
    ASSERT_TRUE(window->state().held.spectralImage);
    const AnalysisRun original = run();
    const std::int64_t byteRate = std::int64_t{kRate} * 2;
    // The stretch 1000 to 2000 msec, its end asked past the data once the frame is added.
    window->state().analysis.selection = Selection{byteRate, byteRate * 2};
    prompts->queueDialog([](QDialog& d) { ScriptedPrompts::pressOk(d); });
    window->commands().send(cmd::kParametersChange, 1);
    ASSERT_TRUE(window->state().held.spectralImage);
    const AnalysisRun changed = run();
    EXPECT_EQ(changed.segmentBytes, byteRate);
    EXPECT_EQ(std::pair(changed.beginMsec, changed.endMsec), std::pair(1000L, 2000L));

    for (int pass = 0; pass < 2; ++pass) {
        shrinkWindow();
        ASSERT_TRUE(window->state().held.spectralImage);
        EXPECT_EQ(run().segmentStartByte, changed.segmentStartByte);
        EXPECT_EQ(run().segmentBytes, changed.segmentBytes);
        EXPECT_EQ(run().params.columns, changed.params.columns);
        EXPECT_TRUE(window->menu().enabled(cmd::kParametersRestore));
    }
    window->commands().send(cmd::kParametersRestore, 0);
    EXPECT_EQ(run().segmentBytes, original.segmentBytes);
    EXPECT_EQ(run().params.columns, original.params.columns);

    // A Change over the whole stretch stores the end it analysed, not the one asked for.
    prompts->queueDialog([](QDialog& d) {
        setEdit(d, ID_END_EDIT, QStringLiteral("9000"));
        ScriptedPrompts::pressOk(d);
    });
    window->commands().send(cmd::kParametersChange, 0);
    EXPECT_EQ(run().endMsec, original.segmentBytes * 1000 / byteRate);
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

} // namespace
} // namespace korv
