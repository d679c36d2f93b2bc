#pragma once
// The command line: a wave file to analyse or scan, or a mode digit with band limits, a time
// span and (for the file modes) a file. Free of Qt; the main window acts on the result.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korv {

struct CommandLine {
    enum class Kind : std::uint8_t {
        Empty,    // nothing given
        FileName, // a plain file path
        ModeRun,  // mode, low and high band limit, time span [, file]
    };
    Kind kind = Kind::Empty;
    std::string fileName;
    // A plain file path's followers: the other files the desktop gave (each opened later).
    std::vector<std::string> moreFiles;
    int mode = 0;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    int timeSpanSeconds = 0;
};

// Reads the arguments as the program receives them, already split: an argument is one file
// name, blanks and all (several are several files); a mode is a lone digit 0 to 4 followed by the
// low and high band limits, the time span and, for modes 0, 3 and 4, a file. The band limits come
// out in ascending order; a missing or malformed number reads 0.
[[nodiscard]] CommandLine parseCommandLine(std::span<const std::string> arguments);

// What starts after the command line was read: a command id and its parameter.
struct StartCommand {
    int id = 0;
    int param = 0;
};

// The settings a command line changes, and the command it starts (nothing when none).
struct CommandLineEffects {
    std::optional<StartCommand> start;
    bool fileFromCommandLine = false;
    bool autoRun = false;
};

struct AppSettings;

// Applies `line` to the settings (lastMode, band limits, lastFileMode, displayType) as a
// start-up does, with the stored lastMode deciding an empty command line.
[[nodiscard]] CommandLineEffects applyCommandLine(const CommandLine& line, AppSettings& settings);

} // namespace korv
