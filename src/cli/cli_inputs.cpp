#include "cli/cli_inputs.h"

#include "base/posix_file.h"
#include "base/user_message.h"

#include <cerrno>
#include <fcntl.h>
#include <iterator>
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

bool addNameLines(std::istream& in, std::vector<std::string>& files, std::string& error) {
    std::string line;
    const auto take = [&] {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            files.push_back(line);
        }
        line.clear();
    };
    for (auto c = std::istreambuf_iterator<char>(in); c != std::istreambuf_iterator<char>(); ++c) {
        if (*c == '\n') {
            take();
        } else if (line.size() == kMaxNameLineBytes) {
            error = "a line longer than " + std::to_string(kMaxNameLineBytes) +
                    " bytes: not a list of file names";
            return false;
        } else {
            line += *c;
        }
    }
    take();
    return true;
}

} // namespace korv::cli
