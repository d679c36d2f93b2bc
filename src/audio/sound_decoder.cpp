#include "audio/sound_decoder.h"

#include "audio/mpeg_messages.h"

#include <sndfile.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace korv {

namespace {

struct VirtualFile {
    const WaveByteReader* read = nullptr;
    std::int64_t size = 0;
    std::int64_t position = 0;
    // While libsndfile reads the header, every "LIST" it reads is shown to it as "JUNK":
    // its walk of a list's sub-chunks goes round for ever on a negative size, and the dates
    // in lists are read by our own bounded reader anyway. The samples are never touched.
    bool hideLists = false;
    std::int64_t lastEnd = -1;               // where the last read ended
    std::array<std::uint8_t, 3> lastBytes{}; // and its last three bytes
};

constexpr std::array<std::uint8_t, 4> LIST_ID = {'L', 'I', 'S', 'T'};
constexpr std::array<std::uint8_t, 4> HIDDEN_LIST_ID = {'J', 'U', 'N', 'K'};

void hideLists(VirtualFile& f, std::span<std::uint8_t> got, std::int64_t at) {
    // A "LIST" may have begun in the last three bytes of the read before, when this one goes on
    // from it: positions below 0 are those.
    const std::ptrdiff_t carried = at == f.lastEnd ? 3 : 0;
    const auto size = static_cast<std::ptrdiff_t>(got.size());
    const auto byteAt = [&](std::ptrdiff_t i) {
        return i < 0 ? f.lastBytes[static_cast<std::size_t>(3 + i)]
                     : got[static_cast<std::size_t>(i)];
    };
    for (std::ptrdiff_t i = -carried; i + 4 <= size; ++i) {
        bool list = true;
        for (std::size_t k = 0; k < 4 && list; ++k) {
            list = byteAt(i + static_cast<std::ptrdiff_t>(k)) == LIST_ID[k];
        }
        for (std::ptrdiff_t k = std::max<std::ptrdiff_t>(0, -i); list && k < 4; ++k) {
            got[static_cast<std::size_t>(i + k)] = HIDDEN_LIST_ID[static_cast<std::size_t>(k)];
        }
    }
    std::array<std::uint8_t, 3> last{};
    for (std::ptrdiff_t k = 0; k < 3; ++k) {
        const std::ptrdiff_t i = size - 3 + k;
        last[static_cast<std::size_t>(k)] = i >= -carried ? byteAt(i) : 0;
    }
    f.lastBytes = last;
    f.lastEnd = at + size;
}

sf_count_t vfLength(void* user) {
    return static_cast<VirtualFile*>(user)->size;
}

sf_count_t vfSeek(sf_count_t offset, int whence, void* user) {
    auto* f = static_cast<VirtualFile*>(user);
    std::int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = f->position;
    } else if (whence == SEEK_END) {
        base = f->size;
    }
    // Positions stay within 0 .. size: reads past the end give nothing anyway.
    const std::int64_t room = offset >= 0 ? std::numeric_limits<std::int64_t>::max() - base : 0;
    const std::int64_t to = offset > room ? f->size : base + offset;
    if (to < 0) {
        return -1;
    }
    f->position = std::min(to, f->size);
    return f->position;
}

sf_count_t vfRead(void* into, sf_count_t count, void* user) {
    auto* f = static_cast<VirtualFile*>(user);
    if (count <= 0 || f->position >= f->size) {
        return 0;
    }
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(count, f->size - f->position));
    const std::span bytes(static_cast<std::uint8_t*>(into), n);
    const std::size_t got = std::min(n, (*f->read)(f->position, bytes));
    if (f->hideLists) {
        hideLists(*f, bytes.first(got), f->position);
    }
    f->position += static_cast<std::int64_t>(got);
    return static_cast<sf_count_t>(got);
}

sf_count_t vfWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t vfTell(void* user) {
    return static_cast<VirtualFile*>(user)->position;
}

std::size_t ovRead(void* into, std::size_t size, std::size_t count, void* user) {
    if (size == 0) {
        return 0;
    }
    return static_cast<std::size_t>(vfRead(into, static_cast<sf_count_t>(size * count), user)) /
           size;
}

int ovSeek(void* user, ogg_int64_t offset, int whence) {
    return vfSeek(offset, whence, user) < 0 ? -1 : 0;
}

long ovTell(void* user) {
    return static_cast<long>(static_cast<VirtualFile*>(user)->position);
}

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

constexpr std::int64_t kBlockFrames = 4096;

} // namespace

struct SoundDecoder::Backend {
    Backend() = default;
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;
    virtual ~Backend() = default;
    virtual bool seek(std::int64_t frame) = 0;
    virtual std::int64_t read(float* into, std::int64_t frames) = 0;
    virtual bool restart() = 0; // from the start again, whatever a failed seek left
    [[nodiscard]] virtual std::optional<RecordingTime> recordingTime() const = 0;

    VirtualFile file;
    DecodedFormat format;
    bool seekable = true;
    std::optional<std::int64_t> changesAt;
};

struct SoundDecoder::Sndfile final : Backend {
    // Opened in place: libsndfile keeps pointers to the io table and the file.
    bool open(const WaveByteReader& read, std::int64_t fileSize) {
        keepMpegDecoderQuiet();
        handle.reset();
        file = VirtualFile{&read, fileSize, 0};
        file.hideLists = true;
        info = SF_INFO{};
        at = 0;
        handle.reset(sf_open_virtual(&io, SFM_READ, &info, &file));
        file.hideLists = false;
        format = {info.channels, info.samplerate,
                  info.frames == SF_COUNT_MAX ? UNKNOWN_FRAMES : info.frames, info.format};
        seekable = info.seekable != 0;
        return handle != nullptr;
    }
    bool restart() override { return open(*file.read, file.size); }

    bool seek(std::int64_t frame) override {
        if (seekable) {
            if (sf_seek(handle.get(), frame, SEEK_SET) != frame) {
                return false;
            }
            at = frame;
            return true;
        }
        // What libsndfile reads but cannot seek in is read up to the frame, from its start
        // again when the frame lies behind.
        if (frame < at && !restart()) {
            return false;
        }
        std::vector<float> skipped;
        while (at < frame) {
            skipped.resize(static_cast<std::size_t>(kBlockFrames * info.channels));
            const std::int64_t want = std::min(kBlockFrames, frame - at);
            if (read(skipped.data(), want) != want) {
                return false;
            }
        }
        return true;
    }

    std::int64_t read(float* into, std::int64_t frames) override {
        const sf_count_t got = sf_readf_float(handle.get(), into, frames);
        at += std::max<sf_count_t>(got, 0);
        return std::max<sf_count_t>(got, 0);
    }

    [[nodiscard]] std::optional<RecordingTime> recordingTime() const override {
        SF_BROADCAST_INFO bext{};
        if (sf_command(handle.get(), SFC_GET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE) {
            const std::uint64_t reference =
                bext.time_reference_low | (std::uint64_t{bext.time_reference_high} << 32);
            if (auto t = broadcastRecordingTime(
                    {bext.origination_date, sizeof bext.origination_date},
                    {bext.origination_time, sizeof bext.origination_time}, reference)) {
                return t;
            }
        }
        const char* date = sf_get_string(handle.get(), SF_STR_DATE);
        return date != nullptr ? isoRecordingTime(date) : std::nullopt;
    }

    SF_VIRTUAL_IO io{vfLength, vfSeek, vfRead, vfWrite, vfTell};
    SF_INFO info{};
    SndfileHandle handle;
    std::int64_t at = 0; // the frame the next read gives
};

// What an Ogg file's first page begins: a Vorbis stream's identification header, or another.
enum class OggStart { NotOgg, Vorbis, Other };

OggStart oggStart(const WaveByteReader& read) {
    // 27 bytes of page header, the segment table, then the first packet: "\x01vorbis".
    std::array<std::uint8_t, 27 + 255 + 7> page{};
    const std::size_t got = read(0, page);
    if (got < 27 || std::memcmp(page.data(), "OggS", 4) != 0) {
        return OggStart::NotOgg;
    }
    const std::size_t packet = 27 + std::size_t{page[26]};
    return packet + 7 <= got && std::memcmp(page.data() + packet, "\x01vorbis", 7) == 0
               ? OggStart::Vorbis
               : OggStart::Other;
}

// Only for Ogg Vorbis files of more than one stream: libsndfile reads every other file.
struct SoundDecoder::Vorbis final : Backend {
    ~Vorbis() override {
        if (opened) {
            ov_clear(&vf);
        }
    }

    // Whether the file opens; one stream alone (`single`) is left to libsndfile.
    bool open(const WaveByteReader& read, std::int64_t fileSize, bool& single) {
        file = VirtualFile{&read, fileSize, 0};
        const ov_callbacks callbacks{ovRead, ovSeek, nullptr, ovTell};
        opened = ov_open_callbacks(&file, &vf, nullptr, 0, callbacks) == 0;
        single = opened && (ov_streams(&vf) < 2 || ov_seekable(&vf) == 0);
        if (!opened || single) {
            return opened;
        }
        const vorbis_info* first = ov_info(&vf, 0);
        std::int64_t frames = 0;
        for (int link = 0; link < ov_streams(&vf); ++link) {
            const vorbis_info* v = ov_info(&vf, link);
            const ogg_int64_t linkFrames = ov_pcm_total(&vf, link);
            if (v == nullptr || linkFrames < 0) {
                return false;
            }
            if (v->channels != first->channels || v->rate != first->rate) {
                changesAt = frames;
                break;
            }
            frames += linkFrames;
        }
        format = {first->channels, static_cast<int>(std::clamp<long>(first->rate, 0, INT32_MAX)),
                  frames, SF_FORMAT_OGG | SF_FORMAT_VORBIS};
        return true;
    }
    bool restart() override { return ov_pcm_seek(&vf, 0) == 0; }

    bool seek(std::int64_t frame) override { return ov_pcm_seek(&vf, frame) == 0; }

    std::int64_t read(float* into, std::int64_t frames) override {
        const auto channels = static_cast<std::size_t>(format.channels);
        std::int64_t done = 0;
        while (done < frames) {
            float** pcm = nullptr;
            int link = 0;
            const long got = ov_read_float(
                &vf, &pcm, static_cast<int>(std::min(kBlockFrames, frames - done)), &link);
            const vorbis_info* v = ov_info(&vf, link);
            if (got <= 0 || v == nullptr || v->channels != format.channels) {
                break; // the end, a hole or a stream of other channels: no more in order
            }
            float* out = into + static_cast<std::size_t>(done) * channels;
            for (long f = 0; f < got; ++f) {
                for (std::size_t c = 0; c < channels; ++c) {
                    *out++ = pcm[c][f];
                }
            }
            done += got;
        }
        return done;
    }

    [[nodiscard]] std::optional<RecordingTime> recordingTime() const override {
        auto* self = const_cast<OggVorbis_File*>(&vf);
        vorbis_comment* comments = ov_comment(self, 0);
        const char* date =
            comments != nullptr ? vorbis_comment_query(comments, "DATE", 0) : nullptr;
        return date != nullptr ? isoRecordingTime(date) : std::nullopt;
    }

    OggVorbis_File vf{};
    bool opened = false;
};

SoundDecoder::SoundDecoder() = default;
SoundDecoder::SoundDecoder(SoundDecoder&&) noexcept = default;
SoundDecoder& SoundDecoder::operator=(SoundDecoder&&) noexcept = default;
SoundDecoder::~SoundDecoder() = default;

bool SoundDecoder::open(const WaveByteReader& read, std::int64_t fileSize) {
    backend_.reset();
    if (oggStart(read) == OggStart::Vorbis) {
        auto vorbis = std::make_unique<Vorbis>();
        bool single = false;
        if (!vorbis->open(read, fileSize, single)) {
            // Headers libvorbisfile cannot read (a file cut inside them) libsndfile cannot
            // either, and it would leak what libvorbis made of them.
            return false;
        }
        if (!single) {
            backend_ = std::move(vorbis);
            return true;
        }
    }
    auto sound = std::make_unique<Sndfile>();
    if (!sound->open(read, fileSize)) {
        return false;
    }
    backend_ = std::move(sound);
    return true;
}

DecodedFormat SoundDecoder::format() const {
    return backend_ ? backend_->format : DecodedFormat{};
}

bool SoundDecoder::seekable() const {
    return backend_ && backend_->seekable;
}

std::optional<std::int64_t> SoundDecoder::formatChangesAt() const {
    return backend_ ? backend_->changesAt : std::nullopt;
}

bool SoundDecoder::seek(std::int64_t frame) {
    return backend_ && frame >= 0 && backend_->seek(frame);
}

std::int64_t SoundDecoder::read(std::span<float> into, std::int64_t frames) {
    const auto channels = static_cast<std::size_t>(format().channels);
    if (!backend_ || frames <= 0 || channels == 0 ||
        into.size() / channels < static_cast<std::size_t>(frames)) {
        return 0;
    }
    return backend_->read(into.data(), frames);
}

std::int64_t SoundDecoder::countToEnd() {
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames * format().channels));
    std::int64_t frames = 0;
    for (std::int64_t got = 0; (got = read(block, kBlockFrames)) > 0;) {
        frames += got;
    }
    return frames;
}

bool SoundDecoder::lastFrameReads(std::int64_t frames) {
    if (!backend_ || frames <= 0) {
        return backend_ != nullptr;
    }
    std::vector<float> frame(static_cast<std::size_t>(format().channels));
    if (seek(frames - 1) && read(frame, 1) == 1) {
        return true;
    }
    // A decoder asked past its real end fails every later seek (libFLAC does).
    if (!backend_->restart()) {
        backend_.reset();
    }
    return false;
}

std::optional<RecordingTime> SoundDecoder::recordingTime() const {
    return backend_ ? backend_->recordingTime() : std::nullopt;
}

} // namespace korv
