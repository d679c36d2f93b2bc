#include "analysis/parameters.h"
#include "settings/settings_inputs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <tuple>

namespace korv {
namespace {

std::string firstText(const CheckResult& result) {
    return result.messages.empty() ? std::string("<none>") : result.messages.front().text;
}

TEST(FftSize, IsKeptToTheOfferedSizes) {
    EXPECT_EQ(offeredLog2FftSize(3), 9);
    EXPECT_EQ(offeredLog2FftSize(20), 14);
    // The analysis takes the size itself, kept to the offered ones too.
    EXPECT_EQ(deriveRunParameters({20, 10, 4.0f}, RunFormat{8000, 1, 2}, 0).fftSize, 16384);
    EXPECT_EQ(deriveRunParameters({3, 10, 4.0f}, RunFormat{8000, 1, 2}, 0).fftSize, 512);
}

// The record's choices reach each part's inputs as the values they are.
TEST(SettingsInputs, ChoicesTravelAsValues) {
    AppSettings s;
    s.log2FftSize = offeredLog2FftSize(12);
    s.frequencyScale = FrequencyScale::Log;
    s.dbRange = DbRange::Db90;
    s.palette = PaletteName::User;
    s.channel = StereoChannel::Right;
    s.stereo = true;
    EXPECT_EQ(analysisInputsFrom(s).log2FftSize, 12);
    EXPECT_EQ(s.fftSize(), 4096);

    s.displayType = DisplayType::BarPlot;
    s.plotType = PlotType::LrDelta;
    const ScopeOptions bars = scopeOptions(s, {}, false);
    EXPECT_EQ(std::tuple(bars.displayType, bars.plotType, bars.dbRange, bars.stereo, bars.channel),
              std::tuple(DisplayType::BarPlot, PlotType::LrDelta, DbRange::Db90, true,
                         StereoChannel::Right));
    s.displayType = DisplayType::LinePlot;
    s.plotType = PlotType::PeakDelta;
    s.channel = StereoChannel::Dual;
    s.stereo = false;
    const ScopeOptions line = scopeOptions(s, {}, false);
    EXPECT_EQ(std::tuple(line.displayType, line.plotType, line.stereo, line.channel),
              std::tuple(DisplayType::LinePlot, PlotType::PeakDelta, false, StereoChannel::Dual));

    s.pitchDetector = true;
    const ScanLoopInputs scan = scanLoopInputs(s, 22050, 2, RunParameters{});
    EXPECT_EQ(std::tuple(scan.pitchDetector, scan.frequencyScale, scan.sampleRate, scan.channels),
              std::tuple(true, FrequencyScale::Log, 22050, 2));
    EXPECT_EQ(scan.liveLevelScaleCode, &s.levelScaleCode);
}

TEST(RunParameters, WindowFollowsResolutionFactorAndColumnsCountWholeHops) {
    const RunFormat mono{44100, 1, 2};
    const RunParameters full = deriveRunParameters({11, 10, 4.0f}, mono, 1 << 20);
    EXPECT_EQ(std::pair(full.fftSize, full.log2FftSize), std::pair(2048, 11));
    EXPECT_DOUBLE_EQ(full.binWidthHz, 44100.0 / 2048.0);
    EXPECT_DOUBLE_EQ(full.freqResolutionHz, 44100.0 / 2048.0);
    EXPECT_NEAR(full.analysisWindowMsec, 2048.0 * 1000.0 / 44100.0, 1e-3);

    const RunParameters half = deriveRunParameters({11, 20, 4.0f}, mono, 1 << 20);
    EXPECT_NEAR(half.analysisWindowMsec, 1024.0 * 1000.0 / 44100.0, 1e-3);
    EXPECT_DOUBLE_EQ(half.freqResolutionHz, 2.0 * 44100.0 / 2048.0);

    const RunParameters tenth = deriveRunParameters({9, 100, 4.0f}, RunFormat{8000, 1, 2}, 0);
    EXPECT_NEAR(tenth.analysisWindowMsec, 6.4f, 1e-4);

    // The columns: whole hops after the first frame.
    // 44100 samples mono, N 1024, hop 176: (44100 - 1024) / 176 = 244.75.
    const RunParameters columns = deriveRunParameters({10, 10, 4.0f}, mono, 88200);
    EXPECT_EQ(std::pair(columns.hop, columns.columns), std::pair(176L, 244L));
    // Stereo 8 bit: 10000 bytes = 10000 samples, N x 2 = 1024, hop 352: 8976 / 352 = 25.5.
    const RunParameters stereo = deriveRunParameters({9, 10, 4.0f}, RunFormat{44100, 2, 1}, 10000);
    EXPECT_EQ(std::pair(stereo.hop, stereo.columns), std::pair(352L, 25L));
    EXPECT_EQ(columnCount(1000, 1024, 1, 100), 0);
    EXPECT_EQ(columnCount(100000, 1024, 1, 0), 0);
}

TEST(RunParameters, HopRoundsHalfUpAndKeepsWholeFrames) {
    struct Case {
        int channels;
        float msec;
        std::int32_t rate;
        long hop; // worked out by hand
    };
    const Case cases[] = {
        {2, 4.0f, 44100, 352}, // 352.8 -> 353 -> odd, lowered
        {1, 4.0f, 44100, 176}, // 176.4
        {1, 4.5f, 1000, 5},    // 4.5 -> half rounds up
        {2, 4.0f, 48000, 384}, // exact and even
        {2, 1.0f, 11025, 22},  // 22.05
        {2, 0.75f, 2000, 2},   // 3.0 -> odd, lowered
        {2, 0.25f, 2000, 0},   // 1.0 -> odd, lowered to nothing
        {1, 0.04f, 11025, 0},  // 0.441
        {1, -4.0f, 11025, -44},
        {1, std::numeric_limits<float>::quiet_NaN(), 11025, 0}, // a hostile settings file
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hopSamples(c.channels, c.msec, c.rate), c.hop)
            << c.channels << " ch, " << c.msec << " ms, " << c.rate << " Hz";
    }
}

AnalyzeFileCheckInputs goodSegment() {
    return {.analysisWindowMsec = 23.2f,
            .beginByte = 0,
            .endByte = 100000,
            .dataBytes = 100000,
            .lowBandHz = 0,
            .highBandHz = 6000};
}

TEST(AnalyzeFileChecks, FirstFailingCheckWinsInOrder) {
    AnalyzeFileCheckInputs in = goodSegment();
    // Everything wrong at once, then mended one by one.
    in.analysisWindowMsec = 0.5f;
    in.beginByte = 500;
    in.endByte = 400;
    in.frequencyScale = FrequencyScale::Log; // from 0 Hz
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"FFT Window Too Small", [&] { in.analysisWindowMsec = 1.0f; }}, // exactly 1.0 passes
        {"Improper Begin or End", [&] { in.endByte = 2000; }},
        {"Sample Size Too Small", [&] { in.endByte = 500 + 2048; }}, // exactly 2048 bytes passes
        {"Improper Frequency Limits", [&] { in.lowBandHz = 100; }},
    };
    for (const auto& [text, mend] : steps) {
        const CheckResult r = checkAnalyzeFileSegment(in);
        EXPECT_EQ(r.messages, (std::vector<UserMessage>{{text, MessageIcon::Stop}}));
        EXPECT_EQ(r.outcome, CheckOutcome::ShowDialogAgain) << text;
        mend();
    }
    const CheckResult ok = checkAnalyzeFileSegment(in);
    EXPECT_TRUE(ok.proceeds());
    EXPECT_TRUE(ok.messages.empty());
}

TEST(AnalyzeFileChecks, TheSegmentLiesInTheFileAndTheBandGivesRows) {
    const auto text = [](std::int64_t begin, std::int64_t end,
                         FrequencyScale scale = FrequencyScale::Linear, std::int32_t low = 0,
                         std::int32_t high = 6000) {
        AnalyzeFileCheckInputs in = goodSegment();
        in.beginByte = begin;
        in.endByte = end;
        in.frequencyScale = scale;
        in.lowBandHz = low;
        in.highBandHz = high;
        return firstText(checkAnalyzeFileSegment(in));
    };
    EXPECT_EQ(text(-2, 50000), "Improper Begin or End");
    EXPECT_EQ(text(0, 100001), "Improper Begin or End");
    EXPECT_EQ(text(100002, 100004), "Improper Begin or End");
    EXPECT_EQ(text(6000, 5000), "Improper Begin or End");
    EXPECT_EQ(text(5000, 5000), "Sample Size Too Small");
    EXPECT_EQ(text(5000, 7047), "Sample Size Too Small");
    EXPECT_EQ(text(0, 100000), "<none>");
    EXPECT_EQ(text(0, 100000, FrequencyScale::Log, 0, 6000), "Improper Frequency Limits");
    EXPECT_EQ(text(0, 100000, FrequencyScale::Log, 1, 6000), "<none>");
    EXPECT_EQ(text(0, 100000, FrequencyScale::Linear, 3000, 3000), "Improper Frequency Limits");
    EXPECT_EQ(text(0, 100000, FrequencyScale::Linear, -10, 3000), "Improper Frequency Limits");
}

TEST(AnalyzeFileChecks, HopThenColumnsRestoreAndEnd) {
    const CheckResult both = checkAnalyzeFileColumns(0, 0);
    EXPECT_EQ(firstText(both), "Improper Entry");
    EXPECT_EQ(both.outcome, CheckOutcome::RestoreAndEnd);
    EXPECT_EQ(both.messages[0].icon, MessageIcon::Stop);
    const CheckResult columns = checkAnalyzeFileColumns(352, 0);
    EXPECT_EQ(firstText(columns), "Time Scale Too Small");
    EXPECT_EQ(columns.outcome, CheckOutcome::RestoreAndEnd);
    EXPECT_TRUE(checkAnalyzeFileColumns(1, 1).proceeds());
}

ParametersChangeInputs goodChange() {
    return {.beginFrame = 0,
            .endFrame = 10000,
            .loadedFrames = 50000,
            .fftSize = 1024,
            .sampleRate = 22050,
            .timeScaleMsec = 4.0f,
            .analysisWindowMsec = 46.4f,
            .bytesPerFrame = 2,
            .lowBandHz = 0,
            .highBandHz = 6000};
}

TEST(ParametersChangeChecks, FirstFailingCheckWinsInOrder) {
    ParametersChangeInputs in = goodChange();
    in.beginFrame = 60000;
    in.endFrame = 70000;
    in.sampleRate = 3999;
    in.timeScaleMsec = 500.5f;
    in.analysisWindowMsec = 0.9f;
    in.frequencyScale = FrequencyScale::Log; // from 0 Hz
    ParametersChangeCheck r;
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"Improper Begin or End",
         [&] {
             in.beginFrame = 20000;
             in.endFrame = 21023; // 2046 bytes
         }},
        {"Sample Rate Out of Range",
         [&] {
             EXPECT_EQ(r.sampleRate, 11025);
             in.sampleRate = 48000;
         }},
        {"Time Scale Out of Range", [&] { in.timeScaleMsec = 500.0f; }},
        {"FFT Window Too Small", [&] { in.analysisWindowMsec = 1.0f; }},
        {"Sample Size Too Small", [&] { in.endFrame = 21024; }}, // 2048 bytes
        {"Improper Frequency Limits", [&] { in.lowBandHz = 20; }},
    };
    for (const auto& [text, mend] : steps) {
        r = checkParametersChange(in);
        EXPECT_EQ(r.check.messages, (std::vector<UserMessage>{{text, MessageIcon::Stop}}));
        EXPECT_EQ(r.check.outcome, CheckOutcome::RestoreAndEnd) << text;
        mend();
    }
    const ParametersChangeCheck ok = checkParametersChange(in);
    EXPECT_TRUE(ok.check.proceeds());
    EXPECT_EQ(ok.sampleRate, 48000);
    EXPECT_EQ(ok.endFrame, 21024);
}

TEST(ParametersChangeChecks, RangesAndEndNearTheData) {
    const auto text = [](auto mend) {
        ParametersChangeInputs in = goodChange();
        mend(in);
        return firstText(checkParametersChange(in).check);
    };
    EXPECT_EQ(text([](auto& in) { in.beginFrame = in.endFrame; }), "Improper Begin or End");
    EXPECT_EQ(text([](auto& in) { in.beginFrame = 50001; }), "Improper Begin or End");
    // Every rate a file is read at is analysed again.
    EXPECT_EQ(text([](auto& in) { in.sampleRate = 96000; }), "<none>");
    EXPECT_EQ(text([](auto& in) { in.sampleRate = 384000; }), "<none>");
    EXPECT_EQ(text([](auto& in) { in.sampleRate = 384001; }), "Sample Rate Out of Range");
    EXPECT_EQ(text([](auto& in) { in.sampleRate = 3999; }), "Sample Rate Out of Range");
    EXPECT_EQ(text([](auto& in) { in.sampleRate = 4000; }), "<none>");
    EXPECT_EQ(text([](auto& in) { in.timeScaleMsec = 0.99f; }), "Time Scale Out of Range");
    EXPECT_EQ(text([](auto& in) { in.timeScaleMsec = 1.0f; }), "<none>");

    ParametersChangeInputs in = goodChange();
    in.endFrame = 50000 - 1024; // within one frame of the end
    EXPECT_EQ(checkParametersChange(in).endFrame, 50000);
    in.endFrame = 50000 - 1025;
    EXPECT_EQ(checkParametersChange(in).endFrame, 50000 - 1025);
    in.endFrame = 80000; // past the data: pulled back, never read beyond it
    EXPECT_EQ(checkParametersChange(in).endFrame, 50000);
}

AutomaticParameters derived(std::int32_t low, std::int32_t high, std::int32_t rate, int span,
                            int width = 800, int height = 400) {
    return deriveAutomaticParameters(AutomaticInputs{low, high, 10, rate, span, width, height});
}

TEST(AutomaticParameters, BandAndSpanChecksAndTheForcedBand) {
    const AutomaticParameters limited = derived(0, 30000, 44100, 10);
    EXPECT_TRUE(limited.check.proceeds());
    EXPECT_EQ(limited.check.messages,
              (std::vector<UserMessage>{
                  {"Highest Frequency Limited to 1/2 Sampling Rate", MessageIcon::Warning}}));
    EXPECT_EQ(limited.highBandHz, 22050);

    const AutomaticParameters ten = derived(100, 110, 44100, 10);
    EXPECT_TRUE(ten.check.proceeds());
    EXPECT_TRUE(ten.check.messages.empty());

    const AutomaticParameters nine = derived(100, 109, 44100, 10);
    EXPECT_EQ(nine.check.outcome, CheckOutcome::End);
    EXPECT_EQ(firstText(nine.check), "Improper Frequency Limits");

    // The limit is cut first, and then the band is too narrow: both messages, in order.
    const AutomaticParameters both = derived(11020, 30000, 22050, 10);
    EXPECT_EQ(both.check.messages,
              (std::vector<UserMessage>{
                  {"Highest Frequency Limited to 1/2 Sampling Rate", MessageIcon::Warning},
                  {"Improper Frequency Limits", MessageIcon::Stop}}));
    EXPECT_EQ(both.check.outcome, CheckOutcome::End);

    const AutomaticParameters span = derived(0, 5000, 44100, 0);
    EXPECT_EQ(span.check.outcome, CheckOutcome::End);
    EXPECT_EQ(firstText(span.check), "Improper Time Span");
    // The band forced on command-line files: all of it, from 100 Hz on the log scale.
    EXPECT_EQ(forcedBandLimits(FrequencyScale::Linear, 44100), (BandLimits{0, 22050}));
    EXPECT_EQ(forcedBandLimits(FrequencyScale::Log, 11025), (BandLimits{100, 5512}));
}

TEST(AutomaticParameters, TimeScaleAndFftSize) {
    // r = 22050 x 2 / 400 = 110.25, N' = 400, log2 = 8.64 -> 9; 11.6 ms <= 12 x 12.5 ms.
    const AutomaticParameters a = derived(0, 22050, 44100, 10);
    EXPECT_FLOAT_EQ(a.timeScaleMsec, 12.5f);
    EXPECT_EQ(a.log2FftSize, 9);
    EXPECT_FLOAT_EQ(a.freqResolutionHz, 44100.0f / 512.0f);
    EXPECT_NEAR(a.analysisWindowMsec, 512.0 * 1000.0 / 44100.0, 1e-3);

    // r = 4, N' = 11025, log2 = 13.43 -> 13: 185.8 ms > 12 x 1 ms, so N' = 529.2 -> 9.05 -> 9.
    const AutomaticParameters b = derived(0, 1000, 44100, 1, 1000, 500);
    EXPECT_FLOAT_EQ(b.timeScaleMsec, 1.0f);
    EXPECT_EQ(b.log2FftSize, 9);

    // r = 4, N' = 11025 -> 8192; 185.8 ms <= 12 x 50 ms.
    const AutomaticParameters c = derived(0, 1000, 44100, 50, 1000, 500);
    EXPECT_EQ(c.log2FftSize, 13);

    // Far too fine or too coarse a resolution stays within 512 .. 16384.
    EXPECT_EQ(derived(0, 100, 48000, 100, 100, 1000).log2FftSize, 14);
    EXPECT_EQ(derived(0, 22050, 44100, 1, 1000, 10).log2FftSize, 9);
    // A window not laid out yet divides by nothing.
    const AutomaticParameters empty = derived(0, 5000, 44100, 5, 0, 0);
    EXPECT_TRUE(empty.check.proceeds());
    EXPECT_GE(empty.log2FftSize, MIN_LOG2_FFT_SIZE);
    EXPECT_LE(empty.log2FftSize, MAX_LOG2_FFT_SIZE);

    AppSettings settings;
    applyAutomaticParameters(c, settings);
    EXPECT_EQ(settings.fftSize(), 8192);
    EXPECT_FLOAT_EQ(settings.timeScaleMsec, 50.0f);
    EXPECT_FLOAT_EQ(settings.timeScaleMsecSaved, 50.0f);
    EXPECT_FLOAT_EQ(settings.freqResolutionHz, 44100.0f / 8192.0f);
    EXPECT_EQ(settings.highBandHz, 1000);
}

} // namespace
} // namespace korv
