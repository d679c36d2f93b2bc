#include "audio/sound_file.h"

#include "audio/mpeg_frames.h"
#include "audio/sound_decoder.h"
#include "base/posix_file.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cerrno>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace korv {

namespace {

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
std::int64_t plainFrameBytes(const DecodedFormat& info) {
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

// "Ogg streams joined one after another change their rate or channels at 5.0 s; not read".
UserMessage oggFormatChangeMessage(std::int64_t frames, int rate) {
    const std::int64_t tenths = frames * 10 / std::max(rate, 1);
    return {"Ogg streams joined one after another change their rate or channels at " +
                std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s; not read",
            MessageIcon::Warning};
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
    SoundDecoder decoder;
    if (!decoder.open(read, fileSize)) {
        return std::nullopt;
    }
    const DecodedFormat sf = decoder.format();
    if (sf.channels < 1 || sf.channels > MAX_FILE_CHANNELS || sf.sampleRate < 1 ||
        sf.sampleRate > MAX_FILE_SAMPLE_RATE || sf.frames < 0) {
        return refusedFormat();
    }
    if (const auto changes = decoder.formatChangesAt()) {
        WaveParseResult changed = refusedFormat();
        changed.message = oggFormatChangeMessage(*changes, sf.sampleRate);
        return changed;
    }
    // A length the header does not give (a FLAC written to a pipe, a cut Ogg file), or one it
    // gives but the frames do not reach, is counted by decoding to the end.
    std::int64_t frames = sf.frames;
    if (frames == UNKNOWN_FRAMES || (frames > 0 && plainFrameBytes(sf) == 0 && decoder.seekable() &&
                                     !decoder.lastFrameReads(frames))) {
        frames = decoder.countToEnd();
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
            cut.message = mpegCutMessage(frames, walked, sf.sampleRate);
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
    info.sampleRate = sf.sampleRate;
    info.bitsPerSample = 16;
    info.encoding = encodingOfSubtype(sf.format & SF_FORMAT_SUBMASK);
    info.dataOffset = 0;
    info.dataLength = frames * info.channels * 2;
    info.fileSize = fileSize;
    info.headerValid = true;
    info.formatText = containerText(sf.format & SF_FORMAT_TYPEMASK) + " " +
                      std::string(encodingText(info.encoding));
    info.recorded = decoder.recordingTime();
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

UserMessage cannotOpenSoundFile(const std::string& path) {
    struct stat info {};
    const int error = ::stat(path.c_str(), &info) != 0 ? errno
                      : S_ISDIR(info.st_mode)          ? EISDIR
                      : !S_ISREG(info.st_mode)         ? 0
                                                       : EACCES;
    UserMessage message = kCannotOpenFile;
    message.text += " (" + (error != 0 ? systemReason(error) : "not a regular file") + ")";
    return message;
}

namespace {

std::atomic<std::uint64_t> opens{0};

} // namespace

std::uint64_t soundFileOpens() {
    return opens.load(std::memory_order_relaxed);
}

WaveParseResult openSoundFile(const std::string& path) {
    opens.fetch_add(1, std::memory_order_relaxed);
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
    SoundDecoder sound;
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
    // The decoder keeps a pointer to the reader: it lives in the heap block with it.
    auto s = std::make_unique<Open>();
    s->reader = std::move(read);
    if (heldChannels < 1 || heldChannels > 2 || !s->sound.open(s->reader, fileSize) ||
        s->sound.format().channels != source.fileChannels ||
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
        !s.sound.seek(firstFrame)) {
        return false;
    }
    const std::size_t blockFrames = s.block.size() / s.source.fileChannels;
    std::size_t done = 0;
    while (done < frames) {
        const auto want = static_cast<sf_count_t>(std::min(blockFrames, frames - done));
        if (s.sound.read(s.block, want) != want) {
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
    SoundDecoder sound;
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
        if (!s->sound.open(s->reader, s->file.size()) ||
            s->sound.format().channels != source.fileChannels ||
            source.firstChannel >= source.fileChannels ||
            source.secondChannel >= source.fileChannels || !s->sound.seek(startByte / frameBytes)) {
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
    const auto frames =
        static_cast<std::size_t>(s.sound.read(s.frames, static_cast<std::int64_t>(want)));
    holdFrames(s.frames, frames, s.info.source(), held, 0, into, precise);
    return frames * held * 2;
}

} // namespace korv
