#pragma once
// Files written whole or not at all: the bytes go to a temporary file in the target's folder,
// reach the disk, and only then replace the target. A failure anywhere removes the temporary
// file and leaves an older file of that name as it was.

#include <cstdint>
#include <span>
#include <string>

namespace korv {

enum class FileWriteResult {
    Written,
    CannotCreate, // the folder takes no new file (missing, read-only)
    WriteFailed,  // a short write, a full disk, a failed sync or rename
};

[[nodiscard]] FileWriteResult writeFileWhole(const std::string& path,
                                             std::span<const std::uint8_t> bytes);

} // namespace korv
