#pragma once
// The settings file korv.ini: a 948-byte little-endian image of AppSettings, kept in the
// user's configuration folder (or beside the executable of a portable installation). Each
// choice is stored as its dialog button's id (base/option_ids.h), mapped to and from the
// record's values by one table of the file's words here. Reading is silent; the record keeps
// what it had.

#include "display/palette.h"
#include "settings/app_settings.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korv {

// The executable's directory (up to its last '/') followed by "korv.ini".
[[nodiscard]] std::string settingsPathBesideExecutable(std::string_view executablePath);

// The user's own file, by the XDG base directory rules: $XDG_CONFIG_HOME/korvanthile/korv.ini,
// or $HOME/.config/korvanthile/korv.ini when XDG_CONFIG_HOME is unset, empty or relative.
// Empty when neither names an absolute folder. Either argument may be null.
[[nodiscard]] std::string userSettingsPath(const char* xdgConfigHome, const char* home);

// Where the desktop program keeps its settings: a korv.ini already beside the executable (a
// portable installation, or one from before the settings moved) is used where it is; else the
// user's own file, from the environment; else (no home at all) beside the executable.
[[nodiscard]] std::string settingsPath(std::string_view executablePath);

// Start-up read. A valid file replaces the stored fields, the User palette
// (settings.userPalette) and the calibration curve, and fills activePalette from the table
// settings.palette names. Each field is brought into the values the dialogs and the analysis
// accept (clamped into its range, or its default when its id names no choice or it is no
// number),
// so a damaged file cannot lock the user out. A missing file, or anything but a regular file
// (opened without blocking, left in place), leaves the defaults; a file of the wrong size or
// magic, or one that reads short, is deleted. Without a valid file the curve is the default
// one and both the User and the active palette are copies of the CB table.
// The caller then realises the palette and sets the Variables and Pointers menus.
void loadSettings(const std::string& path, AppSettings& settings, LevelPalette& activePalette);

// A settings file read by the caller (the command-line tool reads a file the user names,
// which may be a pipe, and never deletes it): applied as at start-up when `bytes` are a whole
// settings file with its magic; false, and the record untouched, otherwise.
[[nodiscard]] bool applySettingsBytes(std::span<const std::uint8_t> bytes, AppSettings& settings,
                                      LevelPalette& activePalette);

// Makes the folders leading to `path` that are missing, private to the user as the XDG
// rules ask for the configuration folder. A failure shows in the write that follows.
void makeFolderOf(const std::string& path);

// Close-time write of the whole record; sampleRateHz is the rate of the data held now (0 if
// none) and goes to offset 504. A missing folder is made (private to the user, as the XDG
// rules ask). The record is written and synced to a temporary file beside the settings file,
// which then replaces it: a failure anywhere leaves the old file whole. False when the
// record could not be written; the caller says so.
[[nodiscard]] bool saveSettings(const std::string& path, const AppSettings& settings,
                                std::int32_t sampleRateHz);

enum class ReloadOutcome {
    FileApplied,     // the stored fields are back, checked as at start-up, but lastFolder is
                     // kept and the sample rate choice taken as stored
    DefaultsApplied, // no usable file: the reload defaults are in force
};

// The record part of returning to the stored state after a start failed for lack of memory.
// Before calling, the program releases the images and held samples, puts the menu into its
// idle state and repaints. After it, whatever the outcome, the program clears its Log Data
// and Parameters Restore flags; on DefaultsApplied it also sets the image width, the held
// sample bytes and sampleRateHz to 0. The file is never deleted here.
[[nodiscard]] ReloadOutcome reloadSettings(const std::string& path, AppSettings& settings,
                                           LevelPalette& activePalette);

} // namespace korv
