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
// `progress` takes how far the file's own work is (0 to 1), from any of the job threads.
using FileProgress = std::function<void(double fraction)>;
// A file's progress told as its steps go, at each tenth of a percent of them.
class ProgressSteps {
  public:
    ProgressSteps(FileProgress progress, long total)
        : progress_(std::move(progress)), total_(total) {}
    // `done` steps of the total are done.
    void at(long done) {
        if (!progress_ || total_ <= 0) {
            return;
        }
        const long permille = done * 1000 / total_;
        if (permille != shown_) {
            shown_ = permille;
            progress_(static_cast<double>(done) / static_cast<double>(total_));
        }
    }

  private:
    FileProgress progress_;
    long total_ = 0;
    long shown_ = -1;
};

struct JobShare {
    std::int64_t memoryBytes = 0;
    bool twoCores = false;
    FileProgress progress; // empty when no progress is shown
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

// A file being worked on, and how far it is (0 to 1).
struct RunningFile {
    std::string name;
    double fraction = 0.0;
};
// "12/100 files, 3.4 files/s, 26 s left"; with files running, the first one's percent
// ("2/10 files, rec.wav 45 %, 1:05 left", "+1 running" for each more), and the time left from
// the work done so far, the running files' shares counted.
[[nodiscard]] std::string progressLine(std::size_t done, std::size_t total, double elapsedSec,
                                       const std::vector<RunningFile>& running = {});
// A time left as "26 s", "4:05" or "1:02:05".
[[nodiscard]] std::string timeLeftText(double seconds);

} // namespace korv::cli
