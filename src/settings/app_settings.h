#pragma once
// The one record of every user choice, stored byte for byte as the 948-byte settings file.
// Option fields hold the control id of the radio button that stands for the choice.

#include "base/settings_types.h"
#include "display/palette.h"
#include "settings/default_calibration.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace korv {

inline constexpr std::int32_t SETTINGS_MAGIC = 6000;
inline constexpr std::size_t SETTINGS_FILE_SIZE = 948;
inline constexpr std::int32_t SPARE_SETTING_DEFAULT = 300;

// Field order and defaults follow the file layout (offsets in comments).
struct AppSettings {
    std::string reservedTextA; // 4, 80 bytes
    std::string reservedTextB; // 84, 80 bytes
    std::string lastFolder;    // 164, 260 bytes
    std::int32_t lastMode = 0; // 424
    std::int32_t sampleRateChoice = 1165;
    std::int32_t resolutionChoice = 1008;
    std::int32_t fftSizeChoice = 1083;
    std::int32_t paletteChoice = 1046;
    std::int32_t dbScaleChoice = 1141;
    std::int32_t displayTypeChoice = 1061;
    std::int32_t analysisAtStopChoice = 1146;
    std::int32_t freqScaleChoice = 1076;
    std::int32_t channelChoice = 1089;
    std::int32_t typeChoice = 1013;
    std::int32_t plotTypeChoice = 1159;
    std::int32_t recordingChoice = 1109;
    std::int32_t scrollMemChoice = 1121;
    float timeScaleMsecSaved = 4.0f; // 480
    std::int32_t levelScaleCode = -9;
    std::int32_t displayDelayMs = 75;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 6000;
    std::int32_t lastFileMode = 0;
    std::int32_t storedSampleRateHz = 44100; // 504: read here, written from sampleRateHz
    std::int32_t averageCountScroll = 1;
    std::int32_t averageCountPlot = 20;
    std::int32_t marker1Hz = 0;
    std::int32_t marker2Hz = 0;
    float freqResolutionHz = 0.0f; // 524
    std::int32_t imageScalePercent = 100;
    // Kept and written back; once tagged it holds Max Over Step and the file channels
    // (settings_inputs: maxOverStep, fileChannelsOf).
    std::int32_t spareSetting = SPARE_SETTING_DEFAULT;
    std::int32_t resolutionFactor = 10;
    std::int32_t variablesChoice = 40055;
    std::int32_t pointerType = 1;
    std::int32_t cursorOffsetHz = 0;
    std::int32_t pitchDetectorChoice = 1144;                       // 552
    PaletteTable userPalette = kCbPalette;                         // 556, the User palette table
    CalibrationCurve calibrationTable = defaultCalibrationCurve(); // 628

    // Derived, not stored.
    std::int32_t verticalScrollPos = -9 + 15; // levelScaleCode + 15
    float timeScaleMsec = 4.0f;               // effective time scale of the running mode
    bool settingsLoaded = false;

    friend bool operator==(const AppSettings&, const AppSettings&) = default;
};

} // namespace korv
