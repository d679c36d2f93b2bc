#pragma once
// Many files at once: a fixed number of threads take the files in turn, each file analysed
// whole on one thread, with a share of the machine's memory each. A progress line on a
// terminal; every failure on stderr with the file's name.

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace korv::cli {

// One file's work: the failure's text, or nothing when its output was written; notes on what
// it changed to make the run possible go to `notes`.
using FileWork = std::function<std::optional<std::string>(
    const std::string& file, std::int64_t memoryBytes, std::vector<std::string>& notes)>;

struct JobsReport {
    std::size_t done = 0;
    std::size_t failed = 0;
};

// jobs 0: every core. progress: where the progress line goes (nullptr: none); errors: where
// each note and failure is reported as "FILE: message".
[[nodiscard]] JobsReport runJobs(const std::vector<std::string>& files, unsigned jobs,
                                 const FileWork& work, std::ostream* progress,
                                 std::ostream& errors);

// "12/100 files, 3.4 files/s, 26 s left" (the time left once a file is done).
[[nodiscard]] std::string progressLine(std::size_t done, std::size_t total, double elapsedSec);

} // namespace korv::cli
