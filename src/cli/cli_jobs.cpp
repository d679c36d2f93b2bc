#include "cli/cli_jobs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace korv::cli {

std::string timeLeftText(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(std::max(0.0, seconds)));
    char text[64];
    if (whole < 60) {
        std::snprintf(text, sizeof text, "%lld s", whole);
    } else if (whole < 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    }
    return text;
}

std::string progressLine(std::size_t done, std::size_t total, double elapsedSec,
                         const std::vector<RunningFile>& running) {
    std::string line = std::to_string(done) + "/" + std::to_string(total) + " files";
    char text[64];
    double work = static_cast<double>(done);
    for (const RunningFile& f : running) {
        work += std::clamp(f.fraction, 0.0, 1.0);
    }
    if (!running.empty()) {
        const std::string name = std::filesystem::path(running.front().name).filename().string();
        std::snprintf(text, sizeof text, " %.0f %%",
                      std::floor(std::clamp(running.front().fraction, 0.0, 1.0) * 100.0));
        line += ", " + name + text;
        if (running.size() > 1) {
            line += " (+" + std::to_string(running.size() - 1) + " running)";
        }
    }
    if (done > 0 && elapsedSec > 0.0) {
        std::snprintf(text, sizeof text, ", %.1f files/s", static_cast<double>(done) / elapsedSec);
        line += text;
    }
    // A guess from less than a hundredth of the work would say little.
    if (work >= static_cast<double>(total) * 0.01 && work > 0.0 && elapsedSec > 0.0) {
        const double left = elapsedSec * (static_cast<double>(total) - work) / work;
        line += ", " + timeLeftText(left) + " left";
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

JobsReport runJobs(const std::vector<std::string>& names, unsigned jobs, std::int64_t memoryBytes,
                   const FilePlanner& plan, std::ostream* progress, std::ostream& errors) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto threads = static_cast<unsigned>(
        std::min<std::size_t>(jobs == 0 ? cores : jobs, std::max<std::size_t>(names.size(), 1)));
    MemoryGate memory(memoryBytes);
    std::atomic<std::size_t> next{0};
    std::mutex report;
    JobsReport result;
    // The files being worked on, by their place in the list, and how far each is.
    std::map<std::size_t, double> running;
    int shownPercent = -1;
    const auto start = std::chrono::steady_clock::now();
    auto shownAt = start;
    // With `report` held: the line again, on the terminal only.
    const auto showLine = [&] {
        const auto now = std::chrono::steady_clock::now();
        std::vector<RunningFile> files;
        for (const auto& [index, fraction] : running) {
            files.push_back({names[index], fraction});
        }
        const std::chrono::duration<double> elapsed = now - start;
        *progress << "\r\033[K" << progressLine(result.done, names.size(), elapsed.count(), files)
                  << std::flush;
        shownAt = now;
    };
    const auto advance = [&](std::size_t index, double fraction) {
        const std::lock_guard lock(report);
        running[index] = fraction;
        // A new line when the first file's percent changes, five times a second at most; and
        // twice a second while it does not, for the time left.
        const int percent = static_cast<int>(running.begin()->second * 100.0);
        const auto since = std::chrono::steady_clock::now() - shownAt;
        if ((percent != shownPercent && since >= std::chrono::milliseconds(200)) ||
            since >= std::chrono::milliseconds(500) || shownPercent < 0) {
            shownPercent = percent;
            showLine();
        }
    };
    const auto worker = [&] {
        for (std::size_t i = next++; i < names.size(); i = next++) {
            std::vector<std::string> notes;
            const FileJob job = plan(names[i]);
            const std::int64_t needed = std::max<std::int64_t>(job.memoryBytes.value_or(0), 0);
            JobShare share{memory.enter(needed), threads == 1 && cores > 1, {}};
            if (progress != nullptr) {
                share.progress = [&advance, i](double fraction) { advance(i, fraction); };
            }
            const std::optional<std::string> failure = job.run(share, notes);
            memory.leave(needed);
            const std::lock_guard lock(report);
            running.erase(i);
            ++result.done;
            if (failure) {
                ++result.failed;
                notes.push_back(*failure);
            }
            if (progress != nullptr && !notes.empty()) {
                *progress << "\r\033[K";
            }
            for (const std::string& note : notes) {
                errors << names[i] << ": " << note << '\n' << std::flush;
            }
            if (progress != nullptr) {
                showLine();
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
