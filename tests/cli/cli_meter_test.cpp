// korvanthile-cli meter as its user runs it: tones written to files, the tables read back and
// checked against the standards' analytic curves and known signals' levels; the calibrator;
// the calibrated scale of levels and bands.

#include "cli/cli_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <csignal>
#include <random>
#include <tuple>

namespace korv::cli {
namespace {

using Samples = std::vector<double>;

// The analytic weightings: the four poles of the standard's Annex E, 0 dB at 1 kHz.
double analyticDb(char weighting, double hz) {
    const auto raw = [weighting](double f) {
        constexpr double f1 = 20.598997, f2 = 107.65265, f3 = 737.86223, f4 = 12194.217;
        const double f2sq = f * f;
        if (weighting == 'C') {
            return 20.0 * std::log10(f4 * f4 * f2sq / ((f2sq + f1 * f1) * (f2sq + f4 * f4)));
        }
        return 20.0 * std::log10(f4 * f4 * f2sq * f2sq /
                                 ((f2sq + f1 * f1) * std::sqrt(f2sq + f2 * f2) *
                                  std::sqrt(f2sq + f3 * f3) * (f2sq + f4 * f4)));
    };
    return raw(hz) - raw(1000.0);
}

double dbOf(double amplitude) {
    return 20.0 * std::log10(amplitude); // a sine's level re a full-scale sine
}

// A sine of `amplitude` (of full scale) appended to `out`, its phase running on from `at`.
void addTone(Samples& out, double hz, double seconds, double amplitude, double rate) {
    const auto n = static_cast<std::size_t>(std::llround(seconds * rate));
    const auto at = static_cast<double>(out.size());
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(amplitude *
                      std::sin(2.0 * std::numbers::pi * hz * (at + static_cast<double>(i)) / rate));
    }
}
void addSilence(Samples& out, double seconds, double rate) {
    out.resize(out.size() + static_cast<std::size_t>(std::llround(seconds * rate)), 0.0);
}

// 32-bit float and 24-bit wave files of samples at full scale 1.0, channels interleaved.
Bytes floatWave(const Samples& v, std::uint32_t rate, std::uint16_t channels = 1) {
    Bytes data;
    for (const double s : v) {
        test::putLe32(data, std::bit_cast<std::uint32_t>(static_cast<float>(s)));
    }
    return test::pcmWaveFile(18, channels, rate, 32, data, 3);
}
Bytes wave24(const Samples& v, std::uint32_t rate) {
    Bytes data;
    for (const double s : v) {
        test::putLe(data, static_cast<std::uint32_t>(std::lround(s * 8388607.0)), 3);
    }
    return test::pcmWaveFile(16, 1, rate, 24, data);
}

using Rows = std::vector<std::vector<std::string>>;

std::size_t columnOf(const Rows& rows, const std::string& name) {
    const auto& header = rows.at(0);
    const auto at = std::find(header.begin(), header.end(), name);
    EXPECT_NE(at, header.end()) << name;
    return static_cast<std::size_t>(at - header.begin());
}
double valueAt(const Rows& rows, std::size_t row, const std::string& name) {
    return std::stod(rows.at(row).at(columnOf(rows, name)));
}
// The energy mean of a column's rows first .. last - 1 (rows of equal length).
double energyMean(const Rows& rows, std::size_t first, std::size_t last, const std::string& name) {
    double sum = 0.0;
    for (std::size_t r = first; r < last; ++r) {
        sum += std::pow(10.0, valueAt(rows, r, name) / 10.0);
    }
    return 10.0 * std::log10(sum / static_cast<double>(last - first));
}

class MeterTest : public CliRunTest {
  protected:
    // The table `meter FILE ARGS` writes, the run expected to succeed.
    Rows meter(const std::string& file, const std::string& arguments) {
        const ProgramRun r = run("meter " + file + " -o " + dir.file("out") + " " + arguments);
        EXPECT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
        const std::string stem = std::filesystem::path(file).stem().string();
        return csvRows(dir.file("out/" + stem + ".meter.csv"));
    }
};

// Each rate's Table 3 frequencies 1000 x 10^((n - 30) / 10), 10 Hz up to the lower of 20 kHz and
// 0.45 x the rate, as tones of 1.5 s each: the first half second lets the filter settle, the
// last second is measured. The goal is the analytic curve within 0.1 dB, allowing for the
// second holding no whole number of a low tone's periods (at most 1/(4 pi f T) of its power).
TEST_F(MeterTest, WeightingsFollowTheAnalyticCurvesAtTheStandardsFrequencies) {
    for (const std::uint32_t rate : {44100u, 48000u, 96000u}) {
        std::vector<double> freqs;
        for (int n = 10; n <= 43; ++n) {
            const double f = 1000.0 * std::pow(10.0, (n - 30) / 10.0);
            if (f <= std::min(20000.0, 0.45 * rate)) {
                freqs.push_back(f);
            }
        }
        Samples v;
        for (const double f : freqs) {
            addTone(v, f, 1.5, 0.5, rate);
        }
        const std::string file = wave("w" + std::to_string(rate) + ".wav", floatWave(v, rate));
        for (const char w : {'A', 'C'}) {
            const Rows rows = meter(file, std::string("--interval 0.5 --weighting ") + w);
            ASSERT_EQ(rows.size(), 1 + 3 * freqs.size());
            const std::string leq = std::string("L") + w + "eq_dBFS";
            for (std::size_t i = 0; i < freqs.size(); ++i) {
                const double measured = energyMean(rows, 3 * i + 2, 3 * i + 4, leq);
                const double allowance = 4.343 / (4.0 * std::numbers::pi * freqs[i] * 1.0);
                EXPECT_NEAR(measured, dbOf(0.5) + analyticDb(w, freqs[i]), 0.1 + allowance)
                    << w << " at " << freqs[i] << " Hz, " << rate << " Hz";
            }
        }
    }
}

// Table 4: 4 kHz tonebursts of whole periods at 48 kHz, shortest first so each decays from a
// lower one, each alone in its interval, after an interval of silence (the first tau sets the
// starting value, and must not hold a burst). Lmax against 10 lg(1 - e^(-Tb/tau)) below the steady
// level (0.2 dB from 10 ms, the class 1 limits below), LE against 10 lg(Tb / 1 s).
TEST_F(MeterTest, ToneburstsReadTheReferenceResponseForFastSlowAndExposure) {
    constexpr double rate = 48000.0;
    constexpr double amplitude = 0.3;
    struct Limit {
        double shortestMs, above, below;
    };
    const std::vector<Limit> limits{
        {10.0, 0.2, 0.2}, {2.0, 1.0, 1.5}, {0.5, 1.0, 2.0}, {0.25, 1.5, 3.0}};
    const auto limitFor = [&](double ms) {
        return *std::find_if(limits.begin(), limits.end(),
                             [ms](const Limit& l) { return ms >= l.shortestMs - 1e-9; });
    };
    struct Case {
        const char* weighting;
        double tau, spacing;
        std::vector<double> burstsMs;
    };
    const std::vector<Case> cases{
        {"F", 0.125, 1.5, {0.25, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000}},
        {"S", 1.0, 6.0, {2, 5, 10, 20, 50, 100, 200, 500, 1000}}};
    for (const Case& c : cases) {
        Samples v;
        addSilence(v, c.spacing, rate);
        for (const double ms : c.burstsMs) {
            addSilence(v, 0.25, rate);
            addTone(v, 4000.0, ms / 1000.0, amplitude, rate);
            addSilence(v, c.spacing - 0.25 - ms / 1000.0, rate);
        }
        const std::string file =
            wave(std::string("burst") + c.weighting + ".wav", floatWave(v, rate));
        const Rows rows = meter(file, "--weighting Z --time-weighting " + std::string(c.weighting) +
                                          " --interval " + std::to_string(c.spacing));
        ASSERT_EQ(rows.size(), 2 + c.burstsMs.size());
        for (std::size_t i = 0; i < c.burstsMs.size(); ++i) {
            const std::size_t row = i + 2;
            const double tb = c.burstsMs[i] / 1000.0;
            const Limit l = limitFor(c.burstsMs[i]);
            const double lmax = valueAt(rows, row, std::string("LZ") + c.weighting + "max_dBFS");
            const double expected =
                dbOf(amplitude) + 10.0 * std::log10(1.0 - std::exp(-tb / c.tau));
            EXPECT_LE(lmax, expected + l.above) << c.weighting << " " << c.burstsMs[i] << " ms";
            EXPECT_GE(lmax, expected - l.below) << c.weighting << " " << c.burstsMs[i] << " ms";
            // The exposure of the interval holding the burst: its Leq over its length.
            const double le = valueAt(rows, row, "LZeq_dBFS") + 10.0 * std::log10(c.spacing);
            EXPECT_NEAR(le, dbOf(amplitude) + 10.0 * std::log10(tb), 0.1)
                << "LE " << c.burstsMs[i] << " ms";
        }
    }
}

// 1 kHz in 24-bit samples from -100 to 0 dBFS in 10 dB steps, a second each (quietest first, so
// no step inherits a louder one's ringing): each second's LAeq is its own level.
TEST_F(MeterTest, LevelsAreLinearOverAHundredDecibels) {
    constexpr double rate = 48000.0;
    Samples v;
    for (int db = -100; db <= 0; db += 10) {
        addTone(v, 1000.0, 1.0, std::pow(10.0, db / 20.0) * 0.999, rate);
    }
    const Rows rows = meter(wave("linear.wav", wave24(v, 48000)), "");
    ASSERT_EQ(rows.size(), 12u);
    for (int step = 0; step <= 10; ++step) {
        const double level = -100.0 + 10.0 * step + dbOf(0.999);
        EXPECT_NEAR(valueAt(rows, static_cast<std::size_t>(step) + 1, "LAeq_dBFS"), level, 0.1)
            << level;
    }
}

// Rows fall on whole samples (44.1 kHz, an interval of no whole number of samples), the last
// one shorter; a step of level shows in the row that holds it as the energy mean of its parts.
TEST_F(MeterTest, IntervalRowsOfASteppedSignal) {
    constexpr double rate = 44100.0;
    Samples v;
    addTone(v, 1000.0, 1.5, 0.1, rate);
    addTone(v, 1000.0, 1.5, 0.01, rate);
    const std::string file = wave("step.wav", floatWave(v, 44100));
    const Rows rows = meter(file, "");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"start_s", "end_s", "LAeq_dBFS", "LAFmax_dBFS",
                                                 "LAFmin_dBFS", "LCpeak_dBFS"}));
    EXPECT_EQ(rows[2][0], "1.000000");
    EXPECT_EQ(rows[3][1], "3.000000");
    EXPECT_NEAR(valueAt(rows, 1, "LAeq_dBFS"), -20.0, 0.05);
    EXPECT_NEAR(valueAt(rows, 2, "LAeq_dBFS"), 10.0 * std::log10((1e-2 + 1e-4) / 2.0), 0.05);
    EXPECT_NEAR(valueAt(rows, 3, "LAeq_dBFS"), -40.0, 0.05);
    EXPECT_NEAR(valueAt(rows, 1, "LAFmax_dBFS"), -20.0, 0.1); // steady from the first sample
    EXPECT_NEAR(valueAt(rows, 3, "LAFmin_dBFS"), -40.0, 0.1);
    EXPECT_NEAR(valueAt(rows, 3, "LCpeak_dBFS"), -40.0 + 3.01, 0.05); // a steady sine's peak
    const Rows odd = meter(file, "--interval 0.123457");
    ASSERT_EQ(odd.size(), 1 + 25u); // 24 whole intervals and what is left
    for (std::size_t k = 1; k < odd.size(); ++k) {
        const auto frame = [&](std::size_t i) {
            return std::min<long long>(std::llround(static_cast<double>(i) * 0.123457 * rate),
                                       static_cast<long long>(v.size()));
        };
        char start[32], end[32];
        std::snprintf(start, sizeof start, "%.6f", static_cast<double>(frame(k - 1)) / rate);
        std::snprintf(end, sizeof end, "%.6f", static_cast<double>(frame(k)) / rate);
        EXPECT_EQ(odd[k][0], start);
        EXPECT_EQ(odd[k][1], end);
    }
    EXPECT_EQ(meter(file, "--interval 0").size(), 2u);
}

// Loud (1 kHz, -10 dBFS) for the first 2 s of 10 s and quiet (-50 dBFS) after: L5 and L10 read
// the loud level, L50, L90 and L95 the quiet one (the fast decay between takes 1.2 s).
TEST_F(MeterTest, StatisticalLevelsOfASignalLoudAFifthOfTheTime) {
    constexpr double rate = 48000.0;
    Samples v;
    addTone(v, 1000.0, 2.0, std::pow(10.0, -0.5), rate);
    addTone(v, 1000.0, 8.0, std::pow(10.0, -2.5), rate);
    const std::string file = wave("fifth.wav", floatWave(v, 48000));
    const ProgramRun r =
        run("meter " + file + " -o " + dir.file("out") + " --summary " + dir.file("summary.csv"));
    ASSERT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
    const Rows s = csvRows(dir.file("summary.csv"));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_NEAR(valueAt(s, 1, "LAF5_dBFS"), -10.0, 0.1);
    EXPECT_NEAR(valueAt(s, 1, "LAF10_dBFS"), -10.0, 0.1);
    for (const char* n : {"LAF50_dBFS", "LAF90_dBFS", "LAF95_dBFS"}) {
        EXPECT_NEAR(valueAt(s, 1, n), -50.0, 0.1) << n;
    }
}

// The worked example of the manual: a 94 dB calibrator recorded at -26 dBFS sets the full scale
// at 120 dB, so a 1 kHz tone at -36 dBFS reads 84.0 dB LAeq; the summary holds every file in the
// order of the list, whichever finishes first.
TEST_F(MeterTest, ACalibratorRecordingSetsTheFullScaleAndTheSummaryListsEveryFile) {
    constexpr double rate = 48000.0;
    Samples cal, tone, quiet;
    addTone(cal, 1000.0, 5.0, std::pow(10.0, -26.0 / 20.0), rate);
    addTone(tone, 1000.0, 4.0, std::pow(10.0, -36.0 / 20.0), rate);
    addTone(quiet, 1000.0, 2.0, std::pow(10.0, -56.0 / 20.0), rate);
    const std::string calibrator = wave("cal.wav", floatWave(cal, 48000));
    const std::string a = wave("a.wav", floatWave(tone, 48000));
    const std::string b = wave("b.wav", floatWave(quiet, 48000));
    const ProgramRun r = run("meter " + a + " " + b + " --jobs 2 --calibrator " + calibrator +
                             " -o " + dir.file("out") + " --summary " + dir.file("s.csv"));
    ASSERT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
    const Rows s = csvRows(dir.file("s.csv"));
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0], (std::vector<std::string>{"file", "duration_s", "LAeq_dB", "LAE_dB",
                                              "LAFmax_dB", "LAFmin_dB", "LCpeak_dB", "LAF5_dB",
                                              "LAF10_dB", "LAF50_dB", "LAF90_dB", "LAF95_dB"}));
    EXPECT_EQ(s[1][0], a);
    EXPECT_EQ(s[2][0], b);
    EXPECT_EQ(s[1][1], "4.000000");
    EXPECT_EQ(s[1][2], "84.00");
    EXPECT_NEAR(valueAt(s, 1, "LAE_dB"), 84.0 + 10.0 * std::log10(4.0), 0.02);
    EXPECT_NEAR(valueAt(s, 2, "LAeq_dB"), 64.0, 0.02);
    // A pistonphone's 250 Hz at its own level; --full-scale says the same directly.
    Samples piston;
    addTone(piston, 250.0, 4.0, std::pow(10.0, -10.0 / 20.0), rate);
    const std::string p = wave("piston.wav", floatWave(piston, 48000));
    EXPECT_EQ(meter(a, "--calibrator " + p + " --calibrator-level 124 --weighting Z")[1][2],
              "98.00");
    EXPECT_EQ(meter(a, "--full-scale 120 --weighting Z")[1][2], "84.00");
}

// Two runs given one summary: the first, still reading its names from a pipe, holds it; the
// second is refused under any of the summary's names and replaces nothing. The first is known
// to hold it once it has read from the pipe: a write of more than the pipe holds returns only
// then. A lock file a killed run left behind is taken over.
TEST_F(MeterTest, ASummaryAnotherRunHoldsIsRefusedUnderAnyOfItsNames) {
    const std::string tone = wave("tone.wav", mono16(sine(1000.0, 1.0)));
    std::filesystem::create_directory(dir.file("d"));
    std::filesystem::create_directory_symlink(dir.file("d"), dir.file("link"));
    int names[2];
    ASSERT_EQ(::pipe(names), 0);
    ::signal(SIGPIPE, SIG_IGN); // a first run that ended early fails the writes, not the test
    const pid_t first = ::fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        ::dup2(names[0], STDIN_FILENO);
        ::close(names[0]);
        ::close(names[1]);
        const std::string summary = dir.file("d/s.csv");
        ::execl(KORV_CLI_PATH, KORV_CLI_PATH, "meter", "--summary", summary.c_str(), "-o",
                dir.file("out1").c_str(), "-", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(names[0]);
    const std::string blank(static_cast<std::size_t>(::fcntl(names[1], F_GETPIPE_SZ)) + 1, '\n');
    ASSERT_EQ(::write(names[1], blank.data(), blank.size()), static_cast<ssize_t>(blank.size()));
    for (const std::string& name : {dir.file("link/s.csv"), std::string("./link/../d/s.csv")}) {
        const ProgramRun r = shell("$CLI meter " + tone + " -o out2 --summary " + name);
        EXPECT_EQ(r.status, EXIT_USAGE) << name;
        EXPECT_THAT(r.errors, HasSubstr("--summary " + name + " is being written by another run"));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("d/s.csv")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out2")));
    const std::string listed = tone + "\n";
    ASSERT_EQ(::write(names[1], listed.data(), listed.size()), static_cast<ssize_t>(listed.size()));
    ::close(names[1]);
    int status = -1;
    ASSERT_EQ(::waitpid(first, &status, 0), first);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EXIT_ALL_DONE) << status;
    const Rows rows = csvRows(dir.file("d/s.csv"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][0], tone);
    EXPECT_FALSE(std::filesystem::exists(dir.file("d/s.csv.lock")));
    // Left by a run that was killed: nobody holds it.
    test::writeFile(dir.file("d/s.csv.lock"), {});
    const ProgramRun again =
        run("meter " + tone + " -o " + dir.file("out3") + " --summary " + dir.file("link/s.csv"));
    EXPECT_EQ(again.status, EXIT_ALL_DONE) << again.errors;
    EXPECT_FALSE(std::filesystem::exists(dir.file("d/s.csv.lock")));
    // The input itself under other names: through a link, and as ./.
    std::filesystem::create_symlink(tone, dir.file("alias.csv"));
    for (const std::string& name : {dir.file("alias.csv"), std::string("./tone.wav")}) {
        const ProgramRun r = shell("$CLI meter " + tone + " -o out4 --summary " + name);
        EXPECT_EQ(r.status, EXIT_USAGE) << name;
        EXPECT_THAT(r.errors, HasSubstr("is the input file")) << name;
    }
    EXPECT_EQ(csvRows(dir.file("out3/tone.meter.csv")).size(), 2u);
    EXPECT_GT(test::readFile(tone).size(), 80000u); // never replaced
}

// What a calibrator's recording must be, each refusal a usage error naming the file and why:
// noise, a tone off 1 kHz or 250 Hz by more than 2 % (also one between two third-octave bands),
// too short, not steady.
TEST_F(MeterTest, ACalibratorRecordingThatIsNoSteadyToneIsRefused) {
    constexpr double rate = 48000.0;
    const double a = std::pow(10.0, -26.0 / 20.0);
    Samples noise, brief, unsteady;
    std::mt19937 gen(3);
    std::normal_distribution<double> white(0.0, 0.05);
    for (int i = 0; i < 5 * 48000; ++i) {
        noise.push_back(white(gen));
    }
    addTone(brief, 1000.0, 2.0, a, rate);
    addTone(unsteady, 1000.0, 5.0, a, rate);
    for (std::size_t i = 0; i < unsteady.size(); ++i) { // rising 3 dB over the 5 s
        unsteady[i] *= std::pow(10.0, 3.0 * static_cast<double>(i) /
                                          static_cast<double>(unsteady.size()) / 20.0);
    }
    const auto off = [&](double hz) {
        Samples v;
        addTone(v, hz, 5.0, a, rate);
        return v;
    };
    struct Refusal {
        std::string name;
        Samples samples;
        std::string said;
    };
    const std::vector<Refusal> refusals{
        {"noise", noise, "noise"},
        {"1030", off(1030.0), "at 1030.0 Hz, not 1000 Hz or 250 Hz"},
        {"1100", off(1100.0), "at 1100.0 Hz, not 1000 Hz or 250 Hz"},
        {"240", off(240.0), "at 240.0 Hz, not 1000 Hz or 250 Hz"},
        {"brief", brief, "too short"},
        {"unsteady", unsteady, "not a steady tone"},
    };
    const std::string tone = wave("tone.wav", floatWave(brief, 48000));
    for (const Refusal& refusal : refusals) {
        const std::string file = wave(refusal.name + ".wav", floatWave(refusal.samples, 48000));
        const ProgramRun r =
            run("meter " + tone + " --calibrator " + file + " -o " + dir.file("out"));
        EXPECT_EQ(r.status, EXIT_USAGE) << refusal.name;
        EXPECT_THAT(r.errors, HasSubstr(file + ": ")) << refusal.name;
        EXPECT_THAT(r.errors, HasSubstr(refusal.said)) << refusal.name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/tone.meter.csv")));
}

// Bands at mid-band, absolute times, channels, and every way a run can fail, with its status.
TEST_F(MeterTest, BandsTimesChannelsAndFailures) {
    constexpr double rate = 48000.0;
    Samples tone;
    addTone(tone, 1000.0, 2.0, 0.1, rate);
    const std::string file = wave("t.wav", floatWave(tone, 48000));
    const Rows bands = meter(file, "--bands 3 --full-scale 100");
    ASSERT_EQ(bands[0].size(), 6u + 30u); // 25 Hz .. 20 kHz
    EXPECT_EQ(bands[0][6], "LZeq_25_Hz_dB");
    EXPECT_EQ(bands[0].back(), "LZeq_20000_Hz_dB");
    EXPECT_NEAR(valueAt(bands, 2, "LZeq_1000_Hz_dB"), 80.0, 0.1);
    EXPECT_LT(valueAt(bands, 2, "LZeq_500_Hz_dB"), 50.0);
    // Finer bands by their exact mid-band frequencies (base ten, 1000 G^((2x + 1) / 48)).
    const Rows fine = meter(file, "--bands 24 --band-low 980 --band-high 1020");
    EXPECT_EQ(std::vector(fine[0].begin() + 6, fine[0].end()),
              (std::vector<std::string>{"LZeq_985.7_Hz_dBFS", "LZeq_1014_Hz_dBFS"}));
    // Silence reads the documented floor.
    Samples silence;
    addSilence(silence, 1.0, rate);
    EXPECT_EQ(meter(wave("zero.wav", floatWave(silence, 48000)), "")[1][2], "-200.00");
    // The recording time of a broadcast wave file, a second on per row.
    const Bytes bext = test::bextChunk("2026-06-01", "08:00:00", 0);
    const std::string dated =
        wave("dated.wav", test::monoWaveWith(bext, 44100, pcm16(sine(1000.0, 2.5))));
    const Rows timed = meter(dated, "--absolute-time");
    ASSERT_EQ(timed.size(), 4u);
    EXPECT_EQ(timed[0][0], "start");
    EXPECT_THAT(timed[2][0], HasSubstr("2026-06-01T08:00:01"));
    // The second channel of a stereo file, 20 dB below the first.
    Samples stereo;
    for (std::size_t i = 0; i < tone.size(); ++i) {
        stereo.push_back(tone[i]);
        stereo.push_back(tone[i] / 10.0);
    }
    const std::string two = wave("two.wav", floatWave(stereo, 48000, 2));
    EXPECT_NEAR(valueAt(meter(two, "--channel 2"), 2, "LAeq_dBFS"), -40.0, 0.05);
    struct Failure {
        std::string arguments;
        int status;
        std::string said;
    };
    Samples slowTone;
    addTone(slowTone, 500.0, 0.5, 0.1, 3000.0);
    const std::string slow = wave("slow.wav", floatWave(slowTone, 3000));
    const std::vector<Failure> failures{
        {slow, EXIT_SOME_FAILED, slow + ": Sample Rate Out of Range"},
        {file + " " + dir.file("none.wav"), EXIT_SOME_FAILED,
         dir.file("none.wav") + ": Cannot Open File (No such file or directory)"},
        {file + " --channel 3", EXIT_SOME_FAILED, file + ": No Such Channel in File"},
        {file + " --absolute-time", EXIT_SOME_FAILED, file + ": No recording time"},
        {file + " --bands 5", EXIT_USAGE, "--bands"},
        {file + " --band-low 100", EXIT_USAGE, "--bands"},
        {file + " --weighting B", EXIT_USAGE, "--weighting"},
        {file + " --interval -1", EXIT_USAGE, "--interval"},
        {file + " --full-scale 100 --calibrator " + file, EXIT_USAGE, "excludes"},
        {file + " --summary " + file, EXIT_USAGE, "is the input file"},
        {file + " --calibrator " + dir.file("none.wav"), EXIT_USAGE, "none.wav: Cannot Open File"},
    };
    for (const Failure& f : failures) {
        const ProgramRun r = run("meter " + f.arguments + " -o " + dir.file("fail"));
        EXPECT_EQ(r.status, f.status) << f.arguments;
        EXPECT_THAT(r.errors, HasSubstr(f.said)) << f.arguments;
    }
    EXPECT_GT(test::readFile(file).size(), 1000u); // never replaced
}

// levels --csv and bands on the calibrated scale: a sine between bins sums over its bins to its
// own level, its third-octave band reads it, the unit in every column name.
TEST_F(MeterTest, LevelsAndBandsInDbfsAndDbSpl) {
    constexpr double rate = 48000.0;
    Samples tone;
    addTone(tone, 1013.7, 3.0, 0.25, rate); // between bins of any transform size
    const std::string file = wave("s.wav", floatWave(tone, 48000));
    const auto levels = [&](const std::string& arguments) {
        const ProgramRun r = run("levels --csv " + file + " -o " + dir.file("l") + " " + arguments);
        EXPECT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
        return csvRows(dir.file("l/s.levels.csv"));
    };
    for (const auto& [arguments, unit, offset] :
         {std::tuple{"--unit dbfs", "dBFS", 0.0}, std::tuple{"--full-scale 110", "dB", 110.0}}) {
        const Rows rows = levels(arguments);
        EXPECT_THAT(rows[0][1], HasSubstr(std::string("_Hz_") + unit));
        const std::vector<std::string>& mid = rows[rows.size() / 2];
        double power = 0.0;
        for (std::size_t c = 1; c < mid.size(); ++c) {
            power += std::pow(10.0, std::stod(mid[c]) / 10.0);
        }
        // The transform keeps quarter decibels, truncated: within 0.25 dB below.
        EXPECT_NEAR(10.0 * std::log10(power), dbOf(0.25) + offset - 0.12, 0.15) << arguments;
    }
    const ProgramRun r = run("bands " + file + " -o " + dir.file("b") + " --unit dbfs");
    ASSERT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
    const Rows bands = csvRows(dir.file("b/s.bands.csv"));
    EXPECT_NEAR(valueAt(bands, bands.size() / 2, "1000_Hz_dBFS"), dbOf(0.25), 0.05);
    EXPECT_EQ(run("levels " + file + " --unit dbfs").status, EXIT_USAGE); // not the log's scale
    EXPECT_EQ(run("bands " + file + " --unit spl").status, EXIT_USAGE);   // no full scale known
}

} // namespace
} // namespace korv::cli
