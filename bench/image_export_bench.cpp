// Entire Image of the 10-minute analysis: the whole spectral image (150 335 columns, 500 rows
// under a 90-row strip, one band) composed, encoded and written whole through the temporary
// file, as a bitmap and as JPEG. The picture is filled with a pattern of palette indices; what
// is measured does not depend on the levels. Peak memory is printed beside its budget: the
// image + the file block + 32 MiB.

#include "display/palette.h"
#include "display/spectral_image.h"
#include "output/atomic_file.h"
#include "output/export_picture.h"
#include "output/image_files.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

using namespace korv;

namespace {

constexpr long kColumns = 150335; // 10 minutes at 4.0 msec a column
constexpr int kPlotHeight = 590;
constexpr int kStripHeight = 90;

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

std::optional<SpectralImage>& image() {
    static std::optional<SpectralImage> held = [] {
        auto made = SpectralImage::create({kColumns, 1920, kPlotHeight, kStripHeight, 1});
        if (made) {
            for (int y = kStripHeight + 1; y < kPlotHeight; ++y) {
                for (int x = 0; x < made->width(); x += 1) {
                    made->surface().setPixel(x, y,
                                             static_cast<std::uint8_t>(5 + (x / 7 + y) % 231));
                }
            }
        }
        return made;
    }();
    return held;
}

ColourTable table() {
    ColourTable t{};
    for (int i = 0; i < 256; ++i) {
        t[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                static_cast<std::uint8_t>(i / 2)};
    }
    return t;
}

void BM_EntireImageBitmap(benchmark::State& state) {
    if (!image()) {
        state.SkipWithError("no memory for the image");
        return;
    }
    const std::string path = "/tmp/korv_entire_" + std::to_string(::getpid()) + ".bmp";
    double fileBytes = 0;
    for (auto _ : state) {
        // As Save Image does without the grid: the band encoded where it is.
        const PictureArea band(image()->surface(),
                               {0, 0, exportWidth(image()->width()), image()->plotHeight()});
        auto file = encodeBmp8(band, table());
        fileBytes = static_cast<double>(file->size());
        if (writeFileWhole(path, *file) != FileWriteResult::Written) {
            state.SkipWithError("write failed");
        }
    }
    std::remove(path.c_str());
    const double imageBytes = static_cast<double>(image()->width()) * image()->height();
    state.counters["file_MiB"] = fileBytes / (1024.0 * 1024.0);
    state.counters["peak_MiB"] = peakMiB();
    state.counters["budget_MiB"] = (imageBytes + fileBytes) / (1024.0 * 1024.0) + 32.0;
}
BENCHMARK(BM_EntireImageBitmap)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_EntireImageJpeg(benchmark::State& state) {
    if (!image()) {
        state.SkipWithError("no memory for the image");
        return;
    }
    const std::string path = "/tmp/korv_entire_" + std::to_string(::getpid()) + ".jpg";
    // JPEG takes at most 65 500 columns: the first 65 500 of the image (3.5 minutes).
    for (auto _ : state) {
        const PictureArea band(image()->surface(),
                               {0, 0, exportWidth(JPEG_MAX_SIDE), image()->plotHeight()});
        const JpegResult jpeg = encodeJpeg(band, table(), JPEG_DEFAULT_QUALITY);
        if (!jpeg.error.empty() || writeFileWhole(path, jpeg.bytes) != FileWriteResult::Written) {
            state.SkipWithError("JPEG failed");
        }
    }
    std::remove(path.c_str());
    state.counters["peak_MiB"] = peakMiB();
}
BENCHMARK(BM_EntireImageJpeg)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
