#include "output/image_encoding.h"

namespace korv {

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

// In the order the tool lists them; the dialog shows those with a button in the order of
// their ids.
constexpr ImageFormatInfo IMAGE_FORMATS[] = {
    {ImageFormat::Png, "png", ".png", IMAGE_FORMAT_PNG, "png", "Save PNG Image File",
     "PNG Files (*.png);;All Files (*)", pngFile, writePng8},
    {ImageFormat::Bitmap, "bmp", ".bmp", IMAGE_FORMAT_BITMAP, "bitmap", "Save Bitmap",
     "Bitmap Files (*.bmp);;All Files (*)", bitmapFile, nullptr},
    {ImageFormat::Jpeg, "jpg", ".jpg", IMAGE_FORMAT_JPEG, "jpeg", "Save JPEG Image File",
     "JPEG Files (*.jpg);;All Files (*)", jpegFile, nullptr},
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

std::optional<UserMessage> writeImageFile(const PictureArea& picture, const ColourTable& colours,
                                          ImageFormat format, int jpegQuality,
                                          const ByteSink& sink) {
    const ImageFormatInfo& info = imageFormatInfo(format);
    if (info.stream != nullptr) {
        if (info.stream(picture, colours, sink)) {
            return std::nullopt;
        }
        return kNotEnoughMemoryForBitmap;
    }
    EncodedImage encoded = info.encode(picture, colours, jpegQuality);
    if (encoded.failure) {
        return encoded.failure;
    }
    if (!sink(encoded.bytes)) {
        return kNotEnoughMemoryForBitmap;
    }
    return std::nullopt;
}

} // namespace korv
