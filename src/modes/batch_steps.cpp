#include "modes/batch_steps.h"

#include "app/app_state.h"
#include "app/main_window.h"
#include "modes/image_writing.h"
#include "output/image_encoding.h"
#include "platform/prompts.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace korv {

namespace {

inline const UserMessage kStoppedBeforeTheEnd{"Stopped before the end of the file: no image saved",
                                              MessageIcon::Warning};

} // namespace

Batch& batch(const MainWindow& window) {
    return *window.part<Batch>();
}

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

void finishPendingWrite(Batch& b) {
    if (!b.pendingWrite.valid()) {
        return;
    }
    if (const std::optional<UserMessage> failure = b.pendingWrite.get()) {
        b.skipped.push_back(fileName(b.pendingFile) + ": " + failure->text);
    }
}

const ImageChoices& batchChoices(const MainWindow& window) {
    return batch(window).choices;
}

std::string batchImagePath(const std::string& waveFile, ImageFormat format) {
    const std::filesystem::path wave(waveFile);
    std::filesystem::path image = wave.parent_path() / kImagesFolder / wave.stem();
    image += imageFormatInfo(format).extension;
    return image.string();
}

std::string batchFile(const MainWindow& window) {
    const Batch& b = batch(window);
    return b.next > 0 && b.next <= b.files.size() ? b.files[b.next - 1] : std::string{};
}

std::optional<UserMessage> writeBatchImage(const MainWindow& window, const std::string& path,
                                           const PictureArea& picture) {
    Batch& b = batch(window);
    finishPendingWrite(b);
    const ColourTable colours = displayColours(window.state().view.display);
    // The window keeps its image (and may repaint or clear it) while the copy is written.
    auto copy = IndexedSurface::create(picture.width(), picture.height());
    if (copy) {
        copy->copyFrom(picture.surface, picture.rect, {0, 0});
        try {
            b.pendingWrite = std::async(
                std::launch::async, [path, choices = b.choices, colours, owned = std::move(*copy)] {
                    return writeImageFile(path, owned, choices, colours);
                });
            b.pendingFile = batchFile(window);
            return std::nullopt;
        } catch (const std::system_error&) {
            // No thread to be had: written here instead.
        }
    }
    return writeImageFile(path, picture, b.choices, colours);
}

void batchImageStopped(MainWindow& window) {
    batchImageDone(window, kStoppedBeforeTheEnd);
}

void batchImageDone(MainWindow& window, const std::optional<UserMessage>& failure) {
    Batch& b = batch(window);
    if (failure) {
        prompts().show(*failure); // collected for the summary
        return;
    }
    b.stepDone = true;
}

} // namespace korv
