#include "output/log_file.h"

#include <cerrno>
#include <unistd.h>

namespace korv {

namespace {

// Large enough that the disk sees few writes, small enough to stay unnoticed in memory.
constexpr std::size_t kFlushBytes = 256 * 1024;

} // namespace

LogFile::~LogFile() {
    close();
}

bool LogFile::create(const std::string& path) {
    close();
    failed_ = false;
    file_ = std::fopen(path.c_str(), "wb");
    return file_ != nullptr;
}

bool LogFile::openExisting(const std::string& path) {
    close();
    failed_ = false;
    file_ = std::fopen(path.c_str(), "r+b");
    if (file_ != nullptr && std::fseek(file_, 0, SEEK_END) != 0) {
        std::fclose(file_);
        file_ = nullptr;
    }
    return file_ != nullptr;
}

bool LogFile::write(std::string_view text) {
    if (file_ == nullptr || failed_) {
        return false;
    }
    pending_.append(text);
    return pending_.size() < kFlushBytes || flush();
}

bool LogFile::flush() {
    if (file_ == nullptr || failed_) {
        return false;
    }
    if (!pending_.empty() &&
        std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size()) {
        failed_ = true;
    }
    pending_.clear();
    if (std::fflush(file_) != 0) {
        failed_ = true;
    }
    return !failed_;
}

bool LogFile::sync() {
    if (!flush()) {
        return false;
    }
    // A file that cannot be synced at all (a pipe, /dev/null) has nothing to lose.
    if (::fdatasync(::fileno(file_)) != 0 && errno != EINVAL && errno != EROFS) {
        failed_ = true;
    }
    return !failed_;
}

bool LogFile::close() {
    if (file_ == nullptr) {
        return !failed_;
    }
    flush();
    if (std::fclose(file_) != 0) {
        failed_ = true;
    }
    file_ = nullptr;
    pending_.clear();
    pending_.shrink_to_fit();
    return !failed_;
}

} // namespace korv
