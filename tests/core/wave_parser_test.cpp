#include "audio/wave_parser.h"

#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <tuple>

namespace korv {
namespace {

using test::Bytes;

class WaveParserTest : public ::testing::Test {
  protected:
    WaveParseResult parse(const Bytes& bytes, const std::string& name = "sound.wav") {
        const std::string path = temp.file(name);
        test::writeFile(path, bytes);
        return parseWaveHeader(path);
    }

    void expectRaw(const WaveParseResult& r, std::size_t fileSize) {
        EXPECT_EQ(r.status, WaveParseStatus::Raw);
        EXPECT_TRUE(r.goesOn());
        EXPECT_EQ(r.message, kNotPcmWaveFormat);
        EXPECT_EQ(r.info.channels, 1);
        EXPECT_EQ(r.info.sampleRate, 11025);
        EXPECT_EQ(r.info.bitsPerSample, 16);
        EXPECT_EQ(r.info.dataOffset, 0);
        EXPECT_EQ(r.info.dataLength, static_cast<std::int32_t>(fileSize));
        EXPECT_EQ(r.info.fileSize, static_cast<std::int32_t>(fileSize));
        EXPECT_FALSE(r.info.headerValid);
    }

    void expectRefused(const WaveParseResult& r, WaveParseStatus status, const UserMessage& m) {
        EXPECT_EQ(r.status, status);
        EXPECT_FALSE(r.goesOn());
        EXPECT_EQ(r.message, m);
    }

    // Chunks up to (not including) "data", filled with zeros so the sizes alone decide.
    static Bytes fmtThenJunk(std::uint32_t junkDeclared, std::size_t junkPayload) {
        Bytes chunks;
        test::putChunk(chunks, "fmt ", 16, test::formatPayload(16, 1, 1, 8000, 16));
        test::putChunk(chunks, "JUNK", junkDeclared, Bytes(junkPayload, 0));
        return test::riffFile(chunks);
    }

    test::TempFolder temp;
};

class WaveParserFormats
    : public WaveParserTest,
      public ::testing::WithParamInterface<
          std::tuple<std::uint32_t, std::uint16_t, std::uint16_t, std::uint32_t>> {};

TEST_P(WaveParserFormats, PcmFilesGiveTheirFormatAndDataPosition) {
    const auto [rate, channels, bits, fmtSize] = GetParam();
    const Bytes samples = test::sineSamples(3000, channels, bits, rate);
    const Bytes file = test::pcmWaveFile(fmtSize, channels, rate, bits, samples);
    const auto r = parse(file);

    ASSERT_EQ(r.status, WaveParseStatus::Header);
    EXPECT_FALSE(r.message.has_value());
    EXPECT_EQ(r.info.channels, channels);
    EXPECT_EQ(r.info.sampleRate, static_cast<std::int32_t>(rate));
    EXPECT_EQ(r.info.bitsPerSample, bits);
    // RIFF, size, WAVE; fmt id, size, payload; data id, size.
    EXPECT_EQ(r.info.dataOffset, static_cast<std::int32_t>(12 + 8 + fmtSize + 8));
    EXPECT_EQ(r.info.dataLength, static_cast<std::int32_t>(samples.size()));
    EXPECT_EQ(r.info.fileSize, static_cast<std::int32_t>(file.size()));
    EXPECT_TRUE(r.info.headerValid);
    EXPECT_EQ(r.openedFolder, temp.folder());
    // The samples really start there.
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), file.begin() + r.info.dataOffset));
}

INSTANTIATE_TEST_SUITE_P(
    RateChannelsBitsFmtSize, WaveParserFormats,
    ::testing::Combine(::testing::Values(8000u, 11025u, 22050u, 44100u, 48000u),
                       ::testing::Values<std::uint16_t>(1, 2),
                       ::testing::Values<std::uint16_t>(8, 16), ::testing::Values(16u, 18u, 40u)));

TEST_F(WaveParserTest, FileSizeDecidesBetweenTooSmallAndRaw) {
    const auto small = parse(test::noise(2047, 1), "small.raw");
    expectRefused(small, WaveParseStatus::SampleSizeTooSmall, kSampleSizeTooSmall);
    EXPECT_EQ(small.message->icon, MessageIcon::Stop);
    // The file was opened, so the folder is remembered even though it is refused.
    EXPECT_EQ(small.openedFolder, temp.folder());

    expectRaw(parse(test::noise(2048, 2), "edge.raw"), 2048);
    // A short file shaped like a wave file is still too small.
    const Bytes tiny = test::pcmWaveFile(16, 1, 8000, 16, Bytes(1000, 0));
    expectRefused(parse(tiny), WaveParseStatus::SampleSizeTooSmall, kSampleSizeTooSmall);
}

TEST_F(WaveParserTest, FilesThatCannotBeOpenedEndTheCommandWithoutAFolder) {
    const auto missing = parseWaveHeader(temp.file("missing.wav"));
    expectRefused(missing, WaveParseStatus::CannotOpenFile, kCannotOpenFile);
    EXPECT_EQ(missing.message->icon, MessageIcon::Warning);
    EXPECT_FALSE(missing.openedFolder.has_value());

    std::filesystem::create_directory(temp.file("folder.wav"));
    expectRefused(parseWaveHeader(temp.file("folder.wav")), WaveParseStatus::CannotOpenFile,
                  kCannotOpenFile);
}

TEST_F(WaveParserTest, FmtIdIsSearchedOnlyInTheFirst512Bytes) {
    auto withFmtAt = [](std::size_t at) {
        Bytes file(at, 0x55);
        test::putChunk(file, "fmt ", 16, test::formatPayload(16, 1, 2, 22050, 8));
        test::putChunk(file, "data", 4000, test::noise(4000, 3));
        return file;
    };
    const auto at511 = parse(withFmtAt(511));
    ASSERT_EQ(at511.status, WaveParseStatus::Header);
    EXPECT_EQ(at511.info.dataOffset, 511 + 24 + 8);
    EXPECT_EQ(at511.info.channels, 2);

    const Bytes late = withFmtAt(512);
    expectRaw(parse(late), late.size());
}

TEST_F(WaveParserTest, RiffAndWaveWordsAreNotRequired) {
    Bytes file;
    test::putChunk(file, "fmt ", 16, test::formatPayload(16, 1, 1, 11025, 16));
    test::putChunk(file, "data", 3000, test::noise(3000, 4));
    const auto r = parse(file);
    ASSERT_EQ(r.status, WaveParseStatus::Header);
    EXPECT_EQ(r.info.dataOffset, 32);
    EXPECT_EQ(r.info.dataLength, 3000);
}

TEST_F(WaveParserTest, NonPcmAndWiderFormatsAreRefused) {
    struct Case {
        const char* what;
        std::uint16_t tag, channels, bits;
        std::uint32_t rate;
    };
    const Case cases[] = {
        {"float", 3, 1, 32, 44100},       {"extensible", 0xFFFE, 2, 16, 44100},
        {"24-bit", 1, 2, 24, 44100},      {"3 channels", 1, 3, 16, 44100},
        {"no channels", 1, 0, 16, 44100}, {"12-bit", 1, 1, 12, 8000},
        {"rate 0", 1, 1, 16, 0},          {"negative rate", 1, 1, 16, 0x80000000u},
    };
    for (const auto& c : cases) {
        Bytes chunks;
        test::putChunk(chunks, "fmt ", 16,
                       test::formatPayload(16, c.tag, c.channels, c.rate, c.bits));
        test::putChunk(chunks, "data", 4000, test::noise(4000, 5));
        const auto r = parse(test::riffFile(chunks));
        expectRefused(r, WaveParseStatus::AdvancedFormat, kAdvancedWaveFormat);
        EXPECT_EQ(r.openedFolder, temp.folder()) << c.what;
    }
}

TEST_F(WaveParserTest, OtherChunksBeforeDataAreSkippedByTheirDeclaredSize) {
    Bytes chunks;
    test::putChunk(chunks, "fmt ", 18, test::formatPayload(18, 1, 2, 44100, 16));
    test::putChunk(chunks, "LIST", 26, Bytes(26, 'x'));
    // Odd size, and no pad byte after it: the next id follows at once.
    test::putChunk(chunks, "note", 5, Bytes{'h', 'e', 'l', 'l', 'o'});
    test::putChunk(chunks, "data", 4000, test::noise(4000, 6));
    const auto r = parse(test::riffFile(chunks));
    ASSERT_EQ(r.status, WaveParseStatus::Header);
    EXPECT_EQ(r.info.dataOffset, 12 + 26 + 34 + 13 + 8);
    EXPECT_EQ(r.info.dataLength, 4000);
}

TEST_F(WaveParserTest, PadByteAfterAnOddChunkIsNotSkipped) {
    // A writer that pads odd chunks: the walk lands one byte early, reads "\0dat" and a
    // size made of "a" and the data size (0x000FA061), which leaves the buffer.
    Bytes chunks;
    test::putChunk(chunks, "fmt ", 16, test::formatPayload(16, 1, 1, 8000, 16));
    test::putChunk(chunks, "note", 5, Bytes{'h', 'e', 'l', 'l', 'o', 0});
    test::putChunk(chunks, "data", 4000, test::noise(4000, 7));
    const Bytes file = test::riffFile(chunks);
    expectRaw(parse(file), file.size());
}

TEST_F(WaveParserTest, ChainNearTheEndOfTheBytesRead) {
    // JUNK id at 36; its declared size puts the next id at `next`.
    auto chain = [](std::size_t next, const char* id) {
        Bytes file = fmtThenJunk(static_cast<std::uint32_t>(next - 44), next - 44);
        test::putChunk(file, id, 2000, Bytes(2000, 0x11));
        if (std::string(id) != "data") {
            test::putChunk(file, "data", 2000, Bytes(2000, 0x22));
        }
        return file;
    };
    // "data" whose size field still lies in the 8192 bytes.
    const auto last = parse(chain(8184, "data"));
    ASSERT_EQ(last.status, WaveParseStatus::Header);
    EXPECT_EQ(last.info.dataOffset, 8192);
    EXPECT_EQ(last.info.dataLength, 2000);

    // Any other chunk there: its size field would be read at 8188.
    const Bytes other = chain(8180, "LIST");
    expectRaw(parse(other), other.size());
    // An id whose size field would reach past the bytes read.
    const Bytes straddling = chain(8186, "data");
    expectRaw(parse(straddling), straddling.size());
}

TEST_F(WaveParserTest, HostileChunkSizesMakeTheFileRaw) {
    // Huge, negative when read signed (one of them would point straight back at the same
    // id), and pointing just past the buffer.
    for (const std::uint32_t declared :
         {0x7FFFFFF0u, 0xFFFFFFFFu, 0xFFFFFFF8u, 0x80000000u, 8200u}) {
        Bytes file = fmtThenJunk(declared, 40);
        test::putChunk(file, "data", 4000, Bytes(4000, 0));
        SCOPED_TRACE(declared);
        expectRaw(parse(file), file.size());
    }
    // A zero-filled tail: the walk steps 8 bytes at a time to the end and gives up.
    Bytes zeros = fmtThenJunk(0, 0);
    zeros.resize(9000, 0);
    expectRaw(parse(zeros), zeros.size());
}

TEST_F(WaveParserTest, DeclaredDataLengthIsCutToTheFile) {
    for (const std::uint32_t declared : {5000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes chunks;
        test::putChunk(chunks, "fmt ", 16, test::formatPayload(16, 1, 1, 8000, 8));
        test::putChunk(chunks, "data", declared, test::noise(3000, 8));
        const Bytes file = test::riffFile(chunks);
        const auto r = parse(file);
        ASSERT_EQ(r.status, WaveParseStatus::Header);
        EXPECT_EQ(r.info.dataOffset, 44);
        EXPECT_EQ(r.info.dataLength, 3000) << declared;
    }
    // A file that ends right after the data chunk's header holds no samples.
    Bytes empty = fmtThenJunk(3000 - 44, 3000 - 44);
    test::putChunk(empty, "data", 4000, {});
    const auto r = parse(empty);
    ASSERT_EQ(r.status, WaveParseStatus::Header);
    EXPECT_EQ(r.info.dataOffset, 3008);
    EXPECT_EQ(r.info.dataLength, 0);
}

TEST_F(WaveParserTest, ByteParserStaysWithinShortAndOverlongInputs) {
    // Only the bytes given are read, the rest counts as zero: a format tag beyond the
    // span is 0, and a walk from a short span runs through the zero padding.
    const Bytes noTag = {'f', 'm', 't', ' ', 1, 0};
    expectRefused(parseWaveHeaderBytes(noTag, 100000), WaveParseStatus::AdvancedFormat,
                  kAdvancedWaveFormat);
    const Bytes pcmTag = {'f', 'm', 't', ' ', 0, 0, 0, 0, 1, 0};
    expectRaw(parseWaveHeaderBytes(pcmTag, 100000), 100000);

    // Nothing past byte 8192 is looked at.
    Bytes longHead(9000, 0);
    const Bytes fmt = test::pcmWaveFile(16, 1, 8000, 16, {});
    std::copy(fmt.begin(), fmt.end(), longHead.begin() + 8192);
    expectRaw(parseWaveHeaderBytes(longHead, 9000), 9000);

    // Files beyond 2 GiB are described by their first 2^31 - 1 bytes.
    const auto big = parseWaveHeaderBytes(test::noise(100, 9), std::int64_t{5} << 31);
    expectRaw(big, 0x7FFFFFFF);
}

TEST_F(WaveParserTest, RandomHeadersKeepEveryResultInsideTheFile) {
    std::mt19937 gen(1234);
    for (int round = 0; round < 3000; ++round) {
        Bytes head = test::noise(std::uniform_int_distribution<std::size_t>(0, 9000)(gen),
                                 static_cast<unsigned>(round));
        // Plant ids so the walk gets going.
        auto plant = [&](const char* id) {
            if (head.size() >= 8) {
                const auto at = std::uniform_int_distribution<std::size_t>(0, head.size() - 8)(gen);
                std::copy(id, id + 4, head.begin() + static_cast<std::ptrdiff_t>(at));
            }
        };
        plant("fmt ");
        plant("data");
        if (head.size() > 30 && round % 2 == 0) {
            head[20] = 1; // format tag 1 for "fmt " planted at 12
            head[21] = 0;
            std::copy_n("fmt ", 4, head.begin() + 12);
        }
        const std::int64_t fileSize = std::uniform_int_distribution<std::int64_t>(0, 20000)(gen);
        const auto res = parseWaveHeaderBytes(head, fileSize);
        if (res.status == WaveParseStatus::Header) {
            EXPECT_TRUE(res.info.channels == 1 || res.info.channels == 2);
            EXPECT_TRUE(res.info.bitsPerSample == 8 || res.info.bitsPerSample == 16);
            EXPECT_GT(res.info.sampleRate, 0);
            EXPECT_LE(res.info.dataOffset, 8192);
            EXPECT_GE(res.info.dataLength, 0);
            EXPECT_LE(std::int64_t{res.info.dataOffset} + res.info.dataLength,
                      std::max<std::int64_t>(fileSize, res.info.dataOffset));
        } else if (res.status == WaveParseStatus::Raw) {
            EXPECT_EQ(res.info.dataLength, fileSize);
        }
        EXPECT_EQ(res.status == WaveParseStatus::SampleSizeTooSmall, fileSize < 2048);
    }
}

TEST(WaveFolderTest, FolderIsThePathUpToItsLastSlash) {
    EXPECT_EQ(folderOfPath("/home/a/b.wav"), "/home/a/");
    EXPECT_EQ(folderOfPath("/b.wav"), "/");
    EXPECT_EQ(folderOfPath("b.wav"), "");
    EXPECT_EQ(folderOfPath("rel/dir/"), "rel/dir/");
}

} // namespace
} // namespace korv
