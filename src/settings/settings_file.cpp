#include "settings/settings_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdio>
#include <cstring>

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

constexpr std::int32_t kDefaultSampleRateChoice = 1165;
constexpr std::array<std::int32_t, 5> kSampleRateChoices{1163, 1164, 1165, 1166, 1167};

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

void load(const FileImage& image, std::size_t offset, std::int32_t& field) {
    field = std::bit_cast<std::int32_t>(readWord(image, offset));
}

void load(const FileImage& image, std::size_t offset, float& field) {
    field = std::bit_cast<float>(readWord(image, offset));
}

// The 33 words from offset 424 to 552, in file order; one list serves reading and writing.
template <typename Settings, typename Visit> void forEachStoredWord(Settings& s, Visit visit) {
    std::size_t offset = kFirstWordOffset;
    auto next = [&](auto& field) {
        visit(offset, field);
        offset += 4;
    };
    next(s.lastMode);
    next(s.sampleRateChoice);
    next(s.resolutionChoice);
    next(s.fftSizeChoice);
    next(s.paletteChoice);
    next(s.dbScaleChoice);
    next(s.displayTypeChoice);
    next(s.analysisAtStopChoice);
    next(s.freqScaleChoice);
    next(s.channelChoice);
    next(s.typeChoice);
    next(s.plotTypeChoice);
    next(s.recordingChoice);
    next(s.scrollMemChoice);
    next(s.timeScaleMsecSaved);
    next(s.levelScaleCode);
    next(s.displayDelayMs);
    next(s.lowBandHz);
    next(s.highBandHz);
    next(s.lastFileMode);
    next(s.storedSampleRateHz);
    next(s.averageCountScroll);
    next(s.averageCountPlot);
    next(s.marker1Hz);
    next(s.marker2Hz);
    next(s.freqResolutionHz);
    next(s.imageScalePercent);
    next(s.spareSetting);
    next(s.resolutionFactor);
    next(s.variablesChoice);
    next(s.pointerType);
    next(s.cursorOffsetHz);
    next(s.pitchDetectorChoice);
}

// A text ends at its zero or at the end of its field, whichever comes first.
std::string readText(const FileImage& image, std::size_t offset, std::size_t size) {
    const auto* start = image.data() + offset;
    const void* zero = std::memchr(start, 0, size);
    const std::size_t length =
        zero == nullptr ? size
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

ReadResult readImage(const std::string& path, FileImage& image) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return ReadResult::Missing;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    if (size != static_cast<long>(SETTINGS_FILE_SIZE) || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return ReadResult::WrongSize;
    }
    image.fill(0);
    const std::size_t got = std::fread(image.data(), 1, image.size(), file);
    std::fclose(file);
    return got == image.size() ? ReadResult::Complete : ReadResult::Short;
}

bool hasMagic(const FileImage& image) {
    return std::bit_cast<std::int32_t>(readWord(image, kMagicOffset)) == SETTINGS_MAGIC;
}

// The fields both readers take from a valid image: the texts but lastFolder, the words,
// the User palette, the active palette and the calibration curve.
void applyImage(const FileImage& image, AppSettings& s, LevelPalette& activePalette) {
    s.reservedTextA = readText(image, kReservedTextAOffset, kReservedTextSize);
    s.reservedTextB = readText(image, kReservedTextBOffset, kReservedTextSize);
    forEachStoredWord(s, [&](std::size_t offset, auto& field) { load(image, offset, field); });
    s.verticalScrollPos = s.levelScaleCode + 15;
    for (std::size_t i = 0; i < s.userPalette.size(); ++i) {
        const std::size_t at = kUserPaletteOffset + kPaletteEntryBytes * i;
        s.userPalette[i] = {image[at], image[at + 1], image[at + 2]};
    }
    fillActivePalette(s.paletteChoice, s.userPalette, activePalette);
    for (std::size_t i = 0; i < s.calibrationTable.size(); ++i) {
        const std::size_t at = kCalibrationOffset + 8 * i;
        load(image, at, s.calibrationTable[i].frequencyHz);
        load(image, at + 4, s.calibrationTable[i].correctionDb);
    }
}

bool isKnownSampleRateChoice(std::int32_t choice) {
    for (std::int32_t known : kSampleRateChoices) {
        if (choice == known) {
            return true;
        }
    }
    return false;
}

void applyLoadDefaults(AppSettings& s, LevelPalette& activePalette) {
    s.calibrationTable = defaultCalibrationCurve();
    s.userPalette = kCbPalette;
    activePalette = kCbPalette;
}

void applyReloadDefaults(AppSettings& s) {
    s.marker1Hz = 0;
    s.marker2Hz = 0;
    s.freqResolutionHz = 0.0f;
    s.lastMode = 0;
    s.cursorOffsetHz = 0;
    s.lowBandHz = 0;
    s.settingsLoaded = false;
    s.resolutionFactor = 10;
    s.spareSetting = 300;
    s.imageScalePercent = 100;
    s.highBandHz = 6000;
    s.displayDelayMs = 75;
    s.levelScaleCode = -9;
    s.verticalScrollPos = s.levelScaleCode + 15;
    s.timeScaleMsec = 12.0f;
    s.variablesChoice = 40055;
    s.pointerType = 1;
    s.pitchDetectorChoice = 1144;
    s.dbScaleChoice = kDbScale60;
    s.typeChoice = 1013;
    s.channelChoice = 1089;
    s.freqScaleChoice = 1076;
    s.analysisAtStopChoice = 1146;
    s.displayTypeChoice = 1061;
    s.paletteChoice = kPaletteChoiceCb;
    // 512 points, smaller than the start-up default, since memory ran short.
    s.fftSizeChoice = 1082;
    s.resolutionChoice = 1008;
    s.sampleRateChoice = kDefaultSampleRateChoice;
}

} // namespace

std::string settingsPath(std::string_view executablePath) {
    const std::size_t slash = executablePath.rfind('/');
    std::string path;
    if (slash != std::string_view::npos) {
        path.assign(executablePath.substr(0, slash + 1));
    }
    path += "korv.ini";
    return path;
}

void loadSettings(const std::string& path, AppSettings& settings, LevelPalette& activePalette) {
    FileImage image{};
    const ReadResult read = readImage(path, image);
    if (read == ReadResult::Missing) {
        applyLoadDefaults(settings, activePalette);
        return;
    }
    if (read != ReadResult::Complete || !hasMagic(image)) {
        std::remove(path.c_str());
        applyLoadDefaults(settings, activePalette);
        return;
    }
    settings.lastFolder = readText(image, kLastFolderOffset, kLastFolderSize);
    applyImage(image, settings, activePalette);
    if (!isKnownSampleRateChoice(settings.sampleRateChoice)) {
        settings.sampleRateChoice = kDefaultSampleRateChoice;
    }
    settings.settingsLoaded = true;
}

void saveSettings(const std::string& path, const AppSettings& settings, std::int32_t sampleRateHz) {
    FileImage image{};
    writeWord(image, kMagicOffset, static_cast<std::uint32_t>(SETTINGS_MAGIC));
    writeText(image, kReservedTextAOffset, kReservedTextSize, settings.reservedTextA);
    writeText(image, kReservedTextBOffset, kReservedTextSize, settings.reservedTextB);
    writeText(image, kLastFolderOffset, kLastFolderSize, settings.lastFolder);
    forEachStoredWord(settings, [&](std::size_t offset, const auto& field) {
        writeWord(image, offset, std::bit_cast<std::uint32_t>(field));
    });
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
    // Truncating, so a longer file left by someone else cannot keep a stray tail.
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    [[maybe_unused]] const std::size_t written = std::fwrite(image.data(), 1, image.size(), file);
    std::fclose(file);
}

ReloadOutcome reloadSettings(const std::string& path, AppSettings& settings,
                             LevelPalette& activePalette) {
    FileImage image{};
    // A short read counts as no file: half an image must not be applied.
    if (readImage(path, image) == ReadResult::Complete && hasMagic(image)) {
        applyImage(image, settings, activePalette);
        settings.settingsLoaded = true;
        return ReloadOutcome::FileApplied;
    }
    applyReloadDefaults(settings);
    return ReloadOutcome::DefaultsApplied;
}

} // namespace korv
