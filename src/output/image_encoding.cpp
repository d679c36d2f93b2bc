#include "output/image_encoding.h"

#include <png.h>

#include <csetjmp>
#include <new>

namespace korv {

namespace {

// libpng's output collected in memory; a failed allocation ends the write by libpng's error.
struct PngSink {
    std::vector<std::uint8_t> bytes;
};

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    try {
        sink->bytes.insert(sink->bytes.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void pngFlush(png_structp) {}

// libpng's messages are not the program's: a failure is reported by the caller.
void pngWarning(png_structp, png_const_charp) {}

// The part that may longjmp back: nothing with a destructor lives in this frame.
bool writePng(png_structp png, png_infop info, const PictureArea& picture,
              const ColourTable& colours, PngSink& sink) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_write_fn(png, &sink, pngWrite, pngFlush);
    // Over a million columns is an hour of a long recording at 4 msec a column.
    png_set_user_limits(png, PNG_MAX_SIDE, PNG_MAX_SIDE);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width()),
                 static_cast<png_uint_32>(picture.height()), 8, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color palette[256];
    for (std::size_t i = 0; i < colours.size(); ++i) {
        palette[i] = {colours[i].r, colours[i].g, colours[i].b};
    }
    png_set_PLTE(png, info, palette, static_cast<int>(colours.size()));
    // Palette pictures gain little from the row filters; a light deflate keeps the file
    // small at a fraction of the default level's time.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    for (int y = 0; y < picture.height(); ++y) {
        // libpng takes a non-const row but only reads it.
        png_write_row(png, const_cast<png_bytep>(picture.row(y).data()));
    }
    png_write_end(png, info);
    return true;
}

} // namespace

std::optional<std::vector<std::uint8_t>> encodePng8(const PictureArea& picture,
                                                    const ColourTable& colours) {
    if (picture.width() < 1 || picture.height() < 1) {
        return std::nullopt;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, pngWarning);
    if (png == nullptr) {
        return std::nullopt;
    }
    png_infop info = png_create_info_struct(png);
    PngSink sink;
    const bool ok = info != nullptr && writePng(png, info, picture, colours, sink);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (!ok) {
        return std::nullopt;
    }
    return std::move(sink.bytes);
}

namespace {

EncodedImage encodedOrFailure(std::optional<std::vector<std::uint8_t>> bytes) {
    EncodedImage out;
    if (!bytes) {
        out.failure = kNotEnoughMemoryForBitmap;
        return out;
    }
    out.bytes = std::move(*bytes);
    return out;
}

// The pictures are palette indices, so bitmap and PNG keep them with their colour table: a
// quarter of the 24-bit file and exact colours.
EncodedImage bitmapFile(const PictureArea& picture, const ColourTable& colours, int) {
    return encodedOrFailure(encodeBmp8(picture, colours));
}

EncodedImage pngFile(const PictureArea& picture, const ColourTable& colours, int) {
    return encodedOrFailure(encodePng8(picture, colours));
}

EncodedImage jpegFile(const PictureArea& picture, const ColourTable& colours, int quality) {
    EncodedImage out;
    if (picture.width() > JPEG_MAX_SIDE || picture.height() > JPEG_MAX_SIDE) {
        out.failure = kImageTooLargeForJpeg;
        return out;
    }
    JpegResult jpeg = encodeJpeg(picture, colours, quality);
    if (!jpeg.error.empty()) {
        out.failure = UserMessage{kJpegFailed.text + ": " + jpeg.error, kJpegFailed.icon};
    }
    out.bytes = std::move(jpeg.bytes);
    return out;
}

// In the order the tool lists them; the dialog shows those with a button in this order.
constexpr ImageFormatInfo IMAGE_FORMATS[] = {
    {ImageFormat::Png, "png", ".png", 0, "", "", "", pngFile},
    {ImageFormat::Bitmap, "bmp", ".bmp", IMAGE_FORMAT_BITMAP, "bitmap", "Save Bitmap",
     "Bitmap Files (*.bmp);;All Files (*)", bitmapFile},
    {ImageFormat::Jpeg, "jpg", ".jpg", IMAGE_FORMAT_JPEG, "jpeg", "Save JPEG Image File",
     "JPEG Files (*.jpg);;All Files (*)", jpegFile},
};

} // namespace

std::span<const ImageFormatInfo> imageFormats() {
    return IMAGE_FORMATS;
}

const ImageFormatInfo& imageFormatInfo(ImageFormat format) {
    for (const ImageFormatInfo& info : IMAGE_FORMATS) {
        if (info.format == format) {
            return info;
        }
    }
    return IMAGE_FORMATS[0];
}

std::optional<ImageFormat> imageFormatNamed(std::string_view name) {
    for (const ImageFormatInfo& info : IMAGE_FORMATS) {
        if (info.name == name) {
            return info.format;
        }
    }
    return std::nullopt;
}

std::optional<ImageFormat> imageFormatOfButton(int buttonId) {
    for (const ImageFormatInfo& info : IMAGE_FORMATS) {
        if (info.buttonId != 0 && info.buttonId == buttonId) {
            return info.format;
        }
    }
    return std::nullopt;
}

EncodedImage encodeImageFile(const PictureArea& picture, const ColourTable& colours,
                             ImageFormat format, int jpegQuality) {
    return imageFormatInfo(format).encode(picture, colours, jpegQuality);
}

} // namespace korv
