#include "display/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace korv {

namespace {

std::int64_t testingBudget = -1;

// "MemAvailable:   123456 kB" from /proc/meminfo; -1 where there is no such line.
std::int64_t memAvailableFromProc() {
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (file == nullptr) {
        return -1;
    }
    std::int64_t bytes = -1;
    std::array<char, 256> line{};
    while (std::fgets(line.data(), static_cast<int>(line.size()), file) != nullptr) {
        constexpr const char* key = "MemAvailable:";
        if (std::strncmp(line.data(), key, std::strlen(key)) == 0) {
            const long long kb = std::strtoll(line.data() + std::strlen(key), nullptr, 10);
            if (kb > 0 && kb < (std::int64_t{1} << 50)) {
                bytes = kb * 1024;
            }
            break;
        }
    }
    std::fclose(file);
    return bytes;
}

} // namespace

std::int64_t availableMemoryBytes() {
    if (testingBudget >= 0) {
        return testingBudget;
    }
    const std::int64_t proc = memAvailableFromProc();
    if (proc >= 0) {
        return proc;
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? std::int64_t{pages} * pageSize : 0;
}

std::int64_t surfacePixelLimit(std::int64_t availableBytes) {
    return std::max(MIN_SURFACE_PIXEL_LIMIT, availableBytes / 2);
}

void setAvailableMemoryForTesting(std::int64_t bytes) {
    testingBudget = bytes;
}

} // namespace korv
