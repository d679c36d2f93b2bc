#pragma once
// The held samples of a file read as they are needed instead of all at once: any stretch in
// any order with the file kept open (what loadSegment reads a whole stretch through), and the
// windows through which the column analysis of a long file takes each column's frames, so
// memory holds a bounded window of samples, never the whole file.

#include "analysis/column_levels.h"
#include "audio/sample_encoding.h"
#include "audio/wave_header.h"
#include "base/user_message.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace korv {

class HeldSampleReader {
  public:
    HeldSampleReader();
    HeldSampleReader(HeldSampleReader&&) noexcept;
    HeldSampleReader& operator=(HeldSampleReader&&) noexcept;
    HeldSampleReader(const HeldSampleReader&) = delete;
    HeldSampleReader& operator=(const HeldSampleReader&) = delete;
    ~HeldSampleReader();

    // Opens `path` for the held stretch of `length` bytes from `start` (the data offset
    // included, as loadSegment counts). kCannotOpenFile; kErrorReadingFile when the file as it
    // is now does not hold the stretch, whatever its header declared.
    [[nodiscard]] std::optional<UserMessage> open(const std::string& path, const WaveFormat& format,
                                                  const SampleSource& source, std::int64_t start,
                                                  std::int64_t length);
    // into16.size() held bytes from held byte `start` (data offset included) and, for a
    // converted encoding, their exact values into `precise` (one per 16-bit sample). False
    // when they cannot be read.
    [[nodiscard]] bool read(std::int64_t start, std::span<std::uint8_t> into16,
                            std::span<float> precise);

  private:
    struct Open;
    std::unique_ptr<Open> open_;
};

// A segment of a file, as the column analysis reads it.
struct FileSegment {
    std::string path;
    WaveFormat format;
    SampleSource source;
    std::int64_t startByte = 0; // data offset included
    std::int64_t bytes = 0;     // held bytes
};

// The longest segment Analyze File holds in memory; a longer one is read from its file as the
// analysis, PLAY and Save Wave need it.
inline constexpr std::int64_t HELD_SEGMENT_LIMIT_BYTES = std::int64_t{256} << 20;

// The held bytes each window reads at most in one go (the exact values of wider samples take
// twice as much again).
inline constexpr std::int64_t COLUMN_WINDOW_BYTES = std::int64_t{1} << 20;
// The memory each window takes for a segment of this source.
[[nodiscard]] std::int64_t columnWindowMemory(const SampleSource& source);

// The windows of one run over a segment: each analyser (caller and worker) gets its own, each
// with the file open on its own. A read that fails anywhere is kept, so the run can say so.
class FileFrameWindows {
  public:
    // The file checked and opened once: the failure's message, or nothing.
    [[nodiscard]] std::optional<UserMessage> open(FileSegment segment, long hop);
    // What ColumnAnalysisInputs::windows takes; this object must outlive the analysers.
    [[nodiscard]] ColumnFrameWindows windows();
    [[nodiscard]] bool readFailed() const { return failed_.load(); }

  private:
    FileSegment segment_;
    long hop_ = 0;
    std::atomic<bool> failed_{false};
};

} // namespace korv
