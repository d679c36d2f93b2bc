// korvanthile-cli: the level table as log and CSV, the third-octave bands of known signals,
// and the executable run as a server would, without a display, on good and hostile files.

#include "analysis/band_levels.h"
#include "analysis/calibration_edit.h"
#include "cli/cli_jobs.h"
#include "cli/cli_outputs.h"
#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <numeric>
#include <sstream>

namespace korv::cli {
namespace {

using test::Bytes;

constexpr std::uint32_t kRate = 44100;
constexpr std::int64_t kMemory = std::int64_t{1} << 30;

Bytes mono16(const std::vector<double>& values) {
    Bytes out;
    for (const double v : values) {
        test::putLe16(out, static_cast<std::uint16_t>(
                               static_cast<std::int16_t>(std::clamp(v, -32767.0, 32767.0))));
    }
    return test::pcmWaveFile(16, 1, kRate, 16, out);
}

std::vector<double> sine(double hz, double seconds) {
    std::vector<double> v(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < v.size(); ++i) {
        v[i] = 16000.0 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / kRate);
    }
    return v;
}

// White noise through a sum of first-order lowpasses: -3 dB an octave within a dB from
// tens of Hz to the top of the band.
std::vector<double> pinkNoise(double seconds) {
    std::mt19937 gen(7);
    std::normal_distribution<double> white(0.0, 1.0);
    std::vector<double> v(static_cast<std::size_t>(seconds * kRate));
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    for (double& s : v) {
        const double w = white(gen);
        b0 = 0.99886 * b0 + w * 0.0555179;
        b1 = 0.99332 * b1 + w * 0.0750759;
        b2 = 0.96900 * b2 + w * 0.1538520;
        b3 = 0.86650 * b3 + w * 0.3104856;
        b4 = 0.55000 * b4 + w * 0.5329522;
        b5 = -0.7616 * b5 - w * 0.0168980;
        s = 1500.0 * (b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362);
        b6 = w * 0.115926;
    }
    return v;
}

std::vector<std::vector<std::string>> csvRows(const std::string& path) {
    const Bytes bytes = test::readFile(path);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string>& row = rows.emplace_back();
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, ',');) {
            row.push_back(f);
        }
    }
    return rows;
}

RunSettings defaults() {
    return {wholeFileSettings(AppSettings{}), kCbPalette, {}};
}

class CliTest : public ::testing::Test {
  protected:
    std::string wave(const std::string& name, const Bytes& bytes) {
        test::writeFile(dir.file(name), bytes);
        return dir.file(name);
    }
    test::TempFolder dir;
};

TEST_F(CliTest, LevelsCsvHoldsTheLogsNumbersOneRowPerColumn) {
    const std::string file = wave("tone.wav", mono16(sine(1500.0, 1.0)));
    Options o;
    o.command = Command::Levels;
    ASSERT_EQ(processFile(o, defaults(), file, kMemory), std::nullopt);
    o.csv = true;
    ASSERT_EQ(processFile(o, defaults(), file, kMemory), std::nullopt);

    // The log: per column a "Sample Time" block of "point Hz dB" lines.
    const Bytes logBytes = test::readFile(dir.file("tone.txt"));
    std::istringstream log(std::string(logBytes.begin(), logBytes.end()));
    std::vector<std::vector<std::string>> blocks;
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("Sample Time ", 0) == 0) {
            blocks.push_back({line.substr(12, line.find(" msec") - 12)});
        } else if (!blocks.empty() && !line.empty() && std::isdigit(line[0])) {
            std::istringstream fields(line);
            std::string point, hz, db;
            fields >> point >> hz >> db;
            blocks.back().push_back(db);
        }
    }
    const auto csv = csvRows(dir.file("tone.levels.csv"));
    const WholeFilePlan plan = planWholeFile(file, defaults().settings);
    ASSERT_EQ(blocks.size(), static_cast<std::size_t>(plan.params.columns));
    ASSERT_EQ(csv.size(), blocks.size() + 1);
    EXPECT_EQ(csv[0][0], "time_ms");
    for (std::size_t x = 0; x < blocks.size(); ++x) {
        ASSERT_EQ(csv[x + 1], blocks[x]) << x; // time, then every bin's level
        ASSERT_EQ(csv[x + 1].size(), csv[0].size());
    }
    // The tone is the loudest bin, named by its frequency in the header.
    const auto& mid = csv[csv.size() / 2];
    const auto loudest = std::max_element(
        mid.begin() + 1, mid.end(), [](auto& a, auto& b) { return std::stod(a) < std::stod(b); });
    EXPECT_NEAR(std::stod(csv[0][static_cast<std::size_t>(loudest - mid.begin())]), 1500.0, 45.0);
}

TEST_F(CliTest, BandsOfPinkNoiseAreEvenAndASineFillsItsOwnBand) {
    // The command's own defaults, the settings' otherwise (no settings file here).
    const char* argv[] = {"korvanthile-cli", "bands", "x.wav", "--csv"};
    const Options o = *parseCommandLine(4, const_cast<char**>(argv)).options;
    RunSettings run = resolveSettings(o, dir.file("bin/korvanthile-cli"));
    zeroCalibrationCurve(run.settings.calibrationTable);
    ASSERT_EQ(processFile(o, run, wave("pink.wav", mono16(pinkNoise(8.0))), kMemory), std::nullopt);
    ASSERT_EQ(processFile(o, run, wave("sine.wav", mono16(sine(1000.0, 3.0))), kMemory),
              std::nullopt);

    const auto pink = csvRows(dir.file("pink.bands.csv"));
    ASSERT_GT(pink.size(), 20u);
    std::map<double, double> mean; // band centre -> mean level over the steps
    for (std::size_t c = 1; c < pink[0].size(); ++c) {
        double sum = 0.0;
        for (std::size_t r = 1; r < pink.size(); ++r) {
            sum += std::stod(pink[r][c]);
        }
        mean[std::stod(pink[0][c])] = sum / static_cast<double>(pink.size() - 1);
    }
    EXPECT_EQ(mean.begin()->first, 100.0);
    const double reference = mean[1000.0];
    for (const auto& [hz, level] : mean) {
        if (hz >= 125.0 && hz <= 12500.0) {
            EXPECT_NEAR(level, reference, 2.0) << hz;
        }
    }
    // A microphone curve of a flat +6 dB raises every band by 6 dB.
    test::writeFile(dir.file("mic.txt"),
                    Bytes{'2', '0', ' ', '6', '\n', '2', '0', '0', '0', '0', ' ', '6', '\n'});
    Options calibrated = o;
    calibrated.calibrationFile = dir.file("mic.txt");
    calibrated.outDir = dir.file("cal");
    std::filesystem::create_directory(calibrated.outDir);
    const RunSettings withCurve = resolveSettings(calibrated, dir.file("bin/korvanthile-cli"));
    ASSERT_EQ(processFile(calibrated, withCurve, dir.file("sine.wav"), kMemory), std::nullopt);
    const auto tone = csvRows(dir.file("sine.bands.csv"));
    const auto raised = csvRows(dir.file("cal/sine.bands.csv"));
    ASSERT_EQ(raised.size(), tone.size());
    for (std::size_t c = 1; c < tone[1].size(); ++c) {
        EXPECT_DOUBLE_EQ(std::stod(raised[1][c]), std::stod(tone[1][c]) + 6.0) << c;
    }
    for (std::size_t r = 1; r < tone.size(); ++r) {
        const auto loudest =
            std::max_element(tone[r].begin() + 1, tone[r].end(),
                             [](auto& a, auto& b) { return std::stod(a) < std::stod(b); });
        ASSERT_EQ(tone[0][static_cast<std::size_t>(loudest - tone[r].begin())], "1000") << r;
    }
}

struct ProgramRun {
    int status = -1;
    std::string errors;
};

class CliProgramTest : public CliTest {
  protected:
    // The executable with no display, its stderr gathered.
    ProgramRun run(const std::string& arguments, const std::string& input = "") {
        const std::string err = dir.file("stderr.txt");
        std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(KORV_CLI_PATH) +
                              " " + arguments + " >/dev/null 2>" + err;
        if (!input.empty()) {
            command = "printf '" + input + "' | " + command;
        }
        const int raw = std::system(command.c_str());
        const Bytes e = test::readFile(err);
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(e.begin(), e.end())};
    }
};

TEST_F(CliProgramTest, HostileFilesAreReportedAndSkippedAndJobsChangeNothing) {
    const std::string a = wave("a.wav", mono16(sine(500.0, 2.0)));
    const std::string b = wave("b.wav", mono16(pinkNoise(1.5)));
    // Not PCM (an MP3 tag), too short, garbage, and no file at all.
    const std::string mp3 =
        wave("mp3.wav", test::pcmWaveFile(16, 1, kRate, 16, test::noise(9000, 3), 0x55));
    const std::string tiny = wave("tiny.wav", test::pcmWaveFile(16, 1, kRate, 16, Bytes(100, 0)));
    const std::string junk = wave("junk.wav", test::noise(5000, 4));
    const std::string files =
        a + " " + mp3 + " " + tiny + " " + junk + " " + b + " " + dir.file("none.wav");
    for (const char* jobs : {"1", "2"}) {
        const ProgramRun r = run("image " + files + " --jobs " + jobs + " --out " + dir.file(jobs));
        EXPECT_EQ(r.status, EXIT_SOME_FAILED);
        EXPECT_NE(r.errors.find(mp3 + ": Advanced Wave Formats Cannot be Processed"),
                  std::string::npos)
            << r.errors;
        EXPECT_NE(r.errors.find(junk + ": File may not be PCM Wave Format"), std::string::npos);
        EXPECT_NE(r.errors.find(tiny + ": Sample Size Too Small"), std::string::npos);
        EXPECT_NE(r.errors.find(dir.file("none.wav") + ": Cannot Open File"), std::string::npos);
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 4);
        EXPECT_EQ(r.errors.find('\r'), std::string::npos); // no progress line off a terminal
        EXPECT_FALSE(std::filesystem::exists(dir.file(std::string(jobs) + "/mp3.png")));
    }
    for (const char* name : {"/a.png", "/b.png"}) {
        const Bytes one = test::readFile(dir.file(std::string("1") + name));
        ASSERT_GT(one.size(), 100u);
        EXPECT_EQ(one, test::readFile(dir.file(std::string("2") + name))) << name;
        EXPECT_EQ(std::string(one.begin() + 1, one.begin() + 4), "PNG");
    }
    // The grid's labels through Qt's offscreen platform, still without a display; a second
    // b.wav elsewhere would take b.png too and is refused.
    std::filesystem::create_directory(dir.file("other"));
    const std::string twin = wave("other/b.wav", mono16(sine(300.0, 1.0)));
    const ProgramRun grid =
        run("image " + a + " " + b + " " + twin + " --grid --out " + dir.file("g"));
    EXPECT_EQ(grid.status, EXIT_SOME_FAILED);
    EXPECT_EQ(grid.errors, twin + ": same output name as " + b + "\n");
    EXPECT_NE(test::readFile(dir.file("g/a.png")), test::readFile(dir.file("1/a.png")));
    // Names on standard input and in a list file; every output written, status 0.
    test::writeFile(dir.file("list"), Bytes(b.begin(), b.end()));
    EXPECT_EQ(
        run("levels - --from " + dir.file("list") + " --csv --out " + dir.file("s"), a + "\\n")
            .status,
        EXIT_ALL_DONE);
    EXPECT_TRUE(std::filesystem::exists(dir.file("s/a.levels.csv")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("s/b.levels.csv")));
    // Usage errors.
    EXPECT_EQ(run("image").status, EXIT_USAGE);
    EXPECT_EQ(run("image " + a + " --format gif").status, EXIT_USAGE);
    EXPECT_EQ(run("--help").status, EXIT_ALL_DONE);
}

// A wave file of four channels (once "Advanced Wave Formats Cannot be Processed"), one tone
// each: --channel N names the channel analysed, counted from 1.
TEST_F(CliProgramTest, ChannelNumbersNameAChannelOfAMultichannelFile) {
    const double tones[] = {500.0, 1000.0, 2000.0, 4000.0};
    Bytes samples;
    for (std::size_t i = 0; i < kRate; ++i) {
        for (const double hz : tones) {
            const double v =
                16000.0 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / kRate);
            test::putLe16(samples, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
        }
    }
    const std::string four = wave("four.wav", test::pcmWaveFile(40, 4, kRate, 16, samples, 0xFFFE));
    for (int channel = 1; channel <= 4; ++channel) {
        SCOPED_TRACE(channel);
        const std::string out = dir.file("c" + std::to_string(channel));
        const ProgramRun r =
            run("levels " + four + " --csv --channel " + std::to_string(channel) + " --out " + out);
        ASSERT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
        const auto csv = csvRows(out + "/four.levels.csv");
        ASSERT_GT(csv.size(), 3u);
        const auto& mid = csv[csv.size() / 2];
        const auto loudest = std::max_element(mid.begin() + 1, mid.end(), [](auto& a, auto& b) {
            return std::stod(a) < std::stod(b);
        });
        EXPECT_NEAR(std::stod(csv[0][static_cast<std::size_t>(loudest - mid.begin())]),
                    tones[channel - 1], 45.0);
    }
    const ProgramRun missing = run("levels " + four + " --channel 5 --out " + dir.file("c5"));
    EXPECT_EQ(missing.status, EXIT_SOME_FAILED);
    EXPECT_EQ(missing.errors, four + ": No Such Channel in File\n");
}

TEST(CliProgress, SaysFilesRateAndTimeLeft) {
    EXPECT_EQ(progressLine(0, 10, 0.0), "0/10 files");
    EXPECT_EQ(progressLine(4, 10, 2.0), "4/10 files, 2.0 files/s, 3 s left");
}

} // namespace
} // namespace korv::cli
