#pragma once
// How much memory an image may take: a bound derived from what the machine has available,
// so a long analysis at a fine time scale is not refused on a machine that can hold it, and a
// size from a hostile source still fails cleanly instead of exhausting memory.

#include <cstdint>

namespace korv {

// The floor of the surface limit (256 MiB of pixels): every screen-sized picture fits under it.
inline constexpr std::int64_t MIN_SURFACE_PIXEL_LIMIT = std::int64_t{1} << 28;

// The memory the system says it can give without swapping (MemAvailable), in bytes; the free
// physical pages where that is not reported.
[[nodiscard]] std::int64_t availableMemoryBytes();

// The largest one-byte-per-pixel surface worth attempting with `availableBytes` available:
// half of it, but never less than MIN_SURFACE_PIXEL_LIMIT.
[[nodiscard]] std::int64_t surfacePixelLimit(std::int64_t availableBytes);

// For tests: a budget in place of the machine's (a negative value gives the machine's back).
void setAvailableMemoryForTesting(std::int64_t bytes);

} // namespace korv
