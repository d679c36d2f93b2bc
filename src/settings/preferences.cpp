#include "settings/preferences.h"

#include "audio/time_expansion.h"
#include "base/posix_file.h"
#include "output/atomic_file.h"
#include "settings/settings_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <span>

#include <cerrno>
#include <sys/stat.h>

namespace korv {
namespace {

using meter::FrequencyWeighting;
using meter::TimeWeighting;

constexpr std::string_view kPreferencesFileName = "korvanthile.conf";
constexpr std::string_view kRecentPrefix = "recent.";
constexpr std::string_view kCalibrationPrefix = "calibration.";

template <class E> struct Word {
    std::string_view text;
    E value;
};
constexpr std::array<Word<FrequencyWeighting>, 3> kWeightingWords{
    {{"A", FrequencyWeighting::A}, {"C", FrequencyWeighting::C}, {"Z", FrequencyWeighting::Z}}};
constexpr std::array<Word<TimeWeighting>, 3> kTimeWeightingWords{
    {{"F", TimeWeighting::F}, {"S", TimeWeighting::S}, {"I", TimeWeighting::I}}};
constexpr std::array<int, 6> kBandsPerOctave{0, 1, 3, 6, 12, 24};

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

template <class T> bool parseNumber(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc{} && stop == end;
}

std::string numberText(double value) {
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return {text.data(), result.ptr};
}

// One stored field: its key, what a valid value is (for the problem's words), and how it is
// read, written and put back to its default.
struct Key {
    std::string_view name;
    std::string_view expected;
    bool (*read)(std::string_view value, Preferences& preferences);
    std::string (*write)(const Preferences& preferences);
    void (*reset)(Preferences& preferences);
};

template <auto Member, const auto& Words>
Key wordKey(std::string_view name, std::string_view expected) {
    return {name, expected,
            [](std::string_view value, Preferences& p) {
                for (const auto& word : Words) {
                    if (word.text == value) {
                        p.*Member = word.value;
                        return true;
                    }
                }
                return false;
            },
            [](const Preferences& p) {
                for (const auto& word : Words) {
                    if (word.value == p.*Member) {
                        return std::string(word.text);
                    }
                }
                return std::string(Words.front().text);
            },
            [](Preferences& p) { p.*Member = Preferences{}.*Member; }};
}

template <auto Member, const auto& Allowed>
Key choiceKey(std::string_view name, std::string_view expected) {
    return {name, expected,
            [](std::string_view value, Preferences& p) {
                int number = 0;
                if (!parseNumber(value, number) ||
                    std::find(Allowed.begin(), Allowed.end(), number) == Allowed.end()) {
                    return false;
                }
                p.*Member = number;
                return true;
            },
            [](const Preferences& p) { return std::to_string(p.*Member); },
            [](Preferences& p) { p.*Member = Preferences{}.*Member; }};
}

const std::array<Key, 5>& keys() {
    static const std::array<Key, 5> table{
        wordKey<&Preferences::meterWeighting, kWeightingWords>("meter.weighting",
                                                               "a weighting (A, C or Z)"),
        wordKey<&Preferences::meterTimeWeighting, kTimeWeightingWords>(
            "meter.time_weighting", "a time weighting (F, S or I)"),
        choiceKey<&Preferences::meterBandsPerOctave, kBandsPerOctave>(
            "meter.bands", "a band width (0, 1, 3, 6, 12 or 24 bands an octave)"),
        Key{"meter.interval_s", "an interval from 0.01 to 86400 seconds",
            [](std::string_view value, Preferences& p) {
                double seconds = 0.0;
                if (!parseNumber(value, seconds) || !(seconds >= 0.01 && seconds <= 86400.0)) {
                    return false;
                }
                p.meterIntervalSeconds = seconds;
                return true;
            },
            [](const Preferences& p) { return numberText(p.meterIntervalSeconds); },
            [](Preferences& p) { p.meterIntervalSeconds = Preferences{}.meterIntervalSeconds; }},
        choiceKey<&Preferences::playbackSlowdown, TIME_EXPANSION_FACTORS>(
            "play.slowdown", "a slowdown of 1, 2, 4, 8, 10, 16, 20 or 32"),
    };
    return table;
}

// "calibration.N = 120.5 2026-12-09T10:15:00 USB Audio CODEC: Analog (hw:1,0)".
bool readCalibration(std::string_view value, Preferences& p) {
    const std::size_t dateAt = value.find(' ');
    const std::size_t deviceAt =
        dateAt == std::string_view::npos ? dateAt : value.find(' ', dateAt + 1);
    if (deviceAt == std::string_view::npos) {
        return false;
    }
    DeviceCalibration calibration;
    const std::string_view device = trimmed(value.substr(deviceAt + 1));
    if (!parseNumber(value.substr(0, dateAt), calibration.fullScaleDb) ||
        !(calibration.fullScaleDb > -100.0 && calibration.fullScaleDb < 300.0) || device.empty() ||
        dateAt == 0 || deviceAt == dateAt + 1) {
        return false;
    }
    calibration.date = std::string(value.substr(dateAt + 1, deviceAt - dateAt - 1));
    calibration.device = std::string(device);
    if (calibrationOf(p, calibration.device) == nullptr &&
        p.calibrations.size() < kCalibratedDevicesKept) {
        p.calibrations.push_back(std::move(calibration));
    }
    return true;
}

// The number after a list key's prefix, 1 to `count`; 0 when it is none.
std::size_t listIndex(std::string_view key, std::string_view prefix, std::size_t count) {
    if (!key.starts_with(prefix)) {
        return 0;
    }
    std::size_t index = 0;
    return parseNumber(key.substr(prefix.size()), index) && index >= 1 && index <= count ? index
                                                                                         : 0;
}

std::string problemLine(std::string_view fileName, std::size_t line, std::string_view text,
                        std::string_view what) {
    return std::string(fileName) + ", line " + std::to_string(line) + ": \"" + std::string(text) +
           "\" " + std::string(what);
}

// One "key = value" line taken into `p`; the problem in the program's words, or empty.
std::string readLine(std::string_view key, std::string_view value, Preferences& p) {
    for (const Key& field : keys()) {
        if (field.name == key) {
            if (field.read(value, p)) {
                return {};
            }
            field.reset(p);
            return "is not " + std::string(field.expected) + "; " + field.write(p) + " is used";
        }
    }
    if (listIndex(key, kRecentPrefix, kRecentFilesKept) != 0) {
        if (!value.empty() && p.recentFiles.size() < kRecentFilesKept) {
            p.recentFiles.emplace_back(value);
        }
        return {};
    }
    if (listIndex(key, kCalibrationPrefix, kCalibratedDevicesKept) != 0) {
        return readCalibration(value, p)
                   ? std::string{}
                   : "is not a calibration (full-scale dB, date, device); it is left out";
    }
    p.otherKeys.emplace_back(key, value);
    return {};
}

// A text one line of the file can hold.
bool storable(std::string_view text) {
    return !text.empty() && text.find_first_of("\n\r") == std::string_view::npos &&
           trimmed(text) == text;
}

} // namespace

std::span<const int> playbackSlowdowns() {
    return TIME_EXPANSION_FACTORS;
}

PreferencesRead parsePreferences(std::string_view text, std::string_view fileName) {
    PreferencesRead read;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        ++lineNumber;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string_view key =
            equals == std::string_view::npos ? std::string_view{} : trimmed(line.substr(0, equals));
        if (key.empty()) {
            read.problems.push_back(
                problemLine(fileName, lineNumber, line, "is no \"key = value\"; it is left out"));
            continue;
        }
        std::string problem = readLine(key, trimmed(line.substr(equals + 1)), read.preferences);
        if (!problem.empty()) {
            read.problems.push_back(problemLine(fileName, lineNumber, line, problem));
        }
    }
    return read;
}

std::string formatPreferences(const Preferences& preferences) {
    std::string text = "# Korvanthile's settings beside korv.ini: key = value\n";
    for (const Key& field : keys()) {
        text += std::string(field.name) + " = " + field.write(preferences) + '\n';
    }
    std::size_t index = 0;
    for (const std::string& file : preferences.recentFiles) {
        text += std::string(kRecentPrefix) + std::to_string(++index) + " = " + file + '\n';
    }
    index = 0;
    for (const DeviceCalibration& c : preferences.calibrations) {
        text += std::string(kCalibrationPrefix) + std::to_string(++index) + " = " +
                numberText(c.fullScaleDb) + ' ' + c.date + ' ' + c.device + '\n';
    }
    for (const auto& [key, value] : preferences.otherKeys) {
        text += key + " = " + value + '\n';
    }
    return text;
}

std::string preferencesPathBeside(std::string_view settingsFilePath) {
    const std::size_t slash = settingsFilePath.rfind('/');
    std::string path(slash == std::string_view::npos ? std::string_view{}
                                                     : settingsFilePath.substr(0, slash + 1));
    return path + std::string(kPreferencesFileName);
}

PreferencesRead readPreferences(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        return {};
    }
    const PosixFile file = PosixFile::openForReading(path);
    const std::int64_t size = file.isOpen() ? file.size() : -1;
    if (size < 0 || size > kPreferencesFileLimitBytes) {
        PreferencesRead read;
        read.problems.push_back(path + ": cannot be read as settings (not a regular file of at "
                                       "most 256 KB); the defaults are used");
        return read;
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    const std::size_t got =
        file.readAt(0, std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
    text.resize(got);
    return parsePreferences(text, path);
}

std::string writePreferences(const std::string& path, const Preferences& preferences) {
    makeFolderOf(path);
    const std::string text = formatPreferences(preferences);
    const auto failure = writeFileWholeOrSay(
        path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return failure ? failure->text : std::string{};
}

void rememberRecentFile(Preferences& preferences, const std::string& path) {
    if (!storable(path)) {
        return;
    }
    auto& files = preferences.recentFiles;
    files.erase(std::remove(files.begin(), files.end(), path), files.end());
    files.insert(files.begin(), path);
    if (files.size() > kRecentFilesKept) {
        files.resize(kRecentFilesKept);
    }
}

void rememberCalibration(Preferences& preferences, DeviceCalibration calibration) {
    if (!storable(calibration.device) || !storable(calibration.date) ||
        calibration.date.find(' ') != std::string::npos) {
        return;
    }
    auto& list = preferences.calibrations;
    std::erase_if(list, [&](const DeviceCalibration& c) { return c.device == calibration.device; });
    if (list.size() >= kCalibratedDevicesKept) {
        list.erase(list.begin());
    }
    list.push_back(std::move(calibration));
}

const DeviceCalibration* calibrationOf(const Preferences& preferences, std::string_view device) {
    for (const DeviceCalibration& c : preferences.calibrations) {
        if (c.device == device) {
            return &c;
        }
    }
    return nullptr;
}

} // namespace korv
