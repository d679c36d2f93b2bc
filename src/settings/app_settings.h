#pragma once
// The one record of every user choice, as values: enums for the choices, numbers in their units.
// settings/settings_file stores it as the 948-byte settings file (whose words hold each choice
// as its dialog button's id); the dialogs map their buttons to these values; nothing else sees
// an id.

#include "analysis/frequency_axis.h"
#include "analysis/parameters.h"
#include "audio/recording.h"
#include "audio/sound_file.h"
#include "base/settings_types.h"
#include "display/palette.h"
#include "display/spectrum_plot.h"
#include "settings/default_calibration.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace korv {

inline constexpr std::int32_t SETTINGS_MAGIC = 6000;
inline constexpr std::size_t SETTINGS_FILE_SIZE = 948;
inline constexpr std::int32_t SPARE_SETTING_DEFAULT = 300;

// The Variables menu: the analysis parameters follow each file or input (Adjust), or stay
// as they are (Freeze).
enum class Variables { Adjust, Freeze };

// lastMode: 0 Analyze File, 1 and 2 Scan Input, 3 and 4 Scan File (scroll, then line plot).
inline constexpr std::int32_t LAST_MODE_ANALYZE_FILE = 0;
inline constexpr std::int32_t LAST_MODE_SCAN_INPUT_SCROLL = 1;
inline constexpr std::int32_t LAST_MODE_SCAN_INPUT_PLOT = 2;
inline constexpr std::int32_t LAST_MODE_SCAN_FILE_SCROLL = 3;
inline constexpr std::int32_t LAST_MODE_SCAN_FILE_PLOT = 4;
// lastFileMode: a file named on the command line is analysed (0) or scanned (1).
inline constexpr std::int32_t FILE_MODE_ANALYZE = 0;
inline constexpr std::int32_t FILE_MODE_SCAN = 1;
// pointerType: 1 target box, 2 white cross, 3 black cross.
inline constexpr std::int32_t POINTER_TARGET_BOX = 1;
inline constexpr std::int32_t POINTER_BLACK_CROSS = 3;

// In the order of the file's words (offsets in comments); each default is written here once.
struct AppSettings {
    std::string reservedTextA;                      // 4, 80 bytes
    std::string reservedTextB;                      // 84, 80 bytes
    std::string lastFolder;                         // 164, 260 bytes
    std::int32_t lastMode = LAST_MODE_ANALYZE_FILE; // 424
    std::int32_t inputSampleRateHz = 22050;         // the rate Scan Input asks its input for
    int resolutionBits = 16;                        // 8 or 16
    int log2FftSize = DEFAULT_LOG2_FFT_SIZE;        // 9 .. 14
    PaletteName palette = PaletteName::Cb;
    DbRange dbRange = DbRange::Db60;
    DisplayType displayType = DisplayType::Scroll;
    bool analysisAtStop = false; // Scan File analyses the file when stopped early
    FrequencyScale frequencyScale = FrequencyScale::Linear;
    StereoChannel channel = StereoChannel::Dual;
    bool stereo = false;
    PlotType plotType = PlotType::Signal;
    Recording::Choice recording = Recording::Choice::Off;
    bool scrollMemory = false;
    float timeScaleMsecSaved = 4.0f; // 480
    std::int32_t levelScaleCode = -9;
    std::int32_t displayDelayMs = 75;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 6000;
    std::int32_t lastFileMode = FILE_MODE_ANALYZE;
    std::int32_t storedSampleRateHz = 44100; // 504: read here, written from sampleRateHz
    std::int32_t averageCountScroll = 1;
    std::int32_t averageCountPlot = 20;
    std::int32_t marker1Hz = 0;
    std::int32_t marker2Hz = 0;
    float freqResolutionHz = 0.0f; // 524
    std::int32_t imageScalePercent = 100;
    // The spare word at 532 holds these two (settings_file packs them).
    bool maxOverStep = false;  // a column keeps each bin's largest value over its step
    FileChannels fileChannels; // the two a file of more than two channels is held as
    std::int32_t resolutionFactor = 10;
    Variables variables = Variables::Adjust;
    std::int32_t pointerType = POINTER_TARGET_BOX;
    std::int32_t cursorOffsetHz = 0;
    bool pitchDetector = false;                                    // 552
    PaletteTable userPalette = kCbPalette;                         // 556, the User palette table
    CalibrationCurve calibrationTable = defaultCalibrationCurve(); // 628

    // The spare word as the file held it: written back unchanged while it still reads as
    // maxOverStep and fileChannels (the 300 of older files among such words).
    std::int32_t spareWordRead = SPARE_SETTING_DEFAULT;

    // Derived, not stored.
    std::int32_t verticalScrollPos = -9 + 15; // levelScaleCode + 15
    float timeScaleMsec = 4.0f;               // effective time scale of the running mode
    bool settingsLoaded = false;

    [[nodiscard]] int fftSize() const { return 1 << log2FftSize; }
    [[nodiscard]] int channels() const { return stereo ? 2 : 1; }
    [[nodiscard]] int bytesPerSample() const { return resolutionBits == 8 ? 1 : 2; }

    friend bool operator==(const AppSettings&, const AppSettings&) = default;
};

} // namespace korv
