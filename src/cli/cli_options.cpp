#include "cli/cli_options.h"

#include "analysis/calibration_edit.h"
#include "analysis/parameters.h"
#include "audio/calibration_file.h"
#include "audio/sound_file.h"
#include "cli/cli_grid.h"
#include "cli/cli_inputs.h"
#include "display/plot_layout.h"
#include "output/image_encoding.h"
#include "settings/settings_file.h"
#include "settings/settings_inputs.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

namespace korv::cli {

namespace {

CLI::Validator finiteNumber() {
    return CLI::Validator(
        [](const std::string& text) {
            double value = 0.0;
            if (CLI::detail::lexical_cast(text, value) && std::isfinite(value)) {
                return std::string();
            }
            return "not a finite number: " + text;
        },
        "FINITE");
}

void addFileListOptions(CLI::App& command, Options& o) {
    command.add_option("files", o.files, "Sound files; - reads their names from standard input");
    command.add_option("--from", o.fromFile, "Read the file names from FILE, one a line");
    command.add_option("-o,--out", o.outDir,
                       "Write the outputs to DIR (default: beside each file)");
    command.add_option("-j,--jobs", o.jobs, "Files analysed at once (default: every core)")
        ->check(CLI::Range(1u, 1024u));
    command.add_flag("-q,--quiet", o.quiet, "No progress line on a terminal");
}

void addCalibrationFileOptions(CLI::App& command, Options& o) {
    command.add_option("--calibration", o.calibrationFile,
                       "Microphone calibration file (frequency and dB per line)");
    command.add_flag("--calibration-response", o.calibrationResponse,
                     "The calibration file lists the microphone's response (subtracted)");
}

// The full-scale level, given or found from a calibrator's recording.
void addFullScaleOptions(CLI::App& command, MeterOptions& m) {
    CLI::Option* fullScale =
        command
            .add_option("--full-scale", m.fullScaleDb,
                        "The dB SPL a full-scale sine reads (levels in dB re 20 uPa)")
            ->check(finiteNumber())
            ->check(CLI::Range(-300.0, 300.0));
    CLI::Option* calibrator =
        command
            .add_option("--calibrator", m.calibratorFile,
                        "A recording of an acoustic calibrator (a steady 1 kHz or 250 Hz tone "
                        "of at least 3 s) that sets the full-scale level")
            ->excludes(fullScale);
    command
        .add_option("--calibrator-level", m.calibratorLevelDb,
                    "The calibrator's level, dB SPL (default 94.0)")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 200.0))
        ->needs(calibrator);
}

// levels --csv and bands: the levels re full scale or in dB SPL instead of the display's scale.
void addUnitOptions(CLI::App& command, MeterOptions& m) {
    command
        .add_option("--unit", m.unit,
                    "Levels in dBFS (dbfs) or dB SPL (spl, with --full-scale or --calibrator; "
                    "the default when either is given) instead of the display's scale")
        ->check(CLI::IsMember({"dbfs", "spl"}));
    addFullScaleOptions(command, m);
}

void addMeterOptions(CLI::App& command, Options& o) {
    MeterOptions& m = o.meter;
    command.add_option("--weighting", m.weighting, "Frequency weighting A, C or Z (default A)")
        ->check(CLI::IsMember({"A", "C", "Z"}));
    command
        .add_option("--time-weighting", m.timeWeighting,
                    "Time weighting F (125 ms), S (1 s) or I (impulse) (default F)")
        ->check(CLI::IsMember({"F", "S", "I"}));
    command
        .add_option("--interval", m.intervalSeconds,
                    "Seconds per row (default 1; 0: one row for the whole file)")
        ->check(finiteNumber())
        ->check(CLI::IsMember({0.0}) | CLI::Range(kLeastMeterIntervalSeconds, 1e7));
    CLI::Option* bands =
        command
            .add_option("--bands", m.bandsPerOctave,
                        "Fractional-octave band levels (Z-weighted LZeq per band), bands per "
                        "octave: 1, 3, 6, 12 or 24")
            ->check(CLI::IsMember({1, 3, 6, 12, 24}));
    command.add_option("--band-low", m.bandLowHz, "The lowest band's mid-band frequency, Hz (25)")
        ->check(finiteNumber())
        ->check(CLI::Range(5.0, 1e6))
        ->needs(bands);
    command
        .add_option("--band-high", m.bandHighHz,
                    "The highest band's mid-band frequency, Hz (20000; the last band's upper "
                    "edge stays below half the rate)")
        ->check(finiteNumber())
        ->check(CLI::Range(5.0, 1e6))
        ->needs(bands);
    addFullScaleOptions(command, m);
    addCalibrationFileOptions(command, o);
    command
        .add_option("--channel", o.parameters.channel,
                    "The channel measured, its number from 1 (default 1, the first; left and "
                    "right name 1 and 2)")
        ->check(CLI::IsMember({"left", "right"}) | CLI::Range(1, MAX_FILE_CHANNELS));
    command.add_flag("--absolute-time", o.absoluteTime,
                     "A first column start: each row's start in ISO 8601 from the recording "
                     "time the file carries (bext, GUANO or LIST/INFO)");
    command.add_option("--summary", m.summaryFile,
                       "Also write one row of whole-file levels per file to this CSV file");
}

void addCommonOptions(CLI::App& command, Options& o) {
    addFileListOptions(command, o);
    command.add_option("--settings", o.settingsFile,
                       "Settings file, or desktop for the desktop program's own (default: none, "
                       "the documented defaults)");
    command.add_flag("-v,--verbose", o.verbose, "Print the parameters used to stderr");
    addCalibrationFileOptions(command, o);
    ParameterOptions& p = o.parameters;
    command.add_option("--low", p.lowHz, "Lowest frequency shown, Hz")
        ->check(CLI::Range(0, 1000000));
    command
        .add_option("--high", p.highHz,
                    "Highest frequency shown, Hz (default: half the file's sample rate)")
        ->check(CLI::Range(1, 1000000));
    command.add_option("--fft", p.fftSize, "FFT size")
        ->check(CLI::IsMember({512, 1024, 2048, 4096, 8192, 16384}));
    command.add_option("--resolution", p.resolution, "Frequency resolution factor (10: finest)")
        ->check(CLI::Range(MIN_RESOLUTION_FACTOR, MAX_RESOLUTION_FACTOR));
    // A range alone lets nan through: every comparison with it is false.
    command.add_option("--time-step", p.timeStepMsec, "Time between columns, msec")
        ->check(finiteNumber())
        ->check(CLI::Range(MIN_TIME_SCALE_MSEC, MAX_TIME_SCALE_MSEC));
    command.add_option("--scale", p.scale, "Frequency scale")
        ->check(CLI::IsMember({"linear", "log"}));
    command.add_option("--channel", p.channel, "Channel: left, right, or its number from 1")
        ->check(CLI::IsMember({"left", "right"}) | CLI::Range(1, MAX_FILE_CHANNELS));
    command.add_option("--db-range", p.dbRange, "Colour range, dB")
        ->check(CLI::IsMember({30, 60, 90}));
    command.add_option("--gain", p.gain, "Display gain, dB (the colour dialog's Gain)")
        ->check(CLI::Range(-kLevelScaleOffset, kLevelScaleOffset));
    command.add_option("--palette", p.palette, "Colour palette")
        ->check(CLI::IsMember({"cb", "bw", "user"}));
    command.add_option("--average", p.average, "Columns averaged")
        ->check(CLI::Range(MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT));
    command
        .add_option("--reduce", p.reduce,
                    "A column is one frame from its step's start (frame), or each "
                    "frequency's maximum over every frame of the step (max)")
        ->check(CLI::IsMember({"frame", "max"}));
}

// The settings file is only read, never deleted as the desktop deletes a damaged one. A file
// asked for (a path, or the desktop's own) must be usable: anything else is a usage error.
std::string loadNamedSettings(const std::string& path, AppSettings& settings,
                              LevelPalette& palette) {
    const NamedFileBytes read = readNamedFile(path, SETTINGS_FILE_SIZE, false);
    if (!read.bytes) {
        return path + ": " + read.error;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(read.bytes->data());
    if (!applySettingsBytes(std::span(bytes, read.bytes->size()), settings, palette)) {
        return path + ": not a Korvanthile settings file (" + std::to_string(SETTINGS_FILE_SIZE) +
               " bytes as the desktop program writes it)";
    }
    return {};
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
        s.log2FftSize = offeredLog2FftSize(std::countr_zero(static_cast<unsigned>(*p.fftSize)));
    }
    if (p.resolution) {
        s.resolutionFactor = *p.resolution;
    }
    if (p.timeStepMsec) {
        s.timeScaleMsecSaved = *p.timeStepMsec;
    }
    if (p.scale) {
        s.frequencyScale = *p.scale == "log" ? FrequencyScale::Log : FrequencyScale::Linear;
    }
    if (p.channel) {
        // Channel 2 of a stereo file is its right channel; a channel of a file of more is
        // held alone (fileChannelOption).
        s.channel =
            *p.channel == "right" || *p.channel == "2" ? StereoChannel::Right : StereoChannel::Left;
    }
    if (p.dbRange) {
        s.dbRange = *p.dbRange == 30   ? DbRange::Db30
                    : *p.dbRange == 90 ? DbRange::Db90
                                       : DbRange::Db60;
    }
    if (p.gain) {
        // The stored code is the gain negated, as the colour dialog shows it.
        s.levelScaleCode = -*p.gain;
    }
    if (p.palette) {
        s.palette = *p.palette == "bw"     ? PaletteName::Bw
                    : *p.palette == "user" ? PaletteName::User
                                           : PaletteName::Cb;
    }
    if (p.average) {
        s.averageCountScroll = *p.average;
    }
    if (p.reduce) {
        s.maxOverStep = *p.reduce == "max";
    }
}

// What the bands command cannot honour: the picture's options, and a band of no band.
std::string bandsRefusal(const Options& o) {
    const ParameterOptions& p = o.parameters;
    for (const auto& [given, name] :
         {std::pair{p.scale.has_value(), "--scale"}, std::pair{p.dbRange.has_value(), "--db-range"},
          std::pair{p.palette.has_value(), "--palette"}}) {
        if (given) {
            return std::string(name) + " does not apply to bands (third-octave levels, no picture)";
        }
    }
    if (p.lowHz && p.highHz && *p.lowHz >= *p.highHz) {
        return "--low must be below --high";
    }
    return {};
}

std::string meterRefusal(const MeterOptions& m) {
    if (m.bandsPerOctave && m.bandLowHz >= m.bandHighHz) {
        return "--band-low must be below --band-high";
    }
    return {};
}

// What no command can run: the usage error's text, or empty.
std::string usageRefusal(const Options& o) {
    if (o.command == Command::Bands) {
        if (std::string refused = bandsRefusal(o); !refused.empty()) {
            return refused;
        }
    }
    if (o.command == Command::Meter) {
        if (std::string refused = meterRefusal(o.meter); !refused.empty()) {
            return refused;
        }
    } else if (o.absoluteTime && !o.csv) {
        return "--absolute-time needs --csv";
    }
    if (o.command == Command::Levels && !o.csv && !o.meter.unit.empty()) {
        return "--unit needs --csv";
    }
    const bool fullScaleGiven = o.meter.fullScaleDb || !o.meter.calibratorFile.empty();
    if (o.meter.unit == "spl" && !fullScaleGiven) {
        return "--unit spl needs --full-scale or --calibrator";
    }
    if (o.meter.unit == "dbfs" && fullScaleGiven) {
        return "--unit dbfs takes no --full-scale or --calibrator (levels re full scale)";
    }
    if (o.files.empty() && o.fromFile.empty()) {
        return "no files given (a name, -, or --from FILE)";
    }
    if (o.layout.stripHeight >= o.layout.plotHeight) {
        return "--strip must be less than --height";
    }
    if (o.grid && !gridAvailable()) {
        return "--grid needs a build with the desktop (Qt)";
    }
    if (o.legend && !gridAvailable()) {
        return "--legend needs a build with the desktop (Qt)";
    }
    return {};
}

// A first word that is no option and no command ("imagez"), named with the commands there are.
std::string unknownCommand(const CLI::App& app, int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        return {};
    }
    std::string names;
    for (const CLI::App* command : app.get_subcommands({})) {
        if (command->check_name(argv[1])) {
            return {};
        }
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    return std::string(argv[1]) + ": not a command (" + names + ")";
}

} // namespace

Parsed parseCommandLine(int argc, char** argv) {
    Options o;
    CLI::App app{"Korvanthile without a window: spectral images, level tables, third-octave bands "
                 "and sound levels of sound files (wave, FLAC, Ogg, MP3, AIFF, CAF and others).",
                 "korvanthile-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "korvanthile-cli 6.6");
    CLI::App* image = app.add_subcommand("image", "The entire spectral image of each file");
    addCommonOptions(*image, o);
    std::vector<std::string> formats;
    for (const ImageFormatInfo& f : imageFormats()) {
        formats.emplace_back(f.name);
    }
    image->add_option("--format", o.format, "Image format")->check(CLI::IsMember(formats));
    image->add_flag("--grid", o.grid,
                    "Draw the grid's crosses and axis labels (needs the desktop build)");
    image->add_flag("--legend", o.legend,
                    "Draw the axes with their units (Hz/kHz, h:mm:ss past an hour) and the "
                    "colour legend in dB (needs the desktop build)");
    image->add_option("--height", o.layout.plotHeight, "Picture height per channel, pixels")
        ->check(CLI::Range(16, 8192));
    image->add_option("--strip", o.layout.stripHeight, "Waveform strip height, pixels")
        ->check(CLI::Range(1, 4096));
    image->add_option("--min-width", o.layout.minWidth, "Least picture width, pixels")
        ->check(CLI::Range(0, 65536));
    CLI::App* levels = app.add_subcommand("levels", "The levels of every column of each file");
    addCommonOptions(*levels, o);
    levels->add_flag("--csv", o.csv, "CSV: one row per column, one column per frequency row");
    levels->add_flag("--absolute-time", o.absoluteTime,
                     "CSV times in ISO 8601 from the recording time the file carries (bext, "
                     "GUANO or LIST/INFO)");
    addUnitOptions(*levels, o.meter);
    CLI::App* bands = app.add_subcommand("bands", "Third-octave band levels over time");
    addCommonOptions(*bands, o);
    bands->add_flag("--csv", o.csv, "CSV (the only format of this command)");
    addUnitOptions(*bands, o.meter);
    CLI::App* meter = app.add_subcommand(
        "meter", "Sound level meter: weighted, time-weighted and band levels per interval "
                 "(IEC 61672-1, IEC 61260-1), in dBFS or calibrated dB SPL");
    addFileListOptions(*meter, o);
    addMeterOptions(*meter, o);
    if (const std::string unknown = unknownCommand(app, argc, argv); !unknown.empty()) {
        std::cerr << "korvanthile-cli: " << unknown << '\n';
        return {std::nullopt, EXIT_USAGE};
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return {std::nullopt, code == 0 ? EXIT_ALL_DONE : EXIT_USAGE};
    }
    o.command = image->parsed()    ? Command::Image
                : levels->parsed() ? Command::Levels
                : bands->parsed()  ? Command::Bands
                                   : Command::Meter;
    if (o.command == Command::Bands) {
        // The bands below about 100 Hz are narrower than eight bins of a shorter transform,
        // and a band table wants steps a reader can follow, not the image's columns.
        o.parameters.fftSize = o.parameters.fftSize.value_or(kBandsDefaultFftSize);
        o.parameters.timeStepMsec = o.parameters.timeStepMsec.value_or(kBandsDefaultStepMsec);
    }
    if (const std::string refused = usageRefusal(o); !refused.empty()) {
        std::cerr << "korvanthile-cli: " << refused << '\n';
        return {std::nullopt, EXIT_USAGE};
    }
    return {std::move(o), EXIT_ALL_DONE};
}

RunSettings resolveSettings(const Options& o, const std::string& executable) {
    RunSettings run;
    if (const std::string file = settingsFileOf(o, executable); !file.empty()) {
        run.error = loadNamedSettings(file, run.settings, run.palette);
        if (!run.error.empty()) {
            return run;
        }
    }
    applyParameters(o.parameters, run.settings);
    if (!o.calibrationFile.empty()) {
        const CalibrationImport imported =
            readCalibrationFile(o.calibrationFile, run.settings.calibrationTable,
                                o.calibrationResponse ? CalibrationSign::ResponseToRemove
                                                      : CalibrationSign::CorrectionToAdd);
        if (!imported.ok) {
            run.error = o.calibrationFile + ": " + imported.error;
            return run;
        }
        run.settings.calibrationTable = imported.curve;
    }
    run.palette = paletteFor(run.settings.palette, run.settings.userPalette);
    run.settings = wholeFileSettings(run.settings);
    run.highBandFromFile = !o.parameters.highHz && settingsFileOf(o, executable).empty();
    return run;
}

std::vector<std::string> expandFileList(const Options& o, std::string& error) {
    std::vector<std::string> files;
    for (const std::string& f : o.files) {
        if (f != "-") {
            files.push_back(f);
        } else if (!addNameList("-", files, error)) {
            error = "standard input: " + error;
            return {};
        }
    }
    if (!o.fromFile.empty() && !addNameList(o.fromFile, files, error)) {
        error = o.fromFile + ": " + error;
        return {};
    }
    if (files.empty()) {
        // Only a list can be empty: the parser wants a name, - or --from.
        error = (o.fromFile.empty() ? std::string("standard input") : o.fromFile) +
                ": no file names in the list";
    }
    return files;
}

std::string settingsFileOf(const Options& o, const std::string& executable) {
    return o.settingsFile == kDesktopSettings ? settingsPath(executable) : o.settingsFile;
}

void printParameters(const std::string& settingsFile, const RunSettings& run, std::ostream& out) {
    const AppSettings& s = run.settings;
    const char* dbRange = s.dbRange == DbRange::Db30   ? "30"
                          : s.dbRange == DbRange::Db90 ? "90"
                                                       : "60";
    const char* palette = s.palette == PaletteName::Bw     ? "bw"
                          : s.palette == PaletteName::User ? "user"
                                                           : "cb";
    out << "settings: " << (settingsFile.empty() ? "defaults" : settingsFile) << '\n'
        << "band: " << s.lowBandHz << " to "
        << (run.highBandFromFile ? std::string("half the file's rate")
                                 : std::to_string(s.highBandHz))
        << " Hz, " << (s.frequencyScale == FrequencyScale::Log ? "log" : "linear") << " scale\n"
        << "fft: " << s.fftSize() << " points, resolution factor " << s.resolutionFactor << '\n'
        << "time step: " << s.timeScaleMsecSaved << " msec\n"
        << "channel: " << (s.channel == StereoChannel::Right ? "right" : "left") << '\n'
        << "colours: " << dbRange << " dB range, gain " << s.levelScaleCode << ", palette "
        << palette << '\n'
        << "average: " << s.averageCountScroll << " columns\n"
        << "reduce: " << (s.maxOverStep ? "max" : "frame") << '\n';
}

} // namespace korv::cli
