// Writes the 10-minute recording the Analyze File benchmark analyses, for timing other
// tools on the same signal (scripts/analyze-vs-sox).

#include "audio/wave_header.h"
#include "long_signal.h"

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_long OUT.wav\n");
        return 2;
    }
    const std::vector<std::uint8_t> samples = korv::tools::longSignalBytes();
    std::vector<std::uint8_t> header(korv::WAVE_HEADER_SIZE);
    korv::buildWaveHeader(korv::WaveHeaderBytes(header.data(), korv::WAVE_HEADER_SIZE), 1,
                          korv::tools::LONG_SIGNAL_RATE, 16,
                          static_cast<std::uint32_t>(samples.size()));
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size() &&
                    std::fwrite(samples.data(), 1, samples.size(), out) == samples.size();
    return std::fclose(out) == 0 && ok ? 0 : 1;
}
