#pragma once
// Test helpers for the wave tests: a temporary folder, file reading and writing, and a
// wave file assembler written apart from the program's own header code.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

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

inline void putLe16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

inline void putLe32(Bytes& out, std::uint32_t v) {
    putLe16(out, v & 0xFFFF);
    putLe16(out, v >> 16);
}

inline void putId(Bytes& out, const char* id) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(id[i]));
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

// Format chunk payload of fmtSize bytes (16, 18, 40 ...), the fields a real writer puts.
inline Bytes formatPayload(std::uint32_t fmtSize, std::uint16_t tag, std::uint16_t channels,
                           std::uint32_t rate, std::uint16_t bits) {
    Bytes p;
    putLe16(p, tag);
    putLe16(p, channels);
    putLe32(p, rate);
    putLe32(p, rate * channels * (bits / 8u));
    putLe16(p, channels * (bits / 8u));
    putLe16(p, bits);
    while (p.size() < fmtSize) {
        p.push_back(p.size() == 16 ? static_cast<std::uint8_t>(fmtSize - 18) : 0);
    }
    return p;
}

// Sine samples in the file encoding: 8-bit unsigned around 128, 16-bit signed little-endian,
// a different frequency per channel so swapped channels would show.
inline Bytes sineSamples(std::size_t frames, std::uint16_t channels, std::uint16_t bits,
                         double rate) {
    Bytes out;
    for (std::size_t i = 0; i < frames; ++i) {
        for (std::uint16_t c = 0; c < channels; ++c) {
            const double v = std::sin(2.0 * std::numbers::pi * (440.0 * (c + 1)) *
                                      static_cast<double>(i) / rate);
            if (bits == 8) {
                out.push_back(static_cast<std::uint8_t>(128 + static_cast<int>(v * 100.0)));
            } else {
                putLe16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(v * 20000.0)));
            }
        }
    }
    return out;
}

inline Bytes noise(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes out(count);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(byte(gen));
    }
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

// A plain PCM wave file: fmt chunk of fmtSize bytes, then data.
inline Bytes pcmWaveFile(std::uint32_t fmtSize, std::uint16_t channels, std::uint32_t rate,
                         std::uint16_t bits, const Bytes& samples) {
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtSize, formatPayload(fmtSize, 1, channels, rate, bits));
    putChunk(chunks, "data", static_cast<std::uint32_t>(samples.size()), samples);
    return riffFile(chunks);
}

} // namespace korv::test
