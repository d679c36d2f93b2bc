#pragma once
// A 16-bit sound file written again by libsndfile in another format, for the tests that check
// that a format is read like its wave twin.

#include <QString>
#include <sndfile.h>

#include <vector>

namespace korv::test {

// The 16-bit file at `from` written to `to` in `format` (SF_FORMAT_...) with `channels`
// channels: its own first, silence in the others. Returns `to`, or empty on failure.
inline QString rewritten(const QString& from, const QString& to, int format, int channels) {
    SF_INFO in{};
    SNDFILE* source = sf_open(from.toLocal8Bit().constData(), SFM_READ, &in);
    if (source == nullptr) {
        return {};
    }
    std::vector<short> frames(static_cast<std::size_t>(in.frames * in.channels));
    sf_readf_short(source, frames.data(), in.frames);
    sf_close(source);
    SF_INFO out = in;
    out.channels = channels;
    out.format = format;
    std::vector<short> wide(static_cast<std::size_t>(in.frames * channels), 0);
    for (sf_count_t f = 0; f < in.frames; ++f) {
        for (int c = 0; c < in.channels; ++c) {
            wide[static_cast<std::size_t>(f * channels + c)] =
                frames[static_cast<std::size_t>(f * in.channels + c)];
        }
    }
    SNDFILE* target = sf_open(to.toLocal8Bit().constData(), SFM_WRITE, &out);
    if (target == nullptr) {
        return {};
    }
    sf_writef_short(target, wide.data(), in.frames);
    sf_close(target);
    return to;
}

} // namespace korv::test
