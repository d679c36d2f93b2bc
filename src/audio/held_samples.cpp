#include "audio/held_samples.h"

#include "analysis/parameters.h"
#include "audio/sound_file.h"
#include "audio/wave_file.h"
#include "base/posix_file.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

namespace korv {

namespace {

// Source bytes converted per block: a multiple of 3 and 4 bytes.
constexpr std::size_t kConvertBlockBytes = 3 * 4 * 4096;

// The stretch of the file that holds the samples asked for, or nothing when it does not
// lie in the data the way the store would hold it.
struct FileStretch {
    std::int64_t start = 0;
    std::int64_t length = 0;
};

std::optional<FileStretch> fileStretch(std::int64_t start, std::int64_t length,
                                       const WaveFormat& format, const SampleSource& source) {
    if (source.reader == SoundReader::SoundFile) {
        // Held frames, not file bytes: libsndfile finds them.
        return FileStretch{0, 0};
    }
    if (!encodingConverted(source.encoding)) {
        return FileStretch{start, length};
    }
    const std::int64_t held = start - source.dataOffset;
    if (format.bitsPerSample != 16 || held < 0 || held % 2 != 0 || length % 2 != 0) {
        return std::nullopt;
    }
    const std::int64_t width = encodingBytes(source.encoding);
    return FileStretch{source.dataOffset + held / 2 * width, length / 2 * width};
}

} // namespace

struct HeldSampleReader::Open {
    explicit Open(PosixFile opened) : file(std::move(opened)) {}

    PosixFile file;
    WaveFormat format;
    SampleSource source;
    SoundFileFrames sound;
    std::vector<std::uint8_t> block; // a converted encoding's bytes as the file has them

    bool readConverted(const FileStretch& stretch, std::span<std::uint8_t> into,
                       std::span<float> precise) {
        std::int64_t at = stretch.start;
        std::int64_t left = stretch.length;
        while (left > 0) {
            const auto n = static_cast<std::size_t>(
                std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
            const auto from = std::span(block).first(n);
            if (file.readAt(at, from) != n) {
                return false;
            }
            const std::size_t samples = convertSamplesTo16(source.encoding, from, into);
            into = into.subspan(samples * 2);
            precise = precise.subspan(convertSamplesToPrecise(source.encoding, from, precise));
            at += static_cast<std::int64_t>(n);
            left -= static_cast<std::int64_t>(n);
        }
        return true;
    }
};

HeldSampleReader::HeldSampleReader() = default;
HeldSampleReader::HeldSampleReader(HeldSampleReader&&) noexcept = default;
HeldSampleReader& HeldSampleReader::operator=(HeldSampleReader&&) noexcept = default;
HeldSampleReader::~HeldSampleReader() = default;

std::optional<UserMessage> HeldSampleReader::open(const std::string& path, const WaveFormat& format,
                                                  const SampleSource& source, std::int64_t start,
                                                  std::int64_t length) {
    open_.reset();
    auto s = std::make_unique<Open>(PosixFile::openForReading(path));
    if (!s->file.isOpen()) {
        return kCannotOpenFile;
    }
    // The stretch must lie wholly in the file as it is now, whatever its header declared:
    // reading less would hand the analysis bytes that are not the file's.
    const std::int64_t fileSize = s->file.size();
    const auto stretch =
        start < 0 || length < 0 ? std::nullopt : fileStretch(start, length, format, source);
    if (!stretch || fileSize < 0 || stretch->start > fileSize ||
        stretch->length > fileSize - stretch->start) {
        return kErrorReadingFile;
    }
    s->format = format;
    s->source = source;
    if (source.reader == SoundReader::SoundFile) {
        const PosixFile* file = &s->file;
        const bool opened = s->sound.open(
            [file](std::int64_t offset, std::span<std::uint8_t> into) {
                return file->readAt(offset, into);
            },
            fileSize, source, format.channels);
        if (!opened || format.bitsPerSample != 16) {
            return kErrorReadingFile;
        }
    } else if (encodingConverted(source.encoding)) {
        s->block.assign(kConvertBlockBytes, 0);
    }
    open_ = std::move(s);
    return std::nullopt;
}

bool HeldSampleReader::read(std::int64_t start, std::span<std::uint8_t> into16,
                            std::span<float> precise) {
    if (!open_) {
        return false;
    }
    Open& s = *open_;
    if (s.source.reader == SoundReader::SoundFile) {
        const std::int64_t frameBytes = 2 * std::int64_t{s.format.channels};
        const auto whole = into16.size() / static_cast<std::size_t>(frameBytes) *
                           static_cast<std::size_t>(frameBytes);
        return start % frameBytes == 0 &&
               s.sound.read(start / frameBytes, into16.first(whole), precise);
    }
    if (encodingConverted(s.source.encoding)) {
        const auto stretch =
            fileStretch(start, static_cast<std::int64_t>(into16.size()), s.format, s.source);
        return stretch && precise.size() * 2 >= into16.size() &&
               s.readConverted(*stretch, into16, precise);
    }
    return s.file.readAt(start, into16) == into16.size();
}

std::int64_t columnWindowMemory(const SampleSource& source) {
    return COLUMN_WINDOW_BYTES * (encodingConverted(source.encoding) ? 3 : 1) +
           static_cast<std::int64_t>(kConvertBlockBytes);
}

namespace {

// One analyser's window: the held bytes from a column's start through as many later columns'
// frames as COLUMN_WINDOW_BYTES holds, read again from the column asked for when it is not in.
class FileFrameWindow final : public ColumnFrameWindow {
  public:
    FileFrameWindow(const FileSegment& segment, long hop, std::atomic<bool>& failed)
        : segment_(segment), hop_(hop), failed_(failed) {}

    bool open() {
        if (reader_.open(segment_.path, segment_.format, segment_.source, segment_.startByte,
                         segment_.bytes)) {
            return false;
        }
        const std::int64_t frame = std::int64_t{1} << MAX_LOG2_FFT_SIZE;
        const auto capacity = static_cast<std::size_t>(
            std::max(COLUMN_WINDOW_BYTES, frame * segment_.format.bytesPerFrame()));
        try {
            bytes_.assign(capacity, 0);
            precise_.assign(exact() ? capacity / 2 : 0, 0.0f);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    [[nodiscard]] bool exact() const override {
        return encodingConverted(segment_.source.encoding) && segment_.format.bitsPerSample == 16;
    }

    ColumnFrameSource sourceFor(long x, std::size_t frames, long& column) override {
        const int bytesPerSample = segment_.format.bytesPerSample();
        ColumnFrameSource source{{}, segment_.format.channels, bytesPerSample, hop_, {}};
        column = 0;
        const std::int64_t hopBytes = std::int64_t{hop_} * bytesPerSample;
        if (x < 0 || hopBytes <= 0 || x > (segment_.bytes - 1) / hopBytes) {
            return source; // past the data: silence
        }
        const std::int64_t at = x * hopBytes;
        const std::int64_t need =
            std::min(static_cast<std::int64_t>(frames) * segment_.format.bytesPerFrame(),
                     segment_.bytes - at);
        if (first_ < 0 || x < first_ || at + need > heldFrom_ + heldBytes_) {
            if (!holdAtLeast(need) || !load(x, at, need, hopBytes)) {
                failed_ = true;
                return source;
            }
        }
        column = x - first_;
        source.samples =
            std::span<const std::uint8_t>(bytes_).first(static_cast<std::size_t>(heldBytes_));
        if (exact()) {
            source.precise =
                std::span<const float>(precise_).first(static_cast<std::size_t>(heldBytes_ / 2));
        }
        return source;
    }

  private:
    // A column that looks at its whole step (the maximum over it) may need more than the window.
    bool holdAtLeast(std::int64_t need) {
        const auto size = static_cast<std::size_t>(need);
        if (size <= bytes_.size()) {
            return true;
        }
        try {
            bytes_.resize(size, 0);
            precise_.resize(exact() ? size / 2 : 0, 0.0f);
        } catch (const std::bad_alloc&) {
            return false;
        }
        first_ = -1; // nothing held survives a new buffer
        heldBytes_ = 0;
        return true;
    }

    bool load(long x, std::int64_t at, std::int64_t need, std::int64_t hopBytes) {
        const auto capacity = static_cast<std::int64_t>(bytes_.size());
        // Overlapping columns share one read; far-apart ones read their frames alone.
        const std::int64_t later = hopBytes > 2 * need ? 0 : (capacity - need) / hopBytes;
        const std::int64_t length =
            std::min({need + later * hopBytes, capacity, segment_.bytes - at});
        first_ = -1;
        heldBytes_ = 0;
        const auto size = static_cast<std::size_t>(length);
        if (!reader_.read(segment_.startByte + at, std::span(bytes_).first(size),
                          exact() ? std::span(precise_).first(size / 2) : std::span<float>{})) {
            return false;
        }
        first_ = x;
        heldFrom_ = at;
        heldBytes_ = length;
        return true;
    }

    const FileSegment& segment_;
    long hop_;
    std::atomic<bool>& failed_;
    HeldSampleReader reader_;
    std::vector<std::uint8_t> bytes_;
    std::vector<float> precise_;
    long first_ = -1; // the column whose start the window begins at
    std::int64_t heldFrom_ = 0;
    std::int64_t heldBytes_ = 0;
};

} // namespace

std::optional<UserMessage> FileFrameWindows::open(FileSegment segment, long hop) {
    segment_ = std::move(segment);
    hop_ = hop;
    failed_ = false;
    HeldSampleReader reader;
    return reader.open(segment_.path, segment_.format, segment_.source, segment_.startByte,
                       segment_.bytes);
}

ColumnFrameWindows FileFrameWindows::windows() {
    return [this]() -> std::unique_ptr<ColumnFrameWindow> {
        auto window = std::make_unique<FileFrameWindow>(segment_, hop_, failed_);
        if (!window->open()) {
            return nullptr;
        }
        return window;
    };
}

} // namespace korv
