#pragma once
// A plain POSIX file for every reader and writer of the core (sound files, the settings file,
// files written whole): whole-buffer reads and writes that go on after partial transfers, and
// never block on a FIFO or device at open.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace korv {

// "No space left on device": the system's words for errno value `error`.
[[nodiscard]] std::string systemReason(int error);

// All of `into` read, or all of `bytes` written, through a descriptor at its position, partial
// and interrupted calls repeated: the bytes done, fewer at the end of a file, on a full disk
// or on an error.
[[nodiscard]] std::size_t readFully(int fd, std::span<std::uint8_t> into);
[[nodiscard]] std::size_t writeFully(int fd, std::span<const std::uint8_t> bytes);

class PosixFile {
  public:
    // Only regular files are opened for reading.
    [[nodiscard]] static PosixFile openForReading(const std::string& path);
    // Creates or truncates the file.
    [[nodiscard]] static PosixFile createForWriting(const std::string& path);

    PosixFile(PosixFile&& other) noexcept;
    PosixFile& operator=(PosixFile&& other) noexcept;
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;
    ~PosixFile();

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    // -1 when unknown.
    [[nodiscard]] std::int64_t size() const;
    // Bytes read into `into` from `offset`: fewer than asked at the end of the file or on
    // an error.
    [[nodiscard]] std::size_t readAt(std::int64_t offset, std::span<std::uint8_t> into) const;
    // Bytes written: fewer than given when the device is full or fails.
    [[nodiscard]] std::size_t write(std::span<const std::uint8_t> bytes) const;
    // The same at `offset`, leaving the file position alone.
    [[nodiscard]] std::size_t writeAt(std::int64_t offset,
                                      std::span<const std::uint8_t> bytes) const;
    // Cuts the file to `size` bytes and moves the position there.
    [[nodiscard]] bool truncate(std::int64_t size) const;
    // Waits until the data written so far is on the disk (fdatasync). True also for a file
    // that cannot be synced at all (a device such as /dev/null); false when the disk failed.
    [[nodiscard]] bool syncData() const;

  private:
    explicit PosixFile(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace korv
