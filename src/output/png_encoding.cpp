// The 8-bit palette PNG. A long recording's picture is tens of megabytes of rows, and deflating
// them took as long as analysing them; so a picture over one stripe is deflated in stripes on
// every core, each an independent deflate stream ended on a byte boundary by a sync flush and
// joined into the one zlib stream PNG asks for (as pigz does). The stripes depend on the
// picture alone: the file is the same on one core or many. A picture of one stripe is written
// by libpng row by row, as it always was.

#include "output/image_encoding.h"

#include <isa-l/igzip_lib.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <new>
#include <system_error>
#include <thread>

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

// The rows [firstRow, endRow) deflated as a part of the zlib stream, with their checksum.
struct Stripe {
    int firstRow = 0;
    int endRow = 0;
    std::vector<std::uint8_t> deflated;
    uLong chunkCrc = 0; // of its IDAT chunk: the type and the deflated bytes
    uLong adler = 0;
    uLong rawBytes = 0;
    bool ok = false;
};

const png_byte IDAT_NAME[] = "IDAT";

// The level libpng is given for a picture of one stripe: light, since palette pictures gain
// little from more.
constexpr int PNG_DEFLATE_LEVEL = 1;

// ISA-L's fastest level deflates these pictures five times as fast as zlib's and a few per
// cent smaller. A stripe ends on a byte boundary (a sync flush), the last one with the final
// block.
bool deflateRaw(std::span<std::uint8_t> raw, bool last, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> levelBuffer(ISAL_DEF_LVL1_DEFAULT);
    isal_zstream z;
    isal_deflate_init(&z);
    z.level = 1;
    z.level_buf = levelBuffer.data();
    z.level_buf_size = static_cast<std::uint32_t>(levelBuffer.size());
    z.gzip_flag = IGZIP_DEFLATE;
    z.end_of_stream = last ? 1 : 0;
    z.flush = last ? NO_FLUSH : SYNC_FLUSH;
    z.next_in = raw.data();
    z.avail_in = static_cast<std::uint32_t>(raw.size());
    out.resize(raw.size() / 2 + 1024);
    for (;;) {
        z.next_out = out.data() + z.total_out;
        z.avail_out = static_cast<std::uint32_t>(out.size() - z.total_out);
        if (isal_deflate(&z) != COMP_OK) {
            return false;
        }
        const bool done =
            z.avail_in == 0 && z.avail_out > 0 && (!last || z.internal_state.state == ZSTATE_END);
        if (done) {
            out.resize(z.total_out);
            return true;
        }
        out.resize(out.size() + out.size() / 2); // incompressible rows: room for stored blocks
    }
}

void deflateStripe(const PictureArea& picture, bool last, Stripe& stripe) {
    try {
        const std::size_t rowBytes = static_cast<std::size_t>(picture.width()) + 1;
        std::vector<std::uint8_t> raw(rowBytes *
                                      static_cast<std::size_t>(stripe.endRow - stripe.firstRow));
        for (int y = stripe.firstRow; y < stripe.endRow; ++y) {
            std::uint8_t* out =
                raw.data() + rowBytes * static_cast<std::size_t>(y - stripe.firstRow);
            out[0] = PNG_FILTER_VALUE_NONE;
            std::ranges::copy(picture.row(y), out + 1);
        }
        stripe.rawBytes = static_cast<uLong>(raw.size());
        stripe.adler = adler32_z(adler32_z(0, nullptr, 0), raw.data(), raw.size());
        stripe.ok = deflateRaw(raw, last, stripe.deflated);
        // The chunk's CRC here, on this stripe's core, rather than over the whole file after.
        stripe.chunkCrc = crc32_z(crc32_z(crc32_z(0, nullptr, 0), IDAT_NAME, 4),
                                  stripe.deflated.data(), stripe.deflated.size());
    } catch (const std::bad_alloc&) {
        stripe.ok = false;
    }
}

std::vector<Stripe> stripesOf(const PictureArea& picture) {
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width()) + 1;
    const int rowsPerStripe =
        static_cast<int>(std::max<std::size_t>(1, PNG_STRIPE_BYTES / rowBytes));
    std::vector<Stripe> stripes;
    for (int y = 0; y < picture.height(); y += rowsPerStripe) {
        Stripe& stripe = stripes.emplace_back();
        stripe.firstRow = y;
        stripe.endRow = std::min(picture.height(), y + rowsPerStripe);
    }
    return stripes;
}

// Deflates every stripe, on as many threads as there are cores and stripes; false when one
// could not be.
bool deflateStripes(const PictureArea& picture, std::vector<Stripe>& stripes) {
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < stripes.size(); i = next++) {
            deflateStripe(picture, i + 1 == stripes.size(), stripes[i]);
        }
    };
    const std::size_t helpers =
        std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), stripes.size()) -
        1;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < helpers; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // the calling thread does the rest
        }
    }
    work();
    for (std::thread& t : threads) {
        t.join();
    }
    return std::ranges::all_of(stripes, [](const Stripe& s) { return s.ok; });
}

// The zlib stream's two-byte header (32 KiB window, the fastest level) and its checksum.
constexpr std::uint8_t ZLIB_HEADER[] = {0x78, 0x01};

std::vector<std::uint8_t> checksumBytes(const std::vector<Stripe>& stripes) {
    uLong adler = stripes.front().adler;
    for (std::size_t i = 1; i < stripes.size(); ++i) {
        adler = adler32_combine(adler, stripes[i].adler, static_cast<z_off_t>(stripes[i].rawBytes));
    }
    return {static_cast<std::uint8_t>(adler >> 24), static_cast<std::uint8_t>(adler >> 16),
            static_cast<std::uint8_t>(adler >> 8), static_cast<std::uint8_t>(adler)};
}

const png_byte IEND_NAME[] = "IEND";

void appendBigEndian(std::vector<std::uint8_t>& bytes, uLong value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// A stripe's IDAT chunk with the CRC its worker took, into the room reserved for it.
void appendChunk(png_structp png, PngSink& sink, const Stripe& stripe) {
    if (sink.bytes.capacity() - sink.bytes.size() < stripe.deflated.size() + 12) {
        png_error(png, "out of memory");
    }
    appendBigEndian(sink.bytes, static_cast<uLong>(stripe.deflated.size()));
    sink.bytes.insert(sink.bytes.end(), IDAT_NAME, IDAT_NAME + 4);
    sink.bytes.insert(sink.bytes.end(), stripe.deflated.begin(), stripe.deflated.end());
    appendBigEndian(sink.bytes, stripe.chunkCrc);
}

// The signature, the header and a full palette, with room to spare.
constexpr std::size_t PNG_HEADER_ROOM = 1024;

// The file's size but for its header and palette: the stripes' chunks and the short ones.
std::size_t stripedBytes(const std::vector<Stripe>& stripes) {
    constexpr std::size_t CHUNK_FRAME = 12; // length, type and CRC
    std::size_t bytes = 3 * CHUNK_FRAME + sizeof ZLIB_HEADER + 4;
    for (const Stripe& stripe : stripes) {
        bytes += CHUNK_FRAME + stripe.deflated.size();
    }
    return bytes;
}

// The part that may longjmp back: nothing with a destructor lives in this frame. The stripes
// are deflated already when given; without them libpng deflates the rows itself.
bool writePng(png_structp png, png_infop info, const PictureArea& picture,
              const ColourTable& colours, const std::vector<Stripe>* stripes,
              const std::uint8_t* checksum, PngSink& sink) {
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
    // Palette pictures gain little from the row filters.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, PNG_DEFLATE_LEVEL);
    png_write_info(png, info);
    if (stripes != nullptr) {
        png_write_chunk(png, IDAT_NAME, ZLIB_HEADER, sizeof ZLIB_HEADER);
        for (const Stripe& stripe : *stripes) {
            appendChunk(png, sink, stripe);
        }
        png_write_chunk(png, IDAT_NAME, checksum, 4);
        png_write_chunk(png, IEND_NAME, nullptr, 0);
        return true;
    }
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
    std::vector<Stripe> stripes = stripesOf(picture);
    std::vector<std::uint8_t> checksum;
    const bool striped = stripes.size() > 1;
    if (striped) {
        if (!deflateStripes(picture, stripes)) {
            return std::nullopt;
        }
        checksum = checksumBytes(stripes);
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, pngWarning);
    if (png == nullptr) {
        return std::nullopt;
    }
    png_infop info = png_create_info_struct(png);
    PngSink sink;
    try {
        // The whole file at once, so the stripes are copied in once.
        sink.bytes.reserve(striped ? stripedBytes(stripes) + PNG_HEADER_ROOM : 0);
    } catch (const std::bad_alloc&) {
        png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        return std::nullopt;
    }
    const bool ok =
        info != nullptr &&
        writePng(png, info, picture, colours, striped ? &stripes : nullptr, checksum.data(), sink);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (!ok) {
        return std::nullopt;
    }
    return std::move(sink.bytes);
}

} // namespace korv
