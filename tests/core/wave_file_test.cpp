#include "audio/wave_file.h"

#include "audio/recording.h"
#include "audio/wave_header.h"
#include "audio/wave_parser.h"
#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <tuple>
#include <vector>

namespace korv {
namespace {

using test::Bytes;

Bytes built(std::uint16_t channels, std::int32_t rate, std::uint16_t bits, std::uint32_t data) {
    Bytes block(WAVE_HEADER_SIZE + 3, 0xEE);
    buildWaveHeader(WaveHeaderBytes(block.data(), WAVE_HEADER_SIZE), channels, rate, bits, data);
    return block;
}

// The header's layout assembled by the tests' own writer, not the header code: RIFF (its size
// counting the data), a PCM format chunk of 18 bytes, the data chunk's header.
Bytes headerLayout(std::uint16_t channels, std::int32_t rate, std::uint16_t bits,
                   std::uint32_t dataBytes) {
    Bytes chunks;
    const auto hz = static_cast<std::uint32_t>(rate);
    test::putChunk(chunks, "fmt ", 18, test::formatPayload(18, 1, channels, hz, bits));
    test::putChunk(chunks, "data", dataBytes, {});
    Bytes header = test::riffFile(chunks);
    test::putLeAt(header, 4, dataBytes + 38);
    return header;
}

// Whole headers match that layout with nothing written beyond them; rewriting the sizes or the
// format touches only their own fields.
TEST(WaveHeaderTest, HeadersMatchTheLayoutAndRewritesTouchOnlyTheirOwnFields) {
    const auto laid = [](std::uint16_t channels, std::int32_t rate, std::uint16_t bits,
                         std::uint32_t dataBytes) {
        Bytes block = headerLayout(channels, rate, bits, dataBytes);
        block.resize(WAVE_HEADER_SIZE + 3, 0xEE);
        return block;
    };
    const Bytes original = built(1, 11025, 8, 5000);
    EXPECT_EQ(original, laid(1, 11025, 8, 5000));
    EXPECT_EQ(built(2, 48000, 16, 123457), laid(2, 48000, 16, 123457));

    Bytes sized = original;
    setWaveHeaderDataBytes(WaveHeaderBytes(sized.data(), WAVE_HEADER_SIZE), 777);
    EXPECT_EQ(sized, laid(1, 11025, 8, 777));
    Bytes reformatted = original;
    setWaveHeaderFormat(WaveHeaderBytes(reformatted.data(), WAVE_HEADER_SIZE), {2, 22050, 16});
    EXPECT_EQ(reformatted, laid(2, 22050, 16, 5000));
}

class WaveFileTest : public ::testing::Test {
  protected:
    test::TempFolder temp;
    AllocationCounter counter;
};

class WaveSegmentFormats : public WaveFileTest,
                           public ::testing::WithParamInterface<
                               std::tuple<std::int32_t, std::uint16_t, test::FileEncoding>> {};

// A file of every encoding gives its format and data position, and a stretch of it is read
// behind a header and saved back as a wave file.
TEST_P(WaveSegmentFormats, FilesGiveTheirFormatAndAStretchIsSavedBackAsAWaveFile) {
    const auto [rate, channels, e] = GetParam();
    const auto frames = 20000;
    const Bytes samples =
        test::sineSamples(frames, channels, e.bits, rate, e.subformat == 3 ? 3 : 1);
    const auto hz = static_cast<std::uint32_t>(rate);
    const Bytes file =
        test::pcmWaveFile(e.fmtSize, channels, hz, e.bits, samples, e.tag, e.subformat);
    const std::string path = temp.file("in.wav");
    test::writeFile(path, file);

    const auto info = parseWaveHeader(path);
    ASSERT_EQ(info.status, WaveParseStatus::Header);
    EXPECT_FALSE(info.message.has_value());
    const WaveFormat format = info.info.format();
    // Wider encodings are held as 16-bit samples, and their length counts those.
    EXPECT_EQ(format,
              (WaveFormat{channels, rate, static_cast<std::uint16_t>(e.bits == 8 ? 8 : 16)}));
    EXPECT_EQ(encodingBytes(info.info.encoding), e.width);
    EXPECT_EQ(info.info.encoding == WaveEncoding::Float32, e.subformat == 3);
    EXPECT_EQ(info.info.dataLength,
              static_cast<std::int64_t>(e.converted ? frames * channels * 2 : samples.size()));
    // RIFF, size, WAVE; fmt id, size, payload; data id, size (the stretch read below proves
    // the samples start there).
    EXPECT_EQ(info.info.dataOffset, static_cast<std::int32_t>(12 + 8 + e.fmtSize + 8));
    EXPECT_EQ(info.info.fileSize, static_cast<std::int64_t>(file.size()));
    EXPECT_TRUE(info.info.headerValid);
    EXPECT_EQ(info.openedFolder, temp.folder());
    // A stretch from frame 1000, 15000 frames long, in the frames the store holds (several
    // blocks of conversion for the wider encodings).
    const std::int64_t frame = format.bytesPerFrame();
    const std::int64_t length = 15000 * frame;
    auto loaded = loadSegment(path, info.info.dataOffset + 1000 * frame, length, format, counter,
                              info.info.source());
    ASSERT_TRUE(loaded.store.has_value());
    EXPECT_FALSE(loaded.message.has_value());
    SampleStore& store = *loaded.store;
    EXPECT_EQ(counter.openAllocations(), 1);
    EXPECT_TRUE(store.waveDataAvailable());
    ASSERT_EQ(store.heldBytes(), static_cast<std::size_t>(length));
    EXPECT_EQ(
        Bytes(store.block().begin(), store.block().begin() + WAVE_HEADER_SIZE),
        headerLayout(channels, rate, format.bitsPerSample, static_cast<std::uint32_t>(length)));
    const ConstWaveHeaderBytes header(store.block().data(), WAVE_HEADER_SIZE);
    EXPECT_EQ(waveHeaderFormat(header), format);
    EXPECT_EQ(waveHeaderBlockAlign(header), channels * format.bitsPerSample / 8);
    EXPECT_EQ(waveHeaderDataBytes(header), length);
    if (e.converted) {
        // The same sine written in 16 bits, within one step.
        const Bytes twin = test::sineSamples(frames, channels, 16, rate);
        const std::size_t first = 1000 * channels;
        for (std::size_t i = 0; i < static_cast<std::size_t>(length) / 2; ++i) {
            ASSERT_NEAR(test::sample16(store.samples().data(), i),
                        test::sample16(twin.data(), first + i), 1)
                << "sample " << i;
        }
    } else {
        EXPECT_TRUE(std::equal(store.samples().begin(), store.samples().end(),
                               samples.begin() + 1000 * frame));
    }

    const std::string out = temp.file("out.wav");
    const auto saved = saveWaveFile(out, store);
    EXPECT_FALSE(saved.message.has_value());
    EXPECT_EQ(saved.openedFolder, temp.folder());
    // The header's own layout above; the parser's reading of such a header is its tests'.
    EXPECT_EQ(test::readFile(out), Bytes(store.block().begin(), store.block().end()));
}

INSTANTIATE_TEST_SUITE_P(RateChannelsEncoding, WaveSegmentFormats,
                         ::testing::Combine(::testing::Values(8000, 11025, 44100, 48000),
                                            ::testing::Values<std::uint16_t>(1, 2),
                                            ::testing::ValuesIn(test::kFileEncodings)));

// Rounded to nearest (ties up), clipped at full scale; floats of full scale 32768.
TEST(SampleConversionTest, WideSamplesRoundAndClipTo16Bits) {
    const auto f = [](float v) { return std::bit_cast<std::uint32_t>(v); };
    // The encoding, the sample's little-endian bytes, and the 16-bit sample held.
    for (const auto& [encoding, bits, held] :
         {std::tuple{WaveEncoding::Pcm24, 0x7FFFFFu, std::int16_t{32767}},
          {WaveEncoding::Pcm24, 0x800000, -32768},
          {WaveEncoding::Pcm24, 0x00017F, 1},
          {WaveEncoding::Pcm24, 0x000180, 2},
          {WaveEncoding::Pcm24, 0xFFFF80, 0},
          {WaveEncoding::Pcm24, 0xFFFF7F, -1},
          {WaveEncoding::Pcm24, 0xFFFE80, -1},
          {WaveEncoding::Pcm32, 0x7FFFFFFF, 32767},
          {WaveEncoding::Pcm32, 0x80000000, -32768},
          {WaveEncoding::Pcm32, 0x00018000, 2},
          {WaveEncoding::Pcm32, 0xFFFF7FFF, -1},
          {WaveEncoding::Float32, f(1.0f), 32767},
          {WaveEncoding::Float32, f(-1.0f), -32768},
          {WaveEncoding::Float32, f(0.5f), 16384},
          {WaveEncoding::Float32, f(-3.0f / 65536), -1},
          {WaveEncoding::Float32, f(7.0f), 32767},
          {WaveEncoding::Float32, f(-INFINITY), -32768},
          {WaveEncoding::Float32, f(NAN), 0},
          {WaveEncoding::Float32, f(1.2f / 32768), 1}}) {
        Bytes in;
        test::putLe32(in, bits);
        in.resize(static_cast<std::size_t>(encodingBytes(encoding)));
        Bytes out(4, 0xEE);
        EXPECT_EQ(convertSamplesTo16(encoding, in, out), 1u);
        EXPECT_EQ(test::sample16(out.data(), 0), held) << std::hex << bits;
        EXPECT_EQ(out[2], 0xEE);
    }
}

TEST_F(WaveFileTest, SegmentMustLieWithinTheFile) {
    const Bytes bytes = test::noise(6000, 11);
    const std::string path = temp.file("raw.dat");
    test::writeFile(path, bytes);
    const WaveFormat raw{};

    // Up to the last byte is fine.
    auto atEnd = loadSegment(path, 4000, 2000, raw, counter);
    ASSERT_TRUE(atEnd.store.has_value());
    EXPECT_TRUE(std::equal(bytes.begin() + 4000, bytes.end(), atEnd.store->samples().begin()));
    atEnd.store.reset();
    EXPECT_EQ(counter.openAllocations(), 0);

    // One byte past the end, a start beyond it, negative values: refused, nothing held.
    const std::pair<std::int64_t, std::int64_t> bad[] = {
        {4000, 2001}, {6001, 0}, {-1, 100}, {0, -1}, {0, std::int64_t{1} << 40}};
    for (const auto& [start, length] : bad) {
        const auto r = loadSegment(path, start, length, raw, counter);
        EXPECT_FALSE(r.store.has_value()) << start << " " << length;
        EXPECT_EQ(r.message, kErrorReadingFile);
        EXPECT_FALSE(r.reloadSettings);
    }
    EXPECT_EQ(counter.openAllocations(), 0);

    const auto missing = loadSegment(temp.file("gone.wav"), 0, 10, raw, counter);
    EXPECT_FALSE(missing.store.has_value());
    EXPECT_EQ(missing.message, kCannotOpenFile);
}

TEST_F(WaveFileTest, CutOffRecordingLoadsWhatIsThereAndNoMore) {
    // The header promises 100000 bytes; only 3000 made it to disk.
    for (const int bits : {16, 24}) {
        SCOPED_TRACE(bits);
        Bytes chunks;
        test::putChunk(chunks, "fmt ", 16,
                       test::formatPayload(16, 1, 1, 8000, static_cast<std::uint16_t>(bits)));
        const Bytes samples = test::noise(3000, 12);
        test::putChunk(chunks, "data", 100000, samples);
        const std::string path = temp.file("cut.wav");
        test::writeFile(path, test::riffFile(chunks));

        const auto parsed = parseWaveHeader(path);
        ASSERT_EQ(parsed.status, WaveParseStatus::Header);
        const WaveFileInfo& info = parsed.info;
        ASSERT_EQ(info.dataLength, bits == 16 ? 3000 : 2000);
        auto whole = loadSegment(path, info.dataOffset, info.dataLength, info.format(), counter,
                                 info.source());
        ASSERT_TRUE(whole.store.has_value());
        for (std::size_t i = 0; i < 1000; ++i) {
            const std::uint8_t* at = samples.data() + i * static_cast<std::size_t>(bits / 8);
            ASSERT_EQ(test::sample16(whole.store->samples().data(), i),
                      bits == 16 ? test::sample16(samples.data(), i)
                                 : sampleTo16(WaveEncoding::Pcm24, at));
        }

        // Asking for more than is there is refused rather than padded; so is, for a converted
        // file, a stretch that does not start on a held sample or that is held as 8-bit.
        std::vector<std::tuple<std::int64_t, std::int64_t, WaveFormat>> refused = {
            {info.dataOffset, info.dataLength + 2, info.format()},
            {info.dataOffset + 2, info.dataLength, info.format()},
            {info.dataOffset, 100000, info.format()},
        };
        if (bits == 24) {
            refused.insert(refused.end(), {{info.dataOffset + 1, 2, info.format()},
                                           {info.dataOffset - 2, 2, info.format()},
                                           {info.dataOffset, 1000, WaveFormat{1, 8000, 8}}});
        }
        for (const auto& [start, length, format] : refused) {
            const auto r = loadSegment(path, start, length, format, counter, info.source());
            EXPECT_FALSE(r.store.has_value()) << start << " " << length;
            EXPECT_EQ(r.message, kErrorReadingFile);
            EXPECT_EQ(r.message->icon, MessageIcon::Stop);
        }
    }
    EXPECT_EQ(counter.openAllocations(), 0);
}

TEST_F(WaveFileTest, SaveWaveWritesWholeFramesOnlyAndTellsItsFailures) {
    // The format, the bytes held, and the whole frames written of them.
    for (const auto& [format, held, written] :
         {std::tuple{WaveFormat{1, 11025, 16}, std::size_t{1001}, std::size_t{1000}},
          {{2, 44100, 16}, 1003, 1000},
          {{2, 8000, 8}, 1001, 1000},
          {{1, 8000, 8}, 1001, 1001}}) {
        const Bytes samples = test::noise(held, 13);
        const std::string in = temp.file("in.raw");
        test::writeFile(in, samples);
        auto loaded = loadSegment(in, 0, static_cast<std::int64_t>(held), format, counter);
        ASSERT_TRUE(loaded.store.has_value());

        const std::string out = temp.file("out.wav");
        const auto saved = saveWaveFile(out, *loaded.store);
        EXPECT_FALSE(saved.message.has_value());
        EXPECT_EQ(saved.dataBytes, written);
        Bytes want = headerLayout(format.channels, format.sampleRate, format.bitsPerSample,
                                  static_cast<std::uint32_t>(written));
        want.insert(want.end(), samples.begin(),
                    samples.begin() + static_cast<std::ptrdiff_t>(written));
        EXPECT_EQ(test::readFile(out), want);
    }

    // The failures, told in the program's words.
    auto loaded = loadSegment(temp.file("in.raw"), 0, 1000, WaveFormat{2, 22050, 16}, counter);
    ASSERT_TRUE(loaded.store.has_value());
    SampleStore& store = *loaded.store;

    // A device that takes nothing: the command reports the short write.
    const auto full = saveWaveFile("/dev/full", store);
    EXPECT_EQ(full.message, kErrorWritingFile);
    EXPECT_EQ(full.message->icon, MessageIcon::Stop);
    EXPECT_EQ(full.openedFolder, "/dev/");

    // A file that may not grow past 1000 bytes: the short write leaves no torn file behind.
    const std::string torn = temp.file("torn.wav");
    const auto shortWrite =
        test::underFileSizeLimit(1000, [&] { return saveWaveFile(torn, store); });
    EXPECT_EQ(shortWrite.message, kErrorWritingFile);
    EXPECT_FALSE(std::filesystem::exists(torn));

    const auto noFolder = saveWaveFile(temp.file("no/such/folder.wav"), store);
    EXPECT_EQ(noFolder.message, kCannotOpenFile);
    EXPECT_FALSE(noFolder.openedFolder.has_value());

    // Without wave data nothing happens at all.
    store.setWaveDataAvailable(false);
    const std::string out = temp.file("never.wav");
    const auto skipped = saveWaveFile(out, store);
    EXPECT_FALSE(skipped.message.has_value());
    EXPECT_FALSE(skipped.openedFolder.has_value());
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(WaveFileTest, StoresCountWhileTheyHoldABlock) {
    auto a = SampleStore::allocate(100, counter);
    auto b = SampleStore::allocate(0, counter);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(counter.openAllocations(), 2);
    EXPECT_EQ(a->block().size(), 146u);
    EXPECT_EQ(b->heldBytes(), 0u);
    EXPECT_TRUE(std::all_of(a->block().begin(), a->block().end(), [](auto v) { return v == 0; }));

    // Moving hands the block over without counting it twice.
    SampleStore moved = std::move(*a);
    a.reset();
    EXPECT_EQ(counter.openAllocations(), 2);
    EXPECT_EQ(moved.heldBytes(), 100u);
    // Assigning over a store releases the block it held.
    moved = std::move(*b);
    EXPECT_EQ(counter.openAllocations(), 1);
    EXPECT_EQ(moved.heldBytes(), 0u);
    b.reset();
    EXPECT_EQ(counter.openAllocations(), 1);
    { const SampleStore gone = std::move(moved); }
    EXPECT_EQ(counter.openAllocations(), 0);

    // A block that cannot be had is not counted.
    EXPECT_FALSE(SampleStore::allocate(SIZE_MAX - 10, counter).has_value());
    EXPECT_EQ(counter.openAllocations(), 0);
}

// (A recording nearing its size limit is the Scan Input recording tests'.)
TEST_F(WaveFileTest, RecordingBuffersAndPresses) {
    // Buffers of 2N / rate seconds, at least 4: only 16384 points at 5513 Hz reach 5.
    for (const std::int32_t rate : {5513, 11025, 22050, 44100, 48000}) {
        for (int n = 64; n <= 16384; n *= 2) {
            EXPECT_EQ(captureBufferSeconds(n, rate), rate == 5513 && n == 16384 ? 5 : 4)
                << n << " " << rate;
        }
    }
    // Press offsets: whole multiples of 4 bytes inside the buffer, whenever the press came.
    const WaveFormat stereo{2, 11025, 16};
    const std::int64_t bytes = 4LL * 11025 * 4;
    EXPECT_EQ(pressOffset(1100.0, 100.0, stereo, bytes), 11025 * 4);
    EXPECT_EQ(pressOffset(100.1, 100.0, stereo, bytes), 4);
    EXPECT_EQ(pressOffset(50.0, 100.0, stereo, bytes), 0);
    EXPECT_EQ(pressOffset(9000.0, 100.0, stereo, bytes), bytes);
}

} // namespace
} // namespace korv
