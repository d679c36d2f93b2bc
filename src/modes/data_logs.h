#pragma once
// The data logs of the Function menu: Log Data / Log Spectrum (40028) writes the spectral
// image log through a re-run of the analysis, or the spectrum on the screen; Log Points
// (40062) appends the points clicked on the image while dialog 166 is open.

#include "output/data_log.h"

#include <span>
#include <string>

namespace korv {

class MainWindow;
struct AppState;

// Registers 40028 and 40062.
void installDataLogs(MainWindow& window);

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
