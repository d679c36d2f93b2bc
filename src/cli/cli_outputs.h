#pragma once
// What korvanthile-cli makes of one wave file: the entire image, the level table (the
// spectral image log or CSV) or the third-octave bands as CSV, written whole or not at all.

#include "cli/cli_jobs.h"
#include "cli/cli_options.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korv::cli {

// The output's name: the sound file's with the extension replaced, in outDir when given.
[[nodiscard]] std::string outputPath(const Options& options, const std::string& file);

// The list made safe to run at once, in the order given. A file listed again (under any
// spelling, or through a link) is analysed once: a note. A file whose output an earlier file
// already takes (two folders holding an a.wav), or whose output would replace one of the
// listed wave files (rec.wav copied to same.png), is refused: a failure, "FILE: why".
struct ListCheck {
    std::vector<std::string> notes;
    std::vector<std::string> failures;
};
[[nodiscard]] ListCheck checkFileList(const Options& options, std::vector<std::string>& files);

// One file's job: the file opened, its header read and planned here, once; the memory its
// run will take (its picture and sample windows; nothing when it cannot be planned) and its run
// come from that one plan. The run gives the failure in the program's words when there is no
// output; notes on what was changed to make the run possible go to its notes. With the share's
// `twoCores` the columns of an image or level table are shared with a second core; its
// `progress` is told how far the file's columns are. The job holds `options` and `run` by
// reference.
[[nodiscard]] FileJob planFileJob(const Options& options, const RunSettings& run,
                                  const std::string& file);
// A job planned and run at once, with memoryBytes for it.
[[nodiscard]] std::optional<std::string>
processFile(const Options& options, const RunSettings& run, const std::string& file,
            std::int64_t memoryBytes, std::vector<std::string>* notes = nullptr,
            bool twoCores = false, const FileProgress& progress = {});

// The image's settings for a file of this format: the data type follows the file, as in
// Analyze File, and a high limit above half the file's rate is cut to it (true in `limited`);
// with `highBandFromFile` the band reaches half the file's rate.
[[nodiscard]] AppSettings settingsForFile(const AppSettings& settings, const RunFormat& format,
                                          bool* limited = nullptr, bool highBandFromFile = false);

} // namespace korv::cli
