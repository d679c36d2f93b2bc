#include "output/atomic_file.h"

#include "base/posix_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace korv {

namespace {

// The named temporary files of this process, for the signal handler, which may neither
// allocate nor lock: a fixed table whose entries are published by an atomic state.
constexpr std::size_t kCleanupSlots = 64;
enum SlotState : int { kSlotFree, kSlotFilling, kSlotNamed };
struct CleanupSlot {
    std::atomic<int> state{kSlotFree};
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free);
CleanupSlot cleanupSlots[kCleanupSlots];

extern "C" void removeTemporaryFilesAndEnd(int signal) {
    const int saved = errno;
    for (CleanupSlot& slot : cleanupSlots) {
        if (slot.state.load() == kSlotNamed) {
            ::unlink(slot.path);
        }
    }
    errno = saved;
    // SA_RESETHAND has put the default action back: the signal ends the process as it would
    // have without this handler.
    ::raise(signal);
}

// Only where the signal would end the process anyway: a program's own handler, or a signal
// ignored (nohup), is left as it is.
void installCleanupHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0 ||
                (current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) {
                continue;
            }
            struct sigaction action {};
            action.sa_handler = removeTemporaryFilesAndEnd;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESETHAND;
            ::sigaction(signal, &action, nullptr);
        }
    });
}

// The slot holding `path`, or -1 when the table is full or the name too long (the file is
// then still removed on every other way out).
int registerTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    installCleanupHandlers();
    for (std::size_t i = 0; i < kCleanupSlots; ++i) {
        int expected = kSlotFree;
        if (cleanupSlots[i].state.compare_exchange_strong(expected, kSlotFilling)) {
            std::memcpy(cleanupSlots[i].path, path.c_str(), path.size() + 1);
            cleanupSlots[i].state.store(kSlotNamed);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void unregisterTemporary(const std::string& path) {
    for (CleanupSlot& slot : cleanupSlots) {
        if (slot.state.load() == kSlotNamed && path == slot.path) {
            slot.state.store(kSlotFree);
            return;
        }
    }
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A name no other writer of any process uses at the same time, in the target's folder: the
// target's name with a suffix, the name cut short (never inside a UTF-8 character) where the
// two would not fit in one name of the folder.
std::string temporaryName(const std::string& path) {
    static std::atomic<unsigned long> serial{0};
    const std::string suffix =
        "." + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t keep = std::min(path.size() - nameStart, NAME_MAX - suffix.size());
    while (keep > 0 && (static_cast<unsigned char>(path[nameStart + keep]) & 0xC0) == 0x80) {
        --keep;
    }
    return path.substr(0, nameStart + keep) + suffix;
}

// Makes the rename itself durable; a folder that cannot be synced changes nothing.
void syncFolder(const std::string& path) {
    const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// An unnamed file can be linked into place through /proc; without it a named file is used.
bool unnamedFilesLinkable() {
    static const bool linkable = ::access("/proc/self/fd", X_OK) == 0;
    return linkable;
}

} // namespace

FileWriteResult WholeFileWriter::open(const std::string& path, TemporaryFile kind) {
    discard();
    path_ = path;
    failed_ = false;
    error_ = 0;
    if (kind == TemporaryFile::Unnamed && unnamedFilesLinkable()) {
        fd_ = ::open(folderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            return FileWriteResult::Written;
        }
    }
    // A file system without unnamed files, or a folder that takes none: the named file says
    // which.
    temp_ = temporaryName(path);
    registerTemporary(temp_);
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        fail(errno);
        unregisterTemporary(temp_);
        temp_.clear();
        return FileWriteResult::CannotCreate;
    }
    return FileWriteResult::Written;
}

bool WholeFileWriter::write(std::span<const std::uint8_t> bytes) {
    if (!failed_ && fd_ >= 0) {
        errno = 0;
        if (writeFully(fd_, bytes) != bytes.size()) {
            fail(errno != 0 ? errno : EIO);
        }
    }
    failed_ = failed_ || fd_ < 0;
    return !failed_;
}

void WholeFileWriter::fail(int error) {
    failed_ = true;
    if (error_ == 0) {
        error_ = error;
    }
}

// The unnamed file gets its temporary name, from which it replaces the target.
bool WholeFileWriter::nameTemporary() {
    temp_ = temporaryName(path_);
    registerTemporary(temp_);
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        fail(errno);
        unregisterTemporary(temp_);
        temp_.clear();
        return false;
    }
    return true;
}

FileWriteResult WholeFileWriter::commit() {
    if (fd_ < 0) {
        return FileWriteResult::CannotCreate;
    }
    if (!failed_ && ::fsync(fd_) != 0) {
        fail(errno);
    }
    if (!failed_ && temp_.empty()) {
        (void)nameTemporary();
    }
    if (::close(fd_) != 0) {
        fail(errno);
    }
    fd_ = -1;
    if (failed_ || ::rename(temp_.c_str(), path_.c_str()) != 0) {
        if (!failed_) {
            fail(errno);
        }
        discard();
        return FileWriteResult::WriteFailed;
    }
    unregisterTemporary(temp_);
    temp_.clear();
    syncFolder(path_);
    return FileWriteResult::Written;
}

WholeFileWriter::~WholeFileWriter() {
    discard();
}

void WholeFileWriter::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        unregisterTemporary(temp_);
        temp_.clear();
    }
}

FileWriteResult writeFileWhole(const std::string& path, std::span<const std::uint8_t> bytes) {
    WholeFileWriter writer;
    if (const FileWriteResult opened = writer.open(path); opened != FileWriteResult::Written) {
        return opened;
    }
    writer.write(bytes);
    return writer.commit();
}

std::optional<UserMessage> fileWriteMessage(FileWriteResult result) {
    switch (result) {
    case FileWriteResult::Written:
        return std::nullopt;
    case FileWriteResult::CannotCreate:
        return kCannotOpenFile;
    case FileWriteResult::WriteFailed:
        break;
    }
    return kErrorWritingFile;
}

std::optional<UserMessage> fileWriteFailure(const std::string& path, FileWriteResult result,
                                            int error) {
    std::optional<UserMessage> message = fileWriteMessage(result);
    if (message) {
        message->text = path + ": " + message->text;
        if (error != 0) {
            message->text += " (" + systemReason(error) + ")";
        }
    }
    return message;
}

std::optional<UserMessage> writeFileWholeOrSay(const std::string& path,
                                               std::span<const std::uint8_t> bytes) {
    WholeFileWriter writer;
    FileWriteResult result = writer.open(path);
    if (result == FileWriteResult::Written) {
        writer.write(bytes);
        result = writer.commit();
    }
    return fileWriteFailure(path, result, writer.systemError());
}

} // namespace korv
