#include "cli/cli_inputs.h"

#include "audio/wave_file.h"
#include "base/posix_file.h"
#include "base/user_message.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace korv::cli {

namespace {

std::string cannotOpen(int error) {
    return kCannotOpenFile.text + " (" + systemReason(error) + ")";
}

} // namespace

NamedFileBytes readNamedFile(const std::string& path, std::size_t limit, bool regularOnly) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {std::nullopt, cannotOpen(errno)};
    }
    NamedFileBytes result;
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || flags < 0) {
        result.error = cannotOpen(errno);
    } else if (S_ISDIR(info.st_mode)) {
        result.error = cannotOpen(EISDIR);
    } else if (regularOnly && !S_ISREG(info.st_mode)) {
        result.error = kCannotOpenFile.text + " (not a regular file)";
    } else if (::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        result.error = cannotOpen(errno);
    } else {
        std::string bytes(limit + 1, '\0');
        errno = 0;
        const std::size_t got =
            readFully(fd, std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
        if (got < bytes.size() && errno != 0) {
            result.error = cannotOpen(errno);
        } else {
            bytes.resize(got);
            result.bytes = std::move(bytes);
        }
    }
    ::close(fd);
    return result;
}

namespace {

// The lines of a list as its bytes come.
class NameLines {
  public:
    explicit NameLines(std::vector<std::string>& files) : files_(files) {}
    // False at a line too long to be a file name.
    bool add(std::string_view bytes) {
        for (const char c : bytes) {
            if (c == '\n') {
                take();
            } else if (line_.size() == kMaxNameLineBytes) {
                return false;
            } else {
                line_ += c;
            }
        }
        return true;
    }
    void finish() { take(); }

  private:
    void take() {
        if (!line_.empty() && line_.back() == '\r') {
            line_.pop_back();
        }
        if (!line_.empty()) {
            files_.push_back(line_);
        }
        line_.clear();
    }
    std::vector<std::string>& files_;
    std::string line_;
};

bool addNameLinesOf(int fd, std::vector<std::string>& files, std::string& error) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = cannotOpen(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = cannotOpen(EISDIR);
        return false;
    }
    NameLines lines(files);
    std::string block(1 << 16, '\0');
    for (;;) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = kErrorReadingFile.text + " (" + systemReason(errno) + ")";
            return false;
        }
        if (got == 0) {
            lines.finish();
            return true;
        }
        if (!lines.add(std::string_view(block.data(), static_cast<std::size_t>(got)))) {
            error = "a line longer than " + std::to_string(kMaxNameLineBytes) +
                    " bytes: not a list of file names";
            return false;
        }
    }
}

} // namespace

bool addNameList(const std::string& path, std::vector<std::string>& files, std::string& error) {
    if (path == "-") {
        return addNameLinesOf(STDIN_FILENO, files, error);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = cannotOpen(errno);
        return false;
    }
    const bool added = addNameLinesOf(fd, files, error);
    ::close(fd);
    return added;
}

} // namespace korv::cli
