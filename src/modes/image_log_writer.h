#pragma once
// The spectral image log as the column loop writes it (Log Data opens it, the analysis pass
// fills it), and the two helpers the logs share.

#include "output/data_log.h"

#include <span>
#include <string>

namespace korv {

struct AppState;
struct AppSettings;
class LogFile;

// Whether a stereo view shows the right channel alone.
[[nodiscard]] bool stereoRight(const AppSettings& st);

// Closes a finished log; a write error is reported.
void finishLog(LogFile& file);

// The spectral image log while the column loop writes it; does nothing without an open log.
// Ends the log when destroyed (the run ended or was stopped): the file is closed, and a write
// error is reported once, the rows before it kept.
class ImageLogWriter {
  public:
    explicit ImageLogWriter(AppState& state);
    ~ImageLogWriter();
    ImageLogWriter(const ImageLogWriter&) = delete;
    ImageLogWriter& operator=(const ImageLogWriter&) = delete;

    [[nodiscard]] bool active() const;
    // The channel whose levels the log takes.
    [[nodiscard]] int channel() const { return channel_; }
    // Column x from its averaged bin levels (bin k at index k).
    void column(long x, std::span<const float> averagedBins);

  private:
    void end();

    AppState& state_;
    ImageLogFormat format_;
    int channel_ = 0;
    std::string block_;
};

} // namespace korv
