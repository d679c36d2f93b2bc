#include "cli/cli_jobs.h"

#include "display/memory_budget.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
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

JobsReport runJobs(const std::vector<std::string>& files, unsigned jobs, const FileWork& work,
                   std::ostream* progress, std::ostream& errors) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto threads = static_cast<unsigned>(
        std::min<std::size_t>(jobs == 0 ? cores : jobs, std::max<std::size_t>(files.size(), 1)));
    // Each job may take its share of what the machine has now; a file that needs more is
    // refused in the program's words instead of pushing the machine into swap.
    const std::int64_t memoryPerJob = availableMemoryBytes() / threads;
    std::atomic<std::size_t> next{0};
    std::mutex report;
    JobsReport result;
    const auto start = std::chrono::steady_clock::now();
    const auto worker = [&] {
        for (std::size_t i = next++; i < files.size(); i = next++) {
            std::vector<std::string> notes;
            const std::optional<std::string> failure = work(files[i], memoryPerJob, notes);
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
