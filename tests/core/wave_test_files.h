#pragma once
// Test helpers for the file tests: a temporary folder, file reading and writing, a full disk,
// a wave file assembler written apart from the program's own header code, and sound files of
// the formats the wave reader does not read, written with libsndfile itself.

#include <algorithm>
#include <bit>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <sndfile.h>
#include <sys/resource.h>

namespace korv::test {

using Bytes = std::vector<std::uint8_t>;

class TempFolder {
  public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "korv-wave-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        path_ = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    [[nodiscard]] std::string folder() const { return path_.string() + "/"; }
    [[nodiscard]] std::string file(const std::string& name) const { return folder() + name; }

  private:
    std::filesystem::path path_;
};

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What `write` returns, run as on a disk that fills up: under a file size limit of `limit`
// bytes, write() fails short (and SIGXFSZ is ignored meanwhile).
template <typename Write> auto underFileSizeLimit(rlim_t limit, Write&& write) {
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = limit;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto result = write();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    return result;
}

// The `bytes` low bytes of v, little-endian, at the end of out.
inline void putLe(Bytes& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

inline void putLe16(Bytes& out, std::uint32_t v) {
    putLe(out, v, 2);
}

inline void putLe32(Bytes& out, std::uint32_t v) {
    putLe(out, v, 4);
}

inline void putId(Bytes& out, const char* id) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(id[i]));
    }
}

// `bytes` little-endian bytes of v written over b from `at`.
inline void putLeAt(Bytes& b, std::size_t at, std::uint64_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i) {
        b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

inline std::uint32_t le32At(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16)) |
           (static_cast<std::uint32_t>(b.at(at + 3)) << 24);
}

// A chunk: id, the size written in its header, and its payload (which may differ in length
// from the declared size, for hostile files).
inline void putChunk(Bytes& out, const char* id, std::uint32_t declared, const Bytes& payload) {
    putId(out, id);
    putLe32(out, declared);
    out.insert(out.end(), payload.begin(), payload.end());
}

// Format chunk payload of fmtSize bytes (16, 18, 40 ...), the fields a real writer puts;
// with tag 0xFFFE and 40 bytes, the extensible part with the subformat GUID of `subformat`.
inline Bytes formatPayload(std::uint32_t fmtSize, std::uint16_t tag, std::uint16_t channels,
                           std::uint32_t rate, std::uint16_t bits, std::uint16_t subformat = 1) {
    Bytes p;
    putLe16(p, tag);
    putLe16(p, channels);
    putLe32(p, rate);
    putLe32(p, rate * channels * (bits / 8u));
    putLe16(p, channels * (bits / 8u));
    putLe16(p, bits);
    if (fmtSize >= 40 && tag == 0xFFFE) {
        putLe16(p, 22);
        putLe16(p, bits);      // valid bits
        putLe32(p, 3);         // front left and right
        putLe32(p, subformat); // GUID data1
        putLe16(p, 0x0000);    // data2
        putLe16(p, 0x0010);    // data3
        p.insert(p.end(), {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    }
    while (p.size() < fmtSize) {
        p.push_back(p.size() == 16 ? static_cast<std::uint8_t>(fmtSize - 18) : 0);
    }
    return p;
}

// Sine samples in a file encoding (tag 1 integer PCM, tag 3 float): 8-bit unsigned around
// 128, 16-bit truncated, 24- and 32-bit rounded from the same values, floats of full scale
// 32768, all little-endian. A sine of 20000 in 16-bit units, channel c at 440 (c + 1) Hz so
// swapped channels would show.
inline Bytes sineSamples(std::size_t frames, std::uint16_t channels, std::uint16_t bits,
                         double rate, std::uint16_t tag = 1) {
    Bytes out;
    for (std::size_t i = 0; i < frames; ++i) {
        for (std::uint16_t c = 0; c < channels; ++c) {
            const double v = 20000.0 * std::sin(2.0 * std::numbers::pi * (440.0 * (c + 1)) *
                                                static_cast<double>(i) / rate);
            if (tag == 3) {
                putLe32(out, std::bit_cast<std::uint32_t>(static_cast<float>(v / 32768.0)));
            } else if (bits == 8) {
                out.push_back(static_cast<std::uint8_t>(128 + static_cast<int>(v / 200.0)));
            } else if (bits == 16) {
                putLe16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
            } else {
                const auto wide = std::lround(v * (bits == 24 ? 256 : 65536));
                putLe(out, static_cast<std::uint32_t>(wide), bits / 8);
            }
        }
    }
    return out;
}

inline Bytes noise(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes out(count);
    std::generate(out.begin(), out.end(), [&] { return static_cast<std::uint8_t>(byte(gen)); });
    return out;
}

// RIFF, WAVE, then the given chunks; the RIFF size is the real remaining length.
inline Bytes riffFile(const Bytes& chunks) {
    Bytes out;
    putId(out, "RIFF");
    putLe32(out, static_cast<std::uint32_t>(chunks.size() + 4));
    putId(out, "WAVE");
    out.insert(out.end(), chunks.begin(), chunks.end());
    return out;
}

// A wave file: fmt chunk of fmtSize bytes, then data (PCM unless a tag is given).
inline Bytes pcmWaveFile(std::uint32_t fmtSize, std::uint16_t channels, std::uint32_t rate,
                         std::uint16_t bits, const Bytes& samples, std::uint16_t tag = 1,
                         std::uint16_t subformat = 1) {
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtSize, formatPayload(fmtSize, tag, channels, rate, bits, subformat));
    putChunk(chunks, "data", static_cast<std::uint32_t>(samples.size()), samples);
    return riffFile(chunks);
}

// A 16-bit mono wave file of `samples` with `chunks` between its format and its data.
inline Bytes monoWaveWith(const Bytes& chunks, std::uint32_t rate, const Bytes& samples) {
    Bytes all;
    putChunk(all, "fmt ", 16, formatPayload(16, 1, 1, rate, 16));
    all.insert(all.end(), chunks.begin(), chunks.end());
    putChunk(all, "data", static_cast<std::uint32_t>(samples.size()), samples);
    return riffFile(all);
}

// A broadcast extension of 602 bytes with the origination date, time and time reference.
inline Bytes bextChunk(const char* date, const char* time, std::uint64_t reference) {
    Bytes payload(602, 0);
    std::memcpy(payload.data() + 320, date, 10);
    std::memcpy(payload.data() + 330, time, 8);
    putLeAt(payload, 338, reference, 8);
    Bytes chunk;
    putChunk(chunk, "bext", 602, payload);
    return chunk;
}

// The file encodings read, each as a writer declares it.
struct FileEncoding {
    const char* name;
    std::uint16_t tag, bits, subformat;
    std::uint32_t fmtSize;
    int width;      // bytes per sample in the file
    bool converted; // held as 16-bit samples
};
inline const FileEncoding kFileEncodings[] = {
    {"pcm8", 1, 8, 1, 16, 1, false},          {"pcm16", 1, 16, 1, 18, 2, false},
    {"pcm24", 1, 24, 1, 16, 3, true},         {"pcm32", 1, 32, 1, 18, 4, true},
    {"float", 3, 32, 3, 18, 4, true},         {"ext8", 0xFFFE, 8, 1, 40, 1, false},
    {"ext16", 0xFFFE, 16, 1, 40, 2, false},   {"ext24", 0xFFFE, 24, 1, 40, 3, true},
    {"extfloat", 0xFFFE, 32, 3, 40, 4, true},
};

// Writes `frames` frames of `channels` sines (channel c at hz x (c + 1), amplitude `amplitude`
// of full scale), with a recording date when one is given; false when this libsndfile cannot
// write it.
inline bool writeSound(const std::string& path, int format, std::int32_t rate, int channels,
                       sf_count_t frames, double amplitude, const char* date = nullptr,
                       double hz = 441.0) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr) {
        return false;
    }
    std::vector<double> data(static_cast<std::size_t>(frames * channels));
    for (sf_count_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            data[static_cast<std::size_t>(i * channels + c)] =
                amplitude *
                std::sin(2.0 * std::numbers::pi * hz * (c + 1) * static_cast<double>(i) / rate);
        }
    }
    const bool dated = date == nullptr || sf_set_string(f, SF_STR_DATE, date) == 0;
    const bool whole = sf_writef_double(f, data.data(), frames) == frames;
    return sf_close(f) == 0 && dated && whole;
}

// Little-endian 16-bit sample i of a byte run.
inline std::int16_t sample16(const std::uint8_t* bytes, std::size_t i) {
    return static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
}

} // namespace korv::test
