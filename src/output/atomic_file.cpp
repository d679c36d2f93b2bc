#include "output/atomic_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace korv {

namespace {

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Makes the rename itself durable; a folder that cannot be synced changes nothing.
void syncFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

FileWriteResult writeFileWhole(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::string temp = path + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(temp.c_str()); // left by an earlier process that had this id
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return FileWriteResult::CannotCreate;
    }
    bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return FileWriteResult::WriteFailed;
    }
    syncFolder(path);
    return FileWriteResult::Written;
}

} // namespace korv
