#pragma once
// A thread beside the caller's that runs one task at a time: run() hands a task over and
// returns at once, wait() returns when it is done (and throws what it threw). For work that
// splits into two parts touching nothing in common, such as a meter's bands and its broadband
// levels on a block of a long file.

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace korv::meter {

class SideThread {
  public:
    // Throws std::system_error when no thread can be had.
    SideThread();
    ~SideThread();
    SideThread(const SideThread&) = delete;
    SideThread& operator=(const SideThread&) = delete;

    // Starts `task`; the one before must have been waited for.
    void run(std::function<void()> task);
    void wait();

  private:
    void loop();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> task_;
    bool busy_ = false; // a task handed over and not yet done
    bool stop_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

} // namespace korv::meter
