#include "app/command_line.h"

#include "app/command_ids.h"
#include "dialogs/control_ids.h"
#include "settings/app_settings.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace korv {

namespace {


bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::size_t skipBlanks(std::string_view s, std::size_t pos) {
    while (pos < s.size() && isBlank(s[pos])) {
        ++pos;
    }
    return pos;
}

// A file name from `start`: up to the first blank after the last '/' (or after `start`).
std::string fileNameFrom(std::string_view s, std::size_t start, std::size_t lastSlash) {
    std::size_t from = start;
    if (lastSlash != std::string_view::npos && lastSlash >= start) {
        from = lastSlash;
    }
    std::size_t end = from;
    while (end < s.size() && !isBlank(s[end])) {
        ++end;
    }
    return std::string(s.substr(start, end - start));
}

// A decimal number at `pos` (blanks before it skipped); 0 when there is none. Values beyond
// 32 bits are held at the limit.
std::int64_t readNumber(std::string_view s, std::size_t& pos) {
    pos = skipBlanks(s, pos);
    std::size_t end = pos;
    if (end < s.size() && (s[end] == '-' || s[end] == '+')) {
        ++end;
    }
    while (end < s.size() && s[end] >= '0' && s[end] <= '9') {
        ++end;
    }
    std::string_view digits = s.substr(pos, end - pos);
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
    }
    std::int64_t value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        value = digits.starts_with('-') ? std::numeric_limits<std::int32_t>::min()
                                        : std::numeric_limits<std::int32_t>::max();
    }
    pos = end;
    return std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max());
}

bool modeTakesFile(int mode) { return mode == 0 || mode == 3 || mode == 4; }

} // namespace

CommandLine parseCommandLine(std::string_view line) {
    std::string copy;
    copy.reserve(line.size());
    std::copy_if(line.begin(), line.end(), std::back_inserter(copy),
                 [](char c) { return c != '"'; });
    const std::string_view s = copy;
    const std::size_t lastSlash = s.rfind('/');

    CommandLine result;
    std::size_t pos = skipBlanks(s, 0);
    if (pos >= s.size()) {
        return result;
    }
    if (s[pos] < '0' || s[pos] > '4') {
        result.kind = CommandLine::Kind::FileName;
        result.fileName = fileNameFrom(s, pos, lastSlash);
        return result;
    }
    result.kind = CommandLine::Kind::ModeRun;
    result.mode = static_cast<int>(readNumber(s, pos));
    result.lowBandHz = static_cast<std::int32_t>(readNumber(s, pos));
    result.highBandHz = static_cast<std::int32_t>(readNumber(s, pos));
    if (result.highBandHz < result.lowBandHz) {
        std::swap(result.lowBandHz, result.highBandHz);
    }
    result.timeSpanSeconds = static_cast<int>(readNumber(s, pos));
    if (modeTakesFile(result.mode)) {
        pos = skipBlanks(s, pos);
        if (pos < s.size()) {
            result.fileName = fileNameFrom(s, pos, lastSlash);
        }
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
            settings.displayTypeChoice = line.mode == 1 ? DISPLAY_SCROLL : DISPLAY_LINE_PLOT;
            effects.start = StartCommand{cmd::kScanInput, cmd::kFromMenu};
            break;
        case 3:
        case 4:
            effects.autoRun = true;
            settings.lastFileMode = 1;
            settings.displayTypeChoice = line.mode == 3 ? DISPLAY_SCROLL : DISPLAY_LINE_PLOT;
            effects.start = StartCommand{cmd::kScanFile, cmd::kScanCurrentFile};
            break;
        default:
            // Only the first digit was checked; a longer number names no mode.
            break;
        }
        break;
    }
    return effects;
}

} // namespace korv
