#pragma once
// The choices the 948-byte korv.ini has no room for (the sound level meter's settings, each
// input device's calibration, the recent files, the playback speed), kept as text in
// korvanthile.conf beside it: one "key = value" per line, '#' starts a comment.
//
// Reading never fails: a bad value is reported and its default used, a key this program does
// not know is kept as it was read and written back, so an older program does not drop a
// newer one's settings. Writing is whole or not at all.

#include "meter/time_weighting.h"
#include "meter/weighting.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korv {

// The files offered under Recent Files, the newest first.
inline constexpr std::size_t kRecentFilesKept = 10;
// Input devices with a stored calibration; the oldest goes when another one comes.
inline constexpr std::size_t kCalibratedDevicesKept = 32;
// A file larger than this is no preferences file of ours: it is left alone and not read.
inline constexpr std::int64_t kPreferencesFileLimitBytes = 256 * 1024;

// The full-scale level an acoustic calibrator gave for one input device.
struct DeviceCalibration {
    std::string device;
    double fullScaleDb = 0.0; // the dB SPL a full-scale sine reads on this input
    std::string date;         // when it was measured, ISO 8601 ("2026-12-09T10:15:00")
    friend bool operator==(const DeviceCalibration&, const DeviceCalibration&) = default;
};

struct Preferences {
    meter::FrequencyWeighting meterWeighting = meter::FrequencyWeighting::A;
    meter::TimeWeighting meterTimeWeighting = meter::TimeWeighting::F;
    int meterBandsPerOctave = 3; // 0 for no bands, else 1, 3, 6, 12 or 24
    double meterIntervalSeconds = 1.0;
    int playbackSlowdown = 1; // time expansion (TIME_EXPANSION_FACTORS): 10 plays at 1/10
    std::vector<std::string> recentFiles;        // newest first, at most kRecentFilesKept
    std::vector<DeviceCalibration> calibrations; // at most kCalibratedDevicesKept
    std::vector<std::pair<std::string, std::string>> otherKeys; // unknown keys, as read

    friend bool operator==(const Preferences&, const Preferences&) = default;
};

struct PreferencesRead {
    Preferences preferences;
    // One line per value not taken, in the program's words: "korvanthile.conf, line 3:
    // "meter.weighting = B" is no weighting (A, C or Z); A is used".
    std::vector<std::string> problems;
};

// The text of a preferences file; `fileName` names it in the problems.
[[nodiscard]] PreferencesRead parsePreferences(std::string_view text, std::string_view fileName);
[[nodiscard]] std::string formatPreferences(const Preferences& preferences);

// korvanthile.conf in the folder of `settingsFilePath` (korv.ini's path, settingsPath).
[[nodiscard]] std::string preferencesPathBeside(std::string_view settingsFilePath);

// A missing file gives the defaults and no problem; anything but a regular file, or one too
// large, gives the defaults and says so.
[[nodiscard]] PreferencesRead readPreferences(const std::string& path);
// Written whole or not at all, the folder made if missing; the failure in the program's
// words, empty when written.
[[nodiscard]] std::string writePreferences(const std::string& path, const Preferences& preferences);

// `path` first in the recent files, once, the list cut to kRecentFilesKept. A name with a
// line break cannot be stored and is left out.
void rememberRecentFile(Preferences& preferences, const std::string& path);
// Sets (or replaces) `device`'s calibration, keeping at most kCalibratedDevicesKept; a
// device name or date the file cannot hold (a line break, blanks at its ends) is not stored.
void rememberCalibration(Preferences& preferences, DeviceCalibration calibration);
// The stored calibration of `device`, null when it has none.
[[nodiscard]] const DeviceCalibration* calibrationOf(const Preferences& preferences,
                                                     std::string_view device);

} // namespace korv
