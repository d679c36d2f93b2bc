#include "audio/sound_file.h"

#include "audio/mpeg_frames.h"
#include "audio/mpeg_messages.h"
#include "base/posix_file.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace korv {

namespace {

// libsndfile reads through the same bounded reader as the wave parser, so a file and the
// bytes of a fuzzer take one path.
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

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

struct OpenSndfile {
    VirtualFile file;
    SF_VIRTUAL_IO io{vfLength, vfSeek, vfRead, vfWrite, vfTell};
    SF_INFO info{};
    SndfileHandle handle;
    std::int64_t at = 0; // the frame the next read gives
};

// Opened in place: libsndfile keeps pointers to the io table and the file.
bool openSndfile(OpenSndfile& s, const WaveByteReader& read, std::int64_t fileSize) {
    keepMpegDecoderQuiet();
    s.handle.reset();
    s.file = VirtualFile{&read, fileSize, 0};
    s.file.hideLists = true;
    s.info = SF_INFO{};
    s.at = 0;
    s.handle.reset(sf_open_virtual(&s.io, SFM_READ, &s.info, &s.file));
    s.file.hideLists = false;
    return s.handle != nullptr;
}

// Up to `frames` frames into `into`, the position kept.
sf_count_t readFrames(OpenSndfile& s, float* into, sf_count_t frames) {
    const sf_count_t got = sf_readf_float(s.handle.get(), into, frames);
    s.at += std::max<sf_count_t>(got, 0);
    return got;
}

// To frame `frame`. What libsndfile reads but cannot seek in (GSM 6.10 wave files) is read up
// to it, from its start again when it lies behind.
bool seekFrame(OpenSndfile& s, std::int64_t frame) {
    if (s.info.seekable != 0) {
        if (sf_seek(s.handle.get(), frame, SEEK_SET) != frame) {
            return false;
        }
        s.at = frame;
        return true;
    }
    if (frame < s.at) {
        const WaveByteReader* read = s.file.read;
        if (!openSndfile(s, *read, s.file.size)) {
            return false;
        }
    }
    constexpr sf_count_t kSkipFrames = 4096;
    std::vector<float> skipped;
    while (s.at < frame) {
        skipped.resize(static_cast<std::size_t>(kSkipFrames * s.info.channels));
        const sf_count_t want = std::min<std::int64_t>(kSkipFrames, frame - s.at);
        if (readFrames(s, skipped.data(), want) != want) {
            return false;
        }
    }
    return true;
}

enum class Sniffed { Wave, RiffWave, SoundFile, MaybeMpeg };

// What the first bytes say. Only the containers libsndfile is there for are sent to it; all
// else (header-less data in particular) stays with the wave reader.
Sniffed sniff(const std::array<std::uint8_t, 12>& head) {
    const auto is = [&head](std::size_t at, const char* id) {
        return std::memcmp(head.data() + at, id, std::strlen(id)) == 0;
    };
    if (is(0, "RIFF") && is(8, "WAVE")) {
        return Sniffed::RiffWave;
    }
    if (is(0, "fLaC") || is(0, "OggS") || is(0, "RF64") || is(0, "BW64") || is(0, "riff") ||
        is(0, "caff") || is(0, "ID3") || (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC")))) {
        return Sniffed::SoundFile;
    }
    if (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0) {
        return Sniffed::MaybeMpeg; // an MPEG audio frame without a tag
    }
    return Sniffed::Wave;
}

WaveEncoding encodingOfSubtype(int subtype) {
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_DPCM_8:
        return WaveEncoding::Pcm8;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_DWVW_12:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_ALAC_16:
        return WaveEncoding::Pcm16;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_ALAC_24:
    case SF_FORMAT_ALAC_20:
        return WaveEncoding::Pcm24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
        return WaveEncoding::Pcm32;
    default:
        // Float, double and the lossy codecs (Vorbis, Opus, MP3) decode to floats.
        return WaveEncoding::Float32;
    }
}

std::string containerText(int major) {
    switch (major) {
    case SF_FORMAT_WAV:
        return "Wave";
    case SF_FORMAT_AIFF:
        return "AIFF";
    case SF_FORMAT_W64:
        return "W64";
    case SF_FORMAT_RF64:
        return "RF64";
    case SF_FORMAT_CAF:
        return "CAF";
    case SF_FORMAT_FLAC:
        return "FLAC";
    case SF_FORMAT_OGG:
        return "Ogg";
    case SF_FORMAT_MPEG:
        return "MP3";
    default:
        return "Sound file";
    }
}

// Bytes a frame takes in the file for the plain PCM and float encodings; 0 for the coded
// ones, whose size says nothing about their length.
std::int64_t plainFrameBytes(const SF_INFO& info) {
    switch (info.format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_AIFF:
    case SF_FORMAT_W64:
    case SF_FORMAT_RF64:
    case SF_FORMAT_CAF:
    case SF_FORMAT_AU:
        break;
    default:
        return 0; // FLAC, Ogg and MP3 say "16 bit" of what they decode to
    }
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return info.channels;
    case SF_FORMAT_PCM_16:
        return 2LL * info.channels;
    case SF_FORMAT_PCM_24:
        return 3LL * info.channels;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4LL * info.channels;
    case SF_FORMAT_DOUBLE:
        return 8LL * info.channels;
    default:
        return 0;
    }
}

// What libsndfile finds of the recording time in the containers the RIFF walk does not see
// (a broadcast chunk of W64, a FLAC or Ogg DATE comment).
std::optional<RecordingTime> libsndfileRecordingTime(SNDFILE* file) {
    SF_BROADCAST_INFO bext{};
    if (sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE) {
        const std::uint64_t reference =
            bext.time_reference_low | (std::uint64_t{bext.time_reference_high} << 32);
        if (auto t = broadcastRecordingTime({bext.origination_date, sizeof bext.origination_date},
                                            {bext.origination_time, sizeof bext.origination_time},
                                            reference)) {
            return t;
        }
    }
    const char* date = sf_get_string(file, SF_STR_DATE);
    return date != nullptr ? isoRecordingTime(date) : std::nullopt;
}

// The frames a file really gives, read from where it stands to its end.
std::int64_t countFramesToEnd(OpenSndfile& s) {
    constexpr sf_count_t kBlockFrames = 4096;
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames * s.info.channels));
    std::int64_t frames = 0;
    for (sf_count_t got = 0; (got = readFrames(s, block.data(), kBlockFrames)) > 0;) {
        frames += got;
    }
    return frames;
}

// Whether the last frame a coded file's header declares is there: a FLAC's total may promise
// more than its frames hold, and its decoder, once asked past the real end, fails every later
// seek, so what a run of reads gives would hang on their order.
bool lastFrameReads(SNDFILE* file, int channels, std::int64_t frames) {
    std::vector<float> frame(static_cast<std::size_t>(channels));
    return sf_seek(file, frames - 1, SEEK_SET) == frames - 1 &&
           sf_readf_float(file, frame.data(), 1) == 1;
}

WaveParseResult refusedFormat() {
    WaveParseResult result;
    result.status = WaveParseStatus::AdvancedFormat;
    result.message = kAdvancedWaveFormat;
    return result;
}

// The file's format through libsndfile, its declared sizes checked against the file; nothing
// when libsndfile cannot read it.
std::optional<WaveParseResult> soundFileFormat(const WaveByteReader& read, std::int64_t fileSize) {
    OpenSndfile s;
    if (!openSndfile(s, read, fileSize)) {
        return std::nullopt;
    }
    const SF_INFO& sf = s.info;
    if (sf.channels < 1 || sf.channels > MAX_FILE_CHANNELS || sf.samplerate < 1 ||
        sf.samplerate > MAX_FILE_SAMPLE_RATE || sf.frames < 0) {
        return refusedFormat();
    }
    // A length the header does not give (a FLAC written to a pipe, a cut Ogg file), or one it
    // gives but the frames do not reach, is counted by decoding to the end.
    std::int64_t frames = sf.frames;
    if (frames == SF_COUNT_MAX) {
        frames = countFramesToEnd(s);
    } else if (frames > 0 && plainFrameBytes(sf) == 0 && sf.seekable != 0 &&
               !lastFrameReads(s.handle.get(), sf.channels, frames)) {
        if (!openSndfile(s, read, fileSize)) { // from the start, the failed seek forgotten
            return refusedFormat();
        }
        frames = countFramesToEnd(s);
    }
    // A header declaring more than the file holds (a 5 GB count in a 1 KB file) is held to
    // what is there.
    if (const std::int64_t frameBytes = plainFrameBytes(sf); frameBytes > 0) {
        frames = std::min(frames, fileSize / frameBytes);
    }
    // The decoder stops where the first header says (a Xing count, or a guess from the first
    // frame's rate): files joined with cat, or of variable rate without that count, go on
    // beyond. A few frames of slack take the encoder's delay and padding.
    if ((sf.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) {
        constexpr std::int64_t kSlackSamples = 4 * 1152;
        if (const std::int64_t walked = mpegFileSamples(read, fileSize);
            walked > frames + kSlackSamples) {
            WaveParseResult cut = refusedFormat();
            cut.message = mpegCutMessage(frames, walked, sf.samplerate);
            return cut;
        }
    }
    // Held as 16-bit samples of at most two channels: far from any overflow.
    frames = std::min<std::int64_t>(frames, std::numeric_limits<std::int64_t>::max() / 8);

    WaveParseResult result;
    result.status = WaveParseStatus::Header;
    WaveFileInfo& info = result.info;
    info.reader = SoundReader::SoundFile;
    info.fileChannels = static_cast<std::uint16_t>(sf.channels);
    info.channels = static_cast<std::uint16_t>(std::min(sf.channels, 2));
    info.firstChannel = 0;
    info.secondChannel = info.channels == 2 ? 1 : 0;
    info.sampleRate = sf.samplerate;
    info.bitsPerSample = 16;
    info.encoding = encodingOfSubtype(sf.format & SF_FORMAT_SUBMASK);
    info.dataOffset = 0;
    info.dataLength = frames * info.channels * 2;
    info.fileSize = fileSize;
    info.headerValid = true;
    info.formatText = containerText(sf.format & SF_FORMAT_TYPEMASK) + " " +
                      std::string(encodingText(info.encoding));
    info.recorded = libsndfileRecordingTime(s.handle.get());
    return result;
}

// The held channels of `frames` decoded frames of `fileChannels` floats (full scale 1) as
// 16-bit samples into `into16` from held sample `at`, and their exact values into `precise`
// when it is not empty.
void holdFrames(std::span<const float> decoded, std::size_t frames, const SampleSource& source,
                std::size_t held, std::size_t at, std::span<std::uint8_t> into16,
                std::span<float> precise) {
    const auto fileChannels = static_cast<std::size_t>(source.fileChannels);
    const std::array<std::size_t, 2> picks{source.firstChannel, source.secondChannel};
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t c = 0; c < held; ++c) {
            const float v = preciseSample(
                static_cast<double>(decoded[f * fileChannels + picks[c]]) * FLOAT_SAMPLE_SCALE);
            const std::size_t i = at + f * held + c;
            const auto bits = static_cast<std::uint16_t>(preciseTo16(v));
            into16[2 * i] = static_cast<std::uint8_t>(bits & 0xFFu);
            into16[2 * i + 1] = static_cast<std::uint8_t>(bits >> 8);
            if (!precise.empty()) {
                precise[i] = v;
            }
        }
    }
}

} // namespace

namespace {

WaveParseResult openedSoundFile(const WaveByteReader& read, std::int64_t fileSize) {
    std::array<std::uint8_t, 12> head{};
    const std::size_t got = fileSize >= WAVE_MIN_FILE_SIZE ? read(0, head) : 0;
    Sniffed kind = got == head.size() ? sniff(head) : Sniffed::Wave;
    if (kind == Sniffed::MaybeMpeg) {
        kind = twoMpegFrames(read, head) ? Sniffed::SoundFile : Sniffed::Wave;
    }
    if (kind == Sniffed::SoundFile) {
        if (auto sound = soundFileFormat(read, fileSize)) {
            return *sound;
        }
        // What libsndfile cannot read is what it was before: the wave reader's to judge.
        return parseWaveHeaderFrom(read, fileSize);
    }
    WaveParseResult wave = parseWaveHeaderFrom(read, fileSize);
    if (kind == Sniffed::RiffWave && wave.status == WaveParseStatus::AdvancedFormat) {
        if (auto sound = soundFileFormat(read, fileSize);
            sound && sound->status == WaveParseStatus::Header) {
            return *sound;
        }
    }
    return wave;
}

} // namespace

WaveParseResult openSoundFileFrom(const WaveByteReader& read, std::int64_t fileSize) {
    WaveParseResult result = openedSoundFile(read, fileSize);
    if (result.goesOn() && result.info.headerValid) {
        if (auto t = riffRecordingTime(read, fileSize)) {
            result.info.recorded = t;
        }
    }
    return result;
}

WaveParseResult openSoundFileBytes(std::span<const std::uint8_t> bytes) {
    return openSoundFileFrom(memoryByteReader(bytes), static_cast<std::int64_t>(bytes.size()));
}

WaveParseResult openSoundFile(const std::string& path) {
    const PosixFile file = PosixFile::openForReading(path);
    if (!file.isOpen()) {
        WaveParseResult result;
        result.status = WaveParseStatus::CannotOpenFile;
        result.message = kCannotOpenFile;
        return result;
    }
    WaveParseResult result = openSoundFileFrom(
        [&file](std::int64_t offset, std::span<std::uint8_t> into) {
            return file.readAt(offset, into);
        },
        file.size());
    result.openedFolder = folderOfPath(path);
    return result;
}

bool holdChannels(WaveFileInfo& info, FileChannels channels) {
    if (info.fileChannels <= 2 || info.channels != 2 || info.reader != SoundReader::SoundFile) {
        return true;
    }
    if (!channels.valid() || channels.first > info.fileChannels ||
        channels.second > info.fileChannels) {
        return false;
    }
    info.firstChannel = static_cast<std::uint16_t>(channels.first - 1);
    info.secondChannel = static_cast<std::uint16_t>(channels.second - 1);
    return true;
}

bool holdOneChannel(WaveFileInfo& info, int channel) {
    if (channel < 1 || channel > info.fileChannels) {
        return false;
    }
    if (info.reader == SoundReader::Wave) {
        return true; // the wave reader's one or two channels are chosen by the channel choice
    }
    const std::int64_t frames = info.dataLength / (2 * std::int64_t{info.channels});
    info.channels = 1;
    info.firstChannel = static_cast<std::uint16_t>(channel - 1);
    info.secondChannel = info.firstChannel;
    info.dataLength = frames * 2;
    return true;
}

struct SoundFileFrames::Open {
    WaveByteReader reader;
    OpenSndfile sound;
    SampleSource source;
    std::size_t held = 1;
    std::vector<float> block;
};

SoundFileFrames::SoundFileFrames() = default;
SoundFileFrames::SoundFileFrames(SoundFileFrames&&) noexcept = default;
SoundFileFrames& SoundFileFrames::operator=(SoundFileFrames&&) noexcept = default;
SoundFileFrames::~SoundFileFrames() = default;

bool SoundFileFrames::open(WaveByteReader read, std::int64_t fileSize, const SampleSource& source,
                           int heldChannels) {
    open_.reset();
    // libsndfile keeps a pointer to the reader: it lives in the heap block with the handle.
    auto s = std::make_unique<Open>();
    s->reader = std::move(read);
    if (heldChannels < 1 || heldChannels > 2 || !openSndfile(s->sound, s->reader, fileSize) ||
        s->sound.info.channels != source.fileChannels ||
        source.firstChannel >= source.fileChannels || source.secondChannel >= source.fileChannels) {
        return false;
    }
    constexpr std::size_t kBlockFrames = 4096;
    s->source = source;
    s->held = static_cast<std::size_t>(heldChannels);
    s->block.assign(kBlockFrames * static_cast<std::size_t>(source.fileChannels), 0.0f);
    open_ = std::move(s);
    return true;
}

bool SoundFileFrames::read(std::int64_t firstFrame, std::span<std::uint8_t> into16,
                           std::span<float> precise) {
    if (!open_) {
        return false;
    }
    Open& s = *open_;
    const std::size_t frames = into16.size() / (2 * s.held);
    if (firstFrame < 0 || (!precise.empty() && precise.size() < frames * s.held) ||
        !seekFrame(s.sound, firstFrame)) {
        return false;
    }
    const std::size_t blockFrames = s.block.size() / s.source.fileChannels;
    std::size_t done = 0;
    while (done < frames) {
        const auto want = static_cast<sf_count_t>(std::min(blockFrames, frames - done));
        if (readFrames(s.sound, s.block.data(), want) != want) {
            return false;
        }
        holdFrames(s.block, static_cast<std::size_t>(want), s.source, s.held, done * s.held, into16,
                   precise);
        done += static_cast<std::size_t>(want);
    }
    return true;
}

bool readSoundFileFrames(const WaveByteReader& read, std::int64_t fileSize,
                         const SampleSource& source, int heldChannels, std::int64_t firstFrame,
                         std::span<std::uint8_t> into16, std::span<float> precise) {
    SoundFileFrames frames;
    return frames.open(read, fileSize, source, heldChannels) &&
           frames.read(firstFrame, into16, precise);
}

struct HeldSampleStream::Stream {
    PosixFile file;
    WaveByteReader reader;
    WaveFileInfo info;
    std::int64_t filePosition = 0; // the wave reader's next byte
    OpenSndfile sound;
    std::vector<std::uint8_t> block;
    std::vector<float> frames;

    explicit Stream(PosixFile opened) : file(std::move(opened)) {
        reader = [this](std::int64_t offset, std::span<std::uint8_t> into) {
            return file.readAt(offset, into);
        };
    }
};

HeldSampleStream::HeldSampleStream() = default;
HeldSampleStream::HeldSampleStream(HeldSampleStream&&) noexcept = default;
HeldSampleStream& HeldSampleStream::operator=(HeldSampleStream&&) noexcept = default;
HeldSampleStream::~HeldSampleStream() = default;

bool HeldSampleStream::open(const std::string& path, const WaveFileInfo& info,
                            std::int64_t startByte) {
    stream_.reset();
    PosixFile file = PosixFile::openForReading(path);
    const std::int64_t frameBytes = std::int64_t{info.channels} * info.bitsPerSample / 8;
    if (!file.isOpen() || frameBytes <= 0 || startByte < 0) {
        return false;
    }
    auto s = std::make_unique<Stream>(std::move(file));
    s->info = info;
    if (info.reader == SoundReader::SoundFile) {
        const SampleSource source = info.source();
        if (!openSndfile(s->sound, s->reader, s->file.size()) ||
            s->sound.info.channels != source.fileChannels ||
            source.firstChannel >= source.fileChannels ||
            source.secondChannel >= source.fileChannels ||
            !seekFrame(s->sound, startByte / frameBytes)) {
            return false;
        }
    } else if (encodingConverted(info.encoding)) {
        s->filePosition = info.dataOffset + startByte / 2 * encodingBytes(info.encoding);
    } else {
        s->filePosition = info.dataOffset + startByte;
    }
    stream_ = std::move(s);
    return true;
}

void HeldSampleStream::close() {
    stream_.reset();
}

std::size_t HeldSampleStream::read(std::span<std::uint8_t> into, std::span<float> precise) {
    if (!stream_ || (!precise.empty() && precise.size() < into.size() / 2)) {
        return 0;
    }
    Stream& s = *stream_;
    const WaveEncoding encoding = s.info.encoding;
    if (s.info.reader == SoundReader::Wave && !encodingConverted(encoding)) {
        const std::size_t got = s.file.readAt(s.filePosition, into);
        s.filePosition += static_cast<std::int64_t>(got);
        return got;
    }
    if (s.info.reader == SoundReader::Wave) {
        const auto width = static_cast<std::size_t>(encodingBytes(encoding));
        s.block.resize(into.size() / 2 * width);
        const std::size_t got = s.file.readAt(s.filePosition, s.block);
        const std::size_t samples = got / width;
        s.filePosition += static_cast<std::int64_t>(samples * width);
        const auto whole = std::span(s.block).first(samples * width);
        if (!precise.empty()) {
            static_cast<void>(convertSamplesToPrecise(encoding, whole, precise));
        }
        return 2 * convertSamplesTo16(encoding, whole, into);
    }
    const auto held = static_cast<std::size_t>(s.info.channels);
    const std::size_t want = into.size() / (2 * held);
    s.frames.resize(want * s.info.fileChannels);
    const sf_count_t got = readFrames(s.sound, s.frames.data(), static_cast<sf_count_t>(want));
    const auto frames = static_cast<std::size_t>(std::max<sf_count_t>(got, 0));
    holdFrames(s.frames, frames, s.info.source(), held, 0, into, precise);
    return frames * held * 2;
}

} // namespace korv
