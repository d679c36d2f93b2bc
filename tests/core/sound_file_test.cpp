// Opening every sound file through the one decision: libsndfile's containers, the wave
// reader's files and messages as they were, exact values of the wider samples in the
// analysis, files beyond 4 GB, more than two channels, and hostile headers. The test files
// are written here with libsndfile itself, or assembled byte by byte.

#include "audio/sound_file.h"

#include "analysis/column_levels.h"
#include "audio/wave_file.h"
#include "core/wave_test_files.h"
#include "pipeline/file_analysis.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <numeric>
#include <vector>

namespace korv {
namespace {

using test::Bytes;
using test::writeSound;

// The held samples of channel `channel` as numbers.
std::vector<double> heldChannel(const SampleStore& store, std::size_t channels,
                                std::size_t channel) {
    std::vector<double> out;
    for (std::size_t i = channel; 2 * i + 1 < store.samples().size(); i += channels) {
        out.push_back(test::sample16(store.samples().data(), i));
    }
    return out;
}

// Every `step`th held sample against a sine of `amplitude` of full scale, within one step.
void expectSine(const std::vector<double>& held, double amplitude, double hz, double rate,
                std::size_t step) {
    for (std::size_t i = 0; i < held.size(); i += step) {
        const double t = static_cast<double>(i) / rate;
        EXPECT_NEAR(held[i], amplitude * 32768.0 * std::sin(2.0 * std::numbers::pi * hz * t), 1.0)
            << i;
    }
}

double rms(const std::vector<double>& v) {
    const double sum = std::inner_product(v.begin(), v.end(), v.begin(), 0.0);
    return v.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(v.size()));
}

class SoundFileTest : public ::testing::Test {
  protected:
    test::TempFolder temp;
    AllocationCounter counter;

    // A sound libsndfile writes into the test's folder (see writeSound), and its path.
    std::string sound(const std::string& name, int format, std::int32_t rate, int channels,
                      sf_count_t frames, double amplitude, double hz = 441.0) {
        const std::string path = temp.file(name);
        EXPECT_TRUE(writeSound(path, format, rate, channels, frames, amplitude, nullptr, hz));
        return path;
    }

    SegmentResult loadAll(const std::string& path, const WaveFileInfo& info) {
        return loadSegment(path, info.dataOffset, info.dataLength, info.format(), counter,
                           info.source());
    }

    // The levels of the first column of a file, as the analysis computes them (zeros when it
    // cannot be read).
    std::vector<std::int16_t> firstColumnLevels(const std::string& path, int n) {
        const WaveParseResult opened = openSoundFile(path);
        EXPECT_EQ(opened.status, WaveParseStatus::Header);
        const int channels = opened.info.channels;
        const auto loaded = loadAll(path, opened.info);
        std::vector<std::int16_t> levels(static_cast<std::size_t>(n / 2));
        EXPECT_TRUE(loaded.store.has_value());
        if (!loaded.store) {
            return levels;
        }
        const SampleStore& store = *loaded.store;
        std::vector<float> frame(static_cast<std::size_t>(n));
        readColumnFrame({store.samples(), channels, 2, channels, store.precise()}, 0, 0, frame);
        FftEngine fft;
        EXPECT_EQ(fft.setupFft(std::countr_zero(static_cast<unsigned>(n)), FFT_FULL_WINDOW_RATE,
                               FFT_FULL_WINDOW_MSEC),
                  0);
        fft.transformSamples(frame, levels, FftOutput::Levels);
        return levels;
    }
};

TEST_F(SoundFileTest, EveryContainerIsReadToItsSamples) {
    constexpr sf_count_t kFrames = 30000;
    constexpr double kAmplitude = 0.5;
    // Name, format, rate, and whether the codec keeps every sample.
    for (const auto& [name, format, rate, lossless] :
         {std::tuple{"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, true},
          {"a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, true},
          {"a.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 44100, true},
          {"a.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 22050, true},
          {"a.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 48000, true},
          {"a.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 44100, true},
          {"a.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, false},
          {"a.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, false},
          {"a.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, false}}) {
        SCOPED_TRACE(name);
        const std::string path = sound(name, format, rate, 2, kFrames, kAmplitude);
        const WaveParseResult opened = openSoundFile(path);
        ASSERT_EQ(opened.status, WaveParseStatus::Header);
        EXPECT_FALSE(opened.message.has_value());
        EXPECT_EQ(opened.openedFolder, temp.folder());
        EXPECT_EQ(opened.info.reader, SoundReader::SoundFile);
        EXPECT_EQ(opened.info.format(), (WaveFormat{2, rate, 16}));
        auto loaded = loadAll(path, opened.info);
        ASSERT_TRUE(loaded.store.has_value()) << (loaded.message ? loaded.message->text : "");
        for (const std::size_t c : {0, 1}) {
            const auto held = heldChannel(*loaded.store, 2, c);
            // The lossy codecs add or drop a few frames of delay; the lossless ones keep all.
            if (lossless) {
                ASSERT_EQ(held.size(), static_cast<std::size_t>(kFrames));
                expectSine(held, kAmplitude, 441.0 * static_cast<double>(c + 1), rate, 997);
            }
            // A sine of amplitude a has the RMS a / sqrt 2, whatever the codec did to it.
            EXPECT_NEAR(rms(held), kAmplitude * 32768.0 / std::sqrt(2.0),
                        0.05 * 32768.0 * kAmplitude);
        }
    }
}

TEST_F(SoundFileTest, WaveFilesKeepTheWaveReadersResultsAndMessages) {
    // Raw, too small, compressed, 24-bit, and no file.
    for (const Bytes& bytes :
         {test::noise(2048, 7), test::noise(2047, 7),
          test::pcmWaveFile(16, 1, 8000, 4, test::noise(4000, 3), 0x55),
          test::pcmWaveFile(16, 2, 44100, 24, test::sineSamples(3000, 2, 24, 44100)), Bytes{}}) {
        const std::string path = temp.file(std::to_string(bytes.size()) + ".wav");
        if (!bytes.empty()) {
            test::writeFile(path, bytes);
        }
        SCOPED_TRACE(path);
        const WaveParseResult wave = parseWaveHeader(path);
        const WaveParseResult sound = openSoundFile(path);
        EXPECT_EQ(sound.status, wave.status);
        EXPECT_EQ(sound.message, wave.message);
        EXPECT_EQ(sound.info, wave.info);
    }
}

// The level a bin-centred sine of amplitude a (16-bit units) gives with the full Hann window:
// the window halves it, and a level is 40 log10 of the power, truncated.
int sineLevel(double amplitude) {
    return static_cast<int>(40.0 * std::log10((amplitude / 2) * (amplitude / 2)));
}

TEST_F(SoundFileTest, WiderSamplesReachTheAnalysisWithTheirWholeRangeAndNonFiniteOnesAreHeld) {
    constexpr int kN = 1024;
    constexpr int kBin = 32;
    constexpr std::int32_t kRate = 44100;
    const double hz = kBin * static_cast<double>(kRate) / kN;
    // A float tone 12 dB over full scale: no clipping, so no third harmonic.
    const double loud = 4.0;
    const std::string floatPath =
        sound("loud.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, 8192, loud, hz);
    EXPECT_EQ(parseWaveHeader(floatPath).info.encoding, WaveEncoding::Float32);
    const auto loudLevels = firstColumnLevels(floatPath, kN);
    EXPECT_NEAR(loudLevels[kBin], sineLevel(loud * 32768.0), 1);
    EXPECT_LT(loudLevels[3 * kBin], loudLevels[kBin] - 4 * 80);

    // A 24-bit tone at -100 dBFS: below one step of 16 bits, yet its level is there; the same
    // in a wave file and a FLAC.
    const double quiet = std::pow(10.0, -100.0 / 20.0);
    const std::string widePath =
        sound("quiet.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, kRate, 1, 8192, quiet, hz);
    EXPECT_EQ(parseWaveHeader(widePath).info.encoding, WaveEncoding::Pcm24); // the wave reader's
    const auto quietLevels = firstColumnLevels(widePath, kN);
    EXPECT_NEAR(quietLevels[kBin], sineLevel(quiet * 32768.0), 2);
    EXPECT_LT(quietLevels[3 * kBin], quietLevels[kBin] - 4 * 20);
    const std::string flac =
        sound("quiet.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, kRate, 1, 8192, quiet, hz);
    EXPECT_EQ(firstColumnLevels(flac, kN)[kBin], quietLevels[kBin]);

    // Floats that are no numbers are held finite, and give levels.
    Bytes floats;
    for (std::size_t i = 0; i < 4096; ++i) {
        const float v = i % 3 == 0 ? NAN : (i % 3 == 1 ? INFINITY : -INFINITY);
        test::putLe32(floats, std::bit_cast<std::uint32_t>(v));
    }
    const std::string path = temp.file("nan.wav");
    test::writeFile(path, test::pcmWaveFile(18, 1, 8000, 32, floats, 3));
    const WaveParseResult opened = openSoundFile(path);
    ASSERT_EQ(opened.status, WaveParseStatus::Header);
    auto loaded = loadAll(path, opened.info);
    ASSERT_TRUE(loaded.store.has_value());
    const auto precise = loaded.store->precise();
    ASSERT_EQ(precise.size(), 4096u);
    EXPECT_EQ(std::vector(precise.begin(), precise.begin() + 3),
              (std::vector<float>{0.0f, PRECISE_SAMPLE_LIMIT, -PRECISE_SAMPLE_LIMIT}));
    for (const std::int16_t level : firstColumnLevels(path, 512)) {
        EXPECT_LE(std::abs(level), LEVEL_LIMIT);
    }
}

TEST_F(SoundFileTest, AFileOfMoreChannelsHoldsTheChosenOnes) {
    const std::string path =
        sound("four.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 4, 8000, 0.25);
    WaveParseResult opened = openSoundFile(path);
    ASSERT_EQ(opened.status, WaveParseStatus::Header);
    EXPECT_EQ(opened.info.channels, 2);
    WaveFileInfo third = opened.info;
    ASSERT_TRUE(holdOneChannel(third, 3));
    EXPECT_FALSE(holdOneChannel(third, 5));
    auto loaded = loadAll(path, third);
    ASSERT_TRUE(loaded.store.has_value());
    // Channel 3 alone: its own sine, all 8000 frames of it.
    const auto held = heldChannel(*loaded.store, 1, 0);
    ASSERT_EQ(held.size(), 8000u);
    expectSine(held, 0.25, 441.0 * 3, 8000, 101);
}

// Offset of a four-byte id in a file's first bytes (its size when absent, so that writing
// there throws).
std::size_t idOffset(const Bytes& bytes, const char* id) {
    return static_cast<std::size_t>(std::search(bytes.begin(), bytes.end(), id, id + 4) -
                                    bytes.begin());
}

TEST_F(SoundFileTest, FilesBeyondFourGigabytesAreReadToTheirEnd) {
    // A sparse RF64 file of 5 GB of 16-bit mono: a real header, holes for samples.
    const std::string path =
        sound("big.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 48000, 1, 1000, 0.5);
    Bytes head = test::readFile(path);
    const std::size_t ds64 = idOffset(head, "ds64");
    const std::size_t data = idOffset(head, "data");
    const std::uint64_t dataBytes = (std::uint64_t{5} << 30) & ~std::uint64_t{1};
    test::putLeAt(head, ds64 + 8, data + 8 + dataBytes - 8, 8);
    test::putLeAt(head, ds64 + 16, dataBytes, 8);
    test::putLeAt(head, ds64 + 24, dataBytes / 2, 8);
    head.resize(data + 8);
    test::writeFile(path, head);
    std::filesystem::resize_file(path, data + 8 + dataBytes);

    const WaveParseResult opened = openSoundFile(path);
    ASSERT_EQ(opened.status, WaveParseStatus::Header);
    EXPECT_EQ(opened.info.dataLength, static_cast<std::int64_t>(dataBytes));
    // The whole length, not 2 GiB of it: 5 GiB of 48 kHz 16-bit mono.
    EXPECT_EQ(waveDataMsec(opened.info), static_cast<std::int64_t>(dataBytes / 2 * 1000 / 48000));
    // The last second is read from beyond 4 GB.
    const std::int64_t second = 48000 * 2;
    auto tail = loadSegment(path, opened.info.dataLength - second, second, opened.info.format(),
                            counter, opened.info.source());
    ASSERT_TRUE(tail.store.has_value());
    EXPECT_EQ(tail.store->heldBytes(), static_cast<std::size_t>(second));
    // Past its end nothing is read as if it were there.
    auto beyond = loadSegment(path, opened.info.dataLength - second, 2 * second,
                              opened.info.format(), counter, opened.info.source());
    EXPECT_FALSE(beyond.store.has_value());
    EXPECT_EQ(beyond.message, kErrorReadingFile);

    // The same size as a plain wave file's 32-bit header allows: 4 GB, not 2 GiB.
    const std::string wave = temp.file("big.wav");
    test::writeFile(wave, test::pcmWaveFile(16, 1, 48000, 16, Bytes(100)));
    Bytes whead = test::readFile(wave);
    const std::size_t wdata = idOffset(whead, "data");
    test::putLeAt(whead, wdata + 4, 0xFFFFFFF0u);
    test::writeFile(wave, whead);
    std::filesystem::resize_file(wave, wdata + 8 + 0xFFFFFFF0ULL);
    const WaveParseResult big = openSoundFile(wave);
    ASSERT_EQ(big.status, WaveParseStatus::Header);
    EXPECT_EQ(big.info.dataLength, 0xFFFFFFF0LL);

    // Past 4 GiB without RF64, both sizes 0xFFFFFFFF as ffmpeg writes them: the whole file.
    test::putLeAt(whead, 4, 0xFFFFFFFFu);
    test::putLeAt(whead, wdata + 4, 0xFFFFFFFFu);
    test::writeFile(wave, whead);
    std::filesystem::resize_file(wave, wdata + 8 + dataBytes);
    const WaveParseResult past = openSoundFile(wave);
    ASSERT_EQ(past.status, WaveParseStatus::Header);
    EXPECT_EQ(past.info.dataLength, static_cast<std::int64_t>(dataBytes));
    EXPECT_EQ(waveDataMsec(past.info), static_cast<std::int64_t>(dataBytes / 2 * 1000 / 48000));
}

TEST_F(SoundFileTest, DeclaredSizesAreCheckedAgainstTheFile) {
    // A W64 header declaring 5 GB of data in a file of a few KB.
    Bytes bytes =
        test::readFile(sound("lying.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 8000, 1, 2000, 0.5));
    const std::size_t data = idOffset(bytes, "data");
    test::putLeAt(bytes, data + 16, (std::uint64_t{5} << 30) + 24, 8);
    const WaveParseResult opened = openSoundFileBytes(bytes);
    if (opened.status == WaveParseStatus::Header) {
        EXPECT_LE(opened.info.dataLength, static_cast<std::int64_t>(bytes.size()));
    } else {
        EXPECT_TRUE(opened.message.has_value());
    }
    // A FLAC whose stream header claims far more samples than its frames hold: the frames
    // that are there are read, as the same file with a true header gives them.
    const std::string flac =
        sound("lying.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 40000, 0.5);
    const auto truth = loadSegment(flac, 0, 40000 * 2, openSoundFile(flac).info.format(), counter,
                                   openSoundFile(flac).info.source());
    ASSERT_TRUE(truth.store.has_value());
    Bytes f = test::readFile(flac);
    ASSERT_EQ(idOffset(f, "fLaC"), 0u);
    f.at(21) = static_cast<std::uint8_t>(f.at(21) | 0x0F); // the top bits of the 36-bit total
    test::writeFile(flac, f);
    const WaveParseResult lying = openSoundFile(flac);
    ASSERT_EQ(lying.status, WaveParseStatus::Header);
    EXPECT_EQ(lying.info.dataLength, 40000 * 2);
    auto whole = loadSegment(flac, 0, 40000 * 2, lying.info.format(), counter, lying.info.source());
    ASSERT_TRUE(whole.store.has_value());
    EXPECT_TRUE(std::ranges::equal(whole.store->samples(), truth.store->samples()));

    // Channel counts of 0 and 10000 in an AIFF header.
    Bytes a =
        test::readFile(sound("a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 8000, 1, 2000, 0.5));
    const std::size_t comm = idOffset(a, "COMM");
    for (const std::uint16_t channels : {std::uint16_t{0}, std::uint16_t{10000}}) {
        a.at(comm + 8) = static_cast<std::uint8_t>(channels >> 8);
        a.at(comm + 9) = static_cast<std::uint8_t>(channels & 0xFF);
        const WaveParseResult r = openSoundFileBytes(a);
        EXPECT_NE(r.status, WaveParseStatus::Header);
        EXPECT_TRUE(r.message.has_value());
    }
}

TEST_F(SoundFileTest, FilesWhoseHeaderGivesNoLengthAreReadToTheirEnd) {
    // A FLAC written to a pipe: its encoder could not go back to fill in the total or the MD5.
    Bytes flac =
        test::readFile(sound("pipe.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 40000, 0.5));
    ASSERT_EQ(idOffset(flac, "fLaC"), 0u);
    flac.at(21) = static_cast<std::uint8_t>(flac.at(21) & 0xF0); // the 36-bit total: 0
    std::fill(flac.begin() + 22, flac.begin() + 42, std::uint8_t{0});
    const std::string piped = temp.file("piped.flac");
    test::writeFile(piped, flac);
    const WaveParseResult unknown = openSoundFile(piped);
    ASSERT_EQ(unknown.status, WaveParseStatus::Header);
    EXPECT_EQ(unknown.info.dataLength, 40000 * 2);
    EXPECT_EQ(waveDataMsec(unknown.info), 5000);
    const auto all = loadAll(piped, unknown.info);
    ASSERT_TRUE(all.store.has_value());
    expectSine(heldChannel(*all.store, 1, 0), 0.5, 441.0, 8000.0, 997);

    // An Ogg file cut by one byte: its last page is gone, what comes before it is read.
    Bytes ogg =
        test::readFile(sound("whole.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1, 441000, 0.5));
    ogg.pop_back();
    const std::string cut = temp.file("cut.ogg");
    test::writeFile(cut, ogg);
    const WaveParseResult shortened = openSoundFile(cut);
    ASSERT_EQ(shortened.status, WaveParseStatus::Header);
    EXPECT_GT(shortened.info.dataLength, 220500 * 2);
    EXPECT_LE(shortened.info.dataLength, 441000 * 2);
    const auto read = loadAll(cut, shortened.info);
    ASSERT_TRUE(read.store.has_value());
    EXPECT_NEAR(rms(heldChannel(*read.store, 1, 0)), 0.5 * 32768.0 / std::sqrt(2.0), 300.0);
    // One cut inside its headers is no sound file (and, under the leak checker, leaves nothing
    // of what libvorbis made of them).
    ogg.resize(2400);
    EXPECT_NE(openSoundFileBytes(ogg).info.reader, SoundReader::SoundFile);

    // The length in msec of data near the most a file can declare, without overflow: 4e13
    // seconds and a half of 48 kHz 16-bit stereo.
    WaveFileInfo longest;
    longest.sampleRate = 48000;
    longest.channels = 2;
    longest.dataLength = std::int64_t{192000} * 40'000'000'000'000 + 96000;
    EXPECT_EQ(waveDataMsec(longest), 40'000'000'000'000'500);
}

// A 16-bit mono 8000 Hz wave file with `chunks` between its format and its data.
Bytes waveWith(const Bytes& chunks) {
    return test::monoWaveWith(chunks, 8000, Bytes(8000, 0));
}

Bytes textChunk(const char* id, const std::string& text) {
    Bytes chunk;
    Bytes payload(text.begin(), text.end());
    const auto size = static_cast<std::uint32_t>(payload.size());
    if (payload.size() % 2 == 1) {
        payload.push_back(0);
    }
    test::putChunk(chunk, id, size, payload);
    return chunk;
}

std::optional<std::string> startOf(const Bytes& file, std::int64_t frames = 0) {
    const WaveParseResult r = openSoundFileBytes(file);
    EXPECT_EQ(r.status, WaveParseStatus::Header);
    if (!r.info.recorded) {
        return std::nullopt;
    }
    return isoTimeText(*r.info.recorded, frames, r.info.sampleRate);
}

TEST(RecordingTimeTest, TheFilesOwnRecordingTimeIsFound) {
    // bext without a time reference: its origination time, whatever the separators (the
    // reference counted from midnight the tool's --absolute-time test reads).
    EXPECT_EQ(startOf(waveWith(test::bextChunk("2026:06:01", "09-15-30", 0))),
              "2026-06-01T09:15:30.000");
    // GUANO with its fraction and zone, after other lines; then the INFO date, 1.5 s on
    // into the next year; bext before either.
    const Bytes guano = textChunk("guan", "GUANO|Version: 1.0\nMake: Test\r\n"
                                          "Timestamp: 2025-03-04T21:15:00.5-05:00\r\n");
    Bytes info = {'I', 'N', 'F', 'O'};
    const Bytes icrd = textChunk("ICRD", std::string("2024-12-31 23:59:59") + '\0');
    info.insert(info.end(), icrd.begin(), icrd.end());
    Bytes list;
    test::putChunk(list, "LIST", static_cast<std::uint32_t>(info.size()), info);
    EXPECT_EQ(startOf(waveWith(guano)), "2025-03-04T21:15:00.500-05:00");
    EXPECT_EQ(startOf(waveWith(list), 12000), "2025-01-01T00:00:00.500");
    Bytes all = list;
    all.insert(all.end(), guano.begin(), guano.end());
    const Bytes bext = test::bextChunk("2026-06-01", "09:00:00", 0);
    all.insert(all.end(), bext.begin(), bext.end());
    EXPECT_EQ(startOf(waveWith(all)), "2026-06-01T09:00:00.000");
    // A date alone is shown but has no clock to count from.
    const WaveParseResult dateOnly =
        openSoundFileBytes(waveWith(textChunk("guan", "Timestamp: 2024-02-29")));
    ASSERT_TRUE(dateOnly.info.recorded);
    EXPECT_EQ(recordingTimeText(*dateOnly.info.recorded, 8000), "2024-02-29");
    EXPECT_EQ(isoTimeText(*dateOnly.info.recorded, 0, 8000), std::nullopt);

    // A FLAC's DATE comment, through libsndfile.
    test::TempFolder temp;
    const std::string flac = temp.file("dated.flac");
    ASSERT_TRUE(writeSound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 8000, 0.25,
                           "2023-07-08T10:11:12Z"));
    const WaveParseResult dated = openSoundFile(flac);
    ASSERT_TRUE(dated.info.recorded);
    EXPECT_EQ(isoTimeText(*dated.info.recorded, 4000, 8000), "2023-07-08T10:11:12.500Z");
}

TEST(RecordingTimeTest, HostileMetadataIsBoundedAndRefused) {
    // Dates and times that are none, and a reference of centuries.
    for (const auto& [date, time] :
         {std::pair{"2026-13-01", "00:00:00"}, std::pair{"2026-02-30", "00:00:00"},
          std::pair{"2026-06-01", "24:00:00"}, std::pair{"\xff\xff\xff\xff-06-01", "00:00:00"}}) {
        EXPECT_EQ(startOf(waveWith(test::bextChunk(date, time, 0))), std::nullopt) << date << time;
    }
    EXPECT_EQ(startOf(waveWith(test::bextChunk("2026-06-01", "00:00:00", ~0ULL))), std::nullopt);
    for (const char* text : {"Timestamp: 2025-03-04T21:15", "Timestamp: 2025-03-04T21:15:00+25:00",
                             "Timestamp: 2025-03-04X21:15:00", "Timestamp:"}) {
        EXPECT_EQ(openSoundFileBytes(waveWith(textChunk("guan", text))).info.recorded, std::nullopt)
            << text;
    }
    // Chunks declaring more than the file holds: a bext cut short, a LIST and an ICRD of
    // 4 GB, at the file's end.
    Bytes cut = waveWith({});
    const Bytes bext = test::bextChunk("2026-06-01", "09:00:00", 0);
    cut.insert(cut.end(), bext.begin(), bext.begin() + 300);
    EXPECT_EQ(startOf(cut), std::nullopt);
    Bytes huge = waveWith({});
    test::putChunk(huge, "LIST", 0xFFFFFFF0u,
                   {'I', 'N', 'F', 'O', 'I', 'C', 'R', 'D', 0xF0, 0xFF, 0xFF, 0xFF, '2'});
    EXPECT_EQ(startOf(huge), std::nullopt);
    // A list whose sub-chunk declares a negative size, in an RF64 file (libsndfile's to
    // read): its own walk of the list went round for ever. The file opens, with the date
    // ours reads.
    Bytes looping = {'I', 'N', 'F', 'O'};
    const Bytes icrd = textChunk("ICRD", std::string("2024-12-31 23:59:59") + '\0');
    looping.insert(looping.end(), icrd.begin(), icrd.end());
    test::putChunk(looping, "e411", 0xFFFFFFF7u, {});
    Bytes rf64;
    test::putId(rf64, "RF64");
    test::putLe32(rf64, 0xFFFFFFFFu);
    test::putId(rf64, "WAVE");
    test::putChunk(rf64, "ds64", 28, Bytes(28, 0));
    test::putChunk(rf64, "fmt ", 16, test::formatPayload(16, 1, 1, 8000, 16));
    test::putChunk(rf64, "LIST", static_cast<std::uint32_t>(looping.size()), looping);
    test::putChunk(rf64, "data", 8000, Bytes(8000, 0));
    test::putLeAt(rf64, 20, rf64.size() - 8, 8);
    test::putLeAt(rf64, 28, 8000, 8);
    test::putLeAt(rf64, 36, 4000, 8);
    const WaveParseResult listed = openSoundFileBytes(rf64);
    ASSERT_EQ(listed.status, WaveParseStatus::Header);
    EXPECT_EQ(listed.info.reader, SoundReader::SoundFile);
    ASSERT_TRUE(listed.info.recorded);
    EXPECT_EQ(isoTimeText(*listed.info.recorded, 0, 8000), "2024-12-31T23:59:59.000");
    // The last day four digits hold, and a time beyond it.
    const WaveParseResult late =
        openSoundFileBytes(waveWith(textChunk("guan", "Timestamp: 9999-12-31T23:59:59")));
    ASSERT_TRUE(late.info.recorded);
    EXPECT_EQ(isoTimeText(*late.info.recorded, 0, 8000), "9999-12-31T23:59:59.000");
    EXPECT_EQ(isoTimeText(*late.info.recorded, 8000, 8000), "+10000-01-01T00:00:00.000");
}

} // namespace
} // namespace korv
