#include "audio/wave_parser.h"

#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <span>
#include <tuple>
#include <vector>

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
        EXPECT_EQ(r.info.format(), (WaveFormat{1, 11025, 16}));
        EXPECT_EQ(r.info.dataOffset, 0);
        const auto size = static_cast<std::int64_t>(fileSize);
        EXPECT_EQ(std::pair(r.info.dataLength, r.info.fileSize), std::pair(size, size));
        EXPECT_FALSE(r.info.headerValid);
    }

    // A header, its data held from `offset` for `length` bytes.
    static void expectData(const WaveParseResult& r, std::int64_t offset, std::int64_t length) {
        ASSERT_EQ(r.status, WaveParseStatus::Header);
        EXPECT_EQ(std::pair(r.info.dataOffset, r.info.dataLength), std::pair(offset, length));
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

TEST_F(WaveParserTest, FileSizeDecidesBetweenTooSmallAndRaw) {
    const auto small = parse(test::noise(2047, 1), "small.raw");
    expectRefused(small, WaveParseStatus::SampleSizeTooSmall, kSampleSizeTooSmall);
    EXPECT_EQ(small.message->icon, MessageIcon::Stop);
    // The file was opened, so the folder is remembered even though it is refused.
    EXPECT_EQ(small.openedFolder, temp.folder());

    expectRaw(parse(test::noise(2048, 2), "edge.raw"), 2048);
    // (A short file shaped like a wave file is refused as the window's and the tool's tests
    // show with their tiny.wav.)
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

// Neither RIFF nor WAVE is required before the format chunk, but it must start within
// the first 512 bytes.
TEST_F(WaveParserTest, FmtIdIsSearchedOnlyInTheFirst512Bytes) {
    auto withFmtAt = [](std::size_t at) {
        Bytes file(at, 0x55);
        test::putChunk(file, "fmt ", 16, test::formatPayload(16, 1, 2, 22050, 8));
        test::putChunk(file, "data", 4000, test::noise(4000, 3));
        return file;
    };
    for (const std::size_t at : {0U, 511U}) {
        SCOPED_TRACE(at);
        const auto r = parse(withFmtAt(at));
        expectData(r, static_cast<std::int64_t>(at + 24 + 8), 4000);
        EXPECT_EQ(r.info.channels, 2);
    }
    const Bytes late = withFmtAt(512);
    expectRaw(parse(late), late.size());
}

TEST_F(WaveParserTest, CompressedAndOtherFormatsAreRefused) {
    struct Case {
        const char* what;
        std::uint16_t tag, channels, bits, subformat;
        std::uint32_t rate, fmtSize;
    };
    const Case cases[] = {
        {"ADPCM", 2, 1, 4, 0, 44100, 20},
        {"A-law", 6, 1, 8, 0, 8000, 18},
        {"mu-law", 7, 1, 8, 0, 8000, 18},
        {"MPEG", 0x55, 2, 0, 0, 44100, 30},
        {"64-bit float", 3, 1, 64, 0, 44100, 18},
        {"16-bit float", 3, 1, 16, 0, 44100, 18},
        {"extensible ADPCM", 0xFFFE, 2, 16, 2, 44100, 40},
        {"extensible without its GUID", 0xFFFE, 2, 16, 1, 44100, 18},
        {"3 channels", 1, 3, 16, 0, 44100, 16},
        {"extensible 6 channels", 0xFFFE, 6, 24, 1, 48000, 40},
        {"no channels", 1, 0, 16, 0, 44100, 16},
        {"12-bit", 1, 1, 12, 0, 8000, 16},
        {"rate 0", 1, 1, 16, 0, 0, 16},
        {"negative rate", 1, 1, 16, 0, 0x80000000u, 16},
        {"rate past 384 kHz", 1, 1, 16, 0, 1048584000u, 16},
    };
    for (const auto& c : cases) {
        const auto r = parse(test::pcmWaveFile(c.fmtSize, c.channels, c.rate, c.bits,
                                               test::noise(4000, 5), c.tag, c.subformat));
        SCOPED_TRACE(c.what);
        expectRefused(r, WaveParseStatus::AdvancedFormat, kAdvancedWaveFormat);
        EXPECT_EQ(r.openedFolder, temp.folder());
    }
}

// Chunks as recorders and editors lay them out. A chunk of odd size is followed by a pad
// byte (or, from some writers, not).
TEST_F(WaveParserTest, FmtAndDataAreFoundWhereverTheChunkListPutsThem) {
    struct Chunk {
        const char* id;
        std::size_t size;
        bool padded = true;
    };
    struct Case {
        const char* what;
        std::vector<Chunk> chunks; // "fmt " and "data" among them
    };
    const Case cases[] = {
        {"broadcast wave: bext first", {{"bext", 602}, {"fmt ", 16}, {"data", 4000}}},
        {"odd bext with pad", {{"bext", 603}, {"fmt ", 16}, {"data", 4000}}},
        {"odd chunk with pad", {{"fmt ", 18}, {"note", 5}, {"data", 4001}}},
        // The data size's low byte is '@': "ata@" is printable too.
        {"odd chunk without pad", {{"fmt ", 18}, {"LIST", 26}, {"note", 5, false}, {"data", 4160}}},
        {"data past 8 KB", {{"fmt ", 16}, {"LIST", 9001}, {"JUNK", 4}, {"data", 4000}}},
        {"format past 8 KB", {{"bext", 10000}, {"fmt ", 40}, {"data", 4000}}},
        {"data before fmt", {{"data", 4000}, {"LIST", 30}, {"fmt ", 16}}},
        {"zero-size chunks", {{"JUNK", 0}, {"fmt ", 16}, {"fact", 0}, {"data", 4000}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes chunks;
        std::size_t dataAt = 0;
        std::size_t dataSize = 0;
        for (const auto& chunk : c.chunks) {
            const bool fmt = std::string(chunk.id) == "fmt ";
            const Bytes payload =
                fmt ? test::formatPayload(static_cast<std::uint32_t>(chunk.size), 1, 2, 44100, 16)
                    : Bytes(chunk.size, 'x');
            test::putChunk(chunks, chunk.id, static_cast<std::uint32_t>(chunk.size), payload);
            if (std::string(chunk.id) == "data") {
                dataAt = 12 + chunks.size() - chunk.size;
                dataSize = chunk.size;
            }
            if (chunk.size % 2 == 1 && chunk.padded) {
                chunks.push_back(0);
            }
        }
        const auto r = parse(test::riffFile(chunks));
        expectData(r, static_cast<std::int64_t>(dataAt), static_cast<std::int64_t>(dataSize));
        EXPECT_EQ(r.info.format(), (WaveFormat{2, 44100, 16}));
    }
}

TEST_F(WaveParserTest, HostileChunkSizesMakeTheFileRaw) {
    // Huge, negative when read signed (one of them would point straight back at the same
    // id), and pointing just past the end of the file.
    for (const std::uint32_t declared :
         {0x7FFFFFF0u, 0xFFFFFFFFu, 0xFFFFFFF8u, 0xFFFFFFF7u, 0x80000000u, 4064u}) {
        Bytes file = fmtThenJunk(declared, 40);
        test::putChunk(file, "data", 4000, Bytes(4000, 0));
        SCOPED_TRACE(declared);
        expectRaw(parse(file), file.size());
    }
    // A zero-filled tail: the walk steps 8 bytes at a time to the end and gives up.
    Bytes zeros = fmtThenJunk(0, 0);
    zeros.resize(9000, 0);
    expectRaw(parse(zeros), zeros.size());
    // A data chunk behind more chunks than the walk passes is not looked for.
    Bytes many = fmtThenJunk(0, 0);
    for (int i = 0; i < WAVE_MAX_CHUNKS; ++i) {
        test::putChunk(many, "JUNK", 0, {});
    }
    test::putChunk(many, "data", 4000, Bytes(4000, 0));
    expectRaw(parse(many), many.size());
}

TEST_F(WaveParserTest, DeclaredDataLengthIsCutToTheFile) {
    // Bits, channels, declared and present bytes, and the length held.
    for (const auto& [bits, channels, declared, present, held] :
         {std::tuple{std::uint16_t{8}, std::uint16_t{1}, 5000u, std::size_t{3000}, 3000},
          {8, 1, 0x7FFFFFFF, 3000, 3000},
          {8, 1, 0xFFFFFFFF, 3000, 3000},
          {16, 2, 2000, 3000, 2000},
          {24, 2, 0xFFFFFFFF, 3001, 2000},
          {24, 1, 30000, 2999, 1998},
          {32, 2, 0xFFFFFFFF, 4003, 2000}}) {
        SCOPED_TRACE(testing::Message() << bits << " bits, declared " << declared);
        Bytes chunks;
        test::putChunk(chunks, "fmt ", 16, test::formatPayload(16, 1, channels, 8000, bits));
        test::putChunk(chunks, "data", declared, test::noise(present, 8));
        expectData(parse(test::riffFile(chunks)), 44, held);
    }
    // A file that ends right after the data chunk's header holds no samples.
    Bytes empty = fmtThenJunk(3000 - 44, 3000 - 44);
    test::putChunk(empty, "data", 4000, {});
    expectData(parse(empty), 3008, 0);
}

TEST_F(WaveParserTest, ByteParserReadsOnlyTheBytesGiven) {
    // A format tag beyond the bytes counts as zero; chunk headers beyond them end the walk.
    const Bytes noTag = {'f', 'm', 't', ' ', 16, 0, 0, 0};
    expectRefused(parseWaveHeaderBytes(noTag, 100000), WaveParseStatus::AdvancedFormat,
                  kAdvancedWaveFormat);
    const Bytes pcmTag = {'f', 'm', 't', ' ', 0, 0, 0, 0, 1, 0};
    expectRaw(parseWaveHeaderBytes(pcmTag, 100000), 100000);

    // The whole file in memory: data far behind a LIST chunk is found; cut off before the
    // data chunk's header it is not.
    Bytes chunks;
    test::putChunk(chunks, "fmt ", 16, test::formatPayload(16, 1, 1, 8000, 16));
    test::putChunk(chunks, "LIST", 20000, Bytes(20000, 0));
    test::putChunk(chunks, "data", 3000, Bytes(3000, 0));
    const Bytes file = test::riffFile(chunks);
    expectData(parseWaveHeaderBytes(file, static_cast<std::int64_t>(file.size())), 44 + 20008,
               3000);
    const auto cut = std::span(file).first(44 + 20004);
    expectRaw(parseWaveHeaderBytes(cut, static_cast<std::int64_t>(file.size())), file.size());

    // Files beyond 2 GiB are described whole, never as their first 2^31 - 1 bytes.
    const auto big = parseWaveHeaderBytes(test::noise(100, 9), std::int64_t{5} << 31);
    expectRaw(big, std::int64_t{5} << 31);
}

TEST(WaveFolderTest, FolderIsThePathUpToItsLastSlash) {
    EXPECT_EQ(folderOfPath("/home/a/b.wav"), "/home/a/");
    EXPECT_EQ(folderOfPath("/b.wav"), "/");
    EXPECT_EQ(folderOfPath("b.wav"), "");
    EXPECT_EQ(folderOfPath("rel/dir/"), "rel/dir/");
}

} // namespace
} // namespace korv
