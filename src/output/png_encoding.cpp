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
#include <array>
#include <atomic>
#include <csetjmp>
#include <mutex>
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

constexpr std::uint8_t bigEndianByte(std::uint64_t value, int shift) {
    return static_cast<std::uint8_t>(value >> shift);
}

// A chunk framed for the sink: its length, name, data and the CRC of its name and data.
bool writeChunk(const ByteSink& sink, const png_byte* name, std::span<const std::uint8_t> data,
                uLong crc) {
    const std::uint8_t head[8] = {bigEndianByte(data.size(), 24),
                                  bigEndianByte(data.size(), 16),
                                  bigEndianByte(data.size(), 8),
                                  bigEndianByte(data.size(), 0),
                                  name[0],
                                  name[1],
                                  name[2],
                                  name[3]};
    const std::uint8_t tail[4] = {bigEndianByte(crc, 24), bigEndianByte(crc, 16),
                                  bigEndianByte(crc, 8), bigEndianByte(crc, 0)};
    return sink(head) && sink(data) && sink(tail);
}

// The same for a chunk whose CRC is not taken yet.
bool writeChunk(const ByteSink& sink, const png_byte* name, std::span<const std::uint8_t> data) {
    uLong crc = crc32_z(crc32_z(0, nullptr, 0), name, 4);
    if (!data.empty()) {
        crc = crc32_z(crc, data.data(), data.size()); // a null buffer would restart the CRC
    }
    return writeChunk(sink, name, data, crc);
}

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

// The stripes go to the sink in order as they are deflated: the core that finishes the next
// one writes it (and any after it already done) while the other deflates on, so the file is
// written during the deflating instead of after it. Each stripe's bytes are freed once written.
class StripeEmitter {
  public:
    StripeEmitter(std::vector<Stripe>& stripes, const ByteSink& sink)
        : stripes_(stripes), sink_(sink), done_(stripes.size(), false) {}

    void stripeDone(std::size_t i) {
        std::unique_lock lock(mutex_);
        done_[i] = true;
        if (emitting_) {
            return; // the emitting core takes it
        }
        emitting_ = true;
        while (next_ < stripes_.size() && done_[next_] && !failed_) {
            Stripe& stripe = stripes_[next_];
            lock.unlock();
            const bool ok = stripe.ok && emit(stripe);
            std::vector<std::uint8_t>().swap(stripe.deflated);
            lock.lock();
            if (!ok) {
                failed_ = true;
            }
            ++next_;
        }
        emitting_ = false;
    }
    [[nodiscard]] bool failed() const { return failed_; }
    [[nodiscard]] bool allWritten() const { return !failed_ && next_ == stripes_.size(); }

  private:
    // The stripe's IDAT chunk with the CRC its core took.
    bool emit(const Stripe& stripe) {
        return writeChunk(sink_, IDAT_NAME, stripe.deflated, stripe.chunkCrc);
    }

    std::vector<Stripe>& stripes_;
    const ByteSink& sink_;
    std::mutex mutex_;
    std::vector<bool> done_;
    std::size_t next_ = 0;
    bool emitting_ = false;
    std::atomic<bool> failed_{false}; // also read by the deflating cores between stripes
};

// Deflates every stripe, on as many threads as there are cores and stripes, and hands them to
// the sink in order; false when one could not be deflated or written.
bool deflateStripes(const PictureArea& picture, std::vector<Stripe>& stripes,
                    const ByteSink& sink) {
    StripeEmitter emitter(stripes, sink);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < stripes.size() && !emitter.failed(); i = next++) {
            deflateStripe(picture, i + 1 == stripes.size(), stripes[i]);
            emitter.stripeDone(i);
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
    return emitter.allWritten();
}

// The zlib stream's two-byte header (32 KiB window, the fastest level) and its checksum.
constexpr std::uint8_t ZLIB_HEADER[] = {0x78, 0x01};

std::array<std::uint8_t, 4> checksumBytes(const std::vector<Stripe>& stripes) {
    uLong adler = stripes.front().adler;
    for (std::size_t i = 1; i < stripes.size(); ++i) {
        adler = adler32_combine(adler, stripes[i].adler, static_cast<z_off_t>(stripes[i].rawBytes));
    }
    return {bigEndianByte(adler, 24), bigEndianByte(adler, 16), bigEndianByte(adler, 8),
            bigEndianByte(adler, 0)};
}

const png_byte IEND_NAME[] = "IEND";

// The part that may longjmp back: nothing with a destructor lives in this frame. Striped, only
// the signature, the header, the palette and the chunk of the zlib header; else the whole file,
// libpng deflating the rows itself.
bool writePng(png_structp png, png_infop info, const PictureArea& picture,
              const ColourTable& colours, bool striped, PngSink& sink) {
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
    if (striped) {
        png_write_chunk(png, IDAT_NAME, ZLIB_HEADER, sizeof ZLIB_HEADER);
        return true;
    }
    for (int y = 0; y < picture.height(); ++y) {
        // libpng takes a non-const row but only reads it.
        png_write_row(png, const_cast<png_bytep>(picture.row(y).data()));
    }
    png_write_end(png, info);
    return true;
}

// libpng's part of the file (see writePng) in memory; nothing when libpng fails.
std::optional<std::vector<std::uint8_t>> libpngBytes(const PictureArea& picture,
                                                     const ColourTable& colours, bool striped) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, pngWarning);
    if (png == nullptr) {
        return std::nullopt;
    }
    png_infop info = png_create_info_struct(png);
    PngSink sink;
    const bool ok = info != nullptr && writePng(png, info, picture, colours, striped, sink);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (!ok) {
        return std::nullopt;
    }
    return std::move(sink.bytes);
}

} // namespace

bool writePng8(const PictureArea& picture, const ColourTable& colours, const ByteSink& sink) {
    if (picture.width() < 1 || picture.height() < 1) {
        return false;
    }
    std::vector<Stripe> stripes = stripesOf(picture);
    const bool striped = stripes.size() > 1;
    const auto head = libpngBytes(picture, colours, striped);
    if (!head || !sink(*head)) {
        return false;
    }
    if (!striped) {
        return true;
    }
    return deflateStripes(picture, stripes, sink) &&
           writeChunk(sink, IDAT_NAME, checksumBytes(stripes)) && writeChunk(sink, IEND_NAME, {});
}

std::optional<std::vector<std::uint8_t>> encodePng8(const PictureArea& picture,
                                                    const ColourTable& colours) {
    std::vector<std::uint8_t> bytes;
    // The sink runs on the deflating cores too: a failed allocation must not leave it.
    const auto append = [&bytes](std::span<const std::uint8_t> piece) {
        try {
            bytes.insert(bytes.end(), piece.begin(), piece.end());
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    };
    if (!writePng8(picture, colours, append)) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace korv
