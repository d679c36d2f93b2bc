#include "modes/image_log_writer.h"

#include "app/app_state.h"
#include "base/user_message.h"
#include "output/log_file.h"
#include "platform/prompts.h"

#include <memory>

namespace korv {

bool stereoRight(const AppSettings& st) {
    return st.stereo && st.channel == StereoChannel::Right;
}

void finishLog(LogFile& file) {
    if (!file.close()) {
        prompts().show(kErrorWritingFile);
    }
}

ImageLogWriter::ImageLogWriter(AppState& state)
    : state_(state), format_(state.logs.imageLogSource),
      channel_(stereoRight(state.settings) ? 1 : 0) {}

ImageLogWriter::~ImageLogWriter() {
    end();
}

bool ImageLogWriter::active() const {
    return state_.logs.imageLog != nullptr;
}

void ImageLogWriter::column(long x, std::span<const float> averagedBins) {
    AppState& s = state_;
    if (!s.logs.imageLog) {
        return;
    }
    block_.clear();
    format_.appendColumn(block_, x, averagedBins);
    if (!s.logs.imageLog->write(block_)) {
        // The disk is full or gone: the log ends here, the analysis goes on.
        end();
    }
}

void ImageLogWriter::end() {
    AppState& s = state_;
    if (s.logs.imageLog) {
        std::unique_ptr<LogFile> file = std::move(s.logs.imageLog);
        finishLog(*file);
    }
}

} // namespace korv
