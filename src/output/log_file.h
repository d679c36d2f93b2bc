#pragma once
// A data log on disk: created (or opened to be appended to) once, written in large pieces and
// flushed, so a log of any length needs little memory and a write error is known at once.
// After an error the log stops; what was written before it stays in the file.

#include <cstdio>
#include <string>
#include <string_view>

namespace korv {

class LogFile {
  public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // A new, empty file (an existing one is replaced); false when it cannot be created.
    [[nodiscard]] bool create(const std::string& path);
    // An existing file, positioned at its end; false when there is none to open.
    [[nodiscard]] bool openExisting(const std::string& path);

    // Queues text; written out once enough has gathered. False once a write has failed.
    bool write(std::string_view text);
    // Writes out what is queued. False once a write has failed.
    bool flush();
    // Writes out what is queued and waits until it is on the disk, so a power cut loses
    // nothing written before. False once a write (or the disk) has failed.
    bool sync();
    // Flushes and closes; false when any write failed.
    bool close();

    [[nodiscard]] bool isOpen() const { return file_ != nullptr; }
    [[nodiscard]] bool failed() const { return failed_; }

  private:
    std::FILE* file_ = nullptr;
    std::string pending_;
    bool failed_ = false;
};

} // namespace korv
