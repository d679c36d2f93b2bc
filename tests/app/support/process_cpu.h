#pragma once
// The CPU time of this process so far: user and system, every thread.

#include <sys/resource.h>

namespace korv::test {

inline double processCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

} // namespace korv::test
