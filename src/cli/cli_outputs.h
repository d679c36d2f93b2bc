#pragma once
// What korvanthile-cli makes of one wave file: the entire image, the level table (the
// spectral image log or CSV) or the third-octave bands as CSV, written whole or not at all.

#include "cli/cli_options.h"

#include <cstdint>
#include <optional>
#include <string>

namespace korv::cli {

// The output's name: the wave file's with the extension replaced, in outDir when given.
[[nodiscard]] std::string outputPath(const Options& options, const std::string& file);

// The output of one file; the failure in the program's words when there is none.
[[nodiscard]] std::optional<std::string> processFile(const Options& options, const RunSettings& run,
                                                     const std::string& file,
                                                     std::int64_t memoryBytes);

// The image's settings for a file: the data type follows the file, as in Analyze File.
[[nodiscard]] AppSettings settingsForFile(const AppSettings& settings, const WholeFilePlan& plan);

} // namespace korv::cli
