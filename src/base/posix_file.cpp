#include "base/posix_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace korv {

std::string systemReason(int error) {
    return std::error_code(error, std::generic_category()).message();
}

namespace {

// O_NONBLOCK keeps a FIFO from hanging the open; the transfers themselves block as usual.
int openBlocking(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        return -1;
    }
    const int current = ::fcntl(fd, F_GETFL);
    if (current < 0 || ::fcntl(fd, F_SETFL, current & ~O_NONBLOCK) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

PosixFile PosixFile::openForReading(const std::string& path) {
    const int fd = openBlocking(path, O_RDONLY);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        return PosixFile(-1);
    }
    return PosixFile(fd);
}

PosixFile PosixFile::createForWriting(const std::string& path) {
    return PosixFile(openBlocking(path, O_WRONLY | O_CREAT | O_TRUNC));
}

PosixFile::PosixFile(PosixFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

PosixFile::~PosixFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::int64_t PosixFile::size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

namespace {

// Repeats a partial read or write until `size` bytes are done, the call fails (an interrupted
// call is repeated) or it does nothing more (the end of the file, a full disk).
template <typename Transfer> std::size_t transferAll(int fd, std::size_t size, Transfer transfer) {
    std::size_t done = 0;
    while (fd >= 0 && done < size) {
        const ssize_t moved = transfer(done);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved <= 0) {
            break;
        }
        done += static_cast<std::size_t>(moved);
    }
    return done;
}

off_t offsetAfter(std::int64_t offset, std::size_t done) {
    return static_cast<off_t>(offset + static_cast<std::int64_t>(done));
}

} // namespace

std::size_t readFully(int fd, std::span<std::uint8_t> into) {
    return transferAll(fd, into.size(), [&](std::size_t done) {
        return ::read(fd, into.data() + done, into.size() - done);
    });
}

std::size_t writeFully(int fd, std::span<const std::uint8_t> bytes) {
    return transferAll(fd, bytes.size(), [&](std::size_t done) {
        return ::write(fd, bytes.data() + done, bytes.size() - done);
    });
}

std::size_t PosixFile::readAt(std::int64_t offset, std::span<std::uint8_t> into) const {
    return transferAll(fd_, into.size(), [&](std::size_t done) {
        return ::pread(fd_, into.data() + done, into.size() - done, offsetAfter(offset, done));
    });
}

std::size_t PosixFile::write(std::span<const std::uint8_t> bytes) const {
    return writeFully(fd_, bytes);
}

std::size_t PosixFile::writeAt(std::int64_t offset, std::span<const std::uint8_t> bytes) const {
    return transferAll(fd_, bytes.size(), [&](std::size_t done) {
        return ::pwrite(fd_, bytes.data() + done, bytes.size() - done, offsetAfter(offset, done));
    });
}

bool PosixFile::syncData() const {
    if (fd_ < 0) {
        return false;
    }
    int result = 0;
    do {
        result = ::fdatasync(fd_);
    } while (result != 0 && errno == EINTR);
    return result == 0 || errno == EINVAL || errno == EROFS;
}

bool PosixFile::truncate(std::int64_t size) const {
    return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0 &&
           ::lseek(fd_, static_cast<off_t>(size), SEEK_SET) == static_cast<off_t>(size);
}

} // namespace korv
