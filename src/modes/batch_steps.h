#pragma once
// The batch as its steps see it: the record the window keeps while Analyze Batch runs, and
// what Analyze File and Save Image ask of it and tell it at each step's end.

#include "base/check_result.h"
#include "output/image_files.h"

#include <cstddef>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace korv {

class MainWindow;

inline constexpr const char* kImagesFolder = "images";

// One run of Analyze Batch: its files, its image choices and what it skipped so far.
struct Batch {
    std::vector<std::string> files;
    std::size_t next = 0;   // the file the next step analyses
    std::size_t chosen = 0; // the files the user chose, those refused at the start included
    ImageChoices choices;
    bool stepDone = false;
    std::vector<std::string> skipped; // "file: reason"
    // The high limit asked for: each file's is cut from it to half its own rate.
    std::int32_t highBandHz = 0;
    // The last image handed over, while it is encoded and written, and its wave file.
    std::future<std::optional<UserMessage>> pendingWrite;
    std::string pendingFile;
};

// The window's, kept by installBatch: the batch's commands and Save Image's steps run only
// there.
[[nodiscard]] Batch& batch(const MainWindow& window);

// The last part of a path, for the summary's lines.
[[nodiscard]] std::string fileName(const std::string& path);

// Waits for the image being written; a failed write is listed with its file.
void finishPendingWrite(Batch& b);

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
