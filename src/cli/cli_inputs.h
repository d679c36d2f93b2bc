#pragma once
// The files the user names beside the sound files: the settings file, the calibration file and
// the lists of wave file names. Each is read up to a bound, so that /dev/zero or a stream
// without line ends cannot take the machine's memory, and every failure names the system's
// reason.

#include "base/posix_file.h" // systemReason

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace korv::cli {

// The longest line taken from a list of names: the longest path the system opens.
inline constexpr std::size_t kMaxNameLineBytes = 4096;

struct NamedFileBytes {
    std::optional<std::string> bytes; // at most limit + 1 bytes: more than limit means too large
    std::string error;                // "Cannot Open File (reason)" when there are none
};
// Never waits at the open (a FIFO nobody writes to); regularOnly refuses pipes and devices,
// otherwise a pipe (<(cat korv.ini)) is read as it comes.
[[nodiscard]] NamedFileBytes readNamedFile(const std::string& path, std::size_t limit,
                                           bool regularOnly);

// Adds the non-empty lines of the list `path` ("-": standard input), a CR before the line end
// dropped; false, with the reason in `error`, for a folder, a read error or a line longer than
// kMaxNameLineBytes.
[[nodiscard]] bool addNameList(const std::string& path, std::vector<std::string>& files,
                               std::string& error);

} // namespace korv::cli
