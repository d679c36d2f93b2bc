#include "audio/wave_header.h"

#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

namespace korv {
namespace {

using test::Bytes;

Bytes built(std::uint16_t channels, std::int32_t rate, std::uint16_t bits, std::uint32_t data) {
    Bytes block(WAVE_HEADER_SIZE + 3, 0xEE);
    buildWaveHeader(WaveHeaderBytes(block.data(), WAVE_HEADER_SIZE), channels, rate, bits, data);
    return block;
}

TEST(WaveHeaderTest, StereoCdHeaderHasTheWrittenLayoutByteForByte) {
    // 44100 Hz, 2 channels, 16 bits, 1000 data bytes, worked out by hand.
    const std::array<std::uint8_t, 46> expected = {
        'R',  'I',  'F',  'F',  0x0E, 0x04, 0x00, 0x00, // 1000 + 38
        'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',  //
        0x12, 0x00, 0x00, 0x00,                         // format chunk of 18 bytes
        0x01, 0x00,                                     // PCM
        0x02, 0x00,                                     // channels
        0x44, 0xAC, 0x00, 0x00,                         // 44100
        0x10, 0xB1, 0x02, 0x00,                         // 176400 bytes per second
        0x04, 0x00,                                     // block align
        0x10, 0x00,                                     // bits
        0x00, 0x00,                                     // no extra format bytes
        'd',  'a',  't',  'a',  0xE8, 0x03, 0x00, 0x00, // 1000
    };
    const Bytes block = built(2, 44100, 16, 1000);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), block.begin()));
    // Nothing beyond the 46 bytes is touched.
    EXPECT_EQ(block[46], 0xEE);
    EXPECT_EQ(block[48], 0xEE);
}

class WaveHeaderFormats
    : public ::testing::TestWithParam<std::tuple<std::int32_t, std::uint16_t, std::uint16_t>> {};

TEST_P(WaveHeaderFormats, FieldsMatchAnIndependentLayoutAndReadBack) {
    const auto [rate, channels, bits] = GetParam();
    const std::uint32_t dataBytes = 123457;
    Bytes expected;
    test::putId(expected, "RIFF");
    test::putLe32(expected, dataBytes + 38);
    test::putId(expected, "WAVE");
    test::putId(expected, "fmt ");
    test::putLe32(expected, 18);
    test::putLe16(expected, 1);
    test::putLe16(expected, channels);
    test::putLe32(expected, static_cast<std::uint32_t>(rate));
    test::putLe32(expected, static_cast<std::uint32_t>(rate) * (bits / 8u) * channels);
    test::putLe16(expected, (bits / 8u) * channels);
    test::putLe16(expected, bits);
    test::putLe16(expected, 0);
    test::putId(expected, "data");
    test::putLe32(expected, dataBytes);
    ASSERT_EQ(expected.size(), WAVE_HEADER_SIZE);

    const Bytes block = built(channels, rate, bits, dataBytes);
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 46), expected);

    const ConstWaveHeaderBytes header(block.data(), WAVE_HEADER_SIZE);
    EXPECT_EQ(waveHeaderFormat(header), (WaveFormat{channels, rate, bits}));
    EXPECT_EQ(waveHeaderBlockAlign(header), channels * bits / 8);
    EXPECT_EQ(waveHeaderDataBytes(header), dataBytes);
}

INSTANTIATE_TEST_SUITE_P(RateChannelsBits, WaveHeaderFormats,
                         ::testing::Combine(::testing::Values(4000, 8000, 11025, 22050, 44100,
                                                              48000),
                                            ::testing::Values<std::uint16_t>(1, 2),
                                            ::testing::Values<std::uint16_t>(8, 16)));

TEST(WaveHeaderTest, PartialRewritesTouchOnlyTheirOwnFields) {
    const Bytes original = built(1, 11025, 8, 5000);

    Bytes sized = original;
    setWaveHeaderDataBytes(WaveHeaderBytes(sized.data(), WAVE_HEADER_SIZE), 777);
    for (std::size_t i = 0; i < WAVE_HEADER_SIZE; ++i) {
        const bool sizeField = (i >= 4 && i < 8) || i >= 42;
        if (!sizeField) {
            EXPECT_EQ(sized[i], original[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(test::le32At(sized, 4), 777u + 38u);
    EXPECT_EQ(test::le32At(sized, 42), 777u);

    Bytes reformatted = original;
    const WaveFormat stereo{2, 22050, 16};
    setWaveHeaderFormat(WaveHeaderBytes(reformatted.data(), WAVE_HEADER_SIZE), stereo);
    EXPECT_EQ(reformatted, built(2, 22050, 16, 5000));
}

} // namespace
} // namespace korv
