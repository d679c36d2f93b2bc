#include "output/image_files.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <new>
#include <stdexcept>

#include <jpeglib.h>

#include <jerror.h>

namespace korv {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr int kColourCount = 256;

std::size_t paddedRow(int width, int bytesPerPixel) {
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel) + 3) & ~3u;
}

void put16(std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t v) {
    file[at] = static_cast<std::uint8_t>(v);
    file[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t v) {
    put16(file, at, v & 0xFFFF);
    put16(file, at + 2, v >> 16);
}

// The file and info headers; the fields the layouts share. Sizes beyond 32 bits cannot occur:
// no picture the program makes is that large (the caller's memory check comes first).
std::optional<std::vector<std::uint8_t>> bitmapFile(const PictureArea& picture,
                                                    std::uint32_t pixelOffset, int bitsPerPixel,
                                                    std::size_t rowBytes) {
    const std::size_t pixelBytes = rowBytes * static_cast<std::size_t>(picture.height());
    std::vector<std::uint8_t> file;
    try {
        file.resize(pixelOffset + pixelBytes);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, static_cast<std::uint32_t>(file.size()));
    put32(file, 10, pixelOffset);
    put32(file, kFileHeaderSize, BMP_INFO_HEADER_SIZE);
    put32(file, 18, static_cast<std::uint32_t>(picture.width()));
    put32(file, 22, static_cast<std::uint32_t>(picture.height())); // positive: bottom row first
    put16(file, 26, 1);
    put16(file, 28, static_cast<std::uint32_t>(bitsPerPixel));
    return file;
}

} // namespace

std::optional<std::vector<std::uint8_t>> encodeBmp8(const PictureArea& picture,
                                                    const ColourTable& colours) {
    const std::size_t rowBytes = paddedRow(picture.width(), 1);
    auto file = bitmapFile(picture, BMP8_PIXEL_OFFSET, 8, rowBytes);
    if (!file) {
        return std::nullopt;
    }
    put32(*file, 34,
          static_cast<std::uint32_t>(rowBytes * static_cast<std::size_t>(picture.height())));
    put32(*file, 46, kColourCount);
    put32(*file, 50, kColourCount);
    std::size_t at = kFileHeaderSize + BMP_INFO_HEADER_SIZE;
    for (const Rgb& c : colours) {
        (*file)[at] = c.b;
        (*file)[at + 1] = c.g;
        (*file)[at + 2] = c.r;
        at += 4;
    }
    for (int y = 0; y < picture.height(); ++y) {
        const auto row = picture.row(picture.height() - 1 - y);
        std::copy(row.begin(), row.end(),
                  file->begin() + static_cast<std::ptrdiff_t>(
                                      BMP8_PIXEL_OFFSET + static_cast<std::size_t>(y) * rowBytes));
    }
    return file;
}

std::optional<std::vector<std::uint8_t>> encodeBmp24(const PictureArea& picture,
                                                     const ColourTable& colours) {
    const std::size_t rowBytes = paddedRow(picture.width(), 3);
    auto file = bitmapFile(picture, BMP24_PIXEL_OFFSET, 24, rowBytes);
    if (!file) {
        return std::nullopt;
    }
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* out =
            file->data() + BMP24_PIXEL_OFFSET + static_cast<std::size_t>(y) * rowBytes;
        for (const std::uint8_t index : picture.row(picture.height() - 1 - y)) {
            const Rgb& c = colours[index];
            *out++ = c.b;
            *out++ = c.g;
            *out++ = c.r;
        }
    }
    return file;
}

namespace {

constexpr std::size_t kJpegStagingBytes = 4096;

// A destination of our own: libjpeg fills a staging buffer, which is appended to a growing
// block, so any size of output (even headers larger than the pixels) is kept whole.
struct MemoryDestination {
    jpeg_destination_mgr manager{};
    std::vector<std::uint8_t>* out = nullptr;
    JOCTET* staging = nullptr;
};

struct ErrorHandler {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    char message[JMSG_LENGTH_MAX] = {};
};

void initDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    dest->staging = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kJpegStagingBytes));
    dest->manager.next_output_byte = dest->staging;
    dest->manager.free_in_buffer = kJpegStagingBytes;
}

void append(j_compress_ptr cinfo, std::size_t count) {
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    bool grown = true;
    try {
        dest->out->insert(dest->out->end(), dest->staging, dest->staging + count);
    } catch (const std::bad_alloc&) {
        grown = false;
    }
    if (!grown) {
        // Reported through libjpeg's own error path, which ends the compression.
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    }
}

boolean emptyOutput(j_compress_ptr cinfo) {
    append(cinfo, kJpegStagingBytes);
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    dest->manager.next_output_byte = dest->staging;
    dest->manager.free_in_buffer = kJpegStagingBytes;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    append(cinfo, kJpegStagingBytes - dest->manager.free_in_buffer);
}

// libjpeg's errors come back here instead of ending the process.
[[noreturn]] void errorExit(j_common_ptr cinfo) {
    auto* handler = reinterpret_cast<ErrorHandler*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, handler->message);
    std::longjmp(handler->jump, 1);
}

void outputNothing(j_common_ptr) {}

// Only plain data lives in this frame, so the jump back from errorExit skips no destructor.
bool compress(jpeg_compress_struct& cinfo, ErrorHandler& errors, MemoryDestination& dest,
              const PictureArea& picture, const ColourTable& colours, int quality,
              std::uint8_t* rowBuffer) {
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    dest.manager.init_destination = initDestination;
    dest.manager.empty_output_buffer = emptyOutput;
    dest.manager.term_destination = termDestination;
    cinfo.dest = &dest.manager;
    cinfo.image_width = static_cast<JDIMENSION>(picture.width());
    cinfo.image_height = static_cast<JDIMENSION>(picture.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const auto row = picture.row(static_cast<int>(cinfo.next_scanline));
        std::uint8_t* out = rowBuffer;
        for (const std::uint8_t index : row) {
            const Rgb& c = colours[index];
            *out++ = c.r;
            *out++ = c.g;
            *out++ = c.b;
        }
        JSAMPROW rows[1] = {rowBuffer};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

JpegResult encodeJpeg(const PictureArea& picture, const ColourTable& colours, int quality) {
    JpegResult result;
    std::vector<std::uint8_t> rowBuffer;
    try {
        rowBuffer.resize(static_cast<std::size_t>(picture.width()) * 3 + 1);
        // Room for the file as large as the picture's 24-bit pixels, so the block is not
        // copied as it grows (only the part written is ever touched).
        result.bytes.reserve(static_cast<std::size_t>(picture.width()) *
                             static_cast<std::size_t>(picture.height()) * 3);
    } catch (const std::bad_alloc&) {
        result.error = "Not enough memory";
        return result;
    }
    jpeg_compress_struct cinfo{};
    ErrorHandler errors;
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = errorExit;
    errors.manager.output_message = outputNothing;
    MemoryDestination dest;
    dest.out = &result.bytes;
    if (!compress(cinfo, errors, dest, picture, colours,
                  std::clamp(quality, JPEG_MIN_QUALITY, JPEG_MAX_QUALITY), rowBuffer.data())) {
        result.bytes.clear();
        result.error = errors.message;
    }
    return result;
}

} // namespace korv
