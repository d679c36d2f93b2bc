#include "pipeline/file_samples.h"

#include "audio/sample_encoding.h"
#include "audio/sound_file.h"
#include "audio/wave_file.h"

#include <algorithm>

namespace korv {

struct FileSamples::Stream {
    WaveFileInfo info;
    HeldSampleStream held;
    std::size_t pick = 0; // the channel's place in a held frame
    std::size_t heldChannels = 1;
    std::size_t sampleBytes = 2; // held bytes per sample: 1 or 2
    bool exactValues = false;    // the reader gives exact values beside the held samples
    std::int64_t frames = 0;
    std::int64_t framesRead = 0;
    bool failed = false;
    std::vector<std::uint8_t> bytes;
    std::vector<float> precise;
    std::vector<double> block;
};

FileSamples::FileSamples() = default;
FileSamples::FileSamples(FileSamples&&) noexcept = default;
FileSamples& FileSamples::operator=(FileSamples&&) noexcept = default;
FileSamples::~FileSamples() = default;

std::optional<UserMessage> FileSamples::open(const std::string& path, int channel) {
    stream_.reset();
    const WaveParseResult parsed = openSoundFile(path);
    if (parsed.status == WaveParseStatus::CannotOpenFile) {
        return cannotOpenSoundFile(path);
    }
    if (parsed.status != WaveParseStatus::Header) {
        return parsed.message.value_or(kCannotOpenFile);
    }
    auto s = std::make_unique<Stream>();
    s->info = parsed.info;
    if (channel < 1 || channel > s->info.fileChannels) {
        return kNoSuchChannel;
    }
    // A file of more than two channels holds the one asked for alone; one of one or two holds
    // its own, and the channel is picked from each frame.
    if (s->info.fileChannels > 2) {
        if (!holdOneChannel(s->info, channel)) {
            return kNoSuchChannel;
        }
    } else {
        s->pick = static_cast<std::size_t>(channel - 1);
    }
    const WaveFileInfo& info = s->info;
    s->heldChannels = std::max<std::size_t>(info.channels, 1);
    s->sampleBytes = info.bitsPerSample == 8 ? 1 : 2;
    if (s->pick >= s->heldChannels) {
        return kNoSuchChannel;
    }
    s->exactValues = info.reader == SoundReader::SoundFile || encodingConverted(info.encoding);
    s->frames = info.dataLength / static_cast<std::int64_t>(s->heldChannels * s->sampleBytes);
    if (!s->held.open(path, info, 0)) {
        return kCannotOpenFile;
    }
    s->bytes.resize(kFileSampleBlockFrames * s->heldChannels * s->sampleBytes);
    s->precise.resize(s->exactValues ? kFileSampleBlockFrames * s->heldChannels : 0);
    s->block.reserve(kFileSampleBlockFrames);
    stream_ = std::move(s);
    return std::nullopt;
}

const WaveFileInfo& FileSamples::info() const {
    return stream_->info;
}

double FileSamples::sampleRate() const {
    return static_cast<double>(stream_->info.sampleRate);
}

std::int64_t FileSamples::frames() const {
    return stream_ ? stream_->frames : 0;
}

bool FileSamples::failed() const {
    return stream_ && stream_->failed;
}

std::span<const double> FileSamples::next() {
    if (!stream_ || stream_->failed || stream_->framesRead >= stream_->frames) {
        return {};
    }
    Stream& s = *stream_;
    const auto frames = static_cast<std::size_t>(
        std::min<std::int64_t>(s.frames - s.framesRead, kFileSampleBlockFrames));
    const std::size_t frameBytes = s.heldChannels * s.sampleBytes;
    const std::span<std::uint8_t> into = std::span(s.bytes).first(frames * frameBytes);
    const std::size_t got =
        s.held.read(into, s.exactValues ? std::span(s.precise) : std::span<float>{}) / frameBytes;
    if (got == 0) {
        s.failed = true; // the file is shorter than its header said, or a read failed
        return {};
    }
    s.block.resize(got);
    // Held values are in 16-bit units: full scale 32768 (8-bit data 128 steps of 256). One
    // loop per kind of held sample, each converting once.
    constexpr double toFullScale = 1.0 / FLOAT_SAMPLE_SCALE;
    const std::size_t step = s.heldChannels;
    double* out = s.block.data();
    if (s.exactValues) {
        const float* in = s.precise.data() + s.pick;
        for (std::size_t f = 0; f < got; ++f)
            out[f] = static_cast<double>(in[f * step]) * toFullScale;
    } else if (s.sampleBytes == 1) {
        const std::uint8_t* in = s.bytes.data() + s.pick;
        for (std::size_t f = 0; f < got; ++f)
            out[f] = (static_cast<double>(in[f * step]) - 128.0) * 256.0 * toFullScale;
    } else {
        const std::uint8_t* in = s.bytes.data() + 2 * s.pick;
        for (std::size_t f = 0; f < got; ++f) {
            const std::uint8_t* b = in + 2 * f * step;
            out[f] =
                static_cast<double>(static_cast<std::int16_t>(b[0] | (b[1] << 8))) * toFullScale;
        }
    }
    s.framesRead += static_cast<std::int64_t>(got);
    return s.block;
}

} // namespace korv
