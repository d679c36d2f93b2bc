#include "cli/cli_options.h"

#include "analysis/calibration_edit.h"
#include "analysis/parameters.h"
#include "audio/sound_file.h"
#include "cli/cli_grid.h"
#include "display/plot_layout.h"
#include "settings/option_ids.h"
#include "settings/settings_file.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

namespace korv::cli {

namespace {

void addCommonOptions(CLI::App& command, Options& o) {
    command.add_option("files", o.files, "Wave files; - reads their names from standard input");
    command.add_option("--from", o.fromFile, "Read the file names from FILE, one a line");
    command.add_option("-o,--out", o.outDir,
                       "Write the outputs to DIR (default: beside each file)");
    command.add_option("-j,--jobs", o.jobs, "Files analysed at once (default: every core)")
        ->check(CLI::Range(1u, 1024u));
    command
        .add_option("--settings", o.settingsFile,
                    "Settings file (default: korv.ini beside the executable)")
        ->check(CLI::ExistingFile);
    command
        .add_option("--calibration", o.calibrationFile,
                    "Microphone calibration file (frequency and dB per line)")
        ->check(CLI::ExistingFile);
    command.add_flag("--calibration-response", o.calibrationResponse,
                     "The calibration file lists the microphone's response (subtracted)");
    ParameterOptions& p = o.parameters;
    command.add_option("--low", p.lowHz, "Lowest frequency shown, Hz")
        ->check(CLI::Range(0, 1000000));
    command.add_option("--high", p.highHz, "Highest frequency shown, Hz")
        ->check(CLI::Range(1, 1000000));
    command.add_option("--fft", p.fftSize, "FFT size")
        ->check(CLI::IsMember({512, 1024, 2048, 4096, 8192, 16384}));
    command.add_option("--resolution", p.resolution, "Frequency resolution factor (10: finest)")
        ->check(CLI::Range(MIN_RESOLUTION_FACTOR, MAX_RESOLUTION_FACTOR));
    command.add_option("--time-step", p.timeStepMsec, "Time between columns, msec")
        ->check(CLI::Range(MIN_TIME_SCALE_MSEC, MAX_TIME_SCALE_MSEC));
    command.add_option("--scale", p.scale, "Frequency scale")
        ->check(CLI::IsMember({"linear", "log"}));
    command.add_option("--channel", p.channel, "Channel: left, right, or its number from 1")
        ->check(CLI::IsMember({"left", "right"}) | CLI::Range(1, MAX_FILE_CHANNELS));
    command.add_option("--db-range", p.dbRange, "Colour range, dB")
        ->check(CLI::IsMember({30, 60, 90}));
    command.add_option("--gain", p.gain, "Display gain, dB")
        ->check(CLI::Range(-kLevelScaleOffset, kLevelScaleOffset));
    command.add_option("--palette", p.palette, "Colour palette")
        ->check(CLI::IsMember({"cb", "bw", "user"}));
    command.add_option("--average", p.average, "Columns averaged")
        ->check(CLI::Range(MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT));
}

// loadSettings deletes a file that is not a settings file; a file named on the command line
// is the user's, so it is read from a copy.
void loadSettingsCopy(const std::string& path, AppSettings& settings, LevelPalette& palette) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return;
    }
    std::string copy = (std::filesystem::temp_directory_path(ec) / "korv-cli-XXXXXX").string();
    const int fd = ::mkstemp(copy.data());
    if (fd < 0) {
        return;
    }
    ::close(fd);
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing, ec);
    if (!ec) {
        loadSettings(copy, settings, palette);
    }
    std::filesystem::remove(copy, ec);
}

} // namespace

int fileChannelOption(const Options& options) {
    const auto& channel = options.parameters.channel;
    if (!channel || channel->empty() || !std::all_of(channel->begin(), channel->end(), [](char c) {
            return c >= '0' && c <= '9';
        })) {
        return 0;
    }
    return channel->size() > 3 ? MAX_FILE_CHANNELS + 1 : std::stoi(*channel);
}

namespace {

void applyParameters(const ParameterOptions& p, AppSettings& s) {
    if (p.lowHz) {
        s.lowBandHz = *p.lowHz;
    }
    if (p.highHz) {
        s.highBandHz = *p.highHz;
    }
    if (p.fftSize) {
        s.fftSizeChoice = fftSizeChoiceFor(std::countr_zero(static_cast<unsigned>(*p.fftSize)));
    }
    if (p.resolution) {
        s.resolutionFactor = *p.resolution;
    }
    if (p.timeStepMsec) {
        s.timeScaleMsecSaved = *p.timeStepMsec;
    }
    if (p.scale) {
        s.freqScaleChoice = *p.scale == "log" ? FREQ_SCALE_LOG : FREQ_SCALE_LINEAR;
    }
    if (p.channel) {
        // Channel 2 of a stereo file is its right channel; a channel of a file of more is
        // held alone (fileChannelOption).
        s.channelChoice = *p.channel == "right" || *p.channel == "2" ? CHANNEL_RIGHT : CHANNEL_LEFT;
    }
    if (p.dbRange) {
        s.dbScaleChoice = *p.dbRange == 30   ? DB_SCALE_30
                          : *p.dbRange == 90 ? DB_SCALE_90
                                             : DB_SCALE_60;
    }
    if (p.gain) {
        s.levelScaleCode = *p.gain;
    }
    if (p.palette) {
        s.paletteChoice = *p.palette == "bw"     ? PALETTE_BW
                          : *p.palette == "user" ? PALETTE_USER
                                                 : PALETTE_CB;
    }
    if (p.average) {
        s.averageCountScroll = *p.average;
    }
}

std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text;
    text.resize(limit + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > limit) {
        return std::nullopt;
    }
    return text;
}

void addLines(std::istream& in, std::vector<std::string>& files) {
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            files.push_back(line);
        }
    }
}

} // namespace

Parsed parseCommandLine(int argc, char** argv) {
    Options o;
    CLI::App app{"Korvanthile without a window: spectral images, level tables and third-octave "
                 "bands of wave files.",
                 "korvanthile-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "korvanthile-cli 6.6");
    CLI::App* image = app.add_subcommand("image", "The entire spectral image of each file");
    addCommonOptions(*image, o);
    image->add_option("--format", o.format, "Image format")
        ->check(CLI::IsMember({"png", "bmp", "jpg"}));
    image->add_flag("--grid", o.grid, "Draw the grid and axis labels (needs the desktop build)");
    image->add_option("--height", o.layout.plotHeight, "Picture height per channel, pixels")
        ->check(CLI::Range(16, 8192));
    image->add_option("--strip", o.layout.stripHeight, "Waveform strip height, pixels")
        ->check(CLI::Range(1, 4096));
    image->add_option("--min-width", o.layout.minWidth, "Least picture width, pixels")
        ->check(CLI::Range(0, 65536));
    CLI::App* levels = app.add_subcommand("levels", "The levels of every column of each file");
    addCommonOptions(*levels, o);
    levels->add_flag("--csv", o.csv, "CSV: one row per column, one column per frequency row");
    CLI::App* bands = app.add_subcommand("bands", "Third-octave band levels over time");
    addCommonOptions(*bands, o);
    bands->add_flag("--csv", o.csv, "CSV (the only format of this command)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return {std::nullopt, code == 0 ? EXIT_ALL_DONE : EXIT_USAGE};
    }
    o.command = image->parsed()    ? Command::Image
                : levels->parsed() ? Command::Levels
                                   : Command::Bands;
    if (o.command == Command::Bands) {
        // The bands below about 100 Hz are narrower than eight bins of a shorter transform,
        // and a band table wants steps a reader can follow, not the image's columns.
        o.parameters.fftSize = o.parameters.fftSize.value_or(kBandsDefaultFftSize);
        o.parameters.timeStepMsec = o.parameters.timeStepMsec.value_or(kBandsDefaultStepMsec);
    }
    if (o.files.empty() && o.fromFile.empty()) {
        std::cerr << "korvanthile-cli: no files given (a name, -, or --from FILE)\n";
        return {std::nullopt, EXIT_USAGE};
    }
    if (o.layout.stripHeight >= o.layout.plotHeight) {
        std::cerr << "korvanthile-cli: --strip must be less than --height\n";
        return {std::nullopt, EXIT_USAGE};
    }
    if (o.grid && !gridAvailable()) {
        std::cerr << "korvanthile-cli: --grid needs a build with the desktop (Qt)\n";
        return {std::nullopt, EXIT_USAGE};
    }
    return {std::move(o), EXIT_ALL_DONE};
}

RunSettings resolveSettings(const Options& o, const std::string& executable) {
    RunSettings run;
    loadSettingsCopy(o.settingsFile.empty() ? settingsPath(executable) : o.settingsFile,
                     run.settings, run.palette);
    applyParameters(o.parameters, run.settings);
    if (!o.calibrationFile.empty()) {
        const auto text = readSmallFile(o.calibrationFile, kCalibrationFileMaxBytes);
        if (!text) {
            run.error = o.calibrationFile + ": " + kCannotOpenFile.text;
            return run;
        }
        const CalibrationImport imported =
            importCalibrationText(*text, run.settings.calibrationTable,
                                  o.calibrationResponse ? CalibrationSign::ResponseToRemove
                                                        : CalibrationSign::CorrectionToAdd);
        if (!imported.ok) {
            run.error = o.calibrationFile + ": " + imported.error;
            return run;
        }
        run.settings.calibrationTable = imported.curve;
    }
    (void)fillActivePalette(run.settings.paletteChoice, run.settings.userPalette, run.palette);
    run.settings = wholeFileSettings(run.settings);
    return run;
}

std::vector<std::string> expandFileList(const Options& o, std::string& error) {
    std::vector<std::string> files;
    for (const std::string& f : o.files) {
        if (f == "-") {
            addLines(std::cin, files);
        } else {
            files.push_back(f);
        }
    }
    if (!o.fromFile.empty()) {
        std::ifstream in(o.fromFile);
        if (!in) {
            error = o.fromFile + ": " + kCannotOpenFile.text;
            return {};
        }
        addLines(in, files);
    }
    return files;
}

} // namespace korv::cli
