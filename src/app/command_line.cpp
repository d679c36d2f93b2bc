#include "app/command_line.h"

#include "app/command_ids.h"
#include "settings/app_settings.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace korv {

namespace {

// A decimal number filling the argument; 0 when there is none. Values beyond 32 bits are
// held at the limit.
std::int32_t readNumber(const std::string& argument) {
    std::string_view digits = argument;
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
    }
    std::int64_t value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        value = digits.starts_with('-') ? std::numeric_limits<std::int32_t>::min()
                                        : std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// A mode is a lone digit 0 to 4: "2024-01-05.wav" and "1tone.wav" are files.
bool isModeDigit(const std::string& argument) {
    return argument.size() == 1 && argument[0] >= '0' && argument[0] <= '4';
}

bool modeTakesFile(int mode) {
    return mode == 0 || mode == 3 || mode == 4;
}

} // namespace

CommandLine parseCommandLine(std::span<const std::string> arguments) {
    CommandLine result;
    if (arguments.empty()) {
        return result;
    }
    if (!isModeDigit(arguments[0])) {
        result.kind = CommandLine::Kind::FileName;
        result.fileName = arguments[0];
        result.moreFiles.assign(arguments.begin() + 1, arguments.end());
        return result;
    }
    const auto argument = [&](std::size_t i) {
        return i < arguments.size() ? arguments[i] : std::string();
    };
    result.kind = CommandLine::Kind::ModeRun;
    result.mode = arguments[0][0] - '0';
    result.lowBandHz = readNumber(argument(1));
    result.highBandHz = readNumber(argument(2));
    if (result.highBandHz < result.lowBandHz) {
        std::swap(result.lowBandHz, result.highBandHz);
    }
    result.timeSpanSeconds = readNumber(argument(3));
    if (modeTakesFile(result.mode)) {
        result.fileName = argument(4);
    }
    return result;
}

CommandLineEffects applyCommandLine(const CommandLine& line, AppSettings& settings) {
    CommandLineEffects effects;
    switch (line.kind) {
    case CommandLine::Kind::Empty:
        if (settings.lastMode == 1 || settings.lastMode == 2) {
            effects.start = StartCommand{cmd::kScanInput, cmd::kFromMenu};
        }
        break;
    case CommandLine::Kind::FileName:
        effects.fileFromCommandLine = true;
        effects.start = settings.lastFileMode == 1
                            ? StartCommand{cmd::kScanFile, cmd::kScanCurrentFile}
                            : StartCommand{cmd::kAnalyzeFile, cmd::kFromCommandLine};
        break;
    case CommandLine::Kind::ModeRun:
        settings.lastMode = line.mode;
        settings.lowBandHz = line.lowBandHz;
        settings.highBandHz = line.highBandHz;
        effects.fileFromCommandLine = modeTakesFile(line.mode) && !line.fileName.empty();
        switch (line.mode) {
        case 0:
            effects.autoRun = true;
            settings.lastFileMode = 0;
            effects.start = StartCommand{cmd::kAnalyzeFile, cmd::kFromCommandLine};
            break;
        case 1:
        case 2:
            effects.autoRun = true;
            settings.displayType = line.mode == 1 ? DisplayType::Scroll : DisplayType::LinePlot;
            effects.start = StartCommand{cmd::kScanInput, cmd::kFromMenu};
            break;
        case 3:
        case 4:
            effects.autoRun = true;
            settings.lastFileMode = 1;
            settings.displayType = line.mode == 3 ? DisplayType::Scroll : DisplayType::LinePlot;
            effects.start = StartCommand{cmd::kScanFile, cmd::kScanCurrentFile};
            break;
        default:
            break;
        }
        break;
    }
    return effects;
}

} // namespace korv
