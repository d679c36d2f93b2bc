#pragma once
// The command-line tool's tests' helpers: wave files of known signals, the tool's tables and
// logs read back, and the tests' folder.

#include "analysis/band_levels.h"
#include "analysis/calibration_edit.h"
#include "cli/cli_jobs.h"
#include "cli/cli_outputs.h"
#include "core/wave_test_files.h"
#include "settings/settings_file.h"
#include "settings/settings_inputs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <numeric>
#include <ranges>
#include <sstream>
#include <thread>

namespace korv::cli {

using test::Bytes;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

inline constexpr std::uint32_t kRate = 44100;
inline constexpr std::int64_t kMemory = std::int64_t{1} << 30;

// 16-bit samples of values in 16-bit units, and a mono wave file of them.
inline Bytes pcm16(const std::vector<double>& values) {
    Bytes out;
    for (const double v : values) {
        test::putLe16(out, static_cast<std::uint16_t>(
                               static_cast<std::int16_t>(std::clamp(v, -32767.0, 32767.0))));
    }
    return out;
}
inline Bytes mono16(const std::vector<double>& values, std::uint32_t rate = kRate) {
    return test::pcmWaveFile(16, 1, rate, 16, pcm16(values));
}

inline std::vector<double> sine(double hz, double seconds, double amplitude = 16000.0,
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
inline double sineBinLevelDb(double amplitude, double gainDb) {
    return 20.0 * std::log10(amplitude / 2.0) - 90.0 + gainDb;
}
inline double sineBandLevelDb(double amplitude, double gainDb) {
    return 10.0 * std::log10(3.0 * amplitude * amplitude / 8.0) - 90.0 + gainDb;
}

// The loudest value of a CSV row after the time, with its column.
inline std::pair<std::size_t, double> loudestOf(const std::vector<std::string>& row) {
    std::pair<std::size_t, double> best{0, -1e9};
    for (std::size_t c = 1; c < row.size(); ++c) {
        if (std::stod(row[c]) > best.second) {
            best = {c, std::stod(row[c])};
        }
    }
    return best;
}

// The options of a command line, its words split at the spaces.
inline Options parsed(const std::string& line) {
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
inline std::vector<double> pinkNoise(double seconds, double scale = 1500.0) {
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

inline std::vector<std::vector<std::string>> csvRows(const std::string& path) {
    std::ifstream in(path);
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
inline std::vector<LogBlock> logBlocks(const std::string& path) {
    std::ifstream log(path);
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

inline RunSettings defaults() {
    return {wholeFileSettings(AppSettings{}), kCbPalette, {}, {}};
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

struct ProgramRun {
    int status = -1;
    std::string errors;
};

// The executable itself, run as a server would.
class CliRunTest : public CliTest {
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

} // namespace korv::cli
