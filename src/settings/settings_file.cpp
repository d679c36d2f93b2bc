#include "settings/settings_file.h"

#include "analysis/parameters.h"
#include "base/option_ids.h"
#include "base/posix_file.h"
#include "display/plot_layout.h"
#include "output/atomic_file.h"

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
#include <optional>
#include <span>
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

// The values a stored number may hold. A number that is no number goes back to the field's
// default (its initial value in AppSettings); a number outside its range is clamped into it.
struct ValidSet {
    enum class Kind { Anything, Choice, Range };
    Kind kind = Kind::Anything;
    double low = 0.0;
    double high = 0.0;
};

constexpr ValidSet anything() {
    return {};
}
constexpr ValidSet choice(double first, double last) {
    return {ValidSet::Kind::Choice, first, last};
}
constexpr ValidSet range(double low, double high) {
    return {ValidSet::Kind::Range, low, high};
}

// A choice's value and the id the file stores for it (its dialog button's id).
template <typename Value> struct IdOf {
    Value value;
    std::int32_t id;
};

constexpr std::array<IdOf<std::int32_t>, 14> kSampleRateIds{{
    {5513, SAMPLE_RATE_5K},
    {11025, SAMPLE_RATE_11K},
    {22050, SAMPLE_RATE_22K},
    {44100, SAMPLE_RATE_44K},
    {48000, SAMPLE_RATE_48K},
    {8000, SAMPLE_RATE_8K},
    {16000, SAMPLE_RATE_16K},
    {32000, SAMPLE_RATE_32K},
    {88200, SAMPLE_RATE_88K},
    {96000, SAMPLE_RATE_96K},
    {176400, SAMPLE_RATE_176K},
    {192000, SAMPLE_RATE_192K},
    {352800, SAMPLE_RATE_352K},
    {384000, SAMPLE_RATE_384K},
}};
constexpr std::array<IdOf<int>, 2> kResolutionIds{{{8, RESOLUTION_8_BIT}, {16, RESOLUTION_16_BIT}}};
// 512 points (1082) to 16384 (1087), one power of two apart.
constexpr std::array<IdOf<int>, 6> kLog2FftSizeIds{{
    {9, FFT_SIZE_CHOICE_FIRST},
    {10, FFT_SIZE_CHOICE_FIRST + 1},
    {11, FFT_SIZE_CHOICE_FIRST + 2},
    {12, FFT_SIZE_CHOICE_FIRST + 3},
    {13, FFT_SIZE_CHOICE_FIRST + 4},
    {14, FFT_SIZE_CHOICE_LAST},
}};
constexpr std::array<IdOf<PaletteName>, 3> kPaletteIds{{
    {PaletteName::Cb, PALETTE_CB},
    {PaletteName::Bw, PALETTE_BW},
    {PaletteName::User, PALETTE_USER},
}};
constexpr std::array<IdOf<DbRange>, 3> kDbRangeIds{{
    {DbRange::Db30, DB_SCALE_30},
    {DbRange::Db60, DB_SCALE_60},
    {DbRange::Db90, DB_SCALE_90},
}};
constexpr std::array<IdOf<DisplayType>, 3> kDisplayTypeIds{{
    {DisplayType::Scroll, DISPLAY_SCROLL},
    {DisplayType::BarPlot, DISPLAY_BAR_PLOT},
    {DisplayType::LinePlot, DISPLAY_LINE_PLOT},
}};
constexpr std::array<IdOf<bool>, 2> kAnalysisAtStopIds{{
    {false, ANALYSIS_AT_STOP_OFF},
    {true, ANALYSIS_AT_STOP_ON},
}};
constexpr std::array<IdOf<FrequencyScale>, 3> kFrequencyScaleIds{{
    {FrequencyScale::Linear, FREQ_SCALE_LINEAR},
    {FrequencyScale::Log, FREQ_SCALE_LOG},
    {FrequencyScale::ThirdOctave, FREQ_SCALE_THIRD_OCTAVE},
}};
constexpr std::array<IdOf<StereoChannel>, 3> kChannelIds{{
    {StereoChannel::Dual, CHANNEL_DUAL},
    {StereoChannel::Left, CHANNEL_LEFT},
    {StereoChannel::Right, CHANNEL_RIGHT},
}};
constexpr std::array<IdOf<bool>, 2> kStereoIds{{{false, TYPE_MONO}, {true, TYPE_STEREO}}};
constexpr std::array<IdOf<PlotType>, 3> kPlotTypeIds{{
    {PlotType::Signal, PLOT_SIGNAL},
    {PlotType::PeakDelta, PLOT_PEAK_DELTA},
    {PlotType::LrDelta, PLOT_LR_DELTA},
}};
constexpr std::array<IdOf<Recording::Choice>, 3> kRecordingIds{{
    {Recording::Choice::Off, RECORDING_OFF},
    {Recording::Choice::Manual, RECORDING_ON},
    {Recording::Choice::Trigger, RECORDING_TRIGGER},
}};
constexpr std::array<IdOf<bool>, 2> kScrollMemoryIds{
    {{false, SCROLL_MEM_OFF}, {true, SCROLL_MEM_ON}}};
constexpr std::array<IdOf<Variables>, 2> kVariablesIds{{
    {Variables::Adjust, VARIABLES_ADJUST},
    {Variables::Freeze, VARIABLES_FREEZE},
}};
constexpr std::array<IdOf<bool>, 2> kPitchDetectorIds{{
    {false, PITCH_DETECTOR_OFF},
    {true, PITCH_DETECTOR_ON},
}};

// A number field and what it may hold.
template <typename T> struct NumberWord {
    T AppSettings::*field;
    ValidSet valid;
};

// A choice field: the id the file holds for each value. An id the table does not know reads as
// the field's default; a value it does not know is written as the default's id.
template <typename V> struct ChoiceWord {
    V AppSettings::*field;
    std::span<const IdOf<V>> ids;
};

template <typename V, std::size_t N>
constexpr ChoiceWord<V> choiceWord(V AppSettings::*field, const std::array<IdOf<V>, N>& ids) {
    return {field, ids};
}

// The spare word: Max Over Step and the file channels (see packSpare).
struct SpareWord {};

using StoredWord =
    std::variant<NumberWord<std::int32_t>, NumberWord<float>, ChoiceWord<std::int32_t>,
                 ChoiceWord<bool>, ChoiceWord<PaletteName>, ChoiceWord<DbRange>,
                 ChoiceWord<DisplayType>, ChoiceWord<FrequencyScale>, ChoiceWord<StereoChannel>,
                 ChoiceWord<PlotType>, ChoiceWord<Recording::Choice>, ChoiceWord<Variables>,
                 SpareWord>;

// Band limits reach at most half the highest rate a wave header can state.
constexpr double kMaxBandHz = std::numeric_limits<std::int32_t>::max() / 2;
// Scan Input trails the input by at most a second.
constexpr double kMaxDisplayDelayMs = 1000.0;
// The image export only ever enlarges; ten times is far beyond any screen.
constexpr double kMinImageScalePercent = 100.0;
constexpr double kMaxImageScalePercent = 1000.0;

template <typename T> constexpr NumberWord<T> number(T AppSettings::*field, ValidSet valid) {
    return {field, valid};
}

// The 33 words from offset 424 to 552 in file order, with what each may hold: one table
// serves reading, checking and writing.
const std::array<StoredWord, 33> kStoredWords{{
    number(&AppSettings::lastMode, choice(LAST_MODE_ANALYZE_FILE, LAST_MODE_SCAN_FILE_PLOT)),
    choiceWord(&AppSettings::inputSampleRateHz, kSampleRateIds),
    choiceWord(&AppSettings::resolutionBits, kResolutionIds),
    choiceWord(&AppSettings::log2FftSize, kLog2FftSizeIds),
    choiceWord(&AppSettings::palette, kPaletteIds),
    choiceWord(&AppSettings::dbRange, kDbRangeIds),
    choiceWord(&AppSettings::displayType, kDisplayTypeIds),
    choiceWord(&AppSettings::analysisAtStop, kAnalysisAtStopIds),
    choiceWord(&AppSettings::frequencyScale, kFrequencyScaleIds),
    choiceWord(&AppSettings::channel, kChannelIds),
    choiceWord(&AppSettings::stereo, kStereoIds),
    choiceWord(&AppSettings::plotType, kPlotTypeIds),
    choiceWord(&AppSettings::recording, kRecordingIds),
    choiceWord(&AppSettings::scrollMemory, kScrollMemoryIds),
    number(&AppSettings::timeScaleMsecSaved, range(MIN_TIME_SCALE_MSEC, MAX_TIME_SCALE_MSEC)),
    number(&AppSettings::levelScaleCode, range(-kLevelScaleOffset, kLevelScaleOffset)),
    number(&AppSettings::displayDelayMs, range(0.0, kMaxDisplayDelayMs)),
    number(&AppSettings::lowBandHz, range(0.0, kMaxBandHz)),
    number(&AppSettings::highBandHz, range(0.0, kMaxBandHz)),
    number(&AppSettings::lastFileMode, choice(FILE_MODE_ANALYZE, FILE_MODE_SCAN)),
    number(&AppSettings::storedSampleRateHz, anything()),
    number(&AppSettings::averageCountScroll, range(MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT)),
    number(&AppSettings::averageCountPlot, range(MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT)),
    number(&AppSettings::marker1Hz, anything()), // 0 or below: off
    number(&AppSettings::marker2Hz, anything()),
    number(&AppSettings::freqResolutionHz, range(0.0, std::numeric_limits<float>::max())),
    number(&AppSettings::imageScalePercent, range(kMinImageScalePercent, kMaxImageScalePercent)),
    SpareWord{},
    number(&AppSettings::resolutionFactor, range(MIN_RESOLUTION_FACTOR, MAX_RESOLUTION_FACTOR)),
    choiceWord(&AppSettings::variables, kVariablesIds),
    number(&AppSettings::pointerType, choice(POINTER_TARGET_BOX, POINTER_BLACK_CROSS)),
    number(&AppSettings::cursorOffsetHz, anything()),
    choiceWord(&AppSettings::pitchDetector, kPitchDetectorIds),
}};

// The spare word, once it holds this program's own choices, carries 0x4B43 in its upper half,
// Max Over Step in bit 15, the first file channel in bits 8..14 and the second in bits 0..7.
// Any other value (the 300 of every older file) means channels 1 and 2, one frame a step.
constexpr std::uint32_t kSpareTag = 0x4B430000U;
constexpr std::uint32_t kTagMask = 0xFFFF0000U;
constexpr std::uint32_t kMaxOverStepBit = 0x8000U;

struct SpareChoices {
    bool maxOverStep = false;
    FileChannels channels;
    friend bool operator==(const SpareChoices&, const SpareChoices&) = default;
};

SpareChoices unpackSpare(std::uint32_t word) {
    if ((word & kTagMask) != kSpareTag) {
        return {};
    }
    const FileChannels stored{static_cast<int>((word >> 8) & 0x7FU),
                              static_cast<int>(word & 0xFFU)};
    return {(word & kMaxOverStepBit) != 0, stored.valid() ? stored : FileChannels{}};
}

// The word as it was read while it still says the same (an older file's 300 stays 300), else
// the tagged word.
std::uint32_t packSpare(const AppSettings& s) {
    const auto read = static_cast<std::uint32_t>(s.spareWordRead);
    const SpareChoices now{s.maxOverStep, s.fileChannels.valid() ? s.fileChannels : FileChannels{}};
    if (unpackSpare(read) == now) {
        return read;
    }
    return kSpareTag | (now.maxOverStep ? kMaxOverStepBit : 0U) |
           static_cast<std::uint32_t>(now.channels.first) << 8 |
           static_cast<std::uint32_t>(now.channels.second);
}

template <typename T> void bringIntoSet(T& value, T fallback, const ValidSet& valid) {
    const auto v = static_cast<double>(value);
    switch (valid.kind) {
    case ValidSet::Kind::Anything:
        return;
    case ValidSet::Kind::Choice:
        if (!(v >= valid.low && v <= valid.high)) {
            value = fallback;
        }
        return;
    case ValidSet::Kind::Range:
        value = std::isnan(v) ? fallback : static_cast<T>(std::clamp(v, valid.low, valid.high));
        return;
    }
}

const AppSettings& recordDefaults() {
    static const AppSettings defaults;
    return defaults;
}

// One stored word into the record, brought into the values the program accepts.
struct WordReader {
    std::uint32_t word;
    AppSettings& s;

    template <typename T> void operator()(const NumberWord<T>& w) const {
        s.*w.field = std::bit_cast<T>(word);
        bringIntoSet(s.*w.field, recordDefaults().*w.field, w.valid);
    }
    template <typename V> void operator()(const ChoiceWord<V>& w) const {
        const auto id = std::bit_cast<std::int32_t>(word);
        const auto row =
            std::find_if(w.ids.begin(), w.ids.end(), [id](const IdOf<V>& r) { return r.id == id; });
        s.*w.field = row != w.ids.end() ? row->value : recordDefaults().*w.field;
    }
    void operator()(SpareWord /*unused*/) const {
        s.spareWordRead = std::bit_cast<std::int32_t>(word);
        const SpareChoices choices = unpackSpare(word);
        s.maxOverStep = choices.maxOverStep;
        s.fileChannels = choices.channels;
    }
};

// One field of the record as its stored word.
struct WordWriter {
    const AppSettings& s;

    template <typename T> std::uint32_t operator()(const NumberWord<T>& w) const {
        return std::bit_cast<std::uint32_t>(s.*w.field);
    }
    template <typename V> std::uint32_t operator()(const ChoiceWord<V>& w) const {
        const auto idOf = [&w](V value) {
            const auto row = std::find_if(w.ids.begin(), w.ids.end(),
                                          [value](const IdOf<V>& r) { return r.value == value; });
            return row != w.ids.end() ? std::optional<std::int32_t>(row->id) : std::nullopt;
        };
        return static_cast<std::uint32_t>(
            idOf(s.*w.field).value_or(idOf(recordDefaults().*w.field).value_or(0)));
    }
    std::uint32_t operator()(SpareWord /*unused*/) const { return packSpare(s); }
};

// The analysis refuses a band that is empty, reversed, or starts at 0 on the log scale:
// such a band becomes the default one, from 100 Hz on the log scale.
void bringBandIntoRange(AppSettings& s, const AppSettings& defaults) {
    if (frequencyLimitsUsable(s.frequencyScale, s.lowBandHz, s.highBandHz)) {
        return;
    }
    s.lowBandHz =
        s.frequencyScale == FrequencyScale::Log ? LOG_SCALE_FORCED_LOW_HZ : defaults.lowBandHz;
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
    const AppSettings& defaults = recordDefaults();
    s.reservedTextA = readText(image, kReservedTextAOffset, kReservedTextSize);
    s.reservedTextB = readText(image, kReservedTextBOffset, kReservedTextSize);
    if (reader == Reader::StartUp) {
        s.lastFolder = readText(image, kLastFolderOffset, kLastFolderSize);
    }
    std::size_t offset = kFirstWordOffset;
    for (const StoredWord& word : kStoredWords) {
        std::visit(WordReader{readWord(image, offset), s}, word);
        offset += 4;
    }
    bringBandIntoRange(s, defaults);
    s.verticalScrollPos = levelBarPosition(s.levelScaleCode);
    for (std::size_t i = 0; i < s.userPalette.size(); ++i) {
        const std::size_t at = kUserPaletteOffset + kPaletteEntryBytes * i;
        s.userPalette[i] = {image[at], image[at + 1], image[at + 2]};
    }
    activePalette = paletteFor(s.palette, s.userPalette);
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

template <auto... Fields> void resetToDefaults(AppSettings& s) {
    ((s.*Fields = recordDefaults().*Fields), ...);
}

// The reload defaults are the record's defaults but for a smaller FFT, since memory ran short,
// and a longer time scale.
void applyReloadDefaults(AppSettings& s) {
    resetToDefaults<
        &AppSettings::marker1Hz, &AppSettings::marker2Hz, &AppSettings::lastMode,
        &AppSettings::cursorOffsetHz, &AppSettings::lowBandHz, &AppSettings::resolutionFactor,
        &AppSettings::maxOverStep, &AppSettings::fileChannels, &AppSettings::spareWordRead,
        &AppSettings::imageScalePercent, &AppSettings::highBandHz, &AppSettings::displayDelayMs,
        &AppSettings::levelScaleCode, &AppSettings::variables, &AppSettings::pointerType,
        &AppSettings::pitchDetector, &AppSettings::dbRange, &AppSettings::stereo,
        &AppSettings::channel, &AppSettings::frequencyScale, &AppSettings::analysisAtStop,
        &AppSettings::displayType, &AppSettings::palette, &AppSettings::resolutionBits,
        &AppSettings::inputSampleRateHz, &AppSettings::freqResolutionHz>(s);
    s.verticalScrollPos = levelBarPosition(s.levelScaleCode);
    s.settingsLoaded = false;
    s.log2FftSize = MIN_LOG2_FFT_SIZE; // 512 points
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
        writeWord(image, offset, std::visit(WordWriter{settings}, word));
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
