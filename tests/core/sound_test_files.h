#pragma once
// Sound files of the formats the wave reader does not read, written with libsndfile itself.

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

namespace korv::test {

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

} // namespace korv::test
