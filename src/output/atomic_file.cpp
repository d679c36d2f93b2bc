#include "output/atomic_file.h"

#include "audio/wave_io.h"

#include <fcntl.h>
#include <unistd.h>

namespace korv {

namespace {

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

FileWriteResult WholeFileWriter::open(const std::string& path) {
    discard();
    path_ = path;
    temp_ = path + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(temp_.c_str()); // left by an earlier process that had this id
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    failed_ = false;
    if (fd_ < 0) {
        temp_.clear();
        return FileWriteResult::CannotCreate;
    }
    return FileWriteResult::Written;
}

bool WholeFileWriter::write(std::span<const std::uint8_t> bytes) {
    failed_ = failed_ || fd_ < 0 || writeFully(fd_, bytes) != bytes.size();
    return !failed_;
}

FileWriteResult WholeFileWriter::commit() {
    if (fd_ < 0) {
        return FileWriteResult::CannotCreate;
    }
    bool written = !failed_ && ::fsync(fd_) == 0;
    written = ::close(fd_) == 0 && written;
    fd_ = -1;
    if (!written || ::rename(temp_.c_str(), path_.c_str()) != 0) {
        discard();
        return FileWriteResult::WriteFailed;
    }
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

std::optional<UserMessage> writeFileWholeOrSay(const std::string& path,
                                               std::span<const std::uint8_t> bytes) {
    return fileWriteMessage(writeFileWhole(path, bytes));
}

} // namespace korv
