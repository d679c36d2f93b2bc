#include "settings/settings_file.h"

#include "analysis/parameters.h"
#include "base/option_ids.h"
#include "base/posix_file.h"
#include "display/plot_layout.h"
#include "output/atomic_file.h"
#include "settings/settings_inputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <variant>

namespace korv {

namespace {

using FileImage = std::array<unsigned char, SETTINGS_FILE_SIZE>;

constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kReservedTextAOffset = 4;
constexpr std::size_t kReservedTextBOffset = 84;
constexpr std::size_t kReservedTextSize = 80;
constexpr std::size_t kLastFolderOffset = 164;
constexpr std::size_t kLastFolderSize = 260;
constexpr std::size_t kFirstWordOffset = 424;
constexpr std::size_t kSampleRateOffset = 504;
constexpr std::size_t kUserPaletteOffset = 556;
constexpr std::size_t kPaletteEntryBytes = 4;
constexpr std::size_t kCalibrationOffset = 628;

constexpr const char* kSettingsFileName = "korv.ini";
constexpr const char* kSettingsFolderName = "korvanthile";

// The values a stored word may hold. A choice outside its set, or a number that is no
// number, goes back to the field's default (its initial value in AppSettings); a number
// outside its range is clamped into it.
struct ValidSet {
    enum class Kind { Anything, Choice, Range };
    Kind kind = Kind::Anything;
    double low = 0.0;
    double high = 0.0;
    double alsoLow = 0.0; // the choices apart from low..high: alsoLow..alsoHigh
    double alsoHigh = 0.0;
};

constexpr ValidSet anything() {
    return {};
}
constexpr ValidSet choice(double first, double last) {
    return {ValidSet::Kind::Choice, first, last, first, first};
}
constexpr ValidSet choice(double first, double last, double alsoValid) {
    return {ValidSet::Kind::Choice, first, last, alsoValid, alsoValid};
}
constexpr ValidSet choices(double first, double last, double alsoFirst, double alsoLast) {
    return {ValidSet::Kind::Choice, first, last, alsoFirst, alsoLast};
}
constexpr ValidSet range(double low, double high) {
    return {ValidSet::Kind::Range, low, high, low, low};
}

using IntField = std::int32_t AppSettings::*;
using FloatField = float AppSettings::*;

struct StoredWord {
    std::variant<IntField, FloatField> field;
    ValidSet valid;
    bool checkedOnReload = true;
};

// Band limits reach at most half the highest rate a wave header can state.
constexpr double kMaxBandHz = std::numeric_limits<std::int32_t>::max() / 2;
// Scan Input trails the input by at most a second.
constexpr double kMaxDisplayDelayMs = 1000.0;
// The image export only ever enlarges; ten times is far beyond any screen.
constexpr double kMinImageScalePercent = 100.0;
constexpr double kMaxImageScalePercent = 1000.0;

// The 33 words from offset 424 to 552 in file order, with what each may hold: one table
// serves reading, checking and writing.
const std::array<StoredWord, 33> kStoredWords{{
    {&AppSettings::lastMode, choice(LAST_MODE_ANALYZE_FILE, LAST_MODE_SCAN_FILE_PLOT)},
    // A reload takes it as stored; every reader of it takes an unknown id as 22050 Hz.
    {&AppSettings::sampleRateChoice,
     choices(SAMPLE_RATE_5K, SAMPLE_RATE_48K, SAMPLE_RATE_8K, SAMPLE_RATE_384K), false},
    {&AppSettings::resolutionChoice, choice(RESOLUTION_8_BIT, RESOLUTION_16_BIT)},
    {&AppSettings::fftSizeChoice, choice(FFT_SIZE_CHOICE_FIRST, FFT_SIZE_CHOICE_LAST)},
    {&AppSettings::paletteChoice, choice(PALETTE_CB, PALETTE_USER)},
    {&AppSettings::dbScaleChoice, choice(DB_SCALE_30, DB_SCALE_90)},
    {&AppSettings::displayTypeChoice, choice(DISPLAY_SCROLL, DISPLAY_LINE_PLOT)},
    {&AppSettings::analysisAtStopChoice, choice(ANALYSIS_AT_STOP_OFF, ANALYSIS_AT_STOP_ON)},
    {&AppSettings::freqScaleChoice, choice(FREQ_SCALE_LINEAR, FREQ_SCALE_THIRD_OCTAVE)},
    {&AppSettings::channelChoice, choice(CHANNEL_DUAL, CHANNEL_RIGHT)},
    {&AppSettings::typeChoice, choice(TYPE_MONO, TYPE_STEREO)},
    {&AppSettings::plotTypeChoice, choice(PLOT_SIGNAL, PLOT_LR_DELTA)},
    {&AppSettings::recordingChoice, choice(RECORDING_OFF, RECORDING_ON, RECORDING_TRIGGER)},
    {&AppSettings::scrollMemChoice, choice(SCROLL_MEM_OFF, SCROLL_MEM_ON)},
    {&AppSettings::timeScaleMsecSaved, range(MIN_TIME_SCALE_MSEC, MAX_TIME_SCALE_MSEC)},
    {&AppSettings::levelScaleCode, range(-kLevelScaleOffset, kLevelScaleOffset)},
    {&AppSettings::displayDelayMs, range(0.0, kMaxDisplayDelayMs)},
    {&AppSettings::lowBandHz, range(0.0, kMaxBandHz)},
    {&AppSettings::highBandHz, range(0.0, kMaxBandHz)},
    {&AppSettings::lastFileMode, choice(FILE_MODE_ANALYZE, FILE_MODE_SCAN)},
    {&AppSettings::storedSampleRateHz, anything()},
    {&AppSettings::averageCountScroll, range(MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT)},
    {&AppSettings::averageCountPlot, range(MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT)},
    {&AppSettings::marker1Hz, anything()}, // 0 or below: off
    {&AppSettings::marker2Hz, anything()},
    {&AppSettings::freqResolutionHz, range(0.0, std::numeric_limits<float>::max())},
    {&AppSettings::imageScalePercent, range(kMinImageScalePercent, kMaxImageScalePercent)},
    {&AppSettings::spareSetting, anything()},
    {&AppSettings::resolutionFactor, range(MIN_RESOLUTION_FACTOR, MAX_RESOLUTION_FACTOR)},
    {&AppSettings::variablesChoice, choice(VARIABLES_ADJUST, VARIABLES_FREEZE)},
    {&AppSettings::pointerType, choice(POINTER_TARGET_BOX, POINTER_BLACK_CROSS)},
    {&AppSettings::cursorOffsetHz, anything()},
    {&AppSettings::pitchDetectorChoice, choice(PITCH_DETECTOR_OFF, PITCH_DETECTOR_ON)},
}};

template <typename T> void bringIntoSet(T& value, T fallback, const ValidSet& valid) {
    const auto v = static_cast<double>(value);
    switch (valid.kind) {
    case ValidSet::Kind::Anything:
        return;
    case ValidSet::Kind::Choice:
        if (!(v >= valid.low && v <= valid.high) && !(v >= valid.alsoLow && v <= valid.alsoHigh)) {
            value = fallback;
        }
        return;
    case ValidSet::Kind::Range:
        value = std::isnan(v) ? fallback : static_cast<T>(std::clamp(v, valid.low, valid.high));
        return;
    }
}

// The analysis refuses a band that is empty, reversed, or starts at 0 on the log scale:
// such a band becomes the default one, from 100 Hz on the log scale.
void bringBandIntoRange(AppSettings& s, const AppSettings& defaults) {
    if (frequencyLimitsUsable(frequencyScaleOf(s), s.lowBandHz, s.highBandHz)) {
        return;
    }
    s.lowBandHz =
        s.freqScaleChoice == FREQ_SCALE_LOG ? LOG_SCALE_FORCED_LOW_HZ : defaults.lowBandHz;
    s.highBandHz = defaults.highBandHz;
}

// Corrections stay within the graph; frequencies are positive and ascending, or the
// default ones (no dialog changes them).
void bringCalibrationIntoRange(CalibrationCurve& curve, const CalibrationCurve& defaults) {
    bool ascending = true;
    float previous = 0.0f;
    for (std::size_t i = 0; i < curve.size(); ++i) {
        CalibrationPoint& p = curve[i];
        p.correctionDb =
            std::isnan(p.correctionDb)
                ? defaults[i].correctionDb
                : std::clamp(p.correctionDb, -kCalibrationLimitDb, kCalibrationLimitDb);
        ascending = ascending && std::isfinite(p.frequencyHz) && p.frequencyHz > previous;
        previous = p.frequencyHz;
    }
    if (!ascending) {
        for (std::size_t i = 0; i < curve.size(); ++i) {
            curve[i].frequencyHz = defaults[i].frequencyHz;
        }
    }
}

std::uint32_t readWord(const FileImage& image, std::size_t offset) {
    return static_cast<std::uint32_t>(image[offset]) |
           static_cast<std::uint32_t>(image[offset + 1]) << 8 |
           static_cast<std::uint32_t>(image[offset + 2]) << 16 |
           static_cast<std::uint32_t>(image[offset + 3]) << 24;
}

void writeWord(FileImage& image, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        image[offset + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

template <typename T> T wordAs(const FileImage& image, std::size_t offset) {
    return std::bit_cast<T>(readWord(image, offset));
}

// A text ends at its zero, and leaves room for the zero it is written with.
std::string readText(const FileImage& image, std::size_t offset, std::size_t size) {
    const auto* start = image.data() + offset;
    const void* zero = std::memchr(start, 0, size - 1);
    const std::size_t length =
        zero == nullptr ? size - 1
                        : static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - start);
    return std::string(reinterpret_cast<const char*>(start), length);
}

// Written with its zero; a text too long for its field is cut so the zero still fits.
void writeText(FileImage& image, std::size_t offset, std::size_t size, const std::string& text) {
    const std::size_t length = std::min(std::strlen(text.c_str()), size - 1);
    std::memcpy(image.data() + offset, text.data(), length);
    image[offset + length] = 0;
}

enum class ReadResult { Missing, WrongSize, Short, Complete };

bool readAll(int fd, FileImage& image) {
    return readFully(fd, image) == image.size();
}

// Opened without blocking, so a FIFO or a device in the file's place cannot hang start-up;
// anything but a regular file counts as no file and is left alone.
ReadResult readImage(const std::string& path, FileImage& image) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return ReadResult::Missing;
    }
    ReadResult result = ReadResult::Missing;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        result = ReadResult::WrongSize;
        if (info.st_size == static_cast<off_t>(SETTINGS_FILE_SIZE)) {
            image.fill(0);
            result = readAll(fd, image) ? ReadResult::Complete : ReadResult::Short;
        }
    }
    ::close(fd);
    return result;
}

bool hasMagic(const FileImage& image) {
    return wordAs<std::int32_t>(image, kMagicOffset) == SETTINGS_MAGIC;
}

enum class Reader { StartUp, Reload };

// The fields a valid image gives, each brought into the values the program accepts: the
// texts (lastFolder only at start-up), the words, the User palette, the active palette and
// the calibration curve.
void applyImage(const FileImage& image, AppSettings& s, LevelPalette& activePalette,
                Reader reader) {
    static const AppSettings defaults;
    s.reservedTextA = readText(image, kReservedTextAOffset, kReservedTextSize);
    s.reservedTextB = readText(image, kReservedTextBOffset, kReservedTextSize);
    if (reader == Reader::StartUp) {
        s.lastFolder = readText(image, kLastFolderOffset, kLastFolderSize);
    }
    std::size_t offset = kFirstWordOffset;
    for (const StoredWord& word : kStoredWords) {
        std::visit(
            [&](auto member) {
                auto& field = s.*member;
                field = wordAs<std::remove_reference_t<decltype(field)>>(image, offset);
                if (reader == Reader::StartUp || word.checkedOnReload) {
                    bringIntoSet(field, defaults.*member, word.valid);
                }
            },
            word.field);
        offset += 4;
    }
    bringBandIntoRange(s, defaults);
    s.verticalScrollPos = levelBarPosition(s.levelScaleCode);
    for (std::size_t i = 0; i < s.userPalette.size(); ++i) {
        const std::size_t at = kUserPaletteOffset + kPaletteEntryBytes * i;
        s.userPalette[i] = {image[at], image[at + 1], image[at + 2]};
    }
    fillActivePalette(s.paletteChoice, s.userPalette, activePalette);
    for (std::size_t i = 0; i < s.calibrationTable.size(); ++i) {
        const std::size_t at = kCalibrationOffset + 8 * i;
        s.calibrationTable[i] = {wordAs<float>(image, at), wordAs<float>(image, at + 4)};
    }
    bringCalibrationIntoRange(s.calibrationTable, defaults.calibrationTable);
    s.settingsLoaded = true;
}

void applyLoadDefaults(AppSettings& s, LevelPalette& activePalette) {
    s.calibrationTable = defaultCalibrationCurve();
    s.userPalette = kCbPalette;
    activePalette = kCbPalette;
}

// The reload defaults are the record's defaults but for a smaller FFT, since memory ran short,
// and a longer time scale.
void applyReloadDefaults(AppSettings& s) {
    static const AppSettings defaults;
    for (const IntField field : {&AppSettings::marker1Hz,
                                 &AppSettings::marker2Hz,
                                 &AppSettings::lastMode,
                                 &AppSettings::cursorOffsetHz,
                                 &AppSettings::lowBandHz,
                                 &AppSettings::resolutionFactor,
                                 &AppSettings::spareSetting,
                                 &AppSettings::imageScalePercent,
                                 &AppSettings::highBandHz,
                                 &AppSettings::displayDelayMs,
                                 &AppSettings::levelScaleCode,
                                 &AppSettings::variablesChoice,
                                 &AppSettings::pointerType,
                                 &AppSettings::pitchDetectorChoice,
                                 &AppSettings::dbScaleChoice,
                                 &AppSettings::typeChoice,
                                 &AppSettings::channelChoice,
                                 &AppSettings::freqScaleChoice,
                                 &AppSettings::analysisAtStopChoice,
                                 &AppSettings::displayTypeChoice,
                                 &AppSettings::paletteChoice,
                                 &AppSettings::resolutionChoice,
                                 &AppSettings::sampleRateChoice}) {
        s.*field = defaults.*field;
    }
    s.freqResolutionHz = defaults.freqResolutionHz;
    s.verticalScrollPos = levelBarPosition(s.levelScaleCode);
    s.settingsLoaded = false;
    s.fftSizeChoice = FFT_SIZE_CHOICE_FIRST; // 512 points
    s.timeScaleMsec = 12.0f;
}

} // namespace

// Makes the folders leading to `path` that are missing, private to the user as the XDG
// rules ask for the configuration folder. A failure shows in the write that follows.
void makeFolderOf(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return;
        }
    }
}

std::string settingsPathBesideExecutable(std::string_view executablePath) {
    const std::size_t slash = executablePath.rfind('/');
    std::string path;
    if (slash != std::string_view::npos) {
        path.assign(executablePath.substr(0, slash + 1));
    }
    path += kSettingsFileName;
    return path;
}

std::string userSettingsPath(const char* xdgConfigHome, const char* home) {
    std::string folder;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        folder = xdgConfigHome;
    } else if (home != nullptr && home[0] == '/') {
        folder = std::string(home) + "/.config";
    } else {
        return {};
    }
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    if (folder != "/") {
        folder += '/';
    }
    return folder + kSettingsFolderName + '/' + kSettingsFileName;
}

std::string settingsPath(std::string_view executablePath) {
    std::string beside = settingsPathBesideExecutable(executablePath);
    struct stat info {};
    if (::stat(beside.c_str(), &info) == 0) {
        return beside;
    }
    std::string user = userSettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    return user.empty() ? beside : user;
}

void loadSettings(const std::string& path, AppSettings& settings, LevelPalette& activePalette) {
    FileImage image{};
    const ReadResult read = readImage(path, image);
    if (read == ReadResult::Missing) {
        applyLoadDefaults(settings, activePalette);
        return;
    }
    if (read != ReadResult::Complete || !hasMagic(image)) {
        ::unlink(path.c_str());
        applyLoadDefaults(settings, activePalette);
        return;
    }
    applyImage(image, settings, activePalette, Reader::StartUp);
}

bool applySettingsBytes(std::span<const std::uint8_t> bytes, AppSettings& settings,
                        LevelPalette& activePalette) {
    FileImage image{};
    if (bytes.size() != image.size()) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), image.begin());
    if (!hasMagic(image)) {
        return false;
    }
    applyImage(image, settings, activePalette, Reader::StartUp);
    return true;
}

bool saveSettings(const std::string& path, const AppSettings& settings, std::int32_t sampleRateHz) {
    FileImage image{};
    writeWord(image, kMagicOffset, static_cast<std::uint32_t>(SETTINGS_MAGIC));
    writeText(image, kReservedTextAOffset, kReservedTextSize, settings.reservedTextA);
    writeText(image, kReservedTextBOffset, kReservedTextSize, settings.reservedTextB);
    writeText(image, kLastFolderOffset, kLastFolderSize, settings.lastFolder);
    std::size_t offset = kFirstWordOffset;
    for (const StoredWord& word : kStoredWords) {
        std::visit(
            [&](auto member) {
                writeWord(image, offset, std::bit_cast<std::uint32_t>(settings.*member));
            },
            word.field);
        offset += 4;
    }
    writeWord(image, kSampleRateOffset, static_cast<std::uint32_t>(sampleRateHz));
    for (std::size_t i = 0; i < settings.userPalette.size(); ++i) {
        const std::size_t at = kUserPaletteOffset + kPaletteEntryBytes * i;
        image[at] = settings.userPalette[i].r;
        image[at + 1] = settings.userPalette[i].g;
        image[at + 2] = settings.userPalette[i].b;
    }
    for (std::size_t i = 0; i < settings.calibrationTable.size(); ++i) {
        const std::size_t at = kCalibrationOffset + 8 * i;
        writeWord(image, at,
                  std::bit_cast<std::uint32_t>(settings.calibrationTable[i].frequencyHz));
        writeWord(image, at + 4,
                  std::bit_cast<std::uint32_t>(settings.calibrationTable[i].correctionDb));
    }
    makeFolderOf(path);
    return writeFileWhole(path, image) == FileWriteResult::Written;
}

ReloadOutcome reloadSettings(const std::string& path, AppSettings& settings,
                             LevelPalette& activePalette) {
    FileImage image{};
    // A short read counts as no file: half an image must not be applied.
    if (readImage(path, image) == ReadResult::Complete && hasMagic(image)) {
        applyImage(image, settings, activePalette, Reader::Reload);
        return ReloadOutcome::FileApplied;
    }
    applyReloadDefaults(settings);
    return ReloadOutcome::DefaultsApplied;
}

} // namespace korv
