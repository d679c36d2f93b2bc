#include "display/palette.h"
#include "output/atomic_file.h"
#include "output/export_picture.h"
#include "output/image_encoding.h"
#include "output/image_files.h"

#include "core/wave_test_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace korv {
namespace {

namespace fs = std::filesystem;

IndexedSurface patterned(int w, int h) {
    IndexedSurface s(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            s.setPixel(x, y, static_cast<std::uint8_t>((x / 8 + y / 8 * 5) % 13));
        }
    }
    return s;
}

ColourTable colours() {
    ColourTable t{};
    for (int i = 0; i < 256; ++i) {
        t[i] = {static_cast<std::uint8_t>(i * 19), static_cast<std::uint8_t>(255 - i * 7),
                static_cast<std::uint8_t>(i * 3)};
    }
    return t;
}

// A bitmap's header for a 36 x 20 picture, assembled here: "BM", the file's size, the
// pixels' offset; the 40-byte info header: width, height, one plane, the bits, no compression,
// the pixels' size field, no resolution, the colours used and important.
test::Bytes bmpHeader(std::uint32_t offset, std::uint32_t pixelBytes, std::uint16_t bits,
                      std::uint32_t sizeField, std::uint32_t colours) {
    test::Bytes h{'B', 'M'};
    for (const std::uint32_t v : {offset + pixelBytes, 0u, offset, 40u, 36u, 20u}) {
        test::putLe32(h, v);
    }
    test::putLe16(h, 1);
    test::putLe16(h, bits);
    for (const std::uint32_t v : {0u, sizeField, 0u, 0u, colours, colours}) {
        test::putLe32(h, v);
    }
    return h;
}

TEST(BitmapFile, BothLayoutsStoreTheirHeadersAndTheRowsBottomUp) {
    const IndexedSurface picture = patterned(36, 20);
    const ColourTable table = colours();

    // 24 bits: the pixels 4 bytes after the header (zeros), no size field, no colours.
    const auto b24 = encodeBmp24(picture, table);
    ASSERT_TRUE(b24);
    ASSERT_EQ(b24->size(), 58u + 36 * 20 * 3);
    test::Bytes header24 = bmpHeader(58, 36 * 20 * 3, 24, 0, 0);
    header24.resize(58, 0);
    EXPECT_EQ(test::Bytes(b24->begin(), b24->begin() + 58), header24);
    const auto b8 = encodeBmp8(picture, table);
    ASSERT_TRUE(b8);
    ASSERT_EQ(b8->size(), 1078u + 36 * 20);
    EXPECT_EQ(test::Bytes(b8->begin(), b8->begin() + 54),
              bmpHeader(1078, 36 * 20, 8, 36 * 20, 256));
    for (std::size_t i = 0; i < 256; ++i) {
        EXPECT_EQ(test::Bytes(b8->begin() + 54 + 4 * i, b8->begin() + 58 + 4 * i),
                  (test::Bytes{table[i].b, table[i].g, table[i].r, 0}));
    }
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 36; ++x) {
            const std::uint8_t index = *picture.pixel(x, 19 - y);
            EXPECT_EQ((*b8)[1078 + static_cast<std::size_t>(y) * 36 + x], index);
            const std::size_t at = 58 + (static_cast<std::size_t>(y) * 36 + x) * 3;
            EXPECT_EQ((*b24)[at], table[index].b);
            EXPECT_EQ((*b24)[at + 2], table[index].r);
        }
    }
}

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // row after row
};

// The largest difference of a decoded colour component from the picture's, through the table.
int largestColourError(const Decoded& d, const IndexedSurface& picture, const ColourTable& table) {
    int worst = 0;
    for (int y = 0; y < d.height; ++y) {
        for (int x = 0; x < d.width; ++x) {
            const Rgb want = table[picture.row(y)[static_cast<std::size_t>(x)]];
            const std::uint8_t* got = &d.rgb[(static_cast<std::size_t>(y) * d.width + x) * 3];
            worst = std::max({worst, std::abs(got[0] - want.r), std::abs(got[1] - want.g),
                              std::abs(got[2] - want.b)});
        }
    }
    return worst;
}

Decoded decodeJpeg(const std::vector<std::uint8_t>& bytes) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    cinfo.do_fancy_upsampling = FALSE; // keeps colours from bleeding over block edges
    jpeg_start_decompress(&cinfo);
    Decoded d{static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), {}};
    d.rgb.resize(static_cast<std::size_t>(d.width) * d.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = d.rgb.data() + static_cast<std::size_t>(cinfo.output_scanline) * d.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return d;
}

TEST(JpegFile, DecodesToThePictureTopRowFirstAndRefusesWhatLibjpegCannotTake) {
    // Top two thirds one colour, the rest another (on the 16-pixel blocks of the colour
    // subsampling): a flipped file shows at once.
    IndexedSurface picture(64, 48, 10);
    picture.fillRect({0, 32, 64, 16}, 200);
    const ColourTable table = colours();
    const JpegResult jpeg = encodeJpeg(picture, table, 100);
    ASSERT_TRUE(jpeg.error.empty()) << jpeg.error;
    const Decoded d = decodeJpeg(jpeg.bytes);
    ASSERT_EQ(std::pair(d.width, d.height), std::pair(64, 48));
    EXPECT_LE(largestColourError(d, picture, table), 8);
    // A lower quality gives a smaller file of the same picture; a tiny picture is kept whole
    // although its headers outweigh its pixels.
    EXPECT_LT(encodeJpeg(picture, table, 25).bytes.size(), jpeg.bytes.size());
    EXPECT_EQ(decodeJpeg(encodeJpeg(IndexedSurface(4, 1), table, 90).bytes).width, 4);

    const JpegResult tooWide = encodeJpeg(IndexedSurface(JPEG_MAX_SIDE + 4, 1), table, 90);
    EXPECT_TRUE(tooWide.bytes.empty());
    EXPECT_FALSE(tooWide.error.empty());
}

// The colours a PNG decodes to, read by libpng itself.
std::optional<Decoded> decodePng(const std::vector<std::uint8_t>& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) {
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGB;
    Decoded out{static_cast<int>(image.width), static_cast<int>(image.height), {}};
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return std::nullopt;
    }
    return out;
}

// The names of a PNG file's chunks to its end, each followed by "!" where its CRC (zlib's,
// over the name and the data) does not hold.
std::string pngChunks(const std::vector<std::uint8_t>& file) {
    const auto word = [&file](std::size_t at) {
        return (std::uint32_t{file.at(at)} << 24) | (file.at(at + 1) << 16) |
               (file.at(at + 2) << 8) | file.at(at + 3);
    };
    std::string chunks;
    for (std::size_t at = 8; at < file.size(); at += 12 + word(at)) {
        chunks.append(file.begin() + at + 4, file.begin() + at + 8);
        chunks += crc32(0, &file.at(at + 4), word(at) + 4) == word(at + 8 + word(at)) ? " " : "! ";
    }
    return chunks;
}

TEST(PngFile, DecodesToThePictureWrittenWholeOrInStripes) {
    const ColourTable table = colours();
    // One stripe; stripes of six rows and a last one of three, patterned and as noise that
    // deflates to more than it holds.
    for (const auto& [width, height, noise] :
         {std::tuple{37, 23, false}, std::tuple{600'000, 9, false}, std::tuple{600'000, 9, true}}) {
        SCOPED_TRACE(testing::Message() << width << (noise ? " noise" : ""));
        IndexedSurface picture = patterned(width, height);
        std::uint32_t state = 12345;
        for (int y = 0; noise && y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                state = state * 1664525u + 1013904223u;
                picture.setPixel(x, y, static_cast<std::uint8_t>(state >> 24));
            }
        }
        picture.setPixel(width - 1, height - 1, 200);
        const EncodedImage png = encodeImageFile(picture, table, ImageFormat::Png, 90);
        ASSERT_FALSE(png.failure);
        const std::optional<Decoded> decoded = decodePng(png.bytes);
        ASSERT_TRUE(decoded);
        ASSERT_EQ(std::pair(decoded->width, decoded->height), std::pair(width, height));
        EXPECT_EQ(largestColourError(*decoded, picture, table), 0);
        // Every chunk whole and sound, to the end.
        EXPECT_THAT(pngChunks(png.bytes), testing::MatchesRegex("IHDR PLTE (IDAT )+IEND "));
        // Written as it is made, piece by piece: the same file; a sink that fails stops it.
        std::vector<std::uint8_t> streamed;
        int pieces = 0;
        EXPECT_TRUE(writeImageFile(picture, table, ImageFormat::Png, 90, [&](auto piece) {
                        streamed.insert(streamed.end(), piece.begin(), piece.end());
                        return ++pieces > 0;
                    }) == std::nullopt);
        EXPECT_EQ(streamed, png.bytes);
        for (const int failAt : {1, std::max(1, pieces / 2), pieces}) {
            int calls = 0;
            EXPECT_FALSE(writePng8(picture, table, [&](auto) { return ++calls < failAt; }));
            EXPECT_EQ(calls, failAt);
        }
    }
    // Over a million columns, libpng's limit unless told: the width is the header chunk's first
    // field, big-endian, after the signature and the chunk's length and name.
    constexpr int kWidth = 1'000'004;
    const EncodedImage wide =
        encodeImageFile(IndexedSurface(kWidth, 1), table, ImageFormat::Png, 90);
    ASSERT_FALSE(wide.failure);
    ASSERT_GT(wide.bytes.size(), 20u);
    EXPECT_EQ(std::string(wide.bytes.begin() + 12, wide.bytes.begin() + 16), "IHDR");
    EXPECT_EQ((wide.bytes[16] << 24) | (wide.bytes[17] << 16) | (wide.bytes[18] << 8) |
                  wide.bytes[19],
              kWidth);
}

TEST(ExportPicture, SizesBandsAndMagnification) {
    auto image = SpectralImage::create({900, 803, 100, 40, 2});
    ASSERT_TRUE(image);
    image->surface().fillRect({0, 0, 900, 100}, 20);   // right channel band
    image->surface().fillRect({0, 100, 900, 100}, 30); // left channel band
    const auto window = composeViewPicture(*image, ViewBand::Left, 50, 0, 803, 90);
    ASSERT_TRUE(window);
    EXPECT_EQ(std::pair(window->width(), window->height()), std::pair(800, 90));
    EXPECT_EQ(*window->pixel(799, 89), 30);

    const auto entire = composeEntirePicture(*image, ViewBand::Right, image->width());
    ASSERT_TRUE(entire);
    EXPECT_EQ(std::pair(entire->width(), entire->height()), std::pair(900, 100)); // one band
    EXPECT_EQ(composeEntirePicture(*image, ViewBand::Right, 850)->width(), 848);
    // (Its band's content, the right channel's, is the window's Save Entire Image test's.)
    EXPECT_EQ(*entire->pixel(5, 40), kSignal2Index);
    EXPECT_EQ(*entire->pixel(5, 20), kSignal1Index);

    // Dual: the left channel in the left pane, the right channel in the right one.
    const auto dual = composeViewPicture(*image, ViewBand::Dual, 0, 0, 800, 100);
    ASSERT_TRUE(dual);
    EXPECT_EQ(*dual->pixel(10, 90), 30);
    EXPECT_EQ(*dual->pixel(398, 90), kBackgroundIndex);
    EXPECT_EQ(*dual->pixel(790, 90), 20);

    IndexedSurface small = patterned(400, 300);
    const auto big = scaleForExport(small, 200);
    ASSERT_TRUE(big);
    EXPECT_EQ(std::pair(big->width(), big->height()), std::pair(800, 600));
    EXPECT_EQ(*big->pixel(799, 599), *small.pixel(399, 299));
    EXPECT_EQ(scaleForExport(small, 100)->width(), 400);
}

TEST(ExportPicture, PrintoutIsFramedAndCentredAtNinetyPercent) {
    IndexedSurface picture(800, 500, 50);
    drawFrame(picture, 7);
    for (const PixelPoint p : {PixelPoint{0, 0}, PixelPoint{799, 0}, PixelPoint{799, 499},
                               PixelPoint{0, 499}, PixelPoint{400, 0}, PixelPoint{0, 250}}) {
        EXPECT_EQ(*picture.pixel(p.x, p.y), 7) << p.x << "," << p.y;
    }
    EXPECT_EQ(*picture.pixel(1, 1), 50);
    // 600 dpi over 96 dpi is 5.625 with the 90 per cent.
    EXPECT_EQ(printPlacement(800, 500, 96, 96, 600, 600, 5000, 6000),
              (PixelRect{2500 - 2250, 3000 - 1406, 4500, 2812}));
    // Too wide for the page: fitted to its width, proportions kept.
    EXPECT_EQ(printPlacement(800, 500, 96, 96, 600, 600, 2250, 6000),
              (PixelRect{0, 3000 - 703, 2250, 1406}));
}

TEST(AtomicFile, ReplacesWholeOrLeavesTheOldFile) {
    const test::TempFolder temp;
    const fs::path dir = temp.folder();
    const std::string target = temp.file("picture.bmp");
    const std::vector<std::uint8_t> old(100, 1);
    ASSERT_EQ(writeFileWhole(target, old), FileWriteResult::Written);
    const auto contents = [&] { return test::readFile(target); };
    EXPECT_EQ(contents(), old);

    // A disk that fills up during the write.
    EXPECT_EQ(
        test::underFileSizeLimit(
            4096, [&] { return writeFileWhole(target, std::vector<std::uint8_t>(100000, 2)); }),
        FileWriteResult::WriteFailed);
    EXPECT_EQ(contents(), old);
    const auto entries = [&] {
        return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    };
    EXPECT_EQ(entries(), 1);

    WholeFileWriter missing;
    EXPECT_EQ(missing.open((dir / "missing" / "x.bmp").string()), FileWriteResult::CannotCreate);
    EXPECT_EQ(missing.systemError(), ENOENT); // the reason, for the tool to name

    // Two writers of one target at once (a file listed twice): each its own temporary file,
    // nothing named beside the target until the end, the last one in place.
    WholeFileWriter first;
    WholeFileWriter second;
    ASSERT_EQ(first.open(target), FileWriteResult::Written);
    ASSERT_EQ(second.open(target), FileWriteResult::Written);
    first.write(std::vector<std::uint8_t>(50, 3));
    second.write(std::vector<std::uint8_t>(60, 4));
    EXPECT_EQ(entries(), 1); // unnamed: even kill -9 would leave nothing
    EXPECT_EQ(first.commit(), FileWriteResult::Written);
    EXPECT_EQ(second.commit(), FileWriteResult::Written);
    EXPECT_EQ(contents(), std::vector<std::uint8_t>(60, 4));
    EXPECT_EQ(entries(), 1);

    // A named temporary file (file systems without unnamed ones) is removed when the process
    // is ended by a signal in the middle of the write.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            WholeFileWriter named;
            if (named.open(target, TemporaryFile::Named) == FileWriteResult::Written &&
                named.write(std::vector<std::uint8_t>(70, 5))) {
                ::raise(signal);
            }
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_EQ(contents(), std::vector<std::uint8_t>(60, 4));
        EXPECT_EQ(entries(), 1) << signal;
    }
}

} // namespace
} // namespace korv
