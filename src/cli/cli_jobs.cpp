#include "cli/cli_jobs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace korv::cli {

std::string progressLine(std::size_t done, std::size_t total, double elapsedSec) {
    std::string line = std::to_string(done) + "/" + std::to_string(total) + " files";
    if (done > 0 && elapsedSec > 0.0) {
        const double rate = static_cast<double>(done) / elapsedSec;
        char text[64];
        std::snprintf(text, sizeof text, ", %.1f files/s, %.0f s left", rate,
                      std::ceil(static_cast<double>(total - done) / rate));
        line += text;
    }
    return line;
}

namespace {

// The memory the running files hold: a file waits until its need fits beside them.
class MemoryGate {
  public:
    explicit MemoryGate(std::int64_t total) : total_(std::max<std::int64_t>(total, 0)) {}
    // The memory the file may take once it starts: all that the others leave.
    std::int64_t enter(std::int64_t need) {
        std::unique_lock lock(mutex_);
        if (need > total_) {
            need = 0; // it cannot fit even alone: its own check refuses it at once
        }
        freed_.wait(lock, [&] { return held_ + need <= total_; });
        const std::int64_t share = total_ - held_;
        held_ += need;
        return share;
    }
    void leave(std::int64_t need) {
        {
            const std::lock_guard lock(mutex_);
            held_ -= need > total_ ? 0 : need;
        }
        freed_.notify_all();
    }

  private:
    std::int64_t total_;
    std::int64_t held_ = 0;
    std::mutex mutex_;
    std::condition_variable freed_;
};

} // namespace

JobsReport runJobs(const std::vector<std::string>& files, unsigned jobs, std::int64_t memoryBytes,
                   const FilePlanner& plan, std::ostream* progress, std::ostream& errors) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto threads = static_cast<unsigned>(
        std::min<std::size_t>(jobs == 0 ? cores : jobs, std::max<std::size_t>(files.size(), 1)));
    MemoryGate memory(memoryBytes);
    std::atomic<std::size_t> next{0};
    std::mutex report;
    JobsReport result;
    const auto start = std::chrono::steady_clock::now();
    const auto worker = [&] {
        for (std::size_t i = next++; i < files.size(); i = next++) {
            std::vector<std::string> notes;
            const FileJob job = plan(files[i]);
            const std::int64_t needed = std::max<std::int64_t>(job.memoryBytes.value_or(0), 0);
            const JobShare share{memory.enter(needed), threads == 1 && cores > 1};
            const std::optional<std::string> failure = job.run(share, notes);
            memory.leave(needed);
            const std::lock_guard lock(report);
            ++result.done;
            if (failure) {
                ++result.failed;
                notes.push_back(*failure);
            }
            if (progress != nullptr && !notes.empty()) {
                *progress << "\r\033[K";
            }
            for (const std::string& note : notes) {
                errors << files[i] << ": " << note << '\n' << std::flush;
            }
            if (progress != nullptr) {
                const std::chrono::duration<double> elapsed =
                    std::chrono::steady_clock::now() - start;
                *progress << "\r\033[K" << progressLine(result.done, files.size(), elapsed.count())
                          << std::flush;
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) {
        pool.emplace_back(worker);
    }
    worker();
    for (std::thread& t : pool) {
        t.join();
    }
    if (progress != nullptr) {
        *progress << '\n' << std::flush;
    }
    return result;
}

} // namespace korv::cli
