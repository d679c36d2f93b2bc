#pragma once
// Files written whole or not at all: the bytes go to a temporary file in the target's folder,
// reach the disk, and only then replace the target. A failure anywhere removes the temporary
// file and leaves an older file of that name as it was.
//
// The temporary file has no name where the system allows it (O_TMPFILE), so even a killed
// process leaves nothing behind; it gets one only for the moment before it replaces the
// target. Where the folder's file system has no unnamed files, a named one is used, unique to
// its writer, and removed when the process is ended by SIGINT, SIGTERM or SIGHUP.

#include "base/user_message.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korv {

enum class FileWriteResult {
    Written,
    CannotCreate, // the folder takes no new file (missing, read-only)
    WriteFailed,  // a short write, a full disk, a failed sync or rename
};

[[nodiscard]] FileWriteResult writeFileWhole(const std::string& path,
                                             std::span<const std::uint8_t> bytes);

// The same written in pieces, for a file too large to build in memory first: the pieces go to
// the temporary file and commit() puts it in place; without commit() (or after a failed
// write) the temporary file is removed and the target left as it was.
enum class TemporaryFile {
    Unnamed, // where the folder's file system has them, else Named
    Named,
};

class WholeFileWriter {
  public:
    // CannotCreate when the temporary file cannot be made.
    [[nodiscard]] FileWriteResult open(const std::string& path,
                                       TemporaryFile kind = TemporaryFile::Unnamed);
    // False once a write has failed.
    bool write(std::span<const std::uint8_t> bytes);
    bool write(std::string_view text) {
        return write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    [[nodiscard]] FileWriteResult commit();
    // The system's reason (errno) for the first failure of open, write or commit; 0 if none.
    [[nodiscard]] int systemError() const { return error_; }
    WholeFileWriter() = default;
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

  private:
    void fail(int error);
    [[nodiscard]] bool nameTemporary();
    void discard();
    std::string path_;
    std::string temp_; // the named temporary file, when there is one
    int fd_ = -1;
    int error_ = 0;
    bool failed_ = false;
};

// The failures in the program's words ("Cannot Open File", "Error Writing File").
[[nodiscard]] std::optional<UserMessage> fileWriteMessage(FileWriteResult result);

// A failure with the file named and the system's reason (errno `error`, 0 for none):
// "/data/images/a.bmp: Cannot Open File (Permission denied)".
[[nodiscard]] std::optional<UserMessage> fileWriteFailure(const std::string& path,
                                                          FileWriteResult result, int error);

// writeFileWhole, its failure said as fileWriteFailure says it.
[[nodiscard]] std::optional<UserMessage> writeFileWholeOrSay(const std::string& path,
                                                             std::span<const std::uint8_t> bytes);

} // namespace korv
