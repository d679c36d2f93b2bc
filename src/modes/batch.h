#pragma once
// Analyze Batch (40064): several wave files analysed one after the other with the parameters
// in force, each saved as an image in an "images" folder beside them. Each file is a posted
// Analyze File step that ends in Save Image, so a batch of any length keeps the stack flat.
// A file that fails is skipped; the reasons are shown together at the end.

#include "base/check_result.h"
#include "output/image_files.h"

#include <optional>
#include <string>

namespace korv {

class MainWindow;

inline constexpr const char* kImagesFolder = "images";

// Registers 40064.
void installBatch(MainWindow& window);

[[nodiscard]] const ImageChoices& batchChoices(const MainWindow& window);

// The image of a batch file: its folder, "images/", its base name and the format's extension.
[[nodiscard]] std::string batchImagePath(const std::string& waveFile, ImageFormat format);

// The wave file of the current step (Analyze File takes it instead of asking).
[[nodiscard]] std::string batchFile(const MainWindow& window);

// A step's image, encoded and written by a thread of its own while the next file is analysed
// (the picture is copied first; without the memory for that, it is written at once). A write
// that fails is listed in the summary. Nothing, or why the image cannot be written.
[[nodiscard]] std::optional<UserMessage>
writeBatchImage(const MainWindow& window, const std::string& path, const PictureArea& picture);

// Save Image's end of a step whose analysis STOP cut short: its picture is not the file's
// image, so none is written, and the summary says so.
void batchImageStopped(MainWindow& window);

// Save Image's end of a step: the image written (or handed over), or why not.
void batchImageDone(MainWindow& window, const std::optional<UserMessage>& failure);

} // namespace korv
