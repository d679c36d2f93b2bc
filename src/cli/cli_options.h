#pragma once
// The command line of korvanthile-cli: the command, the files, and the analysis parameters
// (from the settings file, each one replaceable by an option).

#include "display/palette.h"
#include "meter/calibrator.h"
#include "pipeline/file_analysis.h"
#include "settings/app_settings.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace korv::cli {

enum class Command { Image, Levels, Bands, Meter };

// Exit statuses.
inline constexpr int EXIT_ALL_DONE = 0;
inline constexpr int EXIT_SOME_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

// The bands command's own defaults (the other parameters come from the settings).
inline constexpr int kBandsDefaultFftSize = 16384;
inline constexpr float kBandsDefaultStepMsec = 100.0f;

// The analysis parameters given as options; what is not given comes from the settings.
struct ParameterOptions {
    std::optional<int> lowHz;
    std::optional<int> highHz;
    std::optional<int> fftSize;
    std::optional<int> resolution;
    std::optional<float> timeStepMsec;
    std::optional<std::string> scale;   // linear, log
    std::optional<std::string> channel; // left, right, or a channel number from 1
    std::optional<int> dbRange;         // 30, 60, 90
    std::optional<int> gain;
    std::optional<std::string> palette; // cb, bw, user
    std::optional<int> average;
    std::optional<std::string> reduce; // frame, max: a column's one frame or its step's maximum
};

// The meter's shortest interval, and its bands' default span (mid-band frequencies).
inline constexpr double kLeastMeterIntervalSeconds = 0.001;
inline constexpr double kMeterDefaultBandLowHz = 25.0;
inline constexpr double kMeterDefaultBandHighHz = 20000.0;

// The sound level meter's options (meter), and the level scale of levels --csv and bands.
struct MeterOptions {
    std::string weighting = "A";       // A, C, Z
    std::string timeWeighting = "F";   // F, S, I
    double intervalSeconds = 1.0;      // 0: one row for the whole file
    std::optional<int> bandsPerOctave; // 1, 3, 6, 12, 24; none: no bands
    double bandLowHz = kMeterDefaultBandLowHz;
    double bandHighHz = kMeterDefaultBandHighHz;
    std::optional<double> fullScaleDb; // the dB SPL of a full-scale sine
    std::string calibratorFile;        // a calibrator's recording that gives it
    double calibratorLevelDb = meter::kDefaultCalibratorLevelDb;
    std::string summaryFile;
    std::string unit; // levels --csv, bands: "dbfs", "spl", or empty for the display scale
};

struct Options {
    Command command = Command::Image;
    std::vector<std::string> files; // "-" reads names from standard input
    std::string fromFile;
    std::string outDir;
    std::string format = "png";
    bool grid = false;   // the grid's crosses (and, without --legend, its bare labels)
    bool legend = false; // the axes with their units and the level legend
    bool quiet = false;  // no progress line, even on a terminal
    bool csv = false;
    bool absoluteTime = false; // levels --csv: each row's time of day from the file's own start
    std::string settingsFile;  // empty: the defaults; kDesktopSettings: the desktop program's
    std::string calibrationFile;
    bool calibrationResponse = false; // the file lists the response, to subtract
    unsigned jobs = 0;                // 0: every core
    bool verbose = false;             // the parameters used, on stderr
    ImageLayout layout{300, 24, 0};
    ParameterOptions parameters;
    MeterOptions meter;
};

// The picture carries text: the font engine is needed.
[[nodiscard]] inline bool picturesHaveText(const Options& o) {
    return o.grid || o.legend;
}

// The channel number --channel gives (1-based), or 0 for none or left/right.
[[nodiscard]] int fileChannelOption(const Options& options);

// Parses argv. nullopt with the exit status when the run ends here (help, or a usage error
// already written to stderr).
struct Parsed {
    std::optional<Options> options;
    int exitStatus = EXIT_ALL_DONE;
};
[[nodiscard]] Parsed parseCommandLine(int argc, char** argv);

// --settings desktop: the file the desktop program reads and writes.
inline constexpr const char* kDesktopSettings = "desktop";

// The settings of the run: the named settings file (or the desktop program's), else the
// defaults; then the options and the calibration file. The palette of the pictures is filled
// from them. An error (unreadable calibration file) comes back as its text.
struct RunSettings {
    AppSettings settings;
    LevelPalette palette = kCbPalette;
    std::string error;
    // The dB SPL of a full-scale sine (--full-scale, or found from --calibrator); none: levels
    // re full scale.
    std::optional<meter::FullScaleLevel> fullScale;
    // No --high and no settings file: each file's band reaches half its own rate.
    bool highBandFromFile = false;
};
[[nodiscard]] RunSettings resolveSettings(const Options& options, const std::string& executable);

// The settings file the options name: empty for none (the defaults), the desktop program's
// own for --settings desktop.
[[nodiscard]] std::string settingsFileOf(const Options& options, const std::string& executable);

// --verbose: the settings file read and the parameters of the run, one per line.
void printParameters(const std::string& settingsFile, const RunSettings& run, std::ostream& out);

// The files to process: the arguments, with "-" and --from replaced by their lines.
[[nodiscard]] std::vector<std::string> expandFileList(const Options& options, std::string& error);

} // namespace korv::cli
