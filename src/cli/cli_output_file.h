#pragma once
// The writer of one output of the tool: text gathered in pieces and written as it grows, the
// file put in place whole at the end or not at all, every failure named with the system's
// reason.

#include "cli/cli_inputs.h"
#include "output/atomic_file.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korv::cli {

// Text gathered for the writer in pieces of about this size.
inline constexpr std::size_t kWriteChunk = 1 << 16;

// --absolute-time on a file that says nothing of when it was recorded.
inline constexpr std::string_view kNoRecordingTime =
    "No recording time in the file for --absolute-time (it needs a bext chunk, a GUANO "
    "Timestamp or a LIST/INFO creation date with a time of day)";

// The output named, with the system's reason: "out/a.png: Error Writing File (No space left
// on device)".
inline std::string outputFailure(const std::string& path, FileWriteResult result, int error) {
    std::string text = path + ": " + fileWriteMessage(result).value_or(kErrorWritingFile).text;
    if (error != 0) {
        text += " (" + systemReason(error) + ")";
    }
    return text;
}

// The writer of an output: pieces gathered, then written; the file put in place at the end.
class OutputFile {
  public:
    explicit OutputFile(std::string path) : path_(std::move(path)), opened_(writer_.open(path_)) {}
    [[nodiscard]] std::optional<std::string> openFailure() const {
        if (opened_ == FileWriteResult::Written) {
            return std::nullopt;
        }
        return outputFailure(path_, opened_, writer_.systemError());
    }
    std::string& text() { return text_; }
    void maybeFlush() {
        if (text_.size() >= kWriteChunk) {
            writer_.write(std::string_view(text_));
            text_.clear();
        }
    }
    // The file's bytes as they are made; false once a write has failed.
    bool write(std::span<const std::uint8_t> bytes) {
        writeFailed_ = writeFailed_ || !writer_.write(bytes);
        return !writeFailed_;
    }
    [[nodiscard]] bool writeFailed() const { return writeFailed_; }
    [[nodiscard]] std::optional<std::string> finish(std::span<const std::uint8_t> bytes = {}) {
        writer_.write(std::string_view(text_));
        writer_.write(bytes);
        const FileWriteResult result = writer_.commit();
        if (result == FileWriteResult::Written) {
            return std::nullopt;
        }
        return outputFailure(path_, result, writer_.systemError());
    }

  private:
    std::string path_;
    WholeFileWriter writer_;
    FileWriteResult opened_;
    std::string text_;
    bool writeFailed_ = false;
};

} // namespace korv::cli
