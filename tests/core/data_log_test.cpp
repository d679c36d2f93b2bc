// The data logs' text: every number checked against the C library's formatting of the same
// value, line by line, with the levels of a real analysis; and the log file on a full disk.

#include "analysis/point_level.h"
#include "display/column_analyzer.h"
#include "display/parallel_column_loop.h"
#include "output/data_log.h"
#include "output/log_file.h"

#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <vector>

namespace korv {
namespace {

std::string cFormat(const char* format, double v) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, v);
    return buffer;
}

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text.substr(0, width)
                                : text + std::string(width - text.size(), ' ');
}

// A bin's line: its number, its centre and its level in -90 .. 0 dB.
std::string binLine(long k, double hz, double db) {
    return padded(std::to_string(k), 6) + padded(cFormat("%-2.2f", hz), 9) +
           cFormat("%-2.1f", std::clamp(db, -90.0, 0.0));
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        lines.push_back(text.substr(at, end - at));
    }
    EXPECT_EQ(at, text.size()) << "text after the last CR LF";
    return lines;
}

LogSource source44k() {
    return {.wavePath = "/tmp/a.wav",
            .sampleRate = 44100,
            .fftSize = 1024,
            .startMsec = 250.7,
            .lowBandHz = 0,
            .highBandHz = 22050,
            .columnMsec = 5.5};
}

// Under a decimal-comma locale the logs still write points; the C library there would not.
class DecimalCommaLocale {
  public:
    DecimalCommaLocale() {
        const auto dir = std::filesystem::temp_directory_path() / "korv_locale";
        std::filesystem::create_directories(dir);
        const std::string make =
            "localedef -i de_DE -f UTF-8 " + (dir / "de_DE.UTF-8").string() + " 2>/dev/null";
        if (std::system(make.c_str()) >= 0) {
            setenv("LOCPATH", dir.c_str(), 1);
            active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        }
    }
    ~DecimalCommaLocale() {
        std::setlocale(LC_ALL, "C");
        unsetenv("LOCPATH");
    }
    [[nodiscard]] bool active() const { return active_; }

  private:
    bool active_ = false;
};

TEST(DataLog, FixedFormatMatchesTheCLibraryAndIgnoresTheLocale) {
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> any(-2000.0, 2000.0);
    std::vector<double> values{0.0, -0.0, -0.04, 0.05, 0.15, 0.25, 21.525, 1258.925, 99.995, 1e14};
    for (int i = 0; i < 40000; ++i) {
        values.push_back(i % 2 ? any(gen) : std::round(any(gen) * 400.0) / 1600.0);
    }
    for (const auto& [format, decimals] : {std::pair{"%-2.2f", 2}, std::pair{"%-2.1f", 1}}) {
        for (const double v : values) {
            std::string got;
            appendFixed(got, v, decimals);
            ASSERT_EQ(got, cFormat(format, v)) << v;
        }
    }
    DecimalCommaLocale german;
    if (!german.active()) {
        GTEST_SKIP() << "no de_DE locale could be made";
    }
    ASSERT_EQ(cFormat("%.1f", 1.5), "1,5");
    EXPECT_EQ(linesOf(ImageLogFormat(source44k()).header()).at(3), "43.07 Hz Frequency Resolution");
    const std::vector<float> levels(40, 123.0f);
    SpectrumLogPlot plot;
    plot.levels = levels;
    EXPECT_EQ(spectrumLogText(source44k(), plot).find(','), std::string::npos);
}

// Header and blocks of a stereo analysis, both cores, against values worked out here from
// the levels the analysis hands over.
TEST(DataLog, ImageLogLinesFollowTheAnalysis) {
    constexpr std::int32_t kRate = 8000;
    constexpr int kRows = 200;
    std::vector<std::uint8_t> bytes;
    for (long n = 0; n < 3 * kRate; ++n) {
        for (int c = 0; c < 2; ++c) {
            const double t = static_cast<double>(n) / kRate;
            const auto v = static_cast<std::int16_t>(
                30000.0 * std::sin(2.0 * std::numbers::pi * (200.0 + 600.0 * t) * t + c));
            test::putLe16(bytes, static_cast<std::uint16_t>(v));
        }
    }
    ColumnAnalysisInputs in;
    in.samples = bytes;
    in.channels = 2;
    in.sampleRate = kRate;
    in.run = {.log2FftSize = 9, .analysisWindowMsec = 64.0f, .hop = 2 * 2 * 80, .columns = 270};
    in.lowBandHz = 300;
    in.highBandHz = 3000;
    in.averageCountScroll = 3;
    in.corrections.setLevelScaleCode(-12); // +12 dB: some levels reach above 0 dB
    in.binLevels = true;
    auto image = SpectralImage::create({in.run.columns, 64, kRows + 20, 20, 2});
    ASSERT_TRUE(image);
    ParallelColumnLoop loop;
    ASSERT_EQ(loop.setup(in, *image, true), SetupResult::Ok);
    ASSERT_TRUE(loop.sharing());

    LogSource s{
        "C:/x.wav", kRate, 512, 40.0, in.lowBandHz, in.highBandHz, in.corrections.levelScaleCode()};
    s.columnMsec = 81 * 1000.0 / kRate;        // a hop of whole samples, not the 10 msec asked for
    s.windowCentreMsec = 256 * 1000.0 / kRate; // a 512-sample window peaks 32 msec in
    const ImageLogFormat format(s);
    // 10.125 msec a step, to the nearest msec.
    EXPECT_EQ(
        linesOf(format.header()),
        (std::vector<std::string>{"Korvanthile 6.0 Data", "C:/x.wav", "8000 Hz Sampling Rate",
                                  cFormat("%-2.2f", 8000.0 / 512) + " Hz Frequency Resolution",
                                  "40 msec Sample Start", "10 msec Time Step", ""}));
    // The step the columns really take, not the one asked for, to the nearest msec: 79 samples
    // at 8 kHz are 9.875 msec; 1 and 4 msec at 44.1 kHz are hops of 44 and 176 samples.
    for (const auto& [rate, samples, shown] :
         {std::tuple{kRate, 79, "10"}, std::tuple{44100, 44, "1"}, std::tuple{44100, 176, "4"},
          std::tuple{44100, 243, "6"}}) {
        LogSource hop = s;
        hop.columnMsec = samples * 1000.0 / rate;
        EXPECT_EQ(linesOf(ImageLogFormat(hop).header()).at(5),
                  std::string(shown) + " msec Time Step")
            << samples << " at " << rate;
    }

    const double bin = 8000.0 / 512;
    const long first = std::lround(300 / bin); // 19.2 -> 19
    const long last = std::lround(3000 / bin); // 192
    for (long x = 0; x < loop.columns(); ++x) {
        loop.analyzeColumn(x, *image);
        const auto levels = loop.averagedBins(SPECTRAL_LEFT_CHANNEL);
        ASSERT_EQ(levels.size(), 256u);
        std::string block;
        format.appendColumn(block, x, levels);
        const long msec = std::lround(static_cast<double>(x) * s.columnMsec + 72);
        std::vector<std::string> want{"", "Sample Time " + std::to_string(msec) + " msec",
                                      "Point Hz        dB"};
        for (long k = first; k < last; ++k) {
            const double db = levels[static_cast<std::size_t>(k)] / 4.0 - 90.0;
            want.push_back(binLine(k, static_cast<double>(k) * bin, db));
        }
        ASSERT_EQ(linesOf(block), want) << "column " << x;
    }
    // Levels outside -90 .. 0 dB are written at the limits.
    for (const auto& [level, text] : {std::pair{400.0f, "0.0"}, std::pair{-8.0f, "-90.0"}}) {
        std::string block;
        format.appendColumn(block, 0, std::vector<float>(256, level));
        EXPECT_EQ(linesOf(block).back().substr(15), text);
    }
}

// A clicked point's level is the averaged level of its bin at that moment: with one row per
// bin the column loop's averages give it.
TEST(DataLog, PointLevelIsTheColumnsAverageAtItsBin) {
    constexpr std::int32_t kRate = 8000;
    std::vector<std::uint8_t> bytes;
    for (long n = 0; n < kRate; ++n) {
        const auto v = static_cast<std::int16_t>(
            20000.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(n) / kRate) *
            (1.0 + static_cast<double>(n % 4000) / 4000.0) / 2.0);
        test::putLe16(bytes, static_cast<std::uint16_t>(v));
    }
    ColumnAnalysisInputs in;
    in.samples = bytes;
    in.sampleRate = kRate;
    in.run = {.log2FftSize = 9, .windowSamples = 400, .hop = 80, .columns = 90};
    in.highBandHz = kRate / 2;
    in.averageCountScroll = 3;
    in.corrections.setLevelScaleCode(-9);
    ColumnLevels levels;
    ASSERT_EQ(levels.setup(in, 256, in.run.columns), SetupResult::Ok);
    for (long x = 0; x < in.run.columns; ++x) {
        ASSERT_TRUE(levels.compute(x));
        if (x < 2) {
            continue; // the ring counts the columns before the first as zero
        }
        for (const int bin : {20, 64, 65, 200}) {
            const double avg = levels.averagedLevels(0)[static_cast<std::size_t>(bin)];
            const auto want = std::max(-90L, static_cast<long>(std::trunc(avg / 4.0 - 90.0)));
            ASSERT_EQ(pointLevelDb(in, 0, x * 80, bin * 15.625 + 3.0), want) << x << " " << bin;
        }
    }
    EXPECT_FALSE(pointLevelDb(in, 1, 0, 1000.0)); // a mono file has no second channel
}

TEST(DataLog, SpectrumLogOnTheThreeScales) {
    LogSource s = source44k();
    s.levelScaleCode = 3;
    std::vector<float> levels(300);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        levels[i] = static_cast<float>(i) * 1.7f - 20.0f; // -95 .. +32 dB
    }
    // The Linear lines are bins: each names its bin's centre and writes that bin's own level.
    std::vector<float> bins(512);
    for (std::size_t k = 0; k < bins.size(); ++k) {
        bins[k] = static_cast<float>(k) * 0.9f - 20.0f;
    }
    SpectrumLogPlot plot;
    plot.levels = levels;
    plot.binLevels = bins;
    const auto linear = linesOf(spectrumLogText(s, plot));
    ASSERT_EQ(linear.size(), 8u + 512u);
    EXPECT_EQ(linear[3], "43.07 Hz Frequency Resolution");
    EXPECT_EQ(linear[4], "250 msec Event Time");
    EXPECT_EQ(linear[6], "Num  Hz       dB");
    const auto level = [&](std::size_t p) { return levels[p] / 4.0 - 3 - 90.0; };
    for (long k = 0; k < 512; ++k) {
        const double hz = static_cast<double>(k) * 44100.0 / 1024;
        const double db = bins[static_cast<std::size_t>(k)] / 4.0 - 3 - 90.0;
        ASSERT_EQ(linear[static_cast<std::size_t>(8 + k)], binLine(k, hz, db));
    }
    EXPECT_EQ(linear[8 + 23].substr(6, 9), "990.53   "); // 1 kHz lies in bin 23

    plot.scale = SpectrumLogScale::Log;
    s.lowBandHz = 100;
    s.highBandHz = 22050;
    plot.firstPointSpanHz = 43.0;
    const auto log = linesOf(spectrumLogText(s, plot));
    ASSERT_EQ(log.size(), 8u + 300u);
    EXPECT_EQ(log[3], "Log Frequency Scale");
    EXPECT_EQ(log[6], "Freq Band, Hz       dB");
    for (std::size_t r = 0; r < 300; ++r) {
        const double step = std::log10(22050.0 / 100) / 300;
        const double lg = 2.0 + static_cast<double>(r) * step;
        const double lower = r == 0 ? 100.0 : std::pow(10.0, lg - step);
        const double half = std::max((std::pow(10.0, lg + step) - lower) / 4, 44100.0 / 2048);
        char band[64];
        std::snprintf(band, sizeof band, "%-5i +/- %-5i ",
                      static_cast<int>(std::pow(10.0, lg) + 0.5), static_cast<int>(half + 0.5));
        ASSERT_EQ(log[8 + r],
                  padded(band, 20) + cFormat("%-2.1f", std::clamp(level(r), -90.0, 0.0)));
    }
    plot.firstPointSpanHz = 1.0;
    EXPECT_EQ(
        linesOf(spectrumLogText(s, plot))[8].substr(0, 20),
        padded(cFormat("%-2.2f", 100.0) + " +/- " + cFormat("%-2.2f", 44100.0 / 2048) + " ", 20));

    plot.scale = SpectrumLogScale::ThirdOctave;
    plot.firstBand = 17;
    plot.upperBand = 44;
    const auto oct = linesOf(spectrumLogText(s, plot));
    ASSERT_EQ(oct.size(), 8u + 27u);
    EXPECT_EQ(oct[3], "1/3 Octave Frequency Scale");
    EXPECT_EQ(oct[6], "Bnd  Cntr Hz  dB");
    for (std::size_t i = 0; i < 27; ++i) {
        ASSERT_EQ(
            oct[8 + i],
            padded(std::to_string(17 + i), 5) +
                padded(cFormat("%-2.2f", std::pow(10.0, static_cast<double>(17 + i) / 10.0)), 9) +
                cFormat("%-2.1f", level(i * 300 / 27))); // below -90: not clamped
    }
    EXPECT_EQ(oct[8 + 31 - 17].substr(5, 9), "1258.93  ");
    // With the bands the plot shows, a band's row takes the first point that shows it.
    std::vector<int> shown(300);
    for (std::size_t r = 0; r < shown.size(); ++r) {
        shown[r] = 17 + static_cast<int>(r * 27 / 290);
    }
    plot.pointBands = shown;
    const auto octShown = linesOf(spectrumLogText(s, plot));
    for (std::size_t i = 0; i < 27; ++i) {
        const auto first = static_cast<std::size_t>(
            std::find(shown.begin(), shown.end(), 17 + static_cast<int>(i)) - shown.begin());
        ASSERT_EQ(octShown[8 + i].substr(14), cFormat("%-2.1f", level(first)));
    }

    std::string cut;
    appendPadded(cut, "1000000.00", 9);
    EXPECT_EQ(cut, "1000000.0");
}

// The header and rows of the point log (its appending to an existing log is the window's
// Log Points test's).
TEST(DataLog, PointLogHeaderAndRows) {
    const test::TempFolder temp;
    const std::string path = temp.file("points.txt");
    LogFile file;
    ASSERT_FALSE(file.openExisting(path));
    ASSERT_TRUE(file.create(path));
    file.write(pointLogHeader(source44k()));
    file.write(pointLogRow(1250, 440, -12));
    file.write(pointLogRow(75, 13000, -90));
    ASSERT_TRUE(file.close());
    const test::Bytes text = test::readFile(path);
    const std::vector<std::string> want{"Korvanthile 6.0 Data",
                                        "/tmp/a.wav",
                                        "44100 Hz Sampling Rate",
                                        "1024 Point FFT",
                                        "",
                                        "Time (msec),  Freq (Hz),    Level (dB)",
                                        "",
                                        "1250          440           -12",
                                        "75            13000         -90"};
    EXPECT_EQ(linesOf(std::string(text.begin(), text.end())), want);
}

TEST(DataLog, AFullDiskIsReported) {
    LogFile file;
    ASSERT_TRUE(file.create("/dev/full"));
    file.write("Korvanthile 6.0 Data\r\n");
    EXPECT_FALSE(file.flush());
    EXPECT_TRUE(file.failed());
    EXPECT_FALSE(file.write("more"));
    EXPECT_FALSE(file.close());
    EXPECT_FALSE(file.create("/nonexistent/dir/log.txt"));
}

} // namespace
} // namespace korv
