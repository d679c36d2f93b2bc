// korvanthile-cli: the level table as log and CSV, the third-octave bands of known signals,
// and the executable run as a server would, without a display, on good and hostile files.

#include "analysis/band_levels.h"
#include "analysis/calibration_edit.h"
#include "cli/cli_jobs.h"
#include "cli/cli_outputs.h"
#include "core/sound_test_files.h"
#include "core/wave_test_files.h"
#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>
#include <numeric>
#include <sstream>
#include <thread>

namespace korv::cli {
namespace {

using test::Bytes;

constexpr std::uint32_t kRate = 44100;
constexpr std::int64_t kMemory = std::int64_t{1} << 30;

// 16-bit samples of values in 16-bit units, and a mono wave file of them.
Bytes pcm16(const std::vector<double>& values) {
    Bytes out;
    for (const double v : values) {
        test::putLe16(out, static_cast<std::uint16_t>(
                               static_cast<std::int16_t>(std::clamp(v, -32767.0, 32767.0))));
    }
    return out;
}
Bytes mono16(const std::vector<double>& values, std::uint32_t rate = kRate) {
    return test::pcmWaveFile(16, 1, rate, 16, pcm16(values));
}

std::vector<double> sine(double hz, double seconds, double amplitude = 16000.0,
                         std::uint32_t rate = kRate) {
    std::vector<double> v(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < v.size(); ++i) {
        v[i] = amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate);
    }
    return v;
}

// The reference of the levels, from the transform's definition (bins are 2/N times the DFT
// of the Hann-windowed frame; a level is 10 log10 of a bin's power, shown 90 dB down, plus the
// gain): a sine of amplitude A on a bin reads A/2 there, and its power over the band is
// (A/2)^2 + 2 (A/4)^2 = 3 A^2 / 8, the window spreading it over three bins.
double sineBinLevelDb(double amplitude, double gainDb) {
    return 20.0 * std::log10(amplitude / 2.0) - 90.0 + gainDb;
}
double sineBandLevelDb(double amplitude, double gainDb) {
    return 10.0 * std::log10(3.0 * amplitude * amplitude / 8.0) - 90.0 + gainDb;
}

// The loudest value of a CSV row after the time, with its column.
std::pair<std::size_t, double> loudestOf(const std::vector<std::string>& row) {
    std::pair<std::size_t, double> best{0, -1e9};
    for (std::size_t c = 1; c < row.size(); ++c) {
        if (std::stod(row[c]) > best.second) {
            best = {c, std::stod(row[c])};
        }
    }
    return best;
}

// The options of a command line, its words split at the spaces.
Options parsed(const std::string& line) {
    std::istringstream words("korvanthile-cli " + line);
    std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    return *parseCommandLine(static_cast<int>(argv.size()), argv.data()).options;
}

// White noise through a sum of first-order lowpasses: -3 dB an octave within a dB from
// tens of Hz to the top of the band.
std::vector<double> pinkNoise(double seconds, double scale = 1500.0) {
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
        s = scale * (b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362);
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

// The level log's blocks: each "Sample Time" and the "point Hz dB" fields of its lines.
struct LogBlock {
    std::string time;
    std::vector<std::vector<std::string>> lines;
};
std::vector<LogBlock> logBlocks(const std::string& path) {
    const Bytes bytes = test::readFile(path);
    std::istringstream log(std::string(bytes.begin(), bytes.end()));
    std::vector<LogBlock> blocks;
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("Sample Time ", 0) == 0) {
            blocks.push_back({line.substr(12, line.find(" msec") - 12), {}});
        } else if (!blocks.empty() && !line.empty() && std::isdigit(line[0])) {
            std::istringstream fields(line);
            blocks.back().lines.emplace_back(std::istream_iterator<std::string>(fields),
                                             std::istream_iterator<std::string>());
        }
    }
    return blocks;
}

RunSettings defaults() {
    return {wholeFileSettings(AppSettings{}), kCbPalette, {}};
}

Bytes text(const std::string& s) {
    return {s.begin(), s.end()};
}

class CliTest : public ::testing::Test {
  protected:
    std::string wave(const std::string& name, const Bytes& bytes) {
        test::writeFile(dir.file(name), bytes);
        return dir.file(name);
    }
    RunSettings resolved(const Options& o) { return resolveSettings(o, dir.file("bin/x")); }
    // The CSV a run writes for `file`, at `csv` in the test's folder.
    std::vector<std::vector<std::string>> table(const Options& o, const RunSettings& run,
                                                const std::string& file, const std::string& csv,
                                                std::int64_t memory = kMemory) {
        EXPECT_EQ(processFile(o, run, file, memory), std::nullopt) << file;
        return csvRows(dir.file(csv));
    }
    test::TempFolder dir;
};

// A tone on bin k of N = 16384 points (k x rate / N, about 100 Hz) starting at exactly
// 1.000 s: each line of the level table names its bin's centre and holds that bin's own
// level, on the Linear and the Log scale alike, and the column times are the windows'
// centres, so the tone is logged at half its steady level (-6 dB, half the window on it)
// where it begins. The CSV holds the log's numbers, one row per column.
TEST_F(CliTest, LevelsHoldEachBinsOwnLevelAtTheWindowsCentreTime) {
    constexpr int kN = 16384;
    constexpr int kBin = 37;
    const double hz = kBin * static_cast<double>(kRate) / kN;
    std::vector<double> samples(kRate, 0.0);
    const std::vector<double> tone = sine(hz, 2.0);
    samples.insert(samples.end(), tone.begin(), tone.end());
    const std::string file = wave("onset.wav", mono16(samples));
    // The sine's level: amplitude a under a full Hann window gives a / 2 in its bin; the
    // default gain adds 9 dB, and the table shows level - 90 dB.
    const double steadyDb = 20.0 * std::log10(16000.0 / 2.0) + 9.0 - 90.0;
    for (const std::int32_t scale : {FREQ_SCALE_LINEAR, FREQ_SCALE_LOG}) {
        SCOPED_TRACE(scale);
        RunSettings run = defaults();
        zeroCalibrationCurve(run.settings.calibrationTable);
        run.settings.fftSizeChoice = FFT_SIZE_CHOICE_LAST;
        run.settings.timeScaleMsec = 5.0f;
        run.settings.freqScaleChoice = scale;
        run.settings.lowBandHz = 50;
        run.settings.highBandHz = 500;
        for (const char* line : {"levels x.wav", "levels x.wav --csv"}) {
            ASSERT_EQ(processFile(parsed(line), run, file, kMemory), std::nullopt);
        }
        const std::vector<LogBlock> blocks = logBlocks(dir.file("onset.txt"));
        const auto csv = csvRows(dir.file("onset.levels.csv"));
        ASSERT_EQ(blocks.size(), planWholeFile(file, run.settings).params.columns);
        ASSERT_EQ(csv.size(), blocks.size() + 1);
        ASSERT_EQ(csv[0].size(), blocks[0].lines.size() + 1);
        EXPECT_EQ(csv[0][0], "time_ms");
        EXPECT_NE(csv[0][1].find("_Hz_dB"), std::string::npos); // the unit in the header
        double onsetMsec = -1.0;
        for (std::size_t x = 0; x < blocks.size(); ++x) {
            const long time = std::stol(blocks[x].time);
            std::vector<std::string> row{blocks[x].time}; // time, then every bin's level
            for (const auto& line : blocks[x].lines) {
                const long point = std::stol(line.at(0));
                const double db = std::stod(line.at(2));
                row.push_back(line[2]);
                ASSERT_NEAR(std::stod(line[1]), static_cast<double>(point) * kRate / kN, 0.005);
                // Steady: the tone's own line at the sine's level, lines 3 bins off far below.
                if (time > 2000 && point == kBin) {
                    EXPECT_NEAR(db, steadyDb, 0.3) << time;
                } else if (time > 2000 && std::abs(point - kBin) >= 3) {
                    EXPECT_LT(db, steadyDb - 30.0) << point << " at " << time;
                }
                if (point == kBin && onsetMsec < 0.0 && db >= steadyDb - 6.02) {
                    onsetMsec = static_cast<double>(time);
                }
            }
            ASSERT_EQ(csv[x + 1], row) << x;
        }
        EXPECT_GT(blocks.size(), 400u);
        EXPECT_NEAR(onsetMsec, 1000.0, 6.0);
        // The tone is the loudest bin, named by its frequency in the header.
        EXPECT_NEAR(std::stod(csv[0][loudestOf(csv.back()).first]), hz, 0.01);
    }
}

// A long 24-bit stereo file, silent but for a sine on bin 23 of the 1024-point transform in
// its last two seconds, within memory for its picture but not for its samples: read a window
// at a time to its end, the last column where the file's length puts it and the sine at its
// exact level. A FLAC whose header claims more samples than it holds says so, writing nothing.
TEST_F(CliTest, LongFilesAreReadToTheirEndInBoundedMemory) {
    constexpr std::uint32_t kLongRate = 48000;
    constexpr std::size_t kSeconds = 40;
    constexpr double kAmplitude = 8192.0; // in 16-bit units: -12 dBFS
    const double hz = 23.0 * kLongRate / 1024.0;
    Bytes samples(kSeconds * kLongRate * 2 * 3, 0);
    for (std::size_t i = (kSeconds - 2) * kLongRate; i < kSeconds * kLongRate; ++i) {
        const double t = static_cast<double>(i) / kLongRate;
        const auto v = static_cast<std::int32_t>(
            std::lround(256.0 * kAmplitude * std::sin(2.0 * std::numbers::pi * hz * t)));
        for (std::size_t b = 0; b < 6; ++b) {
            samples[6 * i + b] = static_cast<std::uint8_t>(v >> (8 * (b % 3)));
        }
    }
    const std::string file = wave("long.wav", test::pcmWaveFile(16, 2, kLongRate, 24, samples));
    RunSettings run = defaults();
    run.settings.timeScaleMsec = 500.0f;
    const Options o = parsed("levels x.wav --csv");
    const WholeFilePlan plan = planWholeFile(file, run.settings);
    ASSERT_FALSE(plan.failure);
    // The samples alone (16-bit and their exact values) are over twice what the run may take.
    const std::int64_t memory = wholeFileMemory(plan, o.layout);
    ASSERT_GT(plan.segmentBytes * 3, 2 * memory);
    const auto rows = table(o, run, file, "long.levels.csv", memory);
    // A column for every whole step of the file past the first frame, to the last one, each
    // at its window's centre.
    const std::size_t columns = (kSeconds * kLongRate - 1024) / (kLongRate / 2);
    ASSERT_EQ(rows.size() - 1, columns);
    const double centreMsec = 512.0 * 1000.0 / kLongRate;
    EXPECT_NEAR(std::stod(rows.back()[0]), static_cast<double>(columns - 1) * 500.0 + centreMsec,
                1.0);
    const auto [column, level] = loudestOf(rows.back());
    EXPECT_NEAR(std::stod(rows[0][column]), hz, 0.01);
    EXPECT_NEAR(level, sineBinLevelDb(kAmplitude, 9.0), 0.3);
    EXPECT_LT(loudestOf(rows[rows.size() - 6]).second, level - 60.0); // silence before it

    const std::string flac = dir.file("lying.flac");
    ASSERT_TRUE(test::writeSound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 80000, 0.25));
    Bytes f = test::readFile(flac);
    f.at(21) = static_cast<std::uint8_t>(f.at(21) | 0x01); // the 36-bit total, + 2^32
    test::writeFile(flac, f);
    EXPECT_EQ(processFile(o, run, flac, kMemory), "Error Reading File");
    EXPECT_FALSE(std::filesystem::exists(dir.file("lying.levels.csv")));

    // 70 000 columns are too wide for a JPEG: said at once, before the picture is even sized
    // against the memory (a byte here), with the way out.
    const std::string wide = wave("wide.wav", mono16(sine(500.0, 70.0)));
    RunSettings fine = defaults();
    fine.settings.timeScaleMsec = 1.0f;
    const auto refused = processFile(parsed("image x.wav --format jpg"), fine, wide, 1);
    ASSERT_TRUE(refused.has_value());
    EXPECT_NE(refused->find("too large for a JPEG file"), std::string::npos) << *refused;
    EXPECT_NE(refused->find("larger time scale"), std::string::npos);
}

// Per band, the mean of its levels over the steps.
std::map<double, double> meanBandLevels(const std::vector<std::vector<std::string>>& rows) {
    std::map<double, double> mean;
    for (std::size_t c = 1; c < rows[0].size(); ++c) {
        double sum = 0.0;
        for (std::size_t r = 1; r < rows.size(); ++r) {
            sum += std::stod(rows[r][c]);
        }
        mean[std::stod(rows[0][c])] = sum / static_cast<double>(rows.size() - 1);
    }
    return mean;
}

TEST_F(CliTest, BandsAreSummedPowersOnTheWindowsScale) {
    // The command's own defaults, the settings' otherwise (no settings file here).
    const Options o = parsed("bands x.wav --csv --gain 0");
    RunSettings run = resolved(o);
    zeroCalibrationCurve(run.settings.calibrationTable);
    const auto pink = table(o, run, wave("pink.wav", mono16(pinkNoise(8.0))), "pink.bands.csv");
    // 40 dB quieter: whole-number magnitudes lost the top bands' energy here.
    const auto quiet =
        table(o, run, wave("quiet.wav", mono16(pinkNoise(8.0, 15.0))), "quiet.bands.csv");
    constexpr double kAmplitude = 16384.0; // -6 dBFS
    const auto tone =
        table(o, run, wave("sine.wav", mono16(sine(1000.0, 3.0, kAmplitude))), "sine.bands.csv");
    ASSERT_GT(pink.size(), 20u);
    EXPECT_EQ(pink[0][0], "time_ms");
    EXPECT_EQ(pink[0][1], "100_Hz_dB"); // every column names its unit
    const std::map<double, double> loud = meanBandLevels(pink);
    const std::map<double, double> soft = meanBandLevels(quiet);
    const double reference = loud.at(1000.0);
    for (const auto& [hz, level] : loud) {
        if (hz >= 125.0 && hz <= 12589.0) {
            EXPECT_NEAR(level, reference, 2.0) << hz; // pink: even per third octave
            EXPECT_NEAR(soft.at(hz), level + 20.0 * std::log10(15.0 / 1500.0), 0.3) << hz;
        }
    }
    // The sine's band holds its power, everything else is far below it.
    for (std::size_t r = 1; r < tone.size(); ++r) {
        const auto [column, level] = loudestOf(tone[r]);
        ASSERT_EQ(tone[0][column], "1000_Hz_dB") << r;
        EXPECT_NEAR(level, sineBandLevelDb(kAmplitude, 0.0), 0.05) << r;
    }
    // A microphone curve of a flat +6 dB raises the bands by 6 dB, the stored gain of the
    // settings (+9 dB, as the colour dialog shows it) by 9 more.
    const std::string mic = wave("mic.txt", text("20 6\n20000 6\n"));
    std::filesystem::create_directory(dir.file("cal"));
    const Options curve = parsed("bands x.wav --calibration " + mic + " --out " + dir.file("cal"));
    const auto raised = table(curve, resolved(curve), dir.file("sine.wav"), "cal/sine.bands.csv");
    ASSERT_EQ(raised.size(), tone.size());
    EXPECT_NEAR(loudestOf(raised[1]).second, sineBandLevelDb(kAmplitude, 6.0 + 9.0), 0.05);
}

// Bands reach half the rate: a bat's 40 kHz call in a 384 kHz file is in the 40 kHz band
// (centre 1000 x 2^(16/3) Hz), the table ending at the 160 kHz band (1000 x 2^(22/3)), the
// last whose centre lies within 192 kHz; 44.1 and 48 kHz files end at the 20 kHz band.
TEST_F(CliTest, BandsReachTheBandOfHalfTheRate) {
    const Options o = parsed("bands x.wav --csv");
    const auto centreOf = [](int n) { return 1000.0 * std::pow(2.0, n / 3.0); };
    for (const auto& [rate, tone, lastN] :
         {std::tuple{384000, 40000.0, 22}, std::tuple{48000, 1000.0, 13},
          std::tuple{44100, 1000.0, 13}}) {
        const std::string name = "tone" + std::to_string(rate);
        const auto hz = static_cast<std::uint32_t>(rate);
        const std::string file = wave(name + ".wav", mono16(sine(tone, 1.0, 16000.0, hz), hz));
        const auto rows = table(o, resolved(o), file, name + ".bands.csv");
        ASSERT_GT(rows.size(), 2u);
        const auto [column, level] = loudestOf(rows[rows.size() / 2]);
        EXPECT_NEAR(std::stod(rows[0][column]), tone, 0.025 * tone) << rate;
        EXPECT_NEAR(std::stod(rows[0].back()), centreOf(lastN), 0.025 * centreOf(lastN)) << rate;
    }
}

TEST_F(CliTest, BandsWithoutSignalReadTheFloorAndOptionsAreHonoured) {
    // Silence under the default curve (+1 to +3 dB at the top): the floor, not the curve.
    const Options o = parsed("bands x.wav");
    const auto silent =
        table(o, resolved(o), wave("silence.wav", mono16(std::vector<double>(kRate * 2))),
              "silence.bands.csv");
    for (std::size_t r = 1; r < silent.size(); ++r) {
        for (std::size_t c = 1; c < silent[r].size(); ++c) {
            ASSERT_EQ(std::stod(silent[r][c]), kBandFloorDb) << silent[0][c];
        }
    }
    // --low and --high keep the bands whose centre lies within them; --average: each step
    // the mean power of itself and the steps before it.
    const std::string noise = wave("noise.wav", mono16(pinkNoise(4.0)));
    const Options band = parsed("bands x.wav --low 500 --high 2000");
    const auto some = table(band, resolved(band), noise, "noise.bands.csv");
    EXPECT_EQ(some[0],
              (std::vector<std::string>{"time_ms", "501_Hz_dB", "631_Hz_dB", "794_Hz_dB",
                                        "1000_Hz_dB", "1259_Hz_dB", "1585_Hz_dB", "1995_Hz_dB"}));
    std::filesystem::create_directory(dir.file("avg"));
    const Options averaged =
        parsed("bands x.wav --low 500 --high 2000 --average 4 --out " + dir.file("avg"));
    const auto mean = table(averaged, resolved(averaged), noise, "avg/noise.bands.csv");
    ASSERT_EQ(mean.size(), some.size());
    for (std::size_t r = 1; r < some.size(); ++r) {
        EXPECT_EQ(mean[r][0], some[r][0]);
        for (std::size_t c = 1; c < some[r].size(); ++c) {
            double power = 0.0;
            const std::size_t first = r >= 4 ? r - 3 : 1;
            for (std::size_t k = first; k <= r; ++k) {
                power += std::pow(10.0, std::stod(some[k][c]) / 10.0);
            }
            const double expectedDb = 10.0 * std::log10(power / static_cast<double>(r - first + 1));
            ASSERT_NEAR(std::stod(mean[r][c]), expectedDb, 0.02) << r << " " << c;
        }
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
        const std::string command =
            "env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(KORV_CLI_PATH) + " " + arguments;
        return system(input.empty() ? command : "printf '" + input + "' | " + command);
    }
    // A bash script (no single quotes in it) with $CLI the executable, in the test's folder.
    ProgramRun shell(const std::string& script) {
        return system("cd " + dir.folder() + " && env -u DISPLAY -u WAYLAND_DISPLAY CLI=" +
                      KORV_CLI_PATH + " bash -c '" + script + "'");
    }
    ProgramRun system(const std::string& command) {
        const std::string err = dir.file("stderr.txt");
        const int raw = std::system((command + " >/dev/null 2>" + err).c_str());
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
        for (const std::string& said :
             {mp3 + ": Advanced Wave Formats Cannot be Processed",
              junk + ": File may not be PCM Wave Format", tiny + ": Sample Size Too Small",
              dir.file("none.wav") + ": Cannot Open File"}) {
            EXPECT_NE(r.errors.find(said), std::string::npos) << r.errors;
        }
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
    EXPECT_EQ(run("--help").status, EXIT_ALL_DONE);
}

// A wave file of four channels (once "Advanced Wave Formats Cannot be Processed"), one tone
// each (channel c at 440 c Hz): --channel N names the channel analysed, counted from 1.
TEST_F(CliProgramTest, ChannelNumbersNameAChannelOfAMultichannelFile) {
    const std::string four =
        wave("four.wav",
             test::pcmWaveFile(40, 4, kRate, 16, test::sineSamples(kRate, 4, 16, kRate), 0xFFFE));
    for (int channel = 1; channel <= 4; ++channel) {
        SCOPED_TRACE(channel);
        const std::string out = dir.file("c" + std::to_string(channel));
        const ProgramRun r =
            run("levels " + four + " --csv --channel " + std::to_string(channel) + " --out " + out);
        ASSERT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
        const auto csv = csvRows(out + "/four.levels.csv");
        ASSERT_GT(csv.size(), 3u);
        EXPECT_NEAR(std::stod(csv[0][loudestOf(csv[csv.size() / 2]).first]), 440.0 * channel, 45.0);
    }
    const ProgramRun missing = run("levels " + four + " --channel 5 --out " + dir.file("c5"));
    EXPECT_EQ(missing.status, EXIT_SOME_FAILED);
    EXPECT_EQ(missing.errors, four + ": No Such Channel in File\n");
}

// Milliseconds since midnight of "yyyy-mm-ddThh:mm:ss.mmm", after checking the date.
long long clockMsec(const std::string& iso, const std::string& date) {
    EXPECT_EQ(iso.substr(0, 11), date + "T") << iso;
    EXPECT_EQ(iso.size(), 23u) << iso; // no zone: a broadcast file's clock is local
    return std::stoll(iso.substr(11, 2)) * 3600000 + std::stoll(iso.substr(14, 2)) * 60000 +
           std::stoll(iso.substr(17, 2)) * 1000 + std::stoll(iso.substr(20, 3));
}

// A broadcast wave file recorded from 05:30:12.250 (its time reference since midnight): each
// row of --absolute-time is that start plus the row's time from the start of the file.
TEST_F(CliProgramTest, AbsoluteTimesCountFromTheRecordingStartTheFileCarries) {
    const Bytes samples = pcm16(sine(1000.0, 3.0));
    constexpr std::uint64_t kReference = 44100ULL * (5 * 3600 + 30 * 60 + 12) + 11025;
    Bytes chunks;
    test::putChunk(chunks, "fmt ", 16, test::formatPayload(16, 1, 1, kRate, 16));
    const Bytes bext = test::bextChunk("2026-06-01", "08:00:00", kReference);
    chunks.insert(chunks.end(), bext.begin(), bext.end());
    test::putChunk(chunks, "data", static_cast<std::uint32_t>(samples.size()), samples);
    const std::string file = wave("bwf.wav", test::riffFile(chunks));
    ASSERT_EQ(run("levels --csv " + file + " --time-step 50").status, EXIT_ALL_DONE);
    const auto plain = csvRows(dir.file("bwf.levels.csv"));
    const ProgramRun absolute = run("levels --csv --absolute-time " + file + " --time-step 50");
    ASSERT_EQ(absolute.status, EXIT_ALL_DONE) << absolute.errors;
    const auto rows = csvRows(dir.file("bwf.levels.csv"));
    ASSERT_EQ(rows.size(), plain.size());
    ASSERT_GT(rows.size(), 50u);
    EXPECT_EQ(rows[0][0], "time_iso8601");
    constexpr long long kStartMsec = (5 * 3600 + 30 * 60 + 12) * 1000LL + 250;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        // Both round the same sample time to whole milliseconds.
        EXPECT_LE(
            std::llabs(clockMsec(rows[r][0], "2026-06-01") - kStartMsec - std::stoll(plain[r][0])),
            1)
            << r;
        EXPECT_EQ(std::vector(rows[r].begin() + 1, rows[r].end()),
                  std::vector(plain[r].begin() + 1, plain[r].end()));
    }
    // Without a recording time, or without CSV: said, and nothing written.
    const std::string bare = wave("bare.wav", mono16(sine(500.0, 1.0)));
    const ProgramRun none = run("levels --csv --absolute-time " + bare);
    EXPECT_EQ(none.status, EXIT_SOME_FAILED);
    EXPECT_NE(none.errors.find("No recording time in the file for --absolute-time"),
              std::string::npos)
        << none.errors;
    EXPECT_FALSE(std::filesystem::exists(dir.file("bare.levels.csv")));
    EXPECT_EQ(run("levels --absolute-time " + file).status, EXIT_USAGE);
}

// A 0.15 s beep of 3 kHz (bin 64 of 1024 points at 48 kHz) in silence, at 500 msec a column:
// one frame from each step's start misses it; --reduce max keeps every bin's largest level
// over the step, so the beep's column reads the sine's level. The colour dialog's "Gain (dB)"
// has its sign: -9 shows every level 9 dB lower.
TEST_F(CliTest, ReduceMaxKeepsABeepShorterThanTheStepAtTheGainsLevel) {
    constexpr std::uint32_t kBeepRate = 48000;
    constexpr double kAmplitude = 16384.0;
    std::vector<double> beep = sine(3000.0, 3.0, kAmplitude, kBeepRate);
    for (std::size_t i = 0; i < beep.size(); ++i) {
        const double t = static_cast<double>(i) / kBeepRate;
        beep[i] = t >= 1.2 && t < 1.35 ? beep[i] : 0.0;
    }
    const std::string file = wave("beep.wav", mono16(beep, kBeepRate));
    for (const std::string reduce : {"frame", "max"}) {
        SCOPED_TRACE(reduce);
        const Options o = parsed("levels x.wav --csv --gain -9 --time-step 500 --reduce " + reduce);
        RunSettings run = resolved(o);
        zeroCalibrationCurve(run.settings.calibrationTable);
        const auto rows = table(o, run, file, "beep.levels.csv");
        ASSERT_GE(rows.size(), 6u); // the header and a column every half second
        std::pair<std::size_t, double> loudest{0, -1e9};
        for (std::size_t x = 1; x < rows.size(); ++x) {
            loudest = std::max(loudest, loudestOf(rows[x]),
                               [](auto& a, auto& b) { return a.second < b.second; });
        }
        if (reduce == "max") {
            EXPECT_EQ(std::stod(rows[0][loudest.first]), 3000.0);
            EXPECT_NEAR(loudest.second, sineBinLevelDb(kAmplitude, -9.0), 0.5);
        } else {
            EXPECT_LT(loudest.second, sineBinLevelDb(kAmplitude, -9.0) - 40.0);
        }
    }
}

TEST_F(CliTest, TheHighLimitStopsAtHalfTheRate) {
    // 8 kHz noise under the default 0 .. 6000 Hz: the picture's top rows are the file's top
    // bins, not the last bin repeated, and the tool says so.
    const std::string slow = wave("slow.wav", mono16(pinkNoise(16000.0 / kRate), 8000));
    std::vector<std::string> notes;
    ASSERT_EQ(processFile(parsed("image x.wav --format bmp"), defaults(), slow, kMemory, &notes),
              std::nullopt);
    EXPECT_EQ(notes,
              std::vector<std::string>{"Highest Frequency Limited to 1/2 Sampling Rate (4000 Hz)"});
    const Bytes bmp = test::readFile(dir.file("slow.bmp"));
    const auto width = static_cast<std::size_t>(test::le32At(bmp, 18));
    const auto height = static_cast<std::size_t>(test::le32At(bmp, 22));
    const auto rowFromTop = [&](std::size_t y) { return 1078 + (height - 1 - y) * width; };
    int differing = 0;
    for (std::size_t x = 0; x < width; ++x) {
        differing += bmp[rowFromTop(30) + x] != bmp[rowFromTop(60) + x] ? 1 : 0;
    }
    EXPECT_GT(differing, static_cast<int>(width / 2));
}

TEST_F(CliProgramTest, OptionsAndNamedFilesThatCannotBeUsedAreUsageErrors) {
    const std::string a = wave("a.wav", mono16(sine(500.0, 1.0)));
    for (const std::string& args :
         {std::string("image"), "image " + a + " --format gif", "image " + a + " --time-step nan",
          "image " + a + " --time-step inf", "image " + a + " --time-step 0",
          "image " + a + " --time-step -nan"}) {
        EXPECT_EQ(run(args).status, EXIT_USAGE) << args;
    }
    for (const char* option :
         {"--scale log", "--db-range 30", "--palette bw", "--low 2000 --high 500"}) {
        const ProgramRun r = run("bands " + a + " " + option);
        EXPECT_EQ(r.status, EXIT_USAGE) << option;
        EXPECT_EQ(r.errors.find("Improper Frequency Limits"), std::string::npos) << r.errors;
    }
    // Settings: junk, missing, and a valid file through a pipe (read as it comes, with no
    // copy in a temporary folder) whose band is honoured.
    test::writeFile(dir.file("junk.ini"), test::noise(948, 5));
    EXPECT_EQ(run("levels " + a + " --settings " + dir.file("junk.ini")).errors,
              "korvanthile-cli: " + dir.file("junk.ini") +
                  ": not a Korvanthile settings file (948 bytes as the desktop program writes "
                  "it)\n");
    EXPECT_EQ(run("levels " + a + " --settings " + dir.file("none.ini")).status, EXIT_USAGE);
    AppSettings narrow;
    narrow.highBandHz = 3000;
    ASSERT_TRUE(saveSettings(dir.file("korv.ini"), narrow, 0));
    const ProgramRun piped =
        shell("TMPDIR=/nonexistent $CLI levels a.wav --csv --settings <(cat korv.ini)");
    EXPECT_EQ(piped.status, EXIT_ALL_DONE) << piped.errors;
    const auto header = csvRows(dir.file("a.levels.csv"))[0];
    EXPECT_NEAR(std::stod(header.back()), 2950.0, 50.0); // the last bin under 3000 Hz
    // Calibration: too large (the window's words), and a FIFO not waited for.
    test::writeFile(dir.file("big.txt"), Bytes(kCalibrationFileMaxBytes + 10, '1'));
    EXPECT_EQ(run("image " + a + " --calibration " + dir.file("big.txt")).errors,
              "korvanthile-cli: " + dir.file("big.txt") +
                  ": The file is too large to be a calibration file.\n");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(run("image " + a + " --calibration " + dir.file("fifo")).status, EXIT_USAGE);
    // Lists of names without line ends are bounded.
    for (const ProgramRun& r : {run("image --from /dev/zero"),
                                shell("head -c 100000 /dev/zero | tr \"\\0\" x | $CLI image -")}) {
        EXPECT_EQ(r.status, EXIT_USAGE);
        EXPECT_NE(r.errors.find("a line longer than 4096 bytes"), std::string::npos) << r.errors;
    }
}

TEST_F(CliProgramTest, NothingIsReplacedOrLostAndEveryFailureNamesItsOutput) {
    const Bytes recording = mono16(sine(700.0, 1.0));
    // An input named like its own output.
    wave("same.png", recording);
    wave("same.txt", recording);
    for (const char* args : {"image same.png", "levels same.txt"}) {
        const ProgramRun r = shell(std::string("$CLI ") + args);
        EXPECT_EQ(r.status, EXIT_SOME_FAILED) << args;
        EXPECT_NE(r.errors.find("is the wave file"), std::string::npos) << r.errors;
    }
    EXPECT_EQ(test::readFile(dir.file("same.png")), recording);
    EXPECT_EQ(test::readFile(dir.file("same.txt")), recording);
    // One file under two spellings: analysed once, nothing lost, no failure.
    wave("x.wav", recording);
    const ProgramRun twice = shell("$CLI levels x.wav ./x.wav ../$(basename $PWD)/x.wav");
    EXPECT_EQ(twice.status, EXIT_ALL_DONE) << twice.errors;
    EXPECT_EQ(std::count(twice.errors.begin(), twice.errors.end(), '\n'), 2) << twice.errors;
    EXPECT_GT(test::readFile(dir.file("x.txt")).size(), 1000u);
    // An output that cannot be written: the output named with the system's reason.
    EXPECT_EQ(shell("$CLI image x.wav --out x.wav/sub").errors,
              "x.wav: x.wav/sub/x.png: Cannot Open File (Not a directory)\n");
    // A full disk and a read-only one, where a private mount can be had; nothing left behind.
    const ProgramRun full =
        shell("mkdir -p full ro && unshare -rm sh -c \"mount -t tmpfs -o size=16k tmpfs full && "
              "mount -t tmpfs -o ro tmpfs ro && $CLI levels x.wav --out full; "
              "$CLI image x.wav --out ro; ls -A full >&2\" || echo no private mounts >&2");
    if (full.errors.find("no private mounts") == std::string::npos) {
        EXPECT_EQ(full.errors, "x.wav: full/x.txt: Error Writing File (No space left on device)\n"
                               "x.wav: ro/x.png: Cannot Open File (Read-only file system)\n");
    }
    // Too short for one column of a picture: one message for every format, nothing written.
    wave("short.wav", mono16(sine(700.0, 0.03)));
    for (const char* format : {"png", "jpg", "bmp"}) {
        const ProgramRun r = shell(std::string("$CLI image short.wav --format ") + format);
        EXPECT_EQ(r.status, EXIT_SOME_FAILED);
        EXPECT_EQ(r.errors, "short.wav: Sample Size Too Small (an image needs 4 columns, the file "
                            "gives 1)\n");
        EXPECT_FALSE(std::filesystem::exists(dir.file(std::string("short.") + format)));
    }
}

// The desktop program's settings are read only when asked for; --verbose says what was used.
TEST_F(CliProgramTest, DesktopSettingsOnlyWhenAskedAndVerboseNamesThem) {
    const std::string config = dir.file("config");
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", config.c_str(), 1), 0);
    AppSettings desktop;
    desktop.fftSizeChoice = 1086; // 8192 points
    desktop.lowBandHz = 200;
    desktop.highBandHz = 4000;
    const std::string ini = config + "/korvanthile/korv.ini";
    ASSERT_TRUE(saveSettings(ini, desktop, 0));
    const std::string a = wave("a.wav", mono16(sine(500.0, 1.0)));

    ProgramRun r = run("image " + a + " --verbose --out " + dir.file("plain"));
    EXPECT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
    EXPECT_NE(r.errors.find("settings: defaults\n"), std::string::npos) << r.errors;
    EXPECT_NE(r.errors.find("fft: 1024 points"), std::string::npos) << r.errors;

    r = run("image " + a + " --settings desktop -v --fft 2048 --out " + dir.file("desk"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
    EXPECT_NE(r.errors.find("settings: " + ini + "\n"), std::string::npos) << r.errors;
    EXPECT_NE(r.errors.find("band: 200 to 4000 Hz, linear scale\n"), std::string::npos);
    EXPECT_NE(r.errors.find("fft: 2048 points"), std::string::npos) << "the option wins";
}

// 100 bytes for four jobs: "big" needs more than a quarter of them but fits alone, so it
// waits for the memory and runs; "huge" cannot fit at all and is refused in the work's words.
TEST(CliJobs, EachFileRunsWhenItsOwnNeedFitsBesideTheOthers) {
    const std::map<std::string, std::int64_t> needs{
        {"a", 30}, {"big", 80}, {"b", 30}, {"c", 30}, {"huge", 150}};
    std::mutex mutex;
    std::int64_t held = 0;
    std::int64_t most = 0;
    const FileWork work = [&](const std::string& file, const JobShare& share,
                              std::vector<std::string>&) -> std::optional<std::string> {
        const std::int64_t need = needs.at(file);
        if (need > share.memoryBytes) {
            return "Not enough memory";
        }
        {
            const std::lock_guard lock(mutex);
            most = std::max(most, held += need);
        }
        std::this_thread::yield(); // the others may run meanwhile, within the memory
        const std::lock_guard lock(mutex);
        held -= need;
        return std::nullopt;
    };
    std::ostringstream errors;
    const JobsReport r = runJobs(
        {"a", "big", "b", "c", "huge"}, 4, 100, [&](const std::string& f) { return needs.at(f); },
        work, nullptr, errors);
    EXPECT_EQ(r.done, 5u);
    EXPECT_EQ(r.failed, 1u);
    EXPECT_EQ(errors.str(), "huge: Not enough memory\n");
    EXPECT_LE(most, 100);
}

TEST(CliProgress, SaysFilesRateAndTimeLeft) {
    EXPECT_EQ(progressLine(0, 10, 0.0), "0/10 files");
    EXPECT_EQ(progressLine(4, 10, 2.0), "4/10 files, 2.0 files/s, 3 s left");
}

} // namespace
} // namespace korv::cli
