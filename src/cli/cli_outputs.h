#pragma once
// What korvanthile-cli makes of one wave file: the entire image, the level table (the
// spectral image log or CSV) or the third-octave bands as CSV, written whole or not at all.

#include "cli/cli_options.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korv::cli {

// The output's name: the wave file's with the extension replaced, in outDir when given.
[[nodiscard]] std::string outputPath(const Options& options, const std::string& file);

// Files whose output name an earlier file of the list already takes (two folders holding an
// a.wav, or a name given twice): with the earlier file, so one output is not written twice
// at once.
struct OutputClash {
    std::string file;
    std::string earlier;
};
[[nodiscard]] std::vector<OutputClash> outputClashes(const Options& options,
                                                     std::vector<std::string>& files);

// The output of one file; the failure in the program's words when there is none.
[[nodiscard]] std::optional<std::string> processFile(const Options& options, const RunSettings& run,
                                                     const std::string& file,
                                                     std::int64_t memoryBytes);

// The image's settings for a file: the data type follows the file, as in Analyze File.
[[nodiscard]] AppSettings settingsForFile(const AppSettings& settings, const WholeFilePlan& plan);

} // namespace korv::cli
