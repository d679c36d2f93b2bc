#pragma once
// Many files at once: a fixed number of threads take the files in turn, each file analysed
// on one thread (two when it runs alone), each starting when the memory it needs is free. A
// progress line on a terminal; every failure on stderr with the file's name.

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace korv::cli {

// What a file may take while it runs: the memory not held by the files running beside it,
// and whether it may take a second core (it runs alone).
struct JobShare {
    std::int64_t memoryBytes = 0;
    bool twoCores = false;
};
// One file's work once its file is opened and planned, so the need and the run share the one
// plan: the memory the run will take (nothing when it cannot be told: the run then says why),
// and the run, giving the failure's text or nothing when its output was written; notes on what
// it changed to make the run possible go to `notes`.
struct FileJob {
    std::optional<std::int64_t> memoryBytes;
    std::function<std::optional<std::string>(const JobShare& share,
                                             std::vector<std::string>& notes)>
        run;
};
using FilePlanner = std::function<FileJob(const std::string& file)>;

struct JobsReport {
    std::size_t done = 0;
    std::size_t failed = 0;
};

// jobs 0: every core. Each file is planned once on the thread that runs it, then started when
// its need fits in memoryBytes beside the files
// running, so a big one waits for memory and runs alone if it must; one that cannot fit even
// alone is given all of memoryBytes, and its work refuses it. progress: where the progress
// line goes (nullptr: none); errors: where each note and failure is reported as "FILE: message".
[[nodiscard]] JobsReport runJobs(const std::vector<std::string>& files, unsigned jobs,
                                 std::int64_t memoryBytes, const FilePlanner& plan,
                                 std::ostream* progress, std::ostream& errors);

// "12/100 files, 3.4 files/s, 26 s left" (the time left once a file is done).
[[nodiscard]] std::string progressLine(std::size_t done, std::size_t total, double elapsedSec);

} // namespace korv::cli
